// G.722 SB-ADPCM band coders: 6-bit low band (decoded at 6, 5 or 4 bits),
// 2-bit high band, each with the standard's two-pole six-zero predictor and
// logarithmic scale-factor adaptation, in its fixed-point arithmetic.
#include <cstring>
#include <initializer_list>

#include "common/basic_op.h"
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
    for (int i = 0; i < 31; ++i) c.lowDecision[i] = int32_t{kLowDecision[i]} << 3;
    return c;
  }();
  return t;
}

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

// Predictor adaptation once the quantised difference d[0] is known.  Where
// a sum is clamped to a range inside 16 bits straight after, or provably
// stays inside 16 bits, it is formed exactly without saturation; the
// results equal the standard's operator chains for any state contents.
inline void predictorStep(Band& b) {
  b.p[0] = add(b.d[0], b.sz);
  b.r[0] = add(b.s, b.d[0]);

  // Zero section: sign-sign update with leakage 32640/32768 (the sum stays
  // within [-32768, 32766]), then the delay line.
  int32_t w1 = b.d[0] == 0 ? 0 : 128;
  bool neg0 = b.d[0] < 0;
  for (int i = 6; i > 0; --i) {
    int32_t w2 = (b.d[i] < 0) == neg0 ? w1 : -w1;
    b.b[i] = static_cast<int16_t>(w2 + mulQ15(b.b[i], 32640));
    b.d[i] = b.d[i - 1];
  }

  // Second pole coefficient, limited to +-12288.
  bool n0 = b.p[0] < 0, n1 = b.p[1] < 0, n2 = b.p[2] < 0;
  int16_t wa = shl(b.a[1], 2);
  int16_t wb = shr(n0 == n1 ? sub(0, wa) : wa, 7);
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
  int16_t sz = 0;
  for (int i = 6; i > 0; --i) sz = add(sz, mult(add(b.d[i], b.d[i]), b.b[i]));
  b.sz = sz;
  b.r[2] = b.r[1];
  b.r[1] = b.r[0];
  int32_t sp = mulQ15(a1, add(b.r[1], b.r[1])) + mulQ15(a2, add(b.r[2], b.r[2]));
  b.sp = sat16(sp);
  b.s = add(b.sp, b.sz);
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

inline int16_t encodeLow(const CodeTables& t, Band& b, int16_t xl) {
  int16_t il = lowCode(t, sub(xl, b.s), b.det);
  b.d[0] = mult(b.det, t.lowLevel4[il >> 2]);
  scaleStep(b, t.lowLogStep[il >> 2], kLowLogMax, 64);
  predictorStep(b);
  return il;
}

inline int16_t encodeHigh(const CodeTables& t, Band& b, int16_t xh) {
  int16_t ih = highCode(sub(xh, b.s), b.det);
  b.d[0] = mult(t.highLevel[ih], b.det);
  scaleStep(b, t.highLogStep[ih], kHighLogMax, 0);
  predictorStep(b);
  return ih;
}

inline int16_t decodeLow(const CodeTables& t, const int16_t* output, Band& b, int il) {
  int16_t yl = limit15(add(b.s, mult(b.det, output[il])));
  b.d[0] = mult(b.det, t.lowLevel4[il >> 2]);
  scaleStep(b, t.lowLogStep[il >> 2], kLowLogMax, 64);
  predictorStep(b);
  return yl;
}

inline int16_t decodeHigh(const CodeTables& t, Band& b, int ih) {
  b.d[0] = mult(t.highLevel[ih], b.det);
  scaleStep(b, t.highLogStep[ih], kHighLogMax, 0);
  predictorStep(b);
  return limit15(b.r[0]);
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
  const CodeTables& t = codeTables();
  SbState* s = stateOf(state);
  Band lo = s->low, hi = s->high;
  for (int i = 0; i < len; i += 2) {
    int16_t xl = src[i], xh = src[i + 1];
    int16_t il = encodeLow(t, lo, xl);
    int16_t ih = encodeHigh(t, hi, xh);
    dst[i] = il;
    dst[i + 1] = ih;
  }
  s->low = lo;
  s->high = hi;
  return vokOk;
}

// Codes are read modulo 64 (low) and 4 (high).
VOKSC_EXPORT VokResult voksSBADPCMDecode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s mode, void* state) {
  if (anyNull(src, dst, static_cast<const char*>(state))) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  const CodeTables& t = codeTables();
  const int16_t* output = t.lowOutput[mode == 1 ? 0 : (mode == 2 ? 1 : 2)];
  SbState* s = stateOf(state);
  Band lo = s->low, hi = s->high;
  for (int i = 0; i < len; i += 2) {
    int il = src[i] & 0x3F, ih = src[i + 1] & 3;
    int16_t rl = decodeLow(t, output, lo, il);
    int16_t rh = decodeHigh(t, hi, ih);
    dst[i] = rl;
    dst[i + 1] = rh;
  }
  s->low = lo;
  s->high = hi;
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
