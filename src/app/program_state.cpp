#include "app/program_state.h"

namespace velmora::app {

ProgramState& State() {
  static ProgramState state;
  return state;
}

void ResetState() { State() = ProgramState{}; }

}  // namespace velmora::app
