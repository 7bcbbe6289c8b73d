// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG1 encoding of the lowest resolution layer (T.82 clause 6), written to
// give JBIG-KIT's bytes: the same adaptive-template decision, the same coder
// flush, the same trailing-zero removal and marker placement.
#include "jbig_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "records.h"

namespace lumora {

namespace {

// Probability estimation of the arithmetic coder (T.82 table 24): the LPS
// interval size of each state and the next state after an MPS and an LPS
// (bit 7 of the LPS entry swaps the sense of the MPS).
constexpr uint16_t kLsz[113] = {
    0x5a1d, 0x2586, 0x1114, 0x080b, 0x03d8, 0x01da, 0x00e5, 0x006f, 0x0036, 0x001a, 0x000d,
    0x0006, 0x0003, 0x0001, 0x5a7f, 0x3f25, 0x2cf2, 0x207c, 0x17b9, 0x1182, 0x0cef, 0x09a1,
    0x072f, 0x055c, 0x0406, 0x0303, 0x0240, 0x01b1, 0x0144, 0x00f5, 0x00b7, 0x008a, 0x0068,
    0x004e, 0x003b, 0x002c, 0x5ae1, 0x484c, 0x3a0d, 0x2ef1, 0x261f, 0x1f33, 0x19a8, 0x1518,
    0x1177, 0x0e74, 0x0bfb, 0x09f8, 0x0861, 0x0706, 0x05cd, 0x04de, 0x040f, 0x0363, 0x02d4,
    0x025c, 0x01f8, 0x01a4, 0x0160, 0x0125, 0x00f6, 0x00cb, 0x00ab, 0x008f, 0x5b12, 0x4d04,
    0x412c, 0x37d8, 0x2fe8, 0x293c, 0x2379, 0x1edf, 0x1aa9, 0x174e, 0x1424, 0x119c, 0x0f6b,
    0x0d51, 0x0bb6, 0x0a40, 0x5832, 0x4d1c, 0x438e, 0x3bdd, 0x34ee, 0x2eae, 0x299a, 0x2516,
    0x5570, 0x4ca9, 0x44d9, 0x3e22, 0x3824, 0x32b4, 0x2e17, 0x56a8, 0x4f46, 0x47e5, 0x41cf,
    0x3c3d, 0x375e, 0x5231, 0x4c0f, 0x4639, 0x415e, 0x5627, 0x50e7, 0x4b85, 0x5597, 0x504f,
    0x5a10, 0x5522, 0x59eb};
constexpr uint8_t kNextMps[113] = {
    1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  13,  15,  16,  17,  18,  19,
    20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  9,   37,  38,
    39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51,  52,  53,  54,  55,  56,  57,
    58,  59,  60,  61,  62,  63,  32,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,
    77,  78,  79,  48,  81,  82,  83,  84,  85,  86,  87,  71,  89,  90,  91,  92,  93,  94,  86,
    96,  97,  98,  99,  100, 93,  102, 103, 104, 99,  106, 107, 103, 109, 107, 111, 109, 111};
constexpr uint8_t kNextLps[113] = {
    129, 14,  16,  18,  20,  23,  25,  28,  30,  33,  35,  9,   10,  12,  143, 36,  38,  39,  40,
    42,  43,  45,  46,  48,  49,  51,  52,  54,  56,  57,  59,  60,  62,  63,  32,  33,  165, 64,
    65,  67,  68,  69,  70,  72,  73,  74,  75,  77,  78,  79,  48,  50,  50,  51,  52,  53,  54,
    55,  56,  57,  58,  59,  61,  61,  193, 80,  81,  82,  83,  84,  86,  87,  87,  72,  72,  74,
    74,  75,  77,  77,  208, 88,  89,  90,  91,  92,  93,  86,  216, 95,  96,  97,  99,  99,  93,
    223, 101, 102, 103, 104, 99,  105, 106, 107, 103, 233, 108, 109, 110, 111, 238, 112, 240};

constexpr uint8_t kEsc = 0xFF;
constexpr uint8_t kStuff = 0x00;
constexpr uint8_t kSdnorm = 0x02;
constexpr uint8_t kAtmove = 0x06;
constexpr int kLrlTwo = 0x40;
constexpr int kTpbOn = 0x08;
constexpr int kDpOn = 0x04;
constexpr int kDpPriv = 0x02;
constexpr int kDpLast = 0x01;
constexpr unsigned kTpb2Context = 0x195;  // context of the typical-prediction bit
constexpr unsigned kTpb3Context = 0x0e5;
constexpr int kMaxShift = 8;              // the largest adaptive-pixel shift covered
constexpr size_t kGuard = 8;              // zero bytes on each side of a kept line

// The arithmetic coder of T.82 with JBIG-KIT's byte output: a byte that a
// later carry may still change is held back, and so are runs of 0xFF.
class ArithCoder {
 public:
  void Start(bool keepStates) {
    if (!keepStates) memset(st_, 0, sizeof(st_));
    c_ = 0;
    a_ = 0x10000;
    sc_ = 0;
    ct_ = 11;
    buffer_ = -1;
    out_.clear();
  }

  void Encode(unsigned cx, unsigned pix) {
    uint8_t& st = st_[cx];
    const unsigned ss = st & 0x7f;
    const uint32_t lsz = kLsz[ss];
    a_ -= lsz;
    if (((pix << 7) ^ st) & 0x80) {
      if (a_ >= lsz) {  // the LPS takes the larger part: exchange
        c_ += a_;
        a_ = lsz;
      }
      st = static_cast<uint8_t>((st & 0x80) ^ kNextLps[ss]);
    } else {
      if (a_ >= 0x8000) return;
      if (a_ < lsz) {
        c_ += a_;
        a_ = lsz;
      }
      st = static_cast<uint8_t>((st & 0x80) | kNextMps[ss]);
    }
    Renormalize();
  }

  // n pixels of value pix, all in context cx. While pix is the context's
  // more probable symbol only the interval shrinks, so the pixels up to the
  // next renormalisation are coded with one subtraction.
  void EncodeRun(unsigned cx, unsigned pix, unsigned long n) {
    while (n > 0) {
      uint8_t& st = st_[cx];
      if (((pix << 7) ^ st) & 0x80) {
        Encode(cx, pix);
        --n;
        continue;
      }
      const unsigned ss = st & 0x7f;
      const uint32_t lsz = kLsz[ss];
      const unsigned long untilRenorm = (a_ - 0x8000) / lsz + 1;
      if (untilRenorm > n) {
        a_ -= static_cast<uint32_t>(n * lsz);
        return;
      }
      a_ -= static_cast<uint32_t>(untilRenorm * lsz);
      n -= untilRenorm;
      if (a_ < lsz) {
        c_ += a_;
        a_ = lsz;
      }
      st = static_cast<uint8_t>((st & 0x80) | kNextMps[ss]);
      Renormalize();
    }
  }

  void Flush();
  std::vector<uint8_t>& Bytes() { return out_; }

 private:
  void Put(unsigned b) { out_.push_back(static_cast<uint8_t>(b)); }
  void PutHeldFFs() {
    for (; sc_ > 0; --sc_) {
      Put(kEsc);
      Put(kStuff);
    }
  }
  void Renormalize();
  void EmitByte();

  uint32_t c_ = 0;
  uint32_t a_ = 0;
  unsigned long sc_ = 0;  // 0xFF bytes held back
  int ct_ = 0;
  int buffer_ = -1;       // the byte held back, -1 for none
  uint8_t st_[4096] = {};
  std::vector<uint8_t> out_;
};

void ArithCoder::EmitByte() {
  const uint32_t temp = c_ >> 19;
  if (temp & 0xffffff00u) {  // a carry into the held bytes
    if (buffer_ >= 0) {
      ++buffer_;
      Put(static_cast<unsigned>(buffer_));
      if (buffer_ == kEsc) Put(kStuff);
    }
    for (; sc_ > 0; --sc_) Put(0x00);
    buffer_ = static_cast<int>(temp & 0xff);
  } else if (temp == 0xff) {
    ++sc_;
  } else {
    if (buffer_ >= 0) Put(static_cast<unsigned>(buffer_));
    PutHeldFFs();
    buffer_ = static_cast<int>(temp);
  }
  c_ &= 0x7ffff;
  ct_ = 8;
}

void ArithCoder::Renormalize() {
  do {
    a_ <<= 1;
    c_ <<= 1;
    if (--ct_ == 0) EmitByte();
  } while (a_ < 0x8000);
}

void ArithCoder::Flush() {
  // The value in the interval with the most trailing zero bits.
  const uint32_t temp = (a_ - 1 + c_) & 0xffff0000u;
  c_ = temp < c_ ? temp + 0x8000 : temp;
  c_ <<= ct_;
  if (c_ & 0xf8000000u) {
    if (buffer_ >= 0) {
      Put(static_cast<unsigned>(buffer_ + 1));
      if (buffer_ + 1 == kEsc) Put(kStuff);
    }
    if (c_ & 0x7fff800u) {
      for (; sc_ > 0; --sc_) Put(0x00);
    }
  } else {
    if (buffer_ >= 0) Put(static_cast<unsigned>(buffer_));
    PutHeldFFs();
  }
  if (c_ & 0x7fff800u) {  // final bytes, only if they are not zero
    Put((c_ >> 19) & 0xff);
    if (((c_ >> 19) & 0xff) == kEsc) Put(kStuff);
    if (c_ & 0x7f800u) {
      Put((c_ >> 11) & 0xff);
      if (((c_ >> 11) & 0xff) == kEsc) Put(kStuff);
    }
  }
}

// The current line and the two above it, each with zero guard bytes on
// both sides and its bits past the width cleared; lines above the image
// are white.
class LineWindow {
 public:
  LineWindow(size_t bytesPerLine, uint32_t width)
      : bpl_(bytesPerLine), stride_(bytesPerLine + 2 * kGuard), store_(4 * stride_, 0) {
    for (int k = 0; k < 3; ++k) rows_[k] = &store_[k * stride_ + kGuard];
    ors_ = &store_[3 * stride_ + kGuard];
    lastMask_ = width % 8 ? static_cast<uint8_t>(0xFF << (8 - width % 8)) : 0xFF;
  }

  void Push(const uint8_t* line) {
    uint8_t* oldest = rows_[2];
    rows_[2] = rows_[1];
    rows_[1] = rows_[0];
    rows_[0] = oldest;
    memcpy(oldest, line, bpl_);
    oldest[bpl_ - 1] &= lastMask_;
  }

  const uint8_t* Row(int up) const { return rows_[up]; }
  bool SameAsAbove() const { return memcmp(rows_[0], rows_[1], bpl_) == 0; }

  // The union of the lines the template reads, for finding white stretches.
  const uint8_t* Union(bool threeLines) {
    const uint8_t* r0 = rows_[0];
    const uint8_t* r1 = rows_[1];
    const uint8_t* r2 = rows_[2];
    if (threeLines) {
      for (size_t b = 0; b < bpl_; ++b) ors_[b] = r0[b] | r1[b] | r2[b];
    } else {
      for (size_t b = 0; b < bpl_; ++b) ors_[b] = r0[b] | r1[b];
    }
    return ors_;
  }

 private:
  size_t bpl_;
  size_t stride_;
  std::vector<uint8_t> store_;
  uint8_t* rows_[3] = {};
  uint8_t* ors_ = nullptr;
  uint8_t lastMask_ = 0xFF;
};

inline unsigned PixelAt(const uint8_t* row, unsigned long x) {
  return (row[x >> 3] >> (7 - (x & 7))) & 1u;
}

// First index from `from` up to `end` whose byte is not zero; end if none.
size_t NextInk(const uint8_t* p, size_t from, size_t end) {
  size_t i = from;
  while (i + 8 <= end) {
    uint64_t w;
    memcpy(&w, p + i, sizeof(w));
    if (w != 0) break;
    i += 8;
  }
  while (i < end && p[i] == 0) ++i;
  return i;
}

// One image's encoding: the state carried from stripe to stripe and the
// adaptive-template statistics of the stripe being coded.
class StripeEncoder {
 public:
  StripeEncoder(const JbigImageParams& p, int mx)
      : p_(p), mx_(mx), twoLines_((p.options & kLrlTwo) != 0),
        bpl_((p.xd + 7) / 8), window_(bpl_, p.xd) {}

  // Codes lines [y, y + lines) of image into the coder's bytes.
  void Encode(const uint8_t* image, unsigned long y, unsigned long lines);
  std::vector<uint8_t>& Bytes() { return coder_.Bytes(); }
  int NewShift() const { return newTx_; }
  long NewShiftLine() const { return newTxLine_; }

 private:
  void DecideShift(unsigned long line);
  void EncodeLine();
  void EncodeByte(size_t b);
  void CountShifts(unsigned long j, unsigned p, uint32_t h2);

  const JbigImageParams p_;
  const int mx_;
  const bool twoLines_;
  const size_t bpl_;
  LineWindow window_;
  ArithCoder coder_;
  int tx_ = 0;                 // adaptive pixel shift in use
  int newTx_ = -1;             // shift moved to in this stripe, -1 for none
  long newTxLine_ = -1;
  bool atDetermined_ = true;
  unsigned long cAll_ = 0;
  unsigned long c_[kMaxShift + 1] = {};
};

void StripeEncoder::Encode(const uint8_t* image, unsigned long y, unsigned long lines) {
  const bool reset = y == 0;
  coder_.Start(!reset);
  cAll_ = 0;
  std::fill(std::begin(c_), std::end(c_), 0);
  if (reset) tx_ = 0;
  newTx_ = -1;
  newTxLine_ = -1;
  atDetermined_ = mx_ == 0;
  // Typical prediction of the line before the stripe (white lines above
  // the image make the first line's prediction "same as white").
  bool ltpOld = !reset && window_.SameAsAbove();
  for (unsigned long i = 0; i < lines; ++i) {
    window_.Push(image + (y + i) * bpl_);
    if (!atDetermined_ && cAll_ > 2048) DecideShift(i);
    if (p_.options & kTpbOn) {
      const bool ltp = window_.SameAsAbove();
      coder_.Encode(twoLines_ ? kTpb2Context : kTpb3Context, ltp == ltpOld);
      ltpOld = ltp;
      if (ltp) continue;
    }
    EncodeLine();
  }
  coder_.Flush();
}

// T.82 annex C's test for moving the adaptive pixel, with the corrigendum
// and JBIG-KIT's exact unsigned arithmetic.
void StripeEncoder::DecideShift(unsigned long line) {
  unsigned long cmin = 0xffffffffUL, cmax = 0;
  int tmax = 0;
  for (int t = twoLines_ ? 5 : 3; t <= mx_; ++t) {
    cmax = std::max(cmax, c_[t]);
    cmin = std::min(cmin, c_[t]);
    if (c_[t] > c_[tmax]) tmax = t;
  }
  const unsigned long clmin = c_[0] < cmin ? c_[0] : cmin;
  const unsigned long clmax = c_[0] > cmax ? c_[0] : cmax;
  const unsigned long now = c_[tx_];
  if (cAll_ - cmax < (cAll_ >> 3) && cmax - now > cAll_ - cmax && cmax - now > (cAll_ >> 4) &&
      cmax - (cAll_ - now) > cAll_ - cmax && cmax - (cAll_ - now) > (cAll_ >> 4) &&
      cmax - cmin > (cAll_ >> 2) && (tx_ || clmax - clmin > (cAll_ >> 3))) {
    newTx_ = tmax;
    newTxLine_ = static_cast<long>(line);
    tx_ = tmax;
  }
  atDetermined_ = true;
}

void StripeEncoder::EncodeLine() {
  const uint8_t* ink = window_.Union(!twoLines_);
  size_t b = 0;
  while (b < bpl_) {
    // Every pixel of byte b has a white context and is white itself when
    // the bytes b - 1 .. b + 1 of the lines the template reads are white.
    // Until the adaptive pixel is settled every pixel counts for it, so
    // white runs are only taken after that.
    const uint8_t* around = ink + b;
    if (atDetermined_ && (around[-1] | around[0] | around[1]) == 0) {
      const size_t end = std::min(NextInk(ink, b + 2, bpl_ + 1) - 1, bpl_);
      const unsigned long first = static_cast<unsigned long>(b) * 8;
      const unsigned long last = std::min<unsigned long>(static_cast<unsigned long>(end) * 8, p_.xd);
      coder_.EncodeRun(0, 0, last - first);
      b = end;
      continue;
    }
    EncodeByte(b);
    ++b;
  }
}

// The pixels of byte b one by one, as JBIG-KIT's encoder walks them: h1, h2
// and h3 hold the current line and the two above with pixel x of the
// current line at bit 8 of h1 and at bit 16 of h2 and h3.
void StripeEncoder::EncodeByte(size_t b) {
  const uint8_t* r0 = window_.Row(0);
  const uint8_t* c0 = r0 + b;  // the byte in each line, its neighbours at -1 and +1
  const uint8_t* c1 = window_.Row(1) + b;
  const uint8_t* c2 = window_.Row(2) + b;
  const bool hasNext = b + 1 < bpl_;
  uint32_t h1 = (uint32_t{c0[-1]} << 8) | c0[0];
  uint32_t h2 = (uint32_t{c1[-1]} << 16) | (uint32_t{c1[0]} << 8) | (hasNext ? c1[1] : 0u);
  uint32_t h3 = (uint32_t{c2[-1]} << 16) | (uint32_t{c2[0]} << 8) | (hasNext ? c2[1] : 0u);
  const unsigned long hx = p_.xd;
  unsigned long j = static_cast<unsigned long>(b) * 8;
  const unsigned long end = std::min<unsigned long>(j + 8, hx);
  for (; j < end; ++j) {
    h1 <<= 1;
    h2 <<= 1;
    h3 <<= 1;
    unsigned at = 0;
    if (tx_ != 0 && static_cast<unsigned long>(tx_) <= j) at = PixelAt(r0, j - tx_);
    unsigned cx;
    if (twoLines_) {
      cx = tx_ ? (((h2 >> 10) & 0x3e0) | (at << 4) | ((h1 >> 9) & 0x00f))
               : (((h2 >> 10) & 0x3f0) | ((h1 >> 9) & 0x00f));
    } else {
      cx = tx_ ? (((h3 >> 8) & 0x380) | ((h2 >> 12) & 0x078) | (at << 2) | ((h1 >> 9) & 0x003))
               : (((h3 >> 8) & 0x380) | ((h2 >> 12) & 0x07c) | ((h1 >> 9) & 0x003));
    }
    const unsigned pix = (h1 >> 8) & 1;
    coder_.Encode(cx, pix);
    if (!atDetermined_ && j >= static_cast<unsigned long>(mx_) && j < hx - 2) {
      CountShifts(j, pix, h2);
    }
  }
}

// How often each candidate position of the adaptive pixel agrees with the
// pixel coded (position 0: the template's own).
void StripeEncoder::CountShifts(unsigned long j, unsigned p, uint32_t h2) {
  const uint8_t* r0 = window_.Row(0);
  c_[0] += ((h2 & 0x4000) != 0) == (p != 0);
  int t = twoLines_ ? 5 : 3;
  for (; t <= mx_ && static_cast<unsigned long>(t) <= j; ++t) c_[t] += PixelAt(r0, j - t) == p;
  for (; t <= mx_; ++t) c_[t] += p == 0;
  ++cAll_;
}

// The order byte as JBIG-KIT settles it: out-of-range values keep its
// default, and the two illegal combinations become ILEAVE | SMID.
int SettledOrder(int order) {
  constexpr int kDefault = 0x03;
  if (order < 0 || order > 0x0f) order = kDefault;
  const int low = order & 0x07;
  return (low == 0x01 || low == 0x07) ? kDefault : order;
}

// The stripe's data as the encoder ends it: trailing zero bytes dropped (a
// stuffed 0xFF keeps its 0x00), SDNORM after it, and an ATMOVE segment in
// front when the adaptive pixel moved in the stripe.
void SendStripe(StripeEncoder& enc, JbigSink sink, void* file) {
  std::vector<uint8_t>& data = enc.Bytes();
  while (!data.empty() && data.back() == 0) data.pop_back();
  if (!data.empty() && data.back() == kEsc) data.push_back(kStuff);
  data.push_back(kEsc);
  data.push_back(kSdnorm);
  if (enc.NewShift() != -1) {
    uint8_t atmove[8] = {kEsc, kAtmove};
    PutBE32(atmove + 2, static_cast<uint32_t>(enc.NewShiftLine()));
    atmove[6] = static_cast<uint8_t>(enc.NewShift());
    sink(atmove, sizeof(atmove), file);
  }
  sink(data.data(), data.size(), file);
}

}  // namespace

JbigEncodeResult EncodeJbigImage(const JbigImageParams& params, const uint8_t* image,
                                 JbigSink sink, void* file) {
  int mx = std::min(params.mx, 127);
  if (mx != 0 && mx < ((params.options & kLrlTwo) ? 5 : 3)) mx = 0;
  // DPON | DPPRIV without DPLAST puts a private prediction table after the
  // header, which JBIG-KIT writes and this encoder does not.
  const bool privateTable = (params.options & (kDpOn | kDpPriv | kDpLast)) == (kDpOn | kDpPriv);
  if (params.xd == 0 || params.yd == 0 || params.l0 == 0 || mx < 0 || mx > kMaxShift ||
      params.options < 0 || privateTable || image == nullptr) {
    return JbigEncodeResult::kNotCovered;
  }
  uint8_t header[20] = {0, 0, 1, 0};
  PutBE32(header + 4, params.xd);
  PutBE32(header + 8, params.yd);
  PutBE32(header + 12, params.l0);
  header[16] = static_cast<uint8_t>(mx);
  header[18] = static_cast<uint8_t>(SettledOrder(params.order));
  header[19] = static_cast<uint8_t>(params.options & 0x7f);
  try {
    StripeEncoder enc(params, mx);
    sink(header, sizeof(header), file);
    for (unsigned long y = 0; y < params.yd; y += params.l0) {
      enc.Encode(image, y, std::min<unsigned long>(params.l0, params.yd - y));
      SendStripe(enc, sink, file);
    }
  } catch (const std::bad_alloc&) {
    return JbigEncodeResult::kOutOfMemory;
  }
  return JbigEncodeResult::kDone;
}

}  // namespace lumora
