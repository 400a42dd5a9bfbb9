// all_proxy as the last fallback, as curl reads it, and the no_proxy
// entries that keep a host out of it.
#include "platform/all_proxy.h"

#include <gtest/gtest.h>

TEST(AllProxy, NamesTheProxyUnlessNoProxyNamesTheHost) {
  struct Case {
    const char* url;
    const char* all_proxy;
    const char* no_proxy;
    const char* proxy;  // null: direct
  };
  const Case cases[] = {
      {"https://broker.example:8443/", "socks5://127.0.0.1:1080", "", "socks5://127.0.0.1:1080"},
      {"http://broker.example/", " proxy.lan:3128 ", "", "http://proxy.lan:3128"},
      {"http://broker.example/", "", "", nullptr},
      {"http://broker.example/", "socks5://p:1080", "other.example, example", nullptr},
      {"http://broker.example/", "socks5://p:1080", ".Example", nullptr},
      {"http://badexample/", "socks5://p:1080", "example", "socks5://p:1080"},
      {"http://10.1.2.3:81/", "socks5://p:1080", "10.0.0.0/8", nullptr},
      {"https://127.0.0.1:8443/", "socks5://p:1080", "127.0.0.1:443", "socks5://p:1080"},
      {"https://127.0.0.1:8443/", "socks5://p:1080", "127.0.0.1:8443", nullptr},
      {"http://[::1]:80/", "socks5://p:1080", "::1", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url) + " no_proxy=" + c.no_proxy);
    const std::optional<std::string> proxy = platform::AllProxyFor(c.url, c.all_proxy, c.no_proxy);
    EXPECT_EQ(proxy.value_or("direct"), c.proxy != nullptr ? c.proxy : "direct");
  }
}
