// SPDX-License-Identifier: GPL-2.0-or-later
// The printer commands of the three dialects: job start, page start, page
// image, page end and job end. Every entry point takes the job's command
// stream first and the platform code last and, for any other code than
// PLATFORM_C/Z/M, sends nothing and returns false. The job's commands go
// along the job's route; a page's commands along the page's. On failure the
// routine puts its message in front of the job's failure text and returns
// false.
#pragma once

#include <cstddef>
#include <cstdint>

#include "command_stream.h"
#include "records.h"

namespace lumora {

bool Prnt_StartDoc(CommandStream& job, PrntDocInfo* doc, int platform);
bool Prnt_StartPage(CommandStream& job, StreamPage& page, PrntPageInfo* info, int platform);
bool Prnt_SendPage(CommandStream& job, StreamPage& page, PrntBandInfo* band, int platform);
bool Prnt_EndPage(CommandStream& job, StreamPage& page, PrntPageEndInfo* info, int platform);
bool Prnt_EndDoc(CommandStream& job, PrntDocEndInfo* info, int platform);
bool SendManualDuplexCmd(CommandStream& job, int platform);
// The turn of the sheet after a page numbered pageNumber, when its parity
// is the one asked for (odd pages: after every odd page).
bool SendMachineDuplexCmd(CommandStream& job, const Route& route, int pageNumber, bool oddPages);

// Record builders: each fills buf with its record, of the length
// command_bytes.h names beside it.
void GetJobSpecCmd_C(const PrntDocInfo* doc, uint8_t* buf);     // kJobSpecLenC
void GetJobSpecCmd_Z(const PrntDocInfo* doc, uint8_t* buf);     // kJobSpecLenZ
void GetTonerSaveCmd(const PrntDocInfo* doc, uint8_t* buf);     // kOneByteRecordLen
void GetFineModeCmd(const PrntDocInfo* doc, uint8_t* buf);      // kOneByteRecordLen
void GetDensityCmd(const PrntDocInfo* doc, uint8_t* buf);       // kOneByteRecordLen
void GetSysTimeCmd(const CommandStream& job, uint8_t* buf);     // kSysTimeLen, the job's clock
void GetSendTimePJL(const CommandStream& job, char* buf);       // 18 chars + NUL
void GetPageSpecCmd(const PrntPageInfo* page, uint8_t* buf, int platform);     // kPageSpecLen
void GetCustomPaperCmd(const PrntPageInfo* page, uint8_t* buf, int platform);  // kCustomPaperLen
void GetRasterImageCmd(const PrntBandInfo* band, uint8_t* buf);               // kRasterImageLen
void GetCoverageCmd_Z(uint32_t imageCoverage, uint8_t* buf);                   // kCoverageLenZ
void GetCoverageCmd_C(PrntPageEndInfo* info, uint32_t imageCoverage, uint8_t* buf);  // kCoverageLenC
void GetImageDataChenksumCmd(uint32_t imageChecksum, uint8_t* buf);            // kImageChecksumLen
void GetTonerParamCmdForAlder(uint8_t* buf);                                   // kTonerParamAlderLen
void GetTonerParamCmdForBirch(uint8_t* buf);                                   // kTonerParamBirchLen
void GetTonerParamCmdForPlatformM(uint8_t* buf);                               // kTonerParamLenM

// Coverage value of the PLATFORM_C coverage record for a dot count.
uint16_t CoverageValue(uint32_t dots, int resolution, int density, int paperWidthMm);

}  // namespace lumora
