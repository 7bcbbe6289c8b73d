// SPDX-License-Identifier: GPL-2.0-or-later
// HalftoneDither: ordered dithering of the gray page into printer dots.
//
// How it is made fast. The threshold of a pixel depends only on its row and
// column modulo the matrix period P. For each matrix row we lay the row out
// once per call, repeated to L = lcm(P, 64) bytes (at most 448), so a run of
// 64 pixels starting at any multiple of 64 finds its 64 thresholds side by
// side. A page row is then screened as a straight run of 64-pixel blocks:
// compare 16 samples at a time against 16 thresholds, gather the results
// into a 64-bit word, reorder it to the printer's bit order and store 8
// bytes. Dots are counted per word and added to gImageCoverage once.
//
// Bit layout. Pixels are packed in reading order without any padding at row
// ends, most significant bit first. Negative printing inverts every output
// byte: on PLATFORM_C/Z the completed byte is complemented, on PLATFORM_M
// the test becomes v >= t (1 bit) or the level becomes 3 - e (2 bits), which
// are the same inversions. Rows that start on a byte boundary (the width is
// a multiple of 8, or of 4 for 2-bit output: every real page) are written
// straight into the output; other widths are screened into a scratch row
// and shifted into place.
//
// A page whose pixel count does not fill its last byte leaves 1 to 7 pixels
// (1 to 3 at 2 bits) with no room in the width * lines / 8 byte block: they
// are neither written nor counted.
#include "halftone.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "records.h"  // PrntPlatform


#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumora {

namespace {

const char kWillowPlus[] = "Lumora Willow Plus Series";
constexpr size_t kBlock = 64;  // pixels per block of the 1-bit row screen

enum OutputMode { kOneBit, kTwoBit };

struct Screen {
  const uint8_t* matrix;  // period x period, row-major
  size_t period;
  OutputMode mode;
};

// Number of pixels that print in an 8-byte word of packed output.
inline uint64_t CountDots(uint64_t x) {
#if defined(__POPCNT__)
  return static_cast<uint64_t>(__builtin_popcountll(x));
#else
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return (x * 0x0101010101010101ULL) >> 56;
#endif
}

// Reverses the bit order inside each byte of x.
inline uint64_t ReverseBitsInBytes(uint64_t x) {
  x = ((x >> 1) & 0x5555555555555555ULL) | ((x & 0x5555555555555555ULL) << 1);
  x = ((x >> 2) & 0x3333333333333333ULL) | ((x & 0x3333333333333333ULL) << 2);
  x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((x & 0x0F0F0F0F0F0F0F0FULL) << 4);
  return x;
}

inline void StoreLE64(uint8_t* p, uint64_t x) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(x >> (8 * i));
}

// One output byte of 8 pixels at 1 bit: bit 7 for the first pixel.
inline uint8_t PackByte1(const uint8_t* s, const uint8_t* t) {
  unsigned b = 0;
  for (int j = 0; j < 8; ++j) b = (b << 1) | (s[j] < t[j] ? 1u : 0u);
  return static_cast<uint8_t>(b);
}

// Level table of PLATFORM_M at 1200 dpi as break points: level(g) is the
// number of break points <= g. Holds when HT_TABLE_2BIG is a staircase
// 0..3 with break points in 1..255 (it is; the scalar path serves otherwise).
struct LevelSteps {
  bool staircase;
  int bound[3];  // first darkness excess of level 1, 2, 3
};

LevelSteps FindLevelSteps() {
  LevelSteps steps{true, {256, 256, 256}};
  for (int g = 255; g >= 0; --g) {
    int e = HT_TABLE_2BIG[g];
    if (e > 3 || (g < 255 && e > HT_TABLE_2BIG[g + 1])) steps.staircase = false;
    for (int k = 1; k <= 3; ++k)
      if (e >= k) steps.bound[k - 1] = g;
  }
  for (int b : steps.bound)
    if (b < 1 || b > 255) steps.staircase = false;
  return steps;
}

// 2-bit level of one pixel, straight from the table.
inline unsigned Level2(uint8_t v, uint8_t t) {
  int g = (v == 0) ? 255 : 255 - static_cast<int>(v) - static_cast<int>(t);
  if (g < 0) g = 0;
  return HT_TABLE_2BIG[g];
}

// One output byte of 4 pixels at 2 bits: bits 7-6 for the first pixel.
inline uint8_t PackByte2(const uint8_t* s, const uint8_t* t) {
  unsigned b = 0;
  for (int j = 0; j < 4; ++j) b = (b << 2) | Level2(s[j], t[j]);
  return static_cast<uint8_t>(b);
}

// Screens nbytes whole output bytes (8 * nbytes pixels) of one row at 1 bit.
// pat holds the row's thresholds repeated to len bytes (a multiple of 64);
// every byte is XOR-ed with flip. Returns the number of 1 bits written.
uint64_t ScreenRow1(const uint8_t* s, const uint8_t* pat, size_t len, size_t nbytes,
                    uint8_t* out, uint8_t flip) {
  uint64_t dots = 0;
  size_t o = 0;  // offset into pat, kept below len
  size_t blocks = nbytes / 8;
#if defined(__SSE2__)
  const uint64_t flip64 = flip ? ~0ULL : 0;
  const __m128i zero = _mm_setzero_si128();
  for (size_t b = 0; b < blocks; ++b) {
    const uint8_t* t = pat + o;
    uint64_t keep = 0;  // bit i set: pixel i does not print (v >= t)
    for (int q = 0; q < 4; ++q) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * q));
      __m128i th = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 16 * q));
      __m128i ge = _mm_cmpeq_epi8(_mm_subs_epu8(th, v), zero);
      keep |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(ge))) << (16 * q);
    }
    uint64_t word = ReverseBitsInBytes(~keep) ^ flip64;
    StoreLE64(out, word);
    dots += CountDots(word);
    s += kBlock;
    out += 8;
    o += kBlock;
    if (o == len) o = 0;
  }
  size_t done = blocks * 8;
#else
  size_t done = 0;
  (void)blocks;
#endif
  for (size_t i = done; i < nbytes; ++i) {
    uint8_t byte = static_cast<uint8_t>(PackByte1(s, pat + o) ^ flip);
    *out++ = byte;
    dots += CountDots(byte);
    s += 8;
    o += 8;
    if (o == len) o = 0;
  }
  return dots;
}

// Screens nbytes whole output bytes (4 * nbytes pixels) of one row at 2 bits,
// XOR-ing each byte with flip.
void ScreenRow2(const uint8_t* s, const uint8_t* pat, size_t len, size_t nbytes, uint8_t* out,
                uint8_t flip, const LevelSteps& steps) {
  size_t o = 0;
  size_t done = 0;
#if defined(__SSE2__)
  if (steps.staircase) {
    // level >= k  <=>  v == 0, or v + t <= 255 - bound[k] (v + t saturated
    // at 255 cannot pass, since 255 - bound[k] <= 254).
    const __m128i zero = _mm_setzero_si128();
    const __m128i flipv = _mm_set1_epi8(static_cast<char>(flip));
    const __m128i k1 = _mm_set1_epi8(static_cast<char>(255 - steps.bound[0]));
    const __m128i k2 = _mm_set1_epi8(static_cast<char>(255 - steps.bound[1]));
    const __m128i k3 = _mm_set1_epi8(static_cast<char>(255 - steps.bound[2]));
    size_t groups = nbytes / 4;  // 16 pixels -> 4 bytes
    for (size_t g = 0; g < groups; ++g) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
      __m128i th = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pat + o));
      __m128i sum = _mm_adds_epu8(v, th);
      __m128i black = _mm_cmpeq_epi8(v, zero);
      __m128i c1 = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(sum, k1), sum), black);
      __m128i c2 = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(sum, k2), sum), black);
      __m128i c3 = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(sum, k3), sum), black);
      __m128i hi = _mm_xor_si128(c2, flipv);
      __m128i lo = _mm_xor_si128(_mm_xor_si128(c1, _mm_xor_si128(c2, c3)), flipv);
      // Interleave (lo, hi) per pixel, then put the four pixels of each
      // output byte in reverse so that movemask yields bits 7-6 first.
      __m128i a = _mm_unpacklo_epi8(lo, hi);
      __m128i b = _mm_unpackhi_epi8(lo, hi);
      a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0x1B), 0x1B);
      b = _mm_shufflehi_epi16(_mm_shufflelo_epi16(b, 0x1B), 0x1B);
      uint32_t word = static_cast<uint32_t>(_mm_movemask_epi8(a)) |
                      (static_cast<uint32_t>(_mm_movemask_epi8(b)) << 16);
      for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(word >> (8 * i));
      s += 16;
      out += 4;
      o += 16;
      if (o == len) o = 0;
    }
    done = groups * 4;
  }
#else
  (void)steps;
#endif
  for (size_t i = done; i < nbytes; ++i) {
    *out++ = static_cast<uint8_t>(PackByte2(s, pat + o) ^ flip);
    s += 4;
    o += 4;
    if (o == len) o = 0;
  }
}

// Appends bits to the output when rows do not start on a byte boundary.
// Only whole bytes are written; each is XOR-ed with flip and counted.
struct BitSink {
  uint8_t* out;
  uint32_t acc = 0;
  int pending = 0;
  uint8_t flip = 0;
  uint64_t dots = 0;

  void Put(unsigned bits, int n) {  // n <= 8, bits MSB first
    acc = (acc << n) | bits;
    pending += n;
    if (pending >= 8) {
      pending -= 8;
      uint8_t byte = static_cast<uint8_t>((acc >> pending) ^ flip);
      *out++ = byte;
      dots += CountDots(byte);
    }
  }
};

// The matrix of a job (and whether it is one of the Willow Plus's own);
// false for no known platform.
bool SelectScreen(const char* model, const HalftoneRequest& r, Screen* screen, bool* willow) {
  *willow = r.platform == PLATFORM_Z && model != nullptr &&
            strncmp(model, kWillowPlus, sizeof(kWillowPlus) - 1) == 0;
  if (*willow) {
    *screen = {r.dpi1200 ? &NEW_HT_HALFTONE_1200_Z[0][0] : &NEW_HT_TABLE_600_Z_M[0][0], 96, kOneBit};
  } else if (r.platform == PLATFORM_Z) {
    *screen = {r.dpi1200 ? &HT_TABLE_1200_Z[0][0] : &HT_TABLE_600[0][0], 16, kOneBit};
  } else if (r.platform == PLATFORM_C) {
    if (r.dpi1200)
      *screen = {&HT_TABLE_1200_C[0][0], 28, kOneBit};
    else
      *screen = {&HT_TABLE_600[0][0], 16, kOneBit};
  } else if (r.platform == PLATFORM_M) {
    *screen = {&HT_TABLE_600[0][0], 16, r.dpi1200 ? kTwoBit : kOneBit};
  } else {
    return false;
  }
  return true;
}

size_t Gcd(size_t a, size_t b) {
  while (b != 0) {
    size_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

// The matrix rows laid out for one call, and how a row is screened.
struct RowScreen {
  const uint8_t* pats;  // each matrix row repeated to len bytes
  size_t period;
  size_t len;
  uint8_t flip;         // 0xFF: negative printing
  bool twoBit;
  LevelSteps steps;
};

// Rows that start on a byte boundary, screened straight into the output.
uint64_t ScreenAligned(const RowScreen& rs, const HalftoneRequest& r) {
  const size_t w = static_cast<size_t>(r.width);
  const size_t rowBytes = w / (rs.twoBit ? 4 : 8);
  uint64_t dots = 0;
  size_t m = 0;  // matrix row of the current page row
  uint8_t* out = r.dst;
  for (uint32_t y = 0; y < r.lines; ++y) {
    const uint8_t* s = r.src + static_cast<size_t>(y) * w;
    const uint8_t* pat = rs.pats + m * rs.len;
    if (rs.twoBit)
      ScreenRow2(s, pat, rs.len, rowBytes, out, rs.flip, rs.steps);
    else
      dots += ScreenRow1(s, pat, rs.len, rowBytes, out, rs.flip);
    out += rowBytes;
    if (++m == rs.period) m = 0;
  }
  return dots;
}

// Rows that start inside a byte: each row is screened into a scratch row
// that starts on a byte boundary, then shifted into the running output.
uint64_t ScreenUnaligned(const RowScreen& rs, const HalftoneRequest& r) {
  const size_t w = static_cast<size_t>(r.width);
  const size_t pxPerByte = rs.twoBit ? 4 : 8;
  const size_t whole = w / pxPerByte;
  const size_t rest = w % pxPerByte;
  std::vector<uint8_t> row(whole + 1);
  BitSink sink{r.dst};
  sink.flip = rs.flip;
  size_t m = 0;
  for (uint32_t y = 0; y < r.lines; ++y) {
    const uint8_t* s = r.src + static_cast<size_t>(y) * w;
    const uint8_t* pat = rs.pats + m * rs.len;
    if (rs.twoBit)
      ScreenRow2(s, pat, rs.len, whole, row.data(), 0, rs.steps);
    else
      ScreenRow1(s, pat, rs.len, whole, row.data(), 0);
    for (size_t i = 0; i < whole; ++i) sink.Put(row[i], 8);
    const size_t x0 = whole * pxPerByte;
    const size_t o = x0 % rs.len;
    for (size_t j = 0; j < rest; ++j) {
      if (rs.twoBit)
        sink.Put(Level2(s[x0 + j], pat[o + j]), 2);
      else
        sink.Put(s[x0 + j] < pat[o + j] ? 1u : 0u, 1);
    }
    if (++m == rs.period) m = 0;
  }
  return sink.dots;
}

}  // namespace

bool HalftoneDither(ScreenJob& job, const HalftoneRequest& request) {
  Screen screen{};
  bool willow = false;
  SelectScreen(job.modelName, request, &screen, &willow);
  if (job.log != nullptr)
    job.log->Line(willow ? "DEBUG: EXTERNAL IMPORT NEW_HALFTONE\n"
                         : "DEBUG: NO NEED TO EXTERNAL IMPORT NEW_HALFTONE\n");
  return HalftoneDitherRows(job, request);
}

bool HalftoneDitherRows(ScreenJob& job, const HalftoneRequest& request) {
  Screen screen{};
  bool willow = false;
  const bool known = SelectScreen(job.modelName, request, &screen, &willow);
  if (request.src == nullptr || request.dst == nullptr || !known) return false;
  if (request.width <= 0 || request.lines == 0) return true;

  const size_t period = screen.period;
  const size_t len = period / Gcd(period, kBlock) * kBlock;  // lcm(period, 64)
  const bool twoBit = screen.mode == kTwoBit;
  // Each matrix row repeated to len bytes.
  std::vector<uint8_t> pats(period * len);
  for (size_t r = 0; r < period; ++r)
    for (size_t i = 0; i < len; ++i) pats[r * len + i] = screen.matrix[r * period + i % period];

  const RowScreen rows{pats.data(), period, len, request.negative ? uint8_t{0xFF} : uint8_t{0},
                       twoBit, twoBit ? FindLevelSteps() : LevelSteps{}};
  const uint64_t dots = static_cast<size_t>(request.width) % (twoBit ? 4 : 8) == 0
                            ? ScreenAligned(rows, request)
                            : ScreenUnaligned(rows, request);
  // The dot count is reported on PLATFORM_C and PLATFORM_Z only.
  if ((request.platform == PLATFORM_C || request.platform == PLATFORM_Z) && job.coverage != nullptr)
    *job.coverage += static_cast<uint32_t>(dots);
  return true;
}

}  // namespace lumora
