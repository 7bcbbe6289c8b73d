// SPDX-License-Identifier: GPL-2.0-or-later
#include "ps_convert.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumora::app {

namespace {

// What a CUPS queue of each family runs, as the scheduler picks the chain
// from the PPD's *cupsFilter2 lines and the CUPS filters' costs: maple and
// the other family take PostScript (pstoLumora from
// application/vnd.cups-postscript), Larch takes PDF (from
// application/vnd.cups-pdf).
constexpr int kMaxFilters = 3;
struct Chain {
  const char* format;
  const char* toPostScript[kMaxFilters];
  const char* toPdf[kMaxFilters];
};

constexpr Chain kChains[] = {
    {"application/pdf", {"pdftopdf", "pdftops"}, {"pdftopdf"}},
    {"application/postscript", {"pstops"}, {"gstopdf", "pdftopdf"}},
    {"image/pwg-raster", {"rastertopdf", "pdftopdf", "pdftops"}, {"rastertopdf", "pdftopdf"}},
    {"image/urf", {"rastertopdf", "pdftopdf", "pdftops"}, {"rastertopdf", "pdftopdf"}},
    {"image/jpeg", {"imagetopdf", "pdftops"}, {"imagetopdf"}},
    {"image/png", {"imagetopdf", "pdftops"}, {"imagetopdf"}},
};

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Starts one filter with its standard input, output and error on the given
// descriptors; 0 when it could not be started.
pid_t Spawn(const std::string& path, const std::vector<std::string>& args,
            const std::vector<std::string>& environment, int in, int out, int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0)
    posix_spawn_file_actions_adddup2(&actions, in, 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  // The back and side channels of a CUPS filter: none here.
  posix_spawn_file_actions_addopen(&actions, 3, "/dev/null", O_RDWR, 0);
  posix_spawn_file_actions_addopen(&actions, 4, "/dev/null", O_RDWR, 0);
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  // Filters are ended with SIGTERM and must not die of a closed pipe
  // unnoticed: they get the default dispositions, as under the scheduler.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attr, &all);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  // A group of its own: ending it ends the programs it started (pdftops
  // runs ghostscript and pstops).
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : 0;
}

}  // namespace

const char* const kPsDocumentFormats[] = {"application/pdf", "application/postscript",
                                          "image/pwg-raster", "image/urf",
                                          "image/jpeg", "image/png"};
const int kPsDocumentFormatCount = sizeof(kPsDocumentFormats) / sizeof(kPsDocumentFormats[0]);

std::vector<std::string> ConversionChain(PsFamily family, const std::string& format) {
  for (const Chain& c : kChains) {
    if (format != c.format) continue;
    const char* const* names = family == PsFamily::kLarch ? c.toPdf : c.toPostScript;
    std::vector<std::string> filters;
    for (int i = 0; i < kMaxFilters && names[i]; i++) filters.push_back(names[i]);
    return filters;
  }
  return {};
}

std::vector<std::string> FilterEnvironment(const FilterEnv& env) {
  return {
      "CUPS_DATADIR=" + env.dataDir,
      "CUPS_SERVERBIN=" + env.serverBin,
      "CUPS_SERVERROOT=/etc/cups",
      "HOME=" + env.tempDir,
      "PATH=" + env.serverBin + "/filter:/usr/bin:/usr/sbin:/bin:/usr/bin",
      "SOFTWARE=CUPS/2.4",
      "TMPDIR=" + env.tempDir,
      "USER=root",
      "CUPS_MAX_MESSAGE=2047",
      "CHARSET=utf-8",
      "LANG=en.UTF-8",
      "PPD=" + env.ppd,
      "CONTENT_TYPE=" + env.contentType,
      "DEVICE_URI=" + env.deviceUri,
      "PRINTER_INFO=" + env.printer,
      "PRINTER_LOCATION=",
      "PRINTER=" + env.printer,
      "PRINTER_STATE_REASONS=none",
      "CUPS_FILETYPE=document",
      "FINAL_CONTENT_TYPE=application/postscript",
  };
}

FilterChain::~FilterChain() { Finish(true); }

bool FilterChain::Start(const std::vector<std::string>& filters, const FilterArgs& a,
                        const std::vector<std::string>& environment, const std::string& serverBin) {
  int logPipe[2];
  if (filters.empty() || pipe2(logPipe, O_CLOEXEC) != 0) return false;
  int in = -1;
  bool ok = true;
  for (size_t i = 0; i < filters.size() && ok; i++) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      ok = false;
      break;
    }
    std::vector<std::string> args = {a.queue, a.jobId, a.user, a.title, a.copies, a.options};
    if (i == 0) args.push_back(a.document);
    pid_t pid = Spawn(serverBin + "/filter/" + filters[i], args, environment, in, out[1],
                      logPipe[1]);
    CloseFd(in);
    close(out[1]);
    in = out[0];
    if (pid == 0) {
      failure_ = filters[i] + " (cannot be started)";
      ok = false;
      break;
    }
    pids_.push_back(pid);
    names_.push_back(filters[i]);
  }
  close(logPipe[1]);
  output_ = in;
  logThread_ = std::thread([this, fd = logPipe[0]] { ReadLog(fd); });
  if (!ok) Finish(true);
  return ok;
}

int FilterChain::TakeOutput() {
  int fd = output_;
  output_ = -1;
  return fd;
}

void FilterChain::ReadLog(int fd) {
  std::string pending;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof(buffer))) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      log_(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
  }
  if (!pending.empty()) log_(pending);
  close(fd);
}

bool FilterChain::Finish(bool kill) {
  CloseFd(output_);
  if (kill) {
    for (pid_t pid : pids_) ::kill(-pid, SIGTERM);
  }
  for (size_t i = 0; i < pids_.size(); i++) {
    int status = 0;
    while (waitpid(pids_[i], &status, 0) < 0 && errno == EINTR) {
    }
    bool good = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!good && failure_.empty()) {
      failure_ = names_[i] + (WIFEXITED(status)
                                  ? " (status " + std::to_string(WEXITSTATUS(status)) + ")"
                                  : " (signal " + std::to_string(WTERMSIG(status)) + ")");
    }
  }
  pids_.clear();
  if (logThread_.joinable()) logThread_.join();
  return failure_.empty();
}

}  // namespace lumora::app
