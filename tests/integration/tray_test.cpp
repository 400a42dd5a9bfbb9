// The tray on a real X display: Xvfb, trayer as the notification area,
// xdotool as the user, ImageMagick for pictures, xclip for the about box.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kWait = std::chrono::seconds(20);
constexpr int kWidth = 1024;
constexpr int kHeight = 768;

struct Point {
  int x = 0;
  int y = 0;
};

// An X server of its own on a display number nobody holds, and trayer.
class TrayDisplay {
 public:
  TrayDisplay() : dir_(MakeTempDir("tray-display")) {
    static int next = 40 + getpid() % 400;  // a display is not reused within a run
    for (int tries = 0; tries < 20 && name_.empty(); ++tries) {
      const int n = next++;
      if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
      const std::string name = ":" + std::to_string(n);
      // No key repeat (-r): under load xdotool may release a key later than
      // the repeat delay, and the repeat then reaches whatever holds the
      // keyboard next: the Escape that closed the about box closed the next
      // menu before its pick.
      xvfb_ = ChildProcess::Start(
          FindProgram({"/usr/bin/Xvfb"}),
          {name, "-screen", "0", std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24",
           "-nolisten", "tcp", "-noreset", "-r"},
          dir_ / "xvfb.log");
      if (xvfb_ && WaitUntil([&] { return X(name, {"xdotool", "getdisplaygeometry"}) == 0 ||
                                          !xvfb_->Running(); },
                             kWait) &&
          xvfb_->Running()) {
        name_ = name;
      }
    }
    if (name_.empty()) return;
    trayer_ = ChildProcess::Start(
        "/usr/bin/env", {"DISPLAY=" + name_, "trayer", "--edge", "top", "--align", "right",
                         "--widthtype", "pixel", "--width", "120", "--heighttype", "pixel",
                         "--height", "32"},
        dir_ / "trayer.log");
    WaitUntil([&] { return Run({"xdotool", "search", "--class", "trayer"}) == 0; }, kWait);
  }
  ~TrayDisplay() {
    trayer_.reset();
    xvfb_.reset();
    fs::remove_all(dir_);
  }

  const std::string& name() const { return name_; }
  std::string Logs() const {
    return "trayer " + std::string(trayer_ && trayer_->Running() ? "runs" : "ended") + ": " +
           ReadText(dir_ / "trayer.log") + "\nXvfb: " + ReadText(dir_ / "xvfb.log");
  }

  int Run(const std::vector<std::string>& args, std::string* output = nullptr) const {
    return X(name_, args, output);
  }

  // The screen as RGB bytes, row by row.
  std::string Pixels() const {
    const fs::path raw = dir_ / "screen.rgb";
    Run({"import", "-window", "root", "-depth", "8", "rgb:" + raw.string()});
    return ReadText(raw);
  }
  // The middle of the pixels of one colour within the top bar, if any.
  std::optional<Point> FindColour(unsigned char r, unsigned char g, unsigned char b) const {
    const std::string pixels = Pixels();
    if (pixels.size() < static_cast<size_t>(kWidth * kHeight * 3)) return std::nullopt;
    long sum_x = 0, sum_y = 0, count = 0;
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const auto* p = reinterpret_cast<const unsigned char*>(&pixels[(y * kWidth + x) * 3]);
        if (p[0] == r && p[1] == g && p[2] == b) sum_x += x, sum_y += y, ++count;
      }
    }
    if (count < 20) return std::nullopt;
    return Point{static_cast<int>(sum_x / count), static_cast<int>(sum_y / count)};
  }
  // Anything drawn below the tray's bar (the root window is black).
  bool LitBelowBar() const {
    const std::string pixels = Pixels();
    for (size_t i = static_cast<size_t>(40 * kWidth * 3); i < pixels.size(); ++i) {
      if (pixels[i] != 0) return true;
    }
    return false;
  }
  bool Dark(Point at) const {
    const std::string pixels = Pixels();
    const size_t offset = (static_cast<size_t>(at.y) * kWidth + at.x) * 3;
    if (pixels.size() < offset + 3) return true;
    return pixels[offset] == 0 && pixels[offset + 1] == 0 && pixels[offset + 2] == 0;
  }

  void Keep(const std::string& name) const {
    fs::create_directories(ARTIFACTS_DIR);
    Run({"import", "-window", "root", (fs::path(ARTIFACTS_DIR) / name).string()});
  }

 private:
  static int X(const std::string& display, const std::vector<std::string>& args,
               std::string* output = nullptr) {
    std::vector<std::string> argv = {"/usr/bin/env", "DISPLAY=" + display};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, kWait, output);
  }

  fs::path dir_;
  std::string name_;
  std::unique_ptr<ChildProcess> xvfb_;
  std::unique_ptr<ChildProcess> trayer_;
};

std::vector<std::string> MissingTools() {
  std::vector<std::string> missing;
  for (const char* tool : {"trayer", "xdotool", "import", "xclip"}) {
    if (FindProgram({std::string("/usr/bin/") + tool}).empty()) missing.push_back(tool);
  }
  return missing;
}

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindProgram({"/usr/bin/Xvfb"}).empty()) GTEST_SKIP() << "Xvfb is not installed";
    const std::vector<std::string> missing = MissingTools();
    ASSERT_TRUE(missing.empty()) << "missing: " << missing.front();
    display_ = std::make_unique<TrayDisplay>();
    ASSERT_FALSE(display_->name().empty()) << "Xvfb did not start";
  }

  // A peerserver on this display.
  PeerServerOptions OnDisplay(PeerServerOptions options) {
    options.environment["DISPLAY"] = display_->name();
    return options;
  }

  // The icon's blue, found in the tray; where to click.
  Point Icon() {
    std::optional<Point> icon;
    WaitUntil([&] { return (icon = display_->FindColour(0x15, 0x65, 0xc0)).has_value(); }, kWait);
    if (!icon) {
      std::string tree;
      display_->Run({"xwininfo", "-root", "-tree"}, &tree);
      display_->Keep("tray-no-icon.png");
      ADD_FAILURE() << "no tray icon\n" << tree << display_->Logs();
    }
    return icon.value_or(Point{});
  }

  // Opens the menu and picks its item at position (from 1) by keyboard.
  void Pick(int position, const std::string& screenshot = "") {
    const Point icon = Icon();
    const Point below{icon.x - 40, icon.y + 50};
    display_->Run({"xdotool", "mousemove", std::to_string(icon.x), std::to_string(icon.y),
                   "click", "3"});
    ASSERT_TRUE(WaitUntil([&] { return !display_->Dark(below); }, kWait)) << "no menu";
    if (!screenshot.empty()) display_->Keep(screenshot);
    std::vector<std::string> keys = {"xdotool", "key"};
    for (int i = 0; i < position; ++i) keys.push_back("Down");
    keys.push_back("Return");
    display_->Run(keys);
    ASSERT_TRUE(WaitUntil([&] { return display_->Dark(below); }, kWait)) << "menu stays";
  }

  bool Shown(const std::string& caption) const {
    return display_->Run({"xdotool", "search", "--onlyvisible", "--name", "^" + caption + "$"}) ==
           0;
  }
  bool AboutOpen() const { return Shown("About"); }
  // Without a window manager the keyboard goes where the pointer is: the
  // dialog is given the focus first, as a window manager would.
  void Close(const std::string& caption) const {
    display_->Run({"xdotool", "search", "--onlyvisible", "--name", "^" + caption + "$",
                   "windowfocus", "--sync", "key", "Escape"});
    EXPECT_TRUE(WaitUntil([&] { return !Shown(caption); }, kWait));
  }
  void CloseAbout() const { Close("About"); }
  std::string AboutText() const {
    std::string text;
    display_->Run({"xclip", "-o", "-selection", "primary"}, &text);
    return text;
  }

  std::unique_ptr<TrayDisplay> display_;
};

}  // namespace

TEST_F(TrayTest, TheFullMenuLaunchesYxshareShowsTheModulesAndExits) {
  // The full menu (the limited one is the main window's unit test).
  PeerServer server(OnDisplay({.settings = {{"TrayLimited", "0"}}}));
  ASSERT_TRUE(server.ok()) << server.failure();
  CompanionWindow yxshare("Yxshare", server.session());
  ASSERT_TRUE(yxshare.ok());
  display_->Keep("tray-icon.png");
  // The desktop's double click reaches the window as one (what it then does
  // is the main window's unit test); it sends the companion nothing.
  const Point icon = Icon();
  display_->Run({"xdotool", "mousemove", std::to_string(icon.x), std::to_string(icon.y), "click",
                 "--repeat", "2", "--delay", "80", "1"});
  EXPECT_TRUE(
      Eventually([&] { return server.Log(); }, "): OnQvNotifyIcon-- lParam == WM_LBUTTONDBLCLK\n"));

  ASSERT_NO_FATAL_FAILURE(Pick(2, "tray-menu-full.png"));  // Launch Yxshare
  EXPECT_EQ(yxshare.Wait(1), std::vector<std::string>{"SHOW"});

  ASSERT_NO_FATAL_FAILURE(Pick(3));  // About...
  ASSERT_TRUE(WaitUntil([&] { return AboutOpen(); }, kWait));
  display_->Keep("tray-about.png");
  EXPECT_TRUE(Contains(AboutText(), "\r\n\r\nYxnet Modules:\r\nQvServer: 1.160\r\n"));
  CloseAbout();

  ASSERT_NO_FATAL_FAILURE(Pick(4));  // Exit
  EXPECT_EQ(server.WaitExit(std::chrono::seconds(60)), 0);
  EXPECT_EQ(yxshare.Wait(2), (std::vector<std::string>{"SHOW", "WM_CLOSE"}));
  const std::string log = ReadText(server.work() / "QvDebuglog.bak");
  EXPECT_LT(log.find("): MainWndProc Getting WM_DESTROY\n"), log.find("): ShutdownServer()\n"));
  EXPECT_TRUE(HasLogLine(log, "Exiting QvServer"));
}

// The upgrade's quit waits for its notice (here closed by the user before
// its eight seconds), then closes the companion window.
TEST_F(TrayTest, AnUpgradeShowsItsNoticeBeforeTheQuit) {
  PeerServer server(OnDisplay({.settings = {{"HeartbeatSleep", "10000"}}, .with_broker = true}));
  ASSERT_TRUE(server.ok()) << server.failure();
  CompanionWindow companion("Yxnetwork", server.session());
  ASSERT_TRUE(companion.ok());
  server.broker()->Admin("/admin/message?messageType%3DQuitWithInst%26messageSID%3Dq3");

  ASSERT_TRUE(WaitUntil([&] { return Shown("Yxnetwork"); }, kWait)) << server.Log();
  display_->Keep("tray-upgrade-notice.png");
  EXPECT_FALSE(server.WaitExit(std::chrono::milliseconds(0)));
  EXPECT_TRUE(companion.Lines().empty());
  Close("Yxnetwork");
  EXPECT_EQ(server.WaitExit(kWait), 0);
  EXPECT_EQ(companion.Wait(1), std::vector<std::string>{"WM_CLOSE"});
}

// A display, but no desktop library beside the program: no icon, a log line
// that says why, and the program serves as it does headless.
TEST_F(TrayTest, WithoutItsDesktopLibraryItRunsWithoutAnIcon) {
  const fs::path folder = MakeTempDir("peerserver-alone");
  struct Removed {
    fs::path path;
    ~Removed() { fs::remove_all(path); }
  } removed{folder};
  fs::copy_file(PEERSERVER_PROGRAM, folder / "peerserver");
  PeerServer server(OnDisplay({.program = (folder / "peerserver").string()}));
  ASSERT_TRUE(server.ok()) << server.failure() << server.Output();
  EXPECT_TRUE(HasLogLine(server.Log(), "No tray icon: cannot load the desktop library: " +
                                       (folder / "libqvdesktop.so").string() +
                                       ": cannot open shared object file: No such file or "
                                       "directory"))
      << server.Log();
  EXPECT_FALSE(Contains(server.Maps(), "libgtk"));
}

// The icon's tooltip tells the device's state with the broker in the words
// of the start page (the icon's window carries the same text as its name):
// here a broker that logs the device in and then refuses its every beat,
// which is no session.
TEST_F(TrayTest, TheTooltipTellsTheBrokerState) {
  PeerServer server(
      OnDisplay({.settings = {{"DeviceSID", "a-sid-the-broker-never-gave"}}, .with_broker = true}));
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string state =
      "offline: the broker does not know this device at its heartbeat (status 404 after each "
      "login; check DeviceSID in " +
      (server.work() / "vane.ini").string() + ")";
  ASSERT_TRUE(Eventually([&] { return server.Log(); }, "): Broker state: " + state + "\n"));
  // As much as a tooltip holds.
  const std::string tip = ("Yxnetwork: " + state).substr(0, 127);
  std::string named;
  ASSERT_TRUE(WaitUntil(
      [&] {
        return display_->Run({"xdotool", "search", "--name", "^Yxnetwork: offline: ",
                              "getwindowname", "%@"},
                             &named) == 0 &&
               named.find(tip + "\n") != std::string::npos;
      },
      kWait))
      << named;
  const Point icon = Icon();
  display_->Run({"xdotool", "mousemove", std::to_string(icon.x), std::to_string(icon.y)});
  // The tooltip comes once the pointer has rested a moment, below the bar.
  ASSERT_TRUE(WaitUntil([&] { return display_->LitBelowBar(); }, kWait)) << "no tooltip";
  display_->Keep("tray-tooltip.png");
}
