// SPDX-License-Identifier: GPL-2.0-or-later
// lumora-printer-app: every Lumora raster printer as an IPP Everywhere
// printer, on PAPPL. The sub-commands are PAPPL's ("server", "add",
// "submit", ...); see "lumora-printer-app --help".
#include <csignal>

#include "app_server.h"

int main(int argc, char* argv[]) {
  // A printer that goes away is a write error, not the end of the server.
  signal(SIGPIPE, SIG_IGN);
  return lumora_app::RunCommand(argc, argv);
}
