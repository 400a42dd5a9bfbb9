#include "device/device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "base/ini_file.h"
#include "base/log.h"
#include "device/module_entry.h"
#include "support/work_dir.h"

namespace {

class DeviceTest : public ::testing::Test {
 protected:
  QvDevice& Load(const std::string& settings) {
    WriteIni(settings);
    QvLog::ReleaseInstance();  // the log reads its level afresh
    device = std::make_unique<QvDevice>();
    EXPECT_EQ(device->LoadConfiguration(), 0);
    return *device;
  }

  ScopedWorkDir dir;
  std::unique_ptr<QvDevice> device;
};

}  // namespace

TEST_F(DeviceTest, LoadsIdentityAndSettingsAndReloadsInPlace) {
  QvDevice& d = Load("DeviceSID=None\nAutoLogin=1\nHungryXPeer=0\nUserSID=0\n");
  EXPECT_TRUE(d.IsLoaded());
  EXPECT_EQ(d.GetAppIP(), "localhost");
  EXPECT_FALSE(d.IsRegistered());
  EXPECT_TRUE(d.GetAutoLogin());
  EXPECT_FALSE(d.GetHungryXPeer());
  EXPECT_FALSE(d.HasUser());
  QvBrokerEndpoint* endpoint = d.GetEndpoint();
  ASSERT_NE(endpoint, nullptr);
  // Another thread may hold the endpoint: a reload keeps the same record.
  WriteIni("DeviceSID=77\nAppIP=host.local\nUserSID=u1\n");
  ASSERT_EQ(d.LoadConfiguration(), 0);
  EXPECT_TRUE(d.IsRegistered());
  EXPECT_EQ(d.GetAppIP(), "host.local");
  EXPECT_TRUE(d.HasUser());
  EXPECT_EQ(d.GetEndpoint(), endpoint);

  QvDevice empty;
  std::filesystem::remove("vane.ini");
  EXPECT_EQ(empty.LoadConfiguration(), -1);
  EXPECT_FALSE(empty.IsLoaded());
}

TEST_F(DeviceTest, AccessListsMatchHostsExactlyAndFilesByExtensionOrPart) {
  QvDevice& d = Load("AllowHosts=127.0.0.1;10.0.0.7\n");
  EXPECT_TRUE(d.IsHostAllowed("127.0.0.1"));
  EXPECT_TRUE(d.IsHostAllowed("10.0.0.7"));
  EXPECT_FALSE(d.IsHostAllowed("127.0.0.01"));
  EXPECT_FALSE(d.IsHostAllowed("127.0.0.1 "));
  EXPECT_FALSE(Load("AllowHosts=\n").IsHostAllowed("127.0.0.1"));
  EXPECT_TRUE(Load("").IsHostAllowed("0"));  // a missing key reads as "0"

  std::string hosts;
  for (int i = 0; i < 70; ++i) hosts += "10.0.0." + std::to_string(i) + ";";
  EXPECT_TRUE(Load("AllowHosts=" + hosts + "\n").IsHostAllowed("10.0.0.62"));
  EXPECT_FALSE(device->IsHostAllowed("10.0.0.63"));

  // Files match by extension or part; an empty pattern allows nothing.
  QvDevice& f = Load("AllowFiles=*.jpg;*.htm;vclient;\nLogLevel=1\n");
  EXPECT_TRUE(f.IsFileAllowed("/web/photo.JPG"));
  EXPECT_TRUE(f.IsFileAllowed("/web/a.htm"));
  EXPECT_TRUE(f.IsFileAllowed("/web/VClient/x.bin"));
  for (const char* name : {"/web/a.html", "/web/vclient/../secret.jpg", "/web/noextension", ""}) {
    EXPECT_FALSE(f.IsFileAllowed(name)) << name;
  }
  EXPECT_FALSE(f.IsFileAllowed(nullptr));
  EXPECT_TRUE(Contains(ReadText("QvDebug.log"), "empty entry in AllowFiles"));
  EXPECT_FALSE(Load("AllowFiles=*.HTML\n").IsFileAllowed("/web/a.html"));
}

TEST_F(DeviceTest, BrokerKeyAndDeviceUidAreBounded) {
  QvDevice& d = Load("");
  EXPECT_EQ(d.SetBrokerKey(std::string(511, 'k').c_str()), 0);
  EXPECT_EQ(d.SetBrokerKey(std::string(512, 'x').c_str()), -1);
  EXPECT_EQ(d.SetBrokerKey(nullptr), -1);
  EXPECT_EQ(d.GetBrokerKey(), std::string(511, 'k'));

  d.NewDeviceUID("0");
  const std::string uid = d.GetDeviceUID();
  EXPECT_EQ(uid, d.GetIP() + "-" + d.GetUUID() + "-0");
  EXPECT_EQ(IniFind(ReadText("vane.ini"), "Quovane", "DeviceUID"), uid);
  d.SetDeviceUID(std::string(300, 'u').c_str());
  EXPECT_EQ(d.GetDeviceUID(), std::string(255, 'u'));
  d.NewDeviceUID(std::string(100, 's').c_str());
  EXPECT_EQ(d.GetDeviceUID().size(), 59u);
}

TEST_F(DeviceTest, ModuleListHoldsTheServerTheListedAndTheBuiltInModules) {
  std::filesystem::copy_file(EXAMPLE_MODULE, "QvExampleModule.dll");
  QvDevice& d = Load("Modules=QvExampleModule.dll;Missing.dll;\n");
  ASSERT_EQ(d.BuildModuleList("$Revision: 1.160 $"), 9);
  EXPECT_STREQ(d.GetModule(0)->GetName(), "QvServer");
  EXPECT_STREQ(d.GetModule(0)->GetVersion(), "1.160");
  EXPECT_STREQ(d.GetModule(1)->GetVersion(), "1.7");  // learnt by loading it
  EXPECT_FALSE(d.GetModule(2)->HasVersion());
  EXPECT_STREQ(d.GetModule(8)->GetName(), "QvTransferModule.dll");
  EXPECT_EQ(d.GetModule(9), nullptr);
  EXPECT_EQ(d.FindModule("qvexamplemodule.DLL"), d.GetModule(1));
  EXPECT_EQ(d.FindModule("vclient/QvExampleModule.dll"), nullptr);

  // Without a closing ';' the last built-in module has no room.
  ASSERT_EQ(Load("Modules=QvA.dll;QvB.dll\n").BuildModuleList("$Revision: 1.160 $"), 8);
  EXPECT_STREQ(device->GetModule(7)->GetName(), "QvStatusModule.dll");
  // A missing key ("0") lists no module of its own: the six built-in ones follow.
  ASSERT_EQ(Load("").BuildModuleList("x"), 7);
  EXPECT_STREQ(device->GetModule(1)->GetName(), "QvLoginModule.dll");
  EXPECT_STREQ(device->GetModule(6)->GetName(), "QvTransferModule.dll");
  EXPECT_STREQ(device->GetModule(0)->GetVersion(), "");
}

// Texts are replaced while other threads read them: never half a text.
TEST_F(DeviceTest, FieldsReadWhileWritten) {
  QvDevice& d = Load("");
  const std::string a(300, 'a'), b(400, 'b');
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) d.SetBrokerKey((i % 2 ? a : b).c_str());
  });
  for (int i = 0; i < 2000; ++i) {
    std::string key = d.GetBrokerKey();
    ASSERT_TRUE(key.empty() || key == a || key == b);
    d.SetOnlineState(i % 2 == 0);
  }
  writer.join();
}
