// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_server.h"

#include <grp.h>
#include <malloc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "app_driver.h"
#include "app_file_device.h"
#include "job_queue.h"

namespace lumora::app {

namespace {

std::string BaseName(const char* argv0) {
  std::string path = argv0 ? argv0 : kAppName;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// connect(2) to a domain socket: 0, or the errno.
int TryConnect(const std::string& path) {
  struct sockaddr_un addr {};
  if (path.size() >= sizeof(addr.sun_path)) return ENAMETOOLONG;
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int rc = connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) == 0 ? 0 : errno;
  close(fd);
  return rc;
}

gid_t GroupId(const std::string& name) {
  std::vector<char> buffer(16384);
  struct group gr;
  struct group* g = nullptr;
  if (getgrnam_r(name.c_str(), &gr, buffer.data(), buffer.size(), &g) != 0 || !g) {
    return static_cast<gid_t>(-1);
  }
  return g->gr_gid;
}

// "server -o NAME=VALUE ...": the options, or false on anything else.
bool ServerOptions(int argc, char* argv[], int* count, cups_option_t** options) {
  for (int i = 2; i < argc; i++) {
    if (strcmp(argv[i], "-o") != 0 || i + 1 >= argc) {
      fprintf(stderr, "%s: \"server\" takes only -o NAME=VALUE, not '%s'.\n", kAppName, argv[i]);
      return false;
    }
    *count = cupsParseOptions(argv[++i], *count, options);
  }
  return true;
}

// The server runs a thread per client and per job; glibc would give each
// an arena of its own (up to eight per core) and keep the pages freed in
// them: two arenas keep the server's memory near its idle size after jobs
// (MALLOC_ARENA_MAX, when set, decides instead).
void LimitArenas() {
  const char* set = getenv("MALLOC_ARENA_MAX");
  if (!set || !*set) mallopt(M_ARENA_MAX, 2);
}

// The server's own rounds over its jobs, in a thread of its own (no lock
// of PAPPL's held): once the system runs, the jobs reloaded from the state
// file are started (PAPPL never starts them); every second, jobs made by
// Create-Job whose document did not come in time are ended.
class JobRounds {
 public:
  JobRounds(pappl_system_t* system, int documentTimeout)
      : system_(system), timeout_(documentTimeout), thread_([this] { Run(); }) {}
  ~JobRounds() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  JobRounds(const JobRounds&) = delete;
  JobRounds& operator=(const JobRounds&) = delete;

 private:
  void Run() {
    bool started = false;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
      lock.unlock();
      try {
        if (!started && papplSystemIsRunning(system_)) {
          StartQueues(system_);
          started = true;
        }
        ExpireWaitingJobs(system_, timeout_, time(nullptr));
      } catch (const std::exception& e) {
        papplLog(system_, PAPPL_LOGLEVEL_ERROR, "Job rounds: %s", e.what());
      }
      lock.lock();
    }
  }

  pappl_system_t* system_;
  int timeout_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

int RunServer(int argc, char* argv[], AppContext& ctx) {
  LimitArenas();
  int count = 0;
  cups_option_t* options = nullptr;
  if (!ServerOptions(argc, argv, &count, &options)) {
    cupsFreeOptions(count, options);
    return 1;
  }
  pappl_system_t* system = SystemCallback(count, options, &ctx);
  cupsFreeOptions(count, options);
  if (!system) {
    fprintf(stderr, "%s: Failed to create a system.\n", kAppName);
    return 1;
  }
  int status = 1;
  {
    uid_t uid = getuid();
    ControlSocket control(ControlSocketPath(BaseName(argv[0]), uid),
                          uid == 0 ? GroupId(ctx.auth.adminGroup) : static_cast<gid_t>(-1));
    std::string why = control.Open(system);
    if (why.empty()) {
      JobRounds rounds(system, ctx.documentTimeout);
      papplSystemRun(system);
      status = 0;
    } else {
      fprintf(stderr, "%s: %s\n", kAppName, why.c_str());
    }
  }
  papplSystemDelete(system);
  return status;
}

// Sub-commands that never reach a server, and command lines that name one
// by URI.
bool NeedsControlSocket(const AppContext& ctx, int argc, char* argv[]) {
  if (ctx.subcommand == "server" || ctx.subcommand == "drivers") return false;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "-u") || !strcmp(argv[i], "--help") || !strcmp(argv[i], "--version")) {
      return false;
    }
  }
  return true;
}

bool AsksForHelp(int argc, char* argv[]) {
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "--version")) return true;
  }
  return false;
}

}  // namespace

std::string ControlSocketPath(const std::string& baseName, uid_t uid) {
  if (uid == 0) return "/run/" + baseName + ".sock";
  return std::string(papplGetTempDir()) + "/" + baseName + std::to_string(uid) + ".sock";
}

std::string ControlSocket::Open(pappl_system_t* system) {
  if (TryConnect(path_) == 0) return "a server already listens on " + path_;
  std::string base = path_.substr(0, path_.rfind(".sock"));
  std::vector<char> name(base.begin(), base.end());
  for (char c : std::string(".XXXXXX")) name.push_back(c);
  name.push_back('\0');
  if (!mkdtemp(name.data())) return base + ".XXXXXX: " + strerror(errno);
  dir_ = name.data();
  // Root's server: its admin group may reach the socket too.
  if (group_ != static_cast<gid_t>(-1) && (chown(dir_.c_str(), geteuid(), group_) != 0 ||
                                           chmod(dir_.c_str(), 0750) != 0)) {
    return dir_ + ": " + strerror(errno);
  }
  socket_ = dir_ + "/control.sock";
  if (!papplSystemAddListeners(system, socket_.c_str())) return "cannot listen on " + socket_;
  // The directory keeps others out; the socket itself is not theirs either.
  if (chmod(socket_.c_str(), 0660) != 0 ||
      (group_ != static_cast<gid_t>(-1) && chown(socket_.c_str(), geteuid(), group_) != 0)) {
    return socket_ + ": " + strerror(errno);
  }
  std::string link = dir_ + ".link";
  if (symlink(socket_.c_str(), link.c_str()) != 0) return link + ": " + strerror(errno);
  if (rename(link.c_str(), path_.c_str()) != 0) {
    std::string why = path_ + ": " + strerror(errno);
    unlink(link.c_str());
    return why;
  }
  linked_ = true;
  return "";
}

ControlSocket::~ControlSocket() {
  if (linked_) {
    char target[4096];
    ssize_t n = readlink(path_.c_str(), target, sizeof(target) - 1);
    // Only our own link: a later server may have taken the path.
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == socket_) unlink(path_.c_str());
  }
  if (!socket_.empty()) unlink(socket_.c_str());
  if (!dir_.empty()) rmdir(dir_.c_str());
}

std::string ControlSocketRefusal(const std::string& baseName, uid_t uid) {
  if (uid == 0) return "";
  struct stat st;
  if (lstat(ControlSocketPath(baseName, uid).c_str(), &st) == 0) return "";
  std::string system = ControlSocketPath(baseName, 0);
  if (TryConnect(system) != EACCES) return "";
  return "the server's control socket (" + system +
         ") admits only root and the members of its admin group.\n"
         "Print and look over IPP instead, for example: " +
         baseName + " submit -u ipp://localhost:8000/ipp/print/PRINTER FILE";
}

int RunCommand(int argc, char* argv[]) {
  // Before any other device call: the application's file scheme in place
  // of PAPPL's.
  RegisterDeviceSchemes();
  AppContext ctx(argc, argv);
  if (ctx.subcommand == "server" && !AsksForHelp(argc, argv)) return RunServer(argc, argv, ctx);
  if (NeedsControlSocket(ctx, argc, argv)) {
    std::string why = ControlSocketRefusal(BaseName(argv[0]), getuid());
    if (!why.empty()) {
      fprintf(stderr, "%s: %s\n", BaseName(argv[0]).c_str(), why.c_str());
      return 1;
    }
  }
  return papplMainloop(argc, argv, kAppVersion, "Lumora printer application",
                       static_cast<int>(ctx.drivers.size()), ctx.drivers.data(), AutoAddCallback,
                       DriverCallback, nullptr, nullptr, SystemCallback, nullptr, &ctx);
}

}  // namespace lumora::app
