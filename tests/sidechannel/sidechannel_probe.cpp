// SPDX-License-Identifier: GPL-2.0-or-later
// Runs one side-channel operation in a process of its own, so a test sees
// its messages (standard error), its result (standard output) and the
// traffic it caused, and the process-wide thread flags start fresh.
//
//   host URI | dnssd URI | ip NAME | keepalive-once HOST | querynet HOST
//   findusb URI | queryusb URI COUNT
//   keepalive RUN_MS SIGTERM_MS ARGV0   (DEVICE_URI from the environment;
//                                        SIGTERM_MS < 0: no SIGTERM)
//   keepalive-stop RUN_MS               (how long Waitpthread takes after
//                                        RUN_MS of keep-alive)
//   status URI OWNER RUN_MS
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device_address.h"
#include "side_timing.h"
#include "sidechannel.h"

namespace {

using Clock = std::chrono::steady_clock;

void cancel_job(int) { SetJobCanceled(); }

// Threads of this process still alive (the main thread counts).
// Threads of the process, those of an emulator running it included: a
// thread has ended when the count is back to what it was before.
int LiveThreads() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(dir);
  }
  return n;
}

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

int Host(const char* uri, bool dnssd) {
  char host[kHostBufferSize] = {0};
  int port = 9100;
  int rc = dnssd ? getPrinterHostNameFromDNSSDUri(uri, host, &port)
                 : getPrinterHostNameFromUri(uri, host, &port);
  printf("result=%d host=%s port=%d\n", rc, host, port);
  return 0;
}

int Keepalive(int runMs, int sigtermMs, char* argv0) {
  signal(SIGTERM, cancel_job);
  const int alone = LiveThreads();
  char* argv[] = {argv0, nullptr};
  auto start = Clock::now();
  Creatpthread(argv);
  printf("thread=%s\n", dummy_thread != 0 ? "started" : "none");
  bool sent = false;
  bool ended = false;
  while (MsSince(start) < runMs) {
    if (!sent && sigtermMs >= 0 && MsSince(start) >= sigtermMs) {
      kill(getpid(), SIGTERM);
      sent = true;
    }
    if (dummy_thread != 0 && !ended && LiveThreads() == alone) {
      ended = true;
      printf("thread_ended_ms=%ld\n", MsSince(start));
    }
    SleepMs(20);
  }
  printf("ended_before_wait=%d\n", ended ? 1 : 0);
  fflush(stdout);
  Waitpthread();
  printf("joined g_bdummyEnd=%d\n", static_cast<int>(g_bdummyEnd.load()));
  return 0;
}

int KeepaliveStop(int runMs) {
  char argv0[] = "queue";
  char* argv[] = {argv0, nullptr};
  Creatpthread(argv);
  SleepMs(runMs);
  auto start = Clock::now();
  Waitpthread();
  printf("wait_ms=%ld\n", MsSince(start));
  return 0;
}

int Status(const char* uri, const char* owner, int runMs) {
  static cancel_query_arg arg;  // lives as long as the process
  memset(&arg, 0, sizeof(arg));
  snprintf(arg.deviceUri, sizeof(arg.deviceUri), "%s", uri);
  snprintf(arg.jobOwner, sizeof(arg.jobOwner), "%s", owner);
  arg.jobId = 42;
  const int alone = LiveThreads();
  auto start = Clock::now();
  err_thread = pthread_create(&status_thread, nullptr, Printer_cancle_query_tread, &arg);
  if (err_thread != 0) return 1;
  bool ended = false;
  while (MsSince(start) < runMs && !ended) {
    SleepMs(20);
    ended = LiveThreads() == alone;
  }
  printf("job_canceled=%d thread_ended=%d\n", job_canceled.load(), ended ? 1 : 0);
  fflush(stdout);
  _exit(0);  // the thread is never joined: it ends with the process
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  setvbuf(stderr, nullptr, _IONBF, 0);
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "host" && argc == 3) return Host(argv[2], false);
  if (cmd == "dnssd" && argc == 3) return Host(argv[2], true);
  if (cmd == "ip" && argc == 3) {
    char address[kAddressTextSize] = {0};
    int rc = GetIpByHostname(argv[2], address);
    printf("result=%d address=%s\n", rc, address);
    return 0;
  }
  if (cmd == "keepalive-once" && argc == 3) {
    auto start = Clock::now();
    SenddummyCmdToNet(argv[2]);
    printf("elapsed_ms=%ld\n", MsSince(start));
    return 0;
  }
  if (cmd == "querynet" && argc == 3) {
    std::vector<unsigned char> reply(kStatusReplySize, 0);
    int length = 0;
    int rc = QueryStatusToNet(argv[2], reply.data(), &length);
    printf("result=%d length=%d\n", rc, length);
    return 0;
  }
  if (cmd == "findusb" && argc == 3) {
    UsbDeviceSession session(FindUsbDeviceHandle(argv[2]));
    if (session.get() == nullptr) {
      printf("device=none\n");
    } else {
      printf("device=%d\n", libusb_get_device_address(libusb_get_device(session.get())));
    }
    return 0;
  }
  if (cmd == "queryusb" && argc == 4) {
    UsbDeviceSession session(FindUsbDeviceHandle(argv[2]));
    for (int i = 0; i < atoi(argv[3]); ++i) {
      std::vector<unsigned char> reply(kStatusReplySize, 0);
      int count = -1;
      int rc = QueryStatusToUsb(session.get(), reply.data(), kStatusReplySize, &count);
      printf("result=%d count=%d first=%02x\n", rc, count, reply[0]);
    }
    return 0;
  }
  if (cmd == "keepalive" && argc == 5) return Keepalive(atoi(argv[2]), atoi(argv[3]), argv[4]);
  if (cmd == "keepalive-stop" && argc == 3) return KeepaliveStop(atoi(argv[2]));
  if (cmd == "status" && argc == 5) return Status(argv[2], argv[3], atoi(argv[4]));
  fprintf(stderr, "usage: sidechannel_probe COMMAND ARGS (see the source)\n");
  return 2;
}
