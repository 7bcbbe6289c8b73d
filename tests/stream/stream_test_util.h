// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers of the command stream tests: byte strings from hex, the example
// job and page, and a fresh job's stream writing into memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>

#include "command_stream.h"
#include "memory_output.h"
#include "records.h"

namespace lumora::test::stream {

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

// A fresh job's command stream on its first page, with the device bytes
// captured in memory and the sink's faults counted.
class StreamTest : public ::testing::Test {
 protected:
  StreamTest() : job_(device_, log_), page_(Route{1, true, nullptr}) {
    job_.route.page = 1;
    job_.sink.onFault = [this](OutputFault f) { ++faults_[f == OutputFault::kDevice ? 0 : 1]; };
  }
  // Everything written since the last call.
  std::string Take() {
    std::string bytes;
    bytes.swap(device_.bytes);
    return bytes;
  }
  // The device fails after `budget` more bytes (what it took is dropped).
  void FailAfter(size_t budget) {
    device_.bytes.clear();
    device_.budget = budget;
  }
  void CloseFailing() {
    device_.bytes.clear();
    device_.budget = SIZE_MAX;
  }

  MemoryDevice device_;
  MemoryLog log_;
  CommandStream job_;
  StreamPage page_;
  int faults_[2] = {0, 0};  // device, spool
};

}  // namespace lumora::test::stream
