#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/socket.h"

// Where the listener hands its options on (Linux), every connection it
// accepts carries them, and an accept that outlasts the listener's receive
// time-out goes on waiting instead of failing.
TEST(SocketOptions, TheListenersOptionsReachItsConnections) {
  auto listener = platform::CreateTcpSocket();
  ASSERT_TRUE(listener.ok());
  ASSERT_EQ(platform::BindLoopback(listener.value, 0), 0);
  ASSERT_EQ(platform::Listen(listener.value), 0);
  const bool inherited = platform::SetInheritedOptions(listener.value, 30, 100, 30000);

  platform::SysResult<platform::SocketDescriptor> accepted{platform::kInvalidSocket, 0};
  std::thread acceptor([&] { accepted = platform::Accept(listener.value, nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(350));  // several time-outs
  auto client = platform::CreateTcpSocket();
  ASSERT_TRUE(client.ok());
  ASSERT_EQ(platform::ConnectLoopback(client.value, platform::LocalPort(listener.value).value), 0);
  acceptor.join();
  ASSERT_TRUE(accepted.ok()) << "accept failed with " << accepted.error;

  if (inherited) {
    auto linger = platform::GetLinger(accepted.value);
    ASSERT_TRUE(linger.ok());
    EXPECT_EQ(linger.value.on, 1);
    EXPECT_EQ(linger.value.seconds, 30);
    EXPECT_EQ(platform::GetReceiveTimeout(accepted.value).value, 100u);
  }
  platform::CloseSocket(accepted.value);
  platform::CloseSocket(client.value);
  platform::CloseSocket(listener.value);
}
