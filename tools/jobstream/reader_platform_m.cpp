// SPDX-License-Identifier: GPL-2.0-or-later
// Reader of PLATFORM_M: ESC %-12345X "JZJZ", then big-endian 16-byte
// command headers (magic 0x5A5A) each followed by 12-byte parameter records
// or by data, closed by END_DOC_CMD and ESC %-12345X.
#include <cstring>

#include "jbig_page_decoder.h"
#include "reader_internal.h"
#include "stream/command_bytes.h"  // command codes and parameter ids of the dialect

namespace lumora::inspect {

namespace {

const char* CommandName(uint32_t command) {
  switch (command) {
    case START_DOC_CMD: return "START_DOC_CMD";
    case END_DOC_CMD: return "END_DOC_CMD";
    case START_PAGE_CMD: return "START_PAGE_CMD";
    case END_PAGE_CMD: return "END_PAGE_CMD";
    case JBIG_PARAM_CMD: return "JBIG_PARAM_CMD";
    case JBIG_DATA_CMD: return "JBIG_DATA_CMD";
    case JBIG_END_CMD: return "JBIG_END_CMD";
    case MANUAL_DUPLEX_CMD: return "MANUAL_DUPLEX_CMD";
    case TONER_PARAM: return "TONER_PARAM";
    default: return nullptr;
  }
}

const uint32_t kMaxChunk = 65536;

struct Param {
  uint16_t id;
  uint32_t value;
};

struct MCommand {
  size_t offset = 0;
  uint32_t length = 0;
  uint32_t command = 0;
  std::vector<Param> params;
  const uint8_t* data = nullptr;  // length - 16 bytes after the header
  size_t dataLength = 0;
  std::string name;
};

// Parameter ids of START_PAGE_CMD in the order the printer takes them.
struct PageParam {
  uint16_t id;
  const char* name;
};
const PageParam kPageParams[] = {
    {3, "PAPER_SIZE_PARAM"},        {26, "CUSTOM_PAPER_UNIT_PARAM"}, {24, "CUSTOM_WIDTH_PARAM"},
    {25, "CUSTOM_HEIGHT_PARAM"},    {4, "COPIES_PARAM"},             {5, "INPUT_TRAY_PARAM"},
    {6, "MEDIA_TYPE_PARAM"},        {7, "CHANNEL_NUM_PARAM"},        {8, "H_RESOLUTION_PARAM"},
    {9, "V_RESOLUTION_PARAM"},      {22, "RET_PARAM"},               {12, "IMG_WIDTH_PARAM"},
    {13, "IMG_HEIGHT_PARAM"},       {16, "VIDEO_DEPTH_PARAM"},       {17, "VIDEO_WIDTH_PARAM"},
    {18, "VIDEO_HEIGHT_PARAM"},     {0xFF00, "DENSITY_PARAM"}};

class PlatformMReader {
 public:
  explicit PlatformMReader(StreamCursor& cur) : cur_(cur), out_(cur.out()) {}
  void Run();

 private:
  bool ReadCommand(MCommand& cmd);
  MCommand Expect(uint32_t command, const std::string& where);
  void ReadPage(const MCommand& start);

  StreamCursor& cur_;
  JobStream& out_;
};

bool PlatformMReader::ReadCommand(MCommand& cmd) {
  if (cur_.AtEnd()) return false;
  size_t off = cur_.pos();
  cur_.Need(16, "a command header");
  const uint8_t* h = cur_.at(off);
  uint32_t length = Be32(h), command = Be32(h + 4), count = Be32(h + 8);
  uint16_t paramLength = Be16(h + 12), magic = Be16(h + 14);
  if (magic != 0x5A5A)
    cur_.Stop(off + 14, "expected a command header with magic 0x5A5A, found " + Hex(magic, 4) +
                            " (the header starts with " + cur_.DescribeAt(off) + ")");
  const char* name = CommandName(command);
  if (!name) cur_.Stop(off + 4, "unknown command code " + std::to_string(command));
  if (length < 16) cur_.Stop(off, std::string(name) + " has length " + std::to_string(length));
  if (paramLength != count * 12u)
    cur_.Stop(off + 12, std::string(name) + " announces " + std::to_string(count) +
                            " parameters but a parameter length of " + std::to_string(paramLength));
  cur_.Need(length, std::string(name) + " of " + std::to_string(length) + " bytes");

  bool hasParams = command == START_DOC_CMD || command == START_PAGE_CMD;
  bool hasData = command == JBIG_PARAM_CMD || command == JBIG_DATA_CMD || command == TONER_PARAM;
  if (!hasParams && count != 0)
    cur_.Stop(off + 8, std::string(name) + " carries " + std::to_string(count) + " parameters");
  if (hasParams && length != 16 + 12 * count)
    cur_.Stop(off, std::string(name) + " with " + std::to_string(count) + " parameters has length " +
                       std::to_string(length) + ", not " + std::to_string(16 + 12 * count));
  uint32_t want = command == JBIG_PARAM_CMD ? 36 : command == TONER_PARAM ? 88 : 0;
  if (!hasParams && !hasData) want = 16;
  if (want && length != want)
    cur_.Stop(off, std::string(name) + " has length " + std::to_string(length) + ", not " +
                       std::to_string(want));
  if (command == JBIG_DATA_CMD && (length == 16 || length > 16 + kMaxChunk))
    cur_.Stop(off, "JBIG_DATA_CMD carries " + std::to_string(length - 16) +
                       " bytes; a chunk holds 1 to 65536");

  cmd = MCommand();
  cmd.offset = off;
  cmd.length = length;
  cmd.command = command;
  cmd.name = name;
  for (uint32_t i = 0; hasParams && i < count; i++) {
    const uint8_t* p = h + 16 + 12 * i;
    if (Be32(p) != 12 || p[6] != 1 || p[7] != 0)
      cur_.Stop(off + 16 + 12 * i, "parameter record " + std::to_string(i + 1) + " of " + name +
                                       " is not 00 00 00 0C id 01 00 value");
    cmd.params.push_back({Be16(p + 4), Be32(p + 8)});
  }
  if (hasData) {
    cmd.data = h + 16;
    cmd.dataLength = length - 16;
  }
  cur_.Skip(length);
  return true;
}

MCommand PlatformMReader::Expect(uint32_t command, const std::string& where) {
  MCommand cmd;
  if (!ReadCommand(cmd))
    cur_.Stop(cur_.pos(), std::string("stream ends where ") + CommandName(command) + " " + where +
                              " should follow");
  if (cmd.command != command)
    cur_.Stop(cmd.offset, std::string("expected ") + CommandName(command) + " " + where +
                              ", found " + cmd.name);
  return cmd;
}

void PlatformMReader::ReadPage(const MCommand& start) {
  Page page;
  page.offset = start.offset;
  size_t n = start.params.size();
  if (n != 14 && n != 17)
    cur_.Stop(start.offset, "START_PAGE_CMD has " + std::to_string(n) + " parameters, not 14 or 17");
  bool custom = n == 17;
  uint32_t v[17] = {};
  for (size_t i = 0, k = 0; k < 17; k++) {
    if (!custom && k >= 1 && k <= 3) continue;
    if (start.params[i].id != kPageParams[k].id)
      cur_.Stop(start.offset + 16 + 12 * i, "parameter " + std::to_string(i + 1) +
                                                " of START_PAGE_CMD has id " +
                                                std::to_string(start.params[i].id) + ", expected " +
                                                kPageParams[k].name);
    v[k] = start.params[i].value;
    i++;
  }
  page.paperCode = v[0];
  page.paperName = PaperName(Dialect::kM, page.paperCode);
  page.longEdge = page.paperCode == 61;
  if (custom) {
    page.paperWidth = v[2];
    page.paperHeight = v[3];
  }
  page.copies = v[4];
  page.inputSlot = v[5];
  page.mediaType = v[6];
  page.hResolution = int(v[8]);
  page.vResolution = int(v[9]);
  page.imageWidth = v[14];   // VIDEO_WIDTH: pixels
  page.imageHeight = v[15];
  page.density = int(v[16]);
  uint32_t depth = v[13];
  std::string where = "of the page at " + std::to_string(start.offset);
  if (custom != (page.paperCode == 0))
    cur_.Warn(start.offset, "START_PAGE_CMD with " + std::to_string(n) + " parameters has paper code " +
                                std::to_string(page.paperCode));
  if (depth != 1 && depth != 2)
    cur_.Stop(start.offset, "VIDEO_DEPTH_PARAM is " + std::to_string(depth) + "; 1 or 2 bits per pixel");
  if (v[11] != v[14] * depth || v[12] != v[15])
    cur_.Warn(start.offset, "IMG_WIDTH/IMG_HEIGHT " + std::to_string(v[11]) + " x " + std::to_string(v[12]) +
                                " do not match VIDEO_WIDTH/VIDEO_HEIGHT " + std::to_string(v[14]) + " x " +
                                std::to_string(v[15]) + " at depth " + std::to_string(depth));

  MCommand param = Expect(JBIG_PARAM_CMD, where);
  const uint8_t* hp = param.data - 16;
  for (int i = 8; i < 14; i++)
    if (hp[i] != 0) cur_.Error(param.offset + i, "JBIG_PARAM_CMD bytes 8 to 13 are not zero");
  uint32_t xd = Be32(param.data + 4), yd = Be32(param.data + 8);

  std::vector<uint8_t> jbig;
  size_t jbigOffset = 0;
  size_t lastChunk = kMaxChunk;
  for (;;) {
    MCommand cmd;
    if (!ReadCommand(cmd))
      cur_.Stop(cur_.pos(), "stream ends inside the JBIG data " + where);
    if (cmd.command == JBIG_END_CMD) break;
    if (cmd.command != JBIG_DATA_CMD)
      cur_.Stop(cmd.offset, "expected JBIG_DATA_CMD or JBIG_END_CMD " + where + ", found " + cmd.name);
    if (lastChunk != kMaxChunk)
      cur_.Error(cmd.offset, "JBIG_DATA_CMD follows a chunk of " + std::to_string(lastChunk) +
                                 " bytes; only the last chunk may hold less than 65536");
    if (jbig.empty()) jbigOffset = cmd.offset + 16;
    jbig.insert(jbig.end(), cmd.data, cmd.data + cmd.dataLength);
    lastChunk = cmd.dataLength;
    page.chunks++;
  }
  if (page.chunks == 0) cur_.Error(cur_.pos(), "page has no JBIG_DATA_CMD " + where);
  Expect(END_PAGE_CMD, where);
  page.compressedSize = jbig.size();
  page.bands = page.chunks ? 1 : 0;

  if (!jbig.empty()) {
    JbigImage image;
    size_t at = 0;
    std::string why = DecodeJbig(jbig.data(), jbig.size(), cur_.options().maxPixels, image, &at);
    // Offsets inside the joined chunks map back to the stream chunk by chunk.
    size_t streamAt = jbigOffset + at + (at / kMaxChunk) * 16;
    if (!why.empty()) {
      cur_.Error(streamAt, why + " (" + where + ")");
    } else if (image.width != xd || image.height != yd) {
      cur_.Error(jbigOffset, "JBIG image is " + std::to_string(image.width) + " x " +
                                 std::to_string(image.height) + ", JBIG_PARAM_CMD says " +
                                 std::to_string(xd) + " x " + std::to_string(yd));
    } else if (image.width % depth != 0) {
      cur_.Error(jbigOffset, "JBIG image width " + std::to_string(image.width) +
                                 " is not a whole number of 2-bit pixels");
    } else {
      if (image.width != v[11] || image.height != v[12])
        cur_.Warn(jbigOffset, "JBIG image is " + std::to_string(image.width) + " x " +
                                  std::to_string(image.height) + ", START_PAGE_CMD says " +
                                  std::to_string(v[11]) + " x " + std::to_string(v[12]));
      SetPagePicture(page, unsigned(image.width / depth), unsigned(image.height), int(depth),
                     image.bytesPerRow, std::move(image.bits));
    }
  }
  FinishPage(cur_, std::move(page));
}

void PlatformMReader::Run() {
  cur_.ExpectBytes("\x1B%-12345X", 9, "UEL_CMD");
  out_.job.items.push_back({0, 9, "UEL_CMD", ""});
  cur_.ExpectBytes("JZJZ", 4, "\"JZJZ\"");
  out_.job.items.push_back({9, 4, "JZJZ", ""});

  static const uint16_t kToner[36] = {0,   81,  115, 110, 150, 122, 100, 150, 200, 100, 81,  100,
                                      100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                                      120, 135, 150, 180, 200, 120, 150, 190, 350, 400, 100, 100};
  MCommand toner = Expect(TONER_PARAM, "of the job start");
  bool known = true;
  for (int i = 0; i < 36; i++) known = known && Be16(toner.data + 2 * i) == kToner[i];
  out_.job.tonerParam = known ? "PLATFORM_M" : "unknown";
  if (!known) cur_.Warn(toner.offset, "TONER_PARAM values differ from the known table");
  out_.job.items.push_back({toner.offset, toner.length, "TONER_PARAM", out_.job.tonerParam});

  MCommand doc = Expect(START_DOC_CMD, "of the job start");
  if (doc.params.size() != 3 || doc.params[0].id != 0 || doc.params[1].id != 1 || doc.params[2].id != 2)
    cur_.Error(doc.offset, "START_DOC_CMD does not carry the parameters 0, 1 and 2");
  std::string detail;
  for (const Param& p : doc.params)
    detail += (detail.empty() ? "" : ", ") + std::string("id ") + std::to_string(p.id) + " = " +
              std::to_string(p.value);
  out_.job.items.push_back({doc.offset, doc.length, "START_DOC_CMD", detail});

  for (;;) {
    MCommand cmd;
    if (!ReadCommand(cmd))
      cur_.Stop(cur_.pos(), out_.pages.empty() ? "stream ends without any page or END_DOC_CMD"
                                               : "stream ends without END_DOC_CMD");
    if (cmd.command == START_PAGE_CMD) {
      ReadPage(cmd);
    } else if (cmd.command == MANUAL_DUPLEX_CMD) {
      NoteManualDuplex(cur_, cmd.offset);
    } else if (cmd.command == END_DOC_CMD) {
      out_.jobEndOffset = cmd.offset;
      if (out_.pages.empty()) cur_.Warn(cmd.offset, "job ends without any page");
      cur_.ExpectBytes("\x1B%-12345X", 9, "UEL_CMD after END_DOC_CMD");
      if (!cur_.AtEnd())
        cur_.Stop(cur_.pos(), std::to_string(cur_.left()) + " bytes follow the end of the job");
      out_.jobEnd = true;
      return;
    } else {
      cur_.Stop(cmd.offset, "unexpected " + cmd.name + " where a page or the job end should start");
    }
  }
}

}  // namespace

void ReadPlatformMJob(StreamCursor& cur) {
  PlatformMReader reader(cur);
  reader.Run();
}

}  // namespace lumora::inspect
