// SPDX-License-Identifier: GPL-2.0-or-later
// Job start: the PJL preamble that puts the printer into its page language
// and the job-level records (job spec, toner save or fine mode, density,
// toner parameters, date) of the three dialects.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "command_bytes.h"
#include "commands.h"

namespace lumora {

namespace {

constexpr const char* kAlderModel = "Lumora Alder Series";
constexpr const char* kBeechModel = "Lumora Beech Series";

struct tm LocalNow(const CommandStream& job) {
  time_t now = job.clock ? job.clock() : time(nullptr);
  struct tm parts;
  if (localtime_r(&now, &parts) == nullptr) memset(&parts, 0, sizeof(parts));
  return parts;
}

uint8_t JobFlags(const PrntDocInfo* doc) {
  uint8_t flags = doc->duplexFlag | doc->platformFlag;
  if (doc->jobFlag80 != 0) flags |= 0x80;
  if (doc->jobFlag08 != 0) flags |= 0x08;
  if (doc->jobFlag04 != 0) flags |= 0x04;
  if (doc->jobFlag02 != 0) flags |= 0x02;
  if (doc->jobFlag01 != 0) flags |= 0x01;
  return flags;
}

// A record of one value byte: 0B 05 type value checksum.
void OneByteRecord(uint8_t type, uint8_t value, uint8_t* buf) {
  buf[0] = kRecordMarker;
  buf[1] = kOneByteRecordLen;
  buf[2] = type;
  buf[3] = value;
  buf[4] = CalcChecksum(buf, 4);
}

// Reads the host name for the JOBOWNER line: at most 32 bytes, empty when
// the name cannot be read.
void ReadHostName(CommandStream& job) {
  memset(job.pjlPostComputerName, 0, sizeof(job.pjlPostComputerName));
  char name[256] = {};
  const int failed = job.hostName ? job.hostName(name, sizeof(name) - 1)
                                  : gethostname(name, sizeof(name) - 1);
  if (failed != 0) return;
  name[sizeof(name) - 1] = '\0';
  memcpy(job.pjlPostComputerName, name, strnlen(name, sizeof(job.pjlPostComputerName) - 1));
}

bool StartDoc_C(CommandStream& job, const PrntDocInfo* doc) {
  uint8_t jobSpec[kJobSpecLenC];
  GetJobSpecCmd_C(doc, jobSpec);
  uint8_t tonerSave[kOneByteRecordLen];
  GetTonerSaveCmd(doc, tonerSave);
  uint8_t density[kOneByteRecordLen];
  GetDensityCmd(doc, density);
  uint8_t sysTime[kSysTimeLen];
  GetSysTimeCmd(job, sysTime);
  return SendRecords(
      job, job.route,
      {{UEL_CMD_C, sizeof(UEL_CMD_C), "Prnt_StartDoc() :: send UEL_CMD_C Fail 0 ==  \n", kNo00},
       {abortCmd, sizeof(abortCmd), "Prnt_StartDoc() :: send abortCmd Fail 0 ==  \n", kNo00},
       {endOfJobCmd, kEndOfJobCmdLen, "Prnt_StartDoc() :: send endOfJobCmd Fail 0 ==  \n", kNo00},
       {fwVer, strlen(fwVer), "Prnt_StartDoc() :: send fw Version Fail 0 ==  \n", kThen00},
       {PJLheader, kPJLheaderLen, "Prnt_StartDoc() :: send PJLheader Fail 0 ==  \n", kNo00},
       {pjlCmd, strlen(pjlCmd), "Prnt_StartDoc() :: send pjlCmd Fail 0 ==  \n", kThen00},
       {jobSpec, sizeof(jobSpec), "Prnt_StartDoc() :: send cmdJobSpec Fail 0 ==  \n", kThen00},
       {tonerSave, sizeof(tonerSave), "Prnt_StartDoc() :: send cmdTonerSave Fail 0 ==  \n", kThen00},
       {density, sizeof(density), "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n", kNo00},
       {sysTime, sizeof(sysTime), "Prnt_StartDoc() :: send cmdSysTime Fail 0 ==  \n", kNo00}});
}

// The PJL lines of PLATFORM_Z: header, language version (Alder), job time
// and owner, and the switch into the page language.
bool StartDocPjl_Z(CommandStream& job, bool alder) {
  const Route& to = job.route;
  if (!SendStep(job, to, PJLheader, kPJLheaderLen, "Prnt_StartDoc() :: send PJLheader Fail 0 ==  \n"))
    return false;
  if (alder && !SendStep(job, to, pjlVersion, strlen(pjlVersion),
                         "Prnt_StartDoc() :: send pjlVersion Fail 0 ==  \n"))
    return false;

  GetSendTimePJL(job, job.pjlPostSendTime);
  const char* timeFail = "Prnt_StartDoc() :: send pjlSendTime Fail 0 ==  \n";
  if (!SendStep(job, to, pjlPreSendTime, strlen(pjlPreSendTime), timeFail) ||
      !SendStep(job, to, job.pjlPostSendTime, strlen(job.pjlPostSendTime), timeFail))
    return false;

  ReadHostName(job);
  const char* hostFail = "Prnt_StartDoc() :: send pjlHostName Fail 0 ==  \n";
  if (!SendStep(job, to, pjlPreComputerName, strlen(pjlPreComputerName), hostFail) ||
      !SendStep(job, to, job.pjlPostComputerName, strlen(job.pjlPostComputerName), hostFail) ||
      !SendStep(job, to, CRLF, strlen(CRLF), hostFail))
    return false;
  return SendStep(job, to, pjlCmd, strlen(pjlCmd), "Prnt_StartDoc() :: send pjlPosCmd Fail 0 ==  \n");
}

bool StartDoc_Z(CommandStream& job, const PrntDocInfo* doc) {
  const Route& to = job.route;
  const bool alder = job.modelName == kAlderModel;
  const bool beech = job.modelName == kBeechModel;
  if (!StartDocPjl_Z(job, alder)) return false;

  Insert00(job, to);
  uint8_t fineMode[kOneByteRecordLen];
  GetFineModeCmd(doc, fineMode);
  uint8_t jobSpec[kJobSpecLenZ];
  GetJobSpecCmd_Z(doc, jobSpec);
  uint8_t density[kOneByteRecordLen];
  GetDensityCmd(doc, density);
  if (!SendRecords(
          job, to,
          {{fineMode, sizeof(fineMode), "Prnt_StartDoc() :: send cmdFineMode Fail 0 ==  \n", kThen00},
           {jobSpec, sizeof(jobSpec), "Prnt_StartDoc() :: send cmdJobSpec Fail 0 ==  \n", kThen00},
           {density, sizeof(density), "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n", kThen00}}))
    return false;

  // Both toner records report their failure under the Alder name.
  const char* tonerFail = "Prnt_StartDoc() :: send cmdTonerParamAlder Fail 0 ==  \n";
  if (alder) {
    uint8_t toner[kTonerParamAlderLen];
    GetTonerParamCmdForAlder(toner);
    return SendStep(job, to, toner, sizeof(toner), tonerFail);
  }
  if (beech) {
    uint8_t toner[kTonerParamBirchLen];
    GetTonerParamCmdForBirch(toner);
    return SendStep(job, to, toner, sizeof(toner), tonerFail);
  }
  return true;
}

bool StartDoc_M(CommandStream& job) {
  const Route& to = job.route;
  if (!SendStep(job, to, UEL_CMD, sizeof(UEL_CMD), "Prnt_StartDoc() :: send UEL_CMD Fail 0 ==  \n") ||
      !SendStep(job, to, pjlJZJZ_Oak, strlen(pjlJZJZ_Oak),
                "Prnt_StartDoc() :: send pjlJZJZ_Oak Fail 0 ==  \n"))
    return false;
  uint8_t toner[kTonerParamLenM];
  GetTonerParamCmdForPlatformM(toner);
  if (!SendStep(job, to, toner, sizeof(toner), "Prnt_StartDoc() :: send TONER_PARAM Fail 0 ==  \n"))
    return false;
  // Three parameters: 0 = 0, 1 = 0 and 2 = 1.
  static const uint32_t kDocParams[3][2] = {{0, 0}, {1, 0}, {2, 1}};
  constexpr size_t kCount = sizeof(kDocParams) / sizeof(kDocParams[0]);
  uint8_t header[kCmdHeaderLen];
  SetCmdType(header, kCmdHeaderLen + kCount * kCmdParamLen, START_DOC_CMD, kCount,
             kCount * kCmdParamLen, kCmdMagic);
  if (!SendStep(job, to, header, sizeof(header), "Prnt_StartDoc() :: send START_DOC_CMD Fail 0 ==  \n"))
    return false;
  for (const auto& p : kDocParams) {
    uint8_t param[kCmdParamLen];
    SetCmdParam(param, static_cast<uint16_t>(p[0]), kCmdParamKind, p[1]);
    if (!SendStep(job, to, param, sizeof(param),
                  "Prnt_StartDoc() :: send TOTAL_PAGE_PARAM Fail 0 ==  \n"))
      return false;
  }
  return true;
}

}  // namespace

void GetJobSpecCmd_C(const PrntDocInfo* doc, uint8_t* buf) {
  buf[0] = kRecordMarker;
  buf[1] = kJobSpecLenC;
  buf[2] = 0x11;
  buf[3] = static_cast<uint8_t>(doc->jobId);
  buf[4] = JobFlags(doc);
  buf[5] = CalcChecksum(buf, 5);
}

void GetJobSpecCmd_Z(const PrntDocInfo* doc, uint8_t* buf) {
  const uint32_t id = static_cast<uint32_t>(doc->jobId);
  buf[0] = kRecordMarker;
  buf[1] = kJobSpecLenZ;
  buf[2] = 0x11;
  buf[3] = JobFlags(doc);
  buf[4] = static_cast<uint8_t>(id);
  buf[5] = static_cast<uint8_t>(id >> 8);
  buf[6] = static_cast<uint8_t>(id >> 16);
  buf[7] = static_cast<uint8_t>(id >> 24);
  buf[8] = CalcChecksum(buf, 8);
}

void GetTonerSaveCmd(const PrntDocInfo* doc, uint8_t* buf) {
  OneByteRecord(0x19, static_cast<uint8_t>(doc->tonerSave), buf);
}

void GetFineModeCmd(const PrntDocInfo* doc, uint8_t* buf) {
  OneByteRecord(0x1F, doc->fineMode, buf);
}

void GetDensityCmd(const PrntDocInfo* doc, uint8_t* buf) {
  OneByteRecord(0x15, doc->density, buf);
}

void GetSysTimeCmd(const CommandStream& job, uint8_t* buf) {
  const struct tm now = LocalNow(job);
  const unsigned year = static_cast<unsigned>(now.tm_year + 1900);
  buf[0] = kRecordMarker;
  buf[1] = kSysTimeLen;
  buf[2] = 0x1F;
  buf[3] = static_cast<uint8_t>(year);
  buf[4] = static_cast<uint8_t>(year >> 8);
  buf[5] = static_cast<uint8_t>(now.tm_mon + 1);
  buf[6] = static_cast<uint8_t>(now.tm_mday);
  buf[7] = CalcChecksum(buf, 7);
}

void GetSendTimePJL(const CommandStream& job, char* buf) {
  const struct tm now = LocalNow(job);
  // Minute first, then hour: that is the order the printer reads.
  // The fields are bounded to their widths so the line always ends in CR LF.
  const auto field = [](int v, unsigned mod) { return static_cast<unsigned>(v) % mod; };
  snprintf(buf, sizeof(job.pjlPostSendTime), "%02u:%02u:%02u:%02u:%04u\r\n", field(now.tm_min, 100),
           field(now.tm_hour, 100), field(now.tm_mday, 100), field(now.tm_mon + 1, 100),
           field(now.tm_year + 1900, 10000));
}

void GetTonerParamCmdForAlder(uint8_t* buf) {
  static const uint8_t kHead[15] = {0x0B, 0x24, 0x1E, 0x00, 0x1E, 0x24, 0x26, 0x2F,
                                    0x50, 0x06, 0x20, 0x20, 0x20, 0x28, 0x2C};
  static const uint8_t kTail[3] = {0x0A, 0x00, 0xC8};
  memcpy(buf, kHead, sizeof(kHead));
  memset(buf + 15, 0x20, 18);
  memcpy(buf + 33, kTail, sizeof(kTail));
  static_assert(sizeof(kHead) + 18 + sizeof(kTail) == kTonerParamAlderLen, "Alder toner record");
}

void GetTonerParamCmdForBirch(uint8_t* buf) {
  static const uint8_t kHead[15] = {0x0B, 0x28, 0x1E, 0x00, 0x17, 0x26, 0x00, 0x30,
                                    0x40, 0x20, 0x17, 0x20, 0x20, 0x00, 0x00};
  static const uint8_t kTail[8] = {0x08, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x59};
  memcpy(buf, kHead, sizeof(kHead));
  memset(buf + 15, 0x20, 17);
  memcpy(buf + 32, kTail, sizeof(kTail));
  static_assert(sizeof(kHead) + 17 + sizeof(kTail) == kTonerParamBirchLen, "Birch toner record");
}

void GetTonerParamCmdForPlatformM(uint8_t* buf) {
  static const uint16_t kValues[kTonerParamCount] = {
      0,   81,  115, 110, 150, 122, 100, 150, 200, 100, 81,  100,
      100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
      120, 135, 150, 180, 200, 120, 150, 190, 350, 400, 100, 100};
  SetCmdType(buf, kTonerParamLenM, TONER_PARAM, 0, 0, kCmdMagic);
  for (size_t i = 0; i < kTonerParamCount; ++i) {
    buf[kCmdHeaderLen + 2 * i] = static_cast<uint8_t>(kValues[i] >> 8);
    buf[kCmdHeaderLen + 2 * i + 1] = static_cast<uint8_t>(kValues[i]);
  }
}

bool Prnt_StartDoc(CommandStream& job, PrntDocInfo* doc, int platform) {
  if (!IsKnownPlatform(platform) || doc == nullptr) return false;
  switch (platform) {
    case PLATFORM_C: return StartDoc_C(job, doc);
    case PLATFORM_Z: return StartDoc_Z(job, doc);
    default: return StartDoc_M(job);
  }
}

}  // namespace lumora
