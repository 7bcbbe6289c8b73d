// SPDX-License-Identifier: GPL-2.0-or-later
#include "status_thread.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "device_address.h"
#include "side_timing.h"
#include "sidechannel.h"
#include "snmp_datagram.h"
#include "udp_socket.h"

pthread_t status_thread = 0;
int err_thread = 0;

namespace {

char kStatusExit[] = "Job cancel, Status thread exit.\n";

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

void* WatchUsbPrinter(const char* uri) {
  UsbDeviceSession session(FindUsbDeviceHandle(uri));
  if (session.get() == nullptr) {
    fprintf(stderr, "querythread::handle is null\n");
    return nullptr;
  }
  fprintf(stderr, "Status_query::handle yes\n");
  std::vector<unsigned char> reply(kStatusReplySize);
  int pass = 0;
  for (;;) {
    if (++pass == kUsbPassesPerQuery) {
      pass = 0;
      std::fill(reply.begin(), reply.end(), 0);
      int count = 0;
      if (QueryStatusToUsb(session.get(), reply.data(), kStatusReplySize, &count) == 1 &&
          count >= 1 && IsCanceledState(reply[0])) {
        SetJobCanceled();
        return kStatusExit;  // the session closes the device
      }
    }
    SleepMs(StatusPollMs());
  }
}

void* WatchNetworkPrinter(const char* uri, const char* owner) {
  fprintf(stderr, "querythread::net\n");
  char host[kHostBufferSize] = {0};
  int port = 9100;
  const bool dnssd = strstr(uri, "dnssd://") != nullptr;
  if (getPrinterHostNameFromUri(uri, host, &port) == 0 && dnssd) {
    getPrinterHostNameFromDNSSDUri(uri, host, &port);
  }
  if (port == 0 && dnssd) {
    char service[kHostBufferSize] = {0};
    int servicePort = 0;
    getPrinterHostNameFromDNSSDUri(uri, service, &servicePort);
    char address[kAddressTextSize] = {0};
    if (GetIpByHostname(service, address) != 0) {
      fprintf(stderr, "supply host to ip failed\n");
      return nullptr;
    }
    snprintf(host, sizeof(host), "%s", address);
  }
  if (host[0] == '\0') return nullptr;
  fprintf(stderr, "ip:%s\n", host);

  std::vector<unsigned char> reply(kStatusReplySize);
  int pass = 0;
  for (;;) {
    if (++pass == kNetPassesPerQuery) {
      pass = 0;
      std::fill(reply.begin(), reply.end(), 0);
      int length = 0;
      if (QueryStatusToNet(host, reply.data(), &length) == 1 && length > 0 &&
          IsOwnJobCanceledReply(reply.data(), static_cast<size_t>(length), owner)) {
        SetJobCanceled();
        return kStatusExit;
      }
    }
    SleepMs(StatusPollMs());
  }
}

}  // namespace

int QueryStatusToUsb(libusb_device_handle* handle, unsigned char* buffer, int size, int* count) {
  if (handle == nullptr || buffer == nullptr || size <= 0 || size > 0xFFFF) {
    if (count != nullptr) *count = 0;
    return 0;
  }
  int rc = libusb_control_transfer(handle, kStatusRequestType, 0, 0, 0, buffer,
                                   static_cast<uint16_t>(size), kUsbTimeoutMs);
  if (rc > 0) {
    if (count != nullptr) *count = rc;
    fprintf(stderr, "\n");
    return 1;
  }
  if (count != nullptr) *count = 0;
  fprintf(stderr, "libusb_control_transfer fail (code=%d)\n", rc);
  return 0;
}

int QueryStatusToNet(const char* host, unsigned char* buffer, int* length) {
  fprintf(stderr, "->SendSNMPCmd()\n");
  if (host == nullptr || *host == '\0') {
    fprintf(stderr, "cancelthread::QueryStatusToNet::pIPaddr is null\n");
    return 0;
  }
  sockaddr_in dest;
  bool haveDest = StatusDestination(host, &dest);
  UdpSocket sock(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!haveDest || sock.fd() < 0 || buffer == nullptr) {
    fprintf(stderr, "<-SendSNMPCmd()\n");
    return 0;
  }
  int on = 1;
  setsockopt(sock.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
  struct timeval tv = SnmpReplyTimeval();
  if (setsockopt(sock.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) {
    fprintf(stderr, "setsockopt fail");
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  bind(sock.fd(), reinterpret_cast<sockaddr*>(&local), sizeof(local));

  const SnmpDatagram request = BuildStatusGetRequest();
  for (int attempt = 0; attempt < 3; ++attempt) {
    ssize_t sent = sendto(sock.fd(), request.data(), request.size(), 0,
                          reinterpret_cast<sockaddr*>(&dest), sizeof(dest));
    if (sent >= 0) {
      fprintf(stderr, "<SNMP> socket sendto success. (dest_addr=%s)\n", host);
      for (int tries = 0; tries < 2; ++tries) {
        ssize_t received = recvfrom(sock.fd(), buffer, kStatusReplySize, 0, nullptr, nullptr);
        int n = static_cast<int>(received);
        if (length != nullptr) *length = n;
        fprintf(stderr, "nRecv = %d\n", n);
        if (received > 0) return 1;
      }
    } else {
      fprintf(stderr, "<SNMP> socket sendto error. (dest_addr=%s)\n", host);
    }
  }
  fprintf(stderr, "<-SendSNMPCmd()\n");
  return 0;
}

void* Printer_cancle_query_tread(void* block) {
  fprintf(stderr, "thread arg point address:0x%x\n",
          static_cast<unsigned int>(reinterpret_cast<uintptr_t>(block)));
  const cancel_query_arg* arg = static_cast<const cancel_query_arg*>(block);
  if (arg == nullptr) return nullptr;
  // The record's URI always ends within its buffer.
  char uri[sizeof(arg->deviceUri) + 1] = {0};
  memcpy(uri, arg->deviceUri, sizeof(arg->deviceUri));
  char owner[sizeof(arg->jobOwner) + 1] = {0};
  memcpy(owner, arg->jobOwner, sizeof(arg->jobOwner));
  if (strstr(uri, "usb") != nullptr) return WatchUsbPrinter(uri);
  // The queue was not found among the destinations: there is no printer
  // to ask, and resolving an empty URI would only put a stray "ERROR:"
  // line from the CUPS library into the job's log.
  if (uri[0] == '\0') return nullptr;
  return WatchNetworkPrinter(uri, owner);
}
