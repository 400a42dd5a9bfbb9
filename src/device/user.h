// The signed-in user and the device's domain, as the settings and a login
// module know them. Both travel between host and modules by pointer (a login
// module hands its user over through GetUserObject; QvDevice keeps a copy),
// so their layouts are fixed. Texts are new[] and owned by the object.
#pragma once

#include <cstdint>

// The device's domain: three identifiers from the settings (each may be
// missing).
class QvDomain {
 public:
  QvDomain() = default;
  QvDomain(const QvDomain&) = delete;
  QvDomain& operator=(const QvDomain&) = delete;
  ~QvDomain();

  // Reads DomainSID, VendorSID and BrokerSID; 0 when all three are set.
  int Load();

  char* m_szDomainSID = nullptr;
  char* m_szBrokerSID = nullptr;
  char* m_szVendorSID = nullptr;
};

// One entry of a user's list: texts of at most 127, 127 and 31 characters.
struct QvUserEntry {
  char szName[128];
  char szValue[128];
  char szType[32];
  int32_t nValues[6];
};

// One user record, 132 bytes copied as they are.
struct QvUserRecord {
  unsigned char bytes[132];
};

// The signed-in user. A login module returns one in this layout through
// GetUserObject; the host keeps a copy (QvDevice::SetUser).
class QvUser {
 public:
  QvUser() = default;
  // A deep copy of another user object (the host's hand-over).
  explicit QvUser(const QvUser* other);
  QvUser(const QvUser&) = delete;
  QvUser& operator=(const QvUser&) = delete;
  ~QvUser();

  // Reads UserUID and UserSID from the settings.
  void Load();
  // Keep a copy and write the setting back.
  void SetUserUID(const char* uid);
  void SetUserSID(const char* sid);

  char* m_szUserUID = nullptr;
  char* m_szUserSID = nullptr;
  int32_t m_nEntries = 0;
  int32_t m_nRecords = 0;
  QvUserEntry* m_pEntries = nullptr;
  QvUserRecord* m_pRecords = nullptr;
};
