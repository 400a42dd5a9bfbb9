// The device's standing with its broker as one judgement, so that the
// terminal, the start page, the status details and the tray's tooltip all
// tell the same thing: not configured (which keys, in which vane.ini),
// logging in (what the login waits for, and how long it has), online, or
// offline with the true reason of the latest attempt that went wrong.
// Online means a login of this run succeeded and the latest beat was
// answered 200: a broker that answers heartbeats while the login fails is
// not a session, and neither is one that logs the device in and then
// refuses its every beat.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "device/device_status.h"

class QvDevice;

struct BrokerStanding {
  enum Kind { kNotConfigured, kLoggingIn, kOnline, kOffline };
  BrokerStanding(Kind judged = kOffline, std::string why = {}, std::string steady_why = {})
      : kind(judged), reason(std::move(why)), steady_reason(std::move(steady_why)) {}

  Kind kind;
  std::string reason;  // empty when online
  // The reason without what changes by the second (a login's seconds of
  // waiting), for what stays shown until told again, as a tooltip; empty
  // when it is the reason.
  std::string steady_reason;

  // "not configured", "logging in", "online" or "offline".
  std::string Word() const;
  // The word, then ": " and the reason when there is one.
  std::string Text() const;
  // The same with the steady reason.
  std::string SteadyText() const;
};

// The settings the device needs before it can reach its broker, those that
// vane.ini lacks (missing, empty or 0), in order.
std::vector<std::string> MissingBrokerKeys();

BrokerStanding DescribeBrokerStanding(const QvDevice& device);

// One attempt's outcome in the same words: "not tried yet", "logged in" or
// "status 200", or why it failed.
std::string LoginOutcomeText(const QvDeviceStatus::Attempt& login);
std::string BeatOutcomeText(const QvDeviceStatus::Attempt& beat);
// The judgement itself, from what the device noted; now in seconds since
// 1970, as the status notes its times; setup_problems are the start-up
// check's (device/setup_check.h).
BrokerStanding JudgeBrokerStanding(const QvDeviceStatus::Snapshot& status, bool online,
                                   const std::vector<std::string>& missing_keys,
                                   const std::string& settings_file, int64_t now,
                                   const std::vector<std::string>& setup_problems = {});
