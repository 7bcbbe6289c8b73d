#include "media_size.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "child_process.h"
#include "job_io.h"
#include "line_reader.h"

namespace {

// Job options parsed by libcups, freed on scope exit.
struct JobOptions {
  int num = 0;
  cups_option_t* opts = nullptr;
  explicit JobOptions(const char* text) { num = cupsParseOptions(text ? text : "", 0, &opts); }
  ~JobOptions() { cupsFreeOptions(num, opts); }
  const char* get(const char* name) const { return cupsGetOption(name, num, opts); }
};

// First line of the job file holding the pattern, ignoring case, as
// `grep -i PATTERN FILE -m 1 -s` prints it (at most 511 characters). grep
// runs with an argument vector, so the path is never seen by a shell.
std::string GrepFirstLine(const char* pattern, const char* path) {
  ChildResult r = RunProgram({"grep", "-i", "-m", "1", "-s", "-e", pattern, "--", path ? path : ""},
                             -1, 4096);
  if (!r.started) return std::string();
  return FirstLine(r.output, 511);
}

// One number of a size statement: skips to the next decimal digit and takes
// the text up to the next blank, ']' or end of line (so "595.28" is whole),
// kept to the 9 characters of its field. Returns the text; p moves past it.
std::string NextNumberText(const char*& p) {
  while (*p && !isdigit(static_cast<unsigned char>(*p))) ++p;
  std::string text;
  while (*p && *p != ' ' && *p != '\t' && *p != ']' && *p != '\n') {
    if (text.size() < 9) text += *p;
    ++p;
  }
  return text;
}

bool WidthInRange(double w) { return w >= kCustomMinWidth && w <= kCustomMaxWidth; }
bool HeightInRange(double h) { return h >= kCustomMinHeight && h <= kCustomMaxHeight; }

// A run of decimal digits read as a number; runs too long for the 9-digit
// field read as "very large".
long DigitRunValue(const char* begin, const char* end) {
  if (end - begin > 9) return LONG_MAX;
  long v = 0;
  for (const char* p = begin; p < end; ++p) v = v * 10 + (*p - '0');
  return v;
}

bool IsA5Size(long w, long h) { return w >= 418 && w <= 422 && h >= 593 && h <= 597; }

// Reads the job file until a MediaBox or pdfSetupPaper line tells the size.
// found_size is false when no line decides.
bool ScanJobForA5(const char* path, bool* a5) {
  *a5 = false;
  LineReader reader;
  if (!path || !reader.Open(path)) {
    fprintf(stderr, "%s open file %s failed!,code:%d\n", "isA5PageSize", path ? path : "(null)", errno);
    return false;
  }
  static const char kMediaBox[] = "<</Type/Page/MediaBox [0 0";
  std::string line;
  while (reader.ReadLine(line)) {
    const char* text = line.c_str();
    if (const char* m = strcasestr(text, kMediaBox)) {
      const char* p = m + strlen(kMediaBox);
      long v[2] = {0, 0};
      for (long& value : v) {
        while (*p && !isdigit(static_cast<unsigned char>(*p))) ++p;
        const char* start = p;
        while (isdigit(static_cast<unsigned char>(*p))) ++p;
        value = start == p ? 0 : DigitRunValue(start, p);
      }
      *a5 = IsA5Size(v[0], v[1]);
      return true;
    }
    if (const char* m = strcasestr(text, "pdfSetupPaper")) {
      if (m == text || m[-1] == '/') continue;
      // Walking back: the height is the last run of digits before the name,
      // the width the run before that.
      long v[2] = {0, 0};
      const char* p = m;
      for (long& value : v) {
        while (p > text && !isdigit(static_cast<unsigned char>(p[-1]))) --p;
        const char* end = p;
        while (p > text && isdigit(static_cast<unsigned char>(p[-1]))) --p;
        value = p == end ? 0 : DigitRunValue(p, end);
      }
      *a5 = IsA5Size(v[1], v[0]);
      return true;
    }
  }
  return false;
}

}  // namespace

int checkmediasize(char** argv, int /*unused*/, int* w, int* h) {
  if (!argv || !argv[5] || !w || !h) return 0;
  JobOptions options(argv[5]);
  const char* pagesize = options.get("PageSize");
  if (!pagesize) return 0;
  PpdPtr ppd = OpenJobPpd();
  if (!ppd) return 1;
  if (ppd_size_t* size = ppdPageSize(ppd.get(), pagesize)) {
    *w = static_cast<int>(size->width);
    *h = static_cast<int>(size->length);
    fprintf(stderr, "pagesize:%s width:%d,heigh:%d\n", pagesize, *w, *h);
  }
  return 1;
}

int isSupportCustomPageSize(const char* options_text, const char* path) {
  JobOptions options(options_text);
  bool custom = false;
  if (const char* pagesize = options.get("PageSize")) {
    fprintf(stderr, "PageSize:%s\n", pagesize);
    custom = strcasestr(pagesize, "Custom") != nullptr;
  } else if (const char* media = options.get("media")) {
    fprintf(stderr, "media=%s\n", media);
    custom = strcasestr(media, "Custom") != nullptr;
  }
  if (!custom) return 1;

  std::string line = GrepFirstLine("<</Type/Page/MediaBox", path);
  if (line.find('[') != std::string::npos && line.find(']') != std::string::npos) {
    const char* p = line.c_str() + line.find('[');
    std::string n[4];
    for (auto& text : n) text = NextNumberText(p);
    fprintf(stderr, "left:%s,top:%s,right:%s,bottom:%s\n", n[0].c_str(), n[1].c_str(), n[2].c_str(),
            n[3].c_str());
    double w = atof(n[2].c_str()) - atof(n[0].c_str());
    double h = atof(n[3].c_str()) - atof(n[1].c_str());
    if (!WidthInRange(w) || !HeightInRange(h)) return 0;
  }

  line = GrepFirstLine(" pdfSetupPaper", path);
  if (strcasestr(line.c_str(), " pdfSetupPaper")) {
    const char* p = line.c_str();
    std::string w = NextNumberText(p);
    std::string h = NextNumberText(p);
    fprintf(stderr, "pdfsetuppaper:width;%s,height:%s\n", w.c_str(), h.c_str());
    if (!WidthInRange(atof(w.c_str())) || !HeightInRange(atof(h.c_str()))) return 0;
  }
  return 1;
}

bool isA5PageSize(const char* options_text, const char* path) {
  JobOptions options(options_text);
  bool a5 = false;
  if (const char* pagesize = options.get("PageSize"))
    a5 = strstr(pagesize, "A5") != nullptr;
  else
    ScanJobForA5(path, &a5);
  if (!a5) return false;

  if (const char* feed = options.get("FeedEdge")) {
    fprintf(stderr, "FeedEdge=%s\n", feed);
    bool longEdge = strcasestr(feed, "LongEdge") != nullptr;
    fprintf(stderr, longEdge ? "LongEdge =true\n" : "LongEdge =false\n");
    return longEdge;
  }
  PpdPtr ppd = OpenJobPpd();
  if (!ppd) return true;
  ppd_option_t* option = ppdFindOption(ppd.get(), "FeedEdge");
  if (!option) return true;
  return strcasestr(option->defchoice, "LongEdge") != nullptr;
}
