// SPDX-License-Identifier: GPL-2.0-or-later
// A CUPS backend for the end-to-end tests: it stands in for a printer.
//
// It copies the job data it receives (standard input, or the file named by
// argv[6]) into OUT_DIR/<queue>-<job id>.prn and answers the filters' side
// channel requests while it copies.  Installed in a private scheduler's
// backend directory under the scheme names "usb" and "socket", so queues get
// real-looking device URIs (usb://Lumora/Printer?serial=1,
// socket://127.0.0.1:9100) and the filters see a real DEVICE_URI.
//
// Configuration, per queue, from files in OUT_DIR (the directory comes from
// the environment variable LUMORA_TEST_BACKEND_DIR, which the scheduler
// passes with SetEnv):
//   <queue>.deviceid  the IEEE-1284 device id answered to
//                     CUPS_SC_CMD_GET_DEVICE_ID (without the file the
//                     request gets CUPS_SC_STATUS_NOT_IMPLEMENTED)
//   <queue>.throttle  a number of milliseconds to wait after every 4 KiB,
//                     to make a job last long enough to be cancelled
//
// The job file is written as <queue>-<job id>.prn.part and renamed when the
// job data ended, so a test that sees the .prn file sees all of it.
#include <cups/backend.h>
#include <cups/cups.h>
#include <cups/sidechannel.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lumora::test {

namespace {

struct FileDescriptor {
  int fd = -1;
  explicit FileDescriptor(int f) : fd(f) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd > 2) close(fd);
  }
};

std::string ReadSmallFile(const std::string& path, bool* found) {
  std::ifstream in(path, std::ios::binary);
  *found = static_cast<bool>(in);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// Queue names become file names: keep them to a harmless alphabet.
std::string SafeName(const char* name) {
  std::string out;
  for (const char* p = name; p && *p; ++p) {
    const char c = *p;
    out += (isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
  }
  return out.empty() ? "queue" : out;
}

struct Config {
  std::string outDir;
  std::string queue;
  bool hasDeviceId = false;
  std::string deviceId;
  int throttleMs = 0;
};

void AnswerSideChannel(const Config& config) {
  cups_sc_command_t command;
  cups_sc_status_t status;
  char data[2048];
  int datalen = sizeof(data);
  if (cupsSideChannelRead(&command, &status, data, &datalen, 1.0) != 0) return;

  switch (command) {
    case CUPS_SC_CMD_GET_DEVICE_ID:
      if (!config.hasDeviceId) {
        cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, nullptr, 0, 1.0);
      } else {
        // The request carries no data; a reply longer than the filter's
        // buffer becomes CUPS_SC_STATUS_TOO_BIG on the filter's side.
        fprintf(stderr, "DEBUG: test backend: device id \"%s\"\n", config.deviceId.c_str());
        cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, config.deviceId.data(),
                             static_cast<int>(config.deviceId.size()), 1.0);
      }
      break;
    case CUPS_SC_CMD_GET_STATE: {
      const char state = CUPS_SC_STATE_ONLINE;
      cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, &state, 1, 1.0);
      break;
    }
    case CUPS_SC_CMD_GET_BIDI: {
      const char bidi = CUPS_SC_BIDI_NOT_SUPPORTED;
      cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, &bidi, 1, 1.0);
      break;
    }
    case CUPS_SC_CMD_SOFT_RESET:
    case CUPS_SC_CMD_DRAIN_OUTPUT:
      cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, nullptr, 0, 1.0);
      break;
    default:
      cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, nullptr, 0, 1.0);
      break;
  }
}

bool WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the job from inputFd to outFd, answering side channel requests in
// between; returns false on a read or write error.
bool CopyJob(int inputFd, int outFd, const Config& config, long long* total) {
  std::vector<char> buffer(4096);
  const bool sideChannel = fcntl(CUPS_SC_FD, F_GETFD) != -1;
  for (;;) {
    pollfd fds[2] = {{inputFd, POLLIN, 0}, {CUPS_SC_FD, POLLIN, 0}};
    const nfds_t count = sideChannel ? 2 : 1;
    if (poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      perror("ERROR: test backend: poll");
      return false;
    }
    if (sideChannel && (fds[1].revents & POLLIN)) AnswerSideChannel(config);
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = read(inputFd, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        perror("ERROR: test backend: read");
        return false;
      }
      if (n == 0) return true;
      if (!WriteAll(outFd, buffer.data(), static_cast<size_t>(n))) {
        perror("ERROR: test backend: write");
        return false;
      }
      *total += n;
      if (config.throttleMs > 0) usleep(static_cast<useconds_t>(config.throttleMs) * 1000);
    }
  }
}

}  // namespace

}  // namespace lumora::test

int main(int argc, char* argv[]) {
  using namespace lumora::test;
  setbuf(stderr, nullptr);
  if (argc == 1) {
    // Device discovery (lpinfo -v): this backend finds nothing by itself.
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }

  Config config;
  const char* dir = getenv("LUMORA_TEST_BACKEND_DIR");
  if (dir == nullptr || *dir == '\0') {
    fputs("ERROR: test backend: LUMORA_TEST_BACKEND_DIR is not set\n", stderr);
    return CUPS_BACKEND_FAILED;
  }
  config.outDir = dir;
  const char* printer = getenv("PRINTER");
  config.queue = SafeName(printer ? printer : "queue");
  config.deviceId = ReadSmallFile(config.outDir + "/" + config.queue + ".deviceid",
                                  &config.hasDeviceId);
  bool hasThrottle = false;
  const std::string throttle =
      ReadSmallFile(config.outDir + "/" + config.queue + ".throttle", &hasThrottle);
  if (hasThrottle) config.throttleMs = atoi(throttle.c_str());

  // Like a real printer backend reading from the filters: a cancelled job
  // still gets the data the filters write before they exit.
  FileDescriptor input(argc == 7 ? open(argv[6], O_RDONLY) : 0);
  if (input.fd < 0) {
    fprintf(stderr, "ERROR: test backend: cannot open %s: %s\n", argv[6], strerror(errno));
    return CUPS_BACKEND_FAILED;
  }
  if (argc == 6) signal(SIGTERM, SIG_IGN);

  const std::string base = config.outDir + "/" + config.queue + "-" + SafeName(argv[1]) + ".prn";
  const std::string part = base + ".part";
  FileDescriptor out(open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.fd < 0) {
    fprintf(stderr, "ERROR: test backend: cannot create %s: %s\n", part.c_str(), strerror(errno));
    return CUPS_BACKEND_FAILED;
  }
  fputs("STATE: -connecting-to-device\n", stderr);

  long long total = 0;
  const bool ok = CopyJob(input.fd, out.fd, config, &total);
  if (fsync(out.fd) != 0 || !ok) {
    unlink(part.c_str());
    return CUPS_BACKEND_FAILED;
  }
  if (rename(part.c_str(), base.c_str()) != 0) {
    fprintf(stderr, "ERROR: test backend: cannot rename %s: %s\n", part.c_str(), strerror(errno));
    unlink(part.c_str());
    return CUPS_BACKEND_FAILED;
  }
  fprintf(stderr, "DEBUG: test backend: wrote %lld bytes to %s\n", total, base.c_str());
  return CUPS_BACKEND_OK;
}
