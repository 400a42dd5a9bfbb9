// peerserver under load and bad input.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kSettleTimeout = std::chrono::seconds(90);

std::string IndexAnswer(const PeerServer& server) {
  return FileAnswer("text/html", ReadText(server.root() / "index.html"));
}

// Waits until the process is back to (or below) the counts it had idle.
void ExpectBackToBaseline(const PeerServer& server, long threads, long descriptors) {
  bool settled = WaitUntil(
      [&] { return server.ThreadCount() <= threads && server.DescriptorCount() <= descriptors; },
      kSettleTimeout);
  EXPECT_TRUE(settled) << "threads " << server.ThreadCount() << " (idle " << threads
                       << "), descriptors " << server.DescriptorCount() << " (idle " << descriptors
                       << ")";
}

// Asks for target on a connection with a small receive buffer and waits for
// the first bytes, which it never reads: the descriptor, or -1.
int AskWithoutReading(uint16_t port, const std::string& target) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const std::string request = "GET " + target + " HTTP/1.0\r\n\r\n";
  pollfd readable{fd, POLLIN, 0};
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size()) &&
      ::poll(&readable, 1, 20000) == 1) {
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

// Far more than any socket buffers hold: the server is still sending.
void WriteBigFile(const fs::path& path, int mebibytes = 32) {
  std::ofstream big(path, std::ios::binary);
  const std::string block(1 << 20, 'b');
  for (int i = 0; i < mebibytes; ++i) big << block;
}

}  // namespace

// With room for 256 descriptors: a host that may neither read files nor
// call modules is closed at accept, one in AllowHosts is held to
// MaxConnectionsPerHost; under either flood this machine's browser is
// served at once, and each flood is logged once.
TEST(PeerServerLoad, FloodsFromOtherHostsLeaveThisMachinesBrowserServed) {
  constexpr int kFlood = 600;
  PeerServer server({.settings = {{"AllowHosts", "127.0.0.1;127.0.0.3"},
                                  {"MaxConnectionsPerHost", "16"}},
                     .launcher = {"/usr/bin/prlimit", "--nofile=256:256"}});
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string index = IndexAnswer(server);
  const long threads = server.ThreadCount();
  for (const char* host : {"127.0.0.2", "127.0.0.3"}) {
    SCOPED_TRACE(host);
    // Another loopback address stands in for another host.
    const std::vector<std::string> argv =
        HoldConnections(server.port(), {host + ("=" + std::to_string(kFlood))});
    const fs::path said = server.dir() / (std::string(host) + ".out");
    auto flood = ChildProcess::Start(argv[0], {argv.begin() + 1, argv.end()}, said);
    ASSERT_TRUE(Eventually([&] { return ReadText(said); }, "connected " + std::to_string(kFlood)));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Get(server.port(), "/index.html").answer, index);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_LE(server.ThreadCount(), threads + 16 + 1);
  }
  const std::string log = server.Log();
  for (const std::string line : {"host neither reads files nor calls modules: 127.0.0.2\n",
                                 "MaxConnectionsPerHost reached by: 127.0.0.3\n"}) {
    EXPECT_EQ(Occurrences(log, line), 1u) << line;
  }
}

TEST(PeerServerLoad, AFullDescriptorTableOnlyDelaysService) {
  PeerServer server;
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string index = IndexAnswer(server);
  // Counted before the first connection: a client thread may outlive its
  // answer by a moment.
  const long threads = server.ThreadCount();
  const long descriptors = server.DescriptorCount();
  ASSERT_EQ(Get(server.port(), "/index.html").answer, index);

  // Room for a few connections only; accept then fails with EMFILE.
  const long limit = descriptors + 8;
  const std::string limits = "--nofile=" + std::to_string(limit) + ":" + std::to_string(limit);
  ASSERT_EQ(RunCommand({"/usr/bin/prlimit", "--pid", std::to_string(server.pid()), limits},
                       std::chrono::seconds(30)),
            0);
  // Twice as many as there is room for: the rest wait in the backlog.
  std::vector<OpenConnection> idle;
  for (int i = 0; i < 16; ++i) idle.emplace_back(server.port());
  // A thread waiting in accept holds a descriptor number that /proc does not
  // list, so the table may be full one short of the limit.
  EXPECT_TRUE(WaitUntil([&] { return server.DescriptorCount() >= limit - 1; }, kSettleTimeout))
      << server.DescriptorCount();
  // This one waits in the backlog behind idle ones while accept fails (the
  // failures cannot reach the log: it needs descriptors too).
  OpenConnection waiting(server.port());
  ASSERT_TRUE(waiting.connected());
  ASSERT_TRUE(waiting.Send("GET /index.html HTTP/1.0\r\n\r\n"));
  HttpExchange early = waiting.Finish(std::chrono::milliseconds(300));
  EXPECT_FALSE(early.closed);
  EXPECT_EQ(early.answer, "");

  idle.clear();  // descriptors come free; accepting must go on
  EXPECT_EQ(waiting.Finish().answer, index);
  EXPECT_EQ(Get(server.port(), "/index.html").answer, index);
  ExpectBackToBaseline(server, threads, descriptors);
}

// A client that stops reading is dropped once it has acknowledged no byte
// for 30 s, however large the file and however the system's send buffer
// grows meanwhile; its thread and the file are free again. Not a load test:
// it may run beside others.
TEST(PeerServerSlowClient, AClientThatStopsReadingIsGivenUp) {
  constexpr auto kDropBound = std::chrono::seconds(35 + 5);
  PeerServer server;
  ASSERT_TRUE(server.ok()) << server.failure();
  WriteBigFile(server.root() / "big.bin", 64);
  const long threads = server.ThreadCount();
  const long descriptors = server.DescriptorCount();
  int stalled = AskWithoutReading(server.port(), "/big.bin");
  ASSERT_GE(stalled, 0);
  const auto start = std::chrono::steady_clock::now();
  // The server resets the connection: seen without reading what is queued.
  pollfd hangup{stalled, 0, 0};
  EXPECT_TRUE(WaitUntil(
      [&] { return ::poll(&hangup, 1, 0) == 1 && (hangup.revents & (POLLERR | POLLHUP)) != 0; },
      kDropBound + std::chrono::seconds(20)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, kDropBound);
  EXPECT_NE(server.Log().find("SendFile SOCKET_ERROR: 11"), std::string::npos)
      << server.Log().substr(server.Log().size() > 2000 ? server.Log().size() - 2000 : 0);
  ::close(stalled);
  ExpectBackToBaseline(server, threads, descriptors);
}

// Afterwards no thread or descriptor is left over.
TEST(PeerServerLoad, IdleConnectionsHostileStreamsAndHangUpsLeaveItServing) {
  constexpr int kIdle = 1000;
  ASSERT_GT(platform::RaiseDescriptorLimit(), kIdle + 200);
  PeerServer server({.modules = {{TEST_MODULE_DIR "/QvExampleModule.dll", "QvExampleModule.dll"},
                                 {TEST_MODULE_DIR "/ThrowingModule.dll", "ThrowingModule.dll"},
                                 {TEST_MODULE_DIR "/QvExampleModule.dll", "QvTransferModule.dll"}},
                     .with_broker = true});
  ASSERT_TRUE(server.ok()) << server.failure();
  WriteBigFile(server.root() / "big.bin");
  const std::string index = IndexAnswer(server);
  // Counted before the first connection: a client thread may outlive its
  // answer by a moment.
  const long threads = server.ThreadCount();
  const long descriptors = server.DescriptorCount();
  ASSERT_EQ(Get(server.port(), "/index.html").answer, index);

  std::vector<OpenConnection> idle;
  idle.reserve(kIdle);
  for (int i = 0; i < kIdle; ++i) {
    idle.emplace_back(server.port());
    ASSERT_TRUE(idle.back().connected()) << i;
  }
  // Each one is accepted and holds its thread in the receive.
  EXPECT_TRUE(WaitUntil([&] { return server.ThreadCount() >= threads + kIdle; }, kSettleTimeout))
      << server.ThreadCount();

  std::atomic<int> failed{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&] {
      for (int r = 0; r < kIdle / 4; ++r) {
        if (Get(server.port(), "/index.html").answer != index) ++failed;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(failed.load(), 0);

  // The idle ones are still waiting, unanswered.
  EXPECT_GE(server.ThreadCount(), threads + kIdle);
  idle.clear();

  const std::vector<std::string> requests = {
      "GET /index.html HTTP/1.0\r\n\r\n",
      "GET /QvExampleModule.dll?a=1&b=%41%zz&creds=u:p HTTP/1.1\r\nHost: "
      "x\r\n\r\n",
      "GET /ThrowingModule.dll?x HTTP/1.0\r\n\r\n",
      "GET /QvTransferModule.dll?type=RequestAsset HTTP/1.0\r\n\r\n",
      "GET http://127.0.0.1/vclient/engine.html?q=1 HTTP/1.0\r\n\r\n",
      "GET /QvShareModule.dll?filelist=%41" + std::string(3000, 'f') + " HTTP/1.0\r\n\r\n",
      "get /vclient/../../etc/passwd HTTP/1.0\r\n\r\n",
  };
  constexpr int kThreads = 4;
  constexpr int kPerThread = 100;
  std::atomic<int> unclosed{0};
  std::atomic<int> answered{0};
  clients.clear();
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&, t] {
      std::mt19937 random(20240607u + static_cast<unsigned>(t));
      auto below = [&](size_t n) { return static_cast<size_t>(random() % n); };
      for (int i = 0; i < kPerThread; ++i) {
        std::string bytes;
        const size_t kind = below(5);
        if (kind == 0) {  // random bytes
          for (size_t n = below(3000); n > 0; --n) bytes.push_back(static_cast<char>(random()));
        } else if (kind == 1) {  // a line far beyond the receive buffer
          bytes = "GET /" + std::string(8192 + below(60000), 'A') + " HTTP/1.0\r\n\r\n";
        } else {  // a whole request, one cut anywhere, or one with bytes flipped
          bytes = requests[below(requests.size())];
          if (kind == 2) bytes.resize(below(bytes.size() + 1));
          for (size_t flips = kind == 3 ? 1 + below(8) : 0; flips > 0; --flips) {
            bytes[below(bytes.size())] = static_cast<char>(random());
          }
        }
        OpenConnection connection(server.port());  // unconnected counts as unclosed
        connection.Send(bytes);
        connection.ShutdownWrite();
        HttpExchange exchange = connection.Finish();
        if (!exchange.closed) ++unclosed;
        if (!exchange.answer.empty()) ++answered;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(unclosed.load(), 0);
  // Some streams were requests it could answer (the rest it refused).
  EXPECT_GT(answered.load(), kThreads * kPerThread / 10) << answered.load();

  // Hang-ups with most of a file unsent reset the connection mid-send.
  for (int i = 0; i < 3; ++i) {
    int fd = AskWithoutReading(server.port(), "/big.bin");
    ASSERT_GE(fd, 0) << i;
    ::close(fd);
  }
  EXPECT_TRUE(Eventually([&] { return server.Log(); }, "SendFile SOCKET_ERROR: ", kSettleTimeout));

  EXPECT_EQ(Get(server.port(), "/index.html").answer, index);
  EXPECT_EQ(Get(server.port(), "/QvExampleModule.dll?still=here").answer,
            std::string(kEchoHead) + "still=here\n");
  ExpectBackToBaseline(server, threads, descriptors);
}
