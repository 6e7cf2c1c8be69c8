// G.722 sub-band ADPCM: the transmit and receive QMF banks and the two
// band coders, with the standard's fixed-point adaptation.
#include <cstring>
#include <initializer_list>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "core/state.h"
#include "core/status.h"
#include "g722_internal.h"
#include "g722_tables.h"

using namespace voksc::op;
using voksc::anyNull;
namespace T = voksc::g722;

namespace voksc::g722 {

void resetBand(Band& b, int16_t det) {
  std::memset(&b, 0, sizeof b);
  b.det = det;
}

namespace {

// Pole section: predicted contribution of the two past reconstructions.
inline int16_t poleEstimate(Band& b) {
  b.r[2] = b.r[1];
  b.r[1] = b.r[0];
  int16_t w1 = mult(b.a[1], add(b.r[1], b.r[1]));
  int16_t w2 = mult(b.a[2], add(b.r[2], b.r[2]));
  return add(w1, w2);
}

// Zero section: contribution of the six past quantised differences.
inline int16_t zeroEstimate(const Band& b) {
  int16_t sz = 0;
  for (int i = 6; i > 0; --i) sz = add(sz, mult(add(b.d[i], b.d[i]), b.b[i]));
  return sz;
}

inline void updateZeros(Band& b) {
  int16_t w1 = b.d[0] == 0 ? 0 : 128;
  int16_t sg0 = shr(b.d[0], 15);
  for (int i = 6; i > 0; --i) {
    int16_t w2 = shr(b.d[i], 15) == sg0 ? w1 : static_cast<int16_t>(-w1);
    b.b[i] = add(w2, mult(b.b[i], 32640));
    b.d[i] = b.d[i - 1];
  }
}

inline void updatePole2(Band& b) {
  int16_t sg0 = shr(b.p[0], 15), sg1 = shr(b.p[1], 15), sg2 = shr(b.p[2], 15);
  int16_t w1 = shl(b.a[1], 2);
  int16_t w2 = sg0 == sg1 ? sub(0, w1) : w1;
  w2 = shr(w2, 7);
  int16_t w3 = sg0 == sg2 ? 128 : -128;
  int16_t a2 = add(add(w2, w3), mult(b.a[2], 32512));
  if (a2 > 12288) a2 = 12288;
  if (a2 < -12288) a2 = -12288;
  b.a[2] = a2;
}

inline void updatePole1(Band& b) {
  int16_t sg0 = shr(b.p[0], 15), sg1 = shr(b.p[1], 15);
  int16_t a1 = add(sg0 == sg1 ? 192 : -192, mult(b.a[1], 32640));
  int16_t w3 = sub(15360, b.a[2]);
  if (a1 > w3)
    a1 = w3;
  else if (add(a1, w3) < 0)
    a1 = negate(w3);
  b.p[2] = b.p[1];
  b.p[1] = b.p[0];
  b.a[1] = a1;
}

// Predictor adaptation after the quantised difference d[0] is known.
inline void adapt(Band& b) {
  b.p[0] = add(b.d[0], b.sz);
  b.r[0] = add(b.s, b.d[0]);
  updateZeros(b);
  updatePole2(b);
  updatePole1(b);
  b.sz = zeroEstimate(b);
  b.sp = poleEstimate(b);
  b.s = add(b.sp, b.sz);
}

inline int16_t limit15(int16_t v) { return v > 16383 ? 16383 : (v < -16384 ? -16384 : v); }

// ---- low band -----------------------------------------------------------

inline int16_t lowInvQuant4(int16_t il, int16_t det) {
  int16_t ril = shr(il, 2);
  int16_t w1 = shl(T::kLowLevel4[T::kLowCode4ToLevel[ril]], 3);
  int16_t w2 = T::kLowCode4Sign[ril] == 0 ? w1 : negate(w1);
  return mult(det, w2);
}

inline void lowScale(Band& b, int16_t il) {
  int16_t nb = add(mult(b.nb, 32512), T::kLowLogStep[T::kLowCode4ToLevel[shr(il, 2)]]);
  if (nb < 0) nb = 0;
  if (nb > 18432) nb = 18432;
  b.nb = nb;
  b.det = shl(add(T::kLogToLinear[add(static_cast<int16_t>((nb >> 6) & 511), 64)], 1), 2);
}

inline int16_t lowQuantise(int16_t el, int16_t det) {
  int16_t sil = shr(el, 15);
  int16_t wd = sil == 0 ? el : sub(kMax16, static_cast<int16_t>(el & kMax16));
  int mil = 0;
  while (mult(shl(T::kLowDecision[mil], 3), det) <= wd && mil < 30) ++mil;
  return T::kLowCodeBySign[sil + 1][mil];
}

// ---- high band ----------------------------------------------------------

inline int16_t highInvQuant(int16_t ih, int16_t det) {
  int16_t w1 = shl(T::kHighLevel2[T::kHighCodeToLevel[ih]], 3);
  int16_t w2 = T::kHighCodeSign[ih] == 0 ? w1 : negate(w1);
  return mult(w2, det);
}

inline void highScale(Band& b, int16_t ih) {
  int16_t nb = add(mult(b.nb, 32512), T::kHighLogStep[T::kHighCodeToLevel[ih]]);
  if (nb < 0) nb = 0;
  if (nb > 22528) nb = 22528;
  b.nb = nb;
  b.det = shl(add(T::kLogToLinear[(nb >> 6) & 511], 1), 2);
}

inline int16_t highQuantise(int16_t eh, int16_t det) {
  int16_t sih = shr(eh, 15);
  int16_t wd = sih == 0 ? eh : sub(kMax16, static_cast<int16_t>(eh & kMax16));
  int mih = wd >= mult(shl(564, 3), det) ? 2 : 1;
  return T::kHighCodeBySign[sih + 1][mih];
}

}  // namespace

int16_t encodeLow(Band& b, int16_t xl) {
  int16_t il = lowQuantise(sub(xl, b.s), b.det);
  b.d[0] = lowInvQuant4(il, b.det);
  lowScale(b, il);
  adapt(b);
  return il;
}

int16_t encodeHigh(Band& b, int16_t xh) {
  int16_t ih = highQuantise(sub(xh, b.s), b.det);
  b.d[0] = highInvQuant(ih, b.det);
  highScale(b, ih);
  adapt(b);
  return ih;
}

int16_t decodeLow(Band& b, int16_t il, int mode) {
  // Mode 1: all six bits (64 kbit/s); 2: five (56 kbit/s); any other value,
  // 0 included, four (48 kbit/s).
  int16_t w1, w2;
  if (mode == 1) {
    w1 = shl(T::kLowLevel6[T::kLowCode6ToLevel[il]], 3);
    w2 = T::kLowCode6Sign[il] == 0 ? w1 : sub(0, w1);
  } else if (mode == 2) {
    int16_t r = shr(il, 1);
    w1 = shl(T::kLowLevel5[T::kLowCode5ToLevel[r]], 3);
    w2 = T::kLowCode5Sign[r] == 0 ? w1 : sub(0, w1);
  } else {
    int16_t r = shr(il, 2);
    w1 = shl(T::kLowLevel4[T::kLowCode4ToLevel[r]], 3);
    w2 = T::kLowCode4Sign[r] == 0 ? w1 : sub(0, w1);
  }
  int16_t yl = limit15(add(b.s, mult(b.det, w2)));
  b.d[0] = lowInvQuant4(il, b.det);
  lowScale(b, il);
  adapt(b);
  return yl;
}

int16_t decodeHigh(Band& b, int16_t ih) {
  b.d[0] = highInvQuant(ih, b.det);
  highScale(b, ih);
  adapt(b);
  return limit15(b.r[0]);
}

// Per-pair reference forms of the QMF banks (the exports use the block
// forms below, which give the same results).
// Transmit QMF for one input pair: the memory's first two slots take the
// newest samples (the later one first); 24 taps split into even and odd
// branches; the memory then shifts by two.
void qmfAnalysis(int16_t first, int16_t second, int16_t* mem, int16_t& xl, int16_t& xh) {
  mem[1] = first;
  mem[0] = second;
  int32_t a = 0, b = 0;
  for (int i = 0; i < 12; ++i) {
    a += int32_t{T::kQmfCoeffs[2 * i]} * mem[2 * i];
    b += int32_t{T::kQmfCoeffs[2 * i + 1]} * mem[2 * i + 1];
  }
  std::memmove(mem + 2, mem, 22 * sizeof(int16_t));
  int32_t lo = L_add(L_add(a, b), L_add(a, b));
  int32_t hi = L_sub(a, b);
  hi = L_add(hi, hi);
  xl = limit15(static_cast<int16_t>(L_shr(lo, 16)));
  xh = limit15(static_cast<int16_t>(L_shr(hi, 16)));
}

void qmfSynthesis(int16_t rl, int16_t rh, int16_t* mem, int16_t& out1, int16_t& out2) {
  mem[1] = add(rl, rh);
  mem[0] = sub(rl, rh);
  int32_t a = 0, b = 0;
  for (int i = 0; i < 12; ++i) {
    a += int32_t{T::kQmfCoeffs[2 * i]} * mem[2 * i];
    b += int32_t{T::kQmfCoeffs[2 * i + 1]} * mem[2 * i + 1];
  }
  std::memmove(mem + 2, mem, 22 * sizeof(int16_t));
  out1 = extract_h(L_shl(a, 4));
  out2 = extract_h(L_shl(b, 4));
}

}  // namespace voksc::g722

using namespace voksc::g722;

namespace {
inline SbState* stateOf(void* p) { return voksc::core::alignState16<SbState>(p); }

void initState(void* p) {
  SbState* s = stateOf(p);
  resetBand(s->low, 32);
  resetBand(s->high, 8);
}
}  // namespace

namespace {

// Block forms of the QMF banks: the history is unrolled into a chronological
// buffer once per call (no per-pair shifting), and the 24 taps split into
// the two branch sums with the coefficients reversed.  They give the same
// results as the per-pair form.
constexpr int kBlock = 512;

// The two branch sums a (even taps) and b (odd taps) of one pair, over the
// chronological window w[0..23], as their sum and difference: tap j meets
// w[23 - j]; even taps have odd k = 23 - j.
struct QmfTaps {
  int16_t sum[24], diff[24];  // coef[23-k], and the same signed + for even taps, - for odd
};
const QmfTaps& qmfTaps() {
  static const QmfTaps t = [] {
    QmfTaps q{};
    for (int k = 0; k < 24; ++k) {
      int j = 23 - k;
      q.sum[k] = T::kQmfCoeffs[j];
      q.diff[k] = static_cast<int16_t>(j % 2 == 0 ? T::kQmfCoeffs[j] : -T::kQmfCoeffs[j]);
    }
    return q;
  }();
  return t;
}

inline void branchSumsScalar(const int16_t* w, const QmfTaps& q, int32_t& s, int32_t& d) {
  int32_t ss = 0, dd = 0;
  for (int k = 0; k < 24; ++k) {
    ss += int32_t{q.sum[k]} * w[k];
    dd += int32_t{q.diff[k]} * w[k];
  }
  s = ss;
  d = dd;
}

#if defined(__i386__) || defined(__x86_64__)
__attribute__((target("avx2"))) inline int32_t hsum8(__m256i v) {
  __m128i x = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0x4E));
  x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0xB1));
  return _mm_cvtsi128_si32(x);
}
// Pair sums of 16-bit products cannot wrap: |tap| <= 7752.
__attribute__((target("avx2"))) void branchSumsAvx2(const int16_t* w, const QmfTaps& q, int32_t& s, int32_t& d) {
  __m256i w16 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w));
  __m128i w8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 16));
  __m256i s16 = _mm256_madd_epi16(w16, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q.sum)));
  __m256i d16 = _mm256_madd_epi16(w16, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q.diff)));
  __m128i s8 = _mm_madd_epi16(w8, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q.sum + 16)));
  __m128i d8 = _mm_madd_epi16(w8, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q.diff + 16)));
  s = hsum8(_mm256_add_epi32(s16, _mm256_zextsi128_si256(s8)));
  d = hsum8(_mm256_add_epi32(d16, _mm256_zextsi128_si256(d8)));
}
#endif

}  // namespace

void voksc::g722::qmfBranchSumsScalar(const int16_t* w, int32_t& s, int32_t& d) { branchSumsScalar(w, qmfTaps(), s, d); }
void voksc::g722::qmfBranchSumsAvx2(const int16_t* w, int32_t& s, int32_t& d) {
#if defined(__i386__) || defined(__x86_64__)
  branchSumsAvx2(w, qmfTaps(), s, d);
#else
  branchSumsScalar(w, qmfTaps(), s, d);
#endif
}

namespace {

inline void branchSums(const int16_t* w, int32_t& s, int32_t& d) {
#if defined(VOKSC_USE_AVX2)
  voksc::g722::qmfBranchSumsAvx2(w, s, d);
#else
  voksc::g722::qmfBranchSumsScalar(w, s, d);
#endif
}

// History (mem[2..23], newest first) to chronological order in buf[0..21].
inline void unrollHistory(const int16_t* mem, int16_t* buf) {
  for (int k = 0; k < 22; ++k) buf[k] = mem[23 - k];
}
inline void rollHistory(const int16_t* buf, int end, int16_t* mem) {
  for (int j = 2; j < 24; ++j) mem[j] = buf[end - 1 - (j - 2)];
  mem[0] = buf[end - 1];
  mem[1] = buf[end - 2];
}

}  // namespace

VOKSC_EXPORT VokResult voksQMFEncode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s* mem) {
  if (anyNull(src, dst, mem)) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  int16_t buf[22 + kBlock];
  unrollHistory(mem, buf);
  for (int at = 0; at < len; at += kBlock) {
    int n = len - at < kBlock ? len - at : kBlock;
    std::memcpy(buf + 22, src + at, static_cast<size_t>(n) * sizeof(int16_t));
    for (int i = 0; i < n; i += 2) {
      int32_t sum, diff;  // a + b and a - b
      branchSums(buf + i, sum, diff);
      int32_t lo = L_add(sum, sum);
      int32_t hi = L_add(diff, diff);
      dst[at + i] = limit15(static_cast<int16_t>(L_shr(lo, 16)));
      dst[at + i + 1] = limit15(static_cast<int16_t>(L_shr(hi, 16)));
    }
    std::memmove(buf, buf + n, 22 * sizeof(int16_t));
  }
  rollHistory(buf, 22, mem);
  return vokOk;
}

VOKSC_EXPORT VokResult voksQMFDecode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s* mem) {
  if (anyNull(src, dst, mem)) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  int16_t buf[22 + kBlock];
  unrollHistory(mem, buf);
  for (int at = 0; at < len; at += kBlock) {
    int n = len - at < kBlock ? len - at : kBlock;
    for (int i = 0; i < n; i += 2) {
      int16_t rl = src[at + i], rh = src[at + i + 1];
      buf[22 + i] = add(rl, rh);
      buf[22 + i + 1] = sub(rl, rh);
    }
    for (int i = 0; i < n; i += 2) {
      int32_t sum, diff;
      branchSums(buf + i, sum, diff);
      dst[at + i] = extract_h(L_shl((sum + diff) / 2, 4));
      dst[at + i + 1] = extract_h(L_shl((sum - diff) / 2, 4));
    }
    std::memmove(buf, buf + n, 22 * sizeof(int16_t));
  }
  rollHistory(buf, 22, mem);
  return vokOk;
}

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

VOKSC_EXPORT VokResult voksSBADPCMEncode_G722_16s(const Vok16s* src, Vok16s* dst, int len, void* state) {
  if (anyNull(src, dst, static_cast<const char*>(state))) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  SbState* s = stateOf(state);
  for (int i = 0; i < len; i += 2) {
    int16_t il = encodeLow(s->low, src[i]);
    int16_t ih = encodeHigh(s->high, src[i + 1]);
    dst[i] = il;
    dst[i + 1] = ih;
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksSBADPCMDecode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s mode, void* state) {
  if (anyNull(src, dst, static_cast<const char*>(state))) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  SbState* s = stateOf(state);
  for (int i = 0; i < len; i += 2) {
    int16_t il = static_cast<int16_t>(src[i] & 0x3F), ih = static_cast<int16_t>(src[i + 1] & 3);
    int16_t rl = decodeLow(s->low, il, mode);
    int16_t rh = decodeHigh(s->high, ih);
    dst[i] = rl;
    dst[i + 1] = rh;
  }
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
    hb.det = static_cast<int16_t>(4 * T::kLogToLinear[idx] + 4);
    hb.nb = static_cast<int16_t>(L >> 1);
  }
  return vokOk;
}
