#include "device/device_identity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "base/log.h"
#include "platform/environment.h"
#include "platform/host_identity.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

class DeviceIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override { QvLog::GetInstance()->SetLevel(3); }

  static void Autostart(const fs::path& config, const std::string& body) {
    fs::create_directories(config / "autostart");
    WriteText(config / "autostart" / "QuovaneTray.desktop", body);
  }
  // A trace log without its stamps.
  static std::string Log(const fs::path& file = "QvDebug.log") {
    return std::regex_replace(ReadText(file),
                              std::regex(R"(\d\d:\d\d:\d\d \d\d/\d\d/\d{4} \( *\d+\): )"), "");
  }

  ScopedWorkDir dir;
  ScopedEnvironment environment{{{"XDG_CONFIG_HOME", (dir.path() / "config").string()},
                                 {"XDG_STATE_HOME", (dir.path() / "state").string()},
                                 {"HOME", platform::GetEnvironment("HOME")}}};
};

constexpr char kCannotFind[] =
    "QvDevice::Init()->QvNetUtil::CheckWorkingDirectory(): cannot find vane.ini or derive "
    "working path from registry\n";

}  // namespace

TEST_F(DeviceIdentityTest, StaysWithAnIniFileElseMovesAboveQvServerOfTheAutostartCommand) {
  const fs::path install = dir.path() / "My Apps";
  fs::create_directories(install / "QvServer");
  WriteText(install / "vane.ini", "");
  // Actions have Exec lines of their own; only the entry's counts.
  Autostart(dir.path() / "config",
            "# log-on start\r\n[Desktop Action tray]\r\nExec=/nowhere/QvServer/x\r\n"
            "[Desktop Entry]\r\nName=Tray\r\nExec = \"" +
                install.string() + "/QvServer/peerserver\" -wbx\r\n");
  WriteIni("");
  EXPECT_EQ(CheckWorkingDirectory(), 0);
  EXPECT_EQ(fs::current_path(), dir.path());
  EXPECT_EQ(Log(), "QvDevice::Init()->QvNetUtil::CheckWorkingDirectory(): started in maindir\n");
  fs::remove("vane.ini");
  ASSERT_EQ(CheckWorkingDirectory(), 0);
  EXPECT_EQ(fs::current_path(), install);
  EXPECT_EQ(Log(install / "QvDebug.log"),
            "Working path set from registry to : " + install.string() + "\n");
}

TEST_F(DeviceIdentityTest, UsesHomeConfigWhenXdgConfigHomeIsUnsetOrRelative) {
  fs::create_directories(dir.path() / "opt" / "QvServer");
  WriteText(dir.path() / "opt" / "vane.ini", "");
  Autostart(dir.path() / "home" / ".config",
            "[Desktop Entry]\nExec=" + dir.path().string() + "/opt/QvServer/peerserver\n");
  platform::SetEnvironment("HOME", (dir.path() / "home").string());
  for (std::optional<std::string> config :
       {std::optional<std::string>("config"), std::optional<std::string>()}) {
    fs::current_path(dir.path());
    platform::SetEnvironment("XDG_CONFIG_HOME", config);
    ASSERT_EQ(CheckWorkingDirectory(), 0);
    EXPECT_EQ(fs::current_path(), dir.path() / "opt");
  }
}

TEST_F(DeviceIdentityTest, FailsWithoutUsableAutostartCommand) {
  // No entry; an entry without Exec; no QvServer; a directory that is gone;
  // one without vane.ini, which is never taken as the working directory.
  fs::create_directories(dir.path() / "empty" / "QvServer");
  for (const std::string& body :
       {std::string(), std::string("[Desktop Entry]\nName=x\n"),
        "[Desktop Entry]\nExec=" + dir.path().string() + "/bin/peerserver\n",
        "[Desktop Entry]\nExec=" + dir.path().string() + "/gone/QvServer/peerserver\n",
        "[Desktop Entry]\nExec=" + dir.path().string() + "/empty/QvServer/peerserver\n"}) {
    if (!body.empty()) Autostart(dir.path() / "config", body);
    EXPECT_EQ(CheckWorkingDirectory(), -1) << body;
    EXPECT_EQ(fs::current_path(), dir.path());
  }
  EXPECT_EQ(Log(),
            std::string(kCannotFind) + kCannotFind + kCannotFind + kCannotFind + kCannotFind);
}

// With no vane.ini anywhere the account's folder is made once (where the
// system keeps per-account state) and found again; without a state home
// nothing is made at all.
TEST_F(DeviceIdentityTest, OnlyTheAccountsFolderIsEverMadeAndOnlyOnce) {
  const fs::path started = dir.path() / "started";
  fs::create_directories(started);
  fs::current_path(started);
  const fs::path work = dir.path() / "state" / "quovane" / "work";
  const SettledWorkingDirectory made = SettleWorkingDirectory();
  if (!platform::StateHome()) {  // Windows keeps its state beside the program
    EXPECT_FALSE(made.chosen);
    EXPECT_TRUE(Contains(made.problem, "no vane.ini in "));
    EXPECT_FALSE(fs::exists(dir.path() / "state"));
    return;
  }
  ASSERT_TRUE(made.chosen) << made.problem;
  EXPECT_EQ(made.chosen->source, WorkingDirectory::kAccountMade);
  EXPECT_EQ(fs::current_path(), work);
  EXPECT_NE(ReadText(work / "vane.ini").find("\nAppPath=webroot\n"), std::string::npos);
  EXPECT_EQ(fs::read_symlink(work / "vclient"), "webroot/vclient");
  EXPECT_TRUE(fs::is_empty(started));
  ASSERT_EQ(CheckWorkingDirectory(), 0);
  EXPECT_EQ(Log(work / "QvDebug.log"),
            "Working path made for the account: " + work.string() + "\n");

  WriteIni("AppPort=1\n");  // the account's own, kept
  fs::current_path(started);
  const SettledWorkingDirectory found = SettleWorkingDirectory();
  ASSERT_TRUE(found.chosen);
  EXPECT_EQ(found.chosen->source, WorkingDirectory::kAccount);
  EXPECT_EQ(ReadText(work / "vane.ini"), "[Quovane]\nAppPort=1\n");
  // The move is logged once, by the check that follows it.
  ASSERT_EQ(CheckWorkingDirectory(), 0);

  // No XDG_STATE_HOME and no HOME: no folder for the account's state.
  fs::current_path(started);
  ScopedEnvironment homeless{{{"XDG_STATE_HOME", "relative"}, {"HOME", std::nullopt}}};
  const SettledWorkingDirectory none = SettleWorkingDirectory();
  EXPECT_FALSE(none.chosen);
  EXPECT_TRUE(Contains(none.problem, "nothing is made where no vane.ini was"));
  EXPECT_TRUE(fs::is_empty(started));
}

TEST(WorkingPathFromCommand, CutsBeforeFirstQvServer) {
  EXPECT_EQ(WorkingPathFromCommand("C:\\Program Files\\Quovane\\QvServer\\peerserver.exe -wbx"),
            "C:\\Program Files\\Quovane");
  EXPECT_EQ(WorkingPathFromCommand("  \"/a/QvServer/b\\QvServer/p\""), "/a");
  EXPECT_EQ(WorkingPathFromCommand("/x\\y\\QvServer/a/QvServer"), "/x\\y");
  EXPECT_EQ(WorkingPathFromCommand("/QvServer/peerserver"), "/");
  for (const char* command : {"\\QvServer\\p", "QvServer/p", "/opt/qvserver/p"}) {
    EXPECT_EQ(WorkingPathFromCommand(command), std::nullopt) << command;
  }
}

TEST(WorkingPathFromProgramDirectory, TheFolderAboveAQvServerFolder) {
  EXPECT_EQ(WorkingPathFromProgramDirectory("/home/u/.local/lib/quovane/work/QvServer"),
            "/home/u/.local/lib/quovane/work");
  EXPECT_EQ(WorkingPathFromProgramDirectory("C:\\Quovane\\qvserver\\"), "C:\\Quovane");
  EXPECT_EQ(WorkingPathFromProgramDirectory("/QvServer"), "/");
  for (const char* dir : {"/work/build/bin", "/a/QvServers", "QvServer", "/QvServer/bin"}) {
    EXPECT_EQ(WorkingPathFromProgramDirectory(dir), std::nullopt) << dir;
  }
}

TEST(AdapterAddressText, LowerCaseHexWithoutSeparatorsAtMostEightBytes) {
  const uint8_t mac[] = {0x00, 0xA0, 0xC9, 0x1E, 0x6B, 0x2C};
  EXPECT_EQ(AdapterAddressText(mac), "00a0c91e6b2c");
  EXPECT_EQ(AdapterAddressText({}), "");
  const uint8_t long_address[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(AdapterAddressText(long_address), "0102030405060708");
}

TEST(IdentifierFromUuid, HardwareNodeOrNodeDerivedFromMachineIdentity) {
  std::array<uint8_t, 16> uuid = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0x11, 0xde,
                                  0x80, 0x01, 0x00, 0xA0, 0xC9, 0x1E, 0x6B, 0x2C};
  EXPECT_EQ(IdentifierFromUuid(uuid, std::string("ignored")), "00a0c91e6b2c");
  uuid[10] = 0x03;  // multicast bit: the system made the node up
  const std::string id = "0123456789abcdef0123456789abcdef";
  // The first six bytes of SHA-256(id), multicast bit set.
  EXPECT_EQ(IdentifierFromUuid(uuid, id), "3fb1bd439947-loc");
  uuid[15] = 0x78;  // another run, another random node: the same identifier
  EXPECT_EQ(IdentifierFromUuid(uuid, id), "3fb1bd439947-loc");
  EXPECT_EQ(IdentifierFromUuid(uuid, std::string("fedcba9876543210fedcba9876543210")),
            "4ba68aa8767b-loc");
  EXPECT_EQ(IdentifierFromUuid(uuid, std::nullopt), "03a0c91e6b78-loc");
}

TEST_F(DeviceIdentityTest, IdentifierHasItsShapeAndStaysTheSame) {
  char first[50] = "old", second[50] = "";
  EXPECT_EQ(CreateDeviceIdentifier(first), 0);
  EXPECT_EQ(CreateDeviceIdentifier(second), 0);
  EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{12}(-loc)?"))) << first;
  EXPECT_STREQ(first, second);
}

TEST_F(DeviceIdentityTest, AdapterCheckMatchesAnAddressAnywhere) {
  const platform::LinkAdapter wired{"eth0", {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, 1};
  const platform::LinkAdapter tunnel{"tun0", {}, 65534};
  struct Case {
    std::vector<platform::LinkAdapter> adapters;
    const char* text;
    bool present;
  };
  const Case cases[] = {
      {{}, "stored-0a1b2c3d4e5f-loc", false},
      {{wired}, "stored-0a1b2c3d4e5f-loc", true},
      {{wired}, "stored-0a1b2c3d4e60", false},
      // An adapter without a hardware address matches every text.
      {{wired, tunnel}, "test", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsAdapterIn(c.text, c.adapters), c.present) << c.text;
  }
}

TEST_F(DeviceIdentityTest, MoveDebugLogReplacesBackup) {
  QvLog::GetInstance()->SetLevel(0);
  WriteText("QvDebug.log", "this run\n");
  WriteText("QvDebuglog.bak", "last run\n");
  MoveDebugLog();
  EXPECT_EQ(ReadText("QvDebuglog.bak"), "this run\n");
  EXPECT_FALSE(fs::exists("QvDebug.log"));

  // Nothing to move: the failure is logged (into a fresh trace log).
  QvLog::GetInstance()->SetLevel(3);
  MoveDebugLog();
  EXPECT_FALSE(fs::exists("QvDebuglog.bak"));
  EXPECT_EQ(Log(), "QvNetUtil::MoveDebugLog() could not move debug log...: QvDebug.log\n");
}
