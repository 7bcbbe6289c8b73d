// SPDX-License-Identifier: GPL-2.0-or-later
// The job flow of the pre-filter: support checks, spooling of the input,
// size checks, then the PostScript road or the PDF road.
#include "ps_job.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "job_io.h"
#include "media_size.h"
#include "pdf_road.h"
#include "ps_job_state.h"
#include "ps_rewrite.h"
#include "side_log.h"
#include "support_check.h"

namespace lumora {

namespace {

constexpr size_t kBlockSize = 8192;

// End-of-job marker appended to a spooled job that lacks PJL's universal exit.
const char kSpoolEndMarker[] = "\x04\x1b%-12345X\n";

const char kUnsupportedPrinter[] = "当前打印机不可打印，请使用正确的打印机\n";
const char kCustomSizeOutOfRange[] =
    "The current custom pager cannot be printed,please use the corrent paper\n";

// A refusal, after the pause the scheduler's users are used to; the pause
// ends early when the job is cancelled, which then ends it without error.
int Refuse(PsJobState& job, const char* message) {
  if (job.hooks.refusalPauseSeconds)
    job.side.Wait(-1, 0, static_cast<int>(job.hooks.refusalPauseSeconds) * 1000);
  if (job.Cancelled()) return 0;
  Levelf(job.log, "ERROR:", "%s", message);
  return 1;
}

// The option text names the option (ignoring case) with a false value.
bool NamesFalse(const char* value) {
  return !strcasecmp(value, "false") || !strcasecmp(value, "no") || !strcasecmp(value, "off") ||
         !strcmp(value, "0");
}

// The job makes collated copies itself: the job's own word on collating
// ("noCollate", a Collate option, the IPP document handling, any other
// mention of "collate"), else the queue's default Collate.
bool WantsCollatedCopies(const PsJobState& job) {
  const char* options = job.ticket.options.c_str();
  if (strcasestr(options, "noCollate")) return false;
  cups_option_t* parsed = nullptr;
  const int n = cupsParseOptions(options, 0, &parsed);
  const char* collate = cupsGetOption("Collate", n, parsed);
  const char* handling = cupsGetOption("multiple-document-handling", n, parsed);
  bool wanted;
  if (collate != nullptr)
    wanted = !NamesFalse(collate);
  else if (handling != nullptr && strcasestr(handling, "collate"))
    wanted = strcasestr(handling, "uncollated") == nullptr;
  else if (strcasestr(options, "collate"))
    wanted = true;
  else
    wanted = EffectiveOption(job, "Collate") == "True";
  cupsFreeOptions(n, parsed);
  return wanted;
}

// The job file: the scheduler's (argument 6) or a spooled copy of the input.
bool TakeInput(PsJobState& job, const PsJobInput& input, std::string& jobfile) {
  if (!input.path.empty()) {
    jobfile = input.path;
    return true;
  }
  Copy_StdinToTempFile(job, input.fd, jobfile);
  if (!jobfile.empty()) return true;
  if (!job.Cancelled()) Levelf(job.log, "ERROR: ", "Unable to spool the job to a temporary file.\n");
  return false;
}

// The maple family's checks of the job file: page size, collating, custom
// size range, A5 long edge. False when the job is refused.
bool CheckMapleJob(PsJobState& job, const std::string& jobfile) {
  const char* options = job.ticket.options.c_str();
  checkmediasize(job, 0, &job.width, &job.height);
  if (WantsCollatedCopies(job)) {
    job.iscollate = true;
    job.copies = atoi(job.ticket.copies.c_str());
  }
  if (isSupportCustomPageSize(job, options, jobfile.c_str()) != 1) {
    Refuse(job, kCustomSizeOutOfRange);
    return false;
  }
  if (isA5PageSize(job, options, jobfile.c_str())) job.isA5Page = true;
  return true;
}

int PdfRoad(PsJobState& job, std::string& jobfile) {
  CreatRotateDuplex(job, jobfile);
  int status = 0;
  if (pdf2ps(job, jobfile) != 1) {
    Levelf(job.log, "DEBUG: ", "fail to change file from pdf to ps.\n");
    if (!job.Cancelled()) {
      Levelf(job.log, "ERROR: ", "Unable to convert the PDF job to PostScript.\n");
      status = 1;
    }
  } else {
    if (!job.Cancelled())  // nothing new starts after a cancel
      Creatpthread(job.keepAlive, job.hooks.deviceUri ? job.hooks.deviceUri->c_str() : nullptr,
                   job.ticket.queue.c_str());
    if (!WritePrintFileToStdout(job, jobfile)) {
      Levelf(job.log, "ERROR: ", "Unable to read the converted job.\n");
      status = 1;
    }
  }
  Waitpthread(job.keepAlive);
  return status;
}

int RunJob(PsJobState& job, const PsJobInput& input) {
  char deviceId[512];
  memset(deviceId, 0, sizeof(deviceId));
  int idLen = 511;
  bool idValid = query1284info(job, deviceId, &idLen);
  if (!isSupportPrinter(job.printer, job.log, deviceId, idValid, &job.ismaple))
    return Refuse(job, kUnsupportedPrinter);
  std::string jobfile;
  if (!TakeInput(job, input, jobfile)) return 1;
  if (job.ismaple && !CheckMapleJob(job, jobfile)) return job.Cancelled() ? 0 : 1;

  // The length is passed on as the first query left it.
  idValid = query1284info(job, deviceId, &idLen);
  if (!isLarchPrinter(job.printer, job.log, deviceId, idValid)) {
    if (!WritePSdataToStdout(job, jobfile)) {
      Levelf(job.log, "ERROR: ", "Unable to open the job file.\n");
      return 1;
    }
  } else if (PdfRoad(job, jobfile) != 0) {
    return 1;
  }
  job.statusThread.Stop();
  if (job.outputFailed && !job.Cancelled()) {
    Levelf(job.log, "ERROR: ", "Unable to write the print data.\n");
    return 1;
  }
  return 0;
}

// The spooled job ends in PJL's universal exit: a job whose last block
// (as text, up to a NUL) lacks it gets the end-of-job marker.
void AddEndMarker(PsJobState& job, int fd, const char* last, size_t len) {
  std::string tail(last, strnlen(last, len));
  if (tail.size() > 9 && !strcasestr(tail.c_str(), "%-12345X")) {
    WriteAll(fd, kSpoolEndMarker, sizeof(kSpoolEndMarker) - 1);
    Debugf(job.log, "%s", kSpoolEndMarker);
  }
}

}  // namespace

PsJobState::PsJobState(const PsPrinterDescription& p, const PsJobTicket& t, ByteOutput& d,
                       LogOutput& l, PsJobHooks h)
    : printer(p), ticket(t), hooks(std::move(h)), device(d), log(l),
      deviceFd(dynamic_cast<FdOutput*>(&d) ? dynamic_cast<FdOutput*>(&d)->fd() : -1),
      side(l, hooks.timings, hooks.cancelled, hooks.cancelWakeFd),
      statusThread(side, hooks.deviceLine), keepAlive(side, hooks.deviceLine) {}

PsJobState::~PsJobState() {
  statusThread.Stop();
  if (keepAlive.started) Waitpthread(keepAlive);
  for (const auto& f : tempFiles) unlink(f.c_str());
}

bool WriteToOutput(PsJobState& job, const void* data, size_t len) {
  if (len == 0) return true;
  // A descriptor may be non-blocking while a copy loop runs: WriteAll
  // waits for room.
  if (job.deviceFd >= 0 ? WriteAll(job.deviceFd, data, len) : job.device.Write(data, len))
    return true;
  job.outputFailed = true;
  return false;
}

void RegisterJobTempFile(PsJobState& job, const std::string& path) {
  if (!path.empty() && !IsJobTempFile(job, path)) job.tempFiles.push_back(path);
}

bool IsJobTempFile(const PsJobState& job, const std::string& path) {
  return std::find(job.tempFiles.begin(), job.tempFiles.end(), path) != job.tempFiles.end();
}

void RemoveJobTempFile(PsJobState& job, const std::string& path) {
  auto it = std::find(job.tempFiles.begin(), job.tempFiles.end(), path);
  if (it == job.tempFiles.end()) return;
  unlink(path.c_str());
  job.tempFiles.erase(it);
}

int CreateJobTempFile(PsJobState& job, std::string& path) {
  char name[1024] = "";
  int fd = job.hooks.createTemp ? job.hooks.createTemp(name, sizeof(name))
                                : cupsTempFd(name, sizeof(name));
  if (fd < 0) return -1;
  path = name;
  RegisterJobTempFile(job, path);
  return fd;
}

const char* QueueDefault(const PsPrinterDescription& printer, const char* option) {
  auto it = printer.defaults.find(option);
  return it == printer.defaults.end() ? nullptr : it->second.c_str();
}

std::string EffectiveOption(const PsJobState& job, const char* option) {
  cups_option_t* parsed = nullptr;
  const int n = cupsParseOptions(job.ticket.options.c_str(), 0, &parsed);
  const char* value = cupsGetOption(option, n, parsed);
  std::string choice = value ? value : "";
  PsPageSize size;
  const char* media = value ? nullptr : cupsGetOption("media", n, parsed);
  if (media && !strcasecmp(option, "PageSize") && FindPageSize(job.printer, media, &size))
    choice = media;
  else if (!value && QueueDefault(job.printer, option))
    choice = QueueDefault(job.printer, option);
  cupsFreeOptions(n, parsed);
  return choice;
}

std::string JobCloseOf(const std::string& path) {
  static const char kOpensPjl[] = "\x1b%-12345X@PJL";
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  FdCloser closer{fd};
  const off_t size = lseek(fd, 0, SEEK_END);
  const off_t from = size > 4096 ? size - 4096 : 0;
  std::string tail(static_cast<size_t>(size - from), '\0');
  if (size < 0 || pread(fd, &tail[0], tail.size(), from) != static_cast<ssize_t>(tail.size()))
    return std::string();
  const size_t at = tail.rfind(kOpensPjl);
  return at == std::string::npos ? std::string() : tail.substr(at);
}

void CloseCutJob(PsJobState& job) {
  if (job.cut && !job.jobClose.empty()) WriteToOutput(job, job.jobClose);
}

void Copy_StdinToTempFile(PsJobState& job, int inFd, std::string& path) {
  path.clear();
  std::string name;
  int fd = CreateJobTempFile(job, name);
  if (fd < 0) {
    Levelf(job.log, "DEBUG: ", "Unable to creat temp file.\n");
    return;
  }
  FdCloser closer{fd};
  Levelf(job.log, "DEBUG:", "copying to temp print file \"%s\"\n", name.c_str());
  std::vector<char> buf(kBlockSize);
  size_t last = 0;  // bytes of the last block read
  for (;;) {
    ssize_t n = read(inFd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    last = static_cast<size_t>(n);
    if (!WriteAll(fd, buf.data(), last)) {
      Levelf(job.log, "DEBUG: ", "Unable to write temp print file: %s\n", strerror(errno));
      RemoveJobTempFile(job, name);
      return;
    }
  }
  AddEndMarker(job, fd, buf.data(), last);
  path = name;
}

bool WritePrintFileToStdout(PsJobState& job, const std::string& path) {
  if (path.empty()) {
    Levelf(job.log, "DEBUG: ", "Unable to find Print file.\n");
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Levelf(job.log, "DEBUG:", "Unable open a print file \"%s\"\n", path.c_str());
    return false;
  }
  FdCloser closer{fd};
  job.jobClose = JobCloseOf(path);
  std::vector<char> buf(kBlockSize);
  std::string block;
  for (;;) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    block.assign(buf.data(), static_cast<size_t>(n));
    if (job.Cancelled()) {
      int outlen = 0;
      if (find_pageend(job, block, outlen)) {
        Debugf(job.log, "data_buf = %s, len = %d\n", block.c_str(), outlen);
        break;
      }
    }
    WriteToOutput(job, block);
  }
  CloseCutJob(job);
  Levelf(job.log, "DEBUG:", "Successfully write print file to stdout.\n");
  return true;
}

PsJob::PsJob(const PsPrinterDescription& printer, const PsJobTicket& ticket,
             const PsJobInput& input, ByteOutput& device, LogOutput& log, PsJobHooks hooks)
    : state_(new PsJobState(printer, ticket, device, log, std::move(hooks))), input_(input) {}

PsJob::~PsJob() = default;

int PsJob::Run() {
  const int status = RunJob(*state_, input_);
  state_->statusThread.Stop();
  if (state_->Cancelled()) {
    Levelf(state_->log, "INFO: ", "The job was cancelled.\n");
    return 0;
  }
  return status;
}

void PsJob::Cancel() { state_->side.Cancel(); }

bool PsJob::Cancelled() const { return state_->side.Cancelled(); }

}  // namespace lumora
