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
#include "test_support.h"

namespace lumora::test {

namespace {

using Clock = std::chrono::steady_clock;

lumora::StderrLog gLog;
// The probe's one job: its cancel flag is raised by SIGTERM, which also
// ends the job's waits.
volatile sig_atomic_t gSigterm = 0;
volatile sig_atomic_t gSigtermWakeFd = -1;
SideJob& Job() {
  static WakeEvent wake;
  gSigtermWakeFd = wake.fd();
  static SideJob job(gLog, SideTimings::FromEnvironment(), [] { return gSigterm != 0; }, wake.fd());
  return job;
}

void cancel_job(int) {
  gSigterm = 1;
  RaiseWakeFd(gSigtermWakeFd);
}

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

int Host(const char* uri, bool dnssd) {
  char host[kHostBufferSize] = {0};
  int port = 9100;
  int rc = dnssd ? getPrinterHostNameFromDNSSDUri(gLog, uri, host, &port)
                 : getPrinterHostNameFromUri(gLog, uri, host, &port);
  printf("result=%d host=%s port=%d\n", rc, host, port);
  return 0;
}

int Keepalive(int runMs, int sigtermMs, char* argv0) {
  KeepAliveThread keepAlive(Job());
  signal(SIGTERM, cancel_job);
  const int alone = LiveThreads();
  auto start = Clock::now();
  Creatpthread(keepAlive, getenv("DEVICE_URI"), argv0);
  printf("thread=%s\n", keepAlive.started ? "started" : "none");
  bool sent = false;
  bool ended = false;
  while (MsSince(start) < runMs) {
    if (!sent && sigtermMs >= 0 && MsSince(start) >= sigtermMs) {
      kill(getpid(), SIGTERM);
      sent = true;
    }
    if (keepAlive.started && !ended && LiveThreads() == alone) {
      ended = true;
      printf("thread_ended_ms=%ld\n", MsSince(start));
    }
    SleepMs(20);
  }
  printf("ended_before_wait=%d\n", ended ? 1 : 0);
  fflush(stdout);
  Waitpthread(keepAlive);
  printf("joined g_bdummyEnd=%d\n", static_cast<int>(keepAlive.g_bdummyEnd.load()));
  return 0;
}

int KeepaliveStop(int runMs) {
  KeepAliveThread keepAlive(Job());
  Creatpthread(keepAlive, getenv("DEVICE_URI"), "queue");
  SleepMs(runMs);
  auto start = Clock::now();
  Waitpthread(keepAlive);
  printf("wait_ms=%ld\n", MsSince(start));
  return 0;
}

int Status(const char* uri, const char* owner, int runMs) {
  cancel_query_arg arg;
  memset(&arg, 0, sizeof(arg));
  snprintf(arg.deviceUri, sizeof(arg.deviceUri), "%s", uri);
  snprintf(arg.jobOwner, sizeof(arg.jobOwner), "%s", owner);
  arg.jobId = 42;
  StatusThread thread(Job());
  const int alone = LiveThreads();
  auto start = Clock::now();
  if (thread.Start(arg) != 0) return 1;
  bool ended = false;
  while (MsSince(start) < runMs && !ended) {
    SleepMs(20);
    ended = LiveThreads() == alone;
  }
  printf("job_canceled=%d thread_ended=%d\n", Job().Cancelled() ? 1 : 0, ended ? 1 : 0);
  fflush(stdout);
  return 0;  // the job's end stops and joins the thread
}

}  // namespace

}  // namespace lumora::test

int main(int argc, char** argv) {
  using namespace lumora;
  using namespace lumora::test;
  setvbuf(stdout, nullptr, _IONBF, 0);
  setvbuf(stderr, nullptr, _IONBF, 0);
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "host" && argc == 3) return Host(argv[2], false);
  if (cmd == "dnssd" && argc == 3) return Host(argv[2], true);
  if (cmd == "ip" && argc == 3) {
    char address[kAddressTextSize] = {0};
    int rc = GetIpByHostname(gLog, argv[2], address);
    printf("result=%d address=%s\n", rc, address);
    return 0;
  }
  if (cmd == "keepalive-once" && argc == 3) {
    KeepAliveThread keepAlive(Job());
    auto start = Clock::now();
    SenddummyCmdToNet(keepAlive, argv[2]);
    printf("elapsed_ms=%ld\n", MsSince(start));
    return 0;
  }
  if (cmd == "querynet" && argc == 3) {
    std::vector<unsigned char> reply(kStatusReplySize, 0);
    int length = 0;
    StatusThread thread(Job());
    int rc = QueryStatusToNet(thread, argv[2], reply.data(), &length);
    printf("result=%d length=%d\n", rc, length);
    return 0;
  }
  if (cmd == "findusb" && argc == 3) {
    UsbDeviceSession session = FindUsbDeviceHandle(gLog, argv[2]);
    if (session.get() == nullptr) {
      printf("device=none\n");
    } else {
      printf("device=%d\n", libusb_get_device_address(libusb_get_device(session.get())));
    }
    return 0;
  }
  if (cmd == "queryusb" && argc == 4) {
    UsbDeviceSession session = FindUsbDeviceHandle(gLog, argv[2]);
    for (int i = 0; i < atoi(argv[3]); ++i) {
      std::vector<unsigned char> reply(kStatusReplySize, 0);
      int count = -1;
      int rc = QueryStatusToUsb(gLog, session.get(), reply.data(), kStatusReplySize, &count);
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
