// SPDX-License-Identifier: GPL-2.0-or-later
// Pauses and time-outs of the device threads. Each value is read once from
// the environment (tests shorten them) and defaults to the printer's real
// cadence.
#pragma once

// LUMORA_KEEPALIVE_INTERVAL_MS: pause after each SNMP keep-alive (5000).
int KeepaliveIntervalMs();
// LUMORA_USB_HOLD_MS: pause between end-flag checks while holding a USB
// printer open (700).
int UsbHoldMs();
// LUMORA_STATUS_POLL_MS: one pass of the status query loop (500); the
// network is asked every fifth pass, USB every second pass.
int StatusPollMs();
// LUMORA_SNMP_TIMEOUT_MS: receive time-out of one SNMP reply (2000).
int SnmpReplyTimeoutMs();

// Sleeps for the given number of milliseconds (a thread cancellation point).
void SleepMs(int ms);
