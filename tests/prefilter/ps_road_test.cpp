// SPDX-License-Identifier: GPL-2.0-or-later
// The PostScript road on real ps2write jobs in PJL: plain copy, the maple
// rewriting, collated copies and the cancel cut, run in-process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ps_filter.h"
#include "prefilter_test_util.h"
#include "ps_rewrite.h"

namespace lumora::test {

using namespace prefilter;

namespace {

const std::string kTrailer(kCancelTrailer, kCancelTrailerLen);
const std::string kEoj(kEndOfJob, kEndOfJobLen);

std::string Hostname() {
  char name[256] = "";
  gethostname(name, sizeof(name));
  return name;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
}

// The job as the maple rewriting must leave it: owner and id after the job
// name line, page sizes forced.
std::string Rewritten(std::string job, const std::string& jobid, const std::string& size,
                      const std::string& extra = "") {
  size_t nameEnd = job.find("\r\n") + 2;
  job.insert(nameEnd, "@PJL SET JOBOWNER=\"" + Hostname() + "\"\r\n@PJL SET JOBID=" + jobid + "\r\n" + extra);
  if (!size.empty()) ReplaceAll(job, "<</Type/Page/MediaBox [0 0 595 842]\n", "<</Type/Page/MediaBox [0 0 " + size + "]\n");
  return job;
}

class PsRoad : public ::testing::Test {
 protected:
  std::string Ppd(const std::string& model) { return MakePpd(dir_, "Lumora " + model + " Series PS", "", "LongEdge"); }
  void ExpectNoTempFiles() { EXPECT_TRUE(ListDir(spool_.path()).empty()); }
  TempDir dir_, spool_;
  std::string job_ = WrapPjl(MakePs(dir_, 3));
};

TEST_F(PsRoad, PlainFamilyIsCopiedUnchanged) {
  JobRun run = RunJob({"7", "u", "t", "1", ""}, job_, Ppd("OP3100"), spool_.path());
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(job_, run.out);
  EXPECT_EQ(0, gHookLog.statusThreads);
  ExpectNoTempFiles();
  // Named on the command line: nothing is read from the input, the file stays.
  std::string path = dir_ / "named.prn";
  WriteFile(path, job_);
  run = RunJob({"7", "u", "t", "1", "", path}, "not this", Ppd("OP3100"), spool_.path());
  EXPECT_EQ(job_, run.out);
  EXPECT_EQ(job_, ReadFile(path));
}

TEST_F(PsRoad, SpooledJobWithoutUniversalExitGetsEndMarker) {
  std::string ps = MakePs(dir_, 1);
  JobRun run = RunJob({"7", "u", "t", "1", ""}, ps, Ppd("OP3100"), spool_.path());
  EXPECT_EQ(ps + "\x04\x1b%-12345X\n", run.out);
  EXPECT_NE(std::string::npos, run.err.find("\x04\x1b%-12345X\n"));
}

TEST_F(PsRoad, MapleHeaderAndPageSize) {
  JobRun run = RunJob({"42", "u", "t", "1", "PageSize=Letter"}, job_, Ppd("MP2100"), spool_.path());
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(Rewritten(job_, "42", "612 792"), run.out);
  EXPECT_EQ(1, gHookLog.statusThreads);
  EXPECT_EQ(42, gHookLog.jobId);
  EXPECT_NE(std::string::npos, run.err.find("uri:,jobid:42,jobower:" + Hostname() + "\n"));
  ExpectNoTempFiles();
  // Without a PageSize the sizes stay as they are.
  run = RunJob({"43", "u", "t", "1", ""}, job_, Ppd("MP2100"), spool_.path());
  EXPECT_EQ(Rewritten(job_, "43", ""), run.out);
}

TEST_F(PsRoad, A5LongEdgeAndDeferredMediaSelection) {
  std::string body = "%!PS\n<<DeferredMediaSelection true>>setpagedevice % keep\n/pdfSetupPaper {} def\n"
                     "595 842 pdfSetupPaper\n";
  std::string in = WrapPjl(body);
  JobRun run = RunJob({"5", "u", "t", "1", "PageSize=A5"}, in, Ppd("MP2650"), spool_.path());
  std::string expected = Rewritten(in, "5", "", "@PJL SET PAPER=A5L\r\n");
  ReplaceAll(expected, "<<DeferredMediaSelection", "<</DeferredMediaSelection");
  ReplaceAll(expected, "595 842 pdfSetupPaper", "420 595 pdfSetupPaper");
  EXPECT_EQ(expected, run.out);
  EXPECT_NE(std::string::npos, run.err.find("Modified <</DeferredMediaSelection\n"));
  // Without a PageSize, on a queue without a default size, the job's own A5
  // MediaBox, fractions and all, tells.
  in = WrapPjl("%!PS\n<</Type/Page/MediaBox [0 0 419.53 595.28]\n");
  const std::string noDefault = MakePpd(dir_, "Lumora MP2650 Series PS", "", "LongEdge", "");
  run = RunJob({"6", "u", "t", "1", ""}, in, noDefault, spool_.path());
  EXPECT_EQ(Rewritten(in, "6", "", "@PJL SET PAPER=A5L\r\n"), run.out);
}

TEST_F(PsRoad, CollatedCopiesInOneJob) {
  std::string ps = MakePs(dir_, 2);
  size_t setup = ps.find("%%EndProlog");
  ps.insert(setup, "%RBIBeginNonPPDFeature: *NumCopies 3\n/#copies 3 def\n%RBIEndNonPPDFeature\n");
  std::string in = WrapPjl(ps);
  JobRun run = RunJob({"9", "u", "t", "3", "PageSize=A4 Collate=True"}, in, Ppd("MP2100"), spool_.path());
  EXPECT_EQ(0, run.status);

  std::string once = Rewritten(in, "9", "595 842");
  ReplaceAll(once, "%RBIBeginNonPPDFeature: *NumCopies 3\n/#copies 3 def\n%RBIEndNonPPDFeature\n", "");
  ReplaceAll(once, "\x04\x1b%-12345X@PJL EOJ\r\n", "");
  std::string marker = "@PJL ENTER LANGUAGE = POSTSCRIPT\r\n";
  std::string body = once.substr(once.find(marker) + marker.size());
  EXPECT_EQ(once + body + body + kEoj, run.out);
  ExpectNoTempFiles();  // the collated-copy file too

  run = RunJob({"9", "u", "t", "1", "PageSize=A4 collate"}, in, Ppd("MP2100"), spool_.path());
  EXPECT_EQ(once + kEoj, run.out);
  // "noCollate" is no request to collate: the copy-count feature stays.
  run = RunJob({"9", "u", "t", "3", "PageSize=A4 noCollate"}, in, Ppd("MP2100"), spool_.path());
  EXPECT_NE(std::string::npos, run.out.find("/#copies 3 def"));
}

TEST_F(PsRoad, LongLinesPassWhole) {
  std::string name(5000, 'n');
  std::string blob(3 << 20, 'b');
  blob[12345] = '\0';  // a NUL byte in the data survives
  std::string in = WrapPjl("%!PS\n%" + blob + "\n<</Type/Page/MediaBox [0 0 595 842]\n", name);
  JobRun run = RunJob({"8", "u", "t", "1", "PageSize=Letter"}, in, Ppd("MP2100"), spool_.path());
  EXPECT_EQ(Rewritten(in, "8", "612 792"), run.out);
}

TEST_F(PsRoad, CancelCutsAtNextPage) {
  std::string ps = MakePs(dir_, 3);
  std::string in = WrapPjl(ps);
  size_t firstPage = in.find("%%Page:");
  // After the trailer the PJL job is closed as the job file closes it.
  const std::string close = JobClose(in);
  ASSERT_EQ("\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X", close);
  // Plain copy: the block holding the first page comment is cut there.
  JobRun run = RunJob({"1", "u", "t", "1", ""}, in, Ppd("OP3100"), spool_.path(), true);
  EXPECT_EQ(in.substr(0, firstPage) + kTrailer + close, run.out);
  EXPECT_NE(std::string::npos, run.err.find("find page end\n"));
  // Maple, line by line.
  run = RunJob({"1", "u", "t", "1", "PageSize=Letter"}, in, Ppd("MP2100"), spool_.path(), true);
  std::string full = Rewritten(in, "1", "612 792");
  EXPECT_EQ(full.substr(0, full.find("%%Page:")) + kTrailer + close, run.out);
  // Collating: the cut ends the copies, the end of job follows.
  run = RunJob({"1", "u", "t", "2", "Collate=True"}, in, Ppd("MP2100"), spool_.path(), true);
  full = Rewritten(in, "1", "595 842");
  EXPECT_EQ(full.substr(0, full.find("%%Page:")) + kTrailer + kEoj + close, run.out);
  ExpectNoTempFiles();
}

// The printer's cancel, seen by the status thread (no signal reaches the
// writer), while a slow backend keeps the output pipe full: what the
// rewriting gathered and the pipe did not take yet meets the cut.
TEST_F(PsRoad, CancelFromTheStatusThreadWhileTheOutputIsFull) {
  const std::string path = dir_ / "400-pages.prn";
  WriteFile(path, FourHundredPages());
  const lumora::PsPrinterDescription printer = DescribePpd(Ppd("MP2100"));
  for (bool collate : {false, true}) {
    int p[2];
    ASSERT_EQ(0, pipe(p));
    lumora::FdOutput device(p[1]);
    StringLog quiet;
    lumora::PsJob job(printer, {"lumora-q", "4", "u", "t", "2", collate ? "Collate=True" : ""},
                      {path, -1}, device, quiet);
    SlowRead r;
    std::thread backend([&] { r = ReadSlowlyAndCancel(p[0], [&] { job.Cancel(); }); });
    EXPECT_EQ(0, job.Run());
    close(p[1]);
    backend.join();
    close(p[0]);
    ASSERT_GT(r.at, 0u);
    ASSERT_GE(r.out.size(), r.at + r.held);
    const std::string beyond = r.out.substr(r.at + r.held);
    EXPECT_EQ(0, PageComments(beyond)) << collate;
    EXPECT_LE(beyond.size(), 4096u + kTrailer.size() + kEoj.size()) << collate;
    const std::string end = (collate ? kTrailer + kEoj : kTrailer) + JobClose(ReadFile(path));
    EXPECT_EQ(end, r.out.substr(r.out.size() - std::min(end.size(), r.out.size()))) << collate;
  }
}

TEST_F(PsRoad, EndSetupBeforePageIsNoBoundary) {
  std::string block = "x\n%%EndSetup\n%%Page: 1 1\nmore\n%%Page: 2 2\n";
  int len = -1;
  StepJob step(Ppd("MP2100"));
  EXPECT_FALSE(find_pageend(*step, block, len));
  EXPECT_EQ(0, len);
}

TEST_F(PsRoad, RefusalsLeaveNothingBehind) {
  JobRun run = RunJob({"1", "u", "t", "1", ""}, job_, MakePpd(dir_, "Other Printer"), spool_.path());
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos, run.err.find("ERROR:当前打印机不可打印，请使用正确的打印机\n"));
  std::string narrow = WrapPjl(MakePs(dir_, 1, 200, 792));
  run = RunJob({"1", "u", "t", "1", "PageSize=Custom.200x792"}, narrow, Ppd("MP2100"), spool_.path());
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos,
            run.err.find("ERROR:The current custom pager cannot be printed,please use the corrent paper\n"));
  ExpectNoTempFiles();
  run = RunJob({"1", "u", "t", "1"}, job_, Ppd("MP2100"), spool_.path());
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("ERROR: Usage: pstoLumora job-id user title copies options [file]\n", run.err);
}

TEST(QueueLookup, DecodedLowerCaseLastSegment) {
  cups_dest_t* dests = nullptr;
  int n = 0;
  const struct {
    const char *name, *instance, *uri, *device;
  } rows[] = {
      {"a", nullptr, "ipp://localhost/printers/Lumora%5FMP", "usb://Lumora/MP?serial=1"},
      {"a", "copy", "ipp://localhost/printers/lumora_mp", "socket://instance"},
      {"b", nullptr, "ipp://localhost/printers/other", "socket://other"},
  };
  for (const auto& r : rows) {
    n = cupsAddDest(r.name, r.instance, n, &dests);
    cups_dest_t* d = cupsGetDest(r.name, r.instance, n, dests);
    d->num_options = cupsAddOption("printer-uri-supported", r.uri, d->num_options, &d->options);
    d->num_options = cupsAddOption("device-uri", r.device, d->num_options, &d->options);
  }
  char uri[256] = "", mm[256] = "";
  FindQueueOptions(n, dests, "LUMORA_mp", uri, mm);
  EXPECT_STREQ("usb://Lumora/MP?serial=1", uri);
  EXPECT_STREQ("", mm);
  cupsFreeDests(n, dests);
}

}  // namespace

}  // namespace lumora::test
