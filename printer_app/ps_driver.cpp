// SPDX-License-Identifier: GPL-2.0-or-later
#include "ps_driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "app_driver.h"
#include "app_pages.h"
#include "app_system.h"
#include "job_gate.h"
#include "job_queue.h"
#include "ps_convert.h"
#include "ps_print.h"

namespace lumora::app {

namespace {

int Hmm(double points) { return static_cast<int>(std::ceil(points * 2540.0 / 72.0 - 1e-6)); }

pappl_media_col_t MediaCol(const PsPaper& paper, const char* source, int margin) {
  pappl_media_col_t col{};
  papplCopyString(col.size_name, paper.pwgName, sizeof(col.size_name));
  papplCopyString(col.source, source, sizeof(col.source));
  papplCopyString(col.type, "stationery", sizeof(col.type));
  col.size_width = static_cast<int>(std::lround(paper.width * 2540.0 / 72.0));
  col.size_length = static_cast<int>(std::lround(paper.height * 2540.0 / 72.0));
  col.left_margin = col.right_margin = col.bottom_margin = col.top_margin = margin;
  return col;
}

// Papers and the custom range of the PPD; the one tray it has.
void FillPsMedia(const PsDriver& driver, pappl_pr_driver_data_t* data) {
  data->num_media = 0;
  for (const PsPaper& p : driver.papers) data->media[data->num_media++] = p.pwgName;
  static_assert(kPsPaperCount + 2 <= PAPPL_MAX_MEDIA, "media list");
  data->media[data->num_media++] = driver.customMin;
  data->media[data->num_media++] = driver.customMax;
  data->left_right = data->bottom_top = Hmm(driver.margin);
  data->borderless = false;
  const PsPaper* def = FindPsPaper(driver, driver.defaultMedia);
  if (!def) def = &driver.papers[0];
  data->num_source = 1;
  data->source[0] = "main";
  data->media_ready[0] = MediaCol(*def, "main", data->left_right);
  data->media_default = MediaCol(*def, "main", data->left_right);
  data->num_type = 1;
  data->type[0] = "stationery";
}

void FillPsVendor(pappl_pr_driver_data_t* data, ipp_t** attrs) {
  *attrs = ippNew();
  data->num_vendor = 1;
  data->vendor[0] = kA5LongEdgeFeed;
  std::string key = kA5LongEdgeFeed;
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, (key + "-default").c_str(), 0);
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, (key + "-supported").c_str(), 1);
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
               nullptr, "auto");
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
               nullptr, "auto");
}

// A document of the drivers' own format: PostScript for pstoLumora as it
// is, without conversion.
bool PrintPsFile(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device) {
  return GuardJob(job, "The PostScript job", [&] {
    JobClaim claim(job);
    if (!claim.Held()) return true;
    const std::string document = JobDocument(job);
    return !document.empty() &&
           PrintPsDocument(job, device, document.c_str(), kPsDriverFormat, false);
  });
}

// PAPPL reads PWG and Apple raster documents itself, as they come, and
// hands their pages to the raster callbacks: the pages are written into a
// PWG raster file of the job's own, which is then converted as a CUPS queue
// converts a PWG raster document (rastertopdf ...) and printed.
struct RasterDocument {
  std::string path;
  int fd = -1;
  cups_raster_t* raster = nullptr;
  bool refused = false;
  ~RasterDocument() {
    if (raster) cupsRasterClose(raster);
    if (fd >= 0) close(fd);
    if (!path.empty()) unlink(path.c_str());
  }
};

RasterDocument* DocumentOf(pappl_job_t* job) {
  return static_cast<RasterDocument*>(papplJobGetData(job));
}

bool StartRasterDocument(pappl_job_t* job, pappl_pr_options_t* /*options*/,
                         pappl_device_t* /*device*/) {
  auto doc = std::make_unique<RasterDocument>();
  std::string name = std::string(papplGetTempDir()) + "/lumora-XXXXXX";
  doc->fd = mkostemp(&name[0], O_CLOEXEC);
  if (doc->fd < 0) return false;
  doc->path = name;
  doc->raster = cupsRasterOpen(doc->fd, CUPS_RASTER_WRITE_PWG);
  if (!doc->raster) return false;
  papplJobSetData(job, doc.release());
  return true;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  RasterDocument* doc = DocumentOf(job);
  if (!doc || doc->refused) return false;
  const cups_page_header2_t& h = options->header;
  if (h.cupsBitsPerPixel != 8 || h.cupsBitsPerColor != 8 || h.cupsBytesPerLine != h.cupsWidth) {
    // A page that is not the 8-bit gray the printer announced.
    doc->refused = true;
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page refused: not the 8-bit gray raster announced.");
    SetJobMessage(job, "Page refused: not the 8-bit gray raster announced.");
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  cups_page_header2_t header = h;
  return cupsRasterWriteHeader2(doc->raster, &header) != 0;
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
                     const unsigned char* line) {
  RasterDocument* doc = DocumentOf(job);
  if (!doc || doc->refused) return false;
  return cupsRasterWritePixels(doc->raster, const_cast<unsigned char*>(line),
                               options->header.cupsBytesPerLine) != 0;
}

bool EndRasterPage(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned) { return true; }

bool EndRasterDocument(pappl_job_t* job, pappl_pr_options_t* /*options*/,
                       pappl_device_t* device) {
  std::unique_ptr<RasterDocument> doc(DocumentOf(job));
  papplJobSetData(job, nullptr);
  if (!doc || doc->refused || papplJobIsCanceled(job)) return false;
  cupsRasterClose(doc->raster);
  doc->raster = nullptr;
  return GuardJob(job, "The PostScript job", [&] {
    JobClaim claim(job);
    return claim.Held() && PrintPsDocument(job, device, doc->path.c_str(), "image/pwg-raster", true);
  });
}


}  // namespace

bool PsDriverCallback(const char* driverName, pappl_pr_driver_data_t* data, ipp_t** attrs) {
  const PsDriver* driver = FindPsDriver(driverName ? driverName : "");
  if (!driver) return false;
  data->extension = const_cast<PsDriver*>(driver);
  papplCopyString(data->make_and_model, driver->modelName, sizeof(data->make_and_model));
  data->format = kPsDriverFormat;
  data->printfile_cb = PrintPsFile;
  data->rstartjob_cb = StartRasterDocument;
  data->rstartpage_cb = StartRasterPage;
  data->rwriteline_cb = WriteRasterLine;
  data->rendpage_cb = EndRasterPage;
  data->rendjob_cb = EndRasterDocument;
  FillCommonDriverData(data);
  // Clients' raster pages (600 dpi) are made into PDF by the converter.
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = 600;
  data->x_default = data->y_default = 600;
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported =
      PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  FillPsMedia(*driver, data);
  FillPsVendor(data, attrs);
  return true;
}

const PsDriver* PrinterPsDriver(pappl_printer_t* printer) {
  // The driver data, not the name: an auto-added printer is named "auto".
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const PsDriver* d = static_cast<const PsDriver*>(data.extension);
  for (int i = 0; i < kPsDriverCount; i++) {
    if (d == &kPsDrivers[i]) return d;
  }
  return nullptr;
}

bool PsFilter(pappl_job_t* job, pappl_device_t* device, void* /*data*/) {
  return GuardJob(job, "The PostScript job", [&] {
    JobClaim claim(job);
    if (!claim.Held()) return true;
    const std::string document = JobDocument(job);
    const char* format = papplJobGetFormat(job);
    return !document.empty() &&
           PrintPsDocument(job, device, document.c_str(), format ? format : "", true);
  });
}

void AddPsFilters(pappl_system_t* system, AppContext& ctx) {
  for (int i = 0; i < kPsDocumentFormatCount; i++)
    papplSystemAddMIMEFilter(system, kPsDocumentFormats[i], kPsDriverFormat, PsFilter, &ctx);
}

}  // namespace lumora::app
