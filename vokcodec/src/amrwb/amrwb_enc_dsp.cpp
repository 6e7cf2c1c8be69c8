// AMR-WB encoder kernels (see amrwb_enc_dsp.h).
#include "amrwb/amrwb_enc_dsp.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "amrwb/amrwb_enc_tables.h"
#include "plain_chains.h"
#include "amrwb/amrwb_synth.h"
#include "amrwb/amrwb_tables.h"
#include "basic_op.h"
#include "checked_call.h"

namespace vokc::amrwb::enc {

using namespace voksc::op;

namespace {

constexpr int kWindow = 384;

// Q31 quotient num / den for 0 <= num < den, den as a normalised pair: the
// reciprocal of the high word refined by one Newton step.
int32_t div32(int32_t num, int16_t denHi, int16_t denLo) {
  const int16_t approx = div_s(0x3fff, denHi);  // 1/den in Q29
  int16_t hi, lo, nHi, nLo;
  L_Extract(L_sub(0x7fffffff, mpy32x16(denHi, denLo, approx)), hi, lo);
  L_Extract(mpy32x16(hi, lo, approx), hi, lo);
  L_Extract(num, nHi, nLo);
  return L_shl(mpy32(nHi, nLo, hi, lo), 2);
}

}  // namespace

void decimate(const int16_t* in, int inLen, int16_t* out) {
  const int outLen = mult(static_cast<int16_t>(inLen), 26215);  // 4/5, as the codec rounds it
  // Output j sits at input position 5j/4: integer part from the quarter
  // count, the phase selects every fourth tap starting at 3 - phase.
  // Two zero taps round each phase up to 32 (plain sums of whole blocks);
  // the input is read from a copy with two zeros after it.
  constexpr int kPadded = 2 * kDecimTaps + 2, kMaxIn = 320;
  int16_t taps[4][kPadded] = {};
  int64_t sum = 0;
  for (int phase = 0; phase < 4; ++phase) {
    for (int k = 0; k < 2 * kDecimTaps; ++k) taps[phase][k] = kDecimFir[3 - phase + 4 * k];
    const int64_t m = plain::magnitude(taps[phase], 2 * kDecimTaps);
    sum = m > sum ? m : sum;
  }
  // The taps' magnitudes stay below 2^15 in every phase: the chain of any
  // 16-bit input is its plain sum (the chain is kept for other tables).
  const bool exact = plain::fits(32768, sum) && inLen <= kMaxIn;
  int16_t copy[2 * kDecimTaps + kMaxIn + 2] = {};
  if (exact) std::memcpy(copy, in, sizeof(int16_t) * (2 * kDecimTaps + inLen));
  for (int j = 0; j < outLen; ++j) {
    const int quarter = 5 * j;
    const int at = kDecimTaps + (quarter >> 2) - (kDecimTaps - 1);
    const int16_t* x = in + at;
    const int16_t* h = taps[quarter & 3];
    int32_t s = 0;
    if (exact) {
      for (int k = 0; k < kPadded; ++k) s += copy[at + k] * h[k];
      s *= 2;
    } else {
      for (int k = 0; k < 2 * kDecimTaps; ++k) s = L_mac(s, x[k], h[k]);
    }
    out[j] = round_fx(L_shl(s, 1));
  }
}

void autocorrelation(const int16_t* x, int16_t* rHi, int16_t* rLo) {
  int16_t y[kWindow];
  // Windowed signal; its energy (with a floor of 16 << 16 against rounding
  // overflow) chooses a right shift that keeps the lag sums in 32 bits.
  int32_t energy = L_deposit_h(16);
  for (int i = 0; i < kWindow; ++i) {
    y[i] = mult_r(x[i], kLpWindow[i]);
    energy = L_add(energy, L_shr(L_mult(y[i], y[i]), 8));
  }
  int16_t down = sub(4, shr(norm_l(energy), 1));
  if (down < 0) down = 0;
  for (int i = 0; i < kWindow; ++i) y[i] = shr_r(y[i], down);

  const int64_t e = plain::energy(y, kWindow);
  const int32_t r0 = plain::energyChain(1, y, kWindow);
  const int16_t norm = norm_l(r0);
  L_Extract(L_shl(r0, norm), rHi[0], rLo[0]);
  // 2 sum |y[j] y[j + lag]| <= 2 e: below 2^31 no lag chain saturates.
  const bool exact = 2 * e <= INT32_MAX;
  for (int lag = 1; lag <= kOrder; ++lag) {
    int32_t r = 0;
    if (exact) {
      for (int j = 0; j < kWindow - lag; ++j) r += y[j] * y[j + lag];
      r *= 2;
    } else {
      for (int j = 0; j < kWindow - lag; ++j) r = L_mac(r, y[j], y[j + lag]);
    }
    L_Extract(L_shl(r, norm), rHi[lag], rLo[lag]);
  }
  // Lag window: a double-precision product per coefficient.
  for (int lag = 1; lag <= kOrder; ++lag) {
    L_Extract(mpy32(rHi[lag], rLo[lag], kLagWindowHi[lag - 1], kLagWindowLo[lag - 1]), rHi[lag], rLo[lag]);
  }
}

void levinson(const int16_t* rHi, const int16_t* rLo, int16_t* a, int16_t* lastA) {
  int16_t aHi[kOrder + 1], aLo[kOrder + 1], nHi[kOrder + 1], nLo[kOrder + 1];
  int16_t kHi, kLo, hi, lo;
  // First reflection coefficient -r1/r0 and the predictor of order 1 (Q27).
  int32_t r1 = L_Comp(rHi[1], rLo[1]);
  int32_t k = div32(L_abs(r1), rHi[0], rLo[0]);
  if (r1 > 0) k = L_negate(k);
  L_Extract(k, kHi, kLo);
  L_Extract(L_shr(k, 4), aHi[1], aLo[1]);
  // Prediction error r0 (1 - k^2), kept normalised with its exponent.
  auto shrink = [&](int16_t eHi, int16_t eLo) {
    const int32_t k2 = L_abs(mpy32(kHi, kLo, kHi, kLo));
    L_Extract(L_sub(0x7fffffff, k2), hi, lo);
    return mpy32(eHi, eLo, hi, lo);
  };
  int32_t err = shrink(rHi[0], rLo[0]);
  int16_t errExp = norm_l(err);
  int16_t eHi, eLo;
  L_Extract(L_shl(err, errExp), eHi, eLo);

  for (int i = 2; i <= kOrder; ++i) {
    int32_t acc = 0;
    for (int j = 1; j < i; ++j) acc = L_add(acc, mpy32(rHi[j], rLo[j], aHi[i - j], aLo[i - j]));
    acc = L_add(L_shl(acc, 4), L_Comp(rHi[i], rLo[i]));
    int32_t ki = div32(L_abs(acc), eHi, eLo);
    if (acc > 0) ki = L_negate(ki);
    ki = L_shl(ki, errExp);
    L_Extract(ki, kHi, kLo);
    if (abs_s(kHi) > 32750) {  // unstable: keep the last stable filter
      a[0] = 4096;
      std::memcpy(a + 1, lastA, sizeof(int16_t) * kOrder);
      return;
    }
    for (int j = 1; j < i; ++j)
      L_Extract(L_add(mpy32(kHi, kLo, aHi[i - j], aLo[i - j]), L_Comp(aHi[j], aLo[j])), nHi[j], nLo[j]);
    L_Extract(L_shr(ki, 4), nHi[i], nLo[i]);
    err = shrink(eHi, eLo);
    const int16_t n = norm_l(err);
    L_Extract(L_shl(err, n), eHi, eLo);
    errExp = add(errExp, n);
    for (int j = 1; j <= i; ++j) {
      aHi[j] = nHi[j];
      aLo[j] = nLo[j];
    }
  }
  a[0] = 4096;
  for (int i = 1; i <= kOrder; ++i) lastA[i - 1] = a[i] = round_fx(L_shl(L_Comp(aHi[i], aLo[i]), 1));
}

void weightLp(const int16_t* a, int16_t gamma, int16_t* ap) {
  ap[0] = a[0];
  int16_t power = gamma;
  for (int i = 1; i < kOrder; ++i) {
    ap[i] = round_fx(L_mult(a[i], power));
    power = round_fx(L_mult(power, gamma));
  }
  ap[kOrder] = round_fx(L_mult(a[kOrder], power));
}

VokResult interpolateIsp(const int16_t* ispOld, const int16_t* ispNew, int16_t* a4) {
  int16_t isp[kOrder];
  for (int k = 0; k < 3; ++k) {
    const int16_t wNew = kIspWeights[k];
    const int16_t wOld = add(sub(32767, wNew), 1);
    for (int i = 0; i < kOrder; ++i) isp[i] = round_fx(L_mac(L_mult(ispOld[i], wOld), ispNew[i], wNew));
    VOKC_CALL(voksISPToLPC_AMRWB_16s, isp, a4 + k * (kOrder + 1), kOrder);
  }
  return VOKC_CALL(voksISPToLPC_AMRWB_16s, ispNew, a4 + 3 * (kOrder + 1), kOrder);
}

void synthesize(const int16_t* a, const int16_t* x, int16_t* y, int len, int16_t* mem, bool update) {
  synthesis16(a, kOrder, x, y, len, mem, update);
}

void convolve(const int16_t* x, const int16_t* h, int16_t* y) {
  // Every partial sum of output n is at most 2 sqrt(ex eh) (Cauchy-Schwarz).
  const int64_t ex = plain::energy(x, kSub), eh = plain::energy(h, kSub);
  if (ex == 0 || eh < (int64_t{1} << 60) / ex) {  // 4 ex eh < 2^62: below 2^31
    int32_t acc[kSub];
    VOKC_CALL(voksConvPartial_16s32s, x, h, acc, kSub);
    for (int n = 0; n < kSub; ++n) y[n] = round_fx(2 * acc[n]);
    return;
  }
  for (int n = 0; n < kSub; ++n) {
    int32_t s = 0;
    for (int i = 0; i <= n; ++i) s = L_mac(s, x[i], h[n - i]);
    y[n] = round_fx(s);
  }
}

void weightedImpulse(const int16_t* ap, const int16_t* aq, int16_t* h) {
  int16_t buf[kOrder + kSub] = {};  // kOrder zero outputs before the first
  int16_t* out = buf + kOrder;
  int16_t rev[kOrder];  // aq[16] .. aq[1]
  for (int j = 0; j < kOrder; ++j) rev[j] = aq[kOrder - j];
  // Any 16-bit outputs: every partial sum is at most 2^15 |x[n]| +
  // 2^16 sum |aq[j]|, so below 2^31 the chains are the plain sums.
  const int64_t taps = plain::magnitude(aq + 1, kOrder), start = 32768 * int64_t{plain::peak(ap, kOrder + 1)};
  if (plain::fits(32768, taps, start)) {
#if defined(__SSE2__)
    const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rev));
    const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rev + 8));
#endif
    for (int n = 0; n < kSub; ++n) {
      int32_t s = 0;
#if defined(__SSE2__)
      // The 16 products in pairwise multiply-adds, then the four lanes.
      __m128i t = _mm_add_epi32(_mm_madd_epi16(r0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + n))),
                                _mm_madd_epi16(r1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + n + 8))));
      t = _mm_add_epi32(t, _mm_shuffle_epi32(t, 0x4E));
      t = _mm_add_epi32(t, _mm_shuffle_epi32(t, 0xB1));
      s = _mm_cvtsi128_si32(t);
#else
      for (int j = 0; j < kOrder; ++j) s += rev[j] * buf[n + j];
#endif
      s = (n <= kOrder ? ap[n] : 0) * 16384 - s;
      const int64_t v = (int64_t{s} * 16 + 0x8000) >> 16;
      out[n] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
    }
    std::memcpy(h, out, sizeof(int16_t) * kSub);
    return;
  }
  // Else plain sums first, wrapped modulo 2^32.  Every partial sum of output n
  // is at most 2^15 |x[n]| + 2 sum |aq[j] y[n - j]|; with the outputs'
  // peak that bound below 2^31 for all n, no step saturated (the first
  // output whose chain did would exceed it, its earlier outputs being
  // exact), so the plain outputs are the chains'.
  for (int n = 0; n < kSub; ++n) {
    uint32_t s = static_cast<uint32_t>((n <= kOrder ? ap[n] : 0) * 16384);
    for (int j = 0; j < kOrder; ++j) s -= static_cast<uint32_t>(rev[j] * buf[n + j]);
    const int64_t v = (int64_t{static_cast<int32_t>(s)} * 16 + 0x8000) >> 16;
    out[n] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
  }
  if (plain::fits(plain::peak(out, kSub), taps, start)) {
    std::memcpy(h, out, sizeof(int16_t) * kSub);
    return;
  }
  for (int n = 0; n < kSub; ++n) {
    int32_t s = L_mult(n <= kOrder ? ap[n] : 0, 16384);
    for (int j = 1; j <= kOrder; ++j) s = L_msu(s, aq[j], n >= j ? h[n - j] : 0);
    h[n] = round_fx(L_shl(s, 3));
  }
}

void subtractScaled(const int16_t* x, int16_t* x2, const int16_t* y, int16_t gain, int len) {
  // With |y gain| below 2^29 the difference 2^15 x - 2 y gain stays inside
  // 32 bits (no step saturates); the saturating doubling and upper word
  // are then the clamp of the difference shifted down 15.
  const int32_t g = gain < 0 ? -int32_t{gain} : int32_t{gain};
  if (int64_t{plain::peak(y, len)} * g < (int64_t{1} << 29)) {
    for (int i = 0; i < len; ++i) {
      const int32_t d = (x[i] * 32768 - 2 * (y[i] * int32_t{gain})) >> 15;
      x2[i] = static_cast<int16_t>(d > 32767 ? 32767 : (d < -32768 ? -32768 : d));
    }
    return;
  }
  for (int i = 0; i < len; ++i) x2[i] = extract_h(L_shl(L_msu(L_mult(x[i], 16384), y[i], gain), 1));
}

void scaleSignal(int16_t* x, int len, int exp) {
  // round_fx(L_shl(x << 16, exp)): up, the clamp of x << exp (the low
  // word stays zero); down, the rounded arithmetic shift (never saturates).
  if (exp == 0) return;
  if (exp > 0) {
    const int up = exp > 16 ? 16 : exp;
    for (int i = 0; i < len; ++i) {
      const int32_t v = int32_t{x[i]} * (1 << up);
      x[i] = static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
    return;
  }
  const int down = -exp > 31 ? 31 : -exp;
  for (int i = 0; i < len; ++i) x[i] = static_cast<int16_t>(((int32_t{x[i]} * 65536 >> down) + 0x8000) >> 16);
}

void deemphasizeHalf(int16_t* x, int16_t mu, int len, int16_t* mem) {
  int16_t prev = *mem;
  for (int i = 0; i < len; ++i) prev = x[i] = round_fx(L_mac(L_mult(x[i], 16384), prev, mu));
  *mem = prev;
}

void preemphasize(int16_t* x, int16_t mu, int len, int16_t* mem, bool doubled) {
  const int16_t last = x[len - 1];
  for (int i = len - 1; i >= 0; --i) {
    int32_t s = L_msu(L_deposit_h(x[i]), i > 0 ? x[i - 1] : *mem, mu);
    if (doubled) s = L_shl(s, 1);
    x[i] = round_fx(s);
  }
  *mem = last;
}

void sharpen(int16_t* x, int lag, int16_t sharp) {
  for (int i = lag; i < kSub; ++i) x[i] = round_fx(L_mac(L_deposit_h(x[i]), x[i - lag], sharp));
}

void decimateByTwo(int16_t* x, int16_t* mem) {
  constexpr int kLen = 256, kMem = 3;
  int16_t buf[kMem + kLen];
  std::memcpy(buf, mem, sizeof(int16_t) * kMem);
  std::memcpy(buf + kMem, x, sizeof(int16_t) * kLen);
  std::memcpy(mem, x + kLen - kMem, sizeof(int16_t) * kMem);
  for (int j = 0; j < kLen / 2; ++j) {
    int32_t s = 0;
    for (int k = 0; k < 5; ++k) s = L_mac(s, buf[2 * j + k], kHalfBandFir[k]);
    x[j] = round_fx(s);
  }
}

void bandPass6k7k(int16_t* x, int len, int16_t* mem) {
  int16_t buf[kBandTaps - 1 + kSub16k + 1];
  std::memcpy(buf, mem, sizeof(int16_t) * (kBandTaps - 1));
  for (int i = 0; i < len; ++i) buf[kBandTaps - 1 + i] = shr(x[i], 2);  // the filter's gain is 4
  buf[kBandTaps - 1 + len] = 0;
  if (plain::fits(plain::peak(buf, kBandTaps - 1 + len), plain::magnitude(kBand6k7k, kBandTaps))) {
    // One sum of products per output over 32 taps (the last zero), a form
    // the compiler turns into pairwise multiply-adds.
    int16_t taps[kBandTaps + 1];
    std::memcpy(taps, kBand6k7k, sizeof(int16_t) * kBandTaps);
    taps[kBandTaps] = 0;
    for (int i = 0; i < len; ++i) {
      int32_t acc = 0;
      for (int j = 0; j < kBandTaps + 1; ++j) acc += buf[i + j] * taps[j];
      x[i] = round_fx(2 * acc);
    }
  } else {
    for (int i = 0; i < len; ++i) {
      int32_t s = 0;
      for (int j = 0; j < kBandTaps; ++j) s = L_mac(s, buf[i + j], kBand6k7k[j]);
      x[i] = round_fx(s);
    }
  }
  std::memcpy(mem, buf + len, sizeof(int16_t) * (kBandTaps - 1));
}

int32_t dotProduct12(const int16_t* x, const int16_t* y, int len, int16_t* exp) {
  int32_t s = 1;
  if (x == y)
    s = plain::energyChain(1, x, len);
  else
    for (int i = 0; i < len; ++i) s = L_mac(s, x[i], y[i]);
  const int16_t n = norm_l(s);
  *exp = sub(30, n);
  return L_shl(s, n);
}

void invSqrt(int32_t* frac, int16_t* exp) {
  if (*frac <= 0) {
    *exp = 0;
    *frac = 0x7fffffff;
    return;
  }
  if (*exp & 1) *frac = L_shr(*frac, 1);
  *exp = negate(shr(sub(*exp, 1), 1));
  // Table index from bits 25..30, interpolation weight from bits 10..24.
  const int32_t f = L_shr(*frac, 9);
  const int16_t i = sub(extract_h(f), 16);
  const int16_t w = static_cast<int16_t>(extract_l(L_shr(f, 1)) & 0x7fff);
  *frac = L_msu(L_deposit_h(kInvSqrtTable[i]), sub(kInvSqrtTable[i], kInvSqrtTable[i + 1]), w);
}

int32_t pow2(int16_t exponent, int16_t fraction) {
  const int32_t f = L_mult(fraction, 32);
  const int16_t i = extract_h(f);
  const int16_t w = static_cast<int16_t>(extract_l(L_shr(f, 1)) & 0x7fff);
  const int32_t v = L_msu(L_deposit_h(kPow2Table[i]), sub(kPow2Table[i], kPow2Table[i + 1]), w);
  return L_shr_r(v, sub(30, exponent));
}

int32_t mulPair16(int16_t hi, int16_t lo, int16_t n) { return mpy32x16(hi, lo, n); }

int16_t noise(int16_t* seed) {
  *seed = extract_l(L_add(L_shr(L_mult(*seed, 31821), 1), 13849));
  return *seed;
}

int16_t voicing(const int16_t* exc, int16_t excExp, int16_t gainPit, const int16_t* code, int16_t gainCode) {
  // Energy of the adaptive part: |exc|^2 gp^2, as mantissa and exponent.
  int16_t e1, e2;
  int16_t m1 = extract_h(dotProduct12(exc, exc, kSub, &e1));
  e1 = sub(e1, add(excExp, excExp));
  const int32_t gp2 = L_mult(gainPit, gainPit);
  int16_t n = norm_l(gp2);
  m1 = mult(m1, extract_h(L_shl(gp2, n)));
  e1 = sub(sub(e1, n), 10);  // gain Q14 against code Q9
  // Energy of the fixed part: |code|^2 gc^2.
  int16_t m2 = extract_h(dotProduct12(code, code, kSub, &e2));
  n = norm_s(gainCode);
  int16_t g = shl(gainCode, n);
  m2 = mult(m2, mult(g, g));
  e2 = sub(e2, add(n, n));
  // Align, then (E1 - E2) / (E1 + E2).
  const int16_t d = sub(e1, e2);
  if (d >= 0) {
    m1 = shr(m1, 1);
    m2 = shr(m2, add(d, 1));
  } else {
    m1 = shr(m1, sub(1, d));
    m2 = shr(m2, 1);
  }
  const int16_t diff = sub(m1, m2);
  const int16_t sum = add(add(m1, m2), 1);
  return diff >= 0 ? div_s(diff, sum) : negate(div_s(negate(diff), sum));
}

}  // namespace vokc::amrwb::enc
