// SPDX-License-Identifier: GPL-2.0-or-later
#include "prefilter_job.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "job_io.h"
#include "media_size.h"
#include "pdf_road.h"
#include "prefilter_state.h"
#include "ps_rewrite.h"
#include "support_check.h"

// Localized error output of libcups (exported, private API).
extern "C" int _cupsLangPrintError(const char* prefix, const char* message);

namespace {

constexpr size_t kBlockSize = 8192;

// End-of-job marker appended to a spooled job that lacks PJL's universal exit.
const char kSpoolEndMarker[] = "\x04\x1b%-12345X\n";

// Whatever path the job leaves by, the files it made are removed.
struct JobTempFilesGuard {
  ~JobTempFilesGuard() { RemoveJobTempFiles(); }
};

// Keep-alive thread of the PDF road, ended on every way out.
struct KeepAlive {
  ~KeepAlive() { gPrefilterHooks.stop_keepalive(); }
};

void Refuse(const char* message) {
  if (gRefusalPause) sleep(gRefusalPause);
  _cupsLangPrintError("ERROR", message);
}

int PdfRoad(char** argv, std::string& jobfile) {
  KeepAlive keepAlive;
  CreatRotateDuplex(argv, jobfile);
  if (pdf2ps(jobfile, argv) != 1) {
    fprintf(stderr, "DEBUG: fail to change file from pdf to ps.\n");
    fprintf(stderr, "ERROR: Unable to convert the PDF job to PostScript.\n");
    return 1;
  }
  gPrefilterHooks.start_keepalive(argv);
  if (!WritePrintFileToStdout(jobfile)) {
    fprintf(stderr, "ERROR: Unable to read the converted job.\n");
    return 1;
  }
  return 0;
}

}  // namespace

void cancel_job(int) {
  SetJobCanceled();
  static const char msg[] = "cancel_job =1\n";
  ssize_t ignored = write(2, msg, sizeof(msg) - 1);
  (void)ignored;
}

void InstallPrefilterSignals() {
  setbuf(stderr, nullptr);
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  sigemptyset(&action.sa_mask);
  action.sa_handler = cancel_job;
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
}

void Copy_StdinToTempFile(std::string& path) {
  path.clear();
  std::string name;
  int fd = CreateJobTempFile(name);
  if (fd < 0) {
    fprintf(stderr, "DEBUG: Unable to creat temp file.\n");
    return;
  }
  FdCloser closer{fd};
  fprintf(stderr, "DEBUG:copying to temp print file \"%s\"\n", name.c_str());

  std::vector<char> buf(kBlockSize);
  size_t last = 0;  // bytes of the last block read
  for (;;) {
    ssize_t n = read(gInFd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    last = static_cast<size_t>(n);
    if (!WriteAll(fd, buf.data(), last)) {
      fprintf(stderr, "DEBUG: Unable to write temp print file: %s\n", strerror(errno));
      RemoveJobTempFile(name);
      return;
    }
  }
  // A job whose last block does not end in PJL's universal exit gets the
  // end-of-job marker. The block is looked at as text (up to a NUL).
  std::string tail(buf.data(), strnlen(buf.data(), last));
  if (tail.size() > 9 && !strcasestr(tail.c_str(), "%-12345X")) {
    WriteAll(fd, kSpoolEndMarker, sizeof(kSpoolEndMarker) - 1);
    WriteAll(2, kSpoolEndMarker, sizeof(kSpoolEndMarker) - 1);
  }
  path = name;
}

bool WritePrintFileToStdout(const std::string& path) {
  if (path.empty()) {
    fprintf(stderr, "DEBUG: Unable to find Print file.\n");
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "DEBUG:Unable open a print file \"%s\"\n", path.c_str());
    return false;
  }
  FdCloser closer{fd};
  std::vector<char> buf(kBlockSize);
  std::string block;
  for (;;) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    block.assign(buf.data(), static_cast<size_t>(n));
    if (job_canceled) {
      int outlen = 0;
      if (find_pageend(block, outlen)) {
        fprintf(stderr, "data_buf = %s, len = %d\n", block.c_str(), outlen);
        break;
      }
    }
    WriteToOutput(block);
  }
  fprintf(stderr, "DEBUG:Successfully write print file to stdout.\n");
  return true;
}

int pstoLumoraJob(int argc, char* argv[], int in_fd, int out_fd) {
  gInFd = in_fd;
  gOutFd = out_fd;
  if (argc < 6 || argc > 7) {
    fprintf(stderr, "ERROR: Usage: pstoLumora job-id user title copies options [file]\n");
    return 1;
  }
  JobTempFilesGuard tempFiles;

  char deviceId[512];
  memset(deviceId, 0, sizeof(deviceId));
  int idLen = 511;
  bool idValid = query1284info(deviceId, &idLen);
  if (!isSupportPrinter(deviceId, idValid, &ismaple)) {
    Refuse("当前打印机不可打印，请使用正确的打印机\n");
    return 1;
  }

  std::string jobfile;
  if (argc == 6) {
    Copy_StdinToTempFile(jobfile);
    if (jobfile.empty()) {
      fprintf(stderr, "ERROR: Unable to spool the job to a temporary file.\n");
      return 1;
    }
  } else {
    jobfile = argv[6];
  }

  if (ismaple) {
    checkmediasize(argv, 0, &width, &height);
    if (strcasestr(argv[5], "collate") && !strcasestr(argv[5], "noCollate")) {
      iscollate = true;
      copies = atoi(argv[4]);
    }
    if (isSupportCustomPageSize(argv[5], jobfile.c_str()) != 1) {
      Refuse("The current custom pager cannot be printed,please use the corrent paper\n");
      return 1;
    }
    if (isA5PageSize(argv[5], jobfile.c_str())) isA5Page = true;
  }

  // The length is passed on as the first query left it.
  idValid = query1284info(deviceId, &idLen);
  if (!isLarchPrinter(deviceId, idValid)) {
    if (!WritePSdataToStdout(argv, jobfile)) {
      fprintf(stderr, "ERROR: Unable to open the job file.\n");
      return 1;
    }
  } else if (PdfRoad(argv, jobfile) != 0) {
    return 1;
  }
  if (gOutputFailed) {
    fprintf(stderr, "ERROR: Unable to write the print data.\n");
    return 1;
  }
  return 0;
}
