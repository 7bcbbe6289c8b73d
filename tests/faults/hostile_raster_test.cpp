// SPDX-License-Identifier: GPL-2.0-or-later
// Damaged raster streams and PPDs given to rastertoLumora: truncated, empty
// and garbage streams, page headers with zero, huge or nonsensical values,
// PPDs missing or with absurd entries. The filter answers with a clear
// ERROR line or prints what it can (a white remainder for missing lines);
// it never crashes, hangs or leaves a temporary file.
#include <cups/raster.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <random>

#include "faults_support.h"
#include "job_stream_reader.h"

namespace lumora::test {

using namespace faults;

namespace {

// One page of an uncompressed (version 3) raster stream, header as given.
struct RawPage {
  cups_page_header2_t header;
  std::string lines;  // the bytes after the header
};

cups_page_header2_t GrayHeader(unsigned pointW, unsigned pointH, unsigned width, unsigned height) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof(h));
  h.HWResolution[0] = h.HWResolution[1] = 600;
  h.PageSize[0] = pointW;
  h.PageSize[1] = pointH;
  h.NumCopies = 1;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 8;
  h.cupsBytesPerLine = width;
  h.cupsColorSpace = CUPS_CSPACE_W;
  h.cupsNumColors = 1;
  return h;
}

// Writes the stream byte for byte (no checks of the CUPS writer).
std::string RawRaster(const std::vector<RawPage>& pages) {
  // "RaS3" as a number in this machine's byte order: version 3, uncompressed.
  const uint32_t sync = 0x52615333;
  std::string s(reinterpret_cast<const char*>(&sync), 4);
  for (const RawPage& p : pages) {
    s.append(reinterpret_cast<const char*>(&p.header), sizeof(p.header));
    s += p.lines;
  }
  return s;
}

void SetRaw(cups_page_header2_t& h, unsigned offset, uint32_t value) {
  memcpy(reinterpret_cast<char*>(&h) + offset, &value, sizeof(value));
}

class Hostile : public ::testing::Test {
 protected:
  Hostile() { mkdir(spool_.c_str(), 0700); }

  Outcome Filter(const std::string& raster, const std::string& ppdText,
                 const std::string& options = "", bool setPpd = true) {
    const std::string input = dir_.File("in-" + std::to_string(++runs_));
    WriteFile(input, raster);
    const std::string ppd = dir_.File("q-" + std::to_string(runs_) + ".ppd");
    WriteFile(ppd, ppdText);
    Launch l;
    l.program = RasterFilter();
    l.stdinFile = input;
    l.args = {"3", "dave", "hostile", "1", options};
    l.env = {{"TMPDIR", spool_}};
    if (setPpd) l.env["PPD"] = ppd;
    l.watchdogSeconds = 60;
    Outcome r = RunFilter(l);
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(0, r.signal) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
    EXPECT_TRUE(ListDir(spool_).empty());
    return r;
  }

  // Status 0 with a well-formed job, or 1 with an ERROR line.
  void ExpectHandled(const Outcome& r, const std::string& what) {
    if (r.status == 0) {
      inspect::JobStream js = inspect::ReadJobStream(
          reinterpret_cast<const uint8_t*>(r.out.data()), r.out.size());
      EXPECT_TRUE(js.ok()) << what << ": " << (js.errors.empty() ? "" : js.errors[0].message);
    } else {
      EXPECT_EQ(1, r.status) << what;
      EXPECT_FALSE(ErrorLines(r.err).empty()) << what;
    }
  }

  TempDir dir_;
  std::string spool_ = dir_.File("spool");
  std::string ppdZ_ = RasterPpd(kRasterModelZ);
  int runs_ = 0;
};

TEST_F(Hostile, EmptyAndGarbageStreams) {
  Outcome empty = Filter("", ppdZ_);
  EXPECT_EQ(1, empty.status);
  EXPECT_NE(std::string::npos, empty.err.find("ERROR: No pages found!"));

  std::mt19937 rng(7);
  std::string noise(20000, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  ExpectHandled(Filter(noise, ppdZ_), "noise");
  // A valid sync word in front of noise: the noise is read as a header.
  ExpectHandled(Filter(RawRaster({}) + noise, ppdZ_), "sync word and noise");
  ExpectHandled(Filter("RaS2" + noise, ppdZ_), "compressed sync word and noise");
}

TEST_F(Hostile, TruncatedPageIsFinishedWhite) {
  cups_page_header2_t h = GrayHeader(96, 96, 800, 800);
  const std::string black(800u * 800u, '\0');
  Outcome whole = Filter(RawRaster({{h, black}}), ppdZ_);
  Outcome cut = Filter(RawRaster({{h, black.substr(0, 800u * 300u + 17)}}), ppdZ_);
  ASSERT_EQ(0, whole.status);
  ASSERT_EQ(0, cut.status) << cut.err;
  inspect::JobStream a = inspect::ReadJobStream(reinterpret_cast<const uint8_t*>(whole.out.data()),
                                                whole.out.size());
  inspect::JobStream b = inspect::ReadJobStream(reinterpret_cast<const uint8_t*>(cut.out.data()),
                                                cut.out.size());
  ASSERT_TRUE(a.ok() && b.ok());
  ASSERT_EQ(1u, a.pages.size());
  ASSERT_EQ(1u, b.pages.size());
  // Lines past the cut print white: 300 of 800 lines keep their ink.
  EXPECT_GT(b.pages[0].dots, 0u);
  EXPECT_LT(b.pages[0].dots, a.pages[0].dots / 2);
  for (unsigned y = 310; y < b.pages[0].height; y += 50)
    for (unsigned x = 0; x < b.pages[0].width; x += 37) ASSERT_EQ(0, b.pages[0].Level(x, y));
}

TEST_F(Hostile, HeadersWithZeroHugeAndOddValues) {
  const std::string lines(200u * 200u, '\x40');
  const cups_page_header2_t good = GrayHeader(24, 24, 200, 200);
  struct Case {
    const char* what;
    unsigned offset;  // field to overwrite
    uint32_t value;
  };
  const Case cases[] = {
      {"PageSize 0 x 0", offsetof(cups_page_header2_t, PageSize), 0},
      {"PageSize huge", offsetof(cups_page_header2_t, PageSize), 0x7FFFFFFF},
      {"page height huge", offsetof(cups_page_header2_t, PageSize) + 4, 4000000000u},
      {"resolution 0", offsetof(cups_page_header2_t, HWResolution), 0},
      {"resolution huge", offsetof(cups_page_header2_t, HWResolution), 0xFFFFFFFF},
      {"resolution 1200 x 1", offsetof(cups_page_header2_t, HWResolution), 1200},
      {"cupsHeight 0", offsetof(cups_page_header2_t, cupsHeight), 0},
      {"cupsHeight huge", offsetof(cups_page_header2_t, cupsHeight), 0x7FFFFFFF},
      {"cupsWidth 0", offsetof(cups_page_header2_t, cupsWidth), 0},
      {"bytes per line mismatch", offsetof(cups_page_header2_t, cupsBytesPerLine), 7},
      {"bytes per line huge", offsetof(cups_page_header2_t, cupsBytesPerLine), 0x7FFFFFF0},
      {"bits per pixel 1", offsetof(cups_page_header2_t, cupsBitsPerPixel), 1},
      {"NumCopies 0", offsetof(cups_page_header2_t, NumCopies), 0},
      {"Duplex 77", offsetof(cups_page_header2_t, Duplex), 77},
      {"Tumble huge", offsetof(cups_page_header2_t, Tumble), 0xFFFFFFFF},
      {"media type huge", offsetof(cups_page_header2_t, cupsMediaType), 0xFFFFFFFF},
      {"colour space unknown", offsetof(cups_page_header2_t, cupsColorSpace), 999},
  };
  for (const Case& c : cases) {
    cups_page_header2_t bad = good;
    SetRaw(bad, c.offset, c.value);
    // The odd page alone, and followed by a good page, which still prints.
    ExpectHandled(Filter(RawRaster({{bad, lines}}), ppdZ_, "Duplex=DuplexNoTumble"), c.what);
    Outcome r = Filter(RawRaster({{bad, lines}, {good, lines}}), ppdZ_, "Collate=True");
    ExpectHandled(r, std::string(c.what) + " then a good page");
  }
}

TEST_F(Hostile, MissingAndAbsurdPpds) {
  const std::string job = RawRaster({{GrayHeader(24, 24, 200, 200), std::string(40000, '\x80')}});
  Outcome noPpd = Filter(job, ppdZ_, "", false);
  EXPECT_EQ(1, noPpd.status);
  EXPECT_FALSE(ErrorLines(noPpd.err).empty());
  const struct {
    const char* what;
    std::string text;
  } ppds[] = {
      {"empty file", ""},
      {"not a PPD", "hello\n\x01\x02\x03"},
      {"no model name", RasterPpd("").replace(
                            RasterPpd("").find("*ModelName"), 15, "*Product2: \"x")},
      {"unknown model", RasterPpd("Lumora Nonesuch Series")},
      {"unknown platform value",
       RasterPpd("Lumora Nonesuch Series", "*cupsIPPReason PlatForm/PLATFORM_Q: \"\"\n")},
      {"absurd margins",
       RasterPpd("Lumora Nonesuch Series",
                              "*cupsIPPReason PlatForm/PLATFORM_C: \"\"\n*HWMargins: 1e38 -1e38 nan 5\n")},
      {"huge margins", RasterPpd(kRasterModelZ, "*HWMargins: 1000000 1000000 0 0\n")},
      {"absurd defaults",
       RasterPpd(
           kRasterModelZ,
           "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n*cupsIPPReason MDuplex/" +
               std::string(3000, 'M') +
               ": \"\"\n*OpenUI *Density: PickOne\n*DefaultDensity: 99999999999999999999\n"
               "*Density 99999999999999999999/Dark: \"\"\n*CloseUI: *Density\n"
               "*OpenUI *InputSlot: PickOne\n*DefaultInputSlot: " + std::string(300, 'S') +
               "\n*InputSlot " + std::string(300, 'S') + "/Long: \"\"\n*CloseUI: *InputSlot\n")},
  };
  for (const auto& p : ppds) {
    Outcome r = Filter(job, p.text, "Duplex=DuplexNoTumble");
    ExpectHandled(r, p.what);
  }
  // A queue whose PPD names no printer family: nothing is sent, and the job
  // is not reported as printed.
  Outcome unknown = Filter(job, RasterPpd("Lumora Nonesuch Series"));
  EXPECT_EQ(1, unknown.status);
  EXPECT_EQ("", unknown.out);
  EXPECT_NE(std::string::npos, unknown.err.find("Lumora Nonesuch Series"));
  EXPECT_EQ(std::string::npos, unknown.err.find("Ready to print"));
}

}  // namespace

}  // namespace lumora::test
