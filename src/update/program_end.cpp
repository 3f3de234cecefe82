#include "update/program_end.h"

#include <cstdlib>

#include "app/process_control.h"

namespace velmora::update {

void EndProgram() {
  app::TerminateProcessById(0);
  std::exit(0);
}

}  // namespace velmora::update
