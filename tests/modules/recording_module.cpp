// Appends each query it is called with, one per line, to "module-calls.txt"
// in the working directory: one write per call, so calls on several threads
// never mix their lines. Tests copy it under the names of the network's
// modules to see what reaches them.
#include <string>

#include "module/QvPeerModule.h"
#include "platform/file.h"

namespace {

class RecordingModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void*) override {
    auto opened = platform::File::Open("module-calls.txt", platform::OpenMode::kAppend);
    if (opened.value.is_open())
      opened.value.Write(std::string(query != nullptr ? query : "") + "\n");
    return nullptr;
  }
};

}  // namespace

QV_DEFINE_MODULE(RecordingModule, "$Revision: 1.0 $")
