// Files the program writes in the working directory and in ../doc, where
// another local user may plant links: none is followed, and the ones that
// hold secrets are the user's alone whatever the umask.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/log.h"
#include "base/lookup_table.h"
#include "base/settings.h"
#include "module/output_generator.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

fs::perms Mode(const fs::path& file) {
  return fs::symlink_status(file).permissions() & fs::perms::mask;
}

constexpr fs::perms kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms kReadable = kOwnerOnly | fs::perms::group_read | fs::perms::others_read;

}  // namespace

TEST(PlantedFiles, LinksAreNotFollowedAndSecretsAreTheOwnersAlone) {
  ScopedWorkDir dir;
  const mode_t old_umask = ::umask(022);
  fs::create_directories("work/vclient");
  fs::create_directories("doc");
  WriteText("victim", "precious\n");
  fs::current_path("work");  // ScopedWorkDir goes back
  WriteText("vclient/port.htx", "var QvPort = [%PORT%];\n");

  QvSettings::GetInstance()->WriteSetting("LogLevel", "3");
  QvSettings::GetInstance()->WriteSetting("LogReset", "1");
  EXPECT_EQ(Mode("vane.ini"), kOwnerOnly);
  for (const char* link : {"QvDebug.log", "QvErrLog.log", "../doc/port.js"}) {
    fs::create_symlink(fs::absolute("../victim"), link);
  }

  QvLog::ReleaseInstance();
  QvLog::GetInstance()->Write("through a link?", 1);  // the reset and the line
  {
    QvLookupTable table;
    table.Insert("PORT", "4080");
    FileOutputGenerator output("..\\doc\\port.js");
    output.m_pTable = &table;
    output.setTemplate("vclient\\port.htx");
    output.ConstructOutputFromTemplate();
  }
  EXPECT_EQ(ReadText("../victim"), "precious\n");
  EXPECT_FALSE(fs::is_symlink("../doc/port.js"));
  EXPECT_EQ(ReadText("../doc/port.js"), "var QvPort = 4080;\n");
  EXPECT_EQ(Mode("../doc/port.js"), kReadable);

  fs::remove("QvDebug.log");
  fs::remove("QvErrLog.log");
  QvLog::ReleaseInstance();
  QvLog::GetInstance()->Write("a line", 1);
  EXPECT_EQ(Mode("QvDebug.log"), kOwnerOnly);
  EXPECT_EQ(Mode("QvErrLog.log"), kOwnerOnly);
  QvLog::ReleaseInstance();
  ::umask(old_umask);
}
