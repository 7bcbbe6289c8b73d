// SPDX-License-Identifier: GPL-2.0-or-later
// Page end and job end: image checksum, coverage and form feed of each page,
// the turn of the sheet in the duplex unit, the pause between the passes of
// a manual-duplex job, and the records that close the job.
#include "command_bytes.h"
#include "commands.h"

namespace lumora {

namespace {

bool EndPage_C(CommandStream& job, StreamPage& page, PrntPageEndInfo* info) {
  const Route& to = page.route;
  if (!SendStep(job, to, UEL_CMD_C, sizeof(UEL_CMD_C), "Prnt_EndPage() :: send UEL_CMD_C Fail 0 ==  \n"))
    return false;
  Insert00(job, to);
  uint8_t checksum[kImageChecksumLen];
  GetImageDataChenksumCmd(page.checksum, checksum);
  if (!SendStep(job, to, checksum, sizeof(checksum),
                "Prnt_EndPage() :: send cmdImageDataChenksum Fail 0 ==  \n"))
    return false;
  Insert00(job, to);
  uint8_t coverage[kCoverageLenC];
  GetCoverageCmd_C(info, page.coverage, coverage);
  if (!SendStep(job, to, coverage, sizeof(coverage), "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"))
    return false;
  Insert00(job, to);
  if (!SendStep(job, to, formFeedCmd, sizeof(formFeedCmd),
                "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n"))
    return false;
  if (info->duplex == 1 && !SendMachineDuplexCmd(job, to, info->pageNumber, true)) {
    job.lastError.Prepend("Prnt_EndPage() :: MachineDuplexCmd Fail .\n");
    return false;
  }
  return true;
}

bool EndDoc_C(CommandStream& job, const PrntDocEndInfo* info) {
  const Route& to = job.route;
  if (info->duplex == 1 && !SendMachineDuplexCmd(job, to, info->pageCount, true)) {
    job.lastError.Prepend("Prnt_EndDoc() :: MachineDuplexCmd Fail .\n");
    return false;
  }
  Insert00(job, to);
  if (!SendStep(job, to, queryStatusCmd, sizeof(queryStatusCmd),
                "Prnt_EndDoc() :: send queryStatusCmd Fail 0 ==  \n"))
    return false;
  Insert00(job, to);
  return SendStep(job, to, resetCmd, sizeof(resetCmd), "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n") &&
         SendStep(job, to, endOfJobCmd, kEndOfJobCmdLen,
                  "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n");
}

bool EndDoc_Z(CommandStream& job) {
  const Route& to = job.route;
  return SendStep(job, to, resetCmd, sizeof(resetCmd), "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n") &&
         SendStep(job, to, endOfJobCmd, kEndOfJobCmdLen,
                  "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n");
}

bool EndDoc_M(CommandStream& job) {
  const Route& to = job.route;
  uint8_t header[kCmdHeaderLen];
  SetCmdType(header, kCmdHeaderLen, END_DOC_CMD, 0, 0, kCmdMagic);
  // The printer's own name for the second step is UEL_CMD_C, though it
  // sends UEL_CMD.
  return SendStep(job, to, header, sizeof(header), "Prnt_EndDoc() :: send END_DOC_CMD Fail 0 ==  \n",
                  false) &&
         SendStep(job, to, UEL_CMD, sizeof(UEL_CMD), "Prnt_EndDoc() :: send UEL_CMD_C Fail 0 ==  \n",
                  false);
}

}  // namespace

uint16_t CoverageValue(uint32_t dots, int resolution, int density, int paperWidthMm) {
  // The factors are single-precision constants widened to double: 0.7f is
  // 0.699999988..., which the printer's accounting expects.
  const double f = static_cast<double>(static_cast<float>(dots));
  const double r = resolution == 1200 ? 0.25 : 1.0;
  double d = 1.0;
  if (density == 0 || density == 1) {
    d = static_cast<double>(0.7f);
  } else if (density == 3 || density == 4) {
    d = static_cast<double>(1.2f);
  }
  double w = 1.0;
  if (paperWidthMm >= 126 && paperWidthMm <= 174) {
    w = 1.5;
  } else if (paperWidthMm <= 124) {
    w = 2.0;
  }
  const double v = f * r * d * w / 1000.0;
  return static_cast<uint16_t>(static_cast<uint64_t>(v) % 65536u);
}

void GetCoverageCmd_C(PrntPageEndInfo* info, uint32_t imageCoverage, uint8_t* buf) {
  const uint16_t v =
      CoverageValue(imageCoverage, info->resolution, info->density, info->paperWidthMm);
  info->coverage = v;
  buf[0] = kRecordMarker;
  buf[1] = kCoverageLenC;
  buf[2] = 0x1E;
  buf[3] = static_cast<uint8_t>(v);
  buf[4] = static_cast<uint8_t>(v >> 8);
  buf[5] = CalcChecksum(buf, 5);
}

void GetImageDataChenksumCmd(uint32_t imageChecksum, uint8_t* buf) {
  buf[0] = kRecordMarker;
  buf[1] = kImageChecksumLen;
  buf[2] = 0x1A;
  buf[3] = static_cast<uint8_t>(imageChecksum);
  buf[4] = static_cast<uint8_t>(imageChecksum >> 8);
  buf[5] = CalcChecksum(buf, 5);
}

bool SendMachineDuplexCmd(CommandStream& job, const Route& route, int pageNumber, bool oddPages) {
  const bool odd = pageNumber % 2 != 0;
  if (oddPages != odd) return true;
  Insert00(job, route);
  return SendStep(job, route, machineDuplexCmd, sizeof(machineDuplexCmd),
                  "SendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n");
}

bool Prnt_EndPage(CommandStream& job, StreamPage& page, PrntPageEndInfo* info, int platform) {
  if (!IsKnownPlatform(platform) || info == nullptr) return false;
  if (platform == PLATFORM_C) return EndPage_C(job, page, info);
  if (platform == PLATFORM_Z) {
    Insert00(job, page.route);
    return SendStep(job, page.route, formFeedCmd, sizeof(formFeedCmd),
                    "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n");
  }
  uint8_t header[kCmdHeaderLen];
  SetCmdType(header, kCmdHeaderLen, END_PAGE_CMD, 0, 0, kCmdMagic);
  return SendStep(job, page.route, header, sizeof(header),
                  "Prnt_EndPage() :: send END_PAGE_CMD Fail 0 ==  \n");
}

bool Prnt_EndDoc(CommandStream& job, PrntDocEndInfo* info, int platform) {
  if (!IsKnownPlatform(platform) || info == nullptr) return false;
  if (platform == PLATFORM_C) return EndDoc_C(job, info);
  if (platform == PLATFORM_Z) return EndDoc_Z(job);
  return EndDoc_M(job);
}

bool SendManualDuplexCmd(CommandStream& job, int platform) {
  const char* failCZ = "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n";
  switch (platform) {
    case PLATFORM_C:
      return SendStep(job, job.route, manualDuplexCmd_C, sizeof(manualDuplexCmd_C), failCZ, false);
    case PLATFORM_Z:
      return SendStep(job, job.route, manualDuplexCmd_Z, sizeof(manualDuplexCmd_Z), failCZ, false);
    case PLATFORM_M: {
      uint8_t header[kCmdHeaderLen];
      SetCmdType(header, kCmdHeaderLen, MANUAL_DUPLEX_CMD, 0, 0, kCmdMagic);
      return SendStep(job, job.route, header, sizeof(header),
                      "SendManualDuplexCmd() :: send MANUAL_DUPLEX_CMD Fail 0 ==  \n", false);
    }
    default:
      return false;
  }
}

}  // namespace lumora
