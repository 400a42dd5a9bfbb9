// Throws from Execute, as a broken module may.
#include <stdexcept>

#include "common/QvPeerModule.h"

namespace {

class ThrowingModule : public QvPeerModule {
 public:
  char* Execute(const char*, void* pExtra) override {
    if (pExtra == nullptr) return nullptr;
    throw std::runtime_error("module failure");
  }
};

}  // namespace

QV_DEFINE_MODULE(ThrowingModule, "$Revision: 0.1 $")
