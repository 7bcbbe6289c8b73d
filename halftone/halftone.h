// SPDX-License-Identifier: GPL-2.0-or-later
// Ordered-dither screening of the 8-bit gray page (255 = white) into the
// packed printer image (1 bit per pixel, MSB first, 1 = dot; 2 bits per pixel
// on PLATFORM_M at 1200 dpi), counting printed dots into the job's coverage.
#pragma once

#include <cstdint>

#include "byte_output.h"

namespace lumora {

// The part of a job the screen needs: the printer model (the Willow Plus has
// screens of its own), the page's dot count it adds to, and the job's log.
struct ScreenJob {
  const char* modelName = "";
  uint32_t* coverage = nullptr;
  LogOutput* log = nullptr;
};

// One call of the screen: the gray rows in, the printer image out, and the
// job's choices that pick the matrix.
struct HalftoneRequest {
  const uint8_t* src = nullptr;  // lines rows of width samples, 255 = white
  int width = 0;
  uint32_t lines = 0;
  // Zeroed, width * lines / 8 bytes (width * lines / 4 at 2 bits).
  uint8_t* dst = nullptr;
  // The raster's bytes per line (its lines after a quarter turn); no output
  // depends on it.
  uint32_t limit = 0;
  bool negative = false;  // the NegativePrint option
  bool dpi1200 = false;   // the DPI1200 option
  int platform = 0;       // PrntPlatform; 0 screens nothing
};

// Returns true after screening, false (output untouched) for a null buffer
// or platform 0. Logs one DEBUG line. Only whole output bytes are written:
// when width * lines does not fill the last byte, the 1-7 pixels left over
// (1-3 at 2 bits) are skipped and not counted. A width <= 0 or no lines
// screens nothing and returns true.
bool HalftoneDither(ScreenJob& job, const HalftoneRequest& request);

// The same screen without the DEBUG line, for a page screened in pieces of
// whole matrix periods after its first piece went through HalftoneDither.
bool HalftoneDitherRows(ScreenJob& job, const HalftoneRequest& request);

extern const uint8_t HT_TABLE_600[16][16];
extern const uint8_t HT_TABLE_1200_Z[16][16];
extern const uint8_t HT_TABLE_1200_C[28][28];
extern const uint8_t NEW_HT_TABLE_600_Z_M[96][96];
extern const uint8_t NEW_HT_HALFTONE_1200_Z[96][96];
extern const uint8_t HT_TABLE_2BIG[256];

}  // namespace lumora
