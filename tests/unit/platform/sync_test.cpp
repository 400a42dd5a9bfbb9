#include <gtest/gtest.h>

#include <thread>

#include "platform/event.h"
#include "platform/file_lock.h"
#include "platform/named_mutex.h"
#include "support/work_dir.h"

using platform::WaitResult;

TEST(Event, ManualResetStaysSignalledAutoResetReleasesOneWaiter) {
  platform::Event manual(true, false), automatic(false, true);
  EXPECT_FALSE(manual.Wait(0));
  manual.Set();
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.Wait(1));

  EXPECT_TRUE(automatic.Wait(0));
  EXPECT_FALSE(automatic.Wait(0));
  std::thread setter([&] { automatic.Set(); });
  EXPECT_TRUE(automatic.Wait(10000)) << "the set from another thread was lost";
  setter.join();
  EXPECT_FALSE(automatic.IsSet());
}

TEST(NamedMutex, RecursiveForItsOwnerExclusiveForOthers) {
  ScopedWorkDir dir;
  platform::NamedMutex mutex("TEST_MUTEX");
  ASSERT_EQ(mutex.Lock(0), WaitResult::kAcquired);
  ASSERT_EQ(mutex.Lock(0), WaitResult::kAcquired);

  std::thread other([&] {
    EXPECT_EQ(mutex.Lock(10), WaitResult::kTimeout);
    EXPECT_FALSE(mutex.Unlock());
  });
  other.join();

  // Another process holds the file lock while we hold the mutex.
  platform::FileLock outside("TEST_MUTEX.lock");
  EXPECT_FALSE(outside.LockFor(0));

  EXPECT_TRUE(mutex.Unlock());
  EXPECT_FALSE(outside.LockFor(0));  // still held once
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_FALSE(mutex.Unlock());
  EXPECT_TRUE(outside.LockFor(0));

  // ...and now the mutex waits for it.
  EXPECT_EQ(mutex.Lock(20), WaitResult::kTimeout);
  outside.Unlock();
  EXPECT_EQ(mutex.Lock(0), WaitResult::kAcquired);
  EXPECT_TRUE(mutex.Unlock());
}
