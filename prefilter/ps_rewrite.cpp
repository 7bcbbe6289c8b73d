#include "ps_rewrite.h"

#include <fcntl.h>
#include <sys/sendfile.h>
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

#include "job_io.h"
#include "line_reader.h"
#include "prefilter_state.h"
#include "url_decode.h"

const char kCancelTrailer[] =
    "%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n\x04\x1b%-12345X\n";
const char kEndOfJob[] = "\x04\x1b%-12345X";

static_assert(sizeof(kCancelTrailer) - 1 == kCancelTrailerLen, "cancel trailer is 69 bytes");
static_assert(sizeof(kEndOfJob) - 1 == kEndOfJobLen, "end of job is 10 bytes");

namespace {

// The record of the status query thread lives as long as the process: the
// thread is never joined.
cancel_query_arg g_cancel_query_arg;

std::string Format(const char* fmt, int a, int b) {
  char buf[128];
  snprintf(buf, sizeof(buf), fmt, a, b);
  return buf;
}

// After cancellation: the cut at the next page boundary, logged.
bool CancelCut(std::string& data) {
  if (!job_canceled) return false;
  int outlen = 0;
  if (!find_pageend(data, outlen)) return false;
  fprintf(stderr, "data_buf = %s, len = %d\n", data.c_str(), outlen);
  return true;
}

// The PJL lines that follow "@PJL JOB NAME" on the maple family.
struct JobHeader {
  std::string owner;  // "@PJL SET JOBOWNER=..." line
  std::string jobid;  // "@PJL SET JOBID=..." line

  void InsertInto(std::string& line) const {
    if (!strstr(line.c_str(), "@PJL JOB NAME")) return;
    line += owner;
    line += jobid;
    if (isA5Page) line += "@PJL SET PAPER=A5L\r\n";
  }
};

// Gathers the rewritten lines into large writes: one write per line would
// cost a system call for every few dozen bytes. Anything written to the
// output directly (the cancel cut) is preceded by Flush().
class LineOutput {
 public:
  ~LineOutput() { Flush(); }
  void Write(const std::string& line) {
    if (buf_.size() + line.size() > kSize) Flush();
    if (line.size() >= kSize) {
      WriteToOutput(line);
    } else {
      buf_ += line;
    }
  }
  void Flush() {
    if (!buf_.empty()) WriteToOutput(buf_);
    buf_.clear();
  }

 private:
  static constexpr size_t kSize = 65536;
  std::string buf_;
};

// The job goes out in blocks of 8 KiB, each looked at for the cancel cut
// once the job is cancelled. The file is read 16 blocks at a time and the
// blocks before a cut leave in one write, sparing system calls and the
// backend's wake-ups.
void PlainCopy(int fd) {
  constexpr size_t kBlock = 8192;
  // Until the job is cancelled the kernel copies the file to the output
  // itself (no pass through this process's memory); an output it cannot
  // send to is served by the loop below.
  while (!job_canceled) {
    ssize_t n = sendfile(gOutFd, fd, nullptr, 16 * kBlock);
    if (n > 0) continue;
    if (n == 0) return;
    if (errno == EINTR || errno == EAGAIN) continue;
    if (errno == EINVAL || errno == ENOSYS) break;
    // Like a failed write: noted, and the copy goes on in the loop below.
    // (Skipping ahead with lseek never ends: a file offset may pass the end
    // of the file, and sendfile to a closed pipe fails before reading.)
    gOutputFailed = true;
    fprintf(stderr, "write file error! \n");
    break;
  }
  std::vector<char> buf(16 * kBlock);
  std::string block;
  for (;;) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const size_t got = static_cast<size_t>(n);
    size_t pending = 0;  // start of the blocks not yet written
    for (size_t off = 0; off < got; off += kBlock) {
      if (!job_canceled) continue;
      if (off > pending && !WriteToOutput(buf.data() + pending, off - pending))
        fprintf(stderr, "write file error! \n");
      block.assign(buf.data() + off, std::min(kBlock, got - off));
      if (CancelCut(block)) return;
      if (!WriteToOutput(block)) fprintf(stderr, "write file error! \n");
      pending = off + block.size();
    }
    if (got > pending && !WriteToOutput(buf.data() + pending, got - pending))
      fprintf(stderr, "write file error! \n");
  }
}

// Host name, device URI and job id for the PJL header and the status query
// thread, which is started here.
JobHeader PrepareMapleJob(char** argv) {
  char hostname[256] = "";
  if (gethostname(hostname, sizeof(hostname)) != 0) {
    int err = errno;
    fprintf(stderr, "gethostname failed! error errno:%d, msg:%s\n", err, strerror(err));
    hostname[0] = '\0';
  } else {
    hostname[sizeof(hostname) - 1] = '\0';
    fprintf(stderr, "hostname %s\n", hostname);
  }

  char deviceUri[256] = "";
  char makeModel[256] = "";
  getPrinter_optiopns(argv[0], deviceUri, makeModel);

  cancel_query_arg* arg = &g_cancel_query_arg;
  memset(arg, 0, sizeof(*arg));
  snprintf(arg->deviceUri, sizeof(arg->deviceUri), "%s", deviceUri);
  arg->jobId = atoi(argv[1]);
  snprintf(arg->jobOwner, sizeof(arg->jobOwner), "%s", hostname);
  fprintf(stderr, "uri:%s,jobid:%d,jobower:%s\n", arg->deviceUri, arg->jobId, arg->jobOwner);
  fprintf(stderr, "cancel_query_arg point address:0x%x\n",
          static_cast<unsigned>(reinterpret_cast<uintptr_t>(arg)));

  err_thread = gPrefilterHooks.start_status_thread(&status_thread, arg);
  if (err_thread != 0) {
    status_thread = 0;
    fprintf(stderr, "gstopcl::Printer_cancle_query_tread Failed, err = %d\n", err_thread);
  }

  JobHeader header;
  header.owner = std::string("@PJL SET JOBOWNER=\"") + hostname + "\"\r\n";
  header.jobid = std::string("@PJL SET JOBID=") + argv[1] + "\r\n";
  return header;
}

void RewriteLines(LineReader& reader, const JobHeader& header) {
  bool inNumCopies = false;
  std::string line;
  LineOutput out;
  while (reader.ReadLine(line)) {
    header.InsertInto(line);
    if (job_canceled) out.Flush();
    if (CancelCut(line)) return;
    FixPrnPageSize(line, width, height, inNumCopies);
    out.Write(line);
  }
}

// Collated copies inside one PJL job: the whole job once (kept in the
// collated-copy file), then copies-1 times the part after
// "@PJL ENTER LANGUAGE", then the end of job.
void RewriteCollated(LineReader& reader, const std::string& path, const JobHeader& header) {
  const std::string copyPath = path + "_m";
  int copyFd = open(copyPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (copyFd < 0)
    fprintf(stderr, "Uable create temp file error! \n");
  else
    RegisterJobTempFile(copyPath);
  FdCloser closeCopy{copyFd};

  const int passes = copyFd >= 0 ? 1 : copies;
  bool cut = false;
  bool copyFailed = false;
  std::string line;
  LineOutput out;
  for (int pass = 0; pass < passes && !cut; ++pass) {
    fprintf(stderr, "copies %d \n", pass);
    bool inNumCopies = false;
    reader.Seek(0);
    while (reader.ReadLine(line)) {
      header.InsertInto(line);
      if (strstr(line.c_str(), kEndOfJob)) line.clear();
      if (job_canceled) out.Flush();
      if (CancelCut(line)) {
        cut = true;
        break;
      }
      FixPrnPageSize(line, width, height, inNumCopies);
      out.Write(line);
      if (copyFd >= 0 && !copyFailed && !line.empty() &&
          !WriteAll(copyFd, line.data(), line.size()))
        copyFailed = true;
    }
  }

  // A collated-copy file cut short (disk full) would print copies with pages
  // missing: the job fails instead.
  if (copyFailed && !cut) {
    fprintf(stderr, "ERROR: Unable to write the collated-copy file (disk full?); the copies "
                    "are not printed.\n");
    gOutputFailed = true;
  }

  if (copyFd >= 0 && !cut && !copyFailed) {
    LineReader replay;
    replay.Attach(copyFd);
    replay.Seek(0);
    off_t start = 0;
    while (replay.ReadLine(line)) {
      if (strstr(line.c_str(), "@PJL ENTER LANGUAGE")) {
        start = replay.Tell();
        break;
      }
    }
    for (int copy = 1; copy < copies && !cut; ++copy) {
      fprintf(stderr, "copies %d \n", copy);
      replay.Seek(start);
      fprintf(stderr, "off %d \n", static_cast<int>(start));
      while (replay.ReadLine(line)) {
        if (job_canceled) out.Flush();
        if (CancelCut(line)) {
          cut = true;
          break;
        }
        out.Write(line);
      }
    }
  }

  out.Flush();
  WriteToOutput(kEndOfJob, kEndOfJobLen);
  if (copyFd >= 0) RemoveJobTempFile(copyPath);
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

}  // namespace

bool WritePSdataToStdout(char** argv, const std::string& path) {
  int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "Uable open temp file error! \n");
    return false;
  }
  if (!ismaple) {
    FdCloser closer{fd};
    PlainCopy(fd);
    return true;
  }
  LineReader reader;
  reader.Attach(fd, true);
  JobHeader header = PrepareMapleJob(argv);
  if (!iscollate)
    RewriteLines(reader, header);
  else
    RewriteCollated(reader, path, header);
  return true;
}

bool FixPrnPageSize(std::string& line, int w, int h, bool& inNumCopies) {
  const char* text = line.c_str();
  const size_t len = strlen(text);
  if (FindNoCase(text, len, "<</Type/Page/MediaBox [0 0")) {
    if (w == 0 || h == 0) return false;
    line = Format("<</Type/Page/MediaBox [0 0 %d %d]\n", w, h);
    fprintf(stderr, "%s\n", line.c_str());
    return true;
  }
  if (FindNoCase(text, len, "/pdfSetupPaper")) return false;  // the definition
  if (FindNoCase(text, len, "pdfSetupPaper")) {
    if (w == 0 || h == 0) return false;
    line = Format("%d %d pdfSetupPaper\n", w, h);
    fprintf(stderr, "%s\n", line.c_str());
    return true;
  }
  if (iscollate && FindNoCase(text, len, "%RBIBeginNonPPDFeature: *NumCopies")) {
    inNumCopies = true;
    line.clear();
    return true;
  }
  if (iscollate && FindNoCase(text, len, "%RBIEndNonPPDFeature")) {
    inNumCopies = false;
    line.clear();
    return true;
  }
  if (iscollate && inNumCopies) {
    line.clear();
    return true;
  }
  const char* key = FindNoCase(text, len, "<<DeferredMediaSelection");
  if (key && FindNoCase(text, len, ">>setpagedevice")) {
    line.insert(static_cast<size_t>(key - text) + 2, "/");
    fprintf(stderr, "Modified <</DeferredMediaSelection\n");
    return true;
  }
  return false;
}

bool find_pageend(std::string& data, int& outlen) {
  outlen = 0;
  const char* text = data.c_str();  // the text ends at its first NUL
  if (strstr(text, "%%EndSetup\n%%Page:")) return false;
  const char* page = strstr(text, "%%Page:");
  if (!page) return false;
  fprintf(stderr, "find page end\n");
  WriteToOutput(text, static_cast<size_t>(page - text));
  data.assign(kCancelTrailer, kCancelTrailerLen);
  outlen = kCancelTrailerLen;
  WriteToOutput(data);
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
