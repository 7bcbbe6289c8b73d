// SPDX-License-Identifier: GPL-2.0-or-later
// Page end and job end: image checksum, coverage and form feed of each page,
// the turn of the sheet in the duplex unit, the pause between the passes of
// a manual-duplex job, and the records that close the job.
#include "command_bytes.h"
#include "commands.h"
#include "stream_send.h"

namespace {

int EndPage_C(CommandStream& job, PrntPageEndInfo* info) {
  if (!SendStep(job, UEL_CMD_C, sizeof(UEL_CMD_C), "Prnt_EndPage() :: send UEL_CMD_C Fail 0 ==  \n")) {
    return 0;
  }
  Insert00(job);
  uint8_t rec[6];
  GetImageDataChenksumCmd(job.imageChecksum, rec);
  if (!SendStep(job, rec, 6, "Prnt_EndPage() :: send cmdImageDataChenksum Fail 0 ==  \n")) return 0;
  Insert00(job);
  GetCoverageCmd_C(info, job.imageCoverage, rec);
  if (!SendStep(job, rec, 6, "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n")) return 0;
  Insert00(job);
  if (!SendStep(job, formFeedCmd, sizeof(formFeedCmd),
                "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n")) {
    return 0;
  }
  if (info->duplex == 1 && SendMachineDuplexCmd(job, info->pageNumber, 1) == 0) {
    job.lastError.Prepend("Prnt_EndPage() :: MachineDuplexCmd Fail .\n");
    return 0;
  }
  return 1;
}

int EndDoc_C(CommandStream& job, const PrntDocEndInfo* info) {
  if (info->duplex == 1 && SendMachineDuplexCmd(job, info->pageCount, 1) == 0) {
    job.lastError.Prepend("Prnt_EndDoc() :: MachineDuplexCmd Fail .\n");
    return 0;
  }
  Insert00(job);
  if (!SendStep(job, queryStatusCmd, sizeof(queryStatusCmd),
                "Prnt_EndDoc() :: send queryStatusCmd Fail 0 ==  \n")) {
    return 0;
  }
  Insert00(job);
  if (!SendStep(job, resetCmd, sizeof(resetCmd), "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n")) {
    return 0;
  }
  if (!SendStep(job, endOfJobCmd, kEndOfJobCmdLen, "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n")) {
    return 0;
  }
  return 1;
}

int EndDoc_Z(CommandStream& job) {
  if (!SendStep(job, resetCmd, sizeof(resetCmd), "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n")) {
    return 0;
  }
  if (!SendStep(job, endOfJobCmd, kEndOfJobCmdLen, "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n")) {
    return 0;
  }
  return 1;
}

int EndDoc_M(CommandStream& job) {
  uint8_t header[kCmdHeaderLen];
  SetCmdType(header, kCmdHeaderLen, END_DOC_CMD, 0, 0, kCmdMagic);
  if (!SendStep(job, header, sizeof(header), "Prnt_EndDoc() :: send END_DOC_CMD Fail 0 ==  \n", 0)) {
    return 0;
  }
  // The printer's own name for this step is UEL_CMD_C, though it sends UEL_CMD.
  if (!SendStep(job, UEL_CMD, sizeof(UEL_CMD), "Prnt_EndDoc() :: send UEL_CMD_C Fail 0 ==  \n", 0)) {
    return 0;
  }
  return 1;
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

int GetCoverageCmd_C(PrntPageEndInfo* info, uint32_t imageCoverage, uint8_t* buf) {
  const uint16_t v =
      CoverageValue(imageCoverage, info->resolution, info->density, info->paperWidthMm);
  info->coverage = v;
  buf[0] = 0x0B;
  buf[1] = 0x06;
  buf[2] = 0x1E;
  buf[3] = static_cast<uint8_t>(v);
  buf[4] = static_cast<uint8_t>(v >> 8);
  buf[5] = static_cast<uint8_t>(CalcChecksum(buf, 5));
  return 1;
}

int GetImageDataChenksumCmd(uint32_t imageChecksum, uint8_t* buf) {
  buf[0] = 0x0B;
  buf[1] = 0x06;
  buf[2] = 0x1A;
  buf[3] = static_cast<uint8_t>(imageChecksum);
  buf[4] = static_cast<uint8_t>(imageChecksum >> 8);
  buf[5] = static_cast<uint8_t>(CalcChecksum(buf, 5));
  return 1;
}

int SendMachineDuplexCmd(CommandStream& job, int pageNumber, int oddPages) {
  const bool odd = pageNumber % 2 != 0;
  if ((oddPages != 0) != odd) return 1;
  Insert00(job);
  if (!SendStep(job, machineDuplexCmd, sizeof(machineDuplexCmd),
                "SendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n")) {
    return 0;
  }
  return 1;
}

int Prnt_EndPage(CommandStream& job, PrntPageEndInfo* info, int platform) {
  if (!IsKnownPlatform(platform) || info == nullptr) return 0;
  if (platform == PLATFORM_C) return EndPage_C(job, info);
  if (platform == PLATFORM_Z) {
    Insert00(job);
    return SendStep(job, formFeedCmd, sizeof(formFeedCmd),
                    "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n")
               ? 1
               : 0;
  }
  uint8_t header[kCmdHeaderLen];
  SetCmdType(header, kCmdHeaderLen, END_PAGE_CMD, 0, 0, kCmdMagic);
  return SendStep(job, header, sizeof(header), "Prnt_EndPage() :: send END_PAGE_CMD Fail 0 ==  \n")
             ? 1
             : 0;
}

int Prnt_EndDoc(CommandStream& job, PrntDocEndInfo* info, int platform) {
  if (!IsKnownPlatform(platform) || info == nullptr) return 0;
  if (platform == PLATFORM_C) return EndDoc_C(job, info);
  if (platform == PLATFORM_Z) return EndDoc_Z(job);
  return EndDoc_M(job);
}

int SendManualDuplexCmd(CommandStream& job, int platform) {
  const char* failCZ = "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n";
  switch (platform) {
    case PLATFORM_C:
      return SendStep(job, manualDuplexCmd_C, sizeof(manualDuplexCmd_C), failCZ, 0) ? 1 : 0;
    case PLATFORM_Z:
      return SendStep(job, manualDuplexCmd_Z, sizeof(manualDuplexCmd_Z), failCZ, 0) ? 1 : 0;
    case PLATFORM_M: {
      uint8_t header[kCmdHeaderLen];
      SetCmdType(header, kCmdHeaderLen, MANUAL_DUPLEX_CMD, 0, 0, kCmdMagic);
      return SendStep(job, header, sizeof(header),
                      "SendManualDuplexCmd() :: send MANUAL_DUPLEX_CMD Fail 0 ==  \n", 0)
                 ? 1
                 : 0;
    }
    default:
      return 0;
  }
}
