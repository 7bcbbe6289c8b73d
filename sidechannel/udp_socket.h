// SPDX-License-Identifier: GPL-2.0-or-later
// A datagram socket closed when it goes out of scope, and a receive
// time-out in the form setsockopt wants.
#pragma once

#include <sys/time.h>
#include <unistd.h>

namespace lumora {

class UdpSocket {
 public:
  explicit UdpSocket(int fd) : fd_(fd) {}
  ~UdpSocket() {
    if (fd_ >= 0) close(fd_);
  }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

inline struct timeval MsTimeval(int ms) {
  struct timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

}  // namespace lumora
