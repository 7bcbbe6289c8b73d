// SPDX-License-Identifier: GPL-2.0-or-later
// Turning the 8-bit page image in place (one byte per pixel, rows without
// padding): a half turn for back sides and on request, a quarter turn for
// A5 fed long edge first. Each uses one scratch image of the page's size.
#pragma once

#include <cstdint>

namespace lumora {

// True when turned; false (image unchanged) for an empty image.
bool Rotate180(uint8_t* image, uint32_t width, uint32_t height);

// Quarter turn clockwise: afterwards the image has `height` bytes per row and
// `width` rows. True when turned, false (image unchanged) for an empty
// image or when its scratch image cannot be had.
bool Rotate90(uint8_t* image, uint32_t width, uint32_t height);

// Whether this page gets the half turn.
struct JobSettings;
bool DecideRotate180(const JobSettings& s, int page, int longEdgeFlag);

}  // namespace lumora
