// The broker session against a real qvbroker: login with its retry, logout,
// and the heartbeat driven beat by beat through injected waits.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/device.h"
#include "common/ini_file.h"
#include "common/module_entry.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "session/device_login.h"
#include "session/heartbeat.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/qvbroker_fixture.h"
#include "support/work_dir.h"

namespace {

constexpr char kUid[] = "10.0.0.5-0a1b2c3d4e5f-0";
constexpr char kSid[] = "S77";

// A port nobody listens on: connections to it are refused.
uint16_t DeadPort() {
  auto socket = platform::CreateTcpSocket();
  platform::BindLoopback(socket.value, 0);
  uint16_t port = platform::LocalPort(socket.value).value;
  platform::CloseSocket(socket.value);
  return port;
}

// Runs a check between beats; the loop ends after the last one.
class ScriptedWaits : public HeartbeatWaits {
 public:
  explicit ScriptedWaits(std::vector<std::function<void()>> between)
      : between_(std::move(between)) {}
  bool WaitForStop(uint32_t interval_ms) override {
    intervals.push_back(interval_ms);
    if (next_ == between_.size()) return true;
    between_[next_++]();
    return false;
  }
  std::vector<uint32_t> intervals;

 private:
  std::vector<std::function<void()>> between_;
  size_t next_ = 0;
};

class SessionTest : public ::testing::Test {
 protected:
  void Settings(std::map<std::string, std::string> extra) {
    std::map<std::string, std::string> keys = {
        {"DeviceUID", kUid}, {"DeviceSID", kSid}, {"AppPort", "4080"}};
    for (auto& [key, value] : extra) keys[key] = value;
    WriteBrokerSettings(*broker, keys);
  }
  void StartBroker(std::vector<std::string> args = {}) {
    broker = std::make_unique<QvBrokerFixture>(QVBROKER_PROGRAM, std::move(args));
    ASSERT_TRUE(broker->ok()) << broker->failure();
    UseDirectRoute();
    Settings({});
  }
  std::string Setting(const std::string& key) {
    return std::string(IniFind(ReadText("vane.ini"), "Quovane", key).value_or("<missing>"));
  }
  // The request lines the broker received, in order.
  std::vector<std::string> RequestLines() {
    std::vector<std::string> lines;
    for (const std::string& request : broker->Requests()) {
      lines.push_back(request.substr(0, request.find('\n')));
    }
    return lines;
  }
  std::string Device(const std::string& extra = "") {
    return std::string("deviceUID=") + kUid + "&deviceSID=" + kSid + extra;
  }

  ScopedWorkDir dir;
  std::unique_ptr<QvBrokerFixture> broker;
  HeartbeatState state;
};

}  // namespace

TEST_F(SessionTest, LoginReportsTheDeviceAndTakesTheKey) {
  StartBroker({"--device", Device("&brokerKey=K1&ip=10.9.9.9&fw=1")});
  Settings({{"ContentVersions", "photos,maps"}, {"photos", "3"}, {"AllowUpgrade", ""}});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  device.BuildModuleList("$Revision: 1.160 $");
  ASSERT_EQ(DeviceLogin(device), 0);
  EXPECT_EQ(device.GetBrokerKey(), "K1");
  EXPECT_EQ(device.GetLocalIP(), "10.9.9.9");
  EXPECT_EQ(device.GetRemoteIP(), "127.0.0.1");
  EXPECT_TRUE(device.GetFirewall());
  EXPECT_TRUE(device.GetOnlineState());
  EXPECT_TRUE(Logged("login OK."));

  const std::string modules = ModuleAndContentList(device);
  EXPECT_EQ(modules.rfind("QvServer-1.160|0-none|QvLoginModule.dll-none|", 0), 0u) << modules;
  EXPECT_TRUE(modules.ends_with("|photos-3|maps-none")) << modules;
  EXPECT_EQ(RequestLines(),
            std::vector<std::string>{"GET /asys/DeviceLogin.jsp?deviceUID=" + std::string(kUid) +
                                     "&allowUpgrade=0&port=4080&ip=" + device.GetIP() +
                                     "&yxport=0&modules=" + modules + " SSL/3.1"});
}

TEST_F(SessionTest, StillLoggedInMeansOneLogoutAndOneRetry) {
  StartBroker({"--device", Device("&loggedIn=1")});
  QvDevice& device = TestOutboundDevice();
  EXPECT_EQ(DeviceLogin(device), 0);
  EXPECT_TRUE(Logged("Device already logged-in. Trying to log it out."));
  EXPECT_TRUE(LoggedPrefix("no login error on 2nd try. broker key : BK"));
  std::vector<std::string> lines = RequestLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "GET /asys/DeviceLogout.jsp?deviceUID=" + std::string(kUid) + " SSL/3.1");
  EXPECT_EQ(lines[0], lines[2]);
}

// Still logged in, and the logout fails: no login, and no success reported.
TEST_F(SessionTest, StillLoggedInWithAFailedLogoutIsNoLogin) {
  StartBroker({"--device", Device("&loggedIn=1"), "--fail", "DeviceLogout=reset"});
  QvDevice& device = TestOutboundDevice();
  EXPECT_EQ(DeviceLogin(device), 401);
  EXPECT_EQ(RequestLines().size(), 2u);
}

TEST_F(SessionTest, LoginFailures) {
  StartBroker({"--fail", "DeviceLogin=status=404", "--fail", "DeviceLogout=status=500"});
  QvDevice& device = TestOutboundDevice();
  device.SetOnlineState(false);
  EXPECT_EQ(DeviceLogin(device), 404);
  EXPECT_FALSE(device.GetOnlineState());
  // The logout does not look at the status.
  EXPECT_EQ(DeviceLogout(), 0);

  Settings({{"DeviceSID", "None"}});
  EXPECT_EQ(DeviceLogin(device), -2);
  EXPECT_EQ(DeviceLogout(), -1);
  EXPECT_EQ(RequestLines().size(), 2u);
}

TEST_F(SessionTest, StoredMacFromTheDeviceIdentifier) {
  EXPECT_EQ(StoredMac("10.0.0.5-0a1b2c3d4e5f-0"), "0a1b2c3d4e5f");
  EXPECT_EQ(StoredMac("10.0.0.5-0a1b2c3d4e5f-loc-0"), "0a1b2c3d4e5f-loc");
  EXPECT_EQ(StoredMac("10.0.0.5-0a1b2c3d4e5f"), "0a1b2c3d4e5f");
  EXPECT_EQ(StoredMac("nodash"), "");
}

TEST_F(SessionTest, FirstBeatFallsBackToTheSecondAlternativePort) {
  StartBroker({"--device", Device("&loggedIn=1")});
  const uint16_t working = broker->plain_port();
  const uint16_t dead = DeadPort();
  const uint16_t also_dead = DeadPort();
  Settings({{"BrokerPort", std::to_string(dead)},
            {"AlternativeBrokerPorts", std::to_string(also_dead) + ";" + std::to_string(working)}});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  device.SetOnlineState(false);

  ScriptedWaits waits({[&] {
    EXPECT_TRUE(device.GetOnlineState());
    EXPECT_EQ(state.endpoint.GetCurrentPort(), working);
    broker.reset();  // the next beat fails on the port that worked
  }});
  EXPECT_EQ(HeartbeatThread(state, device, waits), 0);
  EXPECT_EQ(Setting("BrokerPort"), std::to_string(working));
  EXPECT_EQ(Setting("AlternativeBrokerPorts"),
            std::to_string(also_dead) + ";" + std::to_string(dead));
  EXPECT_TRUE(state.reached.load());
  EXPECT_FALSE(device.GetOnlineState());
  // Once a beat got through, a failure no longer tries the alternatives.
  EXPECT_EQ(LogCount("HeartbeatThread status is OK"), 1u);
  EXPECT_EQ(LogCount("HeartbeatThread status not OK: -1"), 1u);
}

TEST_F(SessionTest, ABeatTheBrokerDoesNotKnowLogsTheDeviceInOnce) {
  StartBroker({"--device", Device()});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  ScriptedWaits waits({});
  EXPECT_EQ(HeartbeatThread(state, device, waits), 0);
  EXPECT_EQ(RequestLines(),
            (std::vector<std::string>{
                "GET /asys/Heartbeat.jsp?deviceSID=" + std::string(kSid) + " HTTP/1.0",
                "GET /asys/DeviceLogin.jsp?deviceUID=" + std::string(kUid) +
                    "&allowUpgrade=0&port=4080&ip=" + device.GetIP() + "&yxport=0&modules= SSL/3.1"}));
  EXPECT_TRUE(Logged("Device Logged In!!"));
  EXPECT_TRUE(device.GetOnlineState());
}

TEST_F(SessionTest, IdentifierModeUntilTheDeviceGetsASid) {
  StartBroker({"--open"});
  Settings({{"DeviceSID", "None"}, {"HeartbeatSleep", "10000"}});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  ScriptedWaits waits({[&] { device.SetAppPort("4081"); },
                       [&] { SwitchHeartbeatToSid(state, "S88"); }});
  EXPECT_EQ(HeartbeatThread(state, device, waits), 0);

  // A fresh identifier at the start, then the current port at every beat.
  const std::string uid = device.GetDeviceUID();
  EXPECT_EQ(uid, device.GetIP() + "-" + device.GetUUID() + "-0");
  EXPECT_EQ(Setting("DeviceUID"), uid);
  EXPECT_EQ(RequestLines(),
            (std::vector<std::string>{
                "GET /asys/Heartbeat.jsp?deviceUID=" + uid + "&port=4080 HTTP/1.0",
                "GET /asys/Heartbeat.jsp?deviceUID=" + uid + "&port=4081 HTTP/1.0",
                "GET /asys/Heartbeat.jsp?deviceSID=S88 HTTP/1.0"}));
  EXPECT_EQ(waits.intervals, (std::vector<uint32_t>{10000, 10000, 10000}));
}

TEST_F(SessionTest, TheStopEventEndsTheLoopWithinItsWait) {
  StartBroker({"--device", Device("&loggedIn=1")});
  Settings({{"HeartbeatSleep", "3600000"}});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  platform::Event stop(false, false);
  EventWaits waits(&stop);
  auto loop = std::async(std::launch::async, [&] { return HeartbeatThread(state, device, waits); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (broker->Requests().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(broker->Requests().size(), 1u);
  stop.Set();
  ASSERT_EQ(loop.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(loop.get(), 0);
  EXPECT_EQ(broker->Requests().size(), 1u);
}

TEST(HeartbeatInterval, StaysWithinItsLimits) {
  EXPECT_EQ(HeartbeatInterval(5000), 60000u);
  EXPECT_EQ(HeartbeatInterval(4000000), 60000u);
  EXPECT_EQ(HeartbeatInterval(-1), 60000u);
  EXPECT_EQ(HeartbeatInterval(10000), 10000u);
  EXPECT_EQ(HeartbeatInterval(3600000), 3600000u);
}
