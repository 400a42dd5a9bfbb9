#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>

#include "platform/thread.h"

namespace platform {

uint32_t CurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

namespace {

void* RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return nullptr;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body, size_t stack_bytes) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, stack_bytes);
  auto argument = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  int error = pthread_create(&thread, &attributes, RunBody, argument.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) return false;
  argument.release();  // the thread owns it now
  return true;
}

}  // namespace platform
