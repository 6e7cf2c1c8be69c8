// G.729 gain quantisation and decoding: MA prediction of the code gain in
// the log domain, the two-stage conjugate codebook with preselection, and
// the decoder with its frame-erasure rule.
#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "filter_internal.h"
#include "gain_tables.h"

using namespace voksc::op;
using namespace voksc::g729;
using voksc::anyNull;

namespace {

constexpr int kSubfr = 40;

// Predicted code gain gcode0 (with its exponent) from the energy term of
// the code vector (the L_mac sum of its squares) and the memory.
void predictGain(const Word16* mem, Word32 energy, Word16& gcode0, Word16& expGcode0) {
  Word16 e, f;
  voksc::vokLog2(energy, &e, &f);
  Word32 t = voksc::vokMpy32x16(e, f, -24660);
  t = L_mac(t, 32588, 32);
  t = L_shl(t, 10);
  for (int i = 0; i < 4; ++i) t = L_mac(t, kGainMaPredictor[i], mem[i]);
  gcode0 = extract_h(t);
  t = L_shr(L_mult(gcode0, 5439), 8);
  L_Extract(t, e, f);
  gcode0 = extract_l(voksc::vokPow2(14, f));
  expGcode0 = sub(14, e);
}

void updateMemory(Word16* mem, Word32 gbk12) {
  for (int i = 3; i > 0; --i) mem[i] = mem[i - 1];
  Word16 e, f;
  voksc::vokLog2(gbk12, &e, &f);
  Word32 acc = L_Comp(sub(e, 13), f);
  mem[0] = mult(extract_h(L_shl(acc, 13)), 24660);
}

void ageMemory(Word16* mem) {
  Word32 t = 0;
  for (int i = 0; i < 4; ++i) t = L_add(t, L_deposit_l(mem[i]));
  Word16 av = sub(extract_l(L_shr(t, 2)), 4096);
  if (av < -14336) av = -14336;
  for (int i = 3; i > 0; --i) mem[i] = mem[i - 1];
  mem[0] = av;
}

Word32 codeEnergy(const Word16* code) {
  Word32 s = 0;
  for (int i = 0; i < kSubfr; ++i) s = L_mac(s, code[i], code[i]);
  return s;
}

// Correlations of the gain criterion involving the filtered code vector.
void correlationsXy2(const Word16* xn, const Word16* y1, const Word16* y2, Word16* g, Word16* eg) {
  Word16 s2[kSubfr];
  for (int i = 0; i < kSubfr; ++i) s2[i] = shr(y2[i], 3);
  Word32 acc = 1;
  for (int i = 0; i < kSubfr; ++i) acc = L_mac(acc, s2[i], s2[i]);
  Word16 e = norm_l(acc);
  g[2] = round_fx(L_shl(acc, e));
  eg[2] = add(e, 3);
  acc = 1;
  for (int i = 0; i < kSubfr; ++i) acc = L_mac(acc, xn[i], s2[i]);
  e = norm_l(acc);
  g[3] = negate(round_fx(L_shl(acc, e)));
  eg[3] = sub(add(e, -6), 1);
  acc = 1;
  for (int i = 0; i < kSubfr; ++i) acc = L_mac(acc, y1[i], s2[i]);
  e = norm_l(acc);
  g[4] = round_fx(L_shl(acc, e));
  eg[4] = sub(add(e, -6), 1);
}

void preselect(const Word16* best, Word16& cand1, Word16& cand2, Word16 gcode0) {
  Word32 cfbg = L_mult(kGainPreselCoef[0][0], best[0]);
  Word32 acc = L_add(cfbg, L_shr(kGainPreselCoef32[1][1], 15));
  Word16 h = extract_h(acc);
  Word32 preg = L_mult(h, gcode0);
  acc = L_sub(L_shl(L_deposit_l(best[1]), 7), preg);
  h = extract_h(L_shl(acc, 2));
  Word32 tx = L_mult(h, -17103);
  acc = L_sub(cfbg, L_shr(kGainPreselCoef32[0][1], 10));
  h = mult(extract_h(acc), gcode0);
  Word32 t = L_mult(h, kGainPreselCoef[1][0]);
  preg = L_mult(kGainPreselCoef[0][0], best[1]);
  acc = L_sub(t, L_shr(preg, 3));
  h = extract_h(L_shl(acc, 2));
  Word32 ty = L_mult(h, -17103);
  const Word16 sftY = 3, sftX = 5;
  cand1 = 0;
  cand2 = 0;
  if (gcode0 > 0) {
    while (cand1 < 4 && L_sub(ty, L_shr(L_mult(kGainThreshold1[cand1], gcode0), sftY)) > 0) ++cand1;
    while (cand2 < 8 && L_sub(tx, L_shr(L_mult(kGainThreshold2[cand2], gcode0), sftX)) > 0) ++cand2;
  } else {
    while (cand1 < 4 && L_sub(ty, L_shr(L_mult(kGainThreshold1[cand1], gcode0), sftY)) < 0) ++cand1;
    while (cand2 < 8 && L_sub(tx, L_shr(L_mult(kGainThreshold2[cand2], gcode0), sftX)) < 0) ++cand2;
  }
}

// The G.729 gain quantiser.  Returns the codebook rows; updates the memory.
void quantise(const Word16* code, const Word16* gc, const Word16* ec, Word16* mem, Word16& gainPit, Word16& gainCod,
              Word16& row1, Word16& row2, int tame) {
  Word16 gcode0, expGcode0;
  predictGain(mem, codeEnergy(code), gcode0, expGcode0);
  Word32 t1 = L_mult(gc[0], gc[2]);
  Word16 e1 = add(add(ec[0], ec[2]), 1 - 2);
  Word32 t2 = L_mult(gc[4], gc[4]);
  Word16 e2 = add(add(ec[4], ec[4]), 1);
  Word32 t;
  Word16 e;
  if (e1 > e2) {
    t = L_sub(L_shr(t1, sub(e1, e2)), t2);
    e = e2;
  } else {
    t = L_sub(t1, L_shr(t2, sub(e2, e1)));
    e = e1;
  }
  Word16 sft = norm_l(t);
  Word16 denom = extract_h(L_shl(t, sft));
  Word16 expDenom = sub(add(e, sft), 16);
  Word16 invDenom = negate(div_s(16384, denom));
  Word16 expInv = sub(14 + 15, expDenom);
  auto bestTerm = [&](Word32 a1, Word16 ea, Word32 a2, Word16 eb, int q) {
    Word32 tt;
    Word16 ee;
    if (ea > eb) {
      tt = L_sub(L_shr(a1, add(sub(ea, eb), 1)), L_shr(a2, 1));
      ee = sub(eb, 1);
    } else {
      tt = L_sub(L_shr(a1, 1), L_shr(a2, add(sub(eb, ea), 1)));
      ee = sub(ea, 1);
    }
    Word16 s = norm_l(tt);
    Word16 nume = extract_h(L_shl(tt, s));
    Word16 expNume = sub(add(ee, s), 16);
    Word16 sh = sub(add(expNume, expInv), static_cast<Word16>(q + 16 - 1));
    return extract_h(L_shr(L_mult(nume, invDenom), sh));
  };
  Word16 best[2];
  best[0] = bestTerm(L_mult(gc[2], gc[1]), add(ec[2], ec[1]), L_mult(gc[3], gc[4]), add(add(ec[3], ec[4]), 1), 9);
  if (tame == 1 && best[0] > 481) best[0] = 481;
  best[1] = bestTerm(L_mult(gc[0], gc[3]), add(ec[0], ec[3]), L_mult(gc[1], gc[4]), add(add(ec[1], ec[4]), 1), 2);
  Word16 gcode0Org;
  if (expGcode0 >= 4) {
    gcode0Org = shr(gcode0, sub(expGcode0, 4));
  } else {
    gcode0Org = extract_h(L_shl(L_deposit_l(gcode0), sub(4 + 16, expGcode0)));
  }
  Word16 cand1, cand2;
  preselect(best, cand1, cand2, gcode0Org);
  Word16 expMin[5] = {add(ec[0], 13), add(ec[1], 14), add(ec[2], sub(shl(expGcode0, 1), 21)),
                      add(ec[3], sub(expGcode0, 3)), add(ec[4], sub(expGcode0, 4))};
  Word16 eMin = expMin[0];
  for (int i = 1; i < 5; ++i)
    if (expMin[i] < eMin) eMin = expMin[i];
  Word16 ch[5], cl[5];
  for (int i = 0; i < 5; ++i) L_Extract(L_shr(L_deposit_h(gc[i]), sub(expMin[i], eMin)), ch[i], cl[i]);
  Word32 distMin = kMax32;
  Word16 i1 = cand1, i2 = cand2;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 8; ++j) {
      Word16 gp = add(kGainStage1[cand1 + i][0], kGainStage2[cand2 + j][0]);
      if (tame == 1 && gp >= 16383) continue;
      Word16 tmp = extract_l(L_shr(L_add(kGainStage1[cand1 + i][1], kGainStage2[cand2 + j][1]), 1));
      Word16 gcod = mult(gcode0, tmp);
      Word16 g2p = mult(gp, gp), g2c = mult(gcod, gcod), gpc = mult(gcod, gp);
      Word32 d = voksc::vokMpy32x16(ch[0], cl[0], g2p);
      d = L_add(d, voksc::vokMpy32x16(ch[1], cl[1], gp));
      d = L_add(d, voksc::vokMpy32x16(ch[2], cl[2], g2c));
      d = L_add(d, voksc::vokMpy32x16(ch[3], cl[3], gcod));
      d = L_add(d, voksc::vokMpy32x16(ch[4], cl[4], gpc));
      if (L_sub(d, distMin) < 0) {
        distMin = d;
        i1 = static_cast<Word16>(cand1 + i);
        i2 = static_cast<Word16>(cand2 + j);
      }
    }
  }
  gainPit = add(kGainStage1[i1][0], kGainStage2[i2][0]);
  Word32 gbk12 = L_add(kGainStage1[i1][1], kGainStage2[i2][1]);
  Word16 tmp = extract_l(L_shr(gbk12, 1));
  Word32 acc = L_shl(L_mult(tmp, gcode0), add(negate(expGcode0), -12 - 1 + 1 + 16));
  gainCod = extract_h(acc);
  updateMemory(mem, gbk12);
  row1 = i1;
  row2 = i2;
}

}  // namespace

VOKSC_EXPORT VokResult voksGainQuant_G729_16s(const Vok16s* x, const Vok16s* y, const Vok16s* code, const Vok16s* z,
                                              Vok16s* mem, Vok16s* gains, Vok16s* rows, int tame) {
  if (anyNull(x, y, code, z, mem, gains, rows)) return vokErrNullPtr;
  if (tame < 0 || tame > 1) return vokErrRange;
  Word16 pg[4];
  pitchGain(x, y, pg);
  Word16 gc[5], ec[5];
  gc[0] = pg[0];
  ec[0] = negate(pg[1]);
  gc[1] = negate(pg[2]);
  ec[1] = negate(add(pg[3], 1));
  correlationsXy2(x, y, z, gc, ec);
  Word16 gp, gcod, r1, r2;
  quantise(code, gc, ec, mem, gp, gcod, r1, r2, tame);
  gains[0] = gp;
  gains[1] = gcod;
  rows[0] = r1;
  rows[1] = r2;
  return vokOk;
}

// energy: the sum of squares of the 40 code samples (exact).
VOKSC_EXPORT VokResult voksDecodeGain_G729_16s(Vok32s energy, Vok16s* mem, const Vok16s* index, Vok16s* gains) {
  if (anyNull(mem, gains)) return vokErrNullPtr;
  if (!index) {
    Word16 gp = mult(gains[0], 29491);
    if (gp > 29491) gp = 29491;
    gains[0] = gp;
    gains[1] = mult(gains[1], 32111);
    ageMemory(mem);
    return vokOk;
  }
  Word16 i1 = kGainInvMap1[index[0] & 7];
  Word16 i2 = kGainInvMap2[index[1] & 15];
  Word16 gcode0, expGcode0;
  predictGain(mem, sat32(2 * int64_t{energy}), gcode0, expGcode0);
  Word32 gbk12 = L_add(kGainStage1[i1][1], kGainStage2[i2][1]);
  Word16 tmp = extract_l(L_shr(gbk12, 1));
  Word32 acc = L_shl(L_mult(tmp, gcode0), add(negate(expGcode0), -12 - 1 + 1 + 16));
  gains[0] = add(kGainStage1[i1][0], kGainStage2[i2][0]);
  gains[1] = extract_h(acc);
  updateMemory(mem, gbk12);
  return vokOk;
}
