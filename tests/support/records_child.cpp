// A writer of transfer records for the crash tests, run in the test's
// working directory and killed at some point:
//   records_child TAG   stores records "TAG-<i>" one after another, deletes
//   every third one, and prints "w TAG-<i>" or "d TAG-<i>" once each write
//   is complete ("- TAG-<i>" before a delete).
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/process_lock.h"
#include "records/qv_data_manager.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  platform::ProcessLock lock;
  platform::InitProcessLock(&lock);
  QvDataManager* manager = QvDataManager::GetInstance(&lock);
  XferRecord previous{};
  for (int i = 0; i < 20000; ++i) {
    XferRecord record;
    records::SetInitialValues(&record);
    const std::string uid = std::string(argv[1]) + "-" + std::to_string(i);
    std::snprintf(record.szXferUID, sizeof record.szXferUID, "%s", uid.c_str());
    record.nStatus = 3;
    manager->Update(&record);
    std::printf("w %s\n", uid.c_str());
    std::fflush(stdout);
    if (i % 3 == 2) {
      std::printf("- %s\n", previous.szXferUID);  // may or may not be gone
      std::fflush(stdout);
      manager->Delete(&previous);
      std::printf("d %s\n", previous.szXferUID);
      std::fflush(stdout);
    }
    previous = record;
  }
  return 0;
}
