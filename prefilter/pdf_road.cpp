// SPDX-License-Identifier: GPL-2.0-or-later
#include "pdf_road.h"

#include <strings.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "child_process.h"
#include "job_io.h"
#include "ps_job_state.h"
#include "side_log.h"
#include "support_check.h"

namespace lumora {

namespace {

constexpr double kMinQpdfVersion = 8;

// Options of the job that pdftops must not apply again: the pages were laid
// out and ordered before the job reached us. "noCollate" goes before
// "Collate", since the first occurrence is taken.
const char* const kRemovedOptions[] = {"page-set",  "noCollate",        "Collate",
                                       "number-up", "OutputOrder",      "number-up-layout",
                                       "orientation-requested"};

bool WantsLongEdgeRotation(PsJobState& job) {
  char deviceId[512] = "";
  int len = 511;
  bool idValid = query1284info(job, deviceId, &len);
  if (!isLarchPrinter(job.printer, job.log, deviceId, idValid)) return false;
  const char* options = job.ticket.options.c_str();
  if (strstr(options, "noDuplex") || strstr(options, "DuplexNoTumble"))
    return strstr(options, "DuplexNoTumble") != nullptr;
  const char* duplex = QueueDefault(job.printer, "Duplex");
  return duplex && strcasecmp(duplex, "DuplexNoTumble") == 0;
}

off_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

// The PostScript of pdftops always ends with its "%%EOF" comment. The
// converter does not report a write that failed (a full disk under the
// temporary directory), so a file without it is cut short. Offsets are
// off_t: a file past 2 GiB is read at its end on 32-bit systems too.
bool EndsWithEofComment(const std::string& path) {
  const off_t size = FileSize(path);
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char tail[256];
  const off_t from = size > static_cast<off_t>(sizeof(tail)) ? size - static_cast<off_t>(sizeof(tail)) : 0;
  size_t n = 0;
  if (fseeko(f, from, SEEK_SET) == 0) n = fread(tail, 1, sizeof(tail), f);
  fclose(f);
  return std::string(tail, n).find("%%EOF") != std::string::npos;
}

bool getqpdfversion(PsJobState& job) {
  ChildResult r = RunProgram({job.hooks.qpdfPath, "--version"}, job.hooks.childEnvironment, -1,
                             65536, &job.side);
  if (!r.started) {
    Debugf(job.log, "Unable to get the version of qpdf!");
    return false;
  }
  std::istringstream lines(r.output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() > 511) line.resize(511);
    if (line.find("qpdf version") == std::string::npos) continue;
    std::istringstream words(line);
    std::string word;
    for (int i = 0; i < 3 && (words >> word); ++i) {
    }
    if (atof(word.c_str()) >= kMinQpdfVersion) return true;
  }
  return false;
}

namespace {

// The page count of the PDF as the tool reports it; -1 when it cannot run.
int PageCount(PsJobState& job, const std::string& tool, const std::string& path) {
  ChildResult count = RunProgram({tool, "--show-npages", path}, job.hooks.childEnvironment, -1,
                                 65536, &job.side);
  if (!count.started) return -1;
  return atoi(FirstLine(count.output, 127).c_str());
}

std::string EvenPages(int pages) {
  std::string list;
  for (int page = 2; page <= pages; page += 2) {
    if (!list.empty()) list += ',';
    list += std::to_string(page);
  }
  return list;
}

// Turns the even pages of path into rotated; false (logged) when it failed.
bool TurnEvenPages(PsJobState& job, const std::string& tool, const std::string& path,
                   const std::string& rotated) {
  const int pages = PageCount(job, tool, path);
  if (pages < 0) {
    Debugf(job.log, "Unable get page count of the inputfile!");
    return false;
  }
  if (pages <= 1) {
    Debugf(job.log, "The page count is %d!\n", pages);
    return false;
  }
  ChildResult rotate = RunProgram({tool, path, rotated, "--rotate=+180:" + EvenPages(pages)},
                                  job.hooks.childEnvironment, -1, 65536, &job.side);
  // qpdf exits with 3 when it succeeded with warnings.
  if (!rotate.started || (rotate.status != 0 && rotate.status != 3) || FileSize(rotated) <= 0) {
    Debugf(job.log, "Unable to turn the even pages (%s exit status %d), printing unturned.\n",
           tool.c_str(), rotate.started ? rotate.status : -1);
    return false;
  }
  return true;
}

// pdftops's PostScript into the file fd; false (logged) when it did not
// make a whole file.
bool Convert(PsJobState& job, const std::string& path, const std::string& options,
             int fd) {
  // pdftops writes into a pipe and this process into the file: pdftops does
  // not report a write that failed (a full disk), and a file missing a piece
  // in its middle may still end with its trailer.
  int writeError = 0;
  const PsJobTicket& t = job.ticket;
  ChildResult r = RunProgramInto(
      {job.hooks.pdftopsPath, t.jobId, t.user, t.title, "1", options, path},
      job.hooks.childEnvironment, [&](const char* data, size_t len) {
        // After a failed write the rest is still read, so pdftops can finish.
        if (writeError == 0 && !WriteAll(fd, data, len)) writeError = errno != 0 ? errno : EIO;
      },
      &job.side);
  if (writeError != 0) {
    Debugf(job.log, "Unable to write the PostScript from pdftops: %s\n", strerror(writeError));
    return false;
  }
  if (!r.started) {
    Debugf(job.log, "Unable to excute pdftops,err is %d\n", r.error);
    return false;
  }
  if (job.Cancelled()) {
    Debugf(job.log, "The job was cancelled: pdftops was ended.\n");
    return false;
  }
  if (r.status != 0) {
    Debugf(job.log, "pdftops failed (exit status %d), no PostScript was made.\n", r.status);
    return false;
  }
  return true;
}

// The converted file is whole: not empty, and with its trailer.
bool WholePostScript(PsJobState& job, const std::string& result) {
  if (FileSize(result) <= 0) {
    Debugf(job.log, "pdftops failed (exit status %d), no PostScript was made.\n", 0);
    return false;
  }
  if (!EndsWithEofComment(result)) {
    Debugf(job.log, "The PostScript from pdftops is cut short (disk full?).\n");
    return false;
  }
  return true;
}

}  // namespace

void CreatRotateDuplex(PsJobState& job, std::string& path) {
  if (job.Cancelled()) return;  // nothing new starts after a cancel
  const std::string tool = getqpdfversion(job) ? job.hooks.qpdfPath : job.hooks.lmqpdfPath;
  if (!WantsLongEdgeRotation(job)) return;
  std::string rotated;
  int fd = CreateJobTempFile(job, rotated);
  if (fd < 0) {
    Debugf(job.log, "Unable to creat temp file.\n");
    return;
  }
  close(fd);
  if (!TurnEvenPages(job, tool, path, rotated)) {
    RemoveJobTempFile(job, rotated);
    return;
  }
  RemoveJobTempFile(job, path);
  path = rotated;
}

int pdf2ps(PsJobState& job, std::string& path) {
  if (job.Cancelled()) {
    Debugf(job.log, "The job was cancelled: the PDF is not converted.\n");
    return -1;
  }
  if (path.empty()) {
    Debugf(job.log, "Illegal input parameter.\n");
    return -1;
  }
  const std::string& options = job.ticket.options;
  std::vector<char> reduced(options.c_str(), options.c_str() + options.size() + 1);
  for (const char* name : kRemovedOptions) removestr(job.log, reduced.data(), name, ' ');

  std::string result;
  int fd = CreateJobTempFile(job, result);
  if (fd < 0) {
    Debugf(job.log, "Unable to creat tmp_pstopdf file.\n");
    return -1;
  }
  const bool converted = Convert(job, path, reduced.data(), fd);
  close(fd);
  if (!converted || !WholePostScript(job, result)) {
    RemoveJobTempFile(job, result);
    return -1;
  }
  RemoveJobTempFile(job, path);
  path = result;
  return 1;
}

void removestr(LogOutput& log, char* text, const char* str, char sep) {
  if (!text || !str || !*str || sep == '\0') {
    Debugf(log, "the parameters is invalid!");
    return;
  }
  char* found = strstr(text, str);
  if (!found) return;
  char* end = strchr(found, sep);
  if (!end) return;
  memmove(found, end + 1, strlen(end + 1) + 1);
}

}  // namespace lumora
