// Winsock must be started before any socket or resolver call; every entry
// point that reaches one calls this first. It always asks for version 2.2.
#pragma once

namespace platform {

void StartWinsock();

}  // namespace platform
