#include "base/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "base/ini_file.h"
#include "support/child_process.h"
#include "support/work_dir.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  QvSettings* settings = QvSettings::GetInstance();
  ScopedWorkDir dir;
};

}  // namespace

TEST_F(SettingsTest, MissingOrEmptyValuesReadAsNotSetOrTheDefault) {
  char text[32] = "junk";
  EXPECT_EQ(settings->GetSettingString("BrokerIP", text, sizeof text), 1);
  EXPECT_STREQ(text, "0");
  EXPECT_EQ(settings->GetSetting("BrokerIP"), "0");
  EXPECT_EQ(settings->GetSettingInt("LogLevel", 7, false), 7);
  EXPECT_EQ(settings->GetSettingInts({{"LogLevel", 7}}), std::vector<int>{7});
  EXPECT_EQ(settings->HeartbeatSleep(60000), 60000);
  EXPECT_EQ(settings->XferRetryInterval(), 0);
  EXPECT_EQ(settings->TransactionFilter(), -2);
  EXPECT_FALSE(std::filesystem::exists("vane.ini"));

  WriteIni("Empty=\nBlank=\" \"\nLogLevel=\n");
  EXPECT_EQ(settings->GetSettingString("Empty", text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(settings->GetSetting("Empty"), std::nullopt);
  EXPECT_EQ(settings->GetSetting("Blank"), std::nullopt);
  EXPECT_EQ(settings->GetSettingInt("LogLevel", 5, false), 0);
  EXPECT_EQ(settings->GetSettingInts({{"LogLevel", 5}}), std::vector<int>{0});
}

TEST_F(SettingsTest, ValuesAreCutToTheReadersBufferAndConverted) {
  WriteIni("brokerip=" + std::string(100, 'h') +
           "\nLogLevel= 12abc\nNeg=-3\nHeartbeatSleep=1500\n" +
           "XferRetryInterval=4\nTransactionFilter=session\nLong=" + std::string(15, '0') + "7\n");
  EXPECT_EQ(settings->BrokerIP(), std::string(63, 'h'));
  char text[10];
  EXPECT_EQ(settings->ReadSetting("BrokerIP", "0", text, sizeof text, false), 9);
  EXPECT_STREQ(text, "hhhhhhhhh");
  EXPECT_EQ(settings->LogLevel(), 12);
  EXPECT_EQ(settings->GetSettingInt("Neg", 0, false), -3);
  EXPECT_EQ(settings->GetSettingInt("Long", 1, false), 0);
  EXPECT_EQ(settings->GetSettingInts({{"LogLevel", 1}, {"Neg", 0}, {"Missing", 9}, {"Long", 1}}),
            (std::vector<int>{12, -3, 9, 0}));
  EXPECT_EQ(settings->HeartbeatSleep(60000), 1500);
  EXPECT_EQ(settings->XferRetryInterval(), 4);
  EXPECT_EQ(settings->TransactionFilter(), -1);
  for (auto [value, expected] : {std::pair{"all", -2}, {"", -2}, {"ALL", 0}, {"25", 25}}) {
    ASSERT_EQ(settings->WriteSetting("TransactionFilter", value), 0);
    EXPECT_EQ(settings->TransactionFilter(), expected) << value;
  }
  // Saturated as a 32-bit long, not wrapped into an accepted interval.
  for (auto [value, expected] :
       {std::pair{"4294977296", 2147483647L}, {"-4294957296", -2147483648L}}) {
    ASSERT_EQ(settings->WriteSetting("HeartbeatSleep", value), 0);
    EXPECT_EQ(settings->HeartbeatSleep(60000), expected) << value;
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
  WriteIni("LogLevel=1\n");
  EXPECT_EQ(settings->WriteSetting("LogLevel", "3\nAppPath=/tmp/evil"), -1);
  EXPECT_EQ(settings->WriteSetting("Evil\r\nAppPath", "x"), -1);
  EXPECT_EQ(settings->WriteSetting("[Other]", "x"), -1);
  EXPECT_EQ(ReadText("vane.ini"), "[Quovane]\nLogLevel=1\n");
  EXPECT_EQ(settings->AppPath(), "0");
}

TEST_F(SettingsTest, DeviceKeyIsDecryptedWithThePassPhraseOrEmpty) {
  // "secret-device-key-42" by `openssl enc -aes-256-cbc -pbkdf2 -a -A` (see qvcrypt_test.cpp).
  WriteIni("DeviceKey=U2FsdGVkX19WN5m3TExRffhjx+l0u63p2nPn9IgAmt5b9Wk8b8APYZHLcT3MDccd\n");
  char key[2048], small[7];
  std::memset(key, 'x', sizeof key);
  settings->DeviceKey(key, sizeof key);
  EXPECT_STREQ(key, "secret-device-key-42");
  EXPECT_EQ(key[sizeof key - 1], '\0');
  settings->DeviceKey(small, sizeof small);
  EXPECT_STREQ(small, "secret");
  // The same text under another phrase decrypts to nothing.
  WriteIni("DeviceKey=U2FsdGVkX1+TmbKa/fNS1HYd37jw80CRCdxE+gOh6KxryGzFfvwxQXZcwyhjtYaJ\n");
  std::memset(key, 'x', sizeof key);
  settings->DeviceKey(key, sizeof key);
  EXPECT_STREQ(key, "");
}

TEST_F(SettingsTest, ConcurrentWritersOfDifferentKeysLoseNone) {
  auto child = ChildProcess::Start(QVCORE_CHILD, {"settings", "child", "3", "25"}, "child.out");
  ASSERT_TRUE(child);
  auto key = [](std::string tag, int t, int i) {
    return tag + "_" + std::to_string(t) + "_" + std::to_string(i);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([t, key] {
      for (int i = 0; i < 25; ++i) {
        const std::string k = key("self", t, i);
        QvSettings::GetInstance()->WriteSetting(k, "v" + k);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // A deadlock is what this looks for: it must fail, not hang.
  ASSERT_EQ(child->WaitFor(std::chrono::seconds(60)), 0)
      << "the other process failed or hangs: " << ReadText("child.out");
  const std::string text = ReadText("vane.ini");
  for (const char* tag : {"self", "child"}) {
    for (int n = 0; n < 75; ++n) {
      const std::string k = key(tag, n / 25, n % 25);
      EXPECT_EQ(IniFind(text, "Quovane", k), "v" + k);
    }
  }
}
