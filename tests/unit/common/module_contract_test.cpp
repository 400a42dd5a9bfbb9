// A module is loaded and called exactly as the host does it: by file name,
// through its exports, Execute through the member pointer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/QvPeerModule.h"
#include "common/device.h"
#include "common/module_entry.h"
#include "platform/shared_library.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

TEST(ModuleContract, CalledThroughItsExports) {
  std::string error;
  auto library = platform::SharedLibrary::Load(EXAMPLE_MODULE, &error);
  ASSERT_TRUE(library) << error;
  auto construct = library->Find<ConstructQvModuleFn>("ConstructQvModule");
  auto destroy = library->Find<DestroyQvModuleFn>("DestroyQvModule");
  auto get_execute = library->Find<GetExecuteMethodFn>("GetExecuteMethod");
  auto dealloc = library->Find<DeallocMemFn>("DeallocMem");
  auto get_version = library->Find<GetModuleVersionFn>("GetModuleVersion");
  ASSERT_TRUE(construct && destroy && get_execute && dealloc && get_version);
  EXPECT_EQ(library->Symbol("GetUserObject"), nullptr);
  // Only the contract is exported: the runtime inside stays the module's own.
  EXPECT_EQ(library->Symbol("_ZN5QvLog11GetInstanceEv"), nullptr);

  char version[32];
  get_version(version);
  EXPECT_STREQ(version, "1.7");

  QvPeerModule* module = construct();
  ASSERT_NE(module, nullptr);
  QvExecuteMethod execute = get_execute();
  tagREQUEST request{};
  char query[] = "op=echo&name=a%20b&flag";
  char* answer = (module->*execute)(query, &request);
  ASSERT_NE(answer, nullptr);
  EXPECT_STREQ(answer, "HTTP/1.0 200 OK\nContent-Type: text/plain\n\nop=echo\nname=a%20b\nflag=\n");
  dealloc(answer);
  EXPECT_EQ((module->*execute)(query, nullptr), nullptr);
  destroy(module);
  destroy(nullptr);
}

TEST(ModuleContract, TheModuleListLearnsVersionsByLoading) {
  ScopedWorkDir dir;
  fs::copy_file(EXAMPLE_MODULE, "QvExampleModule.dll");
  WriteText("vane.ini", "[Quovane]\nModules=QvExampleModule.dll;Missing.dll;\n");
  QvDevice device;
  ASSERT_EQ(device.BuildModuleList("$Revision: 1.160 $"), 9);
  EXPECT_STREQ(device.GetModule(0)->GetName(), "QvServer");
  EXPECT_STREQ(device.GetModule(0)->GetVersion(), "1.160");
  EXPECT_STREQ(device.GetModule(1)->GetVersion(), "1.7");
  EXPECT_FALSE(device.GetModule(2)->HasVersion());
  EXPECT_STREQ(device.GetModule(8)->GetName(), "QvTransferModule.dll");
  EXPECT_EQ(device.FindModule("qvexamplemodule.DLL"), device.GetModule(1));
  EXPECT_EQ(device.FindModule("vclient/QvExampleModule.dll"), nullptr);
  EXPECT_EQ(device.GetModule(9), nullptr);
}
