// SPDX-License-Identifier: GPL-2.0-or-later
// Paper tables, model list and job settings of the raster filter.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "cups_filter.h"
#include "job_settings.h"
#include "paper_tables.h"
#include "stream/records.h"
#include "test_support.h"

namespace lumora::test {

namespace {

struct QuietLog : lumora::LogOutput {
  void Line(const char*) override {}
} gQuiet;

// What a job learns of its printer from the PPD.
lumora::PrinterDescription Describe(ppd_file_t* ppd) {
  CupsBinding cups;
  return DescribePrinter(ppd, cups);
}

}  // namespace

namespace {

const PaperEntry* const kTables[] = {gPaperSizeArray_Hazel, gPaperSizeArray_HazelMFP,
                                     gPaperSizeArray_Cedar_Birch, gPaperSizeArray_Elm_Fir};

int Lookup(const PaperEntry* table, unsigned w, unsigned h, int* feed) {
  unsigned size[2] = {w, h};
  return GetPaperArrayIndex(size, table, feed);
}

}  // namespace

TEST(PaperTables, EveryTableHoldsTheSame23SizesWithA5First) {
  std::set<std::pair<int, int>> reference;
  for (const PaperEntry* t : kTables) {
    std::set<std::pair<int, int>> sizes;
    std::set<std::string> names;
    int n = 0;
    for (; t[n].pointWidth != -1; ++n) {
      sizes.insert({t[n].pointWidth, t[n].pointHeight});
      names.insert(t[n].paperName);
      EXPECT_EQ(t[n].pixelWidth % 8, 0) << t[n].paperName;  // whole bytes per row
      EXPECT_LT(t[n].pixelWidth, t[n].pointWidth * 600 / 72 + 1) << t[n].paperName;
    }
    EXPECT_EQ(n, 23);
    EXPECT_EQ(sizes.size(), 23u);
    EXPECT_EQ(names.size(), 23u);
    EXPECT_STREQ(t[0].paperName, "A5");
    if (reference.empty()) reference = sizes;
    EXPECT_EQ(sizes, reference);
  }
}

TEST(PaperTables, LookupIsExactAndKnowsA5LongEdge) {
  int feed = 0;
  EXPECT_EQ(Lookup(gPaperSizeArray_Hazel, 420, 595, &feed), 0);
  EXPECT_EQ(feed, 0);
  EXPECT_EQ(Lookup(gPaperSizeArray_Hazel, 421, 595, &feed), 0);
  EXPECT_EQ(feed, 1);

  feed = 0;
  int i = Lookup(gPaperSizeArray_Elm_Fir, 595, 842, &feed);
  ASSERT_GE(i, 0);
  EXPECT_EQ(gPaperSizeArray_Elm_Fir[i].paperCode, 9);
  EXPECT_EQ(gPaperSizeArray_Elm_Fir[i].pixelWidth, 4736);
  EXPECT_EQ(gPaperSizeArray_Elm_Fir[i].pixelHeight, 6784);
  i = Lookup(gPaperSizeArray_Hazel, 595, 842, &feed);
  ASSERT_GE(i, 0);
  EXPECT_EQ(gPaperSizeArray_Hazel[i].paperCode, 1);
  EXPECT_EQ(gPaperSizeArray_Hazel[i].pixelWidth, 4800);
  EXPECT_EQ(gPaperSizeArray_Hazel[i].pixelHeight, 6780);

  EXPECT_EQ(Lookup(gPaperSizeArray_Hazel, 596, 842, &feed), -1);  // no tolerance
  EXPECT_EQ(Lookup(gPaperSizeArray_Hazel, 842, 595, &feed), -1);  // only portrait sizes
  EXPECT_EQ(Lookup(nullptr, 595, 842, &feed), -1);
  EXPECT_EQ(feed, 0);
}

TEST(PaperTables, OversizedPagesTakeTheSizeOfTheirPageSizeName) {
  auto cut = [](unsigned w, unsigned h, const char* options) {
    cups_page_header2_t header {};
    header.PageSize[0] = w;
    header.PageSize[1] = h;
    cups_option_t* opts = nullptr;
    int n = cupsParseOptions(options, 0, &opts);
    isCutThePaper(&header, gPaperSizeArray_Hazel, n, opts);
    cupsFreeOptions(n, opts);
    return std::make_pair(header.PageSize[0], header.PageSize[1]);
  };
  EXPECT_EQ(cut(1224, 1584, "PageSize=Letter"), std::make_pair(612u, 792u));
  EXPECT_EQ(cut(1224, 1584, ""), std::make_pair(1224u, 1584u));
  EXPECT_EQ(cut(1224, 1584, "PageSize=Tabloid"), std::make_pair(1224u, 1584u));
  EXPECT_EQ(cut(1224, 1584, "PageSize=letter"), std::make_pair(1224u, 1584u));  // case matters
  EXPECT_EQ(cut(700, 1000, "PageSize=Letter"), std::make_pair(700u, 1000u));
}

TEST(ModelList, GroupsAndPlatformsComeFromTheModelData) {
  int perGroup[5] = {};
  std::set<std::string> names;
  for (int i = 0; i < kRasterModelCount; ++i) {
    ++perGroup[kRasterModels[i].group];
    names.insert(kRasterModels[i].name);
  }
  EXPECT_EQ(names.size(), 54u);
  EXPECT_EQ(perGroup[1], 2);
  EXPECT_EQ(perGroup[2], 2);
  EXPECT_EQ(perGroup[3], 19);
  EXPECT_EQ(perGroup[4], 31);

  int platform = -1;
  EXPECT_EQ(GetPaperSizeArray("Lumora Hazel M1 Series", &platform), gPaperSizeArray_HazelMFP);
  EXPECT_EQ(platform, PLATFORM_C);
  EXPECT_EQ(GetPaperSizeArray("Lumora Cedar C200 Series", &platform), gPaperSizeArray_Cedar_Birch);
  EXPECT_EQ(platform, PLATFORM_Z);
  EXPECT_EQ(GetPaperSizeArray("Lumora Fir F340 Series", &platform), gPaperSizeArray_Elm_Fir);
  EXPECT_EQ(platform, PLATFORM_M);
  EXPECT_EQ(GetPaperSizeArray("Lumora cedar C200 Series", &platform), nullptr);
  EXPECT_EQ(platform, PLATFORM_NONE);
  EXPECT_EQ(GetPaperSizeArray("Lumora Cedar C200  Series", &platform), nullptr);
}

namespace {

struct OptionCase {
  const char* options;
  unsigned headerDuplex, headerTumble;
  FunctionIndex key;
  int32_t before, expected;
};

}  // namespace

TEST(JobOptions, ValuesFromOptionsAndHeader) {
  const OptionCase cases[] = {
      {"", 1, 0, kFnDuplex, 0, 1},
      {"", 1, 1, kFnDuplex, 0, 2},
      {"Duplex=None", 1, 0, kFnDuplex, 0, 0},          // the option overrides the header
      {"Duplex=two-sided-short-edge", 0, 0, kFnDuplex, 0, 2},
      {"Duplex=duplexnotumble", 0, 0, kFnDuplex, 0, 1},
      {"Duplex=Bogus", 1, 1, kFnDuplex, 0, 0},
      {"InputSlot=ManualFeed", 0, 0, kFnInputSlot, 0, 1},
      {"InputSlot=autofeed", 0, 0, kFnInputSlot, 0, 2},
      {"InputSlot=Tray9", 0, 0, kFnInputSlot, 2, 0},
      {"Density=3", 0, 0, kFnDensity, 2, 3},
      {"FineMode=yes", 0, 0, kFnFineMode, 0, 0},       // only "true" sets it
      {"FineMode=TRUE", 0, 0, kFnFineMode, 0, 1},
      {"FineMode=false", 0, 0, kFnFineMode, 1, 1},     // and nothing clears it
      {"TonerMode", 0, 0, kFnTonerMode, 0, 1},          // a bare keyword is true
      {"collate=true", 0, 0, kFnCollate, 0, 1},         // keys ignore case
  };
  for (const OptionCase& c : cases) {
    FunctionTable table = DefaultFunctionTable();
    table[c.key].value = c.before;
    cups_page_header2_t header {};
    header.Duplex = c.headerDuplex ? CUPS_TRUE : CUPS_FALSE;
    header.Tumble = c.headerTumble ? CUPS_TRUE : CUPS_FALSE;
    cups_option_t* opts = nullptr;
    int n = cupsParseOptions(c.options, 0, &opts);
    GetFunctionValue(table, n, opts, &header, gQuiet);
    cupsFreeOptions(n, opts);
    EXPECT_EQ(table[c.key].value, c.expected) << c.options;
  }
}

TEST(JobOptions, PpdDefaultsAreAddedOnlyForOptionsTheJobDidNotName) {
  TempDir dir;
  const std::string path = dir.File("z.ppd");
  WriteFile(path, RasterPpd("Lumora Cedar C200 Series",
                            "*OpenUI *InputSlot: PickOne\n*DefaultInputSlot: ManualFeed\n"
                            "*InputSlot Auto: \"\"\n*InputSlot ManualFeed: \"\"\n*CloseUI: *InputSlot\n"
                            "*OpenUI *TonerMode: Boolean\n*DefaultTonerMode: True\n"
                            "*TonerMode True: \"\"\n*TonerMode False: \"\"\n*CloseUI: *TonerMode\n"
                            "*OpenUI *NegativePrint: Boolean\n*DefaultNegativePrint: False\n"
                            "*NegativePrint True: \"\"\n*NegativePrint False: \"\"\n*CloseUI: *NegativePrint\n"
                            "*OpenUI *Density: PickOne\n*DefaultDensity: 4\n"
                            "*Density 2: \"\"\n*Density 4: \"\"\n*CloseUI: *Density\n"));
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  ASSERT_NE(ppd, nullptr);

  std::string work;
  checkOptionKey(work, "", Describe(ppd), gQuiet);
  EXPECT_EQ(work, " InputSlot=ManualFeed TonerMode=True NegativePrint=False Density=4");

  // What the job names keeps its own choice: "noTonerMode", and any case.
  work.clear();
  checkOptionKey(work, "noTonerMode inputslot=Auto negativeprint=true", Describe(ppd), gQuiet);
  EXPECT_EQ(work, " Density=4");
  ppdClose(ppd);

  // Every default density, and the options read on every family.
  WriteFile(path, RasterPpd("Lumora Elm E300 Series",
                            "*OpenUI *Density: PickOne\n*DefaultDensity: 3\n"
                            "*Density 3: \"\"\n*CloseUI: *Density\n"
                            "*OpenUI *DPI1200: Boolean\n*DefaultDPI1200: True\n"
                            "*DPI1200 True: \"\"\n*CloseUI: *DPI1200\n"
                            "*OpenUI *Collate: Boolean\n*DefaultCollate: True\n"
                            "*Collate True: \"\"\n*CloseUI: *Collate\n"
                            "*OpenUI *FineMode: Boolean\n*DefaultFineMode: True\n"
                            "*FineMode True: \"\"\n*CloseUI: *FineMode\n"
                            "*OpenUI *outputorder: PickOne\n*Defaultoutputorder: True\n"
                            "*outputorder True: \"\"\n*CloseUI: *outputorder\n"));
  ppd = ppdOpenFile(path.c_str());
  ASSERT_NE(ppd, nullptr);
  work.clear();
  checkOptionKey(work, "FineMode=False", Describe(ppd), gQuiet);
  EXPECT_EQ(work, " Density=3 DPI1200=True Collate=True outputorder=True");
  ppdClose(ppd);
}

TEST(JobSettingsGathering, ManualDuplexPromotionAndPlatformAttribute) {
  TempDir dir;
  const std::string path = dir.File("z.ppd");
  WriteFile(path, RasterPpd("Lumora Cedar C200 Series",
                            "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n"
                            "*cupsIPPReason MDuplex/Turn the stack over.: \"\"\n"));
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  ASSERT_NE(ppd, nullptr);
  JobSettings s;
  cups_page_header2_t header {};
  header.Duplex = CUPS_TRUE;
  header.Tumble = CUPS_TRUE;
  GatherJobSettings(s, Describe(ppd), "", &header, gQuiet);
  EXPECT_EQ(s.platform, PLATFORM_Z);
  EXPECT_EQ(s.supportManualDuplex, 1);
  EXPECT_EQ(s[kFnManualDuplex], 1);
  EXPECT_EQ(s[kFnDuplex], 0);
  EXPECT_EQ(s.manualDuplexType, 1);
  EXPECT_EQ(s.manualDuplexPrompt, "Turn the stack over.");
  ppdClose(ppd);

  // A model name that is not exactly in the list falls back to the attribute.
  WriteFile(path, RasterPpd("Lumora elm E100 Series", "*cupsIPPReason PlatForm/platform_m: \"\"\n"));
  ppd = ppdOpenFile(path.c_str());
  ASSERT_NE(ppd, nullptr);
  JobSettings m;
  GatherJobSettings(m, Describe(ppd), "DPI1200=True", &header, gQuiet);
  EXPECT_EQ(m.platform, PLATFORM_M);
  EXPECT_EQ(m.paperTable, gPaperSizeArray_Elm_Fir);
  EXPECT_EQ(m[kFnDuplex], 2);  // no manual-duplex promotion off PLATFORM_Z
  EXPECT_EQ(m.dpi1200M, 1);
  ppdClose(ppd);
}

}  // namespace lumora::test
