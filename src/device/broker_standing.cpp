#include "device/broker_standing.h"

#include <algorithm>
#include <ctime>

#include "base/settings.h"
#include "base/text_list.h"
#include "device/device.h"
#include "device/device_identity.h"
#include "device/setup_check.h"

namespace {

constexpr const char* kBrokerKeys[] = {"BrokerIP", "BrokerPort", "BrokerSecurePort", "DeviceUID",
                                       "DeviceSID"};
constexpr int32_t kNotRegistered = -2;
constexpr char kUnknownAtBeat[] = "the broker does not know this device at its heartbeat (status 404";

// "Nothing else is wrong" only when the start-up check found nothing either.
std::string NotConfiguredReason(const std::vector<std::string>& missing, const std::string& file,
                                const std::vector<std::string>& setup_problems) {
  std::string reason = "set " + JoinAsList(missing) + " in section [Quovane] of " + file +
                       " (and BrokerCAFile when the broker's certificate comes from a CA of its "
                       "own), then restart peerserver";
  if (setup_problems.empty()) {
    return reason + ". Nothing else is wrong: until then the device works offline";
  }
  reason += "; until then the device works offline. Also wrong: ";
  for (size_t i = 0; i < setup_problems.size(); ++i) {
    reason += (i > 0 ? "; " : "") + setup_problems[i];
  }
  return reason;
}

bool Failed(const QvDeviceStatus::Attempt& attempt) {
  if (attempt.time == 0) return false;
  return attempt.result != 0 || (!attempt.status.empty() && attempt.status != "200");
}

std::string LoginReason(const QvDeviceStatus::Attempt& login) {
  if (!login.failure.empty()) return login.failure;
  if (login.result == kNotRegistered) {
    return "the device is not registered (DeviceSID is None in vane.ini)";
  }
  return "the broker refused the login (status " + std::to_string(login.result) + ")";
}

std::string BeatReason(const QvDeviceStatus::Attempt& beat) {
  if (!beat.failure.empty()) return beat.failure;
  if (beat.result == 0 && beat.status == "404") return std::string(kUnknownAtBeat) + ")";
  if (beat.result != 0) return "the heartbeat failed (" + std::to_string(beat.result) + ")";
  return "the broker answered the heartbeat with status " + beat.status;
}

}  // namespace

std::string LoginOutcomeText(const QvDeviceStatus::Attempt& login) {
  if (login.time == 0) return "not tried yet";
  return Failed(login) ? LoginReason(login) : "logged in";
}

std::string BeatOutcomeText(const QvDeviceStatus::Attempt& beat) {
  if (beat.time == 0) return "not tried yet";
  return Failed(beat) ? BeatReason(beat) : "status " + beat.status;
}

std::string BrokerStanding::Word() const {
  switch (kind) {
    case kNotConfigured:
      return "not configured";
    case kLoggingIn:
      return "logging in";
    case kOnline:
      return "online";
    case kOffline:
      break;
  }
  return "offline";
}

std::string BrokerStanding::Text() const {
  return reason.empty() ? Word() : Word() + ": " + reason;
}

std::string BrokerStanding::SteadyText() const {
  return steady_reason.empty() ? Text() : Word() + ": " + steady_reason;
}

std::vector<std::string> MissingBrokerKeys() {
  QvSettings* settings = QvSettings::GetInstance();
  std::vector<std::string> missing;
  for (const char* key : kBrokerKeys) {
    char value[64];
    int n = settings->ReadSetting(key, "0", value, sizeof value, false);
    const std::string text(value, static_cast<size_t>(n));
    if (text.empty() || text == "0") missing.push_back(key);
  }
  return missing;
}

BrokerStanding DescribeBrokerStanding(const QvDevice& device) {
  std::vector<std::string> missing = MissingBrokerKeys();
  // Only then is the set-up looked at: the standing is asked every few seconds.
  std::vector<std::string> problems =
      missing.empty() ? std::vector<std::string>() : SetupProblems();
  return JudgeBrokerStanding(device.Status().Read(), device.GetOnlineState(), missing,
                             SettingsFilePath(), std::time(nullptr), problems);
}

BrokerStanding JudgeBrokerStanding(const QvDeviceStatus::Snapshot& status, bool online,
                                   const std::vector<std::string>& missing_keys,
                                   const std::string& settings_file, int64_t now,
                                   const std::vector<std::string>& setup_problems) {
  if (!missing_keys.empty()) {
    return {BrokerStanding::kNotConfigured,
            NotConfiguredReason(missing_keys, settings_file, setup_problems)};
  }
  const QvDeviceStatus::Attempt& login = status.login;
  const QvDeviceStatus::Attempt& beat = status.beat;
  if (!status.login_waits_for.empty()) {
    // The wait's own seconds against its time-out: a clock set back, or a
    // wait that outlived it, never shows more than the limit or less than 0.
    const int64_t limit = status.login_wait_limit;
    const int64_t waited = std::max<int64_t>(0, std::min(now - status.login_wait_began, limit));
    const std::string last_try = Failed(login) ? "; the last try: " + LoginReason(login) : "";
    const std::string waiting = "waiting for " + status.login_waits_for;
    return {BrokerStanding::kLoggingIn,
            waiting + " (" + std::to_string(waited) + " s of " + std::to_string(limit) + ")" +
                last_try,
            waiting + last_try};
  }
  const bool logged_in = login.time != 0 && login.result == 0;
  // Online while the latest beat was answered 200. A beat refused right
  // after a login that succeeded (the broker logs the device in, then does
  // not know it) leaves the flag on, and is still no session.
  if (online && logged_in) {
    if (beat.time == 0) {
      return {BrokerStanding::kLoggingIn, "logged in; waiting for the first heartbeat's answer"};
    }
    if (!Failed(beat)) return {BrokerStanding::kOnline, {}};
    if (beat.result == 0 && beat.status == "404") {
      return {BrokerStanding::kOffline, std::string(kUnknownAtBeat) +
                                            " after each login; check DeviceSID in " +
                                            settings_file + ")"};
    }
    return {BrokerStanding::kOffline, BeatReason(beat)};
  }
  if (login.time == 0 && beat.time == 0) {
    return {BrokerStanding::kOffline, "the device has not tried to reach the broker yet"};
  }
  // The latest attempt that went wrong tells why; an answered heartbeat
  // does not make up for a failed login.
  const bool login_failed = Failed(login);
  const bool beat_failed = Failed(beat);
  if (login_failed && (!beat_failed || login.order > beat.order)) {
    return {BrokerStanding::kOffline, LoginReason(login)};
  }
  if (beat_failed && !(logged_in && login.order > beat.order)) {
    return {BrokerStanding::kOffline, BeatReason(beat)};
  }
  if (login.time == 0) return {BrokerStanding::kOffline, "the device has not logged in yet"};
  return {BrokerStanding::kOffline, "the broker session ended"};
}
