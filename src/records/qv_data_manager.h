// QvDataManager: the tray program's view of the two record files,
// "qvxfer.dat" (transfer records) and "qvmetaobjects.dat" (meta-object
// records). One process-wide instance while needed, released in between so
// that the transfer and share modules work on the files alone. Creation and
// release are not locked: the owner calls them from one thread at a time.
//
// Records are read in bounded chunks and handed out one at a time, so
// memory stays the same whatever the file holds or its header claims.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/native_types.h"
#include "records/qv_data_file.h"
#include "records/record_layout.h"

class QvDataManager {
 public:
  // lock: the process-wide lock, not owned; only the first call's counts.
  static QvDataManager* GetInstance(platform::ProcessLock* lock);
  static void ReleaseInstance();
  ~QvDataManager() = default;

  // Visits the transfer records in slot order, each with its slot as its
  // number; visit may Update or Delete the record. Rows added meanwhile
  // are not visited.
  void ForEachTransferRecord(const std::function<void(XferRecord&)>& visit);
  int Update(XferRecord* record);
  int Delete(XferRecord* record);

  // The start-up passes (times in seconds since 1970).
  void ResetPass();
  int FilterPurge(int filter, int64_t now);
  void AgePurge(int64_t now);
  // The three above in turn, over one read of the file, leaving the same
  // bytes; the filter purge's count. stop is asked before each chunk: when
  // it says so, the passes end there, the file consistent.
  int StartupPasses(int filter, int64_t now, const std::function<bool()>& stop = {});

  QvDataFile& TransferFile() { return m_xferFile; }

 private:
  explicit QvDataManager(platform::ProcessLock* lock);
  // The log lines of Update before and after its write.
  static void LogUpdateStart(const XferRecord& record);
  static void LogUpdateEnd(const XferRecord& record);

  QvDataFile m_xferFile;
  QvDataFile m_metaFile;
};
