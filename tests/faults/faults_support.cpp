// SPDX-License-Identifier: GPL-2.0-or-later
#include "faults_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdint>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace lumora::test::faults {

const char kRasterModelZ[] = "Lumora Cedar C300 Series";
const char kRasterModelC[] = "Lumora Hazel H1 Series";
const char kRasterModelM[] = "Lumora Elm E100 Series";
const char kMapleNick[] = "Lumora MP2310 Series PS";
const char kPlainNick[] = "Lumora OP3100 Series PS";
const char kLarchNick[] = "Lumora LP5100 Series PS";

namespace {

// Microseconds of the monotonic clock: 64 bits, also where long has 32
// (armhf), whose long wraps after 36 minutes of uptime.
int64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// The scheduler's environment for a filter, plus the sanitizer settings of
// the test run.
std::vector<std::string> FilterEnvironment(const Launch& l) {
  std::map<std::string, std::string> env = {
      {"PATH", "/usr/bin:/bin"},
      {"LANG", "C"},
      {"CUPS_SERVER", "/nonexistent-lumora-faults/cups.sock"},
      {"LUMORA_MANUAL_DUPLEX_PAUSE", "0"},
  };
  for (const char* pass : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* v = getenv(pass)) env[pass] = v;
  for (const auto& kv : l.env) env[kv.first] = kv.second;
  std::vector<std::string> out;
  for (const auto& kv : env) out.push_back(kv.first + "=" + kv.second);
  return out;
}

}  // namespace

Outcome RunFilter(const Launch& l) {
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC)) abort();
  std::vector<std::string> args = {l.queue};
  args.insert(args.end(), l.args.begin(), l.args.end());
  std::vector<std::string> env = FilterEnvironment(l);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  if (l.output == Output::kClosedPipe) close(outPipe[0]);  // nobody will ever read
  fcntl(outPipe[1], F_SETPIPE_SZ, l.pipeBytes);
  const int64_t start = NowUs();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(l.stdinFile.empty() ? "/dev/null" : l.stdinFile.c_str(), O_RDONLY);
    int out = l.output == Output::kDevFull ? open("/dev/full", O_WRONLY) : outPipe[1];
    dup2(in, 0);
    dup2(out, 1);
    dup2(errPipe[1], 2);
    // Nothing else is inherited: no side channel, no back channel.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (!l.cwd.empty() && chdir(l.cwd.c_str()) != 0) _exit(126);
    signal(SIGPIPE, SIG_DFL);
    if (l.addressSpaceLimit > 0) {
      const rlimit lim{static_cast<rlim_t>(l.addressSpaceLimit),
                       static_cast<rlim_t>(l.addressSpaceLimit)};
      setrlimit(RLIMIT_AS, &lim);
    }
    execve(l.program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);

  Outcome r;
  bool outOpen = l.output == Output::kPipe, errOpen = true;
  if (l.output == Output::kDevFull) close(outPipe[0]);
  const int64_t deadline = start + int64_t{l.watchdogSeconds} * 1000000;
  int64_t stallStart = -1;  // when the busy printer stopped reading
  auto terminate = [&]() {
    kill(pid, SIGTERM);
    r.termSent = true;
    r.outAtTerm = static_cast<long>(r.out.size());
  };
  while (outOpen || errOpen) {
    const int64_t now = NowUs();
    if (l.termAfterUs >= 0 && !r.termSent && now - start >= l.termAfterUs) terminate();
    if (stallStart < 0 && l.stallAfterOutBytes >= 0 &&
        static_cast<long>(r.out.size()) >= l.stallAfterOutBytes)
      stallStart = now;
    const bool stalled = stallStart >= 0 && now - stallStart < l.stallMs * 1000L;
    if (stalled && l.termInStallMs >= 0 && !r.termSent &&
        now - stallStart >= l.termInStallMs * 1000L)
      terminate();
    if (now >= deadline) {
      kill(pid, SIGKILL);
      r.hung = true;
      break;
    }
    int64_t waitUs = deadline - now;
    if (l.termAfterUs >= 0 && !r.termSent) waitUs = std::min<int64_t>(waitUs, start + l.termAfterUs - now);
    if (stalled) waitUs = std::min<int64_t>(waitUs, 2000);
    pollfd fds[2];
    int n = 0, outIdx = -1, errIdx = -1;
    if (outOpen && !stalled) { fds[n] = {outPipe[0], POLLIN, 0}; outIdx = n++; }
    if (errOpen) { fds[n] = {errPipe[0], POLLIN, 0}; errIdx = n++; }
    int ms = static_cast<int>(std::max<int64_t>(0, waitUs / 1000));
    if (poll(fds, n, ms) <= 0) continue;
    char buf[65536];
    if (outIdx >= 0 && fds[outIdx].revents) {
      ssize_t k = read(outPipe[0], buf, sizeof(buf));
      if (k > 0) r.out.append(buf, static_cast<size_t>(k));
      else outOpen = false;
      if (l.termAfterOutBytes >= 0 && !r.termSent &&
          static_cast<long>(r.out.size()) >= l.termAfterOutBytes)
        terminate();
    }
    if (errIdx >= 0 && fds[errIdx].revents) {
      ssize_t k = read(errPipe[0], buf, sizeof(buf));
      if (k > 0) r.err.append(buf, static_cast<size_t>(k));
      else errOpen = false;
    }
  }
  if (l.output == Output::kPipe) close(outPipe[0]);
  close(errPipe[0]);
  // Output closed: the filter is ending (or was killed); a last term signal
  // still goes out if its moment had not come yet.
  int status = 0;
  for (;;) {
    pid_t w = waitpid(pid, &status, r.hung ? 0 : WNOHANG);
    if (w == pid) break;
    if (NowUs() >= deadline) {
      kill(pid, SIGKILL);
      r.hung = true;
      continue;
    }
    if (l.termAfterUs >= 0 && !r.termSent && NowUs() - start >= l.termAfterUs) {
      kill(pid, SIGTERM);
      r.termSent = true;
    }
    usleep(1000);
  }
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

std::string RasterFilter() { return lumora::test::BinPath("rastertoLumora"); }
std::string PsFilter() { return lumora::test::BinPath("pstoLumora"); }

std::string MakeRasterJob(const std::string& path, int pages, unsigned w, unsigned h,
                          unsigned copies) {
  std::vector<lumora::test::RasterPage> list;
  for (int i = 0; i < pages; ++i) {
    lumora::test::RasterPage p = lumora::test::PageOfSize(w, h, w * 600 / 72, h * 600 / 72);
    p.numCopies = copies;
    const unsigned band = static_cast<unsigned>(i) * 40;
    p.pixel = [band](unsigned x, unsigned y) -> uint8_t {
      return ((x + y + band) / 25) % 3 == 0 ? 0 : 255;
    };
    list.push_back(p);
  }
  lumora::test::WriteRaster(path, list);
  return path;
}

std::string PsJobText(int pages, size_t pageBytes) {
  std::ostringstream s;
  s << "\x1b%-12345X@PJL JOB NAME=\"fault job\"\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n"
    << "%!PS-Adobe-3.0\n%%Pages: " << pages << "\n%%BeginSetup\n%%EndSetup\n";
  for (int p = 1; p <= pages; ++p) {
    s << "%%Page: " << p << " " << p << "\n/Helvetica findfont 24 scalefont setfont\n"
      << "72 720 moveto (Page " << p << ") show\n";
    std::string pad = "% filler line of page " + std::to_string(p) + " ..............................\n";
    for (size_t n = 0; n + pad.size() < pageBytes; n += pad.size()) s << pad;
    s << "showpage\n";
  }
  s << "%%Trailer\n%%EOF\n\x04\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X";
  return s.str();
}

bool MakePdfJob(const std::string& psPath, const std::string& pdfPath) {
  lumora::test::RunOptions o;
  o.argv = {"/usr/bin/gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=pdfwrite",
            "-sOutputFile=" + pdfPath, psPath};
  return lumora::test::RunProgram(o).status == 0;
}

std::string PsPpdText(const std::string& nick) {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"LUMFAULT.PPD\"\n"
         "*Manufacturer: \"Lumora\"\n*Product: \"(Lumora)\"\n*ModelName: \"" + nick + "\"\n"
         "*ShortNickName: \"" + nick + "\"\n*NickName: \"" + nick + "\"\n"
         "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
         "*DefaultColorSpace: Gray\n"
         "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n"
         "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageSize\n"
         "*DefaultImageableArea: A4\n*ImageableArea A4/A4: \"0 0 595 842\"\n"
         "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595 842\"\n";
}

TinyTmpfs::TinyTmpfs(const std::string& parent, unsigned kib) {
  path_ = parent + "/tiny";
  mkdir(path_.c_str(), 0777);
  std::string opts = "size=" + std::to_string(kib) + "k,mode=1777";
  mounted_ = mount("lumora-tiny", path_.c_str(), "tmpfs", 0, opts.c_str()) == 0;
  if (mounted_) mkdir(tmpdir().c_str(), 0700);
}

void TinyTmpfs::LeaveFree(size_t bytes) {
  // Earlier filler goes first, then a new one takes all but `bytes`.
  for (int i = 0; i < fills_; ++i) unlink((path_ + "/filler" + std::to_string(i)).c_str());
  struct statvfs fs {};
  statvfs(path_.c_str(), &fs);
  const size_t avail = static_cast<size_t>(fs.f_bavail) * fs.f_bsize;
  if (avail <= bytes) return;
  int fd = open((path_ + "/filler" + std::to_string(fills_++)).c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char> block(4096, 'f');
  for (size_t left = (avail - bytes) / 4096; left > 0; --left)
    if (write(fd, block.data(), block.size()) <= 0) break;
  close(fd);
}

TinyTmpfs::~TinyTmpfs() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  rmdir(tmpdir().c_str());
  rmdir(path_.c_str());
}

std::vector<std::string> ErrorLines(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 6, "ERROR:") == 0) lines.push_back(line);
  return lines;
}

}  // namespace lumora::test::faults
