// The main thread's face on the desktop: the loop that hands the main
// window's messages to its procedure, and, with a display, the icon in the
// notification area, its menu and modal dialogs. Without a display the same
// loop runs alone; icon, menus and dialogs are then quietly not shown, so
// everything else works as it does on a desktop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_queue.h"

namespace platform {

// What a tray icon reports of the mouse, as window messages number them.
enum : int {
  kTrayLeftDoubleClick = 0x0203,
  kTrayRightButtonUp = 0x0205,
};

struct MenuItem {
  std::string label;
  int command = 0;
};

struct TrayIcon {
  std::string tip;
  std::function<void(int mouse_message)> on_mouse;
  // Hosts that show an icon's menu themselves ask for it once, with the
  // icon; they report no mouse messages.
  std::function<std::vector<MenuItem>()> menu;
  std::function<void(int command)> on_pick;
};

struct Dialog {
  std::string caption;
  std::string text;
  bool text_box = false;  // a multi-line text control, not a static text
  int timeout_ms = 0;     // above 0: closes by itself after that long
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // True when icon, menus and dialogs are shown for real.
  virtual bool HasDisplay() const = 0;
  // Hands each message posted to queue to handle, on this thread and in
  // order, until one with quit_id comes; returns its wparam. Messages keep
  // flowing while a modal dialog is up; the quit message closes it.
  virtual intptr_t Run(MessageQueue& queue, uint32_t quit_id,
                       const std::function<void(const Message&)>& handle) = 0;
  virtual void AddTrayIcon(TrayIcon icon) = 0;
  virtual void RemoveTrayIcon() = 0;
  // The icon's tooltip from now on (cut to what the platform shows).
  virtual void SetTrayTip(const std::string& tip) = 0;
  // Pops the items up at the pointer; a pick goes to the icon's on_pick.
  virtual void TrackMenu(const std::vector<MenuItem>& items) = 0;
  // Modal: returns when the dialog is closed. From another thread it waits
  // (bounded) for the main thread to show and close it.
  virtual void ShowDialog(const Dialog& dialog) = 0;
};

// What opening the desktop gave: a desktop always, and why icons will not
// be shown where a display is there but its desktop could not be opened.
struct OpenedDesktop {
  std::unique_ptr<Desktop> desktop;
  std::string problem;  // empty when all is well
};

// The desktop of the display the session names, the plain loop without
// one. Once, on the main thread. icon_file is the tray icon's image.
OpenedDesktop OpenDesktop(const std::string& icon_file);
// The loop alone: no icon, menus or dialogs.
std::unique_ptr<Desktop> OpenPlainDesktop();

}  // namespace platform
