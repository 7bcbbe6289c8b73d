// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the seed corpora of the fuzz targets (run by hand when the input
// formats change; the results are kept under tests/fuzz/corpus/):
//   lumora_fuzz_seeds CORPUS_DIR
// Raster seeds are real CUPS raster streams (compressed and plain), the
// job-stream seeds real output of the raster filter on them.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "raster_reader_diff.h"
#include "test_support.h"

namespace lumora::test {

namespace {

struct SeedPage {
  unsigned pointW = 36, pointH = 36;
  unsigned width = 300, height = 300;
  unsigned res = 600;
  unsigned copies = 1;
  bool duplex = false;
};

std::string Raster(const std::vector<SeedPage>& pages, cups_mode_t mode) {
  std::vector<lumora::test::RasterPage> raster;
  for (const SeedPage& p : pages) {
    lumora::test::RasterPage r = lumora::test::PageOfSize(p.pointW, p.pointH, p.width, p.height);
    r.resolution[0] = r.resolution[1] = p.res;
    r.numCopies = p.copies;
    r.duplex = p.duplex ? 1 : 0;
    const unsigned width = p.width;
    r.pixel = [width](unsigned x, unsigned y) -> uint8_t {
      return ((x / 16 + y / 16) % 2) ? 255 : static_cast<uint8_t>((x * 255) / width);
    };
    raster.push_back(r);
  }
  lumora::test::TempDir dir;
  lumora::test::WriteRaster(dir.File("seed.ras"), raster, mode);
  return lumora::test::ReadFile(dir.File("seed.ras"));
}

void Put(const std::string& dir, const std::string& name, const std::string& data) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out << data;
}

std::string Prefix(uint8_t ppd, uint8_t options) {
  return std::string(1, static_cast<char>(ppd)) + std::string(1, static_cast<char>(options));
}

// The raster filter's job stream for a raster seed (ppd and options bytes
// first), through the same in-process run the fuzz target makes.
std::string FilterOutput(const std::string& seed) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* mem = open_memstream(&buf, &len);
  lumora::test::fuzz::RunRasterPageLoop(reinterpret_cast<const uint8_t*>(seed.data()), seed.size(), mem);
  fclose(mem);
  std::string out(buf, len);
  free(buf);
  return out;
}

}  // namespace

}  // namespace lumora::test

int main(int argc, char** argv) {
  using namespace lumora::test;
  if (argc != 2) {
    fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  // The fuzz target takes uncompressed version 3 streams (see fuzz_raster.cpp).
  const cups_mode_t rle = CUPS_RASTER_WRITE;

  // Raster page loop.
  const std::string r = root + "/raster_page_loop";
  SeedPage small{12, 12, 100, 100};
  SeedPage narrow{24, 36, 60, 40};
  SeedPage dpi1200{12, 12, 200, 200, 1200};
  SeedPage twoCopies = small;
  twoCopies.copies = 2;
  SeedPage duplex = small;
  duplex.duplex = true;
  SeedPage zero{0, 0, 8, 8};
  SeedPage landscape{24, 15, 120, 80};
  const std::string c = Prefix(0, 0) + Raster({small}, rle);
  const std::string z3 = Prefix(1, 0x03) + Raster({twoCopies, twoCopies, twoCopies}, rle);
  Put(r, "c_one_page", c);
  Put(r, "c_1200dpi", Prefix(0, 0) + Raster({dpi1200}, rle));
  Put(r, "z_collate_duplex_3_pages", z3);
  Put(r, "z_manual_duplex", Prefix(1, 0x08) + Raster({small, narrow, small}, rle));
  Put(r, "z_duplex_header", Prefix(1, 0) + Raster({duplex, duplex, duplex}, rle));
  Put(r, "m_dpi1200_option", Prefix(2, 0x10) + Raster({small}, rle));
  Put(r, "m_narrow_lines", Prefix(2, 0x40) + Raster({narrow}, rle));
  Put(r, "platform_attribute", Prefix(4, 0xC0) + Raster({small}, rle));
  Put(r, "absurd_margins", Prefix(3, 0) + Raster({small}, rle));
  Put(r, "long_edge_feed", Prefix(1, 0x20) + Raster({landscape}, rle));
  Put(r, "zero_size_then_page", Prefix(0, 0) + Raster({zero, small}, rle));
  Put(r, "compressed_v2_refused_by_harness", Prefix(1, 0) + Raster({narrow}, CUPS_RASTER_WRITE_COMPRESSED));
  Put(r, "truncated", c.substr(0, c.size() / 2));
  Put(r, "empty_stream", Prefix(0, 0));

  // Job stream reader: what the filter made of three seeds.
  const std::string j = root + "/job_stream_reader";
  Put(j, "platform_c", FilterOutput(c));
  Put(j, "platform_z_collate_duplex", FilterOutput(Prefix(1, 0x03) + Raster({twoCopies, small}, rle)));
  Put(j, "platform_m", FilterOutput(Prefix(2, 0x10) + Raster({small}, rle)));
  {
    std::string cut = FilterOutput(Prefix(1, 0) + Raster({small}, rle));
    Put(j, "platform_z_truncated", cut.substr(0, cut.size() * 2 / 3));
  }

  // Raster reader: plan bytes (odd calls, read-ahead size; seed), then a
  // stream of the CUPS writer in each of its forms.
  const std::string rr = root + "/raster_reader";
  const std::vector<lumora::test::TestPage> pages = {
      {37, 9, 8, 8, CUPS_CSPACE_K, CUPS_ORDER_CHUNKED, 1, 1},
      {11, 6, 16, 16, CUPS_CSPACE_SW, CUPS_ORDER_CHUNKED, 1, 2},
      {10, 5, 8, 24, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED, 3, 3},
      {9, 3, 8, 8, CUPS_CSPACE_CMYK, CUPS_ORDER_PLANAR, 4, 4}};
  const std::pair<const char*, cups_mode_t> forms[] = {
      {"v3", CUPS_RASTER_WRITE}, {"v2_compressed", CUPS_RASTER_WRITE_COMPRESSED},
      {"pwg", CUPS_RASTER_WRITE_PWG}, {"apple", CUPS_RASTER_WRITE_APPLE}};
  for (size_t i = 0; i < sizeof(forms) / sizeof(forms[0]); ++i) {
    const std::string plan = Prefix(static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i));
    Put(rr, forms[i].first, plan + lumora::test::WriteTestStream(forms[i].second, pages));
  }
  const std::string v2 = lumora::test::WriteTestStream(CUPS_RASTER_WRITE_COMPRESSED, {pages[0]});
  Put(rr, "v2_truncated_in_row", Prefix(1, 9) + v2.substr(0, v2.size() - 7));

  // Job settings: model byte, 8 header numbers, options line, PPD lines.
  const std::string s = root + "/job_settings";
  auto header = [](uint32_t flags, uint32_t w, uint32_t h, uint32_t rx, uint32_t ry,
                   uint32_t copies, uint32_t media) {
    uint32_t n[8] = {flags, w, h, rx, ry, copies, media, 0};
    return std::string(reinterpret_cast<const char*>(n), sizeof(n));
  };
  Put(s, "z_defaults", std::string(1, 2) + header(1, 595, 842, 600, 600, 1, 0) +
                           "Collate=True InputSlot=ManualFeed\n"
                           "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n"
                           "*OpenUI *TonerMode: Boolean\n*DefaultTonerMode: True\n"
                           "*TonerMode True/On: \"\"\n*CloseUI: *TonerMode\n"
                           "*OpenUI *Density: PickOne\n*DefaultDensity: 4\n"
                           "*Density 4/Dark: \"\"\n*CloseUI: *Density\n");
  Put(s, "c_oversized_cut", std::string(1, 0) + header(0, 700, 1100, 1200, 1200, 3, 5) +
                                "PageSize=A4 Duplex=DuplexTumble Density=-99999999999\n");
  Put(s, "platform_attribute", std::string(1, 4) + header(5, 421, 595, 600, 600, 1, 1) +
                                   "media=A5 noTonerMode DPI1200=true\n"
                                   "*cupsIPPReason PlatForm/platform_m: \"\"\n"
                                   "*cupsIPPReason MDuplex/" + std::string(300, 'x') + ": \"\"\n");
  Put(s, "quoted_options", std::string(1, 3) + header(1, 0, 0, 0, 0, 0, 0) +
                               "a='b c' \"d=e f\" g={h i} Duplex=two-sided-long-edge\n");

  // PostScript road: mode byte, width/4, height/4, the job.
  const std::string p = root + "/ps_rewrite";
  const std::string ps =
      "\x1b%-12345X@PJL JOB NAME=\"t\"\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n"
      "%!PS-Adobe-3.0\n%%Pages: 2\n%%BeginSetup\n"
      "%RBIBeginNonPPDFeature: *NumCopies 2\n2 /#copies exch def\n%RBIEndNonPPDFeature\n"
      "<<DeferredMediaSelection true>>setpagedevice\n/pdfSetupPaper {} def\n"
      "595 842 pdfSetupPaper\n%%EndSetup\n%%Page: 1 1\n<</Type/Page/MediaBox [0 0 595 842]>>\n"
      "showpage\n%%Page: 2 2\nshowpage\n%%Trailer\n%%EOF\n\x04\x1b%-12345X@PJL EOJ\r\n";
  const char sizeA4[2] = {static_cast<char>(595 / 4), static_cast<char>(842 / 4)};
  for (int mode : {0, 1, 2, 3, 5, 9, 10, 11}) {
    Put(p, "mode_" + std::to_string(mode), std::string(1, static_cast<char>(mode)) +
                                              std::string(sizeA4, 2) + ps);
  }
  Put(p, "nul_and_long_line", std::string("\x09\x00\x00", 3) + "%%Page:" + std::string(5, '\0') +
                                  std::string(70000, 'L') + "\n%%Page: 2\n");

  // URL decoding: queue name, then printer URIs.
  const std::string u = root + "/urldecode";
  Put(u, "queue_escapes", "lumora-q\nipp://localhost/printers/Lumora%2Dq\nipp://h/printers/x%");
  Put(u, "bad_escapes", "%zz%%4\n%\n%4");

  // Size checks: options line, then the job.
  const std::string k = root + "/size_checks";
  Put(k, "custom_mediabox", "PageSize=Custom.300x500\n<</Type/Page/MediaBox [0 0 300.5 500]>>\n");
  Put(k, "custom_setup_paper", "media=Custom.1x1\n 250 9999999999 pdfSetupPaper\n");
  Put(k, "a5_scan", "FeedEdge=LongEdge\n<</Type/Page/MediaBox [0 0 420 595]>>\n");
  Put(k, "a5_setup_paper", "\n/pdfSetupPaper {} def\n 420 595 pdfSetupPaper\n");
  Put(k, "a5_option_ppd", "PageSize=A5\n%!PS\n");

  // SNMP status replies: owner length, owner, reply.
  const std::string n = root + "/snmp_reply";
  std::string reply(40, '\x30');
  std::string record(60, '\0');
  record[0] = '\x06';
  memcpy(&record[4], "lumora-host", 11);
  Put(n, "own_job_canceled", std::string(1, 11) + "lumora-host" + reply + record);
  record[0] = '\x86';
  memcpy(&record[4], std::string(56, 'h').data(), 56);
  Put(n, "owner_to_the_end", std::string(1, 4) + "hhhh" + record);
  Put(n, "short_reply", std::string(1, 2) + "ab" + "\x06\x00\x00\x00" + "ab");
  return 0;
}
