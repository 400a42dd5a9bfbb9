// Device messages from qvbroker through the real heartbeat; the handlers
// that change the heartbeat itself run in process.
#include "session/device_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "session/heartbeat.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/peerserver_fixture.h"
#include "support/qvbroker_fixture.h"
#include "support/record_bytes.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr char kRecorder[] = TEST_MODULE_DIR "/RecordingModule.dll";
constexpr char kSlow[] = TEST_MODULE_DIR "/SlowModule.dll";
constexpr auto kWait = std::chrono::seconds(30);

// What follows label on each log line that has it, in order.
std::vector<std::string> Logged(const std::string& log, const std::string& label) {
  std::vector<std::string> found;
  for (const std::string& line : SplitLines(log)) {
    size_t at = line.find(label);
    if (at != std::string::npos) found.push_back(line.substr(at + label.size()));
  }
  return found;
}

std::vector<std::pair<std::string, std::string>> ModuleNames(const char* library,
                                                             std::vector<std::string> names) {
  std::vector<std::pair<std::string, std::string>> modules;
  for (std::string& name : names) modules.emplace_back(library, std::move(name));
  return modules;
}

struct Case {
  std::string message;
  std::string ack;     // the status acknowledged, empty for none
  std::string module;  // the module that gets it, empty for none
};

}  // namespace

// Every type in one answer. The module calls are logged by the heartbeat
// thread in the answer's order; each query is the message's own pairs.
TEST(DeviceMessages, EveryTypeInOneAnswerIsCarriedOutInOrder) {
  std::vector<Case> cases = {
      {"messageType=Test&messageSID=1", "", ""},
      {"messageType=ConfigSetting&key=LogLevel&value=4&messageSID=2", "3", ""},
      {"messageType=ConfigSetting&value=1&key=Colour&messageSID=3", "4", ""},    // v before k
      {"messageType=ConfigSetting&key=[Planted&value=1&messageSID=4", "4", ""},  // refused key
      {"messageType=SetHeartbeatLen&HeartbeatLength=5000&key=HeartbeatSleep&value=5000"
       "&messageSID=5",
       "3", ""},
      {"messageType=SetHeartbeatLen&messageSID=6", "4", ""},
      {"messageType=DATAction&file=qvmetaobjects.dat&messageSID=8", "", "QvShareModule.dll"},
      {"messageType=DATAction&file=qvxfer.dat&messageSID=9", "", "QvTransferModule.dll"},
      {"messageType=DATAction&file=other.dat&messageSID=10", "", ""},
      {"messageType=AppUserLogOff&appSID=2&messageSID=11", "3", ""},
      {"messageType=AppUserLogOff&appSID=3&messageSID=12", "3", "QvYxModule.dll"},
      {"messageType=Diagnostic&messageSID=13", "3", "QvDiagnosticModule.dll"},
      {"messageType=NoSuchType&messageSID=14", "", ""},
      {"messageType=NewXferStatus&messageSID=15", "", ""},
  };
  int sid = 20;
  for (const char* type :
       {"PushToPeer", "PushToXPeer", "NewComponent", "NewContent", "PullFromXPeer",
        "UpgradeContent", "UpgradeComponent", "PrepareXPeerXfer", "PullXPeerAsset",
        "TransferFailure", "BootPackage"}) {
    cases.push_back(
        {std::string("messageType=") + type + "&a=b&messageSID=" + std::to_string(sid++), "",
         "QvTransferModule.dll"});
  }
  for (const char* type : {"VerifyAsset", "SyncMetaObjects"}) {
    cases.push_back({std::string("messageType=") + type + "&messageSID=" + std::to_string(sid++),
                     "", "QvShareModule.dll"});
  }

  PeerServerOptions options = {
      .modules = ModuleNames(kRecorder, {"QvTransferModule.dll", "QvShareModule.dll",
                                         "QvYxModule.dll", "QvDiagnosticModule.dll"}),
      .with_broker = true};
  for (const Case& c : cases) {
    options.broker_args.push_back("--message");
    options.broker_args.push_back(c.message);
  }
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();

  std::string acks, modules;
  std::vector<std::string> calls;
  for (const Case& c : cases) {
    if (!c.ack.empty()) {
      acks += "type=1&status=" + c.ack +
              "&messageSID=" + c.message.substr(c.message.rfind('=') + 1) + "\n";
    }
    if (!c.module.empty()) calls.push_back(c.message);
  }
  ASSERT_TRUE(WaitUntil([&] { return server.broker()->Admin("/admin/acks") == acks; }, kWait))
      << server.broker()->Admin("/admin/acks");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return SplitLines(ReadText(server.work() / "module-calls.txt")).size() == calls.size();
      },
      kWait));

  std::vector<std::string> invoked;
  for (const Case& c : cases) {
    if (!c.module.empty()) invoked.insert(invoked.end(), {c.module, c.message});
  }
  EXPECT_EQ(Logged(server.Log(), "iInvokeExtensionDll: : "), invoked);
  std::vector<std::string> reached = SplitLines(ReadText(server.work() / "module-calls.txt"));
  std::sort(reached.begin(), reached.end());
  std::sort(calls.begin(), calls.end());
  EXPECT_EQ(reached, calls);  // module threads run side by side
  EXPECT_EQ(server.Setting("LogLevel"), "4");
  EXPECT_EQ(server.Setting("HeartbeatSleep"), "5000");
  EXPECT_EQ(server.Setting("Colour"), "");
  EXPECT_EQ(
      Logged(server.Log(), "Received a DATAction message that could not be handled!!!!").size(),
      1u);
}

// 500 module-bound messages in one answer: exactly 32 calls run at once at
// the peak (counted in the module), yet every message reaches its module and
// each is acknowledged.
TEST(DeviceMessages, ModuleCallsOfOneAnswerRunAtMost32AtOnce) {
  constexpr int kMessages = 500;
  PeerServer server({.settings = {{"HeartbeatSleep", "10000"}},
                     .modules = ModuleNames(kSlow, {"QvDiagnosticModule.dll"}),
                     .with_broker = true});
  ASSERT_TRUE(server.ok()) << server.failure();
  std::vector<std::string> sent;
  std::string acks;
  for (int i = 0; i < kMessages; ++i) {
    sent.push_back("messageType=Diagnostic&messageSID=" + std::to_string(i));
    server.broker()->Admin("/admin/message?" + sent.back());
    acks += "type=1&status=3&messageSID=" + std::to_string(i) + "\n";
  }
  const fs::path entered = server.work() / "slow-entered";
  // The calls stay in the module until released: once 32 are in and every
  // call is handed over, a 33rd would have come in beside them.
  ASSERT_TRUE(WaitUntil(
      [&] {
        return SplitLines(ReadText(entered)).size() >= 32 &&
               Logged(server.Log(), "iInvokeExtensionDll: : messageType=Diagnostic").size() ==
                   sent.size();
      },
      kWait))
      << server.Log();
  WriteText(server.work() / "release-slow", "");
  ASSERT_TRUE(WaitUntil([&] { return SplitLines(ReadText(entered)).size() == sent.size(); },
                        std::chrono::seconds(90)));
  int peak = 0;
  for (const std::string& count : SplitLines(ReadText(server.work() / "slow-in-flight"))) {
    peak = std::max(peak, std::stoi(count));
  }
  EXPECT_EQ(peak, 32);
  std::vector<std::string> reached = SplitLines(ReadText(server.work() / "slow-entered"));
  std::sort(reached.begin(), reached.end());
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(reached, sent);
  EXPECT_TRUE(WaitUntil([&] { return server.broker()->Admin("/admin/acks") == acks; }, kWait));
}

// Interrupted incoming transfers in the record file are resumed at start:
// the transfer module gets one call per record to resume.
TEST(DeviceMessages, TransfersAreResumedAtStart) {
  const int32_t now = static_cast<int32_t>(std::time(nullptr));
  using record_bytes::Xfer;
  PeerServer server(
      {.settings = {{"XferRetryInterval", "5"}},
       .modules = ModuleNames(kRecorder, {"QvTransferModule.dll"}),
       .work_files = {{"qvxfer.dat",
                       record_bytes::XferFile({
                           Xfer{.uid = "x1", .time = now, .status = 2},
                           Xfer{.uid = "x2", .time = now, .resumable = 0, .status = 2},
                           Xfer{.uid = "x3", .time = now, .status = 3},
                           Xfer{.uid = "x4", .time = now, .status = 2},
                       })}},
       .with_broker = true});
  ASSERT_TRUE(server.ok()) << server.failure();
  ASSERT_TRUE(WaitUntil(
      [&] { return SplitLines(ReadText(server.work() / "module-calls.txt")).size() == 2; }, kWait));
  std::vector<std::string> reached = SplitLines(ReadText(server.work() / "module-calls.txt"));
  std::sort(reached.begin(), reached.end());
  EXPECT_EQ(reached,
            (std::vector<std::string>{"type=ResumeXfer&xferUID=x1", "type=ResumeXfer&xferUID=x4"}));
}

// The quit for an upgrade: the instructions appended to the boot sequence
// file (its bytes are the unit test's), the acknowledgement, then, once a
// busy module ended, the end of the program with the file's size as its code
// (the status keeps 8 bits, bootexit.txt all of it; 10000 more with the
// companion window up, which is told to close), without a logout or a
// shutdown.
TEST(DeviceMessages, QuitWithInstructionsWaitsForModulesAndLeavesTheBootFiles) {
  PeerServer server({.settings = {{"HeartbeatSleep", "10000"}},
                     .modules = ModuleNames(kSlow, {"QvSlowModule.dll"}),
                     .work_files = {{"boot/bootspec.vnb", "0123456789abc7\nsecond\n"},
                                    {"boot/bootseq.vnb", "earlier"}},
                     .with_broker = true});
  ASSERT_TRUE(server.ok()) << server.failure();
  CompanionWindow companion("Yxnetwork", server.session());
  ASSERT_TRUE(companion.ok());
  auto slow =
      std::async(std::launch::async, [&] { return Get(server.port(), "/QvSlowModule.dll"); });
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(server.work() / "slow-entered"); }, kWait));
  // The last entry holds a byte this key turns into the record's end: left
  // out, and the acknowledgement says so.
  std::string queue = "/admin/message?";
  for (const unsigned char c : std::string("messageType=QuitWithInst&instructions=M?old^new^Y|"
                                           "D?name^N|D?\xE4^N&messageSID=q1")) {
    queue += "%" + std::string(1, "0123456789ABCDEF"[c >> 4]) + "0123456789ABCDEF"[c & 15];
  }
  server.broker()->Admin(queue);
  EXPECT_TRUE(Eventually([&] { return server.broker()->Admin("/admin/acks"); },
                         "type=1&status=4&messageSID=q1\n"));
  EXPECT_FALSE(server.WaitExit(std::chrono::milliseconds(300))) << "exited under a busy module";
  WriteText(server.work() / "release-slow", "");
  EXPECT_TRUE(Contains(slow.get().answer, "slow done"));

  const std::optional<int> status = server.WaitExit(kWait);
  ASSERT_TRUE(status) << server.Log();
  EXPECT_EQ(*status, 10028 & 0xFF);  // "earlier" and two records of 12 and 9 bytes
  EXPECT_EQ(ReadText(server.work() / "boot" / "bootexit.txt"), "10028\n");
  EXPECT_EQ(companion.Wait(1), std::vector<std::string>{"WM_CLOSE"});
  EXPECT_EQ(server.broker()->PageRequests("DeviceLogout"), 0u);
  EXPECT_FALSE(Contains(server.Log(), "ShutdownServer()"));
}

namespace {

class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(broker.ok()) << broker.failure();
    WriteBrokerSettings(broker);
    UseDirectRoute();
    HeartbeatState& state = TheHeartbeatState();
    ASSERT_EQ(state.endpoint.LoadEndpoint(), 0);
    state.sid_mode.store(false);
    state.SetUri("/asys/Heartbeat.jsp?deviceUID=U1&port=9");
    state.interval_ms.store(kHeartbeatDefaultMs);
  }
  void Handle(const char* type, std::string pairs) {
    for (char& c : pairs) {
      if (c == '=' || c == '&') c = '\0';
    }
    iDeviceMessageHandler(type, pairs.data(), static_cast<int>(pairs.size()));
  }

  ScopedWorkDir dir;
  QvBrokerFixture broker{QVBROKER_PROGRAM};
};

}  // namespace

// A new SID takes the heartbeat off the identifier once; a missing or
// unusable one is refused and leaves it as it was.
TEST_F(HandlerTest, ANewDeviceSidSwitchesTheHeartbeatOnce) {
  HeartbeatState& state = TheHeartbeatState();
  Handle("DeviceSID", "messageType=DeviceSID&messageSID=1");
  Handle("DeviceSID", "messageType=DeviceSID&deviceSID=a b&messageSID=2");
  EXPECT_FALSE(state.sid_mode.load());
  EXPECT_EQ(state.Uri(), "/asys/Heartbeat.jsp?deviceUID=U1&port=9");
  Handle("DeviceSID", "messageType=DeviceSID&deviceSID=S2&deviceSID=S3&messageSID=3");
  EXPECT_TRUE(state.sid_mode.load());
  EXPECT_EQ(state.Uri(), "/asys/Heartbeat.jsp?deviceSID=S2");
  Handle("DeviceSID", "messageType=DeviceSID&deviceSID=S4&messageSID=4");
  EXPECT_EQ(state.Uri(), "/asys/Heartbeat.jsp?deviceSID=S2");
  EXPECT_EQ(broker.Admin("/admin/acks"),
            "type=1&status=4&messageSID=1\ntype=1&status=4&messageSID=2\n"
            "type=1&status=3&messageSID=3\ntype=1&status=3&messageSID=4\n");
}

TEST_F(HandlerTest, OnlyIntervalsInRangeAreTakenAndTheLogLevelChangesAtOnce) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"5000", kHeartbeatDefaultMs}, {"30000", 30000},     {"99999999999", 30000}, {"abc", 30000},
      {"3600000", 3600000},          {"3600001", 3600000},
  };
  for (const auto& [length, interval] : cases) {
    Handle("SetHeartbeatLen",
           std::string("messageType=SetHeartbeatLen&HeartbeatLength=") + length + "&messageSID=h");
    EXPECT_EQ(TheHeartbeatState().interval_ms.load(), interval) << length;
  }
  Handle("ConfigSetting", "messageType=ConfigSetting&key=LogLevel&value=4&messageSID=L");
  EXPECT_EQ(QvLog::GetInstance()->GetLevel(), 4);
  // A level that is no number would silently end the log: refused, nothing changed.
  for (const char* level : {"verbose", "3x", ""}) {
    Handle("ConfigSetting",
           std::string("messageType=ConfigSetting&key=LogLevel&value=") + level + "&messageSID=N");
    EXPECT_EQ(QvLog::GetInstance()->GetLevel(), 4) << level;
  }
  EXPECT_EQ(QvSettings::GetInstance()->LogLevel(), 4);
  const std::string acks = broker.Admin("/admin/acks");
  EXPECT_TRUE(Contains(acks,
                       "type=1&status=3&messageSID=L\ntype=1&status=4&messageSID=N\ntype=1&status="
                       "4&messageSID=N\ntype=1&status=4&messageSID=N\n"));
}
