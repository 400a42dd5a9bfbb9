// Any bytes as "qvxfer.dat": opening it, the start-up passes and the
// resumption read must neither crash, hang nor take memory by what its
// header claims.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/process_lock.h"
#include "records/qv_data_manager.h"
#include "records/startup_passes.h"

namespace fs = std::filesystem;

namespace {

platform::ProcessLock* Lock() {
  static platform::ProcessLock* lock = [] {
    static platform::ProcessLock storage;
    platform::InitProcessLock(&storage);
    // Each fuzzing process works in a directory of its own, in memory
    // where there is one: damaged inputs are copied aside and synced.
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path dir = base / ("records-fuzz-" + std::to_string(std::random_device()()));
    static const fs::path made = dir;
    fs::create_directories(made);
    fs::current_path(made);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(made, ignored);
    });
    return &storage;
  }();
  return lock;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::ProcessLock* lock = Lock();
  for (const char* name : {"qvxfer.dat", "qvxfer.dat.damaged", "qvmetaobjects.dat"}) {
    std::error_code ignored;
    fs::remove(name, ignored);
  }
  std::ofstream(fs::path("qvxfer.dat"), std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  const int filter = static_cast<int>(size % 4) - 2;  // all, session, 0 and 1 days
  records::RunStartupPasses(lock, filter, 1'800'000'000);
  records::ResumableTransferUids(lock);
  XferRecord record;
  records::SetInitialValues(&record);
  QvDataManager::GetInstance(lock)->Update(&record);
  QvDataManager::GetInstance(lock)->Delete(&record);
  QvDataManager::ReleaseInstance();
  return 0;
}
