// SPDX-License-Identifier: GPL-2.0-or-later
// PDF documents: ghostscript renders each page into 8-bit gray at the
// job's resolution and paper size, and the pages go through the same
// raster job as every other document.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace lumora::app {

struct AppDriver;

// The paper a PDF job's pages are rendered on: points and resolution.
struct RenderedPaper {
  int width = 0;
  int height = 0;
  int dpi = 600;
};
RenderedPaper PaperOf(const AppDriver& driver, const pappl_pr_options_t& options, int asked);

// The command line that renders the PDF for the job, which asks for a
// resolution of dpi: `program` (this program) runs ghostscript's library
// as page_renderer.h tells.
std::vector<std::string> GhostscriptArgs(const std::string& program, const AppDriver& driver,
                                         const pappl_pr_options_t& options, int dpi,
                                         const std::string& pdf);

// pappl_mime_filter_cb_t for application/pdf (data: the AppContext).
bool PdfFilter(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace lumora::app
