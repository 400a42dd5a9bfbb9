// QvDevice: the in-memory picture of this device: identifiers and keys, the
// local web server's address, its access lists, the proxy situation, the
// online state, the module list and flags from the settings.
//
// peerserver keeps one for the process and hands it to every module call
// (tagREQUEST::pDevice), so its field order and widths are shared with
// modules. Threads read and write single fields while others run: texts go
// through a lock and are returned as copies, numbers and flags are atomics.
// The program and every module have their own copy of this code and so their
// own lock: the record carries its maker's (TextGuard), and every text of it
// is read and written under that one, whichever copy's code does it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/guarded_text.h"
#include "device/device_status.h"
#include "device/proxy_vars.h"

class QvBrokerEndpoint;
class QvModule;
class QvSettings;
class QvUser;

class QvDevice {
 public:
  static constexpr size_t BROKER_KEY_BUFFER_SIZE = 512;
  static constexpr int kMaxListEntries = 63;

  // Runs the proxy discovery at once, so the proxy variables are valid
  // before any load.
  QvDevice();
  QvDevice(const QvDevice&) = delete;
  QvDevice& operator=(const QvDevice&) = delete;
  ~QvDevice();

  // Re-reads every setting; 0, or -1 when the working directory holds no
  // configuration or the machine identifier cannot be made.
  int LoadConfiguration();

  void SetDeviceUID(const char* uid);  // also saves DeviceUID
  void NewDeviceUID(const char* suffix);
  // 0, or -1 (old key kept) for a missing key or one of 512 characters or more.
  int SetBrokerKey(const char* key);

  std::string GetBrokerKey() const;
  std::string GetDeviceUID() const;
  std::string GetDeviceSID() const;
  std::string GetDeviceKey() const;
  std::string GetAppPort() const;
  std::string GetAppIP() const;
  std::string GetYxport() const;
  std::string GetUUID() const;
  std::string GetIP() const;
  std::string GetLocalIP() const;
  std::string GetRemoteIP() const;
  std::string GetLineSpeed() const;
  std::string GetPeerDownloadDir() const;
  bool GetFirewall() const { return m_bFirewall.load(); }
  bool IsLoaded() const { return m_bLoaded.load(); }
  bool HasUser() const { return m_bHasUser.load(); }
  bool IsRegistered() const;

  void SetAppPort(const char* port);
  void SetLocalIP(const char* ip);
  void SetRemoteIP(const char* ip);
  void SetFirewall(bool behind) { m_bFirewall.store(behind); }
  void SetTunnelOK(bool ok) { m_bTunnelOK.store(ok); }
  bool GetTunnelOK() const { return m_bTunnelOK.load(); }

  void SetOnlineState(bool online);
  bool GetOnlineState() const;

  bool IsHostAllowed(const char* host) const;
  // Text patterns are looked for from offset text_from on (the path below
  // the web root); extension patterns and the ".." test see the whole name.
  bool IsFileAllowed(const char* name, size_t text_from = 0) const;

  // Entry 0 is the server itself, with the version from its revision text.
  int BuildModuleList(const char* server_version);
  int GetModuleCount() const { return m_nModules.load(); }
  QvModule* GetModule(int index) const;
  QvModule* FindModule(const char* name) const;

  // Replaces the user with a copy of the login module's object (or none).
  void SetUser(const QvUser* user);
  void SaveBadResponseNumber() const;

  QvProxyVars& GetProxyVars() { return m_proxy; }
  const QvProxyVars& GetProxyVars() const { return m_proxy; }
  QvBrokerEndpoint* GetEndpoint() const { return m_pEndpoint; }
  int GetBadResponseThreshold() const { return m_nBadResponseThreshold.load(); }
  bool GetDeleteCompleteXfers() const { return m_bDeleteCompleteXfers.load(); }
  bool GetIPVerifyOff() const { return m_bIPVerifyOff.load(); }
  bool GetHungryXPeer() const { return m_bHungryXPeer.load(); }
  bool GetAutoLogin() const { return m_bAutoLogin.load(); }
  // The session's last login and heartbeat, for the status page.
  QvDeviceStatus& Status() { return m_status; }
  const QvDeviceStatus& Status() const { return m_status; }
  // The lock of this record's texts: its maker's. A module that works on
  // the host's record holds it to read or write the texts in place.
  const QvTextGuard& TextGuard() const { return *m_pTextGuard; }

 private:
  void CutList(char* list, const char** entries, const char* label, bool warn_empty);
  void ClearModules();

  std::atomic<int32_t> m_nBadResponses{0};
  std::atomic<int32_t> m_nBadResponseThreshold{0};
  char m_szDeviceUID[256] = {};
  char m_szDeviceSID[256] = {};
  char m_szDeviceKey[2048] = {};
  char m_szBrokerKey[BROKER_KEY_BUFFER_SIZE] = {};
  char m_szDeviceUID2[256] = {};
  char m_szDeviceSID2[256] = {};
  char m_szLineSpeed[256] = {};
  char m_szFirewall[256] = {};
  char m_szUUID[50] = {};
  char m_szIP[50] = {};
  char m_szPeerDownloadDir[256] = {};
  char m_szAppPort[256] = {};
  char m_szAppIP[256] = {};
  [[maybe_unused]] char m_szSpare[2][64] = {};  // kept for the layout
  char m_szYxport[256] = {};
  char m_szLocalIP[50] = {};
  char m_szRemoteIP[50] = {};
  std::atomic<bool> m_bFirewall{false};
  std::atomic<bool> m_bTunnelOK{false};
  QvProxyVars m_proxy{};
  char m_szAllowHosts[1024] = {};
  char m_szAllowFiles[1024] = {};
  const char* m_pHosts[256] = {};
  const char* m_pFiles[256] = {};
  QvModule** m_pModules = nullptr;
  QvSettings* m_pSettings;
  QvUser* m_pUser = nullptr;
  QvBrokerEndpoint* m_pEndpoint = nullptr;
  std::atomic<int32_t> m_nModules{0};
  std::atomic<bool> m_bDeleteCompleteXfers{false};
  std::atomic<bool> m_bIPVerifyOff{false};
  std::atomic<bool> m_bOnline{false};
  std::atomic<bool> m_bHungryXPeer{false};
  std::atomic<bool> m_bAutoLogin{false};
  std::atomic<bool> m_bLoaded{false};
  std::atomic<bool> m_bHasUser{false};
  [[maybe_unused]] unsigned char m_reserved[64] = {};  // kept for the layout
  // Appended after the shared fields, so that their offsets stay as they were.
  QvDeviceStatus m_status;
  const QvTextGuard* m_pTextGuard = &ThisRuntimeTextGuard();
};
