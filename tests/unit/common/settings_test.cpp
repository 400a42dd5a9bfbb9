#include "common/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "common/ini_file.h"
#include "platform/process.h"
#include "support/work_dir.h"

namespace {

// "secret-device-key-42" enciphered with the program's pass phrase by
// `openssl enc -aes-256-cbc -pbkdf2 -a -A`.
constexpr char kStoredKey[] = "U2FsdGVkX19WN5m3TExRffhjx+l0u63p2nPn9IgAmt5b9Wk8b8APYZHLcT3MDccd";
// The same text under another phrase.
constexpr char kForeignKey[] = "U2FsdGVkX1+TmbKa/fNS1HYd37jw80CRCdxE+gOh6KxryGzFfvwxQXZcwyhjtYaJ";

class SettingsTest : public ::testing::Test {
 protected:
  void Ini(const std::string& body) { WriteText("vane.ini", "[Quovane]\n" + body); }
  QvSettings* settings = QvSettings::GetInstance();
  ScopedWorkDir dir;
};

}  // namespace

TEST_F(SettingsTest, MissingFileReadsAsNotSetOrTheDefault) {
  char text[32] = "junk";
  EXPECT_EQ(settings->GetSettingString("BrokerIP", text, sizeof text), 1);
  EXPECT_STREQ(text, "0");
  EXPECT_EQ(settings->GetSetting("BrokerIP"), "0");
  EXPECT_EQ(settings->GetSettingInt("LogLevel", 7, false), 7);
  EXPECT_EQ(settings->HeartbeatSleep(60000), 60000);
  EXPECT_EQ(settings->XferRetryInterval(), 0);
  EXPECT_EQ(settings->TransactionFilter(), -2);
  EXPECT_FALSE(std::filesystem::exists("vane.ini"));
}

TEST_F(SettingsTest, EmptyAndBlankValues) {
  Ini("Empty=\nBlank=\" \"\nLogLevel=\n");
  char text[32] = "junk";
  EXPECT_EQ(settings->GetSettingString("Empty", text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(settings->GetSetting("Empty"), std::nullopt);
  EXPECT_EQ(settings->GetSetting("Blank"), std::nullopt);
  EXPECT_EQ(settings->GetSettingInt("LogLevel", 5, false), 0);
}

TEST_F(SettingsTest, ValuesAreCutToTheReadersBuffer) {
  Ini("brokerip=" + std::string(100, 'h') + "\nLogLevel= 12abc\nNeg=-3\n");
  EXPECT_EQ(settings->BrokerIP(), std::string(63, 'h'));
  char text[10];
  EXPECT_EQ(settings->ReadSetting("BrokerIP", "0", text, sizeof text, false), 9);
  EXPECT_STREQ(text, "hhhhhhhhh");
  EXPECT_EQ(settings->LogLevel(), 12);
  EXPECT_EQ(settings->GetSettingInt("Neg", 0, false), -3);
}

TEST_F(SettingsTest, ConvertedKeys) {
  Ini("HeartbeatSleep=1500\nXferRetryInterval=4\nTransactionFilter=session\n");
  EXPECT_EQ(settings->HeartbeatSleep(60000), 1500);
  // Saturated as a 32-bit long, not wrapped into an accepted interval.
  Ini("HeartbeatSleep=4294977296\n");
  EXPECT_EQ(settings->HeartbeatSleep(60000), 2147483647);
  Ini("HeartbeatSleep=-4294957296\n");
  EXPECT_EQ(settings->HeartbeatSleep(60000), -2147483648L);
  Ini("HeartbeatSleep=1500\nXferRetryInterval=4\nTransactionFilter=session\n");
  EXPECT_EQ(settings->XferRetryInterval(), 4);
  EXPECT_EQ(settings->TransactionFilter(), -1);
  for (auto [value, expected] : {std::pair{"all", -2}, {"", -2}, {"ALL", 0}, {"25", 25}}) {
    ASSERT_EQ(settings->WriteSetting("TransactionFilter", value), 0);
    EXPECT_EQ(settings->TransactionFilter(), expected) << value;
  }
}

TEST_F(SettingsTest, WriteCreatesTheFileAndKeepsEverythingElse) {
  ASSERT_EQ(settings->WriteSetting("AppPort", "4080"), 0);
  EXPECT_EQ(ReadText("vane.ini"), "[Quovane]\nAppPort=4080\n");

  WriteText("vane.ini", "; installed\r\n[quovane]\r\nAppPort=82\r\nOther=1\r\n");
  ASSERT_EQ(settings->WriteSetting("APPPORT", "4081"), 0);
  ASSERT_EQ(settings->WriteSetting("BrokerPort", "80"), 0);
  EXPECT_EQ(ReadText("vane.ini"),
            "; installed\r\n[quovane]\r\nAppPort=4081\r\nOther=1\r\nBrokerPort=80\r\n");
  EXPECT_EQ(settings->AppPort(), "4081");
}

TEST_F(SettingsTest, RefusesAValueThatWouldPlantAnotherKey) {
  Ini("LogLevel=1\n");
  EXPECT_EQ(settings->WriteSetting("LogLevel", "3\nAppPath=/tmp/evil"), -1);
  EXPECT_EQ(settings->WriteSetting("Evil\r\nAppPath", "x"), -1);
  EXPECT_EQ(settings->WriteSetting("[Other]", "x"), -1);
  EXPECT_EQ(ReadText("vane.ini"), "[Quovane]\nLogLevel=1\n");
  EXPECT_EQ(settings->AppPath(), "0");
}

TEST_F(SettingsTest, DeviceKeyIsDecryptedWithThePassPhrase) {
  Ini(std::string("DeviceKey=") + kStoredKey + "\n");
  char key[2048];
  std::memset(key, 'x', sizeof key);
  settings->DeviceKey(key, sizeof key);
  EXPECT_STREQ(key, "secret-device-key-42");
  EXPECT_EQ(key[sizeof key - 1], '\0');

  char small[7];
  settings->DeviceKey(small, sizeof small);
  EXPECT_STREQ(small, "secret");

  for (const char* stored : {kForeignKey, "0", "not base64 at all"}) {
    ASSERT_EQ(settings->WriteSetting("DeviceKey", stored), 0);
    std::memset(key, 'x', sizeof key);
    settings->DeviceKey(key, sizeof key);
    EXPECT_STREQ(key, "") << stored;
  }
}

TEST_F(SettingsTest, ConcurrentWritersOfDifferentKeysLoseNone) {
  constexpr int kThreads = 3;
  constexpr int kKeys = 25;
  auto child = platform::Process::Start(QVCORE_CHILD, {"settings", "child", "3", "25"});
  ASSERT_EQ(child.error, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kKeys; ++i) {
        std::string key = "self_" + std::to_string(t) + "_" + std::to_string(i);
        QvSettings::GetInstance()->WriteSetting(key, "v" + key);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(child.value->Wait(), 0);

  const std::string text = ReadText("vane.ini");
  for (const char* tag : {"self", "child"}) {
    for (int t = 0; t < kThreads; ++t) {
      for (int i = 0; i < kKeys; ++i) {
        std::string key = std::string(tag) + "_" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_EQ(IniFind(text, "Quovane", key), "v" + key);
      }
    }
  }
}
