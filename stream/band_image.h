// SPDX-License-Identifier: GPL-2.0-or-later
// Page image transmission: JBIG1 compression of the 1-bit page and the
// image commands of the three dialects (Prnt_SendPage itself is declared in
// commands.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "command_stream.h"
#include "records.h"

namespace lumora {

// Lines of one PLATFORM_Z band; every band is a JBIG image of its own.
constexpr int kBandLines = 256;
// Size of the PLATFORM_Z band header.
constexpr size_t kBandHeaderLen = 48;

// JBIG parameters of one page (or of one band on PLATFORM_Z).
struct PrntJbigParam {
  uint16_t dl = 0;
  uint16_t planes = 1;
  int32_t xd = 0;
  int32_t yd = 0;
  int32_t l0 = 0;
  uint8_t mx = 0;
  uint8_t my = 0;
  uint8_t order = 0;
  uint8_t options = 0;
};

// The parameters the dialect uses for a page.
PrntJbigParam MakeJbigParam(const PrntBandInfo* band, int platform);
// First and last of the five 32-bit words of the parameter block: dl in the
// lowest byte and planes in the third; mx, my, order, options from the
// lowest byte up.
uint32_t JbigParamWord0(const PrntJbigParam& param);
uint32_t JbigParamWord4(const PrntJbigParam& param);

// Where one encoder pass puts its bytes (the `file` of jbig_data_out): the
// bytes are appended to *data; an observer may watch them go by.
class JbigObserver {
 public:
  virtual ~JbigObserver() = default;
  virtual void Observe(const uint8_t* data, size_t len) = 0;
};
struct JbigOutput {
  std::vector<uint8_t>* data = nullptr;
  size_t length = 0;           // bytes of this pass
  bool outOfMemory = false;    // the buffer could not grow: the pass failed
  JbigObserver* observer = nullptr;
};

// Encoder output callback: file is the pass's JbigOutput.
void jbig_data_out(unsigned char* start, size_t len, void* file);

// One encoder pass over xd x yd pixels of image (lines of (xd + 7) / 8
// bytes), appending to *out.data. False when memory fails.
bool JBIGCompress(JbigOutput& out, uint32_t dlPlanes, uint32_t xd, uint32_t yd, uint32_t l0,
                  uint32_t mxMyOrderOptions, const uint8_t* image);

// Compresses the page and appends it to outBuf (band headers included on
// PLATFORM_Z), taking what the page's pipeline compressed already. Sets
// the page's image checksum. False when memory fails.
bool OutputJbigkitCompression(CommandStream& job, StreamPage& page, const PrntBandInfo* band,
                              const PrntJbigParam* jbigParam, std::vector<uint8_t>& outBuf,
                              int platform);

// PLATFORM_Z band header for a band with compLen compressed bytes starting
// at firstLine of the page.
void GetBandHeader(const PrntJbigParam& bandParam, uint32_t compLen, uint32_t firstLine,
                   uint8_t* buf);

// PLATFORM_M: sends len bytes as JBIG_DATA_CMDs of at most 64 KiB each.
bool SendJbigDataCmds(CommandStream& job, const Route& route, const uint8_t* data, size_t len);

// A page compressed while it is still being screened, on the page's own
// threads. band holds the page's zeroed 1-bit image, its width in pixels
// (whole bytes), height and, on PLATFORM_C, stripe lines, as Prnt_SendPage
// will get them. PLATFORM_Z compresses its bands on all threads as their
// rows become final; PLATFORM_C and PLATFORM_M encode the page on one
// worker thread that follows the rows made final by CompressionRowsReady.
// Prnt_SendPage of the same image takes the result;
// StopPipelinedCompression ends a page that is not sent. With one thread
// nothing starts and the page is compressed when it is sent.
void StartPipelinedCompression(const CommandStream& job, StreamPage& page, const PrntBandInfo* band,
                               int platform);
void CompressionRowsReady(StreamPage& page, uint32_t rows);
void StopPipelinedCompression(StreamPage& page);

// Threads used for a page of `jobs` bands: `requested` when nonzero, else
// the LUMORA_THREADS environment variable when it holds a positive number,
// else the machine's cores; never more than there are bands.
unsigned StreamThreadCount(unsigned requested, size_t jobs);

}  // namespace lumora
