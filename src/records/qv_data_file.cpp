#include "records/qv_data_file.h"

#include <algorithm>
#include <limits>
#include <string>

#include "base/log.h"
#include "platform/file.h"
#include "records/record_lock.h"

using records::RecordLock;

namespace {

QvDataFileHeader NewHeader(int32_t nRecSize) {
  return {records::kFileTag, records::kFileVersion, nRecSize, 0, -1, -1};
}

}  // namespace

QvDataFile::~QvDataFile() { Close(); }

int QvDataFile::Open(const std::string& path, int32_t nRecSize) {
  QvLog::GetInstance()->Write("QvDataFile::Open", 3);
  RecordLock lock(m_pLock);
  m_file.Close();
  m_szPath = path;
  m_nExpectedRecSize = nRecSize;
  // What a file that cannot be opened looks like: new, in memory only.
  m_header = NewHeader(nRecSize);
  auto [file, error] = platform::RandomAccessFile::OpenOrCreate(path);
  if (error != 0) {
    QvLog::GetInstance()->WriteString("QvDataFile::Open cannot open " + path,
                                      platform::ErrorText(error), 1);
    return -1;
  }
  m_file = std::move(file);
  auto [size, size_error] = m_file.Size();
  QvDataFileHeader read{};
  if (size_error == 0 && size >= records::kFileHeaderSize &&
      m_file.ReadAt(0, &read, records::kFileHeaderSize).value != records::kFileHeaderSize) {
    size_error = -1;
  }
  if (size_error != 0) {
    SetDamaged("header unreadable");
    return -1;
  }
  if (size == 0) {
    StartNew();
  } else if (size < records::kFileHeaderSize || read.nTag != records::kFileTag) {
    // Not ours, or not a record file at all: keep its bytes before reuse.
    if (!CopyAside("no record file tag")) {
      m_file.Close();
      return -1;
    }
    StartNew();
  } else {
    m_header = read;
    if (const char* reason = CheckHeader(size)) {
      SetDamaged(reason);
      return -1;
    }
  }
  Dump();
  return 0;
}

const char* QvDataFile::CheckHeader(int64_t size) const {
  const QvDataFileHeader& h = m_header;
  if (h.nRecSize != m_nExpectedRecSize) return "record size differs";
  if (h.nMaxRows < 0) return "negative row count";
  if (h.nMaxRows > records::kMaxRows) return "more rows than a record file holds";
  if (h.nLastDel < -1 || h.nLastDel >= h.nMaxRows) return "deleted list head outside the rows";
  if (Offset(h.nMaxRows) > size) return "rows beyond the end of the file";
  return nullptr;
}

void QvDataFile::StartNew() {
  QvLog::GetInstance()->WriteString("New file: ", m_szPath, 3);
  m_header = NewHeader(m_nExpectedRecSize);
  WriteHeader();
}

bool QvDataFile::CopyAside(const char* reason) {
  const std::string copy = m_szPath + ".damaged";
  const int error = platform::CopyFileReplacing(m_szPath, copy);
  std::string line = "QvDataFile damaged (" + std::string(reason) + "): " + m_szPath;
  line += error == 0 ? ", copy kept as " + copy : ", no copy: " + platform::ErrorText(error);
  QvLog::GetInstance()->Write(line, 1);
  return error == 0;
}

void QvDataFile::SetDamaged(const char* reason) {
  CopyAside(reason);
  m_file.Close();
}

int QvDataFile::Close() {
  RecordLock lock(m_pLock);
  m_file.Close();
  m_szPath.clear();
  return 0;
}

int QvDataFile::WriteHeader() {
  RecordLock lock(m_pLock);
  if (IsUsable()) m_file.WriteAt(0, &m_header, records::kFileHeaderSize);
  return 0;
}

int64_t QvDataFile::Offset(int32_t number) const {
  return records::kFileHeaderSize + int64_t{number} * m_header.nRecSize;
}

bool QvDataFile::WriteRecordAt(int32_t number, const RecordHeader* record) {
  return m_file.WriteAt(Offset(number), record, m_header.nRecSize).ok();
}

bool QvDataFile::WriteOverDeleted(int32_t number, const RecordHeader* record) {
  const auto* bytes = reinterpret_cast<const char*>(record);
  constexpr int64_t kHead = sizeof(RecordHeader);
  return m_file.WriteAt(Offset(number) + kHead, bytes + kHead, m_header.nRecSize - kHead).ok() &&
         m_file.WriteAt(Offset(number), bytes, kHead).ok();
}

bool QvDataFile::ReadRecordHeader(int32_t number, RecordHeader* header) {
  return m_file.ReadAt(Offset(number), header, sizeof *header).value ==
         static_cast<int64_t>(sizeof *header);
}

int QvDataFile::WriteRecord(RecordHeader* record) {
  // The whole sequence under the lock, so that no other user of the file
  // takes the same slot in between.
  RecordLock lock(m_pLock);
  if (!IsUsable()) return -1;
  if (record->nRecNo < 0) return Allocate(record) >= 0 ? 0 : -1;
  if (record->nRecNo >= m_header.nMaxRows) {
    // Would write outside the rows, where nothing reads it again.
    QvLog::GetInstance()->WriteNumber("QvDataFile record number beyond the rows: ", record->nRecNo,
                                      1);
    return -1;
  }
  return WriteRecordAt(record->nRecNo, record) ? 0 : -1;
}

int32_t QvDataFile::Allocate(RecordHeader* record) {
  QvDataFileHeader& h = m_header;
  if (h.nLastDel < 0) {
    if (h.nMaxRows == std::numeric_limits<int32_t>::max()) return -1;
    const int32_t number = h.nMaxRows;
    record->nRecNo = number;
    // The record first: a header counting a slot the file lacks is damage.
    if (!WriteRecordAt(number, record)) {
      record->nRecNo = -1;
      return -1;
    }
    ++h.nMaxRows;
    WriteHeader();
    return number;
  }
  const int32_t number = h.nLastDel;
  QvLog::GetInstance()->WriteNumber("reusing deleted record ", number, 4);
  // The head must be a deleted record whose link stays inside the rows; a
  // live head means the list runs in a circle or was never written.
  RecordHeader head{};
  if (!ReadRecordHeader(number, &head) || head.bDeleted != 1 || head.nNextDeleted < -1 ||
      head.nNextDeleted >= h.nMaxRows || head.nNextDeleted == number) {
    SetDamaged("broken deleted list");
    return -1;
  }
  // Off the list before it is written: a crash in between loses the slot,
  // never a live record.
  h.nLastDel = head.nNextDeleted;
  WriteHeader();
  record->nRecNo = number;
  return WriteOverDeleted(number, record) ? number : -1;
}

int QvDataFile::Delete(RecordHeader* record) {
  RecordLock lock(m_pLock);
  if (!IsUsable()) return -1;
  const int32_t number = record->nRecNo;
  if (number < 0 || number >= m_header.nMaxRows) return -1;
  RecordHeader stored{};
  if (ReadRecordHeader(number, &stored) && stored.bDeleted == 1) {
    // Pushing it again would tie the list into a circle.
    record->bDeleted = 1;
    record->nNextDeleted = stored.nNextDeleted;
    return 0;
  }
  // Marked before the list names it: a crash in between loses the slot.
  if (MarkDeleted(record, m_header.nLastDel) != 0) return -1;
  return SetLastDeleted(number);
}

int QvDataFile::MarkDeleted(RecordHeader* record, int32_t next) {
  RecordLock lock(m_pLock);
  if (!IsUsable() || record->nRecNo < 0 || record->nRecNo >= m_header.nMaxRows) return -1;
  record->bDeleted = 1;
  record->nNextDeleted = next;
  return WriteRecordAt(record->nRecNo, record) ? 0 : -1;
}

int QvDataFile::SetLastDeleted(int32_t number) {
  RecordLock lock(m_pLock);
  if (!IsUsable() || number < -1 || number >= m_header.nMaxRows) return -1;
  m_header.nLastDel = number;
  WriteHeader();
  return 0;
}

int QvDataFile::WriteRows(int32_t first, int32_t count, const void* buffer) {
  RecordLock lock(m_pLock);
  if (!IsUsable() || first < 0 || count <= 0 || count > m_header.nMaxRows - first) return -1;
  return m_file.WriteAt(Offset(first), buffer, int64_t{count} * m_header.nRecSize).ok() ? 0 : -1;
}

int QvDataFile::WriteNextDeleted(int32_t number, int32_t next) {
  RecordLock lock(m_pLock);
  if (!IsUsable() || number < 0 || number >= m_header.nMaxRows) return -1;
  return m_file.WriteAt(Offset(number) + offsetof(RecordHeader, nNextDeleted), &next, sizeof next)
                 .ok()
             ? 0
             : -1;
}

int32_t QvDataFile::ReadRows(int32_t first, int32_t count, void* buffer) {
  RecordLock lock(m_pLock);
  if (!IsUsable() || first < 0 || count <= 0 || first >= m_header.nMaxRows) return 0;
  const int64_t rows = std::min<int64_t>(count, m_header.nMaxRows - first);
  const int64_t got = m_file.ReadAt(Offset(first), buffer, rows * m_header.nRecSize).value;
  return static_cast<int32_t>(got / m_header.nRecSize);
}

void QvDataFile::Dump() {
  QvLog* log = QvLog::GetInstance();
  log->Write("-- QvDataFile -----", 4);
  log->WriteNumber("nTag: ", m_header.nTag, 4);
  log->WriteNumber("nFirstDel: ", m_header.nFirstDel, 4);
  log->WriteNumber("nLastDel: ", m_header.nLastDel, 4);
  log->WriteNumber("nMaxRows: ", m_header.nMaxRows, 4);
  log->WriteNumber("nVersion: ", m_header.nVersion, 4);
}
