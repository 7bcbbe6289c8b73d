// SPDX-License-Identifier: GPL-2.0-or-later
// Line-by-line reading of a job file of any content: lines keep their line
// end and any NUL bytes, and a line longer than kMaxLinePiece arrives in
// pieces of that size, each handled as a line (memory stays bounded).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace lumora {

class LineReader {
 public:
  static constexpr size_t kMaxLinePiece = 1 << 20;

  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  bool Open(const char* path);
  // Reads from an open descriptor, closing it at the end only when owned.
  void Attach(int fd, bool owned = false);
  bool IsOpen() const { return fd_ >= 0; }

  // The next line (with its '\n'), false at the end of the file.
  bool ReadLine(std::string& line);
  // File offset of the next line to be read.
  off_t Tell() const { return offset_; }
  // Goes to a file offset; the next line starts there.
  bool Seek(off_t offset);

 private:
  int fd_ = -1;
  bool owned_ = false;
  std::vector<char> buf_ = std::vector<char>(65536);
  size_t pos_ = 0;
  size_t end_ = 0;
  off_t offset_ = 0;
};

}  // namespace lumora
