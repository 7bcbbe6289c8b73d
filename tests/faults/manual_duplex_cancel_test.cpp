// SPDX-License-Identifier: GPL-2.0-or-later
// A manual-duplex job cancelled at any moment: while its front sides print,
// while its back sides go to the spool file, between the replayed back
// sides, and in the pause for turning the stack. Whatever the moment, the
// printer gets a whole stream that ends with its job end, and the pause
// ends at once.
//
// First through the job library (which the filter and the printer
// application both drive): the cancel becomes true at each of the job's
// cancel checks in turn. Then the real filter, with SIGTERM stepped through
// the whole job and into its pause.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "faults_support.h"
#include "job_stream_reader.h"
#include "memory_output.h"
#include "raster_job.h"

namespace lumora::test {

using namespace faults;

namespace {

const char kPrompt[] = "Turn the printed stack over and put it back in the tray";

struct StepCase {
  const char* name;
  const char* model;
  const char* options;
  int pages;
  unsigned copies;
  unsigned threads;  // 2: pages are compressed while the next is read
  int duplexFrom = 0;  // the page headers ask for duplex from this page on
};

const StepCase kStepCases[] = {
    // Duplex promoted to manual duplex; an odd count gets a blank back.
    {"Z promoted, 5 pages", "Lumora Cedar C200 Series", "Duplex=DuplexNoTumble", 5, 1, 1},
    // The fronts of the second copy are replayed before the backs.
    {"Z collated, 2 copies of 4 pages", "Lumora Cedar C200 Series",
     "Duplex=DuplexTumble Collate=True", 4, 2, 2},
    {"C manual duplex, blank back after", "Lumora Hazel H1 Series",
     "ManualDuplex=True outputorder=True", 5, 1, 2},
};

lumora::PrinterDescription ManualDuplexPrinter(const char* model) {
  lumora::PrinterDescription p;
  p.modelName = model;
  p.supportManualDuplex = "TRUE";
  p.manualDuplexPrompt = kPrompt;
  return p;
}

// Small pages (a custom size of one inch) whose ink says which page they are.
cups_page_header2_t PageHeader(unsigned copies) {
  cups_page_header2_t h{};
  h.PageSize[0] = 72;
  h.PageSize[1] = 72;
  h.HWResolution[0] = h.HWResolution[1] = 600;
  h.cupsWidth = h.cupsBytesPerLine = 256;
  h.cupsHeight = 48;
  h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
  h.NumCopies = copies;
  return h;
}

struct StepRun {
  int status = -1;
  std::string out;
  std::string log;
  long polls = 0;  // cancel checks made
};

// The job as the filter drives it; the cancel is true from check `cancelAt`
// on (never when negative); the device takes `budget` bytes.
StepRun RunSteppedJob(const StepCase& c, long cancelAt, size_t budget = SIZE_MAX) {
  MemoryDevice device;
  device.budget = budget;
  MemoryLog log;
  long polls = 0;
  lumora::JobHooks hooks;
  hooks.threads = c.threads;
  hooks.cancelled = [&polls, cancelAt] { return ++polls > cancelAt && cancelAt >= 0; };
  hooks.clock = [] { return static_cast<time_t>(1700000000); };
  hooks.hostName = [](char* name, size_t len) {
    snprintf(name, len, "host");
    return 0;
  };
  // A pause that would outlast the test: a cancel must end it.
  hooks.manualDuplexPauseSeconds = cancelAt >= 0 ? 3600 : 0;
  lumora::RasterJob job(ManualDuplexPrinter(c.model), lumora::JobTicket{"9", "steps", c.options},
                        device, log, hooks);
  cups_page_header2_t header = PageHeader(c.copies);
  std::vector<uint8_t> line(header.cupsBytesPerLine);
  for (int page = 1; page <= c.pages; ++page) {
    header.Duplex = c.duplexFrom > 0 && page >= c.duplexFrom ? CUPS_TRUE : CUPS_FALSE;
    if (job.StartPage(header) == lumora::PageStart::kStop) break;
    for (unsigned y = 0; job.WantsLines(); ++y) {
      for (unsigned x = 0; x < line.size(); ++x)
        line[x] = x / 16 < static_cast<unsigned>(page) && y < 24 ? 0 : 255;
      job.WriteLines(line.data(), 1);
    }
    if (!job.EndPage()) break;
  }
  StepRun r;
  r.status = job.EndJob();
  r.out = device.bytes;
  r.log = log.lines;
  r.polls = polls;
  return r;
}

// Runs fn, but a job stuck in its pause fails the test (it could not be
// stopped from here: the process ends).
template <typename Fn>
auto Watched(Fn fn) -> decltype(fn()) {
  auto result = std::async(std::launch::async, fn);
  if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    fprintf(stderr, "FAILED: a cancelled manual-duplex job still waits in its pause\n");
    std::_Exit(1);
  }
  return result.get();
}

std::string PageOrder(const inspect::JobStream& js) {
  std::string s;
  size_t md = 0;
  for (size_t i = 0; i <= js.pages.size(); ++i) {
    for (; md < js.manualDuplex.size() && js.manualDuplex[md].pagesBefore == i; ++md) s += "MD ";
    if (i < js.pages.size()) s += std::to_string(js.pages[i].number) + " ";
  }
  return s;
}

// The printer gone at any moment of a job: whatever was sent, the job ends
// with an ERROR line and status 1, never "Ready to print". The last case
// turns to manual duplex on its second page, where the pages still waiting
// for their compression are sent first.
TEST(ManualDuplexCancel, PrinterGoneAtAnyMomentFailsTheJob) {
  std::vector<StepCase> cases(std::begin(kStepCases), std::end(kStepCases));
  cases.push_back({"Z manual duplex from page 2", "Lumora Cedar C200 Series", "", 4, 1, 2, 2});
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t whole = RunSteppedJob(c, -1).out.size();
    for (size_t budget = 0; budget < whole; budget += whole / 23 + 1) {
      const StepRun r = RunSteppedJob(c, -1, budget);
      EXPECT_EQ(r.status, 1) << budget;
      EXPECT_NE(r.log.find("ERROR: Unable to send print data to the printer"), std::string::npos)
          << budget;
      EXPECT_EQ(r.log.find("Ready to print"), std::string::npos) << budget;
    }
  }
}

TEST(ManualDuplexCancel, AtEveryCancelCheckOfTheJob) {
  for (const StepCase& c : kStepCases) {
    SCOPED_TRACE(c.name);
    const StepRun full = RunSteppedJob(c, -1);
    ASSERT_EQ(0, full.status) << full.log;
    const inspect::JobStream whole = inspect::ReadJobStream(
        reinterpret_cast<const uint8_t*>(full.out.data()), full.out.size());
    ASSERT_TRUE(whole.ok() && whole.jobEnd);
    ASSERT_EQ(1u, whole.manualDuplex.size());
    const std::string order = PageOrder(whole);
    const std::string jobEnd = full.out.substr(whole.jobEndOffset);
    int cut = 0;
    for (long at = 0; at <= full.polls; ++at) {
      SCOPED_TRACE("cancelled at check " + std::to_string(at) + " of " +
                   std::to_string(full.polls));
      const StepRun r = Watched([&c, at] { return RunSteppedJob(c, at); });
      EXPECT_EQ(0, r.status) << r.log;
      EXPECT_EQ(std::string::npos, r.log.find("ERROR:")) << r.log;
      if (r.out.empty()) {
        // Only before the first page: nothing for the printer, and the log
        // says why.
        EXPECT_EQ(0, at);
        EXPECT_NE(std::string::npos, r.log.find("INFO: The job was cancelled before its first page"))
            << r.log;
        continue;
      }
      const inspect::JobStream js = inspect::ReadJobStream(
          reinterpret_cast<const uint8_t*>(r.out.data()), r.out.size());
      ASSERT_TRUE(js.ok()) << js.errors[0].message << " at " << js.errors[0].offset << " of "
                           << r.out.size() << "; pages " << PageOrder(js);
      ASSERT_TRUE(js.jobEnd);
      // The job as far as it went, cut at a page, then its job end. (The
      // page the cancel came in is finished white, so its own bytes differ.)
      EXPECT_EQ(0u, order.find(PageOrder(js))) << PageOrder(js) << "against " << order;
      EXPECT_EQ(jobEnd, r.out.substr(js.jobEndOffset));
      const size_t kept = js.pages.empty() ? js.jobEndOffset : js.pages.back().offset;
      EXPECT_EQ(0, full.out.compare(0, kept, r.out, 0, kept)) << "not the job's own bytes";
      if (r.out != full.out) ++cut;
    }
    EXPECT_GT(cut, c.pages) << "the cancels fell on too few moments";
  }
}

// A printer application cancels from another thread while the job waits in
// its pause: the wait ends.
TEST(ManualDuplexCancel, CancelFromAnotherThreadEndsThePause) {
  class FlagDevice : public lumora::ByteOutput {
   public:
    bool Write(const void* data, size_t len) override {
      seen.append(static_cast<const char*>(data), len);
      if (seen.find("@PJL EOJ") != std::string::npos) ended = true;
      return true;
    }
    std::string seen;
    std::atomic<bool> ended{false};
  } device;
  MemoryLog log;
  lumora::JobHooks hooks;
  hooks.threads = 1;
  hooks.manualDuplexPauseSeconds = 3600;
  lumora::RasterJob job(ManualDuplexPrinter("Lumora Cedar C200 Series"),
                        lumora::JobTicket{"9", "pause", "Duplex=DuplexNoTumble"}, device, log,
                        hooks);
  const cups_page_header2_t header = PageHeader(1);
  std::vector<uint8_t> line(header.cupsBytesPerLine, 0x80);
  for (int page = 0; page < 3; ++page) {
    ASSERT_EQ(lumora::PageStart::kPrint, job.StartPage(header));
    while (job.WantsLines()) job.WriteLines(line.data(), 1);
    ASSERT_TRUE(job.EndPage());
  }
  std::thread canceller([&] {
    while (!device.ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    job.Cancel();
  });
  const int status = Watched([&job] { return job.EndJob(); });
  canceller.join();
  EXPECT_EQ(0, status);
}

// The real filter, SIGTERM stepped through the job: over its whole run
// (fronts, back sides, replay) and past it into the pause, and after every
// eighth of its output.
TEST(ManualDuplexCancel, SigtermSteppedThroughTheFilterAndItsPause) {
  TempDir dir;
  const std::string spool = dir.File("spool");
  mkdir(spool.c_str(), 0700);
  const std::string ppd = dir.File("c200.ppd");
  WriteFile(
      ppd, RasterPpd("Lumora Cedar C200 Series",
                                  "*cupsIPPReason SupportManualDuplex/TRUE: \"\"\n"
                                  "*cupsIPPReason MDuplex/" + std::string(kPrompt) + ": \"\"\n"));
  Launch l;
  l.program = RasterFilter();
  l.stdinFile = MakeRasterJob(dir.File("job.ras"), 7, 298, 420);
  l.args = {"11", "dora", "manual duplex", "1", "Duplex=DuplexNoTumble"};
  l.env = {{"PPD", ppd}, {"TMPDIR", spool}};
  l.watchdogSeconds = 60;
  const auto start = std::chrono::steady_clock::now();
  const Outcome full = RunFilter(l);
  const long durationUs = std::max<long>(
      20000, std::chrono::duration_cast<std::chrono::microseconds>(
                 std::chrono::steady_clock::now() - start).count());
  ASSERT_EQ(0, full.status) << full.err;
  ASSERT_NE(std::string::npos, full.err.find(kPrompt));

  // From here on the pause would last ten minutes unless the cancel ends it.
  l.env["LUMORA_MANUAL_DUPLEX_PAUSE"] = "600";
  std::vector<Launch> runs;
  for (int i = 1; i <= 18; ++i) {
    Launch r = l;
    r.termAfterUs = static_cast<int>(durationUs * i / 15);
    runs.push_back(r);
  }
  for (int i = 1; i <= 8; ++i) {
    Launch r = l;
    r.termAfterOutBytes = static_cast<long>(full.out.size()) * i / 8;
    runs.push_back(r);
  }
  int killedEarly = 0;
  for (const Launch& r : runs) {
    const Outcome o = RunFilter(r);
    SCOPED_TRACE("SIGTERM after " + (r.termAfterUs >= 0 ? std::to_string(r.termAfterUs) + " us"
                                                          : std::to_string(r.termAfterOutBytes) +
                                                                " output bytes") +
                 "\n" + o.err.substr(o.err.size() > 1500 ? o.err.size() - 1500 : 0));
    ASSERT_FALSE(o.hung) << "the filter sat out its pause after SIGTERM";
    EXPECT_TRUE(ListDir(spool).empty());
    if (o.signal != 0) {  // before the handler was installed
      EXPECT_EQ("", o.out);
      ++killedEarly;
      continue;
    }
    EXPECT_EQ(0, o.status);
    EXPECT_TRUE(ErrorLines(o.err).empty()) << ErrorLines(o.err)[0];
    if (o.out.empty()) continue;
    const inspect::JobStream js =
        inspect::ReadJobStream(reinterpret_cast<const uint8_t*>(o.out.data()), o.out.size());
    EXPECT_TRUE(js.ok()) << js.errors[0].message << " at " << js.errors[0].offset;
    EXPECT_TRUE(js.jobEnd);
  }
  EXPECT_LT(killedEarly, 4);
}

}  // namespace

}  // namespace lumora::test
