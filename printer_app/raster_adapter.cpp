// SPDX-License-Identifier: GPL-2.0-or-later
#include "raster_adapter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "app_auth.h"
#include "app_driver.h"
#include "app_pages.h"
#include "app_strings.h"
#include "app_system.h"
#include "job_gate.h"
#include "job_queue.h"

namespace lumora::app {

DeviceOutput::DeviceOutput(pappl_device_t* device) : device_(device) {
  pappl_devmetrics_t metrics;
  if (device_ && papplDeviceGetMetrics(device_, &metrics)) baseline_ = metrics.write_bytes;
}

bool DeviceOutput::Write(const void* data, size_t len) {
  if (failed_ || !device_) return false;
  if (len == 0) return true;
  if (papplDeviceWrite(device_, data, len) != static_cast<ssize_t>(len)) {
    failed_ = true;
    return false;
  }
  papplDeviceFlush(device_);
  written_ += len;
  pappl_devmetrics_t metrics;
  if (!papplDeviceGetMetrics(device_, &metrics) || metrics.write_bytes - baseline_ != written_) {
    failed_ = true;
  }
  return !failed_;
}

void JobLog::Line(const char* text) {
  static const struct {
    const char* prefix;
    pappl_loglevel_t level;
  } kLevels[] = {{"DEBUG:", PAPPL_LOGLEVEL_DEBUG}, {"INFO:", PAPPL_LOGLEVEL_INFO},
                 {"PAGE:", PAPPL_LOGLEVEL_DEBUG}, {"ERROR:", PAPPL_LOGLEVEL_ERROR}};
  std::string line(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  pappl_loglevel_t level = PAPPL_LOGLEVEL_DEBUG;
  for (const auto& l : kLevels) {
    if (line.compare(0, strlen(l.prefix), l.prefix) == 0) level = l.level;
  }
  bool info = level == PAPPL_LOGLEVEL_INFO;
  // Progress lines come every 128 raster lines: kept for debugging.
  if (info && line.find("% complete") != std::string::npos) level = PAPPL_LOGLEVEL_DEBUG;
  papplLogJob(job_, level, "%s", line.c_str());
  if (info && !keep_) {
    size_t start = line.find_first_not_of(' ', strlen("INFO:"));
    if (start != std::string::npos) SetJobMessage(job_, "%s", line.c_str() + start);
  }
}

cups_page_header2_t HalfScale::Header(const cups_page_header2_t& h) {
  cups_page_header2_t half = h;
  half.HWResolution[0] = h.HWResolution[0] / 2;
  half.HWResolution[1] = h.HWResolution[1] / 2;
  half.cupsWidth = (h.cupsWidth + 1) / 2;
  half.cupsHeight = (h.cupsHeight + 1) / 2;
  half.cupsBytesPerLine = half.cupsWidth;
  return half;
}

HalfScale::HalfScale(const cups_page_header2_t& full)
    : width_(full.cupsWidth), halfWidth_((full.cupsWidth + 1) / 2), first_(full.cupsWidth),
      half_(halfWidth_) {}

const uint8_t* HalfScale::Add(const uint8_t* line) {
  if (!pending_) {
    memcpy(first_.data(), line, width_);
    pending_ = true;
    return nullptr;
  }
  pending_ = false;
  for (unsigned x = 0; x < halfWidth_; x++) {
    unsigned x1 = x * 2 + 1 < width_ ? x * 2 + 1 : x * 2;
    unsigned sum = first_[x * 2] + first_[x1] + line[x * 2] + line[x1];
    half_[x] = static_cast<uint8_t>((sum + 2) / 4);
  }
  return half_.data();
}

const uint8_t* HalfScale::Finish() {
  if (!pending_) return nullptr;
  return Add(first_.data());
}

namespace {

// The turn-the-stack prompt while the printer waits for the stack: the
// printer's state (media-needed; the prompt as its state message and in
// the state-change event) and the job's state message, both in the
// server's language (PAPPL keeps no language of the job), kept until the
// printer's next job, across restarts; the log keeps the PPD's text.
void ShowManualDuplexPrompt(pappl_job_t* job, const std::string& prompt) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  if (AppContext* ctx = SystemContext(papplPrinterGetSystem(printer))) {
    if (ctx->waits) ctx->waits->Begin(printer, papplJobGetID(job), prompt);
  }
  ShowWait(printer, job, prompt);
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "%s", prompt.c_str());
}

// A new job on the printer: it no longer waits for a stack.
void EndWait(pappl_printer_t* printer) {
  if (AppContext* ctx = SystemContext(papplPrinterGetSystem(printer))) {
    if (ctx->waits) ctx->waits->End(printer);
  }
  papplPrinterSetReasons(printer, PAPPL_PREASON_NONE,
                         PAPPL_PREASON_MEDIA_NEEDED | PAPPL_PREASON_OFFLINE);
}

// PAPPL 1.3 looks a vendor attribute's printer default up among the job's
// own attributes, where it never is: a job that names no vendor option gets
// the printer's default here.
class VendorOptions {
 public:
  VendorOptions(pappl_job_t* job, const pappl_pr_options_t& options) : options_(options) {
    ipp_t* attrs = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    for (int i = 0; i < data.num_vendor; i++) {
      const char* name = data.vendor[i];
      const char* value = cupsGetOption(name, options.num_vendor, options.vendor);
      std::string text = value ? value : "";
      ipp_attribute_t* def = ippFindAttribute(attrs, (std::string(name) + "-default").c_str(),
                                              IPP_TAG_ZERO);
      if (!value && def) {
        char buffer[256];
        ippAttributeString(def, buffer, sizeof(buffer));
        text = buffer;
      }
      if (!text.empty()) pairs_.emplace_back(name, text);
    }
    ippDelete(attrs);
    for (auto& [name, value] : pairs_) {
      list_.push_back({const_cast<char*>(name.c_str()), const_cast<char*>(value.c_str())});
    }
    options_.num_vendor = static_cast<int>(list_.size());
    options_.vendor = list_.data();
  }
  const pappl_pr_options_t& Options() const { return options_; }

 private:
  pappl_pr_options_t options_;
  std::vector<std::pair<std::string, std::string>> pairs_;
  std::vector<cups_option_t> list_;
};

}  // namespace

const AppDriver& JobDriver(pappl_job_t* job) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return *static_cast<const AppDriver*>(data.extension);
}

int JobResolution(pappl_job_t* job) {
  if (ipp_attribute_t* res = papplJobGetAttribute(job, "printer-resolution")) {
    int yres = 0;
    ipp_res_t units;
    return ippGetResolution(res, 0, &yres, &units);
  }
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  ipp_attribute_t* quality = papplJobGetAttribute(job, "print-quality");
  if (quality && ippGetInteger(quality, 0) == IPP_QUALITY_HIGH && data.num_resolution > 0) {
    return data.x_resolution[data.num_resolution - 1];
  }
  return data.x_default;
}

AppJob::AppJob(pappl_job_t* job, const AppDriver& driver, const pappl_pr_options_t& options,
               pappl_device_t* device)
    : job_(job),
      driver_(driver),
      printer_(DescribePrinter(driver)),
      output_(device),
      log_(job),
      supplies_(job, device) {
  // A new job: the printer is reachable again and no stack waits.
  EndWait(papplJobGetPrinter(job));
  ticket_.jobId = std::to_string(papplJobGetID(job));
  const char* name = papplJobGetName(job);
  ticket_.title = name ? name : "";
  asked1200_ = JobResolution(job) >= 1200;
  VendorOptions vendor(job, options);
  pappl_pr_options_t jobOptions = vendor.Options();
  papplCopyString(jobOptions.media.source, JobMediaSource(job).c_str(),
                  sizeof(jobOptions.media.source));
  ticket_.options = JobOptionString(driver, jobOptions, false);
  dpi1200Options_ = JobOptionString(driver, jobOptions, true);
  hooks_.cancelled = [job] { return papplJobIsCanceled(job); };
  hooks_.manualDuplexPrompt = [this](const std::string& prompt) {
    log_.KeepMessage();
    ShowManualDuplexPrompt(job_, prompt);
  };
}

AppJob::~AppJob() = default;

void AppJob::Refuse(const std::string& why) {
  refused_ = true;
  papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "Page refused: %s.", why.c_str());
  SetJobMessage(job_, "Page refused: %s.", why.c_str());
  papplJobSetReasons(job_, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
}

void AppJob::DeviceGone() {
  pappl_printer_t* printer = papplJobGetPrinter(job_);
  papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "The printer stopped taking the job's data.");
  SetJobMessage(job_, "The printer stopped taking the job's data.");
  papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  papplSystemAddEvent(papplPrinterGetSystem(printer), printer, job_,
                      PAPPL_EVENT_PRINTER_STATE_CHANGED, "The printer is not reachable.");
}

bool AppJob::StartPage(const cups_page_header2_t& header) {
  if (refused_ || ended_) return false;
  std::string why = CheckPageHeader(driver_, header);
  if (!why.empty()) {
    Refuse(why);
    return false;
  }
  bool halve = header.HWResolution[0] > 600 && ResolutionCount(driver_) == 1;
  half_.reset(halve ? new HalfScale(header) : nullptr);
  if (!raster_) {
    // The options are complete once the first page tells its resolution.
    if (asked1200_ || header.HWResolution[0] >= 1200) ticket_.options = dpi1200Options_;
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Job options (%s): %s",
                papplPrinterGetName(papplJobGetPrinter(job_)), ticket_.options.c_str());
    raster_.reset(new lumora::RasterJob(printer_, ticket_, output_, log_, hooks_));
  }
  lumora::PageStart start = raster_->StartPage(halve ? HalfScale::Header(header) : header);
  pageOpen_ = start != lumora::PageStart::kStop;
  printing_ = start == lumora::PageStart::kPrint;
  if (output_.Failed()) DeviceGone();
  return start != lumora::PageStart::kStop;
}

void AppJob::WriteLine(const uint8_t* line) {
  if (!printing_ || !raster_->WantsLines()) return;
  if (half_) line = half_->Add(line);
  if (line) raster_->WriteLines(line, 1);
}

bool AppJob::EndPage() {
  if (!pageOpen_) return !refused_ && !output_.Failed();
  if (printing_ && half_) {
    const uint8_t* last = half_->Finish();
    if (last && raster_->WantsLines()) raster_->WriteLines(last, 1);
  }
  pageOpen_ = printing_ = false;
  bool ok = raster_->EndPage();
  if (output_.Failed()) DeviceGone();
  return ok && !output_.Failed();
}

bool AppJob::EndJob() {
  if (ended_) return false;
  if (pageOpen_) EndPage();
  ended_ = true;
  if (!raster_) {
    if (!refused_) SetJobMessage(job_, "No pages found.");
    return false;
  }
  int status = raster_->EndJob();
  if (output_.Failed()) DeviceGone();
  return status == 0 && !refused_ && !output_.Failed();
}

namespace {

// A job whose pages PAPPL hands the raster callbacks (a client's PWG or
// Apple raster): the claim on its device from the first callback to the
// last.
struct RasterCallbackJob {
  explicit RasterCallbackJob(pappl_job_t* job) : claim(job) {}
  JobClaim claim;
  std::unique_ptr<AppJob> app;
};

RasterCallbackJob* StateOf(pappl_job_t* job) {
  return static_cast<RasterCallbackJob*>(papplJobGetData(job));
}
AppJob* JobOf(pappl_job_t* job) {
  RasterCallbackJob* state = StateOf(job);
  return state ? state->app.get() : nullptr;
}

// The page header PAPPL makes for the job itself. PAPPL hands a driver the
// client's page header only when it is 8-bit; for a 1-bit page it hands its
// own 8-bit header and the client's 1-bit lines.
bool IsPapplOwnHeader(pappl_job_t* job, const cups_page_header2_t& header) {
  const char* format = papplJobGetFormat(job);
  if (!format || (strcmp(format, "image/pwg-raster") != 0 && strcmp(format, "image/urf") != 0)) {
    return false;
  }
  pappl_pr_options_t* own = papplJobCreatePrintOptions(job, static_cast<unsigned>(papplJobGetImpressions(job)), false);
  bool same = own && memcmp(&own->header, &header, sizeof(header)) == 0;
  papplJobDeletePrintOptions(own);
  return same;
}

}  // namespace

bool RasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  return GuardJob(job, "The raster job", [&] {
    // One raster job per PAPPL job: a second thread of the same job waits
    // for the device, then finds the job claimed.
    auto state = std::make_unique<RasterCallbackJob>(job);
    if (!state->claim.Held() || StateOf(job)) return false;
    state->app = std::make_unique<AppJob>(job, JobDriver(job), *options, device);
    papplJobSetData(job, state.release());
    return true;
  });
}

bool RasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
                     unsigned /*page*/) {
  return GuardJob(job, "The raster page", [&] {
    AppJob* app = JobOf(job);
    if (!app) return false;
    if (IsPapplOwnHeader(job, options->header)) {
      app->Refuse("the raster sent is not the 8-bit gray that was announced");
      return false;
    }
    // PAPPL prints a client's raster once whatever "copies" says; the job
    // makes the copies, as the filter does for a raster with NumCopies.
    cups_page_header2_t header = options->header;
    if (options->copies > 1 && header.NumCopies <= 1) {
      header.NumCopies = static_cast<unsigned>(options->copies);
    }
    return app->StartPage(header);
  });
}

bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t* /*options*/,
                     pappl_device_t* /*device*/, unsigned /*y*/, const unsigned char* line) {
  return GuardJob(job, "The raster line", [&] {
    if (AppJob* app = JobOf(job)) app->WriteLine(line);
    return true;
  });
}

bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                   unsigned /*page*/) {
  return GuardJob(job, "The raster page", [&] {
    AppJob* app = JobOf(job);
    // A cancelled job stops here either way; false would show it aborted
    // until PAPPL ends it.
    return (app && app->EndPage()) || papplJobIsCanceled(job);
  });
}

bool RasterEndJob(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/) {
  std::unique_ptr<RasterCallbackJob> state(StateOf(job));
  papplJobSetData(job, nullptr);
  return GuardJob(job, "The raster job", [&] {
    return (state && state->app && state->app->EndJob()) || papplJobIsCanceled(job);
  });
}

}  // namespace lumora::app

namespace lumora::app {

bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device) {
  JobClaim claim(job);
  if (!claim.Held()) return true;
  if (!RawStreamAllowed(job)) return false;
  const std::string document = JobDocument(job);
  int fd = document.empty() ? -1 : open(document.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  DeviceOutput output(device);
  char buffer[65536];
  ssize_t n = 0;
  while (!papplJobIsCanceled(job) && (n = read(fd, buffer, sizeof(buffer))) > 0) {
    if (!output.Write(buffer, static_cast<size_t>(n))) break;
  }
  close(fd);
  return n == 0 && !output.Failed();
}

}  // namespace lumora::app
