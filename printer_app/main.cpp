// SPDX-License-Identifier: GPL-2.0-or-later
// lumora-printer-app: every Lumora raster printer as an IPP Everywhere
// printer, on PAPPL. The sub-commands are PAPPL's ("server", "add",
// "submit", ...); see "lumora-printer-app --help".
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "app_server.h"
#include "page_renderer.h"
#if LUMORA_PAPPL_PRIVATE
#include "pappl_hooks.h"
#endif

int main(int argc, char* argv[]) {
  // A printer that goes away is a write error, not the end of the server.
  signal(SIGPIPE, SIG_IGN);
  if (argc > 1 && strcmp(argv[1], lumora::app::kRenderCommand) == 0) {
    // A PDF job's renderer. Ghostscript's library keeps some of its memory
    // to the end of the process: no leak report at exit.
    const int status = lumora::app::RunPageRenderer(argc - 2, argv + 2);
    fflush(nullptr);
    _exit(status);
  }
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
