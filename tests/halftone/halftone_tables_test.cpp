// SPDX-License-Identifier: GPL-2.0-or-later
// Invariants of the threshold matrices: the hand-copied 16 x 16 and 28 x 28
// tables (their symmetries catch a mistyped entry) and the generated
// supercells of the Willow Plus screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "halftone.h"

namespace lumora::test {

namespace {

template <size_t N>
std::vector<int> Flat(const uint8_t (&m)[N][N]) {
  std::vector<int> v;
  for (auto& row : m) v.insert(v.end(), row, row + N);
  return v;
}

TEST(HalftoneTables, Table600LowerHalfIsUpperHalfWithHalvesExchanged) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 16; ++c) EXPECT_EQ(HT_TABLE_600[r + 8][c], HT_TABLE_600[r][(c + 8) % 16]) << r << "," << c;
}

TEST(HalftoneTables, Table1200ZLowersOnly66LightEntries) {
  int lowered = 0;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) {
      int a = HT_TABLE_600[r][c], b = HT_TABLE_1200_Z[r][c];
      EXPECT_LE(b, a);
      if (b != a) {
        ++lowered;
        EXPECT_LT(a, 60);
      }
      EXPECT_EQ(HT_TABLE_1200_Z[(r + 8) % 16][(c + 8) % 16], b);
    }
  EXPECT_EQ(lowered, 66);
}

TEST(HalftoneTables, Table1200CCellsDifferSlightly) {
  for (int r = 0; r < 28; ++r)
    for (int c = 0; c < 28; ++c) {
      int a = HT_TABLE_1200_C[r][c];
      EXPECT_EQ(HT_TABLE_1200_C[(r + 14) % 28][(c + 14) % 28], a);  // diagonal cells equal
      EXPECT_LE(std::abs(HT_TABLE_1200_C[r][(c + 14) % 28] - a), 3);
    }
}

TEST(HalftoneTables, AllMatrixEntriesBetween1And255) {
  for (const auto& v : {Flat(HT_TABLE_600), Flat(HT_TABLE_1200_Z), Flat(HT_TABLE_1200_C),
                        Flat(NEW_HT_TABLE_600_Z_M), Flat(NEW_HT_HALFTONE_1200_Z)}) {
    EXPECT_GE(*std::min_element(v.begin(), v.end()), 1);
    EXPECT_LE(*std::max_element(v.begin(), v.end()), 255);
  }
}

TEST(HalftoneTables, TwoBitLevels) {
  for (int g = 0; g < 256; ++g) EXPECT_EQ(HT_TABLE_2BIG[g], g == 0 ? 0 : g < 24 ? 1 : g < 64 ? 2 : 3) << g;
}

TEST(HalftoneSupercell, FirstEntriesMatchThePrinterScreen) {
  struct Known {
    const uint8_t (*m)[96];
    int row;
    std::vector<int> first;
  };
  const Known known[] = {
      {NEW_HT_TABLE_600_Z_M, 0, {50, 28, 62, 94, 171, 111, 58, 33, 72, 87, 161, 103, 51, 29, 63, 95, 172, 112}},
      {NEW_HT_TABLE_600_Z_M, 1, {21, 1, 10, 149, 234, 189, 26, 4, 14, 139, 225, 182, 22, 2, 11, 150, 236, 190}},
      {NEW_HT_TABLE_600_Z_M, 3, {98, 175, 114, 52, 30, 65, 99, 177, 115, 47, 27, 59}},
      {NEW_HT_HALFTONE_1200_Z, 0, {36, 19, 46, 77, 165, 95, 43, 23, 55, 69, 153, 86, 37, 20, 47, 78, 166, 96}},
      {NEW_HT_HALFTONE_1200_Z, 1, {14, 1, 7, 139, 234, 186, 18, 3, 10, 127, 225, 178, 15, 1, 8, 140, 236, 187}},
      {NEW_HT_HALFTONE_1200_Z, 3, {81, 170, 98, 38, 21, 49, 82, 172, 100, 34, 19, 43}},
  };
  for (const auto& k : known) {
    std::vector<int> got(k.m[k.row], k.m[k.row] + k.first.size());
    EXPECT_EQ(got, k.first) << "row " << k.row;
  }
}

TEST(HalftoneSupercell, LevelCounts) {
  auto a = Flat(NEW_HT_TABLE_600_Z_M), b = Flat(NEW_HT_HALFTONE_1200_Z);
  EXPECT_EQ(std::set<int>(a.begin(), a.end()).size(), 255u);
  EXPECT_EQ(std::set<int>(b.begin(), b.end()).size(), 237u);
}

TEST(HalftoneSupercell, Fine1200KeepsMoreWhiteBelow212) {
  for (int r = 0; r < 96; ++r)
    for (int c = 0; c < 96; ++c) {
      int a = NEW_HT_TABLE_600_Z_M[r][c], b = NEW_HT_HALFTONE_1200_Z[r][c];
      ASSERT_LE(b, a) << r << "," << c;
      if (a >= 212 || b >= 212) {
        ASSERT_EQ(a, b) << r << "," << c;
      }
    }
}

// 16 x 16 cells of 6 x 6; the two dot centres of a cell are the minima of
// its rows 1 and 4, at columns 1 and 4; cells are not all copies of one.
TEST(HalftoneSupercell, ClusteredDotGeometry) {
  for (const auto* m : {NEW_HT_TABLE_600_Z_M, NEW_HT_HALFTONE_1200_Z}) {
    int differing = 0;
    for (int cy = 0; cy < 16; ++cy)
      for (int cx = 0; cx < 16; ++cx) {
        const int y0 = 6 * cy, x0 = 6 * cx;
        for (int i = 0; i < 2; ++i) {
          const int r = i == 0 ? 1 : 4;
          const uint8_t* row = m[y0 + r] + x0;
          EXPECT_EQ(*std::min_element(row, row + 6), row[r]) << cy << "," << cx;
          // The centre is below all of its cell's light (far) pixels.
          EXPECT_LT(row[r], m[y0 + (r + 3) % 6][x0 + r]);
        }
        for (int y = 0; y < 6; ++y)
          for (int x = 0; x < 6; ++x) differing += m[y0 + y][x0 + x] != m[y][x];
      }
    EXPECT_GT(differing, 9216 / 2);
  }
}

}  // namespace

}  // namespace lumora::test
