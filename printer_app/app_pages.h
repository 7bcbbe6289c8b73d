// SPDX-License-Identifier: GPL-2.0-or-later
// What the web pages and the printers show beyond PAPPL's own: the
// application's icon, the test page, the supply levels the printer reports
// (an unknown level said as such), and the mends of PAPPL 1.3.1's media
// and printing-defaults forms (which drop the manual-feed slot and turn
// the automatic source into the tray).
#pragma once

#include <pappl/pappl.h>

namespace lumora_app {

// The web pages' icons (/favicon.png, /navicon.png), before the system runs.
void AddSystemPages(pappl_system_t* system);

// A printer's own pages in front of PAPPL's: media, printing defaults,
// supplies. Called when a printer is created.
void AddPrinterPages(pappl_printer_t* printer);

// The driver data's icons and test page.
void FillIconsAndTestPage(pappl_pr_driver_data_t* data);

// Asks the printer for its supply levels (network printers: the Printer
// MIB over SNMP) and keeps what it reports; a printer that did not answer
// is asked again only after some minutes, so that its jobs do not wait.
void PollSupplies(pappl_job_t* job, pappl_device_t* device);

}  // namespace lumora_app
