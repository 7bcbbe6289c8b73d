// SPDX-License-Identifier: GPL-2.0-or-later
#include "job_settings.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stream/records.h"

namespace lumora {

const RasterModelRow kRasterModels[] = {
#include "raster_models.inc"
};
const int kRasterModelCount = sizeof(kRasterModels) / sizeof(kRasterModels[0]);

FunctionTable DefaultFunctionTable() {
  return FunctionTable{{{"Duplex", 0},
                        {"ManualDuplex", 0},
                        {"Density", 2},
                        {"TonerMode", 0},
                        {"FeedLongEdge", 0},
                        {"outputorder", 0},
                        {"DPI1200", 0},
                        {"NegativePrint", 0},
                        {"InputSlot", 0},
                        {"ImageRotation", 0},
                        {"Collate", 0},
                        {"FineMode", 0}}};
}

namespace {

// The raw 32-bit value of a page-header field. The header comes byte for
// byte from the raster stream, so its enum fields (Duplex, Tumble,
// ManualFeed, Orientation, colour order and space) may hold any number;
// reading them as the enum type would be undefined for values it cannot hold.
template <typename Field>
unsigned HeaderValue(const Field& field) {
  static_assert(sizeof(Field) == sizeof(unsigned), "page header fields are 32-bit");
  unsigned value;
  memcpy(&value, &field, sizeof(value));
  return value;
}

const PaperEntry* TableOfGroup(int group, int* platform) {
  switch (group) {
    case 1: *platform = PLATFORM_C; return gPaperSizeArray_Hazel;
    case 2: *platform = PLATFORM_C; return gPaperSizeArray_HazelMFP;
    case 3: *platform = PLATFORM_Z; return gPaperSizeArray_Cedar_Birch;
    case 4: *platform = PLATFORM_M; return gPaperSizeArray_Elm_Fir;
    default: *platform = PLATFORM_NONE; return nullptr;
  }
}

}  // namespace

const PaperEntry* GetPaperSizeArray(const char* modelName, int* platform) {
  *platform = PLATFORM_NONE;
  if (modelName == nullptr) return nullptr;
  for (int i = 0; i < kRasterModelCount; ++i) {
    if (strcmp(kRasterModels[i].name, modelName) == 0) {
      return TableOfGroup(kRasterModels[i].group, platform);
    }
  }
  return nullptr;
}

void checkOptionKey(std::string& work, const char* jobOptions,
                    const PrinterDescription& printer, LogOutput& log) {
  using Default = std::optional<std::string> PrinterDescription::*;
  // The options whose values the job settings read from the option string
  // (Duplex, the page size and the resolution come in the page header,
  // where the scheduler's raster filters put the queue's defaults). The
  // first six say when the queue lacks them.
  static const struct {
    const char* key;
    Default value;
    bool reportMissing;
  } kDefaults[] = {{"InputSlot", &PrinterDescription::defaultInputSlot, true},
                   {"FeedLongEdge", &PrinterDescription::defaultFeedLongEdge, true},
                   {"TonerMode", &PrinterDescription::defaultTonerMode, true},
                   {"ImageRotation", &PrinterDescription::defaultImageRotation, true},
                   {"NegativePrint", &PrinterDescription::defaultNegativePrint, true},
                   {"Density", &PrinterDescription::defaultDensity, true},
                   {"DPI1200", &PrinterDescription::defaultDPI1200, false},
                   {"Collate", &PrinterDescription::defaultCollate, false},
                   {"FineMode", &PrinterDescription::defaultFineMode, false},
                   {"outputorder", &PrinterDescription::defaultOutputOrder, false}};
  // What the job names itself, in any case and as "noKey", wins.
  cups_option_t* named = nullptr;
  const int numNamed = cupsParseOptions(jobOptions != nullptr ? jobOptions : "", 0, &named);
  for (const auto& d : kDefaults) {
    if (cupsGetOption(d.key, numNamed, named) != nullptr) continue;
    const std::optional<std::string>& value = printer.*d.value;
    if (!value) {
      if (d.reportMissing) Logf(log, "No find %s option\n", d.key);
      continue;
    }
    if (strcmp(d.key, "InputSlot") == 0) {
      // At most 40 characters, as the printer's option text has always been.
      std::string item = " " + *value;
      if (item.size() > 40) item.resize(40);
      Logf(log, "DEBUG: %s\n", item.c_str());
      work += item;
    } else {
      work += std::string(" ") + d.key + "=" + *value;
    }
  }
  cupsFreeOptions(numNamed, named);
}

void GetFunctionValue(FunctionTable& table, int numOptions, cups_option_t* options,
                      const cups_page_header2_t* header, LogOutput& log) {
  int duplex = 0;
  const unsigned tumble = HeaderValue(header->Tumble);
  if (HeaderValue(header->Duplex) == 1) duplex = tumble == 1 ? 2 : (tumble == 0 ? 1 : 0);
  table[kFnDuplex].value = duplex;
  Logf(log, "DEBUG: ##Duplex = %d\n", duplex);

  for (auto& entry : table) {
    const char* v = cupsGetOption(entry.key, numOptions, options);
    if (v == nullptr) continue;
    if (strcmp(entry.key, "Duplex") == 0) {
      if (!strcasecmp(v, "DuplexNoTumble") || !strcasecmp(v, "two-sided-long-edge"))
        entry.value = 1;
      else if (!strcasecmp(v, "DuplexTumble") || !strcasecmp(v, "two-sided-short-edge"))
        entry.value = 2;
      else
        entry.value = 0;
    } else if (strcmp(entry.key, "Density") == 0) {
      entry.value = atoi(v);
    } else if (strcmp(entry.key, "InputSlot") == 0) {
      if (!strcasecmp(v, "ManualFeed")) entry.value = 1;
      else if (!strcasecmp(v, "AutoFeed")) entry.value = 2;
      else entry.value = 0;  // "Auto" and anything unknown
    } else if (!strcasecmp(v, "true")) {
      entry.value = 1;
    }
  }
}

void log_page_header2(const cups_page_header2_t* h, LogOutput& log) {
  Logf(log, "DEBUG: Duplex = %u\n", HeaderValue(h->Duplex));
  Logf(log, "DEBUG: HWResolution = [ %d %d ]\n", h->HWResolution[0], h->HWResolution[1]);
  Logf(log, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", h->ImagingBoundingBox[0],
          h->ImagingBoundingBox[1], h->ImagingBoundingBox[2], h->ImagingBoundingBox[3]);
  Logf(log, "DEBUG: Margins = [ %d %d ]\n", h->Margins[0], h->Margins[1]);
  Logf(log, "DEBUG: ManualFeed = %u\n", HeaderValue(h->ManualFeed));
  Logf(log, "DEBUG: MediaPosition = %d\n", h->MediaPosition);
  Logf(log, "DEBUG: NumCopies = %d\n", h->NumCopies);
  Logf(log, "DEBUG: Orientation = %u\n", HeaderValue(h->Orientation));
  Logf(log, "DEBUG: PageSize = [ %d %d ]\n", h->PageSize[0], h->PageSize[1]);
  Logf(log, "DEBUG: cupsWidth = %d\n", h->cupsWidth);
  Logf(log, "DEBUG: cupsHeight = %d\n", h->cupsHeight);
  Logf(log, "DEBUG: cupsMediaType = %d\n", h->cupsMediaType);
  Logf(log, "DEBUG: cupsBitsPerColor = %d\n", h->cupsBitsPerColor);
  Logf(log, "DEBUG: cupsBitsPerPixel = %d\n", h->cupsBitsPerPixel);
  Logf(log, "DEBUG: cupsBytesPerLine = %d\n", h->cupsBytesPerLine);
  Logf(log, "DEBUG: cupsColorOrder = %u\n", HeaderValue(h->cupsColorOrder));
  Logf(log, "DEBUG: cupsColorSpace = %u\n", HeaderValue(h->cupsColorSpace));
  Logf(log, "DEBUG: cupsCompression = %d\n", h->cupsCompression);
}

void JobSettings::FreeOptions() {
  if (options != nullptr) cupsFreeOptions(numOptions, options);
  options = nullptr;
  numOptions = 0;
}

void GatherJobSettings(JobSettings& s, const PrinterDescription& printer,
                       const char* jobOptions, const cups_page_header2_t* header,
                       LogOutput& log) {
  // 1. Model name, exact.
  s.paperTable = GetPaperSizeArray(printer.modelName.c_str(), &s.platform);

  // 2. The queue's platform attribute, when the model is not in the list.
  if (printer.platform && s.platform == PLATFORM_NONE) {
    const char* text = printer.platform->c_str();
    if (!strcasecmp(text, "PLATFORM_M")) {
      s.paperTable = gPaperSizeArray_Elm_Fir;
      s.platform = PLATFORM_M;
    } else if (!strcasecmp(text, "PLATFORM_C")) {
      s.paperTable = gPaperSizeArray_Hazel;
      s.platform = PLATFORM_C;
    } else if (!strcasecmp(text, "PLATFORM_Z")) {
      s.paperTable = gPaperSizeArray_Cedar_Birch;
      s.platform = PLATFORM_Z;
    }
  }

  // 3. Manual-duplex support (once set, never reset).
  if (printer.supportManualDuplex && s.supportManualDuplex == 0 &&
      !strcasecmp(printer.supportManualDuplex->c_str(), "TRUE")) {
    s.supportManualDuplex = 1;
  }
  Logf(log, "-------SupportManualDuplex is %d\n", s.supportManualDuplex);

  // 4./5. Job options, with the queue's defaults for those the job does not
  // name (every family).
  s.FreeOptions();
  if (jobOptions == nullptr) jobOptions = "";
  std::string work = jobOptions;
  checkOptionKey(work, jobOptions, printer, log);
  s.numOptions = cupsParseOptions(work.c_str(), 0, &s.options);

  // 6. Option values.
  GetFunctionValue(s.fn, s.numOptions, s.options, header, log);

  // 7.
  Logf(log, "DEBUG: ##platform = %d, ##autoduplex = %d\n", s.platform, s[kFnDuplex]);

  // 8. A PLATFORM_Z device with manual duplex never gets automatic duplex.
  if (s[kFnDuplex] != 0 && s.platform == PLATFORM_Z && s.supportManualDuplex == 1) {
    if (s[kFnDuplex] == 2) s.manualDuplexType = 1;
    s[kFnManualDuplex] = 1;
    s[kFnDuplex] = 0;
    Logf(log, "DEBUG: ##ManualDuplex = %d, type is %d\n", s[kFnManualDuplex],
                 s.manualDuplexType);
  }

  // 9. The prompt shown before the second pass.
  if (s[kFnManualDuplex] == 1) s.manualDuplexPrompt = printer.manualDuplexPrompt.value_or("");

  // 10.
  if (s[kFnDpi1200] == 1 && s.platform == PLATFORM_M) s.dpi1200M = 1;
}

}  // namespace lumora
