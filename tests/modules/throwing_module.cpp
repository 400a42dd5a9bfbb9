// Throws from Execute, as a broken module may.
#include <stdexcept>

#include "module/QvPeerModule.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

class ThrowingModule : public QvPeerModule {
 public:
  ThrowingModule() {
#if defined(__SANITIZE_ADDRESS__)
    // A host keeps the object of a module that threw (it may be broken)
    // and never destroys it: not a leak of this module's making.
    __lsan_ignore_object(this);
#endif
  }

  char* Execute(const char*, void* pExtra) override {
    if (pExtra == nullptr) return nullptr;
    throw std::runtime_error("module failure");
  }
};

}  // namespace

QV_DEFINE_MODULE(ThrowingModule, "$Revision: 0.1 $")
