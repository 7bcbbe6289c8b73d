// SPDX-License-Identifier: GPL-2.0-or-later
// Tiny builders of job streams for the reader's tests: records with their
// checksum, PLATFORM_M headers, and JBIG images made with JBIG-KIT's encoder.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace lumora::test {

using Bytes = std::vector<uint8_t>;

// A 1-bit test picture: rows of (width + 7) / 8 bytes, MSB first, 1 = black.
struct Bitmap {
  unsigned width = 0, height = 0;
  Bytes bits;
};
// Diagonals, a frame and a filled block; noisy = pseudo-random bits.
Bitmap TestBitmap(unsigned width, unsigned height, bool noisy = false);

// One JBIG entity of the bitmap's lines [first, first + lines).
Bytes JbigEncode(const Bitmap& bitmap, unsigned first, unsigned lines, unsigned long l0, int order,
                 int options, int mx);

void Append(Bytes& out, const Bytes& more);
void AppendText(Bytes& out, const std::string& text);
void Filler(Bytes& out);
// 0B, length, type, payload, checksum.
Bytes Rec(uint8_t type, std::initializer_list<uint8_t> payload);
Bytes Rec(uint8_t type, const Bytes& payload);
void Le16(Bytes& out, unsigned v);
void Le32(Bytes& out, uint32_t v);
void Be16(Bytes& out, unsigned v);
void Be32(Bytes& out, uint32_t v);
// PLATFORM_M header and parameter record.
void MHeader(Bytes& out, uint32_t length, uint32_t command, uint32_t params);
void MParam(Bytes& out, uint16_t id, uint32_t value);

struct TestPage {
  Bitmap bitmap;
  unsigned number = 1;
  unsigned copies = 1;
  unsigned paper = 1;
  bool machineDuplex = false;   // PLATFORM_C
  int depth = 1;                // PLATFORM_M: 2 = 1200 dpi, bitmap twice as wide
};

// Whole jobs; manualDuplexAfter = pages before the manual-duplex command (-1: none).
Bytes BuildJobC(const std::vector<TestPage>& pages, int manualDuplexAfter = -1);
Bytes BuildJobZ(const std::vector<TestPage>& pages, int manualDuplexAfter = -1);
Bytes BuildJobM(const std::vector<TestPage>& pages, int manualDuplexAfter = -1);

// Offset of the first occurrence of needle at or after from; npos when absent.
size_t Find(const Bytes& hay, const Bytes& needle, size_t from = 0);

}  // namespace lumora::test
