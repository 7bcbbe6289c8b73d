// SPDX-License-Identifier: GPL-2.0-or-later
// Support tables and checks, URL decoding, option removal and size checks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "media_size.h"
#include "pdf_road.h"
#include "prefilter_test_util.h"
#include "support_check.h"
#include "url_decode.h"

namespace lumora::test {

using namespace prefilter;

namespace {

const char* const kMapleId = "MFG:Lumora;CMD:PJL,PS;MDL:MP2100 series;CLS:PRINTER;DES:Lumora MP2100;";
const char* const kLarchId = "MFG:Lumora;CMD:PJL,PS;MDL:LP5410 series;CLS:PRINTER;";
const char* const kPlainId = "MFG:Lumora;MDL:OP4220 series;CLS:PRINTER;";

TEST(ModelTables, FollowModelsTsv) {
  std::ifstream tsv(ModelsTsvPath());
  std::string line;
  size_t ps = 0, maple = 0, larch = 0;
  while (std::getline(tsv, line)) {
    std::istringstream cols(line);
    std::string kind, name, family;
    cols >> kind >> name >> family;
    if (kind != "ps") continue;
    EXPECT_EQ(std::string("MDL:") + name + " series;", SupportDeviceID[ps][1]);
    EXPECT_STREQ("MFG:Lumora;", SupportDeviceID[ps][0]);
    EXPECT_STREQ("CLS:PRINTER;", SupportDeviceID[ps][2]);
    EXPECT_EQ("Lumora " + name + " Series PS", support_printerinfo[ps]);
    if (family == "maple") {
      EXPECT_EQ(name, maple_printerinfo[maple++]);
    }
    if (family == "larch") {
      EXPECT_EQ("Lumora " + name + " Series PS", Larch_printerinfo[larch]);
      EXPECT_EQ(std::string("MDL:") + name + " series;", Larch_1284info[larch++][1]);
    }
    ++ps;
  }
  EXPECT_EQ(63u, ps);
  EXPECT_EQ(ps, kSupportDeviceIDRows);
  EXPECT_EQ(ps, kSupportPrinterInfoRows);
  EXPECT_EQ(19u, kMaplePrinterInfoRows);
  EXPECT_EQ(maple, kMaplePrinterInfoRows);
  EXPECT_EQ(8u, kLarch1284InfoRows);
  EXPECT_EQ(larch, kLarch1284InfoRows);
  EXPECT_EQ(nullptr, Larch_printerinfo[8]);
}

struct SupportCase {
  const char* name;
  const char* deviceId;  // nullptr: the query failed
  const char* nickname;
  bool supported, maple, larch;
};

class SupportChecks : public ::testing::TestWithParam<SupportCase> {};

TEST_P(SupportChecks, DeviceIdFirstThenNickname) {
  const SupportCase& c = GetParam();
  TempDir dir;
  const lumora::PsPrinterDescription printer = DescribePpd(MakePpd(dir, c.nickname));
  const char* id = c.deviceId ? c.deviceId : "";
  bool maple = false;
  StringLog log;
  EXPECT_EQ(c.supported, isSupportPrinter(printer, log, id, c.deviceId != nullptr, &maple));
  EXPECT_EQ(c.maple, maple);
  EXPECT_EQ(c.larch, isLarchPrinter(printer, log, id, c.deviceId != nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Families, SupportChecks,
    ::testing::Values(
        SupportCase{"maple_id", kMapleId, "Other", true, true, false},
        SupportCase{"larch_id", kLarchId, "Other", true, false, true},
        SupportCase{"plain_id", kPlainId, "Other", true, false, false},
        SupportCase{"no_class", "MFG:Lumora;MDL:MP2100 series;", "Lumora MP2100 Series PS", false, false, false},
        SupportCase{"id_case", "mfg:lumora;MDL:MP2100 series;CLS:PRINTER;", "Other", false, false, false},
        SupportCase{"maple_code_anywhere", "MFG:Lumora;MDL:OP3100 series;CLS:PRINTER;DES:mp2450", "Other",
                    true, true, false},
        SupportCase{"larch_nick_ignored_with_id", kPlainId, "Lumora LP5100 Series PS", true, false, false},
        SupportCase{"maple_nick", nullptr, "lumora mp2700 series ps", true, true, false},
        SupportCase{"larch_nick", nullptr, "LUMORA LP5100 SERIES PS", true, false, true},
        SupportCase{"plain_nick", nullptr, "Lumora OP3100 Series PS", true, false, false},
        SupportCase{"nick_must_be_whole", nullptr, "Lumora OP3100 Series PS2", false, false, false},
        SupportCase{"unknown", nullptr, "Other Printer", false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UrlDecode, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a%20b", "a b"},           {"%2F%2f", "//"},     {"plain+text", "plain+text"},
      {"%zz", "\xef"},            {"q%2", "q%2"},       {"q%", "q%"},
      {"ipp://h/printers/Lumora%5FMP", "ipp://h/printers/Lumora_MP"},
  };
  for (const auto& c : cases) {
    std::vector<char> buf(c.in.begin(), c.in.end());
    buf.push_back('\0');
    urldecode(buf.data());
    EXPECT_EQ(c.out, std::string(buf.data())) << c.in;
  }
  EXPECT_EQ(-1, hex2dec('g'));
  EXPECT_EQ(15, hex2dec('F'));
  // Far longer than the 1024-byte work buffer of old.
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "%41";
  urldecode(&big[0]);
  EXPECT_EQ(std::string(3000, 'A'), std::string(big.c_str()));
}

TEST(RemoveStr, OptionsTakenOutInOrder) {
  const struct {
    const char *in, *name, *out;
  } cases[] = {
      {"a=1 noCollate b=2", "noCollate", "a=1 b=2"},
      {"Collate=True number-up=2 x", "Collate", "number-up=2 x"},
      {"number-up-layout=lrtb number-up=2 z", "number-up", "number-up=2 z"},
      {"x page-set=odd", "page-set", "x page-set=odd"},  // last option, no blank after it
      {"x=1", "y", "x=1"},
  };
  StringLog log;
  for (const auto& c : cases) {
    std::vector<char> buf(c.in, c.in + strlen(c.in) + 1);
    removestr(log, buf.data(), c.name, ' ');
    EXPECT_STREQ(c.out, buf.data()) << c.in;
  }
}

class SizeChecks : public ::testing::Test {
 protected:
  // A queue without a default size: the job's options, then the job file.
  void SetUp() override { ppd_ = MakePpd(dir_, "Lumora MP2100 Series PS", "", "LongEdge", ""); }
  std::string Job(const std::string& text) {
    std::string path = dir_ / "job.ps";
    WriteFile(path, text);
    return path;
  }
  // The size checks of a job on this queue.
  int CustomOk(const char* options, const std::string& path) {
    StepJob job(ppd_, options);
    return isSupportCustomPageSize(*job, options, path.c_str());
  }
  bool A5(const char* options, const std::string& path) {
    StepJob job(ppd_, options);
    return isA5PageSize(*job, options, path.c_str());
  }
  TempDir dir_;
  std::string ppd_;
  StderrCapture quiet_;
};

TEST_F(SizeChecks, PageSizeFromPpd) {
  int w = 0, h = 0;
  StepJob a4(ppd_, "PageSize=A4 media=Letter");
  EXPECT_EQ(1, checkmediasize(*a4, 0, &w, &h));
  EXPECT_EQ(595, w);  // 595.3 in the PPD, truncated
  EXPECT_EQ(842, h);
  StepJob none(ppd_, "media=Tabloid");
  w = h = 0;
  EXPECT_EQ(0, checkmediasize(*none, 0, &w, &h));
  EXPECT_EQ(0, w + h);
}

TEST_F(SizeChecks, CustomRangeFromMediaBox) {
  const struct {
    const char* line;
    int ok;
  } cases[] = {
      {"<</Type/Page/MediaBox [0 0 612 792]\n", 1},    {"<</Type/Page/MediaBox [0 0 200 792]\n", 0},
      {"<</Type/Page/MediaBox [0 0 612 1010.5]\n", 0}, {"<</Type/Page/MediaBox [0 0 211 418]\n", 1},
      {"<</Type/Page/MediaBox [0 0 613 1010]\n", 1},   {"<</Type/Page/MediaBox [0 0 612]\n", 0},
      {"<</Type/Page/MediaBox [-5 0 300 500]\n", 1},  // 300 - -5
      {"<</Type/Page/MediaBox [0 0 -300 500]\n", 0},  // a negative width
      {"<</Type/Page/MediaBox [0 0 612.4 1010.2]\n", 0},
      {"-300 500 pdfSetupPaper\n", 0},
      {"612 792 pdfSetupPaper\n", 1},                  {"612 1200 pdfSetupPaper\n", 0},
      {"/pdfSetupPaper { pop } def\n", 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.ok, CustomOk("PageSize=Custom.1x1", Job(std::string("%!PS\n") + c.line)))
        << c.line;
  // Not custom: the job file is not even looked at.
  std::string wide = Job("<</Type/Page/MediaBox [0 0 200 792]\n");
  EXPECT_EQ(1, CustomOk("PageSize=Letter media=Custom.1x1", wide));
  EXPECT_EQ(0, CustomOk("media=Custom.200x792", wide));
}

TEST_F(SizeChecks, CustomRangeOnRealJobs) {
  std::string ok = Job(MakePs(dir_, 2, 612, 792));
  EXPECT_EQ(1, CustomOk("PageSize=Custom.612x792", ok));
  std::string narrow = Job(MakePs(dir_, 2, 200, 792));
  EXPECT_EQ(0, CustomOk("PageSize=Custom.200x792", narrow));
}

TEST_F(SizeChecks, PathIsNeverSeenByAShell) {
  mkdir((dir_ / "x").c_str(), 0700);
  std::string path = dir_ / "x/a b;touch pwned1;$(touch pwned2)'\"`touch pwned3`";
  WriteFile(path, "<</Type/Page/MediaBox [0 0 200 792]\n");
  EXPECT_EQ(0, CustomOk("PageSize=Custom", path));
  EXPECT_EQ(2u, ListDir(dir_.path()).size());  // queue.ppd and x
  EXPECT_EQ(1u, ListDir(dir_ / "x").size());
}

TEST_F(SizeChecks, A5LongEdge) {
  const struct {
    const char* options;
    const char* line;
    bool a5;
  } cases[] = {
      {"", "<</Type/Page/MediaBox [0 0 420 595]\n", true},
      {"", "<</Type/Page/MediaBox [0 0 421 596]\n", true},
      {"", "<</Type/Page/MediaBox [0 0 419.53 595.28]\n", true},  // as PDF producers write A5
      {"", "<</Type/Page/MediaBox [0 0 419.53 700]\n", false},
      {"", "<</Type/Page/MediaBox [0 0 -420 595]\n", false},
      {"", "<</Type/Page/MediaBox [0 0 422.5 595]\n", false},
      {"", "419.53 595.28 pdfSetupPaper\n", true},
      {"", "419.53 -595.28 pdfSetupPaper\n", false},
      {"", "<</Type/Page/MediaBox [0 0 595 842]\n", false},
      {"", "420 595 pdfSetupPaper\n", true},
      {"", "/pdfSetupPaper {\n420 595 pdfSetupPaper\n", true},
      {"FeedEdge=ShortEdge", "<</Type/Page/MediaBox [0 0 420 595]\n", false},
      {"PageSize=A5", "", true},
      {"PageSize=A4", "<</Type/Page/MediaBox [0 0 420 595]\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.a5, A5(c.options, Job(c.line))) << c.line;
  EXPECT_FALSE(A5("", dir_ / "missing"));
  // The PPD's default feed edge decides without the option.
  ppd_ = MakePpd(dir_, "Lumora MP2100 Series PS", "", "ShortEdge", "");
  EXPECT_FALSE(A5("PageSize=A5", ""));
  EXPECT_TRUE(A5("PageSize=A5 FeedEdge=LongEdge", ""));
}

}  // namespace

}  // namespace lumora::test
