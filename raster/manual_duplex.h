// Page data that must reach the printer more than once or in another order
// than the raster delivers it: collated copies, manual (two-pass) duplex and
// blank back sides. Pages are held in spool files that the output sink fills
// (gCollateFile, gManualDuplexOddFile, gManualDuplexEvenFile); the files are
// unlinked as soon as they are created, so none is ever left behind, even
// when the filter is killed.
#pragma once

#include <cups/raster.h>

#include <csignal>

#include "stream/records.h"

struct JobSettings;

// Creates the collate spool file. Returns 1 on success.
int CreateCollateFile();
// Creates the odd and even page spool files and stops sending to the
// device. Returns 1 on success; on failure writes "%s file open fail" with the
// file's name into the job stream (and an ERROR line) and returns 0.
int CreateManualDuplexFiles();
// Routes a page of a manual-duplex job: front sides (odd pages) go to the
// device and the odd file, back sides only to the even file.
void RouteManualDuplexPage(int page);

// Sends the collate file jobCopies - 1 more times.
void ReplayCollate(int jobCopies, const volatile sig_atomic_t* canceled);
// The second half of a manual-duplex job: front sides of the remaining
// copies, the manual-duplex command, then the back sides in reverse order.
void ReplayManualDuplex(const JobSettings& s, int jobCopies, const cups_page_header2_t& header,
                        PrntPageInfo* lastPage, const volatile sig_atomic_t* canceled);

// Sends one blank page numbered g_page + 1 with the last page's settings.
int InsertBlankPage(cups_page_header2_t header, PrntPageInfo* page, int platform);

// Closes every spool file still open.
void CloseSpoolFiles();
