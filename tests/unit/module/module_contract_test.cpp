// A module is loaded as the host does it, by file name and through its exports (its answers
// through the host: tests/unit/server/module_host_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "device/device.h"
#include "device/module_entry.h"
#include "module/QvPeerModule.h"
#include "platform/shared_library.h"
#include "support/work_dir.h"

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

// A module reads the host's device with its own copy of the device code,
// while the host's threads rewrite it: under the host's lock, or the
// ThreadSanitizer build reports the race (a status page during a re-login).
// The status module is built where the sanitizers run, not for Windows.
#ifdef STATUS_MODULE
TEST(ModuleContract, AModuleReadsTheHostsDeviceUnderTheHostsLock) {
  ScopedWorkDir dir;
  WriteIni("AppPort=8080\n");
  QvDevice device;
  ASSERT_EQ(device.LoadConfiguration(), 0);
  std::string error;
  auto library = platform::SharedLibrary::Load(STATUS_MODULE, &error);
  ASSERT_TRUE(library) << error;
  auto construct = library->Find<ConstructQvModuleFn>("ConstructQvModule");
  auto destroy = library->Find<DestroyQvModuleFn>("DestroyQvModule");
  auto get_execute = library->Find<GetExecuteMethodFn>("GetExecuteMethod");
  auto dealloc = library->Find<DeallocMemFn>("DeallocMem");
  ASSERT_TRUE(construct && destroy && get_execute && dealloc);
  QvPeerModule* module = construct();
  ASSERT_NE(module, nullptr);
  tagREQUEST request{};
  request.pDevice = &device;

  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) device.SetAppPort(i % 2 ? "8080" : "9090");
  });
  for (int i = 0; i < 20; ++i) {
    char* answer = (module->*get_execute())("operation=details", &request);
    ASSERT_NE(answer, nullptr);
    const std::string text = answer;
    dealloc(answer);
    EXPECT_TRUE(text.find("\"port\":\"8080\"") != std::string::npos ||
                text.find("\"port\":\"9090\"") != std::string::npos)
        << text;
  }
  writer.join();
  destroy(module);
}
#endif

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
