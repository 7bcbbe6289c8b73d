// SPDX-License-Identifier: GPL-2.0-or-later
// The paper sizes each printer family knows: for every size the printer's
// paper code and the exact image it expects (pixels at 600 dpi, a little
// smaller than the sheet), and the lookup of a page by its size in points.
#pragma once

#include <cups/cups.h>
#include <cups/raster.h>

#include <cstdint>

namespace lumora {

struct PaperEntry {
  int32_t pointWidth;   // -1 closes a table
  int32_t pointHeight;
  int32_t pixelWidth;
  int32_t pixelHeight;
  int32_t paperCode;
  uint16_t paperParam1;
  uint16_t paperParam2;
  char paperName[16];
};
static_assert(sizeof(PaperEntry) == 40, "a paper table row is 40 bytes");

// Every table starts with A5 and ends with a row whose pointWidth is -1.
extern const PaperEntry gPaperSizeArray_Hazel[];
extern const PaperEntry gPaperSizeArray_HazelMFP[];
extern const PaperEntry gPaperSizeArray_Cedar_Birch[];
extern const PaperEntry gPaperSizeArray_Elm_Fir[];

// Index of the entry whose point size equals pageSize exactly, or -1.
// A 421 x 595 page is A5 fed long edge first: *feedLongEdge becomes 1.
int GetPaperArrayIndex(const unsigned pageSize[2], const PaperEntry* table, int* feedLongEdge);

// An oversized page (wider than 612 and taller than 1008 points) takes the
// point size of the table entry named by the job's PageSize option.
void isCutThePaper(cups_page_header2_t* header, const PaperEntry* table, int numOptions,
                   cups_option_t* options);

}  // namespace lumora
