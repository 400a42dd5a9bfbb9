#include "module/help_viewer.h"

#include "module/QvPeerModule.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/program_search.h"

std::optional<std::string> FindHelpViewer(std::string_view search_path) {
  return platform::FindProgram("xdg-open", search_path);
}

std::optional<platform::Process> StartHelpViewer(const std::string& viewer, const char* help_file) {
  if (help_file == nullptr || *help_file == '\0') return std::nullopt;
  std::string path = platform::NativePath(help_file);
  if (!platform::FileExists(path)) return std::nullopt;
  auto started = platform::Process::Start(viewer, {path});
  if (!started.ok()) return std::nullopt;
  return started.value;
}

// The opener shows the whole file; the topic has no meaning to it.
void QvPeerModule::LaunchHelp(const char* help_file, const char* /*topic*/) {
  // Looked up once: without an opener help stays unavailable for the run.
  static const std::optional<std::string> viewer =
      FindHelpViewer(platform::GetEnvironment("PATH").value_or(""));
  if (!viewer) return;
  std::optional<platform::Process> started = StartHelpViewer(*viewer, help_file);
  if (!started) return;
  // The opener hands the file to the desktop and ends.
  started->Release();
}
