// A writer whose file cannot grow (a file size limit, POSIX): a new row that
// is not written whole is never counted in the header.
#include <gtest/gtest.h>

#include <filesystem>

#include "records/transfer_rules.h"
#include "support/child_process.h"
#include "support/record_bytes.h"

using namespace record_bytes;

// The writer stores r-0, r-1, r-2, deletes r-1, stores r-3 in its slot;
// the limit (15 blocks of 512 bytes) then cuts the new row for r-4 short,
// and every later one fails.
TEST_F(RecordTest, ARowCutShortByTheFileSizeLimitIsNotCounted) {
  auto child = ChildProcess::Start(
      "/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 15; exec \"$0\" r", RECORDS_CHILD}, "child.out");
  ASSERT_NE(child, nullptr);
  ASSERT_EQ(child->WaitFor(std::chrono::seconds(60)), 0) << ReadText("child.out");
  const std::string bytes = ReadText("qvxfer.dat");
  EXPECT_EQ(bytes.size(), 15u * 512);
  EXPECT_EQ(bytes.substr(0, 24), Header(2002, kXferSize, 3, -1));
  std::vector<std::string> uids;
  Manager()->ForEachTransferRecord(
      [&](XferRecord& record) { uids.emplace_back(FieldText(record.szXferUID)); });
  EXPECT_EQ(uids, (std::vector<std::string>{"r-0", "r-3", "r-2"}));
  EXPECT_FALSE(std::filesystem::exists("qvxfer.dat.damaged"));
}
