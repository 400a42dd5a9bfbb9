// Help pages: the desktop's file opener shows the help file. The module
// base's LaunchHelp finds the opener once per process and reaps it in the
// background; these two steps are apart so that tests can wait for the
// started viewer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/process.h"

// The opener ("xdg-open") in the directories of search_path, or nothing.
std::optional<std::string> FindHelpViewer(std::string_view search_path);

// Starts viewer on help_file (a path as the system writes it). Nothing when
// the file does not exist or the viewer does not start.
std::optional<platform::Process> StartHelpViewer(const std::string& viewer, const char* help_file);
