// SPDX-License-Identifier: GPL-2.0-or-later
#include "prefilter_state.h"

#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "job_io.h"

bool ismaple = false;
bool iscollate = false;
int copies = 0;
bool isA5Page = false;
int width = 0;
int height = 0;

int gInFd = 0;
int gOutFd = 1;
bool gOutputFailed = false;

unsigned gRefusalPause = 1;
double gDeviceIdTimeout = 10.0;
bool gDeviceIdUnanswered = false;
std::string gPdftopsPath = "/usr/lib/cups/filter/pdftops";
std::string gLmqpdfPath = "/opt/lumora/bin/lmqpdf";

namespace {

int StartStatusThread(pthread_t* thread, cancel_query_arg* arg) {
  return pthread_create(thread, nullptr, Printer_cancle_query_tread, arg);
}

std::vector<std::string>& TempFiles() {
  static std::vector<std::string> files;
  return files;
}

}  // namespace

PrefilterHooks DefaultPrefilterHooks() {
  return PrefilterHooks{StartStatusThread, Creatpthread, Waitpthread};
}

PrefilterHooks gPrefilterHooks = DefaultPrefilterHooks();

bool WriteToOutput(const void* data, size_t len) {
  if (WriteAll(gOutFd, data, len)) return true;
  gOutputFailed = true;
  return false;
}

void RegisterJobTempFile(const std::string& path) {
  if (!path.empty() && !IsJobTempFile(path)) TempFiles().push_back(path);
}

bool IsJobTempFile(const std::string& path) {
  auto& files = TempFiles();
  return std::find(files.begin(), files.end(), path) != files.end();
}

void RemoveJobTempFile(const std::string& path) {
  auto& files = TempFiles();
  auto it = std::find(files.begin(), files.end(), path);
  if (it == files.end()) return;
  unlink(path.c_str());
  files.erase(it);
}

void RemoveJobTempFiles() {
  for (const auto& f : TempFiles()) unlink(f.c_str());
  TempFiles().clear();
}

int CreateJobTempFile(std::string& path) {
  char name[1024] = "";
  int fd = cupsTempFd(name, sizeof(name));
  if (fd < 0) return -1;
  path = name;
  RegisterJobTempFile(path);
  return fd;
}

void ResetPrefilterState() {
  ismaple = false;
  iscollate = false;
  copies = 0;
  isA5Page = false;
  width = 0;
  height = 0;
  gInFd = 0;
  gOutFd = 1;
  gOutputFailed = false;
  gRefusalPause = 1;
  gDeviceIdTimeout = 10.0;
  gDeviceIdUnanswered = false;
  gPdftopsPath = "/usr/lib/cups/filter/pdftops";
  gLmqpdfPath = "/opt/lumora/bin/lmqpdf";
  gPrefilterHooks = DefaultPrefilterHooks();
  ResetJobCanceled();
  RemoveJobTempFiles();
}
