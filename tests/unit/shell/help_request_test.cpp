// The help answer a module hands the main window: only the help file opens,
// whatever the caller put into the redirect's target.
#include "shell/help_request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

// The diagnostic's answer: the decoded target, then its fixed query.
std::string HelpAnswer(const std::string& target, const std::string& page) {
  return "HTTP/1.0 302 Found\nLocation: " + target +
         "?qvstatus=200&file=..\\doc\\troubleshoot.chm&page=" + page + "\n\n";
}

}  // namespace

TEST(HelpRequest, OnlyTheHelpFileAtAPageInsideIt) {
  std::string many_pairs = "/x?";
  for (int i = 0; i < 97; ++i) many_pairs += "&a";
  many_pairs += "&file=/home/user/.ssh/id_rsa&";  // the 98th pair, then the limit
  struct Case {
    std::string answer;
    std::optional<std::string> page;
  } cases[] = {
      {HelpAnswer("/vclient/help.html", "start.htm"), "start.htm"},
      {"qvstatus=200&file=..\\doc\\troubleshoot.chm&page=\n\n", ""},
      {HelpAnswer(many_pairs, "start.htm"), std::nullopt},
      {HelpAnswer("/x?file=/etc/passwd", ""), ""},  // the fixed file comes later and wins
      {HelpAnswer("/x", "../../secret.htm"), std::nullopt},
      {HelpAnswer("/x", "mk:@MSITStore:other.chm::/a.htm"), std::nullopt},
      {"qvstatus=200&page=a.htm\n\n", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shell::HelpPage(c.answer), c.page) << c.answer.substr(0, 80);
  }
}
