// SPDX-License-Identifier: GPL-2.0-or-later
// The server's definitions of PAPPL 1.3.1 functions (pappl_hooks.cpp),
// built only against PAPPL 1.3.x.
#pragma once

#include <string>

namespace lumora::app {

// The PAPPL functions the server's definitions call that this libpappl
// lacks ("" when it has them all).
std::string MissingPapplFunctions();

}  // namespace lumora::app
