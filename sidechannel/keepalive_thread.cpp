// SPDX-License-Identifier: GPL-2.0-or-later
#include "keepalive_thread.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "device_address.h"
#include "side_log.h"
#include "snmp_datagram.h"
#include "udp_socket.h"

namespace lumora {

namespace {

const char kDummyExit[] = "Job end, dummy thread exit.\n";
// Pause between flag checks when the network host is empty.
constexpr int kIdlePauseMs = 500;

// True once the thread is to finish: told by Waitpthread, or the job was
// cancelled (the thread then sets g_bdummyEnd itself).
bool EndRequested(KeepAliveThread& k) {
  if (k.job.Cancelled()) k.g_bdummyEnd = 1;
  return k.g_bdummyEnd != 0;
}

// A pause of the thread that ends early when it is told to finish.
void PauseMs(const KeepAliveThread& k, int ms) { k.job.Wait(-1, 0, ms, &k.end); }

struct AddrInfoFree {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

void* HoldUsbPrinter(KeepAliveThread& k) {
  UsbDeviceSession session = FindUsbDeviceHandle(k.job.log(), k.uri.c_str());
  if (session.get() == nullptr) {
    Debugf(k.job.log(), "dummy_send::handle is null\n");
    return nullptr;
  }
  for (;;) {
    if (EndRequested(k)) return const_cast<char*>(kDummyExit);  // the session closes the device
    PauseMs(k, k.job.timings().usbHoldMs);
  }
}

void* KeepNetworkPrinterAwake(KeepAliveThread& k) {
  char host[kHostBufferSize] = {0};
  int port = 0;
  if (getPrinterHostNameFromUri(k.job.log(), k.uri.c_str(), host, &port) == 0) {
    Debugf(k.job.log(), "fail to get host name\n");
    return nullptr;
  }
  const int interval = k.job.timings().keepaliveIntervalMs;
  for (;;) {
    if (EndRequested(k)) return const_cast<char*>(kDummyExit);
    if (host[0] != '\0') {
      SenddummyCmdToNet(k, host);
      PauseMs(k, interval);
    } else {
      PauseMs(k, interval < kIdlePauseMs ? interval : kIdlePauseMs);
    }
  }
}

// An application's line to the printer: one exchange per interval.
void* KeepLineAwake(KeepAliveThread& k) {
  std::unique_ptr<DeviceLine> line = k.line(DeviceLineUse::kKeepAlive, k.uri);
  if (!line) return nullptr;
  for (;;) {
    if (EndRequested(k)) return const_cast<char*>(kDummyExit);
    line->KeepAlive();
    PauseMs(k, k.job.timings().keepaliveIntervalMs);
  }
}

// Waits for the agent's answer, which only tells that it is there; its
// content is not read. The wait ends early when the thread is told to end.
void AwaitReply(const KeepAliveThread& k, int fd) {
  if (k.job.Wait(fd, POLLIN, k.job.timings().snmpReplyTimeoutMs, &k.end) == 1) {
    unsigned char reply[512];
    recvfrom(fd, reply, sizeof(reply), MSG_DONTWAIT, nullptr, nullptr);
  }
}

}  // namespace

KeepAliveThread::KeepAliveThread(SideJob& j, DeviceLineOpener l) : job(j), line(std::move(l)) {}

KeepAliveThread::~KeepAliveThread() {
  if (started) Waitpthread(*this);
}

void SenddummyCmdToNet(KeepAliveThread& k, const char* host) {
  LogOutput& log = k.job.log();
  if (host == nullptr || *host == '\0') {
    Debugf(log, "hostname == NULL.\n");
    return;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host, "161", &hints, &found);
  if (rc != 0) {
    Debugf(log, "getaddrinfo fail return %d.\n", rc);
    return;
  }
  std::unique_ptr<addrinfo, AddrInfoFree> info(found);
  UdpSocket sock(socket(info->ai_family, info->ai_socktype, info->ai_protocol));
  if (sock.fd() < 0) {
    Debugf(log, "create socket fail\n");
    return;
  }
  int on = 1;
  setsockopt(sock.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
  struct timeval tv = MsTimeval(k.job.timings().snmpReplyTimeoutMs);
  if (setsockopt(sock.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) {
    Debugf(log, "setsockopt fail\n");
    return;
  }
  const SnmpDatagram request = BuildKeepaliveSetRequest();
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (sendto(sock.fd(), request.data(), request.size(), 0, info->ai_addr, info->ai_addrlen) >= 0) {
      AwaitReply(k, sock.fd());
      break;
    }
    Debugf(log, "<SNMP> socket sendto error. (dest_addr=%s)\n", host);
  }
}

void* dummy_send_tread(void* arg) {
  KeepAliveThread& k = *static_cast<KeepAliveThread*>(arg);
  if (k.line) return KeepLineAwake(k);
  if (strstr(k.uri.c_str(), "usb") != nullptr) return HoldUsbPrinter(k);
  return KeepNetworkPrinterAwake(k);
}

void Creatpthread(KeepAliveThread& k, const char* deviceUri, const char* argv0) {
  if (k.started) return;
  const char* uri = deviceUri;
  if (uri == nullptr) {
    if (argv0 != nullptr && argv0[0] != '\0' && strchr(argv0, ':') != nullptr) {
      uri = argv0;
    } else {
      Debugf(k.job.log(), "argv error\n");
      return;
    }
  }
  k.uri = uri;
  int err = pthread_create(&k.dummy_thread, nullptr, dummy_send_tread, &k);
  if (err != 0) {
    Debugf(k.job.log(), "gstopcl::CreateDammyThread Failed, err = %d\n", err);
    return;
  }
  k.started = true;
}

void Waitpthread(KeepAliveThread& k) {
  k.g_bdummyEnd = 1;
  k.end.Raise();
  Debugf(k.job.log(), "End::g_bDammyEnd = %d\n", static_cast<int>(k.g_bdummyEnd.load()));
  if (!k.started) return;
  int err = pthread_join(k.dummy_thread, nullptr);
  if (err != 0) {
    // Last resort: the thread ends at its next pause or socket wait.
    SleepMs(500);
    pthread_cancel(k.dummy_thread);
    errno = err;
    Debugf(k.job.log(), "gstopcl::pthread_dammy_join error value is %d \n", errno);
  }
  k.started = false;
}

}  // namespace lumora
