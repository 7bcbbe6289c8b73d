// SPDX-License-Identifier: GPL-2.0-or-later
// The generated PPD files against the filters that read them: every raster
// PPD must select the right platform and paper table in rastertoLumora, offer
// exactly the printer's paper sizes with the image the printer expects, and
// leave every job setting at the filter's defaults; every PostScript PPD must
// be accepted by pstoLumora's support checks.
#include <gtest/gtest.h>

#include <cups/ppd.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cups_filter.h"
#include "job_settings.h"
#include "paper_tables.h"
#ifdef LUMORA_HAVE_PREFILTER
#include "ps_filter.h"
#include "support_check.h"

namespace lumora::test {

#endif

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* p) const { ppdClose(p); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

std::string PpdPath(const std::string& displayName) {
  std::string file = displayName;
  for (char& c : file)
    if (c == ' ') c = '-';
  return std::string(LUMORA_PPD_BUILD_DIR) + "/" + file + ".ppd";
}

PpdPtr Open(const std::string& path) {
  PpdPtr ppd(ppdOpenFile(path.c_str()));
  EXPECT_NE(ppd, nullptr) << path;
  return ppd;
}

std::string Reason(ppd_file_t* ppd, const char* keyword) {
  char buf[1024] = {};
  if (ppdLocalizeIPPReason(ppd, keyword, nullptr, buf, sizeof(buf)) == nullptr) return "<none>";
  return buf;
}

int PlatformOfText(const std::string& text) {
  if (text == "PLATFORM_C") return 1;
  if (text == "PLATFORM_Z") return 2;
  if (text == "PLATFORM_M") return 3;
  return 0;
}

const char* Attr(ppd_file_t* ppd, const char* name) {
  ppd_attr_t* a = ppdFindAttr(ppd, name, nullptr);
  return a ? a->value : "";
}

class RasterPpd : public ::testing::TestWithParam<int> {};

TEST_P(RasterPpd, MatchesWhatTheRasterFilterReads) {
  const RasterModelRow& model = kRasterModels[GetParam()];
  SCOPED_TRACE(model.name);
  PpdPtr ppd = Open(PpdPath(model.name));
  ASSERT_NE(ppd, nullptr);
  ASSERT_STREQ(ppd->modelname, model.name);

  // The model name and the PlatForm text select the same family.
  int platform = 0;
  const PaperEntry* table = GetPaperSizeArray(ppd->modelname, &platform);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(PlatformOfText(Reason(ppd.get(), "PlatForm")), platform);
  const bool manual = std::string(model.duplex) == "manual";
  EXPECT_EQ(Reason(ppd.get(), "SupportManualDuplex"), manual ? "TRUE" : "FALSE");
  if (manual) {
    EXPECT_GT(Reason(ppd.get(), "MDuplex").size(), 20u);
  }
  EXPECT_EQ(ppdFindOption(ppd.get(), "Duplex") != nullptr, std::string(model.duplex) != "none");
  EXPECT_EQ(ppdFindOption(ppd.get(), "DPI1200") != nullptr, model.dpi1200 != 0);
  EXPECT_NE(std::string(Attr(ppd.get(), "cupsFilter2")).find(" rastertoLumora"), std::string::npos);
  EXPECT_EQ(std::string(Attr(ppd.get(), "1284DeviceID")).rfind("MFG:Lumora;", 0), 0u);

  // Exactly the paper table's sizes; each imageable area is the printer's image.
  std::map<std::string, const PaperEntry*> entries;
  for (const PaperEntry* e = table; e->pointWidth != -1; ++e) entries[e->paperName] = e;
  int sizes = 0;
  for (int i = 0; i < ppd->num_sizes; ++i) {
    const ppd_size_t& size = ppd->sizes[i];
    if (std::string(size.name) == "Custom") continue;
    ++sizes;
    SCOPED_TRACE(size.name);
    auto it = entries.find(size.name);
    ASSERT_NE(it, entries.end());
    const PaperEntry& e = *it->second;
    EXPECT_EQ(size.width, e.pointWidth);
    EXPECT_EQ(size.length, e.pointHeight);
    EXPECT_NEAR((size.right - size.left) * 600.0 / 72.0, e.pixelWidth, 0.1);
    EXPECT_NEAR((size.top - size.bottom) * 600.0 / 72.0, e.pixelHeight, 0.1);
    EXPECT_GE(size.left, 0);
    EXPECT_GE(size.bottom, 0);
    EXPECT_LE(size.top, size.length);
  }
  EXPECT_EQ(sizes, 23);
  EXPECT_EQ(static_cast<size_t>(sizes), entries.size());
  EXPECT_TRUE(ppd->variable_sizes);

  // With no job option at all the PPD's defaults leave every job setting at
  // the filter's template: a normal one-sided page.
  cups_page_header2_t header = {};
  header.HWResolution[0] = header.HWResolution[1] = 600;
  header.NumCopies = 1;
  JobSettings settings;
  struct : lumora::LogOutput {
    void Line(const char*) override {}
  } quiet;
  CupsBinding cups;
  GatherJobSettings(settings, DescribePrinter(ppd.get(), cups), "", &header, quiet);
  const FunctionTable defaults = DefaultFunctionTable();
  for (int i = 0; i < kFnCount; ++i)
    EXPECT_EQ(settings.fn[i].value, defaults[i].value) << defaults[i].key;
}

INSTANTIATE_TEST_SUITE_P(AllModels, RasterPpd, ::testing::Range(0, kRasterModelCount));

// A job in another language runs the filter with that LANG: CUPS then reads
// the PPD's translations, so the machine texts the filter reads must stay
// as they are while the prompt and the option names are translated.  (The
// CUPS library keeps its language per thread: each language gets its own.)
TEST(RasterPpdLanguages, MachineTextsStayAndShownTextsAreTranslated) {
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  const struct {
    const char* lang;
    const char* tonerSave;
  } kLanguages[] = {{"zh_CN.UTF-8", "\u7701\u58a8\u6a21\u5f0f"},
                    {"zh_TW.UTF-8", "\u7701\u78b3\u7c89\u6a21\u5f0f"}};
  for (const auto& language : kLanguages) {
    setenv("LANG", language.lang, 1);
    std::thread([&language] {
      for (int i = 0; i < kRasterModelCount; ++i) {
        const RasterModelRow& model = kRasterModels[i];
        SCOPED_TRACE(std::string(model.name) + " in " + language.lang);
        PpdPtr ppd = Open(PpdPath(model.name));
        ASSERT_NE(ppd, nullptr);
        for (const char* keyword : {"PlatForm", "SupportManualDuplex"}) {
          EXPECT_EQ(Reason(ppd.get(), keyword), ppdFindAttr(ppd.get(), "cupsIPPReason", keyword)->text);
        }
        if (std::string(model.duplex) == "manual") {
          const std::string prompt = Reason(ppd.get(), "MDuplex");
          EXPECT_NE(prompt, ppdFindAttr(ppd.get(), "cupsIPPReason", "MDuplex")->text);
          EXPECT_GT(prompt.size(), 20u);
        }
        ppdLocalize(ppd.get());
        EXPECT_STREQ(ppdFindOption(ppd.get(), "TonerMode")->text, language.tonerSave);
      }
    }).join();
  }
  unsetenv("LANG");
}

#ifdef LUMORA_HAVE_PREFILTER
TEST(PostScriptPpd, EveryModelPassesThePreFilterChecksByNicknameAndDeviceId) {
  for (size_t i = 0; i < kSupportPrinterInfoRows; ++i) {
    const std::string nick = support_printerinfo[i];
    SCOPED_TRACE(nick);
    const std::string path = PpdPath(nick);
    PpdPtr ppd = Open(path);
    ASSERT_NE(ppd, nullptr);
    EXPECT_EQ(Attr(ppd.get(), "ShortNickName"), nick);
    EXPECT_NE(std::string(ppd->jcl_begin ? ppd->jcl_begin : "").find("@PJL JOB NAME"), std::string::npos);
    EXPECT_NE(std::string(ppd->jcl_ps ? ppd->jcl_ps : "").find("@PJL ENTER LANGUAGE"), std::string::npos);
    for (const char* option : {"PageSize", "Duplex", "Collate", "FeedEdge"})
      EXPECT_NE(ppdFindOption(ppd.get(), option), nullptr) << option;

    const lumora::PsPrinterDescription printer = DescribePsPrinter(ppd.get());
    lumora::StderrLog log;
    bool mapleByName = false, mapleById = false;
    EXPECT_TRUE(isSupportPrinter(printer, log, "", false, &mapleByName));
    const std::string id = Attr(ppd.get(), "1284DeviceID");
    EXPECT_TRUE(isSupportPrinter(printer, log, id.c_str(), true, &mapleById)) << id;
    EXPECT_EQ(mapleByName, mapleById);
    const bool larch = isLarchPrinter(printer, log, "", false);
    EXPECT_EQ(isLarchPrinter(printer, log, id.c_str(), true), larch);

    // Larch queues send PDF to the pre-filter, the others PostScript.
    int pdfFilters = 0;
    for (ppd_attr_t* a = ppdFindAttr(ppd.get(), "cupsFilter2", nullptr); a;
         a = ppdFindNextAttr(ppd.get(), "cupsFilter2", nullptr)) {
      EXPECT_NE(std::string(a->value).find(" pstoLumora"), std::string::npos);
      if (std::string(a->value).rfind("application/vnd.cups-pdf ", 0) == 0) ++pdfFilters;
    }
    EXPECT_EQ(pdfFilters, larch ? 1 : 0);
  }
}
#endif

}  // namespace

}  // namespace lumora::test
