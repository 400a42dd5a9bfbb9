#include "server/server_state.h"

#include "base/bounded_copy.h"

ServerState& TheServerState() {
  // Never destroyed: detached connection threads read it until the process is gone.
  static ServerState* state = new ServerState();
  return *state;
}

bool SetWebRoot(std::string_view root) {
  if (root.empty()) root = "/WebPages";
  ServerState& state = TheServerState();
  return CopyBounded(state.szWebRoot, root) == root.size();
}
