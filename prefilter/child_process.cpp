// SPDX-License-Identifier: GPL-2.0-or-later
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace {

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() { if (fd >= 0) close(fd); }
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

}  // namespace

ChildResult RunProgram(const std::vector<std::string>& args, int out_fd, size_t capture_limit) {
  ChildResult result;
  if (args.empty()) {
    result.error = EINVAL;
    return result;
  }
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  Fd read_end, write_end;
  if (out_fd < 0) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) {
      result.error = errno;
      return result;
    }
    read_end.fd = p[0];
    write_end.fd = p[1];
    out_fd = p[1];
  }

  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, out_fd, 1);
  // The child starts with default signal handling and nothing blocked, even
  // though the filter ignores SIGPIPE and catches SIGTERM.
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGALRM);
  sigemptyset(&empty);
  posix_spawnattr_setsigdefault(&setup.attr, &defaults);
  posix_spawnattr_setsigmask(&setup.attr, &empty);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &setup.actions, &setup.attr, argv.data(), environ);
  if (rc != 0) {
    result.error = rc;
    return result;
  }
  result.started = true;

  if (read_end.fd >= 0) {
    close(write_end.fd);
    write_end.fd = -1;
    char buf[8192];
    for (;;) {
      ssize_t n = read(read_end.fd, buf, sizeof(buf));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      size_t room = capture_limit - std::min(capture_limit, result.output.size());
      result.output.append(buf, std::min(room, static_cast<size_t>(n)));
    }
  }

  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) {
      result.status = -1;
      return result;
    }
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return result;
}

std::string FirstLine(const std::string& output, size_t max_len) {
  size_t end = output.find('\n');
  if (end == std::string::npos) end = output.size();
  return output.substr(0, std::min(end, max_len));
}
