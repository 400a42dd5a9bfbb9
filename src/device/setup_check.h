// What is wrong with the set-up that a user can mend in vane.ini, in words:
// a web root (AppPath) that is not set or cannot be read, a BrokerCAFile
// that cannot be read or holds no PEM certificate. The start-up check says
// and logs each; the broker standing says nothing else is wrong only when
// there is none.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> SetupProblems();
