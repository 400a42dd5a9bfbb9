// A module is loaded as the host does it, by file name and through its exports (its answers
// through the host: tests/unit/server/module_host_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "device/device.h"
#include "device/module_entry.h"
#include "module/QvPeerModule.h"
#include "platform/shared_library.h"
#include "support/work_dir.h"

namespace {

// The exports a host calls, found as the host finds them.
struct Exports {
  explicit Exports(const platform::SharedLibrary& library)
      : construct(library.Find<ConstructQvModuleFn>("ConstructQvModule")),
        destroy(library.Find<DestroyQvModuleFn>("DestroyQvModule")),
        get_execute(library.Find<GetExecuteMethodFn>("GetExecuteMethod")),
        dealloc(library.Find<DeallocMemFn>("DeallocMem")) {}
  bool Complete() const { return construct && destroy && get_execute && dealloc; }

  ConstructQvModuleFn construct;
  DestroyQvModuleFn destroy;
  GetExecuteMethodFn get_execute;
  DeallocMemFn dealloc;
};

}  // namespace

TEST(ModuleContract, CalledThroughItsExportsOnly) {
  std::string error;
  auto library = platform::SharedLibrary::Load(EXAMPLE_MODULE, &error);
  ASSERT_TRUE(library) << error;
  const Exports exports(*library);
  ASSERT_TRUE(exports.Complete());
  EXPECT_EQ(library->Symbol("GetUserObject"), nullptr);
  // The runtime inside stays the module's own.
  EXPECT_EQ(library->Symbol("_ZN5QvLog11GetInstanceEv"), nullptr);

  QvPeerModule* module = exports.construct();
  ASSERT_NE(module, nullptr);
  exports.destroy(module);
  exports.destroy(nullptr);
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
  const Exports exports(*library);
  ASSERT_TRUE(exports.Complete());
  QvPeerModule* module = exports.construct();
  ASSERT_NE(module, nullptr);
  tagREQUEST request{};
  request.pDevice = &device;

  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) device.SetAppPort(i % 2 ? "8080" : "9090");
  });
  std::vector<std::string> answers;
  for (int i = 0; i < 20; ++i) {
    char* answer = (module->*exports.get_execute())("operation=details", &request);
    answers.push_back(answer != nullptr ? answer : "(no answer)");
    exports.dealloc(answer);
  }
  writer.join();
  exports.destroy(module);
  for (const std::string& text : answers) {
    EXPECT_TRUE(text.find("\"port\":\"8080\"") != std::string::npos ||
                text.find("\"port\":\"9090\"") != std::string::npos)
        << text;
  }
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
