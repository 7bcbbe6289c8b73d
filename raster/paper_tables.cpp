// SPDX-License-Identifier: GPL-2.0-or-later
#include "paper_tables.h"

#include <cstring>

namespace lumora {

// Rows: point width, point height, image pixels (width, height) at 600 dpi,
// printer paper code, two paper parameters, the PageSize name.

// Hazel single-function models (PLATFORM_C).
const PaperEntry gPaperSizeArray_Hazel[] = {
    {420, 595, 3328, 4736, 6, 0, 0, "A5"},
    {612, 792, 4928, 6364, 0, 0, 0, "Letter"},
    {595, 842, 4800, 6780, 1, 0, 0, "A4"},
    {298, 420, 2304, 3260, 24, 0, 0, "A6"},
    {516, 729, 4128, 5835, 3, 0, 0, "B5"},
    {499, 709, 3968, 5670, 25, 0, 0, "IOSB5"},
    {354, 499, 2784, 3922, 31, 0, 0, "B6"},
    {522, 756, 4192, 6064, 10, 0, 0, "Executive"},
    {396, 612, 3136, 4864, 12, 0, 0, "Statement"},
    {612, 936, 4928, 7560, 26, 0, 0, "Folio"},
    {612, 972, 4928, 7866, 27, 0, 0, "Oficio"},
    {283, 420, 2176, 3260, 8, 0, 0, "Postcard"},
    {279, 540, 2144, 4264, 11, 0, 0, "EnvMonarch"},
    {312, 624, 2432, 4961, 14, 0, 0, "EnvDL"},
    {459, 649, 3648, 5174, 15, 0, 0, "EnvC5"},
    {297, 684, 2304, 5464, 16, 0, 0, "Com10Envelope"},
    {323, 459, 2528, 3591, 28, 0, 0, "EnvC6"},
    {340, 652, 2656, 5197, 29, 0, 0, "ZL"},
    {612, 1008, 4928, 8164, 2, 0, 0, "Legal"},
    {383, 553, 3008, 4371, 23, 0, 0, "Big32K"},
    {553, 765, 4448, 6142, 21, 0, 0, "Big16K"},
    {369, 524, 2912, 4134, 22, 0, 0, "32K"},
    {524, 737, 4192, 5906, 20, 0, 0, "16K"},
    {-1, 0, 0, 0, 0, 0, 0, ""},
};

// Hazel multifunction models (PLATFORM_C): narrower images; envelopes and
// postcards carry two extra parameters.
const PaperEntry gPaperSizeArray_HazelMFP[] = {
    {420, 595, 3312, 4720, 6, 0, 0, "A5"},
    {612, 792, 4912, 6364, 0, 0, 0, "Letter"},
    {595, 842, 4776, 6782, 1, 0, 0, "A4"},
    {298, 420, 2296, 3260, 24, 0, 0, "A6"},
    {516, 729, 4112, 5835, 3, 0, 0, "B5"},
    {499, 709, 3968, 5669, 25, 0, 0, "IOSB5"},
    {354, 499, 2760, 3921, 31, 0, 0, "B6"},
    {522, 756, 4168, 6064, 10, 0, 0, "Executive"},
    {396, 612, 3112, 4864, 12, 0, 0, "Statement"},
    {612, 936, 4912, 7564, 26, 0, 0, "Folio"},
    {612, 972, 4920, 7866, 27, 0, 0, "Oficio"},
    {283, 420, 1896, 3024, 8, 240, 120, "Postcard"},
    {279, 540, 1856, 4028, 11, 240, 120, "EnvMonarch"},
    {312, 624, 2128, 4724, 14, 240, 120, "EnvDL"},
    {459, 649, 3360, 4937, 15, 240, 120, "EnvC5"},
    {297, 684, 2008, 5228, 16, 240, 120, "Com10Envelope"},
    {323, 459, 2224, 3354, 28, 240, 120, "EnvC6"},
    {340, 652, 2648, 5197, 29, 0, 0, "ZL"},
    {612, 1008, 4912, 8164, 2, 0, 0, "Legal"},
    {383, 553, 3000, 4370, 23, 0, 0, "Big32K"},
    {553, 765, 4424, 6142, 21, 0, 0, "Big16K"},
    {369, 524, 2888, 4134, 22, 0, 0, "32K"},
    {524, 737, 4184, 5906, 20, 0, 0, "16K"},
    {-1, 0, 0, 0, 0, 0, 0, ""},
};

// Cedar and Birch (PLATFORM_Z).
const PaperEntry gPaperSizeArray_Cedar_Birch[] = {
    {420, 595, 3264, 4736, 11, 0, 0, "A5"},
    {595, 842, 4736, 6780, 1, 0, 0, "A4"},
    {612, 792, 4864, 6364, 2, 0, 0, "Letter"},
    {612, 1008, 4864, 8164, 4, 0, 0, "Legal"},
    {516, 729, 4064, 5835, 5, 0, 0, "B5"},
    {279, 540, 2112, 4264, 6, 0, 0, "EnvMonarch"},
    {312, 624, 2368, 4961, 7, 0, 0, "EnvDL"},
    {459, 649, 3616, 5174, 8, 0, 0, "EnvC5"},
    {297, 684, 2240, 5464, 9, 0, 0, "Com10Envelope"},
    {283, 420, 2144, 3260, 12, 0, 0, "Postcard"},
    {524, 737, 4160, 5906, 14, 0, 0, "16K"},
    {553, 765, 4384, 6142, 15, 0, 0, "Big16K"},
    {369, 524, 2848, 4134, 16, 0, 0, "32K"},
    {383, 553, 2976, 4371, 17, 0, 0, "Big32K"},
    {298, 420, 2272, 3260, 19, 0, 0, "A6"},
    {499, 709, 3936, 5670, 20, 0, 0, "IOSB5"},
    {522, 756, 4128, 6064, 21, 0, 0, "Executive"},
    {612, 936, 4864, 7560, 22, 0, 0, "Folio"},
    {612, 972, 4864, 7866, 23, 0, 0, "Oficio"},
    {396, 612, 3072, 4864, 24, 0, 0, "Statement"},
    {323, 459, 2464, 3591, 25, 0, 0, "EnvC6"},
    {340, 652, 2624, 5197, 26, 0, 0, "ZL"},
    {354, 499, 2720, 3922, 28, 0, 0, "B6"},
    {-1, 0, 0, 0, 0, 0, 0, ""},
};

// Elm and Fir (PLATFORM_M).
const PaperEntry gPaperSizeArray_Elm_Fir[] = {
    {420, 595, 3264, 4736, 11, 0, 0, "A5"},
    {595, 842, 4736, 6784, 9, 0, 0, "A4"},
    {612, 792, 4864, 6368, 1, 0, 0, "Letter"},
    {612, 1008, 4864, 8192, 5, 0, 0, "Legal"},
    {516, 729, 4064, 5856, 13, 0, 0, "B5"},
    {279, 540, 2112, 4288, 37, 0, 0, "EnvMonarch"},
    {312, 624, 2368, 4992, 27, 0, 0, "EnvDL"},
    {459, 649, 3616, 5184, 28, 0, 0, "EnvC5"},
    {297, 684, 2240, 5472, 20, 0, 0, "Com10Envelope"},
    {283, 420, 2144, 3264, 43, 0, 0, "Postcard"},
    {524, 737, 4160, 5920, 263, 0, 0, "16K"},
    {553, 765, 4384, 6144, 264, 0, 0, "Big16K"},
    {369, 524, 2848, 4160, 266, 0, 0, "32K"},
    {383, 553, 2976, 4384, 260, 0, 0, "Big32K"},
    {298, 420, 2272, 3264, 70, 0, 0, "A6"},
    {499, 709, 3936, 5696, 34, 0, 0, "IOSB5"},
    {522, 756, 4128, 6080, 7, 0, 0, "Executive"},
    {612, 936, 4864, 7584, 14, 0, 0, "Folio"},
    {612, 972, 4864, 7872, 269, 0, 0, "Oficio"},
    {396, 612, 3072, 4864, 6, 0, 0, "Statement"},
    {323, 459, 2464, 3616, 31, 0, 0, "EnvC6"},
    {340, 652, 2624, 5216, 270, 0, 0, "ZL"},
    {354, 499, 2720, 3936, 271, 0, 0, "B6"},
    {-1, 0, 0, 0, 0, 0, 0, ""},
};
int GetPaperArrayIndex(const unsigned pageSize[2], const PaperEntry* table, int* feedLongEdge) {
  if (table == nullptr) return -1;
  // 421 x 595 is how the system asks for A5 fed long edge first.
  if (pageSize[0] == 421 && pageSize[1] == 595) {
    if (feedLongEdge != nullptr) *feedLongEdge = 1;
    return 0;
  }
  for (int i = 0; table[i].pointWidth != -1; ++i) {
    if (static_cast<unsigned>(table[i].pointWidth) == pageSize[0] &&
        static_cast<unsigned>(table[i].pointHeight) == pageSize[1]) {
      return i;
    }
  }
  return -1;
}

void isCutThePaper(cups_page_header2_t* header, const PaperEntry* table, int numOptions,
                   cups_option_t* options) {
  if (header == nullptr || table == nullptr) return;
  if (header->PageSize[0] <= 612 || header->PageSize[1] <= 1008) return;
  const char* name = cupsGetOption("PageSize", numOptions, options);
  if (name == nullptr) return;
  for (int i = 0; table[i].pointWidth != -1; ++i) {
    if (strncmp(table[i].paperName, name, sizeof(table[i].paperName)) == 0 &&
        strlen(name) < sizeof(table[i].paperName)) {
      header->PageSize[0] = static_cast<unsigned>(table[i].pointWidth);
      header->PageSize[1] = static_cast<unsigned>(table[i].pointHeight);
      return;
    }
  }
}

}  // namespace lumora
