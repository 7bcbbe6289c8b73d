// SPDX-License-Identifier: GPL-2.0-or-later
#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef LUMORA_BIN_DIR
#define LUMORA_BIN_DIR "."
#endif

extern char** environ;

namespace lumora::test {

void RemoveTree(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (d != nullptr) {
    while (dirent* e = readdir(d)) {
      if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
      std::string p = path + "/" + e->d_name;
      struct stat st {};
      if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        RemoveTree(p);
      else
        unlink(p.c_str());
    }
    closedir(d);
  }
  rmdir(path.c_str());
}


TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/lumora-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() { RemoveTree(path_); }

std::vector<std::string> TempDir::List() const { return ListDir(path_); }

int LiveThreads() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') ++n;
    closedir(dir);
  }
  return n;
}

int LiveThreadsSettled(int expected) {
  int n = LiveThreads();
  for (int i = 0; i < 50 && n != expected; ++i) {
    usleep(10 * 1000);
    n = LiveThreads();
  }
  return n;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
  }
  closedir(d);
  return names;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

std::string Digest(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char ch : bytes) {
    h ^= ch;
    h *= 1099511628211ull;
  }
  char buf[40];
  snprintf(buf, sizeof buf, "%016llx-%zu", static_cast<unsigned long long>(h), bytes.size());
  return buf;
}

std::string BinPath(const std::string& name) { return std::string(LUMORA_BIN_DIR) + "/" + name; }

RunResult RunProgram(const RunOptions& opts) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!opts.stdinFile.empty()) {
      int fd = open(opts.stdinFile.c_str(), O_RDONLY);
      dup2(fd, 0);
    } else {
      dup2(inPipe[0], 0);
    }
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    for (const auto& name : opts.unsetEnv) unsetenv(name.c_str());
    for (const auto& kv : opts.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    signal(SIGPIPE, SIG_DFL);
    std::vector<char*> argv;
    for (const auto& a : opts.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  // Feed standard input from this side without blocking the reads.
  size_t inOff = 0;
  const std::string& in = opts.stdinData;
  int inFd = inPipe[1];
  if (!opts.stdinFile.empty() || in.empty()) {
    close(inFd);
    inFd = -1;
  } else {
    fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
  signal(SIGPIPE, SIG_IGN);
  RunResult r;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[3];
    int n = 0;
    int outIdx = -1, errIdx = -1, inIdx = -1;
    if (outOpen) { fds[n] = {outPipe[0], POLLIN, 0}; outIdx = n++; }
    if (errOpen) { fds[n] = {errPipe[0], POLLIN, 0}; errIdx = n++; }
    if (inFd >= 0) { fds[n] = {inFd, POLLOUT, 0}; inIdx = n++; }
    if (poll(fds, n, -1) < 0) continue;
    char buf[65536];
    if (outIdx >= 0 && fds[outIdx].revents) {
      ssize_t k = read(outPipe[0], buf, sizeof(buf));
      if (k > 0) {
        r.out.append(buf, static_cast<size_t>(k));
        if (opts.onOutput) opts.onOutput(pid, r.out);
      } else {
        outOpen = false;
      }
    }
    if (errIdx >= 0 && fds[errIdx].revents) {
      ssize_t k = read(errPipe[0], buf, sizeof(buf));
      if (k > 0) r.err.append(buf, static_cast<size_t>(k));
      else errOpen = false;
    }
    if (inIdx >= 0 && fds[inIdx].revents) {
      ssize_t k = write(inFd, in.data() + inOff, in.size() - inOff);
      if (k > 0) inOff += static_cast<size_t>(k);
      if (k < 0 && errno != EAGAIN) inOff = in.size();
      if (inOff >= in.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

RasterPage PageOfSize(unsigned pointWidth, unsigned pointHeight, unsigned width,
                      unsigned height) {
  RasterPage p;
  p.pageSize[0] = pointWidth;
  p.pageSize[1] = pointHeight;
  p.width = width;
  p.height = height;
  return p;
}

void WriteRaster(const std::string& path, const std::vector<RasterPage>& pages,
                 cups_mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  cups_raster_t* ras = cupsRasterOpen(fd, mode);
  for (const RasterPage& p : pages) {
    cups_page_header2_t h {};
    h.HWResolution[0] = p.resolution[0];
    h.HWResolution[1] = p.resolution[1];
    h.PageSize[0] = p.pageSize[0];
    h.PageSize[1] = p.pageSize[1];
    h.NumCopies = p.numCopies;
    h.Duplex = p.duplex ? CUPS_TRUE : CUPS_FALSE;
    h.Tumble = p.tumble ? CUPS_TRUE : CUPS_FALSE;
    h.cupsMediaType = p.mediaType;
    h.cupsWidth = p.width;
    h.cupsHeight = p.height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = p.width;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_W;
    h.cupsNumColors = 1;
    cupsRasterWriteHeader2(ras, &h);
    std::vector<unsigned char> line(p.width);
    for (unsigned y = 0; y < p.height; ++y) {
      for (unsigned x = 0; x < p.width; ++x) line[x] = p.pixel ? p.pixel(x, y) : 255;
      cupsRasterWritePixels(ras, line.data(), p.width);
    }
  }
  cupsRasterClose(ras);
  close(fd);
}

bool RenderPostScript(const std::string& psPath, const std::string& rasterPath, int dpi,
                      unsigned pointWidth, unsigned pointHeight) {
  RunOptions o;
  o.argv = {"/usr/bin/gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=cups",
            "-dcupsColorSpace=0", "-dcupsBitsPerColor=8", "-dcupsColorOrder=0",
            "-r" + std::to_string(dpi), "-dDEVICEWIDTHPOINTS=" + std::to_string(pointWidth),
            "-dDEVICEHEIGHTPOINTS=" + std::to_string(pointHeight), "-dFIXEDMEDIA",
            "-sOutputFile=" + rasterPath, psPath};
  return RunProgram(o).status == 0;
}

std::string RasterPpd(const std::string& modelName, const std::string& extra) {
  std::string ppd =
      "*PPD-Adobe: \"4.3\"\n"
      "*FormatVersion: \"4.3\"\n"
      "*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"LUMTEST.PPD\"\n"
      "*Manufacturer: \"Lumora\"\n"
      "*Product: \"(Lumora)\"\n"
      "*ModelName: \"" + modelName + "\"\n"
      "*ShortNickName: \"" + modelName + "\"\n"
      "*NickName: \"" + modelName + "\"\n"
      "*ColorDevice: False\n"
      "*OpenUI *PageSize: PickOne\n"
      "*DefaultPageSize: A4\n"
      "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
      "*CloseUI: *PageSize\n";
  return ppd + extra;
}

void MaskVolatile(std::string& s) {
  const std::string date("\x0B\x08\x1F", 3);
  size_t p = s.find(date);
  if (p != std::string::npos && p + 8 <= s.size()) s.replace(p + 3, 5, 5, '#');
  for (const char* key : {"@PJL JOBTIME=", "@PJL JOBOWNER="}) {
    size_t k = s.find(key);
    if (k == std::string::npos) continue;
    size_t from = k + std::string(key).size();
    size_t end = s.find("\r\n", from);
    if (end != std::string::npos) s.replace(from, end - from, "#");
  }
}

}  // namespace lumora::test
