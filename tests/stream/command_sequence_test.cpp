// SPDX-License-Identifier: GPL-2.0-or-later
// The job start, page start, page end and job end sequences of the three
// dialects byte for byte, and the failure text of every step.
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <map>

#include "command_bytes.h"
#include "commands.h"
#include "stream_test_util.h"

namespace lumora::test {

namespace {

using stream::H;
using stream::Hex;
using stream::Job300;
using stream::Page1;
using stream::StreamTest;

const std::string kEOJ = "\x1b%-12345X@PJL\r\n@PJL EOJ\r\n\x1b%-12345X\r\n";
const std::string kPJL = "\x1b%-12345X@PJL\r\n";
const std::string kEnter = "@PJL ENTER LANGUAGE=PL\r\n";
const std::string k00 = std::string(2, '\0');
std::string gHostName = "printhost";
time_t gNow = 1796634300;  // 7 December 2026, 09:05:00 UTC

time_t FixedTime() { return gNow; }

int FixedHost(char* name, size_t len) {
  if (gHostName == "<fail>") return -1;
  snprintf(name, len, "%s", gHostName.c_str());
  return 0;
}

class CommandTest : public StreamTest {
 protected:
  void SetUp() override {
    StreamTest::SetUp();
    setenv("TZ", "UTC", 1);
    tzset();
    job_.clock = FixedTime;
    job_.hostName = FixedHost;
    gHostName = "printhost";
  }
};

TEST_F(CommandTest, JobStartC) {
  PrntDocInfo doc = Job300();
  EXPECT_EQ(Prnt_StartDoc(job_, &doc, PLATFORM_C), 1);
  const std::string expected =
      H("1B FF 2D 31 32 33 34 35 58 0B 04 16 DB") + kEOJ + "versions=3.1.2.1" + k00 + kPJL +
      kEnter + k00 + H("0B 06 11 2C 30 82 00 00 0B 05 19 00 D7 00 00 0B 05 15 02 D9") +
      H("0B 08 1F EA 07 0C 07 CA");
  EXPECT_EQ(Hex(Take()), Hex(expected));
}

TEST_F(CommandTest, JobStartZPerModel) {
  const std::string tail = k00 + H("0B 05 1F 01 D0 00 00 0B 09 11 30 2C 01 00 00 7E 00 00") +
                           H("0B 05 15 02 D9 00 00");
  uint8_t alder[36], birch[40];
  GetTonerParamCmdForAlder(alder);
  GetTonerParamCmdForBirch(birch);
  const std::string lines = "@PJL JOBTIME=05:09:07:12:2026\r\n@PJL JOBOWNER=printhost\r\n" + kEnter;
  const std::map<std::string, std::string> expected = {
      {"Lumora Alder Series", kPJL + "@PJL LANGUAGEVERSION=1.0\r\n" + lines + tail +
                                  std::string(alder, alder + 36)},
      {"Lumora Beech Series", kPJL + lines + tail + std::string(birch, birch + 40)},
      {"Lumora Oak Series", kPJL + lines + tail},
  };
  for (const auto& [model, bytes] : expected) {
    SCOPED_TRACE(model);
    job_.modelName = model;
    PrntDocInfo doc = Job300();
    EXPECT_EQ(Prnt_StartDoc(job_, &doc, PLATFORM_Z), 1);
    EXPECT_EQ(Hex(Take()), Hex(bytes));
  }
}

TEST_F(CommandTest, JobOwnerIsCutTo32Bytes) {
  const std::string name32(32, 'h');
  const std::map<std::string, std::string> cases = {
      {name32, name32}, {name32 + "tail", name32}, {"<fail>", ""}};
  for (const auto& [host, sent] : cases) {
    gHostName = host;
    PrntDocInfo doc = Job300();
    EXPECT_EQ(Prnt_StartDoc(job_, &doc, PLATFORM_Z), 1) << job_.lastError.c_str();
    EXPECT_NE(Take().find("@PJL JOBOWNER=" + sent + "\r\n@PJL ENTER"), std::string::npos) << host;
  }
}

TEST_F(CommandTest, JobTimeIsAlways18Characters) {
  char buf[19];
  // The widest years a time_t holds: 1000 to 9999 where it has 64 bits,
  // 1901 to 2038 where it has 32 (armhf).
  const bool wide = sizeof(time_t) >= 8;
  const long long first = wide ? -30610224000LL : INT32_MIN;  // 1 January 1000 / 13 December 1901
  const long long last = wide ? 253402300799LL : INT32_MAX;   // 31 December 9999, 23:59:59 / 19 January 2038
  for (long long t : {first, last, 0LL}) {
    gNow = static_cast<time_t>(t);
    GetSendTimePJL(job_, buf);
    EXPECT_EQ(strlen(buf), 18u) << buf;
    EXPECT_EQ(std::string(buf + 16), "\r\n");
  }
  gNow = static_cast<time_t>(last);
  GetSendTimePJL(job_, buf);
  EXPECT_STREQ(buf, wide ? "59:23:31:12:9999\r\n" : "14:03:19:01:2038\r\n");
  gNow = 1796634300;
}

TEST_F(CommandTest, JobStartM) {
  PrntDocInfo doc = Job300();
  EXPECT_EQ(Prnt_StartDoc(job_, &doc, PLATFORM_M), 1);
  const std::string expected =
      H("1B 25 2D 31 32 33 34 35 58") + "JZJZ" +
      H("00 00 00 58 00 00 00 11 00 00 00 00 00 00 5A 5A") +
      H("0000 0051 0073 006E 0096 007A 0064 0096 00C8 0064 0051") +
      H("0064 0064 0064 0064 0064 0064 0064 0064 0064 0064 0064 0064 0064") +
      H("0078 0087 0096 00B4 00C8 0078 0096 00BE 015E 0190 0064 0064") +
      H("00 00 00 34 00 00 00 00 00 00 00 03 00 24 5A 5A") +
      H("00 00 00 0C 00 00 01 00 00 00 00 00 00 00 00 0C 00 01 01 00 00 00 00 00") +
      H("00 00 00 0C 00 02 01 00 00 00 00 01");
  EXPECT_EQ(Hex(Take()), Hex(expected));
}

TEST_F(CommandTest, PageStartCAndZ) {
  PrntPageInfo page = Page1();
  page_.coverage = 99;
  EXPECT_EQ(Prnt_StartPage(job_, page_, &page, PLATFORM_C), 1);
  EXPECT_EQ(page_.coverage, 0u);
  const std::string spec = H("0B 12 12 01 00 3C 3C 01 00 01 00 00 00 00 00 01 00 55");
  const std::string custom = H("0B 0C 13 00 00 00 00 00 00 00 00 D6");
  EXPECT_EQ(Hex(Take()), Hex(k00 + spec + k00 + custom + k00 + H("0B 04 32 BF") + k00));
  page_.coverage = 99;
  EXPECT_EQ(Prnt_StartPage(job_, page_, &page, PLATFORM_Z), 1);
  EXPECT_EQ(page_.coverage, 0u);
  EXPECT_EQ(Hex(Take()), Hex(k00 + spec + k00 + custom + k00));
}

// PLATFORM_M page start: header length and the (id, value) list.
std::vector<std::pair<int, uint32_t>> ParseParams(const std::string& bytes, uint32_t* length) {
  auto be32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]) << 24 |
                                 static_cast<uint8_t>(bytes[at + 1]) << 16 |
                                 static_cast<uint8_t>(bytes[at + 2]) << 8 |
                                 static_cast<uint8_t>(bytes[at + 3]));
  };
  *length = be32(0);
  std::vector<std::pair<int, uint32_t>> params;
  for (size_t at = 16; at + 12 <= bytes.size(); at += 12) {
    params.emplace_back(static_cast<uint8_t>(bytes[at + 4]) << 8 | static_cast<uint8_t>(bytes[at + 5]),
                        be32(at + 8));
  }
  return params;
}

TEST_F(CommandTest, PageStartM) {
  PrntPageInfo page = Page1();
  page.paperSize = 0;
  page.paperWidth = 5100;
  page.paperHeight = 6600;
  page.imageWidth = 4800;
  page.imageHeight = 6400;
  page.hResolution = page.vResolution = 600;
  page.dpi1200 = 1;
  page.pageDensity = 3;
  page_.coverage = 99;
  EXPECT_EQ(Prnt_StartPage(job_, page_, &page, PLATFORM_M), 1);
  EXPECT_EQ(page_.coverage, 99u);
  uint32_t length = 0;
  std::string bytes = Take();
  EXPECT_EQ(bytes.substr(4, 12), H("00 00 00 02 00 00 00 11 00 CC 5A 5A"));
  const std::vector<std::pair<int, uint32_t>> custom = {
      {3, 0},  {26, 0}, {24, 5100}, {25, 6600}, {4, 1},     {5, 1},     {6, 0},     {7, 1},  {8, 600},
      {9, 600}, {22, 0}, {12, 9600}, {13, 6400}, {16, 2}, {17, 4800}, {18, 6400}, {0xFF00, 3}};
  EXPECT_EQ(ParseParams(bytes, &length), custom);
  EXPECT_EQ(length, 220u);

  page.paperSize = 9;
  page.dpi1200 = 0;
  EXPECT_EQ(Prnt_StartPage(job_, page_, &page, PLATFORM_M), 1);
  auto standard = ParseParams(Take(), &length);
  EXPECT_EQ(length, 184u);
  ASSERT_EQ(standard.size(), 14u);
  EXPECT_EQ(standard[0], std::make_pair(3, 9u));
  EXPECT_EQ(standard[8], std::make_pair(12, 4800u));
  EXPECT_EQ(standard[10], std::make_pair(16, 1u));
}

TEST_F(CommandTest, PageAndJobEnd) {
  PrntPageEndInfo info;
  info.pageNumber = 1;
  info.resolution = 600;
  info.density = 2;
  info.paperWidthMm = 210;
  page_.checksum = 0x5A;
  page_.coverage = 2000000;
  EXPECT_EQ(Prnt_EndPage(job_, page_, &info, PLATFORM_C), 1);
  EXPECT_EQ(Hex(Take()), Hex(H("1B FF 2D 31 32 33 34 35 58 00 00 0B 06 1A 5A 00 7B 00 00") +
                             H("0B 06 1E D0 07 FA 00 00 0B 04 18 D9")));
  EXPECT_EQ(Prnt_EndPage(job_, page_, &info, PLATFORM_Z), 1);
  EXPECT_EQ(Hex(Take()), Hex(H("00 00 0B 04 18 D9")));
  EXPECT_EQ(Prnt_EndPage(job_, page_, &info, PLATFORM_M), 1);
  EXPECT_EQ(Hex(Take()), Hex(H("00 00 00 10 00 00 00 03 00 00 00 00 00 00 5A 5A")));

  PrntDocEndInfo end;
  end.pageCount = 2;
  EXPECT_EQ(Prnt_EndDoc(job_, &end, PLATFORM_C), 1);
  EXPECT_EQ(Hex(Take()), Hex(H("00 00 0B 05 31 80 3F 00 00 0B 04 17 DA") + kEOJ));
  EXPECT_EQ(Prnt_EndDoc(job_, &end, PLATFORM_Z), 1);
  EXPECT_EQ(Hex(Take()), Hex(H("0B 04 17 DA") + kEOJ));
  EXPECT_EQ(Prnt_EndDoc(job_, &end, PLATFORM_M), 1);
  EXPECT_EQ(Hex(Take()), Hex(H("00 00 00 10 00 00 00 01 00 00 00 00 00 00 5A 5A") +
                             H("1B 25 2D 31 32 33 34 35 58")));
}

// Machine duplex on PLATFORM_C: a turn after every odd page, and one more
// at the job end when the page count is odd.
TEST_F(CommandTest, MachineDuplexAfterOddPages) {
  const std::string turn = H("00 00 0B 04 40 B1");
  for (int pages : {2, 3}) {
    std::string ends;
    for (int p = 1; p <= pages; ++p) {
      PrntPageEndInfo info;
      info.pageNumber = p;
      info.duplex = 1;
      ASSERT_EQ(Prnt_EndPage(job_, page_, &info, PLATFORM_C), 1);
      std::string bytes = Take();
      const bool turned = bytes.size() >= 6 && bytes.substr(bytes.size() - 6) == turn;
      EXPECT_EQ(turned, p % 2 == 1) << "page " << p;
    }
    PrntDocEndInfo end;
    end.pageCount = pages;
    end.duplex = 1;
    ASSERT_EQ(Prnt_EndDoc(job_, &end, PLATFORM_C), 1);
    EXPECT_EQ(Take().compare(0, 6, turn) == 0, pages == 3) << pages << " pages";
  }
}

TEST_F(CommandTest, ManualDuplexGoesToTheDeviceOnly) {
  FILE* spool = tmpfile();
  job_.sink.collateFile.Reset(dup(fileno(spool)));
  EXPECT_EQ(SendManualDuplexCmd(job_, PLATFORM_C), 1);
  EXPECT_EQ(SendManualDuplexCmd(job_, PLATFORM_Z), 1);
  EXPECT_EQ(SendManualDuplexCmd(job_, PLATFORM_M), 1);
  EXPECT_EQ(SendManualDuplexCmd(job_, PLATFORM_NONE), 0);
  EXPECT_EQ(Hex(Take()), Hex(H("0B 04 30 C1 0B 04 1B D6 00 00 00 10 00 00 00 0B 00 00 00 00 00 00 5A 5A")));
  EXPECT_EQ(ftell(spool), 0);
  EXPECT_EQ(lseek(fileno(spool), 0, SEEK_END), 0);
  fclose(spool);
}

TEST_F(CommandTest, UnknownPlatformSendsNothing) {
  PrntDocInfo doc;
  PrntPageInfo page;
  PrntBandInfo band;
  PrntPageEndInfo pageEnd;
  PrntDocEndInfo docEnd;
  for (int platform : {0, 4, -1}) {
    EXPECT_EQ(Prnt_StartDoc(job_, &doc, platform), 0);
    EXPECT_EQ(Prnt_StartPage(job_, page_, &page, platform), 0);
    EXPECT_EQ(Prnt_SendPage(job_, page_, &band, platform), 0);
    EXPECT_EQ(Prnt_EndPage(job_, page_, &pageEnd, platform), 0);
    EXPECT_EQ(Prnt_EndDoc(job_, &docEnd, platform), 0);
  }
  EXPECT_EQ(Take(), "");
  EXPECT_STREQ(job_.lastError.c_str(), "");
}

// ---- Failure texts: the sink takes `budget` bytes, then every write fails.

struct FailCase {
  const char* step;
  size_t budget;
  std::function<bool()> call;
  std::string expected;
};

const std::string kFiller = "Insert00() :: Send 00 00 to file Fail0 ==  \n";

std::string Doc(const char* item) {
  return std::string("Prnt_StartDoc() :: send ") + item + " Fail 0 ==  \n";
}

bool StartDoc(CommandStream& job, int platform) {
  PrntDocInfo doc = Job300();
  return Prnt_StartDoc(job, &doc, platform);
}

bool EndPage(CommandStream& job, StreamPage& page, int platform, int duplex) {
  PrntPageEndInfo info;
  info.pageNumber = 1;
  info.duplex = duplex;
  return Prnt_EndPage(job, page, &info, platform);
}

bool EndDoc(CommandStream& job, int platform) {
  PrntDocEndInfo info;
  info.pageCount = 3;
  info.duplex = 1;
  return Prnt_EndDoc(job, &info, platform);
}

TEST_F(CommandTest, EveryStepNamesItsFailure) {
  auto startC = [this] { return StartDoc(job_, PLATFORM_C); };
  auto startZ = [this] { return StartDoc(job_, PLATFORM_Z); };
  auto startM = [this] { return StartDoc(job_, PLATFORM_M); };
  auto pageC = [this] { PrntPageInfo p = Page1(); return Prnt_StartPage(job_, page_, &p, PLATFORM_C); };
  const std::string turnFail = "SendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n";
  const std::vector<FailCase> cases = {
      {"C UEL", 0, startC, Doc("UEL_CMD_C")},
      {"C abort", 9, startC, Doc("abortCmd")},
      {"C empty job", 13, startC, Doc("endOfJobCmd")},
      {"C version", 49, startC, Doc("fw Version")},
      {"C header after failed filler", 65, startC, Doc("PJLheader") + kFiller},
      {"C enter language", 82, startC, Doc("pjlCmd")},
      {"C job spec", 108, startC, Doc("cmdJobSpec")},
      {"C toner save", 116, startC, Doc("cmdTonerSave")},
      {"C density", 123, startC, Doc("cmdDensity")},
      {"C date", 128, startC, Doc("cmdSysTime")},
      {"Z header", 0, startZ, Doc("PJLheader")},
      {"Z version", 15, startZ, Doc("pjlVersion")},
      {"Z time prefix", 41, startZ, Doc("pjlSendTime")},
      {"Z time", 54, startZ, Doc("pjlSendTime")},
      {"Z owner", 86, startZ, Doc("pjlHostName")},
      {"Z owner CR LF", 95, startZ, Doc("pjlHostName")},
      {"Z enter language", 97, startZ, Doc("pjlPosCmd")},
      {"Z fine mode", 123, startZ, Doc("cmdFineMode")},
      {"Z job spec", 130, startZ, Doc("cmdJobSpec")},
      {"Z density", 141, startZ, Doc("cmdDensity")},
      {"Z toner", 148, startZ, Doc("cmdTonerParamAlder")},
      {"M UEL", 0, startM, Doc("UEL_CMD")},
      {"M JZJZ", 9, startM, Doc("pjlJZJZ_Oak")},
      {"M toner", 13, startM, Doc("TONER_PARAM")},
      {"M start doc", 101, startM, Doc("START_DOC_CMD")},
      {"M third param", 141, startM, Doc("TOTAL_PAGE_PARAM")},
      {"C page spec", 0, pageC, "Prnt_StartPage() :: send cmdPageSpec Fail 0 ==  \n" + kFiller},
      {"C custom paper", 22, pageC, "Prnt_StartPage() :: send cmdCustomPaper Fail 0 ==  \n"},
      {"C host use", 36, pageC, "Prnt_StartPage() :: send hostUseCmd Fail 0 ==  \n"},
      {"C end page UEL", 0, [this] { return EndPage(job_, page_, PLATFORM_C, 0); },
       "Prnt_EndPage() :: send UEL_CMD_C Fail 0 ==  \n"},
      {"C image checksum", 11, [this] { return EndPage(job_, page_, PLATFORM_C, 0); },
       "Prnt_EndPage() :: send cmdImageDataChenksum Fail 0 ==  \n"},
      {"C coverage", 19, [this] { return EndPage(job_, page_, PLATFORM_C, 0); },
       "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"},
      {"C form feed", 27, [this] { return EndPage(job_, page_, PLATFORM_C, 0); },
       "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n"},
      {"C page turn", 33, [this] { return EndPage(job_, page_, PLATFORM_C, 1); },
       "Prnt_EndPage() :: MachineDuplexCmd Fail .\n" + turnFail},
      {"Z form feed", 0, [this] { return EndPage(job_, page_, PLATFORM_Z, 0); },
       "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n" + kFiller},
      {"M end page", 0, [this] { return EndPage(job_, page_, PLATFORM_M, 0); },
       "Prnt_EndPage() :: send END_PAGE_CMD Fail 0 ==  \n"},
      {"C job end turn", 2, [this] { return EndDoc(job_, PLATFORM_C); },
       "Prnt_EndDoc() :: MachineDuplexCmd Fail .\n" + turnFail},
      {"C query status", 8, [this] { return EndDoc(job_, PLATFORM_C); },
       "Prnt_EndDoc() :: send queryStatusCmd Fail 0 ==  \n"},
      {"C reset", 15, [this] { return EndDoc(job_, PLATFORM_C); },
       "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n"},
      {"C end of job", 19, [this] { return EndDoc(job_, PLATFORM_C); },
       "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n"},
      {"Z end of job", 4, [this] { return EndDoc(job_, PLATFORM_Z); },
       "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n"},
      {"M end doc", 0, [this] { return EndDoc(job_, PLATFORM_M); },
       "Prnt_EndDoc() :: send END_DOC_CMD Fail 0 ==  \n"},
      {"M end UEL", 16, [this] { return EndDoc(job_, PLATFORM_M); },
       "Prnt_EndDoc() :: send UEL_CMD_C Fail 0 ==  \n"},
      {"C manual duplex", 0, [this] { return SendManualDuplexCmd(job_, PLATFORM_C); },
       "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n"},
      {"M manual duplex", 0, [this] { return SendManualDuplexCmd(job_, PLATFORM_M); },
       "SendManualDuplexCmd() :: send MANUAL_DUPLEX_CMD Fail 0 ==  \n"},
  };
  job_.modelName = "Lumora Alder Series";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    job_.lastError.Set("");
    FailAfter(c.budget);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(std::string(job_.lastError.c_str()), c.expected);
    CloseFailing();
  }
}

TEST_F(CommandTest, EveryStartPageParameterNamesItsFailure) {
  const char* names[] = {"PAPER_SIZE_PARAM", "CUSTOM_PAPER_UNIT_PARAM", "CUSTOM_WIDTH_PARAM",
                         "CUSTOM_HEIGHT_PARAM", "COPIES_PARAM", "INPUT_TRAY_PARAM",
                         "MEDIA_TYPE_PARAM", "CHANNEL_NUM_PARAM", "H_RESOLUTION_PARAM",
                         "V_RESOLUTION_PARAM", "RET_PARAM", "IMG_WIDTH_PARAM", "IMG_HEIGHT_PARAM",
                         "VIDEO_DEPTH_PARAM", "VIDEO_WIDTH_PARAM", "VIDEO_HEIGHT_PARAM",
                         "DENSITY_PARAM"};
  PrntPageInfo page = Page1();
  page.paperSize = 0;
  for (size_t i = 0; i <= 17; ++i) {
    job_.lastError.Set("");
    FailAfter(i == 0 ? 0 : 16 + 12 * (i - 1));
    EXPECT_EQ(Prnt_StartPage(job_, page_, &page, PLATFORM_M), 0);
    const std::string item = i == 0 ? "START_PAGE_CMD" : names[i - 1];
    EXPECT_EQ(std::string(job_.lastError.c_str()), "Prnt_StartPage() :: send " + item + " Fail 0 ==  \n");
    CloseFailing();
  }
}

// A sink that is gone (full device, or no destination at all) fails the
// first step of every routine.
TEST_F(CommandTest, DeadSinkFailsEveryRoutine) {
  for (bool deviceOn : {true, false}) {
    FailAfter(0);
    job_.route.toDevice = deviceOn;
    page_.route.toDevice = deviceOn;
    for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
      PrntDocInfo doc;
      PrntPageInfo page;
      PrntPageEndInfo pageEnd;
      PrntDocEndInfo docEnd;
      EXPECT_EQ(Prnt_StartDoc(job_, &doc, platform), 0);
      EXPECT_EQ(Prnt_StartPage(job_, page_, &page, platform), 0);
      EXPECT_EQ(Prnt_EndPage(job_, page_, &pageEnd, platform), 0);
      EXPECT_EQ(Prnt_EndDoc(job_, &docEnd, platform), 0);
      EXPECT_EQ(SendManualDuplexCmd(job_, platform), 0);
    }
  }
  CloseFailing();
  EXPECT_EQ(Take(), "");
}

}  // namespace

}  // namespace lumora::test
