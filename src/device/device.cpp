#include "device/device.h"

#include <cstring>
#include <string_view>

#include "base/ascii.h"
#include "base/bounded_copy.h"
#include "base/guarded_text.h"
#include "base/log.h"
#include "base/revision.h"
#include "base/settings.h"
#include "device/broker_endpoint.h"
#include "device/device_identity.h"
#include "device/module_entry.h"
#include "device/proxy_settings.h"
#include "device/user.h"

namespace {

constexpr const char* kBuiltInModules[] = {
    "QvLoginModule.dll", "QvMetaObjectModule.dll", "QvProxyModule.dll",
    "QvShareModule.dll", "QvStatusModule.dll",     "QvTransferModule.dll",
};

// Reads a text setting into a guarded field, cut to size-1 as its readers do.
template <size_t N>
void LoadText(const QvTextGuard& guard, QvSettings* settings, const char* key, char (&field)[N],
              size_t size = N) {
  std::string value(size, '\0');
  int n = settings->GetSettingString(key, value.data(), size);
  value.resize(static_cast<size_t>(n));
  WriteGuarded(guard, field, value);
}

bool Flag(QvSettings* settings, const char* key) {
  return settings->GetSettingInt(key, 0, false) > 0;
}

std::string_view FromLastDot(std::string_view text) {
  size_t dot = text.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : text.substr(dot);
}

}  // namespace

QvDevice::QvDevice() : m_pSettings(QvSettings::GetInstance()) {
  m_status.NoteProxyOrigin(InitProxyVars(m_proxy));
}

QvDevice::~QvDevice() {
  ClearModules();
  delete m_pUser;
  delete m_pEndpoint;
}

int QvDevice::LoadConfiguration() {
  QvLog* log = QvLog::GetInstance();
  log->Write("QvDevice::LoadConfiguration()", 3);
  if (CheckWorkingDirectory() != 0) return -1;

  char uuid[sizeof m_szUUID] = {};
  char ip[sizeof m_szIP] = {};
  CreateDeviceIdentifier(uuid, sizeof uuid);
  ::GetIP(ip, sizeof ip);
  WriteGuarded(TextGuard(), m_szUUID, uuid);
  WriteGuarded(TextGuard(), m_szIP, ip);

  QvSettings* settings = m_pSettings;
  m_nBadResponseThreshold.store(settings->GetSettingInt("BadResponseThreshold", 0, false));
  m_bDeleteCompleteXfers.store(Flag(settings, "DeleteCompleteXfers"));
  m_bHungryXPeer.store(Flag(settings, "HungryXPeer"));
  m_bAutoLogin.store(Flag(settings, "AutoLogin"));

  LoadText(TextGuard(), settings, "DeviceSID", m_szDeviceSID);
  LoadText(TextGuard(), settings, "DeviceUID", m_szDeviceUID);
  if (GetDeviceSID() != "None") {
    char key[sizeof m_szDeviceKey];
    std::memset(key, 0, sizeof key);
    settings->DeviceKey(key, sizeof key);
    WriteGuarded(TextGuard(), m_szDeviceKey, key);
  }
  LoadText(TextGuard(), settings, "DeviceSID", m_szDeviceSID2);
  LoadText(TextGuard(), settings, "DeviceUID", m_szDeviceUID2);
  LoadText(TextGuard(), settings, "AppPort", m_szAppPort);
  LoadText(TextGuard(), settings, "AppIP", m_szAppIP);
  LoadText(TextGuard(), settings, "yxport", m_szYxport);
  char user[32];
  settings->GetSettingString("UserSID", user, sizeof user);
  m_bHasUser.store(std::string_view(user) != "0");
  if (GetAppIP() == "0") WriteGuarded(TextGuard(), m_szAppIP, "localhost");
  LoadText(TextGuard(), settings, "LineSpeed", m_szLineSpeed);
  LoadText(TextGuard(), settings, "Firewall", m_szFirewall);
  LoadText(TextGuard(), settings, "PeerDownloadDir", m_szPeerDownloadDir);
  if (GetUUID().empty()) return -1;

  {
    std::lock_guard<const QvTextGuard> lock(TextGuard());
    settings->GetSettingString("AllowHosts", m_szAllowHosts, sizeof m_szAllowHosts);
    CutList(m_szAllowHosts, m_pHosts, "host i ", false);
    settings->GetSettingString("AllowFiles", m_szAllowFiles, sizeof m_szAllowFiles);
    CutList(m_szAllowFiles, m_pFiles, "file i ", true);
  }
  m_bIPVerifyOff.store(Flag(settings, "IPVerifyOff"));

  // Reloaded in place rather than replaced: another thread may hold it.
  if (m_pEndpoint == nullptr) m_pEndpoint = new QvBrokerEndpoint();
  m_pEndpoint->LoadEndpoint();

  m_bLoaded.store(true);
  m_bTunnelOK.store(false);
  return 0;
}

// Cuts list in place at ';' into entries (null-ended). Runs under the
// guarded-text lock.
void QvDevice::CutList(char* list, const char** entries, const char* label, bool warn_empty) {
  QvLog* log = QvLog::GetInstance();
  for (int i = 0; i <= kMaxListEntries; ++i) entries[i] = nullptr;
  if (*list == '\0') return;
  bool has_empty = false;
  int count = 0;
  char* next = list;
  while (next != nullptr) {
    if (count == kMaxListEntries) {
      log->WriteString("Warning: list has too many entries, ignored from", next, 1);
      break;
    }
    char* separator = std::strchr(next, ';');
    if (separator != nullptr) *separator = '\0';
    entries[count++] = next;
    has_empty = has_empty || *next == '\0';
    log->WriteString(label, next, 3);
    next = separator != nullptr ? separator + 1 : nullptr;
  }
  if (warn_empty && has_empty) {
    log->Write("Warning: empty entry in AllowFiles ignored", 1);
  }
}

void QvDevice::SetDeviceUID(const char* uid) {
  if (uid == nullptr) return;
  WriteGuarded(TextGuard(), m_szDeviceUID, uid);
  m_pSettings->WriteSetting("DeviceUID", GetDeviceUID());
}

void QvDevice::NewDeviceUID(const char* suffix) {
  char uid[60];
  std::string text = GetIP() + "-" + GetUUID() + "-" + (suffix != nullptr ? suffix : "");
  CopyBounded(uid, text);
  QvLog::GetInstance()->WriteString("new deviceUID: ", uid, 3);
  SetDeviceUID(uid);
}

int QvDevice::SetBrokerKey(const char* key) {
  QvLog* log = QvLog::GetInstance();
  if (key == nullptr) {
    log->Write("ERROR: QvDevice::SetBrokerKey - no key", 3);
    return -1;
  }
  size_t length = std::strlen(key);
  if (length >= BROKER_KEY_BUFFER_SIZE) {
    log->WriteNumber(
        "ERROR: QvDevice::SetBrokerKey - strlen(szBrokerKey) > BROKER_KEY_BUFFER_SIZE: ",
        static_cast<long>(length), 3);
    return -1;
  }
  WriteGuarded(TextGuard(), m_szBrokerKey, key);
  log->WriteString("QvDevice::SetBrokerKey ", key, 3);
  return 0;
}

std::string QvDevice::GetBrokerKey() const { return ReadGuarded(TextGuard(), m_szBrokerKey); }
std::string QvDevice::GetDeviceUID() const { return ReadGuarded(TextGuard(), m_szDeviceUID); }
std::string QvDevice::GetDeviceSID() const { return ReadGuarded(TextGuard(), m_szDeviceSID); }
std::string QvDevice::GetDeviceKey() const { return ReadGuarded(TextGuard(), m_szDeviceKey); }
std::string QvDevice::GetAppPort() const { return ReadGuarded(TextGuard(), m_szAppPort); }
std::string QvDevice::GetAppIP() const { return ReadGuarded(TextGuard(), m_szAppIP); }
std::string QvDevice::GetYxport() const { return ReadGuarded(TextGuard(), m_szYxport); }
std::string QvDevice::GetUUID() const { return ReadGuarded(TextGuard(), m_szUUID); }
std::string QvDevice::GetIP() const { return ReadGuarded(TextGuard(), m_szIP); }
std::string QvDevice::GetLocalIP() const { return ReadGuarded(TextGuard(), m_szLocalIP); }
std::string QvDevice::GetRemoteIP() const { return ReadGuarded(TextGuard(), m_szRemoteIP); }
std::string QvDevice::GetLineSpeed() const { return ReadGuarded(TextGuard(), m_szLineSpeed); }
std::string QvDevice::GetPeerDownloadDir() const {
  return ReadGuarded(TextGuard(), m_szPeerDownloadDir);
}

bool QvDevice::IsRegistered() const {
  std::string sid = GetDeviceSID();
  return !sid.empty() && sid != "None";
}

void QvDevice::SetAppPort(const char* port) {
  WriteGuarded(TextGuard(), m_szAppPort, port ? port : "");
}
void QvDevice::SetLocalIP(const char* ip) { WriteGuarded(TextGuard(), m_szLocalIP, ip ? ip : ""); }
void QvDevice::SetRemoteIP(const char* ip) {
  WriteGuarded(TextGuard(), m_szRemoteIP, ip ? ip : "");
}

void QvDevice::SetOnlineState(bool online) {
  if (!online) QvLog::GetInstance()->Write("SetOnlineState to offline", 3);
  m_bOnline.store(online);
}

bool QvDevice::GetOnlineState() const {
  bool online = m_bOnline.load();
  if (!online) QvLog::GetInstance()->Write("GetOnlineState returns offline", 3);
  return online;
}

bool QvDevice::IsHostAllowed(const char* host) const {
  if (host == nullptr) return false;
  std::lock_guard<const QvTextGuard> lock(TextGuard());
  for (int i = 0; m_pHosts[i] != nullptr; ++i) {
    if (std::strcmp(m_pHosts[i], host) == 0) return true;
  }
  return false;
}

bool QvDevice::IsFileAllowed(const char* name, size_t text_from) const {
  if (name == nullptr || *name == '\0') return false;
  std::string lowered(name);
  for (char& c : lowered) c = ToLowerAscii(c);
  if (lowered.find("..") != std::string::npos) {
    QvLog::GetInstance()->WriteString("Warning: filename trying to access parent directory ",
                                      lowered, 3);
    return false;
  }
  std::lock_guard<const QvTextGuard> lock(TextGuard());
  for (int i = 0; m_pFiles[i] != nullptr; ++i) {
    std::string_view entry = m_pFiles[i];
    // An empty entry (a trailing ';') would match every name.
    if (entry.empty()) continue;
    if (entry.front() != '*') {
      if (text_from < lowered.size() && lowered.find(entry, text_from) != std::string::npos) {
        return true;
      }
      continue;
    }
    std::string_view entry_extension = FromLastDot(entry);
    std::string_view name_extension = FromLastDot(lowered);
    if (!entry_extension.empty() && !name_extension.empty() && entry_extension == name_extension) {
      return true;
    }
  }
  return false;
}

int QvDevice::BuildModuleList(const char* server_version) {
  ClearModules();
  std::string value = m_pSettings->Modules();
  // A missing key reads as "0": no list, not a module named "0".
  if (value == "0") value.clear();
  int size = 7;
  if (!value.empty()) {
    for (char c : value) size += c == ';' ? 1 : 0;
  }
  QvModule** modules = new QvModule*[static_cast<size_t>(size)];
  int count = 0;
  modules[count++] =
      new QvModule("QvServer", RevisionNumber(server_version ? server_version : "").c_str());
  std::string_view rest = value;
  while (!rest.empty() && count < size) {
    size_t separator = rest.find(';');
    std::string piece(rest.substr(0, separator));
    rest = separator == std::string_view::npos ? std::string_view() : rest.substr(separator + 1);
    if (!piece.empty()) modules[count++] = new QvModule(piece.c_str());
  }
  for (const char* builtin : kBuiltInModules) {
    if (count == size) break;
    modules[count++] = new QvModule(builtin);
  }
  m_pModules = modules;
  m_nModules.store(count);
  return count;
}

void QvDevice::ClearModules() {
  int count = m_nModules.exchange(0);
  for (int i = 0; i < count; ++i) delete m_pModules[i];
  delete[] m_pModules;
  m_pModules = nullptr;
}

QvModule* QvDevice::GetModule(int index) const {
  if (index < 0 || index >= m_nModules.load()) return nullptr;
  return m_pModules[index];
}

QvModule* QvDevice::FindModule(const char* name) const {
  if (name == nullptr) return nullptr;
  for (int i = 0; i < m_nModules.load(); ++i) {
    if (EqualsIgnoreCase(m_pModules[i]->GetName(), name)) return m_pModules[i];
  }
  return nullptr;
}

void QvDevice::SetUser(const QvUser* user) {
  QvUser* replacement = user != nullptr ? new QvUser(user) : nullptr;
  QvUser* previous;
  {
    std::lock_guard<const QvTextGuard> lock(TextGuard());
    previous = m_pUser;
    m_pUser = replacement;
  }
  delete previous;
}

void QvDevice::SaveBadResponseNumber() const {
  m_pSettings->WriteSetting("BadResponseNumber", std::to_string(m_nBadResponses.load()));
}
