// SPDX-License-Identifier: GPL-2.0-or-later
// The driver's JBIG encoder against JBIG-KIT's on images that reach every
// branch: white runs, text-like ink, noise that moves the adaptive pixel,
// lines repeated for typical prediction, widths off a byte, short stripes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "jbig_encoder.h"
#include "jbig_reference.h"

namespace lumora {
namespace test {
namespace {

enum class Kind { kWhite, kText, kNoise, kStripes, kBlack };

// Images that look like what a page loop sends, with random bytes past the
// width that both encoders must ignore.
std::vector<uint8_t> MakeImage(Kind kind, uint32_t xd, uint32_t yd, uint32_t seed) {
  const size_t bpl = (xd + 7) / 8;
  std::vector<uint8_t> img(bpl * yd, 0);
  std::mt19937 rng(seed);
  for (uint32_t y = 0; y < yd; ++y) {
    uint8_t* line = &img[y * bpl];
    switch (kind) {
      case Kind::kWhite:
        break;
      case Kind::kText:  // glyph-like blobs on text lines, repeated lines
        if ((y / 24) % 2 == 1 && rng() % 4 != 0) {
          for (size_t b = 2; b + 3 < bpl; b += 5 + rng() % 9) line[b] = static_cast<uint8_t>(rng());
        } else if (y > 0 && rng() % 3 == 0) {
          std::copy(line - bpl, line, line);
        }
        break;
      case Kind::kNoise:  // a halftoned photo with a period the template can catch
        for (size_t b = 0; b < bpl; ++b) {
          line[b] = static_cast<uint8_t>((rng() % 7 == 0 ? rng() : 0x88 >> (y % 4)) & 0xFF);
        }
        break;
      case Kind::kStripes:  // vertical rules: the adaptive pixel wants to move
        for (size_t b = 0; b < bpl; ++b) line[b] = (y % 9 == 0) ? 0 : 0xA0;
        break;
      case Kind::kBlack:
        std::fill(line, line + bpl, 0xFF);
        break;
    }
    if (xd % 8) line[bpl - 1] |= static_cast<uint8_t>(rng() & ((1u << (8 - xd % 8)) - 1));
  }
  return img;
}

TEST(JbigEncoder, WritesJbigKitsBytes) {
  struct Case {
    const char* name;
    int mx, order, options;
  };
  const Case params[] = {
      {"C", 8, 0, JBG_TPBON},
      {"Z", 0, JBG_ILEAVE | JBG_SMID, JBG_LRLTWO | JBG_TPDON | JBG_TPBON},
      {"M", 0, JBG_ILEAVE | JBG_SMID, JBG_LRLTWO | JBG_TPDON | JBG_TPBON | JBG_DPON},
      {"no TP, two lines, moving", 8, 1, JBG_LRLTWO},
      {"no TP, three lines", 8, 0x0f, 0},
      {"small window", 2, 0x20, JBG_TPBON},
  };
  struct Size {
    uint32_t xd, yd, l0;
  };
  const Size sizes[] = {{1, 1, 1}, {13, 5, 2}, {64, 40, 3}, {999, 130, 128}, {4960, 300, 4960}};
  const Kind kinds[] = {Kind::kWhite, Kind::kText, Kind::kNoise, Kind::kStripes, Kind::kBlack};
  uint32_t seed = 1;
  for (const Case& c : params) {
    for (const Size& s : sizes) {
      for (Kind kind : kinds) {
        JbigImageParams p;
        p.xd = s.xd;
        p.yd = s.yd;
        p.l0 = s.l0;
        p.mx = c.mx;
        p.order = c.order;
        p.options = c.options;
        const std::vector<uint8_t> image = MakeImage(kind, s.xd, s.yd, ++seed);
        std::vector<uint8_t> ours;
        ASSERT_EQ(EncodeJbigImage(p, image.data(), AppendJbigBytes, &ours), JbigEncodeResult::kDone);
        EXPECT_EQ(ours, JbigKitBytes(p, image))
            << c.name << " " << s.xd << "x" << s.yd << " l0 " << s.l0 << " kind "
            << static_cast<int>(kind);
      }
    }
  }
}

TEST(JbigEncoder, LeavesWhatItDoesNotCoverToJbigKit) {
  const uint8_t line[2] = {0, 0};
  std::vector<uint8_t> out;
  JbigImageParams p;
  p.xd = 16;
  p.yd = 1;
  p.l0 = 0;  // JBIG-KIT chooses the stripe height
  EXPECT_EQ(EncodeJbigImage(p, line, AppendJbigBytes, &out), JbigEncodeResult::kNotCovered);
  p.l0 = 1;
  p.mx = 16;
  EXPECT_EQ(EncodeJbigImage(p, line, AppendJbigBytes, &out), JbigEncodeResult::kNotCovered);
  p.mx = 0;
  p.options = JBG_DPON | JBG_DPPRIV;  // a private prediction table follows the header
  EXPECT_EQ(EncodeJbigImage(p, line, AppendJbigBytes, &out), JbigEncodeResult::kNotCovered);
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace test
}  // namespace lumora
