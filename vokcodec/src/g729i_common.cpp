// Shared pieces of the G.729 Annex I coder (see g729i_common.h).
#include "g729i_common.h"

namespace vokc::g729i {

void comfortExcitation(int16_t curGain, int16_t* exc, int16_t& seed, int16_t* pitchGain, int16_t* pulseGain,
                       int16_t* delay) {
  if (curGain == 0) {
    std::memset(exc, 0, kFrame * sizeof(int16_t));
    for (int k = 0; k < 2; ++k) {
      pitchGain[k] = 0;
      pulseGain[k] = 0;
      delay[k] = kSubfr + 1;
    }
    return;
  }
  for (int sf = 0; sf < 2; ++sf) {
    int16_t* cur = exc + sf * kSubfr;
    // Random delay, fraction, pulse positions and signs.
    int16_t r = nextRandom(seed);
    int16_t frac = sub(static_cast<int16_t>(r & 3), 1);
    if (frac == 2) frac = 0;
    r = shr(r, 2);
    const int16_t t0 = add(static_cast<int16_t>(r & 63), 40);
    r = shr(r, 6);
    int16_t pos[4], sign[4];
    pos[0] = static_cast<int16_t>((r & 7) * 5);
    r = shr(r, 3);
    sign[0] = static_cast<int16_t>(r & 1);
    r = shr(r, 1);
    pos[1] = static_cast<int16_t>((r & 7) * 5 + 1);
    r = shr(r, 3);
    sign[1] = static_cast<int16_t>(r & 1);
    r = nextRandom(seed);
    pos[2] = static_cast<int16_t>((r & 7) * 5 + 2);
    r = shr(r, 3);
    sign[2] = static_cast<int16_t>(r & 1);
    r = shr(r, 1);
    const int16_t t = static_cast<int16_t>(r & 15);
    pos[3] = static_cast<int16_t>((t & 1) + 3 + ((t >> 1) & 7) * 5);
    r = shr(r, 4);
    sign[3] = static_cast<int16_t>(r & 1);
    int16_t gp = static_cast<int16_t>(nextRandom(seed) & 0x1FFF);  // below 0.5 in Q14
    const int16_t gp2 = shl(gp, 1);

    // Gaussian part scaled to 0.5 cur_gain sqrt(40 / energy).
    int16_t excg[kSubfr];
    voksRandomNoiseExcitation_G729B_16s(&seed, excg, kSubfr);
    Word32 acc = 0;
    for (int i = 0; i < kSubfr; ++i) acc = L_mac(acc, excg[i], excg[i]);
    acc = L_shr(acc, 1);
    voksInvSqrt_32s_I(&acc, 1);
    Word16 hi, lo;
    L_Extract(acc, hi, lo);
    const int16_t g1 = add(curGain, mult_r(curGain, 19043));
    acc = mpy32x16(hi, lo, g1);
    int16_t sh = norm_l(acc);
    const int16_t fact = extract_h(L_shl(acc, sh));
    sh = sub(sh, 14);
    for (int i = 0; i < kSubfr; ++i) excg[i] = shr_r(mult_r(excg[i], fact), sh);

    // Adaptive part plus noise.
    const int16_t d[2] = {t0, frac};
    voksDecodeAdaptiveVector_G729_16s_I(d, cur - kExcHist);
    int16_t mx = 0;
    for (int i = 0; i < kSubfr; ++i) {
      cur[i] = add(mult_r(cur[i], gp2), excg[i]);
      const int16_t m = abs_s(cur[i]);
      if (m > mx) mx = m;
    }
    sh = 0;
    if (mx != 0) {
      sh = sub(3, norm_s(mx));
      if (sh < 0) sh = 0;
    }
    int16_t excs[kSubfr];
    for (int i = 0; i < kSubfr; ++i) excs[i] = shr(cur[i], sh);
    Word32 ener = 0;
    for (int i = 0; i < kSubfr; ++i) ener = L_mac(ener, excs[i], excs[i]);
    int16_t inter = 0;
    for (int i = 0; i < 4; ++i) inter = sign[i] == 0 ? sub(inter, excs[pos[i]]) : add(inter, excs[pos[i]]);

    // Pulse gain g solving the energy target: g^2 + b g - c = 0.
    const int16_t k1 = extract_l(L_shr(L_mult(curGain, kSubfr), 6));
    const Word32 lk = L_mult(curGain, k1);
    acc = L_shr(lk, add(1, shl(sh, 1)));
    acc = L_sub(acc, ener);
    inter = shr(inter, 1);
    acc = L_mac(acc, inter, inter);
    sh = add(sh, 1);
    if (acc < 0) {
      // Noise only, with the pulses on it.
      std::memcpy(cur, excg, sizeof excg);
      const int16_t bitsUsed = static_cast<int16_t>(abs_s(excg[pos[0]]) | abs_s(excg[pos[1]]) |
                                                    abs_s(excg[pos[2]]) | abs_s(excg[pos[3]]));
      sh = (bitsUsed & 0x4000) == 0 ? 1 : 2;
      inter = 0;
      for (int i = 0; i < 4; ++i) {
        const int16_t v = shr(excg[pos[i]], sh);
        inter = sign[i] == 0 ? sub(inter, v) : add(inter, v);
      }
      L_Extract(lk, hi, lo);
      acc = mpy32x16(hi, lo, 24576);
      acc = L_shr(acc, sub(shl(sh, 1), 1));
      acc = L_mac(acc, inter, inter);
      gp = 0;
    }
    const int16_t root = sqrtBits(acc);
    int16_t x1 = sub(root, inter);
    const int16_t x2 = negate(add(inter, root));
    if (abs_s(x2) < abs_s(x1)) x1 = x2;
    int16_t g = shr_r(x1, sub(2, sh));
    if (g >= 0) {
      if (g > 5000) g = 5000;
    } else if (add(g, 5000) < 0) {
      g = -5000;
    }
    for (int i = 0; i < 4; ++i) cur[pos[i]] = sign[i] != 0 ? add(cur[pos[i]], g) : sub(cur[pos[i]], g);
    pitchGain[sf] = gp;
    pulseGain[sf] = g >= 0 ? g : static_cast<int16_t>(-g);
    delay[sf] = t0;
  }
}

}  // namespace vokc::g729i
