#include "base/process_state.h"

ProcessState& processState() {
  static ProcessState state;
  return state;
}
