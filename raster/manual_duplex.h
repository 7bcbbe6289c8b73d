// SPDX-License-Identifier: GPL-2.0-or-later
// Page data that must reach the printer more than once or in another order
// than the raster delivers it: collated copies, manual (two-pass) duplex and
// blank back sides. Pages are held in the job's spool files, which the
// output sink fills; the files are unlinked as soon as they are created, so
// none is ever left behind, even when the process is killed.
#pragma once

#include <cups/raster.h>

#include "command_stream.h"
#include "records.h"

namespace lumora {

struct RasterJobState;
enum class JobEnding;

// Creates the collate spool file. False (the job failed, nothing more is
// sent) when it cannot.
bool CreateCollateFile(RasterJobState& job);
// Creates the odd and even page spool files and stops sending to the
// device. On failure writes "%s file open fail" with the file's name into
// the job stream and fails the job, which ends as `how` says; false then.
bool CreateManualDuplexFiles(RasterJobState& job, JobEnding how);
// Routes a page of a manual-duplex job: front sides (odd pages) go to the
// device and the odd file, back sides only to the even file.
void RouteManualDuplexPage(RasterJobState& job, int page);

// Sends the collate file jobCopies - 1 more times, a page at a time; a
// cancel stops it between pages.
void ReplayCollate(RasterJobState& job);
// The second half of a manual-duplex job: the prompt, the front sides of
// the remaining copies, the manual-duplex command, then the back sides in
// reverse order; a cancel stops it between pages.
void ReplayManualDuplex(RasterJobState& job);

// Closes every spool file still open.
void CloseSpoolFiles(RasterJobState& job);

// Sends one blank page numbered job.route.page + 1 with the last page's
// settings, encoded as the pages of header's resolution, along the job's
// route. Its failures are reported into the stream; the job goes on.
void InsertBlankPage(CommandStream& job, const cups_page_header2_t& header, PrntPageInfo* page,
                     int platform);

}  // namespace lumora
