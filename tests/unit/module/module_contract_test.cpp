// A module is loaded as the host does it, by file name and through its exports (its answers
// through the host: tests/unit/server/module_host_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "device/module_entry.h"
#include "module/QvPeerModule.h"
#include "platform/shared_library.h"

TEST(ModuleContract, CalledThroughItsExportsOnly) {
  std::string error;
  auto library = platform::SharedLibrary::Load(EXAMPLE_MODULE, &error);
  ASSERT_TRUE(library) << error;
  auto construct = library->Find<ConstructQvModuleFn>("ConstructQvModule");
  auto destroy = library->Find<DestroyQvModuleFn>("DestroyQvModule");
  auto get_execute = library->Find<GetExecuteMethodFn>("GetExecuteMethod");
  auto dealloc = library->Find<DeallocMemFn>("DeallocMem");
  ASSERT_TRUE(construct && destroy && get_execute && dealloc);
  EXPECT_EQ(library->Symbol("GetUserObject"), nullptr);
  // The runtime inside stays the module's own.
  EXPECT_EQ(library->Symbol("_ZN5QvLog11GetInstanceEv"), nullptr);

  QvPeerModule* module = construct();
  ASSERT_NE(module, nullptr);
  destroy(module);
  destroy(nullptr);
}

TEST(ModuleEntry, CountsUsesAndIsTakenOnlyWhenUnused) {
  QvModule entry("QvServer", "1.0");
  EXPECT_EQ(entry.AcquireModule(), 1);
  EXPECT_FALSE(entry.TryTakeModule());
  EXPECT_EQ(entry.ReleaseModule(), 0);
  EXPECT_EQ(entry.ReleaseModule(), -1);
  EXPECT_EQ(entry.GetUseCount(), 0);
  EXPECT_TRUE(entry.TryTakeModule());
  EXPECT_FALSE(entry.TryTakeModule());
  EXPECT_FALSE(entry.AcquireUnlessTaken());
  EXPECT_EQ(entry.GetUseCount(), 0);
}
