// SPDX-License-Identifier: GPL-2.0-or-later
// The driver's own JBIG1 encoder for the images it sends: one bit plane, one
// resolution layer, the adaptive template moving at most 8 pixels. It writes
// the same bytes as JBIG-KIT's encoder given the same parameters, several
// times faster on printed pages: pixels whose whole neighbourhood is white
// are coded as runs, without building a context for each of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

struct JbigImageParams {
  uint32_t xd = 0;  // pixels per line
  uint32_t yd = 0;  // lines
  uint32_t l0 = 0;  // lines per stripe
  int mx = 0;       // how far left the adaptive pixel may move
  int order = 0;
  int options = 0;  // the header's option bits (JBG_LRLTWO, JBG_TPBON, ...)
};

// Receives the encoder's bytes: the 20-byte header, then each stripe as soon
// as it is coded (the signature of JBIG-KIT's output callback).
using JbigSink = void (*)(unsigned char* data, size_t len, void* file);

enum class JbigEncodeResult { kDone, kNotCovered, kOutOfMemory };

// Encodes image, lines of (xd + 7) / 8 bytes whose bits past xd are ignored.
// kNotCovered, before anything is written, for parameters this encoder does
// not take (mx over 8, no stripe height, a private deterministic-prediction
// table); such images go to JBIG-KIT.
JbigEncodeResult EncodeJbigImage(const JbigImageParams& params, const uint8_t* image,
                                 JbigSink sink, void* file);

}  // namespace lumora
