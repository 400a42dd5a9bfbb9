// The module base: query parameters and the lazily made device, domain and
// user views. The texts are new[] because the contract's layout holds raw
// pointers that modules built elsewhere read.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/ascii.h"
#include "base/bounded_copy.h"
#include "base/log.h"
#include "base/query_for_log.h"
#include "base/settings.h"
#include "device/broker_endpoint.h"
#include "device/device.h"
#include "module/QvPeerModule.h"

namespace {

char* NewText(std::string_view text) { return QvNewText(text.data(), text.size()); }

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
