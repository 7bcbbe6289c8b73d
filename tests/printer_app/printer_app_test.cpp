// SPDX-License-Identifier: GPL-2.0-or-later
// The printer application's tables and mappings: every driver against the
// PPD the filter reads for the same model, device ids, the option string of
// a job's choices, the page checks, and the private spool directory.
#include <cups/ppd.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app_auth.h"
#include "app_driver.h"
#include "app_file_device.h"
#include "app_drivers.h"
#include "app_requests.h"
#include "app_state.h"
#include "image_filter.h"
#include "job_queue.h"
#include "app_strings.h"
#include "app_system.h"
#include "pdf_filter.h"
#include "raster_adapter.h"
#include "rendered_pages.h"
#include "test_support.h"

namespace lumora::test::app {

using namespace lumora::app;

namespace {

std::string PpdPath(const AppDriver& d) {
  std::string file = d.modelName;
  std::replace(file.begin(), file.end(), ' ', '-');
  return std::string(LUMORA_PPD_BUILD_DIR) + "/" + file + ".ppd";
}

std::optional<std::string> Reason(ppd_file_t* ppd, const char* keyword) {
  char text[1024];
  if (!ppdLocalizeIPPReason(ppd, keyword, nullptr, text, sizeof(text))) return std::nullopt;
  return std::string(text);
}

std::optional<std::string> Default(ppd_file_t* ppd, const char* keyword) {
  ppd_option_t* o = ppdFindOption(ppd, keyword);
  if (!o) return std::nullopt;
  return std::string(o->defchoice);
}

// Every driver describes its printer as the model's PPD does to the filter.
TEST(AppDrivers, EveryDriverIsItsPpd) {
  ASSERT_EQ(kAppDriverCount, 54);
  for (int i = 0; i < kAppDriverCount; i++) {
    const AppDriver& d = kAppDrivers[i];
    SCOPED_TRACE(d.name);
    ppd_file_t* ppd = ppdOpenFile(PpdPath(d).c_str());
    ASSERT_NE(ppd, nullptr);
    lumora::PrinterDescription p = DescribePrinter(d);
    EXPECT_EQ(p.modelName, ppd->modelname);
    EXPECT_EQ(p.platform, Reason(ppd, "PlatForm"));
    EXPECT_EQ(p.supportManualDuplex, Reason(ppd, "SupportManualDuplex"));
    EXPECT_EQ(p.manualDuplexPrompt, Reason(ppd, "MDuplex"));
    for (int m = 0; m < 4; m++) EXPECT_EQ(p.customMargins[m], ppd->custom_margins[m]);
    ppdMarkDefaults(ppd);
    ppd_choice_t* slot = ppdFindMarkedChoice(ppd, "InputSlot");
    EXPECT_EQ(p.defaultInputSlot, "InputSlot=" + std::string(slot->choice));
    EXPECT_EQ(p.defaultFeedLongEdge, Default(ppd, "FeedLongEdge"));
    EXPECT_EQ(p.defaultTonerMode, Default(ppd, "TonerMode"));
    EXPECT_EQ(p.defaultImageRotation, Default(ppd, "ImageRotation"));
    EXPECT_EQ(p.defaultNegativePrint, Default(ppd, "NegativePrint"));
    EXPECT_EQ(p.defaultDensity, Default(ppd, "Density"));
    EXPECT_EQ(d.duplex != kOneSided, ppdFindOption(ppd, "Duplex") != nullptr);
    EXPECT_EQ(d.dpi1200, ppdFindOption(ppd, "DPI1200") != nullptr);
    EXPECT_EQ(ResolutionCount(d), ppdFindOption(ppd, "Resolution")->num_choices);
    ASSERT_EQ(ppd->num_sizes, kPaperCount + 1);  // and the custom size
    for (const AppPaper& paper : d.papers) {
      ppd_size_t* size = ppdPageSize(ppd, paper.ppdName);
      ASSERT_NE(size, nullptr) << paper.ppdName;
      EXPECT_EQ(paper.width, size->width);
      EXPECT_EQ(paper.height, size->length);
      EXPECT_NEAR(paper.margins[0], size->left, 0.01);
      EXPECT_NEAR(paper.margins[1], size->bottom, 0.01);
      EXPECT_NEAR(paper.margins[2], size->width - size->right, 0.01);
      EXPECT_NEAR(paper.margins[3], size->length - size->top, 0.01);
      // The PWG name states the same size, as PAPPL reads it.
      pwg_media_t* pwg = pwgMediaForPWG(paper.pwgName);
      ASSERT_NE(pwg, nullptr) << paper.pwgName;
      EXPECT_EQ(std::lround(pwg->width * 72.0 / 2540.0), paper.width) << paper.pwgName;
      EXPECT_EQ(std::lround(pwg->length * 72.0 / 2540.0), paper.height) << paper.pwgName;
    }
    ppdClose(ppd);
  }
}

TEST(AppDrivers, NamesAndDeviceIds) {
  struct Case {
    const char* deviceId;
    const char* driver;  // nullptr: no match
    const char* autoAdd = nullptr;  // auto-add's pick where it is not `driver`
  } cases[] = {
      {"MFG:Lumora;CMD:PJL,LUMORA;MDL:Hazel H1 Series;CLS:PRINTER;", "lumora_hazel_h1"},
      {"MANUFACTURER:lumora;MODEL:cedar c300 series;", "lumora_cedar_c300"},
      {"MFG:Lumora;MDL:Willow Plus Series;", "lumora_willow_plus"},
      {"  MFG:Lumora; MDL:Elm E200 Series; ", "lumora_elm_e200"},
      {"MFG:Lumora;MDL:MP2100 series;CLS:PRINTER;", nullptr, "lumora_mp2100"},  // PostScript
      {"MFG:Other;MDL:Hazel H1 Series;", nullptr},
      {"MFG:Lumora;", nullptr},
      {"", nullptr},
      {";;;:::;", nullptr},
  };
  for (const Case& c : cases) {
    const AppDriver* d = MatchAppDriver(c.deviceId);
    EXPECT_STREQ(d ? d->name : nullptr, c.driver) << c.deviceId;
    EXPECT_STREQ(AutoAddCallback(nullptr, nullptr, c.deviceId, nullptr),
                 c.autoAdd ? c.autoAdd : c.driver);
    if (c.driver) {
      EXPECT_EQ(FindAppDriver(c.driver), d);
    }
  }
  EXPECT_EQ(FindAppDriver("lumora_hazel_h9"), nullptr);
}

pappl_pr_options_t Options(pappl_sides_t sides, int darkness, const char* source,
                           std::vector<cups_option_t>& vendor, int copies = 1) {
  pappl_pr_options_t o{};
  o.sides = sides;
  o.darkness_configured = 50;
  o.print_darkness = darkness;
  papplCopyString(o.media.source, source, sizeof(o.media.source));
  o.num_vendor = static_cast<int>(vendor.size());
  o.vendor = vendor.data();
  o.copies = copies;
  return o;
}

TEST(AppJobOptions, OptionStringOfTheJobsChoices) {
  std::vector<cups_option_t> none;
  std::vector<cups_option_t> all = {
      {const_cast<char*>("toner-save"), const_cast<char*>("true")},
      {const_cast<char*>("fine-mode"), const_cast<char*>("true")},
      {const_cast<char*>("negative-print"), const_cast<char*>("true")},
      {const_cast<char*>("rotate-180"), const_cast<char*>("true")},
      {const_cast<char*>("a5-long-edge-feed"), const_cast<char*>("true")}};
  std::vector<cups_option_t> off = {{const_cast<char*>("toner-save"), const_cast<char*>("false")}};
  const AppDriver& hazel = *FindAppDriver("lumora_hazel_h1");
  const AppDriver& elm100 = *FindAppDriver("lumora_elm_e100");
  const AppDriver& cedar200 = *FindAppDriver("lumora_cedar_c200");
  struct Case {
    const AppDriver& driver;
    pappl_pr_options_t options;
    bool dpi1200;
    const char* expected;
  } cases[] = {
      {hazel, Options(PAPPL_SIDES_ONE_SIDED, 0, "auto", none), false,
       "Duplex=None Density=2 InputSlot=Auto"},
      {hazel, Options(PAPPL_SIDES_TWO_SIDED_LONG_EDGE, 25, "manual", all, 3), true,
       "Duplex=DuplexNoTumble Density=3 InputSlot=ManualFeed TonerMode=True FineMode=True "
       "NegativePrint=True ImageRotation=True FeedLongEdge=True DPI1200=True Collate=True"},
      {hazel, Options(PAPPL_SIDES_TWO_SIDED_SHORT_EDGE, 100, "tray-1", off), false,
       "Duplex=DuplexTumble Density=4 InputSlot=AutoFeed"},
      // One-sided models get no Duplex key; 1200 dpi only where it exists.
      {elm100, Options(PAPPL_SIDES_TWO_SIDED_LONG_EDGE, -100, "auto", none), true,
       "Density=0 InputSlot=Auto"},
      {cedar200, Options(PAPPL_SIDES_TWO_SIDED_LONG_EDGE, -25, "bogus", none), false,
       "Duplex=DuplexNoTumble Density=1 InputSlot=Auto"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JobOptionString(c.driver, c.options, c.dpi1200), c.expected);
  }
  // print-darkness around printer-darkness-configured, clamped to 0..100.
  const int levels[][3] = {{50, 0, 2}, {50, 12, 2}, {50, 13, 3}, {50, 25, 3}, {0, 0, 0}, {100, 0, 4},
                           {50, 100, 4}, {50, -100, 0}, {80, 100, 4}, {20, -30, 0}};
  for (const auto& l : levels) EXPECT_EQ(DensityLevel(l[0], l[1]), l[2]) << l[0] << " " << l[1];
}

cups_page_header2_t Page(unsigned bits, unsigned space, unsigned dpi, unsigned w, unsigned h,
                         unsigned pw = 595, unsigned ph = 842) {
  cups_page_header2_t p{};
  p.cupsBitsPerColor = p.cupsBitsPerPixel = bits;
  p.cupsColorSpace = static_cast<cups_cspace_t>(space);
  p.HWResolution[0] = p.HWResolution[1] = dpi;
  p.PageSize[0] = pw;
  p.PageSize[1] = ph;
  p.cupsWidth = w;
  p.cupsHeight = h;
  p.cupsBytesPerLine = (w * bits + 7) / 8;
  return p;
}

TEST(AppPages, OnlyWhatWasAnnouncedIsPrinted) {
  const AppDriver& hazel = *FindAppDriver("lumora_hazel_h1");
  const AppDriver& cedar300 = *FindAppDriver("lumora_cedar_c300");
  const AppDriver& cedar200 = *FindAppDriver("lumora_cedar_c200");
  struct Case {
    const AppDriver& driver;
    cups_page_header2_t header;
    const char* refusal;  // "" = printed
  } cases[] = {
      {hazel, Page(8, CUPS_CSPACE_SW, 600, 4958, 7017), ""},
      {hazel, Page(8, CUPS_CSPACE_W, 1200, 9917, 14033), ""},
      {cedar300, Page(8, CUPS_CSPACE_SW, 1200, 9917, 14033), ""},  // halved to 600
      {cedar200, Page(8, CUPS_CSPACE_SW, 1200, 9917, 14033), "resolution 1200x1200"},
      {hazel, Page(1, CUPS_CSPACE_K, 600, 4958, 7017), "1-bit raster"},
      {hazel, Page(8, CUPS_CSPACE_K, 600, 4958, 7017), "colour space 3"},
      {hazel, Page(8, CUPS_CSPACE_SW, 300, 2479, 3508), "resolution 300x300"},
      {hazel, Page(8, CUPS_CSPACE_SW, 600, 4958, 100000), "does not fit"},
      {hazel, Page(8, CUPS_CSPACE_SW, 600, 100000, 7017), "does not fit"},
      {hazel, Page(8, CUPS_CSPACE_SW, 600, 0, 0, 0, 0), "page size 0x0"},
      {hazel, Page(8, CUPS_CSPACE_SW, 600, 4958, 7017, 595, 5000), "page size 595x5000"},
      {hazel, Page(8, CUPS_CSPACE_SW, 600, 8400, 8400, 1008, 1008), ""},
  };
  for (const Case& c : cases) {
    std::string why = CheckPageHeader(c.driver, c.header);
    if (!*c.refusal) EXPECT_EQ(why, "");
    else EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
  }
  cups_page_header2_t odd = Page(8, CUPS_CSPACE_SW, 1200, 5, 3);
  odd.HWResolution[1] = 600;
  EXPECT_NE(CheckPageHeader(hazel, odd), "");
}

TEST(AppPages, HalfScaleAveragesTwoByTwo) {
  cups_page_header2_t full = Page(8, CUPS_CSPACE_SW, 1200, 3, 3);
  cups_page_header2_t half = HalfScale::Header(full);
  EXPECT_EQ(half.cupsWidth, 2u);
  EXPECT_EQ(half.cupsHeight, 2u);
  EXPECT_EQ(half.cupsBytesPerLine, 2u);
  EXPECT_EQ(half.HWResolution[0], 600u);
  HalfScale scale(full);
  const uint8_t rows[3][3] = {{0, 100, 200}, {40, 60, 255}, {8, 8, 9}};
  EXPECT_EQ(scale.Add(rows[0]), nullptr);
  const uint8_t* line = scale.Add(rows[1]);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line[0], 50);   // (0 + 100 + 40 + 60) / 4
  EXPECT_EQ(line[1], 228);  // the last column counted twice: (200 + 200 + 255 + 255) / 4
  EXPECT_EQ(scale.Add(rows[2]), nullptr);
  line = scale.Finish();
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line[0], 8);
  EXPECT_EQ(scale.Finish(), nullptr);
}

TEST(AppSystem, SpoolDirectoryIsPrivate) {
  TempDir tmp;
  std::string spool = tmp.File("a/b/spool");
  EXPECT_EQ(MakePrivateDirectory(spool), "");
  struct stat st;
  ASSERT_EQ(stat(spool.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  chmod(spool.c_str(), 0755);
  EXPECT_EQ(MakePrivateDirectory(spool), "");  // tightened again
  ASSERT_EQ(stat(spool.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_NE(MakePrivateDirectory("/tmp"), "");  // shared: never taken over
  ASSERT_EQ(stat("/tmp", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
  EXPECT_NE(MakePrivateDirectory("relative/spool"), "");
  WriteFile(tmp.File("file"), "x");
  EXPECT_NE(MakePrivateDirectory(tmp.File("file")), "");
  EXPECT_EQ(DefaultSpoolDirectory(0), "/var/spool/lumora-printer-app");
  EXPECT_EQ(DefaultStateFile(0), "/var/lib/lumora-printer-app/lumora-printer-app.state");
}

TEST(AppAuth, AdministratorsNeedAPassword) {
  AuthSettings settings{"lumora-printer-app", "root"};
  EXPECT_EQ(CheckCredentials(settings, "", ""), Identity::kRefused);
  EXPECT_EQ(CheckCredentials(settings, "root", "not the password"), Identity::kRefused);
}

// What each request needs, and the answer for each identity: anonymous,
// refused credentials, an ordinary user, an administrator.
TEST(AppAuth, RequestsAndTheirAnswers) {
  constexpr http_status_t ok = HTTP_STATUS_CONTINUE, who = HTTP_STATUS_UNAUTHORIZED,
                          no = HTTP_STATUS_FORBIDDEN;
  struct Case {
    const char* name;
    RequestFacts facts;
    bool submitterNamed;
    http_status_t anonymous, user, admin;
  } cases[] = {
      {"print", {false, false, IPP_OP_PRINT_JOB, false, false}, false, ok, ok, ok},
      {"look at a job of another", {false, false, IPP_OP_GET_JOB_ATTRIBUTES, true, false}, false, ok, ok, ok},
      {"raw stream", {false, false, IPP_OP_PRINT_JOB, false, true}, false, who, no, ok},
      {"raw stream by Create-Job", {false, false, IPP_OP_CREATE_JOB, false, true}, false, who, no, ok},
      {"raw document", {false, false, IPP_OP_SEND_DOCUMENT, false, true}, true, who, no, ok},
      {"document of its own job", {false, false, IPP_OP_SEND_DOCUMENT, true, false}, true, ok, no, ok},
      {"document of another's job", {false, false, IPP_OP_SEND_DOCUMENT, true, false}, false, who, no, ok},
      {"cancel its anonymous job", {false, false, IPP_OP_CANCEL_JOB, true, false}, true, ok, no, ok},
      {"cancel another's job", {false, false, IPP_OP_CANCEL_JOB, true, false}, false, who, no, ok},
      {"release another's job", {false, false, IPP_OP_RELEASE_JOB, true, false}, false, who, no, ok},
      {"hold another's job", {false, false, IPP_OP_HOLD_JOB, true, false}, false, who, no, ok},
      {"pause", {false, false, IPP_OP_PAUSE_PRINTER, true, false}, false, who, no, ok},
      {"add a printer", {false, false, IPP_OP_CREATE_PRINTER, true, false}, false, who, no, ok},
      {"disable (print group asked)", {false, false, IPP_OP_DISABLE_PRINTER, false, false}, false, who, no, ok},
      {"enable (print group asked)", {false, false, IPP_OP_ENABLE_PRINTER, false, false}, false, who, no, ok},
      {"cancel the current job", {false, false, IPP_OP_CANCEL_CURRENT_JOB, false, false}, false, who, no, ok},
      {"web form or logs", {true, true, IPP_OP_CUPS_NONE, true, false}, false, who, no, ok},
      {"web page with forms", {true, false, IPP_OP_CUPS_NONE, true, false}, false, ok, ok, ok},
  };
  for (const Case& c : cases) {
    Need need = RequiredRight(c.facts);
    EXPECT_EQ(Decide(need, Identity::kAnonymous, c.submitterNamed), c.anonymous) << c.name;
    EXPECT_EQ(Decide(need, Identity::kRefused, c.submitterNamed), who) << c.name;
    EXPECT_EQ(Decide(need, Identity::kUser, c.submitterNamed), c.user) << c.name;
    EXPECT_EQ(Decide(need, Identity::kAdministrator, c.submitterNamed), c.admin) << c.name;
  }
}

TEST(AppFileDevice, OnlyUnderTheAllowedDirectory) {
  const std::string dir = "/srv/lumora";
  const struct {
    const char* uri;
    const char* allowedUnder;  // the directory, or "" for none
    bool allowed;
  } cases[] = {
      {"socket://192.0.2.10:9100", "", true},
      {"usb://Lumora/Elm%20E200?serial=1", "", true},
      {"file:///dev/usb/lp0", "", true},
      {"file:///dev/lp1", "", true},
      {"file:///dev/lpx", dir.c_str(), false},
      {"file:///dev/mem", dir.c_str(), false},
      {"file:///srv/lumora/office.prn", "", false},
      {"file:///srv/lumora/office.prn", dir.c_str(), true},
      {"file:///srv/lumora/office.prn?ext=pcl", dir.c_str(), true},
      {"file:///srv/lumora/", dir.c_str(), true},
      {"file:///srv/lumora/sub/office.prn", dir.c_str(), true},
      {"file:///srv/lumora2/office.prn", dir.c_str(), false},
      {"file:///srv/lumora/../shadow", dir.c_str(), false},
      {"file:///srv/lumora/./office.prn", dir.c_str(), false},
      {"file:///srv//lumora/office.prn", dir.c_str(), false},
      {"file:///etc/passwd", dir.c_str(), false},
      {"file:relative.prn", dir.c_str(), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeviceRefusal(c.uri, c.allowedUnder).empty(), c.allowed) << c.uri;
  }
}

TEST(AppFileDevice, OpensOnlyPlainFilesOfItsOwn) {
  TempDir tmp;
  std::string out = tmp.File("out");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  EXPECT_EQ(CheckFileDirectory(out), "");
  std::string why;
  int fd = OpenFileDevice(out + "/office.prn", "job", "prn", &why);  // created
  ASSERT_GE(fd, 0) << why;
  close(fd);
  fd = OpenFileDevice(out, "Report 1/2", "pcl", &why);  // one file per job
  ASSERT_GE(fd, 0) << why;
  close(fd);
  EXPECT_EQ(access((out + "/Report 1_2.pcl").c_str(), F_OK), 0);
  WriteFile(tmp.File("secret"), "root's own");
  ASSERT_EQ(symlink(tmp.File("secret").c_str(), (out + "/link.prn").c_str()), 0);
  ASSERT_EQ(link(tmp.File("secret").c_str(), (out + "/hard.prn").c_str()), 0);
  ASSERT_EQ(mkfifo((out + "/fifo.prn").c_str(), 0600), 0);
  ASSERT_EQ(symlink(out.c_str(), tmp.File("via").c_str()), 0);
  for (const std::string& bad : {out + "/link.prn", out + "/hard.prn", out + "/fifo.prn",
                                 tmp.File("via") + "/office.prn"}) {
    EXPECT_LT(OpenFileDevice(bad, "job", "prn", &why), 0) << bad;
    EXPECT_NE(why, "") << bad;
  }
  EXPECT_EQ(lumora::test::ReadFile(tmp.File("secret")), "root's own");
  ASSERT_EQ(chmod(out.c_str(), 0777), 0);  // writable by others: refused
  EXPECT_LT(OpenFileDevice(out + "/office.prn", "job", "prn", &why), 0);
  EXPECT_NE(CheckFileDirectory(out), "");
  EXPECT_NE(CheckFileDirectory(tmp.File("via")), "");
}

// Every name a driver offers (vendor options and their values, papers,
// sources) has a text of its own in every language the application serves,
// in the web pages' catalogs and in the files IPP clients fetch.
TEST(AppStrings, EveryOfferedNameIsNamedInEveryLanguage) {
  TempDir tmp;
  pappl_system_t* system = papplSystemCreate(PAPPL_SOPTIONS_NONE, "l10n", 0, nullptr,
                                             tmp.File("").c_str(), nullptr,
                                             PAPPL_LOGLEVEL_FATAL, nullptr, false);
  ASSERT_NE(system, nullptr);
  AddAppStrings(system);
  std::vector<std::string> keys = {kFooterHtml,
                                   "Turn the printed stack over and put it back in the tray to "
                                   "print the back sides"};
  for (int i = 0; i < kAppDriverCount; i++) {
    pappl_pr_driver_data_t data{};
    ipp_t* attrs = nullptr;
    ASSERT_TRUE(DriverCallback(system, kAppDrivers[i].name, "", "", &data, &attrs, nullptr));
    ippDelete(attrs);
    for (int v = 0; v < data.num_vendor; v++) {
      for (const char* suffix : {"", ".true", ".false"}) {
        keys.push_back(data.vendor[v] + std::string(suffix));
      }
    }
    for (int m = 0; m < data.num_media; m++) {
      if (strncmp(data.media[m], "custom_", 7) != 0) keys.push_back(std::string("media.") + data.media[m]);
    }
    for (int m = 0; m < data.num_source; m++) keys.push_back(std::string("media-source.") + data.source[m]);
  }
  ASSERT_GT(kAppStringsCount, 2);
  for (int f = 0; f < kAppStringsCount; f++) {
    const AppStringsFile& file = kAppStrings[f];
    SCOPED_TRACE(file.language);
    pappl_loc_t* loc = papplSystemFindLoc(system, file.language);
    ASSERT_NE(loc, nullptr);
    const std::string data = file.data;
    for (const std::string& key : keys) {
      EXPECT_NE(data.find("\"" + key + "\" = \""), std::string::npos) << key;
      if (std::string(file.language) != "en") {
        EXPECT_STRNE(papplLocGetString(loc, key.c_str()), key.c_str()) << key;
      }
    }
  }
  papplSystemDelete(system);
}

TEST(AppPdf, GhostscriptRendersTheJobsPaperAndResolution) {
  pappl_pr_options_t o{};
  papplCopyString(o.media.size_name, "iso_a5_148x210mm", sizeof(o.media.size_name));
  o.media.size_width = 14800;
  o.media.size_length = 21000;
  o.first_page = 2;
  o.last_page = 3;
  auto has = [](const std::vector<std::string>& args, const std::string& a) {
    return std::find(args.begin(), args.end(), a) != args.end();
  };
  auto hazel = GhostscriptArgs("gs", *FindAppDriver("lumora_hazel_h1"), o, 1200, "in.pdf");
  EXPECT_TRUE(has(hazel, "-r1200"));
  EXPECT_TRUE(has(hazel, "-dDEVICEWIDTHPOINTS=420"));
  EXPECT_TRUE(has(hazel, "-dDEVICEHEIGHTPOINTS=595"));
  EXPECT_TRUE(has(hazel, "-dFirstPage=2"));
  EXPECT_TRUE(has(hazel, "-dLastPage=3"));
  EXPECT_EQ(hazel.back(), "in.pdf");
  // Cedar's 1200-dpi output comes from a 600-dpi raster.
  auto cedar = GhostscriptArgs("gs", *FindAppDriver("lumora_cedar_c300"), o, 1200, "in.pdf");
  EXPECT_TRUE(has(cedar, "-r600"));
  // A size of no paper of the PPD: from the media size.
  papplCopyString(o.media.size_name, "custom_100x200mm", sizeof(o.media.size_name));
  o.media.size_width = 10000;
  o.media.size_length = 20000;
  auto custom = GhostscriptArgs("gs", *FindAppDriver("lumora_elm_e200"), o, 600, "in.pdf");
  EXPECT_TRUE(has(custom, "-dDEVICEWIDTHPOINTS=283"));
  EXPECT_TRUE(has(custom, "-dDEVICEHEIGHTPOINTS=567"));
  EXPECT_TRUE(has(custom, "-r600"));
}

// Two renderers split a whole document between them (odd and even pages);
// a page range stays on one.
TEST(AppPdf, TwoRenderersTakeTheOddAndEvenPages) {
  const std::vector<std::string> args = {"gs", "-r600", "-sOutputFile=%stdout", "-f", "in.pdf"};
  const auto two = RendererArgs(args, 2);
  ASSERT_EQ(2u, two.size());
  EXPECT_EQ((std::vector<std::string>{"gs", "-r600", "-sOutputFile=%stdout", "-sPageList=odd", "-f",
                                      "in.pdf"}),
            two[0]);
  EXPECT_EQ("-sPageList=even", two[1][3]);
  EXPECT_EQ(1u, RendererArgs(args, 1).size());
  std::vector<std::string> range = args;
  range.insert(range.begin() + 1, "-dFirstPage=2");
  EXPECT_EQ((std::vector<std::vector<std::string>>{range}), RendererArgs(range, 2));
}

// The pages of one renderer and of two read back alike, in order, for
// documents of one, two and five pages, rendered as a job renders them (on
// a paper of an inch): every renderer read to its end and ended well. (With
// two, the second renderer of a one-page document has no page.) A renderer
// that says what is not a page, or rows it does not have, fails; one that
// says nothing is left once the job is cancelled.
TEST(AppPdf, PagesOfTwoRenderersReadAsOne) {
  TempDir dir;
  auto read = [](RenderedPages& pages, int* count) {
    std::string all;
    cups_page_header2_t h;
    for (*count = 0; pages.ReadHeader2(&h); ++*count) {
      all.append(reinterpret_cast<const char*>(&h.cupsHeight), sizeof h.cupsHeight);
      for (unsigned y = 0; y < h.cupsHeight; y++) {
        const uint8_t* row = pages.NextRow();
        if (!row) return all + "short";
        all.append(row, row + h.cupsBytesPerLine);
      }
    }
    return all;
  };
  pappl_pr_options_t inch{};
  papplCopyString(inch.media.size_name, "custom_1x1in", sizeof(inch.media.size_name));
  inch.media.size_width = inch.media.size_length = 2540;
  const std::string pdf = dir.File("in.pdf");
  const AppDriver& elm = *FindAppDriver("lumora_elm_e200");
  const RenderedPaper paper = PaperOf(elm, inch, 600);
  const cups_page_header2_t header = GrayPageHeader(paper.dpi, paper.width, paper.height);
  for (int count : {1, 2, 5}) {
    std::string ps = "%!PS\n/Helvetica findfont 40 scalefont setfont\n";
    for (int i = 1; i <= count; i++)
      ps += "100 " + std::to_string(100 * i) + " moveto (page " + std::to_string(i) + ") show showpage\n";
    WriteFile(dir.File("in.ps"), ps);
    ASSERT_EQ(0, system(("gs -q -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" + pdf + " " +
                         dir.File("in.ps")).c_str()));
    const auto args = GhostscriptArgs(LUMORA_APP_PROGRAM, elm, inch, 600, pdf);
    RenderedPages one, two;
    ASSERT_TRUE(one.Start(RendererArgs(args, 1), header));
    ASSERT_TRUE(two.Start(RendererArgs(args, 2), header));
    int pagesOne = 0, pagesTwo = 0;
    const std::string a = read(one, &pagesOne), b = read(two, &pagesTwo);
    EXPECT_EQ(0, one.Finish(false)) << count;
    EXPECT_EQ(0, two.Finish(false)) << count;
    EXPECT_EQ(count, pagesOne);
    EXPECT_EQ(count, pagesTwo);
    EXPECT_TRUE(a == b) << count << " pages: " << a.size() << " against " << b.size() << " bytes";
    EXPECT_NE(std::string::npos, a.find('\0')) << "the text is drawn";
  }
  // Text where a page should be, and rows past the page's: a failure.
  for (const char* said : {"echo '   **** Error: page not found.'",
                           "echo 'page 0 10 10 16'; echo 'rows 20'"}) {
    RenderedPages text;
    ASSERT_TRUE(text.Start({{"sh", "-c", said}}, header));
    int pages = -1;
    read(text, &pages);
    EXPECT_EQ(0, pages) << said;
    EXPECT_NE(0, text.Finish(false)) << said;
  }
  // A renderer that never says a word: a cancelled job stops waiting.
  RenderedPages silent;
  ASSERT_TRUE(silent.Start({{"sleep", "60"}}, header));
  silent.StopWhen([] { return true; });
  cups_page_header2_t h;
  EXPECT_EQ(0u, silent.ReadHeader2(&h));
  EXPECT_NE(0, silent.Finish(true));
}

// A renderer that cannot be started fails at its start.
TEST(AppPdf, MissingRendererFailsToStart) {
  TempDir dir;
  RenderedPages none;
  EXPECT_FALSE(none.Start({{dir.File("no-such-renderer")}}));
}

}  // namespace

// An A4 page at 600 dpi with the Elm's margins: where each image goes.
TEST(AppImages, PlacedAsScalingAndOrientationAsk) {
  const int margins[4] = {118, 236, 118, 236};
  const int areaW = 4960 - 236, areaH = 7016 - 472;
  struct Case {
    unsigned w, h;
    int ppi;
    pappl_scaling_t scaling;
    ipp_orient_t orient;
    bool rotate;
    int width, height;  // -1: fills the area's width (or height)
  } cases[] = {
      {1000, 2000, 0, PAPPL_SCALING_AUTO, IPP_ORIENT_NONE, false, -1, areaH},  // fit
      {2000, 1000, 0, PAPPL_SCALING_AUTO, IPP_ORIENT_NONE, true, -1, areaH},   // turned
      {2000, 1000, 0, PAPPL_SCALING_AUTO, IPP_ORIENT_PORTRAIT, false, areaW, -1},
      {300, 600, 300, PAPPL_SCALING_AUTO, IPP_ORIENT_NONE, false, 600, 1200},  // own size
      {300, 600, 0, PAPPL_SCALING_NONE, IPP_ORIENT_NONE, false, 900, 1800},    // 200 ppi
      {1000, 1000, 0, PAPPL_SCALING_FILL, IPP_ORIENT_NONE, false, 7016, 7016},
  };
  for (const Case& c : cases) {
    Placement p = lumora::app::PlaceImage(c.w, c.h, c.ppi, 4960, 7016, margins, 600, c.scaling,
                                         c.orient);
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    EXPECT_EQ(p.rotate, c.rotate);
    if (c.width > 0) {
      EXPECT_EQ(p.width, c.width);
    }
    if (c.height > 0) {
      EXPECT_EQ(p.height, c.height);
    }
    // Centred in the area (the page for fill).
    bool fill = c.scaling == PAPPL_SCALING_FILL;
    EXPECT_EQ(p.x, (fill ? 0 : 236 / 2) + ((fill ? 4960 : areaW) - p.width) / 2);
    EXPECT_EQ(p.y, (fill ? 0 : 236) + ((fill ? 7016 : areaH) - p.height) / 2);
  }
}

TEST(AppRequests, MediaColsNamingNoPaperAreFound) {
  struct Case {
    const char* name;
    int x, y;
    bool problem;
  } cases[] = {{"iso_a4_210x297mm", 0, 0, false}, {"no_such_size", 0, 0, true},
               {"custom_my_100x200mm", 0, 0, false}, {"", 0, 0, true},
               {nullptr, 21000, 29700, false}, {nullptr, 0, 0, true}, {nullptr, -1, 5, true}};
  for (const Case& c : cases) {
    ipp_t* col = ippNew();
    if (c.name) {
      ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-size-name", nullptr, c.name);
    } else {
      ipp_t* size = ippNew();
      ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", c.x);
      ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", c.y);
      ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
      ippDelete(size);
    }
    EXPECT_EQ(!lumora::app::MediaColProblem(col).empty(), c.problem) << (c.name ? c.name : "size");
    ippDelete(col);
  }
}

// The oldest waiting job is the only one PAPPL can start: newer pending
// ones are held back, the oldest held back is released when none is
// pending; jobs their users hold stay out of it.
TEST(AppQueue, OnlyTheOldestWaitingJobCanStart) {
  constexpr ipp_jstate_t P = IPP_JSTATE_PENDING, H = IPP_JSTATE_HELD, R = IPP_JSTATE_PROCESSING;
  struct Case {
    const char* what;
    std::vector<QueueEntry> jobs;
    std::vector<int> hold;
    int release;
  } cases[] = {
      {"empty", {}, {}, 0},
      {"newest first, as PAPPL keeps them", {{9, P, false, false}, {7, P, false, false}, {8, P, false, false}}, {8, 9}, 0},
      {"behind a printing one", {{5, R, false, false}, {6, P, false, false}, {7, P, false, false}}, {7}, 0},
      {"the oldest held back goes next", {{6, H, true, false}, {7, H, true, false}}, {}, 6},
      {"a new pending one waits its turn", {{8, P, false, false}, {6, H, true, false}}, {8}, 6},
      {"held by its user: left alone", {{4, H, false, true}, {6, P, false, false}}, {}, 0},
      {"queued then held by its user", {{4, H, true, true}, {6, H, true, false}}, {}, 6},
      {"waiting for a document: left alone", {{3, H, false, false}, {6, P, false, false}}, {}, 0},
  };
  for (const Case& c : cases) {
    QueuePlan plan = PlanQueue(c.jobs);
    std::sort(plan.hold.begin(), plan.hold.end());
    EXPECT_EQ(plan.hold, c.hold) << c.what;
    EXPECT_EQ(plan.release, c.release) << c.what;
  }
}

// What clients see: the application's message, a job held back as
// pending; PAPPL's attributes of the same name elsewhere untouched.
TEST(AppQueue, ShownStateAndTimes) {
  ipp_t* attrs = ippNew();
  ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", IPP_JSTATE_HELD);
  ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_TEXT, "job-state-message", nullptr, "Job held.");
  ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons", nullptr, "job-data-insufficient");
  Restate(attrs, IPP_TAG_JOB, JobShown{true, ""});
  EXPECT_EQ(ippGetInteger(ippFindAttribute(attrs, "job-state", IPP_TAG_ENUM), 0), IPP_JSTATE_PENDING);
  EXPECT_STREQ(ippGetString(ippFindAttribute(attrs, "job-state-reasons", IPP_TAG_KEYWORD), 0, nullptr), "job-queued");
  EXPECT_STREQ(ippGetString(ippFindAttribute(attrs, "job-state-message", IPP_TAG_TEXT), 0, nullptr),
               "Waiting for the jobs sent before it.");
  Restate(attrs, IPP_TAG_JOB, JobShown{false, "Printing page 2."});
  EXPECT_STREQ(ippGetString(ippFindAttribute(attrs, "job-state-message", IPP_TAG_TEXT), 0, nullptr),
               "Printing page 2.");

  ipp_t* response = ippNew();
  ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-creation", 12);
  AppendAttributes(response, attrs);
  ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-creation", -4);
  ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-completed", -2);
  ClampJobTimes(response);
  std::vector<int> times;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    if (strncmp(ippGetName(a), "time-at-", 8) == 0) times.push_back(ippGetInteger(a, 0));
  }
  EXPECT_EQ(times, (std::vector<int>{12, 0, 0}));
  EXPECT_STREQ(ippGetString(ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT), 0, nullptr),
               "Printing page 2.");
  ippDelete(response);
  ippDelete(attrs);
}

// Jobs the state file holds that cannot print again are written as
// aborted, with their reasons; the others stay as they were.
TEST(AppState, InterruptedJobsEndWithTheirReason) {
  TempDir tmp;
  const std::string document = tmp.File("p00001j000000002-a.pdf");
  WriteFile(document, "%PDF");
  const std::string kept[] = {
      "Job completed=\"99\" id=\"1\" name=\"done\" state=\"9\"",
      "Job filename=\"" + document + "\" id=\"2\" name=\"waits \\\"a\\\"\" state=\"3\"",
  };
  const std::string state = "DefaultPrinterID 1\n<Printer id=\"1\" name=\"elm\">\n" + kept[0] + "\n" +
                            kept[1] + "\n" +
                            "Job filename=\"" + document + "\" id=\"3\" state=\"5\" state_reasons=\"2\"\n"
                            "Job id=\"4\" state=\"4\"\n"
                            "Job filename=\"" + tmp.File("gone.pdf") + "\" id=\"5\" state=\"3\"\n"
                            "</Printer>\n";
  const std::string path = tmp.File("app.state");
  WriteFile(path, state);
  const std::vector<EndedJob> ended = EndInterruptedJobs(path, 1234);
  ASSERT_EQ(ended.size(), 3u);
  const std::pair<int, const char*> expected[] = {
      {3, "The server stopped while the job printed: it was not printed again."},
      {4, "The server stopped before the job's document came."},
      {5, "The job's document was lost while the server was stopped."}};
  for (size_t i = 0; i < 3; i++) {
    EXPECT_EQ(ended[i].printerId, 1);
    EXPECT_EQ(ended[i].jobId, expected[i].first);
    EXPECT_EQ(ended[i].why, expected[i].second);
  }
  const std::string text = lumora::test::ReadFile(path);
  EXPECT_NE(text.find(kept[0] + "\n" + kept[1] + "\n"), std::string::npos) << text;
  const size_t start = text.find("Job ", text.find(kept[1]) + kept[1].size());
  const std::string line = text.substr(start, text.find('\n', start) - start);
  for (const char* part : {"id=\"3\"", "state=\"8\"", "state_reasons=\"3\"", "completed=\"1234\""}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
  EXPECT_EQ(EndInterruptedJobs(path, 5678).size(), 0u);  // ended once
}

}  // namespace lumora::test::app
