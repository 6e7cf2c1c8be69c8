// Adaptive post-filter of the Annex E and I decoders (see g729_postfilter.h).
#include "g729_postfilter.h"

#include <cstring>

#include "checked_call.h"

namespace vokc::g729 {

namespace {

constexpr int kHist = 152;

struct Weights {
  int16_t num, den, harmonic;
};
constexpr Weights kLowRate = {18022, 22938, 16384};  // G.729: 0.55, 0.7, 0.5
constexpr Weights kCeiling = {21300, 22938, 8192};    // 11.8 kbit/s
constexpr Weights kFadeStep = {1065, 1147, 410};

int16_t stepTowards(int16_t v, int16_t step, bool down, int16_t ceiling) {
  if (down) {
    v = sub(v, step);
    return v < 0 ? int16_t{0} : v;
  }
  v = add(v, step);
  return v > ceiling ? ceiling : v;
}

}  // namespace

int16_t firstReflection(const int16_t* h, int len) {
  Word32 acc = 0;
  for (int i = 0; i < len; ++i) acc = L_mac(acc, h[i], h[i]);
  const Word16 sh = norm_l(acc);
  const Word16 r0 = extract_h(L_shl(acc, sh));
  acc = 0;
  for (int i = 0; i < len - 1; ++i) acc = L_mac(acc, h[i], h[i + 1]);
  const Word16 r1 = extract_h(L_shl(acc, sh));
  if (r0 < abs_s(r1)) return 0;
  const Word16 k = div_s(abs_s(r1), r0);
  return r1 > 0 ? negate(k) : k;
}

void AdaptivePostFilter::reset() {
  std::memset(static_cast<void*>(this), 0, sizeof *this);
  numWeight = kCeiling.num;
  denWeight = kCeiling.den;
  harmonic = kCeiling.harmonic;
  pastGain = 16384;
}

int AdaptivePostFilter::settle(bool rate118, bool fading) {
  if (!rate118) {
    denWeight = kLowRate.den;
    numWeight = kLowRate.num;
    harmonic = kLowRate.harmonic;
    return 20;
  }
  harmonic = stepTowards(harmonic, kFadeStep.harmonic, fading, kCeiling.harmonic);
  denWeight = stepTowards(denWeight, kFadeStep.den, fading, kCeiling.den);
  numWeight = stepTowards(numWeight, kFadeStep.num, fading, kCeiling.num);
  return 32;
}

void AdaptivePostFilter::subframe(int16_t t0, const int16_t* syn, const int16_t* a, int order, int longH,
                                  bool longTerm, int16_t* out, int16_t* voicing) {
  int16_t den[kMp1Bwd];
  int16_t num[32] = {};  // zero beyond the order: the impulse response's input
  weightAz(a, denWeight, order, den);
  weightAz(a, numWeight, order, num);
  int16_t* res = res2 + kHist;
  residualOrder(num, order, syn, res);
  int16_t ltp[1 + kSubfr];  // the previous subframe's last output, then the subframe
  int16_t* cur = ltp + 1;
  if (longTerm) {
    longTermPostFilter(harmonic, t0, res2, cur, voicing);  // shifts res2
  } else {
    *voicing = 0;
    std::memcpy(cur, res, kSubfr * sizeof(int16_t));
    std::memmove(res2, res2 + kSubfr, kHist * sizeof(int16_t));
  }
  ltp[0] = memStp[kOrderBwd - 1];

  // Impulse response of A(z/num) / A(z/den): its first reflection
  // coefficient drives the tilt, the sum of its magnitudes the gain.
  int16_t h[32];
  VOKC_CALL(voksSynthesisFilter_G729E_16s, den, order, num, h, longH, nullptr);
  const int16_t parcor = firstReflection(h, longH);
  Word32 g = 0;
  for (int i = 0; i < longH; ++i) g = L_add(g, L_deposit_l(abs_s(h[i])));
  const int16_t g0 = extract_h(L_shl(g, 14));
  if (g0 > 1024) {
    const int16_t f = div_s(1024, g0);
    for (int i = 0; i < kSubfr; ++i) cur[i] = mult_r(cur[i], f);
  }
  synthesis30(den, order, cur, cur, memStp);
  std::memcpy(memStp, cur + kSubfr - kOrderBwd, sizeof memStp);
  VOKC_CALL(voksTiltCompensation_G729E_16s, parcor, cur, out);
  VOKC_CALL(voksGainControl_G729_16s_I, syn, out, &pastGain);
}

int16_t AdaptivePostFilter::frame(int16_t t0, const int16_t* syn, const int16_t* a, int order, int longH,
                                  bool longTerm, int16_t* out) {
  int16_t voicing = 0;
  for (int sf = 0; sf < 2; ++sf) {
    int16_t v = 0;
    subframe(t0, syn + sf * kSubfr, a + sf * (order + 1), order, longH, longTerm, out + sf * kSubfr, &v);
    if (v != 0) voicing = v;
  }
  return voicing;
}

void ageHeldFilter(int16_t bfi, int16_t mode, int16_t bwdDominant, int16_t& cFeFix) {
  if (bfi) {
    cFeFix = 4096;
  } else if (mode == 0) {
    cFeFix = 0;
  } else {
    cFeFix = sub(cFeFix, bwdDominant == 1 ? 410 : 2048);
    if (cFeFix < 0) cFeFix = 0;
  }
}

}  // namespace vokc::g729
