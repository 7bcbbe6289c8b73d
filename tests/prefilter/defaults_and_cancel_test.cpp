// SPDX-License-Identifier: GPL-2.0-or-later
// The queue's defaults for the options a job does not name, and a cancel at
// each step of a job: after it nothing new starts, and the job ends at once
// with status 0 and a line that says so.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "prefilter_test_util.h"
#include "ps_filter.h"
#include "ps_rewrite.h"

namespace lumora::test {

using namespace prefilter;

namespace {

// A job through the library; the queue's PPD gets the given default lines.
struct Result {
  int status = -1;
  std::string out, log;
};

Result RunWithDefaults(const TempDir& dir, const std::string& nickname, const std::string& defaults,
                       const std::string& options, const std::string& copies,
                       const std::string& job) {
  std::string ppd = ReadFile(MakePpd(dir, nickname, "None", "ShortEdge"));
  for (const char* key : {"PageSize", "Duplex", "FeedEdge"}) {
    const std::string line = std::string("*Default") + key + ": ";
    const size_t at = defaults.find(line);
    if (at == std::string::npos) continue;
    const size_t old = ppd.find(line);
    ppd.replace(old, ppd.find('\n', old) - old, defaults.substr(at, defaults.find('\n', at) - at));
  }
  if (defaults.find("*DefaultCollate: True") != std::string::npos)
    ppd += "*OpenUI *Collate: Boolean\n*DefaultCollate: True\n*Collate False: \"\"\n"
           "*Collate True: \"\"\n*CloseUI: *Collate\n";
  const std::string path = dir / "defaults.ppd";
  WriteFile(path, ppd);
  const std::string input = dir / "job.prn";
  WriteFile(input, job);
  MemoryDevice device;
  StringLog log;
  const lumora::PsPrinterDescription printer = DescribePpd(path);
  lumora::PsJob ps(printer, {"q", "3", "u", "t", copies, options}, {input, -1}, device, log);
  Result r;
  r.status = ps.Run();
  r.out = device.bytes;
  r.log = log.Text();
  return r;
}

// The maple family takes every default it acts on; the job's own option
// wins. The other two families pass the job on as it is.
TEST(QueueDefaults, ApplyToJobsThatDoNotNameTheOption) {
  TempDir dir;
  const std::string a4 = WrapPjl(MakePs(dir, 2));
  const std::string a5 = WrapPjl(MakePs(dir, 2, 420, 595));
  const struct {
    const char* name;
    const char* model;
    const char* defaults;
    const char* options;
    const char* copies;
    const std::string& job;
    int bodies;          // times the pages are sent
    const char* has;     // the stream holds this
    const char* hasNot;  // and not this
  } cases[] = {
      {"maple, Collate default", "MP2100", "*DefaultCollate: True\n", "", "2", a4, 2, "", ""},
      {"maple, the job's Collate=False wins", "MP2100", "*DefaultCollate: True\n",
       "Collate=False", "2", a4, 1, "", ""},
      {"maple, uncollated copies asked", "MP2100", "*DefaultCollate: True\n",
       "multiple-document-handling=separate-documents-uncollated-copies", "2", a4, 1, "", ""},
      {"maple, PageSize default", "MP2100", "*DefaultPageSize: Letter\n", "", "1", a4, 1,
       "<</Type/Page/MediaBox [0 0 612 792]\n", "MediaBox [0 0 595 842]"},
      {"maple, the job's PageSize wins", "MP2100", "*DefaultPageSize: Letter\n", "PageSize=A4",
       "1", a4, 1, "MediaBox [0 0 595 842]", "MediaBox [0 0 612 792]"},
      {"maple, the job's media names the size", "MP2100", "*DefaultPageSize: Letter\n",
       "media=A4", "1", a4, 1, "MediaBox [0 0 595 842]", "MediaBox [0 0 612 792]"},
      {"maple, A5 and FeedEdge defaults", "MP2650",
       "*DefaultPageSize: A5\n*DefaultFeedEdge: LongEdge\n", "", "1", a5, 1,
       "@PJL SET PAPER=A5L\r\n", ""},
      {"maple, the job's FeedEdge wins", "MP2650",
       "*DefaultPageSize: A5\n*DefaultFeedEdge: LongEdge\n", "FeedEdge=ShortEdge", "1", a5, 1, "",
       "@PJL SET PAPER=A5L"},
      {"other family, defaults", "OP3100", "*DefaultCollate: True\n*DefaultPageSize: Letter\n", "",
       "2", a4, 1, "MediaBox [0 0 595 842]", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Result r = RunWithDefaults(dir, std::string("Lumora ") + c.model + " Series PS", c.defaults,
                               c.options, c.copies, c.job);
    EXPECT_EQ(0, r.status) << r.log;
    EXPECT_EQ(c.bodies * PageComments(c.job), PageComments(r.out));
    if (*c.has) {
      EXPECT_NE(std::string::npos, r.out.find(c.has));
    }
    if (*c.hasNot) {
      EXPECT_EQ(std::string::npos, r.out.find(c.hasNot));
    }
  }
}

// A cancel at each step of a Larch job (the road with the most to start):
// the step under way ends, nothing new starts.
TEST(Cancel, NothingNewStartsAndTheJobEndsWithStatusZero) {
  TempDir dir, spool;
  setenv("TMPDIR", spool.path().c_str(), 1);
  const std::string ppd = MakePpd(dir, "Lumora LP5200 Series PS", "DuplexNoTumble");
  const lumora::PsPrinterDescription printer = DescribePpd(ppd);
  // Helper programs that note when they start; pdftops takes its time.
  const std::string marks = dir / "marks";
  const std::string qpdf = dir / "qpdf", pdftops = dir / "pdftops";
  WriteFile(qpdf, "#!/bin/sh\necho qpdf >> " + marks + "\nexec qpdf \"$@\"\n");
  WriteFile(pdftops, "#!/bin/sh\necho pdftops >> " + marks + "\nexec sleep 30\n");
  chmod(qpdf.c_str(), 0700);
  chmod(pdftops.c_str(), 0700);
  const std::string pdf = MakePdf(dir, 4);
  enum Moment { kFirstQuery, kSecondQuery, kThirdQuery, kConversion };
  for (Moment moment : {kFirstQuery, kSecondQuery, kThirdQuery, kConversion}) {
    SCOPED_TRACE(moment);
    unlink(marks.c_str());
    MemoryDevice device;
    StringLog log;
    std::atomic<int> queries{0};
    lumora::PsJob* running = nullptr;
    lumora::PsJobHooks hooks;
    hooks.qpdfPath = qpdf;
    hooks.pdftopsPath = pdftops;
    hooks.refusalPauseSeconds = 0;
    hooks.deviceId = [&](char*, int*) {
      if (++queries == static_cast<int>(moment) + 1) running->Cancel();
      return lumora::DeviceIdAnswer::kNoId;
    };
    {
      lumora::PsJob job(printer, {"q", "4", "u", "t", "1", "Duplex=DuplexNoTumble"}, {pdf, -1},
                        device, log, hooks);
      running = &job;
      std::thread canceller;
      if (moment == kConversion) {
        canceller = std::thread([&] {
          while (ReadFile(marks).find("pdftops") == std::string::npos) usleep(10000);
          job.Cancel();
        });
      }
      EXPECT_EQ(0, job.Run());
      if (canceller.joinable()) canceller.join();
    }
    const std::string text = log.Text();
    EXPECT_EQ(moment == kConversion ? 3 : static_cast<int>(moment) + 1, queries.load());
    EXPECT_EQ(moment == kConversion ? "qpdf\nqpdf\nqpdf\npdftops\n"
                                    : moment == kThirdQuery ? "qpdf\n" : "",
              ReadFile(marks));
    EXPECT_EQ("", device.bytes);
    EXPECT_NE(std::string::npos, text.find("INFO: The job was cancelled.\n"));
    EXPECT_EQ(std::string::npos, text.find("ERROR")) << text;
    EXPECT_TRUE(ListDir(spool.path()).empty());
  }
}

}  // namespace

}  // namespace lumora::test
