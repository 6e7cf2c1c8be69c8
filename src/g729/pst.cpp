// G.729 post-filter: long-term (pitch) post-filters of G.729 and Annex A,
// the short-term post-filter, tilt compensation and gain control.
#include <cstring>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "filter_internal.h"
#include "pst_tables.h"

using namespace voksc::op;
using namespace voksc::g729;
using voksc::anyNull;

namespace {

constexpr int kSubfr = 40;
constexpr int kMemRes2 = 152;   // G.729: residual history of the long-term post-filter
constexpr int kHistA = 154;     // Annex A residual buffer history
constexpr int kLongH = 20;
constexpr int kUp = 8;          // 1/8 resolution
constexpr int kLh2S = 4, kLh2L = 16;

void weightAz(const int16_t* a, Word16 gamma, int16_t* ap) {
  ap[0] = a[0];
  Word16 fac = gamma;
  for (int i = 1; i < 10; ++i) {
    ap[i] = round_fx(L_mult(a[i], fac));
    fac = round_fx(L_mult(fac, gamma));
  }
  ap[10] = round_fx(L_mult(a[10], fac));
}

struct LtpChoice {
  Word16 num, den, shNum, shDen, lag, phase, offYup;
};

void noLtp(LtpChoice& c) {
  c.num = 0;
  c.den = 1;
  c.lag = 0;
  c.phase = 0;
}

// Integer and 1/8 fractional delay search around t0 on the scaled residual.
void searchDelay(int t0, const int16_t* in, LtpChoice& c, int16_t* yUp) {
  Word32 acc = 0;
  for (int i = 0; i < kSubfr; ++i) acc = L_mac(acc, in[i], in[i]);
  if (acc == 0) return noLtp(c);
  Word16 shEner = sub(16, norm_l(acc));
  Word16 ener;
  if (shEner > 0) {
    ener = extract_l(L_shr(acc, shEner));
  } else {
    shEner = 0;
    ener = extract_l(acc);
  }
  int lambda = t0 - 1;
  Word32 numInt = -1;
  int iMax = 0;
  for (int i = 0; i < 3; ++i) {
    const int16_t* past = in - lambda - i;
    acc = 0;
    for (int n = 0; n < kSubfr; ++n) acc = L_mac(acc, in[n], past[n]);
    if (acc < 0) acc = 0;
    if (L_sub(acc, numInt) > 0) {
      numInt = acc;
      iMax = i;
    }
  }
  if (numInt == 0) return noLtp(c);
  lambda += iMax;
  acc = 0;
  for (int i = 0; i < kSubfr; ++i) acc = L_mac(acc, in[i - lambda], in[i - lambda]);
  if (acc == 0) return noLtp(c);
  Word32 denInt = acc, denMax = acc;
  Word32 den0[kUp - 1], den1[kUp - 1];
  const int16_t* past0 = in - (lambda - 1);
  for (int phi = 1; phi < kUp; ++phi) {
    int16_t* y = yUp + (phi - 1) * (kSubfr + 1);
    const int16_t* h = kPstInterpShort + (phi - 1) * kLh2S;
    for (int n = 0; n <= kSubfr; ++n) {
      const int16_t* p1 = past0 + n;
      Word32 s = 0;
      for (int i = 0; i < kLh2S; ++i) s = L_mac(s, h[i], p1[-i]);
      y[n] = round_fx(s);
    }
    acc = 0;
    for (int n = 1; n < kSubfr; ++n) acc = L_mac(acc, y[n], y[n]);
    Word32 t0v = acc;
    den0[phi - 1] = L_mac(acc, y[0], y[0]);
    den1[phi - 1] = L_mac(t0v, y[kSubfr], y[kSubfr]);
    if (abs_s(y[0]) > abs_s(y[kSubfr])) {
      if (L_sub(den0[phi - 1], denMax) > 0) denMax = den0[phi - 1];
    } else {
      if (L_sub(den1[phi - 1], denMax) > 0) denMax = den1[phi - 1];
    }
  }
  if (denMax == 0) return noLtp(c);
  Word16 shDen = sub(16, norm_l(denMax));
  if (shDen <= 0) return noLtp(c);
  Word16 shNum = shDen >= shEner ? shDen : shEner;
  Word16 denBest = extract_l(L_shr(denInt, shDen));
  Word16 numBest = extract_l(L_shr(numInt, shNum));
  Word16 hiMax, loMax;
  L_Extract(L_mult(numBest, numBest), hiMax, loMax);
  int phiMax = 0, ioff = 1;
  for (int phi = 1; phi < kUp; ++phi) {
    const int16_t* y = yUp + (phi - 1) * (kSubfr + 1);
    for (int half = 0; half < 2; ++half) {
      const int16_t* yy = y + half;
      acc = 0;
      for (int n = 0; n < kSubfr; ++n) acc = L_mac(acc, in[n], yy[n]);
      acc = L_shr(acc, shNum);
      Word16 num = acc < 0 ? 0 : extract_l(acc);
      Word16 hi, lo;
      L_Extract(L_mult(num, num), hi, lo);
      Word32 a0 = voksc::vokMpy32x16(hi, lo, denBest);
      Word16 d = extract_l(L_shr(half == 0 ? den0[phi - 1] : den1[phi - 1], shDen));
      Word32 a1 = voksc::vokMpy32x16(hiMax, loMax, d);
      if (L_sub(a0, a1) > 0) {
        numBest = num;
        hiMax = hi;
        loMax = lo;
        denBest = d;
        ioff = half == 0 ? 0 : 1;
        phiMax = phi;
      }
    }
  }
  if (numBest == 0 || denBest <= 1) return noLtp(c);
  Word32 t1 = L_mult(denBest, ener);
  Word32 t0l = L_Comp(hiMax, loMax);
  Word16 tmp = add(sub(sub(shl(shNum, 1), shDen), shEner), 1);
  if (tmp < 0)
    t0l = L_shr(t0l, negate(tmp));
  else if (tmp > 0)
    t1 = L_shr(t1, tmp);
  if (L_sub(t0l, t1) >= 0) {
    c.lag = static_cast<Word16>(lambda + 1 - ioff);
    c.offYup = static_cast<Word16>(ioff);
    c.phase = static_cast<Word16>(phiMax);
    c.num = numBest;
    c.den = denBest;
    c.shDen = shDen;
    c.shNum = shNum;
  } else {
    noLtp(c);
  }
}

// Long interpolation filter output for the chosen fractional delay.
void longInterp(const int16_t* in, int lag, int phase, int16_t* y, Word16& num, Word16& den, Word16& shNum,
                Word16& shDen) {
  const int16_t* h = kPstInterpLong + (phase - 1) * kLh2L;
  const int16_t* p2 = in + (kLh2L / 2 - lag);
  for (int n = 0; n < kSubfr; ++n) {
    Word32 acc = 0;
    const int16_t* p = p2 + n;
    for (int i = 0; i < kLh2L; ++i) acc = L_mac(acc, h[i], p[-i]);
    y[n] = round_fx(acc);
  }
  Word32 acc = 0;
  for (int n = 0; n < kSubfr; ++n) acc = L_mac(acc, y[n], in[n]);
  if (acc < 0) {
    num = 0;
    shNum = 0;
  } else {
    Word16 t = sub(16, norm_l(acc));
    if (t < 0) t = 0;
    num = extract_l(L_shr(acc, t));
    shNum = t;
  }
  acc = 0;
  for (int n = 0; n < kSubfr; ++n) acc = L_mac(acc, y[n], y[n]);
  Word16 t = sub(16, norm_l(acc));
  if (t < 0) t = 0;
  den = extract_l(L_shr(acc, t));
  shDen = t;
}

int selectLtp(Word16 n1, Word16 d1, Word16 sn1, Word16 sd1, Word16 n2, Word16 d2, Word16 sn2, Word16 sd2) {
  if (d2 == 0) return 1;
  Word16 hi, lo;
  L_Extract(L_mult(n1, n1), hi, lo);
  Word32 t1 = voksc::vokMpy32x16(hi, lo, d2);
  L_Extract(L_mult(n2, n2), hi, lo);
  Word32 t2 = voksc::vokMpy32x16(hi, lo, d1);
  Word16 e1 = add(shl(sn1, 1), sd2), e2 = add(shl(sn2, 1), sd1);
  if (e2 > e1)
    t1 = L_shr(t1, sub(e2, e1));
  else if (e1 > e2)
    t2 = L_shr(t2, sub(e1, e2));
  return L_sub(t2, t1) > 0 ? 2 : 1;
}

// The G.729 long-term post-filter of one subframe; res points at the
// subframe inside a buffer with kMemRes2 samples of history.
void longTermPost(Word16 factor, int t0, const int16_t* res, int16_t* out, Word16* voicing) {
  const int16_t* sig = res - kMemRes2;
  Word16 acc16 = 0;
  for (int i = 0; i < kMemRes2 + kSubfr; ++i) acc16 = static_cast<Word16>(acc16 | abs_s(sig[i]));
  Word16 nbSh = sub(3, norm_s(acc16));
  int16_t cadr[kMemRes2 + kSubfr];
  for (int i = 0; i < kMemRes2 + kSubfr; ++i) cadr[i] = shr(sig[i], nbSh);
  const int16_t* in = cadr + kMemRes2;
  int16_t yUp[(kUp - 1) * (kSubfr + 1)];
  LtpChoice c{};
  searchDelay(t0, in, c, yUp);
  *voicing = c.lag;
  if (c.num == 0) {
    std::memcpy(out, res, kSubfr * sizeof(int16_t));
    return;
  }
  const int16_t* yPtr;
  int16_t yLong[kSubfr];
  Word16 num = c.num, den = c.den, shNum = c.shNum, shDen = c.shDen;
  if (c.phase == 0) {
    yPtr = res - c.lag;
  } else {
    Word16 n2, d2, sn2, sd2;
    longInterp(in, c.lag, c.phase, out, n2, d2, sn2, sd2);
    int16_t* y;
    if (selectLtp(num, den, shNum, shDen, n2, d2, sn2, sd2) == 1) {
      y = yUp + ((c.phase - 1) * (kSubfr + 1)) + c.offYup;
    } else {
      num = n2;
      den = d2;
      shNum = sn2;
      shDen = sd2;
      std::memcpy(yLong, out, sizeof yLong);
      y = yLong;
    }
    for (int i = 0; i < kSubfr; ++i) y[i] = shl(y[i], nbSh);
    yPtr = y;
  }
  Word16 t = sub(shNum, shDen);
  if (t >= 0)
    den = shr(den, t);
  else
    num = shl(num, t);
  Word16 gain;
  // gain = 1 / (1 + factor) when the predictor is good enough, else
  // den / (den + factor num) (Q15).
  if (num >= den) {
    gain = div_s(16384, add(16384, shr(factor, 1)));
  } else {
    num = shr(mult(num, factor), 1);
    den = shr(den, 1);
    gain = div_s(den, add(den, num));
  }
  Word16 g1 = add(sub(32767, gain), 1);
  for (int n = 0; n < kSubfr; ++n) out[n] = round_fx(L_mac(L_mult(gain, res[n]), g1, yPtr[n]));
}

}  // namespace

VOKSC_EXPORT VokResult voksLongTermPostFilter_G729_16s(Vok16s factor, int delay, Vok16s* res, Vok16s* out,
                                                       Vok16s* voicing) {
  if (anyNull(res, out, voicing)) return vokErrNullPtr;
  if (delay < 18 || delay > 143 || factor < 0 || factor > 16384) return vokErrRange;
  longTermPost(factor, delay, res + kMemRes2, out, voicing);
  std::memmove(res, res + kSubfr, kMemRes2 * sizeof(Vok16s));
  return vokOk;
}

VOKSC_EXPORT VokResult voksShortTermPostFilter_G729_16s(const Vok16s* a, const Vok16s* ltp, Vok16s* out, Vok16s* h) {
  if (anyNull(a, ltp, out, h)) return vokErrNullPtr;
  int16_t den[11], num[kLongH] = {};
  weightAz(a, 22938, den);
  weightAz(a, 18022, num);
  int16_t hh[kLongH], zero[10] = {};
  synthesis(den, 10, num, hh, kLongH, zero, false);
  Word32 g = 0;
  for (int i = 0; i < kLongH; ++i) g = L_add(g, L_deposit_l(abs_s(hh[i])));
  Word16 g0 = extract_h(L_shl(g, 14));
  int16_t sig[kSubfr];
  if (g0 > 1024) {
    Word16 t = div_s(1024, g0);
    for (int i = 0; i < kSubfr; ++i) sig[i] = mult_r(ltp[i], t);
  } else {
    std::memcpy(sig, ltp, sizeof sig);
  }
  int16_t mem[10];
  std::memcpy(mem, out - 10, sizeof mem);
  bool ovf = synthesis(den, 10, sig, out, kSubfr, mem, false);
  std::memcpy(h, hh, sizeof hh);
  return ovf ? vokWrnOverflow : vokOk;
}

namespace {
// First reflection coefficient of h (negated), Q15.
Word16 tiltFromH(const int16_t* h, int len) {
  Word32 acc = 0;
  for (int i = 0; i < len; ++i) acc = L_mac(acc, h[i], h[i]);
  Word16 sh = norm_l(acc);
  Word16 acf0 = extract_h(L_shl(acc, sh));
  acc = 0;
  for (int i = 0; i < len - 1; ++i) acc = L_mac(acc, h[i], h[i + 1]);
  Word16 acf1 = extract_h(L_shl(acc, sh));
  if (acf0 < abs_s(acf1)) return 0;
  Word16 k = div_s(abs_s(acf1), acf0);
  return acf1 > 0 ? negate(k) : k;
}

// y[n] = ga (x[n] + mu x[n-1]) with x[-1] before the signal.
void tiltFilter(Word16 k, const int16_t* x, int16_t* y) {
  Word16 mu, fact, shFact;
  Word32 lFact;
  if (k > 0) {
    mu = mult_r(k, 6554);
    shFact = 15;
    fact = 0x4000;
    lFact = 0x4000;
  } else {
    mu = mult_r(k, 29491);
    shFact = 12;
    fact = 0x0800;
    lFact = 0x0800;
  }
  Word16 mu2 = add(32767, sub(1, abs_s(mu)));
  Word16 ga = div_s(fact, mu2);
  mu = shr(mu, 1);
  for (int n = 0; n < kSubfr; ++n) {
    Word16 prev = x[n - 1];
    Word32 t = L_mac(L_shl(L_deposit_l(x[n]), 15), mu, prev);
    t = L_add(t, 0x4000);
    Word16 v = extract_l(L_shr(t, 15));
    t = L_shr(L_add(L_mult(v, ga), lFact), shFact);
    y[n] = sat16(t);
  }
}
}  // namespace

VOKSC_EXPORT VokResult voksTiltCompensation_G729_16s(const Vok16s* h, Vok16s* signal) {
  if (anyNull(h, signal)) return vokErrNullPtr;
  int16_t in[kSubfr + 1];
  std::memcpy(in, signal - 1, sizeof in);
  tiltFilter(tiltFromH(h, kLongH), in + 1, signal);
  return vokOk;
}

VOKSC_EXPORT VokResult voksTiltCompensation_G729E_16s(Vok16s k, const Vok16s* signal, Vok16s* out) {
  if (anyNull(signal, out)) return vokErrNullPtr;
  int16_t in[kSubfr + 1];
  std::memcpy(in, signal - 1, sizeof in);
  tiltFilter(k, in + 1, out);
  return vokOk;
}

VOKSC_EXPORT VokResult voksGainControl_G729_16s_I(const Vok16s* before, Vok16s* sig, Vok16s* pastGain) {
  if (anyNull(before, sig, pastGain)) return vokErrNullPtr;
  Word32 acc = 0;
  for (int i = 0; i < kSubfr; ++i) acc = L_add(acc, L_abs(L_deposit_l(before[i])));
  Word16 g0;
  if (acc == 0) {
    g0 = 0;
  } else {
    Word16 scIn = norm_l(acc);
    Word16 gIn = extract_h(L_shl(acc, scIn));
    acc = 0;
    for (int i = 0; i < kSubfr; ++i) acc = L_add(acc, L_abs(L_deposit_l(sig[i])));
    if (acc == 0) {
      *pastGain = 0;
      return vokOk;
    }
    Word16 scOut = norm_l(acc);
    Word16 gOut = extract_h(L_shl(acc, scOut));
    Word16 sh = sub(add(scIn, 1), scOut);
    if (gIn < gOut) {
      g0 = div_s(gIn, gOut);
    } else {
      g0 = add(shr(div_s(sub(gIn, gOut), gOut), 1), 0x4000);
      sh = sub(sh, 1);
    }
    g0 = shr(g0, sh);
    g0 = mult_r(g0, 32768 - 32358);
  }
  Word16 gain = *pastGain;
  for (int i = 0; i < kSubfr; ++i) {
    gain = add(mult_r(32358, gain), g0);
    sig[i] = round_fx(L_shl(L_mult(gain, sig[i]), 1));
  }
  *pastGain = gain;
  return vokOk;
}

// ---- Annex A ----------------------------------------------------------------

VOKSC_EXPORT VokResult voksLongTermPostFilter_G729A_16s(int delay, const Vok16s* speech, const Vok16s* num,
                                                        Vok16s* res, Vok16s* out) {
  if (anyNull(speech, num, res, out)) return vokErrNullPtr;
  if (delay < 18 || delay > 145) return vokErrRange;
  int16_t* r = res + kHistA;
  residual10(num, speech, r, kSubfr);
  int t0Min = delay - 3, t0Max = t0Min + 6;
  if (t0Max > 143) {
    t0Max = 143;
    t0Min = 137;
  }
  int16_t scal[143 + kSubfr];
  for (int i = 0; i < 143 + kSubfr; ++i) scal[i] = shr(r[i - 143], 2);
  const int16_t* s = scal + 143;
  Word32 corMax = kMin32;
  int t0 = t0Min;
  for (int i = t0Min; i <= t0Max; ++i) {
    Word32 c = dotProduct(s, s - i, kSubfr);
    if (L_sub(c, corMax) > 0) {
      corMax = c;
      t0 = i;
    }
  }
  Word32 ener = 1, ener0 = 1;
  for (int i = 0; i < kSubfr; ++i) ener = L_mac(ener, s[i - t0], s[i - t0]);
  for (int i = 0; i < kSubfr; ++i) ener0 = L_mac(ener0, s[i], s[i]);
  if (corMax < 0) corMax = 0;
  Word32 tmp = corMax;
  if (ener > tmp) tmp = ener;
  if (ener0 > tmp) tmp = ener0;
  Word16 j = norm_l(tmp);
  Word16 cmax = round_fx(L_shl(corMax, j));
  Word16 en = round_fx(L_shl(ener, j));
  Word16 en0 = round_fx(L_shl(ener0, j));
  Word32 t = L_sub(L_mult(cmax, cmax), L_shr(L_mult(en, en0), 1));
  if (t < 0) {
    std::memcpy(out, r, kSubfr * sizeof(Vok16s));
  } else {
    Word16 g0, gain;
    if (cmax > en) {
      g0 = 21845;
      gain = 10923;
    } else {
      cmax = shr(mult(cmax, 16384), 1);
      en = shr(en, 1);
      Word16 i = add(cmax, en);
      if (i > 0) {
        gain = div_s(cmax, i);
        g0 = sub(32767, gain);
      } else {
        g0 = 32767;
        gain = 0;
      }
    }
    for (int i = 0; i < kSubfr; ++i) out[i] = add(mult(g0, r[i]), mult(gain, r[i - t0]));
  }
  std::memmove(res, res + kSubfr, kHistA * sizeof(Vok16s));
  return vokOk;
}

// Tilt of Annex A: impulse response of num/den over 22 samples, then the
// pre-emphasis with the sample before the signal as its memory.
VOKSC_EXPORT VokResult voksTiltCompensation_G729A_16s(const Vok16s* ap, Vok16s* signal) {
  if (anyNull(ap, signal)) return vokErrNullPtr;
  constexpr int kLh = 22;
  int16_t h[kLh] = {}, zero[10] = {};
  std::memcpy(h, ap, 11 * sizeof(int16_t));
  synthesis(ap + 11, 10, h, h, kLh, zero, false);
  Word32 acc = L_mult(h[0], h[0]);
  for (int i = 1; i < kLh; ++i) acc = L_mac(acc, h[i], h[i]);
  Word16 t1 = extract_h(acc);
  acc = L_mult(h[0], h[1]);
  for (int i = 1; i < kLh - 1; ++i) acc = L_mac(acc, h[i], h[i + 1]);
  Word16 t2 = extract_h(acc);
  Word16 g;
  if (t2 <= 0) {
    g = 0;
  } else {
    g = div_s(mult(t2, 26214), t1);
  }
  // In place from the end: each sample needs its unfiltered predecessor.
  for (int i = kSubfr - 1; i >= 0; --i) signal[i] = sub(signal[i], mult(g, signal[i - 1]));
  return vokOk;
}

VOKSC_EXPORT VokResult voksGainControl_G729A_16s_I(const Vok16s* before, Vok16s* sig, Vok16s* pastGain) {
  if (anyNull(before, sig, pastGain)) return vokErrNullPtr;
  int16_t tmp[kSubfr];
  for (int i = 0; i < kSubfr; ++i) tmp[i] = shr(sig[i], 2);
  Word32 s = 0;
  for (int i = 0; i < kSubfr; ++i) s = L_mac(s, tmp[i], tmp[i]);
  if (s == 0) {
    *pastGain = 0;
    return vokOk;
  }
  Word16 e = sub(norm_l(s), 1);
  Word16 gOut = round_fx(L_shl(s, e));
  for (int i = 0; i < kSubfr; ++i) tmp[i] = shr(before[i], 2);
  s = 0;
  for (int i = 0; i < kSubfr; ++i) s = L_mac(s, tmp[i], tmp[i]);
  Word16 g0;
  if (s == 0) {
    g0 = 0;
  } else {
    Word16 i = norm_l(s);
    Word16 gIn = round_fx(L_shl(s, i));
    e = sub(e, i);
    s = L_deposit_l(div_s(gOut, gIn));
    s = L_shl(s, 7);
    s = L_shr(s, e);
    s = voksc::vokInvSqrt(s);
    Word16 r = round_fx(L_shl(s, 9));
    g0 = mult(r, 32767 - 29491);
  }
  Word16 gain = *pastGain;
  for (int i = 0; i < kSubfr; ++i) {
    gain = add(mult(gain, 29491), g0);
    sig[i] = extract_h(L_shl(L_mult(sig[i], gain), 3));
  }
  *pastGain = gain;
  return vokOk;
}
