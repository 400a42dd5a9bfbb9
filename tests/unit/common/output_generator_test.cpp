#include "common/output_generator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/lookup_table.h"
#include "platform/socket.h"
#include "support/loopback.h"
#include "support/work_dir.h"

// Joined output against a model of the expansion: tests/fuzz/template_fuzz.cpp.
namespace {

using Writes = std::vector<std::string>;

// Keeps every write apart, to check the pieces and their number.
class CollectingOutput : public OutputGenerator {
 public:
  Writes writes;

 protected:
  void WriteOutput(const char* text, int length) override {
    writes.emplace_back(text, static_cast<size_t>(length));
  }
};

class OutputTest : public ::testing::Test {
 protected:
  OutputTest() {
    table.Insert("PORT", "4080");
    table.Insert("NAME", "peer");
    std::filesystem::create_directories("vclient");
  }
  Writes Expand(const std::string& text) {
    WriteText("page.htx", text);
    CollectingOutput output;
    output.m_pTable = &table;
    output.setTemplate("page.htx");
    EXPECT_TRUE(output.ConstructOutputFromTemplate());
    return output.writes;
  }

  ScopedWorkDir dir;
  QvLookupTable table;
};

}  // namespace

TEST_F(OutputTest, WritesTheTextBeforeATagItsValueAndTheRestInPiecesOf255) {
  EXPECT_EQ(Expand("Port [%PORT%];\n"), (Writes{"Port ", "4080", ";\n"}));
  EXPECT_EQ(Expand("[%PORT%]x[%MISSING%]\n[%NAME%]"),
            (Writes{"", "4080", "x", "", "\n", "", "peer", ""}));
  // Long lines arrive in pieces of 255, CR LF folded.
  EXPECT_EQ(Expand(std::string(300, 'a') + "\n"),
            (Writes{std::string(255, 'a'), std::string(45, 'a') + "\n"}));
  EXPECT_EQ(Expand(std::string(255, 'c') + "\nnext\n"),
            (Writes{std::string(255, 'c'), "\n", "next\n"}));
  EXPECT_EQ(Expand("a[%NAME%]\r\nb\rc\r\n"), (Writes{"a", "peer", "\n", "b\rc\n"}));
  // The folded pair counts as one character of the 255.
  EXPECT_EQ(Expand(std::string(254, 'd') + "\r\n"), (Writes{std::string(254, 'd') + "\n"}));
}

TEST_F(OutputTest, MissingTemplateOrTableWritesNothingOfThem) {
  CollectingOutput output;
  output.setSendHeaders(true);
  EXPECT_FALSE(output.ConstructOutputFromTemplate());
  output.setTemplate("vclient\\absent.htx");
  EXPECT_FALSE(output.ConstructOutputFromTemplate());
  EXPECT_TRUE(output.writes.empty());

  WriteText("page.htx", "a[%PORT%]b\n");
  output.setTemplate("page.htx");
  output.setSendHeaders(false);
  ASSERT_TRUE(output.ConstructOutputFromTemplate());
  EXPECT_EQ(output.writes, (Writes{"a", "", "b\n"}));
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
            "HTTP/1.0 200 OK\nContent-Type: text/html\r\n\r\nvar port=4080;\nvar name=\"peer\";\n");
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
