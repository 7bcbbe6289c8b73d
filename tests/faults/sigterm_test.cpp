// SPDX-License-Identifier: GPL-2.0-or-later
// SIGTERM at random moments, a hundred runs of each filter. Whatever the
// moment: every record written is whole with a valid checksum, no temporary
// file is left, and the exit status is the filter's: rastertoLumora 0 (a
// cancel is no failure, even before the first page), pstoLumora 0 with its output either the whole
// job or the job cut at a page boundary and closed by the cancel trailer.
// A signal that arrives before a filter installed its handler ends it with
// no output at all; that is counted and allowed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdint>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "faults_support.h"
#include "job_stream_reader.h"
#include "ps_rewrite.h"

namespace lumora::test {

using namespace faults;

namespace {

constexpr int kRuns = 100;

// Microseconds of the monotonic clock: 64 bits, also where long has 32
// (armhf), whose long wraps after 36 minutes of uptime.
int64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// How long one uninterrupted run takes, so that the signals spread over the
// whole job (not an assertion: only the range of the random delays).
long DurationUs(const Launch& l, Outcome* full) {
  const int64_t start = NowUs();
  *full = RunFilter(l);
  return static_cast<long>(std::max<int64_t>(2000, NowUs() - start));
}

// Every other run the signal comes at a random time over the whole run
// (start-up and spooling included), the others once a random share of the
// job's output went out (the printing itself).
void PickMoment(Launch& l, long durationUs, size_t outputBytes, std::mt19937& rng) {
  if (std::uniform_int_distribution<int>(0, 1)(rng) == 0)
    l.termAfterUs = static_cast<int>(std::uniform_int_distribution<long>(0, durationUs * 13 / 10)(rng));
  else
    l.termAfterOutBytes = std::uniform_int_distribution<long>(1, static_cast<long>(outputBytes))(rng);
}

std::string Moment(const Launch& l) {
  return l.termAfterUs >= 0 ? std::to_string(l.termAfterUs) + " us"
                            : std::to_string(l.termAfterOutBytes) + " output bytes";
}

std::string Tail(const std::string& s) { return s.substr(s.size() > 2000 ? s.size() - 2000 : 0); }

TEST(Sigterm, RasterFilterAtRandomMoments) {
  TempDir dir;
  const std::string spool = dir.File("spool");
  mkdir(spool.c_str(), 0700);
  struct Queue {
    const char* model;
    const char* options;
    unsigned copies;
    bool completeOnCancel;  // PLATFORM_M stops after the page start instead
  } queues[] = {{kRasterModelZ, "Collate=True", 2, true},
                {kRasterModelC, "Duplex=DuplexNoTumble", 1, true},
                {kRasterModelM, "", 1, false}};
  std::vector<Launch> launches;
  std::vector<long> durations;
  std::vector<size_t> sizes;
  int q = 0;
  for (const Queue& queue : queues) {
    Launch l;
    l.program = RasterFilter();
    const std::string ppd = dir.File("q" + std::to_string(q) + ".ppd");
    WriteFile(ppd, RasterPpd(queue.model));
    l.stdinFile = MakeRasterJob(dir.File("q" + std::to_string(q) + ".ras"), 3, 144, 144, queue.copies);
    l.args = {"5", "bob", "cancel me", std::to_string(queue.copies), queue.options};
    l.env = {{"PPD", ppd}, {"TMPDIR", spool}, {"LUMORA_KEEPALIVE_INTERVAL_MS", "20"}};
    l.watchdogSeconds = 60;
    Outcome full;
    durations.push_back(DurationUs(l, &full));
    ASSERT_EQ(0, full.status) << full.err;
    sizes.push_back(full.out.size());
    launches.push_back(l);
    ++q;
  }

  std::mt19937 rng(20261209);
  int killedEarly = 0, beforePage = 0, afterPage = 0;
  for (int run = 0; run < kRuns; ++run) {
    const int k = run % 3;
    Launch l = launches[k];
    PickMoment(l, durations[k], sizes[k], rng);
    Outcome r = RunFilter(l);
    SCOPED_TRACE("run " + std::to_string(run) + " queue " + queues[k].model + " SIGTERM after " +
                 Moment(l) + "\n" + Tail(r.err));
    ASSERT_FALSE(r.hung);
    EXPECT_TRUE(ListDir(spool).empty());
    if (r.signal != 0) {
      EXPECT_EQ(SIGTERM, r.signal);
      EXPECT_EQ("", r.out);
      ++killedEarly;
      continue;
    }
    const bool pageStarted = r.err.find("PAGE: 1 ") != std::string::npos;
    EXPECT_EQ(0, r.status);  // a cancel is no failure, before the first page either
    (pageStarted ? afterPage : beforePage)++;
    if (r.out.empty()) continue;
    inspect::ReadOptions o;
    o.keepPixels = false;
    inspect::JobStream js = inspect::ReadJobStream(
        reinterpret_cast<const uint8_t*>(r.out.data()), r.out.size(), o);
    if (queues[k].completeOnCancel || !r.termSent) {
      EXPECT_TRUE(js.ok()) << js.errors[0].message << " at " << js.errors[0].offset;
      EXPECT_TRUE(js.jobEnd);
    } else {
      // Whole commands up to where the job stopped: the reader only misses
      // what never came.
      for (const auto& e : js.errors) {
        EXPECT_EQ(r.out.size(), e.offset) << e.message;
        EXPECT_EQ(0u, e.message.find("stream ends")) << e.message;
      }
    }
  }
  RecordProperty("killed_before_handler", killedEarly);
  printf("rastertoLumora: %d runs cancelled after the first page, %d before, %d ended before "
         "installing the handler\n", afterPage, beforePage, killedEarly);
}

// True once the process catches SIGTERM (its handler is installed).
bool CatchesSigterm(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 7, "SigCgt:") == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
  }
  return false;
}

// Cancelled while waiting for the first page header: the job sends nothing
// and ends with status 0 and an INFO line, not as a failure (the random
// runs rarely land there).
TEST(Sigterm, RasterFilterBeforeTheFirstPage) {
  TempDir dir;
  const std::string ppd = dir.File("z.ppd");
  WriteFile(ppd, RasterPpd(kRasterModelZ));
  const std::string raster = ReadFile(MakeRasterJob(dir.File("j.ras"), 1));
  int in[2], out[2], err[2];
  ASSERT_EQ(0, pipe(in));
  ASSERT_EQ(0, pipe(out));
  ASSERT_EQ(0, pipe(err));
  const std::string program = RasterFilter();
  const std::string ppdEnv = "PPD=" + ppd, tmpEnv = "TMPDIR=" + dir.path();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    char* argv[] = {const_cast<char*>("q"), const_cast<char*>("1"), const_cast<char*>("u"),
                    const_cast<char*>("t"), const_cast<char*>("1"), const_cast<char*>(""), nullptr};
    char* envp[] = {const_cast<char*>(ppdEnv.c_str()), const_cast<char*>(tmpEnv.c_str()), nullptr};
    execve(program.c_str(), argv, envp);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // The sync word lets the filter open the stream and install its handler;
  // then it waits for the page header.
  ASSERT_EQ(4, write(in[1], raster.data(), 4));
  for (int i = 0; i < 30000 && !CatchesSigterm(pid); ++i) usleep(1000);
  ASSERT_TRUE(CatchesSigterm(pid));
  usleep(20000);
  kill(pid, SIGTERM);
  signal(SIGPIPE, SIG_IGN);
  const ssize_t rest = write(in[1], raster.data() + 4, raster.size() - 4);
  (void)rest;
  close(in[1]);
  std::string outData, errData;
  char buf[4096];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof(buf))) > 0) outData.append(buf, static_cast<size_t>(n));
  while ((n = read(err[0], buf, sizeof(buf))) > 0) errData.append(buf, static_cast<size_t>(n));
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << errData;
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ("", outData);
  EXPECT_EQ(std::string::npos, errData.find("PAGE: 1"));
  EXPECT_TRUE(ErrorLines(errData).empty()) << ErrorLines(errData)[0];
  EXPECT_NE(std::string::npos, errData.find("INFO: The job was cancelled before its first page"));
  EXPECT_EQ(2u, ListDir(dir.path()).size()) << "only the PPD and the raster";
}

TEST(Sigterm, PrefilterAtRandomMoments) {
  TempDir dir;
  const std::string spool = dir.File("spool");
  mkdir(spool.c_str(), 0700);
  const std::string trailer(kCancelTrailer, kCancelTrailerLen);
  const std::string endOfJob(kEndOfJob, kEndOfJobLen);
  struct Queue {
    const char* nick;
    const char* options;
    const char* copies;
  } queues[] = {{kMapleNick, "", "1"}, {kPlainNick, "", "1"}, {kMapleNick, "Collate", "2"}};
  const std::string job = dir.File("job.ps");
  WriteFile(job, PsJobText(60, 16000));
  std::vector<Launch> launches;
  std::vector<long> durations;
  std::vector<std::string> whole;
  int q = 0;
  for (const Queue& queue : queues) {
    Launch l;
    l.program = PsFilter();
    const std::string ppd = dir.File("q" + std::to_string(q++) + ".ppd");
    WriteFile(ppd, PsPpdText(queue.nick));
    l.stdinFile = job;
    l.args = {"6", "carol", "cancel me", queue.copies, queue.options};
    l.env = {{"PPD", ppd}, {"TMPDIR", spool}};
    l.watchdogSeconds = 60;
    Outcome full;
    durations.push_back(DurationUs(l, &full));
    ASSERT_EQ(0, full.status) << full.err;
    whole.push_back(full.out);
    launches.push_back(l);
  }

  std::mt19937 rng(20261210);
  int killedEarly = 0, cut = 0, complete = 0;
  for (int run = 0; run < kRuns; ++run) {
    const int k = run % 3;
    Launch l = launches[k];
    PickMoment(l, durations[k], whole[k].size(), rng);
    Outcome r = RunFilter(l);
    SCOPED_TRACE("run " + std::to_string(run) + " queue " + queues[k].nick + " " +
                 queues[k].options + ", SIGTERM after " + Moment(l) + "\n" + Tail(r.err));
    ASSERT_FALSE(r.hung);
    EXPECT_TRUE(ListDir(spool).empty());
    if (r.signal != 0) {
      EXPECT_EQ(SIGTERM, r.signal);
      EXPECT_EQ("", r.out);
      ++killedEarly;
      continue;
    }
    EXPECT_EQ(0, r.status);
    if (r.out == whole[k]) {
      ++complete;
      continue;
    }
    // Cut: the job up to a page comment, then the trailer (and on the
    // collated road the end of its PJL job), then the PJL job closed as the
    // job file closes it.
    const std::string end = trailer + (std::string(queues[k].options) == "Collate" ? endOfJob : "") +
                            "\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X";
    ASSERT_GE(r.out.size(), end.size());
    const size_t kept = r.out.size() - end.size();
    EXPECT_EQ(end, r.out.substr(kept));
    EXPECT_EQ(0, whole[k].compare(0, kept, r.out, 0, kept)) << "not a prefix of the job";
    EXPECT_EQ(0, whole[k].compare(kept, 7, "%%Page:")) << "cut away from a page boundary";
    ++cut;
  }
  printf("pstoLumora: %d runs cut at a page, %d whole, %d ended before installing the handler\n",
         cut, complete, killedEarly);
}

}  // namespace

}  // namespace lumora::test
