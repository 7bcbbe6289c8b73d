// SPDX-License-Identifier: GPL-2.0-or-later
#include "media_size.h"

#include <cups/cups.h>
#include <locale.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "child_process.h"
#include "line_reader.h"
#include "ps_job_state.h"
#include "side_log.h"

namespace lumora {

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
std::string GrepFirstLine(PsJobState& job, const char* pattern, const char* path) {
  ChildResult r = RunProgram(
      {job.hooks.grepPath, "-i", "-m", "1", "-s", "-e", pattern, "--", path ? path : ""},
      job.hooks.childEnvironment, -1, 4096, &job.side);
  if (!r.started) return std::string();
  return FirstLine(r.output, 511);
}

// A number of a size statement starts here: a digit, or a sign or a point
// followed by one ("-5", ".5", "-.5").
bool StartsNumber(const char* p) {
  if (*p == '-' || *p == '+') ++p;
  if (*p == '.') ++p;
  return isdigit(static_cast<unsigned char>(*p)) != 0;
}

// The decimal number at text: sign, digits, fraction (419.53 is 419.53, -5
// is -5); reading stops at the first other character. Long runs of digits
// give large values, never a wrapped one.
double DecimalValue(const char* text) {
  const char* p = text;
  const double sign = *p == '-' ? -1.0 : 1.0;
  if (*p == '-' || *p == '+') ++p;
  double value = 0;
  for (; isdigit(static_cast<unsigned char>(*p)); ++p) value = value * 10 + (*p - '0');
  if (*p == '.') {
    double scale = 0.1;
    for (++p; isdigit(static_cast<unsigned char>(*p)); ++p, scale /= 10) value += (*p - '0') * scale;
  }
  return sign * value;
}

// One number of a size statement: skips to the next number, then takes the
// text up to the next blank, ']' or end of line (so "595.28" and "-5" are
// whole), kept to the 9 characters of its field. Returns the text; p moves
// past it.
std::string NextNumberText(const char*& p) {
  while (*p && !StartsNumber(p)) ++p;
  std::string text;
  while (*p && *p != ' ' && *p != '\t' && *p != ']' && *p != '\n') {
    if (text.size() < 9) text += *p;
    ++p;
  }
  return text;
}

bool WidthInRange(double w) { return w >= kCustomMinWidth && w <= kCustomMaxWidth; }
bool HeightInRange(double h) { return h >= kCustomMinHeight && h <= kCustomMaxHeight; }

// A5 portrait within 2 points: width 418 to 422, height 593 to 597.
bool IsA5Size(double w, double h) { return w >= 418 && w <= 422 && h >= 593 && h <= 597; }

// The next number from p on (0 when none follows); p moves past it.
double NextNumber(const char*& p) {
  while (*p && !StartsNumber(p)) ++p;
  if (!*p) return 0;
  const double value = DecimalValue(p);
  if (*p == '-' || *p == '+') ++p;
  while (isdigit(static_cast<unsigned char>(*p)) || *p == '.') ++p;
  return value;
}

// The last number that ends before p, not before text (0 when none); p
// moves to its start.
double PreviousNumber(const char* text, const char*& p) {
  while (p > text && !isdigit(static_cast<unsigned char>(p[-1]))) --p;
  if (p == text) return 0;
  while (p > text && (isdigit(static_cast<unsigned char>(p[-1])) || p[-1] == '.')) --p;
  if (p > text && (p[-1] == '-' || p[-1] == '+')) --p;
  return DecimalValue(p);
}

// Reads the job file until a MediaBox or pdfSetupPaper line tells the size.
// found_size is false when no line decides.
bool ScanJobForA5(LogOutput& log, const char* path, bool* a5) {
  *a5 = false;
  LineReader reader;
  if (!path || !reader.Open(path)) {
    Debugf(log, "%s open file %s failed!,code:%d\n", "isA5PageSize", path ? path : "(null)", errno);
    return false;
  }
  static const char kMediaBox[] = "<</Type/Page/MediaBox [0 0";
  std::string line;
  while (reader.ReadLine(line)) {
    const char* text = line.c_str();
    if (const char* m = strcasestr(text, kMediaBox)) {
      const char* p = m + strlen(kMediaBox);
      const double w = NextNumber(p);
      const double h = NextNumber(p);
      *a5 = IsA5Size(w, h);
      return true;
    }
    if (const char* m = strcasestr(text, "pdfSetupPaper")) {
      if (m == text || m[-1] == '/') continue;
      // Walking back: the height is the last number before the name, the
      // width the one before that.
      const char* p = m;
      const double h = PreviousNumber(text, p);
      const double w = PreviousNumber(text, p);
      *a5 = IsA5Size(w, h);
      return true;
    }
  }
  return false;
}

// A number as the CUPS library reads it, whatever the locale.
double ScanNumber(const char* text, const char** end) {
  locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  char* stop = const_cast<char*>(text);
  const double value = c ? strtod_l(text, &stop, c) : strtod(text, &stop);
  if (c) freelocale(c);
  *end = stop;
  return value;
}

// "WIDTHxLENGTH[unit]" after "Custom.": points, or in, ft, cm, mm, m.
bool CustomDimensions(const char* text, float* w, float* l) {
  const char* p = nullptr;
  double width = ScanNumber(text, &p);
  if (p == text || *p != 'x') return false;
  const char* q = p + 1;
  double length = ScanNumber(q, &p);
  if (p == q) return false;
  double scale = 1.0;
  if (!strcasecmp(p, "in")) scale = 72.0;
  else if (!strcasecmp(p, "ft")) scale = 12.0 * 72.0;
  else if (!strcasecmp(p, "mm")) scale = 72.0 / 25.4;
  else if (!strcasecmp(p, "cm")) scale = 72.0 / 2.54;
  else if (!strcasecmp(p, "m")) scale = 72.0 / 0.0254;
  *w = static_cast<float>(width * scale);
  *l = static_cast<float>(length * scale);
  return true;
}

}  // namespace

bool FindPageSize(const PsPrinterDescription& printer, const char* name,
                  PsPageSize* size) {
  if (name == nullptr) return false;
  if (!strncmp(name, "Custom.", 7) && printer.variableSizes) {
    const auto custom = std::find_if(printer.pageSizes.begin(), printer.pageSizes.end(),
                                     [](const PsPageSize& s) { return s.name == "Custom"; });
    if (custom == printer.pageSizes.end()) return false;
    *size = *custom;
    return CustomDimensions(name + 7, &size->width, &size->length);
  }
  for (const PsPageSize& s : printer.pageSizes) {
    if (strcasecmp(name, s.name.c_str()) == 0) {
      *size = s;
      return true;
    }
  }
  return false;
}

int checkmediasize(PsJobState& job, int /*unused*/, int* w, int* h) {
  if (!w || !h) return 0;
  // The job's PageSize (or media), else the queue's default.
  const std::string effective = EffectiveOption(job, "PageSize");
  if (effective.empty()) return 0;
  const char* pagesize = effective.c_str();
  PsPageSize size;
  if (FindPageSize(job.printer, pagesize, &size)) {
    *w = static_cast<int>(size.width);
    *h = static_cast<int>(size.length);
    Debugf(job.log, "pagesize:%s width:%d,heigh:%d\n", pagesize, *w, *h);
  }
  return 1;
}

int isSupportCustomPageSize(PsJobState& job, const char* optionsText, const char* path) {
  JobOptions options(optionsText);
  bool custom = false;
  if (const char* pagesize = options.get("PageSize")) {
    Debugf(job.log, "PageSize:%s\n", pagesize);
    custom = strcasestr(pagesize, "Custom") != nullptr;
  } else if (const char* media = options.get("media")) {
    Debugf(job.log, "media=%s\n", media);
    custom = strcasestr(media, "Custom") != nullptr;
  } else if (const char* queueDefault = QueueDefault(job.printer, "PageSize")) {
    Debugf(job.log, "PageSize:%s\n", queueDefault);
    custom = strcasestr(queueDefault, "Custom") != nullptr;
  }
  if (!custom) return 1;

  std::string line = GrepFirstLine(job, "<</Type/Page/MediaBox", path);
  if (line.find('[') != std::string::npos && line.find(']') != std::string::npos) {
    const char* p = line.c_str() + line.find('[');
    std::string n[4];
    for (auto& text : n) text = NextNumberText(p);
    Debugf(job.log, "left:%s,top:%s,right:%s,bottom:%s\n", n[0].c_str(), n[1].c_str(), n[2].c_str(),
            n[3].c_str());
    double w = DecimalValue(n[2].c_str()) - DecimalValue(n[0].c_str());
    double h = DecimalValue(n[3].c_str()) - DecimalValue(n[1].c_str());
    if (!WidthInRange(w) || !HeightInRange(h)) return 0;
  }

  line = GrepFirstLine(job, " pdfSetupPaper", path);
  if (strcasestr(line.c_str(), " pdfSetupPaper")) {
    const char* p = line.c_str();
    std::string w = NextNumberText(p);
    std::string h = NextNumberText(p);
    Debugf(job.log, "pdfsetuppaper:width;%s,height:%s\n", w.c_str(), h.c_str());
    if (!WidthInRange(DecimalValue(w.c_str())) || !HeightInRange(DecimalValue(h.c_str()))) return 0;
  }
  return 1;
}

bool isA5PageSize(PsJobState& job, const char* optionsText, const char* path) {
  JobOptions options(optionsText);
  bool a5 = false;
  // The job's PageSize (or media), else the queue's default; a queue
  // without a default size leaves it to the job file.
  const std::string pagesize = EffectiveOption(job, "PageSize");
  if (!pagesize.empty())
    a5 = strstr(pagesize.c_str(), "A5") != nullptr;
  else
    ScanJobForA5(job.log, path, &a5);
  if (!a5) return false;

  if (const char* feed = options.get("FeedEdge")) {
    Debugf(job.log, "FeedEdge=%s\n", feed);
    bool longEdge = strcasestr(feed, "LongEdge") != nullptr;
    Debugf(job.log, "%s", longEdge ? "LongEdge =true\n" : "LongEdge =false\n");
    return longEdge;
  }
  const char* feedDefault = QueueDefault(job.printer, "FeedEdge");
  if (!feedDefault) return true;
  return strcasestr(feedDefault, "LongEdge") != nullptr;
}

}  // namespace lumora
