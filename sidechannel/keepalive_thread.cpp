// SPDX-License-Identifier: GPL-2.0-or-later
#include "keepalive_thread.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device_address.h"
#include "side_timing.h"
#include "sidechannel.h"
#include "snmp_datagram.h"
#include "udp_socket.h"
#include "wake_event.h"

std::atomic<unsigned char> g_bdummyEnd{0};
pthread_t dummy_thread = 0;

namespace {

char kDummyExit[] = "Job end, dummy thread exit.\n";
// Pause between flag checks when the network host is empty.
constexpr int kIdlePauseMs = 500;

// Raised by Waitpthread: the thread's waits end at once.
const WakeEvent gKeepaliveEnd;

// True once the thread is to finish: told by Waitpthread, or the job was
// cancelled (the thread then sets g_bdummyEnd itself).
bool EndRequested() {
  if (job_canceled) g_bdummyEnd = 1;
  return g_bdummyEnd != 0;
}

// A pause of the thread that ends early when it is told to finish.
void PauseMs(int ms) { WaitFdOrWake(-1, 0, ms, &gKeepaliveEnd, &JobCanceledEvent()); }

struct AddrInfoFree {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

void* HoldUsbPrinter(const char* uri) {
  UsbDeviceSession session(FindUsbDeviceHandle(uri));
  if (session.get() == nullptr) {
    fprintf(stderr, "dummy_send::handle is null\n");
    return nullptr;
  }
  for (;;) {
    if (EndRequested()) return kDummyExit;  // the session closes the device
    PauseMs(UsbHoldMs());
  }
}

void* KeepNetworkPrinterAwake(const char* uri) {
  char host[kHostBufferSize] = {0};
  int port = 0;
  if (getPrinterHostNameFromUri(uri, host, &port) == 0) {
    fprintf(stderr, "fail to get host name\n");
    return nullptr;
  }
  for (;;) {
    if (EndRequested()) return kDummyExit;
    if (host[0] != '\0') {
      SenddummyCmdToNet(host);
      PauseMs(KeepaliveIntervalMs());
    } else {
      PauseMs(KeepaliveIntervalMs() < kIdlePauseMs ? KeepaliveIntervalMs() : kIdlePauseMs);
    }
  }
}

}  // namespace

void SenddummyCmdToNet(const char* host) {
  if (host == nullptr || *host == '\0') {
    fprintf(stderr, "hostname == NULL.\n");
    return;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host, "161", &hints, &found);
  if (rc != 0) {
    fprintf(stderr, "getaddrinfo fail return %d.\n", rc);
    return;
  }
  std::unique_ptr<addrinfo, AddrInfoFree> info(found);
  UdpSocket sock(socket(info->ai_family, info->ai_socktype, info->ai_protocol));
  if (sock.fd() < 0) {
    fprintf(stderr, "create socket fail\n");
    return;
  }
  int on = 1;
  setsockopt(sock.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
  struct timeval tv = SnmpReplyTimeval();
  if (setsockopt(sock.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) {
    fprintf(stderr, "setsockopt fail\n");
    return;
  }
  const SnmpDatagram request = BuildKeepaliveSetRequest();
  for (int attempt = 0; attempt < 3; ++attempt) {
    ssize_t sent = sendto(sock.fd(), request.data(), request.size(), 0, info->ai_addr,
                          info->ai_addrlen);
    if (sent >= 0) {
      // The agent's answer only tells that it is there; its content is not
      // read. The wait ends early when the thread is told to finish.
      if (WaitFdOrWake(sock.fd(), POLLIN, SnmpReplyTimeoutMs(), &gKeepaliveEnd,
                       &JobCanceledEvent()) == 1) {
        unsigned char reply[512];
        recvfrom(sock.fd(), reply, sizeof(reply), MSG_DONTWAIT, nullptr, nullptr);
      }
      break;
    }
    fprintf(stderr, "<SNMP> socket sendto error. (dest_addr=%s)\n", host);
  }
}

void* dummy_send_tread(void* arg) {
  // Deferred cancellation only: the thread is cancelled (at one of its sleeps
  // or socket waits) solely when Waitpthread cannot join it.
  const char* uri = static_cast<const char*>(arg);
  if (uri != nullptr && strstr(uri, "usb") != nullptr) return HoldUsbPrinter(uri);
  return KeepNetworkPrinterAwake(uri);
}

void Creatpthread(char** argv) {
  const char* uri = getenv("DEVICE_URI");
  if (uri == nullptr) {
    if (argv != nullptr && argv[0] != nullptr && argv[0][0] != '\0' &&
        strchr(argv[0], ':') != nullptr) {
      uri = argv[0];
    } else {
      fprintf(stderr, "argv error\n");
      return;
    }
  }
  int err = pthread_create(&dummy_thread, nullptr, dummy_send_tread, const_cast<char*>(uri));
  if (err != 0) {
    dummy_thread = 0;
    fprintf(stderr, "gstopcl::CreateDammyThread Failed, err = %d\n", err);
  }
}

void Waitpthread() {
  g_bdummyEnd = 1;
  gKeepaliveEnd.Raise();
  fprintf(stderr, "End::g_bDammyEnd = %d\n", static_cast<int>(g_bdummyEnd.load()));
  if (dummy_thread == 0) return;
  int err = pthread_join(dummy_thread, nullptr);
  if (err != 0) {
    // Last resort: the thread ends at its next sleep or socket wait.
    SleepMs(500);
    pthread_cancel(dummy_thread);
    errno = err;
    fprintf(stderr, "gstopcl::pthread_dammy_join error value is %d \n", errno);
  }
  dummy_thread = 0;
}
