#include "update/program_end.h"

#include <cstdlib>

#include "state/process_control.h"

namespace velmora::update {

void EndProgram() {
  state::TerminateProcessById(0);
  std::exit(0);
}

}  // namespace velmora::update
