// The process's outbound device for tests. Outbound requests follow one
// device per process (the first one set), so every test shares this one and
// sets its proxy fields afresh.
#pragma once

#include <cstdint>
#include <string>

class QvDevice;

// Made and set as the outbound device on first use.
QvDevice& TestOutboundDevice();

// Proxy disabled; credentials, flags and the learnt proxy name cleared.
void UseDirectRoute();
// An HTTP proxy on 127.0.0.1:port for plain and TLS requests; credentials
// ("user:password") are submitted when not empty.
void UseHttpProxy(uint16_t port, const std::string& credentials = "");
// A SOCKS 5 proxy on 127.0.0.1:port.
void UseSocksProxy(uint16_t port, const std::string& credentials = "");
