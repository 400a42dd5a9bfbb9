#include "session/heartbeat.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <system_error>
#include <thread>

#include "base/log.h"
#include "base/settings.h"
#include "broker/broker_channel.h"
#include "broker/jsp_response.h"
#include "broker/run_jsp.h"
#include "device/device.h"
#include "net/link_report.h"
#include "net/request_deadline.h"
#include "platform/event.h"
#include "session/device_login.h"
#include "session/device_messages.h"
#include "session/standing_listener.h"

namespace {

constexpr char kPage[] = "/asys/Heartbeat.jsp?";
constexpr char kUidKey[] = "deviceUID=";
constexpr char kAlarm[] = "!!!======================================================================!!!";
constexpr char kLoginAlarm[] = "!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!.";

std::atomic<QvDevice*> g_device{nullptr};
std::atomic<platform::Event*> g_stop_event{nullptr};
// Each loop of the program belongs to a generation; a stop or a newer loop
// moves the generation on and the old loop ends at its next wait. The stop
// event only wakes a waiting loop: an auto-reset signal taken by the wrong
// loop must neither end the new one nor leave the old one running.
std::atomic<uint64_t> g_generation{0};
std::atomic<bool> g_ended{false};

class GenerationWaits : public HeartbeatWaits {
 public:
  GenerationWaits(platform::Event* stop, uint64_t generation)
      : events_(stop), generation_(generation) {}
  bool WaitForStop(uint32_t interval_ms) override {
    if (Replaced()) return true;
    events_.WaitForStop(interval_ms);
    return Replaced();
  }

 private:
  bool Replaced() const { return g_generation.load() != generation_; }
  EventWaits events_;
  const uint64_t generation_;
};

void WakeLoop() {
  if (platform::Event* stop = g_stop_event.load()) stop->Set();
}

bool Accepted(int result, const QvJspResponse& response) {
  return result == 0 && response.IsOK();
}

// Identifier mode names the device by its current identifier and port, so a
// new identifier or port reaches the broker at the next beat.
void RefreshUri(HeartbeatState& state, const QvDevice& device) {
  std::string uri = state.Uri();
  size_t key = uri.find(kUidKey);
  if (key != std::string::npos) uri.resize(key + std::strlen(kUidKey));
  uri += device.GetDeviceUID() + "&port=" + device.GetAppPort();
  state.SetUri(uri);
  QvLog::GetInstance()->WriteString("HeartbeatURI changed for new DeviceUID: ", uri, 3);
}

// Until a first beat got through, a failed beat tries the alternative ports
// in slot order; the first that answers becomes the current port.
int TryAlternativePorts(HeartbeatState& state, const std::string& uri, int result,
                        std::unique_ptr<QvJspResponse>& response) {
  QvBrokerEndpoint& endpoint = state.endpoint;
  for (int slot = 0; slot < QvBrokerEndpoint::kAltPorts; ++slot) {
    int port = endpoint.GetAltPort(slot);
    if (port == -1) break;
    response = std::make_unique<QvJspResponse>();
    result = RunJsp(endpoint.GetBrokerIP().c_str(), port, uri.c_str(), response.get(), false);
    if (Accepted(result, *response)) {
      endpoint.RecordWorkingPort(endpoint.GetCurrentPort(), port);
      endpoint.SetCurrentPort(port, true);
      state.reached.store(true);
      break;
    }
  }
  return result;
}

// Hands each device message of the answer to the handler. The last pair is
// not examined: a message always has pairs after its type.
void DispatchMessages(QvJspResponse& response) {
  QvLog* log = QvLog::GetInstance();
  int message = 0;
  for (int i = 0; i < response.GetDetailsCount() - 1; ++i) {
    const char* key = response.GetDetailsKey(i);
    const char* value = response.GetDetailsValue(i);
    if (key != nullptr && std::strstr(key, "messageType") != nullptr) {
      log->Write(">>", 3);
      int length = 0;
      if (const char* text = response.GetMsgPtr(message, &length)) {
        iDeviceMessageHandler(value, text, length);
        ++message;
      } else {
        log->WriteString("message not found: ", value, 1);
      }
    }
    if (value != nullptr) log->WriteString(key != nullptr ? key : "", value, 3);
  }
}

// The last login of this run failed (a certificate since mended, a broker
// that was down): an answered beat is no session yet. A device without a
// SID cannot log in until the broker gives it one.
bool LoginFailed(const QvDevice& device) {
  constexpr int32_t kNotRegistered = -2;
  const QvDeviceStatus::Attempt login = device.Status().Read().login;
  return login.time != 0 && login.result != 0 && login.result != kNotRegistered;
}

void Relogin(QvDevice& device) {
  QvLog* log = QvLog::GetInstance();
  if (DeviceLogin(device) == 0) {
    log->Write("Device Logged In!!", 3);
    return;
  }
  // A login the program's stop cut short tells nothing about the broker.
  if (OutboundRequestsStopped()) return;
  log->Write(kLoginAlarm, 1);
  log->Write("Error on device login.", 1);
  log->Write(kLoginAlarm, 1);
  device.SetOnlineState(false);
}

// One beat: the request, the fallback to other ports, and what the answer
// asks for.
void Beat(HeartbeatState& state, QvDevice& device, int resume_period, int& good_beats) {
  QvLog* log = QvLog::GetInstance();
  QvBrokerEndpoint& endpoint = state.endpoint;
  log->Write("HeartbeatThread about to update", 3);
  if (!state.sid_mode.load()) RefreshUri(state, device);
  const std::string beat = state.Uri();
  auto response = std::make_unique<QvJspResponse>();
  const BrokerRoute route = RouteBrokerPage(&endpoint);
  ClearTlsOutcome();
  NoteLinkReached();
  int result = RunJsp(endpoint.GetBrokerIP().c_str(), route.port, beat.c_str(), response.get(),
                      route.secure);
  // Over TLS the port is the login's, which has no alternatives.
  if (!route.secure && !state.reached.load() && !Accepted(result, *response)) {
    result = TryAlternativePorts(state, beat, result, response);
  }
  // A beat the program's stop cut short tells nothing about the broker.
  if (result != 0 && OutboundRequestsStopped()) {
    log->Write("HeartbeatThread beat stopped: the program is ending", 3);
    return;
  }
  const char* beat_status = response->GetStatus();
  device.Status().NoteBeat(std::time(nullptr), result, beat_status != nullptr ? beat_status : "",
                           result != 0 ? LastLinkFailure() : std::string(),
                           state.interval_ms.load(), LastTlsState(), LastTlsFailure());
  NotifyStandingChanged();

  if (Accepted(result, *response)) {
    ++good_beats;
    state.reached.store(true);
    log->Write("HeartbeatThread status is OK", 3);
    device.SetOnlineState(true);
    if (LoginFailed(device)) Relogin(device);
    DispatchMessages(*response);
    if (resume_period != 0 && good_beats == resume_period) {
      good_beats = 0;
      ResumeXfer();
    }
  } else {
    log->Write(kAlarm, 3);
    log->WriteNumber("HeartbeatThread status not OK: ", result, 3);
    log->Write(kAlarm, 3);
    const char* status = response->GetStatus();
    if (status != nullptr && std::strcmp(status, "404") == 0) {
      Relogin(device);
    } else {
      device.SetOnlineState(false);
    }
  }
}

}  // namespace

std::string HeartbeatState::Uri() {
  std::lock_guard<std::mutex> lock(uri_lock);
  return uri;
}

void HeartbeatState::SetUri(std::string text) {
  std::lock_guard<std::mutex> lock(uri_lock);
  uri = std::move(text);
}

HeartbeatState& TheHeartbeatState() {
  // Never destroyed: the heartbeat thread is not waited for at exit.
  static HeartbeatState* state = new HeartbeatState();
  return *state;
}

bool EventWaits::WaitForStop(uint32_t interval_ms) { return stop_->Wait(interval_ms); }

uint32_t HeartbeatInterval(long requested) {
  // Compared unsigned, so a negative request is out of range too.
  uint32_t interval = static_cast<uint32_t>(requested);
  if (interval < kHeartbeatMinMs || interval > kHeartbeatMaxMs) return kHeartbeatDefaultMs;
  return interval;
}

void ConfigureHeartbeat(QvDevice* device, platform::Event* stop_event) {
  g_device.store(device);
  g_stop_event.store(stop_event);
}

bool BeginHeartbeatThread() {
  QvLog::GetInstance()->Write("BeginHeartbeatThread", 3);
  QvDevice* device = g_device.load();
  platform::Event* stop = g_stop_event.load();
  if (device == nullptr || stop == nullptr || g_ended.load()) return false;
  const uint64_t generation = ++g_generation;
  try {
    std::thread([device, stop, generation] {
      GenerationWaits waits(stop, generation);
      HeartbeatThread(TheHeartbeatState(), *device, waits);
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void SwitchHeartbeatToSid(HeartbeatState& state, const std::string& sid) {
  state.SetUri(std::string(kPage) + "deviceSID=" + sid);
  state.sid_mode.store(true);
}

void StopHeartbeat() {
  ++g_generation;
  WakeLoop();
}

void EndHeartbeats() {
  g_ended.store(true);
  StopHeartbeat();
}

int HeartbeatThread(HeartbeatState& state, QvDevice& device, HeartbeatWaits& waits) {
  QvLog* log = QvLog::GetInstance();
  QvBrokerEndpoint& endpoint = state.endpoint;
  if (endpoint.LoadEndpoint() != 0) {
    log->Write("Init error: cannot initiate heartbeat.", 1);
    return -1;
  }
  QvSettings* settings = QvSettings::GetInstance();
  state.interval_ms.store(HeartbeatInterval(settings->HeartbeatSleep(kHeartbeatDefaultMs)));
  const int resume_period = settings->XferRetryInterval();

  std::string uri = kPage;
  const std::string sid = device.GetDeviceSID();
  if (sid != "None") {
    uri += "deviceSID=" + sid;
    state.sid_mode.store(true);
  } else {
    device.NewDeviceUID("0");
    uri += kUidKey + device.GetDeviceUID();
  }
  state.SetUri(uri);

  int good_beats = 0;
  do {
    try {
      Beat(state, device, resume_period, good_beats);
    } catch (const std::exception& e) {
      // A huge answer that memory cannot hold costs this beat, not the program.
      log->WriteString("HeartbeatThread beat failed", e.what(), 1);
    }
  } while (!waits.WaitForStop(state.interval_ms.load()));

  QvSettings::ReleaseInstance();
  return 0;
}
