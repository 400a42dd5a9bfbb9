#include "host/host_state.h"

HostState& TheHostState() {
  // Never destroyed: detached module-call threads read it until the process is gone.
  static HostState* state = new HostState();
  return *state;
}
