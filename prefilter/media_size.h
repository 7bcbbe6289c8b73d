// SPDX-License-Identifier: GPL-2.0-or-later
// Page-size facts of a maple-family job: the PPD size of its PageSize, the
// range check of custom sizes, and A5 fed long edge first.
#pragma once

#include "ps_job.h"

namespace lumora {

struct PsJobState;

// Printable range of custom sizes, in points, bounds included.
constexpr float kCustomMinWidth = 211.0f;
constexpr float kCustomMaxWidth = 613.0f;
constexpr float kCustomMinHeight = 418.0f;
constexpr float kCustomMaxHeight = 1010.0f;

// The printer's page size of that name as the CUPS library's ppdPageSize
// finds it: a choice named so (ignoring case), or for "Custom.WxH[unit]"
// the custom size of those dimensions when the printer takes custom sizes.
bool FindPageSize(const PsPrinterDescription& printer, const char* name,
                  PsPageSize* size);

// Size of the job's "PageSize" option in the printer's sizes, truncated to
// whole points, into *w and *h. 1 when the job names a PageSize, else 0.
int checkmediasize(PsJobState& job, int unused, int* w, int* h);

// 1 when the job may be printed, 0 when it asks for a custom size whose
// first MediaBox or pdfSetupPaper in the job file is out of range.
int isSupportCustomPageSize(PsJobState& job, const char* options, const char* path);

// The job is A5 paper fed long edge first.
bool isA5PageSize(PsJobState& job, const char* options, const char* path);

}  // namespace lumora
