// Sending the text a module returned: with "Cache-Control: no-store" added
// after its status line where the module did not say how to cache it.
#pragma once

#include <cstddef>

#include "net/request_record.h"

// 1 when all went, 0 on a socket error (as SendBuffer).
int SendModuleAnswer(tagREQUEST* request, const char* data, size_t length);
