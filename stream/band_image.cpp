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
#include "stream_send.h"

namespace {

const char kMallocFail[] = "Prnt_SendPage() :: malloc Fail .  \n";
const char kDataFail[] = "Prnt_SendPage() :: Send compressed data and cmd fail.  \n";

void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

int SendPage_C(CommandStream& job, PrntBandInfo* band, const std::vector<uint8_t>& data) {
  uint8_t rec[18];
  GetRasterImageCmd(band, rec);
  if (!SendStep(job, rec, sizeof(rec), "Prnt_SendPage() :: send cmdRasterImage Fail .  \n")) return 0;
  return SendStep(job, data.data(), data.size(), kDataFail) ? 1 : 0;
}

int SendPage_Z(CommandStream& job, PrntBandInfo* band, const std::vector<uint8_t>& data) {
  band->dataLength = 0;
  uint8_t rec[18];
  GetCoverageCmd_Z(job.imageCoverage, rec);
  if (!SendStep(job, rec, 7, "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n")) return 0;
  Insert00(job);
  GetRasterImageCmd(band, rec);
  if (!SendStep(job, rec, sizeof(rec), "Prnt_SendPage() :: send cmdRasterImage Fail .  \n")) return 0;
  if (data.empty()) return 1;  // a page of no lines has no bands
  return SendStep(job, data.data(), data.size(), kDataFail) ? 1 : 0;
}

int SendPage_M(CommandStream& job, const PrntJbigParam& param, const std::vector<uint8_t>& data) {
  uint8_t cmd[36];
  SetJBIGCmdAndParam(cmd, JbigParamWord0(param), static_cast<uint32_t>(param.xd),
                     static_cast<uint32_t>(param.yd), static_cast<uint32_t>(param.l0),
                     JbigParamWord4(param), sizeof(cmd), JBIG_PARAM_CMD, kCmdMagic);
  if (!SendStep(job, cmd, sizeof(cmd), "Prnt_SendPage() :: send JBIG_PARAM_CMD Fail 0 ==  \n")) {
    return 0;
  }
  if (SendJbigDataCmds(job, data.data(), data.size()) == 0) return 0;
  SetCmdType(cmd, kCmdHeaderLen, JBIG_END_CMD, 0, 0, kCmdMagic);
  if (!SendStep(job, cmd, kCmdHeaderLen, "Prnt_SendPage() :: send JBIG_END_CMD Fail 0 ==  \n")) {
    return 0;
  }
  return 1;
}

}  // namespace

int GetRasterImageCmd(const PrntBandInfo* band, uint8_t* buf) {
  const uint32_t length = static_cast<uint32_t>(band->dataLength);
  buf[0] = 0x0B;
  buf[1] = 0x12;
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
  buf[17] = static_cast<uint8_t>(CalcChecksum(buf, 17));
  return 1;
}

int GetCoverageCmd_Z(uint32_t imageCoverage, uint8_t* buf) {
  // Thousands of dots as a 16-bit number cut into 6, 6 and 4 bits.
  const uint32_t k = (imageCoverage / 1000u) % 65536u;
  buf[0] = 0x0B;
  buf[1] = 0x07;
  buf[2] = 0x19;
  buf[3] = static_cast<uint8_t>(k % 64);
  buf[4] = static_cast<uint8_t>((k / 64) % 64);
  buf[5] = static_cast<uint8_t>(k / 4096);
  buf[6] = static_cast<uint8_t>(CalcChecksum(buf, 6));
  return 1;
}

int SendJbigDataCmds(CommandStream& job, const uint8_t* data, size_t len) {
  for (size_t off = 0; off < len; off += kJbigChunkSize) {
    const size_t chunk = std::min(kJbigChunkSize, len - off);
    uint8_t header[kCmdHeaderLen];
    SetCmdType(header, static_cast<uint32_t>(chunk + kCmdHeaderLen), JBIG_DATA_CMD, 0, 0, kCmdMagic);
    if (!SendStep(job, header, sizeof(header), "Prnt_SendPage() :: send JBIG_DATA_CMD Fail 0 ==  \n")) {
      return 0;
    }
    if (!SendStep(job, data + off, chunk, kDataFail)) return 0;
  }
  return 1;
}

int Prnt_SendPage(CommandStream& job, PrntBandInfo* band, int platform) {
  if (!IsKnownPlatform(platform) || band == nullptr) return 0;
  const size_t rawSize = (static_cast<size_t>(band->width) + 7) / 8 * band->height;
  if (band->image == nullptr && rawSize > 0) {
    job.lastError.Prepend(kMallocFail);
    return 0;
  }

  // The compressed page grows as the encoder produces it, so a page that
  // compresses badly can never overrun its buffer.
  const PrntJbigParam param = MakeJbigParam(band, platform);
  std::vector<uint8_t> data;
  int length = -1;
  try {
    data.reserve(rawSize / 8 + 4096);
    StageTimer timer(job.stages, STAGE_COMPRESS);
    length = OutputJbigkitCompression(job, band, &param, data, platform);
  } catch (const std::bad_alloc&) {
    length = -1;
  }
  if (length < 0) {
    job.lastError.Prepend(kMallocFail);
    return 0;
  }
  band->dataLength = length;

  switch (platform) {
    case PLATFORM_C: return SendPage_C(job, band, data);
    case PLATFORM_Z: return SendPage_Z(job, band, data);
    default: return SendPage_M(job, param, data);
  }
}
