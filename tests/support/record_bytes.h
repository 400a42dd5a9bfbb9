// Record files written and read from the documented offsets alone, never
// through the product's structures, and the fixture the record tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "platform/process_lock.h"
#include "records/qv_data_manager.h"
#include "support/work_dir.h"

namespace record_bytes {

constexpr size_t kXferSize = 2364;

inline void Put32(std::string& b, size_t offset, int32_t value) {
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<char>(uint32_t(value) >> (8 * i));
}
inline int32_t Get32(const std::string& b, size_t offset) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t(uint8_t(b.at(offset + i))) << (8 * i);
  return static_cast<int32_t>(value);
}
inline std::string Text(const std::string& b, size_t offset, size_t width) {
  std::string field = b.substr(offset, width);
  return field.substr(0, field.find('\0'));
}

struct Xfer {
  std::string uid = "";
  int32_t number = -1;
  bool deleted = false;
  int32_t next = -1;
  std::string path = "/photos/a.jpg";
  std::string direction = "Receive";
  std::string done = "";
  int32_t time = 0;
  uint8_t resumable = 1;
  int32_t status = 0;
};

// A transfer record with the documented initial values.
inline std::string XferBytes(const Xfer& x) {
  std::string b(kXferSize, '\0');
  Put32(b, 0, x.number);
  b[4] = x.deleted;
  Put32(b, 8, x.next);
  for (auto [offset, text] :
       {std::pair{12, &x.path}, {268, &x.uid}, {668, &x.direction}, {925, &x.done}}) {
    b.replace(offset, text->size(), *text);
  }
  Put32(b, 2328, x.time);
  Put32(b, 2344, 1);
  b[2348] = 1;
  b[2349] = static_cast<char>(x.resumable);
  Put32(b, 2352, x.status);
  return b;
}

inline std::string Header(int32_t tag, int32_t size, int32_t rows, int32_t last_del) {
  std::string h(24, '\0');
  for (auto [offset, value] :
       {std::pair{0, tag}, {4, 1}, {8, size}, {12, rows}, {16, -1}, {20, last_del}}) {
    Put32(h, offset, value);
  }
  return h;
}

// A whole qvxfer.dat, records numbered by their slots.
inline std::string XferFile(std::vector<Xfer> records, int32_t last_del = -1) {
  std::string file = Header(2002, kXferSize, static_cast<int32_t>(records.size()), last_del);
  for (size_t i = 0; i < records.size(); ++i) {
    records[i].number = static_cast<int32_t>(i);
    file += XferBytes(records[i]);
  }
  return file;
}

inline size_t RecordAt(int32_t slot) { return 24 + kXferSize * static_cast<size_t>(slot); }

// A fresh working directory logging level-1 lines, and the process lock.
class RecordTest : public ::testing::Test {
 protected:
  RecordTest() {
    WriteIni("LogLevel=1\n");
    QvLog::ReleaseInstance();
    platform::InitProcessLock(&lock);
  }
  ~RecordTest() override {
    QvDataManager::ReleaseInstance();
    QvLog::ReleaseInstance();
    platform::DestroyProcessLock(&lock);
  }
  QvDataManager* Manager() { return QvDataManager::GetInstance(&lock); }
  std::string Record(int32_t slot) {
    return ReadText("qvxfer.dat").substr(RecordAt(slot), kXferSize);
  }

  ScopedWorkDir dir;
  platform::ProcessLock lock;
};

}  // namespace record_bytes
