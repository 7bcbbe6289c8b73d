// SPDX-License-Identifier: GPL-2.0-or-later
// Job settings of the raster filter, gathered for every page: the printer
// family (platform) and its paper table, manual-duplex support, and the
// twelve job options taken from the option string, the page header and the
// queue's defaults.
#pragma once

#include <cups/cups.h>
#include <cups/raster.h>

#include <array>
#include <cstdint>
#include <string>

#include "byte_output.h"
#include "paper_tables.h"
#include "raster_job.h"

namespace lumora {

struct FunctionEntry {
  const char* key;
  int32_t value;
};

enum FunctionIndex {
  kFnDuplex,         // 0 one-sided, 1 long edge, 2 short edge
  kFnManualDuplex,   // 1 = two-pass manual duplex
  kFnDensity,
  kFnTonerMode,      // 1 = toner save
  kFnFeedLongEdge,   // 1 = A5 fed long edge first
  kFnOutputOrder,    // manual duplex: blank back side before (0) or after (1)
  kFnDpi1200,
  kFnNegativePrint,
  kFnInputSlot,      // 0 auto, 1 manual feed, 2 auto feed
  kFnImageRotation,  // 1 = half turn of the pages
  kFnCollate,
  kFnFineMode,
  kFnCount
};

using FunctionTable = std::array<FunctionEntry, kFnCount>;

// The constant template every job starts from.
FunctionTable DefaultFunctionTable();

// Raster model list: model name, group 1..4, duplex kind, 1200 dpi.
struct RasterModelRow {
  const char* name;
  int group;
  const char* duplex;
  int dpi1200;
};
extern const RasterModelRow kRasterModels[];
extern const int kRasterModelCount;

// Table and platform of the model name (exact, case-sensitive), or none/0.
const PaperEntry* GetPaperSizeArray(const char* modelName, int* platform);

// Appends " key=choice" to work for each queue default (InputSlot,
// FeedLongEdge, TonerMode, ImageRotation, NegativePrint, Density, DPI1200,
// Collate, FineMode, outputorder) that the job's options do not name (in
// any case, or as "noKey").
void checkOptionKey(std::string& work, const char* jobOptions,
                    const PrinterDescription& printer, LogOutput& log);

void GetFunctionValue(FunctionTable& table, int numOptions, cups_option_t* options,
                      const cups_page_header2_t* header, LogOutput& log);

void log_page_header2(const cups_page_header2_t* header, LogOutput& log);

// Everything the page loop keeps between pages.
struct JobSettings {
  int platform = 0;
  const PaperEntry* paperTable = nullptr;
  FunctionTable fn = DefaultFunctionTable();
  int supportManualDuplex = 0;
  int manualDuplexType = 0;
  int dpi1200M = 0;
  std::string manualDuplexPrompt;
  // Options of the current page (parsed afresh for every page).
  int numOptions = 0;
  cups_option_t* options = nullptr;

  JobSettings() = default;
  JobSettings(const JobSettings&) = delete;
  JobSettings& operator=(const JobSettings&) = delete;
  ~JobSettings() { FreeOptions(); }
  void FreeOptions();
  int32_t& operator[](FunctionIndex i) { return fn[i].value; }
  int32_t operator[](FunctionIndex i) const { return fn[i].value; }
};

// Gathers the settings for one page, in the order the page loop needs them.
void GatherJobSettings(JobSettings& s, const PrinterDescription& printer,
                       const char* jobOptions, const cups_page_header2_t* header,
                       LogOutput& log);

}  // namespace lumora
