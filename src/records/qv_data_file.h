// QvDataFile: one fixed-record file ("qvxfer.dat", "qvmetaobjects.dat"): a
// 24-byte header, then nMaxRows records of nRecSize bytes. Deleted records
// stay in place and form a stack through their headers; new records reuse
// the most recently deleted slot first. The file never shrinks.
//
// Every file access holds the owner's lock (the process-wide lock the
// modules lock too), one access at a time; sequences of accesses are not
// atomic as a whole.
//
// The file is someone else's too, so its header is checked at Open: a header
// that cannot describe the file (rows beyond its end or beyond a million, a
// deleted-list head outside the rows, a foreign record size, negative
// counts) makes the file
// damaged: a copy is set aside as "<path>.damaged", a level-1 line is logged,
// and the file is left alone: reads give nothing, writes are dropped. A
// non-empty file without the tag is copied aside the same way, then started
// anew. A broken deleted list found later is treated alike.
//
// Writes are ordered so that a process killed between any two of them
// leaves a file that opens cleanly: a new slot is written before the header
// counts it; a reused slot leaves the list before it is written; a deleted
// record is marked before the list names it. At worst a slot is lost.
#pragma once

#include <cstdint>
#include <string>

#include "platform/native_types.h"
#include "platform/random_access_file.h"
#include "records/record_layout.h"

class QvDataFile {
 public:
  // lock: not owned; outlives this object (null: no locking).
  explicit QvDataFile(platform::ProcessLock* lock) : m_pLock(lock) {}
  QvDataFile(const QvDataFile&) = delete;
  QvDataFile& operator=(const QvDataFile&) = delete;
  ~QvDataFile();

  // Opens (creating) the file for records of nRecSize bytes. 0, or -1 when
  // the file is unusable (a foreign record size, damaged, not openable).
  int Open(const std::string& path, int32_t nRecSize);
  int Close();
  int WriteHeader();
  // record: nRecSize bytes starting with a RecordHeader. A negative number
  // gets a slot first (written back into the record). -1 when dropped.
  int WriteRecord(RecordHeader* record);
  // Marks the record deleted and pushes it on the deleted list; a record
  // already deleted in the file is left as it is.
  int Delete(RecordHeader* record);
  // The two halves of Delete, for a pass that deletes many records and
  // names the list's head once at the end: writes the record as deleted
  // with the given link; then sets the head and writes the header.
  int MarkDeleted(RecordHeader* record, int32_t next);
  int SetLastDeleted(int32_t number);
  // Writes count whole rows from row first, which must exist already.
  int WriteRows(int32_t first, int32_t count, const void* buffer);
  // Rewrites only the link of a deleted record.
  int WriteNextDeleted(int32_t number, int32_t next);
  // Reads up to count whole rows from row first into buffer (count x
  // nRecSize bytes); the rows read.
  int32_t ReadRows(int32_t first, int32_t count, void* buffer);
  // Logs the header at level 4.
  void Dump();

  bool IsUsable() const { return m_file.is_open(); }
  // The rows the file holds (0 when unusable).
  int32_t RowCount() const { return IsUsable() ? m_header.nMaxRows : 0; }
  const QvDataFileHeader& Header() const { return m_header; }
  const std::string& Path() const { return m_szPath; }
  platform::ProcessLock* Lock() const { return m_pLock; }

 private:
  int32_t Allocate(RecordHeader* record);
  bool WriteRecordAt(int32_t number, const RecordHeader* record);
  // Over a deleted record: the body first, then the header that makes it
  // live. A writer killed in between, or in a write torn at a page
  // boundary, never shows the old record as live again.
  bool WriteOverDeleted(int32_t number, const RecordHeader* record);
  bool ReadRecordHeader(int32_t number, RecordHeader* header);
  // Describes what is wrong with a header of a file of size bytes, or null.
  const char* CheckHeader(int64_t size) const;
  // Sets the file aside and stops using it.
  void SetDamaged(const char* reason);
  bool CopyAside(const char* reason);
  void StartNew();
  int64_t Offset(int32_t number) const;

  platform::ProcessLock* m_pLock;  // not owned
  std::string m_szPath;
  platform::RandomAccessFile m_file;
  QvDataFileHeader m_header{};
  int32_t m_nExpectedRecSize = 0;
};
