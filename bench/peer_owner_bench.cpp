// What the owner lookup costs the listen thread per accepted connection:
// the lookup alone on a connection of our own (the kernel's answer for one
// socket), and a whole accept (connect, accept, close) with and without
// it. Prints microseconds; a benchmark, not a test.
//
//   peer_owner_bench [LOOKUPS [ACCEPTS]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/peer_owner.h"
#include "platform/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

double Microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// Mean microseconds of one accept cycle on a loopback listener.
double AcceptCycle(platform::SocketDescriptor listener, uint16_t port, int count,
                   platform::PeerOwnerLookup* lookup) {
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    auto client = platform::CreateTcpSocket();
    platform::ConnectLoopback(client.value, port);
    auto accepted = platform::Accept(listener, nullptr);
    if (lookup != nullptr &&
        lookup->Lookup(accepted.value).kind != platform::PeerOwner::Kind::kThisAccount) {
      std::fprintf(stderr, "the lookup did not find our own client\n");
      std::exit(1);
    }
    platform::SetLinger(accepted.value, true, 0);  // no TIME_WAIT pile-up
    platform::CloseSocket(accepted.value);
    platform::CloseSocket(client.value);
  }
  return Microseconds(Clock::now() - start) / count;
}

}  // namespace

int main(int argc, char** argv) {
  const int lookups = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int accepts = argc > 2 ? std::atoi(argv[2]) : 20000;
  auto listener = platform::CreateTcpSocket();
  platform::BindLoopback(listener.value, 0);
  platform::Listen(listener.value);
  const uint16_t port = platform::LocalPort(listener.value).value;
  platform::PeerOwnerLookup lookup;

  auto client = platform::CreateTcpSocket();
  platform::ConnectLoopback(client.value, port);
  auto accepted = platform::Accept(listener.value, nullptr);
  std::vector<double> each;
  each.reserve(static_cast<size_t>(lookups));
  for (int i = 0; i < lookups; ++i) {
    const auto start = Clock::now();
    lookup.Lookup(accepted.value);
    each.push_back(Microseconds(Clock::now() - start));
  }
  std::sort(each.begin(), each.end());
  std::printf("lookup: median %.2f us, p99 %.2f us (%d lookups)\n", each[each.size() / 2],
              each[each.size() * 99 / 100], lookups);

  AcceptCycle(listener.value, port, accepts / 10, nullptr);  // warm up
  const double plain = AcceptCycle(listener.value, port, accepts, nullptr);
  const double checked = AcceptCycle(listener.value, port, accepts, &lookup);
  std::printf("accept cycle: %.2f us without the lookup, %.2f us with it (+%.2f us)\n", plain,
              checked, checked - plain);
  return 0;
}
