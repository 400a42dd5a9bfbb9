// The record files' start-up passes, for bench/records_bench.sh. In the
// working directory:
//   records_bench make N   writes a "qvxfer.dat" of N transfer records of
//                          every kind the passes meet (ages up to 60 days)
//   records_bench passes   runs the start-up passes ("all" filter) once
//                          and prints the filter purge's count
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/process_lock.h"
#include "records/record_layout.h"
#include "records/startup_passes.h"
#include "records/transfer_rules.h"

namespace {

int Make(int count, int64_t now) {
  std::ofstream out("qvxfer.dat", std::ios::binary | std::ios::trunc);
  const QvDataFileHeader header{records::kFileTag, records::kFileVersion, sizeof(XferRecord), count,
                                -1, -1};
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  XferRecord record;
  std::memset(&record, 0, sizeof record);
  for (int i = 0; i < count; ++i) {
    records::SetInitialValues(&record);
    record.header.nRecNo = i;
    std::snprintf(record.szFilePath, sizeof record.szFilePath, "/home/user/photos/%08d.jpg", i);
    std::snprintf(record.szXferUID, sizeof record.szXferUID, "xfer-%08d", i);
    std::strcpy(record.szDirection, i % 5 == 0 ? "Send" : "Receive");
    if (i % 3 == 0) std::strcpy(record.szDone, "true");
    record.nTime = static_cast<int32_t>(now - (i % 60) * records::kRetentionDay - 1);
    record.bResumable = static_cast<uint8_t>(i % 2);
    record.nStatus = i % 5;
    out.write(reinterpret_cast<const char*>(&record), sizeof record);
  }
  return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int64_t now = records::SystemNowSeconds();
  if (mode == "make" && argc > 2) return Make(std::stoi(argv[2]), now);
  if (mode != "passes") {
    std::fprintf(stderr, "usage: records_bench make N | passes\n");
    return 2;
  }
  platform::ProcessLock lock;
  platform::InitProcessLock(&lock);
  std::printf("%d\n", records::RunStartupPasses(&lock, records::kFilterAll, now));
  return 0;
}
