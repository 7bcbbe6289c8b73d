// SPDX-License-Identifier: GPL-2.0-or-later
#include "prefilter_test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <cups/ppd.h>

#include "ps_filter.h"

namespace lumora::test::prefilter {

HookLog gHookLog;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/lumora-pf-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::string cmd = "rm -rf '" + path_ + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}

std::string MakePpd(const TempDir& dir, const std::string& nickname, const std::string& duplex,
                    const std::string& feedEdge, const std::string& pageSize) {
  std::string ppd =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"LUMORA.PPD\"\n"
      "*Manufacturer: \"Lumora\"\n*Product: \"(Lumora)\"\n*ModelName: \"" + nickname + "\"\n"
      "*ShortNickName: \"" + nickname + "\"\n*NickName: \"" + nickname + "\"\n"
      "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
      "*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"1\"\n*TTRasterizer: Type42\n"

      "*OpenUI *PageSize: PickOne\n" +
      (pageSize.empty() ? std::string() : "*DefaultPageSize: " + pageSize + "\n") +
      "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
      "*PageSize A5/A5: \"<</PageSize[420 595]>>setpagedevice\"\n"
      "*PageSize Letter/Letter: \"<</PageSize[612 792]>>setpagedevice\"\n*CloseUI: *PageSize\n"
      "*DefaultImageableArea: A4\n*ImageableArea A4/A4: \"0 0 595 842\"\n"
      "*ImageableArea A5/A5: \"0 0 420 595\"\n*ImageableArea Letter/Letter: \"0 0 612 792\"\n"
      "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595.3 842.9\"\n"
      "*PaperDimension A5/A5: \"420 595\"\n*PaperDimension Letter/Letter: \"612 792\"\n";
  if (!duplex.empty())
    ppd += "*OpenUI *Duplex: PickOne\n*DefaultDuplex: " + duplex +
           "\n*Duplex None/Off: \"\"\n*Duplex DuplexNoTumble/Long Edge: \"\"\n"
           "*Duplex DuplexTumble/Short Edge: \"\"\n*CloseUI: *Duplex\n";
  if (!feedEdge.empty())
    ppd += "*OpenUI *FeedEdge: PickOne\n*DefaultFeedEdge: " + feedEdge +
           "\n*FeedEdge ShortEdge/Short: \"\"\n*FeedEdge LongEdge/Long: \"\"\n*CloseUI: *FeedEdge\n";
  std::string path = dir / "queue.ppd";
  WriteFile(path, ppd);
  return path;
}

namespace {

// Generated documents, made once per test run.
TempDir& CacheDir() {
  static TempDir dir;
  return dir;
}

void Ghostscript(const std::string& device, const std::string& program, const std::string& out) {
  std::string src = out + ".src.ps";
  WriteFile(src, program);
  pid_t pid = fork();
  if (pid == 0) {
    setenv("TMPDIR", "/tmp", 1);
    execlp("gs", "gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", ("-sDEVICE=" + device).c_str(),
           ("-sOutputFile=" + out).c_str(), src.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (status != 0) throw std::runtime_error("ghostscript failed for " + out);
}

std::string PagesProgram(int pages, int w, int h) {
  return "%!PS\n<< /PageSize [" + std::to_string(w) + " " + std::to_string(h) +
         "] >> setpagedevice\n/Helvetica findfont 48 scalefont setfont\n1 1 " + std::to_string(pages) +
         " { /n exch def 72 300 moveto (Page ) show n 8 string cvs show showpage } for\n";
}

}  // namespace

std::string MakePdf(const TempDir&, int pages, const std::string& name) {
  std::string path = CacheDir() / (std::to_string(pages) + "-" + name);
  if (access(path.c_str(), R_OK) != 0) Ghostscript("pdfwrite", PagesProgram(pages, 595, 842), path);
  return path;
}

std::string MakePs(const TempDir&, int pages, int w, int h) {
  static std::map<std::string, std::string> made;
  std::string key = std::to_string(pages) + "-" + std::to_string(w) + "x" + std::to_string(h);
  if (!made.count(key)) {
    std::string path = CacheDir() / (key + ".ps");
    Ghostscript("ps2write", PagesProgram(pages, w, h), path);
    made[key] = ReadFile(path);
  }
  return made[key];
}

std::string WrapPjl(const std::string& ps, const std::string& jobName) {
  return "\x1b%-12345X@PJL JOB NAME=\"" + jobName + "\"\r\n@PJL SET RESOLUTION=600\r\n" +
         "@PJL ENTER LANGUAGE = POSTSCRIPT\r\n" + ps + "\x04\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X";
}

std::string FourHundredPages() {
  std::string ps = "%!PS-Adobe-3.0\n%%Pages: 400\n%%EndComments\n%%BeginSetup\n%%EndSetup\n";
  for (int page = 1; page <= 400; ++page) {
    ps += "%%Page: " + std::to_string(page) + " " + std::to_string(page) + "\n/Helvetica 9 selectfont\n";
    for (int line = 0; line < 40; ++line)
      ps += "72 " + std::to_string(760 - 15 * line) + " moveto (Line " + std::to_string(line) +
            " of the page, long enough to fill it) show\n";
    ps += "showpage\n";
  }
  return WrapPjl(ps + "%%EOF\n");
}

std::string JobClose(const std::string& job) {
  const size_t at = job.rfind("\x1b%-12345X@PJL");
  return at == std::string::npos ? std::string() : job.substr(at);
}

int PageComments(const std::string& text) {
  int n = 0;
  for (size_t at = text.find("%%Page:"); at != std::string::npos; at = text.find("%%Page:", at + 1)) ++n;
  return n;
}

SlowRead ReadSlowlyAndCancel(int fd, const std::function<void()>& cancel) {
  SlowRead r;
  char buf[8192];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0) {
    r.out.append(buf, static_cast<size_t>(n));
    if (r.at == 0 && r.out.size() >= 150000) {
      // The filter fills the pipe and waits: what the pipe holds stays the
      // same for 200 ms (at most 10 s on a busy machine).
      int held = -1;
      for (int same = 0, i = 0; same < 10 && i < 500; ++i) {
        usleep(20000);
        int now = 0;
        ioctl(fd, FIONREAD, &now);
        same = now == held ? same + 1 : 0;
        held = now;
      }
      r.at = r.out.size();
      r.held = static_cast<size_t>(held);
      cancel();
    }
    usleep(1000);
  }
  return r;
}

StderrCapture::StderrCapture() {
  static int counter = 0;
  path_ = CacheDir() / ("stderr-" + std::to_string(++counter));
  int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  fflush(stderr);
  saved_ = dup(2);
  dup2(fd, 2);
  close(fd);
}

StderrCapture::~StderrCapture() { Stop(); }

std::string StderrCapture::Stop() {
  if (saved_ >= 0) {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  return ReadFile(path_);
}

namespace {

// The line of RunJob's side-channel threads: counts them, talks to nobody.
class CountingLine : public DeviceLine {
 public:
  void KeepAlive() override {}
  bool JobCancelledAtPrinter(const cancel_query_arg&) override { return false; }
};

std::mutex gHookMutex;

std::unique_ptr<DeviceLine> OpenCountingLine(DeviceLineUse use, const std::string& uri) {
  std::lock_guard<std::mutex> hold(gHookMutex);
  if (use == DeviceLineUse::kStatus) {
    ++gHookLog.statusThreads;
    gHookLog.uri = uri;
  } else {
    ++gHookLog.keepaliveStarts;
  }
  return std::unique_ptr<DeviceLine>(new CountingLine);
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

lumora::PsPrinterDescription DescribePpd(const std::string& ppdPath) {
  ppd_file_t* ppd = ppdOpenFile(ppdPath.c_str());
  if (ppd == nullptr) return lumora::PsPrinterDescription();
  lumora::PsPrinterDescription printer = DescribePsPrinter(ppd);
  ppdClose(ppd);
  return printer;
}

StepJob::StepJob(const std::string& ppd, const std::string& options, const std::string& copies,
                 lumora::PsJobHooks hooks)
    : printer(DescribePpd(ppd)),
      state(new lumora::PsJobState(printer, {"lumora-q", "1", "u", "t", copies, options}, device,
                                   log, std::move(hooks))) {}

// Descriptors 3 and 4 are /dev/null as under cupsfilter: the side-channel
// query fails at once, and no test file can land on descriptor 4.
void ClaimSideChannelFds() {
  static bool done = false;
  if (done) return;
  int fd = open("/dev/null", O_RDWR);
  dup2(fd, 3);
  dup2(fd, 4);
  if (fd > 4) close(fd);
  done = true;
}

JobRun RunJob(const std::vector<std::string>& args, const std::string& input, const std::string& ppd,
              const std::string& tmpdir, bool canceled, const std::string& pdftops) {
  ClaimSideChannelFds();
  setenv("PPD", ppd.c_str(), 1);
  setenv("TMPDIR", tmpdir.c_str(), 1);
  setenv("CUPS_SERVER", "/nonexistent-lumora/cups.sock", 1);
  unsetenv("DEVICE_URI");
  gHookLog = HookLog();

  static int counter = 0;
  std::string inPath = CacheDir() / ("in-" + std::to_string(++counter));
  std::string outPath = CacheDir() / ("out-" + std::to_string(counter));
  WriteFile(inPath, input);
  int inFd = open(inPath.c_str(), O_RDONLY);
  int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<std::string> all = {"lumora-q"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  lumora::FdOutput device(outFd);
  lumora::StderrLog log;
  PsFilterIo io;
  io.device = &device;
  io.log = &log;
  io.inFd = inFd;
  io.deviceIdTimeout = 0.2;
  io.adjustHooks = [&](lumora::PsJobHooks& hooks) {
    hooks.refusalPauseSeconds = 0;
    if (!pdftops.empty()) hooks.pdftopsPath = pdftops;
    if (canceled) hooks.cancelled = [] { return true; };
    hooks.deviceUri = std::string("socket://counted.invalid");
    hooks.deviceLine = OpenCountingLine;
  };
  JobRun run;
  {
    StderrCapture capture;
    run.status = PsToLumoraJob(static_cast<int>(all.size()), argv.data(), io);
    run.err = capture.Stop();
  }
  close(inFd);
  close(outFd);
  run.out = ReadFile(outPath);
  unlink(inPath.c_str());
  unlink(outPath.c_str());
  gHookLog.keepaliveStops = Count(run.err, "End::g_bDammyEnd = 1\n");
  const size_t at = run.err.find(",jobid:");
  if (at != std::string::npos) gHookLog.jobId = atoi(run.err.c_str() + at + 7);
  return run;
}

std::string PstoLumoraPath() { return PSTOLUMORA_PATH; }
std::string ResponderPath() { return SC_RESPONDER_PATH; }
std::string ModelsTsvPath() { return MODELS_TSV; }

}  // namespace lumora::test::prefilter
