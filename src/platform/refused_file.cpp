#include "platform/refused_file.h"

#include <atomic>

namespace platform {

namespace {

std::atomic<RefusedFileListener> g_listener{nullptr};

}  // namespace

void SetRefusedFileListener(RefusedFileListener listener) { g_listener.store(listener); }

void TellRefusedFile(const std::string& path) {
  if (RefusedFileListener listener = g_listener.load()) listener(path);
}

}  // namespace platform
