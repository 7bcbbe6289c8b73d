// SPDX-License-Identifier: GPL-2.0-or-later
#include "pdf_filter.h"

#include <cups/raster.h>
#include <cmath>
#include <memory>

#include "app_drivers.h"
#include "app_system.h"
#include "job_gate.h"
#include "job_queue.h"
#include "page_renderer.h"
#include "raster_adapter.h"
#include "rendered_pages.h"

namespace lumora::app {

namespace {

// The paper's size in points as the PPD gives it, else from the media size.
void PagePoints(const AppDriver& driver, const pappl_media_col_t& media, int* w, int* h) {
  if (const AppPaper* p = FindPaper(driver, media.size_name)) {
    *w = p->width;
    *h = p->height;
    return;
  }
  *w = static_cast<int>(std::lround(media.size_width * 72.0 / 2540.0));
  *h = static_cast<int>(std::lround(media.size_length * 72.0 / 2540.0));
}

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* o) const { papplJobDeletePrintOptions(o); }
};

// Sends the pages of the raster stream through the job; false when a page
// was refused or the job stopped.
bool PrintPages(pappl_job_t* job, AppJob& app, RenderedPages& pages, int copies, int* count) {
  cups_page_header2_t header;
  bool ok = true;
  while (ok && !papplJobIsCanceled(job) && pages.ReadHeader2(&header)) {
    header.NumCopies = static_cast<unsigned>(copies);
    if (!app.StartPage(header)) return false;
    for (unsigned y = 0; y < header.cupsHeight && !papplJobIsCanceled(job); y++) {
      const uint8_t* row = pages.NextRow();
      if (!row) break;
      app.WriteLine(row);
    }
    ok = app.EndPage();
    ++*count;
    papplJobSetImpressionsCompleted(job, 1);
  }
  return ok;
}

}  // namespace

RenderedPaper PaperOf(const AppDriver& driver, const pappl_pr_options_t& options, int asked) {
  RenderedPaper paper;
  PagePoints(driver, options.media, &paper.width, &paper.height);
  // The raster resolution: 1200 dpi only where the model takes a 1200-dpi
  // raster; elsewhere 1200-dpi output is made from a 600-dpi raster.
  paper.dpi = asked >= 1200 && ResolutionCount(driver) > 1 ? 1200 : 600;
  return paper;
}

std::vector<std::string> GhostscriptArgs(const std::string& program, const AppDriver& driver,
                                         const pappl_pr_options_t& options, int asked,
                                         const std::string& pdf) {
  const RenderedPaper paper = PaperOf(driver, options, asked);
  std::vector<std::string> args = {
      program, kRenderCommand, "gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE",
      "-r" + std::to_string(paper.dpi), "-dDEVICEWIDTHPOINTS=" + std::to_string(paper.width),
      "-dDEVICEHEIGHTPOINTS=" + std::to_string(paper.height), "-dFIXEDMEDIA", "-dPDFFitPage"};
  if (options.first_page > 1) args.push_back("-dFirstPage=" + std::to_string(options.first_page));
  if (options.last_page > 0 && options.last_page < INT32_MAX) {
    args.push_back("-dLastPage=" + std::to_string(options.last_page));
  }
  args.push_back("-f");
  args.push_back(pdf);
  return args;
}

namespace {

bool PrintPdf(pappl_job_t* job, pappl_device_t* device, const AppContext& ctx,
              const std::string& pdf) {
  const AppDriver& driver = JobDriver(job);
  std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
      papplJobCreatePrintOptions(job, INT32_MAX, false));
  if (!options) return false;
  // The pages render on the free cores while the job encodes them.
  RenderedPages gs;
  gs.StopWhen([job] { return papplJobIsCanceled(job); });
  const int asked = JobResolution(job);
  const auto args = GhostscriptArgs(ctx.renderer, driver, *options, asked, pdf);
  const RenderedPaper paper = PaperOf(driver, *options, asked);
  if (!gs.Start(RendererArgs(args, RendererCount()),
                GrayPageHeader(paper.dpi, paper.width, paper.height))) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot run %s %s to render the PDF.",
                ctx.renderer.c_str(), kRenderCommand);
    SetJobMessage(job, "Cannot render the PDF.");
    return false;
  }
  AppJob app(job, driver, *options, device);
  int pages = 0;
  bool pagesOk = PrintPages(job, app, gs, options->copies, &pages);
  int status = gs.Finish(!pagesOk || papplJobIsCanceled(job));
  bool ok = app.EndJob() && pagesOk;
  // A printer gone stops the renderers: that is the job's reason, not the
  // PDF (the job has said so). Ghostscript ends well on a document it
  // cannot read, rendering nothing.
  if (app.DeviceFailed() || papplJobIsCanceled(job)) return ok;
  if (status != 0 || (pagesOk && pages == 0)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript could not render the PDF (status %d).",
                status);
    SetJobMessage(job, "The PDF could not be rendered.");
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    ok = false;
  }
  return ok;
}

}  // namespace

bool PdfFilter(pappl_job_t* job, pappl_device_t* device, void* data) {
  return GuardJob(job, "The PDF job", [&] {
    JobClaim claim(job);
    if (!claim.Held()) return true;
    const std::string pdf = JobDocument(job);
    if (pdf.empty()) return false;
    return PrintPdf(job, device, *static_cast<const AppContext*>(data), pdf);
  });
}

}  // namespace lumora::app
