// SPDX-License-Identifier: GPL-2.0-or-later
// Page images: Prnt_SendPage output parsed per dialect and every JBIG image
// decoded with JBIG-KIT's own decoder, compared bit for bit with the page.
// JBIG-KIT's header declares C functions without a C++ guard.
extern "C" {
#include <jbig.h>
}

#include <random>

#include "band_image.h"
#include "command_bytes.h"
#include "commands.h"
#include "stream_test_util.h"

namespace lumora::test {

namespace {

using stream::H;
using stream::Hex;
using stream::StreamTest;

struct Page {
  uint16_t width, height;
  std::vector<uint8_t> bits;  // height lines of width / 8 bytes
};

// Random dots, or a page of text-like blocks on white with a solid rule.
Page MakePage(uint16_t width, uint16_t height, bool random, unsigned seed) {
  Page p{width, height, std::vector<uint8_t>(static_cast<size_t>(width / 8) * height, 0)};
  std::mt19937 rng(seed);
  const size_t line = width / 8;
  for (size_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < line; ++x) {
      if (random) {
        p.bits[y * line + x] = static_cast<uint8_t>(rng());
      } else if (y % 40 < 12 && x % 9 < 6 && (x / 9 + y / 40) % 3 != 0) {
        p.bits[y * line + x] = static_cast<uint8_t>(rng() | 0x81);
      } else if (y == height / 2) {
        p.bits[y * line + x] = 0xFF;
      }
    }
  }
  return p;
}

uint32_t LE32(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
         static_cast<uint8_t>(s[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

uint32_t BE32(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24 |
         static_cast<uint8_t>(s[at + 1]) << 16 | static_cast<uint8_t>(s[at + 2]) << 8 |
         static_cast<uint8_t>(s[at + 3]);
}

// Decodes one JBIG entity; the lines come back (width + 7) / 8 bytes long.
std::vector<uint8_t> Decode(const std::string& entity, unsigned long* w, unsigned long* h) {
  jbg_dec_state state;
  jbg_dec_init(&state);
  size_t used = 0;
  std::string copy = entity;
  int rc = jbg_dec_in(&state, reinterpret_cast<unsigned char*>(&copy[0]), copy.size(), &used);
  EXPECT_EQ(rc, JBG_EOK) << jbg_strerror(rc);
  EXPECT_EQ(used, copy.size()) << "bytes after the end of the image";
  std::vector<uint8_t> image;
  if (rc == JBG_EOK) {
    *w = jbg_dec_getwidth(&state);
    *h = jbg_dec_getheight(&state);
    const uint8_t* data = jbg_dec_getimage(&state, 0);
    image.assign(data, data + jbg_dec_getsize(&state));
  }
  jbg_dec_free(&state);
  return image;
}

void ExpectDecodesTo(const std::string& entity, const Page& page, size_t firstLine, size_t lines) {
  unsigned long w = 0, h = 0;
  std::vector<uint8_t> image = Decode(entity, &w, &h);
  ASSERT_EQ(w, page.width);
  ASSERT_EQ(h, lines);
  const size_t line = page.width / 8;
  ASSERT_EQ(image.size(), line * lines);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), page.bits.begin() + firstLine * line))
      << "image differs from lines " << firstLine << " to " << firstLine + lines;
}

class BandImageTest : public StreamTest {
 protected:
  std::string Send(const Page& page, int platform) {
    band_ = PrntBandInfo();
    band_.imageFlags3 = 0x20;
    band_.width = page.width;
    band_.height = page.height;
    if (platform == PLATFORM_C) {
      band_.lineWidth = page.width;
      band_.stripeLines = 768;
      band_.dataLength = 853;
    }
    band_.image = page.bits.data();
    EXPECT_EQ(Prnt_SendPage(job_, page_, &band_, platform), 1) << job_.lastError.c_str();
    return Take();
  }
  PrntBandInfo band_;
};

TEST_F(BandImageTest, PlatformCSendsOneImageWithItsChecksum) {
  for (bool random : {false, true}) {
    const Page page = MakePage(2496, 1700, random, 7);
    const std::vector<uint8_t> before = page.bits;
    const std::string out = Send(page, PLATFORM_C);
    EXPECT_EQ(page.bits, before) << "the encoder changed the page";
    ASSERT_GT(out.size(), 18u);
    const std::string data = out.substr(18);
    EXPECT_EQ(band_.dataLength, static_cast<int32_t>(data.size()));
    EXPECT_EQ(LE32(out, 13), data.size());
    EXPECT_EQ(out.substr(0, 13), H("0B 12 0C 00 20 C0 09 A4 06 C0 09 00 03"));
    EXPECT_EQ(CalcChecksum(reinterpret_cast<const uint8_t*>(out.data()), 18), 0);
    ExpectDecodesTo(data, page, 0, page.height);

    // What follows the image up to the checksum record adds up to it.
    PrntPageEndInfo info;
    ASSERT_EQ(Prnt_EndPage(job_, page_, &info, PLATFORM_C), 1);
    const std::string end = Take();
    unsigned sum = 0;
    for (unsigned char c : data + end.substr(0, 11)) sum += c;
    EXPECT_EQ(end.substr(11, 3), H("0B 06 1A"));
    EXPECT_EQ(static_cast<uint8_t>(end[14]), sum % 256);
    EXPECT_EQ(page_.checksum, sum % 256);
  }
}

TEST_F(BandImageTest, PlatformZSendsIndependentBands) {
  struct Case {
    uint16_t height;
    std::vector<uint32_t> bandLines;
  };
  for (const Case& c : {Case{600, {256, 256, 88}}, Case{512, {256, 256}}, Case{100, {100}}}) {
    for (bool random : {false, true}) {
      SCOPED_TRACE(c.height);
      const Page page = MakePage(1216, c.height, random, c.height);
      page_.coverage = 1234567;
      const std::string out = Send(page, PLATFORM_Z);
      EXPECT_EQ(out.substr(0, 9), H("0B 07 19 12 13 00 B0 00 00"));
      EXPECT_EQ(out.substr(9, 18), H("0B 12 0C 00 20 C0 04") + std::string(1, char(c.height & 0xFF)) +
                                       std::string(1, char(c.height >> 8)) +
                                       std::string(8, '\0') + out.substr(26, 1));
      EXPECT_EQ(CalcChecksum(reinterpret_cast<const uint8_t*>(out.data() + 9), 18), 0);
      EXPECT_EQ(band_.dataLength, 0);
      size_t at = 27;
      for (size_t i = 0; i < c.bandLines.size(); ++i) {
        ASSERT_LE(at + 48, out.size());
        const std::string header = out.substr(at, 48);
        EXPECT_EQ(header.substr(0, 7), H("0B 30 1A 00 00 01 00"));
        EXPECT_EQ(LE32(header, 7), 1216u);
        EXPECT_EQ(LE32(header, 11), c.bandLines[i]);
        EXPECT_EQ(LE32(header, 15), c.bandLines[i]);
        EXPECT_EQ(header.substr(19, 4), H("00 00 03 58"));
        EXPECT_EQ(LE32(header, 23), LE32(header, 27));
        EXPECT_EQ(LE32(header, 35), i * 256);
        EXPECT_EQ(LE32(header, 39), 3u);
        EXPECT_EQ(CalcChecksum(reinterpret_cast<const uint8_t*>(header.data()), 48), 0);
        const size_t len = LE32(header, 23);
        ExpectDecodesTo(out.substr(at + 48, len), page, i * 256, c.bandLines[i]);
        at += 48 + len;
      }
      EXPECT_EQ(at, out.size());
    }
  }
}

TEST_F(BandImageTest, PlatformZOutputDoesNotDependOnThreadCount) {
  const Page page = MakePage(2496, 3000, false, 3);
  std::vector<std::string> outs;
  std::vector<uint32_t> sums;
  for (const char* threads : {"1", "2", "5"}) {
    setenv("LUMORA_THREADS", threads, 1);
    outs.push_back(Send(page, PLATFORM_Z));
    sums.push_back(page_.checksum);
  }
  unsetenv("LUMORA_THREADS");
  EXPECT_TRUE(outs[0] == outs[1] && outs[1] == outs[2]);
  EXPECT_TRUE(sums[0] == sums[1] && sums[1] == sums[2]);
  // The checksum left behind is that of the last band.
  size_t at = 27, last = 0;
  while (at < outs[0].size()) {
    last = at;
    at += 48 + LE32(outs[0], at + 23);
  }
  unsigned sum = 670;  // the universal exit sequence that follows on PLATFORM_C
  for (size_t i = last + 48; i < outs[0].size(); ++i) sum += static_cast<uint8_t>(outs[0][i]);
  EXPECT_EQ(sums[0], sum % 256);
}

TEST_F(BandImageTest, PlatformMSendsChunkedImage) {
  for (bool random : {false, true}) {
    const Page page = MakePage(1216, 900, random, 11);
    const std::string out = Send(page, PLATFORM_M);
    EXPECT_EQ(out.substr(0, 36), H("00 00 00 24 00 00 00 04 00 00 00 00 00 00 5A 5A 00 00 01 00 "
                                   "00 00 04 C0 00 00 03 84 00 00 01 00 00 00 03 5C"));
    std::string entity;
    size_t at = 36;
    while (at + 16 <= out.size() && BE32(out, at + 4) == JBIG_DATA_CMD) {
      const size_t len = BE32(out, at) - 16;
      EXPECT_LE(len, 65536u);
      entity += out.substr(at + 16, len);
      at += 16 + len;
    }
    EXPECT_EQ(out.substr(at), H("00 00 00 10 00 00 00 06 00 00 00 00 00 00 5A 5A"));
    EXPECT_EQ(static_cast<size_t>(band_.dataLength), entity.size());
    ExpectDecodesTo(entity, page, 0, page.height);
  }
}

TEST_F(BandImageTest, PlatformMChunkBoundaries) {
  struct Case {
    size_t length;
    std::vector<uint32_t> headerLengths;
  };
  for (const Case& c : {Case{1, {17}}, Case{65536, {65552}}, Case{65537, {65552, 17}},
                        Case{131072, {65552, 65552}}}) {
    std::string data(c.length, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    ASSERT_EQ(SendJbigDataCmds(job_, page_.route, reinterpret_cast<const uint8_t*>(data.data()), data.size()), 1);
    const std::string out = Take();
    std::string joined;
    size_t at = 0;
    for (uint32_t expected : c.headerLengths) {
      ASSERT_LE(at + 16, out.size());
      EXPECT_EQ(BE32(out, at), expected);
      EXPECT_EQ(out.substr(at + 4, 12), H("00 00 00 05 00 00 00 00 00 00 5A 5A"));
      joined += out.substr(at + 16, expected - 16);
      at += expected;
    }
    EXPECT_EQ(at, out.size()) << c.length;
    EXPECT_EQ(joined, data);
  }
}

// A width that is no multiple of 8 is padded for the encoder instead of
// letting it read past the image.
TEST_F(BandImageTest, OddWidthIsPaddedWithWhite) {
  Page page = MakePage(100, 40, true, 5);  // 12 bytes a line as packed
  page.bits.shrink_to_fit();
  const std::string out = Send(page, PLATFORM_M);
  ASSERT_GT(out.size(), 36u + 16u + 16u);
  unsigned long w = 0, h = 0;
  std::vector<uint8_t> image = Decode(out.substr(52, out.size() - 52 - 16), &w, &h);
  ASSERT_EQ(w, 100u);
  ASSERT_EQ(image.size(), 13u * 40u);
  for (size_t y = 0; y < 40; ++y) {
    EXPECT_TRUE(std::equal(page.bits.begin() + y * 12, page.bits.begin() + y * 12 + 12,
                           image.begin() + y * 13));
    EXPECT_EQ(image[y * 13 + 12], 0);
  }
}

TEST_F(BandImageTest, FailuresNameTheirStep) {
  const Page page = MakePage(256, 300, false, 1);
  struct Case {
    int platform;
    size_t budget;
    std::string expected;
  };
  const std::string dataFail = "Prnt_SendPage() :: Send compressed data and cmd fail.  \n";
  const std::string rasterFail = "Prnt_SendPage() :: send cmdRasterImage Fail .  \n";
  const std::vector<Case> cases = {
      {PLATFORM_C, 0, rasterFail},
      {PLATFORM_C, 18, dataFail},
      {PLATFORM_Z, 0, "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"},
      {PLATFORM_Z, 7, rasterFail + "Insert00() :: Send 00 00 to file Fail0 ==  \n"},
      {PLATFORM_Z, 27, dataFail},
      {PLATFORM_M, 0, "Prnt_SendPage() :: send JBIG_PARAM_CMD Fail 0 ==  \n"},
      {PLATFORM_M, 36, "Prnt_SendPage() :: send JBIG_DATA_CMD Fail 0 ==  \n"},
      {PLATFORM_M, 52, dataFail},
  };
  for (const auto& c : cases) {
    job_.lastError.Set("");
    FailAfter(c.budget);
    PrntBandInfo band;
    band.width = page.width;
    band.height = page.height;
    band.image = page.bits.data();
    EXPECT_EQ(Prnt_SendPage(job_, page_, &band, c.platform), 0);
    EXPECT_EQ(std::string(job_.lastError.c_str()), c.expected) << c.platform << " " << c.budget;
    CloseFailing();
  }
  job_.lastError.Set("");
  PrntBandInfo noImage;
  noImage.width = 64;
  noImage.height = 8;
  EXPECT_EQ(Prnt_SendPage(job_, page_, &noImage, PLATFORM_C), 0);
  EXPECT_STREQ(job_.lastError.c_str(), "Prnt_SendPage() :: malloc Fail .  \n");
}

}  // namespace

}  // namespace lumora::test
