// SPDX-License-Identifier: GPL-2.0-or-later
// lumora-inspect: reads a job stream written for the printer, checks it and
// shows what the printer will do with it.
//
//   lumora-inspect [--pbm DIR] [--png DIR] [--json] [--quiet] FILE|-
//
// Exit status: 0 the stream is sound, 1 it has framing, checksum, order or
// image errors (each named with its byte offset on standard error), 2 the
// command line or a file could not be used.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "job_stream_reader.h"
#include "page_pictures.h"
#include "stream_report.h"

namespace lumora::inspect {

namespace {

const char kUsage[] =
    "usage: lumora-inspect [--pbm DIR] [--png DIR] [--json] [--quiet] FILE|-\n"
    "  Checks a printer job stream (PLATFORM_C, PLATFORM_Z or PLATFORM_M) and prints\n"
    "  its job records and pages.\n"
    "  --pbm DIR   write each page as DIR/page-NNN.pbm (the bits the printer gets)\n"
    "  --png DIR   write each page as DIR/page-NNN.png (what the sheet looks like)\n"
    "  --json      print a JSON report instead of the summary\n"
    "  --quiet     print nothing but errors\n"
    "  NNN is the position of the page in the stream.\n";

const size_t kMaxInput = size_t(1) << 30;

bool ReadAll(FILE* in, std::vector<uint8_t>& data, std::string& why) {
  uint8_t buf[65536];
  for (;;) {
    size_t n = std::fread(buf, 1, sizeof buf, in);
    if (n > 0) {
      if (data.size() + n > kMaxInput) {
        why = "input is larger than 1 GiB";
        return false;
      }
      data.insert(data.end(), buf, buf + n);
    }
    if (n < sizeof buf) {
      if (std::ferror(in)) {
        why = std::strerror(errno);
        return false;
      }
      return true;
    }
  }
}

bool MakeDir(const std::string& dir) {
  if (mkdir(dir.c_str(), 0755) == 0) return true;
  struct stat st;
  return errno == EEXIST && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

}  // namespace lumora::inspect

int main(int argc, char** argv) {
  using namespace lumora::inspect;
  std::string pbmDir, pngDir, input;
  bool json = false, quiet = false;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if ((arg == "--pbm" || arg == "--png") && i + 1 < argc) {
      (arg == "--pbm" ? pbmDir : pngDir) = argv[++i];
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (input.empty() && (arg == "-" || arg[0] != '-')) {
      input = arg;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (input.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  std::vector<uint8_t> data;
  std::string why;
  if (input == "-") {
    if (!ReadAll(stdin, data, why)) {
      std::fprintf(stderr, "lumora-inspect: cannot read standard input: %s\n", why.c_str());
      return 2;
    }
  } else {
    FILE* in = std::fopen(input.c_str(), "rb");
    if (!in) {
      std::fprintf(stderr, "lumora-inspect: cannot open %s: %s\n", input.c_str(), std::strerror(errno));
      return 2;
    }
    bool ok = ReadAll(in, data, why);
    std::fclose(in);
    if (!ok) {
      std::fprintf(stderr, "lumora-inspect: cannot read %s: %s\n", input.c_str(), why.c_str());
      return 2;
    }
  }
  for (const std::string& dir : {pbmDir, pngDir}) {
    if (!dir.empty() && !MakeDir(dir)) {
      std::fprintf(stderr, "lumora-inspect: cannot create directory %s: %s\n", dir.c_str(),
                   std::strerror(errno));
      return 2;
    }
  }

  // Pages are written as they are decoded so that only one page picture is
  // held at a time.
  PageFiles files;
  bool fileFailed = false;
  ReadOptions options;
  options.keepPixels = false;
  options.onPage = [&](const Page& page) {
    files.pbm.resize(page.index);
    files.png.resize(page.index);
    if (!page.decoded) return;
    std::string base = PagePictureBase(page);
    if (!pbmDir.empty()) {
      std::string path = pbmDir + "/" + base + ".pbm";
      std::string err = WritePagePbm(page, path);
      if (err.empty()) files.pbm[page.index - 1] = path;
      else { std::fprintf(stderr, "lumora-inspect: %s\n", err.c_str()); fileFailed = true; }
    }
    if (!pngDir.empty()) {
      std::string path = pngDir + "/" + base + ".png";
      std::string err = WritePagePng(page, path);
      if (err.empty()) files.png[page.index - 1] = path;
      else { std::fprintf(stderr, "lumora-inspect: %s\n", err.c_str()); fileFailed = true; }
    }
  };

  JobStream stream = ReadJobStream(data, options);
  std::string name = input == "-" ? "standard input" : input;
  if (!quiet) {
    std::string report = json ? FormatJson(stream, files) : FormatSummary(stream, name, files);
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
  }
  for (const StreamIssue& e : stream.errors)
    std::fprintf(stderr, "lumora-inspect: %s: error at %s\n", name.c_str(), FormatIssue(e).c_str());
  if (!stream.ok()) return 1;
  return fileFailed ? 2 : 0;
}
