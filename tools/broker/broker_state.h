// What the simulated broker remembers: devices and who is logged in, the
// queue of device messages, acknowledgements, the relay proxy list and the
// failure rules. One mutex guards all of it; every method is safe to call
// from any connection thread and returns copies, never references.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http_request.h"
#include "options.h"

namespace qvbroker {

struct Device {
  std::string uid;
  std::string sid;
  std::string brokerKey;  // empty: derived from the UID
  std::string ip;         // empty: the address the device reports
  std::string remoteIp;   // empty: the connection's peer address
  std::string fw = "0";
  bool loggedIn = false;
  std::string appPort;    // last port the device reported
};

struct Ack {
  std::string type;
  std::string status;
  std::string messageSid;
};

struct LoginAnswer {
  int status = 200;
  std::string details;
};

class BrokerState {
 public:
  BrokerState() = default;
  BrokerState(const BrokerState&) = delete;
  BrokerState& operator=(const BrokerState&) = delete;

  void SetOpen(bool open);

  // Registers or updates from deviceUID=&deviceSID=&brokerKey=&loggedIn=&ip=
  // &remoteip=&fw=; deviceUID or deviceSID names the device. Empty on
  // success, else the reason.
  std::string UpsertDevice(const Query& fields);

  // 200 with brokerKey, ip, remoteip and fw; 401 while logged in.
  LoginAnswer Login(const Query& query, const std::string& peer);
  void Logout(const std::string& uid);

  // 200 when the device named by deviceSID, or else by deviceUID, is logged
  // in; its queued messages are taken off the queue into *details.
  int Heartbeat(const Query& query, std::string* details);

  // target empty: the next heartbeat of any device; else a deviceSID or
  // deviceUID.
  void QueueMessage(std::string target, std::string text);
  void RecordAck(Ack ack);
  void SetProxies(std::vector<std::string> proxies);
  std::string ProxyListDetails() const;

  void SetFailRule(const FailRule& rule);
  void ClearFailRules();
  FailMode FailFor(std::string_view page) const;

  // Listings for the admin page, one item per line.
  std::string ListDevices() const;
  std::string ListMessages() const;
  std::string ListAcks() const;
  std::string ListFailRules() const;

  static std::string DerivedBrokerKey(std::string_view uid);

 private:
  Device* FindByUid(std::string_view uid);
  Device* FindBySid(std::string_view sid);

  mutable std::mutex mutex_;
  bool open_ = false;
  std::vector<Device> devices_;
  std::vector<std::pair<std::string, std::string>> messages_;  // target, text
  std::vector<Ack> acks_;
  std::vector<std::string> proxies_;
  std::map<std::string, FailMode, std::less<>> failRules_;
};

}  // namespace qvbroker
