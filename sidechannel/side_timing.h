// SPDX-License-Identifier: GPL-2.0-or-later
// Pauses and time-outs of the device threads: the printer's real cadence by
// default; a filter reads shortened values from the environment (tests).
#pragma once

namespace lumora {

struct SideTimings {
  // Pause after each SNMP keep-alive.
  int keepaliveIntervalMs = 5000;
  // Pause between end-flag checks while holding a USB printer open.
  int usbHoldMs = 700;
  // One pass of the status query loop; the network is asked every fifth
  // pass, USB every second pass.
  int statusPollMs = 500;
  // Receive time-out of one SNMP reply.
  int snmpReplyTimeoutMs = 2000;

  // LUMORA_KEEPALIVE_INTERVAL_MS, LUMORA_USB_HOLD_MS, LUMORA_STATUS_POLL_MS
  // and LUMORA_SNMP_TIMEOUT_MS: positive milliseconds up to one minute;
  // anything else keeps the default.
  static SideTimings FromEnvironment();
};

// Sleeps for the given number of milliseconds.
void SleepMs(int ms);

}  // namespace lumora
