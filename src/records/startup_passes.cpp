#include "records/startup_passes.h"

#include <chrono>

#include "records/qv_data_manager.h"
#include "records/record_lock.h"
#include "records/transfer_rules.h"

namespace records {

int64_t SystemNowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Both hold the record lock throughout: the heartbeat's resumption may come
// while the start-up passes run, and each releases and makes the one
// manager instance the other would be using.
int RunStartupPasses(platform::ProcessLock* lock, int transaction_filter, int64_t now,
                     const std::function<bool()>& stop) {
  RecordLock hold(lock);
  const int count = QvDataManager::GetInstance(lock)->StartupPasses(transaction_filter, now, stop);
  QvDataManager::ReleaseInstance();
  return count;
}

std::vector<std::string> ResumableTransferUids(platform::ProcessLock* lock) {
  RecordLock hold(lock);
  QvDataManager::ReleaseInstance();
  std::vector<std::string> uids;
  QvDataManager::GetInstance(lock)->ForEachTransferRecord([&](XferRecord& record) {
    if (!ToResume(record)) return;
    // Bounded and terminated like every fixed text taken further.
    std::string_view uid = FieldText(record.szXferUID);
    uids.emplace_back(uid.substr(0, sizeof record.szXferUID - 1));
  });
  return uids;
}

void ReleaseRecordManager(platform::ProcessLock* lock) {
  RecordLock hold(lock);
  QvDataManager::ReleaseInstance();
}

}  // namespace records
