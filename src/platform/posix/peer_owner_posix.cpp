#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/peer_owner.h"

namespace platform {

const char* const kPeerAccountLabel = "uid";

namespace {

// The kernel answers at once; this only bounds a kernel that does not.
constexpr int kAnswerWaitSeconds = 1;

struct DiagRequest {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

// One answer holds a header, one inet_diag_msg and a few attributes (or an
// error); room for stale ones besides.
constexpr size_t kAnswerBytes = 4096;

bool Ends(int fd, sockaddr_in* peer, sockaddr_in* local) {
  socklen_t length = sizeof *peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(peer), &length) != 0) return false;
  length = sizeof *local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(local), &length) != 0) return false;
  return peer->sin_family == AF_INET && local->sin_family == AF_INET;
}

Endpoint EndpointOf(const sockaddr_in& address) {
  return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

}  // namespace

PeerOwnerLookup::PeerOwnerLookup() {
  int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) {
    channel_error_ = errno;
    return;
  }
  timeval wait{kAnswerWaitSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  channel_ = fd;
}

PeerOwnerLookup::~PeerOwnerLookup() {
  if (channel_ >= 0) ::close(static_cast<int>(channel_));
}

PeerOwner PeerOwnerLookup::Lookup(SocketDescriptor accepted) {
  sockaddr_in peer{};
  sockaddr_in local{};
  if (!Ends(accepted, &peer, &local)) {
    return UnknownOwner(0, "the connection's addresses cannot be read", errno);
  }
  const Endpoint peer_end = EndpointOf(peer);
  if (!IsFromThisMachine(peer_end, EndpointOf(local))) return PeerOwner{};
  if (channel_ < 0) {
    return UnknownOwner(peer_end.port, "socket diagnostics (netlink) cannot be opened",
                        channel_error_);
  }
  const int fd = static_cast<int>(channel_);

  // The peer's socket: its source is the peer's end, its destination ours.
  DiagRequest request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = ++sequence_;
  request.body.sdiag_family = AF_INET;
  request.body.sdiag_protocol = IPPROTO_TCP;
  request.body.idiag_states = ~0U;
  request.body.id.idiag_sport = peer.sin_port;
  request.body.id.idiag_dport = local.sin_port;
  request.body.id.idiag_src[0] = peer.sin_addr.s_addr;
  request.body.id.idiag_dst[0] = local.sin_addr.s_addr;
  request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = ::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                    sizeof kernel);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(sizeof request)) {
    return UnknownOwner(peer_end.port, "socket diagnostics refused the question", errno);
  }

  alignas(nlmsghdr) unsigned char answer[kAnswerBytes];
  for (;;) {
    ssize_t received = ::recv(fd, answer, sizeof answer, 0);
    if (received < 0) {
      if (errno == EINTR) continue;
      return UnknownOwner(peer_end.port, "socket diagnostics did not answer", errno);
    }
    size_t left = static_cast<size_t>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(answer); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      // An answer to an earlier question that timed out: not this one's.
      if (header->nlmsg_seq != sequence_) continue;
      if (header->nlmsg_type == NLMSG_ERROR) {
        const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
        if (failure->error == -ENOENT) {
          PeerOwner owner = JudgeDiagAnswer(DiagAnswer{}, 0);
          owner.peer_port = peer_end.port;
          return owner;
        }
        return UnknownOwner(peer_end.port, "socket diagnostics answered with an error",
                            -failure->error);
      }
      if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
          header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        continue;
      }
      const auto* socket = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
      PeerOwner owner =
          JudgeDiagAnswer(DiagAnswer{true, socket->idiag_uid, socket->idiag_inode}, ::geteuid());
      owner.peer_port = peer_end.port;
      return owner;
    }
  }
}

}  // namespace platform
