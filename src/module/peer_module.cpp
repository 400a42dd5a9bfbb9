// The module base: query parameters and the lazily made device, domain and
// user views. The texts are new[] because the contract's layout holds raw
// pointers that modules built elsewhere read.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/QvPeerModule.h"
#include "common/ascii.h"
#include "common/bounded_copy.h"
#include "common/device.h"
#include "common/log.h"
#include "common/query_for_log.h"
#include "common/settings.h"
#include "session/broker_endpoint.h"

namespace {

char* NewText(std::string_view text) { return QvNewText(text.data(), text.size()); }

char* NewText(const char* text) { return text != nullptr ? NewText(std::string_view(text)) : nullptr; }

// A text field of a record made elsewhere, which may fill its field.
template <size_t N>
std::string_view BoundedText(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

}  // namespace

QvPeerModule::QvPeerModule()
    : m_szKeys{},
      m_szValues{},
      m_nParams(0),
      m_pEndpoint(nullptr),
      m_pDevice(nullptr),
      m_pDomain(nullptr),
      m_pUser(nullptr),
      m_netUtil(),
      m_pRequest(nullptr),
      m_bDetailsMissing(false) {}

QvPeerModule::~QvPeerModule() {
  delete m_pEndpoint;
  delete m_pDevice;
  delete m_pDomain;
  delete m_pUser;
  DeallocStrings();
}

void QvPeerModule::DeallocStrings() {
  for (int i = 0; i < kMaxParams; ++i) {
    delete[] m_szKeys[i];
    delete[] m_szValues[i];
    m_szKeys[i] = nullptr;
    m_szValues[i] = nullptr;
  }
}

void QvPeerModule::ParseString(const char* query) {
  if (query == nullptr || *query == '\0') return;
  QvLog* log = QvLog::GetInstance();
  std::string_view text(query);
  log->WriteString("ParseString: ", QueryForLog(text), 3);

  m_nParams = 0;
  DeallocStrings();

  size_t start = 0;
  while (m_nParams < kMaxParams) {
    size_t end = std::min(text.find('&', start), text.size());
    std::string_view segment = text.substr(start, end - start);
    size_t equals = segment.rfind('=');
    if (equals == std::string_view::npos) {
      m_szKeys[m_nParams] = NewText(segment);
      m_szValues[m_nParams] = NewText(std::string_view());
    } else {
      m_szKeys[m_nParams] = NewText(segment.substr(0, equals));
      m_szValues[m_nParams] = NewText(segment.substr(equals + 1));
    }
    ++m_nParams;
    if (end == text.size()) break;
    start = end + 1;
  }
  log->Write("Done ParseString", 3);
}

const char* QvPeerModule::GetCgiValue(int index) {
  if (index < 0 || index >= m_nParams) return nullptr;
  return m_szValues[index];
}

const char* QvPeerModule::GetCgiKey(int index) {
  if (index < 0 || index >= m_nParams) return nullptr;
  return m_szKeys[index];
}

const char* QvPeerModule::GetCgiValue(const char* name) {
  if (name == nullptr) return nullptr;
  for (int i = 0; i < m_nParams; ++i) {
    if (m_szKeys[i] != nullptr && EqualsIgnoreCase(m_szKeys[i], name)) return m_szValues[i];
  }
  return nullptr;
}

QvDevice* QvPeerModule::GetDevice() {
  if (m_pDevice == nullptr) {
    m_pDevice = new QvDevice;
    // A device that loads partly is still the best view there is.
    (void)m_pDevice->LoadConfiguration();
  }
  return m_pDevice;
}

QvDomain* QvPeerModule::GetDomain() {
  if (m_pDomain == nullptr) {
    m_pDomain = new QvDomain;
    (void)m_pDomain->Load();
  }
  return m_pDomain;
}

QvUser* QvPeerModule::GetUser() {
  if (m_pUser == nullptr) {
    m_pUser = new QvUser;
    m_pUser->Load();
  }
  return m_pUser;
}

// --- QvDomain ---------------------------------------------------------------

QvDomain::~QvDomain() {
  delete[] m_szDomainSID;
  delete[] m_szBrokerSID;
  delete[] m_szVendorSID;
}

int QvDomain::Load() {
  QvSettings* settings = QvSettings::GetInstance();
  auto take = [settings](char*& field, std::string_view key) {
    delete[] field;
    field = nullptr;
    if (auto value = settings->GetSetting(key)) field = NewText(*value);
  };
  take(m_szDomainSID, "DomainSID");
  take(m_szVendorSID, "VendorSID");
  take(m_szBrokerSID, "BrokerSID");
  bool complete = m_szDomainSID != nullptr && m_szVendorSID != nullptr && m_szBrokerSID != nullptr;
  return complete ? 0 : -1;
}

// --- QvUser -----------------------------------------------------------------

QvUser::QvUser(const QvUser* other) {
  if (other == nullptr) return;
  m_szUserUID = NewText(other->m_szUserUID);
  m_szUserSID = NewText(other->m_szUserSID);
  if (other->m_nEntries > 0 && other->m_pEntries != nullptr) {
    m_nEntries = other->m_nEntries;
    m_pEntries = new QvUserEntry[static_cast<size_t>(m_nEntries)];
    for (int32_t i = 0; i < m_nEntries; ++i) {
      const QvUserEntry& from = other->m_pEntries[i];
      QvUserEntry& to = m_pEntries[i];
      // The source comes from another module: its texts may fill their fields.
      CopyPadded(to.szName, sizeof to.szName, BoundedText(from.szName));
      CopyPadded(to.szValue, sizeof to.szValue, BoundedText(from.szValue));
      CopyPadded(to.szType, sizeof to.szType, BoundedText(from.szType));
      std::memcpy(to.nValues, from.nValues, sizeof to.nValues);
    }
  }
  if (other->m_nRecords > 0 && other->m_pRecords != nullptr) {
    m_nRecords = other->m_nRecords;
    m_pRecords = new QvUserRecord[static_cast<size_t>(m_nRecords)];
    std::memcpy(m_pRecords, other->m_pRecords, sizeof(QvUserRecord) * static_cast<size_t>(m_nRecords));
  }
}

QvUser::~QvUser() {
  delete[] m_szUserUID;
  delete[] m_szUserSID;
  delete[] m_pEntries;
  delete[] m_pRecords;
}

void QvUser::Load() {
  QvSettings* settings = QvSettings::GetInstance();
  SetUserUID(settings->UserUID().c_str());
  SetUserSID(settings->UserSID().c_str());
}

void QvUser::SetUserUID(const char* uid) {
  delete[] m_szUserUID;
  m_szUserUID = NewText(uid);
  if (uid != nullptr) QvSettings::GetInstance()->WriteSetting("UserUID", uid);
}

void QvUser::SetUserSID(const char* sid) {
  delete[] m_szUserSID;
  m_szUserSID = NewText(sid);
  if (sid != nullptr) QvSettings::GetInstance()->WriteSetting("UserSID", sid);
}
