// SPDX-License-Identifier: GPL-2.0-or-later
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "side_job.h"

extern char** environ;

namespace lumora {

namespace {

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
};

// The process's environment with the given entries added or replaced.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.compare(0, name.size(), name) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> p;
  for (const auto& t : texts) p.push_back(const_cast<char*>(t.c_str()));
  p.push_back(nullptr);
  return p;
}

// A program's standard error as lines of the job's log.
class LogLines {
 public:
  explicit LogLines(const SideJob& job) : job_(job) {}
  ~LogLines() { Flush(); }
  void Add(const char* data, size_t len) {
    text_.append(data, len);
    size_t start = 0;
    for (size_t nl; (nl = text_.find('\n', start)) != std::string::npos; start = nl + 1)
      Line(text_.substr(start, nl - start + 1));
    text_.erase(0, start);
  }
  void Flush() {
    if (!text_.empty()) Line(text_ + "\n");
    text_.clear();
  }

 private:
  void Line(std::string line) {
    static const char* const kLevels[] = {"DEBUG:", "DEBUG2:", "INFO:",  "NOTICE:", "WARNING:",
                                          "ERROR:", "CRIT:",   "ALERT:", "EMERG:",  "PAGE:",
                                          "ATTR:",  "STATE:",  "PPD:"};
    bool levelled = false;
    for (const char* level : kLevels) levelled = levelled || line.rfind(level, 0) == 0;
    // A helper ended by a cancel reports no failure of the job.
    if (levelled && job_.Cancelled() && line.rfind("ERROR:", 0) == 0) line.replace(0, 6, "DEBUG:");
    if (!levelled) line.insert(0, "DEBUG: ");
    job_.log().Line(line.c_str());
  }

  const SideJob& job_;
  std::string text_;
};

// Starts the program with its standard output on outFd. The child starts
// with default signal handling and nothing blocked, even though the filter
// ignores SIGPIPE and catches SIGTERM.
int Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
          int outFd, int errFd, pid_t* pid) {
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, outFd, 1);
  if (errFd >= 0) posix_spawn_file_actions_adddup2(&setup.actions, errFd, 2);
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGALRM);
  sigemptyset(&empty);
  posix_spawnattr_setsigdefault(&setup.attr, &defaults);
  posix_spawnattr_setsigmask(&setup.attr, &empty);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const std::vector<std::string> env = ChildEnvironment(environment);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  return posix_spawnp(pid, argv[0], &setup.actions, &setup.attr, argv.data(), envp.data());
}

int WaitForExit(pid_t pid) {
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

// Reads from fd into sink; false at its end.
bool ReadSome(int fd, const std::function<void(const char*, size_t)>& sink) {
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) < 0 && errno == EINTR) {
  }
  if (n <= 0) return false;
  sink(buf, static_cast<size_t>(n));
  return true;
}

// Reads the program's output and log to their ends; a cancel of the job
// ends the program (its output is still read, so it never blocks).
void ReadAll(int out, const std::function<void(const char*, size_t)>* sink, int err, pid_t pid,
             const SideJob* job) {
  LogLines lines(*job);
  const std::function<void(const char*, size_t)> toLog = [&](const char* d, size_t n) {
    lines.Add(d, n);
  };
  bool ended = false;
  while (out >= 0 || err >= 0) {
    // Until the program is ended, a cancel of the job wakes the wait too.
    pollfd fds[4] = {{out, POLLIN, 0},
                     {err, POLLIN, 0},
                     {ended ? -1 : job->CancelFd(), POLLIN, 0},
                     {ended ? -1 : job->OutsideWakeFd(), POLLIN, 0}};
    if (poll(fds, 4, -1) < 0 && errno != EINTR) break;
    if (!ended && job->Cancelled()) {
      kill(pid, SIGTERM);
      ended = true;
    }
    if (fds[0].revents && !ReadSome(out, *sink)) out = -1;
    if (fds[1].revents && !ReadSome(err, toLog)) err = -1;
  }
}

// A pipe closed when it goes: [0] read end, [1] write end.
struct Pipe {
  Fd ends[2];
  bool Open() {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    ends[0].fd = p[0];
    ends[1].fd = p[1];
    return true;
  }
  void CloseWriteEnd() {
    if (ends[1].fd >= 0) close(ends[1].fd);
    ends[1].fd = -1;
  }
};

// Runs the program; its output goes to outFd, or through a pipe to sink
// (and with a job, its log through another pipe to the job's log).
ChildResult Run(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                int outFd, const std::function<void(const char*, size_t)>* sink,
                const SideJob* job) {
  ChildResult result;
  if (args.empty() || (job != nullptr && job->Cancelled())) {
    result.error = args.empty() ? EINVAL : ECANCELED;
    return result;
  }
  Pipe output, log;
  if ((sink != nullptr && !output.Open()) || (job != nullptr && !log.Open())) {
    result.error = errno;
    return result;
  }
  pid_t pid = -1;
  const int rc = Spawn(args, environment, sink ? output.ends[1].fd : outFd, log.ends[1].fd, &pid);
  if (rc != 0) {
    result.error = rc;
    return result;
  }
  result.started = true;
  output.CloseWriteEnd();
  log.CloseWriteEnd();
  if (job != nullptr) {
    ReadAll(output.ends[0].fd, sink, log.ends[0].fd, pid, job);
  } else if (sink != nullptr) {
    while (ReadSome(output.ends[0].fd, *sink)) {
    }
  }
  result.status = WaitForExit(pid);
  return result;
}

}  // namespace

ChildResult RunProgram(const std::vector<std::string>& args,
                       const std::vector<std::string>& environment, int outFd,
                       size_t captureLimit, const SideJob* job) {
  if (outFd >= 0) return Run(args, environment, outFd, nullptr, job);
  std::string output;
  const std::function<void(const char*, size_t)> keep = [&](const char* data, size_t len) {
    const size_t room = captureLimit - std::min(captureLimit, output.size());
    output.append(data, std::min(room, len));
  };
  ChildResult result = Run(args, environment, -1, &keep, job);
  result.output = std::move(output);
  return result;
}

ChildResult RunProgramInto(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment,
                           const std::function<void(const char* data, size_t len)>& sink,
                           const SideJob* job) {
  return Run(args, environment, -1, &sink, job);
}

std::string FirstLine(const std::string& output, size_t maxLen) {
  size_t end = output.find('\n');
  if (end == std::string::npos) end = output.size();
  return output.substr(0, std::min(end, maxLen));
}

}  // namespace lumora
