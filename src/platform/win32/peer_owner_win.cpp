#include <winsock2.h>
#include <ws2tcpip.h>
// After the sockets headers, which it needs.
#include <iphlpapi.h>

#include "platform/peer_owner.h"

namespace platform {

const char* const kPeerAccountLabel = "process";

namespace {

// The table can grow between asking its size and reading it.
constexpr int kTableTries = 4;

// The user SID of a process's token, or empty.
std::vector<unsigned char> TokenUser(HANDLE process) {
  std::vector<unsigned char> user;
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return user;
  DWORD needed = 0;
  ::GetTokenInformation(token, ::TokenUser, nullptr, 0, &needed);
  if (needed != 0) {
    user.resize(needed);
    if (!::GetTokenInformation(token, ::TokenUser, user.data(), needed, &needed)) user.clear();
  }
  ::CloseHandle(token);
  return user;
}

PSID SidOf(std::vector<unsigned char>& token_user) {
  return reinterpret_cast<TOKEN_USER*>(token_user.data())->User.Sid;
}

bool Ends(SocketDescriptor socket, sockaddr_in* peer, sockaddr_in* local) {
  int length = sizeof *peer;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(peer), &length) != 0) return false;
  length = sizeof *local;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(local), &length) != 0) return false;
  return peer->sin_family == AF_INET && local->sin_family == AF_INET;
}

Endpoint EndpointOf(DWORD address, DWORD port) {
  return {ntohl(address), ntohs(static_cast<u_short>(port))};
}

}  // namespace

PeerOwnerLookup::PeerOwnerLookup() { own_user_ = TokenUser(::GetCurrentProcess()); }

PeerOwnerLookup::~PeerOwnerLookup() = default;

PeerOwner PeerOwnerLookup::Lookup(SocketDescriptor accepted) {
  sockaddr_in peer{};
  sockaddr_in local{};
  if (!Ends(accepted, &peer, &local)) {
    return UnknownOwner(0, "the connection's addresses cannot be read", ::WSAGetLastError());
  }
  const Endpoint peer_end = EndpointOf(peer.sin_addr.s_addr, peer.sin_port);
  const Endpoint local_end = EndpointOf(local.sin_addr.s_addr, local.sin_port);
  if (!IsFromThisMachine(peer_end, local_end)) return PeerOwner{};
  if (own_user_.empty()) {
    return UnknownOwner(peer_end.port, "this process's own user cannot be read",
                        static_cast<int>(::GetLastError()));
  }

  DWORD status = ERROR_INSUFFICIENT_BUFFER;
  for (int tries = 0; tries < kTableTries && status == ERROR_INSUFFICIENT_BUFFER; ++tries) {
    DWORD size = static_cast<DWORD>(table_.size());
    status = ::GetExtendedTcpTable(table_.empty() ? nullptr : table_.data(), &size, FALSE, AF_INET,
                                   TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    if (status == ERROR_INSUFFICIENT_BUFFER) table_.resize(size + size / 4);
  }
  if (status != NO_ERROR) {
    return UnknownOwner(peer_end.port, "the system's TCP table cannot be read",
                        static_cast<int>(status));
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table_.data());
  rows_.clear();
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    rows_.push_back({EndpointOf(row.dwLocalAddr, row.dwLocalPort),
                     EndpointOf(row.dwRemoteAddr, row.dwRemotePort), row.dwOwningPid});
  }
  auto same_user = [this](uint32_t pid) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return SameUser::kCannotTell;
    std::vector<unsigned char> user = TokenUser(process);
    ::CloseHandle(process);
    if (user.empty()) return SameUser::kCannotTell;
    return ::EqualSid(SidOf(user), SidOf(own_user_)) ? SameUser::kYes : SameUser::kNo;
  };
  return JudgeTcpTable(rows_, peer_end, local_end, ::GetCurrentProcessId(), same_user);
}

}  // namespace platform
