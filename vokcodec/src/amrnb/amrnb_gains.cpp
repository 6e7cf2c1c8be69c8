// GSM-AMR encoder gain quantisers (see amrnb_gains.h).  Every error
// measure is the weighted squared error of the reconstructed target,
// expanded into the five correlation terms
//   gp^2 <y1,y1> - 2 gp <x,y1> + gc^2 <y2,y2> - 2 gc <x,y2> + 2 gp gc <y1,y2>
// held as mantissas brought to one common exponent, so that the table
// searches compare 32-bit sums.
#include "amrnb/amrnb_gains.h"

#include <algorithm>
#include <cstdlib>

#include "amrnb/amrnb_tables.h"
#include "basic_op.h"
#include "log_pow2.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vokc::amrnb::enc {

using namespace voksc::op;

namespace {

constexpr int16_t kPredDb[4] = {5571, 4751, 2785, 1556};  // MA coefficients, Q13
constexpr int16_t kPredLog2[4] = {44, 37, 22, 12};        // the same for the log2 history
constexpr int32_t kMeanLog2 = 783741;                     // mean innovation energy of 12.2 kbit/s
constexpr int16_t kEnFloorDb = -14336, kEnFloorLog2 = -2381;  // reset history (-14 dB)
constexpr int16_t kGpClip = 15565;

// 32 x 16 and 32 x 32 products accumulated on split values.
int32_t mac32x16(int32_t acc, int16_t hi, int16_t lo, int16_t n) { return L_mac(L_mac(acc, hi, n), mult(lo, n), 1); }
int32_t mac32(int32_t acc, int16_t hi1, int16_t lo1, int16_t hi2, int16_t lo2) {
  acc = L_mac(acc, hi1, hi2);
  acc = L_mac(acc, mult(hi1, lo2), 1);
  return L_mac(acc, mult(lo1, hi2), 1);
}

// init + 2 sum a_i b_i through the saturating chain.  With 80 max|a| max|b|
// + |init| below 2^31 no partial sum of the chain can leave 32 bits (nor
// can a product saturate), so the plain sum is the same value.
// The largest magnitudes come from 16-bit maxima and minima (max |v| =
// max(max v, -min v)), which stay in 16-bit lanes.
int32_t dot(const int16_t* a, const int16_t* b, int32_t init) {
  int16_t hiA = 0, loA = 0, hiB = 0, loB = 0;
  for (int i = 0; i < 40; ++i) {
    hiA = std::max(hiA, a[i]);
    loA = std::min(loA, a[i]);
    hiB = std::max(hiB, b[i]);
    loB = std::min(loB, b[i]);
  }
  const int32_t topA = std::max(int32_t{hiA}, -int32_t{loA}), topB = std::max(int32_t{hiB}, -int32_t{loB});
  if (80 * int64_t{topA} * topB + std::abs(int64_t{init}) < (int64_t{1} << 31)) {
    int32_t s = 0;
    for (int i = 0; i < 40; ++i) s += int32_t{a[i]} * b[i];
    return init + 2 * s;
  }
  int32_t s = init;
  for (int i = 0; i < 40; ++i) s = L_mac(s, a[i], b[i]);
  return s;
}

// Normalised mantissa (high word) of s and its normalisation count.
int16_t mantissa(int32_t s, int16_t& norm) {
  norm = norm_l(s);
  return extract_h(L_shl(s, norm));
}

// Rescales mantissas frac[i] 2^exps[i] to the common exponent (largest + 1)
// and splits them for the 32 x 16 products.
void commonScale(const int16_t* frac, const int16_t* exps, int n, int16_t* hi, int16_t* lo) {
  int16_t top = exps[0];
  for (int i = 1; i < n; ++i)
    if (exps[i] > top) top = exps[i];
  top = add(top, 1);
  for (int i = 0; i < n; ++i) L_Extract(L_shr(L_deposit_h(frac[i]), sub(top, exps[i])), hi[i], lo[i]);
}

// Exponents of the five terms for a code-gain scale of gcode0 2^codeExp.
void termExponents(const int16_t* exp, int16_t codeExp, int16_t* e) {
  e[0] = sub(exp[0], 13);
  e[1] = sub(exp[1], 14);
  e[2] = add(exp[2], add(15, shl(codeExp, 1)));
  e[3] = add(exp[3], codeExp);
  e[4] = add(exp[4], add(1, codeExp));
}

// Energies of a code-gain table row: 20 log10 and log2 of the factor.
void rowEnergies(const int16_t* row, int16_t* enLog2, int16_t* en) {
  *enLog2 = row[1];
  *en = row[2];
}

// sqrt(x) as a mantissa with an even normalisation count *e (result
// = mantissa 2^(-e/2)); 0 for x <= 0.
int32_t sqrtSplit(int32_t x, int16_t* e) {
  if (x <= 0) {
    *e = 0;
    return 0;
  }
  const int16_t n = static_cast<int16_t>(norm_l(x) & 0xFFFE);
  *e = n;
  return tableAtNormed(kSqrtTable, L_shl(x, n), 16);
}

// Median of the five LTP coding gains, picked the way the codec ranks
// them (repeated largest-first selection; -32768 is never picked).
int16_t median5(const int16_t* v) {
  int16_t w[5], order[5];
  for (int i = 0; i < 5; ++i) w[i] = v[i];
  int pick = 0;
  for (int r = 0; r < 5; ++r) {
    int16_t best = -32767;
    for (int j = 0; j < 5; ++j)
      if (w[j] >= best) {
        best = w[j];
        pick = j;
      }
    w[pick] = -32768;
    order[r] = static_cast<int16_t>(pick);
  }
  return v[order[2]];
}

}  // namespace

void resetHistory(GainHistory& h) {
  for (int i = 0; i < 4; ++i) {
    h.en[i] = kEnFloorDb;
    h.enLog2[i] = kEnFloorLog2;
  }
}

void pushHistory(GainHistory& h, int16_t enLog2, int16_t en) {
  for (int i = 3; i > 0; --i) {
    h.en[i] = h.en[i - 1];
    h.enLog2[i] = h.enLog2[i - 1];
  }
  h.enLog2[0] = enLog2;
  h.en[0] = en;
}

Scaled predictCodeGain(const GainHistory& h, int mode, const int16_t* code, Scaled* codeEn) {
  const int32_t energy = dot(code, code, 0);
  int16_t e, f;
  Scaled g;
  if (mode == kMr122) {
    // log2 of the mean code energy against the mean plus the prediction.
    log2Split(L_mult(round_fx(energy), 26214), e, f);
    int32_t acc = kMeanLog2;
    for (int i = 0; i < 4; ++i) acc = L_mac(acc, h.enLog2[i], kPredLog2[i]);
    acc = L_shr(L_sub(acc, L_Comp(sub(e, 30), f)), 1);
    L_Extract(acc, g.exp, g.frac);
    return g;
  }
  int16_t norm;
  const int16_t m = mantissa(energy, norm);
  log2Split(energy, e, f);
  // mean energy (dB, per mode) minus 10 log10 of the code energy, Q14
  int32_t acc = mpy32x16(e, f, -24660);
  switch (mode) {
    case kMr795:
      codeEn->frac = m;
      codeEn->exp = sub(-11, norm);
      acc = L_mac(acc, 17062, 64);
      break;
    case kMr74: acc = L_mac(acc, 32588, 32); break;
    case kMr67: acc = L_mac(acc, 32268, 32); break;
    default: acc = L_mac(acc, 16678, 64); break;  // 10.2, 5.9, 5.15, 4.75
  }
  acc = L_shl(acc, 10);
  for (int i = 0; i < 4; ++i) acc = L_mac(acc, kPredDb[i], h.en[i]);
  const int16_t gDb = extract_h(acc);
  // dB to log2: 1 / (20 log10 2) (7.4 kbit/s keeps its slightly smaller constant)
  acc = L_shr(L_mult(gDb, mode == kMr74 ? 5439 : 5443), 8);
  L_Extract(acc, g.exp, g.frac);
  return g;
}

void filteredEnergies(int mode, const int16_t* xn, const int16_t* xn2, const int16_t* y1, const int16_t* y2,
                      const int16_t* gCoeff, int16_t* frac, int16_t* exp, Scaled* codeGain) {
  const bool exact = mode == kMr795 || mode == kMr475;  // the others start their sums at 1
  const int32_t init = exact ? 0 : 1;
  int16_t y[40];
  for (int i = 0; i < 40; ++i) y[i] = shr(y2[i], 3);
  frac[0] = gCoeff[0];
  exp[0] = gCoeff[1];
  frac[1] = negate(gCoeff[2]);
  exp[1] = add(gCoeff[3], 1);
  int16_t n;
  frac[2] = mantissa(dot(y, y, init), n);
  exp[2] = sub(15 - 18, n);
  frac[3] = negate(mantissa(dot(xn, y, init), n));
  exp[3] = sub(15 - 9 + 1, n);
  frac[4] = mantissa(dot(y1, y, init), n);
  exp[4] = sub(15 - 9 + 1, n);
  if (exact) {
    const int16_t m = mantissa(dot(xn2, y, init), n);
    if (m <= 0) {
      codeGain->frac = codeGain->exp = 0;
    } else {
      codeGain->frac = div_s(shr(m, 1), frac[2]);
      codeGain->exp = sub(sub(sub(15 - 9, n), exp[2]), 14);
    }
  }
}

Scaled targetEnergy(const int16_t* xn) {
  int16_t n;
  Scaled t;
  t.frac = mantissa(dot(xn, xn, 0), n);
  t.exp = sub(16, n);
  return t;
}

namespace {

// Nearest scalar pitch-gain level not above gpLimit (level 0 always
// allowed); first minimum wins.
int16_t nearestPitchLevel(int16_t gain, int16_t gpLimit) {
  int16_t best = abs_s(sub(gain, kPitchGains[0])), index = 0;
  for (int16_t i = 1; i < 16; ++i) {
    if (kPitchGains[i] > gpLimit) continue;
    const int16_t err = abs_s(sub(gain, kPitchGains[i]));
    if (err < best) {
      best = err;
      index = i;
    }
  }
  return index;
}

}  // namespace

int16_t quantPitchGain122(int16_t gpLimit, int16_t* gain) {
  const int16_t index = nearestPitchLevel(*gain, gpLimit);
  *gain = static_cast<int16_t>(kPitchGains[index] & 0xFFFC);
  return index;
}

int16_t quantCodeGain122(Scaled gcode0, int16_t* gain, int16_t* enLog2, int16_t* en) {
  const int16_t half = shr(*gain, 1);
  const int16_t g0 = shl(extract_l(pow2Join(gcode0.exp, gcode0.frac)), 4);
  int16_t best = 0, index = 0;
  for (int16_t i = 0; i < 32; ++i) {
    const int16_t err = abs_s(sub(half, mult(g0, kCodeGains[3 * i])));
    if (i == 0 || err < best) {
      best = err;
      index = i;
    }
  }
  const int16_t* row = kCodeGains + 3 * index;
  *gain = shl(mult(g0, row[0]), 1);
  rowEnergies(row, enLog2, en);
  return index;
}

int16_t optimalCodeGain(const int16_t* xn2, const int16_t* y2) {
  int16_t y[40];
  for (int i = 0; i < 40; ++i) y[i] = shr(y2[i], 1);
  int16_t nxy, nyy;
  int16_t xy = mantissa(dot(xn2, y, 1), nxy);
  if (xy <= 0) return 0;
  const int16_t yy = mantissa(dot(y, y, 0), nyy);
  xy = shr(xy, 1);
  const int16_t g = div_s(xy, yy);
  return shl(shr(g, sub(add(nxy, 5), nyy)), 1);
}

int16_t quantJoint(int mode, Scaled gcode0, const int16_t* frac, const int16_t* exp, int16_t gpLimit, int16_t* gainPit,
                   int16_t* gainCode, int16_t* enLog2, int16_t* en) {
  const bool high = mode == kMr102 || mode == kMr74 || mode == kMr67;
  const int16_t* table = high ? kJointGainsHigh : kJointGainsLow;
  const int rows = high ? 128 : 64;
  const int16_t g0 = extract_l(pow2Join(14, gcode0.frac));
  int16_t e[5], hi[5], lo[5];
  termExponents(exp, sub(gcode0.exp, 11), e);
  commonScale(frac, e, 5, hi, lo);
  int32_t best = 0x7FFFFFFF;
  int16_t index = 0;
  for (int16_t i = 0; i < rows; ++i) {
    const int16_t gp = table[4 * i];
    if (gp > gpLimit) continue;
    const int16_t gc = mult(table[4 * i + 1], g0);
    int32_t d = mpy32x16(hi[0], lo[0], mult(gp, gp));
    d = L_add(d, mpy32x16(hi[1], lo[1], gp));
    d = L_add(d, mpy32x16(hi[2], lo[2], mult(gc, gc)));
    d = L_add(d, mpy32x16(hi[3], lo[3], gc));
    d = L_add(d, mpy32x16(hi[4], lo[4], mult(gc, gp)));
    if (d < best) {
      best = d;
      index = i;
    }
  }
  const int16_t* row = table + 4 * index;
  *gainPit = row[0];
  *enLog2 = row[2];
  *en = row[3];
  *gainCode = extract_h(L_shr(L_mult(row[1], g0), sub(10, gcode0.exp)));
  return index;
}

// ---- 7.95 kbit/s -------------------------------------------------------------

namespace {

// Energies of the unfiltered signals: LP residual, adaptive vector, their
// correlation with the code, the LTP residual; and the LTP coding gain
// (Q13 of its log2 scaled to dB / 10 log10 2), 0 when undefined.
void unfilteredEnergies(const int16_t* res, const int16_t* exc, const int16_t* code, int16_t gainPit, int16_t* frac,
                        int16_t* exp, int16_t* ltpg) {
  int16_t n;
  int32_t s = dot(res, res, 0);
  if (s < 400) {
    frac[0] = 0;
    exp[0] = -15;
  } else {
    frac[0] = mantissa(s, n);
    exp[0] = sub(15, n);
  }
  frac[1] = mantissa(dot(exc, exc, 0), n);
  exp[1] = sub(15, n);
  frac[2] = mantissa(dot(exc, code, 0), n);
  exp[2] = sub(16 - 14, n);
  s = 0;
  for (int i = 0; i < 40; ++i) {
    const int16_t r = sub(res[i], round_fx(L_shl(L_mult(exc[i], gainPit), 1)));
    s = L_mac(s, r, r);
  }
  const int16_t ltpRes = mantissa(s, n);
  frac[3] = ltpRes;
  exp[3] = sub(15, n);
  if (ltpRes > 0 && frac[0] != 0) {
    const int16_t ratio = div_s(shr(frac[0], 1), ltpRes);
    const int32_t t = L_shr(L_deposit_h(ratio), add(sub(exp[3], exp[0]), 3));
    int16_t le, lf;
    log2Split(t, le, lf);
    *ltpg = round_fx(L_shl(L_Comp(sub(le, 27), lf), 13));
  } else {
    *ltpg = 0;
  }
}

// Adaptation factor of the energy-matching code-gain search: positive
// only for weakly predicted frames, and halved right after a frame without it.
int16_t adaptFactor(Adapt795 st, int16_t ltpg, int16_t gainCode) {
  int16_t level = ltpg <= 2721 ? 0 : (ltpg <= 5443 ? 1 : 2);
  if (shr_r(gainCode, 1) > *st.prevGain && gainCode > 200)
    *st.onset = 8;
  else if (*st.onset != 0)
    *st.onset = sub(*st.onset, 1);
  if (*st.onset != 0 && level < 2) level = add(level, 1);
  st.ltpg[0] = ltpg;
  int16_t filt = median5(st.ltpg);
  int16_t alpha = 0;
  if (level == 0) {
    if (filt > 5443)
      alpha = 0;
    else if (filt < 0)
      alpha = 16384;
    else
      alpha = sub(16384, mult(24660, shl(filt, 2)));
  }
  if (*st.prevAlpha == 0) alpha = shr(alpha, 1);
  *st.prevAlpha = alpha;
  *st.prevGain = gainCode;
  for (int i = 4; i > 0; --i) st.ltpg[i] = st.ltpg[i - 1];
  return alpha;
}

// Joint search of three pitch candidates against the 32 code gains.
void codeSearch3(Scaled gcode0, int16_t g0, const int16_t* cand, const int16_t* cind, const int16_t* frac,
                 const int16_t* exp, int16_t* gainPit, int16_t* pitIndex, int16_t* gainCode, int16_t* codeIndex,
                 int16_t* enLog2, int16_t* en) {
  int16_t e[5], hi[5], lo[5];
  termExponents(exp, sub(gcode0.exp, 10), e);
  commonScale(frac, e, 5, hi, lo);
  int32_t best = 0x7FFFFFFF;
  int16_t ci = 0, pi = 0;
  for (int16_t j = 0; j < 3; ++j) {
    const int16_t gp = cand[j];
    const int32_t pitchPart = mac32x16(mpy32x16(hi[0], lo[0], mult(gp, gp)), hi[1], lo[1], gp);
    for (int16_t i = 0; i < 32; ++i) {
      const int16_t gc = mult(kCodeGains[3 * i], g0);
      int16_t c2h, c2l, pch, pcl;
      L_Extract(L_mult(gc, gc), c2h, c2l);
      L_Extract(L_mult(gc, gp), pch, pcl);
      int32_t d = mac32(pitchPart, hi[2], lo[2], c2h, c2l);
      d = mac32x16(d, hi[3], lo[3], gc);
      d = mac32(d, hi[4], lo[4], pch, pcl);
      if (d < best) {
        best = d;
        ci = i;
        pi = j;
      }
    }
  }
  const int16_t* row = kCodeGains + 3 * ci;
  rowEnergies(row, enLog2, en);
  *gainCode = extract_h(L_shr(L_mult(row[0], g0), sub(9, gcode0.exp)));
  *codeIndex = ci;
  *gainPit = cand[pi];
  *pitIndex = cind[pi];
}

// Code gain re-chosen to match the energy of the LP residual (weight
// alpha) against the waveform match (1 - alpha), among the gains below the
// first choice.
int16_t energyMatchedCode(int16_t gainPit, Scaled gcode0, int16_t g0, const int16_t* fracEn, const int16_t* expEn,
                          int16_t alpha, int16_t gainUnq, int16_t* gainCode, int16_t* enLog2, int16_t* en) {
  const int16_t limit = shl(*gainCode, sub(10, gcode0.exp));
  const int16_t g2p = mult(gainPit, gainPit);
  const int16_t beta = add(sub(32767, alpha), 1);
  int16_t coeff[5], lo[5], ce[5];
  int32_t t1 = L_mult(extract_h(L_shl(L_mult(alpha, fracEn[1]), 1)), g2p);
  ce[1] = sub(expEn[1], 15);
  coeff[2] = mult(extract_h(L_shl(L_mult(alpha, fracEn[2]), 1)), gainPit);
  ce[2] = add(expEn[2], sub(gcode0.exp, 10));
  coeff[3] = extract_h(L_shl(L_mult(alpha, fracEn[3]), 1));
  ce[3] = add(expEn[3], sub(shl(gcode0.exp, 1), 7));
  coeff[4] = mult(beta, fracEn[3]);
  ce[4] = add(ce[3], 1);
  int16_t se;
  int32_t t0 = sqrtSplit(L_mult(alpha, fracEn[0]), &se);
  ce[0] = sub(expEn[0], add(se, 47));
  int16_t top = add(ce[0], 31);
  for (int i = 1; i <= 4; ++i)
    if (ce[i] > top) top = ce[i];
  t1 = L_shr(t1, sub(top, ce[1]));
  for (int i = 2; i <= 4; ++i) L_Extract(L_shr(L_deposit_h(coeff[i]), sub(top, ce[i])), coeff[i], lo[i]);
  const int16_t d0 = sub(sub(top, 31), ce[0]);
  t0 = L_shr(t0, shr(d0, 1));
  if (d0 & 1) {
    L_Extract(t0, coeff[0], lo[0]);
    t0 = mpy32x16(coeff[0], lo[0], 23170);  // 1/sqrt(2)
  }
  int32_t best = 0x7FFFFFFF;
  int16_t index = 0;
  for (int16_t i = 0; i < 32; ++i) {
    const int16_t gc = mult(kCodeGains[3 * i], g0);
    if (gc >= limit) break;
    int16_t c2h, c2l, d2h, d2l;
    L_Extract(L_mult(gc, gc), c2h, c2l);
    const int16_t diff = sub(gc, gainUnq);
    L_Extract(L_mult(diff, diff), d2h, d2l);
    int32_t v = mac32x16(t1, coeff[2], lo[2], gc);
    v = mac32(v, coeff[3], lo[3], c2h, c2l);
    int16_t ve;
    v = sqrtSplit(v, &ve);
    v = L_shr(v, shr(ve, 1));
    const int16_t gap = round_fx(L_sub(v, t0));
    int32_t d = L_mult(gap, gap);
    d = mac32(d, coeff[4], lo[4], d2h, d2l);
    if (d < best) {
      best = d;
      index = i;
    }
  }
  const int16_t* row = kCodeGains + 3 * index;
  rowEnergies(row, enLog2, en);
  *gainCode = extract_h(L_shr(L_mult(row[0], g0), sub(9, gcode0.exp)));
  return index;
}

}  // namespace

void quant795(Adapt795 st, const int16_t* res, const int16_t* exc, const int16_t* code, const int16_t* frac,
              const int16_t* exp, Scaled codeEn, Scaled gcode0, Scaled codeGain, int16_t gpLimit, int16_t* gainPit,
              int16_t* gainCode, int16_t* enLog2, int16_t* en, int16_t* pitIndex, int16_t* codeIndex) {
  // Three consecutive pitch levels around the nearest allowed one.
  const int16_t nearest = nearestPitchLevel(*gainPit, gpLimit);
  int16_t first = nearest;
  if (nearest != 0) first = (nearest == 15 || kPitchGains[nearest + 1] > gpLimit) ? sub(nearest, 2) : sub(nearest, 1);
  int16_t cand[3], cind[3];
  for (int i = 0; i < 3; ++i) {
    cind[i] = static_cast<int16_t>(first + i);
    cand[i] = kPitchGains[first + i];
  }
  *gainPit = kPitchGains[nearest];
  const int16_t g0 = extract_l(pow2Join(14, gcode0.frac));
  codeSearch3(gcode0, g0, cand, cind, frac, exp, gainPit, pitIndex, gainCode, codeIndex, enLog2, en);
  int16_t fracEn[4], expEn[4], ltpg;
  unfilteredEnergies(res, exc, code, *gainPit, fracEn, expEn, &ltpg);
  const int16_t alpha = adaptFactor(st, ltpg, *gainCode);
  if (fracEn[0] != 0 && alpha > 0) {
    fracEn[3] = codeEn.frac;
    expEn[3] = codeEn.exp;
    const int16_t unq = shl(codeGain.frac, add(sub(codeGain.exp, gcode0.exp), 10));
    *codeIndex = energyMatchedCode(*gainPit, gcode0, g0, fracEn, expEn, alpha, unq, gainCode, enLog2, en);
  }
}

// ---- 4.75 kbit/s -------------------------------------------------------------

void provisionalUpdate475(GainHistory& h, Scaled gcode0, Scaled codeGain) {
  // (the codec's floor puts -5443 into the dB history and -32768 into the log2 one)
  constexpr int16_t kMinDb = -5443, kMinLog2 = -32768, kMaxLog2 = 18284, kMaxDb = 3037;
  int16_t qLog2 = kMinLog2, qDb = kMinDb;
  if (codeGain.frac > 0) {
    const int16_t g0 = extract_l(pow2Join(14, gcode0.frac));
    int16_t cf = codeGain.frac, ce = codeGain.exp;
    if (cf >= g0) {
      cf = shr(cf, 1);
      ce = add(ce, 1);
    }
    const int16_t ratio = div_s(cf, g0);
    const int16_t shift = sub(sub(ce, gcode0.exp), 1);
    int16_t e, f;
    log2Split(L_deposit_l(ratio), e, f);
    e = add(e, shift);
    qLog2 = add(shr_r(f, 5), shl(e, 10));
    if (qLog2 > kMaxLog2) {
      qLog2 = kMaxLog2;
      qDb = kMaxDb;
    } else {
      qDb = round_fx(L_shl(mpy32x16(e, f, 24660), 13));
    }
  }
  pushHistory(h, qLog2, qDb);
}

namespace {

// Gains of one half of a 4.75 kbit/s row; the history learns the code factor.
void take475(GainHistory& h, const int16_t* pair, int16_t g0, int16_t gExp, int16_t* gp, int16_t* gc) {
  *gp = pair[0];
  const int16_t factor = pair[1];
  *gc = extract_h(L_shr(L_mult(factor, g0), sub(10, gExp)));
  int16_t e, f;
  log2Split(L_deposit_l(factor), e, f);
  e = sub(e, 12);
  const int16_t qLog2 = add(shr_r(f, 5), shl(e, 10));
  const int16_t qDb = round_fx(L_shl(mpy32x16(e, f, 24660), 13));
  pushHistory(h, qLog2, qDb);
}

}  // namespace

namespace {
int16_t search475Chain(const int16_t* hi, const int16_t* lo, int16_t g00, int16_t g01, int16_t gpLimit);
}  // namespace

int16_t quant475(GainHistory& h, const Subframe475& sf0, const Subframe475& sf1, const int16_t* code1,
                 int16_t gpLimit, int16_t* gp0, int16_t* gc0, int16_t* gp1, int16_t* gc1) {
  const int16_t g00 = extract_l(pow2Join(14, sf0.gcode0.frac));
  const int16_t g01 = extract_l(pow2Join(14, sf1.gcode0.frac));
  int16_t e[10], hi[10], lo[10], frac[10];
  termExponents(sf0.coeffExp, sub(sf0.gcode0.exp, 11), e);
  termExponents(sf1.coeffExp, sub(sf1.gcode0.exp, 11), e + 5);
  for (int i = 0; i < 5; ++i) {
    frac[i] = sf0.coeffFrac[i];
    frac[5 + i] = sf1.coeffFrac[i];
  }
  // Weight the louder subframe's error more when the target energies differ a lot.
  int16_t t0 = sf0.target.frac, t1 = sf1.target.frac;
  const int16_t de = static_cast<int16_t>(sf0.target.exp - sf1.target.exp);
  if (de > 0)
    t1 = shr(t1, de);
  else
    t0 = shl(t0, de);
  int16_t bias = 0;
  if (shr_r(t1, 1) > t0)
    bias = 1;
  else if (shr(add(t0, 3), 2) > t1)
    bias = -1;
  for (int i = 0; i < 5; ++i) e[i] = add(e[i], bias);
  commonScale(frac, e, 10, hi, lo);
  int16_t index = search475Plain(hi, lo, g00, g01, gpLimit);
  if (index < 0) index = search475Chain(hi, lo, g00, g01, gpLimit);
  const int16_t* row = kJointGains475 + 4 * index;
  take475(h, row, g00, sf0.gcode0.exp, gp0, gc0);
  // The second subframe's prediction after the first one's update.
  const Scaled g1 = predictCodeGain(h, kMr475, code1, nullptr);
  take475(h, row + 2, extract_l(pow2Join(14, g1.frac)), g1.exp, gp1, gc1);
  return index;
}

namespace {

// The table by column (pitch gain, code factor, squared pitch gain per
// half, and the larger pitch gain of the row), so that every row's error
// is formed in one branch-free pass over 16-bit columns; the least
// admissible error is then picked in row order.  Every gain and product
// term stays below 2^15 in magnitude (the table's gains are positive and
// below 2^15, and so are g00 and g01).
struct Columns475 {
  int16_t pitch[2][256], factor[2][256], pitchSq[2][256], pitchTop[256];
};
const Columns475& columns475() {
  static const Columns475 kCol = [] {
    Columns475 c{};
    for (int i = 0; i < 256; ++i) {
      const int16_t* row = kJointGains475 + 4 * i;
      for (int s = 0; s < 2; ++s) {
        c.pitch[s][i] = row[2 * s];
        c.factor[s][i] = row[2 * s + 1];
        c.pitchSq[s][i] = static_cast<int16_t>((int32_t{row[2 * s]} * row[2 * s]) >> 15);
      }
      c.pitchTop[i] = std::max(row[0], row[2]);
    }
    return c;
  }();
  return kCol;
}

int16_t rows475Portable(const Columns475& col, const int16_t* hi, const int16_t* lo, int16_t g00, int16_t g01,
                        int16_t gpLimit) {
  int32_t err[256];
  for (int i = 0; i < 256; ++i) {
    int32_t d = 0;
    for (int s = 0; s < 2; ++s) {
      const int16_t* hs = hi + 5 * s;
      const int16_t* ls = lo + 5 * s;
      const int16_t gp = col.pitch[s][i];
      const int16_t gc = static_cast<int16_t>((int32_t{col.factor[s][i]} * (s ? g01 : g00)) >> 15);
      const int16_t n[5] = {col.pitchSq[s][i], gp, static_cast<int16_t>((int32_t{gc} * gc) >> 15), gc,
                            static_cast<int16_t>((int32_t{gc} * gp) >> 15)};
      for (int k = 0; k < 5; ++k) d += 2 * (int32_t{hs[k]} * n[k]) + 2 * ((int32_t{ls[k]} * n[k]) >> 15);
    }
    err[i] = d;
  }
  int32_t best = 0x7FFFFFFF;
  int16_t index = 0;
  for (int16_t i = 0; i < 256; ++i)
    if (col.pitchTop[i] <= gpLimit && err[i] < best) {
      best = err[i];
      index = i;
    }
  return index;
}

#ifdef __SSE2__
// (a b) >> 15 in 16-bit lanes, wrapped as the portable form's cast wraps
// it: a b = 2^16 high + low (low unsigned), so (a b) >> 15 = 2 high +
// (low >> 15).
inline __m128i mult15(__m128i a, __m128i b) {
  return _mm_or_si128(_mm_slli_epi16(_mm_mulhi_epi16(a, b), 1), _mm_srli_epi16(_mm_mullo_epi16(a, b), 15));
}

// The same rows eight at a time: each term hi n + ((lo n) >> 15) is one
// multiply-add of the pairs (n, (lo n) >> 15) and (hi, 1), exact in 32
// bits, and the row's sum is doubled at the end (the bound holds for the
// doubled sum).  Rows above the pitch limit get the largest error; the
// first row of the least error below it wins as in the row-order scan.
int16_t rows475Sse2(const Columns475& col, const int16_t* hi, const int16_t* lo, int16_t g00, int16_t g01,
                    int16_t gpLimit) {
  alignas(16) int32_t err[256];
  __m128i hiOne[10], loW[10];
  for (int k = 0; k < 10; ++k) {
    hiOne[k] = _mm_set1_epi32(static_cast<int32_t>(0x10000u | static_cast<uint16_t>(hi[k])));
    loW[k] = _mm_set1_epi16(lo[k]);
  }
  const __m128i limit = _mm_set1_epi16(gpLimit), top = _mm_set1_epi32(0x7FFFFFFF);
  __m128i least = top;
  for (int i = 0; i < 256; i += 8) {
    __m128i sumLo = _mm_setzero_si128(), sumHi = _mm_setzero_si128();
    for (int s = 0; s < 2; ++s) {
      const __m128i gp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(col.pitch[s] + i));
      const __m128i gc = mult15(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col.factor[s] + i)),
                                _mm_set1_epi16(s ? g01 : g00));
      const __m128i n[5] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(col.pitchSq[s] + i)), gp,
                            mult15(gc, gc), gc, mult15(gc, gp)};
      for (int k = 0; k < 5; ++k) {
        const __m128i m = mult15(loW[5 * s + k], n[k]);
        sumLo = _mm_add_epi32(sumLo, _mm_madd_epi16(_mm_unpacklo_epi16(n[k], m), hiOne[5 * s + k]));
        sumHi = _mm_add_epi32(sumHi, _mm_madd_epi16(_mm_unpackhi_epi16(n[k], m), hiOne[5 * s + k]));
      }
    }
    const __m128i over = _mm_cmpgt_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col.pitchTop + i)), limit);
    const __m128i overLo = _mm_unpacklo_epi16(over, over), overHi = _mm_unpackhi_epi16(over, over);
    const __m128i eLo = _mm_or_si128(_mm_andnot_si128(overLo, _mm_add_epi32(sumLo, sumLo)), _mm_and_si128(overLo, top));
    const __m128i eHi = _mm_or_si128(_mm_andnot_si128(overHi, _mm_add_epi32(sumHi, sumHi)), _mm_and_si128(overHi, top));
    _mm_store_si128(reinterpret_cast<__m128i*>(err + i), eLo);
    _mm_store_si128(reinterpret_cast<__m128i*>(err + i + 4), eHi);
    for (const __m128i e : {eLo, eHi}) {
      const __m128i lt = _mm_cmplt_epi32(e, least);
      least = _mm_or_si128(_mm_and_si128(lt, e), _mm_andnot_si128(lt, least));
    }
  }
  alignas(16) int32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), least);
  const int32_t m = std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
  if (m == 0x7FFFFFFF) return 0;  // no admissible row beats the start value
  const __m128i mv = _mm_set1_epi32(m);
  for (int i = 0; i < 256; i += 4) {
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(err + i)), mv)) == 0) continue;
    int j = i;
    while (err[j] != m) ++j;
    return static_cast<int16_t>(j);
  }
  return 0;
}
#endif

}  // namespace

// The joint search's error of a row is ten terms mac32x16(d, hi_k, lo_k,
// n_k), each adding 2 hi_k n_k and then 2 mult(lo_k, n_k) (lo_k >= 0) to
// the saturating sum.  Every partial sum is at most sum_k (2 |hi_k| N_k +
// 2 (lo_k N_k >> 15) + 2) with N_k bounding |n_k| over the table (the
// products of the rows' largest gains, plus one for the flooring of mult).
// Below 2^31 no row's chain saturates and plain 32-bit sums give the same
// errors; the index of the least error is returned, or -1 when the bound
// fails (a few frames in a hundred on speech).
int16_t search475Plain(const int16_t* hi, const int16_t* lo, int16_t g00, int16_t g01, int16_t gpLimit, bool lanes) {
  struct Peaks {
    int32_t pitch[2], code[2];
  };
  static const Peaks kPeaks = [] {
    Peaks pk{{0, 0}, {0, 0}};
    for (int i = 0; i < 256; ++i)
      for (int s = 0; s < 2; ++s) {
        const int16_t* row = kJointGains475 + 4 * i + 2 * s;
        pk.pitch[s] = std::max(pk.pitch[s], std::abs(int32_t{row[0]}));
        pk.code[s] = std::max(pk.code[s], std::abs(int32_t{row[1]}));
      }
    return pk;
  }();
  int64_t bound = 0;
  for (int s = 0; s < 2; ++s) {
    const int64_t g = s ? g01 : g00;
    const int64_t p = kPeaks.pitch[s], c = ((kPeaks.code[s] * (g < 0 ? -g : g)) >> 15) + 1;
    const int64_t n[5] = {((p * p) >> 15) + 1, p, ((c * c) >> 15) + 1, c, ((c * p) >> 15) + 1};
    for (int k = 0; k < 5; ++k) {
      const int64_t h = hi[5 * s + k] < 0 ? -int64_t{hi[5 * s + k]} : hi[5 * s + k];
      bound += 2 * h * n[k] + 2 * ((int64_t{lo[5 * s + k]} * n[k]) >> 15) + 2;
    }
  }
  if (bound >= (int64_t{1} << 31)) return -1;
  const Columns475& col = columns475();
#ifdef __SSE2__
  if (lanes) return rows475Sse2(col, hi, lo, g00, g01, gpLimit);
#else
  (void)lanes;
#endif
  return rows475Portable(col, hi, lo, g00, g01, gpLimit);
}

namespace {

int16_t search475Chain(const int16_t* hi, const int16_t* lo, int16_t g00, int16_t g01, int16_t gpLimit) {
  int32_t best = 0x7FFFFFFF;
  int16_t index = 0;
  for (int16_t i = 0; i < 256; ++i) {
    const int16_t* row = kJointGains475 + 4 * i;
    int16_t gp = row[0], gc = mult(row[1], g00);
    int32_t d = mpy32x16(hi[0], lo[0], mult(gp, gp));
    d = mac32x16(d, hi[1], lo[1], gp);
    d = mac32x16(d, hi[2], lo[2], mult(gc, gc));
    d = mac32x16(d, hi[3], lo[3], gc);
    d = mac32x16(d, hi[4], lo[4], mult(gc, gp));
    if (row[0] > gpLimit || row[2] > gpLimit) continue;
    gp = row[2];
    gc = mult(row[3], g01);
    d = mac32x16(d, hi[5], lo[5], mult(gp, gp));
    d = mac32x16(d, hi[6], lo[6], gp);
    d = mac32x16(d, hi[7], lo[7], mult(gc, gc));
    d = mac32x16(d, hi[8], lo[8], gc);
    d = mac32x16(d, hi[9], lo[9], mult(gc, gp));
    if (d < best) {
      best = d;
      index = i;
    }
  }
  return index;
}

}  // namespace

}  // namespace vokc::amrnb::enc
