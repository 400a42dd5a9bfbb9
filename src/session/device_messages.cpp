#include "session/device_messages.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "base/guarded_text.h"
#include "base/log.h"
#include "base/query_for_log.h"
#include "base/settings.h"
#include "broker/broker_channel.h"
#include "broker/jsp_response.h"
#include "broker/record_http_proxy.h"
#include "broker/run_jsp.h"
#include "device/device.h"
#include "host/message_calls.h"
#include "host/module_host.h"
#include "host/server_notify.h"
#include "net/outbound_state.h"
#include "records/startup_passes.h"
#include "session/device_message.h"
#include "session/exit_with_instructions.h"
#include "session/heartbeat.h"

namespace {

constexpr char kTransferModule[] = "QvTransferModule.dll";
constexpr char kShareModule[] = "QvShareModule.dll";
constexpr char kYxModule[] = "QvYxModule.dll";
constexpr char kDiagnosticModule[] = "QvDiagnosticModule.dll";
constexpr char kCarriedOut[] = "3";
constexpr char kRefused[] = "4";
constexpr size_t kAckPathSize = 2048;

std::atomic<platform::ProcessLock*> g_record_lock{nullptr};

using Handler = std::function<void(std::string_view message)>;

void Invoke(const char* module, std::string_view message) {
  iInvokeExtensionDll(module, message.data(), static_cast<int>(message.size()));
}

void Acknowledge(std::string_view message, const char* status) {
  SendMessageAck(GetMessageSID(message).value_or(""), status);
}

void ConfigSetting(std::string_view message) {
  QvLog* log = QvLog::GetInstance();
  log->WriteString("ConfigSetting device message ", FirstToken(message), 3);
  const auto [key, value] = FindMessageSetting(message);
  if (key) log->WriteString("szKey ", *key, 3);
  if (value) log->WriteString("szValue ", *value, 3);
  if (!key || !value) return Acknowledge(message, kRefused);
  if (key->find("LogLevel") != std::string_view::npos) {
    // A level that is no number would read as 0 and silently end the log.
    int level = 0;
    const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), level);
    if (error != std::errc() || end != value->data() + value->size()) {
      log->WriteString("ConfigSetting: LogLevel is no number", *value, 1);
      return Acknowledge(message, kRefused);
    }
    log->SetLevel(level);
  }
  // The store refuses keys and values that would not read back (line
  // breaks, '=' in a key...): that is no setting carried out.
  const int written = QvSettings::GetInstance()->WriteSetting(*key, *value);
  QvSettings::ReleaseInstance();
  Acknowledge(message, written == 0 ? kCarriedOut : kRefused);
}

// A SID goes into the heartbeat's request line: it must be a plain token.
bool UsableSid(std::string_view sid) {
  if (sid.empty() || sid.size() > 255) return false;
  for (unsigned char c : sid) {
    if (c <= ' ' || c >= 0x7F || c == '&' || c == '?' || c == '#' || c == '%') return false;
  }
  return true;
}

void DeviceSID(std::string_view message) {
  HeartbeatState& state = TheHeartbeatState();
  if (state.Uri().find("deviceUID=") == std::string::npos) {
    return Acknowledge(message, kCarriedOut);
  }
  // The first usable deviceSID: a repeated one would turn the query into
  // "deviceSID=AdeviceSID=B", which the broker knows by no device.
  const std::optional<std::string_view> sid = GetMessageField(message, "deviceSID");
  if (!sid || !UsableSid(*sid)) return Acknowledge(message, kRefused);
  SwitchHeartbeatToSid(state, std::string(*sid));
  QvLog::GetInstance()->Write("New Device SID set!!!!!", 3);
  Acknowledge(message, kCarriedOut);

  QvDevice* device = OutboundDevice();
  if (device == nullptr) return;
  QvProxyVars& proxy = device->GetProxyVars();
  if (!proxy.bProxyEnabled.load()) return;
  const bool socks = proxy.bSocks.load();
  const std::string id = socks ? "socks" : ReadGuarded(proxy.szProxyServerName);
  RecordHttpProxy("Yxnet 3", id.c_str(), "OK - SID set", socks);
}

// Saturates like the 32-bit unsigned reading, so a huge number stays out of
// range instead of wrapping into it.
uint32_t UnsignedValue(std::string_view text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(value);
}

void SetHeartbeatLen(std::string_view message) {
  const std::vector<std::string_view> tokens = MessageTokens(message);
  std::string_view sid;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i] == "HeartbeatLength") {
      const uint32_t length = i + 1 < tokens.size() ? UnsignedValue(tokens[i + 1]) : 0;
      if (length >= kHeartbeatMinMs && length <= kHeartbeatMaxMs) {
        TheHeartbeatState().interval_ms.store(length);
      }
      return ConfigSetting(message);
    }
    if (tokens[i] == "messageSID" && i + 1 < tokens.size()) sid = tokens[i + 1];
  }
  SendMessageAck(sid, kRefused);
}

void DATAction(std::string_view message) {
  QvLog* log = QvLog::GetInstance();
  for (std::string_view token : MessageTokens(message)) {
    if (token == "qvxfer.dat") {
      log->Write("Handling DATAction message for qvxfer.dat!!!", 3);
      return Invoke(kTransferModule, message);
    }
    if (token == "qvmetaobjects.dat") {
      log->Write("Handling DATAction message for qvmetaobjects.dat!!!!", 3);
      return Invoke(kShareModule, message);
    }
  }
  log->Write("Received a DATAction message that could not be handled!!!!", 3);
}

void AppUserLogOff(std::string_view message) {
  const std::optional<std::string_view> app = GetMessageField(message, "appSID");
  if (!app) return;
  int number = 0;
  std::from_chars(app->data(), app->data() + app->size(), number);
  if (number == 3) Invoke(kYxModule, message);
  Acknowledge(message, kCarriedOut);
}

Handler ToModule(const char* module) {
  return [module](std::string_view message) { Invoke(module, message); };
}

struct MessageType {
  const char* name;
  Handler handler;  // empty: nothing to do
};

const std::array<MessageType, 22>& MessageTypes() {
  static const auto* types = new std::array<MessageType, 22>{{
      {"Test", nullptr},
      {"ConfigSetting", ConfigSetting},
      {"PushToPeer", ToModule(kTransferModule)},
      {"PushToXPeer", ToModule(kTransferModule)},
      {"NewComponent", ToModule(kTransferModule)},
      {"NewContent", ToModule(kTransferModule)},
      {"PullFromXPeer", ToModule(kTransferModule)},
      {"DeviceSID", DeviceSID},
      {"SetHeartbeatLen", SetHeartbeatLen},
      {"UpgradeContent", ToModule(kTransferModule)},
      {"UpgradeComponent", ToModule(kTransferModule)},
      {"VerifyAsset", ToModule(kShareModule)},
      {"PrepareXPeerXfer", ToModule(kTransferModule)},
      {"PullXPeerAsset", ToModule(kTransferModule)},
      {"SyncMetaObjects", ToModule(kShareModule)},
      {"TransferFailure", ToModule(kTransferModule)},
      {"DATAction", DATAction},
      {"BootPackage", ToModule(kTransferModule)},
      {"QuitWithInst",
       [](std::string_view m) { ExitWithInstructions(m.data(), static_cast<int>(m.size())); }},
      {"NewXferStatus", nullptr},
      {"AppUserLogOff", AppUserLogOff},
      {"Diagnostic",
       [](std::string_view message) {
         Invoke(kDiagnosticModule, message);
         Acknowledge(message, kCarriedOut);
       }},
  }};
  return *types;
}

}  // namespace

int iDeviceMessageHandler(const char* type, const char* message, int length) {
  QvLog* log = QvLog::GetInstance();
  log->WriteString("iDeviceMessageHandler: ", type, 3);
  const std::string_view run = MessageRun(message, length);
  log->WriteString("iDeviceMessageHandler Message String: ", FirstToken(run), 3);
  if (type == nullptr) return 0;
  for (const MessageType& entry : MessageTypes()) {
    if (std::strcmp(entry.name, type) != 0) continue;
    if (entry.handler) entry.handler(OwnMessage(run));
    break;
  }
  return 0;
}

std::string MessageAckPath(std::string_view message_sid, const char* status) {
  std::string path = "/asys/update.jsp?";
  path.append("type=1&status=").append(status).append("&messageSID=").append(message_sid);
  return path;
}

void SendMessageAck(std::string_view message_sid, const char* status) {
  std::string path = MessageAckPath(message_sid, status);
  if (path.size() >= kAckPathSize) {
    QvLog::GetInstance()->WriteNumber("SendMessageAck: messageSID too long, characters: ",
                                      static_cast<long>(message_sid.size()), 1);
    return;
  }
  QvBrokerEndpoint& endpoint = TheHeartbeatState().endpoint;
  const BrokerRoute route = RouteBrokerPage(&endpoint);
  QvJspResponse response;
  RunJsp(endpoint.GetBrokerIP().c_str(), route.port, path.c_str(), &response, route.secure);
}

void iInvokeExtensionDll(const char* module, const char* text, int length) {
  QvLog* log = QvLog::GetInstance();
  log->WriteString("iInvokeExtensionDll: ", module, 3);
  const std::string_view run = MessageRun(text, length);
  auto call = std::make_unique<ExtensionCall>();
  call->query = MessageQuery(run);
  call->module_name = module;
  log->WriteString("iInvokeExtensionDll: ", QueryForLog(call->query), 3);
  if (!QueueExtensionCall(std::move(call))) {
    // The message is lost: say so where someone will look.
    log->Write("Couldn't start client thread", 1);
    ServerNotify(NOTIFY_TEXT, "Couldn't start client thread");
  }
}

void SetRecordLock(platform::ProcessLock* lock) { g_record_lock.store(lock); }

void ResumeXfer() {
  QvLog* log = QvLog::GetInstance();
  platform::ProcessLock* lock = g_record_lock.load();
  if (lock == nullptr) return;
  for (const std::string& uid : records::ResumableTransferUids(lock)) {
    const std::string text = "type=ResumeXfer&xferUID=" + uid;
    log->WriteString("Resume String = ", text, 3);
    iInvokeExtensionDll(kTransferModule, text.c_str(), static_cast<int>(text.size()));
  }
}
