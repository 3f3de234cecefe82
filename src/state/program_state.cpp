#include "state/program_state.h"

namespace velmora::state {

ProgramState& State() {
  static ProgramState state;
  return state;
}

void ResetState() { State() = ProgramState{}; }

}  // namespace velmora::state
