// SPDX-License-Identifier: GPL-2.0-or-later
// PAPPL's raster callbacks driving one lumora::RasterJob per PAPPL job. The
// job's bytes go to the PAPPL device, its log lines to the job's log, its
// cancel check to papplJobIsCanceled and its manual-duplex prompt to the
// printer's state.
#pragma once

#include <pappl/pappl.h>

#include <memory>
#include <string>
#include <vector>

#include "app_drivers.h"
#include "app_pages.h"
#include "raster_job.h"

namespace lumora::app {

// Writes to the PAPPL device. PAPPL buffers device writes and drops the
// errors of its buffer flushes, so every write is flushed at once and the
// device's byte count tells whether it all went out.
class DeviceOutput : public lumora::ByteOutput {
 public:
  explicit DeviceOutput(pappl_device_t* device);
  bool Write(const void* data, size_t len) override;
  bool Failed() const { return failed_; }

 private:
  pappl_device_t* device_;
  size_t baseline_ = 0;
  size_t written_ = 0;
  bool failed_ = false;
};

// The job's log lines into PAPPL's job log ("INFO:" lines also become the
// job's state message, until a message is kept).
class JobLog : public lumora::LogOutput {
 public:
  explicit JobLog(pappl_job_t* job) : job_(job) {}
  void Line(const char* text) override;
  // The job's message stays (the manual-duplex prompt): later lines go to
  // the log only.
  void KeepMessage() { keep_ = true; }

 private:
  pappl_job_t* job_;
  bool keep_ = false;
};

// Halves a 1200-dpi page to 600 dpi for the models whose raster is 600 dpi
// and whose 1200-dpi output is made by the job's screening (2 x 2 pixels
// averaged).
class HalfScale {
 public:
  static cups_page_header2_t Header(const cups_page_header2_t& h);
  explicit HalfScale(const cups_page_header2_t& full);
  // Takes a full-resolution line; returns the half line when one is ready.
  const uint8_t* Add(const uint8_t* line);
  // The last half line of an odd line count, or nullptr.
  const uint8_t* Finish();

 private:
  unsigned width_;
  unsigned halfWidth_;
  bool pending_ = false;
  std::vector<uint8_t> first_;
  std::vector<uint8_t> half_;
};

// One PAPPL job as a raster job. The PDF filter drives it as well.
class AppJob {
 public:
  AppJob(pappl_job_t* job, const AppDriver& driver, const pappl_pr_options_t& options,
         pappl_device_t* device);
  ~AppJob();
  AppJob(const AppJob&) = delete;
  AppJob& operator=(const AppJob&) = delete;

  // False: the page is refused (the job is aborted with the reason) or the
  // job has stopped.
  bool StartPage(const cups_page_header2_t& header);
  void WriteLine(const uint8_t* line);
  bool EndPage();
  // Ends the job stream; false when the job did not print (refused page,
  // printer gone, no page).
  bool EndJob();
  // The job's document cannot be printed: the job is aborted with the reason.
  void Refuse(const std::string& why);
  // The printer stopped taking the job's data (the job has said so).
  bool DeviceFailed() const { return output_.Failed(); }

 private:
  void DeviceGone();

  pappl_job_t* job_;
  const AppDriver& driver_;
  lumora::PrinterDescription printer_;
  lumora::JobTicket ticket_;
  std::string dpi1200Options_;  // the same at 1200 dpi
  bool asked1200_ = false;      // the job asks for 1200 dpi
  lumora::JobHooks hooks_;
  DeviceOutput output_;
  JobLog log_;
  std::unique_ptr<lumora::RasterJob> raster_;
  std::unique_ptr<HalfScale> half_;
  bool pageOpen_ = false;
  bool printing_ = false;   // the open page takes lines
  bool refused_ = false;
  bool ended_ = false;
  SupplyPoll supplies_;  // last: joined before the rest goes
};

// The driver of the job's printer.
const AppDriver& JobDriver(pappl_job_t* job);

// The resolution the job asks for: its printer-resolution, the highest for
// print-quality=high, else the printer's printer-resolution-default. (PAPPL's
// own pick for a job naming neither is the middle of the list, which would
// make 1200 dpi the default on two-resolution printers.)
int JobResolution(pappl_job_t* job);

// Raw jobs (document-format kRawFormat): a ready job stream, copied to the
// printer as it is.
constexpr const char* kRawFormat = "application/vnd.lumora-jobstream";
bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

bool RasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool RasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool RasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

}  // namespace lumora::app
