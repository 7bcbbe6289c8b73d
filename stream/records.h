// SPDX-License-Identifier: GPL-2.0-or-later
// Records handed from the page loop to the command stream, the platform
// codes, and the byte-level framing helpers of the printer language.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// A 32-bit value, most significant byte first (record fields, JBIG headers).
inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Printer family (dialect) of a job.
enum PrntPlatform : int {
  PLATFORM_NONE = 0,
  PLATFORM_C = 1,  // PJL preamble, byte-coded records, one JBIG image per page
  PLATFORM_Z = 2,  // PJL with job time/owner, byte-coded records, 256-line JBIG bands
  PLATFORM_M = 3,  // "JZJZ", big-endian command headers and parameter records
};

inline bool IsKnownPlatform(int platform) {
  return platform == PLATFORM_C || platform == PLATFORM_Z || platform == PLATFORM_M;
}

// Values of the record fields the page loop fills, each the printer's.
constexpr uint8_t kDuplexJobFlag = 0x20;    // PrntDocInfo::duplexFlag of a two-sided job
constexpr uint8_t kPlatformJobFlag = 0x10;  // PrntDocInfo::platformFlag on PLATFORM_C and _Z
constexpr uint16_t kLongEdgeFlag = 0x40;    // PrntPageInfo::longEdgeFlag: A5 fed long edge first
constexpr uint8_t kImageFlags3 = 0x20;      // PrntBandInfo::imageFlags3 of every page
// PLATFORM_C's image: JBIG stripes of 768 lines at 600 dpi (384 at 1200),
// and the dataLength the page loop puts in before compression.
constexpr int32_t kStripeLines600 = 768;
constexpr int32_t kStripeLines1200 = 384;
constexpr int32_t kInitialDataLengthC = 853;
// Paper codes: the custom size, A5, and A5 fed long edge first.
constexpr uint16_t kCustomPaperCodeC = 0xFF;  // PLATFORM_C
constexpr uint16_t kCustomPaperCode = 0;      // PLATFORM_Z and PLATFORM_M
constexpr uint16_t kA5PaperCodeC = 6;
constexpr uint16_t kA5PaperCode = 11;         // PLATFORM_Z and PLATFORM_M
constexpr uint16_t kLongEdgeA5PaperCodeC = 6;
constexpr uint16_t kLongEdgeA5PaperCodeZ = 18;
constexpr uint16_t kLongEdgeA5PaperCodeM = 61;

inline uint16_t CustomPaperCode(int platform) {
  return platform == PLATFORM_C ? kCustomPaperCodeC : kCustomPaperCode;
}
inline uint16_t A5PaperCode(int platform) {
  return platform == PLATFORM_C ? kA5PaperCodeC : kA5PaperCode;
}
inline uint16_t LongEdgeA5PaperCode(int platform) {
  return platform == PLATFORM_C   ? kLongEdgeA5PaperCodeC
         : platform == PLATFORM_Z ? kLongEdgeA5PaperCodeZ
                                  : kLongEdgeA5PaperCodeM;
}

struct PrntDocInfo {
  int32_t jobId = 0;
  char jobTitle[32] = {};
  int32_t jobFlag80 = 0;
  uint8_t duplexFlag = 0;
  uint8_t fineMode = 0;
  uint8_t platformFlag = 0;
  int32_t jobFlag08 = 0;
  int32_t jobFlag04 = 0;
  int32_t jobFlag02 = 0;
  int32_t jobFlag01 = 0;
  int32_t tonerSave = 0;
  uint8_t density = 0;
};

struct PrntPageInfo {
  uint16_t paperSize = 0;
  uint16_t mediaType = 0;
  uint16_t hResolution = 0;
  uint16_t vResolution = 0;
  uint16_t inputSlot = 0;
  uint16_t pageFlagsA = 0;
  uint16_t longEdgeFlag = 0;
  uint16_t pageFlagsB = 0;
  uint16_t copies = 0;
  uint16_t paperParam1 = 0;
  uint16_t paperParam2 = 0;
  uint16_t pageNumber = 0;
  uint16_t paperWidth = 0;
  uint16_t paperHeight = 0;
  uint16_t imageWidth = 0;
  uint16_t imageHeight = 0;
  int32_t dpi1200 = 0;
  uint8_t pageDensity = 0;
};

struct PrntBandInfo {
  uint8_t imageFormat = 0;
  uint8_t imageFlags1 = 0;
  uint8_t imageFlags2 = 0;
  uint8_t imageFlags3 = 0;
  uint16_t width = 0;        // pixels; one line is width / 8 bytes
  uint16_t height = 0;       // lines
  uint16_t lineWidth = 0;
  int32_t stripeLines = 0;
  int32_t dataLength = 0;    // OUT: compressed length of the page
  const uint8_t* image = nullptr;
};

struct PrntPageEndInfo {
  int32_t pageNumber = 0;
  int32_t duplex = 0;
  int32_t resolution = 0;
  int32_t paperWidthMm = 0;
  int32_t density = 0;
  int32_t coverage = 0;      // OUT (PLATFORM_C)
};

struct PrntDocEndInfo {
  int32_t pageCount = 0;
  int32_t duplex = 0;
};

// The image record of a page as the page loop fills it: width x height
// pixels at one bit (twoBits: two bits a pixel, PLATFORM_M at 1200 dpi),
// stripes for the raster's horizontal resolution on PLATFORM_C.
PrntBandInfo PageBandInfo(uint32_t width, uint32_t height, bool twoBits, int platform,
                          unsigned hwResolution, const uint8_t* image);

// Checksum closing a byte-coded record: all bytes of the record add up to 0 mod 256.
uint8_t CalcChecksum(const uint8_t* data, size_t len);

// PLATFORM_M framing (all big-endian).
void SetCmdType(uint8_t* buf, uint32_t length, uint32_t command, uint32_t paramCount,
                uint16_t paramLength, uint16_t magic);
void SetCmdParam(uint8_t* buf, uint16_t id, uint8_t kind, uint32_t value);
void SetJBIGCmdAndParam(uint8_t* buf, uint32_t word16, uint32_t width, uint32_t height,
                        uint32_t l0, uint32_t word32, uint32_t length, uint32_t command,
                        uint16_t magic);

void SwapUINT(uint32_t* a, uint32_t* b);
void SwapUSHORT(uint16_t* a, uint16_t* b);

}  // namespace lumora
