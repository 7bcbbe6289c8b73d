// SPDX-License-Identifier: GPL-2.0-or-later
// What the web pages and the printers show beyond PAPPL's own: the
// application's icon, the test page, the supply levels the printer reports
// (an unknown level said as such), and the mends of PAPPL 1.3.1's media
// and printing-defaults forms (which drop the manual-feed slot and turn
// the automatic source into the tray).
#pragma once

#include <pappl/pappl.h>

#include <thread>

namespace lumora::app {

// The web pages' icons (/favicon.png, /navicon.png), before the system runs.
void AddSystemPages(pappl_system_t* system);

// A printer's own pages in front of PAPPL's: media, printing defaults,
// supplies. Called when a printer is created.
void AddPrinterPages(pappl_printer_t* printer);

// The driver data's icons and test page.
void FillIconsAndTestPage(pappl_pr_driver_data_t* data);

// Asks the printer for its supply levels (network printers: the Printer
// MIB over SNMP) beside the job, in a thread of the job's, and keeps what
// it reports: the job's data does not wait for the answer (PAPPL waits 2 s
// for a printer that does not answer SNMP). A printer that did not answer
// is asked again only after some minutes. The thread is joined when the
// poll goes, which must be before the job's device is closed. (PAPPL
// 1.3.1's network device asks over a socket of its own, apart from the
// job's data; its USB device reports no supplies.)
class SupplyPoll {
 public:
  SupplyPoll(pappl_job_t* job, pappl_device_t* device);
  ~SupplyPoll();
  SupplyPoll(const SupplyPoll&) = delete;
  SupplyPoll& operator=(const SupplyPoll&) = delete;

 private:
  std::thread thread_;
};

}  // namespace lumora::app
