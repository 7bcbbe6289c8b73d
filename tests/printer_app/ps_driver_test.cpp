// SPDX-License-Identifier: GPL-2.0-or-later
// The PostScript drivers of the printer application: every driver against
// its model's PPD and the pre-filter's own model tables, matching device
// ids, the options text and PPD defaults a job's filters get, the
// conversion chains, and the driver data PAPPL is given.
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app_driver.h"
#include "ps_convert.h"
#include "ps_driver.h"
#include "ps_drivers.h"
#include "ps_filter.h"
#include "ps_print.h"
#include "support_check.h"

namespace lumora::test::app {

using namespace lumora::app;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

PsJobRequest Req(const char* media, const char* sides, const char* handling,
                 const char* orientation, const char* ranges, const char* feedEdge) {
  PsJobRequest r;
  r.media = media;
  r.sides = sides;
  r.handling = handling;
  r.orientation = orientation;
  r.pageRanges = ranges;
  r.feedEdge = feedEdge;
  r.uuid = "urn:uuid:1";
  r.created = 10;
  r.processed = 11;
  return r;
}

class NullLog : public lumora::LogOutput {
 public:
  void Line(const char*) override {}
};

// Each driver carries its model's PPD file byte for byte, offers the PPD's
// papers and custom range, and is of the family the pre-filter's own
// tables give its device id.
TEST(PsDrivers, EveryDriverIsItsPpd) {
  ASSERT_EQ(kPsDriverCount, 63);
  std::set<std::string> names;
  for (int i = 0; i < kPsDriverCount; i++) {
    const PsDriver& d = kPsDrivers[i];
    SCOPED_TRACE(d.name);
    names.insert(d.name);
    const std::string path = std::string(LUMORA_PPD_BUILD_DIR) + "/" + d.ppdFileName;
    EXPECT_EQ(ReadFile(path), d.ppd);
    ppd_file_t* ppd = ppdOpenFile(path.c_str());
    ASSERT_NE(ppd, nullptr);
    EXPECT_STREQ(ppd->modelname, d.modelName);
    EXPECT_STREQ(ppdFindAttr(ppd, "1284DeviceID", nullptr)->value, d.deviceId);
    // The PPD's papers, then its custom size.
    ASSERT_EQ(ppd->num_sizes, kPsPaperCount + 1);
    EXPECT_STREQ(ppd->sizes[kPsPaperCount].name, "Custom");
    for (int s = 0; s < kPsPaperCount; s++) {
      EXPECT_STREQ(ppd->sizes[s].name, d.papers[s].ppdName);
      EXPECT_EQ(ppd->sizes[s].width, d.papers[s].width);
      EXPECT_EQ(ppd->sizes[s].length, d.papers[s].height);
    }
    EXPECT_EQ(std::string(d.customMin), "custom_min_74.44x147.47mm");
    EXPECT_EQ(ppd->custom_max[0], 612);
    ppdClose(ppd);
    NullLog log;
    lumora::PsPrinterDescription none;
    bool maple = false;
    EXPECT_TRUE(isSupportPrinter(none, log, d.deviceId, true, &maple));
    EXPECT_EQ(maple, d.family == PsFamily::kMaple);
    EXPECT_EQ(isLarchPrinter(none, log, d.deviceId, true), d.family == PsFamily::kLarch);
    EXPECT_EQ(FindPsDriver(d.name), &d);
  }
  EXPECT_EQ(names.size(), 63u);
}

// USB auto-add and `autoadd`: the driver of the device id's maker and
// model, raster or PostScript; none for another maker or no model.
TEST(PsDrivers, AutoAddChoosesTheDriverOfTheDeviceId) {
  const struct {
    const char* id;
    const char* driver;
  } cases[] = {
      {"MFG:Lumora;CMD:PJL,PS;MDL:MP2100 series;CLS:PRINTER;DES:Lumora MP2100;", "lumora_mp2100"},
      {"MANUFACTURER:lumora;MODEL:LP5100 SERIES;CLS:PRINTER;", "lumora_lp5100"},
      {"MFG:Lumora;MDL:OP4220 series;", "lumora_op4220"},
      {"MFG:Lumora;CMD:PJL,LUMORA;MDL:Cedar C300 Series;CLS:PRINTER;", "lumora_cedar_c300"},
      {"MFG:Other;MDL:MP2100 series;", nullptr},
      {"MFG:Lumora;MDL:MP2100;", nullptr},
      {"MFG:Lumora;", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const char* got = AutoAddCallback("", "usb://Lumora/X?serial=1", c.id, nullptr);
    EXPECT_STREQ(got ? got : "(none)", c.driver ? c.driver : "(none)");
  }
}

// The options text is the scheduler's for the same request: the job's
// attributes and the queue's defaults by name, the job facts, then the PPD
// options of its sides and paper.
TEST(PsDrivers, OptionTextIsTheSchedulers) {
  const PsDriver& maple = *FindPsDriver("lumora_mp2100");
  const std::string facts =
      " job-uuid=urn:uuid:1 date-time-at-creation= date-time-at-processing= "
      "time-at-creation=10 time-at-processing=11";
  const struct {
    PsJobRequest request;
    std::string expected;
  } cases[] = {
      {Req("", "", "", "", "", ""), "finishings=3 number-up=1 print-color-mode=monochrome" + facts},
      {Req("iso_a5_148x210mm", "two-sided-long-edge", "separate-documents-collated-copies", "",
           "", "LongEdge"),
       "FeedEdge=LongEdge finishings=3 media=iso_a5_148x210mm "
       "multiple-document-handling=separate-documents-collated-copies number-up=1 "
       "print-color-mode=monochrome sides=two-sided-long-edge" +
           facts + " Duplex=DuplexNoTumble PageSize=A5"},
      {Req("custom_100x200mm_100x200mm", "one-sided", "", "4", "1-2", ""),
       "finishings=3 media=custom_100x200mm_100x200mm number-up=1 orientation-requested=4 "
       "page-ranges=1-2 print-color-mode=monochrome sides=one-sided" +
           facts + " Duplex=None PageSize=Custom.283x566"},
      {Req("", "two-sided-short-edge", "", "", "", "ShortEdge"),
       "FeedEdge=ShortEdge finishings=3 number-up=1 print-color-mode=monochrome "
       "sides=two-sided-short-edge" + facts + " Duplex=DuplexTumble"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PsJobOptionString(maple, c.request), c.expected);
  }
}

// The printer's defaults go into its PPD as lpadmin -o puts a queue's, and
// the pre-filter reads them from there.
TEST(PsDrivers, PrinterDefaultsInThePpd) {
  const PsDriver& larch = *FindPsDriver("lumora_lp5100");
  const std::string text = PpdWithDefaults(larch.ppd, {"Letter", "DuplexNoTumble", "LongEdge"});
  EXPECT_EQ(PpdWithDefaults(larch.ppd, {}), larch.ppd);
  for (const char* line : {"*DefaultPageSize: Letter\n", "*DefaultPageRegion: Letter\n",
                           "*DefaultImageableArea: Letter\n", "*DefaultPaperDimension: Letter\n",
                           "*DefaultDuplex: DuplexNoTumble\n", "*DefaultFeedEdge: LongEdge\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  fputs(text.c_str(), f);
  rewind(f);
  ppd_file_t* ppd = ppdOpen(f);
  fclose(f);
  ASSERT_NE(ppd, nullptr);
  lumora::PsPrinterDescription p = DescribePsPrinter(ppd);
  ppdClose(ppd);
  EXPECT_EQ(p.defaults["PageSize"], "Letter");
  EXPECT_EQ(p.defaults["Duplex"], "DuplexNoTumble");
  EXPECT_EQ(p.defaults["FeedEdge"], "LongEdge");
}

// The chains of a CUPS queue of each family, for every format the printers
// announce.
TEST(PsDrivers, ConversionChains) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ConversionChain(PsFamily::kMaple, "application/pdf"), (V{"pdftopdf", "pdftops"}));
  EXPECT_EQ(ConversionChain(PsFamily::kPlain, "application/postscript"), (V{"pstops"}));
  EXPECT_EQ(ConversionChain(PsFamily::kLarch, "application/pdf"), (V{"pdftopdf"}));
  EXPECT_EQ(ConversionChain(PsFamily::kLarch, "application/postscript"),
            (V{"gstopdf", "pdftopdf"}));
  EXPECT_EQ(ConversionChain(PsFamily::kMaple, "image/urf"),
            (V{"rastertopdf", "pdftopdf", "pdftops"}));
  EXPECT_EQ(ConversionChain(PsFamily::kLarch, "image/png"), (V{"imagetopdf"}));
  EXPECT_TRUE(ConversionChain(PsFamily::kMaple, "text/plain").empty());
  for (int i = 0; i < kPsDocumentFormatCount; i++)
    for (PsFamily f : {PsFamily::kMaple, PsFamily::kLarch, PsFamily::kPlain})
      EXPECT_FALSE(ConversionChain(f, kPsDocumentFormats[i]).empty()) << kPsDocumentFormats[i];
}

// What PAPPL is told of a PostScript printer.
TEST(PsDrivers, DriverData) {
  pappl_pr_driver_data_t data{};
  ipp_t* attrs = nullptr;
  EXPECT_FALSE(PsDriverCallback("lumora_nope", &data, &attrs));
  ASSERT_TRUE(PsDriverCallback("lumora_mp2100", &data, &attrs));
  EXPECT_STREQ(data.make_and_model, "Lumora MP2100 Series PS");
  EXPECT_STREQ(data.format, kPsDriverFormat);
  EXPECT_EQ(data.num_media, kPsPaperCount + 2);
  EXPECT_STREQ(data.media[kPsPaperCount], "custom_min_74.44x147.47mm");
  EXPECT_STREQ(data.media_default.size_name, "iso_a4_210x297mm");
  EXPECT_EQ(data.sides_supported, PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE |
                                      PAPPL_SIDES_TWO_SIDED_SHORT_EDGE);
  EXPECT_EQ(data.left_right, 424);
  ASSERT_EQ(data.num_vendor, 1);
  EXPECT_STREQ(data.vendor[0], kA5LongEdgeFeed);
  EXPECT_NE(ippFindAttribute(attrs, "a5-long-edge-feed-supported", IPP_TAG_BOOLEAN), nullptr);
  ippDelete(attrs);
}

}  // namespace

}  // namespace lumora::test::app
