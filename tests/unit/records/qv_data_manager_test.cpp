#include "records/qv_data_manager.h"

#include <gtest/gtest.h>

#include "records/startup_passes.h"
#include "records/transfer_rules.h"
#include "support/record_bytes.h"

using namespace record_bytes;

namespace {

constexpr int64_t kNow = 1'800'000'000;

int32_t DaysAgo(double days) { return static_cast<int32_t>(kNow - days * 84600); }

}  // namespace

TEST_F(RecordTest, ReadsRecordsWrittenFromTheOffsets) {
  WriteText("qvxfer.dat", XferFile({{.uid = "gone", .deleted = true, .status = 2},
                                    {.uid = "held", .resumable = 0, .status = 2},
                                    {.uid = "resume-me", .time = 77, .status = 2},
                                    {.uid = "set-as-2", .resumable = 2, .status = 2},
                                    {.uid = std::string(64, 'u'), .status = 2},
                                    {.uid = "ended", .done = "true", .status = 3}}));
  std::vector<std::string> uids;
  Manager()->ForEachTransferRecord([&](XferRecord& record) {
    uids.emplace_back(FieldText(record.szXferUID));
    EXPECT_EQ(FieldText(record.szFilePath), "/photos/a.jpg");
    EXPECT_EQ(FieldText(record.szDirection), "Receive");
    EXPECT_EQ(record.n2344, 1);
  });
  EXPECT_EQ(uids, (std::vector<std::string>{"gone", "held", "resume-me", "set-as-2",
                                            std::string(64, 'u'), "ended"}));
  EXPECT_EQ(records::ResumableTransferUids(&lock),
            (std::vector<std::string>{"resume-me", "set-as-2", std::string(63, 'u')}));
}

// One record at a time through the start-up passes (the rows the whole file
// below holds are its).
TEST_F(RecordTest, StartupPassesResetAndPurgeByTheRules) {
  const struct {
    Xfer record;
    double age_days;
    int filter;
    int32_t status;
    const char* done;
    bool deleted;
    int count;
  } cases[] = {
      {{.resumable = 0, .status = 4}, 0, -2, 3, "true", false, 0},
      {{.resumable = 2, .status = 0}, 0, -2, 2, "", false, 0},  // set, though not 1
      {{.direction = "Send", .status = 0}, 0, -2, 3, "true", false, 0},
      {{.done = "truex", .status = 3}, 8, -2, 3, "truex", false, 0},
      {{.status = 2}, 29, -2, 2, "", false, 0},
      {{.done = "true", .status = 3}, 0, -1, 3, "true", true, 1},
      {{.done = "true", .status = 3}, -2, -1, 3, "true", false, 0},
      {{.done = "true", .status = 3}, 4, 3, 3, "true", true, 1},
      {{.done = "true", .status = 3}, 2, 3, 3, "true", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.record.status << " " << c.age_days << " " << c.filter);
    Xfer record = c.record;
    record.time = DaysAgo(c.age_days);
    WriteText("qvxfer.dat", XferFile({record}, record.deleted ? 0 : -1));
    EXPECT_EQ(records::RunStartupPasses(&lock, c.filter, kNow), c.count);
    const std::string bytes = ReadText("qvxfer.dat");
    EXPECT_EQ(Get32(bytes, 24 + 2352), c.status);
    EXPECT_EQ(Text(bytes, 24 + 925, 6), c.done);
    EXPECT_EQ(bytes[24 + 4] == 1, c.deleted);
    EXPECT_EQ(Get32(bytes, 20), c.deleted ? 0 : -1);
    EXPECT_EQ(Get32(bytes, 24 + 8), -1);
  }
}

// The start-up passes over a hand-made file that crosses a chunk's end,
// with the filter "all" (7 days): what is reset, and what is deleted and
// pushed on the deleted list, the filter's deletions in slot order first,
// then the age purge's.
TEST_F(RecordTest, StartupPassesLeaveTheExpectedFile) {
  std::vector<Xfer> rows(40, Xfer{.time = DaysAgo(1), .status = 1});
  rows[0] = {.deleted = true, .time = DaysAgo(40), .status = 2};
  rows[1] = {.time = DaysAgo(1), .status = 4};
  rows[2] = {.direction = "Send", .time = DaysAgo(8), .status = 0};
  rows[3] = {.done = "true", .time = DaysAgo(8), .status = 3};
  rows[4] = {.time = DaysAgo(31), .status = 2};
  rows[34] = {.done = "true", .time = DaysAgo(6), .status = 3};
  rows[35] = {.time = DaysAgo(31), .status = 2};
  rows[36] = {.done = "true", .time = DaysAgo(40), .status = 3};
  std::vector<Xfer> expected = rows;
  expected[1].status = 2;
  expected[2] = {.deleted = true, .next = 0, .direction = "Send", .done = "true",
                 .time = DaysAgo(8), .status = 3};
  for (auto [slot, next] : {std::pair{3, 2}, {36, 3}, {4, 36}, {35, 4}}) {
    expected[slot].deleted = true;
    expected[slot].next = next;
  }
  WriteText("qvxfer.dat", XferFile(rows, 0));
  EXPECT_EQ(records::RunStartupPasses(&lock, -2, kNow), 3);
  const std::string wanted = XferFile(expected, 35);
  ASSERT_EQ(ReadText("qvxfer.dat").size(), wanted.size());
  EXPECT_EQ(ReadText("qvxfer.dat").substr(0, 24), wanted.substr(0, 24));
  for (int32_t slot = 0; slot < 40; ++slot) {
    EXPECT_TRUE(Record(slot) == wanted.substr(RecordAt(slot), kXferSize)) << "row " << slot;
  }
}

TEST_F(RecordTest, UpdateReportsACorruptedPathAndStillWrites) {
  WriteIni("LogLevel=3\n");
  QvLog::ReleaseInstance();
  XferRecord record;
  records::SetInitialValues(&record);
  std::strcpy(record.szFilePath, ":bad");
  std::strcpy(record.szXferUID, "u1");
  Manager()->Update(&record);
  const std::string log = ReadText("QvDebug.log");
  const size_t corrupted =
      log.find("): Above Record Looks Corrupted!!!!!  First char of filepath is :\n");
  ASSERT_NE(corrupted, std::string::npos) << log;
  EXPECT_NE(log.find("): Updating : u1\n", corrupted), std::string::npos) << log;
  EXPECT_NE(log.find("): RecNo = 0\n", corrupted), std::string::npos) << log;
  EXPECT_EQ(Text(Record(0), 12, 256), ":bad");
}

// A stop request ends the passes between chunks of 32 rows: what was done
// stays whole, the rest is left for the next start.
TEST_F(RecordTest, AStopRequestEndsThePassesBetweenChunks) {
  WriteText("qvxfer.dat", XferFile(std::vector<Xfer>(100, Xfer{.time = DaysAgo(1), .status = 4})));
  int asked = 0;
  EXPECT_EQ(records::RunStartupPasses(&lock, -2, kNow, [&] { return ++asked > 1; }), 0);
  EXPECT_EQ(asked, 2);
  const std::string bytes = ReadText("qvxfer.dat");
  for (int32_t slot : {0, 31, 32, 99}) {
    EXPECT_EQ(Get32(bytes, RecordAt(slot) + 2352), slot < 32 ? 2 : 4) << slot;
  }
  EXPECT_TRUE(Contains(ReadText("QvDebug.log"), "): Start-up passes stopped at row 32\n"));
}
