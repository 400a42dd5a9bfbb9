// QvProxyVars: the device's proxy situation, a block of the device record
// (so its order and widths are part of what modules see). Filled once by
// InitProxyVars when the device is built; the credentials and flags change
// while the program runs. Texts are read and written with ReadGuarded and
// WriteGuarded; the flags and ports are atomics.
#pragma once

#include <atomic>
#include <cstdint>

struct QvProxyVars {
  char szBrokerIP[128];            // copy of the BrokerIP setting
  std::atomic<bool> bProxyEnabled;
  std::atomic<bool> bSocks;        // the proxy is a SOCKS 5 proxy
  char szProxySetting[1024];       // the raw "ProxyServer" text
  char szProxyServerName[256];     // learnt from Server/Via headers
  char szHttpProxy[128];           // HTTP (or SOCKS) proxy host
  char szHttpsProxy[128];          // HTTPS proxy host
  std::atomic<int32_t> nHttpPort;
  std::atomic<int32_t> nHttpsPort;
  std::atomic<bool> bCredsNeeded;  // a proxy asked for credentials
  char szCreds[128];               // "user:password" as entered
  char szCreds64[128];             // the same in Base64
};
