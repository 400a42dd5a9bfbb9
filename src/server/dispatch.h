// Module requests. isDLL tells a request for a module of the module list
// from a file request; RunDll decides from the module's name, the query and
// the device's state whether the module may run now. A module that needs the
// broker is not called while the device is offline: the browser gets a
// redirect to a status page or a short status answer instead. A login page
// makes the device log in first, with the proxy credentials it carries.
#pragma once

#include <cstdint>

#include "module/QvPeerModule.h"
#include "platform/named_mutex.h"

// True when path (szFilePath) ends in ".dll" and its file name is a module
// of the module list.
bool isDLL(const char* path);

// Answers a module request on its socket.
void RunDll(tagREQUEST* request);

// Waits for the "SSLWait" event (another component may hold it reset while
// it sets up a secured connection), with the log lines of the wait.
platform::WaitResult WaitForSslConnection(uint32_t timeout_ms);
