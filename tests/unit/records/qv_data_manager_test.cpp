#include "records/qv_data_manager.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/log.h"
#include "platform/process_lock.h"
#include "records/startup_passes.h"
#include "records/transfer_rules.h"
#include "record_bytes.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;
using namespace record_bytes;

namespace {

constexpr int64_t kNow = 1'800'000'000;

int32_t DaysAgo(double days) { return static_cast<int32_t>(kNow - days * kDay); }

class DataManagerTest : public ::testing::Test {
 protected:
  DataManagerTest() { platform::InitProcessLock(&lock); }
  ~DataManagerTest() override {
    QvDataManager::ReleaseInstance();
    platform::DestroyProcessLock(&lock);
  }
  QvDataManager* Manager() { return QvDataManager::GetInstance(&lock); }
  std::string Record(int32_t slot) { return ReadText("qvxfer.dat").substr(RecordAt(slot), kXferSize); }
  bool Deleted(int32_t slot) { return Record(slot)[4] == 1; }

  ScopedWorkDir dir;
  platform::ProcessLock lock;
};

}  // namespace

TEST_F(DataManagerTest, ReadsRecordsWrittenFromTheOffsets) {
  WriteText("qvxfer.dat", XferFile({{.uid = "gone", .deleted = true, .status = 2},
                                    {.uid = "held", .resumable = 0, .status = 2},
                                    {.uid = "resume-me", .time = 77, .status = 2},
                                    {.uid = std::string(64, 'u'), .status = 2},
                                    {.uid = "ended", .done = "true", .status = 3}}));
  std::vector<std::string> uids;
  Manager()->ForEachTransferRecord([&](XferRecord& record) {
    uids.emplace_back(records::FieldText(record.szXferUID));
    EXPECT_EQ(records::FieldText(record.szFilePath), "/photos/a.jpg");
    EXPECT_EQ(records::FieldText(record.szDirection), "Receive");
    EXPECT_EQ(record.n2344, 1);
  });
  EXPECT_EQ(uids, (std::vector<std::string>{"gone", "held", "resume-me", std::string(64, 'u'), "ended"}));
  EXPECT_EQ(records::ResumableTransferUids(&lock),
            (std::vector<std::string>{"resume-me", std::string(63, 'u')}));
}

TEST_F(DataManagerTest, ResetPassResumesIncomingResumableTransfersAndEndsTheRest) {
  const struct {
    int32_t status;
    const char* direction;
    uint8_t resumable;
    int32_t status_after;
    const char* done_after;
  } cases[] = {
      {4, "Receive", 1, 2, ""},    {4, "Receive", 0, 3, "true"}, {0, "Send", 1, 3, "true"},
      {0, "Receive", 1, 2, ""},    {2, "Receive", 0, 2, ""},     {1, "Send", 1, 1, ""},
  };
  std::vector<Xfer> file;
  for (const auto& c : cases) file.push_back({.direction = c.direction, .resumable = c.resumable, .status = c.status});
  WriteText("qvxfer.dat", XferFile(file));
  Manager()->ResetPass();
  for (int32_t i = 0; i < int32_t(std::size(cases)); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Get32(Record(i), 2352), cases[i].status_after);
    EXPECT_EQ(Text(Record(i), 925, 6), cases[i].done_after);
    EXPECT_EQ(Get32(Record(i), 0), i);
  }
}

TEST_F(DataManagerTest, FilterPurgeDeletesEndedRecordsOutsideTheWindowAndCounts) {
  const struct {
    int filter;
    double age_days;
    const char* done;
    bool deleted;
  } cases[] = {
      {-2, 8, "true", true},   {-2, 6, "true", false},  {-2, 40, "", false},
      {-2, 8, "truex", false}, {-1, 0, "true", true},   {-1, -0.5, "true", true},
      {-1, -2, "true", false}, {3, 4, "true", true},    {3, 2, "true", false},
      {0, 0.01, "true", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.filter << " " << c.age_days << " " << c.done);
    WriteText("qvxfer.dat", XferFile({{.done = c.done, .time = DaysAgo(c.age_days), .status = 3},
                                      {.deleted = true, .done = "true", .status = 3}}, 1));
    EXPECT_EQ(Manager()->FilterPurge(c.filter, kNow), c.deleted ? 1 : 0);
    EXPECT_EQ(Deleted(0), c.deleted);
    QvDataManager::ReleaseInstance();
  }
}

TEST_F(DataManagerTest, AgePurgeDeletesRecordsOlderThanThirtyDaysOnce) {
  WriteText("qvxfer.dat", XferFile({{.time = DaysAgo(31), .status = 2},
                                    {.time = DaysAgo(29), .status = 2},
                                    {.deleted = true, .time = DaysAgo(40)}}, 2));
  Manager()->AgePurge(kNow);
  const std::string bytes = ReadText("qvxfer.dat");
  EXPECT_EQ(bytes.substr(0, 24), Header(2002, 2364, 3, 0));
  EXPECT_EQ(Get32(bytes, RecordAt(0) + 8), 2);
  EXPECT_FALSE(Deleted(1));
  EXPECT_EQ(Get32(bytes, RecordAt(2) + 8), -1);  // not pushed again
}

// The start-up passes in one read leave the bytes the three passes leave.
TEST_F(DataManagerTest, StartupPassesMatchTheThreePassesInTurn) {
  std::vector<Xfer> file;
  for (int i = 0; i < 70; ++i) {
    file.push_back({.uid = "u" + std::to_string(i), .direction = i % 5 ? "Receive" : "Send",
                    .done = i % 3 ? "true" : "", .time = DaysAgo(i % 37), .resumable = uint8_t(i % 2),
                    .status = i % 6});
  }
  file[7].deleted = true;
  file[7].next = -1;
  for (int filter : {-2, -1, 5}) {
    SCOPED_TRACE(filter);
    WriteText("qvxfer.dat", XferFile(file, 7));
    QvDataManager* manager = Manager();
    manager->ResetPass();
    const int count = manager->FilterPurge(filter, kNow);
    manager->AgePurge(kNow);
    QvDataManager::ReleaseInstance();
    const std::string expected = ReadText("qvxfer.dat");
    EXPECT_GT(count, 0);

    WriteText("qvxfer.dat", XferFile(file, 7));
    EXPECT_EQ(records::RunStartupPasses(&lock, filter, kNow), count);
    EXPECT_EQ(ReadText("qvxfer.dat"), expected);
  }
}

TEST_F(DataManagerTest, UpdateReportsACorruptedPathAndStillWrites) {
  WriteText("vane.ini", "[Quovane]\nLogLevel=3\n");
  QvLog::ReleaseInstance();
  XferRecord record;
  records::SetInitialValues(&record);
  std::strcpy(record.szFilePath, ":bad");
  std::strcpy(record.szXferUID, "u1");
  Manager()->Update(&record);
  const std::string log = ReadText("QvDebug.log");
  QvLog::ReleaseInstance();
  const size_t corrupted = log.find("): Above Record Looks Corrupted!!!!!  First char of filepath is :\n");
  ASSERT_NE(corrupted, std::string::npos) << log;
  EXPECT_NE(log.find("): Updating : u1\n", corrupted), std::string::npos) << log;
  EXPECT_NE(log.find("): RecNo = 0\n", corrupted), std::string::npos) << log;
  EXPECT_EQ(Text(Record(0), 12, 256), ":bad");
}
