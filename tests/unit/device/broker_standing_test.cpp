#include "device/broker_standing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

QvDeviceStatus::Attempt Attempt(uint64_t order, int32_t result, std::string status = {},
                                std::string failure = {}) {
  return {1000 + static_cast<int64_t>(order), result, std::move(status), std::move(failure), order};
}

QvDeviceStatus::Snapshot Noted(QvDeviceStatus::Attempt login, QvDeviceStatus::Attempt beat = {}) {
  QvDeviceStatus::Snapshot status;
  status.login = std::move(login);
  status.beat = std::move(beat);
  return status;
}

}  // namespace

// The latest attempt that went wrong gives the reason; an answered beat
// never makes up for a failed login; the keys come before everything.
TEST(BrokerStanding, OneJudgementFromWhatTheSessionNoted) {
  const std::string refused = "127.0.0.1:4443: Connection refused";
  const std::string certificate = "127.0.0.1:4443: TLS certificate not verified against x";
  struct Case {
    QvDeviceStatus::Snapshot status;
    bool online;
    std::vector<std::string> missing;
    BrokerStanding::Kind kind;
    std::string reason;
  };
  QvDeviceStatus::Snapshot waiting;
  waiting.login = Attempt(1, -1, {}, refused);
  waiting.login_waits_for = "127.0.0.1:4443 (TLS)";
  const std::vector<Case> cases = {
      {{},
       true,
       {"BrokerIP", "DeviceSID"},
       BrokerStanding::kNotConfigured,
       "set BrokerIP and DeviceSID in section [Quovane] of /w/vane.ini"},
      {{}, true, {}, BrokerStanding::kOffline, "the device has not tried to reach the broker yet"},
      {waiting,
       false,
       {},
       BrokerStanding::kLoggingIn,
       "waiting for 127.0.0.1:4443 (TLS); the last try: " + refused},
      {Noted(Attempt(1, 0), Attempt(2, 0, "200")), true, {}, BrokerStanding::kOnline, ""},
      // The flag alone is no session: the login of this run failed.
      {Noted(Attempt(1, -1, {}, certificate), Attempt(2, 0, "200")),
       true,
       {},
       BrokerStanding::kOffline,
       certificate},
      {Noted(Attempt(1, 0), Attempt(2, -1, {}, refused)),
       false,
       {},
       BrokerStanding::kOffline,
       refused},
      {Noted(Attempt(3, 0), Attempt(2, -1, {}, refused)),
       false,
       {},
       BrokerStanding::kOffline,
       "the broker session ended"},
      {Noted(Attempt(1, 0), Attempt(2, 0, "500")),
       false,
       {},
       BrokerStanding::kOffline,
       "the broker answered the heartbeat with status 500"},
      {Noted(Attempt(1, 404)),
       false,
       {},
       BrokerStanding::kOffline,
       "the broker refused the login (status 404)"},
      {Noted(Attempt(1, -2)),
       false,
       {},
       BrokerStanding::kOffline,
       "the device is not registered (DeviceSID is None in vane.ini)"},
  };
  for (const Case& c : cases) {
    const BrokerStanding standing =
        JudgeBrokerStanding(c.status, c.online, c.missing, "/w/vane.ini");
    EXPECT_EQ(standing.kind, c.kind) << c.reason;
    EXPECT_EQ(standing.reason.substr(0, c.reason.size()), c.reason);
    EXPECT_EQ(standing.Text(),
              c.reason.empty() ? "online" : standing.Word() + ": " + standing.reason);
  }
}

// "Nothing else is wrong" only when the start-up check found nothing: the
// other problems are named instead.
TEST(BrokerStanding, NotConfiguredClaimsNothingElseOnlyForASoundSetUp) {
  const std::vector<std::string> missing = {"DeviceSID"};
  const std::string problem = "no web root: AppPath is not set in vane.ini";
  const std::string sound = JudgeBrokerStanding({}, false, missing, "/w/vane.ini", {}).reason;
  EXPECT_NE(sound.find("Nothing else is wrong"), std::string::npos) << sound;
  const std::string flawed =
      JudgeBrokerStanding({}, false, missing, "/w/vane.ini", {problem}).reason;
  EXPECT_EQ(flawed.find("Nothing else is wrong"), std::string::npos) << flawed;
  EXPECT_NE(flawed.find("Also wrong: " + problem), std::string::npos) << flawed;
}
