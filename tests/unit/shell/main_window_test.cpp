// The main window's procedure driven by posted messages, without a display.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/log.h"
#include "device/device.h"
#include "net/request_deadline.h"
#include "platform/window_endpoint.h"
#include "shell/shell.h"
#include "shell/tray.h"
#include "support/child_process.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

using platform::MenuItem;

struct RecordingDesktop final : platform::Desktop {
  bool HasDisplay() const override { return true; }
  intptr_t Run(platform::MessageQueue&, uint32_t,
               const std::function<void(const platform::Message&)>&) override {
    return 0;
  }
  void AddTrayIcon(platform::TrayIcon icon) override { tips.push_back(icon.tip); }
  void RemoveTrayIcon() override { ++removed; }
  void SetTrayTip(const std::string& tip) override { tips.push_back(tip); }
  void TrackMenu(const std::vector<MenuItem>& items) override { menus.push_back(items); }
  void ShowDialog(const platform::Dialog& dialog) override { dialogs.push_back(dialog); }

  std::vector<std::string> tips;
  int removed = 0;
  std::vector<std::vector<MenuItem>> menus;
  std::vector<platform::Dialog> dialogs;
};

std::vector<std::string> Labels(const std::vector<MenuItem>& items) {
  std::vector<std::string> labels;
  for (const MenuItem& item : items) labels.push_back(item.label + " " + std::to_string(item.command));
  return labels;
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : session_(MakeTempDir("shell-session")),
                     environment_({{"XDG_RUNTIME_DIR", session_.string()}}) {
    fs::permissions(session_, fs::perms::owner_all);
    WriteText("vane.ini", IniText({{"LogLevel", "3"}, {"TrayLimited", "1"}}));
    QvLog::ReleaseInstance();
    auto desktop = std::make_unique<RecordingDesktop>();
    desktop_ = desktop.get();
    shell::TheShell().desktop = std::move(desktop);
    shell::DestroyTrayMenu();
  }
  ~MainWindowTest() override {
    Posted();
    // WM_CLOSE stops the process's outbound requests: the tests after this
    // one make theirs.
    ResumeOutboundRequests();
    shell::TheShell().stop_requested.store(false);
    shell::TheShell().desktop.reset();
    shell::TheShell().device.reset();
    shell::DestroyTrayMenu();
    QvLog::ReleaseInstance();
    fs::remove_all(session_);
  }

  static void Send(uint32_t id, intptr_t wparam, intptr_t lparam = 0) {
    shell::MainWndProc(platform::Message{id, wparam, lparam, {}});
  }
  // The messages the procedure posted, taken off the queue.
  static std::vector<std::pair<uint32_t, intptr_t>> Posted() {
    std::vector<std::pair<uint32_t, intptr_t>> posted;
    while (auto message = shell::TheShell().queue.TryGet()) {
      posted.emplace_back(message->id, message->wparam);
    }
    return posted;
  }

  ScopedWorkDir dir_;
  fs::path session_;
  ScopedEnvironment environment_;
  RecordingDesktop* desktop_ = nullptr;
};

}  // namespace

TEST(TrayMenu, TrayLimitedChoosesTheFullOrTheLimitedMenu) {
  const std::vector<std::string> full = {"Launch Yxphotoshare 40006", "Launch Yxshare 40003",
                                         "About... 40002", "Exit 40001"};
  const std::vector<std::string> limited = {"Launch Yxphotoshare 40006", "About... 40002",
                                            "Exit 40001"};
  for (const auto& [value, expected] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"0", full}, {"", limited}, {"1", limited}, {"00", limited}, {"yes", limited}}) {
    EXPECT_EQ(Labels(shell::TrayMenu(value)), expected) << value;
  }
}

TEST(AboutText, ListsEveryModuleWithItsVersionOrNone) {
  ScopedWorkDir dir;
  fs::copy_file(EXAMPLE_MODULE, "QvTransferModule.dll");
  WriteText("vane.ini", IniText({{"Modules", "Odd.dll;QvTransferModule.dll"}}));
  QvDevice device;
  EXPECT_EQ(shell::AboutText(device), "No modules intialized.");
  device.BuildModuleList("$Revision: 1.160 $");
  const std::string text = shell::AboutText(device);
  EXPECT_EQ(text.substr(0, text.find("Yxnet Modules:")),
            "Yxnetwork\r\nsupport@yxnetwork.example\r\nhttp://www.yxnetwork.example/\r\n"
            " [version 3.6.1]\r\n\r\n");
  EXPECT_TRUE(Contains(text,
                       "\r\n\r\nYxnet Modules:\r\nQvServer: 1.160\r\nOdd.dll: "
                       "none\r\nQvTransferModule.dll: 1.7\r\n"));
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  QvLog::ReleaseInstance();
}

TEST_F(MainWindowTest, ARightClickShowsTheMenuLoadedOnceADoubleClickOnlyLogs) {
  Send(shell::kTrayCallback, shell::kTrayIconId, platform::kTrayRightButtonUp);
  // A change while running waits for the next start.
  WriteText("vane.ini", IniText({{"LogLevel", "3"}, {"TrayLimited", "0"}}));
  Send(shell::kTrayCallback, shell::kTrayIconId, platform::kTrayRightButtonUp);
  ASSERT_EQ(desktop_->menus.size(), 2u);
  EXPECT_EQ(Labels(desktop_->menus[1]), Labels(shell::TrayMenu("1")));

  Send(shell::kTrayCallback, shell::kTrayIconId, platform::kTrayLeftDoubleClick);
  Send(shell::kTrayCallback, shell::kTrayIconId, 0x0201);  // a single left click
  EXPECT_EQ(desktop_->menus.size(), 2u);
  EXPECT_EQ(LogCount("OnQvNotifyIcon-- lParam == WM_LBUTTONDBLCLK"), 1u);
  EXPECT_TRUE(Posted().empty());
}

TEST_F(MainWindowTest, MenuCommandsReachTheCompanionsTheAboutBoxAndTheWindow) {
  CompanionWindow yxshare("Yxshare");
  ASSERT_TRUE(yxshare.ok());
  Send(shell::WM_COMMAND, shell::kCommandLaunchYxshare);
  Send(shell::WM_COMMAND, shell::kCommandCloseYxshare);
  Send(shell::WM_COMMAND, shell::kCommandAbout);
  Send(shell::WM_COMMAND, shell::kCommandExit);
  EXPECT_EQ(yxshare.Wait(3), (std::vector<std::string>{"SHOW", "WM_CLOSE", "WM_CLOSE"}));
  EXPECT_EQ(Posted(), (std::vector<std::pair<uint32_t, intptr_t>>{{shell::WM_CLOSE, 0}}));
  ASSERT_EQ(desktop_->dialogs.size(), 1u);
  EXPECT_EQ(desktop_->dialogs[0].caption, "About");
  EXPECT_EQ(desktop_->dialogs[0].text, "No modules intialized.");
  EXPECT_TRUE(desktop_->dialogs[0].text_box);

  // Closing destroys the window: the icon goes and the loop is told to end.
  Send(shell::WM_CLOSE, 0);
  EXPECT_EQ(desktop_->removed, 1);
  EXPECT_EQ(Posted(), (std::vector<std::pair<uint32_t, intptr_t>>{{shell::WM_QUIT, 0}}));
  EXPECT_TRUE(Logged("MainWndProc Getting WM_DESTROY"));
}

// A missing one is a failure the user asked about: logged at level 1 and
// told in a notice, naming the file and where it was looked for.
TEST_F(MainWindowTest, CompanionProgramsStartFromTheWorkingDirectoryOrSayWhatIsMissing) {
  WriteText("vane.ini", IniText({{"LogLevel", "1"}}));
  QvLog::ReleaseInstance();
  const std::string here = fs::current_path().string();
  struct Case {
    int command;
    std::string line;
    std::string notice;
  };
  const std::vector<Case> cases = {
      {shell::kCommandLaunchYxphoto, "Could not launch yx.exe!!!: there is no YXPHOTO.EXE in ",
       "Yxphotoshare cannot be launched: there is no YXPHOTO.EXE in "},
      {shell::kCommandLaunchYxmsg, "Could not launch Yxmsg.exe!!!: there is no YXMSG.EXE in ",
       "Yxmsg cannot be launched: there is no YXMSG.EXE in "},
      {shell::kCommandLaunchYxshare, "Could not launch Yxshare.exe!!!: there is no Yxshare.exe in ",
       "Yxshare cannot be launched: there is no Yxshare.exe in "},
  };
  for (const Case& c : cases) Send(shell::WM_COMMAND, c.command);
  ASSERT_EQ(desktop_->dialogs.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_TRUE(Logged(cases[i].line + here)) << cases[i].line;
    EXPECT_EQ(desktop_->dialogs[i].caption, "Yxnetwork");
    EXPECT_EQ(desktop_->dialogs[i].text, cases[i].notice + here + ".");
  }
  for (const char* program : {"YXPHOTO.EXE", "YXMSG.EXE", "Yxshare.exe"}) {
    WriteText(program, std::string("#!/bin/sh\necho started > ") + program + ".ran\n");
    fs::permissions(program, fs::perms::owner_all);
  }
  Send(shell::WM_COMMAND, shell::kCommandLaunchYxphoto);
  Send(shell::WM_COMMAND, shell::kCommandLaunchYxmsg);
  Send(shell::WM_COMMAND, shell::kCommandLaunchYxshare);  // no Yxshare window: started
  for (const char* program : {"YXPHOTO.EXE", "YXMSG.EXE", "Yxshare.exe"}) {
    const fs::path ran = std::string(program) + ".ran";
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(ran) && fs::file_size(ran) > 0; },
                          std::chrono::seconds(10)))
        << program;
  }
  EXPECT_EQ(LogCount(cases[0].line + here), 1u);
  EXPECT_EQ(desktop_->dialogs.size(), cases.size());
}

TEST_F(MainWindowTest, TheQuovaneMessageWithZeroAsksForTheUserLogout) {
  Send(shell::kQuovaneMessage, 1);
  EXPECT_TRUE(Posted().empty());
  Send(shell::kQuovaneMessage, 0);
  EXPECT_EQ(Posted(), (std::vector<std::pair<uint32_t, intptr_t>>{
                          {shell::WM_COMMAND, shell::kCommandUserLogout}}));
  EXPECT_EQ(LogCount("MainWndProc Getting wParam==0"), 1u);
}
