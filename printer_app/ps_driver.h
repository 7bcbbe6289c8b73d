// SPDX-License-Identifier: GPL-2.0-or-later
// The PAPPL driver of every Lumora PostScript model: what the printer offers
// (the model's PPD: its papers and custom range, duplex, copies and
// collation, the A5 feed edge), and the print entry that converts each
// document as a CUPS queue of the PPD does and sends it through one
// lumora::PsJob, so the printer gets the bytes pstoLumora sends.
#pragma once

#include <pappl/pappl.h>

#include "ps_drivers.h"

namespace lumora::app {

struct AppContext;

// The PostScript drivers' own document format: every document a client
// sends is converted to it by the print entry (PsFilter), none by PAPPL.
constexpr const char* kPsDriverFormat = "application/vnd.lumora-postscript";

// pappl_pr_driver_cb_t for a PostScript driver; false when driverName is none.
bool PsDriverCallback(const char* driverName, pappl_pr_driver_data_t* data, ipp_t** attrs);

// The PostScript driver of the printer, or nullptr (a raster printer).
const PsDriver* PrinterPsDriver(pappl_printer_t* printer);

// pappl_mime_filter_cb_t of every document format to kPsDriverFormat (data:
// the AppContext).
bool PsFilter(pappl_job_t* job, pappl_device_t* device, void* data);

// Registers PsFilter for every document format the PostScript printers take.
void AddPsFilters(pappl_system_t* system, AppContext& ctx);

}  // namespace lumora::app
