// SPDX-License-Identifier: GPL-2.0-or-later
// Scratch space of the fuzz entries: one private directory per process
// (with a tmp/ folder used as TMPDIR by the code under test), removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumora::test::fuzz {

// The process's scratch directory (created on first use).
const std::string& ScratchDir();
// Its tmp/ folder, where the code under test makes its temporary files.
const std::string& ScratchTmp();
// Writes bytes to a file in the scratch directory; returns its path.
std::string WriteScratchFile(const std::string& name, const void* data, size_t size);
// Aborts with a message when the code under test left a file in tmp/.
void CheckNoTempFileLeft(const char* target);
// Aborts with a message (the fuzzer records the input as a crash).
[[noreturn]] void Fail(const char* target, const std::string& what);

// The descriptor the entries report on (standard error unless the replay
// moved the filters' chatter away).
extern int gReportFd;

}  // namespace lumora::test::fuzz
