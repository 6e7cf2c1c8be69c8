// G.728 16 kbit/s: the coder steps without a library export (log-gain
// prediction and update, target normalisation, codevector scaling, the
// filter memory update, bandwidth expansion, the adaptation schedule,
// post-filter coefficient derivation and frame-erasure concealment) around
// the library's hybrid windows, Levinson recursion, filters, codebook
// search, pitch extraction and post-filter.
//
// The arithmetic is that of the standard's fixed-point coder: products and
// sums are exact in 64-bit integers, narrowed only where that coder rounds
// (upper half, half up), saturates or shifts.  Shift counts follow the
// processors the conformance data were made on (taken modulo the operand
// width) where a quiet signal pushes them that far.
#include "g728_coder.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "checked_call.h"
#include "g728_tables.h"
#include "src/g728/g728_tables.h"
#include "src/g728/g728_wide.h"
#include "voksc.h"

namespace vokc::g728 {
namespace {

using namespace voksc::g728::wide;
using voksc::g728::kShapes;

constexpr int kGainOffset = 16384;  // 32 dB in Q9

// A 32-bit integer power of two as the standard's coder forms 1 << n.
inline i64 pow2Int(int n) { return static_cast<int32_t>(1u << (n & 31)); }

// roundHigh(sat32(v)) for any v of magnitude below 2^62: floor((v + 2^15) /
// 2^16) clamped to 16 bits.  Inside 32 bits the upper half plus the
// rounding bit is that quotient, and its one value past 16 bits (32767
// plus the rounding bit) is what the clamp takes back to 32767; above 2^31
// (below -2^31) the quotient is past 32767 (at most -32768), the saturated
// value's 32767 (-32768).
inline int16_t roundSat(i64 v) { return w16(sat16((v + 32768) >> 16)); }

// Normalises the largest-magnitude element of x (n values) to `bits` bits in
// place; returns the left shift applied.
int normalizeVector(int16_t* x, int n, int bits) {
  const int s = vectorShift(x, n, bits);
  for (int i = 0; i < n; ++i) x[i] = w16(s < 0 ? shr(x[i], -s) : shl(x[i], s));
  return s;
}

// 10^(g/20) of a Q9 dB value (offset added): mantissa Q(q).
// The polynomial's terms are positive and its steps' upper halves stay at
// or below 2196, 10062, 32764 and 32766 for every fraction x in [0, 2^15)
// (checked over all of them), so each rounding of the upper half is the
// plain (v + 2^15) >> 16: the 32767 case never arises.
void exp10Gain(i64 logGain, int16_t& mant, int16_t& q) {
  i64 a0 = 10 * logGain;
  a0 += roundHigh((20649 * logGain) * 2);
  const i64 whole = a0 >> 15;
  const i64 x = a0 - whole * 32768;
  const int32_t* c = kExp10Poly;
  i64 acc = (c[4] * x * 2 + i64{c[3]} * 65536 + 0x8000) >> 16;
  acc = (acc * x * 2 + i64{c[2]} * 65536 + 0x8000) >> 16;
  acc = (acc * x * 2 + i64{c[1]} * 65536 + 0x8000) >> 16;
  acc = (acc * x + i64{c[0]} * 65536 + 0x8000) >> 16;
  mant = w16(acc);
  q = static_cast<int16_t>(14 - whole);
}

// Predicted log-gain (Q9, offset removed) and the linear gain.
void predictGain(const Backward& b, int16_t& gaindb, int16_t& mant, int16_t& q, int afterErasure, int16_t old) {
  i64 d = 0;
  for (int i = 0; i < 10; ++i) d -= i64{b.gp[i]} * b.logGains[i];
  i64 l = sat32(d) >> 14;
  if (l > 14336) l = 14336;
  if (l < -kGainOffset) l = -kGainOffset;
  if (afterErasure && l - old > 1024) l = old + 1024;
  gaindb = w16(l);
  exp10Gain(l + kGainOffset, mant, q);
}

int16_t updatedLogGain(int16_t gaindb, int ig, int is) {
  i64 sum = i64{gaindb} * 128;
  sum += i64{kGainDb[ig]} * 32;
  sum += i64{kShapeDb[is]} * 32;
  sum >>= 7;
  if (sum < -kGainOffset) sum = -kGainOffset;
  return w16(sum);
}

// The shapes normalised to 16 bits and their shifts, formed once.
struct NormalShapes {
  int16_t y[128][kDim];
  int16_t shift[128];
};
const NormalShapes& normalShapes() {
  static const NormalShapes table = [] {
    NormalShapes t{};
    for (int s = 0; s < 128; ++s) {
      std::memcpy(t.y[s], kShapes + s * kDim, sizeof t.y[s]);
      t.shift[s] = static_cast<int16_t>(normalizeVector(t.y[s], kDim, 16));
    }
    return t;
  }();
  return table;
}

// Gain-scaled shape: et = gain * gq[ig] * y[is].
void scaleCodevector(int is, int ig, int16_t gMant, int16_t gQ, Block& et) {
  const int sh = kGainLevelShift[ig];
  const i64 g = roundHigh(shl(i64{gMant} * kGainLevels[ig], sh));
  const int gq = gQ + 13 + sh - 16;
  const NormalShapes& shapes = normalShapes();
  for (int k = 0; k < kDim; ++k) et.data[k] = w16(roundHigh(g * shapes.y[is][k]));
  et.q = static_cast<int16_t>(gq + 11 + shapes.shift[is] - 16);
}

// Bandwidth expansion a[i]*w[i] from Q(aq) to Q14; false on overflow (Q13).
// The wide product d = p 2^s of p = a[i] w[i] (exact in 32 bits; s = 3 for
// Q13, 2 for Q14, else 1) rounded to its upper half is p >> (16 - s) plus
// bit 15 - s of p (the 32767 case kept), so d itself is never formed; at
// Q13 d leaves 32 bits exactly when p leaves [-2^28, 2^28).
bool expand(const int16_t* a, int16_t* out, int m, const int16_t* w, int aq) {
  int16_t tmp[50];
  const int s = aq == 13 ? 3 : (aq == 14 ? 2 : 1);
#if defined(__SSE2__)
  if (m >= 8) {
    // Eight words a step from the halves of p: hi = p >> 16 and the low
    // half lo (unsigned), so p >> (16 - s) = hi 2^s + (lo >> (16 - s)),
    // kept to its low 16 bits as the word is; the rounding bit is bit 15 - s
    // of lo; the upper half is 32767 exactly when hi = 32767 >> s and lo's
    // top s bits are all ones.  At Q13 p leaves [-2^28, 2^28) exactly when
    // hi leaves [-4096, 4095].  The last step covers the last eight words
    // (words formed twice come out the same).
    const __m128i up = _mm_cvtsi32_si128(s), down = _mm_cvtsi32_si128(16 - s), bit = _mm_cvtsi32_si128(15 - s);
    const __m128i one = _mm_set1_epi16(1), topHi = _mm_set1_epi16(static_cast<int16_t>(32767 >> s));
    const __m128i topLo = _mm_set1_epi16(static_cast<int16_t>((1 << s) - 1));
    const __m128i over = _mm_set1_epi16(4095), under = _mm_set1_epi16(-4096);
    __m128i wide = _mm_setzero_si128();
    auto eight = [&](int i) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
      const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i));
      const __m128i hi = _mm_mulhi_epi16(x, y), lo = _mm_mullo_epi16(x, y);
      const __m128i top = _mm_srl_epi16(lo, down);
      const __m128i b = _mm_or_si128(_mm_sll_epi16(hi, up), top);
      const __m128i half = _mm_and_si128(_mm_srl_epi16(lo, bit), one);
      const __m128i edge = _mm_and_si128(_mm_cmpeq_epi16(hi, topHi), _mm_cmpeq_epi16(top, topLo));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(tmp + i), _mm_add_epi16(b, _mm_andnot_si128(edge, half)));
      wide = _mm_or_si128(wide, _mm_or_si128(_mm_cmpgt_epi16(hi, over), _mm_cmplt_epi16(hi, under)));
    };
    int i = 0;
    for (; i + 8 <= m; i += 8) eight(i);
    if (i < m) eight(m - 8);
    if (aq == 13 && _mm_movemask_epi8(wide) != 0) return false;
    std::memcpy(out, tmp, sizeof(int16_t) * m);
    return true;
  }
#endif
  // No branch in the loop: it vectorises.
  uint32_t wide = 0;
  for (int i = 0; i < m; ++i) {
    const int32_t p = int32_t{a[i]} * w[i];
    const int32_t b = p >> (16 - s);
    const int32_t half = (p >> (15 - s)) & 1;
    tmp[i] = static_cast<int16_t>(b + (half & static_cast<int32_t>(b != 32767)));
    wide |= static_cast<uint32_t>(p + (1 << 28)) >> 29;
  }
  if (aq == 13 && wide != 0) return false;
  std::memcpy(out, tmp, sizeof(int16_t) * m);
  return true;
}

// Adds the zero-state response of the synthesis filter to the ringing
// `s` (in place): the decoded vector, clipped and normalised to 14 bits.
// With a weighting filter (encoder) its zero-state response updates the
// weighting memory of the decoded signal.
void updateMemory(Block& et, const int16_t* a, Block& s, const int16_t* awz, const int16_t* awp, int16_t* ringMem) {
  int16_t zsr[kDim];
  for (;;) {
    bool over = false;
    for (int i = 0; i < kDim && !over; ++i) {
      const int j = kDim - 1 - i;
      i64 d = i64{et.data[j]} * 16384;
      for (int k = 0; k < i; ++k) d -= i64{a[k]} * zsr[j + 1 + k];
      if (d > 268435455 || d < -268435456) {
        for (int k = 0; k < kDim; ++k) et.data[k] = static_cast<int16_t>(et.data[k] >> 1);
        --et.q;
        over = true;
      } else {
        zsr[j] = w16(d >> 14);
      }
    }
    if (!over) break;
  }
  if (awz) {
    const int diff = et.q - 2;
    int16_t wz[kDim];
    for (int i = 0; i < kDim; ++i) {
      const int j = kDim - 1 - i;
      i64 d = i64{zsr[j]} * 16384;
      for (int k = 0; k < i; ++k) d += i64{awz[k]} * zsr[j + 1 + k] - i64{awp[k]} * wz[j + 1 + k];
      i64 v = sat16(d >> 14);
      wz[j] = w16(v);
      if (diff > 0)
        v = shr(v, diff);
      else if (diff < 0)
        v = shl(v, -diff);
      ringMem[j] = w16(sat16(v + ringMem[j]));
    }
  }
  int diff = s.q - et.q;
  if (diff > 0) {
    for (int i = 0; i < kDim; ++i) s.data[i] = w16(shr(s.data[i], diff));
    s.q = et.q;
  } else if (diff < 0) {
    for (int i = 0; i < kDim; ++i) zsr[i] = w16(shr(zsr[i], -diff));
  }
  i64 hi, lo;
  if (s.q < 0) {
    hi = 4095 >> ((-s.q) & 31);
    lo = -hi;
  } else {
    hi = static_cast<int32_t>(4095u << (s.q & 31));
    if (hi > 32767) {
      hi = 32767;
      lo = -32768;
    } else {
      lo = -hi;
    }
  }
  for (int i = 0; i < kDim; ++i) {
    i64 v = i64{s.data[i]} + zsr[i];
    if (v > hi) v = hi;
    else if (v < lo) v = lo;
    s.data[i] = w16(v);
  }
  s.q = static_cast<int16_t>(s.q + normalizeVector(s.data, kDim, 14));
}

void initBackward(Backward& b) {
  std::memset(&b, 0, sizeof b);
  b.count = 3;
  b.gp[0] = -16384;
  for (int i = 0; i < 3; ++i) b.logGains[i] = -kGainOffset;
  for (int i = 0; i < 4; ++i) b.gainBlock[i] = -kGainOffset, b.synthExp[i] = 16;
  b.past[0].q = b.past[1].q = 16;
  int n = 0;
  VOKC_CALL(voksWinHybridGetStateSize_G728_16s, 50, 35, 20, 5, &n);
  if (n > static_cast<int>(sizeof b.synthWin)) throw CallFailed("g728 window size", vokErrSize);
  VOKC_CALL(voksWinHybridInit_G728_16s, kSynthWindow, 50, 35, 20, 5, 12288, b.synthWin);
  VOKC_CALL(voksWinHybridGetStateSize_G728_16s, 10, 20, 4, 0, &n);
  if (n > static_cast<int>(sizeof b.gainWin)) throw CallFailed("g728 window size", vokErrSize);
  VOKC_CALL(voksWinHybridInit_G728_16s, kGainWindow, 10, 20, 4, 0, 12288, b.gainWin);
  VOKC_CALL(voksSynthesisFilterInit_G728_16s, b.synthZir);
}

// Ringing of the synthesis filter for the coming vector, with the last
// decoded vector shifted into the filter's history.
void ringing(Backward& b, Block& zir) {
  VOKC_CALL(voksSyntesisFilterZeroInput_G728_16s, b.a, b.past[0].data, b.past[0].q, zir.data, &zir.q, b.synthZir);
}

// A decoded vector joins the histories: its log-gain and samples.
// Moves the first N - K words of h back by K places (a copy through a local of
// fixed size, which the compiler keeps in registers: no library call).
template <int N, int K>
inline void shiftBack(int16_t* h) {
  int16_t t[N - K];
  std::memcpy(t, h, sizeof t);
  std::memcpy(h + K, t, sizeof t);
}

void record(Backward& b, const Block& s, int16_t logGain) {
  shiftBack<10, 1>(b.logGains);
  b.logGains[0] = logGain;
  shiftBack<4, 1>(b.gainBlock);
  b.gainBlock[0] = logGain;
  shiftBack<20, kDim>(b.synthBlock);
  std::memcpy(b.synthBlock, s.data, sizeof s.data);
  shiftBack<4, 1>(b.synthExp);
  b.synthExp[0] = s.q;
  b.past[1] = b.past[0];
  b.past[0] = s;
}

// Once per cycle: the 50th-order analysis of the decoded speech up to order
// 10 (true when the recursion got there).
bool analyseSynthesis(Backward& b) {
  if (VOKC_CALL(voksWinHybridBlock_G728_16s, 0, b.synthBlock, b.r, b.synthExp, b.synthWin) != vokOk) return false;
  return VOKC_CALL(voksLevinsonDurbin_G728_16s_Sfs, b.r, 10, b.ja, &b.rc1, &b.alpha, &b.aq) == vokOk;
}

// Second half of the synthesis analysis (orders 11..50) and the log-gain
// predictor update.
void analyseGain(Backward& b, bool continueSynthesis, bool updateGain) {
  if (b.info && continueSynthesis) {
    b.info = VOKC_CALL(voksLevinsonDurbin_G728_16s_ISfs, b.r, 10, 50, b.ja, &b.alpha, &b.aq) == vokOk;
    if (b.info) b.info = expand(b.ja, b.aNext, 50, kSynthBandwidth, b.aq);
  }
  int16_t r[11], lpc[10], rc, err, q;
  if (VOKC_CALL(voksWinHybrid_G728_16s, 0, b.gainBlock, r, b.gainWin) != vokOk || !updateGain) return;
  if (VOKC_CALL(voksLevinsonDurbin_G728_16s_Sfs, r, 10, lpc, &rc, &err, &q) != vokOk) return;
  int16_t gp[10];
  if (expand(lpc, gp, 10, kGainBandwidth, q)) std::memcpy(b.gp, gp, sizeof gp);
}

}  // namespace

// ---- encoder -------------------------------------------------------------------

void Encoder::init() {
  std::memset(this, 0, sizeof *this);
  initBackward(b);
  h[4] = 1 << 13;
  VOKC_CALL(voksImpulseResponseEnergy_G728_16s, h, energy);
  int n = 0;
  VOKC_CALL(voksWinHybridGetStateSize_G728_16s, 10, 30, 20, 0, &n);
  if (n > static_cast<int>(sizeof weightWin)) throw CallFailed("g728 window size", vokErrSize);
  VOKC_CALL(voksWinHybridInit_G728_16s, kWeightWindow, 10, 30, 20, 0, 8192, weightWin);
  VOKC_CALL(voksIIR16sInit_G728_16s, inputFilter);
  VOKC_CALL(voksCombinedFilterInit_G728_16s, combined);
}

int16_t Encoder::encode(const int16_t* pcm) {
  int16_t x[kDim];
  for (int i = 0; i < kDim; ++i) x[i] = static_cast<int16_t>(pcm[i] >> 1);
  std::memmove(weightBlock + kDim, weightBlock, 15 * sizeof(int16_t));
  for (int i = 0; i < kDim; ++i) weightBlock[i] = x[kDim - 1 - i];
  if (++b.count == 4) b.count = 0;

  int16_t gaindb, gMant, gQ;
  predictGain(b, gaindb, gMant, gQ, 0, 0);
  Block zir;
  ringing(b, zir);

  // Weighted ringing: the ringing and the last 10 decoded samples in Q2.
  int16_t coef[20];
  std::memcpy(coef, awz, sizeof awz);
  std::memcpy(coef + 10, awp, sizeof awp);
  int16_t src[25];
  const Block* parts[3] = {&zir, &b.past[0], &b.past[1]};
  for (int p = 0; p < 3; ++p) {
    const int ir = parts[p]->q - 2;
    for (int i = 0; i < kDim; ++i) {
      const int16_t v = parts[p]->data[i];
      int16_t o;
      if (ir >= 0) {
        o = ir > 14 ? (v < 0 ? -1 : 0) : static_cast<int16_t>(v >> ir);
      } else if (-ir > 14) {
        o = v == 0 ? 0 : (v > 0 ? 32767 : -32768);
      } else {
        o = w16(sat16(shl(v, -ir)));
      }
      src[p * kDim + i] = o;
    }
  }
  std::memcpy(src + 15, ringMem, sizeof ringMem);
  int16_t zw[kDim];
  VOKC_CALL(voksCombinedFilterZeroInput_G728_16s, coef, src, zw, combined);
  std::memmove(ringMem + kDim, ringMem, kDim * sizeof(int16_t));
  std::memcpy(ringMem, zw, sizeof zw);

  int16_t wx[kDim];
  VOKC_CALL(voksIIR16s_G728_16s, coef, x, wx, kDim, inputFilter);

  // Target, normalised by the predicted gain.
  Block t;
  for (int i = 0; i < kDim; ++i) t.data[i] = w16(sat16(i64{wx[kDim - 1 - i]} - ringMem[i]));
  t.q = 2;
  {
    i64 inv;
    int invQ;
    divideMantissas(16384, 14, gMant, gQ, inv, invQ);
    for (int k = 0; k < kDim; ++k) t.data[k] = static_cast<int16_t>((inv * t.data[k]) >> 15);
    t.q = static_cast<int16_t>(t.q + invQ - 15);
    t.q = static_cast<int16_t>(t.q + normalizeVector(t.data, kDim, 16));
  }
  // Target filtered backwards through the impulse response.
  int16_t p[kDim];
  {
    i64 ct[kDim];
    for (int j = 0; j < kDim; ++j) {
      ct[j] = 0;
      for (int m = 0; m <= j; ++m) ct[j] += i64{h[kDim - 1 - j + m]} * t.data[m];
    }
    const int shift = 13 + t.q - 7;
    for (int j = 0; j < kDim; ++j)
      p[j] = shift > 30 ? (ct[j] < 0 ? -1 : 0) : w16(sat16(shr(sat32(ct[j]), shift)));
  }
  Vok32s is = 0, ig = 0;
  int16_t cw = 0;
  VOKC_CALL(voksCodebookSearch_G728_16s, p, energy, &is, &ig, &cw, static_cast<VokRateCode>(17));

  Block et;
  scaleCodevector(is, ig, gMant, gQ, et);
  updateMemory(et, b.a, zir, awz, awp, ringMem);
  record(b, zir, updatedLogGain(gaindb, ig, is));

  if (b.count == 3) {
    b.info = analyseSynthesis(b);
  } else if (b.count == 1) {
    if (b.info) std::memcpy(b.a, b.aNext, sizeof b.a);
    int16_t r[11], lpc[10], rc, err, q, zp[10], pp[10];
    if (VOKC_CALL(voksWinHybrid_G728_16s, 0, weightBlock, r, weightWin) == vokOk &&
        VOKC_CALL(voksLevinsonDurbin_G728_16s_Sfs, r, 10, lpc, &rc, &err, &q) == vokOk &&
        expand(lpc, pp, 10, kWeightPole, q) && expand(lpc, zp, 10, kWeightZero, q)) {
      std::memcpy(awz, zp, sizeof zp);
      std::memcpy(awp, pp, sizeof pp);
    }
    VOKC_CALL(voksCombinedFilterZeroState_G728_16s, b.a, awz, awp, 13, h, energy, combined);
  } else if (b.count == 0) {
    analyseGain(b, true, true);
  }
  return cw;
}

// ---- decoder -------------------------------------------------------------------

void Decoder::init(bool withPostfilter) {
  std::memset(this, 0, sizeof *this);
  initBackward(b);
  postfilter = withPostfilter;
  kp = 50;
  gl = 16384;
  residualAt = 10;
  pfPast.reset();
  etpast.reset();
  adcount = 0;
  for (int i = 0; i < 17; ++i) rng[i] = static_cast<uint32_t>(kRandomSeed[i]);
  rngA = 0;
  rngB = 12;
  VOKC_CALL(voksPostFilterAdapterStateInit_G728, adapter);
  VOKC_CALL(voksPostFilterInit_G728_16s, post);
}

namespace {

// Long-term post-filter coefficients from the pitch period: gl (Q14),
// gl*b (Q16) and the single-tap predictor (Q14) the concealment uses.
void longTermCoefficients(int kp, const int16_t* past, int16_t& gl, int16_t& glb, int16_t& tap) {
  // The past speech is a quarter of 16-bit words (|x| <= 8192), so 24
  // products sum below 2^31: 32-bit sums per block of 24 (the loop
  // vectorises), added up wide, then the last four.
  i64 energy = 0, cross = 0;
  const int16_t* x = past + kp;
  for (int b = 0; b < 96; b += 24) {
    int32_t e = 0, c = 0;
    for (int i = b; i < b + 24; ++i) {
      e += int32_t{x[i]} * x[i];
      c += int32_t{x[i]} * past[i];
    }
    energy += e;
    cross += c;
  }
  for (int i = 96; i < 100; ++i) {
    energy += int32_t{x[i]} * x[i];
    cross += int32_t{x[i]} * past[i];
  }
  i64 ptap;
  if (energy <= 0 || cross <= 0) {
    ptap = 0;
  } else if (cross >= energy) {
    ptap = 16384;
  } else {
    const int nn = normalizeWide(cross, 32), nd = normalizeWide(energy, 32);
    i64 q;
    int qq;
    divideMantissas(roundHigh(cross), nn, roundHigh(energy), nd, q, qq);
    const int ir = qq - 14;
    ptap = ir > 30 ? 0 : shr(q, ir);
  }
  tap = w16(ptap);
  if (ptap < 9830) ptap = 0;
  i64 a0 = 9830 * ptap;
  const i64 bq = a0 >> 14;
  a0 >>= 16;
  i64 g;
  int gq;
  divideMantissas(16384, 14, a0 + 16384, 14, g, gq);
  glb = w16(shr(g * bq, gq));
  gl = w16(shr(g, gq - 14));
}

int16_t log1010(int16_t mant, int16_t q) {
  int16_t xa = static_cast<int16_t>((mant - 24576) * 2);
  int16_t r = static_cast<int16_t>((15 - q) * 1024);
  int16_t s = 0;
  for (int i = 5; i >= 1; --i) {
    s = static_cast<int16_t>(s + kLog2Poly[i]);
    s = static_cast<int16_t>((i64{s} * xa) >> 16);
  }
  r = static_cast<int16_t>(r + ((s + kLog2Poly[0]) >> 3));
  i64 a = i64{r} * 24660;
  a -= i64{kGainOffset} * 16384;
  return static_cast<int16_t>(a >> 14);
}

}  // namespace

void Decoder::decode(int16_t codeword, bool erased, int16_t* pcm) {
  if (erased) eraseNext = true;
  if (++b.count == 4) {
    b.count = 0;
    if (ofecount > 0 && !ferased) --ofecount;
    if (++adcount == 1) {  // erasure decided per 2.5 ms frame
      adcount = 0;
      ferased = eraseNext;
      if (ferased) {
        eraseNext = false;
      } else if (fecount > 0) {
        ofecount += fecount;
        if (ofecount > 16) ofecount = 16;
        fecount = 0;
      }
    }
    if (ferased) {
      ++fecount;
      if ((fecount & 3) == 1) {
        // Set-up at the start of an erasure and every 10 ms after.
        const int msec10 = fecount >> 2;
        if (msec10 == 0) {
          if (tap > 7022) {
            voiced = 1;
            fdelay = kp - kDim;
          } else {
            voiced = 0;
            i64 f = 0;
            const int16_t* e = etpast.data();
            for (int i = 0; i < 40; ++i) f += e[i] < 0 ? -e[i] : e[i];
            fscaleavgq = static_cast<int16_t>(normalizeWide(f, 32) - 16 + 3 + 2);
            fscaleavg = w16(roundHigh(f));
          }
        }
        fscaleq = 15;
        fscale = 0;
        if (voiced) {
          if (msec10 < 5) fscale = kVoicedFade[msec10];
        } else if (msec10 < 6) {
          i64 a = i64{fscaleavg} * kUnvoicedFade[msec10];
          fscaleq = static_cast<int16_t>(normalizeWide(a, 32) - 16 + fscaleavgq + 15);
          fscale = w16(roundHigh(a));
        }
      }
    }
  }
  int is = 0, ig = 0;
  int16_t gaindb = 0;
  Block zir, et{};
  ringing(b, zir);
  if (!ferased) {
    is = (codeword >> 3) & 127;
    ig = codeword & 7;
    int16_t gMant, gQ;
    // (the prediction precedes the ringing in the standard; both only read)
    predictGain(b, gaindb, gMant, gQ, ofecount, ogaindb);
    scaleCodevector(is, ig, gMant, gQ, et);
  } else {
    i64 scale;
    int scaleQ;
    if (voiced) {
      scale = fscale;
      scaleQ = fscaleq;
    } else if (fscale != 0) {
      // next random delay
      if (++rngA >= 17) rngA = 0;
      if (++rngB >= 17) rngB = 0;
      rng[rngA] += rng[rngB];
      fdelay = static_cast<int>((rng[rngA] >> 15) & 0x7FFF) / 243;
      i64 f = 0;
      const int16_t* e = etpast.data() + fdelay;
      for (int i = 0; i < kDim; ++i) f += e[i] < 0 ? -e[i] : e[i];
      const int sq = normalizeWide(f, 32) - 16 + 2;
      const int16_t sum = w16(roundHigh(f));
      if (sum == 0) {
        scaleQ = 14;
        scale = 16384;
      } else {
        divideMantissas(fscale, fscaleq, sum, sq, scale, scaleQ);
      }
    } else {
      scale = 0;
      scaleQ = 14;
    }
    const int16_t* e = etpast.data() + fdelay;
    for (int i = 0; i < kDim; ++i) et.data[i] = w16(sat16(shr(scale * e[i], scaleQ)));
    et.q = static_cast<int16_t>(2 + normalizeVector(et.data, kDim, 15));
    i64 f = 0;
    for (int i = 0; i < kDim; ++i) f += i64{et.data[i]} * et.data[i];
    int gq = normalizeWide(f, 32) + 2 * et.q - 16;
    i64 g = f >> 16;
    i64 a = g * 13107;
    gq += normalizeWide(a, 32);
    g = a >> 16;
    if (gq > 14) {
      gq = 14;
      g = 16384;
    }
    gaindb = log1010(w16(g), static_cast<int16_t>(gq));
  }
  // Excitation history (Q2) for concealment.
  {
    int16_t* e = etpast.push(kDim);
    const int diff = et.q - 2;
    if (diff >= 0) {
      for (int i = 0; i < kDim; ++i) e[i] = w16(shr(et.data[i], diff));
    } else {
      const i64 up = pow2Int(-diff);
      for (int i = 0; i < kDim; ++i) e[i] = w16(sat16(i64{et.data[i]} * up));
    }
  }
  ogaindb = gaindb;
  updateMemory(et, b.a, zir, nullptr, nullptr, nullptr);

  int16_t ws[kDim];
  if (postfilter) {
    if (ferased && zir.q > 16) zir.q = 16;
    const i64 mul = pow2Int(16 - zir.q + 2);
    int16_t st[kDim];
    for (int i = 0; i < kDim; ++i) st[i] = roundSat(i64{zir.data[i]} * mul);
    int16_t res[kDim];
    VOKC_CALL(voksLPCInverseFilter_G728_16s, st, apf, res, adapter);
    std::memcpy(residual + residualAt, res, sizeof res);
    if (b.count == 2) {
      Vok32s pitch = 0;
      VOKC_CALL(voksPitchPeriodExtraction_G728_16s, residual, &pitch, adapter);
      kp = pitch;
      std::memmove(residual + 20, residual, 220 * sizeof(int16_t));
      longTermCoefficients(kp, pfPast.data(), gl, glb, tap);
      residualAt = 15;
    } else {
      residualAt -= kDim;
    }
    int16_t* past = pfPast.push(kDim);
    for (int i = 0; i < kDim; ++i) past[i] = static_cast<int16_t>(st[i] >> 2);
    std::memcpy(past - 20, pfCoef, sizeof pfCoef);
    int16_t out[kDim];
    VOKC_CALL(voksPostFilter_G728_16s, gl, glb, static_cast<int16_t>(kp), tilt, st, past - 20, out, post);
    for (int i = 0; i < kDim; ++i) ws[i] = w16(sat16(i64{out[i]} * 2));
  } else {
    const i64 mul = pow2Int(16 - zir.q + 3);
    for (int i = 0; i < kDim; ++i) ws[i] = roundSat(i64{zir.data[i]} * mul);
  }
  for (int i = 0; i < kDim; ++i) pcm[i] = ws[kDim - 1 - i];

  record(b, zir, ferased ? gaindb : updatedLogGain(gaindb, ig, is));

  if (b.count == 3) {
    b.info = analyseSynthesis(b);
    if (b.info && postfilter) {
      const int il = 16 - (b.aq - 13);
      if (il >= 14 && il <= 16) {
        // The upper half of ja 2^il, rounded, is ja / 2^(16 - il) rounded
        // half up (no 32767 case: at il = 16 the rounding bit is 0).
        const int sh = 16 - il, half = (1 << sh) >> 1;
        for (int i = 0; i < 10; ++i) apf[i] = static_cast<int16_t>((b.ja[i] + half) >> sh);
      } else {
        for (int i = 0; i < 10; ++i) apf[i] = w16(roundHigh(shl(b.ja[i], il)));
      }
      int16_t pole[10];
      if (expand(b.ja, pole, 10, kPostPole, b.aq)) {
        std::memcpy(pfCoef + 10, pole, sizeof pole);
        expand(b.ja, pfCoef, 10, kPostZero, b.aq);
        tilt = w16(roundHigh(i64{b.rc1} * 4915));
      }
    }
  } else if (b.count == 1) {
    if (!ferased) {
      if (b.info) std::memcpy(b.a, b.aNext, sizeof b.a);
    } else if ((fecount & 3) == 1) {
      const int16_t* from = (fecount == 1 && b.info) ? b.aNext : b.a;
      int16_t att[50];
      for (int i = 0; i < 50; ++i) att[i] = w16(roundHigh(i64{kErasedBandwidth[i]} * from[i] * 4));
      std::memcpy(b.a, att, sizeof att);
    }
  } else if (b.count == 0) {
    analyseGain(b, fecount <= 1, !ferased);
  }
}

}  // namespace vokc::g728
