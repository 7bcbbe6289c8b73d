// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_builders.h"

extern "C" {
#include <jbig.h>
}

#include <cstring>

namespace lumora::test {

Bitmap TestBitmap(unsigned width, unsigned height, bool noisy) {
  Bitmap b;
  b.width = width;
  b.height = height;
  size_t row = (width + 7) / 8;
  b.bits.assign(row * height, 0);
  uint32_t seed = 12345;
  for (unsigned y = 0; y < height; y++)
    for (unsigned x = 0; x < width; x++) {
      bool on;
      if (noisy) {
        seed = seed * 1103515245u + 12345u;
        on = (seed >> 16) & 1;
      } else {
        on = (x + y) % 13 == 0 || x == 0 || y == 0 || x + 1 == width || y + 1 == height ||
             (x > width / 4 && x < width / 2 && y > height / 3 && y < height / 2);
      }
      if (on) b.bits[y * row + x / 8] |= uint8_t(0x80 >> (x % 8));
    }
  return b;
}

static void Collect(unsigned char* data, size_t len, void* out) {
  static_cast<Bytes*>(out)->insert(static_cast<Bytes*>(out)->end(), data, data + len);
}

Bytes JbigEncode(const Bitmap& bitmap, unsigned first, unsigned lines, unsigned long l0, int order,
                 int options, int mx) {
  Bytes out;
  size_t row = (bitmap.width + 7) / 8;
  Bytes part(bitmap.bits.begin() + first * row, bitmap.bits.begin() + (first + lines) * row);
  unsigned char* planes[1] = {part.data()};
  jbg_enc_state s;
  jbg_enc_init(&s, bitmap.width, lines, 1, planes, Collect, &out);
  jbg_enc_layers(&s, 0);
  jbg_enc_options(&s, order, options, l0, mx, 0);
  jbg_enc_out(&s);
  jbg_enc_free(&s);
  return out;
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void AppendText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
void Filler(Bytes& out) { out.insert(out.end(), {0, 0}); }

Bytes Rec(uint8_t type, const Bytes& payload) {
  Bytes r = {0x0B, uint8_t(payload.size() + 4), type};
  Append(r, payload);
  unsigned sum = 0;
  for (uint8_t b : r) sum += b;
  r.push_back(uint8_t((256 - sum % 256) % 256));
  return r;
}
Bytes Rec(uint8_t type, std::initializer_list<uint8_t> payload) { return Rec(type, Bytes(payload)); }

void Le16(Bytes& out, unsigned v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Le32(Bytes& out, uint32_t v) { Le16(out, v & 0xFFFF); Le16(out, v >> 16); }
void Be16(Bytes& out, unsigned v) { out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)}); }
void Be32(Bytes& out, uint32_t v) { Be16(out, v >> 16); Be16(out, v & 0xFFFF); }

void MHeader(Bytes& out, uint32_t length, uint32_t command, uint32_t params) {
  Be32(out, length);
  Be32(out, command);
  Be32(out, params);
  Be16(out, params * 12);
  Be16(out, 0x5A5A);
}
void MParam(Bytes& out, uint16_t id, uint32_t value) {
  Be32(out, 12);
  Be16(out, id);
  out.insert(out.end(), {1, 0});
  Be32(out, value);
}

static const char kUelC[] = "\x1B\xFF-12345X";
static const char kEoj[] = "\x1B%-12345X@PJL\r\n@PJL EOJ\r\n\x1B%-12345X\r\n";

static Bytes PageSpec(const TestPage& p, uint8_t flags) {
  Bytes s = {uint8_t(p.paper), 0, 60, 60, 1, flags};
  Le16(s, p.copies);
  Le16(s, 0);
  Le16(s, 0);
  Le16(s, p.number);
  return Rec(0x12, s);
}

Bytes BuildJobC(const std::vector<TestPage>& pages, int manualDuplexAfter) {
  Bytes out;
  AppendText(out, std::string(kUelC, 9));
  Append(out, {0x0B, 0x04, 0x16, 0xDB});
  AppendText(out, std::string(kEoj, 36));
  AppendText(out, "versions=3.1.2.1");
  Filler(out);
  AppendText(out, "\x1B%-12345X@PJL\r\n@PJL ENTER LANGUAGE=PL\r\n");
  Filler(out);
  Append(out, Rec(0x11, {0x2C, 0x30}));
  Filler(out);
  Append(out, Rec(0x19, {0}));
  Filler(out);
  Append(out, Rec(0x15, {2}));
  Append(out, Rec(0x1F, {0xEA, 0x07, 12, 9}));
  for (size_t i = 0; i < pages.size(); i++) {
    if (int(i) == manualDuplexAfter) Append(out, {0x0B, 0x04, 0x30, 0xC1});
    const TestPage& p = pages[i];
    Filler(out);
    Append(out, PageSpec(p, 0));
    Filler(out);
    Append(out, Rec(0x13, {0, 0, 0, 0, 0, 0, 0, 0}));
    Filler(out);
    Append(out, {0x0B, 0x04, 0x32, 0xBF});
    Filler(out);
    Bytes jbig = JbigEncode(p.bitmap, 0, p.bitmap.height, 768, 0, 0x08, 8);
    Bytes raster = {0, 0x20};
    Le16(raster, p.bitmap.width);
    Le16(raster, p.bitmap.height);
    Le16(raster, p.bitmap.width);
    Le16(raster, 768);
    Le32(raster, uint32_t(jbig.size()));
    Append(out, Rec(0x0C, raster));
    Append(out, jbig);
    AppendText(out, std::string(kUelC, 9));
    unsigned sum = 0;
    for (uint8_t b : jbig) sum += b;
    for (int k = 0; k < 9; k++) sum += uint8_t(kUelC[k]);
    Filler(out);
    Append(out, Rec(0x1A, {uint8_t(sum % 256), 0}));
    Filler(out);
    Append(out, Rec(0x1E, {0x34, 0x12}));
    Filler(out);
    Append(out, {0x0B, 0x04, 0x18, 0xD9});
    if (p.machineDuplex) {
      Filler(out);
      Append(out, {0x0B, 0x04, 0x40, 0xB1});
    }
  }
  Filler(out);
  Append(out, {0x0B, 0x05, 0x31, 0x80, 0x3F});
  Filler(out);
  Append(out, {0x0B, 0x04, 0x17, 0xDA});
  AppendText(out, std::string(kEoj, 36));
  return out;
}

static unsigned PopCount(const Bytes& bits) {
  unsigned n = 0;
  for (uint8_t b : bits) n += __builtin_popcount(b);
  return n;
}

Bytes BuildJobZ(const std::vector<TestPage>& pages, int manualDuplexAfter) {
  Bytes out;
  AppendText(out, "\x1B%-12345X@PJL\r\n@PJL JOBTIME=05:09:07:12:2026\r\n@PJL JOBOWNER=printhost\r\n"
                  "@PJL ENTER LANGUAGE=PL\r\n");
  Filler(out);
  Append(out, Rec(0x1F, {1}));
  Filler(out);
  Append(out, Rec(0x11, {0x10, 0x2C, 0x01, 0, 0}));
  Filler(out);
  Append(out, Rec(0x15, {3}));
  Filler(out);
  for (size_t i = 0; i < pages.size(); i++) {
    if (int(i) == manualDuplexAfter) Append(out, {0x0B, 0x04, 0x1B, 0xD6});
    const TestPage& p = pages[i];
    Filler(out);
    Append(out, PageSpec(p, 0));
    Filler(out);
    Append(out, Rec(0x13, {0, 0, 0, 0, 0, 0, 0, 0}));
    Filler(out);
    unsigned k = PopCount(p.bitmap.bits) / 1000;
    Append(out, Rec(0x19, {uint8_t(k % 64), uint8_t(k / 64 % 64), uint8_t(k / 4096)}));
    Filler(out);
    Bytes raster = {0, 0x20};
    Le16(raster, p.bitmap.width);
    Le16(raster, p.bitmap.height);
    Le16(raster, 0);
    Le16(raster, 0);
    Le32(raster, 0);
    Append(out, Rec(0x0C, raster));
    for (unsigned first = 0; first < p.bitmap.height; first += 256) {
      unsigned lines = p.bitmap.height - first < 256 ? p.bitmap.height - first : 256;
      Bytes jbig = JbigEncode(p.bitmap, first, lines, lines, 3, 0x58, 0);
      Bytes h = {0, 0, 1, 0};
      Le32(h, p.bitmap.width);
      Le32(h, lines);
      Le32(h, lines);
      h.insert(h.end(), {0, 0, 3, 0x58});
      Le32(h, uint32_t(jbig.size()));
      Le32(h, uint32_t(jbig.size()));
      Le32(h, 0);
      Le32(h, first);
      Le32(h, 3);
      Le32(h, 0);
      Append(out, Rec(0x1A, h));
      Append(out, jbig);
    }
    Filler(out);
    Append(out, {0x0B, 0x04, 0x18, 0xD9});
  }
  Append(out, {0x0B, 0x04, 0x17, 0xDA});
  AppendText(out, std::string(kEoj, 36));
  return out;
}

Bytes BuildJobM(const std::vector<TestPage>& pages, int manualDuplexAfter) {
  static const uint16_t kToner[36] = {0,   81,  115, 110, 150, 122, 100, 150, 200, 100, 81,  100,
                                      100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                                      120, 135, 150, 180, 200, 120, 150, 190, 350, 400, 100, 100};
  Bytes out;
  AppendText(out, "\x1B%-12345XJZJZ");
  MHeader(out, 88, 17, 0);
  for (uint16_t v : kToner) Be16(out, v);
  MHeader(out, 52, 0, 3);
  MParam(out, 0, 0);
  MParam(out, 1, 0);
  MParam(out, 2, 1);
  for (size_t i = 0; i < pages.size(); i++) {
    if (int(i) == manualDuplexAfter) MHeader(out, 16, 11, 0);
    const TestPage& p = pages[i];
    unsigned video = p.bitmap.width / unsigned(p.depth);
    MHeader(out, 16 + 12 * 14, 2, 14);
    const uint32_t values[14][2] = {{3, p.paper}, {4, p.copies}, {5, 1}, {6, 0}, {7, 1},
                                    {8, 600}, {9, 600}, {22, 0}, {12, p.bitmap.width},
                                    {13, p.bitmap.height}, {16, uint32_t(p.depth)}, {17, video},
                                    {18, p.bitmap.height}, {0xFF00, 2}};
    for (const auto& v : values) MParam(out, uint16_t(v[0]), v[1]);
    MHeader(out, 36, 4, 0);
    Bytes jbigParam = {0, 0, 1, 0};
    Be32(jbigParam, p.bitmap.width);
    Be32(jbigParam, p.bitmap.height);
    Be32(jbigParam, 256);
    jbigParam.insert(jbigParam.end(), {0, 0, 3, 0x5C});
    Append(out, jbigParam);
    Bytes jbig = JbigEncode(p.bitmap, 0, p.bitmap.height, 256, 3, 0x5C, 0);
    for (size_t at = 0; at < jbig.size(); at += 65536) {
      size_t n = jbig.size() - at < 65536 ? jbig.size() - at : 65536;
      MHeader(out, uint32_t(16 + n), 5, 0);
      out.insert(out.end(), jbig.begin() + at, jbig.begin() + at + n);
    }
    MHeader(out, 16, 6, 0);
    MHeader(out, 16, 3, 0);
  }
  MHeader(out, 16, 1, 0);
  AppendText(out, "\x1B%-12345X");
  return out;
}

size_t Find(const Bytes& hay, const Bytes& needle, size_t from) {
  for (size_t i = from; i + needle.size() <= hay.size(); i++)
    if (std::memcmp(hay.data() + i, needle.data(), needle.size()) == 0) return i;
  return std::string::npos;
}

}  // namespace lumora::test
