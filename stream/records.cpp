// SPDX-License-Identifier: GPL-2.0-or-later
// Record framing shared by the three dialects: the checksum of the
// byte-coded records, the big-endian frames of PLATFORM_M, and the fixed
// byte strings of the printer language.
#include "records.h"

#include "command_bytes.h"

namespace lumora {

const uint8_t UEL_CMD[9] = {0x1B, '%', '-', '1', '2', '3', '4', '5', 'X'};
const uint8_t UEL_CMD_C[9] = {0x1B, 0xFF, '-', '1', '2', '3', '4', '5', 'X'};
const char PJLheader[16] = "\x1b%-12345X@PJL\r\n";
const char pjlVersion[27] = "@PJL LANGUAGEVERSION=1.0\r\n";
const char pjlPreSendTime[14] = "@PJL JOBTIME=";
const char pjlPreComputerName[15] = "@PJL JOBOWNER=";
const char CRLF[3] = "\r\n";
const char pjlCmd[25] = "@PJL ENTER LANGUAGE=PL\r\n";
const char endOfJobCmd[37] = "\x1b%-12345X@PJL\r\n@PJL EOJ\r\n\x1b%-12345X\r\n";
const char fwVer[17] = "versions=3.1.2.1";
const char pjlJZJZ_Oak[5] = "JZJZ";

const uint8_t hostUseCmd[4] = {0x0B, 0x04, 0x32, 0xBF};
const uint8_t formFeedCmd[4] = {0x0B, 0x04, 0x18, 0xD9};
const uint8_t queryStatusCmd[5] = {0x0B, 0x05, 0x31, 0x80, 0x3F};
const uint8_t resetCmd[4] = {0x0B, 0x04, 0x17, 0xDA};
const uint8_t machineDuplexCmd[4] = {0x0B, 0x04, 0x40, 0xB1};
const uint8_t manualDuplexCmd_C[4] = {0x0B, 0x04, 0x30, 0xC1};
const uint8_t manualDuplexCmd_Z[4] = {0x0B, 0x04, 0x1B, 0xD6};
const uint8_t abortCmd[4] = {0x0B, 0x04, 0x16, 0xDB};

namespace {

void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// The words of the JBIG parameter block travel in the printer's memory
// order, least significant byte first, whatever the host's order.
void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

PrntBandInfo PageBandInfo(uint32_t width, uint32_t height, bool twoBits, int platform,
                          unsigned hwResolution, const uint8_t* image) {
  PrntBandInfo band;
  band.imageFormat = 0;
  band.imageFlags1 = 0;
  band.imageFlags2 = 0;
  band.imageFlags3 = kImageFlags3;
  band.width = static_cast<uint16_t>(twoBits ? 2 * width : width);
  band.height = static_cast<uint16_t>(height);
  if (platform == PLATFORM_C) {
    band.lineWidth = static_cast<uint16_t>(width);
    band.stripeLines = hwResolution == 600 ? kStripeLines600 : kStripeLines1200;
    band.dataLength = kInitialDataLengthC;
  }
  band.image = image;
  return band;
}

uint8_t CalcChecksum(const uint8_t* data, size_t len) {
  unsigned sum = 0;
  for (size_t i = 0; i < len; ++i) sum += data[i];
  return static_cast<uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
}

void SetCmdType(uint8_t* buf, uint32_t length, uint32_t command, uint32_t paramCount,
               uint16_t paramLength, uint16_t magic) {
  PutBE32(buf, length);
  PutBE32(buf + 4, command);
  PutBE32(buf + 8, paramCount);
  PutBE16(buf + 12, paramLength);
  PutBE16(buf + 14, magic);
}

void SetCmdParam(uint8_t* buf, uint16_t id, uint8_t kind, uint32_t value) {
  PutBE32(buf, static_cast<uint32_t>(kCmdParamLen));
  PutBE16(buf + 4, id);
  buf[6] = kind;
  buf[7] = 0;
  PutBE32(buf + 8, value);
}

void SetJBIGCmdAndParam(uint8_t* buf, uint32_t word16, uint32_t width, uint32_t height,
                        uint32_t l0, uint32_t word32, uint32_t length, uint32_t command,
                        uint16_t magic) {
  PutBE32(buf, length);
  PutBE32(buf + 4, command);
  for (int i = 8; i < 14; ++i) buf[i] = 0;
  PutBE16(buf + 14, magic);
  PutLE32(buf + 16, word16);
  PutBE32(buf + 20, width);
  PutBE32(buf + 24, height);
  PutBE32(buf + 28, l0);
  PutLE32(buf + 32, word32);
}

void SwapUINT(uint32_t* a, uint32_t* b) {
  uint32_t t = *a;
  *a = *b;
  *b = t;
}

void SwapUSHORT(uint16_t* a, uint16_t* b) {
  uint16_t t = *a;
  *a = *b;
  *b = t;
}

}  // namespace lumora
