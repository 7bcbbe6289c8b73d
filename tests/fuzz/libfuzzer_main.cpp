// SPDX-License-Identifier: GPL-2.0-or-later
// One libFuzzer target: LUMORA_FUZZ_ENTRY names the entry it drives.
#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return lumora::test::fuzz::LUMORA_FUZZ_ENTRY(data, size);
}
