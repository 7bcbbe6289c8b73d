// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG-KIT's encoder over one image with the driver's encoder parameters:
// the bytes the driver's own encoder must write.
#pragma once

extern "C" {
#include <jbig.h>
}

#include <cstdint>
#include <vector>

#include "jbig_encoder.h"

namespace lumora::test {

inline void AppendJbigBytes(unsigned char* data, size_t len, void* file) {
  auto* out = static_cast<std::vector<uint8_t>*>(file);
  out->insert(out->end(), data, data + len);
}

// image is taken by value: JBIG-KIT clears the bits past the width in place.
inline std::vector<uint8_t> JbigKitBytes(const JbigImageParams& p, std::vector<uint8_t> image) {
  std::vector<uint8_t> out;
  unsigned char* planes[1] = {image.data()};
  jbg_enc_state state;
  jbg_enc_init(&state, p.xd, p.yd, 1, planes, AppendJbigBytes, &out);
  jbg_enc_layers(&state, 0);
  jbg_enc_lrange(&state, 0, -1);
  jbg_enc_options(&state, p.order, p.options, p.l0, p.mx, 0);
  jbg_enc_out(&state);
  jbg_enc_free(&state);
  return out;
}

}  // namespace lumora::test
