// SPDX-License-Identifier: GPL-2.0-or-later
#include "line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumora {

LineReader::~LineReader() {
  if (owned_ && fd_ >= 0) close(fd_);
}

bool LineReader::Open(const char* path) {
  if (owned_ && fd_ >= 0) close(fd_);
  fd_ = open(path, O_RDONLY | O_CLOEXEC);
  owned_ = fd_ >= 0;
  pos_ = end_ = 0;
  offset_ = 0;
  return fd_ >= 0;
}

void LineReader::Attach(int fd, bool owned) {
  if (owned_ && fd_ >= 0) close(fd_);
  fd_ = fd;
  owned_ = owned;
  pos_ = end_ = 0;
  offset_ = lseek(fd, 0, SEEK_CUR);
  if (offset_ < 0) offset_ = 0;
}

bool LineReader::ReadLine(std::string& line) {
  line.clear();
  if (fd_ < 0) return false;
  for (;;) {
    if (pos_ == end_) {
      ssize_t n;
      do {
        n = read(fd_, buf_.data(), buf_.size());
      } while (n < 0 && errno == EINTR);
      if (n <= 0) break;
      pos_ = 0;
      end_ = static_cast<size_t>(n);
    }
    size_t room = kMaxLinePiece - line.size();
    size_t avail = std::min(end_ - pos_, room);
    const char* start = buf_.data() + pos_;
    const char* nl = static_cast<const char*>(memchr(start, '\n', avail));
    size_t take = nl ? static_cast<size_t>(nl - start) + 1 : avail;
    line.append(start, take);
    pos_ += take;
    offset_ += static_cast<off_t>(take);
    if (nl || line.size() >= kMaxLinePiece) return true;
  }
  return !line.empty();
}

bool LineReader::Seek(off_t offset) {
  if (fd_ < 0 || lseek(fd_, offset, SEEK_SET) < 0) return false;
  pos_ = end_ = 0;
  offset_ = offset;
  return true;
}

}  // namespace lumora
