// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz entry of the driver's JBIG encoder: any image under any parameters
// it takes must come out byte for byte as JBIG-KIT's encoder writes it.
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "fuzz_support.h"
#include "jbig_reference.h"

namespace lumora::test::fuzz {

int FuzzJbigEncoder(const uint8_t* data, size_t size) {
  constexpr size_t kHead = 6;
  if (size < kHead + 1) return 0;
  JbigImageParams p;
  p.xd = 1 + ((data[0] | (data[1] << 8)) % 1200u);
  // Stripes of two lines at least: with one-line stripes JBIG-KIT reads the
  // line above the image for the second line's context (memory before the
  // image), where the driver's encoder reads white; the driver never sends
  // one-line stripes of a taller image.
  p.l0 = 2 + data[2] % 64u;
  p.mx = data[3] % 10;  // 9 is left to JBIG-KIT
  p.options = data[4];
  p.order = data[5] % 17;
  const size_t bpl = (p.xd + 7) / 8;
  const size_t bytes = size - kHead;
  p.yd = static_cast<uint32_t>((bytes + bpl - 1) / bpl);
  std::vector<uint8_t> image(p.yd * bpl, 0);
  std::copy(data + kHead, data + size, image.begin());
  std::vector<uint8_t> ours;
  const JbigEncodeResult result = EncodeJbigImage(p, image.data(), AppendJbigBytes, &ours);
  if (result == JbigEncodeResult::kNotCovered) {
    const bool privateTable = (p.options & (JBG_DPON | JBG_DPPRIV | JBG_DPLAST)) ==
                              (JBG_DPON | JBG_DPPRIV);
    if (p.mx <= 8 && !privateTable) Fail("jbig_encoder", "parameters within reach were refused");
    return 0;
  }
  if (result != JbigEncodeResult::kDone) Fail("jbig_encoder", "the encoder failed");
  if (ours != JbigKitBytes(p, image)) Fail("jbig_encoder", "bytes differ from JBIG-KIT's");
  return 0;
}

}  // namespace lumora::test::fuzz
