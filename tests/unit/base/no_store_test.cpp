// Cache-Control: no-store goes after the status line of an answer that does
// not say how to cache, in the status line's own line ending.
#include "base/no_store.h"

#include <gtest/gtest.h>

TEST(NoStore, AddedAfterTheStatusLineWhereNothingSaysHowToCache) {
  const std::pair<const char*, const char*> cases[] = {
      {"HTTP/1.0 200 OK\nContent-Type: text/plain\n\nbody",
       "HTTP/1.0 200 OK\nCache-Control: no-store\nContent-Type: text/plain\n\nbody"},
      {"HTTP/1.0 302 Found\r\nLocation: x\r\n\r\n",
       "HTTP/1.0 302 Found\r\nCache-Control: no-store\r\nLocation: x\r\n\r\n"},
      {"HTTP/1.0 200 OK\ncache-control: max-age=5\n\n",
       "HTTP/1.0 200 OK\ncache-control: max-age=5\n\n"},
      // Only the header block counts; a text without a status line is left.
      {"HTTP/1.0 200 OK\n\nCache-Control: in the body",
       "HTTP/1.0 200 OK\nCache-Control: no-store\n\nCache-Control: in the body"},
      {"qvstatus=200", "qvstatus=200"},
      {"HTTP/1.0 200 OK", "HTTP/1.0 200 OK"},
  };
  for (const auto& [answer, sent] : cases) EXPECT_EQ(WithNoStore(answer), sent) << answer;
}
