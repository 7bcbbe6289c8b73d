// SPDX-License-Identifier: GPL-2.0-or-later
// lumora-printer-app: every Lumora raster printer as an IPP Everywhere
// printer, on PAPPL. The sub-commands are PAPPL's ("server", "add",
// "submit", ...); see "lumora-printer-app --help".
#include <csignal>

#include "app_driver.h"
#include "app_system.h"

int main(int argc, char* argv[]) {
  // A printer that goes away is a write error, not the end of the server.
  signal(SIGPIPE, SIG_IGN);
  lumora_app::AppContext ctx(argc, argv);
  return papplMainloop(argc, argv, lumora_app::kAppVersion, "Lumora printer application",
                       static_cast<int>(ctx.drivers.size()), ctx.drivers.data(),
                       lumora_app::AutoAddCallback, lumora_app::DriverCallback, nullptr, nullptr,
                       lumora_app::SystemCallback, nullptr, &ctx);
}
