#include "server/server_state.h"

#include "common/bounded_copy.h"

ServerState& TheServerState() {
  static ServerState state;
  return state;
}

bool SetWebRoot(std::string_view root) {
  if (root.empty()) root = "/WebPages";
  ServerState& state = TheServerState();
  return CopyBounded(state.szWebRoot, root) == root.size();
}
