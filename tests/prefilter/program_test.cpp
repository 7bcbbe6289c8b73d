// SPDX-License-Identifier: GPL-2.0-or-later
// pstoLumora as the scheduler runs it: a separate process with the real
// side channel on descriptor 4, signals and exit statuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "prefilter_test_util.h"
#include "ps_filter.h"
#include "ps_rewrite.h"
#include "support_check.h"

namespace lumora::test {

using namespace prefilter;

namespace {

const char* const kMapleId = "MFG:Lumora;CMD:PJL,PS;MDL:MP2310 series;CLS:PRINTER;";

// Puts fd on descriptor 4 of a child about to exec (kept across the exec).
void OntoFd4(int fd) {
  if (fd == 4)
    fcntl(4, F_SETFD, 0);
  else
    dup2(fd, 4);
}

// The backend end of a side channel: a responder process on descriptor 4.
class SideChannel {
 public:
  explicit SideChannel(const std::vector<std::string>& mode) {
    ClaimSideChannelFds();
    int sv[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv);
    filterEnd = sv[0];
    std::vector<std::string> args = {ResponderPath()};
    args.insert(args.end(), mode.begin(), mode.end());
    pid_ = fork();
    if (pid_ == 0) {
      OntoFd4(sv[1]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(sv[1]);
  }
  ~SideChannel() {
    if (filterEnd >= 0) close(filterEnd);
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  int filterEnd = -1;

 private:
  pid_t pid_ = -1;
};

struct Filter {
  pid_t pid = -1;
  int out = -1;  // read end of its standard output
  std::string errPath;

  Filter(const std::vector<std::string>& args, const std::string& ppd, int inFd, int fd4,
         const std::string& tmpdir, const std::vector<std::string>& extraEnv = {}) {
    static int counter = 0;
    errPath = tmpdir + "/../stderr-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    int p[2];
    pipe2(p, O_CLOEXEC);
    out = p[0];
    std::vector<std::string> all = {"lumora-q"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<std::string> env = {"PPD=" + ppd, "TMPDIR=" + tmpdir, "LANG=C.UTF-8",
                                    "PATH=/usr/bin:/bin", "CUPS_SERVER=/nonexistent-lumora/cups.sock"};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    pid = fork();
    if (pid == 0) {
      int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(inFd, 0);
      dup2(p[1], 1);
      dup2(err, 2);
      if (fd4 >= 0)
        OntoFd4(fd4);
      else
        close(4);
      std::vector<char*> argv, envp;
      for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
      for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      execve(PstoLumoraPath().c_str(), argv.data(), envp.data());
      _exit(127);
    }
    close(p[1]);
  }
  std::string ReadAll() {
    std::string data;
    char buf[65536];
    ssize_t n;
    while ((n = read(out, buf, sizeof(buf))) > 0) data.append(buf, static_cast<size_t>(n));
    return data;
  }
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    close(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Err() { return ReadFile(errPath); }
  ~Filter() { unlink(errPath.c_str()); }
};

class Program : public ::testing::Test {
 protected:
  int Input(const std::string& data) {
    std::string path = dir_ / ("input-" + std::to_string(++inputs_));
    WriteFile(path, data);
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  TempDir dir_, spool_;
  int inputs_ = 0;
};

TEST_F(Program, WrongArgumentCount) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"1", "u"},
                                               std::vector<std::string>{"1", "u", "t", "1", "", "f", "x"}}) {
    Filter f(args, MakePpd(dir_, "Lumora MP2100 Series PS"), Input(""), -1, spool_.path());
    EXPECT_EQ("", f.ReadAll());
    EXPECT_EQ(1, f.Wait());
    EXPECT_EQ("ERROR: Usage: pstoLumora job-id user title copies options [file]\n", f.Err());
  }
}

TEST_F(Program, UnsupportedPrinterRefusedWithoutReadingInput) {
  int in = Input(WrapPjl(MakePs(dir_, 1)));
  Filter f({"1", "u", "t", "1", ""}, MakePpd(dir_, "Other Printer"), in, -1, spool_.path());
  EXPECT_EQ("", f.ReadAll());
  EXPECT_EQ(1, f.Wait());
  EXPECT_EQ(0, lseek(in, 0, SEEK_CUR));
  EXPECT_EQ(0u, f.Err().find("DEBUG: cups api can't find 1284 information.\n"));
  EXPECT_NE(std::string::npos, f.Err().find("ERROR:当前打印机不可打印，请使用正确的打印机\n"));
  EXPECT_TRUE(ListDir(spool_.path()).empty());
}

TEST_F(Program, DeviceIdOverSideChannelDecides) {
  std::string job = WrapPjl(MakePs(dir_, 1));
  std::string other = MakePpd(dir_, "Other Printer");
  {
    SideChannel backend({"id", kMapleId});
    Filter f({"11", "u", "t", "1", ""}, other, Input(job), backend.filterEnd, spool_.path());
    std::string out = f.ReadAll();
    EXPECT_EQ(0, f.Wait()) << f.Err();
    EXPECT_NE(std::string::npos, out.find("\r\n@PJL SET JOBID=11\r\n"));  // maple rewriting
  }
  {
    SideChannel backend({"id", "MFG:Lumora;MDL:MP2310 series;"});
    Filter f({"11", "u", "t", "1", ""}, other, Input(job), backend.filterEnd, spool_.path());
    EXPECT_EQ("", f.ReadAll());
    EXPECT_EQ(1, f.Wait());
  }
  {
    SideChannel backend({"id", "MFG:Lumora;MDL:LP5310 series;CLS:PRINTER;"});
    Filter f({"12", "u", "t", "1", "", MakePdf(dir_, 2)}, other, Input(""), backend.filterEnd, spool_.path());
    EXPECT_EQ(0u, f.ReadAll().find("%!PS-Adobe-3.0"));  // the PDF road
    EXPECT_EQ(0, f.Wait()) << f.Err();
  }
  EXPECT_TRUE(ListDir(spool_.path()).empty());
}

TEST_F(Program, SigtermCutsAtNextPage) {
  std::string job = WrapPjl(MakePs(dir_, 4));
  Filter f({"2", "u", "t", "1", ""}, MakePpd(dir_, "Lumora OP3100 Series PS"), Input(job), -1, spool_.path());
  char first;
  ASSERT_EQ(1, read(f.out, &first, 1));  // copying has begun; the pipe holds it back
  kill(f.pid, SIGTERM);
  std::string out = first + f.ReadAll();
  EXPECT_EQ(0, f.Wait());
  EXPECT_EQ(job.substr(0, job.find("%%Page:")) + std::string(kCancelTrailer, kCancelTrailerLen) +
                JobClose(job),
            out);
  EXPECT_NE(std::string::npos, f.Err().find("cancel_job =1\n"));
  EXPECT_TRUE(ListDir(spool_.path()).empty());
}

TEST_F(Program, SigtermOnASlowBackendSendsOnlyWhatThePipeHeldAndTheCut) {
  const std::string path = dir_ / "400-pages.prn";
  WriteFile(path, FourHundredPages());
  const std::string trailer = std::string(kCancelTrailer, kCancelTrailerLen) + JobClose(ReadFile(path));
  int pagesAfter[2] = {0, 0};
  for (int maple = 0; maple < 2; ++maple) {
    Filter f({"3", "u", "t", "1", "", path},
             MakePpd(dir_, maple ? "Lumora MP2100 Series PS" : "Lumora OP3100 Series PS"), Input(""), -1,
             spool_.path());
    SlowRead r = ReadSlowlyAndCancel(f.out, [&] { kill(f.pid, SIGTERM); });
    EXPECT_EQ(0, f.Wait());
    ASSERT_GT(r.at, 0u);
    ASSERT_GE(r.out.size(), r.at + r.held);
    const std::string after = r.out.substr(r.at);
    const std::string beyond = after.substr(r.held);
    pagesAfter[maple] = PageComments(after);
    RecordProperty(maple ? "maple_pages_after" : "plain_pages_after", pagesAfter[maple]);
    RecordProperty(maple ? "maple_bytes_beyond_pipe" : "plain_bytes_beyond_pipe", beyond.size());
    EXPECT_EQ(trailer, r.out.substr(r.out.size() - trailer.size())) << maple;
    // Beyond what the pipe held: the 8 KiB block under way and the next one
    // up to its page comment (plain), or the line under way and the lines
    // up to the next page comment (maple), then the trailer.
    if (maple) {
      EXPECT_EQ(0, PageComments(beyond));
    }
    EXPECT_LE(beyond.size(), (maple ? 4096u : 2 * 8192u) + trailer.size()) << maple;
  }
  // The pipes held the same pages but for the few bytes the maple header adds.
  EXPECT_LE(pagesAfter[1], pagesAfter[0] + 1);
}

// A Larch job to a network printer without an SNMP agent: the keep-alive
// thread is in its 2 s wait for a reply or its 5 s pause when the copy ends,
// and the job ends at once all the same, well before the next exchange.
TEST_F(Program, NetworkKeepAliveDoesNotHoldTheJobEnd) {
  Filter f({"5", "u", "t", "1", "", MakePdf(dir_, 5)}, MakePpd(dir_, "Lumora LP5200 Series PS"), Input(""), -1,
           spool_.path(), {"DEVICE_URI=socket://127.0.0.1:9100"});
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(f.out, buf, sizeof(buf))) > 0) {
    out.append(buf, static_cast<size_t>(n));
    last = Clock::now();
  }
  EXPECT_EQ(0, f.Wait());
  const auto lingered = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last).count();
  RecordProperty("ms_after_last_byte", static_cast<int>(lingered));
  EXPECT_LT(lingered, 2500);
  EXPECT_EQ(0u, out.find("%!PS-Adobe-3.0"));
  EXPECT_NE(std::string::npos, f.Err().find("End::g_bDammyEnd = 1\n"));
}

// query1284info in this process, over a socket pair on descriptor 4.
TEST(DeviceIdQuery, AnswersOfTheBackend) {
  const std::string tooLong(600, 'x');
  const struct {
    std::vector<std::string> mode;
    bool ok;
  } cases[] = {{{"id", kMapleId}, true}, {{"none"}, false}, {{"silent"}, false}, {{"id", tooLong}, false}};
  int saved = dup(4);
  for (const auto& c : cases) {
    SideChannel backend(c.mode);
    dup2(backend.filterEnd, 4);
    lumora::PsJobHooks hooks;
    hooks.deviceId = [](char* id, int* len) { return QueryDeviceIdOverSideChannel(id, len, 0.3); };
    TempDir dir;
    StepJob job(MakePpd(dir, "Lumora MP2100 Series PS"), "", "1", hooks);
    char buf[512];
    memset(buf, 'z', sizeof(buf));
    int len = 511;
    StderrCapture capture;
    EXPECT_EQ(c.ok, query1284info(*job, buf, &len)) << c.mode[0];
    std::string log = capture.Stop();
    EXPECT_STREQ(c.ok ? kMapleId : "", buf);
    if (c.ok) {
      EXPECT_EQ(static_cast<int>(strlen(kMapleId)), len);
    }
    EXPECT_EQ(c.ok ? "" : "DEBUG: cups api can't find 1284 information.\n", log);
  }
  dup2(saved, 4);
  close(saved);
}

// A backend that reads the side channel and never answers: the first
// device-id query of a job waits out the time-out, the later ones of the
// same job (two on the PostScript road, three on the PDF road) do not ask
// again and fail at once with the same message.
TEST(DeviceIdQuery, UnansweredQueryIsNotAskedAgainInTheJob) {
  TempDir dir, spool;
  const struct {
    const char* nickname;
    std::vector<std::string> args;
    int queries;
  } roads[] = {{"Lumora MP2100 Series PS", {"1", "u", "t", "1", ""}, 2},
               {"Lumora LP5200 Series PS", {"1", "u", "t", "1", "", MakePdf(dir, 2)}, 3}};
  ClaimSideChannelFds();
  int saved = dup(4);
  for (const auto& road : roads) {
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv));
    dup2(sv[0], 4);
    JobRun run = RunJob(road.args, WrapPjl(MakePs(dir, 1)), MakePpd(dir, road.nickname), spool.path());
    dup2(saved, 4);
    char requests[64];
    EXPECT_EQ(4, recv(sv[1], requests, sizeof(requests), MSG_DONTWAIT)) << road.nickname;  // one
    close(sv[0]);
    close(sv[1]);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("%!PS"));
    size_t failed = 0;
    for (size_t at = 0; (at = run.err.find("cups api can't find 1284 information.\n", at)) != std::string::npos; ++at)
      ++failed;
    EXPECT_EQ(static_cast<size_t>(road.queries), failed) << road.nickname;
  }
  close(saved);
}

}  // namespace

}  // namespace lumora::test
