// Shared pieces of the G.729 Annex I coder (see g729i_common.h).
#include "g729i_common.h"

namespace vokc::g729i {

namespace {

// log2 interpolation table, Q15 (x = 1 + i / 32).
constexpr int16_t kLog2Table[33] = {0,     1455,  2866,  4236,  5568,  6863,  8124,  9352,  10549, 11716, 12855,
                                    13967, 15054, 16117, 17156, 18172, 19167, 20142, 21097, 22033, 22951, 23852,
                                    24735, 25603, 26455, 27291, 28113, 28922, 29716, 30497, 31266, 32023, 32767};

// Positions of the two 6.4 kbit/s pulses (Gray-coded indices).
constexpr int16_t kTrack64a[16] = {1, 3, 6, 8, 11, 13, 16, 18, 21, 23, 26, 28, 31, 33, 36, 38};
constexpr int16_t kTrack64b[32] = {0,  2,  4,  5,  7,  9,  10, 12, 14, 15, 17, 19, 20, 22, 24, 25,
                                   27, 29, 30, 32, 34, 35, 37, 39, 1,  6,  11, 16, 21, 26, 31, 36};
constexpr int16_t kGrayDecode[32] = {0,  1,  3,  2,  7,  6,  4,  5,  15, 14, 12, 13, 8,  9,  11, 10,
                                     31, 30, 28, 29, 24, 25, 27, 26, 16, 17, 19, 18, 23, 22, 20, 21};

// Log2 table of the energy test (x = 16..32 in steps of 1).
constexpr int16_t kLogEnergy[17] = {2466, 2520, 2571, 2619, 2665, 2708, 2749, 2789, 2827,
                                    2863, 2898, 2931, 2964, 2995, 3025, 3054, 3083};

// One to three pulses on a track of the 11.8 kbit/s code: 3 position bits
// and a sign bit for the first pulse, 3 position bits for each further one;
// a later pulse at a higher position takes the opposite sign.
void addPulses(int16_t index, int16_t track, int count, int16_t* code) {
  int16_t pos1 = static_cast<int16_t>((index & 7) * 5 + track);
  int16_t sign = ((index >> 3) & 1) == 0 ? 4096 : -4096;
  code[pos1] = sign;
  if (count < 2) return;
  int16_t pos2 = static_cast<int16_t>(((index >> 4) & 7) * 5 + track);
  if (pos2 > pos1) sign = negate(sign);
  code[pos2] = add(code[pos2], sign);
  if (count < 3) return;
  int16_t pos3 = static_cast<int16_t>(((index >> 7) & 7) * 5 + track);
  if (pos3 > pos2) sign = negate(sign);
  code[pos3] = add(code[pos3], sign);
}

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

void weightAz(const int16_t* a, int16_t gamma, int order, int16_t* ap) {
  ap[0] = a[0];
  int16_t fac = gamma;
  for (int i = 1; i < order; ++i) {
    ap[i] = round_fx(L_mult(a[i], fac));
    fac = round_fx(L_mult(fac, gamma));
  }
  ap[order] = round_fx(L_mult(a[order], fac));
}

int16_t pitchParity(int16_t index) {
  int16_t temp = shr(index, 1);
  int16_t sum = 1;
  for (int i = 0; i <= 5; ++i) {
    temp = shr(temp, 1);
    sum = add(sum, static_cast<int16_t>(temp & 1));
  }
  return static_cast<int16_t>(sum & 1);
}

void interpolateLpc(const int16_t* lspOld, const int16_t* lspNew, int16_t* aq) {
  int16_t lsp[kOrder];
  voksInterpolate_G729_16s(lspOld, lspNew, lsp, kOrder);
  voksLSPToLPC_G729_16s(lsp, aq);
  voksLSPToLPC_G729_16s(lspNew, aq + kMp1);
}

void decodeLag(int16_t index, int subframe, bool lowRate, int16_t& t0, int16_t& frac) {
  if (subframe == 0) {
    if (index < 197) {
      t0 = add(mult(add(index, 2), 10923), 19);
      frac = add(sub(index, static_cast<int16_t>(t0 * 3)), 58);
    } else {
      t0 = sub(index, 112);
      frac = 0;
    }
    return;
  }
  // Second subframe: relative to the first subframe's delay (in t0).
  int16_t tMin = sub(t0, 5);
  if (tMin < kPitMin) tMin = kPitMin;
  int16_t tMax = add(tMin, 9);
  if (tMax > kPitMax) {
    tMax = kPitMax;
    tMin = sub(tMax, 9);
  }
  if (lowRate) {
    // 4 bits: integer steps at the edges, thirds in the middle.
    static constexpr int16_t kThird[8] = {1, 2, 0, 1, 2, 0, 1, 2};
    index = static_cast<int16_t>(index & 15);
    if (index <= 3) {
      t0 = add(tMin, index);
      frac = 0;
    } else if (index < 12) {
      frac = kThird[index - 4];
      t0 = add(add(mult(sub(index, frac), 10923), tMin), 2);
      if (frac == 2) {
        frac = -1;
        t0 = add(t0, 1);
      }
    } else {
      t0 = add(tMin, sub(index, 6));
      frac = 0;
    }
    return;
  }
  const int16_t i = sub(mult(add(index, 2), 10923), 1);
  t0 = add(i, tMin);
  frac = sub(sub(index, 2), static_cast<int16_t>(i * 3));
}

void decodeCode80(int16_t sign, int16_t index, int16_t* code) {
  int pos[4];
  pos[0] = (index & 7) * 5;
  pos[1] = ((index >> 3) & 7) * 5 + 1;
  pos[2] = ((index >> 6) & 7) * 5 + 2;
  pos[3] = ((index >> 10) & 7) * 5 + 3 + ((index >> 9) & 1);
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  for (int j = 0; j < 4; ++j) code[pos[j]] = ((sign >> j) & 1) ? 8191 : -8192;
}

void decodeCode64(int16_t sign, int16_t index, int16_t* code) {
  int pos[2];
  pos[0] = kTrack64a[kGrayDecode[index & 15]];
  pos[1] = kTrack64b[kGrayDecode[(index >> 4) & 31]];
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  for (int j = 0; j < 2; ++j) {
    if ((sign >> j) & 1)
      code[pos[j]] = add(code[pos[j]], 8191);
    else
      code[pos[j]] = sub(code[pos[j]], 8192);
  }
}

void decodeCode118(const int16_t* index, bool backward, int16_t* code) {
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  if (!backward) {
    for (int j = 0; j < 5; ++j) addPulses(index[j], static_cast<int16_t>(j), 2, code);
    return;
  }
  int16_t track = static_cast<int16_t>((index[0] >> 10) & 7);
  if (track > 4) track = 4;
  for (int j = 0; j < 5; ++j) {
    addPulses(index[j], track, j < 2 ? 3 : 2, code);
    track = static_cast<int16_t>(track == 4 ? 0 : track + 1);
  }
}

int16_t energyDb(const int16_t* x, int len) {
  Word32 e = 1;
  for (int i = 0; i < len; ++i) e = L_mac(e, x[i], x[i]);
  e = L_shr(e, 1);
  int n = 0;
  while (e > 32) {
    e = L_shr(e, 1);
    ++n;
  }
  int16_t log = 617;  // log2(2) in the table's scale
  for (int j = 1; j < n; ++j) log = add(log, 617);
  const int16_t idx = sub(extract_l(e), 16);
  return idx >= 0 ? add(kLogEnergy[idx], log) : 1;
}

void Dominance::update(int16_t& dominant, int16_t lpMode) {
  if (lpMode == 0)
    ++countFwd;
  else
    ++countBwd;
  int16_t all = add(countBwd, countFwd);
  if (all == 100) {
    all = shr(all, 1);
    countBwd = shr(countBwd, 1);
    countFwd = shr(countFwd, 1);
  }
  dominant = 0;
  if (all >= 10 && countBwd > shl(countFwd, 2)) dominant = 1;
}

void BackwardLp::reset() {
  std::memset(hybrid, 0, sizeof hybrid);
  std::memset(oldA, 0, sizeof oldA);
  oldA[0] = 4096;
  oldRc[0] = oldRc[1] = 0;
}

void BackwardLp::analyse(const int16_t* x, int16_t* a, int16_t* rc) {
  int32_t r[kMp1Bwd];
  voksWinHybrid_G729E_16s32s(x, r, hybrid);
  // Lag window, then a common normalisation (each value offset by one).
  for (int i = 1; i <= kOrderBwd; ++i) {
    Word16 hi, lo;
    L_Extract(r[i], hi, lo);
    r[i] = mpy32(hi, lo, kLagBwdHi[i - 1], kLagBwdLo[i - 1]);
  }
  Word32 sum = L_add(r[0], 1);
  const Word16 norm = norm_l(sum);
  for (int i = 0; i <= kOrderBwd; ++i) r[i] = L_shl(L_add(r[i], 1), norm);
  int16_t rcAll[kOrderBwd];
  int16_t err = 0;
  if (voksLevinsonDurbin_G729_32s16s(r, kOrderBwd, a, rcAll, &err) == vokOk) {
    std::memcpy(oldA, a, sizeof oldA);
    oldRc[0] = rcAll[0];
    oldRc[1] = rcAll[1];
  } else {
    std::memcpy(a, oldA, sizeof oldA);
  }
  rc[0] = oldRc[0];
  rc[1] = oldRc[1];
}

void PitchTrack::track(int16_t& t0, int16_t& frac) {
  int16_t dist = sub(t0, prevPitch);
  bool up = true;
  if (dist < 0) {
    up = false;
    dist = negate(dist);
  }
  if (dist < 5) {
    if (++stat > 7) stat = 7;
    pitchSta = t0;
    fracSta = frac;
  } else {
    int16_t distMin = dist;
    const int16_t base = up ? prevPitch : t0, other = up ? t0 : prevPitch;
    int16_t multiple = add(base, base);
    for (int j = 2; j < 5; ++j) {
      dist = abs_s(sub(multiple, other));
      if (sub(dist, distMin) <= 0) distMin = dist;
      multiple = add(base, multiple);
    }
    if (distMin < 5) {
      if (stat > 0) {
        t0 = pitchSta;
        frac = fracSta;
      }
      if (--stat < 0) stat = 0;
    } else {
      stat = 0;
      pitchSta = t0;
      fracSta = frac;
    }
  }
  prevPitch = t0;
}

void unpackParams(const uint8_t* bits, const int* widths, int count, int16_t* prm) {
  int n = 0;
  for (int p = 0; p < count; ++p) {
    int v = 0;
    for (int b = 0; b < widths[p]; ++b) v = (v << 1) | (bits[n++] & 1);
    prm[p] = static_cast<int16_t>(v);
  }
}

void packParams(const int16_t* prm, const int* widths, int count, uint8_t* bits) {
  int n = 0;
  for (int p = 0; p < count; ++p)
    for (int b = widths[p] - 1; b >= 0; --b) bits[n++] = static_cast<uint8_t>((prm[p] >> b) & 1);
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
