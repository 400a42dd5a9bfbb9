// The desktop on Windows: the main thread's message loop (GetMessage), a
// hidden window of its own that carries the notification-area icon and its
// menu, and dialogs built from in-memory templates (the about box's
// multi-line text control 1013 and OK button; the upgrade notice with its
// 8-second timer 201).
#include <windows.h>
#include <shellapi.h>
// <windows.h> names its own OpenDesktop (a window station call) as a macro.
#undef OpenDesktop

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop.h"

namespace platform {
namespace {

constexpr char kWindowClass[] = "YxnetTray";
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT kTrayCallback = WM_APP + 100;
constexpr UINT kIconId = 107;
constexpr size_t kTipCharacters = 127;
constexpr WORD kTextControl = 1013;
constexpr UINT_PTR kCloseTimer = 201;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

// A dialog template in memory, laid out as the resource compiler would:
// header, then items, each on a 4-byte boundary. Texts are ASCII.
class DialogTemplate {
 public:
  DialogTemplate(const std::string& caption, short cx, short cy, WORD items) {
    Long(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    Long(0);
    words_.push_back(items);
    Rect(0, 0, cx, cy);
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the standard dialog class
    Text(caption);
    words_.push_back(8);
    Text("MS Sans Serif");
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD window_class,
            const std::string& text) {
    if (words_.size() % 2 != 0) words_.push_back(0);
    Long(style | WS_CHILD | WS_VISIBLE);
    Long(0);
    Rect(x, y, cx, cy);
    words_.push_back(id);
    words_.push_back(0xFFFF);
    words_.push_back(window_class);
    Text(text);
    words_.push_back(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Long(DWORD value) {
    words_.push_back(LOWORD(value));
    words_.push_back(HIWORD(value));
  }
  void Rect(short x, short y, short cx, short cy) {
    for (short value : {x, y, cx, cy}) words_.push_back(static_cast<WORD>(value));
  }
  void Text(std::string_view text) {
    for (char c : text) words_.push_back(static_cast<unsigned char>(c));
    words_.push_back(0);
  }

  std::vector<WORD> words_;  // vector storage is aligned well beyond 4 bytes
};

struct OpenDialog {
  const Dialog* request;
  HWND window = nullptr;
};

class WinDesktop;
WinDesktop* g_desktop = nullptr;

class WinDesktop final : public Desktop {
 public:
  explicit WinDesktop(std::string icon_file) : icon_file_(std::move(icon_file)) {
    g_desktop = this;
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = &WinDesktop::WindowProc;
    window_class.hInstance = ::GetModuleHandleA(nullptr);
    window_class.lpszClassName = kWindowClass;
    ::RegisterClassA(&window_class);
    window_ = ::CreateWindowA(kWindowClass, kWindowClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                              window_class.hInstance, nullptr);
    main_thread_ = ::GetCurrentThreadId();
  }

  bool HasDisplay() const override { return window_ != nullptr; }

  intptr_t Run(MessageQueue& queue, uint32_t quit_id,
               const std::function<void(const Message&)>& handle) override {
    queue_ = &queue;
    quit_id_ = quit_id;
    handle_ = &handle;
    quit_.reset();
    HWND window = window_;
    queue.SetWaker([window] { ::PostMessageA(window, kWakeMessage, 0, 0); });
    ::PostMessageA(window_, kWakeMessage, 0, 0);  // what came before the loop
    MSG message;
    while (!quit_ && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    queue.SetWaker(nullptr);
    queue_ = nullptr;
    return quit_.value_or(0);
  }

  void AddTrayIcon(TrayIcon icon) override {
    icon_ = std::move(icon);
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = window_;
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallback;
    data.hIcon = static_cast<HICON>(
        ::LoadImageA(nullptr, IconPath().c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
    if (data.hIcon == nullptr) data.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    const std::string tip = icon_.tip.substr(0, std::min(kTipCharacters, sizeof data.szTip - 1));
    std::copy(tip.begin(), tip.end(), data.szTip);
    ::Shell_NotifyIconA(NIM_ADD, &data);
    ::DestroyIcon(data.hIcon);
  }

  void SetTrayTip(const std::string& tip) override {
    icon_.tip = tip;
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = window_;
    data.uID = kIconId;
    data.uFlags = NIF_TIP;
    const std::string text = tip.substr(0, std::min(kTipCharacters, sizeof data.szTip - 1));
    std::copy(text.begin(), text.end(), data.szTip);
    ::Shell_NotifyIconA(NIM_MODIFY, &data);
  }

  void RemoveTrayIcon() override {
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = window_;
    data.uID = kIconId;
    data.uCallbackMessage = kTrayCallback;
    ::Shell_NotifyIconA(NIM_DELETE, &data);
  }

  void TrackMenu(const std::vector<MenuItem>& items) override {
    if (menu_ == nullptr) {
      menu_ = ::CreatePopupMenu();
      for (const MenuItem& item : items) {
        ::AppendMenuA(menu_, MF_STRING, static_cast<UINT_PTR>(item.command), item.label.c_str());
      }
    }
    POINT at;
    ::GetCursorPos(&at);
    ::SetForegroundWindow(window_);
    ::TrackPopupMenu(menu_, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
    // Lets the menu close when the user clicks elsewhere.
    ::PostMessageA(window_, WM_NULL, 0, 0);
  }

  void ShowDialog(const Dialog& dialog) override {
    // Windows lets any thread own a modal dialog; only the main thread's
    // is owned by the hidden window.
    const bool main = ::GetCurrentThreadId() == main_thread_;
    DialogTemplate layout(dialog.caption, dialog.text_box ? 220 : 100,
                          dialog.text_box ? 140 : 50, dialog.text_box ? 2 : 1);
    if (dialog.text_box) {
      layout.Item(ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
                  7, 7, 206, 106, kTextControl, kEditClass, "");
      layout.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 85, 119, 50, 14, IDOK, kButtonClass, "OK");
    } else {
      layout.Item(SS_LEFT, 10, 10, 80, 30, static_cast<WORD>(-1), kStaticClass, dialog.text);
    }
    OpenDialog open{&dialog};
    ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), layout.get(),
                              main ? window_ : nullptr, &WinDesktop::DialogProc,
                              reinterpret_cast<LPARAM>(&open));
    std::lock_guard<std::mutex> hold(dialogs_lock_);
    std::erase(open_dialogs_, &open);
  }

 private:
  std::string IconPath() const {
    const size_t dot = icon_file_.rfind('.');
    return (dot == std::string::npos ? icon_file_ : icon_file_.substr(0, dot)) + ".ico";
  }

  void Drain() {
    while (queue_ != nullptr && !quit_) {
      std::optional<Message> message = queue_->TryGet();
      if (!message) return;
      if (message->id == quit_id_) {
        Quit(message->wparam);
        return;
      }
      (*handle_)(*message);
    }
  }

  void Quit(intptr_t code) {
    quit_ = code;
    {
      // A modal dialog runs a loop of its own: end it too.
      std::lock_guard<std::mutex> hold(dialogs_lock_);
      for (OpenDialog* open : open_dialogs_) {
        if (open->window != nullptr) ::PostMessageA(open->window, WM_COMMAND, IDCANCEL, 0);
      }
    }
    ::PostQuitMessage(0);
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    WinDesktop* self = g_desktop;
    if (self == nullptr || self->window_ != window) {
      return ::DefWindowProcA(window, message, wparam, lparam);
    }
    switch (message) {
      case kWakeMessage:
        self->Drain();
        return 0;
      case kTrayCallback:
        if (self->icon_.on_mouse) self->icon_.on_mouse(static_cast<int>(lparam));
        return 0;
      case WM_COMMAND:
        if (self->icon_.on_pick) self->icon_.on_pick(LOWORD(wparam));
        return 0;
      case WM_CLOSE:
        // Closing is the main window's business (a task manager closes
        // every window of the process): this one carries the loop's
        // wake-ups and must live until the loop ends.
        return 0;
      default:
        return ::DefWindowProcA(window, message, wparam, lparam);
    }
  }

  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_INITDIALOG: {
        auto* open = reinterpret_cast<OpenDialog*>(lparam);
        open->window = dialog;
        if (open->request->text_box) ::SetDlgItemTextA(dialog, kTextControl, open->request->text.c_str());
        if (open->request->timeout_ms > 0) {
          ::SetTimer(dialog, kCloseTimer, static_cast<UINT>(open->request->timeout_ms), nullptr);
        }
        if (g_desktop != nullptr) {
          std::lock_guard<std::mutex> hold(g_desktop->dialogs_lock_);
          g_desktop->open_dialogs_.push_back(open);
        }
        return TRUE;
      }
      case WM_TIMER:
        if (wparam == kCloseTimer) ::EndDialog(dialog, IDOK);
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) ::EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      case WM_CLOSE:
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      default:
        return FALSE;
    }
  }

  const std::string icon_file_;
  HWND window_ = nullptr;
  DWORD main_thread_ = 0;
  TrayIcon icon_;
  HMENU menu_ = nullptr;
  MessageQueue* queue_ = nullptr;
  uint32_t quit_id_ = 0;
  const std::function<void(const Message&)>* handle_ = nullptr;
  std::optional<intptr_t> quit_;
  std::mutex dialogs_lock_;
  std::vector<OpenDialog*> open_dialogs_;
};

}  // namespace

OpenedDesktop OpenDesktop(const std::string& icon_file) {
  return {std::make_unique<WinDesktop>(icon_file), {}};
}

}  // namespace platform
