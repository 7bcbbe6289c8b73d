// SPDX-License-Identifier: GPL-2.0-or-later
// The PAPPL driver of every Lumora raster model: what the printer offers
// (driver data and attributes), and the raster callbacks that drive one
// lumora::RasterJob per PAPPL job, so the job stream is the one
// rastertoLumora writes for the same raster and options.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "app_drivers.h"

namespace lumora::app {

// Names of the vendor attributes (each has "-default" and "-supported").
constexpr const char* kTonerSave = "toner-save";
constexpr const char* kFineMode = "fine-mode";
constexpr const char* kNegativePrint = "negative-print";
constexpr const char* kRotate180 = "rotate-180";
constexpr const char* kA5LongEdgeFeed = "a5-long-edge-feed";

// Darkness levels: print-darkness maps onto the five densities 0..4.
constexpr int kDensityLevels = 5;
// Largest page side taken from a client, in points (the longest paper is
// 1008 points long; two points of rounding allowed).
constexpr unsigned kMaxPagePoints = 1010;

// What every Lumora driver's data holds alike (raster and PostScript
// models): speed, kinds, colour, defaults, Identify-Printer, icons and
// test page, the clients' raster type.
void FillCommonDriverData(pappl_pr_driver_data_t* data);

// pappl_pr_driver_cb_t: fills the driver data of a printer of this driver.
bool DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbData);

// pappl_pr_create_cb_t: what a new printer starts with (its toner supply).
void CreateCallback(pappl_printer_t* printer, void* data);

// pappl_pr_autoadd_cb_t: the driver of a connected printer, or nullptr.
const char* AutoAddCallback(const char* deviceInfo, const char* deviceUri,
                            const char* deviceId, void* data);

// The option string rastertoLumora would get for the job's choices, e.g.
// "Duplex=DuplexNoTumble Density=3 InputSlot=ManualFeed TonerMode=True";
// dpi1200: the job prints at 1200 dpi (on models that can).
std::string JobOptionString(const AppDriver& driver, const pappl_pr_options_t& options,
                            bool dpi1200);

// The paper source of the job: the media-source of its media-col, else the
// printer's default source ("auto" unless changed). A job naming only a
// size does not go to whichever source holds that paper: PAPPL's pick,
// the first such source, is the manual slot on every raster model.
std::string JobMediaSource(pappl_job_t* job);

// Density 0..4 from printer-darkness-configured and the job's print-darkness.
int DensityLevel(int darknessConfigured, int printDarkness);

// Why the page cannot be printed, or "" when the driver takes it: the
// raster must be what the driver announced (8-bit gray at one of its
// resolutions, lines as wide as the page) and of a sane size.
std::string CheckPageHeader(const AppDriver& driver, const cups_page_header2_t& header);

// The driver's raster resolutions as offered to clients: the PPD's, and
// 1200 dpi on models with 1200 dpi output whose raster stays at 600 dpi
// (such pages are halved to 600 dpi and printed with DPI1200).
int OfferedResolutions(const AppDriver& driver, int* out);

}  // namespace lumora::app
