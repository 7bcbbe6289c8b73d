// SPDX-License-Identifier: GPL-2.0-or-later
#include "side_timing.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace lumora {

namespace {

// A positive whole number of milliseconds up to one minute, else the default.
int ReadMsFromEnv(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value <= 0 || value > 60000) return fallback;
  return static_cast<int>(value);
}

}  // namespace

SideTimings SideTimings::FromEnvironment() {
  SideTimings t;
  t.keepaliveIntervalMs = ReadMsFromEnv("LUMORA_KEEPALIVE_INTERVAL_MS", t.keepaliveIntervalMs);
  t.usbHoldMs = ReadMsFromEnv("LUMORA_USB_HOLD_MS", t.usbHoldMs);
  t.statusPollMs = ReadMsFromEnv("LUMORA_STATUS_POLL_MS", t.statusPollMs);
  t.snmpReplyTimeoutMs = ReadMsFromEnv("LUMORA_SNMP_TIMEOUT_MS", t.snmpReplyTimeoutMs);
  return t;
}

void SleepMs(int ms) {
  struct timespec left = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace lumora
