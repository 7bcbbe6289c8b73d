// SPDX-License-Identifier: GPL-2.0-or-later
// The PDF road with the real qpdf and the system's pdftops filter.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "child_process.h"
#include "pdf_road.h"
#include "prefilter_test_util.h"

namespace lumora::test {

using namespace prefilter;

namespace {

const char* const kLarch = "Lumora LP5200 Series PS";

// Pages turned by 180 degrees, as pdfinfo reports them.
std::string TurnedPages(const std::string& pdf) {
  ChildResult r = RunProgram({"pdfinfo", "-f", "1", "-l", "99", pdf});
  std::istringstream lines(r.output);
  std::string line, turned;
  while (std::getline(lines, line)) {
    int page = 0, rot = 0;
    if (sscanf(line.c_str(), "Page %d rot: %d", &page, &rot) == 2 && rot == 180)
      turned += (turned.empty() ? "" : ",") + std::to_string(page);
  }
  return turned;
}

// The converter's output but for the time stamp.
std::string WithoutCreationDate(std::string ps) {
  size_t at = ps.find("%%CreationDate:");
  if (at != std::string::npos) ps.erase(at, ps.find('\n', at) - at);
  return ps;
}

class PdfRoad : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TMPDIR", spool_.path().c_str(), 1); }

  // CreatRotateDuplex on a fresh copy of an n-page PDF; returns the turned
  // pages. The job stays (with its temporary files) until jobs is cleared.
  std::string Rotate(int pages, const std::string& options, const std::string& duplexDefault = "None") {
    lumora::PsJobHooks hooks;
    hooks.lmqpdfPath = lmqpdf_;
    jobs_.emplace_back(new StepJob(MakePpd(dir_, kLarch, duplexDefault), options, "1", hooks));
    std::string path = dir_ / "in.pdf";
    WriteFile(path, ReadFile(MakePdf(dir_, pages)));
    std::string job = path;
    StderrCapture capture;
    CreatRotateDuplex(**jobs_.back(), job);
    log_ = capture.Stop();
    rotated_ = job != path;
    return TurnedPages(job);
  }

  std::vector<std::unique_ptr<StepJob>> jobs_;
  std::string lmqpdf_ = "/opt/lumora/bin/lmqpdf";
  TempDir dir_, spool_;
  std::string log_;
  bool rotated_ = false;
};

TEST_F(PdfRoad, EvenPagesTurnedForLongEdge) {
  EXPECT_EQ("2,4", Rotate(5, "Duplex=DuplexNoTumble"));
  EXPECT_EQ("2,4,6", Rotate(6, "Duplex=DuplexNoTumble"));
  EXPECT_EQ("", Rotate(1, "Duplex=DuplexNoTumble"));
  EXPECT_FALSE(rotated_);
  EXPECT_NE(std::string::npos, log_.find("The page count is 1!\n"));
  EXPECT_EQ("", Rotate(5, "Duplex=DuplexTumble"));
  // Without either text the PPD's default decides; "noDuplex" overrides it.
  EXPECT_EQ("2,4", Rotate(3 + 2, "Duplex=DuplexTumble", "DuplexNoTumble"));
  EXPECT_EQ("", Rotate(5, "noDuplex", "DuplexNoTumble"));
  EXPECT_EQ(3u, ListDir(spool_.path()).size());  // the rotated copies the jobs still hold
  jobs_.clear();
  EXPECT_TRUE(ListDir(spool_.path()).empty());
}

TEST_F(PdfRoad, OldSystemQpdfMeansTheDriversOwnTool) {
  std::string bin = dir_ / "bin";
  mkdir(bin.c_str(), 0700);
  std::string fake = bin + "/qpdf";
  std::string path = getenv("PATH");
  setenv("PATH", (bin + ":" + path).c_str(), 1);
  for (const char* version : {"7.1.0", "10.6.3"}) {
    WriteFile(fake, std::string("#!/bin/sh\necho 'qpdf version ") + version + "'\n");
    chmod(fake.c_str(), 0700);
    StepJob job(MakePpd(dir_, kLarch));
    EXPECT_EQ(std::string(version) == "10.6.3", getqpdfversion(*job)) << version;
  }
  lmqpdf_ = dir_ / "no-lmqpdf";
  WriteFile(fake, "#!/bin/sh\necho 'qpdf version 7.1.0'\n");
  EXPECT_EQ("", Rotate(5, "Duplex=DuplexNoTumble"));
  EXPECT_NE(std::string::npos, log_.find("Unable get page count of the inputfile!"));
  setenv("PATH", path.c_str(), 1);
}

TEST_F(PdfRoad, WholeRoadConvertsWithCopiesOneAndOptionsRemoved) {
  std::string pdf = MakePdf(dir_, 3);
  const std::string options = "number-up=2 Collate=True page-set=odd Duplex=DuplexNoTumble x=1";
  std::string ppd = MakePpd(dir_, kLarch);
  JobRun run = RunJob({"17", "user", "title", "3", options, pdf}, "", ppd, spool_.path());
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(1, gHookLog.keepaliveStarts);
  EXPECT_EQ(1, gHookLog.keepaliveStops);
  EXPECT_TRUE(ListDir(spool_.path()).empty());
  EXPECT_EQ(ReadFile(MakePdf(dir_, 3)), ReadFile(pdf));  // the scheduler's file is left alone

  // What pdftops makes of the turned PDF with copies 1 and the options removed.
  std::string turned = dir_ / "turned.pdf";
  RunProgram({"qpdf", pdf, turned, "--rotate=+180:2"});
  std::string expected = dir_ / "expected.ps";
  int fd = open(expected.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  setenv("PPD", ppd.c_str(), 1);
  {
    StderrCapture quiet;
    RunProgram({"/usr/lib/cups/filter/pdftops", "17", "user", "title", "1", "Duplex=DuplexNoTumble x=1", turned}, {}, fd);
  }
  close(fd);
  EXPECT_TRUE(WithoutCreationDate(ReadFile(expected)) == WithoutCreationDate(run.out));
}

TEST_F(PdfRoad, FailedConversionIsAnError) {
  std::string script = dir_ / "empty-pdftops";
  WriteFile(script, "#!/bin/sh\nexit 0\n");
  chmod(script.c_str(), 0700);
  std::string bad = dir_ / "bad.pdf";
  WriteFile(bad, "this is no PDF\n");
  const struct {
    std::string converter, job;
  } cases[] = {
      {dir_ / "missing-pdftops", MakePdf(dir_, 2)},  // cannot start
      {script, MakePdf(dir_, 2)},                   // writes nothing
      {"/usr/lib/cups/filter/pdftops", bad},       // fails
  };
  for (const auto& c : cases) {
    JobRun run = RunJob({"3", "u", "t", "1", "", c.job}, "", MakePpd(dir_, kLarch), spool_.path(), false, c.converter);
    const std::string& converter = c.converter;
    EXPECT_EQ(1, run.status) << converter;
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("DEBUG: fail to change file from pdf to ps.\n"));
    EXPECT_NE(std::string::npos, run.err.find("ERROR: "));
    EXPECT_EQ(0, gHookLog.keepaliveStarts);
    EXPECT_EQ(1, gHookLog.keepaliveStops);
    EXPECT_TRUE(ListDir(spool_.path()).empty());
  }
}

// The end of the converted PostScript is found in files past 2 GiB too
// (sparse here), where a 32-bit long cannot hold the offset.
TEST_F(PdfRoad, EofCommentFoundAtTheEndOfLargeFiles) {
  const struct {
    off_t holeBytes;
    const char* tail;
    bool complete;
  } cases[] = {
      {0, "%!PS\nshowpage\n%%EOF\n", true},
      {0, "%!PS\nshowpage\n", false},
      {(off_t{1} << 31) + 17, "showpage\n%%EOF\n", true},
      {(off_t{1} << 32) + 5, "showpage\n%%EOF\n", true},
      {(off_t{1} << 31) + 17, "showpage\n", false},
  };
  for (const auto& c : cases) {
    const std::string path = dir_ / "large.ps";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const size_t len = strlen(c.tail);
    ASSERT_EQ(static_cast<ssize_t>(len), pwrite(fd, c.tail, len, c.holeBytes));
    close(fd);
    EXPECT_EQ(c.complete, EndsWithEofComment(path)) << c.holeBytes << " " << c.tail;
    unlink(path.c_str());
  }
}

TEST_F(PdfRoad, JobTextsRunNothing) {
  std::string named = dir_ / "a b;touch pwned1;$(touch pwned2).pdf";
  WriteFile(named, ReadFile(MakePdf(dir_, 2)));
  JobRun run = RunJob({"4;touch pwned3", "$(touch pwned4)", "`touch pwned5`\"'", "1",
                       "Duplex=DuplexNoTumble a=\"$(touch pwned6)\" ;touch pwned7", named},
                      "", MakePpd(dir_, kLarch), spool_.path());
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(0u, run.out.find("%!PS-Adobe"));
  char cwd[4096] = "";
  ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
  for (const std::string& where : {dir_.path(), std::string(cwd), spool_.path()})
    for (const auto& name : ListDir(where)) EXPECT_NE(0u, name.find("pwned")) << name;
  EXPECT_TRUE(ListDir(spool_.path()).empty());
}

}  // namespace

}  // namespace lumora::test
