// SPDX-License-Identifier: GPL-2.0-or-later
// Fixed byte strings and command codes of the printer language: the PJL
// lines around a job, the constant byte-coded records of PLATFORM_C and
// PLATFORM_Z, and the command codes and parameter ids of PLATFORM_M.
// Defined in records.cpp; none of them ends in a NUL that is sent.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// Universal exit sequences and PJL lines.
extern const uint8_t UEL_CMD[9];       // ESC "%-12345X"
extern const uint8_t UEL_CMD_C[9];     // ESC 0xFF "-12345X"
extern const char PJLheader[16];       // ESC "%-12345X@PJL" CR LF (15 bytes sent)
extern const char pjlVersion[27];      // "@PJL LANGUAGEVERSION=1.0" CR LF
extern const char pjlPreSendTime[14];  // "@PJL JOBTIME="
extern const char pjlPreComputerName[15];  // "@PJL JOBOWNER="
extern const char CRLF[3];
extern const char pjlCmd[25];          // "@PJL ENTER LANGUAGE=PL" CR LF
extern const char endOfJobCmd[37];     // an empty PJL job (36 bytes sent)
extern const char fwVer[17];           // "versions=3.1.2.1"
extern const char pjlJZJZ_Oak[5];      // "JZJZ"

// Constant byte-coded records (marker, length, type, checksum).
extern const uint8_t hostUseCmd[4];
extern const uint8_t formFeedCmd[4];
extern const uint8_t queryStatusCmd[5];
extern const uint8_t resetCmd[4];
extern const uint8_t machineDuplexCmd[4];
extern const uint8_t manualDuplexCmd_C[4];
extern const uint8_t manualDuplexCmd_Z[4];
extern const uint8_t abortCmd[4];

// Sizes of the text constants as sent (without their NUL).
constexpr size_t kPJLheaderLen = 15;
constexpr size_t kEndOfJobCmdLen = 36;

// Byte-coded records: the marker that opens each, and the lengths of those
// the builders of commands.h make (the length byte of the record, marker
// and checksum included).
constexpr uint8_t kRecordMarker = 0x0B;
constexpr size_t kJobSpecLenC = 6;
constexpr size_t kJobSpecLenZ = 9;
constexpr size_t kOneByteRecordLen = 5;  // toner save, fine mode, density
constexpr size_t kSysTimeLen = 8;
constexpr size_t kPageSpecLen = 18;
constexpr size_t kCustomPaperLen = 12;
constexpr size_t kRasterImageLen = 18;
constexpr size_t kCoverageLenZ = 7;
constexpr size_t kCoverageLenC = 6;
constexpr size_t kImageChecksumLen = 6;
constexpr size_t kTonerParamAlderLen = 36;
constexpr size_t kTonerParamBirchLen = 40;

// PLATFORM_M framing.
constexpr uint16_t kCmdMagic = 0x5A5A;  // "ZZ" closing every command header
constexpr size_t kCmdHeaderLen = 16;
constexpr size_t kCmdParamLen = 12;
constexpr uint8_t kCmdParamKind = 1;    // the kind byte of every parameter record
constexpr size_t kTonerParamCount = 36;  // 16-bit values of the TONER_PARAM command
constexpr size_t kTonerParamLenM = kCmdHeaderLen + 2 * kTonerParamCount;  // 88
constexpr size_t kJbigParamBlockLen = 20;
constexpr size_t kJbigParamCmdLen = kCmdHeaderLen + kJbigParamBlockLen;  // 36

enum PrntCmdCode : uint32_t {
  START_DOC_CMD = 0,
  END_DOC_CMD = 1,
  START_PAGE_CMD = 2,
  END_PAGE_CMD = 3,
  JBIG_PARAM_CMD = 4,
  JBIG_DATA_CMD = 5,
  JBIG_END_CMD = 6,
  MANUAL_DUPLEX_CMD = 11,
  TONER_PARAM = 17,
};

enum PrntParamId : uint16_t {
  PAPER_SIZE_PARAM = 3,
  COPIES_PARAM = 4,
  INPUT_TRAY_PARAM = 5,
  MEDIA_TYPE_PARAM = 6,
  CHANNEL_NUM_PARAM = 7,
  H_RESOLUTION_PARAM = 8,
  V_RESOLUTION_PARAM = 9,
  IMG_WIDTH_PARAM = 12,
  IMG_HEIGHT_PARAM = 13,
  VIDEO_DEPTH_PARAM = 16,
  VIDEO_WIDTH_PARAM = 17,
  VIDEO_HEIGHT_PARAM = 18,
  RET_PARAM = 22,
  CUSTOM_WIDTH_PARAM = 24,
  CUSTOM_HEIGHT_PARAM = 25,
  CUSTOM_PAPER_UNIT_PARAM = 26,
  DENSITY_PARAM = 0xFF00,
};

// Largest block of compressed data one JBIG_DATA_CMD carries.
constexpr size_t kJbigChunkSize = 65536;

}  // namespace lumora
