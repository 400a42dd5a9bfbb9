#include "platform/event.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Event, ManualResetStaysSignalledUntilReset) {
  platform::Event event(true, false);
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(1));
}

TEST(Event, AutoResetReleasesOneWaiter) {
  platform::Event event(false, true);
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.Wait(platform::kWaitForever));
  setter.join();
  EXPECT_FALSE(event.IsSet());
}
