#include <dlfcn.h>
#include <proxy.h>
#include <string.h>

#include "platform/all_proxy.h"
#include "platform/environment.h"
#include "platform/posix/desktop_proxy.h"
#include "platform/system_proxy.h"

// The process's one proxy factory. libproxy loads its plug-ins into it, and
// the PAC runner's JavaScript engine keeps a thread that must never see
// them unloaded, so it is made once and never freed. Programs export this
// function (see the build), so a module's copy of this code finds the
// program's factory instead of making one per load.
extern "C" __attribute__((visibility("default"))) void* QvProcessProxyFactory() {
  static pxProxyFactory* const factory = px_proxy_factory_new();
  return factory;
}

namespace platform {

namespace {

using FactoryGetter = void* (*)();

pxProxyFactory* Factory() {
  static const FactoryGetter getter = [] {
    void* program = ::dlsym(RTLD_DEFAULT, "QvProcessProxyFactory");
    return program != nullptr ? reinterpret_cast<FactoryGetter>(program) : &QvProcessProxyFactory;
  }();
  return static_cast<pxProxyFactory*>(getter());
}

std::vector<std::string> Answers(pxProxyFactory* factory, const std::string& url) {
  std::vector<std::string> answers;
  if (factory == nullptr) return answers;
  char** proxies = px_proxy_factory_get_proxies(factory, url.c_str());
  if (proxies == nullptr) return answers;
  for (size_t i = 0; proxies[i] != nullptr && answers.size() < kMaxProxyAnswers; ++i) {
    size_t length = ::strnlen(proxies[i], kMaxProxyAnswerLength + 1);
    if (length <= kMaxProxyAnswerLength) answers.emplace_back(proxies[i], length);
  }
  px_proxy_factory_free_proxies(proxies);
  return answers;
}

bool Direct(const std::vector<std::string>& answers) {
  return answers.empty() || answers.front() == "direct://";
}

std::string FirstSet(const char* lower, const char* upper) {
  std::optional<std::string> value = GetEnvironment(lower);
  if (!value || value->empty()) value = GetEnvironment(upper);
  return value.value_or("");
}

// Where libproxy read only the environment and found nothing for url:
// all_proxy, as curl reads it.
void FallBackToAllProxy(const std::string& url, std::vector<std::string>& answers) {
  if (!Direct(answers) || FollowedDesktop() != ProxyDesktop::kNone) return;
  std::optional<std::string> proxy = AllProxyFor(url, FirstSet("all_proxy", "ALL_PROXY"),
                                                 FirstSet("no_proxy", "NO_PROXY"));
  if (proxy && proxy->size() <= kMaxProxyAnswerLength) answers = {std::move(*proxy)};
}

}  // namespace

SystemProxy ReadSystemProxy(const std::string& plain_url, const std::string& secure_url) {
  SystemProxy proxy;
  pxProxyFactory* factory = Factory();
  proxy.plain = Answers(factory, plain_url);
  proxy.secure = Answers(factory, secure_url);
  FallBackToAllProxy(plain_url, proxy.plain);
  FallBackToAllProxy(secure_url, proxy.secure);
  if (Direct(proxy.plain) && Direct(proxy.secure)) return proxy;
  ProxySource source = FollowedSource();
  proxy.origin = source.origin;
  proxy.pac_url = std::move(source.pac_url);
  return proxy;
}

void PrepareSystemProxy() {
  if (FollowedDesktop() == ProxyDesktop::kNone) {
    switch (NamedDesktop(GetEnvironment("XDG_CURRENT_DESKTOP").value_or(""))) {
      case ProxyDesktop::kGnome:
        SetEnvironment("GNOME_DESKTOP_SESSION_ID", "this-is-deprecated");
        break;
      case ProxyDesktop::kKde:
        SetEnvironment("KDE_FULL_SESSION", "true");
        break;
      default:
        break;
    }
  }
  // Without a GNOME or KDE session the proxy is the environment's, which
  // libproxy reads itself. Its plug-ins (GLib, and a JavaScript engine for
  // PAC files) would then only weigh on the agent: an empty plug-in path
  // loads none, unless the user named one.
  if (FollowedDesktop() == ProxyDesktop::kNone && !GetEnvironment("PX_MODULE_PATH")) {
    SetEnvironment("PX_MODULE_PATH", "");
  }
}

}  // namespace platform
