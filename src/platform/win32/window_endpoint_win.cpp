// Window endpoints as real windows: an endpoint is a hidden top-level window
// whose class and title are the endpoint's title (the main window is class
// "Yxnet"), found with FindWindow; companion programs are dialog windows
// (class "#32770") found by their title. Lines reach an endpoint as window
// messages: WM_CLOSE, WM_QUERYENDSESSION, WM_COMMAND and the registered
// "Quovane" message as themselves, anything else as WM_COPYDATA text ("SHOW"
// also shows the window and brings it forward).
#include <windows.h>

#include <charconv>
#include <future>
#include <string_view>

#include "platform/environment.h"
#include "platform/window_endpoint.h"

namespace platform {
namespace {

constexpr char kDialogClass[] = "#32770";
constexpr ULONG_PTR kLineCopyData = 0x51564C4E;  // marks our WM_COPYDATA lines
constexpr UINT kSendTimeoutMs = 2000;

UINT QuovaneMessage() {
  static const UINT message = ::RegisterWindowMessageA("Quovane");
  return message;
}

HWND FindTitled(const std::string& title) {
  HWND window = ::FindWindowA(title.c_str(), nullptr);
  if (window == nullptr) window = ::FindWindowA(kDialogClass, title.c_str());
  return window;
}

struct WindowState {
  std::function<void(std::string)> on_line;
};

LRESULT CALLBACK EndpointProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<WindowState*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return ::DefWindowProcA(window, message, wparam, lparam);
  }
  if (state == nullptr) return ::DefWindowProcA(window, message, wparam, lparam);
  if (message == WM_CLOSE) {
    state->on_line("WM_CLOSE");
    return 0;
  }
  if (message == WM_QUERYENDSESSION) {
    state->on_line("WM_QUERYENDSESSION");
    return TRUE;
  }
  if (message == WM_COMMAND) {
    state->on_line("WM_COMMAND " + std::to_string(LOWORD(wparam)));
    return 0;
  }
  if (message == QuovaneMessage()) {
    state->on_line("Quovane " + std::to_string(static_cast<intptr_t>(wparam)));
    return 0;
  }
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (data == nullptr || data->dwData != kLineCopyData || data->cbData > 65536) return FALSE;
    std::string_view text(static_cast<const char*>(data->lpData), data->cbData);
    while (!text.empty()) {
      size_t end = text.find('\n');
      state->on_line(std::string(text.substr(0, end)));
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
    }
    return TRUE;
  }
  return ::DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

// A folder of the user's own: %LOCALAPPDATA%, else the temporary folder.
std::string FallbackSessionDirectory(const std::string& shared, const std::string& home) {
  std::string directory = (home.empty() ? shared : home) + "\\Quovane";
  ::CreateDirectoryA(directory.c_str(), nullptr);
  return directory;
}

std::string SessionDirectory() {
  std::optional<std::string> local = GetEnvironment("LOCALAPPDATA");
  char temp[MAX_PATH + 1] = ".";
  DWORD n = ::GetTempPathA(sizeof temp, temp);
  std::string shared = n > 0 && n < sizeof temp ? std::string(temp, n - 1) : std::string(".");
  return FallbackSessionDirectory(shared, local.value_or(""));
}

bool WindowExists(const std::string& title) { return FindTitled(title) != nullptr; }

bool PostToWindow(const std::string& title, const std::string& line) {
  HWND window = FindTitled(title);
  if (window == nullptr) return false;
  std::string_view name = std::string_view(line).substr(0, line.find(' '));
  intptr_t number = 0;
  if (name.size() < line.size()) {
    std::from_chars(line.data() + name.size() + 1, line.data() + line.size(), number);
  }
  if (name == "WM_CLOSE") return ::PostMessageA(window, WM_CLOSE, 0, 0) != 0;
  if (name == "WM_QUERYENDSESSION") return ::PostMessageA(window, WM_QUERYENDSESSION, 0, 0) != 0;
  if (name == "WM_COMMAND") {
    return ::PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(number), 0) != 0;
  }
  if (name == "Quovane") {
    return ::PostMessageA(window, QuovaneMessage(), static_cast<WPARAM>(number), 0) != 0;
  }
  COPYDATASTRUCT data{kLineCopyData, static_cast<DWORD>(line.size()),
                      const_cast<char*>(line.data())};
  DWORD_PTR answer = 0;
  const bool delivered =
      ::SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                            SMTO_ABORTIFHUNG, kSendTimeoutMs, &answer) != 0 &&
      answer == TRUE;
  // A companion's dialog knows no lines: it is shown and brought forward.
  if (name == "SHOW") {
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::SetForegroundWindow(window);
    return true;
  }
  return delivered;
}

std::unique_ptr<WindowEndpoint> WindowEndpoint::Create(const std::string& title,
                                                       std::function<void(std::string)> on_line) {
  if (WindowExists(title)) return nullptr;
  std::unique_ptr<WindowEndpoint> endpoint(new WindowEndpoint(0, title, std::move(on_line)));
  if (endpoint->listener_ == 0) return nullptr;
  return endpoint;
}

// listener_ holds the id of the thread that owns the window and runs its
// message loop (0 when the window could not be made); path_ is the title.
WindowEndpoint::WindowEndpoint(int /*listener*/, std::string path,
                               std::function<void(std::string)> on_line)
    : listener_(0), path_(std::move(path)), on_line_(std::move(on_line)) {
  auto created = std::make_shared<std::promise<DWORD>>();
  std::future<DWORD> thread_id = created->get_future();
  thread_ = std::thread([this, created] {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = EndpointProc;
    window_class.hInstance = ::GetModuleHandleA(nullptr);
    window_class.lpszClassName = path_.c_str();
    ::RegisterClassA(&window_class);
    WindowState state{on_line_};
    HWND window = ::CreateWindowExA(0, path_.c_str(), path_.c_str(), WS_OVERLAPPED, 0, 0, 0, 0,
                                    nullptr, nullptr, window_class.hInstance, &state);
    if (window == nullptr) {
      created->set_value(0);
      return;
    }
    created->set_value(::GetCurrentThreadId());
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    ::DestroyWindow(window);
    ::UnregisterClassA(path_.c_str(), window_class.hInstance);
  });
  listener_ = static_cast<int>(thread_id.get());
}

WindowEndpoint::~WindowEndpoint() {
  stopping_.store(true);
  if (listener_ != 0) ::PostThreadMessageA(static_cast<DWORD>(listener_), WM_QUIT, 0, 0);
  if (thread_.joinable()) thread_.join();
}

void WindowEndpoint::Serve() {}

namespace {

std::function<void()>* g_on_termination = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ||
      event == CTRL_SHUTDOWN_EVENT) {
    if (g_on_termination != nullptr) (*g_on_termination)();
    return TRUE;
  }
  return FALSE;
}

}  // namespace

// The console's Ctrl+C, Ctrl+Break and close events; the system calls the
// handler on a thread of its own.
void OnTerminationRequest(std::function<void()> on_signal) {
  g_on_termination = new std::function<void()>(std::move(on_signal));
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace platform
