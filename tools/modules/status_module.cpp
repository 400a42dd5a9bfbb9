// A stand-in for the network's status module: it tells the page whether the
// device is online at the broker, and why not, in the words the terminal
// and the tray use. "operation=state" answers one word ("online" or
// "offline"); "operation=details" the whole picture as JSON (the standing,
// broker, TLS, heartbeats, proxy, local port, version, modules) for the
// start page; anything else the same picture as a labelled page.
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "base/guarded_text.h"
#include "base/settings.h"
#include "base/text_escape.h"
#include "broker/broker_channel.h"
#include "device/broker_standing.h"
#include "device/device.h"
#include "device/module_entry.h"
#include "module/QvPeerModule.h"
#include "net/outbound_state.h"
#include "platform/local_time.h"

namespace {

constexpr char kTextHeader[] = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\n";
constexpr char kJsonHeader[] =
    "HTTP/1.0 200 OK\nContent-Type: application/json\nCache-Control: no-store\n\n";
constexpr char kHtmlHeader[] = "HTTP/1.0 200 OK\nContent-Type: text/html; charset=utf-8\n\n";

std::string Json(const std::string& text) { return "\"" + JsonEscape(text) + "\""; }

std::string LocalTimeText(int64_t seconds) {
  std::tm parts{};
  if (seconds == 0 || !platform::ToLocalTime(seconds, &parts)) return "never";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

struct Module {
  std::string name;
  std::string version;
  bool missing;  // no library of that name where the program looks
};

// Everything the pages show, read once per call.
struct Picture {
  bool online = false;
  BrokerStanding standing;
  std::string broker_host;
  std::string broker_port;
  std::string broker_tls_port;
  QvDeviceStatus::Snapshot status;
  std::string tls;  // what the latest handshake made of the certificate
  bool secure_pages = true;
  std::string channel;  // what the channel requires (see BrokerChannelText)
  std::string proxy;    // where the proxy came from, and its setting
  std::string proxy_setting;
  std::string port;
  std::string version;
  std::vector<Module> modules;
};

Picture Look(QvDevice& device) {
  Picture picture;
  picture.standing = DescribeBrokerStanding(device);
  picture.online = picture.standing.kind == BrokerStanding::kOnline;
  picture.status = device.Status().Read();
  QvSettings* settings = QvSettings::GetInstance();
  // A missing key reads as "0": not set, rather than an address 0.
  auto set = [](std::string value) { return value == "0" ? std::string() : value; };
  picture.broker_host = set(settings->BrokerIP());
  picture.broker_port = set(settings->BrokerPort());
  picture.broker_tls_port = set(settings->BrokerSecurePort());
  switch (picture.status.tls) {
    case QvDeviceStatus::kTlsVerified:
      picture.tls = "verified";
      break;
    case QvDeviceStatus::kTlsFailed:
      picture.tls = "failed: " + picture.status.tls_failure;
      break;
    default:
      picture.tls = picture.standing.kind == BrokerStanding::kNotConfigured
                        ? "not tried: the broker is not configured"
                        : "not tried yet";
  }
  picture.secure_pages = SecureBrokerPages();
  picture.channel = BrokerChannelText();
  picture.proxy = picture.status.proxy_origin;
  const QvProxyVars& proxy = device.GetProxyVars();
  if (proxy.bProxyEnabled.load()) {
    picture.proxy_setting = ReadGuarded(device.TextGuard(), proxy.szProxySetting);
  }
  picture.port = device.GetAppPort();
  picture.version = kProductVersion;
  for (int i = 0; i < device.GetModuleCount(); ++i) {
    const QvModule* module = device.GetModule(i);
    if (module == nullptr) continue;
    if (i == 0) {
      picture.version += std::string(" (revision ") + module->GetVersion() + ")";
      continue;
    }
    picture.modules.push_back({module->GetName(), module->GetVersion(), !module->HasVersion()});
  }
  return picture;
}

// How many beats in a row the broker refused: ", refused 3 times in a row".
std::string RefusedText(int32_t refused) {
  if (refused < 1) return {};
  if (refused == 1) return ", refused once";
  return ", refused " + std::to_string(refused) + " times in a row";
}

std::string DetailsJson(const Picture& p) {
  const QvDeviceStatus::Snapshot& s = p.status;
  std::string json = "{";
  json += "\"online\":" + std::string(p.online ? "true" : "false");
  json += ",\"state\":" + Json(p.standing.Word());
  json += ",\"reason\":" + Json(p.standing.reason);
  json += ",\"broker\":{\"host\":" + Json(p.broker_host) + ",\"port\":" + Json(p.broker_port) +
          ",\"tlsPort\":" + Json(p.broker_tls_port) + "}";
  json += ",\"channel\":{\"authenticated\":" + std::string(p.secure_pages ? "true" : "false") +
          ",\"text\":" + Json(p.channel) + "}";
  json += ",\"tls\":{\"verified\":" +
          std::string(s.tls == QvDeviceStatus::kTlsVerified ? "true" : "false") +
          ",\"text\":" + Json(p.tls) + "}";
  const std::string login = p.standing.kind == BrokerStanding::kLoggingIn
                                ? "under way: " + p.standing.reason
                                : LoginOutcomeText(s.login);
  json += ",\"login\":{\"time\":" + Json(LocalTimeText(s.login.time)) +
          ",\"result\":" + Json(login) + "}";
  json += ",\"lastBeat\":{\"time\":" + Json(LocalTimeText(s.beat.time)) +
          ",\"result\":" + Json(BeatOutcomeText(s.beat)) +
          ",\"refusedInARow\":" + std::to_string(s.refused_beats) + "}";
  json += ",\"nextBeat\":" + Json(s.next_beat != 0 ? LocalTimeText(s.next_beat) : "none");
  json += ",\"proxy\":{\"source\":" + Json(p.proxy) + ",\"setting\":" + Json(p.proxy_setting) + "}";
  json += ",\"port\":" + Json(p.port);
  json += ",\"version\":" + Json(p.version);
  json += ",\"modules\":[";
  for (size_t i = 0; i < p.modules.size(); ++i) {
    const Module& m = p.modules[i];
    if (i > 0) json += ",";
    json += "{\"name\":" + Json(m.name) + ",\"version\":" + Json(m.version) +
            ",\"missing\":" + (m.missing ? "true" : "false") + "}";
  }
  return json + "]}";
}

std::string DetailsPage(const Picture& p, const std::string& sid) {
  std::vector<std::pair<std::string, std::string>> rows = {
      {"Broker", p.standing.Text()},
      {"Device SID", sid},
      {"Broker address", p.broker_host.empty() ? std::string("not set")
                                               : p.broker_host + " (port " + p.broker_port +
                                                     ", TLS " + p.broker_tls_port + ")"},
      {"Broker channel", p.channel},
      {"TLS certificate", p.tls},
      {"Proxy", p.proxy_setting.empty() ? p.proxy : p.proxy + " (" + p.proxy_setting + ")"},
      {"Last heartbeat", LocalTimeText(p.status.beat.time) + ", " + BeatOutcomeText(p.status.beat) +
                             RefusedText(p.status.refused_beats)},
      {"Local port", p.port},
      {"Version", p.version},
  };
  for (const Module& m : p.modules) {
    rows.push_back({"Module " + m.name, m.missing ? "not installed" : m.version});
  }
  std::string page =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Device status</title></head>"
      "<body><h1>Device status</h1><table>";
  for (const auto& [label, value] : rows) {
    page += "<tr><th>" + HtmlEscape(label) + "</th><td>" + HtmlEscape(value) + "</td></tr>";
  }
  return page + "</table><p><a href=\"/index.html\">Start</a></p></body></html>";
}

class QvStatusModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void* pExtra) override {
    m_pRequest = static_cast<tagREQUEST*>(pExtra);
    if (m_pRequest == nullptr || m_pRequest->pDevice == nullptr) return nullptr;
    ParseString(query);
    QvDevice& device = *m_pRequest->pDevice;
    const char* operation = GetCgiValue("operation");
    const std::string op = operation != nullptr ? operation : "";
    std::string answer;
    if (op == "state") {
      const bool online = DescribeBrokerStanding(device).kind == BrokerStanding::kOnline;
      answer = kTextHeader + std::string(online ? "online" : "offline");
    } else if (op == "details") {
      answer = kJsonHeader + DetailsJson(Look(device));
    } else {
      answer = kHtmlHeader + DetailsPage(Look(device), device.GetDeviceSID());
    }
    return QvNewText(answer.data(), answer.size());
  }
};

}  // namespace

QV_DEFINE_MODULE(QvStatusModule, "$Revision: 1.1 $")
