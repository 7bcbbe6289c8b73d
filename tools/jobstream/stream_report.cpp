// SPDX-License-Identifier: GPL-2.0-or-later
// Text and JSON reports.
#include "stream_report.h"

#include <cstdio>

namespace lumora::inspect {

namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c >= 0x7F) {
      // Bytes of the stream are not necessarily UTF-8: keep each as one code point.
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string JsonInt(int64_t value) { return value < 0 ? "null" : std::to_string(value); }
std::string JsonBool(bool value) { return value ? "true" : "false"; }
std::string JsonOptString(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

std::string FileAt(const std::vector<std::string>& files, size_t index) {
  return index >= 1 && index <= files.size() ? files[index - 1] : "";
}

class JsonObject {
 public:
  explicit JsonObject(std::string indent) : indent_(std::move(indent)) {}
  JsonObject& Add(const char* key, const std::string& raw) {
    body_ += (body_.empty() ? "" : ",\n") + indent_ + "  " + JsonString(key) + ": " + raw;
    return *this;
  }
  std::string Str() const { return "{\n" + body_ + "\n" + indent_ + "}"; }

 private:
  std::string indent_;
  std::string body_;
};

std::string IssuesJson(const std::vector<StreamIssue>& issues, const std::string& indent) {
  if (issues.empty()) return "[]";
  std::string out = "[";
  for (size_t i = 0; i < issues.size(); i++)
    out += std::string(i ? ", " : "") + "{\"offset\": " + std::to_string(issues[i].offset) +
           ", \"message\": " + JsonString(issues[i].message) + "}";
  (void)indent;
  return out + "]";
}

std::string PageJson(const Page& p, const PageFiles& files) {
  JsonObject o("    ");
  o.Add("index", std::to_string(p.index))
      .Add("offset", std::to_string(p.offset))
      .Add("end_offset", std::to_string(p.endOffset))
      .Add("number", JsonInt(p.number))
      .Add("paper_code", std::to_string(p.paperCode))
      .Add("paper_name", JsonOptString(p.paperName))
      .Add("long_edge", JsonBool(p.longEdge))
      .Add("h_resolution", std::to_string(p.hResolution))
      .Add("v_resolution", std::to_string(p.vResolution))
      .Add("copies", std::to_string(p.copies))
      .Add("input_slot", std::to_string(p.inputSlot))
      .Add("media_type", std::to_string(p.mediaType))
      .Add("page_flags", JsonInt(p.pageFlags))
      .Add("paper_param1", std::to_string(p.paperParam1))
      .Add("paper_param2", std::to_string(p.paperParam2))
      .Add("paper_width", std::to_string(p.paperWidth))
      .Add("paper_height", std::to_string(p.paperHeight))
      .Add("image_width", std::to_string(p.imageWidth))
      .Add("image_height", std::to_string(p.imageHeight))
      .Add("density", JsonInt(p.density))
      .Add("decoded", JsonBool(p.decoded))
      .Add("width", std::to_string(p.width))
      .Add("height", std::to_string(p.height))
      .Add("bits_per_pixel", std::to_string(p.bitsPerPixel))
      .Add("dots", std::to_string(p.dots))
      .Add("crc32", std::to_string(p.crc32))
      .Add("compressed_size", std::to_string(p.compressedSize))
      .Add("bands", std::to_string(p.bands))
      .Add("chunks", std::to_string(p.chunks))
      .Add("coverage", JsonInt(p.coverage))
      .Add("image_checksum", JsonInt(p.imageChecksum))
      .Add("machine_duplex", JsonBool(p.machineDuplex))
      .Add("pbm", JsonOptString(FileAt(files.pbm, p.index)))
      .Add("png", JsonOptString(FileAt(files.png, p.index)));
  return o.Str();
}

std::string Resolution(const Page& p) {
  return std::to_string(p.hResolution) + " x " + std::to_string(p.vResolution) + " dpi";
}

}  // namespace

std::string FormatIssue(const StreamIssue& issue) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "byte %zu (0x%zX): ", issue.offset, issue.offset);
  return buf + issue.message;
}

std::string FormatJson(const JobStream& s, const PageFiles& files) {
  const JobInfo& j = s.job;
  std::string items = "[";
  for (size_t i = 0; i < j.items.size(); i++)
    items += std::string(i ? ",\n      " : "\n      ") + "{\"offset\": " + std::to_string(j.items[i].offset) +
             ", \"length\": " + std::to_string(j.items[i].length) + ", \"name\": " + JsonString(j.items[i].name) +
             ", \"detail\": " + JsonString(j.items[i].detail) + "}";
  items += j.items.empty() ? "]" : "\n    ]";
  std::string pjl = "[";
  for (size_t i = 0; i < j.pjlLines.size(); i++) pjl += (i ? ", " : "") + JsonString(j.pjlLines[i]);
  pjl += "]";
  char date[32] = "null";
  if (j.year >= 0) std::snprintf(date, sizeof date, "\"%04d-%02d-%02d\"", j.year, j.month, j.day);

  JsonObject job("  ");
  job.Add("pjl", pjl)
      .Add("firmware", JsonOptString(j.firmware))
      .Add("job_time", JsonOptString(j.jobTime))
      .Add("job_owner", j.jobTime.empty() && j.jobOwner.empty() ? "null" : JsonString(j.jobOwner))
      .Add("language_version", JsonOptString(j.languageVersion))
      .Add("job_id", JsonInt(j.jobId))
      .Add("job_flags", JsonInt(j.jobFlags))
      .Add("density", JsonInt(j.density))
      .Add("toner_save", JsonInt(j.tonerSave))
      .Add("fine_mode", JsonInt(j.fineMode))
      .Add("date", date)
      .Add("toner_param", JsonOptString(j.tonerParam))
      .Add("items", items);

  std::string pages = "[";
  for (size_t i = 0; i < s.pages.size(); i++) pages += (i ? ", " : "") + PageJson(s.pages[i], files);
  pages += "]";
  std::string md = "[";
  for (size_t i = 0; i < s.manualDuplex.size(); i++)
    md += std::string(i ? ", " : "") + "{\"offset\": " + std::to_string(s.manualDuplex[i].offset) +
          ", \"pages_before\": " + std::to_string(s.manualDuplex[i].pagesBefore) + "}";
  md += "]";

  JsonObject o("");
  o.Add("dialect", JsonString(DialectName(s.dialect)))
      .Add("size", std::to_string(s.size))
      .Add("ok", JsonBool(s.ok()))
      .Add("errors", IssuesJson(s.errors, "  "))
      .Add("warnings", IssuesJson(s.warnings, "  "))
      .Add("job", job.Str())
      .Add("page_count", std::to_string(s.pages.size()))
      .Add("pages", pages)
      .Add("manual_duplex", md)
      .Add("job_end", JsonBool(s.jobEnd))
      .Add("job_end_offset", s.jobEnd ? std::to_string(s.jobEndOffset) : "null")
      .Add("machine_duplex_at_job_end", JsonBool(s.machineDuplexAtJobEnd));
  return o.Str() + "\n";
}

std::string FormatSummary(const JobStream& s, const std::string& name, const PageFiles& files) {
  std::string out = name + ": " + DialectName(s.dialect) + " job stream, " + std::to_string(s.size) +
                    " bytes, " + std::to_string(s.pages.size()) + " page" +
                    (s.pages.size() == 1 ? "" : "s") + "\n";
  char line[512];
  if (!s.job.items.empty()) out += "Job start\n";
  for (const JobItem& item : s.job.items) {
    std::snprintf(line, sizeof line, "  @%-8zu %s%s%s\n", item.offset, item.name.c_str(),
                  item.detail.empty() ? "" : ": ", item.detail.c_str());
    out += line;
  }
  size_t md = 0;
  for (const Page& p : s.pages) {
    while (md < s.manualDuplex.size() && s.manualDuplex[md].pagesBefore < p.index) {
      std::snprintf(line, sizeof line, "Manual duplex command @%zu after %zu pages\n",
                    s.manualDuplex[md].offset, s.manualDuplex[md].pagesBefore);
      out += line;
      md++;
    }
    std::snprintf(line, sizeof line, "Page %zu: @%zu-%zu", p.index, p.offset, p.endOffset);
    out += line;
    out += p.number >= 0 ? ", number " + std::to_string(p.number) + "\n" : std::string("\n");
    std::string paper = "paper code " + std::to_string(p.paperCode);
    if (!p.paperName.empty()) paper += " (" + p.paperName + ")";
    if (p.longEdge) paper += " long edge first";
    out += "  " + paper + ", " + Resolution(p) + ", copies " + std::to_string(p.copies) +
           ", input slot " + std::to_string(p.inputSlot) + ", media type " + std::to_string(p.mediaType);
    if (p.pageFlags >= 0) out += ", page flags " + std::to_string(p.pageFlags);
    if (p.density >= 0) out += ", density " + std::to_string(p.density);
    out += "\n";
    if (p.paperWidth || p.imageWidth) {
      out += "  ";
      if (p.paperWidth)
        out += "paper " + std::to_string(p.paperWidth) + " x " + std::to_string(p.paperHeight) + " dots";
      if (p.paperWidth && p.imageWidth) out += ", ";
      if (p.imageWidth)
        out += "announced image " + std::to_string(p.imageWidth) + " x " + std::to_string(p.imageHeight);
      out += "\n";
    }
    if (p.paperParam1 || p.paperParam2)
      out += "  paper parameters " + std::to_string(p.paperParam1) + "/" + std::to_string(p.paperParam2) + "\n";
    out += "  image ";
    out += p.decoded ? std::to_string(p.width) + " x " + std::to_string(p.height) + ", " +
                           std::to_string(p.bitsPerPixel) + " bit" + (p.bitsPerPixel > 1 ? "s" : "") +
                           " per pixel, " + std::to_string(p.dots) + " dots"
                     : std::string("not decoded");
    out += "; JBIG " + std::to_string(p.compressedSize) + " bytes";
    if (p.bands > 1) out += " in " + std::to_string(p.bands) + " bands";
    if (p.chunks) out += " in " + std::to_string(p.chunks) + " chunk" + (p.chunks > 1 ? "s" : "");
    out += "\n";
    std::string tail;
    if (p.coverage >= 0) tail += "coverage " + std::to_string(p.coverage);
    if (p.imageChecksum >= 0) {
      std::snprintf(line, sizeof line, "image checksum 0x%02X", p.imageChecksum);
      tail += (tail.empty() ? "" : ", ") + std::string(line);
    }
    if (p.machineDuplex) tail += (tail.empty() ? "" : ", ") + std::string("machine duplex");
    if (!tail.empty()) out += "  " + tail + "\n";
    std::string pbm = FileAt(files.pbm, p.index), png = FileAt(files.png, p.index);
    if (!pbm.empty()) out += "  written to " + pbm + "\n";
    if (!png.empty()) out += "  written to " + png + "\n";
  }
  for (; md < s.manualDuplex.size(); md++) {
    std::snprintf(line, sizeof line, "Manual duplex command @%zu after %zu pages\n",
                  s.manualDuplex[md].offset, s.manualDuplex[md].pagesBefore);
    out += line;
  }
  if (s.jobEnd) {
    std::snprintf(line, sizeof line, "Job end @%zu%s\n", s.jobEndOffset,
                  s.machineDuplexAtJobEnd ? " (after one more machine duplex record)" : "");
    out += line;
  } else {
    out += "No complete job end\n";
  }
  for (const StreamIssue& w : s.warnings) out += "Warning: " + FormatIssue(w) + "\n";
  for (const StreamIssue& e : s.errors) out += "Error: " + FormatIssue(e) + "\n";
  return out;
}

}  // namespace lumora::inspect
