#include "shell/help_request.h"

#include "base/lookup_table.h"
#include "module/QvPeerModule.h"

namespace shell {
namespace {

// A name inside the help file: no way out of it, no other scheme.
bool IsPageInside(std::string_view page) {
  if (page.find("..") != std::string_view::npos) return false;
  if (!page.empty() && page.front() == '/') return false;
  for (unsigned char c : page) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-' ||
                       c == '/' || c == '#';
    if (!plain) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> HelpPage(std::string_view answer) {
  QvLookupTable table;
  const std::string text(answer);
  QvPeerModule::ParseResponse(text.c_str(), &table);
  if (std::string_view(table.GetValue("file")) != kHelpFile) return std::nullopt;
  std::string page = table.GetValue("page");
  if (!IsPageInside(page)) return std::nullopt;
  return page;
}

}  // namespace shell
