// AMR-WB joint quantiser of the adaptive and fixed codebook gains: a
// predicted fixed-codebook gain from the MA-predicted energy, and the
// table entry of least weighted squared error (6-bit table, or a 64-entry
// window of the 7-bit table placed by the unquantised pitch gain).
#include <cstdint>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "excitation_internal.h"
#include "excitation_tables.h"
#include "voksc.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amrwb {
namespace {

constexpr int kWindow = 64;

bool isAmrWbCode(VokRateCode r) {
  switch (r) {
    case vokRateAmrWb660: case vokRateAmrWb885: case vokRateAmrWb1265: case vokRateAmrWb1425:
    case vokRateAmrWb1585: case vokRateAmrWb1825: case vokRateAmrWb1985: case vokRateAmrWb2305:
    case vokRateAmrWb2385: case vokRateSid:
      return true;
    default:
      return false;
  }
}

// The five terms of the error E(gp, gc) = c0 gp^2 + c1 gp + c2 gc^2 + c3 gc
// + c4 gp gc as mantissas with exponents.
struct Term {
  Word16 mant, exp;
};

// Predicted fixed gain 2^exp * mant (mant in 16384..32767): the mean
// energy of 30 dB less the fixed vector's energy per sample (in dB, from
// log2 times -3.0103 in Q13), plus the MA prediction of the past quantised
// energies, converted by 10^(x/20) = 2^(0.166096 x).
struct Predicted {
  Word16 mant, exp;
};
Predicted predictGain(const int16_t* code, int len, const int16_t* past) {
  const Normalised e = normalise(energyChain(1, code, len));
  Word16 whole, part;
  vokLog2(e.value, &whole, &part);
  // code Q9 (-18), per sample of 64 (-6), the normalised sum from Q31 (-31)
  whole = add(whole, sub(e.exp, 18 + 6 + 31));
  Word32 db = vokMpy32x16(whole, part, -24660);
  db = L_mac(db, 30, 8192);
  db = L_shl(db, 10);
  for (int i = 0; i < 4; ++i) db = L_mac(db, kEnergyPredictor[i], past[i]);
  const Split x = vokSplit(L_shr(L_mult(extract_h(db), 5443), 8));
  // exponent 14 puts 2^fraction in 16384..32767
  return {extract_l(vokPow2(14, x.lo)), sub(x.hi, 14)};
}

struct Choice {
  int index;
  Word16 pitch;
  Word32 code;
  Word16 energy;
};

Choice quantise(const int16_t* x, const int16_t* y, Word16 xExp, const int16_t* code, const int16_t* z,
                const int16_t* gc, const int16_t* past, Word16 pitchIn, int clip, int len, bool small) {
  // Candidate window.
  const int16_t* table = small ? kGainTable6 : kGainTable7;
  int first = 0, size = kWindow;
  if (small) {
    if (clip == 1) size -= 16;  // pitch gains up to about 1.0 only
  } else {
    const int span = clip == 1 ? 37 : 64;
    for (int i = 0; i < span; ++i)
      if (pitchIn > kGainTable7[2 * (32 + i)]) ++first;
  }
  // Error terms: <y,y> and -2<x,y> from the pitch-gain coefficients, the
  // others from the filtered fixed vector z (Q9).
  Term t[5];
  t[0] = {gc[0], gc[1]};
  t[1] = {negate(gc[2]), add(gc[3], 1)};
  Normalised d = normalise(energyChain(1, z, len));
  t[2] = {extract_h(d.value), add(sub(d.exp, 18), shl(xExp, 1))};
  d = normalise(crossChain(1, x, z, len));
  t[3] = {extract_h(L_negate(d.value)), add(sub(d.exp, 9 - 1), xExp)};
  d = normalise(crossChain(1, y, z, len));
  t[4] = {extract_h(d.value), add(sub(d.exp, 9 - 1), xExp)};

  const Predicted g0 = predictGain(code, len, past);
  // Scales of the products formed per entry (pitch Q14, code factor Q11
  // times g0, products halved by 2^15): each term's exponent after them.
  const Word16 codeExp = add(g0.exp, 4);
  Word16 e[5] = {sub(t[0].exp, 13), sub(t[1].exp, 14), add(t[2].exp, add(15, shl(codeExp, 1))),
                 add(t[3].exp, codeExp), add(t[4].exp, add(1, codeExp))};
  Word16 eMax = e[0];
  for (int i = 1; i < 5; ++i)
    if (e[i] > eMax) eMax = e[i];
  // Aligned on the largest, with two bits of headroom, as split values
  // whose low parts keep 12 bits.
  Word16 hi[5], lo[5];
  for (int i = 0; i < 5; ++i) {
    L_Extract(L_shr(L_deposit_h(t[i].mant), add(sub(eMax, e[i]), 2)), hi[i], lo[i]);
    lo[i] = shr(lo[i], 3);
  }
  Word32 best = kMax32;
  int pick = 0;
  for (int i = 0; i < size; ++i) {
    const Word16 gp = table[2 * (first + i)];
    const Word16 gcode = mult_r(table[2 * (first + i) + 1], g0.mant);
    const Word16 gp2 = mult_r(gp, gp), gpc = mult_r(gcode, gp);
    Word16 gc2, gc2lo;
    L_Extract(L_mult(gcode, gcode), gc2, gc2lo);
    Word32 s = L_shr(L_mult(hi[2], gc2lo), 3);
    s = L_mac(s, lo[0], gp2);
    s = L_mac(s, lo[1], gp);
    s = L_mac(s, lo[2], gc2);
    s = L_mac(s, lo[3], gcode);
    s = L_mac(s, lo[4], gpc);
    s = L_shr(s, 12);
    s = L_mac(s, hi[0], gp2);
    s = L_mac(s, hi[1], gp);
    s = L_mac(s, hi[2], gc2);
    s = L_mac(s, hi[3], gcode);
    s = L_mac(s, hi[4], gpc);
    if (s < best) {
      best = s;
      pick = i;
    }
  }
  const int index = first + pick;
  const Word16 factor = table[2 * index + 1];  // Q11
  // The quantised energy 20 log10(factor) = 6.0206 (log2(factor) - 11), Q10.
  Word16 whole, part;
  vokLog2(factor, &whole, &part);
  const Word16 energy = extract_l(L_shr(vokMpy32x16(sub(whole, 11), part, 24660), 3));
  return {index, table[2 * index], L_shl(L_mult(factor, g0.mant), add(g0.exp, 4)), energy};
}

}  // namespace
}  // namespace voksc::amrwb

using namespace voksc::amrwb;

VOKSC_EXPORT VokResult voksGainQuant_AMRWB_16s(const Vok16s* target, const Vok16s* filteredAdaptive, int targetExp,
                                               const Vok16s* fixedVector, const Vok16s* filteredFixed,
                                               const Vok16s* gainCoeffs, Vok16s* pastEnergies, Vok16s* pitchGain,
                                               Vok32s* codeGainOut, int clipFlag, Vok16s* indexOut, int len,
                                               VokRateCode rateCode) {
  if (anyNull(target, filteredAdaptive, fixedVector, filteredFixed, gainCoeffs, pastEnergies, pitchGain, codeGainOut,
              indexOut))
    return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (!isAmrWbCode(rateCode)) return vokErrRange;
  const bool small = rateCode == vokRateAmrWb660 || rateCode == vokRateAmrWb885 || rateCode == vokRateSid;
  const Choice c = quantise(target, filteredAdaptive, static_cast<Word16>(targetExp), fixedVector, filteredFixed,
                            gainCoeffs, pastEnergies, *pitchGain, clipFlag, len, small);
  for (int i = 3; i > 0; --i) pastEnergies[i] = pastEnergies[i - 1];
  pastEnergies[0] = c.energy;
  *pitchGain = c.pitch;
  *codeGainOut = c.code;
  *indexOut = static_cast<Vok16s>(c.index);
  return vokOk;
}
