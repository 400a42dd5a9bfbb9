#include "records/qv_data_manager.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "base/log.h"
#include "records/record_lock.h"
#include "records/transfer_rules.h"

namespace {

constexpr const char* kXferFile = "qvxfer.dat";
constexpr const char* kMetaFile = "qvmetaobjects.dat";
constexpr int32_t kRowsPerRead = 32;

std::unique_ptr<QvDataManager>& Instance() {
  static std::unique_ptr<QvDataManager> instance;
  return instance;
}

}  // namespace

QvDataManager::QvDataManager(platform::ProcessLock* lock) : m_xferFile(lock), m_metaFile(lock) {
  m_xferFile.Open(kXferFile, sizeof(XferRecord));
  m_metaFile.Open(kMetaFile, sizeof(MetaObjectRecord));
}

QvDataManager* QvDataManager::GetInstance(platform::ProcessLock* lock) {
  std::unique_ptr<QvDataManager>& instance = Instance();
  if (!instance) instance.reset(new QvDataManager(lock));
  return instance.get();
}

void QvDataManager::ReleaseInstance() { Instance().reset(); }

void QvDataManager::ForEachTransferRecord(const std::function<void(XferRecord&)>& visit) {
  const int32_t rows = m_xferFile.RowCount();
  std::vector<XferRecord> chunk(static_cast<size_t>(std::min(rows, kRowsPerRead)));
  for (int32_t first = 0; first < rows;) {
    const int32_t wanted = std::min(rows - first, kRowsPerRead);
    for (int32_t i = 0; i < wanted; ++i) records::SetInitialValues(&chunk[i]);
    const int32_t got = m_xferFile.ReadRows(first, wanted, chunk.data());
    for (int32_t i = 0; i < got; ++i) {
      // The slot is where the record lives, whatever number it carries:
      // a wrong number would make Update overwrite another record.
      chunk[i].header.nRecNo = first + i;
      visit(chunk[i]);
    }
    if (got < wanted) break;
    first += got;
  }
}

void QvDataManager::LogUpdateStart(const XferRecord& record) {
  QvLog* log = QvLog::GetInstance();
  const std::string_view path = FieldText(record.szFilePath);
  if (!path.empty() && path.front() == ':') {
    log->Write("Above Record Looks Corrupted!!!!!  First char of filepath is :", 1);
  } else {
    log->WriteString("QvDataManager::Update filepath OK: ", path, 3);
  }
  log->WriteString("Updating ", FieldText(record.szXferUID), 3);
}

void QvDataManager::LogUpdateEnd(const XferRecord& record) {
  QvLog::GetInstance()->WriteNumber("RecNo = ", record.header.nRecNo, 3);
}

int QvDataManager::Update(XferRecord* record) {
  LogUpdateStart(*record);
  m_xferFile.WriteRecord(&record->header);
  LogUpdateEnd(*record);
  return 0;
}

int QvDataManager::Delete(XferRecord* record) { return m_xferFile.Delete(&record->header); }

void QvDataManager::ResetPass() {
  ForEachTransferRecord([this](XferRecord& record) {
    if (!records::NeedsReset(record)) return;
    records::Reset(&record);
    Update(&record);
  });
}

int QvDataManager::FilterPurge(int filter, int64_t now) {
  m_xferFile.Open(kXferFile, sizeof(XferRecord));
  int count = 0;
  ForEachTransferRecord([&](XferRecord& record) {
    if (record.header.bDeleted == 1 || !records::ExpiredUnderFilter(record, filter, now)) return;
    if (Delete(&record) == 0) ++count;
  });
  return count;
}

void QvDataManager::AgePurge(int64_t now) {
  ForEachTransferRecord([&](XferRecord& record) {
    if (record.header.bDeleted == 1 || !records::ExpiredByAge(record, now)) return;
    Delete(&record);
  });
}

int QvDataManager::StartupPasses(int filter, int64_t now, const std::function<bool()>& stop) {
  // The purges push onto the deleted list: first every filter deletion in
  // slot order, then every age deletion. One read keeps two chains and
  // joins them at the end; the header names the new head last, so a crash
  // on the way loses slots at worst. Each chunk is read, judged and its
  // changed rows written back in one write while the lock is held, so no
  // module's change falls in between.
  const int32_t rows = m_xferFile.RowCount();
  const int32_t old_head = m_xferFile.Header().nLastDel;
  int32_t filter_top = old_head, age_top = -1, age_first = -1;
  int count = 0;
  std::vector<XferRecord> chunk(static_cast<size_t>(std::min(rows, kRowsPerRead)));
  for (int32_t first = 0; first < rows;) {
    if (stop && stop()) {
      QvLog::GetInstance()->WriteNumber("Start-up passes stopped at row ", first, 1);
      break;
    }
    records::RecordLock lock(m_xferFile.Lock());
    const int32_t wanted = std::min(rows - first, kRowsPerRead);
    for (int32_t i = 0; i < wanted; ++i) records::SetInitialValues(&chunk[i]);
    const int32_t got = m_xferFile.ReadRows(first, wanted, chunk.data());
    int32_t dirty_first = got, dirty_last = -1;
    for (int32_t i = 0; i < got; ++i) {
      XferRecord& record = chunk[i];
      const int32_t slot = first + i;
      const int32_t stored_number = record.header.nRecNo;
      record.header.nRecNo = slot;
      bool dirty = false;
      if (records::NeedsReset(record)) {
        records::Reset(&record);
        LogUpdateStart(record);
        LogUpdateEnd(record);
        dirty = true;
      }
      if (record.header.bDeleted != 1 && records::ExpiredUnderFilter(record, filter, now)) {
        record.header.bDeleted = 1;
        record.header.nNextDeleted = filter_top;
        filter_top = slot;
        ++count;
        dirty = true;
      } else if (record.header.bDeleted != 1 && records::ExpiredByAge(record, now)) {
        record.header.bDeleted = 1;
        record.header.nNextDeleted = age_top;
        if (age_top < 0) age_first = slot;
        age_top = slot;
        dirty = true;
      }
      if (!dirty) {
        record.header.nRecNo = stored_number;  // rewritten as it was
        continue;
      }
      dirty_first = std::min(dirty_first, i);
      dirty_last = i;
    }
    if (dirty_last >= 0) {
      m_xferFile.WriteRows(first + dirty_first, dirty_last - dirty_first + 1, &chunk[dirty_first]);
    }
    if (got < wanted) break;
    first += got;
  }
  if (age_top >= 0) {
    if (filter_top >= 0) m_xferFile.WriteNextDeleted(age_first, filter_top);
    m_xferFile.SetLastDeleted(age_top);
  } else if (filter_top != old_head) {
    m_xferFile.SetLastDeleted(filter_top);
  }
  return count;
}
