// SPDX-License-Identifier: GPL-2.0-or-later
#include "status_thread.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "device_address.h"
#include "side_log.h"
#include "snmp_datagram.h"
#include "udp_socket.h"

namespace lumora {

namespace {

const char kStatusExit[] = "Job cancel, Status thread exit.\n";

constexpr uint8_t kStatusRequestType = 0xC1;  // device to host, vendor, interface
constexpr unsigned int kUsbTimeoutMs = 2000;
constexpr int kUsbPassesPerQuery = 2;
constexpr int kNetPassesPerQuery = 5;

// Destination of a status query: a name starting with a letter through the
// resolver, otherwise a dotted IPv4 address.
bool StatusDestination(const char* host, sockaddr_in* dest) {
  memset(dest, 0, sizeof(*dest));
  dest->sin_family = AF_INET;
  dest->sin_port = htons(kSnmpPort);
  if (isalpha(static_cast<unsigned char>(host[0]))) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    dest->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
  }
  // Text that is no address names no printer (and never the broadcast address).
  return inet_pton(AF_INET, host, &dest->sin_addr) == 1;
}

// One pass of the loop: false once the thread is to end (the job is
// cancelled or the thread is stopped).
bool Pause(const StatusThread& t) {
  if (t.ending) return false;
  t.job.Wait(-1, 0, t.job.timings().statusPollMs, &t.end);
  return !t.ending && !t.job.Cancelled();
}

void* WatchUsbPrinter(StatusThread& t) {
  LogOutput& log = t.job.log();
  UsbDeviceSession session = FindUsbDeviceHandle(log, t.arg.deviceUri);
  if (session.get() == nullptr) {
    Debugf(log, "querythread::handle is null\n");
    return nullptr;
  }
  Debugf(log, "Status_query::handle yes\n");
  std::vector<unsigned char> reply(kStatusReplySize);
  int pass = 0;
  do {
    if (++pass != kUsbPassesPerQuery) continue;
    pass = 0;
    std::fill(reply.begin(), reply.end(), 0);
    int count = 0;
    if (QueryStatusToUsb(log, session.get(), reply.data(), kStatusReplySize, &count) == 1 &&
        count >= 1 && IsCanceledState(reply[0])) {
      t.job.Cancel();
      return const_cast<char*>(kStatusExit);  // the session closes the device
    }
  } while (Pause(t));
  return nullptr;
}

// The printer's host (or its numeric address); empty when there is none.
bool FindStatusHost(StatusThread& t, char* host) {
  LogOutput& log = t.job.log();
  const char* uri = t.arg.deviceUri;
  int port = 9100;
  const bool dnssd = strstr(uri, "dnssd://") != nullptr;
  if (getPrinterHostNameFromUri(log, uri, host, &port) == 0 && dnssd)
    getPrinterHostNameFromDNSSDUri(log, uri, host, &port);
  if (port == 0 && dnssd) {
    char service[kHostBufferSize] = {0};
    int servicePort = 0;
    getPrinterHostNameFromDNSSDUri(log, uri, service, &servicePort);
    char address[kAddressTextSize] = {0};
    if (GetIpByHostname(log, service, address) != 0) {
      Debugf(log, "supply host to ip failed\n");
      return false;
    }
    snprintf(host, kHostBufferSize, "%s", address);
  }
  return host[0] != '\0';
}

void* WatchNetworkPrinter(StatusThread& t) {
  Debugf(t.job.log(), "querythread::net\n");
  char host[kHostBufferSize] = {0};
  if (!FindStatusHost(t, host)) return nullptr;
  Debugf(t.job.log(), "ip:%s\n", host);
  std::vector<unsigned char> reply(kStatusReplySize);
  int pass = 0;
  do {
    if (++pass != kNetPassesPerQuery) continue;
    pass = 0;
    std::fill(reply.begin(), reply.end(), 0);
    int length = 0;
    if (QueryStatusToNet(t, host, reply.data(), &length) == 1 && length > 0 &&
        IsOwnJobCanceledReply(reply.data(), static_cast<size_t>(length), t.arg.jobOwner)) {
      t.job.Cancel();
      return const_cast<char*>(kStatusExit);
    }
  } while (Pause(t));
  return nullptr;
}

// An application's line to the printer, asked as often as a network printer.
void* WatchLine(StatusThread& t) {
  std::unique_ptr<DeviceLine> line = t.line(DeviceLineUse::kStatus, t.arg.deviceUri);
  if (!line) return nullptr;
  int pass = 0;
  do {
    if (++pass != kNetPassesPerQuery) continue;
    pass = 0;
    if (line->JobCancelledAtPrinter(t.arg)) {
      t.job.Cancel();
      return const_cast<char*>(kStatusExit);
    }
  } while (Pause(t));
  return nullptr;
}

// Waits for one reply; -1 as from a receive that timed out, -2 when the
// thread is to end.
ssize_t ReceiveReply(const StatusThread& t, int fd, unsigned char* buffer) {
  const int ready = t.job.Wait(fd, POLLIN, t.job.timings().snmpReplyTimeoutMs, &t.end);
  if (ready < 0) return -2;
  if (ready == 0) return -1;
  return recvfrom(fd, buffer, kStatusReplySize, MSG_DONTWAIT, nullptr, nullptr);
}

// Sends the GetRequest up to three times and waits twice for each.
int AskForStatus(const StatusThread& t, int fd, const sockaddr_in& dest, const char* host,
                 unsigned char* buffer, int* length) {
  LogOutput& log = t.job.log();
  const SnmpDatagram request = BuildStatusGetRequest();
  for (int attempt = 0; attempt < 3; ++attempt) {
    ssize_t sent = sendto(fd, request.data(), request.size(), 0,
                          reinterpret_cast<const sockaddr*>(&dest), sizeof(dest));
    if (sent < 0) {
      Debugf(log, "<SNMP> socket sendto error. (dest_addr=%s)\n", host);
      continue;
    }
    Debugf(log, "<SNMP> socket sendto success. (dest_addr=%s)\n", host);
    for (int tries = 0; tries < 2; ++tries) {
      const ssize_t received = ReceiveReply(t, fd, buffer);
      if (received == -2) return 0;
      int n = static_cast<int>(received);
      if (length != nullptr) *length = n;
      Debugf(log, "nRecv = %d\n", n);
      if (received > 0) return 1;
    }
  }
  return -1;
}

}  // namespace

StatusThread::StatusThread(SideJob& j, DeviceLineOpener l) : job(j), line(std::move(l)) {}

StatusThread::~StatusThread() { Stop(); }

int StatusThread::Start(const cancel_query_arg& record) {
  if (started_) return 0;
  arg = record;
  err_thread = pthread_create(&status_thread, nullptr, Printer_cancle_query_tread, this);
  started_ = err_thread == 0;
  return err_thread;
}

void StatusThread::Stop() {
  if (!started_) return;
  ending = true;
  end.Raise();
  pthread_join(status_thread, nullptr);
  started_ = false;
}

int QueryStatusToUsb(LogOutput& log, libusb_device_handle* handle, unsigned char* buffer,
                     int size, int* count) {
  if (handle == nullptr || buffer == nullptr || size <= 0 || size > 0xFFFF) {
    if (count != nullptr) *count = 0;
    return 0;
  }
  int rc = libusb_control_transfer(handle, kStatusRequestType, 0, 0, 0, buffer,
                                   static_cast<uint16_t>(size), kUsbTimeoutMs);
  if (rc > 0) {
    if (count != nullptr) *count = rc;
    log.Line("DEBUG: \n");  // the driver's mark of a reply
    return 1;
  }
  if (count != nullptr) *count = 0;
  Debugf(log, "libusb_control_transfer fail (code=%d)\n", rc);
  return 0;
}

int QueryStatusToNet(const StatusThread& t, const char* host, unsigned char* buffer, int* length) {
  LogOutput& log = t.job.log();
  Debugf(log, "->SendSNMPCmd()\n");
  if (host == nullptr || *host == '\0') {
    Debugf(log, "cancelthread::QueryStatusToNet::pIPaddr is null\n");
    return 0;
  }
  sockaddr_in dest;
  bool haveDest = StatusDestination(host, &dest);
  UdpSocket sock(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!haveDest || sock.fd() < 0 || buffer == nullptr) {
    Debugf(log, "<-SendSNMPCmd()\n");
    return 0;
  }
  int on = 1;
  setsockopt(sock.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
  struct timeval tv = MsTimeval(t.job.timings().snmpReplyTimeoutMs);
  if (setsockopt(sock.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0)
    Debugf(log, "setsockopt fail");
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  bind(sock.fd(), reinterpret_cast<sockaddr*>(&local), sizeof(local));
  const int asked = AskForStatus(t, sock.fd(), dest, host, buffer, length);
  if (asked >= 0) return asked;
  Debugf(log, "<-SendSNMPCmd()\n");
  return 0;
}

void* Printer_cancle_query_tread(void* block) {
  StatusThread& t = *static_cast<StatusThread*>(block);
  Debugf(t.job.log(), "thread arg point address:0x%x\n",
         static_cast<unsigned int>(reinterpret_cast<uintptr_t>(&t.arg)));
  // The record's texts always end within their buffers.
  t.arg.deviceUri[sizeof(t.arg.deviceUri) - 1] = '\0';
  t.arg.jobOwner[sizeof(t.arg.jobOwner) - 1] = '\0';
  if (t.line) return WatchLine(t);
  if (strstr(t.arg.deviceUri, "usb") != nullptr) return WatchUsbPrinter(t);
  // The queue was not found among the destinations: there is no printer
  // to ask, and resolving an empty URI would only put a stray "ERROR:"
  // line from the CUPS library into the job's log.
  if (t.arg.deviceUri[0] == '\0') return nullptr;
  return WatchNetworkPrinter(t);
}

}  // namespace lumora
