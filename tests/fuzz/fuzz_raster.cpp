// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz entries of the raster filter: the whole page loop over a raster
// stream, and the job settings gathered from options and PPD.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "fuzz_support.h"
#include "job_settings.h"
#include "cups_filter.h"
#include "paper_tables.h"

namespace lumora::test::fuzz {

namespace {

// Limits of the harness, not of the filter: pages and copies a fuzz input
// may ask for, and the size of one page image.
constexpr unsigned kMaxPages = 4;
constexpr unsigned kMaxCopies = 3;
constexpr double kMaxPagePixels = 4.0e6;
constexpr double kMaxRasterBytes = 16.0e6;

std::string RasterPpdText(const std::string& model, const std::string& extra) {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"LUMFUZZ.PPD\"\n"
         "*Manufacturer: \"Lumora\"\n*Product: \"(Lumora)\"\n*ModelName: \"" + model + "\"\n"
         "*ShortNickName: \"" + model + "\"\n*NickName: \"" + model + "\"\n*ColorDevice: False\n"
         "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n"
         "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
         "*PageSize A5/A5: \"<</PageSize[420 595]>>setpagedevice\"\n*CloseUI: *PageSize\n" + extra;
}

// The queues the raster target prints to: one per family, and a PPD of an
// unknown model that names its platform and has odd custom margins.
const char* const kZExtra =
    "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n"
    "*cupsIPPReason MDuplex/Turn the stack over.: \"\"\n"
    "*HWMargins: 1 2 3 1\n"
    "*OpenUI *InputSlot: PickOne\n*DefaultInputSlot: ManualFeed\n"
    "*InputSlot Auto/Auto: \"\"\n*InputSlot ManualFeed/Manual: \"\"\n*CloseUI: *InputSlot\n"
    "*OpenUI *TonerMode: Boolean\n*DefaultTonerMode: True\n"
    "*TonerMode True/On: \"\"\n*TonerMode False/Off: \"\"\n*CloseUI: *TonerMode\n"
    "*OpenUI *Density: PickOne\n*DefaultDensity: 4\n"
    "*Density 0/Light: \"\"\n*Density 4/Dark: \"\"\n*CloseUI: *Density\n";

const std::string& RasterPpdPath(unsigned index) {
  static std::vector<std::string> paths;
  if (paths.empty()) {
    const std::pair<const char*, std::string> queues[] = {
        {"Lumora Hazel H1 Series", ""},
        {"Lumora Cedar C300 Series", kZExtra},
        {"Lumora Elm E100 Series", "*HWMargins: 0 0 0 0\n"},
        {"Lumora Unknown X9 Series",
         "*cupsIPPReason PlatForm/PLATFORM_Z: \"\"\n*HWMargins: -1e30 3 1e30 5\n"},
        {"Lumora Unknown Y1 Series", "*cupsIPPReason PlatForm/platform_c: \"\"\n"},
    };
    for (size_t i = 0; i < sizeof(queues) / sizeof(queues[0]); ++i) {
      std::string text = RasterPpdText(queues[i].first, queues[i].second);
      paths.push_back(WriteScratchFile("raster" + std::to_string(i) + ".ppd", text.data(), text.size()));
    }
  }
  return paths[index % paths.size()];
}

std::string RasterOptions(uint8_t bits) {
  std::string o;
  if (bits & 0x01) o += " Collate=True";
  if (bits & 0x02) o += " Duplex=DuplexNoTumble";
  if (bits & 0x04) o += " Duplex=DuplexTumble";
  if (bits & 0x08) o += " ManualDuplex=True";
  if (bits & 0x10) o += " DPI1200=True";
  if (bits & 0x20) o += " FeedLongEdge=True";
  if (bits & 0x40) o += " ImageRotation=True";
  if (bits & 0x80) o += " NegativePrint=True TonerMode=True InputSlot=ManualFeed outputorder=true";
  return o;
}

// Pixels of the page image the filter would allocate for a page header
// (its custom-size rule; paper-table sizes are larger, so they are skipped too).
double PagePixels(uint32_t pointW, uint32_t pointH, uint32_t resX, uint32_t resY) {
  double w = pointW / 72.0 * 600.0 + 32;
  double h = pointH / 72.0 * 600.0 + 8;
  if (resX == 1200) w *= 2;
  if (resY == 1200) h *= 2;
  return w * h;
}

// The harness takes uncompressed version 3 streams ("RaS3" in either byte
// order), whose headers it can find and check before the CUPS reader sees
// them: a header asking for gigabyte lines makes the reader itself allocate
// them, which only slows the fuzzing down (the reader is not ours to test).
bool WithinLimits(const uint8_t* data, size_t size) {
  if (size < 4) return true;  // empty and short streams are always fine
  uint32_t sync;
  memcpy(&sync, data, 4);
  const bool swapped = sync == 0x33536152;
  if (sync != 0x52615333 && !swapped) return false;
  auto field = [&](size_t header, size_t offset) {
    uint32_t v;
    memcpy(&v, data + header + offset, 4);
    return swapped ? __builtin_bswap32(v) : v;
  };
  size_t pos = 4;
  unsigned pages = 0;
  while (pos + sizeof(cups_page_header2_t) <= size) {
    const uint32_t bpl = field(pos, offsetof(cups_page_header2_t, cupsBytesPerLine));
    const uint32_t height = field(pos, offsetof(cups_page_header2_t, cupsHeight));
    const double pixels = PagePixels(field(pos, offsetof(cups_page_header2_t, PageSize)),
                                     field(pos, offsetof(cups_page_header2_t, PageSize) + 4),
                                     field(pos, offsetof(cups_page_header2_t, HWResolution)),
                                     field(pos, offsetof(cups_page_header2_t, HWResolution) + 4));
    if (++pages > kMaxPages || field(pos, offsetof(cups_page_header2_t, NumCopies)) > kMaxCopies ||
        pixels > kMaxPagePixels || static_cast<double>(bpl) * height > kMaxRasterBytes ||
        bpl > (1u << 20))
      return false;
    pos += sizeof(cups_page_header2_t) + static_cast<size_t>(bpl) * height;
  }
  return true;
}

FILE* DevNull() {
  static FILE* f = fopen("/dev/null", "w");
  return f;
}

// The filter's device: a stdio stream of the harness.
struct StdioDevice : lumora::ByteOutput {
  FILE* out;
  explicit StdioDevice(FILE* f) : out(f) {}
  bool Write(const void* data, size_t len) override {
    return fwrite(data, 1, len, out) == len;
  }
};

struct QuietLog : lumora::LogOutput {
  void Line(const char*) override {}
};

}  // namespace

int FuzzRasterPageLoop(const uint8_t* data, size_t size) {
  return RunRasterPageLoop(data, size, DevNull());
}

int RunRasterPageLoop(const uint8_t* data, size_t size, FILE* out) {
  if (size < 2) return 0;
  const std::string ppd = RasterPpdPath(data[0]);
  std::string options = RasterOptions(data[1]);
  if (!WithinLimits(data + 2, size - 2)) return 0;
  const std::string input = WriteScratchFile("input.ras", data + 2, size - 2);

  setenv("PPD", ppd.c_str(), 1);
  setenv("TMPDIR", ScratchTmp().c_str(), 1);
  setenv("LUMORA_MANUAL_DUPLEX_PAUSE", "0", 1);
  setenv("LUMORA_KEEPALIVE_INTERVAL_MS", "3600000", 1);
  std::string args[] = {"rastertoLumora", "7", "fuzz", "A fuzzed job", "1", options, input};
  char* argv[8];
  for (int i = 0; i < 7; ++i) argv[i] = &args[i][0];
  argv[7] = nullptr;

  StdioDevice device(out);
  QuietLog log;
  FilterIo io;
  io.device = &device;
  io.log = &log;
  io.handleSignals = false;  // the fuzzer's own handlers stay
  RasterToLumoraJob(7, argv, io);
  fflush(out);
  CheckNoTempFileLeft("raster_page_loop");
  return 0;
}

int FuzzJobSettings(const uint8_t* data, size_t size) {
  if (size < 33) return 0;
  static const char* const kModels[] = {"Lumora Hazel H1 Series", "Lumora Hazel M1 Series",
                                        "Lumora Cedar C300 Series", "Lumora Elm E100 Series",
                                        "Lumora Unknown X9 Series"};
  const char* model = kModels[data[0] % 5];
  cups_page_header2_t header {};
  uint32_t n[8];
  memcpy(n, data + 1, sizeof(n));
  // As the raster reader fills them: any 32-bit value, even in enum fields.
  const uint32_t duplex = n[0] & 3, tumble = (n[0] >> 2) & 3;
  memcpy(&header.Duplex, &duplex, sizeof(duplex));
  memcpy(&header.Tumble, &tumble, sizeof(tumble));
  header.PageSize[0] = n[1];
  header.PageSize[1] = n[2];
  header.HWResolution[0] = n[3];
  header.HWResolution[1] = n[4];
  header.NumCopies = n[5];
  header.cupsMediaType = n[6];
  header.cupsWidth = n[7];

  const char* rest = reinterpret_cast<const char*>(data + 33);
  const size_t restLen = size - 33;
  const char* nl = static_cast<const char*>(memchr(rest, '\n', restLen));
  const size_t optLen = nl ? static_cast<size_t>(nl - rest) : restLen;
  // The scheduler hands options as a C string: it ends at the first NUL.
  std::string options(rest, strnlen(rest, optLen));
  std::string extra = nl ? std::string(nl + 1, rest + restLen) : std::string();

  const std::string text = RasterPpdText(model, extra);
  const std::string path = WriteScratchFile("settings.ppd", text.data(), text.size());
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  if (ppd == nullptr) return 0;

  QuietLog log;
  CupsBinding cups;
  lumora::PrinterDescription printer = DescribePrinter(ppd, cups);
  if (ppd->modelname == nullptr) printer.modelName = model;
  JobSettings s;
  for (int page = 0; page < 2; ++page) {
    GatherJobSettings(s, printer, options.c_str(), &header, log);
    if (s.paperTable != nullptr) {
      cups_page_header2_t h = header;
      isCutThePaper(&h, s.paperTable, s.numOptions, s.options);
      int feedLongEdge = 0;
      GetPaperArrayIndex(h.PageSize, s.paperTable, &feedLongEdge);
    }
  }
  std::string work = options;
  checkOptionKey(work, options.c_str(), printer, log);
  FunctionTable table = DefaultFunctionTable();
  cups_option_t* opts = nullptr;
  int num = cupsParseOptions(work.c_str(), 0, &opts);
  GetFunctionValue(table, num, opts, &header, log);
  cupsFreeOptions(num, opts);
  ppdClose(ppd);
  return 0;
}

}  // namespace lumora::test::fuzz
