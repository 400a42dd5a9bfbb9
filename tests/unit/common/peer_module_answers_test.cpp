#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "common/QvPeerModule.h"
#include "common/help_viewer.h"
#include "common/settings.h"
#include "platform/socket.h"
#include "session/jsp_response.h"
#include "support/loopback.h"
#include "support/work_dir.h"
#include "unit/common/test_module.h"

namespace fs = std::filesystem;

namespace {

std::string Owned(char* text) {
  std::unique_ptr<char[]> owned(text);
  return owned.get();
}

class AnswersTest : public ::testing::Test {
 protected:
  void TearDown() override { QvLog::ReleaseInstance(); }
  ScopedWorkDir dir;
  TestModule module;
};

}  // namespace

TEST_F(AnswersTest, SendBufferDeliversEverythingOnTheRequestSocket) {
  LoopbackPair pair;
  tagREQUEST request{};
  request.hSocket = pair.server();
  module.Execute("", &request);
  // Larger than the socket buffers, so it leaves in parts while being read.
  std::string big(4 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
  std::string received;
  std::thread reader([&] { received = pair.ReadAll(pair.client()); });
  EXPECT_EQ(module.SendBuffer(big.data(), static_cast<int>(big.size())), 1);
  EXPECT_EQ(module.SendBuffer(nullptr, 0), 1);
  platform::SocketDescriptor socket = pair.server();
  EXPECT_EQ(QvPeerModule::SendBuffer("tail", 4, socket), 1);
  platform::ShutdownSend(pair.server());
  reader.join();
  EXPECT_EQ(received, big + "tail");
}

TEST_F(AnswersTest, SendBufferReportsASocketError) {
  UseSettings(4);
  LoopbackPair pair;
  pair.CloseClient();
  platform::SocketDescriptor socket = pair.server();
  std::string data(1 << 20, 'z');
  // The peer is gone: its reset stops the first send or the next one.
  int result = 1;
  for (int attempt = 0; attempt < 8 && result == 1; ++attempt) {
    result = QvPeerModule::SendBuffer(data.data(), static_cast<int>(data.size()), socket);
  }
  EXPECT_EQ(result, 0);
  auto messages = LogMessages();
  EXPECT_EQ(messages.front(), "Want to send: 1048576");
  EXPECT_TRUE(messages.back().starts_with("SendFile SOCKET_ERROR: ")) << messages.back();
  EXPECT_EQ(module.SendBuffer("x", 1), 0);  // no request: nowhere to send
}

TEST_F(AnswersTest, ErrorAnswerCarriesTheCodeAsQvstatus) {
  UseSettings(3);
  EXPECT_EQ(Owned(module.GetCgiErrorReturn("No such file", 404)),
            "HTTP/1.0 200 OK\nqvstatus: 404\n\n<html>No such file</html>\n");
  EXPECT_EQ(Owned(module.GetCgiErrorReturn(std::string(5000, 'm').c_str(), 1)).size(), 4095u);
  EXPECT_EQ(LogMessages().front(), "RegturnCgiError: : No such file");
}

TEST_F(AnswersTest, RedirectPrefersTheDecodedTargetAndRefusesWhatDoesNotFit) {
  module.ParseString("target=http%3A%2F%2Fhost%2Fp.htm&x=1");
  EXPECT_EQ(Owned(module.GetRedirectURL("/vclient/a.htm")), "HTTP/1.0 302 Found\nLocation: http://host/p.htm?");
  module.ParseString("target=&x=1");
  EXPECT_EQ(Owned(module.GetRedirectURL("/vclient/a.htm")), "HTTP/1.0 302 Found\nLocation: /vclient/a.htm?");
  EXPECT_EQ(Owned(module.GetRedirectURL(nullptr)), "");
  // The status line, "Location: " and "?" take 30 of the 255 characters.
  EXPECT_EQ(Owned(module.GetRedirectURL(std::string(225, 'a').c_str())).size(), 255u);
  EXPECT_EQ(Owned(module.GetRedirectURL(std::string(226, 'a').c_str())), "");
}

TEST_F(AnswersTest, JspDetailsMarkAMissingKey) {
  QvJspResponse response;
  ASSERT_EQ(response.BuildResponse("StatusCode=200\r\nn=x\r\nd=y\r\nk=brokerKey=K1\r\n"), 0);
  EXPECT_STREQ(module.GetJspDetails(&response, "brokerKey"), "K1");
  EXPECT_EQ(module.GetJspDetails(nullptr, "brokerKey"), nullptr);
  EXPECT_FALSE(module.DetailsMissing());
  EXPECT_EQ(module.GetJspDetails(&response, "BrokerKey"), nullptr);
  EXPECT_TRUE(module.DetailsMissing());
}

TEST_F(AnswersTest, ContentEntriesListEachNameOnceWithinTheLimit) {
  UseSettings(1);
  QvSettings* settings = QvSettings::GetInstance();
  module.MakeContentEntry("photos", "1.0");
  module.MakeContentEntry("music", "2.1");
  module.MakeContentEntry("photos", "1.1");
  // A part of a listed name counts as listed; its version is still kept.
  module.MakeContentEntry("mus", "0.9");
  EXPECT_EQ(settings->ContentVersions(), "photos,music");
  EXPECT_EQ(settings->GetSetting("photos"), "1.1");
  EXPECT_EQ(settings->GetSetting("mus"), "0.9");

  std::string list = "photos,music";
  for (int i = 0; i < 30; ++i) {
    std::string name = "content" + std::to_string(i);
    module.MakeContentEntry(name.c_str(), "1");
    if (list.size() + 1 + name.size() <= 254) list += "," + name;
  }
  EXPECT_EQ(settings->ContentVersions(), list);
  EXPECT_EQ(settings->GetSetting("content29"), "1");
  EXPECT_EQ(LogMessages().back(), "MakeContentEntry: ContentVersions is full, not listed: content29");
}

TEST_F(AnswersTest, FileSizeAndModificationDate) {
  UseSettings(3);
  WriteText("a b.txt", std::string(1234, 'q'));
  EXPECT_EQ(module.QvGetFileSize("a b.txt"), 1234);
  EXPECT_EQ(module.QvGetFileSize("missing.txt"), 0);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"file size= 1234"}));

  long size = 0;
  char date[32] = "";
  EXPECT_EQ(module.QvGetFileModifyDateAndSize("a%20b.txt", &size, date), 0);
  EXPECT_EQ(size, 1234);
  EXPECT_LE(std::abs(static_cast<long>(std::time(nullptr)) - std::stol(date)), 5);

  EXPECT_EQ(module.QvGetFileModifyDateAndSize("no%20such.txt", &size, date), ENOENT);
  auto messages = LogMessages();
  EXPECT_EQ(messages[messages.size() - 2], "Error getting modified date! Error is" + std::to_string(ENOENT));
  EXPECT_EQ(messages.back(), "Path = : no such.txt");
}

TEST_F(AnswersTest, HelpOpensAnExistingFileWithTheViewer) {
  fs::create_directory("bin");
  WriteText("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > opened.txt\n");
  fs::permissions("bin/xdg-open", fs::perms::owner_all);
  fs::create_directory("help");
  WriteText("help/guide.chm", "help");

  auto viewer = FindHelpViewer("/nonexistent:" + (dir.path() / "bin").string());
  ASSERT_TRUE(viewer.has_value());
  auto started = StartHelpViewer(*viewer, "help\\guide.chm");
  ASSERT_TRUE(started.has_value());
  EXPECT_EQ(started->Wait(), 0);
  EXPECT_EQ(ReadText("opened.txt"), "help/guide.chm");

  EXPECT_FALSE(StartHelpViewer(*viewer, "help\\missing.chm").has_value());
  EXPECT_FALSE(FindHelpViewer("/nonexistent").has_value());
  QvPeerModule::LaunchHelp("help\\missing.chm", "index.htm");  // silently nothing
}
