// SPDX-License-Identifier: GPL-2.0-or-later
// Page image commands: the raster image and coverage records of
// PLATFORM_C/Z with the JBIG data behind them, and the JBIG parameter, data
// and end commands of PLATFORM_M.
#include <algorithm>
#include <new>

#include "band_image.h"
#include "command_bytes.h"
#include "commands.h"
#include "stage_times.h"

namespace lumora {

namespace {

const char kMallocFail[] = "Prnt_SendPage() :: malloc Fail .  \n";
const char kDataFail[] = "Prnt_SendPage() :: Send compressed data and cmd fail.  \n";

void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

bool SendPage_C(CommandStream& job, StreamPage& page, PrntBandInfo* band,
                const std::vector<uint8_t>& data) {
  const Route& to = page.route;
  uint8_t rasterImage[kRasterImageLen];
  GetRasterImageCmd(band, rasterImage);
  return SendStep(job, to, rasterImage, sizeof(rasterImage),
                  "Prnt_SendPage() :: send cmdRasterImage Fail .  \n") &&
         SendStep(job, to, data.data(), data.size(), kDataFail);
}

bool SendPage_Z(CommandStream& job, StreamPage& page, PrntBandInfo* band,
                const std::vector<uint8_t>& data) {
  const Route& to = page.route;
  band->dataLength = 0;
  uint8_t coverage[kCoverageLenZ];
  GetCoverageCmd_Z(page.coverage, coverage);
  uint8_t rasterImage[kRasterImageLen];
  GetRasterImageCmd(band, rasterImage);
  if (!SendRecords(
          job, to,
          {{coverage, sizeof(coverage), "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n", kThen00},
           {rasterImage, sizeof(rasterImage), "Prnt_SendPage() :: send cmdRasterImage Fail .  \n",
            kNo00}}))
    return false;
  if (data.empty()) return true;  // a page of no lines has no bands
  return SendStep(job, to, data.data(), data.size(), kDataFail);
}

bool SendPage_M(CommandStream& job, StreamPage& page, const PrntJbigParam& param,
                const std::vector<uint8_t>& data) {
  const Route& to = page.route;
  uint8_t cmd[kJbigParamCmdLen];
  SetJBIGCmdAndParam(cmd, JbigParamWord0(param), static_cast<uint32_t>(param.xd),
                     static_cast<uint32_t>(param.yd), static_cast<uint32_t>(param.l0),
                     JbigParamWord4(param), sizeof(cmd), JBIG_PARAM_CMD, kCmdMagic);
  if (!SendStep(job, to, cmd, sizeof(cmd), "Prnt_SendPage() :: send JBIG_PARAM_CMD Fail 0 ==  \n") ||
      !SendJbigDataCmds(job, to, data.data(), data.size()))
    return false;
  uint8_t end[kCmdHeaderLen];
  SetCmdType(end, kCmdHeaderLen, JBIG_END_CMD, 0, 0, kCmdMagic);
  return SendStep(job, to, end, sizeof(end), "Prnt_SendPage() :: send JBIG_END_CMD Fail 0 ==  \n");
}

}  // namespace

void GetRasterImageCmd(const PrntBandInfo* band, uint8_t* buf) {
  const uint32_t length = static_cast<uint32_t>(band->dataLength);
  buf[0] = kRecordMarker;
  buf[1] = kRasterImageLen;
  buf[2] = 0x0C;
  buf[3] = band->imageFormat;
  buf[4] = static_cast<uint8_t>(band->imageFlags1 | band->imageFlags2 | band->imageFlags3);
  PutLE16(buf + 5, band->width);
  PutLE16(buf + 7, band->height);
  PutLE16(buf + 9, band->lineWidth);
  PutLE16(buf + 11, static_cast<uint16_t>(band->stripeLines));
  buf[13] = static_cast<uint8_t>(length);
  buf[14] = static_cast<uint8_t>(length >> 8);
  buf[15] = static_cast<uint8_t>(length >> 16);
  buf[16] = static_cast<uint8_t>(length >> 24);
  buf[17] = CalcChecksum(buf, 17);
}

void GetCoverageCmd_Z(uint32_t imageCoverage, uint8_t* buf) {
  // Thousands of dots as a 16-bit number cut into 6, 6 and 4 bits.
  const uint32_t k = (imageCoverage / 1000u) % 65536u;
  buf[0] = kRecordMarker;
  buf[1] = kCoverageLenZ;
  buf[2] = 0x19;
  buf[3] = static_cast<uint8_t>(k % 64);
  buf[4] = static_cast<uint8_t>((k / 64) % 64);
  buf[5] = static_cast<uint8_t>(k / 4096);
  buf[6] = CalcChecksum(buf, 6);
}

bool SendJbigDataCmds(CommandStream& job, const Route& route, const uint8_t* data, size_t len) {
  for (size_t off = 0; off < len; off += kJbigChunkSize) {
    const size_t chunk = std::min(kJbigChunkSize, len - off);
    uint8_t header[kCmdHeaderLen];
    SetCmdType(header, static_cast<uint32_t>(chunk + kCmdHeaderLen), JBIG_DATA_CMD, 0, 0, kCmdMagic);
    if (!SendStep(job, route, header, sizeof(header),
                  "Prnt_SendPage() :: send JBIG_DATA_CMD Fail 0 ==  \n") ||
        !SendStep(job, route, data + off, chunk, kDataFail))
      return false;
  }
  return true;
}

bool Prnt_SendPage(CommandStream& job, StreamPage& page, PrntBandInfo* band, int platform) {
  if (!IsKnownPlatform(platform) || band == nullptr) return false;
  const size_t rawSize = (static_cast<size_t>(band->width) + 7) / 8 * band->height;
  if (band->image == nullptr && rawSize > 0) {
    job.lastError.Prepend(kMallocFail);
    return false;
  }

  // The compressed page grows as the encoder produces it, so a page that
  // compresses badly can never overrun its buffer.
  const PrntJbigParam param = MakeJbigParam(band, platform);
  std::vector<uint8_t> data;
  bool compressed = false;
  try {
    data.reserve(rawSize / 8 + 4096);
    StageTimer timer(job.stages, kStageCompress);
    compressed = OutputJbigkitCompression(job, page, band, &param, data, platform);
  } catch (const std::bad_alloc&) {
    compressed = false;
  }
  if (!compressed) {
    job.lastError.Prepend(kMallocFail);
    return false;
  }
  band->dataLength = static_cast<int32_t>(data.size());

  switch (platform) {
    case PLATFORM_C: return SendPage_C(job, page, band, data);
    case PLATFORM_Z: return SendPage_Z(job, page, band, data);
    default: return SendPage_M(job, page, param, data);
  }
}

}  // namespace lumora
