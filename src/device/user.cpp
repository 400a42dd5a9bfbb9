#include "device/user.h"

#include <cstring>
#include <string_view>

#include "base/bounded_copy.h"
#include "base/settings.h"

namespace {

char* NewText(std::string_view text) { return QvNewText(text.data(), text.size()); }

char* NewText(const char* text) { return text != nullptr ? NewText(std::string_view(text)) : nullptr; }

}  // namespace

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
      CopyPadded(to.szName, sizeof to.szName, FieldText(from.szName));
      CopyPadded(to.szValue, sizeof to.szValue, FieldText(from.szValue));
      CopyPadded(to.szType, sizeof to.szType, FieldText(from.szType));
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
