// SPDX-License-Identifier: GPL-2.0-or-later
// Reader of the job streams that rastertoLumora sends to the printer.
//
// ReadJobStream takes the bytes of one job in any of the three dialects
// (PLATFORM_C, PLATFORM_Z, PLATFORM_M), checks every record frame and
// checksum, the command order of the job and of each page, decodes each
// page's JBIG images with JBIG-KIT's decoder and returns what it found.
// It never trusts its input: every length is bounds-checked and images
// larger than ReadOptions::maxPixels are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumora::inspect {

enum class Dialect { kUnknown, kC, kZ, kM };

// "PLATFORM_C", "PLATFORM_Z", "PLATFORM_M" or "unknown".
const char* DialectName(Dialect dialect);

// A problem found at a byte offset of the stream.
struct StreamIssue {
  size_t offset = 0;
  std::string message;
};

// One job-level item as it appeared in the stream (records, PJL text, commands).
struct JobItem {
  size_t offset = 0;
  size_t length = 0;
  std::string name;     // "job spec", "density", "TONER_PARAM", "PJL", ...
  std::string detail;   // readable value(s)
};

// What the job start carried. Fields a dialect does not send stay at -1 / empty.
struct JobInfo {
  std::vector<JobItem> items;          // in stream order
  std::vector<std::string> pjlLines;   // "@PJL ..." lines without CR LF
  std::string firmware;                // PLATFORM_C "versions=..."
  std::string jobTime;                 // PLATFORM_Z JOBTIME value
  std::string jobOwner;                // PLATFORM_Z JOBOWNER value
  std::string languageVersion;         // PLATFORM_Z LANGUAGEVERSION value
  int64_t jobId = -1;                  // PLATFORM_C sends only its low byte
  int jobFlags = -1;                   // job-flags byte of the job spec record
  int density = -1;
  int tonerSave = -1;                  // PLATFORM_C
  int fineMode = -1;                   // PLATFORM_Z
  int year = -1, month = -1, day = -1; // PLATFORM_C date record
  std::string tonerParam;              // "Alder", "Beech", "PLATFORM_M" or empty
};

// One page as the printer receives it.
struct Page {
  size_t index = 0;        // 1-based position among the pages of the stream
  size_t offset = 0;       // first byte of the page start command
  size_t endOffset = 0;    // first byte after the page end command
  int number = -1;         // page number of the page record; -1 on PLATFORM_M (not sent)
  unsigned paperCode = 0;
  std::string paperName;   // name from the family's paper table, "custom", or empty
  int hResolution = 0;     // dpi
  int vResolution = 0;     // dpi
  unsigned copies = 0;
  unsigned inputSlot = 0;
  unsigned mediaType = 0;
  bool longEdge = false;   // A5 fed long edge first
  int pageFlags = -1;      // PLATFORM_C/Z page-spec flags byte
  unsigned paperParam1 = 0, paperParam2 = 0;
  unsigned paperWidth = 0, paperHeight = 0;   // dots; 0 when the stream does not say
  unsigned imageWidth = 0, imageHeight = 0;   // pixels announced by the page record; 0 when not sent
  int density = -1;        // PLATFORM_M density parameter

  // The decoded picture. width counts pixels of bitsPerPixel bits; bits holds
  // the rows exactly as the printer gets them: most significant bit first,
  // 1 = toner, each row padded to whole bytes (bytesPerRow). With 2 bits per
  // pixel (PLATFORM_M at 1200 dpi) each pixel is a toner level 0-3.
  unsigned width = 0, height = 0;
  int bitsPerPixel = 1;
  size_t bytesPerRow = 0;
  std::vector<uint8_t> bits;   // empty when ReadOptions::keepPixels is false
  bool decoded = false;
  uint32_t crc32 = 0;          // zlib CRC-32 of the packed rows (bytesPerRow x height)
  uint64_t dots = 0;           // pixels with toner (level > 0)

  uint64_t compressedSize = 0; // JBIG bytes of the page
  unsigned bands = 0;          // JBIG entities (PLATFORM_Z bands, else 1)
  unsigned chunks = 0;         // PLATFORM_M JBIG_DATA_CMD count
  unsigned stripeLines = 0;    // PLATFORM_C: stripe lines of the raster image record
  unsigned long jbigL0 = 0;    // lines per stripe of the (first) JBIG image
  int coverage = -1;           // coverage record value (PLATFORM_Z: thousands of dots)
  int imageChecksum = -1;      // PLATFORM_C image checksum record
  bool machineDuplex = false;  // PLATFORM_C machine-duplex record after the page

  // Toner level of pixel (x, y); 0 outside the picture or when not kept.
  int Level(unsigned x, unsigned y) const;
};

struct ManualDuplexMark {
  size_t offset = 0;
  size_t pagesBefore = 0;      // pages of the stream sent before the command
};

struct JobStream {
  Dialect dialect = Dialect::kUnknown;
  size_t size = 0;
  JobInfo job;
  std::vector<Page> pages;
  std::vector<ManualDuplexMark> manualDuplex;
  bool jobEnd = false;              // the complete job end sequence was found
  size_t jobEndOffset = 0;
  bool machineDuplexAtJobEnd = false;
  std::vector<StreamIssue> errors;    // framing, checksum, order and decode errors, by offset
  std::vector<StreamIssue> warnings;  // oddities that do not break the stream

  bool ok() const { return errors.empty(); }
};

struct ReadOptions {
  bool keepPixels = true;                  // keep Page::bits in JobStream::pages
  uint64_t maxPixels = 300000000;          // per image; larger ones are refused
  std::function<void(const Page&)> onPage; // called for each page, pixels present
};

JobStream ReadJobStream(const uint8_t* data, size_t size, const ReadOptions& options = {});
inline JobStream ReadJobStream(const std::vector<uint8_t>& data,
                               const ReadOptions& options = {}) {
  return ReadJobStream(data.data(), data.size(), options);
}

// Paper name of a printer paper code in the family's table ("A4", ...);
// "custom" for the custom-size code; empty when unknown.
std::string PaperName(Dialect dialect, unsigned code);

}  // namespace lumora::inspect
