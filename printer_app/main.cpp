// SPDX-License-Identifier: GPL-2.0-or-later
// lumora-printer-app: every Lumora raster printer as an IPP Everywhere
// printer, on PAPPL. The sub-commands are PAPPL's ("server", "add",
// "submit", ...); see "lumora-printer-app --help".
#include <dlfcn.h>
#include <pappl/pappl.h>

#include <csignal>
#include <string>

#include "app_server.h"
#include "duplex_wait.h"

// PAPPL 1.3.1 states a printer's printer-state-message from its state
// alone ("Idle."), for Get-Printer-Attributes, Get-Printers and the state
// events. libpappl calls this function of its own through its procedure
// linkage table, so the program's definition (exported, see
// CMakeLists.txt) runs in its place: it calls PAPPL's, then states the
// manual-duplex wait of a waiting printer. The caller holds the printer's
// lock: nothing here takes it.
extern "C" void _papplPrinterCopyStateNoLock(pappl_printer_t* printer, ipp_tag_t group_tag,
                                             ipp_t* ipp, pappl_client_t* client,
                                             cups_array_t* ra) {
  using CopyState = void (*)(pappl_printer_t*, ipp_tag_t, ipp_t*, pappl_client_t*,
                             cups_array_t*);
  static const auto papplCopyState =
      reinterpret_cast<CopyState>(dlsym(RTLD_NEXT, "_papplPrinterCopyStateNoLock"));
  if (papplCopyState) papplCopyState(printer, group_tag, ipp, client, ra);
  ipp_attribute_t* message = ippFindAttribute(ipp, "printer-state-message", IPP_TAG_TEXT);
  if (!message) return;
  const std::string text = lumora_app::WaitingStateMessage(printer);
  if (text.empty()) return;
  // (PAPPL's value is a constant string: ippSetString would keep a pointer
  // to ours.)
  ippDeleteAttribute(ipp, message);
  ippAddString(ipp, group_tag, IPP_TAG_TEXT, "printer-state-message", nullptr, text.c_str());
}

int main(int argc, char* argv[]) {
  // A printer that goes away is a write error, not the end of the server.
  signal(SIGPIPE, SIG_IGN);
  return lumora_app::RunCommand(argc, argv);
}
