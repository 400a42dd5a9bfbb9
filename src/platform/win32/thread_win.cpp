#include <process.h>
#include <windows.h>

#include <memory>

#include "platform/thread.h"

namespace platform {

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

namespace {

unsigned __stdcall RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body, size_t stack_bytes) {
  auto argument = std::make_unique<std::function<void()>>(std::move(body));
  // _beginthreadex, not CreateThread: the thread uses the C runtime.
  uintptr_t thread = ::_beginthreadex(nullptr, static_cast<unsigned>(stack_bytes), RunBody,
                                      argument.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0) return false;
  argument.release();  // the thread owns it now
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

}  // namespace platform
