// SPDX-License-Identifier: GPL-2.0-or-later
// Half and quarter turns of the page image, and which pages get the half turn.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "job_settings.h"
#include "rotate.h"
#include "stream/records.h"

namespace lumora::test {

TEST(Rotate, SmallImagesTurnAsDrawn) {
  std::vector<uint8_t> img = {'a', 'b', 'c', 'd', 'e', 'f'};
  ASSERT_EQ(Rotate180(img.data(), 3, 2), 1);
  EXPECT_EQ(std::string(img.begin(), img.end()), "fedcba");

  img = {'a', 'b', 'c', 'd', 'e', 'f'};
  ASSERT_EQ(Rotate90(img.data(), 3, 2), 1);
  EXPECT_EQ(std::string(img.begin(), img.end()), "daebfc");  // rows: d a, e b, f c
}

TEST(Rotate, TileEdgesMatchAPlainQuarterTurn) {
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{130, 70}, {64, 64}, {1, 200}, {200, 1}}) {
    std::vector<uint8_t> img(w * h);
    std::mt19937 rng(w * 1000 + h);
    for (auto& p : img) p = static_cast<uint8_t>(rng());
    std::vector<uint8_t> expect(w * h);
    for (uint32_t r = 0; r < h; ++r)
      for (uint32_t c = 0; c < w; ++c) expect[c * h + (h - 1 - r)] = img[r * w + c];
    ASSERT_EQ(Rotate90(img.data(), w, h), 1);
    EXPECT_EQ(img, expect) << w << "x" << h;
  }
}

TEST(Rotate, EmptyImagesAreLeftAlone) {
  std::vector<uint8_t> img = {1, 2, 3};
  EXPECT_EQ(Rotate180(img.data(), 0, 3), 0);
  EXPECT_EQ(Rotate90(img.data(), 3, 0), 0);
  EXPECT_EQ(Rotate180(nullptr, 3, 1), 0);
  EXPECT_EQ(img, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Rotate, HalfTurnRule) {
  auto turned = [](int platform, int duplex, int manual, int type, int rotation, int longEdge) {
    JobSettings s;
    s.platform = platform;
    s[kFnDuplex] = duplex;
    s[kFnManualDuplex] = manual;
    s.manualDuplexType = type;
    s[kFnImageRotation] = rotation;
    std::string pages;
    for (int p = 1; p <= 6; ++p)
      if (DecideRotate180(s, p, longEdge)) pages += std::to_string(p);
    return pages;
  };
  // Automatic duplex.
  EXPECT_EQ(turned(PLATFORM_C, 1, 0, 0, 0, 0), "246");
  EXPECT_EQ(turned(PLATFORM_C, 1, 0, 0, 1, 0), "135");
  EXPECT_EQ(turned(PLATFORM_M, 2, 0, 0, 0, 0), "");
  EXPECT_EQ(turned(PLATFORM_M, 2, 0, 0, 1, 0), "123456");
  // Manual duplex promoted from long edge on PLATFORM_Z, A4: back sides turn.
  EXPECT_EQ(turned(PLATFORM_Z, 0, 1, 0, 0, 0), "246");
  EXPECT_EQ(turned(PLATFORM_Z, 0, 1, 0, 1, 0), "135");
  // Promoted from short edge: only A5 fed long edge counts as a back side.
  EXPECT_EQ(turned(PLATFORM_Z, 0, 1, 1, 0, 0), "");
  EXPECT_EQ(turned(PLATFORM_Z, 0, 1, 1, 0, 0x40), "246");
  // One-sided: only on request.
  EXPECT_EQ(turned(PLATFORM_C, 0, 0, 0, 1, 0), "123456");
  EXPECT_EQ(turned(PLATFORM_C, 0, 0, 0, 0, 0), "");
}

}  // namespace lumora::test
