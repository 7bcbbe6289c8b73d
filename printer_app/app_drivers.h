// SPDX-License-Identifier: GPL-2.0-or-later
// The printer application's drivers: one per raster model, generated from
// ppd/models.tsv by tools/gen_app_drivers.py out of the same PPD text that
// rastertoLumora reads, so that a printer of the application is described to
// the raster job exactly as its queue's PPD describes it to the filter.
#pragma once

#include <string>

#include "raster_job.h"

namespace lumora::app {

enum DuplexKind { kOneSided, kDuplexUnit, kManualDuplex };

constexpr int kPaperCount = 23;
constexpr int kMaxResolutions = 2;
constexpr int kMaxSources = 3;

// One paper of the model's PPD.
struct AppPaper {
  const char* ppdName;    // PageSize choice ("A4")
  const char* pwgName;    // PWG self-describing name ("iso_a4_210x297mm")
  int width, height;      // points, as a raster header states them
  float margins[4];       // left, bottom, right, top (points): outside the printer's image
};

struct AppDriver {
  const char* name;           // "lumora_cedar_c300"
  const char* description;    // "Lumora Cedar C300"
  const char* deviceId;       // the PPD's *1284DeviceID
  const char* modelName;      // *ModelName
  const char* platform;       // cupsIPPReason texts, or nullptr
  const char* supportManualDuplex;
  const char* manualDuplexPrompt;
  float customMargins[4];     // *HWMargins: left, bottom, right, top
  const char* defaultInputSlot;  // "InputSlot=Auto"
  const char* defaultFeedLongEdge;
  const char* defaultTonerMode;
  const char* defaultImageRotation;
  const char* defaultNegativePrint;
  const char* defaultDensity;
  int group;                  // 1 Hazel, 2 Hazel MFP, 3 Cedar/Birch, 4 Elm/Fir
  DuplexKind duplex;
  bool dpi1200;               // the PPD offers DPI1200
  int resolutions[kMaxResolutions];  // raster resolutions of the PPD (0 = none)
  const char* sources[kMaxSources];  // media-source keywords of the InputSlot choices
  const char* defaultMedia;   // PWG name of the PPD's default PageSize
  const char* customMin;      // PWG names of the smallest and largest custom size
  const char* customMax;
  AppPaper papers[kPaperCount];
};

extern const AppDriver kAppDrivers[];
extern const int kAppDriverCount;

// The driver of that name, or nullptr.
const AppDriver* FindAppDriver(const std::string& name);
// The driver whose printer reports this IEEE-1284 device id (its maker and
// model), or nullptr.
const AppDriver* MatchAppDriver(const std::string& deviceId);
// What rastertoLumora would read from the model's PPD.
lumora::PrinterDescription DescribePrinter(const AppDriver& driver);
// The paper of that PWG name, or nullptr.
const AppPaper* FindPaper(const AppDriver& driver, const std::string& pwgName);
// Number of raster resolutions.
int ResolutionCount(const AppDriver& driver);
int SourceCount(const AppDriver& driver);

}  // namespace lumora::app
