// SPDX-License-Identifier: GPL-2.0-or-later
// The printer commands of the three dialects: job start, page start, page
// image, page end and job end. Every entry point takes the job's command
// stream first and the platform code last and, for any other code than
// PLATFORM_C/Z/M, sends nothing and returns 0. On failure the routine puts
// its message in front of the job's failure text and returns 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "command_stream.h"
#include "records.h"

int Prnt_StartDoc(CommandStream& job, PrntDocInfo* doc, int platform);
int Prnt_StartPage(CommandStream& job, PrntPageInfo* page, int platform);
int Prnt_SendPage(CommandStream& job, PrntBandInfo* band, int platform);
int Prnt_EndPage(CommandStream& job, PrntPageEndInfo* info, int platform);
int Prnt_EndDoc(CommandStream& job, PrntDocEndInfo* info, int platform);
int SendManualDuplexCmd(CommandStream& job, int platform);
int SendMachineDuplexCmd(CommandStream& job, int pageNumber, int oddPages);

// Record builders: fill buf and return 1.
int GetJobSpecCmd_C(const PrntDocInfo* doc, uint8_t* buf);     // 6 bytes
int GetJobSpecCmd_Z(const PrntDocInfo* doc, uint8_t* buf);     // 9 bytes
int GetTonerSaveCmd(const PrntDocInfo* doc, uint8_t* buf);     // 5 bytes
int GetFineModeCmd(const PrntDocInfo* doc, uint8_t* buf);      // 5 bytes
int GetDensityCmd(const PrntDocInfo* doc, uint8_t* buf);       // 5 bytes
int GetSysTimeCmd(const CommandStream& job, uint8_t* buf);     // 8 bytes, the job's clock
int GetSendTimePJL(const CommandStream& job, char* buf);       // 18 chars + NUL
int GetPageSpecCmd(const PrntPageInfo* page, uint8_t* buf, int platform);     // 18 bytes
int GetCustomPaperCmd(const PrntPageInfo* page, uint8_t* buf, int platform);  // 12 bytes
int GetRasterImageCmd(const PrntBandInfo* band, uint8_t* buf);               // 18 bytes
int GetCoverageCmd_Z(uint32_t imageCoverage, uint8_t* buf);                   // 7 bytes
int GetCoverageCmd_C(PrntPageEndInfo* info, uint32_t imageCoverage, uint8_t* buf);  // 6 bytes
int GetImageDataChenksumCmd(uint32_t imageChecksum, uint8_t* buf);            // 6 bytes
int GetTonerParamCmdForAlder(uint8_t* buf);                                   // 36 bytes
int GetTonerParamCmdForBirch(uint8_t* buf);                                   // 40 bytes
int GetTonerParamCmdForPlatformM(uint8_t* buf);                               // 88 bytes

// Coverage value of the PLATFORM_C coverage record for a dot count.
uint16_t CoverageValue(uint32_t dots, int resolution, int density, int paperWidthMm);
