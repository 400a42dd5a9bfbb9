#include "server/account_check.h"

#include <string_view>

#include "platform/file.h"
#include "platform/socket.h"
#include "server/peer_lines.h"

namespace {

// "127.0.0.1:40312"
std::string PeerText(const std::string& peer, uint16_t port) {
  return peer + ":" + std::to_string(port);
}

void Refuse(platform::SocketDescriptor socket, const std::string& peer,
            const platform::PeerOwner& owner) {
  platform::SetLinger(socket, true, 0);
  platform::CloseSocket(socket);
  if (owner.kind == platform::PeerOwner::Kind::kOtherAccount) {
    WritePeerLine(PeerLine::kOtherAccount,
                  "Connections closed at accept, another account's (AllowOtherUsers=1 serves "
                  "them); first from: " +
                      PeerText(peer, owner.peer_port) + ", " + platform::kPeerAccountLabel + " " +
                      std::to_string(owner.account),
                  1);
    return;
  }
  std::string line =
      "Connections closed at accept, whose they are cannot be learned; first from: " +
      PeerText(peer, owner.peer_port) + ": " + std::string(owner.reason);
  if (owner.error != 0) line.append(": ").append(platform::ErrorText(owner.error));
  WritePeerLine(PeerLine::kOwnerUnknown, line, 1);
}

}  // namespace

AccountCheck::AccountCheck(bool allow_other_users) {
  if (!allow_other_users) lookup_.emplace();
}

bool AccountCheck::Admits(platform::SocketDescriptor socket, const std::string& peer) {
  if (!lookup_) return true;
  const platform::PeerOwner owner = lookup_->Lookup(socket);
  switch (owner.kind) {
    case platform::PeerOwner::Kind::kRemote:
    case platform::PeerOwner::Kind::kThisAccount:
      return true;
    case platform::PeerOwner::Kind::kOtherAccount:
    case platform::PeerOwner::Kind::kUnknown:
      break;
  }
  Refuse(socket, peer, owner);
  return false;
}
