// SPDX-License-Identifier: GPL-2.0-or-later
#include "side_test_support.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace lumora::test::sidechannel {
namespace {

bool gPrivateNetwork = false;

// Brings the namespace's loopback interface up.
bool LoopbackUp() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  struct ifreq ifr;
  memset(&ifr, 0, sizeof(ifr));
  snprintf(ifr.ifr_name, sizeof(ifr.ifr_name), "lo");
  bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
  ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  close(fd);
  return ok;
}

int WaitStatus(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::vector<std::string> BuildEnv(const EnvList& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (entry.rfind("DEVICE_URI=", 0) == 0 || entry.rfind("LUMORA_", 0) == 0) continue;
    env.push_back(entry);
  }
  for (const auto& kv : extra) env.push_back(kv.first + "=" + kv.second);
  return env;
}

pid_t Spawn(const std::vector<std::string>& argv, const EnvList& extra, const std::string& out,
            const std::string& err) {
  std::vector<std::string> env = BuildEnv(extra);
  std::vector<char*> av, ev;
  for (const auto& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  for (const auto& e : env) ev.push_back(const_cast<char*>(e.c_str()));
  ev.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  if (posix_spawnp(&pid, av[0], &actions, nullptr, av.data(), ev.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

bool PrivateNetwork() { return gPrivateNetwork; }

RunResult Run(const std::vector<std::string>& argv, const EnvList& env) {
  TempDir dir;
  RunResult result;
  pid_t pid = Spawn(argv, env, dir.File("out"), dir.File("err"));
  if (pid < 0) return result;
  result.status = WaitStatus(pid);
  result.out = ReadFile(dir.File("out"));
  result.err = ReadFile(dir.File("err"));
  return result;
}

RunResult Probe(const std::vector<std::string>& args, const EnvList& env) {
  std::vector<std::string> argv = {LUMORA_SIDECHANNEL_PROBE};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, env);
}

RunResult ProbeWithUsb(const std::string& scenarioJson, const std::vector<std::string>& args,
                       std::string* rigLog, const EnvList& env) {
  TempDir dir;
  WriteFile(dir.File("scenario.json"), scenarioJson);
  std::vector<std::string> argv = {"/usr/bin/python3", RigPath("usb_printer_rig.py"),
                                   dir.File("scenario.json"), dir.File("rig.log"), "--",
                                   LUMORA_SIDECHANNEL_PROBE};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult result = Run(argv, env);
  if (rigLog != nullptr) *rigLog = ReadFile(dir.File("rig.log"));
  return result;
}

Background::Background(const std::vector<std::string>& argv, const std::string& stdoutFile,
                       const std::string& readyFile) {
  pid_ = Spawn(argv, {}, stdoutFile, stdoutFile + ".err");
  for (int i = 0; i < 500 && pid_ > 0; ++i) {  // up to 10 s
    if (!ReadFile(readyFile).empty()) {
      ready_ = true;
      break;
    }
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    usleep(20000);
  }
}

Background::~Background() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    WaitStatus(pid_);
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

std::string Hex(const unsigned char* data, size_t size) {
  std::string hex;
  char byte[3];
  for (size_t i = 0; i < size; ++i) {
    snprintf(byte, sizeof(byte), "%02x", data[i]);
    hex += byte;
  }
  return hex;
}

std::string RigPath(const std::string& name) { return std::string(LUMORA_SIDECHANNEL_RIGS) + "/" + name; }

bool UsbEmulationAvailable() {
  static const bool kAvailable =
      Run({"/usr/bin/python3", "-c",
           "import gi; gi.require_version('UMockdev', '1.0'); from gi.repository import UMockdev"})
          .status == 0;
  return kAvailable;
}

}  // namespace lumora::test::sidechannel

int main(int argc, char** argv) {
  // Own loopback for the SNMP agents: port 161 free, nothing leaves it.
  // Done before any thread starts; children inherit it.
  if (unshare(CLONE_NEWNET) == 0 && lumora::test::sidechannel::LoopbackUp()) lumora::test::sidechannel::gPrivateNetwork = true;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
