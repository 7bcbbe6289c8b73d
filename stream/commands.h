// The printer commands of the three dialects: job start, page start, page
// image, page end and job end. Every entry point takes the platform code last
// and, for any other code than PLATFORM_C/Z/M, sends nothing and returns 0.
// On failure the routine prepends its message to prntLastError and returns 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "records.h"

int Prnt_StartDoc(PrntDocInfo* doc, int platform);
int Prnt_StartPage(PrntPageInfo* page, int platform);
int Prnt_SendPage(PrntBandInfo* band, int platform);
int Prnt_EndPage(PrntPageEndInfo* info, int platform);
int Prnt_EndDoc(PrntDocEndInfo* info, int platform);
int SendManualDuplexCmd(int platform);
int SendMachineDuplexCmd(int pageNumber, int oddPages);

// Record builders: fill buf and return 1.
int GetJobSpecCmd_C(const PrntDocInfo* doc, uint8_t* buf);     // 6 bytes
int GetJobSpecCmd_Z(const PrntDocInfo* doc, uint8_t* buf);     // 9 bytes
int GetTonerSaveCmd(const PrntDocInfo* doc, uint8_t* buf);     // 5 bytes
int GetFineModeCmd(const PrntDocInfo* doc, uint8_t* buf);      // 5 bytes
int GetDensityCmd(const PrntDocInfo* doc, uint8_t* buf);       // 5 bytes
int GetSysTimeCmd(uint8_t* buf);                               // 8 bytes
int GetSendTimePJL(char* buf);                                 // 18 chars + NUL
int GetPageSpecCmd(const PrntPageInfo* page, uint8_t* buf, int platform);     // 18 bytes
int GetCustomPaperCmd(const PrntPageInfo* page, uint8_t* buf, int platform);  // 12 bytes
int GetRasterImageCmd(const PrntBandInfo* band, uint8_t* buf);               // 18 bytes
int GetCoverageCmd_Z(uint8_t* buf);                                           // 7 bytes
int GetCoverageCmd_C(PrntPageEndInfo* info, uint8_t* buf);                    // 6 bytes
int GetImageDataChenksumCmd(uint8_t* buf);                                    // 6 bytes
int GetTonerParamCmdForAlder(uint8_t* buf);                                   // 36 bytes
int GetTonerParamCmdForBirch(uint8_t* buf);                                   // 40 bytes
int GetTonerParamCmdForPlatformM(uint8_t* buf);                               // 88 bytes

// Coverage value of the PLATFORM_C coverage record for a dot count.
uint16_t CoverageValue(uint32_t dots, int resolution, int density, int paperWidthMm);

// Image checksum of the last compression pass (PLATFORM_C sends it).
extern uint32_t gImageChecksum;

// Text of the PLATFORM_Z JOBTIME and JOBOWNER lines of the last job start.
extern char pjlPostSendTime[19];
extern char pjlPostComputerName[33];

// Clock and host name read by the job start (time and gethostname); tests
// put fixed ones in their place.
extern time_t (*pfStreamTime)(time_t*);
extern int (*pfStreamHostName)(char* name, size_t len);
