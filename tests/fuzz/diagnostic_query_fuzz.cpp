// Any query a page can send to the diagnostic plug-in: its parameters, the
// operation list, the template and upload names it lets through, and the
// escapes of what it would show. The plug-in's text code is compiled in,
// as the plug-in itself stays out of the fuzzing build.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "module/QvPeerModule.h"
#include "modules/diagnostic/diagnostic_text.cpp"

namespace {

bool Plain(std::string_view name) {
  return name.find("..") == std::string_view::npos &&
         name.find_first_of("/\\:") == std::string_view::npos;
}

class QueryModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void*) override {
    ParseString(query);
    const char* operation = GetCgiValue("operation");
    bool too_many = false;
    auto names = SplitOperations(operation != nullptr ? operation : "conntest", 12, &too_many);
    if (names.empty() || names.size() > 12) std::abort();
    for (const std::string& name : names) {
      if (HtmlEscape(name).find_first_of("<>\"'") != std::string::npos) std::abort();
    }
    if (const char* name = GetCgiValue("template"); name != nullptr && IsPlainTemplateName(name)) {
      if (!Plain(name)) std::abort();
    }
    if (const char* name = GetCgiValue("filename")) {
      std::unique_ptr<char[]> decoded(URLDecode(name, false));
      if (IsUploadableName(decoded.get()) && !Plain(decoded.get())) std::abort();
    }
    if (const char* server = GetCgiValue("server")) {
      const std::string shown = Diagnosis(LeadingNumber(server) & 7, HtmlEscape(server));
      if (JsonEscape(shown).find('\n') != std::string::npos) std::abort();
    }
    if (LeadingNumber(query) > 1000000) std::abort();
    (void)StatusCodeOf(query);
    return nullptr;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string query(reinterpret_cast<const char*>(data), size);
  QueryModule module;
  module.Execute(query.c_str(), nullptr);
  return 0;
}
