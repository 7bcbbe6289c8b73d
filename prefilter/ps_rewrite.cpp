// SPDX-License-Identifier: GPL-2.0-or-later
#include "ps_rewrite.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cancellable_output.h"
#include "job_io.h"
#include "line_reader.h"
#include "ps_job_state.h"
#include "side_log.h"
#include "url_decode.h"

namespace lumora {

const char kCancelTrailer[] =
    "%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n\x04\x1b%-12345X\n";
const char kEndOfJob[] = "\x04\x1b%-12345X";

static_assert(sizeof(kCancelTrailer) - 1 == kCancelTrailerLen, "cancel trailer is 69 bytes");
static_assert(sizeof(kEndOfJob) - 1 == kEndOfJobLen, "end of job is 10 bytes");

namespace {

std::string Format(const char* fmt, int a, int b) {
  char buf[128];
  snprintf(buf, sizeof(buf), fmt, a, b);
  return buf;
}

// After cancellation: the cut at the next page boundary, logged.
bool CancelCut(PsJobState& job, std::string& data) {
  if (!job.Cancelled()) return false;
  int outlen = 0;
  if (!find_pageend(job, data, outlen)) return false;
  Debugf(job.log, "data_buf = %s, len = %d\n", data.c_str(), outlen);
  return true;
}

// FixPrnPageSize; when it changes the line, the line as it was goes to
// `original` (when given).
bool FixLine(LogOutput* log, std::string& line, int w, int h, bool collate,
             bool& inNumCopies, std::string* original);

// The PJL lines that follow "@PJL JOB NAME" on the maple family.
struct JobHeader {
  std::string owner;  // "@PJL SET JOBOWNER=..." line
  std::string jobid;  // "@PJL SET JOBID=..." line
  bool a5 = false;    // "@PJL SET PAPER=A5L" too

  void InsertInto(std::string& line) const {
    if (!strstr(line.c_str(), "@PJL JOB NAME")) return;
    line += owner;
    line += jobid;
    if (a5) line += "@PJL SET PAPER=A5L\r\n";
  }
};

constexpr size_t kBlock = 8192;

// Gathers the rewritten lines into large writes: one write per line would
// cost a system call for every few dozen bytes. What leaves after a cancel
// is what a line-by-line writer would have sent: the line under way when the
// job is cancelled is finished, and each line still held meets the cancel
// cut as the line it was before the page-size fixes.
class LineOutput {
 public:
  explicit LineOutput(PsJobState& job) : job_(job), out_(job) {}
  // Adds a line; `original` is its text before the page-size fixes when
  // they changed it. True when a cancel cut ended the job while sending.
  bool Write(const std::string& line, const std::string* original) {
    if (job_.Cancelled()) {
      // The caller ran the cut on this line: it goes as it is.
      if (Flush()) return true;
      WriteToOutput(job_, line);
      return false;
    }
    if (buf_.size() + line.size() > kPipePiece && Flush()) return true;
    if (original) originals_.emplace_back(ends_.size(), *original);
    buf_ += line;
    ends_.push_back(buf_.size());
    return buf_.size() >= kPipePiece && Flush();
  }
  // Once the job is cancelled: the lines held go out (the cut applies to
  // them), then the cut runs on `line`. True when the job was cut.
  bool CutIfCanceled(std::string& line) {
    return job_.Cancelled() && (Flush() || CancelCut(job_, line));
  }
  // Sends the lines held. True when a cancel cut ended the job.
  bool Flush() {
    if (buf_.empty()) return false;
    const size_t sent = job_.Cancelled() ? 0 : out_.Write(buf_.data(), buf_.size());
    // Short of a cancel, a shorter write is a failed output (outputFailed).
    const bool cut = sent < buf_.size() && job_.Cancelled() && SendHeldAfterCancel(sent);
    buf_.clear();
    ends_.clear();
    originals_.clear();
    return cut;
  }

 private:
  // Writes of at most a pipe's 64 KiB fit whole into a pipe the backend has
  // emptied; a larger one would wait for room once more.
  static constexpr size_t kPipePiece = 65536;

  // The job was cancelled when `sent` bytes of the lines held had gone: the
  // line under way is finished, the later ones go one by one through the
  // cut. True when the cut was made.
  bool SendHeldAfterCancel(size_t sent) {
    size_t start = 0;
    auto original = originals_.begin();
    for (size_t i = 0; i < ends_.size(); start = ends_[i++]) {
      if (ends_[i] <= sent) continue;
      const size_t from = std::max(start, sent);
      if (start >= sent) {
        while (original != originals_.end() && original->first < i) ++original;
        std::string text = original != originals_.end() && original->first == i
                               ? original->second
                               : buf_.substr(start, ends_[i] - start);
        if (CancelCut(job_, text)) return true;
      }
      WriteToOutput(job_, buf_.data() + from, ends_[i] - from);
    }
    return false;
  }

  PsJobState& job_;
  CancellableOutput out_;
  std::string buf_;
  std::vector<size_t> ends_;                                // end of each line in buf_
  std::vector<std::pair<size_t, std::string>> originals_;  // line index, text before the fixes
};

// Reads until want bytes or the end of the file; returns the bytes read.
size_t ReadFull(int fd, char* buf, size_t want) {
  size_t got = 0;
  while (got < want) {
    ssize_t n = read(fd, buf + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

// Sends whole 8 KiB blocks of the file (the last may be shorter): handed
// over in one piece until the job is cancelled; then the block under way is
// finished and each later block meets the cancel cut. True when cut.
bool SendBlocks(PsJobState& job, CancellableOutput& out, const char* buf, size_t len) {
  const size_t sent = job.Cancelled() ? 0 : out.Write(buf, len);
  if (sent == len) return false;
  if (!job.Cancelled()) {
    Debugf(job.log, "write file error! \n");
    return false;
  }
  const size_t blockEnd = std::min(len, (sent + kBlock - 1) / kBlock * kBlock);
  if (blockEnd > sent && !WriteToOutput(job, buf + sent, blockEnd - sent))
    Debugf(job.log, "write file error! \n");
  std::string block;
  for (size_t off = blockEnd; off < len; off += kBlock) {
    block.assign(buf + off, std::min(kBlock, len - off));
    if (CancelCut(job, block)) return true;
    if (!WriteToOutput(job, block)) Debugf(job.log, "write file error! \n");
  }
  return false;
}

// Until the job is cancelled the kernel copies the file to the output (no
// pass through this process's memory). True when the whole file went;
// otherwise the block loop goes on from offset: after a cancel, or when
// sendfile cannot serve the output or failed.
bool KernelCopy(PsJobState& job, CancellableOutput& out, int fd, off_t& offset) {
  while (!job.Cancelled()) {
    if (out.SendFile(fd, &offset, 16 * kBlock) > 0) continue;
    if (job.Cancelled()) break;
    if (out.error() == 0) return true;  // the end of the file
    if (out.error() != EINVAL && out.error() != ENOSYS) {
      // Like a failed write: noted, and the copy goes on in the block loop.
      // (Skipping ahead with lseek never ends: a file offset may pass the
      // end of the file, and sendfile to a closed pipe fails before reading.)
      job.outputFailed = true;
      Debugf(job.log, "write file error! \n");
    }
    break;
  }
  return false;
}

// The plain copy: the job goes out in blocks of 8 KiB, each looked at for
// the cancel cut once the job is cancelled. The file is read 16 blocks at a
// time, sparing system calls and the backend's wake-ups.
void PlainCopy(PsJobState& job, int fd) {
  CancellableOutput out(job);
  off_t offset = 0;
  if (KernelCopy(job, out, fd, offset) || lseek(fd, offset, SEEK_SET) < 0) return;
  std::vector<char> buf(16 * kBlock);
  // A block the kernel had begun is finished, so the later ones are the
  // file's own 8 KiB blocks.
  if (offset % kBlock != 0) {
    const size_t got = ReadFull(fd, buf.data(), kBlock - offset % kBlock);
    if (got > 0 && !WriteToOutput(job, buf.data(), got)) Debugf(job.log, "write file error! \n");
  }
  for (;;) {
    const size_t got = ReadFull(fd, buf.data(), buf.size());
    if (got == 0 || SendBlocks(job, out, buf.data(), got)) return;
  }
}

// The host's name for the job owner ("" when it cannot be had), logged.
std::string OwnerName(PsJobState& job) {
  char hostname[256] = "";
  const int rc = job.hooks.hostName ? job.hooks.hostName(hostname, sizeof(hostname))
                                    : gethostname(hostname, sizeof(hostname));
  if (rc != 0) {
    int err = errno;
    Debugf(job.log, "gethostname failed! error errno:%d, msg:%s\n", err, strerror(err));
    return std::string();
  }
  hostname[sizeof(hostname) - 1] = '\0';
  Debugf(job.log, "hostname %s\n", hostname);
  return hostname;
}

// The status query thread, on the queue's device and this host's jobs.
void StartStatusThread(PsJobState& job, const std::string& hostname) {
  const std::string deviceUri = job.hooks.statusDeviceUri ? job.hooks.statusDeviceUri() : "";
  cancel_query_arg arg;
  memset(&arg, 0, sizeof(arg));
  snprintf(arg.deviceUri, sizeof(arg.deviceUri), "%s", deviceUri.c_str());
  arg.jobId = atoi(job.ticket.jobId.c_str());
  snprintf(arg.jobOwner, sizeof(arg.jobOwner), "%s", hostname.c_str());
  Debugf(job.log, "uri:%s,jobid:%d,jobower:%s\n", arg.deviceUri, arg.jobId, arg.jobOwner);
  Debugf(job.log, "cancel_query_arg point address:0x%x\n",
         static_cast<unsigned>(reinterpret_cast<uintptr_t>(&job.statusThread.arg)));
  const int err = job.statusThread.Start(arg);
  if (err != 0)
    Debugf(job.log, "gstopcl::Printer_cancle_query_tread Failed, err = %d\n", err);
}

// Host name, device URI and job id for the PJL header and the status query
// thread, which is started here.
JobHeader PrepareMapleJob(PsJobState& job) {
  const std::string hostname = OwnerName(job);
  JobHeader header;
  header.owner = "@PJL SET JOBOWNER=\"" + hostname + "\"\r\n";
  header.jobid = "@PJL SET JOBID=" + job.ticket.jobId + "\r\n";
  header.a5 = job.isA5Page;
  // A cancelled job has nothing left to watch for: no thread starts.
  if (!job.Cancelled()) StartStatusThread(job, hostname);
  return header;
}

void RewriteLines(PsJobState& job, LineReader& reader, const JobHeader& header) {
  bool inNumCopies = false;
  std::string line, original;
  LineOutput out(job);
  while (reader.ReadLine(line)) {
    header.InsertInto(line);
    if (out.CutIfCanceled(line)) return;
    const bool changed =
        FixLine(&job.log, line, job.width, job.height, job.iscollate, inNumCopies, &original);
    if (out.Write(line, changed ? &original : nullptr)) return;
  }
  out.Flush();
}

// One pass of a collated job over the job file: lines rewritten, sent and
// kept in the collated-copy file (copyFd >= 0). True when a cut ended it.
bool CollatedPass(PsJobState& job, LineReader& reader, const JobHeader& header, LineOutput& out,
                  int copyFd, bool& copyFailed) {
  bool inNumCopies = false;
  std::string line, original;
  reader.Seek(0);
  while (reader.ReadLine(line)) {
    header.InsertInto(line);
    if (strstr(line.c_str(), kEndOfJob)) line.clear();
    if (out.CutIfCanceled(line)) return true;
    const bool changed =
        FixLine(&job.log, line, job.width, job.height, job.iscollate, inNumCopies, &original);
    if (out.Write(line, changed ? &original : nullptr)) return true;
    if (copyFd >= 0 && !copyFailed && !line.empty() && !WriteAll(copyFd, line.data(), line.size()))
      copyFailed = true;
  }
  return false;
}

// Copies 1 to copies-1 from the collated-copy file: its part after
// "@PJL ENTER LANGUAGE" (the whole file without it). True when cut.
bool ReplayCopies(PsJobState& job, int copyFd, LineOutput& out) {
  LineReader replay;
  replay.Attach(copyFd);
  replay.Seek(0);
  std::string line;
  off_t start = 0;
  while (replay.ReadLine(line)) {
    if (strstr(line.c_str(), "@PJL ENTER LANGUAGE")) {
      start = replay.Tell();
      break;
    }
  }
  for (int copy = 1; copy < job.copies; ++copy) {
    Debugf(job.log, "copies %d \n", copy);
    replay.Seek(start);
    Debugf(job.log, "off %d \n", static_cast<int>(start));
    while (replay.ReadLine(line)) {
      if (out.CutIfCanceled(line) || out.Write(line, nullptr)) return true;
    }
  }
  return false;
}

// The collated-copy file "<job file>_m"; -1 (logged) when it cannot be made.
int OpenCollatedCopyFile(PsJobState& job, const std::string& copyPath) {
  int copyFd = open(copyPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (copyFd < 0)
    Debugf(job.log, "Uable create temp file error! \n");
  else
    RegisterJobTempFile(job, copyPath);
  return copyFd;
}

// Collated copies inside one PJL job: the whole job once (kept in the
// collated-copy file), then copies-1 times the part after
// "@PJL ENTER LANGUAGE", then the end of job.
void RewriteCollated(PsJobState& job, LineReader& reader, const std::string& path,
                     const JobHeader& header) {
  const std::string copyPath = path + "_m";
  const int copyFd = OpenCollatedCopyFile(job, copyPath);
  FdCloser closeCopy{copyFd};
  const int passes = copyFd >= 0 ? 1 : job.copies;
  bool cut = false;
  bool copyFailed = false;
  LineOutput out(job);
  for (int pass = 0; pass < passes && !cut; ++pass) {
    Debugf(job.log, "copies %d \n", pass);
    cut = CollatedPass(job, reader, header, out, copyFd, copyFailed);
  }
  // A collated-copy file cut short (disk full) would print copies with pages
  // missing: the job fails instead.
  if (copyFailed && !cut) {
    Levelf(job.log, "ERROR: ",
           "Unable to write the collated-copy file (disk full?); the copies are not printed.\n");
    job.outputFailed = true;
  }
  if (copyFd >= 0 && !cut && !copyFailed) cut = ReplayCopies(job, copyFd, out);
  if (!cut) out.Flush();
  WriteToOutput(job, kEndOfJob, kEndOfJobLen);
  if (copyFd >= 0) RemoveJobTempFile(job, copyPath);
}

// strcasestr for the page-size checks, which look at every line of the
// job: the text up to its first NUL (len bytes) searched for needle, ASCII
// letters matched in either case. Candidates are found with memchr, so a
// line without the needle's first letter costs a scan or two.
const char* FindNoCase(const char* text, size_t len, const char* needle) {
  const size_t n = strlen(needle);
  if (n == 0) return text;
  if (len < n) return nullptr;
  const char* const last = text + (len - n);
  const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  const char lo = static_cast<char>(lower(static_cast<unsigned char>(needle[0])));
  const char up = lo >= 'a' && lo <= 'z' ? static_cast<char>(lo - 32) : lo;
  // The next place of each case of the first letter at or after p; stale
  // once p has passed it.
  const char* nextLo = nullptr;
  const char* nextUp = nullptr;
  bool loStale = true;
  bool upStale = lo != up;
  for (const char* p = text; p <= last;) {
    const size_t span = static_cast<size_t>(last - p) + 1;
    if (loStale) nextLo = static_cast<const char*>(memchr(p, lo, span));
    if (upStale) nextUp = static_cast<const char*>(memchr(p, up, span));
    loStale = upStale = false;
    const char* c = nextLo;
    if (nextUp != nullptr && (c == nullptr || nextUp < c)) c = nextUp;
    if (c == nullptr) return nullptr;
    size_t i = 1;
    while (i < n && lower(static_cast<unsigned char>(c[i])) ==
                        lower(static_cast<unsigned char>(needle[i])))
      ++i;
    if (i == n) return c;
    p = c + 1;
    if (c == nextLo)
      loStale = true;
    else
      upStale = true;
  }
  return nullptr;
}

bool FixLine(LogOutput* log, std::string& line, int w, int h, bool collate,
             bool& inNumCopies, std::string* original) {
  const char* text = line.c_str();
  const size_t len = strlen(text);
  if (FindNoCase(text, len, "<</Type/Page/MediaBox [0 0")) {
    if (w == 0 || h == 0) return false;
    if (original) original->swap(line);
    line = Format("<</Type/Page/MediaBox [0 0 %d %d]\n", w, h);
    if (log) Debugf(*log, "%s\n", line.c_str());
    return true;
  }
  if (FindNoCase(text, len, "/pdfSetupPaper")) return false;  // the definition
  if (FindNoCase(text, len, "pdfSetupPaper")) {
    if (w == 0 || h == 0) return false;
    if (original) original->swap(line);
    line = Format("%d %d pdfSetupPaper\n", w, h);
    if (log) Debugf(*log, "%s\n", line.c_str());
    return true;
  }
  if (collate && FindNoCase(text, len, "%RBIBeginNonPPDFeature: *NumCopies")) {
    inNumCopies = true;
    if (original) original->swap(line);
    line.clear();
    return true;
  }
  if (collate && FindNoCase(text, len, "%RBIEndNonPPDFeature")) {
    inNumCopies = false;
    if (original) original->swap(line);
    line.clear();
    return true;
  }
  if (collate && inNumCopies) {
    if (original) original->swap(line);
    line.clear();
    return true;
  }
  const char* key = FindNoCase(text, len, "<<DeferredMediaSelection");
  if (key && FindNoCase(text, len, ">>setpagedevice")) {
    if (original) *original = line;
    line.insert(static_cast<size_t>(key - text) + 2, "/");
    if (log) Debugf(*log, "Modified <</DeferredMediaSelection\n");
    return true;
  }
  return false;
}

}  // namespace

bool WritePSdataToStdout(PsJobState& job, const std::string& path) {
  int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Debugf(job.log, "Uable open temp file error! \n");
    return false;
  }
  job.jobClose = JobCloseOf(path);
  if (!job.ismaple) {
    FdCloser closer{fd};
    PlainCopy(job, fd);
    CloseCutJob(job);
    return true;
  }
  LineReader reader;
  reader.Attach(fd, true);
  JobHeader header = PrepareMapleJob(job);
  if (!job.iscollate)
    RewriteLines(job, reader, header);
  else
    RewriteCollated(job, reader, path, header);
  CloseCutJob(job);
  return true;
}

bool FixPrnPageSize(std::string& line, int w, int h, bool collate, bool& inNumCopies) {
  return FixLine(nullptr, line, w, h, collate, inNumCopies, nullptr);
}

bool find_pageend(PsJobState& job, std::string& data, int& outlen) {
  outlen = 0;
  const char* text = data.c_str();  // the text ends at its first NUL
  if (strstr(text, "%%EndSetup\n%%Page:")) return false;
  const char* page = strstr(text, "%%Page:");
  if (!page) return false;
  Debugf(job.log, "find page end\n");
  WriteToOutput(job, text, static_cast<size_t>(page - text));
  data.assign(kCancelTrailer, kCancelTrailerLen);
  outlen = kCancelTrailerLen;
  WriteToOutput(job, data);
  job.cut = true;
  return true;
}

void strToLower(const char* src, char* dst, size_t dstSize) {
  if (!src || !dst || dstSize == 0) return;
  size_t i = 0;
  for (; src[i] && i + 1 < dstSize; ++i) dst[i] = static_cast<char>(tolower(static_cast<unsigned char>(src[i])));
  dst[i] = '\0';
}

void FindQueueOptions(int numDests, cups_dest_t* dests, const char* printerName, char* deviceUri,
                      char* makeModel) {
  if (!printerName) return;
  std::vector<char> queue(strlen(printerName) + 1);
  strToLower(printerName, queue.data(), queue.size());
  for (int i = 0; i < numDests; ++i) {
    if (dests[i].instance) continue;
    const char* supported = cupsGetOption("printer-uri-supported", dests[i].num_options, dests[i].options);
    if (!supported) continue;
    std::vector<char> uri(strlen(supported) + 1);
    strToLower(supported, uri.data(), uri.size());
    urldecode(uri.data());
    const char* slash = strrchr(uri.data(), '/');
    if (!slash || strcmp(slash + 1, queue.data()) != 0) continue;
    const char* mm = cupsGetOption("printer-make-and-model", dests[i].num_options, dests[i].options);
    const char* dev = cupsGetOption("device-uri", dests[i].num_options, dests[i].options);
    snprintf(makeModel, 256, "%s", mm ? mm : "");
    snprintf(deviceUri, 256, "%s", dev ? dev : "");
  }
}

int getPrinter_optiopns(const char* printerName, char* deviceUri, char* makeModel) {
  cups_dest_t* dests = nullptr;
  int num = cupsGetDests(&dests);
  FindQueueOptions(num, dests, printerName, deviceUri, makeModel);
  cupsFreeDests(num, dests);
  return 0;
}

}  // namespace lumora
