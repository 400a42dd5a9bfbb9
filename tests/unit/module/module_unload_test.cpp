// Nothing of a module outlives its call: a template's static data, made
// unique across the process, would pin its library for good.
#include <gtest/gtest.h>

#include <string>

#include "module/QvPeerModule.h"
#include "platform/shared_library.h"
#include "support/work_dir.h"

TEST(ModuleUnload, NoPageOfAnUnloadedModuleStaysMapped) {
  for (const char* file : {EXAMPLE_MODULE, DIAGNOSTIC_MODULE, STATUS_MODULE}) {
    std::string error;
    auto library = platform::SharedLibrary::Load(file, &error);
    ASSERT_TRUE(library) << error;
    auto version = library->Find<GetModuleVersionFn>("GetModuleVersion");
    ASSERT_NE(version, nullptr) << file;
    char text[32] = {};
    version(text);
    EXPECT_NE(text[0], '\0') << file;
    ASSERT_TRUE(Contains(ReadText("/proc/self/maps"), file));
    library.reset();
    EXPECT_FALSE(Contains(ReadText("/proc/self/maps"), file));
  }
}
