// SPDX-License-Identifier: GPL-2.0-or-later
#include "side_timing.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

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

int KeepaliveIntervalMs() {
  static const int ms = ReadMsFromEnv("LUMORA_KEEPALIVE_INTERVAL_MS", 5000);
  return ms;
}

int UsbHoldMs() {
  static const int ms = ReadMsFromEnv("LUMORA_USB_HOLD_MS", 700);
  return ms;
}

int StatusPollMs() {
  static const int ms = ReadMsFromEnv("LUMORA_STATUS_POLL_MS", 500);
  return ms;
}

int SnmpReplyTimeoutMs() {
  static const int ms = ReadMsFromEnv("LUMORA_SNMP_TIMEOUT_MS", 2000);
  return ms;
}

void SleepMs(int ms) {
  struct timespec left = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
