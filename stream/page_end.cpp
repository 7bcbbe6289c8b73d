// Page end and job end: image checksum, coverage and form feed of each page,
// the turn of the sheet in the duplex unit, the pause between the passes of
// a manual-duplex job, and the records that close the job.
#include "command_bytes.h"
#include "commands.h"
#include "stream_send.h"

namespace {

int EndPage_C(PrntPageEndInfo* info) {
  if (!SendStep(UEL_CMD_C, sizeof(UEL_CMD_C), "Prnt_EndPage() :: send UEL_CMD_C Fail 0 ==  \n")) {
    return 0;
  }
  Insert00();
  uint8_t rec[6];
  GetImageDataChenksumCmd(rec);
  if (!SendStep(rec, 6, "Prnt_EndPage() :: send cmdImageDataChenksum Fail 0 ==  \n")) return 0;
  Insert00();
  GetCoverageCmd_C(info, rec);
  if (!SendStep(rec, 6, "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n")) return 0;
  Insert00();
  if (!SendStep(formFeedCmd, sizeof(formFeedCmd),
                "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n")) {
    return 0;
  }
  if (info->duplex == 1 && SendMachineDuplexCmd(info->pageNumber, 1) == 0) {
    PrependLastError("Prnt_EndPage() :: MachineDuplexCmd Fail .\n");
    return 0;
  }
  return 1;
}

int EndDoc_C(const PrntDocEndInfo* info) {
  if (info->duplex == 1 && SendMachineDuplexCmd(info->pageCount, 1) == 0) {
    PrependLastError("Prnt_EndDoc() :: MachineDuplexCmd Fail .\n");
    return 0;
  }
  Insert00();
  if (!SendStep(queryStatusCmd, sizeof(queryStatusCmd),
                "Prnt_EndDoc() :: send queryStatusCmd Fail 0 ==  \n")) {
    return 0;
  }
  Insert00();
  if (!SendStep(resetCmd, sizeof(resetCmd), "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n")) {
    return 0;
  }
  if (!SendStep(endOfJobCmd, kEndOfJobCmdLen, "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n")) {
    return 0;
  }
  return 1;
}

int EndDoc_Z() {
  if (!SendStep(resetCmd, sizeof(resetCmd), "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n")) {
    return 0;
  }
  if (!SendStep(endOfJobCmd, kEndOfJobCmdLen, "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n")) {
    return 0;
  }
  return 1;
}

int EndDoc_M() {
  uint8_t header[kCmdHeaderLen];
  SetCmdType(header, kCmdHeaderLen, END_DOC_CMD, 0, 0, kCmdMagic);
  if (!SendStep(header, sizeof(header), "Prnt_EndDoc() :: send END_DOC_CMD Fail 0 ==  \n", 0)) {
    return 0;
  }
  // The printer's own name for this step is UEL_CMD_C, though it sends UEL_CMD.
  if (!SendStep(UEL_CMD, sizeof(UEL_CMD), "Prnt_EndDoc() :: send UEL_CMD_C Fail 0 ==  \n", 0)) {
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

int GetCoverageCmd_C(PrntPageEndInfo* info, uint8_t* buf) {
  const uint16_t v =
      CoverageValue(gImageCoverage, info->resolution, info->density, info->paperWidthMm);
  info->coverage = v;
  buf[0] = 0x0B;
  buf[1] = 0x06;
  buf[2] = 0x1E;
  buf[3] = static_cast<uint8_t>(v);
  buf[4] = static_cast<uint8_t>(v >> 8);
  buf[5] = static_cast<uint8_t>(CalcChecksum(buf, 5));
  return 1;
}

int GetImageDataChenksumCmd(uint8_t* buf) {
  buf[0] = 0x0B;
  buf[1] = 0x06;
  buf[2] = 0x1A;
  buf[3] = static_cast<uint8_t>(gImageChecksum);
  buf[4] = static_cast<uint8_t>(gImageChecksum >> 8);
  buf[5] = static_cast<uint8_t>(CalcChecksum(buf, 5));
  return 1;
}

int SendMachineDuplexCmd(int pageNumber, int oddPages) {
  const bool odd = pageNumber % 2 != 0;
  if ((oddPages != 0) != odd) return 1;
  Insert00();
  if (!SendStep(machineDuplexCmd, sizeof(machineDuplexCmd),
                "SendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n")) {
    return 0;
  }
  return 1;
}

int Prnt_EndPage(PrntPageEndInfo* info, int platform) {
  if (!IsKnownPlatform(platform) || info == nullptr) return 0;
  if (platform == PLATFORM_C) return EndPage_C(info);
  if (platform == PLATFORM_Z) {
    Insert00();
    return SendStep(formFeedCmd, sizeof(formFeedCmd),
                    "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n")
               ? 1
               : 0;
  }
  uint8_t header[kCmdHeaderLen];
  SetCmdType(header, kCmdHeaderLen, END_PAGE_CMD, 0, 0, kCmdMagic);
  return SendStep(header, sizeof(header), "Prnt_EndPage() :: send END_PAGE_CMD Fail 0 ==  \n")
             ? 1
             : 0;
}

int Prnt_EndDoc(PrntDocEndInfo* info, int platform) {
  if (!IsKnownPlatform(platform) || info == nullptr) return 0;
  if (platform == PLATFORM_C) return EndDoc_C(info);
  if (platform == PLATFORM_Z) return EndDoc_Z();
  return EndDoc_M();
}

int SendManualDuplexCmd(int platform) {
  const char* failCZ = "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n";
  switch (platform) {
    case PLATFORM_C:
      return SendStep(manualDuplexCmd_C, sizeof(manualDuplexCmd_C), failCZ, 0) ? 1 : 0;
    case PLATFORM_Z:
      return SendStep(manualDuplexCmd_Z, sizeof(manualDuplexCmd_Z), failCZ, 0) ? 1 : 0;
    case PLATFORM_M: {
      uint8_t header[kCmdHeaderLen];
      SetCmdType(header, kCmdHeaderLen, MANUAL_DUPLEX_CMD, 0, 0, kCmdMagic);
      return SendStep(header, sizeof(header),
                      "SendManualDuplexCmd() :: send MANUAL_DUPLEX_CMD Fail 0 ==  \n", 0)
                 ? 1
                 : 0;
    }
    default:
      return 0;
  }
}
