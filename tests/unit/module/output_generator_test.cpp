#include "module/output_generator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/lookup_table.h"
#include "platform/socket.h"
#include "support/loopback.h"
#include "support/work_dir.h"

// The expansion itself (tags, CR LF, pieces of 255) is checked against a
// model of it by tests/fuzz/template_fuzz.cpp.
namespace {

class CollectingOutput : public OutputGenerator {
 public:
  std::string all;

 protected:
  void WriteOutput(const char* text, int length) override {
    all.append(text, static_cast<size_t>(length));
  }
};

class OutputTest : public ::testing::Test {
 protected:
  OutputTest() {
    table.Insert("PORT", "4080");
    table.Insert("NAME", "peer");
    std::filesystem::create_directories("vclient");
  }

  ScopedWorkDir dir;
  QvLookupTable table;
};

}  // namespace

TEST_F(OutputTest, MissingTemplateOrTableWritesNothingOfThem) {
  CollectingOutput output;
  output.setSendHeaders(true);
  EXPECT_FALSE(output.ConstructOutputFromTemplate());
  output.setTemplate("vclient\\absent.htx");
  EXPECT_FALSE(output.ConstructOutputFromTemplate());
  EXPECT_EQ(output.all, "");

  WriteText("page.htx", "a[%PORT%]b\n");
  output.setTemplate("page.htx");
  output.setSendHeaders(false);
  ASSERT_TRUE(output.ConstructOutputFromTemplate());
  EXPECT_EQ(output.all, "ab\n");
}

TEST_F(OutputTest, SendsHeadersAndPageOnASocket) {
  WriteText("vclient/port.htx", "var port=[%PORT%];\r\nvar name=\"[%NAME%]\";\r\n");
  LoopbackPair pair;
  OutputGenerator output;
  output.m_pTable = &table;
  output.setTemplate("vclient\\port.htx");
  output.setSendHeaders(true);
  platform::SocketDescriptor socket = pair.server();
  output.setSocket(socket);
  ASSERT_TRUE(output.ConstructOutputFromTemplate());
  platform::ShutdownSend(pair.server());
  EXPECT_EQ(pair.ReadAll(pair.client()),
            "HTTP/1.0 200 OK\nCache-Control: no-store\r\nContent-Type: text/html\r\n\r\n"
            "var port=4080;\nvar name=\"peer\";\n");
}

TEST_F(OutputTest, FileVariantReplacesItsFile) {
  std::filesystem::create_directories("doc");
  WriteText("vclient/port.htx", "port=[%PORT%]\n");
  WriteText("doc/port.js", "old content that is longer than the new one\n");
  {
    FileOutputGenerator output("doc\\port.js");
    output.m_pTable = &table;
    output.setTemplate("vclient\\port.htx");
    ASSERT_TRUE(output.ConstructOutputFromTemplate());
  }
  EXPECT_EQ(ReadText("doc/port.js"), "port=4080\n");
  FileOutputGenerator nowhere("no-such-dir\\port.js");  // swallows the output
  nowhere.setTemplate("vclient\\port.htx");
  EXPECT_TRUE(nowhere.ConstructOutputFromTemplate());
}
