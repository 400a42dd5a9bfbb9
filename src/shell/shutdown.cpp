#include "base/log.h"
#include "base/settings.h"
#include "device/device.h"
#include "device/device_identity.h"
#include "device/module_entry.h"
#include "platform/clock.h"
#include "server/listener.h"
#include "session/heartbeat.h"
#include "shell/session_seam.h"
#include "shell/shell.h"

namespace shell {
namespace {

constexpr char kBanner[] = "---------------------------------------------";
constexpr int kTransferWaitSeconds = 10;

// The transfer module writes its records while it runs; give it about ten
// seconds to finish.
void WaitForTransferModule(const QvDevice& device) {
  QvModule* transfer = device.FindModule("QvTransferModule.dll");
  if (transfer == nullptr) return;
  for (int i = 0; i < kTransferWaitSeconds && transfer->GetUseCount() != 0; ++i) {
    platform::SleepMs(1000);
  }
}

}  // namespace

void ShutdownServer() {
  Shell& shell = TheShell();
  if (shell.shut_down.exchange(true)) return;
  QvLog* log = QvLog::GetInstance();
  log->Write("ShutdownServer()", 3);
  // Whatever login or beat is waiting for its broker ends now.
  RequestStop();
  if (shell.device) shell.device->SaveBadResponseNumber();
  StopHTTP();
  QvSettings::ReleaseInstance();
  EndHeartbeats();
  EndBrokerSession(shell);
  log->Write(kBanner, 3);
  log->Write("Exiting QvServer", 3);
  log->Write(kBanner, 3);
  if (shell.device) WaitForTransferModule(*shell.device);
  // The process lock is not destroyed: a module call still running on a
  // detached thread may hold it, and the process ends right after this.
  QvLog::ReleaseInstance();
  MoveDebugLog();
}

}  // namespace shell
