#include "common/device.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "common/ini_file.h"
#include "common/log.h"
#include "common/module_entry.h"
#include "support/work_dir.h"

namespace {

class DeviceTest : public ::testing::Test {
 protected:
  QvDevice& Load(const std::string& settings) {
    WriteText("vane.ini", "[Quovane]\n" + settings);
    QvLog::ReleaseInstance();  // the log reads its level afresh
    device = std::make_unique<QvDevice>();
    EXPECT_EQ(device->LoadConfiguration(), 0);
    return *device;
  }
  std::string Setting(const std::string& key) {
    return std::string(IniFind(ReadText("vane.ini"), "Quovane", key).value_or("<missing>"));
  }

  ScopedWorkDir dir;
  std::unique_ptr<QvDevice> device;
};

}  // namespace

TEST_F(DeviceTest, LoadsIdentityAndSettings) {
  QvDevice& loaded = Load("DeviceSID=None\nDeviceUID=10.0.0.7-abc-0\nAppPort=4080\nyxport=99\n"
                          "AutoLogin=1\nHungryXPeer=0\nBadResponseThreshold=5\nUserSID=0\n");
  EXPECT_TRUE(loaded.IsLoaded());
  EXPECT_EQ(loaded.GetAppIP(), "localhost");
  EXPECT_EQ(loaded.GetAppPort(), "4080");
  EXPECT_EQ(loaded.GetYxport(), "99");
  EXPECT_EQ(loaded.GetDeviceUID(), "10.0.0.7-abc-0");
  EXPECT_FALSE(loaded.IsRegistered());
  EXPECT_EQ(loaded.GetDeviceKey(), "");
  EXPECT_TRUE(loaded.GetAutoLogin());
  EXPECT_FALSE(loaded.GetHungryXPeer());
  EXPECT_EQ(loaded.GetBadResponseThreshold(), 5);
  EXPECT_FALSE(loaded.HasUser());
  EXPECT_FALSE(loaded.GetUUID().empty());
  ASSERT_NE(loaded.GetEndpoint(), nullptr);

  // A reload reads everything again and keeps the same endpoint record.
  QvBrokerEndpoint* endpoint = loaded.GetEndpoint();
  WriteText("vane.ini", "[Quovane]\nDeviceSID=77\nAppIP=host.local\nUserSID=u1\n");
  ASSERT_EQ(loaded.LoadConfiguration(), 0);
  EXPECT_TRUE(loaded.IsRegistered());
  EXPECT_EQ(loaded.GetAppIP(), "host.local");
  EXPECT_TRUE(loaded.HasUser());
  EXPECT_EQ(loaded.GetEndpoint(), endpoint);
}

TEST_F(DeviceTest, WithoutConfigurationNothingLoads) {
  QvDevice empty;
  EXPECT_EQ(empty.LoadConfiguration(), -1);
  EXPECT_FALSE(empty.IsLoaded());
}

TEST_F(DeviceTest, HostsMatchExactly) {
  QvDevice& loaded = Load("AllowHosts=127.0.0.1;10.0.0.7\n");
  EXPECT_TRUE(loaded.IsHostAllowed("127.0.0.1"));
  EXPECT_TRUE(loaded.IsHostAllowed("10.0.0.7"));
  EXPECT_FALSE(loaded.IsHostAllowed("127.0.0.01"));
  EXPECT_FALSE(loaded.IsHostAllowed("127.0.0.1 "));
  EXPECT_FALSE(Load("AllowHosts=\n").IsHostAllowed("127.0.0.1"));
  // A missing key reads as "0": the one-entry list "0".
  EXPECT_TRUE(Load("").IsHostAllowed("0"));
}

TEST_F(DeviceTest, FilePatterns) {
  QvDevice& loaded = Load("AllowFiles=*.jpg;*.htm;vclient\n");
  EXPECT_TRUE(loaded.IsFileAllowed("/web/photo.JPG"));
  EXPECT_TRUE(loaded.IsFileAllowed("/web/a.htm"));
  EXPECT_FALSE(loaded.IsFileAllowed("/web/a.html"));
  EXPECT_TRUE(loaded.IsFileAllowed("/web/VClient/x.bin"));
  EXPECT_FALSE(loaded.IsFileAllowed("/web/vclient/../secret.jpg"));
  EXPECT_FALSE(loaded.IsFileAllowed("/web/noextension"));
  EXPECT_FALSE(loaded.IsFileAllowed(""));
  EXPECT_FALSE(loaded.IsFileAllowed(nullptr));
  EXPECT_FALSE(Load("AllowFiles=*.HTML\n").IsFileAllowed("/web/a.html"));
}

TEST_F(DeviceTest, AnEmptyPatternAllowsNothingAndIsReported) {
  QvDevice& loaded = Load("AllowFiles=*.html;\nLogLevel=1\n");
  EXPECT_TRUE(loaded.IsFileAllowed("/web/index.html"));
  EXPECT_FALSE(loaded.IsFileAllowed("/web/secret.key"));
  EXPECT_NE(ReadText("QvDebug.log").find("empty entry in AllowFiles"), std::string::npos);
}

TEST_F(DeviceTest, ListsHoldAtMost63Entries) {
  std::string hosts;
  for (int i = 0; i < 70; ++i) hosts += "10.0.0." + std::to_string(i) + ";";
  QvDevice& loaded = Load("AllowHosts=" + hosts + "\n");
  EXPECT_TRUE(loaded.IsHostAllowed("10.0.0.62"));
  EXPECT_FALSE(loaded.IsHostAllowed("10.0.0.63"));
}

TEST_F(DeviceTest, BrokerKeyLimit) {
  QvDevice& loaded = Load("");
  EXPECT_EQ(loaded.SetBrokerKey(std::string(511, 'k').c_str()), 0);
  EXPECT_EQ(loaded.GetBrokerKey(), std::string(511, 'k'));
  EXPECT_EQ(loaded.SetBrokerKey(std::string(512, 'x').c_str()), -1);
  EXPECT_EQ(loaded.SetBrokerKey(nullptr), -1);
  EXPECT_EQ(loaded.GetBrokerKey(), std::string(511, 'k'));
}

TEST_F(DeviceTest, NewDeviceUidIsSavedAndBounded) {
  QvDevice& loaded = Load("");
  loaded.NewDeviceUID("0");
  const std::string uid = loaded.GetDeviceUID();
  EXPECT_EQ(uid, loaded.GetIP() + "-" + loaded.GetUUID() + "-0");
  EXPECT_EQ(Setting("DeviceUID"), uid);

  loaded.SetDeviceUID(std::string(300, 'u').c_str());
  EXPECT_EQ(loaded.GetDeviceUID(), std::string(255, 'u'));
  loaded.NewDeviceUID(std::string(100, 's').c_str());
  EXPECT_EQ(loaded.GetDeviceUID().size(), 59u);
}

TEST_F(DeviceTest, ModuleListOrder) {
  QvDevice& loaded = Load("Modules=QvA.dll;\n");
  ASSERT_EQ(loaded.BuildModuleList("$Revision: 1.160 $"), 8);
  EXPECT_STREQ(loaded.GetModule(0)->GetVersion(), "1.160");
  EXPECT_STREQ(loaded.GetModule(1)->GetName(), "QvA.dll");
  EXPECT_STREQ(loaded.GetModule(7)->GetName(), "QvTransferModule.dll");

  // Without a closing ';' the last built-in module has no room.
  ASSERT_EQ(Load("Modules=QvA.dll;QvB.dll\n").BuildModuleList("$Revision: 1.160 $"), 8);
  EXPECT_STREQ(device->GetModule(7)->GetName(), "QvStatusModule.dll");
  ASSERT_EQ(Load("").BuildModuleList("x"), 7);
  EXPECT_STREQ(device->GetModule(1)->GetName(), "0");
  EXPECT_STREQ(device->GetModule(0)->GetVersion(), "");
}

// Texts are replaced while other threads read them: never half a text.
TEST_F(DeviceTest, FieldsReadWhileWritten) {
  QvDevice& loaded = Load("");
  const std::string a(300, 'a');
  const std::string b(400, 'b');
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) loaded.SetBrokerKey((i % 2 ? a : b).c_str());
  });
  for (int i = 0; i < 2000; ++i) {
    std::string key = loaded.GetBrokerKey();
    ASSERT_TRUE(key.empty() || key == a || key == b);
    loaded.SetOnlineState(i % 2 == 0);
  }
  writer.join();
}

TEST(ModuleEntry, UseCountAndTaking) {
  QvModule entry("QvServer", "1.0");
  EXPECT_EQ(entry.AcquireModule(), 1);
  EXPECT_FALSE(entry.TryTakeModule());
  EXPECT_EQ(entry.ReleaseModule(), 0);
  EXPECT_EQ(entry.ReleaseModule(), -1);
  EXPECT_EQ(entry.GetUseCount(), 0);
  EXPECT_TRUE(entry.TryTakeModule());
  EXPECT_FALSE(entry.TryTakeModule());
  EXPECT_FALSE(entry.AcquireUnlessTaken());
  EXPECT_EQ(entry.GetUseCount(), 0);
}
