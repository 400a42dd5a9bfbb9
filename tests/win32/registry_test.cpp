// What the Windows build reads from the registry: the browser's proxy
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

// Sets a value under hive (HKEY_CURRENT_USER unless named; or deletes it,
// for none) and puts the one found there back when it goes.
class ScopedValue {
 public:
  ScopedValue(const char* key, const char* name, DWORD type, std::optional<std::string> bytes,
              HKEY hive = HKEY_CURRENT_USER)
      : hive_(hive), key_(key), name_(name), type_(type) {
    DWORD size = sizeof old_;
    if (::RegGetValueA(hive_, key, name, RRF_RT_ANY, &old_type_, old_, &size) == ERROR_SUCCESS) {
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
      ::RegDeleteKeyValueA(hive_, key_, name_);
    } else {
      ::RegSetKeyValueA(hive_, key_, name_, type, bytes->data(),
                        static_cast<DWORD>(bytes->size()));
    }
  }
  HKEY hive_;
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

// The machine's Run value when it has one (an installation for all users),
// else the current user's (a per-user installation).
TEST(Autostart, TheMachinesRunValueElseTheUsersIsTheCommand) {
  const std::string machine = "\"C:\\Program Files\\Yx\\QvServer\\peerserver.exe\" -wbx";
  const std::string user = "\"C:\\Users\\me\\Yx\\QvServer\\peerserver.exe\" -wbx";
  struct Case {
    std::optional<std::string> machine;
    std::optional<std::string> user;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {machine, user, machine},
      {std::nullopt, user, user},
      {"", user, user},
      {machine, std::nullopt, machine},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    ScopedValue in_machine(kRun, "QvTestEntry", REG_SZ,
                           c.machine ? std::optional(Text(*c.machine)) : std::nullopt,
                           HKEY_LOCAL_MACHINE);
    ScopedValue in_user(kRun, "QvTestEntry", REG_SZ,
                        c.user ? std::optional(Text(*c.user)) : std::nullopt);
    EXPECT_EQ(platform::AutostartCommand("QvTestEntry"), c.expected)
        << c.machine.value_or("(none)") << " / " << c.user.value_or("(none)");
  }
  EXPECT_EQ(platform::AutostartCommand("QvNoSuchEntry"), std::nullopt);
}
