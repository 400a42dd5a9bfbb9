#include "host/module_host.h"

#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "base/ascii.h"
#include "base/log.h"
#include "base/query_for_log.h"
#include "device/device.h"
#include "device/module_entry.h"
#include "host/answer_send.h"
#include "host/client_counter.h"
#include "host/host_state.h"
#include "host/module_answer.h"
#include "platform/clock.h"
#include "platform/shared_library.h"
#include "platform/socket.h"

namespace {

constexpr char kAssetRedirect[] =
    "HTTP/1.0 302 Found\nCache-Control: no-store\nLocation: "
    "vclient/foot_asset_detail.html?Success=1\n\n";
constexpr char kActivityRedirect[] =
    "HTTP/1.0 302 Found\nCache-Control: no-store\nLocation: "
    "vclient/foot_activity.html?Success=1\n\n";
constexpr uint32_t kDeviceLoadPollMs = 1000;

std::mutex g_poster_lock;
std::function<void(int, std::string)> g_poster;

// Loads and unloads take one lock. The loader serialises them anyway, but
// only this lock shows the sanitizer that the last unload of a module, which
// runs its static destructors, comes after every other call's use of it.
std::mutex g_library_lock;

std::optional<platform::SharedLibrary> LoadModule(const std::string& name, std::string* error) {
  std::lock_guard<std::mutex> hold(g_library_lock);
  return platform::SharedLibrary::Load(name, error);
}

void UnloadModule(std::optional<platform::SharedLibrary>& library) {
  std::lock_guard<std::mutex> hold(g_library_lock);
  library.reset();
}

// Holds a module entry's use count for one call, also when the module
// throws (a raised count would block the exit with instructions for good).
class ModuleUse {
 public:
  explicit ModuleUse(QvModule* entry) : entry_(entry) {
    // Taken entries wait for the process to end; yield instead of spinning.
    while (!entry_->AcquireUnlessTaken()) std::this_thread::yield();
  }
  ~ModuleUse() { entry_->ReleaseModule(); }
  ModuleUse(const ModuleUse&) = delete;
  ModuleUse& operator=(const ModuleUse&) = delete;

 private:
  QvModule* entry_;
};

struct ModuleExports {
  ConstructQvModuleFn construct;
  DestroyQvModuleFn destroy;
  GetExecuteMethodFn get_execute;
  DeallocMemFn dealloc;
  QvExecuteGuardedFn execute_guarded;  // where exceptions cannot leave a library

  explicit ModuleExports(const platform::SharedLibrary& library)
      : construct(library.Find<ConstructQvModuleFn>("ConstructQvModule")),
        destroy(library.Find<DestroyQvModuleFn>("DestroyQvModule")),
        get_execute(library.Find<GetExecuteMethodFn>("GetExecuteMethod")),
        dealloc(library.Find<DeallocMemFn>("DeallocMem")),
        execute_guarded(library.Find<QvExecuteGuardedFn>("QvExecuteGuarded")) {}

  bool Callable() const { return construct && destroy && get_execute; }
};

// Runs a call into the module. When the module throws, its library stays
// loaded (the exception may live in it) and the exception goes on.
template <typename Call>
auto IntoModule(platform::SharedLibrary& library, Call call) {
  try {
    return call();
  } catch (...) {
    library.Keep();
    throw;
  }
}

// A throw the module caught itself and reported.
struct ModuleThrew : std::exception {};

char* Execute(const ModuleExports& exports, QvPeerModule* module, QvExecuteMethod execute,
              const char* query, void* extra) {
  if (exports.execute_guarded == nullptr) return (module->*execute)(query, extra);
  char* response = nullptr;
  if (exports.execute_guarded(module, query, extra, &response) != 0) throw ModuleThrew();
  return response;
}

bool IsUserHandOver(const tagREQUEST* request) {
  return ContainsText(request->szFilePath, "QvLoginModule") ||
         ContainsText(request->szFilePath, "QVLoginModule") ||
         ContainsText(request->szQueryString, "operation=register") ||
         ContainsText(request->szQueryString, "operation=login");
}

void PostToMainWindow(int command, std::string text) {
  std::lock_guard<std::mutex> lock(g_poster_lock);
  if (g_poster) g_poster(command, std::move(text));
}

void CallModule(tagREQUEST* request, QvDevice* device, platform::SharedLibrary& library,
                const ModuleExports& exports) {
  QvLog* log = QvLog::GetInstance();
  bool answered = false;
  if (ContainsText(request->szFilePath, "QvTransferModule")) {
    const char* redirect = nullptr;
    if (ContainsText(request->szQueryString, "type=RequestAsset")) {
      redirect = kAssetRedirect;
    } else if (ContainsText(request->szQueryString, "type=ResumeXfer")) {
      redirect = kActivityRedirect;
    }
    if (redirect != nullptr) {
      platform::Send(request->hSocket, redirect);
      platform::ShutdownSend(request->hSocket);
      answered = true;
    }
  }

  QvPeerModule* module = IntoModule(library, exports.construct);
  if (module == nullptr) return;
  QvExecuteMethod execute = IntoModule(library, exports.get_execute);
  request->pDevice = device;
  log->WriteString("CALLING with BrokerKEY ", device->GetBrokerKey(), 3);
  // What the module sends itself leaves as it sends it.
  platform::HoldPartialSegments(request->hSocket, false);
  char* response = IntoModule(library, [&] {
    return Execute(exports, module, execute, request->szQueryString, request);
  });

  if (IsUserHandOver(request)) {
    if (auto get_user = library.Find<GetUserObjectFn>("GetUserObject")) {
      device->SetUser(IntoModule(library, [&] { return get_user(module); }));
    }
  }
  if (ContainsText(request->szQueryString, "operation=displayhelp") && response != nullptr) {
    PostToMainWindow(kCommandDisplayHelp, response);
  }
  if (response != nullptr) {
    if (!answered) {
      size_t length = request->dwBytesSent != 0 ? request->dwBytesSent : std::strlen(response);
      SendModuleAnswer(request, response, length);
    }
    if (exports.dealloc != nullptr) exports.dealloc(response);
  }
  exports.destroy(module);
}

// One module call for a device message. Nothing above this thread would
// catch what the module throws: it is logged, and an object that threw may
// be broken, so it stays with its library.
void RunForMessage(const ExtensionCall& call, QvDevice* device, platform::SharedLibrary& library,
                   const ModuleExports& exports) {
  QvLog* log = QvLog::GetInstance();
  log->Write("Creating module", 3);
  auto request = std::make_unique<tagREQUEST>();
  *request = tagREQUEST{};
  request->pDevice = device;
  request->pLock = TheHostState().pLock;
  QvPeerModule* module = nullptr;
  char* response = nullptr;
  try {
    module = IntoModule(library, exports.construct);
    if (module == nullptr) return;
    QvExecuteMethod execute = IntoModule(library, exports.get_execute);
    response = IntoModule(library, [&] {
      return Execute(exports, module, execute, call.query.c_str(), request.get());
    });
  } catch (...) {
    log->WriteString("*****************Exception calling module", call.module_name, 1);
    return;
  }
  if (response != nullptr) {
    log->WriteString("Response from module: ", response, 3);
  } else {
    log->WriteString("No response from module", QueryForLog(call.query), 3);
  }
  request.reset();
  if (exports.dealloc != nullptr) exports.dealloc(response);
  exports.destroy(module);
}

}  // namespace

void SetMainWindowPoster(std::function<void(int, std::string)> poster) {
  std::lock_guard<std::mutex> lock(g_poster_lock);
  g_poster = std::move(poster);
}

WebCallResult WebCall(tagREQUEST* request) {
  QvLog* log = QvLog::GetInstance();
  QvDevice* device = TheHostState().pDevice;
  QvModule* entry = device != nullptr ? device->FindModule(request->szUri) : nullptr;
  if (entry == nullptr) {
    log->WriteString("Attempt to access Unknown dll ", request->szUri, 1);
    return WebCallResult::kUnknown;
  }
  ModuleUse use(entry);
  std::string error;
  std::optional<platform::SharedLibrary> library = LoadModule(request->szFilePath, &error);
  if (!library) {
    log->Write("Unable to load dll", 1);
    log->WriteString("Error returned by LoadLibrary: ", error, 1);
    return platform::SharedLibrary::Exists(request->szFilePath) ? WebCallResult::kNotLoaded
                                                                : WebCallResult::kNotInstalled;
  }
  ModuleExports exports(*library);
  if (exports.Callable()) CallModule(request, device, *library, exports);
  UnloadModule(library);
  return WebCallResult::kCalled;
}

void CallExtensionDll(ExtensionCall* call) {
  std::unique_ptr<ExtensionCall> owned(call);
  QvLog* log = QvLog::GetInstance();
  HostState& state = TheHostState();
  QvDevice* device = state.pDevice;
  while (device == nullptr || !device->IsLoaded()) {
    platform::SleepMs(kDeviceLoadPollMs);
    device = state.pDevice;
  }
  ClientCounter* counter = TheClientCounter();
  if (counter != nullptr)
    log->WriteNumber("CallExtensionDll clientCount:", counter->Increment(), 3);
  log->WriteString("ClientExtensionDll calling: ", call->module_name, 3);

  if (QvModule* entry = device->FindModule(call->module_name.c_str())) {
    ModuleUse use(entry);
    std::string error;
    std::optional<platform::SharedLibrary> library = LoadModule(call->module_name, &error);
    if (!library) {
      log->WriteString("Unable to load dll:", call->module_name, 3);
    } else {
      log->Write("Loaded dll", 3);
      ModuleExports exports(*library);
      if (exports.Callable()) RunForMessage(*call, device, *library, exports);
      UnloadModule(library);
    }
  }

  if (counter != nullptr) {
    log->WriteNumber("CallExtensionDll clientCount decrement:", counter->Decrement(), 3);
  }
}
