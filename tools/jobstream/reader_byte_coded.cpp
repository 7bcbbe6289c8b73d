// SPDX-License-Identifier: GPL-2.0-or-later
// Reader of the byte-coded dialects PLATFORM_C and PLATFORM_Z: PJL preamble,
// 0x0B records closed by a checksum, 00 00 fillers, JBIG page images.
#include <cstring>

#include "jbig_page_decoder.h"
#include "reader_internal.h"

namespace lumora::inspect {

namespace {

struct RecordKind {
  unsigned type;
  unsigned length;
  const char* name;
};

// The same type code means different records in the two dialects.
const RecordKind kRecordsC[] = {
    {0x0C, 18, "raster image"}, {0x11, 6, "job spec"},      {0x12, 18, "page spec"},
    {0x13, 12, "custom paper"}, {0x15, 5, "density"},       {0x16, 4, "abort"},
    {0x17, 4, "reset"},         {0x18, 4, "form feed"},     {0x19, 5, "toner save"},
    {0x1A, 6, "image checksum"}, {0x1E, 6, "coverage"},     {0x1F, 8, "date"},
    {0x30, 4, "manual duplex"}, {0x31, 5, "query status"},  {0x32, 4, "host use"},
    {0x40, 4, "machine duplex"}};
const RecordKind kRecordsZ[] = {
    {0x0C, 18, "raster image"}, {0x11, 9, "job spec"},       {0x12, 18, "page spec"},
    {0x13, 12, "custom paper"}, {0x15, 5, "density"},        {0x17, 4, "reset"},
    {0x18, 4, "form feed"},     {0x19, 7, "coverage"},       {0x1A, 48, "band header"},
    {0x1B, 4, "manual duplex"}, {0x1E, 36, "toner parameters"}, {0x1E, 40, "toner parameters"},
    {0x1F, 5, "fine mode"}};

const char kUelC[] = "\x1B\xFF-12345X";
const char kPjlHeader[] = "\x1B%-12345X@PJL\r\n";
const char kEndOfJob[] = "\x1B%-12345X@PJL\r\n@PJL EOJ\r\n\x1B%-12345X\r\n";
const size_t kEndOfJobLen = 36;

const uint8_t kTonerAlder[36] = {0x0B, 0x24, 0x1E, 0x00, 0x1E, 0x24, 0x26, 0x2F, 0x50, 0x06, 0x20,
                                 0x20, 0x20, 0x28, 0x2C, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                                 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                                 0x0A, 0x00, 0xC8};
const uint8_t kTonerBeech[40] = {0x0B, 0x28, 0x1E, 0x00, 0x17, 0x26, 0x00, 0x30, 0x40, 0x20,
                                 0x17, 0x20, 0x20, 0x00, 0x00, 0x20, 0x20, 0x20, 0x20, 0x20,
                                 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                                 0x20, 0x08, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x59};

class ByteCodedReader {
 public:
  ByteCodedReader(StreamCursor& cur, Dialect dialect)
      : cur_(cur), out_(cur.out()), dialect_(dialect), isC_(dialect == Dialect::kC) {}

  void Run();

 private:
  bool ReadRecord(Record& rec);
  Record Expect(unsigned type, const std::string& where);
  void JobItemFrom(const Record& rec, const std::string& detail);
  void ReadJobStartC();
  void ReadJobStartZ();
  void ReadPjlLines();
  void ReadPage(const Record& spec);
  void ReadImageC(Page& page, const Record& raster);
  void ReadBandsZ(Page& page, const Record& raster);
  void ReadJobEnd(const Record& first);

  StreamCursor& cur_;
  JobStream& out_;
  Dialect dialect_;
  bool isC_;
  size_t coverageOffset_ = 0;  // PLATFORM_Z coverage record of the current page
};

bool ByteCodedReader::ReadRecord(Record& rec) {
  cur_.SkipFillers();
  if (cur_.AtEnd()) return false;
  size_t off = cur_.pos();
  const uint8_t* b = cur_.at(off);
  if (b[0] != 0x0B)
    cur_.Stop(off, "expected a record (0x0B) or a 00 00 filler, found " + cur_.DescribeAt(off));
  cur_.Need(3, "a record header");
  unsigned len = b[1], type = b[2];
  if (len < 4 || len > 48)
    cur_.Stop(off + 1, "record length " + std::to_string(len) + " is outside 4 to 48");
  cur_.Need(len, "a record of " + std::to_string(len) + " bytes");

  const RecordKind* kinds = isC_ ? kRecordsC : kRecordsZ;
  size_t count = isC_ ? sizeof kRecordsC / sizeof kRecordsC[0] : sizeof kRecordsZ / sizeof kRecordsZ[0];
  const RecordKind* match = nullptr;
  const RecordKind* sameType = nullptr;
  for (size_t i = 0; i < count; i++) {
    if (kinds[i].type != type) continue;
    sameType = &kinds[i];
    if (kinds[i].length == len) match = &kinds[i];
  }
  if (!sameType)
    cur_.Stop(off + 2, "unknown record type " + Hex(type) + " (length " + std::to_string(len) +
                           ") for " + DialectName(dialect_));
  if (!match)
    cur_.Stop(off + 1, std::string("the ") + sameType->name + " record (type " + Hex(type) +
                           ") has length " + std::to_string(len) + ", not " +
                           std::to_string(sameType->length));
  unsigned sum = 0;
  for (unsigned i = 0; i < len; i++) sum += b[i];
  if (sum % 256 != 0) {
    unsigned want = (256 - (sum - b[len - 1]) % 256) % 256;
    cur_.Error(off + len - 1, std::string("checksum of the ") + match->name + " record is " +
                                  Hex(b[len - 1]) + ", should be " + Hex(want));
  }
  rec.offset = off;
  rec.length = len;
  rec.type = type;
  rec.bytes = b;
  rec.name = match->name;
  cur_.Skip(len);
  return true;
}

Record ByteCodedReader::Expect(unsigned type, const std::string& where) {
  const RecordKind* kinds = isC_ ? kRecordsC : kRecordsZ;
  size_t count = isC_ ? sizeof kRecordsC / sizeof kRecordsC[0] : sizeof kRecordsZ / sizeof kRecordsZ[0];
  std::string want = "type " + Hex(type);
  for (size_t i = 0; i < count; i++)
    if (kinds[i].type == type) {
      want = kinds[i].name;
      break;
    }
  Record rec;
  if (!ReadRecord(rec))
    cur_.Stop(cur_.pos(), "stream ends where the " + want + " record " + where + " should follow");
  if (rec.type != type)
    cur_.Stop(rec.offset, "expected the " + want + " record " + where + ", found the " + rec.name +
                              " record");
  return rec;
}

void ByteCodedReader::JobItemFrom(const Record& rec, const std::string& detail) {
  out_.job.items.push_back({rec.offset, rec.length, rec.name, detail});
}

void ByteCodedReader::ReadPjlLines() {
  size_t off = cur_.pos();
  cur_.ExpectBytes(kPjlHeader, 15, "the PJL header (ESC %-12345X@PJL)");
  out_.job.items.push_back({off, 15, "PJL header", "@PJL"});
  for (;;) {
    off = cur_.pos();
    if (!cur_.StartsWith("@PJL", 4)) {
      if (cur_.AtEnd()) cur_.Stop(off, "stream ends inside the PJL preamble");
      cur_.Stop(off, "expected a PJL line (\"@PJL ...\") ending with \"@PJL ENTER LANGUAGE=PL\"");
    }
    size_t len = 0;
    const uint8_t* p = cur_.at(off);
    const size_t kMaxLine = 256;
    while (len + 1 < cur_.left() && len < kMaxLine && !(p[len] == '\r' && p[len + 1] == '\n'))
      len++;
    if (len >= kMaxLine) cur_.Stop(off, "PJL line longer than 256 bytes");
    if (len + 1 >= cur_.left()) cur_.Stop(off, "stream ends inside a PJL line");
    std::string line(reinterpret_cast<const char*>(p), len);
    cur_.Skip(len + 2);
    out_.job.pjlLines.push_back(line);
    out_.job.items.push_back({off, len + 2, "PJL", line});
    auto value = [&](const char* key) -> const char* {
      size_t k = std::strlen(key);
      return line.compare(0, k, key) == 0 ? line.c_str() + k : nullptr;
    };
    if (const char* v = value("@PJL JOBTIME=")) out_.job.jobTime = v;
    if (const char* v = value("@PJL JOBOWNER=")) out_.job.jobOwner = v;
    if (const char* v = value("@PJL LANGUAGEVERSION=")) out_.job.languageVersion = v;
    if (line == "@PJL ENTER LANGUAGE=PL") break;
  }
}

std::string FlagsText(int flags) {
  std::string text = Hex(unsigned(flags));
  std::string names;
  if (flags & 0x20) names += "two-sided";
  if (flags & 0x10) names += std::string(names.empty() ? "" : ", ") + "platform";
  return names.empty() ? text : text + " (" + names + ")";
}

void ByteCodedReader::ReadJobStartC() {
  size_t off = cur_.pos();
  cur_.ExpectBytes(kUelC, 9, "UEL_CMD_C");
  out_.job.items.push_back({off, 9, "UEL_CMD_C", ""});
  JobItemFrom(Expect(0x16, "of the job start"), "");
  off = cur_.pos();
  cur_.ExpectBytes(kEndOfJob, kEndOfJobLen, "the empty PJL job (@PJL EOJ)");
  out_.job.items.push_back({off, kEndOfJobLen, "PJL EOJ", "empty PJL job"});
  off = cur_.pos();
  size_t len = 0;
  while (len < cur_.left() && len < 64 && cur_.at(off)[len] >= 0x20 && cur_.at(off)[len] < 0x7F)
    len++;
  if (len == 0 || len == 64) cur_.Stop(off, "expected the firmware version text (\"versions=...\")");
  out_.job.firmware.assign(reinterpret_cast<const char*>(cur_.at(off)), len);
  if (out_.job.firmware.compare(0, 9, "versions=") != 0)
    cur_.Warn(off, "firmware version text \"" + out_.job.firmware + "\" does not start with \"versions=\"");
  out_.job.items.push_back({off, len, "firmware version", out_.job.firmware});
  cur_.Skip(len);
  cur_.SkipFillers();
  ReadPjlLines();

  Record r = Expect(0x11, "of the job start");
  out_.job.jobId = r.bytes[3];
  out_.job.jobFlags = r.bytes[4];
  JobItemFrom(r, "job id low byte " + std::to_string(r.bytes[3]) + ", flags " + FlagsText(r.bytes[4]));
  r = Expect(0x19, "after the job spec");
  out_.job.tonerSave = r.bytes[3];
  JobItemFrom(r, std::to_string(r.bytes[3]));
  r = Expect(0x15, "after the toner save record");
  out_.job.density = r.bytes[3];
  JobItemFrom(r, std::to_string(r.bytes[3]));
  r = Expect(0x1F, "after the density record");
  out_.job.year = Le16(r.bytes + 3);
  out_.job.month = r.bytes[5];
  out_.job.day = r.bytes[6];
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", out_.job.year, out_.job.month, out_.job.day);
  if (out_.job.month < 1 || out_.job.month > 12 || out_.job.day < 1 || out_.job.day > 31)
    cur_.Warn(r.offset, std::string("date record carries an impossible date ") + date);
  JobItemFrom(r, date);
}

void ByteCodedReader::ReadJobStartZ() {
  ReadPjlLines();
  Record r = Expect(0x1F, "of the job start");
  out_.job.fineMode = r.bytes[3];
  JobItemFrom(r, std::to_string(r.bytes[3]));
  r = Expect(0x11, "after the fine mode record");
  out_.job.jobFlags = r.bytes[3];
  out_.job.jobId = Le32(r.bytes + 4);
  JobItemFrom(r, "job id " + std::to_string(out_.job.jobId) + ", flags " + FlagsText(r.bytes[3]));
  r = Expect(0x15, "after the job spec");
  out_.job.density = r.bytes[3];
  JobItemFrom(r, std::to_string(r.bytes[3]));
}

void ByteCodedReader::ReadImageC(Page& page, const Record& raster) {
  unsigned width = Le16(raster.bytes + 5), height = Le16(raster.bytes + 7);
  uint32_t length = Le32(raster.bytes + 13);
  std::string where = "of page " + std::to_string(page.number);
  size_t dataOff = cur_.pos();
  cur_.Need(length, "the " + std::to_string(length) + " JBIG bytes " + where);
  const uint8_t* jbig = cur_.at(dataOff);
  cur_.Skip(length);
  page.compressedSize = length;
  page.bands = 1;
  page.stripeLines = Le16(raster.bytes + 11);
  JbigHeader head;
  if (ReadJbigHeader(jbig, length, head)) page.jbigL0 = head.l0;
  cur_.ExpectBytes(kUelC, 9, "UEL_CMD_C after the JBIG image " + where);

  unsigned sum = 0;
  for (uint32_t i = 0; i < length; i++) sum += jbig[i];
  for (int i = 0; i < 9; i++) sum += uint8_t(kUelC[i]);
  Record r = Expect(0x1A, where);
  page.imageChecksum = Le16(r.bytes + 3);
  if (unsigned(page.imageChecksum) != sum % 256)
    cur_.Error(r.offset, "image checksum record " + where + " says " + Hex(page.imageChecksum) +
                             ", the JBIG data and UEL_CMD_C sum to " + Hex(sum % 256));
  r = Expect(0x1E, where);
  page.coverage = Le16(r.bytes + 3);
  Expect(0x18, where);

  if (uint64_t(width) * height > cur_.options().maxPixels) {
    cur_.Error(raster.offset, "raster image of " + std::to_string(width) + " x " +
                                  std::to_string(height) + " pixels is larger than the limit");
    return;
  }
  JbigImage image;
  size_t at = 0;
  std::string why = DecodeJbig(jbig, length, cur_.options().maxPixels, image, &at);
  if (!why.empty()) {
    cur_.Error(dataOff + at, why + " (" + where + ")");
    return;
  }
  if (image.width != width || image.height != height) {
    cur_.Error(dataOff, "JBIG image " + where + " is " + std::to_string(image.width) + " x " +
                            std::to_string(image.height) + ", its raster image record says " +
                            std::to_string(width) + " x " + std::to_string(height));
    return;
  }
  SetPagePicture(page, width, height, 1, image.bytesPerRow, std::move(image.bits));
}

void ByteCodedReader::ReadBandsZ(Page& page, const Record& raster) {
  unsigned width = Le16(raster.bytes + 5), height = Le16(raster.bytes + 7);
  std::string where = "of page " + std::to_string(page.number);
  if (Le32(raster.bytes + 13) != 0)
    cur_.Error(raster.offset + 13, "raster image record " + where + " carries length " +
                                       std::to_string(Le32(raster.bytes + 13)) +
                                       "; on PLATFORM_Z it is 0");
  bool decode = true;
  if (uint64_t(width) * height > cur_.options().maxPixels) {
    cur_.Error(raster.offset, "raster image of " + std::to_string(width) + " x " +
                                  std::to_string(height) + " pixels is larger than the limit");
    decode = false;
  }
  if (height == 0) cur_.Error(raster.offset, "raster image record " + where + " has height 0");
  size_t bytesPerRow = (width + 7) / 8;
  std::vector<uint8_t> bits;
  if (decode) bits.reserve(bytesPerRow * height);
  unsigned lines = 0;
  for (unsigned band = 0; lines < height; band++) {
    std::string bandName = "band " + std::to_string(band) + " " + where;
    Record h = Expect(0x1A, bandName);
    const uint8_t* b = h.bytes;
    unsigned want = height - lines < 256 ? height - lines : 256;
    uint32_t xd = Le32(b + 7), l0 = Le32(b + 11), yd = Le32(b + 15);
    uint32_t len = Le32(b + 23), len2 = Le32(b + 27), first = Le32(b + 35);
    if (Le16(b + 3) != 0 || b[5] != 1 || b[6] != 0 || Le32(b + 31) != 0 || Le32(b + 39) != 3 ||
        Le32(b + 43) != 0)
      cur_.Error(h.offset, "band header of " + bandName + " has wrong constant fields");
    if (xd != width)
      cur_.Error(h.offset + 7, "band header of " + bandName + " says width " +
                                   std::to_string(xd) + ", the raster image record " +
                                   std::to_string(width));
    if (yd != want || l0 != yd)
      cur_.Error(h.offset + 11, "band header of " + bandName + " says " + std::to_string(yd) +
                                    " lines (l0 " + std::to_string(l0) + "), expected " +
                                    std::to_string(want));
    if (first != band * 256u)
      cur_.Error(h.offset + 35, "band header of " + bandName + " says first line " +
                                    std::to_string(first) + ", expected " + std::to_string(band * 256u));
    if (len != len2)
      cur_.Error(h.offset + 27, "band header of " + bandName + " carries two different lengths " +
                                    std::to_string(len) + " and " + std::to_string(len2));
    size_t dataOff = cur_.pos();
    cur_.Need(len, "the " + std::to_string(len) + " JBIG bytes of " + bandName);
    const uint8_t* jbig = cur_.at(dataOff);
    cur_.Skip(len);
    page.compressedSize += len;
    page.bands++;
    lines += want;
    if (!decode) continue;
    JbigImage image;
    size_t at = 0;
    std::string why = DecodeJbig(jbig, len, cur_.options().maxPixels, image, &at);
    if (why.empty() && (image.width != width || image.height != want))
      why = "JBIG image is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
            ", expected " + std::to_string(width) + " x " + std::to_string(want);
    if (!why.empty()) {
      cur_.Error(dataOff + at, why + " (" + bandName + ")");
      decode = false;
      bits.clear();
      continue;
    }
    bits.insert(bits.end(), image.bits.begin(), image.bits.end());
  }
  Expect(0x18, where);
  if (decode && height > 0) {
    SetPagePicture(page, width, height, 1, bytesPerRow, std::move(bits));
    unsigned k = unsigned((page.dots / 1000) % 65536);
    if (page.coverage >= 0 && unsigned(page.coverage) != k)
      cur_.Error(coverageOffset_, "coverage record " + where + " says " + std::to_string(page.coverage) +
                                  " thousand dots, the image has " + std::to_string(page.dots) +
                                  " dots");
  }
}

void ByteCodedReader::ReadPage(const Record& spec) {
  Page page;
  page.offset = spec.offset;
  const uint8_t* s = spec.bytes;
  page.paperCode = s[3];
  page.mediaType = s[4];
  page.hResolution = s[5] * 10;
  page.vResolution = s[6] * 10;
  page.inputSlot = s[7];
  page.pageFlags = s[8];
  page.copies = Le16(s + 9);
  page.paperParam1 = Le16(s + 11);
  page.paperParam2 = Le16(s + 13);
  page.number = Le16(s + 15);
  page.paperName = PaperName(dialect_, page.paperCode);
  page.longEdge = isC_ ? (page.pageFlags & 0x40) != 0 : page.paperCode == 18;
  std::string where = "of page " + std::to_string(page.number);
  if (page.hResolution != 600 && page.hResolution != 1200)
    cur_.Warn(spec.offset + 5, "page spec " + where + " has resolution code " + std::to_string(s[5]));
  if (!isC_ && page.pageFlags != 0)
    cur_.Warn(spec.offset + 8, "page spec " + where + " has flags " + Hex(s[8]) + "; PLATFORM_Z sends 0");

  Record custom = Expect(0x13, where);
  const uint8_t* c = custom.bytes;
  bool isCustom = page.paperCode == (isC_ ? 0xFFu : 0u);
  if (isCustom) {
    page.paperWidth = Le16(c + 3);
    page.paperHeight = Le16(c + 5);
    page.imageWidth = Le16(c + 7);
    page.imageHeight = Le16(c + 9);
  } else {
    for (int i = 3; i < 11; i++)
      if (c[i] != 0) {
        cur_.Warn(custom.offset, "custom paper record " + where + " carries sizes for a standard size");
        break;
      }
  }
  if (isC_) {
    Expect(0x32, where);
  } else {
    Record cov = Expect(0x19, where);
    coverageOffset_ = cov.offset;
    const uint8_t* v = cov.bytes;
    if (v[3] > 63 || v[4] > 63 || v[5] > 15)
      cur_.Error(cov.offset, "coverage record " + where + " has digits out of range");
    page.coverage = (v[3] & 63) + (v[4] & 63) * 64 + (v[5] & 15) * 4096;
  }
  Record raster = Expect(0x0C, where);
  if (isC_)
    ReadImageC(page, raster);
  else
    ReadBandsZ(page, raster);
  if (page.decoded && isCustom && page.imageWidth && page.imageHeight &&
      (page.imageWidth != page.width || page.imageHeight != page.height))
    cur_.Warn(raster.offset, "image " + where + " is " + std::to_string(page.width) + " x " +
                                 std::to_string(page.height) + ", the custom paper record says " +
                                 std::to_string(page.imageWidth) + " x " +
                                 std::to_string(page.imageHeight));
  FinishPage(cur_, std::move(page));
}

void ByteCodedReader::ReadJobEnd(const Record& first) {
  out_.jobEndOffset = first.offset;
  if (first.type == 0x31) {
    if (first.bytes[3] != 0x80) cur_.Warn(first.offset, "query status record has value " + Hex(first.bytes[3]));
    Expect(0x17, "of the job end");
  }
  cur_.SkipFillers();
  cur_.ExpectBytes(kEndOfJob, kEndOfJobLen, "the PJL end of job after the reset record");
  cur_.SkipFillers();  // a keep-alive may still come after the job
  if (!cur_.AtEnd())
    cur_.Stop(cur_.pos(), std::to_string(cur_.left()) + " bytes follow the end of the job");
  out_.jobEnd = true;
}

void ByteCodedReader::Run() {
  if (isC_)
    ReadJobStartC();
  else
    ReadJobStartZ();

  bool inJobStart = true;       // PLATFORM_Z toner record allowed
  bool lastWasPage = false;     // a machine-duplex record belongs to that page
  bool jobEndDuplex = false;    // the job end's machine-duplex record was read
  Record rec;
  for (;;) {
    if (!ReadRecord(rec))
      cur_.Stop(cur_.pos(), out_.pages.empty() ? "stream ends without any page or job end"
                                               : "stream ends without the job end (reset and PJL EOJ)");
    if (jobEndDuplex && rec.type != 0x31)
      cur_.Stop(rec.offset, "expected the query status record after the job end's machine duplex "
                            "record, found the " + rec.name + " record");
    if (rec.type == 0x12) {
      ReadPage(rec);
      inJobStart = false;
      lastWasPage = true;
      continue;
    }
    if (!isC_ && rec.type == 0x1E && inJobStart) {
      bool alder = rec.length == 36 && std::memcmp(rec.bytes, kTonerAlder, 36) == 0;
      bool beech = rec.length == 40 && std::memcmp(rec.bytes, kTonerBeech, 40) == 0;
      out_.job.tonerParam = alder ? "Alder" : beech ? "Beech" : "unknown";
      if (!alder && !beech) cur_.Warn(rec.offset, "toner parameter record differs from both known records");
      JobItemFrom(rec, out_.job.tonerParam);
      inJobStart = false;
      continue;
    }
    inJobStart = false;
    if ((isC_ && rec.type == 0x30) || (!isC_ && rec.type == 0x1B)) {
      NoteManualDuplex(cur_, rec.offset);
      lastWasPage = false;
      continue;
    }
    if (isC_ && rec.type == 0x40) {
      // The page end sends it after odd page numbers; the job end sends one
      // more when the page count is odd.
      if (lastWasPage && !out_.pages.back().machineDuplex && out_.pages.back().number % 2 == 1) {
        out_.pages.back().machineDuplex = true;
        out_.pages.back().endOffset = cur_.pos();
      } else {
        if (out_.pages.empty())
          cur_.Stop(rec.offset, "machine duplex record before the first page");
        out_.machineDuplexAtJobEnd = true;
        jobEndDuplex = true;
      }
      continue;
    }
    if ((isC_ && rec.type == 0x31) || (!isC_ && rec.type == 0x17)) {
      if (out_.pages.empty()) cur_.Warn(rec.offset, "job ends without any page");
      ReadJobEnd(rec);
      return;
    }
    cur_.Stop(rec.offset, "unexpected " + rec.name + " record where a page or the job end should start");
  }
}

}  // namespace

void ReadByteCodedJob(StreamCursor& cur, Dialect dialect) {
  ByteCodedReader reader(cur, dialect);
  reader.Run();
}

}  // namespace lumora::inspect
