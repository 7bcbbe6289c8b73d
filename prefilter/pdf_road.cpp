// SPDX-License-Identifier: GPL-2.0-or-later
#include "pdf_road.h"

#include <cups/ppd.h>
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
#include <thread>
#include <vector>

#include "child_process.h"
#include "job_io.h"
#include "prefilter_state.h"
#include "support_check.h"

namespace {

constexpr double kMinQpdfVersion = 8;

// Options of the job that pdftops must not apply again: the pages were laid
// out and ordered before the job reached us. "noCollate" goes before
// "Collate", since the first occurrence is taken.
const char* const kRemovedOptions[] = {"page-set",  "noCollate",        "Collate",
                                       "number-up", "OutputOrder",      "number-up-layout",
                                       "orientation-requested"};

bool WantsLongEdgeRotation(const char* options) {
  char deviceId[512] = "";
  int len = 511;
  bool idValid = query1284info(deviceId, &len);
  if (!isLarchPrinter(deviceId, idValid)) return false;
  if (!options) options = "";
  if (strstr(options, "noDuplex") || strstr(options, "DuplexNoTumble"))
    return strstr(options, "DuplexNoTumble") != nullptr;
  PpdPtr ppd = OpenJobPpd();
  if (!ppd) return false;
  ppd_option_t* duplex = ppdFindOption(ppd.get(), "Duplex");
  return duplex && strcasecmp(duplex->defchoice, "DuplexNoTumble") == 0;
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

bool getqpdfversion() {
  ChildResult r = RunProgram({"qpdf", "--version"});
  if (!r.started) {
    fprintf(stderr, "Unable to get the version of qpdf!");
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

void CreatRotateDuplex(char** argv, std::string& path) {
  const std::string tool = getqpdfversion() ? "qpdf" : gLmqpdfPath;
  if (!argv || !WantsLongEdgeRotation(argv[5])) return;

  std::string rotated;
  int fd = CreateJobTempFile(rotated);
  if (fd < 0) {
    fprintf(stderr, "DEBUG: Unable to creat temp file.\n");
    return;
  }
  close(fd);

  ChildResult count = RunProgram({tool, "--show-npages", path});
  if (!count.started) {
    fprintf(stderr, "Unable get page count of the inputfile!");
    RemoveJobTempFile(rotated);
    return;
  }
  int pages = atoi(FirstLine(count.output, 127).c_str());
  if (pages <= 1) {
    fprintf(stderr, "The page count is %d!\n", pages);
    RemoveJobTempFile(rotated);
    return;
  }

  std::string list;
  for (int page = 2; page <= pages; page += 2) {
    if (!list.empty()) list += ',';
    list += std::to_string(page);
  }
  ChildResult rotate = RunProgram({tool, path, rotated, "--rotate=+180:" + list});
  // qpdf exits with 3 when it succeeded with warnings.
  if (!rotate.started || (rotate.status != 0 && rotate.status != 3) || FileSize(rotated) <= 0) {
    fprintf(stderr, "DEBUG: Unable to turn the even pages (%s exit status %d), printing unturned.\n",
            tool.c_str(), rotate.started ? rotate.status : -1);
    RemoveJobTempFile(rotated);
    return;
  }
  RemoveJobTempFile(path);
  path = rotated;
}

int pdf2ps(std::string& path, char** argv) {
  if (path.empty() || !argv) {
    fprintf(stderr, "DEBUG: Illegal input parameter.\n");
    return -1;
  }
  const char* options = argv[5] ? argv[5] : "";
  std::vector<char> reduced(options, options + strlen(options) + 1);
  for (const char* name : kRemovedOptions) removestr(reduced.data(), name, ' ');

  std::string result;
  int fd = CreateJobTempFile(result);
  if (fd < 0) {
    fprintf(stderr, "DEBUG: Unable to creat tmp_pstopdf file.\n");
    return -1;
  }
  // pdftops writes into a pipe and this process into the file: pdftops does
  // not report a write that failed (a full disk), and a file missing a piece
  // in its middle may still end with its trailer.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    close(fd);
    RemoveJobTempFile(result);
    return -1;
  }
  int writeError = 0;
  std::thread copier([&]() {
    std::vector<char> buf(65536);
    ssize_t n;
    while ((n = read(pipeFds[0], buf.data(), buf.size())) != 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      // After a failed write the rest is still read, so pdftops can finish.
      if (writeError == 0 && !WriteAll(fd, buf.data(), static_cast<size_t>(n)))
        writeError = errno != 0 ? errno : EIO;
    }
  });
  ChildResult r = RunProgram({gPdftopsPath, argv[1], argv[2], argv[3], "1", reduced.data(), path},
                             pipeFds[1]);
  close(pipeFds[1]);
  copier.join();
  close(pipeFds[0]);
  close(fd);
  if (writeError != 0) {
    fprintf(stderr, "DEBUG: Unable to write the PostScript from pdftops: %s\n", strerror(writeError));
    RemoveJobTempFile(result);
    return -1;
  }
  if (!r.started) {
    fprintf(stderr, "DEBUG: Unable to excute pdftops,err is %d\n", r.error);
    RemoveJobTempFile(result);
    return -1;
  }
  if (r.status != 0 || FileSize(result) <= 0) {
    fprintf(stderr, "DEBUG: pdftops failed (exit status %d), no PostScript was made.\n", r.status);
    RemoveJobTempFile(result);
    return -1;
  }
  if (!EndsWithEofComment(result)) {
    fprintf(stderr, "DEBUG: The PostScript from pdftops is cut short (disk full?).\n");
    RemoveJobTempFile(result);
    return -1;
  }
  RemoveJobTempFile(path);
  path = result;
  return 1;
}

void removestr(char* text, const char* str, char sep) {
  if (!text || !str || !*str || sep == '\0') {
    fprintf(stderr, "the parameters is invalid!");
    return;
  }
  char* found = strstr(text, str);
  if (!found) return;
  char* end = strchr(found, sep);
  if (!end) return;
  memmove(found, end + 1, strlen(end + 1) + 1);
}
