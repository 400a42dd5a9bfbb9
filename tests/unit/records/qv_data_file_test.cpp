#include "records/qv_data_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "records/startup_passes.h"
#include "records/transfer_rules.h"
#include "support/record_bytes.h"
#include "support/child_process.h"

namespace fs = std::filesystem;
using namespace record_bytes;

namespace {

XferRecord NewRecord(const std::string& uid) {
  XferRecord record;
  records::SetInitialValues(&record);
  std::strcpy(record.szXferUID, uid.c_str());
  return record;
}

// The lines a killed writer finished.
std::vector<std::string> CompleteLines(const fs::path& file) {
  std::string text = ReadText(file);
  text.resize(text.rfind('\n') + 1);  // none: empty
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

TEST_F(RecordTest, NewFilesGetTheHeaderAndRecordsLandAtTheirOffsets) {
  QvDataManager* manager = Manager();
  EXPECT_EQ(ReadText("qvxfer.dat"), Header(2002, 2364, 0, -1));
  EXPECT_EQ(ReadText("qvmetaobjects.dat"), Header(2002, 2076, 0, -1));
  EXPECT_EQ(fs::status("qvxfer.dat").permissions(), fs::perms::owner_read | fs::perms::owner_write);

  XferRecord record = NewRecord("uid-0");
  std::strcpy(record.szDirection, "Send");
  std::strcpy(record.szDone, "true");
  record.nTime = 123456789;
  record.nStatus = 3;
  manager->Update(&record);
  const Xfer expected{.uid = "uid-0", .number = 0, .path = "", .direction = "Send", .done = "true",
                      .time = 123456789, .status = 3};
  const std::string bytes = ReadText("qvxfer.dat");
  ASSERT_EQ(bytes.size(), RecordAt(1));
  EXPECT_EQ(bytes.substr(0, 24), Header(2002, 2364, 1, -1));
  // The two fields the initial values leave alone hold what memory held.
  std::string stored = bytes.substr(24);
  for (auto [offset, width] : {std::pair{1304, 255}, {2327, 1}, {2350, 2}}) {
    stored.replace(offset, width, std::string(width, '\0'));
  }
  EXPECT_EQ(stored, XferBytes(expected));
}

TEST_F(RecordTest, DeletedSlotsAreReusedAsAStack) {
  QvDataManager* manager = Manager();
  std::vector<XferRecord> stored;
  for (int i = 0; i < 3; ++i) {
    stored.push_back(NewRecord("uid-" + std::to_string(i)));
    manager->Update(&stored.back());
    EXPECT_EQ(stored.back().header.nRecNo, i);
  }
  manager->Delete(&stored[1]);
  manager->Delete(&stored[2]);
  manager->Delete(&stored[2]);  // a second delete must not tie a circle
  std::string bytes = ReadText("qvxfer.dat");
  EXPECT_EQ(bytes.substr(0, 24), Header(2002, 2364, 3, 2));
  EXPECT_EQ(Get32(bytes, RecordAt(2) + 8), 1);
  EXPECT_EQ(Get32(bytes, RecordAt(1) + 8), -1);
  EXPECT_EQ(bytes[RecordAt(1) + 4], 1);
  EXPECT_EQ(Text(bytes, RecordAt(1) + 268, 64), "uid-1");  // contents kept

  std::vector<int32_t> numbers;
  for (const char* uid : {"a", "b", "c"}) {
    XferRecord record = NewRecord(uid);
    manager->Update(&record);
    numbers.push_back(record.header.nRecNo);
  }
  EXPECT_EQ(numbers, (std::vector<int32_t>{2, 1, 3}));
  EXPECT_EQ(ReadText("qvxfer.dat").substr(0, 24), Header(2002, 2364, 4, -1));
}

// Every lie a header can tell: the file is left as it was, a copy is set
// aside, a level-1 line says so, and nothing is read or written.
TEST_F(RecordTest, DamagedHeadersLeaveTheFileAlone) {
  const std::string two = XferBytes({.number = 0, .status = 2}) + XferBytes({.number = 1, .status = 4});
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"rows beyond the file", Header(2002, 2364, 5, -1) + two},
      {"rows near the limit", Header(2002, 2364, 0x7fffffff, -1) + two},
      {"negative rows", Header(2002, 2364, -1, -1) + two},
      {"deleted head past the rows", Header(2002, 2364, 2, 2) + two},
      {"deleted head negative", Header(2002, 2364, 2, -7) + two},
      {"meta-object record size", Header(2002, 2076, 2, -1) + two},
      {"negative record size", Header(2002, -2364, 2, -1) + two},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText("qvxfer.dat", c.bytes);
    fs::remove("qvxfer.dat.damaged");
    fs::remove("QvDebug.log");
    EXPECT_EQ(records::RunStartupPasses(&lock, -1, 2'000'000'000), 0);
    EXPECT_TRUE(records::ResumableTransferUids(&lock).empty());
    XferRecord record = NewRecord("lost");
    Manager()->Update(&record);
    QvDataManager::ReleaseInstance();
    EXPECT_EQ(ReadText("qvxfer.dat"), c.bytes);
    EXPECT_EQ(ReadText("qvxfer.dat.damaged"), c.bytes);
    EXPECT_TRUE(Contains(ReadText("QvDebug.log"), "): QvDataFile damaged ("));
  }
}

TEST_F(RecordTest, ACircleInTheDeletedListStopsWritesBeforeALiveRecord) {
  const std::string circle = XferFile({{.deleted = true, .next = 1}, {.deleted = true, .next = 0}}, 0);
  WriteText("qvxfer.dat", circle);
  QvDataManager* manager = Manager();
  std::vector<XferRecord> written;
  for (const char* uid : {"a", "b", "c"}) {
    written.push_back(NewRecord(uid));
    manager->Update(&written.back());
  }
  EXPECT_EQ(written[0].header.nRecNo, 0);
  EXPECT_EQ(written[1].header.nRecNo, 1);
  EXPECT_EQ(written[2].header.nRecNo, -1);  // the head is live: dropped
  const std::string bytes = ReadText("qvxfer.dat");
  EXPECT_EQ(Text(bytes, RecordAt(0) + 268, 64), "a");
  EXPECT_EQ(Text(bytes, RecordAt(1) + 268, 64), "b");
  EXPECT_EQ(bytes.size(), circle.size());
  EXPECT_TRUE(fs::exists("qvxfer.dat.damaged"));
}

TEST_F(RecordTest, AForeignFileIsCopiedAsideBeforeItStartsAnew) {
  const std::string foreign = "not a record file, but someone's data\n";
  WriteText("qvxfer.dat", foreign);
  QvDataManager::GetInstance(&lock);
  EXPECT_EQ(ReadText("qvxfer.dat.damaged"), foreign);
  EXPECT_EQ(ReadText("qvxfer.dat").substr(0, 24), Header(2002, 2364, 0, -1));
}

TEST_F(RecordTest, ALinkInTheFilesPlaceIsNotFollowed) {
  const std::string target = XferFile({{.uid = "x", .status = 2}});
  WriteText("elsewhere.dat", target);
  fs::create_symlink("elsewhere.dat", "qvxfer.dat");
  EXPECT_TRUE(records::ResumableTransferUids(&lock).empty());
  XferRecord record = NewRecord("lost");
  Manager()->Update(&record);
  EXPECT_EQ(ReadText("elsewhere.dat"), target);
}

// A writer killed anywhere in its writes leaves a file that opens cleanly
// and holds every record it reported as written.
TEST_F(RecordTest, AKilledWriterLeavesACleanFile) {
  std::set<std::string> live, deleted;
  for (int round = 0; round < 24; ++round) {
    const fs::path log = "child-" + std::to_string(round) + ".out";
    auto child = ChildProcess::Start(RECORDS_CHILD, {"r" + std::to_string(round)}, log);
    ASSERT_NE(child, nullptr);
    const size_t wanted = 1 + 29 * round;
    ASSERT_TRUE(WaitUntil([&] { return CompleteLines(log).size() >= wanted; },
                          std::chrono::seconds(30)));
    child->Stop(std::chrono::milliseconds(0));
    for (const std::string& line : CompleteLines(log)) {
      const std::string uid = line.substr(2);
      if (line[0] == 'w') live.insert(uid);
      if (line[0] == '-') live.erase(uid);
      if (line[0] == 'd') deleted.insert(uid);
    }
  }
  std::set<std::string> found;
  Manager()->ForEachTransferRecord([&](XferRecord& record) {
    if (record.header.bDeleted != 1) found.insert(std::string(FieldText(record.szXferUID)));
  });
  for (const std::string& uid : live) EXPECT_EQ(found.count(uid), 1u) << uid;
  for (const std::string& uid : deleted) EXPECT_EQ(found.count(uid), 0u) << uid;
  EXPECT_FALSE(fs::exists("qvxfer.dat.damaged"));
}
