// Connections from this machine are served to the account that runs the
// agent: another account's socket, or one whose owner the system does not
// tell, is closed at accept, before a thread or a connection count is spent
// on it. AllowOtherUsers=1 in vane.ini serves every account, as before, and
// then nobody is asked. Connections from other machines pass untouched:
// AllowHosts decides about them. Listen thread only.
#pragma once

#include <optional>
#include <string>

#include "platform/native_types.h"
#include "platform/peer_owner.h"

class AccountCheck {
 public:
  explicit AccountCheck(bool allow_other_users);

  // True when the connection may go on; otherwise it has been closed
  // (reset) and logged once per burst.
  bool Admits(platform::SocketDescriptor socket, const std::string& peer);

 private:
  std::optional<platform::PeerOwnerLookup> lookup_;
};
