// The heartbeat: one thread calls the broker's heartbeat page at a fixed
// interval, keeps the device's online state current, logs the device in
// again when the broker forgot it, falls back to alternative ports until a
// first beat gets through, and hands the device messages of each answer to
// the message handler.
//
// The loop's waits go through HeartbeatWaits, so a test drives beats in
// milliseconds while the program waits on the "Heartbeat Termination" event.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "device/broker_endpoint.h"

class QvDevice;
namespace platform {
class Event;
}

inline constexpr uint32_t kHeartbeatDefaultMs = 60000;
inline constexpr uint32_t kHeartbeatMinMs = 10000;
inline constexpr uint32_t kHeartbeatMaxMs = 3600000;

// What the heartbeat keeps for the process; device messages change it too
// (a new device SID, a new interval), on the heartbeat's own thread.
struct HeartbeatState {
  std::mutex uri_lock;
  std::string uri;  // the page path and query of each beat
  std::atomic<bool> sid_mode{false};
  std::atomic<uint32_t> interval_ms{kHeartbeatDefaultMs};
  std::atomic<bool> reached{false};  // a beat got "200" once
  QvBrokerEndpoint endpoint;

  std::string Uri();
  void SetUri(std::string text);
};

HeartbeatState& TheHeartbeatState();

// How the loop waits between beats.
class HeartbeatWaits {
 public:
  virtual ~HeartbeatWaits() = default;
  // Waits up to interval_ms; true when the loop is to end.
  virtual bool WaitForStop(uint32_t interval_ms) = 0;
};

// Waits on the stop event.
class EventWaits : public HeartbeatWaits {
 public:
  explicit EventWaits(platform::Event* stop) : stop_(stop) {}
  bool WaitForStop(uint32_t interval_ms) override;

 private:
  platform::Event* stop_;  // not owned
};

// The device and stop event the program's heartbeat threads use; set once
// at start-up.
void ConfigureHeartbeat(QvDevice* device, platform::Event* stop_event);

// Starts HeartbeatThread (detached); it replaces any loop still running.
// False when no thread could be started, or the heartbeats have ended.
bool BeginHeartbeatThread();
// Ends the running loop at its next wait (a waiting loop at once).
void StopHeartbeat();
// Ends every loop the same way and starts no more: the program is ending.
void EndHeartbeats();

// The thread body: 0, or -1 when the endpoint cannot be loaded.
int HeartbeatThread(HeartbeatState& state, QvDevice& device, HeartbeatWaits& waits);

// What a new device SID from the broker does to the loop: later beats name
// the device by it, for good.
void SwitchHeartbeatToSid(HeartbeatState& state, const std::string& sid);

// The interval the settings ask for, within the limits.
uint32_t HeartbeatInterval(long requested);
