// How a second copy finds the running one's start page: the running copy
// leaves its address and working directory beside its window endpoint, in
// the user's private session directory, once its server is up, and takes
// them away when its window goes.
#pragma once

#include <optional>
#include <string>

namespace shell {

struct RunningCopy {
  std::string start_page;
  std::string work;
};

void RecordStartPage(const RunningCopy& copy);
void ForgetStartPage();
// What the running copy left; none while it is still starting.
std::optional<RunningCopy> ReadRunningCopy();

}  // namespace shell
