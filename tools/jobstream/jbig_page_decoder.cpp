// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG1 entity decoding through JBIG-KIT.
#include "jbig_page_decoder.h"

// JBIG-KIT's header has no C++ linkage guard of its own.
extern "C" {
#include <jbig.h>
}

#include <cstring>

namespace lumora::inspect {

namespace {

// Owns a JBIG-KIT decoder state.
class JbigDecoder {
 public:
  JbigDecoder() { jbg_dec_init(&state_); }
  ~JbigDecoder() { jbg_dec_free(&state_); }
  JbigDecoder(const JbigDecoder&) = delete;
  JbigDecoder& operator=(const JbigDecoder&) = delete;
  jbg_dec_state* get() { return &state_; }

 private:
  jbg_dec_state state_;
};

uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

bool ReadJbigHeader(const uint8_t* data, size_t len, JbigHeader& header) {
  if (len < 20) return false;
  header.dl = data[0];
  header.d = data[1];
  header.planes = data[2];
  header.xd = Be32(data + 4);
  header.yd = Be32(data + 8);
  header.l0 = Be32(data + 12);
  header.mx = data[16];
  header.my = data[17];
  header.order = data[18];
  header.options = data[19];
  return true;
}

std::string DecodeJbig(const uint8_t* data, size_t len, uint64_t maxPixels, JbigImage& image,
                       size_t* errorAt) {
  *errorAt = 0;
  JbigHeader& h = image.header;
  if (!ReadJbigHeader(data, len, h))
    return "JBIG image of " + std::to_string(len) + " bytes is shorter than its 20-byte header";
  if (h.dl != 0 || h.d > 31)
    return "JBIG header asks for resolution layers " + std::to_string(h.dl) + " to " +
           std::to_string(h.d) + "; a page image starts at layer 0";
  if (h.planes != 1)
    return "JBIG image has " + std::to_string(h.planes) + " bit planes; the printer takes 1";
  if (h.xd == 0 || h.yd == 0)
    return "JBIG image of " + std::to_string(h.xd) + " x " + std::to_string(h.yd) +
           " pixels is empty";
  if (uint64_t(h.xd) * uint64_t(h.yd) > maxPixels) {
    *errorAt = 4;
    return "JBIG image of " + std::to_string(h.xd) + " x " + std::to_string(h.yd) +
           " pixels is larger than the limit of " + std::to_string(maxPixels) + " pixels";
  }

  JbigDecoder decoder;
  jbg_dec_maxsize(decoder.get(), h.xd, h.yd);
  size_t used = 0;
  // The decoder only reads its input; the cast is for its C prototype.
  int rc = jbg_dec_in(decoder.get(), const_cast<uint8_t*>(data), len, &used);
  if (rc == JBG_EAGAIN) {
    *errorAt = len;
    return "JBIG data ends before the image is complete (" + std::to_string(len) + " bytes)";
  }
  if (rc != JBG_EOK) {
    *errorAt = used;
    return std::string("JBIG decoder: ") + jbg_strerror(rc);
  }
  if (used < len) {
    *errorAt = used;
    return std::to_string(len - used) + " bytes follow the end of the JBIG image";
  }
  image.width = jbg_dec_getwidth(decoder.get());
  image.height = jbg_dec_getheight(decoder.get());
  image.bytesPerRow = (image.width + 7) / 8;
  const uint8_t* pixels = jbg_dec_getimage(decoder.get(), 0);
  size_t bytes = jbg_dec_getsize(decoder.get());
  if (!pixels || bytes != image.bytesPerRow * image.height)
    return "JBIG decoder returned no image";
  image.bits.assign(pixels, pixels + bytes);
  return "";
}

}  // namespace lumora::inspect
