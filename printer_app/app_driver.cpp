// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_driver.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app_auth.h"
#include "app_file_device.h"
#include "app_pages.h"
#include "app_strings.h"
#include "app_system.h"
#include "ps_driver.h"
#include "raster_adapter.h"

namespace lumora::app {

namespace {

// hundredths of millimetres from points.
int Hmm(double points) { return static_cast<int>(std::ceil(points * 2540.0 / 72.0 - 1e-6)); }

const char* const kVendorNames[] = {kTonerSave, kFineMode, kNegativePrint, kRotate180,
                                    kA5LongEdgeFeed};

// The vendor option of the job (printer default merged in by PAPPL) is true.
bool VendorTrue(const pappl_pr_options_t& options, const char* name) {
  for (int i = 0; i < options.num_vendor; i++) {
    if (strcmp(options.vendor[i].name, name) == 0) {
      return strcasecmp(options.vendor[i].value, "true") == 0;
    }
  }
  return false;
}

const char* InputSlotChoice(const char* source) {
  if (strcmp(source, "manual") == 0) return "ManualFeed";
  if (strcmp(source, "tray-1") == 0) return "AutoFeed";
  return "Auto";
}

// A paper in a source, with the driver's margins (PAPPL takes no others).
pappl_media_col_t MediaCol(const AppPaper& paper, const char* source,
                           const pappl_pr_driver_data_t& data) {
  pappl_media_col_t col{};
  papplCopyString(col.size_name, paper.pwgName, sizeof(col.size_name));
  papplCopyString(col.source, source, sizeof(col.source));
  papplCopyString(col.type, "stationery", sizeof(col.type));
  col.size_width = static_cast<int>(std::lround(paper.width * 2540.0 / 72.0));
  col.size_length = static_cast<int>(std::lround(paper.height * 2540.0 / 72.0));
  col.left_margin = col.right_margin = data.left_right;
  col.bottom_margin = col.top_margin = data.bottom_top;
  return col;
}

// Media: every paper of the PPD and its custom range. PAPPL has one set of
// margins for every paper: those of the paper that needs the widest, so
// that no client draws outside the image the printer takes of any paper.
void FillMedia(const AppDriver& driver, pappl_pr_driver_data_t* data) {
  float side = 0, vertical = 0;
  data->num_media = 0;
  for (const AppPaper& p : driver.papers) {
    data->media[data->num_media++] = p.pwgName;
    side = std::max({side, p.margins[0], p.margins[2]});
    vertical = std::max({vertical, p.margins[1], p.margins[3]});
  }
  // The custom size range of the PPD.
  static_assert(kPaperCount + 2 <= PAPPL_MAX_MEDIA, "media list");
  data->media[data->num_media++] = driver.customMin;
  data->media[data->num_media++] = driver.customMax;
  data->left_right = Hmm(side);
  data->bottom_top = Hmm(vertical);
  data->borderless = false;
  const AppPaper* def = FindPaper(driver, driver.defaultMedia);
  if (!def) def = &driver.papers[0];
  // PAPPL offers "auto" of its own next to the sources.
  data->num_source = 0;
  for (int i = 0; i < SourceCount(driver); i++) {
    if (strcmp(driver.sources[i], "auto") == 0) continue;
    data->media_ready[data->num_source] = MediaCol(*def, driver.sources[i], *data);
    data->source[data->num_source++] = driver.sources[i];
  }
  data->media_default = MediaCol(*def, "auto", *data);
  data->num_type = 1;
  data->type[0] = "stationery";
}

void FillDuplex(const AppDriver& driver, pappl_pr_driver_data_t* data) {
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  if (driver.duplex == kOneSided) {
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    return;
  }
  // Back sides come as the client renders them; the job turns them for the
  // paper path, as it does for the pages CUPS renders with the PPD.
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported =
      PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
}

void FillVendor(pappl_system_t* system, pappl_pr_driver_data_t* data, ipp_t** attrs) {
  *attrs = ippNew();
  data->num_vendor = 0;
  for (const char* name : kVendorNames) {
    data->vendor[data->num_vendor++] = name;
    std::string key = name;
    ippAddBoolean(*attrs, IPP_TAG_PRINTER, (key + "-default").c_str(), 0);
    ippAddBoolean(*attrs, IPP_TAG_PRINTER, (key + "-supported").c_str(), 1);
  }
  // Get-Printer-Attributes knows no preferred attributes; gray pages take no
  // rendering intent.
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
               nullptr, "auto");
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
               nullptr, "auto");
  // Names of the options and values in the server's language.
  AddStringsAttributes(system, *attrs);
}


void FillCallbacks(pappl_pr_driver_data_t* data) {
  data->rstartjob_cb = RasterStartJob;
  data->rstartpage_cb = RasterStartPage;
  data->rwriteline_cb = RasterWriteLine;
  data->rendpage_cb = RasterEndPage;
  data->rendjob_cb = RasterEndJob;
}

}  // namespace

int OfferedResolutions(const AppDriver& driver, int* out) {
  int n = ResolutionCount(driver);
  for (int i = 0; i < n; i++) out[i] = driver.resolutions[i];
  if (driver.dpi1200 && out[n - 1] < 1200) out[n++] = 1200;
  return n;
}

void CreateCallback(pappl_printer_t* printer, void* /*data*/) {
  GuardPrinterPage(printer);
  AddPrinterPages(printer);
  // Until the printer reports its supplies (PollSupplies): one toner
  // supply of unknown level.
  pappl_supply_t toner{};
  toner.color = PAPPL_SUPPLY_COLOR_BLACK;
  papplCopyString(toner.description, "Black Toner", sizeof(toner.description));
  toner.is_consumed = true;
  toner.level = -2;  // the Printer MIB's "unknown"
  toner.type = PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE;
  papplPrinterSetSupplies(printer, 1, &toner);
}

void FillCommonDriverData(pappl_pr_driver_data_t* data) {
  data->ppm = 20;
  data->has_supplies = true;
  data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE | PAPPL_KIND_POSTCARD;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  // Identify-Printer (IPP Everywhere requires it): the printers have no
  // command to show or sound anything; the request goes to the printer's
  // log and events, and the web page does not offer it (app_strings.h).
  data->identify_cb = [](pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
    const char* text = message && *message ? message : "Identify-Printer";
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify: %s", text);
  };
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  FillIconsAndTestPage(data);
  // Clients' raster: 8-bit gray only.
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
}

bool DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* /*deviceId*/, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbData) {
  // Every printer, added or loaded from the state, comes through here.
  const auto* ctx = static_cast<const AppContext*>(cbData);
  std::string refusal = DeviceRefusal(deviceUri, ctx ? ctx->fileDirectory : "");
  if (!refusal.empty()) {
    if (system) papplLog(system, PAPPL_LOGLEVEL_ERROR, "Device '%s' refused: %s.", deviceUri,
                         refusal.c_str());
    return false;
  }
  const AppDriver* driver = FindAppDriver(driverName ? driverName : "");
  if (!driver) return PsDriverCallback(driverName, data, attrs);
  data->extension = const_cast<AppDriver*>(driver);
  FillCallbacks(data);
  papplCopyString(data->make_and_model, driver->modelName, sizeof(data->make_and_model));
  // A driver format of its own: PAPPL sends documents it cannot convert to
  // the driver's raw callback, and a job of this format is a ready stream.
  data->format = kRawFormat;
  data->printfile_cb = PrintRawFile;
  FillCommonDriverData(data);
  data->num_resolution = OfferedResolutions(*driver, data->x_resolution);
  for (int i = 0; i < data->num_resolution; i++) data->y_resolution[i] = data->x_resolution[i];
  data->x_default = data->y_default = 600;
  FillDuplex(*driver, data);
  FillMedia(*driver, data);
  data->darkness_supported = kDensityLevels;
  data->darkness_configured = 50;
  data->darkness_default = 0;
  FillVendor(system, data, attrs);
  return true;
}

const char* AutoAddCallback(const char* /*deviceInfo*/, const char* /*deviceUri*/,
                            const char* deviceId, void* /*data*/) {
  const AppDriver* driver = MatchAppDriver(deviceId ? deviceId : "");
  if (driver) return driver->name;
  const PsDriver* ps = MatchPsDriver(deviceId ? deviceId : "");
  return ps ? ps->name : nullptr;
}

std::string JobMediaSource(pappl_job_t* job) {
  if (ipp_attribute_t* attr = papplJobGetAttribute(job, "media-col")) {
    ipp_t* col = ippGetCollection(attr, 0);
    ipp_attribute_t* source = col ? ippFindAttribute(col, "media-source", IPP_TAG_ZERO) : nullptr;
    const char* name = source ? ippGetString(source, 0, nullptr) : nullptr;
    if (name && *name) return name;
  }
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return data.media_default.source[0] ? data.media_default.source : "auto";
}

int DensityLevel(int darknessConfigured, int printDarkness) {
  int darkness = std::clamp(darknessConfigured + printDarkness, 0, 100);
  return (darkness * (kDensityLevels - 1) + 50) / 100;
}

std::string JobOptionString(const AppDriver& driver, const pappl_pr_options_t& options,
                            bool dpi1200) {
  std::string s;
  auto add = [&s](const std::string& item) { s += (s.empty() ? "" : " ") + item; };
  if (driver.duplex != kOneSided) {
    if (options.sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE) add("Duplex=DuplexNoTumble");
    else if (options.sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE) add("Duplex=DuplexTumble");
    else add("Duplex=None");
  }
  add("Density=" + std::to_string(DensityLevel(options.darkness_configured, options.print_darkness)));
  add(std::string("InputSlot=") + InputSlotChoice(options.media.source));
  const std::pair<const char*, const char*> vendorKeys[] = {
      {kTonerSave, "TonerMode"}, {kFineMode, "FineMode"}, {kNegativePrint, "NegativePrint"},
      {kRotate180, "ImageRotation"}, {kA5LongEdgeFeed, "FeedLongEdge"}};
  for (const auto& [vendor, key] : vendorKeys) {
    if (VendorTrue(options, vendor)) add(std::string(key) + "=True");
  }
  if (driver.dpi1200 && dpi1200) add("DPI1200=True");
  if (options.copies > 1) add("Collate=True");
  return s;
}

namespace {

bool Offered(const AppDriver& driver, unsigned dpi) {
  int res[kMaxResolutions + 1];
  int n = OfferedResolutions(driver, res);
  return std::find(res, res + n, static_cast<int>(dpi)) != res + n;
}

// The header's colour space as the number the stream holds: a client may
// send any 32-bit value, most of them no cups_cspace_t.
unsigned ColorSpace(const cups_page_header2_t& h) {
  unsigned value;
  static_assert(sizeof(value) == sizeof(h.cupsColorSpace), "colour space field");
  memcpy(&value, &h.cupsColorSpace, sizeof(value));
  return value;
}

// The raster's width (or height) in pixels fits the page size in points.
bool Fits(unsigned pixels, unsigned points, unsigned dpi) {
  double expected = points * static_cast<double>(dpi) / 72.0;
  return std::fabs(pixels - expected) <= 2.0 * dpi / 72.0;
}

}  // namespace

std::string CheckPageHeader(const AppDriver& driver, const cups_page_header2_t& h) {
  char why[256];
  if (h.cupsBitsPerColor != 8 || h.cupsBitsPerPixel != 8) {
    snprintf(why, sizeof(why), "%u-bit raster (%u bits per pixel) where 8-bit gray was announced",
             h.cupsBitsPerColor, h.cupsBitsPerPixel);
  } else if (ColorSpace(h) != CUPS_CSPACE_SW && ColorSpace(h) != CUPS_CSPACE_W) {
    snprintf(why, sizeof(why), "colour space %u where 8-bit gray was announced", ColorSpace(h));
  } else if (h.HWResolution[0] != h.HWResolution[1] || !Offered(driver, h.HWResolution[0])) {
    snprintf(why, sizeof(why), "resolution %ux%u dpi is not offered", h.HWResolution[0],
             h.HWResolution[1]);
  } else if (h.PageSize[0] == 0 || h.PageSize[1] == 0 || h.PageSize[0] > kMaxPagePoints ||
             h.PageSize[1] > kMaxPagePoints) {
    snprintf(why, sizeof(why), "page size %ux%u points is out of range", h.PageSize[0],
             h.PageSize[1]);
  } else if (h.cupsWidth == 0 || h.cupsHeight == 0 || h.cupsBytesPerLine != h.cupsWidth ||
             !Fits(h.cupsWidth, h.PageSize[0], h.HWResolution[0]) ||
             !Fits(h.cupsHeight, h.PageSize[1], h.HWResolution[1])) {
    snprintf(why, sizeof(why), "raster of %ux%u pixels (%u bytes per line) does not fit a %ux%u "
             "point page at %u dpi", h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine,
             h.PageSize[0], h.PageSize[1], h.HWResolution[0]);
  } else {
    return "";
  }
  return why;
}

}  // namespace lumora::app
