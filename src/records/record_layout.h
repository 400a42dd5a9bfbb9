// The fixed layouts of the record files, shared byte for byte with the
// transfer and share modules: the file header, the header every record
// starts with, the transfer record and the meta-object record. Integers are
// 32-bit little-endian on disk; the structures are the disk image, so they
// are packed and this build requires a little-endian machine.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the record structures are the little-endian disk image");

namespace records {

inline constexpr int32_t kFileTag = 2002;
inline constexpr int32_t kFileVersion = 1;
inline constexpr int64_t kFileHeaderSize = 24;
// Far beyond any real use (about 2.3 GB of transfer records). A header that
// claims more describes a damaged or planted file: over a sparse file it
// would pass the size check and keep the start-up passes busy for days.
inline constexpr int32_t kMaxRows = 1'000'000;

}  // namespace records

#pragma pack(push, 1)

struct QvDataFileHeader {
  int32_t nTag;       // kFileTag; anything else: not a record file
  int32_t nVersion;
  int32_t nRecSize;   // fixed per file
  int32_t nMaxRows;   // slots, used and deleted
  int32_t nFirstDel;  // written as -1, never read
  int32_t nLastDel;   // head of the deleted list, -1 when empty
};

struct RecordHeader {
  int32_t nRecNo;        // the slot; -1 before the record is first stored
  uint8_t bDeleted;      // 1 when deleted
  uint8_t reserved[3];   // not interpreted
  int32_t nNextDeleted;  // next element of the deleted list, -1 at its end
};

// A transfer record of "qvxfer.dat". Only the named fields mean something
// here; the numbered ones belong to the transfer module and are kept at the
// initial values it expects.
struct XferRecord {
  RecordHeader header;
  char szFilePath[256];  // ':' as first character marks a corrupted record
  char szXferUID[64];
  char f332[255];
  char f587[12];
  char f599[64];
  char f663[5];
  char szDirection[16];  // "Send" for an outgoing transfer
  char f684[32];
  char f716[16];
  char f732[16];
  char f748[33];
  char f781[64];
  char f845[12];
  char f857[20];
  char f877[12];
  char f889[12];
  char f901[16];
  char f917[8];
  char szDone[6];  // "true" once the transfer has ended
  char f931[5];
  char f936[32];
  char f968[64];
  char f1032[64];
  char f1096[64];
  char f1160[64];
  char f1224[16];
  char f1240[16];
  char f1256[16];
  char f1272[32];
  char f1304[255];  // not set by the initial values
  char f1559[128];
  char f1687[256];
  char f1943[256];
  char f2199[128];
  char f2327[1];  // not set by the initial values
  int32_t nTime;  // seconds since 1970
  int32_t n2332;
  int32_t n2336;
  int32_t n2340;
  int32_t n2344;  // initially 1
  uint8_t b2348;  // initially 1
  uint8_t bResumable;
  uint8_t f2350[2];  // no field here; not set by the initial values
  int32_t nStatus;   // 0, 4 left behind; 2 to resume; 3 ended
  int32_t n2356;
  int32_t n2360;
};

// A meta-object record of "qvmetaobjects.dat": only its header is read here.
struct MetaObjectRecord {
  RecordHeader header;
  uint8_t body[2064];
};

#pragma pack(pop)

static_assert(sizeof(QvDataFileHeader) == records::kFileHeaderSize);
static_assert(sizeof(RecordHeader) == 12);
static_assert(offsetof(RecordHeader, bDeleted) == 4 && offsetof(RecordHeader, nNextDeleted) == 8);
static_assert(sizeof(XferRecord) == 2364);
static_assert(sizeof(MetaObjectRecord) == 2076);
static_assert(offsetof(XferRecord, szFilePath) == 12);
static_assert(offsetof(XferRecord, szXferUID) == 268);
static_assert(offsetof(XferRecord, f332) == 332 && offsetof(XferRecord, f587) == 587);
static_assert(offsetof(XferRecord, f599) == 599 && offsetof(XferRecord, f663) == 663);
static_assert(offsetof(XferRecord, szDirection) == 668);
static_assert(offsetof(XferRecord, f684) == 684 && offsetof(XferRecord, f748) == 748);
static_assert(offsetof(XferRecord, f781) == 781 && offsetof(XferRecord, f857) == 857);
static_assert(offsetof(XferRecord, f901) == 901 && offsetof(XferRecord, f917) == 917);
static_assert(offsetof(XferRecord, szDone) == 925);
static_assert(offsetof(XferRecord, f931) == 931 && offsetof(XferRecord, f936) == 936);
static_assert(offsetof(XferRecord, f1160) == 1160 && offsetof(XferRecord, f1272) == 1272);
static_assert(offsetof(XferRecord, f1304) == 1304 && offsetof(XferRecord, f1559) == 1559);
static_assert(offsetof(XferRecord, f1687) == 1687 && offsetof(XferRecord, f1943) == 1943);
static_assert(offsetof(XferRecord, f2199) == 2199 && offsetof(XferRecord, f2327) == 2327);
static_assert(offsetof(XferRecord, nTime) == 2328);
static_assert(offsetof(XferRecord, n2344) == 2344);
static_assert(offsetof(XferRecord, b2348) == 2348);
static_assert(offsetof(XferRecord, bResumable) == 2349);
static_assert(offsetof(XferRecord, nStatus) == 2352);
static_assert(offsetof(XferRecord, n2360) == 2360);

namespace records {

// Sets the initial values a new transfer record carries; the fields marked
// "not set" keep what the caller's memory held.
void SetInitialValues(XferRecord* record);

}  // namespace records
