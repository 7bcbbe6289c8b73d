// SPDX-License-Identifier: GPL-2.0-or-later
// PDF documents: ghostscript renders each page into 8-bit gray PWG raster
// at the job's resolution and paper size, and the pages go through the same
// raster job as every other document.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace lumora::app {

struct AppDriver;

// The ghostscript command line that renders the PDF for the job, which
// asks for a resolution of dpi.
std::vector<std::string> GhostscriptArgs(const std::string& gs, const AppDriver& driver,
                                         const pappl_pr_options_t& options, int dpi,
                                         const std::string& pdf);

// pappl_mime_filter_cb_t for application/pdf (data: the AppContext).
bool PdfFilter(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace lumora::app
