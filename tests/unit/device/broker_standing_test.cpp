#include "device/broker_standing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/work_dir.h"

namespace {

constexpr int64_t kNow = 1700000000;

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
// never makes up for a failed login, nor a login for a refused beat.
TEST(BrokerStanding, OneJudgementFromWhatTheSessionNoted) {
  const std::string refused = "127.0.0.1:4443: Connection refused";
  const std::string certificate = "127.0.0.1:4443: TLS certificate not verified against x";
  struct Case {
    QvDeviceStatus::Snapshot status;
    bool online;
    BrokerStanding::Kind kind;
    std::string reason;
  };
  QvDeviceStatus::Snapshot waiting;
  waiting.login = Attempt(1, -1, {}, refused);
  waiting.login_waits_for = "127.0.0.1:4443";
  waiting.login_wait_began = kNow - 12;
  waiting.login_wait_limit = 30;
  // A wait older than its limit (or a clock set back) stays within 0 to 30.
  QvDeviceStatus::Snapshot outlived = waiting;
  outlived.login = {};
  outlived.login_wait_began = kNow - 95;
  QvDeviceStatus::Snapshot early = outlived;
  early.login_wait_began = kNow + 5;
  using B = BrokerStanding;
  const std::vector<Case> cases = {
      {{}, true, B::kOffline, "the device has not tried to reach the broker yet"},
      {waiting, false, B::kLoggingIn,
       "waiting for 127.0.0.1:4443 (12 s of 30); the last try: " + refused},
      {outlived, true, B::kLoggingIn, "waiting for 127.0.0.1:4443 (30 s of 30)"},
      {early, true, B::kLoggingIn, "waiting for 127.0.0.1:4443 (0 s of 30)"},
      {Noted(Attempt(1, 0), Attempt(2, 0, "200")), true, B::kOnline, ""},
      // Online once a beat was answered, not before.
      {Noted(Attempt(1, 0)), true, B::kLoggingIn,
       "logged in; waiting for the first heartbeat's answer"},
      // Logged in again after each refused beat: the flag is on, the session is not.
      {Noted(Attempt(3, 0), Attempt(2, 0, "404")), true, B::kOffline,
       "the broker does not know this device at its heartbeat (status 404 after each login; "
       "check DeviceSID in /w/vane.ini)"},
      {Noted(Attempt(3, 0), Attempt(2, 0, "500")), true, B::kOffline,
       "the broker answered the heartbeat with status 500"},
      // The flag alone is no session: the login of this run failed.
      {Noted(Attempt(1, -1, {}, certificate), Attempt(2, 0, "200")), true, B::kOffline,
       certificate},
      {Noted(Attempt(1, 0), Attempt(2, -1, {}, refused)), false, B::kOffline, refused},
      {Noted(Attempt(3, 0), Attempt(2, -1, {}, refused)), false, B::kOffline,
       "the broker session ended"},
      {Noted(Attempt(1, 0), Attempt(2, 0, "500")), false, B::kOffline,
       "the broker answered the heartbeat with status 500"},
      {Noted(Attempt(1, 404)), false, B::kOffline, "the broker refused the login (status 404)"},
      {Noted(Attempt(1, -2)), false, B::kOffline,
       "the device is not registered (DeviceSID is None in vane.ini)"},
  };
  for (const Case& c : cases) {
    const BrokerStanding standing =
        JudgeBrokerStanding(c.status, c.online, {}, "/w/vane.ini", kNow);
    EXPECT_EQ(standing.kind, c.kind) << c.reason;
    EXPECT_EQ(standing.reason.substr(0, c.reason.size()), c.reason);
    EXPECT_EQ(standing.Text(),
              c.reason.empty() ? "online" : standing.Word() + ": " + standing.reason);
  }
  // What stays shown until told again has no ticking seconds.
  EXPECT_EQ(JudgeBrokerStanding(waiting, false, {}, "/w/vane.ini", kNow).SteadyText(),
            "logging in: waiting for 127.0.0.1:4443; the last try: " + refused);
}

// The keys come before everything. "Nothing else is wrong" only when the
// start-up check found nothing: the other problems are named instead.
TEST(BrokerStanding, NotConfiguredClaimsNothingElseOnlyForASoundSetUp) {
  const std::vector<std::string> missing = {"BrokerIP", "DeviceSID"};
  const std::string problem = "no web root: AppPath is not set in vane.ini";
  const BrokerStanding standing = JudgeBrokerStanding(Noted(Attempt(1, 0), Attempt(2, 0, "200")),
                                                      true, missing, "/w/vane.ini", kNow);
  EXPECT_EQ(standing.kind, BrokerStanding::kNotConfigured);
  EXPECT_TRUE(standing.Text().starts_with(
      "not configured: set BrokerIP and DeviceSID in section [Quovane] of /w/vane.ini"))
      << standing.Text();
  const std::string sound = JudgeBrokerStanding({}, false, missing, "/w/vane.ini", kNow).reason;
  EXPECT_TRUE(Contains(sound, "Nothing else is wrong"));
  const std::string flawed =
      JudgeBrokerStanding({}, false, missing, "/w/vane.ini", kNow, {problem}).reason;
  EXPECT_FALSE(Contains(flawed, "Nothing else is wrong"));
  EXPECT_TRUE(Contains(flawed, "Also wrong: " + problem));
}
