// SPDX-License-Identifier: GPL-2.0-or-later
// The two 45-byte SNMP datagrams, byte by byte, and the reading of the job
// record in the tail of a status reply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "snmp_datagram.h"
#include "side_test_support.h"

namespace lumora::test {

#define LUMORA_PS_MODEL(designation, family)
#include "ps_models.inc"
#undef LUMORA_PS_MODEL

namespace {

std::string CommunityHex() {
  return sidechannel::Hex(reinterpret_cast<const unsigned char*>(LUMORA_SNMP_COMMUNITY), 6);
}

TEST(SnmpDatagram, KeepaliveAndStatusRequestsByteForByte) {
  struct Case {
    const char* name;
    SnmpDatagram datagram;
    std::string expected;
  } cases[] = {
      {"SetRequest .1.1.4.13 = 1", BuildKeepaliveSetRequest(),
       "302b020100" "0406" + CommunityHex() + "a31e" "020100" "020100" "020100" "3013" "3011"
       "060c2b06010401f0aa210101040d" "020101"},
      {"GetRequest .1.1.3.16.2", BuildStatusGetRequest(),
       "302b020100" "0406" + CommunityHex() + "a01e" "020100" "020100" "020100" "3013" "3011"
       "060d" "2b06010401f0aa21010103" "1002" "0500"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(c.datagram.size(), 45u) << c.name;
    EXPECT_EQ(sidechannel::Hex(c.datagram.data(), c.datagram.size()), c.expected) << c.name;
  }
}

// A reply of `size` bytes with the job record at its tail: state byte
// 60 bytes before the end, `text` 4 bytes after it.
std::vector<uint8_t> Reply(size_t size, uint8_t state, const std::string& text) {
  std::vector<uint8_t> reply(size, 0x41);
  size_t record = size - 60;
  reply[record] = state;
  std::memset(&reply[record + 4], 0, 56);
  std::memcpy(&reply[record + 4], text.data(), std::min<size_t>(text.size(), 56));
  return reply;
}

TEST(SnmpDatagram, JobRecordInTheReplyTail) {
  struct Case {
    const char* name;
    std::vector<uint8_t> reply;
    const char* owner;
    bool canceled;
  } cases[] = {
      {"exactly 60 bytes, state first", Reply(60, 0x06, "hostA"), "hostA", true},
      {"109-byte snmpd reply", Reply(109, 0x06, "hostA"), "hostA", true},
      {"state 0x86", Reply(80, 0x86, "xx hostA yy"), "hostA", true},
      {"state 0x07 goes on", Reply(80, 0x07, "hostA"), "hostA", false},
      {"another computer's job", Reply(80, 0x06, "hostB"), "hostA", false},
      {"owner after a zero byte", Reply(80, 0x06, std::string("x\0hostA", 7)), "hostA", false},
      {"59 bytes are not examined", Reply(60, 0x06, "hostA"), "hostA", false},
      {"owner cut by the reply's end", Reply(60, 0x06, std::string(51, 'z') + "hostA"), "hostA",
       true},
      {"owner longer than the tail", Reply(60, 0x06, std::string(54, 'z') + "ho"), "hostA",
       false},
      {"empty owner names no job", Reply(60, 0x06, "hostA"), "", false},
  };
  for (auto& c : cases) {
    const uint8_t* data = c.reply.data();
    size_t size = c.reply.size();
    if (std::string(c.name) == "59 bytes are not examined") {
      // The reply starts one byte into the record: a reader that looked
      // 60 bytes back would find a cancelled job of hostA there.
      data += 1;
      size -= 1;
    }
    EXPECT_EQ(IsOwnJobCanceledReply(data, size, c.owner), c.canceled) << c.name;
  }
}

}  // namespace

}  // namespace lumora::test
