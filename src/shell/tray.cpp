#include "shell/tray.h"

#include "base/log.h"
#include "base/settings.h"
#include "device/device.h"
#include "device/module_entry.h"
#include "shell/shell.h"

namespace shell {
namespace {

constexpr char kProductVersion[] = "3.6.1";
// The maker's contact lines of the about box.
constexpr char kContactEmail[] = "support@yxnetwork.example";
constexpr char kContactWeb[] = "http://www.yxnetwork.example/";
constexpr int kNoticeMs = 8000;

platform::Desktop& TheDesktop() {
  Shell& shell = TheShell();
  if (!shell.desktop) shell.desktop = platform::OpenPlainDesktop();
  return *shell.desktop;
}

}  // namespace

std::vector<platform::MenuItem> TrayMenu(const std::string& tray_limited) {
  // A missing key reads as "0"; an empty value is not "0".
  if (tray_limited == "0") {
    return {{"Launch Yxphotoshare", kCommandLaunchYxphoto},
            {"Launch Yxshare", kCommandLaunchYxshare},
            {"About...", kCommandAbout},
            {"Exit", kCommandExit}};
  }
  return {{"Launch Yxphotoshare", kCommandLaunchYxphoto},
          {"About...", kCommandAbout},
          {"Exit", kCommandExit}};
}

std::string AboutText(const QvDevice& device) {
  const int count = device.GetModuleCount();
  if (count == 0) return "No modules intialized.";
  std::string text = std::string("Yxnetwork\r\n") + kContactEmail + "\r\n" + kContactWeb +
                     "\r\n [version " + kProductVersion + "]";
  text += "\r\n\r\nYxnet Modules:\r\n";
  for (int i = 0; i < count; ++i) {
    const QvModule* module = device.GetModule(i);
    if (module == nullptr) continue;
    text += module->GetName();
    text += ": ";
    text += module->HasVersion() ? module->GetVersion() : "none";
    text += "\r\n";
  }
  return text;
}

const std::vector<platform::MenuItem>& LoadedTrayMenu() {
  Shell& shell = TheShell();
  if (!shell.tray_menu) shell.tray_menu = TrayMenu(QvSettings::GetInstance()->TrayLimited());
  return *shell.tray_menu;
}

void DestroyTrayMenu() { TheShell().tray_menu.reset(); }

void AddTrayIcon(const std::string& tip) {
  platform::TrayIcon icon;
  icon.tip = tip.empty() ? "Quovane" : tip;
  icon.on_mouse = [](int mouse_message) {
    PostMessage(kTrayCallback, kTrayIconId, {}, mouse_message);
  };
  icon.menu = [] { return LoadedTrayMenu(); };
  icon.on_pick = [](int command) { PostMessage(WM_COMMAND, command); };
  TheDesktop().AddTrayIcon(std::move(icon));
}

void RemoveTrayIcon() { TheDesktop().RemoveTrayIcon(); }

void SetTrayTip(const std::string& tip) { TheDesktop().SetTrayTip(tip); }

void OnTrayMouse(int mouse_message) {
  if (mouse_message == platform::kTrayRightButtonUp) {
    TheDesktop().TrackMenu(LoadedTrayMenu());
  } else if (mouse_message == platform::kTrayLeftDoubleClick) {
    QvLog::GetInstance()->Write("OnQvNotifyIcon-- lParam == WM_LBUTTONDBLCLK", 3);
  }
}

void ShowAboutBox() {
  const QvDevice* device = TheShell().device.get();
  platform::Dialog dialog;
  dialog.caption = "About";
  dialog.text = device != nullptr ? AboutText(*device) : "No modules intialized.";
  dialog.text_box = true;
  TheDesktop().ShowDialog(dialog);
}

void ShowCompanionNotice(const std::string& text) {
  platform::Dialog dialog;
  dialog.caption = "Yxnetwork";
  dialog.text = text;
  dialog.timeout_ms = kNoticeMs;
  TheDesktop().ShowDialog(dialog);
}

void ShowUpgradeNotice() {
  platform::Dialog dialog;
  dialog.caption = "Yxnetwork";
  dialog.text = "About to upgrade Yxnetwork";
  dialog.timeout_ms = kNoticeMs;
  TheDesktop().ShowDialog(dialog);
}

}  // namespace shell
