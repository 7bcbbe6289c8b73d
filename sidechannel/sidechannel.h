// SPDX-License-Identifier: GPL-2.0-or-later
// The pre-filter's direct line to the printer, beside the print path:
// finding the device from its URI (USB or network), the keep-alive thread
// of the PDF road and the cancel/status query thread of the PostScript road.
// Everything here belongs to one job (SideJob); nothing is process-wide.
#pragma once

#include "device_line.h"
#include "keepalive_thread.h"
#include "side_job.h"
#include "status_thread.h"

namespace lumora {

}  // namespace lumora
