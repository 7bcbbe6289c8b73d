// Helpers of the command stream tests: byte strings from hex, a sink that
// captures the device bytes, and a sink that fails after a byte budget.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "job_state.h"
#include "output_sink.h"
#include "records.h"

namespace stream_test {

// "0B 04 18 D9" -> bytes.
inline std::string H(const char* hex) {
  std::string out;
  for (const char* p = hex; *p != '\0';) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out.push_back(static_cast<char>(strtoul(std::string(p, 2).c_str(), nullptr, 16)));
    p += 2;
  }
  return out;
}

inline std::string Hex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    snprintf(b, sizeof(b), "%02X ", c);
    out += b;
  }
  return out;
}

// The job of the printer documentation's examples: id 300, two-sided,
// density 2, fine mode.
inline PrntDocInfo Job300() {
  PrntDocInfo doc;
  doc.jobId = 300;
  doc.duplexFlag = 0x20;
  doc.platformFlag = 0x10;
  doc.density = 2;
  doc.fineMode = 1;
  return doc;
}

// Page 1 on paper code 1 at 600 dpi from tray 1.
inline PrntPageInfo Page1() {
  PrntPageInfo page;
  page.paperSize = 1;
  page.hResolution = page.vResolution = 60;
  page.inputSlot = 1;
  page.copies = 1;
  page.pageNumber = 1;
  return page;
}

// A FILE* that accepts `budget` bytes and then fails every write, as a
// printer connection that drops in the middle of a job.
inline FILE* BudgetFile(size_t budget) {
  auto* left = new size_t(budget);
  cookie_io_functions_t io{};
  io.write = [](void* cookie, const char*, size_t size) -> ssize_t {
    auto* rest = static_cast<size_t*>(cookie);
    if (*rest == 0) return -1;
    size_t n = size < *rest ? size : *rest;
    *rest -= n;
    return static_cast<ssize_t>(n);
  };
  io.close = [](void* cookie) -> int {
    delete static_cast<size_t*>(cookie);
    return 0;
  };
  return fopencookie(left, "w", io);
}

// Fresh job state with the device bytes captured in memory.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetJobState();
    ResetOutputSink();
    g_page = 1;
    out_ = open_memstream(&buf_, &len_);
    SinkSetOutput(out_);
  }
  void TearDown() override {
    CloseFailing();
    ResetOutputSink();
    fclose(out_);
    free(buf_);
  }
  // Everything written since the last call.
  std::string Take() {
    fflush(out_);
    std::string bytes(buf_, len_);
    rewind(out_);
    fflush(out_);
    return bytes;
  }
  // Sends everything to a sink that fails after `budget` bytes.
  void FailAfter(size_t budget) {
    failing_ = BudgetFile(budget);
    SinkSetOutput(failing_);
  }
  void CloseFailing() {
    if (failing_ != nullptr) fclose(failing_);
    failing_ = nullptr;
    SinkSetOutput(out_);
  }

  FILE* out_ = nullptr;
  FILE* failing_ = nullptr;
  char* buf_ = nullptr;
  size_t len_ = 0;
};

}  // namespace stream_test
