// qvbroker as a program, for what its unit checks cannot see.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/qvbroker_fixture.h"
#include "support/work_dir.h"

namespace {

constexpr auto kWait = std::chrono::seconds(15);

}  // namespace

// Bad options end with 2, a device it cannot register with 1.
TEST(QvBroker, BadOptionsAreRefusedBeforeItListens) {
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {{{"--port", "70000"}, 2},
               {{"--fail", "Heartbeat=refuse"}, 2},
               {{"--fail", "status=abc"}, 2},
               {{"--cert", "x.pem"}, 2},
               {{"--bogus"}, 2},
               {{"--device", "fw=1"}, 1}};
  for (const auto& c : cases) {
    std::vector<std::string> argv = {QVBROKER_PROGRAM};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string output;
    EXPECT_EQ(RunCommand(argv, kWait, &output), c.status) << c.args[0];
    EXPECT_FALSE(Contains(output, "qvbroker ready"));
  }
}

TEST(QvBroker, AStalledRequestGetsNoAnswerAndTheStopEndsIt) {
  QvBrokerFixture broker(QVBROKER_PROGRAM, {"--fail", "Heartbeat=stall"});
  ASSERT_TRUE(broker.ok()) << broker.failure();
  OpenConnection stalled(broker.plain_port());
  ASSERT_TRUE(stalled.Send("GET /asys/Heartbeat.jsp?deviceSID=1 HTTP/1.0\n\n"));
  ASSERT_TRUE(Eventually([&] { return broker.Admin("/admin/requests"); },
                         " stall GET /asys/Heartbeat.jsp", kWait));
  EXPECT_EQ(broker.Stop(), 0);
  const HttpExchange answer = stalled.Finish(kWait);
  EXPECT_TRUE(answer.closed);
  EXPECT_EQ(answer.answer, "");
}

TEST(QvBroker, ARequestCutShortIsRecordedWhenItsClientCloses) {
  QvBrokerFixture broker(QVBROKER_PROGRAM);
  ASSERT_TRUE(broker.ok()) << broker.failure();
  OpenConnection probe(broker.plain_port());
  ASSERT_TRUE(probe.Send(std::string("\x0c\0\0\x02\0\x02\0\0\0\0\0\0", 12)));
  probe.ShutdownWrite();
  EXPECT_TRUE(probe.Finish(kWait).closed);
  EXPECT_TRUE(Contains(broker.Admin("/admin/requests"), " 12 incomplete "));
}
