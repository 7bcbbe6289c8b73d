// SPDX-License-Identifier: GPL-2.0-or-later
// lumora-printer-app: every Lumora raster printer as an IPP Everywhere
// printer, on PAPPL. The sub-commands are PAPPL's ("server", "add",
// "submit", ...); see "lumora-printer-app --help".
#include <csignal>
#include <cstdio>
#include <string>

#include "app_server.h"
#if LUMORA_PAPPL_PRIVATE
#include "pappl_hooks.h"
#endif

int main(int argc, char* argv[]) {
  // A printer that goes away is a write error, not the end of the server.
  signal(SIGPIPE, SIG_IGN);
#if LUMORA_PAPPL_PRIVATE
  const std::string missing = lumora::app::MissingPapplFunctions();
  if (!missing.empty()) {
    fprintf(stderr, "lumora-printer-app: this libpappl lacks %s: the program was built for "
            "PAPPL 1.3.x.\n", missing.c_str());
    return 1;
  }
#endif
  return lumora::app::RunCommand(argc, argv);
}
