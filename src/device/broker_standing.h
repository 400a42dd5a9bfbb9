// The device's standing with its broker as one judgement, so that the
// terminal, the start page, the status details and the tray's tooltip all
// tell the same thing: not configured (which keys, in which vane.ini),
// logging in (and what the login waits for), online, or offline with the
// true reason of the latest attempt that went wrong. Online means a login
// of this run succeeded and the beats since have been answered: a broker
// that answers heartbeats while the login fails is not a session.
#pragma once

#include <string>
#include <vector>

#include "device/device_status.h"

class QvDevice;

struct BrokerStanding {
  enum Kind { kNotConfigured, kLoggingIn, kOnline, kOffline };
  Kind kind = kOffline;
  std::string reason;  // empty when online

  // "not configured", "logging in", "online" or "offline".
  std::string Word() const;
  // The word, then ": " and the reason when there is one.
  std::string Text() const;
};

// The settings the device needs before it can reach its broker, those that
// vane.ini lacks (missing, empty or 0), in order.
std::vector<std::string> MissingBrokerKeys();

BrokerStanding DescribeBrokerStanding(const QvDevice& device);

// One attempt's outcome in the same words: "not tried yet", "logged in" or
// "status 200", or why it failed.
std::string LoginOutcomeText(const QvDeviceStatus::Attempt& login);
std::string BeatOutcomeText(const QvDeviceStatus::Attempt& beat);
// The judgement itself, from what the device noted; setup_problems are
// the start-up check's (device/setup_check.h).
BrokerStanding JudgeBrokerStanding(const QvDeviceStatus::Snapshot& status, bool online,
                                   const std::vector<std::string>& missing_keys,
                                   const std::string& settings_file,
                                   const std::vector<std::string>& setup_problems = {});
