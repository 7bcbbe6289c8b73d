// SPDX-License-Identifier: GPL-2.0-or-later
// Readable and machine-readable reports of a job stream.
#pragma once

#include <string>
#include <vector>

#include "job_stream_reader.h"

namespace lumora::inspect {

// Files written for the pages, by page position (index - 1); empty = none.
struct PageFiles {
  std::vector<std::string> pbm;
  std::vector<std::string> png;
};

// Summary for people: job records, one block per page, manual duplex, job
// end, warnings and errors with their byte offsets.
std::string FormatSummary(const JobStream& stream, const std::string& name,
                          const PageFiles& files = {});

// One JSON object; its keys are a stable interface for scripts and tests.
// Values a dialect does not carry are null.
std::string FormatJson(const JobStream& stream, const PageFiles& files = {});

// "byte 1234 (0x4D2): message"
std::string FormatIssue(const StreamIssue& issue);

}  // namespace lumora::inspect
