// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_state.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace lumora::app {

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

// text, written whole to a new file beside path that then replaces it.
bool ReplaceFile(const std::string& path, const std::string& text) {
  std::string name = path + kNewSuffix;
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok && rename(buffer.data(), path.c_str()) == 0) {
    SyncDirectory(DirectoryOf(path));
    return true;
  }
  unlink(buffer.data());
  return false;
}

// A line of PAPPL's state file: the directive, then NAME="VALUE" with
// backslashes and quotes escaped by a backslash.
std::string OptionsLine(const char* directive, int count, cups_option_t* options) {
  std::string line = directive;
  for (int i = 0; i < count; i++) {
    line += std::string(" ") + options[i].name + "=\"";
    for (const char* p = options[i].value; *p; p++) {
      if (*p == '\\' || *p == '"') line += '\\';
      line += *p;
    }
    line += '"';
  }
  return line;
}

// Why the job of a state file's line cannot print again ("" when it can
// or is over).
std::string WhyEnded(int count, cups_option_t* options) {
  const char* value = cupsGetOption("state", count, options);
  const int state = value ? atoi(value) : 0;
  if (state == IPP_JSTATE_PROCESSING) {
    return "The server stopped while the job printed: it was not printed again.";
  }
  if (state != IPP_JSTATE_PENDING && state != IPP_JSTATE_HELD) return "";
  const char* file = cupsGetOption("filename", count, options);
  struct stat st;
  if (!file) return "The server stopped before the job's document came.";
  if (stat(file, &st) != 0) return "The job's document was lost while the server was stopped.";
  return "";
}

// The Job line, the job aborted at now when it cannot print again
// (ended->why set).
std::string EndJobLine(const std::string& line, time_t now, EndedJob* ended) {
  cups_option_t* options = nullptr;
  int count = cupsParseOptions(line.c_str() + strlen("Job "), 0, &options);
  ended->why = WhyEnded(count, options);
  std::string result = line;
  if (!ended->why.empty()) {
    const char* id = cupsGetOption("id", count, options);
    const char* reasons = cupsGetOption("state_reasons", count, options);
    ended->jobId = id ? atoi(id) : 0;
    const long bits = (reasons ? strtol(reasons, nullptr, 10) : 0) | PAPPL_JREASON_ABORTED_BY_SYSTEM;
    const bool completed = cupsGetOption("completed", count, options) != nullptr;
    count = cupsAddOption("state", std::to_string(IPP_JSTATE_ABORTED).c_str(), count, &options);
    count = cupsAddOption("state_reasons", std::to_string(bits).c_str(), count, &options);
    if (!completed) count = cupsAddOption("completed", std::to_string(now).c_str(), count, &options);
    result = OptionsLine("Job", count, options);
  }
  cupsFreeOptions(count, options);
  return result;
}

int PrinterIdOf(std::string line) {
  if (!line.empty() && line.back() == '>') line.pop_back();
  cups_option_t* options = nullptr;
  int count = cupsParseOptions(line.c_str() + strlen("<Printer "), 0, &options);
  const char* id = cupsGetOption("id", count, options);
  int value = id ? atoi(id) : 0;
  cupsFreeOptions(count, options);
  return value;
}

}  // namespace

std::vector<EndedJob> EndInterruptedJobs(const std::string& path, time_t now) {
  std::ifstream in(path);
  std::vector<EndedJob> ended;
  std::string text;
  std::string line;
  int printerId = 0;
  while (std::getline(in, line)) {
    if (line.rfind("<Printer ", 0) == 0) {
      printerId = PrinterIdOf(line);
    } else if (line.rfind("Job ", 0) == 0 && printerId > 0) {
      EndedJob job{printerId, 0, ""};
      line = EndJobLine(line, now, &job);
      if (!job.why.empty()) ended.push_back(job);
    }
    text += line + "\n";
  }
  if (!ended.empty() && !ReplaceFile(path, text)) ended.clear();
  return ended;
}

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

}  // namespace lumora::app
