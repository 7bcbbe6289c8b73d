// SPDX-License-Identifier: GPL-2.0-or-later
#include "ps_print.h"

#include <cups/ppd.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app_driver.h"
#include "job_queue.h"
#include "ps_convert.h"
#include "ps_driver.h"
#include "ps_filter.h"
#include "ps_job.h"
#include "raster_adapter.h"

#ifndef LUMORA_CUPS_SERVERBIN
#define LUMORA_CUPS_SERVERBIN "/usr/lib/cups"
#endif
#ifndef LUMORA_CUPS_DATADIR
#define LUMORA_CUPS_DATADIR "/usr/share/cups"
#endif

namespace lumora::app {

namespace {

// The job's log lines into PAPPL's job log; "INFO:" lines become the job's
// state message, "ERROR:" lines too and go to the printer's log as well (a
// refused printer's message is seen there).
class PsJobLog : public lumora::LogOutput {
 public:
  explicit PsJobLog(pappl_job_t* job) : job_(job) {}
  void Line(const char* text) override {
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    pappl_loglevel_t level = PAPPL_LOGLEVEL_DEBUG;
    size_t body = 0;
    if (line.rfind("INFO:", 0) == 0) {
      level = PAPPL_LOGLEVEL_INFO;
      body = 5;
    } else if (line.rfind("ERROR:", 0) == 0) {
      level = PAPPL_LOGLEVEL_ERROR;
      body = 6;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    papplLogJob(job_, level, "%s", line.c_str());
    if (level == PAPPL_LOGLEVEL_DEBUG) return;
    size_t start = line.find_first_not_of(' ', body);
    if (start == std::string::npos) return;
    SetJobMessage(job_, "%s", line.c_str() + start);
    if (level == PAPPL_LOGLEVEL_ERROR)
      papplLogPrinter(papplJobGetPrinter(job_), level, "%s", line.c_str() + start);
  }

 private:
  pappl_job_t* job_;
  std::mutex mutex_;
};

std::string AttrText(pappl_job_t* job, const char* name) {
  ipp_attribute_t* attr = papplJobGetAttribute(job, name);
  if (!attr) return "";
  char buffer[1024];
  ippAttributeString(attr, buffer, sizeof(buffer));
  return buffer;
}

// The PWG name of the paper the job names (media, or media-col's size).
std::string RequestedMedia(pappl_job_t* job, const pappl_pr_options_t& options) {
  if (!papplJobGetAttribute(job, "media") && !papplJobGetAttribute(job, "media-col")) return "";
  return options.media.size_name;
}

std::string SidesKeyword(pappl_sides_t sides) {
  switch (sides) {
    case PAPPL_SIDES_TWO_SIDED_LONG_EDGE: return "two-sided-long-edge";
    case PAPPL_SIDES_TWO_SIDED_SHORT_EDGE: return "two-sided-short-edge";
    default: return "one-sided";
  }
}

bool VendorTrue(const pappl_pr_options_t& options, const char* name) {
  const char* value = cupsGetOption(name, options.num_vendor, options.vendor);
  return value && strcasecmp(value, "true") == 0;
}

PsJobRequest Request(pappl_job_t* job, const pappl_pr_options_t& options) {
  PsJobRequest r;
  r.media = RequestedMedia(job, options);
  if (papplJobGetAttribute(job, "sides")) r.sides = SidesKeyword(options.sides);
  r.handling = AttrText(job, "multiple-document-handling");
  r.orientation = papplJobGetAttribute(job, "orientation-requested")
                      ? std::to_string(static_cast<int>(options.orientation_requested))
                      : "";
  r.pageRanges = AttrText(job, "page-ranges");
  if (papplJobGetAttribute(job, kA5LongEdgeFeed))
    r.feedEdge = VendorTrue(options, kA5LongEdgeFeed) ? "LongEdge" : "ShortEdge";
  r.uuid = AttrText(job, "job-uuid");
  r.host = AttrText(job, "job-originating-host-name");
  r.documentName = AttrText(job, "document-name-supplied");
  r.created = static_cast<long>(papplJobGetTimeCreated(job));
  r.processed = static_cast<long>(papplJobGetTimeProcessed(job));
  return r;
}

// The printer's default of a vendor option is true.
bool VendorDefaultTrue(pappl_printer_t* printer, const char* name) {
  ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
  ipp_attribute_t* def = ippFindAttribute(attrs, (std::string(name) + "-default").c_str(),
                                          IPP_TAG_BOOLEAN);
  bool yes = def && ippGetBoolean(def, 0);
  ippDelete(attrs);
  return yes;
}

PsDefaults PrinterDefaults(pappl_printer_t* printer, const PsDriver& driver) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  PsDefaults d;
  if (const PsPaper* p = FindPsPaper(driver, data.media_default.size_name)) d.pageSize = p->ppdName;
  if (data.sides_default == PAPPL_SIDES_TWO_SIDED_LONG_EDGE) d.duplex = "DuplexNoTumble";
  else if (data.sides_default == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE) d.duplex = "DuplexTumble";
  else d.duplex = "None";
  d.feedEdge = VendorDefaultTrue(printer, kA5LongEdgeFeed) ? "LongEdge" : "ShortEdge";
  return d;
}

// A file of the job's own in the spool directory (private to the server),
// removed when it goes.
class JobFile {
 public:
  JobFile(const std::string& dir, const std::string& text) {
    std::string name = dir + "/lumora-XXXXXX";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0) return;
    bool ok = lumora::WriteFully(fd, text.data(), text.size());
    close(fd);
    path_ = buf.data();
    if (!ok) Remove();
  }
  ~JobFile() { Remove(); }
  const std::string& path() const { return path_; }

 private:
  void Remove() {
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
  }
  std::string path_;
};

std::string DirectoryOf(const char* path) {
  std::string p = path ? path : "";
  size_t slash = p.rfind('/');
  return slash == std::string::npos || slash == 0 ? papplGetTempDir() : p.substr(0, slash);
}

lumora::PsPrinterDescription DescribeFromPpd(const std::string& path) {
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  if (!ppd) return lumora::PsPrinterDescription();
  lumora::PsPrinterDescription printer = DescribePsPrinter(ppd);
  ppdClose(ppd);
  return printer;
}

// Passes the PAPPL job's cancel to the PostScript job at once, and a cancel
// the printer reported (the status thread) to the PAPPL job.
class CancelBridge {
 public:
  CancelBridge(pappl_job_t* job, lumora::PsJob& ps) : thread_([this, job, &ps] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!done_) {
        if (papplJobIsCanceled(job) && !ps.Cancelled()) ps.Cancel();
        if (ps.Cancelled() && !papplJobIsCanceled(job)) {
          papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The job was cancelled at the printer.");
          papplJobCancel(job);
        }
        wake_.wait_for(lock, std::chrono::milliseconds(100));
      }
    }) {}
  ~CancelBridge() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

lumora::PsJobHooks Hooks(pappl_job_t* job, pappl_device_t* device, const std::string& tempDir,
                         const std::vector<std::string>& environment) {
  lumora::PsJobHooks hooks;
  hooks.cancelled = [job] { return papplJobIsCanceled(job); };
  // The job asks twice, as the filter asks the backend twice; a network
  // printer without SNMP makes PAPPL wait seconds for each answer, so the
  // first answer serves both.
  auto asked = std::make_shared<std::pair<bool, std::string>>(false, "");
  hooks.deviceId = [device, asked](char* buf, int* len) {
    if (!asked->first) {
      char id[1024] = "";
      if (papplDeviceGetID(device, id, sizeof(id))) asked->second = id;
      asked->first = true;
    }
    const std::string& id = asked->second;
    if (id.empty() || *len <= 0) return lumora::DeviceIdAnswer::kNoId;
    int n = std::min(static_cast<int>(id.size()), *len);
    memcpy(buf, id.data(), static_cast<size_t>(n));
    *len = n;
    return lumora::DeviceIdAnswer::kId;
  };
  const char* uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job));
  std::string deviceUri = uri ? uri : "";
  hooks.deviceUri = deviceUri;
  hooks.statusDeviceUri = [deviceUri] { return deviceUri; };
  hooks.timings = SideTimings::FromEnvironment();
  hooks.createTemp = [tempDir](char* name, int size) {
    int written = snprintf(name, static_cast<size_t>(size), "%s/lumora-XXXXXX", tempDir.c_str());
    if (written < 0 || written >= size) return -1;
    return mkostemp(name, O_CLOEXEC);
  };
  hooks.pdftopsPath = std::string(LUMORA_CUPS_SERVERBIN) + "/filter/pdftops";
  hooks.childEnvironment = environment;
  return hooks;
}

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* o) const { papplJobDeletePrintOptions(o); }
};

// Runs the PostScript job, its input then closed, and the conversion
// filters then reaped: after a cancel or a refusal the filters still
// running are ended (a closed input never blocks them).
bool RunPsJob(pappl_job_t* job, lumora::PsJob& ps, lumora::PsJobInput& input,
              FilterChain& chain) {
  int status;
  {
    CancelBridge bridge(job, ps);
    status = ps.Run();
  }
  if (input.fd >= 0) close(input.fd);
  input.fd = -1;
  bool cancelled = ps.Cancelled() || papplJobIsCanceled(job);
  bool filtersOk = chain.Finish(status != 0 || cancelled);
  if (!filtersOk && !cancelled && status == 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The document could not be converted: %s.",
                chain.Failure().c_str());
    SetJobMessage(job, "The document could not be converted.");
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
  }
  return status == 0 && (filtersOk || cancelled);
}

}  // namespace

std::string PpdWithDefaults(const std::string& ppd, const PsDefaults& d) {
  const std::pair<const char*, const std::string*> keys[] = {
      {"*DefaultPageSize: ", &d.pageSize},         {"*DefaultPageRegion: ", &d.pageSize},
      {"*DefaultImageableArea: ", &d.pageSize},    {"*DefaultPaperDimension: ", &d.pageSize},
      {"*DefaultDuplex: ", &d.duplex},             {"*DefaultFeedEdge: ", &d.feedEdge}};
  std::string out;
  out.reserve(ppd.size());
  size_t pos = 0;
  while (pos < ppd.size()) {
    size_t end = ppd.find('\n', pos);
    end = end == std::string::npos ? ppd.size() : end + 1;
    std::string line = ppd.substr(pos, end - pos);
    for (const auto& [key, value] : keys) {
      if (!value->empty() && line.rfind(key, 0) == 0) line = key + *value + "\n";
    }
    out += line;
    pos = end;
  }
  return out;
}

std::string PsJobOptionString(const PsDriver& driver, const PsJobRequest& r) {
  std::vector<std::pair<std::string, std::string>> attrs = {
      {"finishings", "3"}, {"number-up", "1"}, {"print-color-mode", "monochrome"}};
  if (!r.media.empty()) attrs.emplace_back("media", r.media);
  if (!r.sides.empty()) attrs.emplace_back("sides", r.sides);
  if (!r.handling.empty()) attrs.emplace_back("multiple-document-handling", r.handling);
  if (!r.orientation.empty()) attrs.emplace_back("orientation-requested", r.orientation);
  if (!r.pageRanges.empty()) attrs.emplace_back("page-ranges", r.pageRanges);
  if (!r.feedEdge.empty()) attrs.emplace_back("FeedEdge", r.feedEdge);
  std::sort(attrs.begin(), attrs.end(), [](const auto& a, const auto& b) {
    return strcasecmp(a.first.c_str(), b.first.c_str()) < 0;
  });
  std::string s;
  auto add = [&s](const std::string& item) { s += (s.empty() ? "" : " ") + item; };
  for (const auto& [name, value] : attrs) add(name + "=" + value);
  if (!r.uuid.empty()) add("job-uuid=" + r.uuid);
  if (!r.host.empty()) add("job-originating-host-name=" + r.host);
  add("date-time-at-creation= date-time-at-processing=");
  add("time-at-creation=" + std::to_string(r.created));
  add("time-at-processing=" + std::to_string(r.processed));
  if (!r.documentName.empty()) add("document-name-supplied=" + r.documentName);
  // The PPD options that stand for the job's sides and paper, as the
  // scheduler adds them.
  if (r.sides == "two-sided-long-edge") add("Duplex=DuplexNoTumble");
  else if (r.sides == "two-sided-short-edge") add("Duplex=DuplexTumble");
  else if (!r.sides.empty()) add("Duplex=None");
  if (!r.media.empty()) {
    if (const PsPaper* p = FindPsPaper(driver, r.media)) {
      add(std::string("PageSize=") + p->ppdName);
    } else {
      pwg_media_t* pwg = pwgMediaForPWG(r.media.c_str());
      if (pwg)
        add("PageSize=Custom." + std::to_string(static_cast<int>(pwg->width * 72.0 / 2540.0)) +
            "x" + std::to_string(static_cast<int>(pwg->length * 72.0 / 2540.0)));
    }
  }
  return s;
}

bool PrintPsDocument(pappl_job_t* job, pappl_device_t* device, const char* document,
                     const std::string& format, bool convert) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const PsDriver* driver = PrinterPsDriver(printer);
  if (!driver) return false;
  std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
      papplJobCreatePrintOptions(job, INT32_MAX, false));
  if (!options) return false;
  if (!document) return false;
  const std::string tempDir = DirectoryOf(document);
  JobFile ppd(tempDir, PpdWithDefaults(driver->ppd, PrinterDefaults(printer, *driver)));
  if (ppd.path().empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot write the printer's PPD to %s.",
                tempDir.c_str());
    return false;
  }
  const char* uri = papplPrinterGetDeviceURI(printer);
  FilterEnv env{LUMORA_CUPS_SERVERBIN, LUMORA_CUPS_DATADIR, tempDir, ppd.path(),
                format, papplPrinterGetName(printer), uri ? uri : ""};
  const std::vector<std::string> environment = FilterEnvironment(env);
  const char* user = papplJobGetUsername(job);
  const char* title = papplJobGetName(job);
  FilterArgs args{papplPrinterGetName(printer), std::to_string(papplJobGetID(job)),
                  user ? user : "", title ? title : "", std::to_string(options->copies),
                  PsJobOptionString(*driver, Request(job, *options)),
                  document};
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Job options (%s): %s", args.queue.c_str(),
              args.options.c_str());
  DeviceOutput output(device);
  PsJobLog log(job);
  const lumora::PsPrinterDescription description = DescribeFromPpd(ppd.path());
  const lumora::PsJobTicket ticket{args.queue, args.jobId, args.user, args.title, args.copies,
                                   args.options};
  lumora::PsJobInput input;
  FilterChain chain([&log](const std::string& line) { log.Line(line.c_str()); });
  if (convert) {
    std::vector<std::string> filters = ConversionChain(driver->family, env.contentType);
    if (filters.empty() || !chain.Start(filters, args, environment, LUMORA_CUPS_SERVERBIN)) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot convert %s: %s.", env.contentType.c_str(),
                  filters.empty() ? "no filter" : chain.Failure().c_str());
      SetJobMessage(job, "The document could not be converted.");
      return false;
    }
    input.fd = chain.TakeOutput();
  } else {
    input.path = args.document;
  }
  bool ok;
  {
    lumora::PsJob ps(description, ticket, input, output, log,
                     Hooks(job, device, tempDir, environment));
    ok = RunPsJob(job, ps, input, chain);
  }
  if (output.Failed()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer stopped taking the job's data.");
    SetJobMessage(job, "The printer stopped taking the job's data.");
    return false;
  }
  return ok;
}

}  // namespace lumora::app
