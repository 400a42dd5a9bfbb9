// QvSettings: every persistent setting of both deliverables, kept as text in
// the section "Quovane" of ".\vane.ini" in the working directory. Nothing is
// cached: each read sees the file as it is now, so a value written by another
// thread or by the other deliverable is seen at once. A key that is missing
// reads as "0" (or the caller's default), the system's "not set".
//
// Each write replaces the file whole (a temporary file and a rename) under a
// lock shared with other processes, so concurrent writers of different keys
// lose nothing and readers never see half a file.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QvSettings {
 public:
  static QvSettings* GetInstance();
  static void ReleaseInstance();

  // Copies the value (or def when the key is missing) into dest, cut to
  // size-1 characters; returns the characters copied. With log set, the key
  // is logged at level 4 first.
  int ReadSetting(std::string_view key, std::string_view def, char* dest, size_t size,
                  bool log);
  // The value, or "0" when missing; nothing when the value is empty or is
  // exactly one blank. Values are cut at 255 characters.
  std::optional<std::string> GetSetting(std::string_view key);
  // The value's leading decimal number, or def when the key is missing.
  int GetSettingInt(std::string_view key, int def, bool log);
  // The same for several keys (name and default) from one reading of the
  // file: a module's log reads its settings on every call.
  std::vector<int> GetSettingInts(
      std::initializer_list<std::pair<std::string_view, int>> keys);
  int GetSettingString(std::string_view key, char* dest, size_t size);
  // 0 when written; -1 when refused (a line break, or a key that would not
  // read back) or when the file could not be replaced. Both are logged.
  int WriteSetting(std::string_view key, std::string_view value);

  // Per-key reads, each cut to the size its readers use.
  std::string BrokerIP() { return Read("BrokerIP", 64); }
  std::string BrokerPort() { return Read("BrokerPort", 32); }
  std::string BrokerSecurePort() { return Read("BrokerSecurePort", 32); }
  std::string AlternativeBrokerPorts() { return Read("AlternativeBrokerPorts", 64); }
  std::string SearchIP() { return Read("SearchIP", 64); }
  std::string SearchPort() { return Read("SearchPort", 32); }
  std::string AppPort() { return Read("AppPort", 256); }
  std::string AppIP() { return Read("AppIP", 256); }
  std::string AppPath() { return Read("AppPath", 260); }
  std::string DefaultPage() { return Read("DefaultPage", 2048); }
  std::string DeviceUID() { return Read("DeviceUID", 256); }
  std::string DeviceSID() { return Read("DeviceSID", 256); }
  std::string UserUID() { return Read("UserUID", 255); }
  std::string UserSID() { return Read("UserSID", 255); }
  std::string LineSpeed() { return Read("LineSpeed", 256); }
  std::string Firewall() { return Read("Firewall", 256); }
  std::string PeerDownloadDir() { return Read("PeerDownloadDir", 256); }
  std::string Yxport() { return Read("yxport", 256); }
  std::string Modules() { return Read("Modules", 256); }
  std::string AllowHosts() { return Read("AllowHosts", 1024); }
  std::string AllowFiles() { return Read("AllowFiles", 1024); }
  std::string IEAgent() { return Read("IEAgent", 16); }
  std::string ProxyRecorded() { return Read("proxyRecorded", 256); }
  std::string TrayLimited() { return Read("TrayLimited", 256); }
  std::string AllowUpgrade() { return Read("AllowUpgrade", 32); }
  std::string ContentVersions() { return Read("ContentVersions", 255); }
  std::string BrokerCAFile() { return Read("BrokerCAFile", 260); }
  int IPVerifyOff() { return GetSettingInt("IPVerifyOff", 0, false); }
  int AutoLogin() { return GetSettingInt("AutoLogin", 0, false); }
  int HungryXPeer() { return GetSettingInt("HungryXPeer", 0, false); }
  int DeleteCompleteXfers() { return GetSettingInt("DeleteCompleteXfers", 0, false); }
  int BadResponseThreshold() { return GetSettingInt("BadResponseThreshold", 0, false); }
  int LogLevel() { return GetSettingInt("LogLevel", 0, false); }
  int LogReset() { return GetSettingInt("LogReset", 0, false); }
  int LogLimit() { return GetSettingInt("LogLimit", 0, false); }
  // The local server's caps on connections from one other host and in all,
  // read at its start.
  int MaxConnectionsPerHost() { return GetSettingInt("MaxConnectionsPerHost", 64, false); }
  int MaxConnections() { return GetSettingInt("MaxConnections", 2000, false); }
  // 1: other accounts of this machine may use the local pages too.
  int AllowOtherUsers() { return GetSettingInt("AllowOtherUsers", 0, false); }

  // Milliseconds between heartbeats; def when missing.
  long HeartbeatSleep(long def);
  // Every so many good heartbeats transfers resume; 0 = never.
  int XferRetryInterval();
  // "all" and "" give -2, "session" -1, anything else its number.
  int TransactionFilter();
  // Decrypts the stored DeviceKey into dest (zero-padded, always
  // terminated); an undecryptable key leaves dest empty.
  void DeviceKey(char* dest, size_t size);

 private:
  QvSettings();
  static QvSettings& Storage();
  std::string Read(std::string_view key, size_t size);

  char m_szPath[256];
};
