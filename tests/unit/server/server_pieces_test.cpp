// The server's pieces that need no connection: the bind order, the module
// test on a path, and the content type of a file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/device.h"
#include "server/content_type.h"
#include "server/dispatch.h"
#include "server/listener.h"
#include "server/server_state.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

TEST(BindOrder, FirstPassTriesTheConfiguredPortThenTheFixedRanges) {
  std::vector<uint16_t> ports = FirstPassPorts(4321);
  ASSERT_EQ(ports.size(), 940u);
  EXPECT_EQ(ports[0], 4321);
  EXPECT_EQ(ports[1], 82);
  EXPECT_EQ(ports[19], 100);
  EXPECT_EQ(ports[20], 4080);
  EXPECT_EQ(ports.back(), 4999);
  for (uint16_t port : ports) EXPECT_NE(port, 81);

  // Only the low 16 bits of the setting count.
  EXPECT_EQ(FirstPassPorts(0x10000 + 4321)[0], 4321);
  // An unset port (0) would bind a port no page knows: it is not tried.
  std::vector<uint16_t> unset = FirstPassPorts(0);
  ASSERT_EQ(unset.size(), 939u);
  EXPECT_EQ(unset[0], 82);
}

TEST(BindOrder, SecondPassBeginsWith81) {
  std::vector<uint16_t> ports = SecondPassPorts();
  ASSERT_EQ(ports.size(), 940u);
  EXPECT_EQ(ports[0], 81);
  EXPECT_EQ(ports[20], 4080);
  EXPECT_EQ(ports.back(), 4999);
}

TEST(ContentType, FromTheExtensionOfTheFileName) {
  EXPECT_EQ(ContentTypeFor("/web/index.html"), "text/html");
  EXPECT_EQ(ContentTypeFor("/web/INDEX.HTM"), "text/html");
  EXPECT_EQ(ContentTypeFor("/web/vclient/status.js"), "application/javascript");
  EXPECT_EQ(ContentTypeFor("/web/a.png"), "image/png");
  EXPECT_EQ(ContentTypeFor("/web/archive.tar.gz"), "application/octet-stream");
  // A dot in a directory name is no extension.
  EXPECT_EQ(ContentTypeFor("/web/v1.html/readme"), "application/octet-stream");
  EXPECT_EQ(ContentTypeFor("/web/noextension"), "application/octet-stream");
}

class IsDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSettings({{"Modules", "QvExampleModule.dll;"}});
    ASSERT_EQ(device.LoadConfiguration(), 0);
    device.BuildModuleList("$Revision: 1.160 $");
    previous = TheServerState().pDevice.exchange(&device);
  }
  void TearDown() override { TheServerState().pDevice = previous; }

  ScopedWorkDir dir;
  QvDevice device;
  QvDevice* previous = nullptr;
};

TEST_F(IsDllTest, ALowerCaseDllNamingAListedModule) {
  EXPECT_TRUE(isDLL("/web/QvExampleModule.dll"));
  EXPECT_TRUE(isDLL("/web/qvexamplemodule.dll"));  // the list ignores case
  EXPECT_TRUE(isDLL("/web/QvTransferModule.dll"));  // built in
  // The extension does not: this is a file request.
  EXPECT_FALSE(isDLL("/web/QvExampleModule.DLL"));
  EXPECT_FALSE(isDLL("/web/QvExampleModule.dll.html"));

  EXPECT_FALSE(isDLL("/web/Unlisted.dll"));
  EXPECT_TRUE(Logged("isDLL: not in module list:: /web/Unlisted.dll"));
  EXPECT_FALSE(isDLL("QvExampleModule.dll"));
  EXPECT_TRUE(Logged("DLL name malformed: missing leading slash?: QvExampleModule.dll"));

  // Only the file name is looked up; the web call then finds no entry for
  // the whole path (see the module host's tests).
  EXPECT_TRUE(isDLL("/web/vclient/QvExampleModule.dll"));
}

TEST_F(IsDllTest, APathThatFillsItsFieldIsNoModule) {
  char path[sizeof(tagREQUEST::szFilePath)];
  std::string text = "/" + std::string(sizeof path - 20, 'a') + "/QvExampleModule.dll";
  std::memcpy(path, text.data(), sizeof path);  // no terminator inside the field
  EXPECT_FALSE(isDLL(path));
}
