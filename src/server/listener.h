// The local web server's transport: StartHTTP binds one listening socket on
// the first free port of a fixed search order, records the port where the
// pages and settings expect it and starts ListenThread, which starts one
// detached ClientThread per connection. One request per connection.
#pragma once

#include <cstdint>
#include <vector>

#include "module/QvPeerModule.h"
#include "server/server_state.h"

// 1 when the listener runs, 0 otherwise.
int StartHTTP(const ServerStartParams& params);
// Stops accepting and waits up to 10 s for the listen thread.
void StopHTTP();

// The candidates of the two bind passes, in order.
std::vector<uint16_t> FirstPassPorts(int configured);
std::vector<uint16_t> SecondPassPorts();

void ClientThread(tagREQUEST* heap_request);
// Orders what the caller does next (such as ending the process, which tears
// down statics) after everything that client threads already ended did.
void SyncWithEndedClientThreads();
void CloseConnection(tagREQUEST* request);
