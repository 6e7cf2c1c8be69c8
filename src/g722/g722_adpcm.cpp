// G.722 SB-ADPCM band coders: 6-bit low band (decoded at 6, 5 or 4 bits),
// 2-bit high band, each with the standard's two-pole six-zero predictor and
// logarithmic scale-factor adaptation, in its fixed-point arithmetic.
#include <cstring>
#include <initializer_list>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/state.h"
#include "core/status.h"
#include "g722_internal.h"
#include "g722_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g722 {

namespace {

// Per-code forms of the quantiser tables, built once: the signed inverse
// quantiser level (<< 3) and log scale-factor increment of every code.
struct CodeTables {
  int16_t lowLevel4[16];      // by the 4-bit core il >> 2 (adaptation in both coders)
  int16_t lowLogStep[16];     // by il >> 2
  int16_t lowOutput[3][64];   // decoder output level by 6-bit code: 64, 56, 48 kbit/s
  int16_t highLevel[4];
  int16_t highLogStep[4];
  int32_t lowDecision[32];    // decision levels << 3 (entry 31 unused padding)
  alignas(32) int16_t lowDecision16[32];  // the same as 16-bit words (all below 2^15)
};

int16_t signedLevel(int16_t level, int16_t sign) {
  int16_t w = shl(level, 3);
  return sign == 0 ? w : negate(w);
}

const CodeTables& codeTables() {
  static const CodeTables t = [] {
    CodeTables c{};
    for (int r = 0; r < 16; ++r) {
      c.lowLevel4[r] = signedLevel(kLowLevel4[kLowCode4ToLevel[r]], kLowCode4Sign[r]);
      c.lowLogStep[r] = kLowLogStep[kLowCode4ToLevel[r]];
    }
    for (int il = 0; il < 64; ++il) {
      c.lowOutput[0][il] = signedLevel(kLowLevel6[kLowCode6ToLevel[il]], kLowCode6Sign[il]);
      c.lowOutput[1][il] = signedLevel(kLowLevel5[kLowCode5ToLevel[il >> 1]], kLowCode5Sign[il >> 1]);
      c.lowOutput[2][il] = c.lowLevel4[il >> 2];
    }
    for (int ih = 0; ih < 4; ++ih) {
      c.highLevel[ih] = signedLevel(kHighLevel2[kHighCodeToLevel[ih]], kHighCodeSign[ih]);
      c.highLogStep[ih] = kHighLogStep[kHighCodeToLevel[ih]];
    }
    for (int i = 0; i < 31; ++i) {
      c.lowDecision[i] = int32_t{kLowDecision[i]} << 3;
      c.lowDecision16[i] = static_cast<int16_t>(c.lowDecision[i]);
    }
    return c;
  }();
  return t;
}

// The decoder's low-band output levels of mode 1, 2 or 3 (others read as 3).
const int16_t* lowOutput(int mode) { return codeTables().lowOutput[mode == 1 ? 0 : (mode == 2 ? 1 : 2)]; }

constexpr int32_t kLowLogMax = 18432;
constexpr int32_t kHighLogMax = 22528;

// Products by a constant below 32768 in magnitude never saturate.
inline int32_t mulQ15(int32_t x, int32_t k) { return (x * k) >> 15; }
inline int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Log scale-factor update and its linear form 4 * (ila[(nb >> 6) + offset] + 1)
// (offset 64 in the low band).  The sum is clamped to [0, logMax] right
// away, so it needs no 16-bit saturation first; nb then indexes the table
// safely whatever the state held.
inline void scaleStep(Band& b, int16_t logStep, int32_t logMax, int offset) {
  int32_t nb = clampTo(mulQ15(b.nb, 32512) + logStep, 0, logMax);
  b.nb = static_cast<int16_t>(nb);
  b.det = static_cast<int16_t>((kLogToLinear[(nb >> 6) + offset] + 1) << 2);
}

// Predictor adaptation once the quantised difference d[0] is known, in
// three parts: the partial reconstruction and the signal from the previous
// estimates, the zero section, and the pole section with the new estimates.
// Where a sum is clamped to a range inside 16 bits straight after, or
// provably stays inside 16 bits, it is formed exactly without saturation;
// the results equal the standard's operator chains for any state contents.
inline void reconstructStep(Band& b) {
  b.p[0] = add(b.d[0], b.sz);
  b.r[0] = add(b.s, b.d[0]);
}

// The zero-section estimate from the updated differences and coefficients.
inline int16_t chainEstimate(const Band& b) {
  int16_t sz = 0;
  for (int i = 6; i > 0; --i) sz = add(sz, mult(add(b.d[i], b.d[i]), b.b[i]));
  return sz;
}

// Zero section: sign-sign update with leakage 32640/32768 (the sum stays
// within [-32768, 32766]), the delay line, and the zero-section estimate.
inline void zeroStep(Band& b) {
  int32_t w1 = b.d[0] == 0 ? 0 : 128;
  bool neg0 = b.d[0] < 0;
  for (int i = 6; i > 0; --i) {
    int32_t w2 = (b.d[i] < 0) == neg0 ? w1 : -w1;
    b.b[i] = static_cast<int16_t>(w2 + mulQ15(b.b[i], 32640));
    b.d[i] = b.d[i - 1];
  }
  b.sz = chainEstimate(b);
}

// Pole section and the signal estimate for the next sample.
inline void poleStep(Band& b) {
  // Second pole coefficient, limited to +-12288.
  // The term of a1: the standard shifts a1 left by 2 with saturation,
  // negates it (with saturation) when p0 and p1 agree in sign, and shifts
  // right by 7.  With c = a1 limited to [-8192, 8191] the saturating shift
  // is exactly 4c, so the term is c >> 5, or (-c) >> 5 when negated, where
  // only c = -8192 (-4c = 32768, saturated to 32767) is held at 255.
  bool n0 = b.p[0] < 0, n1 = b.p[1] < 0, n2 = b.p[2] < 0;
  const int32_t c = clampTo(b.a[1], -8192, 8191);
  const int32_t negated = (-c) >> 5;
  const int32_t wb = n0 == n1 ? (negated > 255 ? 255 : negated) : c >> 5;
  int32_t a2 = clampTo(wb + (n0 == n2 ? 128 : -128) + mulQ15(b.a[2], 32512), -12288, 12288);
  b.a[2] = static_cast<int16_t>(a2);

  // First pole coefficient, limited to +-(15360 - a2).
  int32_t lim = 15360 - a2;
  int32_t a1 = clampTo((n0 == n1 ? 192 : -192) + mulQ15(b.a[1], 32640), -lim, lim);
  b.a[1] = static_cast<int16_t>(a1);
  b.p[2] = b.p[1];
  b.p[1] = b.p[0];

  // Estimates for the next sample (|a1| <= 27648, |a2| <= 12288: their
  // products cannot saturate).
  b.r[2] = b.r[1];
  b.r[1] = b.r[0];
  int32_t sp = mulQ15(a1, add(b.r[1], b.r[1])) + mulQ15(a2, add(b.r[2], b.r[2]));
  b.sp = sat16(sp);
  b.s = add(b.sp, b.sz);
}

inline void predictorStep(Band& b) {
  reconstructStep(b);
  zeroStep(b);
  poleStep(b);
}

inline int16_t limit15(int16_t v) { return v > 16383 ? 16383 : (v < -16384 ? -16384 : v); }

// Magnitude of a prediction error as the standard's quantisers see it.
inline int16_t errorMagnitude(int16_t e) { return e >= 0 ? e : sub(kMax16, static_cast<int16_t>(e & kMax16)); }

inline int16_t lowCode(const CodeTables& t, int16_t el, int16_t det) {
  // The standard steps mil up while mult(q6[mil] << 3, det) <= wd, stopping
  // at 30.  Those values never decrease with mil (no product saturates, and
  // for det <= 0 all of them pass), so the last passing level is found by a
  // three-level search (three independent probes per level) and mil is one
  // above it, at most 30.
  int16_t wd = errorMagnitude(el);
  int32_t limit = (int32_t{wd} << 15) | 0x7FFF;  // (x >> 15) <= wd  <=>  x <= limit
  auto pass = [&](int i) { return static_cast<int>(t.lowDecision[i] * det <= limit); };
  int lo = 8 * (pass(8) + pass(16) + pass(24));  // level 0 always passes
  lo += 2 * (pass(lo + 2) + pass(lo + 4) + pass(lo + 6));
  lo += pass(lo + 1);
  int mil = lo + 1 < 30 ? lo + 1 : 30;
  return kLowCodeBySign[el < 0 ? 0 : 1][mil];
}

inline int16_t highCode(int16_t eh, int16_t det) {
  int mih = errorMagnitude(eh) >= mult(564 << 3, det) ? 2 : 1;
  return kHighCodeBySign[eh < 0 ? 0 : 1][mih];
}

// The step of a band up to its zero section: the code (encoders) or the
// output sample (decoders), the quantised difference d[0], the scale factor
// and the reconstruction.  mult(det, level) never saturates: no level is
// -32768.
template <class Z>
inline int16_t quantiseLow(const CodeTables& t, Band& b, int16_t xl) {
  int16_t il = Z::lowCode(t, sub(xl, b.s), b.det);
  b.d[0] = mult(b.det, t.lowLevel4[il >> 2]);
  scaleStep(b, t.lowLogStep[il >> 2], kLowLogMax, 64);
  reconstructStep(b);
  return il;
}

inline int16_t quantiseHigh(const CodeTables& t, Band& b, int16_t xh) {
  int16_t ih = highCode(sub(xh, b.s), b.det);
  b.d[0] = mult(t.highLevel[ih], b.det);
  scaleStep(b, t.highLogStep[ih], kHighLogMax, 0);
  reconstructStep(b);
  return ih;
}

inline int16_t inverseLow(const CodeTables& t, const int16_t* output, Band& b, int il) {
  int16_t yl = limit15(add(b.s, mult(b.det, output[il])));
  b.d[0] = mult(b.det, t.lowLevel4[il >> 2]);
  scaleStep(b, t.lowLogStep[il >> 2], kLowLogMax, 64);
  reconstructStep(b);
  return yl;
}

inline void inverseHigh(const CodeTables& t, Band& b, int ih) {
  b.d[0] = mult(t.highLevel[ih], b.det);
  scaleStep(b, t.highLogStep[ih], kHighLogMax, 0);
  reconstructStep(b);
}

// The zero sections of both bands, one band after the other.
struct ScalarZeros {
  ScalarZeros(const Band&, const Band&) {}
  static int16_t lowCode(const CodeTables& t, int16_t el, int16_t det) { return g722::lowCode(t, el, det); }
  void step(Band& lo, Band& hi) {
    zeroStep(lo);
    zeroStep(hi);
  }
  void store(Band&, Band&) const {}
};

#if defined(VOKSC_X86)
// Both bands' zero sections in one register: 32-bit lane i (i = 0..5) holds
// d[i + 1] (and b[i + 1]) of the low band in its low word and of the high
// band in its high word; the coefficient lanes 6 and 7 stay zero, so the
// stale differences that the delay line moves into lanes 6 and 7 meet zero
// coefficients and zero updates.
struct Avx2Zeros {
  __m256i d, b;

  VOKSC_TARGET_AVX2 Avx2Zeros(const Band& lo, const Band& hi) {
    alignas(32) int16_t dv[16] = {}, bv[16] = {};
    for (int i = 0; i < 6; ++i) {
      dv[2 * i] = lo.d[i + 1];
      dv[2 * i + 1] = hi.d[i + 1];
      bv[2 * i] = lo.b[i + 1];
      bv[2 * i + 1] = hi.b[i + 1];
    }
    d = _mm256_load_si256(reinterpret_cast<const __m256i*>(dv));
    b = _mm256_load_si256(reinterpret_cast<const __m256i*>(bv));
  }

  VOKSC_TARGET_AVX2 void store(Band& lo, Band& hi) const {
    alignas(32) int16_t dv[16], bv[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(dv), d);
    _mm256_store_si256(reinterpret_cast<__m256i*>(bv), b);
    for (int i = 0; i < 6; ++i) {
      lo.d[i + 1] = dv[2 * i];
      hi.d[i + 1] = dv[2 * i + 1];
      lo.b[i + 1] = bv[2 * i];
      hi.b[i + 1] = bv[2 * i + 1];
    }
  }

  // floor(x k / 2^15) per word: twice the high half of the product plus
  // its bit 15.  Exact whenever the result fits 16 bits.
  VOKSC_TARGET_AVX2 static __m256i mulQ15x(__m256i x, __m256i k) {
    const __m256i hi = _mm256_mulhi_epi16(x, k), lo = _mm256_mullo_epi16(x, k);
    return _mm256_add_epi16(_mm256_slli_epi16(hi, 1), _mm256_srli_epi16(lo, 15));
  }

  // The low-band quantiser with every decision level probed at once: the
  // levels that pass (mult(level, det) <= |el|) are a prefix of 0..29 (see
  // lowCode), so mil is the first failing level, at most 30.  The products
  // by det are at most 23352 in magnitude after the shift: exact in words.
  VOKSC_TARGET_AVX2 static int16_t lowCode(const CodeTables& t, int16_t el, int16_t det) {
    const __m256i k = _mm256_set1_epi16(det), wd = _mm256_set1_epi16(errorMagnitude(el));
    const __m256i* levels = reinterpret_cast<const __m256i*>(t.lowDecision16);
    const __m256i fail0 = _mm256_cmpgt_epi16(mulQ15x(_mm256_load_si256(levels), k), wd);
    const __m256i fail1 = _mm256_cmpgt_epi16(mulQ15x(_mm256_load_si256(levels + 1), k), wd);
    // Words to bytes in level order (the pack interleaves the halves).
    const __m256i fails = _mm256_permute4x64_epi64(_mm256_packs_epi16(fail0, fail1), 0xD8);
    const uint32_t m = static_cast<uint32_t>(_mm256_movemask_epi8(fails)) | (1u << 30);
    return kLowCodeBySign[el < 0 ? 0 : 1][__builtin_ctz(m)];
  }

  VOKSC_TARGET_AVX2 void step(Band& lo, Band& hi) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i d0 = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(lo.d[0]) |
                                                              static_cast<uint32_t>(static_cast<uint16_t>(hi.d[0])) << 16));
    // Sign-sign update: +-128 by the agreement of the signs of d0 and d[i]
    // (zero counts as positive), 0 when d0 is 0; the leaky coefficient
    // never leaves 16 bits.
    const __m256i step128 = _mm256_setr_epi32(0x00800080, 0x00800080, 0x00800080, 0x00800080, 0x00800080, 0x00800080, 0, 0);
    const __m256i w1 = _mm256_andnot_si256(_mm256_cmpeq_epi16(d0, zero), step128);
    const __m256i differ = _mm256_srai_epi16(_mm256_xor_si256(d, d0), 15);
    const __m256i w2 = _mm256_sub_epi16(_mm256_xor_si256(w1, differ), differ);
    b = _mm256_add_epi16(w2, mulQ15x(b, _mm256_set1_epi16(32640)));
    // The delay line: lane i takes lane i - 1, lane 0 the new differences.
    d = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(d, _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6)), d0, 0x01);
    // Terms mult(add(d, d), b).  When every |term| <= 5461 no product
    // saturated (that one reads 32768 here) and no partial sum of six
    // terms leaves 16 bits, so the chain of saturating additions is the
    // plain sum; otherwise the chain runs on the updated lanes.
    const __m256i t = mulQ15x(_mm256_adds_epi16(d, d), b);
    const __m256i over = _mm256_subs_epu16(_mm256_abs_epi16(t), _mm256_set1_epi16(5461));
    if (!_mm256_testz_si256(over, over)) {
      store(lo, hi);
      lo.sz = chainEstimate(lo);
      hi.sz = chainEstimate(hi);
      return;
    }
    __m128i sum = _mm_add_epi16(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
    sum = _mm_add_epi16(sum, _mm_shuffle_epi32(sum, 0x4E));
    sum = _mm_add_epi16(sum, _mm_shuffle_epi32(sum, 0xB1));
    const uint32_t both = static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
    lo.sz = static_cast<int16_t>(both & 0xFFFF);
    hi.sz = static_cast<int16_t>(both >> 16);
  }
};
#endif

// The block loops: both bands per sample pair, the zero sections through Z.
template <class Z>
inline void encodePairs(const CodeTables& t, SbState& s, const int16_t* src, int16_t* dst, int len) {
  Band lo = s.low, hi = s.high;
  Z z(lo, hi);
  for (int i = 0; i < len; i += 2) {
    const int16_t il = quantiseLow<Z>(t, lo, src[i]);
    const int16_t ih = quantiseHigh(t, hi, src[i + 1]);
    z.step(lo, hi);
    poleStep(lo);
    poleStep(hi);
    dst[i] = il;
    dst[i + 1] = ih;
  }
  z.store(lo, hi);
  s.low = lo;
  s.high = hi;
}

template <class Z>
inline void decodePairs(const CodeTables& t, const int16_t* output, SbState& s, const int16_t* src, int16_t* dst,
                        int len) {
  Band lo = s.low, hi = s.high;
  Z z(lo, hi);
  for (int i = 0; i < len; i += 2) {
    const int16_t rl = inverseLow(t, output, lo, src[i] & 0x3F);
    inverseHigh(t, hi, src[i + 1] & 3);
    z.step(lo, hi);
    poleStep(lo);
    poleStep(hi);
    dst[i] = rl;
    dst[i + 1] = limit15(hi.r[0]);
  }
  z.store(lo, hi);
  s.low = lo;
  s.high = hi;
}


inline SbState* stateOf(void* p) { return voksc::core::alignState16<SbState>(p); }

void initState(void* p) {
  SbState* s = stateOf(p);
  std::memset(s, 0, sizeof *s);
  s->low.det = 32;
  s->high.det = 8;
}

}  // namespace

int16_t lowQuantCode(int16_t el, int16_t det) { return lowCode(codeTables(), el, det); }

void sbEncodeScalar(SbState& s, const int16_t* src, int16_t* dst, int len) {
  encodePairs<ScalarZeros>(codeTables(), s, src, dst, len);
}
void sbDecodeScalar(int mode, SbState& s, const int16_t* src, int16_t* dst, int len) {
  decodePairs<ScalarZeros>(codeTables(), lowOutput(mode), s, src, dst, len);
}
#if defined(VOKSC_X86)
VOKSC_TARGET_AVX2 int16_t lowQuantCodeAvx2(int16_t el, int16_t det) { return Avx2Zeros::lowCode(codeTables(), el, det); }
VOKSC_TARGET_AVX2 __attribute__((flatten)) void sbEncodeAvx2(SbState& s, const int16_t* src,
                                                           int16_t* dst, int len) {
  encodePairs<Avx2Zeros>(codeTables(), s, src, dst, len);
}
VOKSC_TARGET_AVX2 __attribute__((flatten)) void sbDecodeAvx2(int mode, SbState& s,
                                                           const int16_t* src, int16_t* dst, int len) {
  decodePairs<Avx2Zeros>(codeTables(), lowOutput(mode), s, src, dst, len);
}
#else
int16_t lowQuantCodeAvx2(int16_t el, int16_t det) { return lowQuantCode(el, det); }
void sbEncodeAvx2(SbState& s, const int16_t* src, int16_t* dst, int len) {
  sbEncodeScalar(s, src, dst, len);
}
void sbDecodeAvx2(int mode, SbState& s, const int16_t* src, int16_t* dst, int len) {
  sbDecodeScalar(mode, s, src, dst, len);
}
#endif

}  // namespace voksc::g722

using namespace voksc::g722;

VOKSC_EXPORT VokResult voksSBADPCMEncodeStateSize_G722_16s(int* size) {
  if (!size) return vokErrNullPtr;
  *size = kSbStateBytes;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSBADPCMDecodeStateSize_G722_16s(int* size) {
  return voksSBADPCMEncodeStateSize_G722_16s(size);
}

VOKSC_EXPORT VokResult voksSBADPCMEncodeInit_G722_16s(void* state) {
  if (!state) return vokErrNullPtr;
  initState(state);
  return vokOk;
}

VOKSC_EXPORT VokResult voksSBADPCMDecodeInit_G722_16s(void* state) {
  if (!state) return vokErrNullPtr;
  initState(state);
  return vokOk;
}

// The bands run on local copies: the caller's arrays cannot alias them.
VOKSC_EXPORT VokResult voksSBADPCMEncode_G722_16s(const Vok16s* src, Vok16s* dst, int len, void* state) {
  if (anyNull(src, dst, static_cast<const char*>(state))) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  static const auto form = voksc::cpu::choose(sbEncodeScalar, sbEncodeAvx2);
  form(*stateOf(state), src, dst, len);
  return vokOk;
}

// Codes are read modulo 64 (low) and 4 (high).
VOKSC_EXPORT VokResult voksSBADPCMDecode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s mode, void* state) {
  if (anyNull(src, dst, static_cast<const char*>(state))) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  static const auto form = voksc::cpu::choose(sbDecodeScalar, sbDecodeAvx2);
  form(mode, *stateOf(state), src, dst, len);
  return vokOk;
}

// Re-synchronise a decoder after concealment.  The concealed band signals
// become the pole-section history (reconstructed values with their halved
// partial-reconstruction copies; the two low-band values newest first), the
// zero section restarts from cleared differences, and the signal estimate is
// predicted afresh from the new history so that the next received code
// continues the concealed waveform.
//
// The high band's log scale factor L is halved and its linear scale factor
// rebuilt.  The 353-entry table behind that step is the standard's
// log-to-linear table itself: the adaptation converts a log value N to
// 4 * (ila[(N >> 6) & 511] + 1), and for N = L >> 1 the index
// ((L >> 1) >> 6) & 511 equals (L >> 7) & 511, so 4 * t[(L >> 7) & 511] + 4
// with t = ila (entries 0..352 cover the high band's log range 0..22528,
// 22528 >> 6 = 352).  An index beyond 352 only arises from a corrupted,
// negative L.
VOKSC_EXPORT VokResult voksSBADPCMDecodeStateUpdate_G722_16s(const Vok16s* low, Vok16s high, int reset, void* state) {
  if (anyNull(low, static_cast<const char*>(state))) return vokErrNullPtr;
  SbState* s = stateOf(state);
  Band& lb = s->low;
  Band& hb = s->high;
  lb.r[0] = lb.r[1] = low[0];
  lb.r[2] = low[1];
  lb.p[0] = lb.p[1] = shr(low[0], 1);
  lb.p[2] = shr(low[1], 1);
  hb.r[0] = hb.r[1] = high;
  hb.p[0] = hb.p[1] = shr(high, 1);
  hb.r[2] = 0;
  hb.p[2] = 0;
  for (Band* b : {&lb, &hb}) {
    for (int i = 0; i < 7; ++i) b->d[i] = 0;
    b->sz = 0;
    b->sp = add(mult(b->a[1], add(b->r[1], b->r[1])), mult(b->a[2], add(b->r[2], b->r[2])));
    b->s = b->sp;
  }
  int32_t L = hb.nb;
  int idx = (L >> 7) & 511;
  if (idx > 352) {
    hb.nb = static_cast<int16_t>(L >> 1);
    return vokErrIndex;
  }
  if (reset) {
    lb.det = 32;
    hb.det = 8;
    lb.nb = 0;
    hb.nb = 0;
  } else {
    hb.det = static_cast<int16_t>(4 * kLogToLinear[idx] + 4);
    hb.nb = static_cast<int16_t>(L >> 1);
  }
  return vokOk;
}
