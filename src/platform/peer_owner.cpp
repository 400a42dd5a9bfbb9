#include "platform/peer_owner.h"

namespace platform {

namespace {

constexpr uint32_t kLoopbackNet = 0x7F000000;  // 127.0.0.0/8
constexpr uint32_t kLoopbackMask = 0xFF000000;

PeerOwner Known(Endpoint peer, bool ours, long account) {
  PeerOwner owner;
  owner.kind = ours ? PeerOwner::Kind::kThisAccount : PeerOwner::Kind::kOtherAccount;
  owner.peer_port = peer.port;
  owner.account = ours ? -1 : account;
  return owner;
}

}  // namespace

PeerOwner UnknownOwner(uint16_t peer_port, std::string_view reason, int error) {
  PeerOwner owner;
  owner.kind = PeerOwner::Kind::kUnknown;
  owner.peer_port = peer_port;
  owner.reason = reason;
  owner.error = error;
  return owner;
}

bool IsFromThisMachine(Endpoint peer, Endpoint local) {
  return (peer.address & kLoopbackMask) == kLoopbackNet || peer.address == local.address;
}

PeerOwner JudgeDiagAnswer(const DiagAnswer& answer, uint32_t own_uid) {
  // The caller fills the peer's port in: the answer does not carry it.
  if (!answer.found) return UnknownOwner(0, "the kernel knows no such socket (closed already)");
  if (answer.inode == 0) return UnknownOwner(0, "no process holds the socket any more");
  return Known({}, answer.uid == own_uid, static_cast<long>(answer.uid));
}

PeerOwner JudgeTcpTable(const std::vector<TcpOwnerRow>& rows, Endpoint peer, Endpoint local,
                        uint32_t own_pid, const std::function<SameUser(uint32_t)>& same_user) {
  for (const TcpOwnerRow& row : rows) {
    if (row.local.address != peer.address || row.local.port != peer.port ||
        row.remote.address != local.address || row.remote.port != local.port) {
      continue;
    }
    // The system's idle process stands for sockets that no process holds.
    if (row.pid == 0) return UnknownOwner(peer.port, "no process holds the socket any more");
    if (row.pid == own_pid) return Known(peer, true, row.pid);
    switch (same_user(row.pid)) {
      case SameUser::kYes:
        return Known(peer, true, row.pid);
      case SameUser::kNo:
        return Known(peer, false, row.pid);
      case SameUser::kCannotTell:
        return UnknownOwner(peer.port,
                            "its process cannot be examined (another account's, or ended)");
    }
  }
  return UnknownOwner(peer.port, "the system's TCP table has no such connection (closed already)");
}

}  // namespace platform
