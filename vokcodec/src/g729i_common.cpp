// Shared pieces of the G.729 Annex I coder (see g729i_common.h).
#include "g729i_common.h"

namespace vokc::g729i {

namespace {

// log2 interpolation table, Q15 (x = 1 + i / 32).
constexpr int16_t kLog2Table[33] = {0,     1455,  2866,  4236,  5568,  6863,  8124,  9352,  10549, 11716, 12855,
                                    13967, 15054, 16117, 17156, 18172, 19167, 20142, 21097, 22033, 22951, 23852,
                                    24735, 25603, 26455, 27291, 28113, 28922, 29716, 30497, 31266, 32023, 32767};

// Integer square root of a Q-doubled value by successive approximation.
int16_t sqrtBits(Word32 num) {
  int16_t rez = 0, bit = 0x4000;
  for (int i = 0; i < 14; ++i) {
    if (L_sub(num, L_mult(add(rez, bit), add(rez, bit))) >= 0) rez = add(rez, bit);
    bit = shr(bit, 1);
  }
  return rez;
}

}  // namespace

void log2Split(Word32 x, Word16& exponent, Word16& fraction) {
  if (x <= 0) {
    exponent = 0;
    fraction = 0;
    return;
  }
  const Word16 e = norm_l(x);
  x = L_shl(x, e);
  exponent = sub(30, e);
  x = L_shr(x, 9);
  const Word16 i = sub(extract_h(x), 32);
  x = L_shr(x, 1);
  const Word16 a = static_cast<Word16>(extract_l(x) & 0x7fff);
  Word32 y = L_deposit_h(kLog2Table[i]);
  y = L_msu(y, sub(kLog2Table[i], kLog2Table[i + 1]), a);
  fraction = extract_h(y);
}

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

int16_t sidGainIndex(const int16_t* ener, const int16_t* shEner, int count, int16_t& enerQ) {
  static constexpr int16_t kFact[3] = {410, 26, 13};
  static constexpr int16_t kMarg[3] = {0, 0, 1};
  Word32 x;
  int16_t sh1;
  Word16 hi, lo;
  if (count == 0) {
    L_Extract(L_shl(L_deposit_l(ener[0]), shEner[0]), hi, lo);
    x = mpy32x16(hi, lo, kFact[0]);
    sh1 = 0;
  } else {
    sh1 = shEner[0];
    for (int i = 1; i < count; ++i)
      if (shEner[i] < sh1) sh1 = shEner[i];
    sh1 = add(sh1, static_cast<int16_t>(16 - kMarg[count]));
    x = 0;
    for (int i = 0; i < count; ++i) x = L_add(x, L_shl(L_deposit_l(ener[i]), sub(sh1, shEner[i])));
    L_Extract(x, hi, lo);
    x = mpy32x16(hi, lo, kFact[count]);
  }
  // Quantisation in the log domain: 4 dB steps below 14 dB, 2 dB above.
  Word16 e, f;
  log2Split(x, e, f);
  int16_t v = add(shl(sub(e, sh1), 10), mult_r(f, 1024));
  if (sub(v, -2721) <= 0) {
    enerQ = -12;
    return 0;
  }
  if (sub(v, 22111) > 0) {
    enerQ = 66;
    return 31;
  }
  if (sub(v, 4762) <= 0) {
    v = add(v, 3401);
    int16_t index = mult(v, 24);
    if (index < 1) index = 1;
    enerQ = sub(shl(index, 2), 8);
    return index;
  }
  v = sub(v, 340);
  int16_t index = sub(shr(mult(v, 193), 2), 1);
  if (index < 6) index = 6;
  enerQ = add(shl(index, 1), 4);
  return index;
}

}  // namespace vokc::g729i
