// SPDX-License-Identifier: GPL-2.0-or-later
// Job data handed to the output so that a cancel ends the wait for room at
// once. A backend that reads slowly keeps a pipe full; a write() would then
// sleep until the whole piece is taken, and everything given to it would
// reach the printer after the cancel. Here the wait is a poll() beside the
// job's cancel event: what is not yet taken when the job is cancelled stays
// with the caller, who sends it as the cancel cut allows. An output that is
// no descriptor (a printer application's device) takes each piece whole.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace lumora {

struct PsJobState;

class CancellableOutput {
 public:
  // Pipes and sockets are switched to non-blocking writes for the life of
  // the object (their flags are restored after it), unless standard error
  // shares the pipe: then pieces of PIPE_BUF go out once poll() finds room.
  explicit CancellableOutput(PsJobState& job);
  ~CancellableOutput();
  CancellableOutput(const CancellableOutput&) = delete;
  CancellableOutput& operator=(const CancellableOutput&) = delete;

  // Writes data until all of it is out or the job is cancelled; returns the
  // bytes written. A failed output sets the job's outputFailed and error().
  size_t Write(const char* data, size_t len);
  // Copies up to count bytes of inFd from *offset with sendfile(), with the
  // same stops; fewer bytes and error() 0 mean the end of the file.
  size_t SendFile(int inFd, off_t* offset, size_t count);
  // errno of the transfer that failed last; 0 when none did.
  int error() const { return error_; }

 private:
  template <typename Transfer>
  size_t Pump(size_t len, Transfer transfer);
  void WaitForRoom() const;

  PsJobState& job_;
  int fd_;
  int savedFlags_ = -1;   // flags to restore; -1 when they were not changed
  bool waitFirst_ = false;  // poll() before every piece (writes could block)
  size_t piece_;
  int error_ = 0;
};

}  // namespace lumora
