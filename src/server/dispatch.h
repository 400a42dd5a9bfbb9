// Module requests: isDLL tells a request for a module of the module list
// from a file request, and RunDll routes it to the module.
#pragma once

#include "common/QvPeerModule.h"

// True when path (szFilePath) ends in ".dll" and its file name is a module
// of the module list.
bool isDLL(const char* path);

// Answers a module request on its socket.
void RunDll(tagREQUEST* request);
