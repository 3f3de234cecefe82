#include "app/entry.h"

#include <cstdlib>

#include "state/program_state.h"
#include "app/start_routine.h"

namespace velmora::app {
int Entry(const std::vector<std::string>& arguments) {
  // The lists start empty; the clean-up frees them when the program ends normally. The narrow
  // code page is fixed at 936 (text::NarrowCodePage) for every conversion.
  state::ResetState();
  std::atexit([] { ExitCleanup(); });
  // The window is modal: when StartRoutine returns it has been closed and no window of the program
  // is left, so there is no message loop to run after it.
  return StartRoutine(arguments);
}

}  // namespace velmora::app
