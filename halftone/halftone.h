// SPDX-License-Identifier: GPL-2.0-or-later
// Ordered-dither screening of the 8-bit gray page (255 = white) into the
// packed printer image (1 bit per pixel, MSB first, 1 = dot; 2 bits per pixel
// on PLATFORM_M at 1200 dpi), counting printed dots into the job's coverage.
#pragma once

#include <cstdint>

#include "byte_output.h"

// The part of a job the screen needs: the printer model (the Willow Plus has
// screens of its own), the page's dot count it adds to, and the job's log.
struct ScreenJob {
  const char* modelName = "";
  uint32_t* coverage = nullptr;
  lumora::LogOutput* log = nullptr;
};

// Returns 1 after screening, 0 (output untouched) for a null buffer or
// platform 0. dst must be zeroed and hold width * lines / 8 bytes
// (width * lines / 4 for 2-bit output). Logs one DEBUG line.
// Only whole output bytes are written: when width * lines does not fill the
// last byte, the 1-7 pixels left over (1-3 at 2 bits) are skipped and not
// counted. A width <= 0 or no lines screens nothing and returns 1.
int HalftoneDither(ScreenJob& job, const uint8_t* src, int width, uint32_t lines, uint8_t* dst,
                   uint32_t limit, int negative, int dpi1200, int platform);

// The same screen without the DEBUG line, for a page screened in pieces of
// whole matrix periods after its first piece went through HalftoneDither.
int HalftoneDitherRows(ScreenJob& job, const uint8_t* src, int width, uint32_t lines, uint8_t* dst,
                       uint32_t limit, int negative, int dpi1200, int platform);

extern const uint8_t HT_TABLE_600[16][16];
extern const uint8_t HT_TABLE_1200_Z[16][16];
extern const uint8_t HT_TABLE_1200_C[28][28];
extern const uint8_t NEW_HT_TABLE_600_Z_M[96][96];
extern const uint8_t NEW_HT_HALFTONE_1200_Z[96][96];
extern const uint8_t HT_TABLE_2BIG[256];
