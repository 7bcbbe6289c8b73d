// SPDX-License-Identifier: GPL-2.0-or-later
#include "fuzz_support.h"

#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lumora::test::fuzz {

int gReportFd = 2;

namespace {

std::string& Dir() {
  static std::string dir;
  return dir;
}

void RemoveScratch() {
  if (!Dir().empty()) lumora::test::RemoveTree(Dir());
}

}  // namespace

const std::string& ScratchDir() {
  std::string& dir = Dir();
  if (dir.empty()) {
    const char* base = getenv("LUMORA_FUZZ_SCRATCH");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/lumora-fuzz-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      perror("lumora-fuzz: mkdtemp");
      abort();
    }
    dir = buf.data();
    mkdir((dir + "/tmp").c_str(), 0700);
    atexit(RemoveScratch);
  }
  return dir;
}

const std::string& ScratchTmp() {
  static const std::string kTmp = ScratchDir() + "/tmp";
  return kTmp;
}

std::string WriteScratchFile(const std::string& name, const void* data, size_t size) {
  std::string path = ScratchDir() + "/" + name;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Fail("scratch", "cannot create " + path);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n <= 0) Fail("scratch", "cannot write " + path);
    p += n;
    size -= static_cast<size_t>(n);
  }
  close(fd);
  return path;
}

void CheckNoTempFileLeft(const char* target) {
  DIR* d = opendir(ScratchTmp().c_str());
  if (d == nullptr) return;
  std::string left;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) left += std::string(" ") + e->d_name;
  }
  closedir(d);
  if (!left.empty()) Fail(target, "temporary files left behind:" + left);
}

void Fail(const char* target, const std::string& what) {
  std::string msg = std::string("lumora-fuzz ") + target + ": " + what + "\n";
  ssize_t r = write(gReportFd, msg.data(), msg.size());
  (void)r;
  abort();
}

}  // namespace lumora::test::fuzz
