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

#include "side_job.h"

extern char** environ;

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

// Starts the program with its standard output on out_fd. The child starts
// with default signal handling and nothing blocked, even though the filter
// ignores SIGPIPE and catches SIGTERM.
int Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
          int out_fd, pid_t* pid) {
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, out_fd, 1);
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

// Reads the program's output to its end; a cancel of the job ends the
// program (its output is still read, so it never blocks on the pipe).
void ReadAll(int fd, const std::function<void(const char*, size_t)>& sink, pid_t pid,
             const SideJob* job) {
  char buf[65536];
  bool ended = false;
  for (;;) {
    if (job != nullptr && !ended && job->Wait(fd, POLLIN, -1) < 0) {
      kill(pid, SIGTERM);
      ended = true;
    }
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sink(buf, static_cast<size_t>(n));
  }
}

// Runs the program; its output goes to out_fd, or through a pipe to sink.
ChildResult Run(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                int out_fd, const std::function<void(const char*, size_t)>* sink,
                const SideJob* job) {
  ChildResult result;
  if (args.empty() || (job != nullptr && job->Cancelled())) {
    result.error = args.empty() ? EINVAL : ECANCELED;
    return result;
  }
  Fd read_end, write_end;
  if (sink != nullptr) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) {
      result.error = errno;
      return result;
    }
    read_end.fd = p[0];
    write_end.fd = p[1];
    out_fd = p[1];
  }
  pid_t pid = -1;
  const int rc = Spawn(args, environment, out_fd, &pid);
  if (rc != 0) {
    result.error = rc;
    return result;
  }
  result.started = true;
  if (sink != nullptr) {
    close(write_end.fd);
    write_end.fd = -1;
    ReadAll(read_end.fd, *sink, pid, job);
  }
  result.status = WaitForExit(pid);
  return result;
}

}  // namespace

ChildResult RunProgram(const std::vector<std::string>& args,
                       const std::vector<std::string>& environment, int out_fd,
                       size_t capture_limit, const SideJob* job) {
  if (out_fd >= 0) return Run(args, environment, out_fd, nullptr, job);
  std::string output;
  const std::function<void(const char*, size_t)> keep = [&](const char* data, size_t len) {
    const size_t room = capture_limit - std::min(capture_limit, output.size());
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

std::string FirstLine(const std::string& output, size_t max_len) {
  size_t end = output.find('\n');
  if (end == std::string::npos) end = output.size();
  return output.substr(0, std::min(end, max_len));
}
