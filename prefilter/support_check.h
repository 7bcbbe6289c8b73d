// SPDX-License-Identifier: GPL-2.0-or-later
// Which printers the pre-filter serves: the IEEE-1284 device id asked of the
// backend over the CUPS side channel, and the compiled-in model tables
// (generated from ppd/models.tsv), with the PPD's ShortNickName as fallback.
#pragma once

#include <cstddef>

#include "ps_job.h"

namespace lumora {

struct PsJobState;

constexpr size_t kModelFieldSize = 64;

// Device-id items of every supported model: "MFG:Lumora;", "MDL:<D> series;",
// "CLS:PRINTER;".
extern const char SupportDeviceID[][3][kModelFieldSize];
extern const size_t kSupportDeviceIDRows;
// PPD nicknames of every supported model: "Lumora <D> Series PS".
extern const char support_printerinfo[][kModelFieldSize];
extern const size_t kSupportPrinterInfoRows;
// Bare model codes of the maple family.
extern const char maple_printerinfo[][kModelFieldSize];
extern const size_t kMaplePrinterInfoRows;
// Device-id items and PPD nicknames of the Larch platform (PDF jobs).
extern const char Larch_1284info[][3][kModelFieldSize];
extern const size_t kLarch1284InfoRows;
extern const char* const Larch_printerinfo[];  // ends with a null entry

// Asks the printer for its device id (the job's deviceId hook). On entry
// *len is the capacity of buf (at most its size minus one); on success buf
// holds the id, NUL-terminated, and *len its length. On failure buf is
// emptied. Once a query of the job went unanswered for the whole time-out,
// later ones fail at once.
bool query1284info(PsJobState& job, char* buf, int* len);

// Supported printer? Sets *maple (never clears it) for the maple family.
// Without a valid device id the printer's ShortNickName decides.
bool isSupportPrinter(const PsPrinterDescription& printer, LogOutput& log,
                      const char* deviceId, bool deviceIdValid, bool* maple);

// A model of the Larch platform?
bool isLarchPrinter(const PsPrinterDescription& printer, LogOutput& log,
                    const char* deviceId, bool deviceIdValid);

}  // namespace lumora
