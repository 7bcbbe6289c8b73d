// SPDX-License-Identifier: GPL-2.0-or-later
// The speed-ups of the raster filter must not change one output byte: the
// job streams of a fixed set of rasters are compared with digests recorded
// from the filter before the speed-ups, and the streams of one job made with
// 1, 2 and (PLATFORM_Z) 3 compression threads must be identical.
//
// The clock and the host name reach the stream in two places, which are
// masked before comparing: the date record of PLATFORM_C (0B 08 1F, then
// year, month, day and checksum) and the JOBTIME and JOBOWNER lines of
// PLATFORM_Z.
//
// To record new digests (only after a deliberate change of the output):
//   LUMORA_PERF_RECORD=1 build/tests/perf/perf_tests
// prints the table to paste into kGolden.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "test_support.h"

namespace lumora::test {
namespace {

const char kHazel[] = "Lumora Hazel H1 Series";     // PLATFORM_C
const char kCedar[] = "Lumora Cedar C300 Series";   // PLATFORM_Z
const char kElm[] = "Lumora Elm E200 Series";       // PLATFORM_M
const char kElm1200[] = "Lumora Elm E300 Series";   // PLATFORM_M with 1200 dpi output
const char kCedarMD[] = "Lumora Cedar C200 Series";  // PLATFORM_Z, manual duplex

// A deterministic mixture of what pages hold: lines of "text" (short dark
// runs on white), a gray ramp, a patch of noise and a hard black bar.
uint8_t MixedPixel(unsigned x, unsigned y) {
  const unsigned band = (y / 400) % 4;
  if (band == 0 || band == 2) {
    const unsigned h = (x / 7) * 2654435761u ^ (y / 24) * 40503u;
    const bool inGlyphRow = (y % 24) < 16;
    return inGlyphRow && (h % 5) < 2 && (x % 7) < 5 ? 0 : 255;
  }
  if (band == 1) return static_cast<uint8_t>((x / 3 + y) & 0xFF);
  uint32_t v = x * 1103515245u + y * 12345u;
  v ^= v >> 13;
  v *= 2654435761u;
  return x < 64 ? 0 : static_cast<uint8_t>(v >> 24);
}

RasterPage Page(unsigned pointW, unsigned pointH, unsigned width, unsigned height,
                unsigned dpi = 600) {
  RasterPage p;
  p.pageSize[0] = pointW;
  p.pageSize[1] = pointH;
  p.width = width;
  p.height = height;
  p.resolution[0] = p.resolution[1] = dpi;
  p.pixel = MixedPixel;
  return p;
}

struct Input {
  std::string name;
  std::vector<RasterPage> pages;
  long truncateTo = 0;  // > 0: the file is cut to this many bytes (a read failure)
};

struct Case {
  std::string input;
  std::string model;
  std::string options;
};

std::vector<Input> Inputs() {
  std::vector<Input> in;
  // A4 as the scheduler sends it: lines wider and more numerous than the
  // printer's image (centre-cropped, extra lines dropped).
  in.push_back({"a4-full", {Page(595, 842, 4960, 7016)}});
  // Lines narrower and fewer than the image: left-aligned on white.
  in.push_back({"a4-narrow", {Page(595, 842, 3001, 5000)}});
  // Lines exactly as wide as the image of each table (read straight in).
  in.push_back({"a4-4800", {Page(595, 842, 4800, 6780)}});
  in.push_back({"a4-4736", {Page(595, 842, 4736, 6784)}});
  // Two-sided pages of different sizes: turned back sides, a blank page.
  in.push_back({"mixed-3", {Page(420, 595, 3496, 4960), Page(595, 842, 4960, 7016),
                            Page(612, 792, 5100, 6600)}});
  // A 1200-dpi A5 page for PLATFORM_C.
  in.push_back({"a5-1200", {Page(420, 595, 7000, 9920, 1200)}});
  // Two copies of every page, for collated copies.
  in.push_back({"mixed-3-copies", {Page(420, 595, 3496, 4960), Page(595, 842, 4960, 7016),
                                   Page(612, 792, 5100, 6600)}});
  for (RasterPage& p : in.back().pages) p.numCopies = 2;
  // A stream that ends in the middle of its second page.
  in.push_back({"truncated", {Page(420, 595, 3496, 4960), Page(420, 595, 3496, 4960)},
                3496L * 4960 + 3496L * 2000});
  return in;
}

std::vector<Case> Cases() {
  std::vector<Case> c;
  for (const char* m : {kHazel, kCedar, kElm}) {
    c.push_back({"a4-full", m, ""});
    c.push_back({"a4-narrow", m, ""});
    c.push_back({"mixed-3", m, "Duplex=DuplexNoTumble"});
    c.push_back({"truncated", m, ""});
  }
  c.push_back({"a4-4800", kHazel, ""});
  c.push_back({"a4-4736", kCedar, ""});
  c.push_back({"a4-4736", kElm, ""});
  c.push_back({"a4-full", kHazel, "NegativePrint=True Density=5"});
  c.push_back({"a4-full", kCedar, "Duplex=DuplexTumble"});
  c.push_back({"a5-1200", kHazel, ""});
  c.push_back({"a4-full", kElm1200, "DPI1200=True"});
  c.push_back({"mixed-3", kHazel, "Collate=True copies=2"});
  c.push_back({"mixed-3", kCedar, "FeedLongEdge=True"});
  // Jobs of several pages, sent in order whatever the thread count:
  // collated copies, manual duplex (PLATFORM_Z promotes duplex to it), and
  // both together.
  c.push_back({"mixed-3-copies", kHazel, "Collate=True Duplex=DuplexNoTumble"});
  c.push_back({"mixed-3-copies", kCedar, "Collate=True"});
  c.push_back({"mixed-3-copies", kElm, "Collate=True Duplex=DuplexNoTumble"});
  c.push_back({"mixed-3", kCedarMD, "Duplex=DuplexNoTumble"});
  c.push_back({"mixed-3-copies", kCedarMD, "Duplex=DuplexTumble Collate=True"});
  c.push_back({"mixed-3", kHazel, "ManualDuplex=True"});
  c.push_back({"mixed-3", kElm, "ManualDuplex=True outputorder=True"});
  return c;
}

// Digests of the masked streams, recorded before the speed-ups. One was
// recorded again since, for a deliberate change: the blank back side of the
// 600-dpi PLATFORM_C duplex job is now encoded in 768-line stripes like its
// printed pages (it used to take 384, read from a cleared page header).
const std::map<std::string, std::string> kGolden = {
    {"a4-full | Lumora Hazel H1 Series | ", "d675738845204c51-945348"},
    {"a4-narrow | Lumora Hazel H1 Series | ", "d8c5fc4510dfe6f9-461897"},
    {"mixed-3 | Lumora Hazel H1 Series | Duplex=DuplexNoTumble", "5bc47cbca7b886f0-2381488"},
    {"truncated | Lumora Hazel H1 Series | ", "cf77370b1503f297-682262"},
    {"a4-full | Lumora Cedar C300 Series | ", "28853b29b22a00c2-1069787"},
    {"a4-narrow | Lumora Cedar C300 Series | ", "29c4c39bef71bcb9-520141"},
    {"mixed-3 | Lumora Cedar C300 Series | Duplex=DuplexNoTumble", "0cfe05074e71b2b2-2672194"},
    {"truncated | Lumora Cedar C300 Series | ", "17c0b585d2c7a1aa-727549"},
    {"a4-full | Lumora Elm E200 Series | ", "25b1a28454d5b2fd-1067680"},
    {"a4-narrow | Lumora Elm E200 Series | ", "4161fef1f17d5f85-519338"},
    {"mixed-3 | Lumora Elm E200 Series | Duplex=DuplexNoTumble", "2a877dcdae953be9-2663510"},
    {"truncated | Lumora Elm E200 Series | ", "56b759f65426e72f-724991"},
    {"a4-4800 | Lumora Hazel H1 Series | ", "ec1b1d14ab0a684e-938095"},
    {"a4-4736 | Lumora Cedar C300 Series | ", "ff26e207dc1c4349-1061737"},
    {"a4-4736 | Lumora Elm E200 Series | ", "87cd129b2e063e12-1059946"},
    {"a4-full | Lumora Hazel H1 Series | NegativePrint=True Density=5", "9fceb712bab2e861-945024"},
    {"a4-full | Lumora Cedar C300 Series | Duplex=DuplexTumble", "2d7c93361883de15-1071746"},
    {"a5-1200 | Lumora Hazel H1 Series | ", "62b826c2aa4e6f12-1812994"},
    {"a4-full | Lumora Elm E300 Series | DPI1200=True", "6b252342ccfc25de-2237405"},
    {"mixed-3 | Lumora Hazel H1 Series | Collate=True copies=2", "6556a05ea6d7f4a9-2375606"},
    {"mixed-3 | Lumora Cedar C300 Series | FeedLongEdge=True", "709c0dadfd812aaa-2827960"},
    // Multi-page jobs, recorded on one thread when pages began to be
    // compressed in parallel.
    {"mixed-3-copies | Lumora Hazel H1 Series | Collate=True Duplex=DuplexNoTumble", "5acea1efb21cb474-4762785"},
    {"mixed-3-copies | Lumora Cedar C300 Series | Collate=True", "241f7826189e6941-5360181"},
    {"mixed-3-copies | Lumora Elm E200 Series | Collate=True Duplex=DuplexNoTumble", "fa789fe8f655a9c9-5326842"},
    {"mixed-3 | Lumora Cedar C200 Series | Duplex=DuplexNoTumble", "efa3deed01d1036c-2672198"},
    {"mixed-3-copies | Lumora Cedar C200 Series | Duplex=DuplexTumble Collate=True", "7c247c21fcebfb87-5363823"},
    {"mixed-3 | Lumora Hazel H1 Series | ManualDuplex=True", "b432c91209f6d8cd-2375739"},
    {"mixed-3 | Lumora Elm E200 Series | ManualDuplex=True outputorder=True", "bda824c0a9b65451-2676211"},
};

std::string Key(const Case& c) { return c.input + " | " + c.model + " | " + c.options; }

class OutputIdentity : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    for (const Input& in : Inputs()) {
      const std::string path = dir_->File(in.name + ".ras");
      WriteRaster(path, in.pages);
      if (in.truncateTo > 0) {
        ASSERT_EQ(0, truncate(path.c_str(), in.truncateTo));
      }
    }
    for (const char* m : {kHazel, kCedar, kElm, kElm1200}) {
      WriteFile(dir_->File(std::string(m) + ".ppd"), RasterPpd(m));
    }
    WriteFile(dir_->File(std::string(kCedarMD) + ".ppd"),
              RasterPpd(kCedarMD, "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n"));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static std::string Run(const Case& c, int threads) {
    RunOptions o;
    o.argv = {BinPath("rastertoLumora"), "7", "bench", "identity", "1", c.options,
              dir_->File(c.input + ".ras")};
    o.env = {{"PPD", dir_->File(c.model + ".ppd")},
             {"LUMORA_THREADS", std::to_string(threads)},
             // No keep-alive fillers: their place depends on the clock.
             {"LUMORA_KEEPALIVE_INTERVAL_MS", "100000000"},
             {"TMPDIR", dir_->path()},
             {"LUMORA_MANUAL_DUPLEX_PAUSE", "0"}};
    o.unsetEnv = {"LUMORA_STAGE_TIMES"};
    RunResult r = RunProgram(o);
    std::string out = r.out;
    MaskVolatile(out);
    return out;
  }

  static TempDir* dir_;
};

TempDir* OutputIdentity::dir_ = nullptr;

TEST_F(OutputIdentity, StreamsMatchRecordedDigestsForEveryThreadCount) {
  const bool record = getenv("LUMORA_PERF_RECORD") != nullptr;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(Key(c));
    const std::string one = Run(c, 1);
    ASSERT_FALSE(one.empty());
    const std::string digest = Digest(one);
    if (record) {
      printf("    {\"%s\", \"%s\"},\n", Key(c).c_str(), digest.c_str());
    } else {
      auto it = kGolden.find(Key(c));
      ASSERT_NE(it, kGolden.end()) << "no recorded digest";
      EXPECT_EQ(it->second, digest) << "the job stream changed";
    }
    // PLATFORM_C/M encode on a second thread while screening, PLATFORM_Z
    // spreads its bands over all threads, and the pages of a job are
    // compressed in parallel: up to four threads, one stream.
    const bool pages = c.input.compare(0, 5, "mixed") == 0 || c.input == "truncated";
    const std::vector<int> counts = pages ? std::vector<int>{2, 3, 4}
                                          : c.model == kCedar ? std::vector<int>{2, 3}
                                                              : std::vector<int>{2};
    for (int threads : counts) {
      const std::string more = Run(c, threads);
      EXPECT_TRUE(more == one) << threads << " threads give another stream ("
                               << more.size() << " against " << one.size() << " bytes)";
    }
  }
}

}  // namespace
}  // namespace lumora::test
