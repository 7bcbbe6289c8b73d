// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_state.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace lumora_app {

namespace {

constexpr const char* kNewSuffix = ".new-XXXXXX";

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file ends with a whole line and reaches the disk.
bool Whole(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  char last = 0;
  bool ok = fstat(fd, &st) == 0 && st.st_size > 0 &&
            pread(fd, &last, 1, st.st_size - 1) == 1 && last == '\n' && fsync(fd) == 0;
  close(fd);
  return ok;
}

void SyncDirectory(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool SaveStateFile(pappl_system_t* system, const std::string& path) {
  std::string name = path + kNewSuffix;
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to save the state: %s: %s", buffer.data(),
             strerror(errno));
    return false;
  }
  close(fd);
  const std::string newFile = buffer.data();
  const char* why = nullptr;
  if (!papplSystemSaveState(system, newFile.c_str()) || !Whole(newFile)) {
    why = "not written whole";
  } else if (rename(newFile.c_str(), path.c_str()) != 0) {
    why = strerror(errno);
  }
  if (why) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to save the state to '%s' (%s): the last one is kept.",
             path.c_str(), why);
    unlink(newFile.c_str());
    return false;
  }
  SyncDirectory(DirectoryOf(path));
  return true;
}

void RemoveUnfinishedStates(const std::string& path) {
  const std::string dir = DirectoryOf(path);
  const std::string base = path.substr(path.rfind('/') + 1);
  const std::string prefix = base + std::string(kNewSuffix).substr(0, strlen(kNewSuffix) - 6);
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (struct dirent* e = readdir(d)) {
    std::string entry = e->d_name;
    if (entry.size() == prefix.size() + 6 && entry.compare(0, prefix.size(), prefix) == 0) {
      unlinkat(dirfd(d), entry.c_str(), 0);
    }
  }
  closedir(d);
}

}  // namespace lumora_app
