// SPDX-License-Identifier: GPL-2.0-or-later
// Network printer discovery (mDNS through avahi-daemon) and the "Add
// Printer" page that lists what it finds. PAPPL 1.3.1 browses with a null
// avahi client where the system has no D-Bus or avahi: avahi asserts and
// the whole server aborts. The application serves the page itself there,
// saying why discovery is unavailable and how to add a printer by address.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace lumora_app {

// Why network discovery cannot run here ("" when it can).
std::string DiscoveryUnavailable();

// Puts the application's handler at "/addprinter" (before PAPPL adds its
// own, which it then serves where discovery can run).
void GuardAddPrinterPage(pappl_system_t* system);

}  // namespace lumora_app
