// The G.729 long-term (harmonic) post-filter at the one delay the library
// filter refuses: 144.  A decoder that loses a frame, or finds a parity
// error, reuses the previous frame's last delay, and a second-subframe delay
// may be 143 2/3 (integer part 144).  The reference decoders filter at that
// delay, so the coder does this step itself there: the same 1/8-resolution
// search around the delay (three integer delays, the seven phases of the
// short interpolation filter, the long filter for the chosen phase), the
// same gain and the same filtering, in the same order of fixed-point
// operations as the library filter.  Delays up to 143 go to the library.
#include <cstring>

#include "g729_common.h"
#include "g729_tables.h"
#include "checked_call.h"
#include "src/g729/pst_tables.h"

namespace vokc::g729 {
namespace {

constexpr int kHist = 152;        // residual history the decoders keep
constexpr int kPhases = 8;
constexpr int kShortTaps = 4, kLongTaps = 16;
constexpr int16_t kGammaHarm = 16384;
constexpr int16_t kMinGain = 21845;  // 1 / (1 + 0.5), Q15

struct Ratio {
  int16_t num = 0, den = 1, shNum = 0, shDen = 0;
};

// The L_mac chain over n products.
int32_t macChain(const int16_t* a, const int16_t* b, int n) {
  int32_t s = 0;
  for (int i = 0; i < n; ++i) s = L_mac(s, a[i], b[i]);
  return s;
}

// y[n] = round(sum_k h[k] x[n - k]) for n = 0..count-1.
void interpolate(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count) {
  for (int n = 0; n < count; ++n) {
    int32_t s = 0;
    for (int k = 0; k < taps; ++k) s = L_mac(s, h[k], x[n - k]);
    y[n] = round_fx(s);
  }
}

// A 32-bit square (as hi, lo words) times a 16-bit denominator.
int32_t scaled(int16_t hi, int16_t lo, int16_t den) { return L_mac(L_mult(hi, den), mult(lo, den), 1); }

// num^2 * den of the other ratio, as the comparisons of the search form it.
int32_t crossTerm(int16_t num, int16_t den) {
  int16_t hi, lo;
  L_Extract(L_mult(num, num), hi, lo);
  return scaled(hi, lo, den);
}

// True when b's num^2 / den exceeds a's (shifts included).
bool secondBetter(const Ratio& a, const Ratio& b) {
  if (b.den == 0) return false;
  int32_t ta = crossTerm(a.num, b.den), tb = crossTerm(b.num, a.den);
  const int16_t ea = add(shl(a.shNum, 1), b.shDen), eb = add(shl(b.shNum, 1), a.shDen);
  if (eb > ea)
    ta = L_shr(ta, sub(eb, ea));
  else if (ea > eb)
    tb = L_shr(tb, sub(ea, eb));
  return L_sub(tb, ta) > 0;
}

// Normalised 16-bit word of a non-negative sum and its shift.
void normalise(int32_t acc, int16_t& word, int16_t& shift) {
  int16_t t = sub(16, norm_l(acc));
  if (t < 0) t = 0;
  word = extract_l(L_shr(acc, t));
  shift = t;
}

// in: the justified residual of the subframe with kHist + 1 samples of
// history (the oldest one is zero).  Returns the chosen lag (0: no
// filtering), its phase and the offset in yUp; r receives the gain ratio.
int search(int t0, const int16_t* in, int16_t* yUp, Ratio& r, int& phase, int& offset) {
  int32_t acc = macChain(in, in, kSubfr);
  if (acc == 0) return 0;
  int16_t shEner = sub(16, norm_l(acc));
  int16_t ener;
  if (shEner > 0) {
    ener = extract_l(L_shr(acc, shEner));
  } else {
    shEner = 0;
    ener = extract_l(acc);
  }
  int lambda = t0 - 1;
  int32_t numInt = -1;
  int best = 0;
  for (int i = 0; i < 3; ++i) {
    acc = macChain(in, in - lambda - i, kSubfr);
    if (acc < 0) acc = 0;
    if (L_sub(acc, numInt) > 0) {
      numInt = acc;
      best = i;
    }
  }
  if (numInt == 0) return 0;
  lambda += best;
  const int32_t denInt = macChain(in - lambda, in - lambda, kSubfr);
  if (denInt == 0) return 0;

  int32_t den0[kPhases - 1], den1[kPhases - 1];
  int32_t denMax = denInt;
  for (int phi = 1; phi < kPhases; ++phi) {
    int16_t* y = yUp + (phi - 1) * (kSubfr + 1);
    interpolate(voksc::g729::kPstInterpShort + (phi - 1) * kShortTaps, kShortTaps, in - (lambda - 1), y, kSubfr + 1);
    const int32_t common = macChain(y + 1, y + 1, kSubfr - 1);
    den0[phi - 1] = L_mac(common, y[0], y[0]);
    den1[phi - 1] = L_mac(common, y[kSubfr], y[kSubfr]);
    const int32_t d = abs_s(y[0]) > abs_s(y[kSubfr]) ? den0[phi - 1] : den1[phi - 1];
    if (L_sub(d, denMax) > 0) denMax = d;
  }
  if (denMax == 0) return 0;
  const int16_t shDen = sub(16, norm_l(denMax));
  if (shDen <= 0) return 0;
  const int16_t shNum = shDen >= shEner ? shDen : shEner;

  int16_t denBest = extract_l(L_shr(denInt, shDen));
  int16_t numBest = extract_l(L_shr(numInt, shNum));
  int16_t hiMax, loMax;
  L_Extract(L_mult(numBest, numBest), hiMax, loMax);
  int phiBest = 0, offBest = 1;
  for (int phi = 1; phi < kPhases; ++phi) {
    const int16_t* y = yUp + (phi - 1) * (kSubfr + 1);
    for (int off = 0; off < 2; ++off) {
      acc = L_shr(macChain(in, y + off, kSubfr), shNum);
      const int16_t num = acc < 0 ? 0 : extract_l(acc);
      int16_t hi, lo;
      L_Extract(L_mult(num, num), hi, lo);
      const int32_t cand = scaled(hi, lo, denBest);
      const int16_t den = extract_l(L_shr(off == 0 ? den0[phi - 1] : den1[phi - 1], shDen));
      if (L_sub(cand, scaled(hiMax, loMax, den)) > 0) {
        numBest = num;
        hiMax = hi;
        loMax = lo;
        denBest = den;
        offBest = off;
        phiBest = phi;
      }
    }
  }
  if (numBest == 0 || denBest <= 1) return 0;
  int32_t t1 = L_mult(denBest, ener);
  int32_t t0l = L_Comp(hiMax, loMax);
  const int16_t sh = add(sub(sub(shl(shNum, 1), shDen), shEner), 1);
  if (sh < 0)
    t0l = L_shr(t0l, negate(sh));
  else if (sh > 0)
    t1 = L_shr(t1, sh);
  if (L_sub(t0l, t1) < 0) return 0;
  r = {numBest, denBest, shNum, shDen};
  phase = phiBest;
  offset = offBest;
  return lambda + 1 - offBest;
}

// 1 / (1 + g b), b = num / den bounded by 1, g the harmonic factor.
int16_t harmonicGain(Ratio r, int16_t factor) {
  const int16_t t = sub(r.shNum, r.shDen);
  if (t >= 0)
    r.den = shr(r.den, t);
  else
    r.num = shl(r.num, t);
  int16_t num;
  if (r.num >= r.den) {
    if (factor == kGammaHarm) return kMinGain;
    num = shr(mult_r(r.den, factor), 1);
  } else {
    num = factor == kGammaHarm ? shr(r.num, 2) : shr(mult_r(r.num, factor), 1);
  }
  const int16_t den = shr(r.den, 1);
  return div_s(den, add(den, num));
}

void filterAt144(int16_t factor, const int16_t* res, int16_t* out, int16_t* voicing) {
  const int16_t* sig = res - kHist;
  int16_t bits = 0;
  for (int i = 0; i < kHist + kSubfr; ++i) bits = static_cast<int16_t>(bits | abs_s(sig[i]));
  const int16_t nbSh = sub(3, norm_s(bits));
  // The long filter at lag 146 reaches one sample past the kept history;
  // the reference reads outside its buffer there, we read zero.
  int16_t justified[1 + kHist + kSubfr];
  justified[0] = 0;
  for (int i = 0; i < kHist + kSubfr; ++i) justified[1 + i] = shr(sig[i], nbSh);
  const int16_t* in = justified + 1 + kHist;

  int16_t yUp[(kPhases - 1) * (kSubfr + 1)];
  Ratio r;
  int phase = 0, offset = 0;
  const int lag = search(144, in, yUp, r, phase, offset);
  *voicing = static_cast<int16_t>(lag);
  if (lag == 0) {
    std::memcpy(out, res, kSubfr * sizeof(int16_t));
    return;
  }
  const int16_t* past = res - lag;
  int16_t yLong[kSubfr];
  if (phase != 0) {
    interpolate(voksc::g729::kPstInterpLong + (phase - 1) * kLongTaps, kLongTaps, in + kLongTaps / 2 - lag, yLong,
                kSubfr);
    Ratio rl;
    int32_t acc = macChain(yLong, in, kSubfr);
    if (acc < 0) {
      rl.num = 0;
      rl.shNum = 0;
    } else {
      normalise(acc, rl.num, rl.shNum);
    }
    normalise(macChain(yLong, yLong, kSubfr), rl.den, rl.shDen);
    int16_t* y = yLong;
    if (secondBetter(r, rl))
      r = rl;
    else
      y = yUp + (phase - 1) * (kSubfr + 1) + offset;
    for (int i = 0; i < kSubfr; ++i) y[i] = shl(y[i], nbSh);
    past = y;
  }
  const int16_t gain = harmonicGain(r, factor);
  const int16_t g1 = add(sub(32767, gain), 1);
  for (int n = 0; n < kSubfr; ++n) out[n] = round_fx(L_mac(L_mult(gain, res[n]), g1, past[n]));
}

}  // namespace

VokResult longTermPostFilter(int16_t factor, int t0, int16_t* res, int16_t* out, int16_t* voicing) {
  if (t0 != kPitMax + 1) return VOKC_CALL(voksLongTermPostFilter_G729_16s, factor, t0, res, out, voicing);
  filterAt144(factor, res + kHist, out, voicing);
  std::memmove(res, res + kSubfr, kHist * sizeof(int16_t));
  return vokOk;
}

}  // namespace vokc::g729
