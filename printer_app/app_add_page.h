// SPDX-License-Identifier: GPL-2.0-or-later
// The web interface's "Add Printer" page (app_add_page.cpp says how it
// differs from PAPPL's).
#pragma once

#include <pappl/pappl.h>

namespace lumora::app {

// pappl_resource_cb_t of "/addprinter".
bool AddPrinterPage(pappl_client_t* client, void* data);

}  // namespace lumora::app
