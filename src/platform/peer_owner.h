// Who owns the socket at the other end of an accepted connection, when that
// end is on this machine. Every process of every account can connect to
// 127.0.0.1; only the account that runs the agent is "this machine's
// browser". Linux asks the kernel's socket diagnostics for the one socket
// (a netlink request for its exact addresses and ports, no dump); Windows
// finds the connection's owning process in the TCP table and compares its
// token's user with ours.
//
// The judging of what the system answered is portable and pure, so that it
// is tested on every platform; only the asking differs.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "platform/native_types.h"

namespace platform {

struct PeerOwner {
  enum class Kind {
    kRemote,  // another machine: no account of this one to ask about
    kThisAccount,
    kOtherAccount,
    kUnknown,  // from this machine, but the system does not say whose
  };
  Kind kind = Kind::kRemote;
  uint16_t peer_port = 0;
  long account = -1;        // kOtherAccount: the uid (Windows: the process id)
  std::string_view reason;  // kUnknown: why, in words (static text)
  int error = 0;            // kUnknown: the system's error number, or 0
};

// A peer from this machine whose owner the system did not tell: why, in
// static words, and the system's error number where there is one.
PeerOwner UnknownOwner(uint16_t peer_port, std::string_view reason, int error = 0);

// What PeerOwner::account counts here: "uid" or "process".
extern const char* const kPeerAccountLabel;

// One end of a TCP connection, in host byte order.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

// A loopback address, or a connection from one of this machine's own
// addresses to itself (the peer's address is the one it reached).
bool IsFromThisMachine(Endpoint peer, Endpoint local);

// What socket diagnostics said of the peer's socket. A socket that no
// process holds any longer (closed before it was accepted, or in TIME_WAIT)
// has inode 0, and the kernel then reports uid 0 for it, which proves
// nothing.
struct DiagAnswer {
  bool found = false;
  uint32_t uid = 0;
  uint32_t inode = 0;
};
PeerOwner JudgeDiagAnswer(const DiagAnswer& answer, uint32_t own_uid);

// A row of the system's TCP table with its owning process.
struct TcpOwnerRow {
  Endpoint local;
  Endpoint remote;
  uint32_t pid = 0;
};
enum class SameUser { kYes, kNo, kCannotTell };
// The peer's row is the one whose local end is the peer and whose remote
// end is ours; same_user examines a process other than our own.
PeerOwner JudgeTcpTable(const std::vector<TcpOwnerRow>& rows, Endpoint peer, Endpoint local,
                        uint32_t own_pid, const std::function<SameUser(uint32_t)>& same_user);

// Kept by the one thread that accepts: what each lookup reuses (Linux: the
// netlink socket; Windows: the table's buffer and our own user).
class PeerOwnerLookup {
 public:
  PeerOwnerLookup();
  ~PeerOwnerLookup();
  PeerOwnerLookup(const PeerOwnerLookup&) = delete;
  PeerOwnerLookup& operator=(const PeerOwnerLookup&) = delete;

  PeerOwner Lookup(SocketDescriptor accepted);

 private:
  intptr_t channel_ = -1;  // Linux: the netlink socket
  int channel_error_ = 0;  // why it could not be opened
  uint32_t sequence_ = 0;
  std::vector<unsigned char> own_user_;  // Windows: our token's user SID
  std::vector<unsigned char> table_;     // Windows: the TCP table
  std::vector<TcpOwnerRow> rows_;
};

}  // namespace platform
