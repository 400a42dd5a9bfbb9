// What the Windows build reads from the user's registry: the browser's proxy
// choice (Internet Settings) and the log-on command (the Run key).
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "platform/autostart.h"
#include "platform/system_proxy.h"

namespace {

constexpr char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Sets a value under HKEY_CURRENT_USER (or deletes it, for none) and puts
// the one found there back when it goes.
class ScopedValue {
 public:
  ScopedValue(const char* key, const char* name, DWORD type, std::optional<std::string> bytes)
      : key_(key), name_(name), type_(type) {
    DWORD size = sizeof old_;
    if (::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, &old_type_, old_, &size) ==
        ERROR_SUCCESS) {
      old_size_ = size;
    }
    Put(type_, bytes ? &*bytes : nullptr);
  }
  ~ScopedValue() {
    std::string old(old_, old_size_);
    Put(old_type_, old_size_ != 0 ? &old : nullptr);
  }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  void Put(DWORD type, const std::string* bytes) {
    if (bytes == nullptr) {
      ::RegDeleteKeyValueA(HKEY_CURRENT_USER, key_, name_);
    } else {
      ::RegSetKeyValueA(HKEY_CURRENT_USER, key_, name_, type, bytes->data(),
                        static_cast<DWORD>(bytes->size()));
    }
  }
  const char* key_;
  const char* name_;
  DWORD type_;
  DWORD old_type_ = REG_NONE;
  char old_[1024] = {};
  DWORD old_size_ = 0;
};

std::string Dword(DWORD value) { return std::string(reinterpret_cast<char*>(&value), 4); }
std::string Text(const std::string& text) { return text + '\0'; }

}  // namespace

TEST(SystemProxy, TheProxyServerTextCountsOnlyWhenEnabled) {
  struct Case {
    std::optional<DWORD> enable;
    std::optional<std::string> server;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {1, "http=proxy:3128;https=proxy:3129", "http=proxy:3128;https=proxy:3129"},
      {1, "proxy:8080", "proxy:8080"},
      {0, "proxy:8080", std::nullopt},
      {std::nullopt, "proxy:8080", std::nullopt},
      {1, "", std::nullopt},
      {1, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    ScopedValue enable(kInternetSettings, "ProxyEnable", REG_DWORD,
                       c.enable ? std::optional(Dword(*c.enable)) : std::nullopt);
    ScopedValue server(kInternetSettings, "ProxyServer", REG_SZ,
                       c.server ? std::optional(Text(*c.server)) : std::nullopt);
    const platform::SystemProxy proxy =
        platform::ReadSystemProxy("http://broker:80/", "https://broker:443/");
    EXPECT_EQ(proxy.server, c.expected) << c.server.value_or("(none)");
    EXPECT_EQ(proxy.origin, c.expected ? platform::ProxyOrigin::kInternetSettings
                                       : platform::ProxyOrigin::kNone);
  }
}

TEST(Autostart, TheRunKeyValueIsTheCommand) {
  const std::string command = "\"C:\\Program Files\\Yx\\QvServer\\peerserver.exe\" -wbx";
  ScopedValue entry(kRun, "QvTestEntry", REG_SZ, Text(command));
  EXPECT_EQ(platform::AutostartCommand("QvTestEntry"), command);
  EXPECT_EQ(platform::AutostartCommand("QvNoSuchEntry"), std::nullopt);
}
