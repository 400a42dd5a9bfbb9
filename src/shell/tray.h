// The tray: the icon in the notification area, its menu (full or limited by
// the "TrayLimited" setting, loaded once per run), the about box with the
// module list, and the upgrade notice. MainWndProc drives it; what is shown
// goes through the shell's desktop, which draws nothing without a display.
#pragma once

#include <string>
#include <vector>

#include "platform/desktop.h"

class QvDevice;

namespace shell {

inline constexpr char kTrayTip[] = "Yxnetwork";

// Menu 110 when "TrayLimited" is "0" (or absent), else menu 113.
std::vector<platform::MenuItem> TrayMenu(const std::string& tray_limited);
// The about box's text: the product and version, then one line per module
// of the list, "none" for a module without a version.
std::string AboutText(const QvDevice& device);

// The menu of this run: read on first use, kept until the loop ends.
const std::vector<platform::MenuItem>& LoadedTrayMenu();
void DestroyTrayMenu();

void AddTrayIcon(const std::string& tip);
void RemoveTrayIcon();
// The icon's tooltip: "Yxnetwork" and the device's standing with its broker.
void SetTrayTip(const std::string& tip);
// The tray callback: a right click shows the menu, a double click is logged.
void OnTrayMouse(int mouse_message);
void ShowAboutBox();
// Installed as the upgrade's notice: shown modally when the companion
// window is up, closing by itself after eight seconds.
void ShowUpgradeNotice();
// Why a companion program the user launched from the menu did not start;
// closes by itself after eight seconds.
void ShowCompanionNotice(const std::string& text);

}  // namespace shell
