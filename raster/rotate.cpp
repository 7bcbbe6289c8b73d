// SPDX-License-Identifier: GPL-2.0-or-later
#include "rotate.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "job_settings.h"
#include "records.h"

namespace lumora {

namespace {

struct FreeDeleter {
  void operator()(uint8_t* p) const { free(p); }
};
using Scratch = std::unique_ptr<uint8_t, FreeDeleter>;

Scratch AllocScratch(uint32_t width, uint32_t height) {
  return Scratch(static_cast<uint8_t*>(malloc(static_cast<size_t>(width) * height)));
}

constexpr uint32_t kTile = 64;

}  // namespace

bool Rotate180(uint8_t* image, uint32_t width, uint32_t height) {
  if (image == nullptr || width == 0 || height == 0) return false;
  // Rows in reverse order, each row reversed: with rows stored without
  // padding that is the whole image read backwards, done in place (no
  // second page in memory).
  std::reverse(image, image + static_cast<size_t>(width) * height);
  return true;
}

bool Rotate90(uint8_t* image, uint32_t width, uint32_t height) {
  if (image == nullptr || width == 0 || height == 0) return false;
  Scratch scratch = AllocScratch(width, height);
  if (!scratch) return false;
  // Output row c is source column c read from the bottom up. Walk the source
  // in 64 x 64 tiles so both sides stay in cache.
  uint8_t* out = scratch.get();
  for (uint32_t r0 = 0; r0 < height; r0 += kTile) {
    const uint32_t r1 = std::min(height, r0 + kTile);
    for (uint32_t c0 = 0; c0 < width; c0 += kTile) {
      const uint32_t c1 = std::min(width, c0 + kTile);
      for (uint32_t r = r0; r < r1; ++r) {
        const uint8_t* src = image + static_cast<size_t>(r) * width;
        const size_t dstCol = height - 1 - r;
        for (uint32_t c = c0; c < c1; ++c) out[static_cast<size_t>(c) * height + dstCol] = src[c];
      }
    }
  }
  memcpy(image, out, static_cast<size_t>(width) * height);
  return true;
}

bool DecideRotate180(const JobSettings& s, int page, int longEdgeFlag) {
  const int rotation = s[kFnImageRotation];
  const int duplex = s[kFnDuplex];
  if (duplex != 0) {
    // Automatic duplex: back sides of long-edge jobs come out upside down.
    if (rotation == 1) return duplex == 1 ? page % 2 == 1 : true;
    return duplex == 1 && page % 2 == 0;
  }
  bool backSide = false;
  if (s[kFnManualDuplex] == 1 && page % 2 == 0) {
    if (s.platform == PLATFORM_Z && s.manualDuplexType == 0)
      backSide = longEdgeFlag == 0;
    else
      backSide = longEdgeFlag == kLongEdgeFlag;
  }
  return backSide ? rotation == 0 : rotation == 1;
}

}  // namespace lumora
