// SPDX-License-Identifier: GPL-2.0-or-later
// The two SNMPv1 datagrams the pre-filter sends to the printer's agent on
// UDP port 161, and the reading of the agent's job record in a status reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumora {

constexpr int kSnmpPort = 161;
constexpr std::size_t kSnmpDatagramSize = 45;
using SnmpDatagram = std::array<uint8_t, kSnmpDatagramSize>;

// SetRequest of .1.3.6.1.4.1.1840417.1.1.4.13 = INTEGER 1 (keep-alive).
SnmpDatagram BuildKeepaliveSetRequest();
// GetRequest of .1.3.6.1.4.1.1840417.1.1.3.16.2 (current job record).
SnmpDatagram BuildStatusGetRequest();

// Job state values meaning "cancelled at the panel".
constexpr uint8_t kJobStateCanceled = 0x06;
constexpr uint8_t kJobStateCanceledAlt = 0x86;
inline bool IsCanceledState(uint8_t state) {
  return state == kJobStateCanceled || state == kJobStateCanceledAlt;
}

// The job record sits in the last 60 bytes of the reply: its first byte is
// the job state, the job owner's name starts 4 bytes later.
constexpr std::size_t kJobRecordTail = 60;
constexpr std::size_t kJobOwnerOffset = 4;

// True when a status reply of `length` bytes says that a job of `owner` was
// cancelled: at least 60 bytes, state 0x06 or 0x86, and the owner's name in
// the text after the state (up to the first zero byte or the reply's end).
// An empty owner identifies no job and never matches.
bool IsOwnJobCanceledReply(const uint8_t* reply, std::size_t length, const char* owner);

}  // namespace lumora
