// SPDX-License-Identifier: GPL-2.0-or-later
#include "snmp_datagram.h"

#include <algorithm>
#include <cstring>

namespace lumora {

#define LUMORA_PS_MODEL(designation, family)
#include "ps_models.inc"
#undef LUMORA_PS_MODEL

namespace {

static_assert(sizeof(LUMORA_SNMP_COMMUNITY) - 1 == 6,
              "the datagrams carry a community of exactly 6 characters");

// Message header up to the PDU tag: SEQUENCE (43 bytes), version 0,
// community OCTET STRING (6 bytes).
void PutHeader(SnmpDatagram& d, uint8_t pduTag) {
  const uint8_t head[] = {0x30, 0x2B, 0x02, 0x01, 0x00, 0x04, 0x06};
  std::copy(std::begin(head), std::end(head), d.begin());
  const char* community = LUMORA_SNMP_COMMUNITY;
  for (int i = 0; i < 6; ++i) d[7 + i] = static_cast<uint8_t>(community[i]);
  // PDU (30 bytes): request-id 0, error-status 0, error-index 0.
  const uint8_t pdu[] = {pduTag, 0x1E, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00};
  std::copy(std::begin(pdu), std::end(pdu), d.begin() + 13);
}

}  // namespace

SnmpDatagram BuildKeepaliveSetRequest() {
  SnmpDatagram d{};
  PutHeader(d, 0xA3);
  // VarBindList (19) / VarBind (17): OID 1.3.6.1.4.1.1840417.1.1.4.13, INTEGER 1.
  const uint8_t bind[] = {0x30, 0x13, 0x30, 0x11, 0x06, 0x0C, 0x2B, 0x06, 0x01,
                          0x04, 0x01, 0xF0, 0xAA, 0x21, 0x01, 0x01, 0x04, 0x0D,
                          0x02, 0x01, 0x01};
  static_assert(24 + sizeof(bind) == kSnmpDatagramSize, "SetRequest is 45 bytes");
  std::copy(std::begin(bind), std::end(bind), d.begin() + 24);
  return d;
}

SnmpDatagram BuildStatusGetRequest() {
  SnmpDatagram d{};
  PutHeader(d, 0xA0);
  // VarBindList (19) / VarBind (17): OID 1.3.6.1.4.1.1840417.1.1.3.16.2, NULL.
  const uint8_t bind[] = {0x30, 0x13, 0x30, 0x11, 0x06, 0x0D, 0x2B, 0x06, 0x01,
                          0x04, 0x01, 0xF0, 0xAA, 0x21, 0x01, 0x01, 0x03, 0x10,
                          0x02, 0x05, 0x00};
  static_assert(24 + sizeof(bind) == kSnmpDatagramSize, "GetRequest is 45 bytes");
  std::copy(std::begin(bind), std::end(bind), d.begin() + 24);
  return d;
}

bool IsOwnJobCanceledReply(const uint8_t* reply, std::size_t length, const char* owner) {
  if (reply == nullptr || length < kJobRecordTail) return false;
  const uint8_t* record = reply + (length - kJobRecordTail);
  if (!IsCanceledState(record[0])) return false;
  if (owner == nullptr || *owner == '\0') return false;
  // Owner text: from 4 bytes after the state up to the first zero byte.
  const uint8_t* text = record + kJobOwnerOffset;
  const uint8_t* end = reply + length;
  const uint8_t* zero = std::find(text, end, 0);
  const uint8_t* name = reinterpret_cast<const uint8_t*>(owner);
  const uint8_t* found = std::search(text, zero, name, name + std::strlen(owner));
  return found != zero;
}

}  // namespace lumora
