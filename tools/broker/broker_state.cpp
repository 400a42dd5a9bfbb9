#include "broker_state.h"

#include <cstdint>
#include <cstdio>

namespace qvbroker {
namespace {

std::string DeviceLine(const Device& d) {
  return "deviceUID=" + d.uid + "&deviceSID=" + d.sid + "&loggedIn=" + (d.loggedIn ? "1" : "0") +
         "&brokerKey=" + (d.brokerKey.empty() ? BrokerState::DerivedBrokerKey(d.uid) : d.brokerKey) +
         "&port=" + d.appPort + "\n";
}

}  // namespace

std::string BrokerState::DerivedBrokerKey(std::string_view uid) {
  // FNV-1a: the same device gets the same key in every run.
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : uid) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[24];
  std::snprintf(text, sizeof text, "BK%016llx", static_cast<unsigned long long>(hash));
  return text;
}

void BrokerState::SetOpen(bool open) {
  std::lock_guard lock(mutex_);
  open_ = open;
}

Device* BrokerState::FindByUid(std::string_view uid) {
  if (uid.empty()) return nullptr;
  for (auto& d : devices_) {
    if (d.uid == uid) return &d;
  }
  return nullptr;
}

Device* BrokerState::FindBySid(std::string_view sid) {
  if (sid.empty()) return nullptr;
  for (auto& d : devices_) {
    if (d.sid == sid) return &d;
  }
  return nullptr;
}

std::string BrokerState::UpsertDevice(const Query& fields) {
  auto uid = QueryValue(fields, "deviceUID");
  auto sid = QueryValue(fields, "deviceSID");
  if (uid.value_or("").empty() && sid.value_or("").empty()) return "deviceUID or deviceSID needed";
  for (const auto& [key, value] : fields) {
    if (key == "loggedIn" && value != "0" && value != "1") return "loggedIn is 0 or 1";
    if (key != "deviceUID" && key != "deviceSID" && key != "brokerKey" && key != "loggedIn" &&
        key != "ip" && key != "remoteip" && key != "fw") {
      return "unknown field " + key;
    }
  }
  std::lock_guard lock(mutex_);
  Device* device = uid ? FindByUid(*uid) : nullptr;
  if (!device && sid) device = FindBySid(*sid);
  if (!device) device = &devices_.emplace_back();
  for (const auto& [key, value] : fields) {
    if (key == "deviceUID") device->uid = value;
    if (key == "deviceSID") device->sid = value;
    if (key == "brokerKey") device->brokerKey = value;
    if (key == "loggedIn") device->loggedIn = value == "1";
    if (key == "ip") device->ip = value;
    if (key == "remoteip") device->remoteIp = value;
    if (key == "fw") device->fw = value;
  }
  return {};
}

LoginAnswer BrokerState::Login(const Query& query, const std::string& peer) {
  std::string uid = QueryValue(query, "deviceUID").value_or("");
  if (uid.empty()) return {400, {}};
  std::lock_guard lock(mutex_);
  Device* device = FindByUid(uid);
  if (!device) {
    device = &devices_.emplace_back();
    device->uid = uid;
  }
  if (device->loggedIn) return {401, {}};
  device->loggedIn = true;
  device->appPort = QueryValue(query, "port").value_or("");
  std::string ip = device->ip.empty() ? QueryValue(query, "ip").value_or(peer) : device->ip;
  std::string key = device->brokerKey.empty() ? DerivedBrokerKey(uid) : device->brokerKey;
  std::string remote = device->remoteIp.empty() ? peer : device->remoteIp;
  return {200, "brokerKey=" + key + "&ip=" + ip + "&remoteip=" + remote + "&fw=" + device->fw};
}

void BrokerState::Logout(const std::string& uid) {
  std::lock_guard lock(mutex_);
  if (Device* device = FindByUid(uid)) device->loggedIn = false;
}

int BrokerState::Heartbeat(const Query& query, std::string* details) {
  details->clear();
  auto sid = QueryValue(query, "deviceSID");
  auto uid = QueryValue(query, "deviceUID");
  std::lock_guard lock(mutex_);
  Device* device = sid ? FindBySid(*sid) : FindByUid(uid.value_or(""));
  if (!device && open_ && (!sid.value_or("").empty() || !uid.value_or("").empty())) {
    device = &devices_.emplace_back();
    device->sid = sid.value_or("");
    device->uid = sid ? std::string() : uid.value_or("");
    device->loggedIn = true;
  }
  if (!device || !device->loggedIn) return 404;
  if (auto port = QueryValue(query, "port")) device->appPort = *port;

  auto it = messages_.begin();
  while (it != messages_.end()) {
    const std::string& target = it->first;
    bool mine = target.empty() || target == device->sid || target == device->uid;
    if (!mine) {
      ++it;
      continue;
    }
    if (!details->empty()) details->push_back('&');
    details->append(it->second);
    it = messages_.erase(it);
  }
  return 200;
}

void BrokerState::QueueMessage(std::string target, std::string text) {
  std::lock_guard lock(mutex_);
  messages_.emplace_back(std::move(target), std::move(text));
}

void BrokerState::RecordAck(Ack ack) {
  std::lock_guard lock(mutex_);
  acks_.push_back(std::move(ack));
}

void BrokerState::SetProxies(std::vector<std::string> proxies) {
  std::lock_guard lock(mutex_);
  proxies_ = std::move(proxies);
}

std::string BrokerState::ProxyListDetails() const {
  std::lock_guard lock(mutex_);
  std::string list;
  for (const auto& p : proxies_) {
    if (!list.empty()) list.push_back(';');
    list += p;
  }
  return "numyxproxies=" + std::to_string(proxies_.size()) + "&yxproxies=" + list;
}

void BrokerState::SetFailRule(const FailRule& rule) {
  std::lock_guard lock(mutex_);
  if (rule.mode.kind == FailMode::kNone) {
    failRules_.erase(rule.page);
  } else {
    failRules_[rule.page] = rule.mode;
  }
}

void BrokerState::ClearFailRules() {
  std::lock_guard lock(mutex_);
  failRules_.clear();
}

FailMode BrokerState::FailFor(std::string_view page) const {
  std::lock_guard lock(mutex_);
  if (auto it = failRules_.find(page); it != failRules_.end()) return it->second;
  if (auto it = failRules_.find(kAnyPage); it != failRules_.end()) return it->second;
  return {};
}

std::string BrokerState::ListDevices() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const auto& d : devices_) out += DeviceLine(d);
  return out;
}

std::string BrokerState::ListMessages() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const auto& [target, text] : messages_) {
    out += (target.empty() ? std::string(kAnyPage) : target) + " " + text + "\n";
  }
  return out;
}

std::string BrokerState::ListAcks() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const auto& a : acks_) {
    out += "type=" + a.type + "&status=" + a.status + "&messageSID=" + a.messageSid + "\n";
  }
  return out;
}

std::string BrokerState::ListFailRules() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const auto& [page, mode] : failRules_) out += page + "=" + DescribeFailMode(mode) + "\n";
  return out;
}

}  // namespace qvbroker
