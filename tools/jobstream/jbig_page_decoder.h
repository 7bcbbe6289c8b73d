// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding of one JBIG1 bi-level image entity with JBIG-KIT's decoder, with
// the size checked from the image header before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumora::inspect {

// The 20-byte header (BIH) that opens every JBIG1 entity.
struct JbigHeader {
  unsigned dl = 0, d = 0, planes = 0;
  unsigned long xd = 0, yd = 0, l0 = 0;
  unsigned mx = 0, my = 0, order = 0, options = 0;
};

// Reads the header; false when fewer than 20 bytes are given.
bool ReadJbigHeader(const uint8_t* data, size_t len, JbigHeader& header);

struct JbigImage {
  JbigHeader header;
  unsigned long width = 0, height = 0;
  size_t bytesPerRow = 0;
  std::vector<uint8_t> bits;  // rows of bytesPerRow bytes, MSB first, 1 = black
};

// Decodes exactly len bytes as one entity. Returns an empty string on
// success, otherwise the reason; *errorAt is then the offset within data
// the reason refers to. Images of more than maxPixels pixels are refused.
std::string DecodeJbig(const uint8_t* data, size_t len, uint64_t maxPixels, JbigImage& image,
                       size_t* errorAt);

}  // namespace lumora::inspect
