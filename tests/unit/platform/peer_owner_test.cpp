// Who owns the other end of a connection; another account's client is the
// integration tests' (they switch accounts).
#include "platform/peer_owner.h"

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "support/loopback.h"

using platform::Endpoint;
using platform::PeerOwner;
using Kind = platform::PeerOwner::Kind;

TEST(PeerOwner, JudgesWhatTheSystemAnswered) {
  const Endpoint ours{0x7F000001, 4080};
  const Endpoint peer{0x7F000001, 40312};
  EXPECT_TRUE(platform::IsFromThisMachine({0x7F000005, 1}, {0xC0A80105, 4080}));
  EXPECT_TRUE(platform::IsFromThisMachine({0xC0A80105, 1}, {0xC0A80105, 4080}));
  EXPECT_FALSE(platform::IsFromThisMachine({0xC0A80107, 1}, {0xC0A80105, 4080}));

  // The table holds our end too (local = ours): only the peer's end counts.
  const std::vector<platform::TcpOwnerRow> table = {
      {ours, peer, 10}, {{0x7F000001, 50000}, ours, 20}, {peer, ours, 30}};
  struct Case {
    const char* name;
    std::vector<platform::TcpOwnerRow> rows;
    platform::SameUser user;
    Kind kind;
  };
  const Case cases[] = {
      {"same user", table, platform::SameUser::kYes, Kind::kThisAccount},
      {"another user", table, platform::SameUser::kNo, Kind::kOtherAccount},
      {"process not open to us", table, platform::SameUser::kCannotTell, Kind::kUnknown},
      {"our own process", {{peer, ours, 7}}, platform::SameUser::kNo, Kind::kThisAccount},
      {"no process holds it", {{peer, ours, 0}}, platform::SameUser::kYes, Kind::kUnknown},
      {"only our end, and the peer's port to another server",
       {{ours, peer, 30}, {peer, {0x7F000001, 9999}, 40}},
       platform::SameUser::kYes,
       Kind::kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t asked = 0;
    const PeerOwner owner = platform::JudgeTcpTable(c.rows, peer, ours, 7, [&](uint32_t pid) {
      asked = pid;
      return c.user;
    });
    EXPECT_EQ(owner.kind, c.kind);
    EXPECT_EQ(owner.peer_port, 40312);
    EXPECT_EQ(asked, c.kind == Kind::kOtherAccount ? 30u : asked);
    EXPECT_EQ(owner.reason.empty(), c.kind != Kind::kUnknown);
  }
}

TEST(PeerOwner, KnowsOurOwnClientAndNotOneThatClosedBeforeItWasAccepted) {
  platform::PeerOwnerLookup lookup;
  LoopbackPair pair;
  PeerOwner owner = lookup.Lookup(pair.server());
  EXPECT_EQ(owner.kind, Kind::kThisAccount) << owner.reason << " " << owner.error;
  EXPECT_EQ(owner.peer_port, platform::LocalPort(pair.client()).value);

  auto listener = platform::CreateTcpSocket();
  ASSERT_TRUE(listener.ok());
  ASSERT_EQ(platform::BindLoopback(listener.value, 0), 0);
  ASSERT_EQ(platform::Listen(listener.value), 0);
  auto client = platform::CreateTcpSocket();
  ASSERT_EQ(platform::ConnectLoopback(client.value, platform::LocalPort(listener.value).value), 0);
  platform::CloseSocket(client.value);
  auto accepted = platform::Accept(listener.value, nullptr);
  ASSERT_TRUE(accepted.ok());
  owner = lookup.Lookup(accepted.value);
  EXPECT_EQ(owner.kind, Kind::kUnknown);
  EXPECT_FALSE(owner.reason.empty());
  platform::CloseSocket(accepted.value);
  platform::CloseSocket(listener.value);
}
