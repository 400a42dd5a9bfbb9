// Headless Chromium as the user's browser, started one way for every test:
// a fresh profile per run, no network of its own beyond the page, and a
// bounded time for scripts to run.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Chromium's program, or empty when it is not installed.
std::string ChromiumProgram();
// The page as Chromium's DOM after scripts ran, with further flags (e.g.
// --host-resolver-rules); empty when Chromium failed.
std::string DumpDom(const std::string& url, const std::vector<std::string>& flags = {});
// DumpDom in the profile folder given, which stays for the test to read.
std::string DumpDomInProfile(const std::string& url, const std::filesystem::path& profile,
                             const std::vector<std::string>& flags = {});
// A picture of the page as a person sees it, in build/tests/artifacts, for
// a person to look at (the checks read the DOM); its path, or empty when
// Chromium failed.
std::filesystem::path PageScreenshot(const std::string& url, const std::string& name,
                                     int width = 1024, int height = 768);
