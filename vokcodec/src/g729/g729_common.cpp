// Shared fixed-point glue of the G.729-family coders (see g729_common.h).
#include "g729_common.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "g729_tables.h"
#include "g729e_tables.h"
#include "checked_call.h"
#include "log_pow2.h"
#include "src/g729/gain_tables.h"

namespace vokc::g729 {

namespace {

// Positions of the two 6.4 kbit/s pulses (Gray-coded indices).
constexpr int16_t kTrack64a[16] = {1, 3, 6, 8, 11, 13, 16, 18, 21, 23, 26, 28, 31, 33, 36, 38};
constexpr int16_t kTrack64b[32] = {0,  2,  4,  5,  7,  9,  10, 12, 14, 15, 17, 19, 20, 22, 24, 25,
                                   27, 29, 30, 32, 34, 35, 37, 39, 1,  6,  11, 16, 21, 26, 31, 36};
constexpr int16_t kGrayDecode[32] = {0,  1,  3,  2,  7,  6,  4,  5,  15, 14, 12, 13, 8,  9,  11, 10,
                                     31, 30, 28, 29, 24, 25, 27, 26, 16, 17, 19, 18, 23, 22, 20, 21};

// 6.4 kbit/s gain codebook rows -> transmitted 3-bit indices.
constexpr int16_t kGainMap64a[8] = {0, 4, 6, 5, 2, 1, 7, 3};
constexpr int16_t kGainMap64b[8] = {0, 4, 3, 7, 5, 1, 6, 2};

// Pulse positions of an 8 kbit/s code word.
void pulses80(int16_t index, int* pos) {
  pos[0] = (index & 7) * 5;
  pos[1] = ((index >> 3) & 7) * 5 + 1;
  pos[2] = ((index >> 6) & 7) * 5 + 2;
  pos[3] = ((index >> 10) & 7) * 5 + 3 + ((index >> 9) & 1);
}

// One to three pulses on a track of the 11.8 kbit/s code: 3 position bits
// and a sign bit for the first pulse, 3 position bits for each further one;
// a later pulse at a higher position takes the opposite sign.
void addPulses(int16_t index, int16_t track, int count, int16_t* code) {
  const int16_t pos1 = static_cast<int16_t>((index & 7) * 5 + track);
  int16_t sign = ((index >> 3) & 1) == 0 ? 4096 : -4096;
  code[pos1] = sign;
  if (count < 2) return;
  const int16_t pos2 = static_cast<int16_t>(((index >> 4) & 7) * 5 + track);
  if (pos2 > pos1) sign = negate(sign);
  code[pos2] = add(code[pos2], sign);
  if (count < 3) return;
  const int16_t pos3 = static_cast<int16_t>(((index >> 7) & 7) * 5 + track);
  if (pos3 > pos2) sign = negate(sign);
  code[pos3] = add(code[pos3], sign);
}

// Log-area ratio of a reflection coefficient (Q15 in), piecewise linear.
int16_t logAreaRatio(int16_t rc) {
  int16_t cur = shr(abs_s(rc), 4);
  if (cur > 1299) {
    int16_t slope;
    int32_t offset;
    if (cur <= 1815) {
      slope = 4567;
      offset = 3271557;
    } else if (cur <= 1944) {
      slope = 11776;
      offset = 16357786;
    } else {
      slope = 27443;
      offset = 46808433;
    }
    cur = extract_l(L_shr(L_sub(L_mult(shr(cur, 1), slope), offset), 11));
  }
  return rc < 0 ? sub(0, cur) : cur;
}

int32_t errStep(int32_t e, int16_t gainPit) { return L_add(0x4000, L_shl(mpy32x16(e, gainPit), 1)); }

}  // namespace

void resetPredictors(int16_t* lsfMa, int16_t* pastQuaEn) {
  for (int k = 0; k < 4; ++k) std::memcpy(lsfMa + k * kOrder, tables::kLsfMaReset, kOrder * sizeof(int16_t));
  for (int k = 0; k < 4; ++k) pastQuaEn[k] = -14336;
}

// ---- LP filters -----------------------------------------------------------

void weightAz(const int16_t* a, int16_t gamma, int order, int16_t* ap) {
  ap[0] = a[0];
  if (gamma >= 0) {
    // round(L_mult(x, f)) saturates only for x = f = -32768; with f >= 0 it
    // is (x f + 2^14) >> 15, and every power of gamma stays in [0, 32767].
    int32_t fac = gamma;
    for (int i = 1; i <= order; ++i) {
      ap[i] = static_cast<int16_t>((a[i] * fac + 0x4000) >> 15);
      fac = (fac * gamma + 0x4000) >> 15;
    }
    return;
  }
  int16_t fac = gamma;
  for (int i = 1; i < order; ++i) {
    ap[i] = round_fx(L_mult(a[i], fac));
    fac = round_fx(L_mult(fac, gamma));
  }
  ap[order] = round_fx(L_mult(a[order], fac));
}

VokResult synthesis30(const int16_t* a, int order, const int16_t* x, int16_t* y, const int16_t* mem30, int len) {
  int16_t m[kOrderBwd];
  std::memcpy(m, mem30 + kOrderBwd - order, static_cast<std::size_t>(order) * sizeof(int16_t));
  return VOKC_CALL(voksSynthesisFilter_G729E_16s, a, order, x, y, len, m);
}

void residualOrder(const int16_t* a, int order, const int16_t* x, int16_t* y, int len) {
  VOKC_CALL(voksResidualFilter_G729E_16s, a, static_cast<Vok16s>(order), x, y, len);
}

void weightedSpeech(const int16_t* a, int order, const int16_t* gamma1, const int16_t* gamma2, const int16_t* speech,
                    int16_t* wsp, int16_t* memW) {
  for (int sf = 0; sf < 2; ++sf) {
    const int16_t* p = a + sf * (order + 1);
    int16_t ap1[kMp1Bwd], ap2[kMp1Bwd];
    weightAz(p, gamma1[sf], order, ap1);
    weightAz(p, gamma2[sf], order, ap2);
    int16_t* w = wsp + sf * kSubfr;
    residualOrder(ap1, order, speech + sf * kSubfr, w);
    synthesis30(ap2, order, w, w, memW);
    std::memcpy(memW, w + kSubfr - kOrderBwd, kOrderBwd * sizeof(int16_t));
  }
}

void weightedTarget(const int16_t* aq, int orderAq, const int16_t* ap1, const int16_t* ap2, int orderAp,
                    const int16_t* speech, int16_t* exc, int16_t* res2, const int16_t* memErr, const int16_t* memW0,
                    int16_t* xn) {
  residualOrder(aq, orderAq, speech, exc);
  std::memcpy(res2, exc, kSubfr * sizeof(int16_t));
  int16_t err[kOrderBwd + kSubfr];
  std::memcpy(err, memErr, kOrderBwd * sizeof(int16_t));
  synthesis30(aq, orderAq, exc, err + kOrderBwd, memErr);
  residualOrder(ap1, orderAp, err + kOrderBwd, xn);
  synthesis30(ap2, orderAp, xn, xn, memW0);
}

void interpolateLpc(const int16_t* lspOld, const int16_t* lspNew, int16_t* aq) {
  int16_t lsp[kOrder];
  VOKC_CALL(voksInterpolate_G729_16s, lspOld, lspNew, lsp, kOrder);
  VOKC_CALL(voksLSPToLPC_G729_16s, lsp, aq);
  VOKC_CALL(voksLSPToLPC_G729_16s, lspNew, aq + kMp1);
}

void forwardFilters(const int16_t* lspOld, const int16_t* lspNew, int16_t prevMode, int16_t* a) {
  if (prevMode == 0) {
    interpolateLpc(lspOld, lspNew, a);
    return;
  }
  VOKC_CALL(voksLSPToLPC_G729_16s, lspNew, a + kMp1);
  std::memcpy(a, a + kMp1, kMp1 * sizeof(int16_t));
}

void holdForwardFilter(int16_t* prevFilter, const int16_t* a) {
  std::memcpy(prevFilter, a + kMp1, kMp1 * sizeof(int16_t));
  std::memset(prevFilter + kMp1, 0, (kMp1Bwd - kMp1) * sizeof(int16_t));
}

void decodeLsp(const int16_t* prm, bool bfi, int16_t* lsfMa, int16_t* prevLsf, int16_t& prevMa, int16_t* lspNew) {
  int16_t lsf[kOrder];
  if (!bfi) {
    const int16_t idx[4] = {static_cast<int16_t>((prm[0] >> 7) & 1), static_cast<int16_t>(prm[0] & 127),
                            static_cast<int16_t>((prm[1] >> 5) & 31), static_cast<int16_t>(prm[1] & 31)};
    VOKC_CALL(voksLSFDecode_G729_16s, idx, lsfMa, lsf);
    std::memcpy(prevLsf, lsf, sizeof lsf);
    prevMa = idx[0];
  } else {
    std::memcpy(lsf, prevLsf, sizeof lsf);
    VOKC_CALL(voksLSFDecodeErased_G729_16s, prevMa, lsfMa, prevLsf);
  }
  VOKC_CALL(voksLSFToLSP_G729_16s, lsf, lspNew);
}

void StableLp::reset() {
  std::memset(oldA, 0, sizeof oldA);
  oldA[0] = 4096;
  oldRc[0] = oldRc[1] = 0;
}

bool StableLp::solve(const int32_t* r, int16_t* a, int16_t* rc, int16_t* err) {
  int16_t e = 0;
  if (VOKC_CALL(voksLevinsonDurbin_G729_32s16s, r, kOrder, a, rc, &e) == vokOk) {
    std::memcpy(oldA, a, sizeof oldA);
    oldRc[0] = rc[0];
    oldRc[1] = rc[1];
    if (err) *err = e;
    return true;
  }
  std::memcpy(a, oldA, sizeof oldA);
  rc[0] = oldRc[0];
  rc[1] = oldRc[1];
  return false;
}

void Weighting::reset() {
  smooth = 1;
  larOld[0] = larOld[1] = 0;
}

void Weighting::factors(const int16_t* rc, const int16_t* lsfInt, const int16_t* lsfNew, int16_t* gamma1,
                        int16_t* gamma2) {
  const int16_t larNew[2] = {logAreaRatio(rc[0]), logAreaRatio(rc[1])};
  // First subframe: the mean with the previous frame's ratios.
  const int16_t lar[2][2] = {{shr(add(larNew[0], larOld[0]), 1), shr(add(larNew[1], larOld[1]), 1)},
                             {larNew[0], larNew[1]}};
  larOld[0] = larNew[0];
  larOld[1] = larNew[1];
  for (int k = 0; k < 2; ++k) {
    if (smooth != 0) {
      if (lar[k][0] < -3562 && lar[k][1] > 1336) smooth = 0;
    } else if (lar[k][0] > -3116 || lar[k][1] < 890) {
      smooth = 1;
    }
    if (smooth != 0) {
      gamma1[k] = 30802;
      gamma2[k] = 19661;
      continue;
    }
    const int16_t* lsf = k == 0 ? lsfInt : lsfNew;
    int16_t dMin = 32767;
    for (int i = 0; i < kOrder - 1; ++i) {
      const int16_t d = sub(shl(lsf[i + 1], 1), shl(lsf[i], 1));
      if (d < dMin) dMin = d;
    }
    const int16_t g = shl(sub(1024, mult(19302, dMin)), 5);
    gamma1[k] = 32113;
    gamma2[k] = g > 22938 ? 22938 : (g < 13107 ? 13107 : g);
  }
}

VokResult initHighPass(uint8_t* state, int capacity, bool post) {
  int size = 0;
  VOKC_CALL(voksHighPassFilterSize_G729, &size);
  if (size > capacity) return vokErrInternal;
  const int16_t* a = post ? tables::kHighPass100A : tables::kHighPass140A;
  const int16_t* b = post ? tables::kHighPass100B : tables::kHighPass140B;
  const int16_t coeffs[6] = {a[0], a[1], a[2], b[0], b[1], b[2]};
  return VOKC_CALL(voksHighPassFilterInit_G729, coeffs, state);
}

// ---- pitch delay ----------------------------------------------------------

int16_t pitchParity(int16_t index) {
  int16_t sum = 1;
  for (int i = 2; i <= 7; ++i) sum = static_cast<int16_t>(sum + ((index >> i) & 1));
  return static_cast<int16_t>(sum & 1);
}

void delayRange(int16_t t0, int16_t& tMin, int16_t& tMax) {
  tMin = sub(t0, 5);
  if (tMin < kPitMin) tMin = kPitMin;
  tMax = add(tMin, 9);
  if (tMax > kPitMax) {
    tMax = kPitMax;
    tMin = sub(tMax, 9);
  }
}

int16_t encodeLag(int16_t t0, int16_t frac, int16_t& tMin, int16_t& tMax, int subframe, bool lowRate) {
  if (subframe == 0) {
    delayRange(t0, tMin, tMax);
    return t0 <= 85 ? add(sub(static_cast<int16_t>(t0 * 3), 58), frac) : add(t0, 112);
  }
  int16_t i = sub(t0, tMin);
  if (lowRate) {
    // 1/3 resolution only for tMin + 3 .. tMin + 6.
    if (i < 3) return i;
    if (i < 7) {
      i = sub(i, 3);
      return add(static_cast<int16_t>(i * 3), add(frac, 3));
    }
    return add(i, 6);
  }
  return add(add(static_cast<int16_t>(i * 3), 2), frac);
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
  int16_t tMin, tMax;
  delayRange(t0, tMin, tMax);
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

void concealLag(int16_t& prevT0, int16_t prevFrac, bool keepFrac, int16_t& t0, int16_t& frac) {
  t0 = prevT0;
  if (keepFrac) {
    frac = prevFrac;
    return;
  }
  frac = 0;
  prevT0 = add(prevT0, 1);
  if (prevT0 > kPitMax) prevT0 = kPitMax;
}

void sharpen(int16_t* v, int16_t t0, int16_t sharpQ15) {
  int i = t0;
#if defined(__SSE2__)
  // Eight samples a step once the delay is at least 8: a step reads only
  // samples before it, already final.  Unless the factor is -32768, mult()
  // cannot saturate and is bits 15..30 of the product, high word doubled
  // plus the low word's top bit; add() is the saturating addition.
  if (t0 >= 8 && sharpQ15 != kMin16) {
    const __m128i f = _mm_set1_epi16(sharpQ15);
    for (; i + 8 <= kSubfr; i += 8) {
      const __m128i past = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i - t0));
      const __m128i m = _mm_or_si128(_mm_slli_epi16(_mm_mulhi_epi16(past, f), 1),
                                     _mm_srli_epi16(_mm_mullo_epi16(past, f), 15));
      __m128i* at = reinterpret_cast<__m128i*>(v + i);
      _mm_storeu_si128(at, _mm_adds_epi16(_mm_loadu_si128(at), m));
    }
  }
#endif
  for (; i < kSubfr; ++i) v[i] = add(v[i], mult(v[i - t0], sharpQ15));
}

// ---- taming ---------------------------------------------------------------

int16_t tamingNeeded(const int32_t* excErr, int16_t t0, int16_t frac) {
  const int16_t t1 = frac > 0 ? add(t0, 1) : t0;
  int i = t1 - (kSubfr + 10);
  if (i < 0) i = 0;
  const int16_t zone1 = tables::kTamingZone[i];
  const int16_t zone2 = tables::kTamingZone[t1 + 8];
  int32_t maxLoc = -1;
  for (int k = zone2; k >= zone1; --k)
    if (L_sub(excErr[k], maxLoc) > 0) maxLoc = excErr[k];
  return L_sub(maxLoc, kThreshErr) > 0 ? 1 : 0;
}

void updateExcErr(int32_t* excErr, int16_t gainPit, int16_t t0) {
  int32_t worst = -1;
  const int n = t0 - kSubfr;
  if (n < 0) {
    int32_t t = errStep(excErr[0], gainPit);
    if (L_sub(t, worst) > 0) worst = t;
    t = errStep(t, gainPit);
    if (L_sub(t, worst) > 0) worst = t;
  } else {
    const int16_t zone1 = tables::kTamingZone[n];
    const int16_t zone2 = tables::kTamingZone[t0 - 1];
    for (int i = zone1; i <= zone2; ++i) {
      const int32_t t = errStep(excErr[i], gainPit);
      if (L_sub(t, worst) > 0) worst = t;
    }
  }
  for (int i = 3; i >= 1; --i) excErr[i] = excErr[i - 1];
  excErr[0] = worst;
}

// ---- encoder frame --------------------------------------------------------

int16_t* takeFrame(int16_t* oldSpeech, const int16_t* pcm, uint8_t* highPass) {
  int16_t* newSpeech = oldSpeech + kWindow - kFrame;
  std::memcpy(newSpeech, pcm, kFrame * sizeof(int16_t));
  VOKC_CALL(voksHighPassFilter_G729_16s_ISfs, newSpeech, kFrame, 12, highPass);
  return newSpeech - 40;
}

void shiftEncoderHistory(int16_t* oldSpeech, int16_t* oldWsp, int16_t* oldExc) {
  std::memmove(oldSpeech, oldSpeech + kFrame, (kWindow - kFrame) * sizeof(int16_t));
  std::memmove(oldWsp, oldWsp + kFrame, kPitMax * sizeof(int16_t));
  std::memmove(oldExc, oldExc + kFrame, kExcHist * sizeof(int16_t));
}

void closedLoopPitch(bool lowRate, int16_t centre, const int16_t* xn, const int16_t* h, int16_t* excBuf,
                     int subframe, int16_t* delay) {
  if (lowRate) {
    VOKC_CALL(voksAdaptiveCodebookSearch_G729D_16s, centre, xn, h, excBuf, subframe, delay);
    VOKC_CALL(voksDecodeAdaptiveVector_G729_16s_I, delay, excBuf);
    return;
  }
  int16_t vec[kSubfr];  // the search also leaves the vector in the excitation buffer
  VOKC_CALL(voksAdaptiveCodebookSearch_G729_16s, centre, xn, h, excBuf, delay, vec, subframe);
}

int16_t adaptiveGain(const int32_t* excErr, int16_t t0, int16_t frac, const int16_t* xn, const int16_t* h,
                     const int16_t* excSub, int16_t* y1, int16_t& gainPit, int16_t* xn2) {
  gainPit = 0;
  VOKC_CALL(voksAdaptiveCodebookGain_G729_16s, xn, h, excSub, y1, &gainPit);
  const int16_t taming = tamingNeeded(excErr, t0, frac);
  if (taming == 1 && gainPit > kGpClip) gainPit = kGpClip;
  fixedCodebookTarget(xn, y1, gainPit, xn2);
  return taming;
}

// xn2 = sub(xn, extract_h(L_shl(L_mult(y1, gp), 1))).  With p = y1 gp
// (|p| <= 2^30) the doubled and shifted product is 4p saturated to 32 bits,
// whose upper word is p >> 14 clamped to 16 bits (2^30 itself, the one
// product L_mult saturates, clamps to 32767 either way); sub() clamps the
// difference.
void fixedCodebookTarget(const int16_t* xn, const int16_t* y1, int16_t gainPit, int16_t* xn2) {
  int i = 0;
#if defined(__SSE2__)
  // Eight samples a step: the 32-bit products from their two halves, the
  // saturating pack as the clamp, the saturating subtraction as sub().
  const __m128i g = _mm_set1_epi16(gainPit);
  for (; i + 8 <= kSubfr; i += 8) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y1 + i));
    const __m128i lo = _mm_mullo_epi16(y, g), hi = _mm_mulhi_epi16(y, g);
    const __m128i p = _mm_packs_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 14),
                                      _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 14));
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xn + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(xn2 + i), _mm_subs_epi16(x, p));
  }
#endif
  for (; i < kSubfr; ++i) {
    const int32_t p = std::clamp((int32_t{y1[i]} * gainPit) >> 14, -32768, 32767);
    xn2[i] = static_cast<int16_t>(std::clamp(int32_t{xn[i]} - p, -32768, 32767));
  }
}

int fixedCodebook(Codebook book, int16_t* h, const int16_t* xn2, int16_t* res2, const int16_t* excSub,
                  int16_t gainPit, int lpMode, int16_t* budget, int subframe, int16_t* code, int16_t* y2,
                  int16_t* words) {
  if (book == Codebook::k118) {
    for (int i = 0; i < kSubfr; ++i) res2[i] = sub(res2[i], extract_h(L_shl(L_mult(excSub[i], gainPit), 1)));
    VOKC_CALL(voksFixedCodebookSearch_G729E_16s, lpMode, xn2, res2, h, code, y2, words);
    return 5;
  }
  int16_t dn[kSubfr];
  VOKC_CALL(voksCrossCorr_NormM_16s, h, xn2, kSubfr, dn);
  if (book == Codebook::k64) {
    VOKC_CALL(voksFixedCodebookSearch_G729D_16s, dn, h, code, y2, &words[1], &words[0]);
    return 2;
  }
  int16_t rr[616];
  VOKC_CALL(voksToeplizMatrix_G729_16s, h, rr);
  VOKC_CALL(voksFixedCodebookSearch_G729_16s, dn, rr, code, words, budget, subframe);
  filteredCode80(h, words[0], words[1], y2);
  return 2;
}

int16_t quantiseGains(bool lowRate, const int16_t* xn, const int16_t* y1, const int16_t* code, const int16_t* y2,
                      int16_t* pastQuaEn, int16_t taming, int16_t* gains) {
  int16_t rows[2];
  if (lowRate) {
    VOKC_CALL(voksGainQuant_G729D_16s, xn, y1, code, y2, pastQuaEn, gains, rows, taming);
    return static_cast<int16_t>(kGainMap64a[rows[0]] * 8 + kGainMap64b[rows[1]]);
  }
  VOKC_CALL(voksGainQuant_G729_16s, xn, y1, code, y2, pastQuaEn, gains, rows, taming);
  return static_cast<int16_t>(voksc::g729::kGainMap1[rows[0]] * 16 + voksc::g729::kGainMap2[rows[1]]);
}

// ---- excitation -----------------------------------------------------------

// The chain round(2 (2 gp exc + 2 gc code)) saturates at most once in
// effect when neither gain is -32768 (no product saturates, and clamping
// 2z, doubling with saturation and rounding with saturation equal one
// clamp of the exact value): sat16((4z + 2^15) >> 16) = sat16((z + 2^13)
// >> 14) with z = gp exc + gc code, |z| < 2^31.
void mixExcitation(int16_t* exc, const int16_t* code, int16_t gp, int16_t gc) {
  if (gp == kMin16 || gc == kMin16) {
    for (int i = 0; i < kSubfr; ++i) exc[i] = round_fx(L_shl(L_mac(L_mult(exc[i], gp), code[i], gc), 1));
    return;
  }
  // |exc gp| and |code gc| are below 2^30, so their sum plus the rounding
  // bias fits 32 bits.
  int i = 0;
#if defined(__SSE2__)
  // Eight samples a step: one madd of (exc, code) pairs with (gp, gc), the
  // saturating pack as the clip.
  const __m128i w = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(gc)) << 16) |
                                                        static_cast<uint16_t>(gp)));
  const __m128i bias = _mm_set1_epi32(0x2000);
  for (; i + 8 <= kSubfr; i += 8) {
    const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(exc + i));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(code + i));
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(e, c), w), bias), 14);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(e, c), w), bias), 14);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(exc + i), _mm_packs_epi32(lo, hi));
  }
#endif
  for (; i < kSubfr; ++i) {
    const int32_t v = (int32_t{exc[i]} * gp + int32_t{code[i]} * gc + 0x2000) >> 14;
    exc[i] = static_cast<int16_t>(v > kMax16 ? kMax16 : (v < kMin16 ? kMin16 : v));
  }
}

void updateTargetMemories(const int16_t* speech, const int16_t* synth, const int16_t* xn, const int16_t* y1,
                          const int16_t* y2, int16_t gainPit, int16_t gainCode, int m, int16_t* memErr,
                          int16_t* memW0) {
  for (int i = kSubfr - m, j = 0; i < kSubfr; ++i, ++j) {
    memErr[j] = sub(speech[i], synth[i]);
    const int16_t t1 = extract_h(L_shl(L_mult(y1[i], gainPit), 1));
    const int16_t t2 = extract_h(L_shl(L_mult(y2[i], gainCode), 2));
    memW0[j] = sub(xn[i], add(t1, t2));
  }
}

void filteredCode80(const int16_t* h, int16_t posIndex, int16_t signs, int16_t* y) {
  int pos[4];
  pulses80(posIndex, pos);
#if defined(__SSE2__)
  // The pulses one after another on all 40 samples: the response read
  // behind 40 zeros adds nothing before its pulse, and a saturating add or
  // subtraction of zero leaves a sample as it is, so each pass is the
  // reference's add() or sub() (from zero for the first pulse, where sub()
  // is negate()).
  alignas(16) int16_t hz[2 * kSubfr] = {};
  std::memcpy(hz + kSubfr, h, kSubfr * sizeof(int16_t));
  __m128i acc[kSubfr / 8];
  for (auto& v : acc) v = _mm_setzero_si128();
  for (int k = 0; k < 4; ++k) {
    const int16_t* src = hz + kSubfr - pos[k];
    const bool positive = (signs >> k) & 1;
    for (int v = 0; v < kSubfr / 8; ++v) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * v));
      acc[v] = positive ? _mm_adds_epi16(acc[v], x) : _mm_subs_epi16(acc[v], x);
    }
  }
  for (int v = 0; v < kSubfr / 8; ++v) _mm_storeu_si128(reinterpret_cast<__m128i*>(y + 8 * v), acc[v]);
  return;
#endif
  for (int i = 0; i < pos[0]; ++i) y[i] = 0;
  for (int k = 0; k < 4; ++k) {
    const bool positive = (signs >> k) & 1;
    for (int i = pos[k], j = 0; i < kSubfr; ++i, ++j) {
      if (k == 0)
        y[i] = positive ? h[j] : negate(h[j]);
      else
        y[i] = positive ? add(y[i], h[j]) : sub(y[i], h[j]);
    }
  }
}

void decodeCode80(int16_t sign, int16_t index, int16_t* code) {
  int pos[4];
  pulses80(index, pos);
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  for (int j = 0; j < 4; ++j) code[pos[j]] = ((sign >> j) & 1) ? 8191 : -8192;
}

void decodeCode64(int16_t sign, int16_t index, int16_t* code) {
  const int pos[2] = {kTrack64a[kGrayDecode[index & 15]], kTrack64b[kGrayDecode[(index >> 4) & 31]]};
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  for (int j = 0; j < 2; ++j)
    code[pos[j]] = ((sign >> j) & 1) ? add(code[pos[j]], 8191) : sub(code[pos[j]], 8192);
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

// ---- backward-adaptive LP -------------------------------------------------

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
  return idx >= 0 ? add(tables::e::kEnergyLog[idx], log) : int16_t{1};
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
  VOKC_CALL(voksWinHybridInit_G729E_16s, hybrid);
  std::memset(oldA, 0, sizeof oldA);
  oldA[0] = 4096;
  oldRc[0] = oldRc[1] = 0;
}

void BackwardLp::analyse(const int16_t* x, int16_t* a, int16_t* rc) {
  int32_t r[kMp1Bwd];
  VOKC_CALL(voksWinHybrid_G729E_16s32s, x, r, hybrid);
  // Lag window, then a common normalisation (each value offset by one).
  for (int i = 1; i <= kOrderBwd; ++i) {
    Word16 hi, lo;
    L_Extract(r[i], hi, lo);
    r[i] = mpy32(hi, lo, tables::e::kLagBwdHi[i - 1], tables::e::kLagBwdLo[i - 1]);
  }
  const Word16 norm = norm_l(L_add(r[0], 1));
  for (int i = 0; i <= kOrderBwd; ++i) r[i] = L_shl(L_add(r[i], 1), norm);
  int16_t rcAll[kOrderBwd];
  int16_t err = 0;
  if (VOKC_CALL(voksLevinsonDurbin_G729_32s16s, r, kOrderBwd, a, rcAll, &err) == vokOk) {
    std::memcpy(oldA, a, sizeof oldA);
    oldRc[0] = rcAll[0];
    oldRc[1] = rcAll[1];
  } else {
    std::memcpy(a, oldA, sizeof oldA);
  }
  rc[0] = oldRc[0];
  rc[1] = oldRc[1];
}

void BackwardLp::filter(const int16_t* x, int16_t* aMem, int16_t* aOut) {
  int16_t a[kMp1Bwd], rc[2];
  analyse(x, a, rc);
  bool saturated = false;
  for (int i = 0; i < kMp1Bwd; ++i) saturated |= a[i] >= 32767;
  if (saturated)
    std::memcpy(a, aMem, sizeof a);
  else
    std::memcpy(aMem, a, sizeof a);
  weightAz(a, kGammaBwd, kOrderBwd, aOut);
}

void interpolateBackward(int16_t* aBwd, const int16_t* prevFilter, int16_t& cInt) {
  int16_t* a2 = aBwd + kMp1Bwd;
  int16_t c = sub(cInt, 410);
  if (c < 0) c = 0;
  const int16_t w = sub(4096, c);
  for (int i = 0; i < kMp1Bwd; ++i)
    a2[i] = add(extract_l(L_shr(L_mult(a2[i], w), 13)), extract_l(L_shr(L_mult(prevFilter[i], c), 13)));
  for (int i = 0; i < kMp1Bwd; ++i) aBwd[i] = add(shr(a2[i], 1), shr(prevFilter[i], 1));
  cInt = c;
}

void fadeFromHeld(int16_t* a, const int16_t* held, int16_t cFeFix) {
  const int16_t w = sub(4096, cFeFix);
  for (int i = 0; i < kMp1Bwd; ++i)
    a[i] = add(extract_l(L_shr(L_mult(a[i], w), 13)), extract_l(L_shr(L_mult(held[i], cFeFix), 13)));
}

bool backwardStationary(int16_t& statBwd, bool backward) {
  if (!backward) {
    statBwd = 0;
    return false;
  }
  statBwd = add(statBwd, 1);
  if (statBwd < 30) return false;
  statBwd = 30;
  return true;
}

void LpModeDecision::reset() {
  globStat = 10000;
  statBwd = 0;
  valStatBwd = 0;
  cInt = kCIntReset;
  bwdDominant = 0;
  dominance.countBwd = dominance.countFwd = 0;
}

namespace {

// Changes of the global stationarity by how far the backward filter's
// prediction gain lies above (rise, while below 13000) or below (fall) the
// forward filter's: the first row whose margin is exceeded applies.
struct StationarityStep {
  int margin;
  int change;
};
constexpr StationarityStep kStationarityRise[] = {{819, 3200}, {614, 2400}, {410, 1600}, {205, 800}, {0, 400}};
constexpr StationarityStep kStationarityFall[] = {{955, 6400}, {819, 3200}, {614, 1600}, {410, 800}, {205, 400}};

// Prediction gain of filters on the frame's speech, in energyDb's scale:
// one filter over the whole frame, or one per subframe (a: 2 x (order + 1)).
int16_t predictionGain(int16_t speechEnergy, const int16_t* speech, const int16_t* a, int order, bool perSubframe) {
  int16_t res[kFrame];
  if (perSubframe) {
    residualOrder(a, order, speech, res);
    residualOrder(a + order + 1, order, speech + kSubfr, res + kSubfr);
  } else {
    residualOrder(a, order, speech, res, kFrame);
  }
  return static_cast<int16_t>(speechEnergy - energyDb(res, kFrame));
}

}  // namespace

void LpModeDecision::updateStationarity(int16_t gpredB, int16_t gpredF, int16_t mode, int16_t prevMode) {
  // A run of backward frames raises the stationarity once it reaches 20
  // frames; a run that ends earlier lowers it by what the run did not earn.
  if (mode == 1) {
    statBwd = add(statBwd, 1);
    valStatBwd = add(valStatBwd, 250);
    if (statBwd == 20)
      globStat = add(globStat, 2500);
    else if (statBwd > 20)
      globStat = add(globStat, 500);
  } else if (prevMode == 1) {
    if (statBwd < 20) globStat = sub(globStat, sub(5000, valStatBwd));
    statBwd = 0;
    valStatBwd = 0;
  }
  int v = globStat;
  if (v < 13000) {
    for (const StationarityStep& st : kStationarityRise)
      if (gpredB > gpredF + st.margin) {
        v += st.change;
        break;
      }
  }
  for (const StationarityStep& st : kStationarityFall)
    if (gpredB < gpredF - st.margin) {
      v -= st.change;
      break;
    }
  globStat = static_cast<int16_t>(std::clamp(v, 0, 32000));
}

int16_t LpModeDecision::decide(const int16_t* speech, const int16_t* aFwdQ, int16_t* aBwd,
                               const int16_t* prevFilter, const int16_t* lspOld, const int16_t* lspNew,
                               int16_t prevMode) {
  // Prediction gains of the new backward filter over the frame, of the
  // backward filters as the frame would use them (interpolated in place),
  // and of the quantised forward filters.
  const int16_t speechEnergy = energyDb(speech, kFrame);
  const int16_t gainBwd = predictionGain(speechEnergy, speech, aBwd + kMp1Bwd, kOrderBwd, false);
  interpolateBackward(aBwd, prevFilter, cInt);
  const int16_t gainBwdInt = predictionGain(speechEnergy, speech, aBwd, kOrderBwd, true);
  const int16_t gainFwd = predictionGain(speechEnergy, speech, aFwdQ, kOrder, true);

  // Backward when both backward gains come within the stationarity-driven
  // gap of the forward gain in a stationary signal, or, in a very
  // stationary one, while the LSPs hardly move after a backward frame.
  const int16_t gap = add(extract_l(L_shr(L_mult(shr(globStat, 7), 3), 1)), 205);
  const bool bwdGains = gainBwd > 0 && gainBwdInt > 0;
  int16_t mode = (globStat >= 13000 && gainBwdInt > gainFwd - gap && gainBwd > gainFwd - gap && bwdGains) ? 1 : 0;
  Word32 lspDistance = 0;
  for (int i = 0; i < kOrder; ++i) {
    const int16_t d = sub(lspOld[i], lspNew[i]);
    lspDistance = L_mac(lspDistance, d, d);
  }
  const Word32 holdBelow = globStat < 32000 ? 0 : 64424509;
  if (mode == 0 && prevMode == 1 && bwdGains && lspDistance < holdBelow) mode = 1;

  // Quiet frames are forward and cap the stationarity; the others count.
  if (speechEnergy < 8192) {
    mode = 0;
    if (globStat > 13000) globStat = 13000;
  } else {
    dominance.update(bwdDominant, mode);
    updateStationarity(gainBwd, gainFwd, mode, prevMode);
  }
  if (mode == 0) cInt = kCIntReset;
  return mode;
}

void LpModeDecision::forwardOnly() {
  if (globStat > 10000) {
    globStat = sub(globStat, 2621);
    if (globStat < 10000) globStat = 10000;
  }
  bwdDominant = 0;
  cInt = kCIntReset;
}

void PitchTrack::track(int16_t& t0, int16_t& frac) {
  int16_t dist = sub(t0, prevPitch);
  const bool up = dist >= 0;
  if (!up) dist = negate(dist);
  if (dist < 5) {
    if (++stat > 7) stat = 7;
    pitchSta = t0;
    fracSta = frac;
  } else {
    int16_t distMin = dist;
    const int16_t base = up ? prevPitch : t0, other = up ? t0 : prevPitch;
    int16_t multiple = add(base, base);
    for (int j = 2; j < 5; ++j) {
      const int16_t d = abs_s(sub(multiple, other));
      if (sub(d, distMin) <= 0) distMin = d;
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

// ---- voice activity detection and comfort noise --------------------------

int16_t sqrtBits(Word32 num) {
  int16_t rez = 0, bit = 0x4000;
  for (int i = 0; i < 14; ++i) {
    if (L_sub(num, L_mult(add(rez, bit), add(rez, bit))) >= 0) rez = add(rez, bit);
    bit = shr(bit, 1);
  }
  return rez;
}

void sumAutocorr(const int16_t* acf, const int16_t* shAcf, int count, int16_t* sum, int16_t* shSum) {
  int16_t sh0 = shAcf[0];
  for (int i = 1; i < count; ++i)
    if (shAcf[i] < sh0) sh0 = shAcf[i];
  sh0 = add(sh0, 14);
  Word32 tab[kMp1] = {};
  for (int i = 0; i < count; ++i) {
    const int16_t t = sub(sh0, shAcf[i]);
    for (int j = 0; j < kMp1; ++j) tab[j] = L_add(tab[j], L_shl(L_deposit_l(acf[i * kMp1 + j]), t));
  }
  const int16_t n = norm_l(tab[0]);
  for (int i = 0; i < kMp1; ++i) sum[i] = extract_h(L_shl(tab[i], n));
  *shSum = add(sh0, sub(n, 16));
}

void filterAutocorr(const int16_t* coeff, int16_t* rcoeff, int16_t& sh) {
  Word32 acc = 0;
  for (int j = 0; j <= kOrder; ++j) acc = L_mac(acc, coeff[j], coeff[j]);
  sh = norm_l(acc);
  rcoeff[0] = round_fx(L_shl(acc, sh));
  for (int i = 1; i <= kOrder; ++i) {
    acc = 0;
    for (int j = 0; j <= kOrder - i; ++j) acc = L_mac(acc, coeff[j], coeff[j + i]);
    rcoeff[i] = round_fx(L_shl(acc, sh));
  }
}

// True when the filter described by rcoeff predicts the autocorrelation acf
// worse than the residual energy alpha allows by the given fraction.
bool filterDiffers(const int16_t* rcoeff, int16_t shR, const int16_t* acf, int16_t alpha, int16_t frac) {
  int16_t sh[2] = {0, 0};
  int ind = 1;
  Word32 t0;
  for (;;) {
    bool ovf = false;
    t0 = L_shr(L_mult_o(shr(rcoeff[0], sh[0]), shr(acf[0], sh[1]), ovf), 1);
    for (int i = 1; i <= kOrder; ++i) t0 = L_mac_o(t0, shr(rcoeff[i], sh[0]), shr(acf[i], sh[1]), ovf);
    if (!ovf) break;
    sh[ind] = add(sh[ind], 1);
    ind = 1 - ind;
  }
  Word32 t1 = L_add(L_deposit_l(mult_r(alpha, frac)), L_deposit_l(alpha));
  t1 = L_shl(t1, sub(add(shR, 9), add(sh[0], sh[1])));
  return L_sub(t0, t1) > 0;
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

namespace {

// The random part of one comfort-noise subframe: a delay with a fraction
// for the adaptive vector, four signed pulses (one per track of the
// 8 kbit/s code) and a pitch gain below 0.5 (Q14).
struct NoiseDraw {
  int16_t t0, frac;
  int16_t pos[4];
  int16_t positive[4];
  int16_t gain;
};

// Bit fields read from the low end of a random word.
struct BitReader {
  int16_t word;
  int16_t take(int n) {
    const int16_t v = static_cast<int16_t>(word & ((1 << n) - 1));
    word = shr(word, static_cast<int16_t>(n));
    return v;
  }
};

NoiseDraw drawNoise(int16_t& seed) {
  NoiseDraw d;
  BitReader r{nextRandom(seed)};
  d.frac = sub(r.take(2), 1);
  if (d.frac == 2) d.frac = 0;
  d.t0 = add(r.take(6), 40);
  for (int k = 0; k < 2; ++k) {
    d.pos[k] = static_cast<int16_t>(r.take(3) * 5 + k);
    d.positive[k] = r.take(1);
  }
  r = BitReader{nextRandom(seed)};
  d.pos[2] = static_cast<int16_t>(r.take(3) * 5 + 2);
  d.positive[2] = r.take(1);
  const int16_t t = r.take(4);  // track 3 or 4 and the position on it
  d.pos[3] = static_cast<int16_t>((t & 1) + 3 + ((t >> 1) & 7) * 5);
  d.positive[3] = r.take(1);
  d.gain = static_cast<int16_t>(nextRandom(seed) & 0x1FFF);
  return d;
}

// Signed sum of the four pulse positions of v, each sample shifted right
// by sh first.
int16_t pulseSum(const NoiseDraw& d, const int16_t* v, int16_t sh) {
  int16_t sum = 0;
  for (int i = 0; i < 4; ++i) {
    const int16_t x = shr(v[d.pos[i]], sh);
    sum = d.positive[i] ? add(sum, x) : sub(sum, x);
  }
  return sum;
}

// Gaussian noise of a subframe scaled to 0.5 gain sqrt(40 / energy) (the
// scale factor through the inverse square root and a normalised product).
void scaledNoise(int16_t gain, int16_t& seed, int16_t* noise) {
  VOKC_CALL(voksRandomNoiseExcitation_G729B_16s, &seed, noise, kSubfr);
  Word32 energy = 0;
  for (int i = 0; i < kSubfr; ++i) energy = L_mac(energy, noise[i], noise[i]);
  energy = L_shr(energy, 1);
  VOKC_CALL(voksInvSqrt_32s_I, &energy, 1);
  const int16_t target = add(gain, mult_r(gain, 19043));
  const Word32 scale = mpy32x16(energy, target);
  int16_t sh = norm_l(scale);
  const int16_t factor = extract_h(L_shl(scale, sh));
  sh = sub(sh, 14);
  for (int i = 0; i < kSubfr; ++i) noise[i] = shr_r(mult_r(noise[i], factor), sh);
}

}  // namespace

void comfortExcitation(int16_t curGain, int16_t* exc, int16_t& seed, int16_t* pitchGain, int16_t* pulseGain,
                       int16_t* delay) {
  if (curGain == 0) {
    std::memset(exc, 0, kFrame * sizeof(int16_t));
    for (int k = 0; k < 2; ++k) {
      pitchGain[k] = 0;
      if (pulseGain) pulseGain[k] = 0;
      delay[k] = kSubfr + 1;
    }
    return;
  }
  for (int sf = 0; sf < 2; ++sf) {
    int16_t* cur = exc + sf * kSubfr;
    NoiseDraw d = drawNoise(seed);
    int16_t noise[kSubfr];
    scaledNoise(curGain, seed, noise);

    // Adaptive vector at the drawn delay, scaled by the pitch gain, plus
    // the noise; its energy and pulse sum at a headroom of at most 3 bits.
    const int16_t delayFrac[2] = {d.t0, d.frac};
    VOKC_CALL(voksDecodeAdaptiveVector_G729_16s_I, delayFrac, cur - kExcHist);
    const int16_t gain2 = shl(d.gain, 1);
    int16_t peak = 0;
    for (int i = 0; i < kSubfr; ++i) {
      cur[i] = add(mult_r(cur[i], gain2), noise[i]);
      peak = std::max(peak, abs_s(cur[i]));
    }
    int16_t sh = 0;
    if (peak != 0) sh = std::max<int16_t>(0, sub(3, norm_s(peak)));
    Word32 energy = 0;
    for (int i = 0; i < kSubfr; ++i) {
      const int16_t x = shr(cur[i], sh);
      energy = L_mac(energy, x, x);
    }
    int16_t inter = pulseSum(d, cur, sh);

    // The pulse gain g brings the subframe to the target energy
    // 40 gain^2: g^2 + inter g - c = 0 with c from the energy left over.
    const int16_t k1 = extract_l(L_shr(L_mult(curGain, kSubfr), 6));
    const Word32 target = L_mult(curGain, k1);
    Word32 disc = L_sub(L_shr(target, add(1, shl(sh, 1))), energy);
    inter = shr(inter, 1);
    disc = L_mac(disc, inter, inter);
    sh = add(sh, 1);
    if (disc < 0) {
      // The adaptive part alone is too loud: noise and pulses only, the
      // target at 0.75 of its value.
      std::memcpy(cur, noise, sizeof noise);
      const int16_t bitsUsed = static_cast<int16_t>(abs_s(noise[d.pos[0]]) | abs_s(noise[d.pos[1]]) |
                                                    abs_s(noise[d.pos[2]]) | abs_s(noise[d.pos[3]]));
      sh = (bitsUsed & 0x4000) == 0 ? 1 : 2;
      inter = pulseSum(d, noise, sh);
      disc = L_shr(mpy32x16(target, 24576), sub(shl(sh, 1), 1));
      disc = L_mac(disc, inter, inter);
      d.gain = 0;
    }
    // The root of smaller magnitude, limited to +-5000.
    const int16_t root = sqrtBits(disc);
    int16_t x = sub(root, inter);
    const int16_t other = negate(add(inter, root));
    if (abs_s(other) < abs_s(x)) x = other;
    int16_t g = shr_r(x, sub(2, sh));
    if (g >= 0) {
      if (g > 5000) g = 5000;
    } else if (add(g, 5000) < 0) {
      g = -5000;
    }
    for (int i = 0; i < 4; ++i) cur[d.pos[i]] = d.positive[i] ? add(cur[d.pos[i]], g) : sub(cur[d.pos[i]], g);
    pitchGain[sf] = d.gain;
    if (pulseGain) pulseGain[sf] = g >= 0 ? g : static_cast<int16_t>(-g);
    delay[sf] = d.t0;
  }
}

}  // namespace vokc::g729
