#include <optional>
#include <string>

#include "base/log.h"
#include "module/QvPeerModule.h"
#include "records/startup_passes.h"
#include "shell/help_request.h"
#include "shell/running_copy.h"
#include "shell/session_seam.h"
#include "shell/shell.h"
#include "shell/standing_view.h"
#include "shell/tray.h"

namespace shell {
namespace {

void ReleaseRecords() { records::ReleaseRecordManager(&TheShell().lock); }

void OnCommand(int command, const std::string& payload) {
  switch (command) {
    case kCommandExit:
      PostMessage(WM_CLOSE);
      ReleaseRecords();
      CloseYxshare();
      break;
    case kCommandAbout:
      ShowAboutBox();
      break;
    case kCommandLaunchYxshare:
      BringYxshareForwardOrStart();
      break;
    case kCommandCloseYxshare:
      CloseYxshare();
      break;
    case kCommandLaunchYxphoto:
      LaunchYxphoto();
      break;
    case kCommandLaunchYxmsg:
      LaunchYxmsg();
      break;
    case kCommandUserLogout:
      UserLogoutOnExit(TheShell());
      break;
    case kCommandDisplayHelp:
      if (std::optional<std::string> page = HelpPage(payload)) {
        QvPeerModule::LaunchHelp(kHelpFile, page->c_str());
      } else {
        QvLog::GetInstance()->Write("Help refused: the answer names another file or page", 1);
      }
      break;
    default:
      break;
  }
}

// The window goes and the message loop ends. A destroyed window can no
// longer be found: a copy started during the shutdown must not take this one
// for a running instance.
void EndWindow() {
  ForgetStartPage();
  TheShell().window.reset();
  PostMessage(WM_QUIT, 0);
}

}  // namespace

bool MainWndProc(const platform::Message& message) {
  QvLog* log = QvLog::GetInstance();
  switch (message.id) {
    case kQuovaneMessage:
      if (message.wparam == 0) {
        PostMessage(WM_COMMAND, kCommandUserLogout);
        log->Write("MainWndProc Getting wParam==0", 3);
        ReleaseRecords();
      }
      return true;
    case WM_CLOSE:
      // Closing destroys the window, and the program ends without waiting
      // for any broker.
      RequestStop();
      return MainWndProc(platform::Message{WM_DESTROY, 0, 0, {}});
    case WM_DESTROY:
      log->Write("MainWndProc Getting WM_DESTROY", 3);
      RemoveTrayIcon();
      EndWindow();
      return true;
    case WM_QUERYENDSESSION:
      ShutdownServer();
      // The ending session takes the process with it on the original
      // platform; here the loop must end, or a half-stopped copy would
      // keep its window and turn every new start away.
      RemoveTrayIcon();
      EndWindow();
      return true;
    case WM_COMMAND:
      OnCommand(static_cast<int>(message.wparam), message.payload);
      return true;
    case kTrayCallback:
      OnTrayMouse(static_cast<int>(message.lparam));
      return true;
    case kStandingMessage:
      ShowStanding();
      return true;
    default:
      return true;
  }
}

}  // namespace shell
