// SPDX-License-Identifier: GPL-2.0-or-later
// Eight PostScript jobs at once in one process, one thread each: maple jobs
// (collated copies, A5 long edge, a custom size), a Larch long-edge duplex
// PDF, the other family from a file and from a descriptor, a refused printer
// and a cancelled job. Each writes what pstoLumora writes for the same input
// and options (the converter's time stamp and the job owner masked). Built
// with ThreadSanitizer as well, where any data race between the jobs fails
// it. A job started and cancelled leaves no thread behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "prefilter_test_util.h"
#include "ps_job.h"
#include "ps_rewrite.h"
#include "test_support.h"

namespace lumora::test {

using namespace prefilter;

namespace {

// The PostScript tests' own helpers, where the common ones have the same names.
using prefilter::ListDir;
using prefilter::ReadFile;
using prefilter::TempDir;
using prefilter::WriteFile;

struct JobCase {
  const char* name;
  const char* nickname;
  const char* options;
  const char* copies;
  int pages, w, h;  // the PostScript job's pages and size
  bool pdf;         // a PDF (the Larch road) instead of PostScript
  bool fromFd;      // the job comes on a descriptor (6 arguments)
  bool cancel;      // cancelled before it starts
  int status;
};

const JobCase kJobs[] = {
    {"maple collated", "Lumora MP2100 Series PS", "PageSize=A4 Collate=True", "3", 3, 595, 842,
     false, false, false, 0},
    {"maple A5 long edge", "Lumora MP2650 Series PS", "PageSize=A5 FeedEdge=LongEdge", "1", 2, 420,
     595, false, false, false, 0},
    {"maple custom size", "Lumora MP2310 Series PS", "PageSize=Custom.612x792", "1", 2, 612, 792,
     false, false, false, 0},
    {"Larch long-edge duplex", "Lumora LP5200 Series PS", "Duplex=DuplexNoTumble", "1", 5, 595, 842,
     true, false, false, 0},
    {"other family", "Lumora OP3100 Series PS", "", "1", 3, 595, 842, false, false, false, 0},
    {"other family on a descriptor", "Lumora OP4220 Series PS", "", "2", 2, 595, 842, false, true,
     false, 0},
    {"refused printer", "Other Printer", "", "1", 1, 595, 842, false, false, false, 1},
    {"maple cancelled", "Lumora MP2100 Series PS", "PageSize=Letter", "1", 4, 595, 842, false,
     false, true, 0},
};

// The converter's time stamp and the host's name as job owner differ
// between runs and hosts.
std::string Masked(std::string out) {
  for (const char* field : {"%%CreationDate:", "@PJL SET JOBOWNER="}) {
    for (size_t at = out.find(field); at != std::string::npos; at = out.find(field, at + 1))
      out.erase(at + strlen(field), out.find('\n', at) - at - strlen(field));
  }
  return out;
}

// What the filter writes for the job: the program itself, with the case's
// PPD, as the scheduler starts it.
RunResult RunFilter(const JobCase& c, const std::string& ppd, const std::string& job,
                                 const std::string& spool) {
  RunOptions o;
  o.argv = {PstoLumoraPath(), "7", "bob", "concurrent", c.copies, c.options};
  if (c.fromFd)
    o.stdinFile = job;
  else
    o.argv.push_back(job);
  o.env = {{"PPD", ppd}, {"TMPDIR", spool}, {"CUPS_SERVER", "/nonexistent-lumora/cups.sock"}};
  o.unsetEnv = {"DEVICE_URI"};
  return RunProgram(o);
}

// A job cancelled before its first page: the job up to its first page
// comment, the cancel trailer, and the job's own PJL close.
std::string CutAtFirstPage(const std::string& whole) {
  return whole.substr(0, whole.find("%%Page:")) + std::string(kCancelTrailer, kCancelTrailerLen) +
         JobClose(whole);
}

struct InProcess {
  int status = -1;
  std::string out;
};

InProcess RunInProcess(const JobCase& c, const lumora::PsPrinterDescription& printer,
                       const std::string& ppd, const std::string& job) {
  MemoryDevice device;
  StringLog log;
  lumora::PsJobHooks hooks;
  hooks.childEnvironment = {"PPD=" + ppd};  // for pdftops
  lumora::PsJobInput input;
  int fd = -1;
  if (c.fromFd)
    input.fd = fd = open(job.c_str(), O_RDONLY | O_CLOEXEC);
  else
    input.path = job;
  lumora::PsJob psJob(printer, {"lumora-q", "7", "bob", "concurrent", c.copies, c.options}, input,
                      device, log, hooks);
  if (c.cancel) psJob.Cancel();
  InProcess r;
  r.status = psJob.Run();
  if (fd >= 0) close(fd);
  r.out = device.bytes;
  return r;
}

TEST(ConcurrentPsJobs, EightJobsAtOnceWriteTheFiltersOutput) {
  ClaimSideChannelFds();
  TempDir dir, spool;
  const size_t n = sizeof(kJobs) / sizeof(kJobs[0]);
  std::vector<std::string> ppds(n), jobs(n), expected(n);
  std::vector<lumora::PsPrinterDescription> printers(n);
  for (size_t i = 0; i < n; ++i) {
    const JobCase& c = kJobs[i];
    ppds[i] = MakePpd(dir, c.nickname, "None", "ShortEdge");
    const std::string copy = dir / ("queue" + std::to_string(i) + ".ppd");
    WriteFile(copy, ReadFile(ppds[i]));
    ppds[i] = copy;
    jobs[i] = dir / ("job" + std::to_string(i));
    WriteFile(jobs[i], c.pdf ? ReadFile(MakePdf(dir, c.pages))
                             : WrapPjl(MakePs(dir, c.pages, c.w, c.h)));
    printers[i] = DescribePpd(ppds[i]);
    RunResult r = RunFilter(c, ppds[i], jobs[i], spool.path());
    EXPECT_EQ(c.cancel ? 0 : c.status, r.status) << c.name << "\n" << r.err;
    expected[i] = Masked(c.cancel ? CutAtFirstPage(r.out) : r.out);
  }
  setenv("TMPDIR", spool.path().c_str(), 1);
  setenv("CUPS_SERVER", "/nonexistent-lumora/cups.sock", 1);
  std::vector<InProcess> got(n);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i)
    threads.emplace_back([&, i] { got[i] = RunInProcess(kJobs[i], printers[i], ppds[i], jobs[i]); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(kJobs[i].name);
    EXPECT_EQ(kJobs[i].status, got[i].status);
    EXPECT_EQ(kJobs[i].status == 0, expected[i].size() > 500u) << expected[i].size();
    EXPECT_TRUE(Masked(got[i].out) == expected[i])
        << got[i].out.size() << " bytes against " << expected[i].size();
  }
  EXPECT_TRUE(ListDir(spool.path()).empty());
}

// Cancels its job at the first bytes it is given, and counts the threads
// alive then.
class CancellingDevice : public lumora::ByteOutput {
 public:
  bool Write(const void* data, size_t len) override {
    if (job != nullptr && !job->Cancelled()) {
      threadsAtCancel = LiveThreads();
      job->Cancel();
    }
    bytes.append(static_cast<const char*>(data), len);
    return true;
  }
  lumora::PsJob* job = nullptr;
  int threadsAtCancel = 0;
  std::string bytes;
};

// The side-channel threads talk to a printer on the loopback that does not
// answer: the status thread of the maple road, the keep-alive thread of the
// Larch road. A cancel ends either at once, and the job joins it.
TEST(ConcurrentPsJobs, ACancelledJobLeavesNoThreadRunning) {
  ClaimSideChannelFds();
  TempDir dir, spool;
  setenv("TMPDIR", spool.path().c_str(), 1);
  const int before = LiveThreads();
  const struct {
    const char* nickname;
    std::string job;
  } roads[] = {{"Lumora MP2100 Series PS", WrapPjl(MakePs(dir, 40))},
               {"Lumora LP5200 Series PS", ReadFile(MakePdf(dir, 40))}};
  for (const auto& road : roads) {
    SCOPED_TRACE(road.nickname);
    const std::string path = dir / "job";
    WriteFile(path, road.job);
    // The queue's JCL, which the converter of the Larch road puts around the job.
    const std::string ppd = MakePpd(dir, road.nickname);
    WriteFile(ppd, ReadFile(ppd) +
                       "*JCLBegin: \"<1B>%-12345X@PJL JOB NAME=<22>Lumora<22><0D0A>\"\n"
                       "*JCLToPSInterpreter: \"@PJL ENTER LANGUAGE=POSTSCRIPT<0D0A>\"\n"
                       "*JCLEnd: \"<1B>%-12345X@PJL EOJ<0D0A><1B>%-12345X\"\n");
    const lumora::PsPrinterDescription printer = DescribePpd(ppd);
    lumora::PsJobHooks hooks;
    hooks.deviceUri = std::string("socket://127.0.0.1:9100");
    hooks.statusDeviceUri = [] { return std::string("socket://127.0.0.1:9100"); };
    hooks.childEnvironment = {"PPD=" + ppd};
    CancellingDevice device;
    StringLog log;
    int status = -1;
    std::thread runner([&] {
      lumora::PsJob job(printer, {"lumora-q", "8", "u", "t", "1", ""}, {path, -1}, device, log,
                        hooks);
      device.job = &job;
      status = job.Run();
    });
    runner.join();
    EXPECT_EQ(0, status) << log.Text();
    EXPECT_GE(device.threadsAtCancel, before + 2) << "the job's thread and its side-channel thread";
    EXPECT_EQ(before, LiveThreadsSettled(before));
    // The cut, then the job closed as the job file closes it.
    const std::string trailer(kCancelTrailer, kCancelTrailerLen);
    const size_t at = device.bytes.find(trailer);
    ASSERT_NE(std::string::npos, at);
    const std::string close = device.bytes.substr(at + trailer.size());
    EXPECT_EQ(0u, close.find("\x1b%-12345X@PJL")) << close;
    EXPECT_NE(std::string::npos, close.find("@PJL EOJ")) << close;
  }
  EXPECT_TRUE(ListDir(spool.path()).empty());
}

}  // namespace

}  // namespace lumora::test
