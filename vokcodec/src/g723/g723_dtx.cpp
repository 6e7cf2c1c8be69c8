// G.723.1 Annex A on the encoder side: voice activity detection from the
// inverse-filtered energy against an adaptive noise level, and the choice
// between SID and untransmitted frames from the stationarity of the
// averaged spectrum and gain.
#include <algorithm>
#include <cstring>

#include "checked_call.h"
#include "g723_codec.h"
#include "g723_ops.h"
#include "g723_tables.h"

namespace vokc::g723 {
namespace {

// LPC of averaged correlations (energy, 10 lags) by the library recursion.
void lpcOf(const Word16* acf, Word16* lpc, Word16& err) {
  Vok16s sine = 0;
  VOKC_CALL(voksLevinsonDurbin_G723_16s, acf, &sine, &err, lpc);
}

// Autocorrelation of the LPC vector (1, -a1 .. -a10) in Q13, normalised:
// the reference against which spectra are compared.
void filterCorrelation(const Word16* lpc, Word16* rc, Word16& shift) {
  Word32 acc = 0;
  for (int j = 0; j < kOrder; ++j) acc = op::L_mac(acc, lpc[j], lpc[j]);
  acc = op::L_add(op::L_shr(acc, 1), 0x04000000);
  shift = static_cast<Word16>(op::norm_l(acc) - 2);
  rc[0] = op::round_fx(op::L_shl(acc, shift));
  for (int i = 1; i <= kOrder; ++i) {
    Word32 a = op::L_mult(static_cast<Word16>(0xE000), lpc[i - 1]);
    for (int j = 0; j < kOrder - i; ++j) a = op::L_mac(a, lpc[j], lpc[j + i]);
    rc[i] = op::round_fx(op::L_shl(a, shift));
  }
}

// True when the residual energy of `acf` through the reference filter stays
// within the Itakura threshold of the prediction error `alpha`.
bool similarSpectrum(const Word16* rc, Word16 shift, const Word16* acf, Word16 alpha) {
  Word32 dist = 0;
  for (int i = 0; i <= kOrder; ++i) dist = op::L_mac(dist, rc[i], op::shr(acf[i], 2));
  Word32 limit = op::L_add(op::mult_r(alpha, 7000), alpha);
  limit = op::L_shl(limit, op::add(shift, 9));
  return dist <= limit;
}

}  // namespace

bool Encoder::voiceActivity(const int16_t* x) {
  // Periodicity: the last four open-loop lags near multiples of the
  // shortest one (or a sine) slow the noise-level adaptation.
  Word16 shortest = kHistory;
  for (Word16 l : lags_) shortest = std::min(shortest, l);
  int near = 0;
  for (Word16 l : lags_) {
    Word16 m = shortest;
    for (int j = 0; j < 8; ++j, m = op::add(m, shortest))
      if (op::abs_s(op::sub(m, l)) <= 3) ++near;
  }
  adapt_ = (near == 4 || sineDet_ < 0) ? static_cast<int16_t>(adapt_ + 2) : static_cast<int16_t>(adapt_ - 1);
  adapt_ = std::min<int16_t>(std::max<int16_t>(adapt_, 0), 6);
  // Energy of the frame (last three subframes) through the noise filter.
  Word32 energy = 0;
  for (int i = kSub; i < kFrame; ++i) {
    Word32 acc = op::L_mult(x[i], 0x2000);
    for (int j = 0; j < kOrder; ++j) acc = op::L_msu(acc, x[i - j - 1], noiseLpc_[j]);
    const Word16 r = op::round_fx(acc);
    energy = op::L_mac(energy, r, r);
  }
  energy = op::L_mls(energy, 2913);
  if (noiseLevel_ > frameEnergy_)
    noiseLevel_ = op::L_add(op::L_sub(frameEnergy_, op::L_shr(frameEnergy_, 2)), op::L_shr(noiseLevel_, 2));
  noiseLevel_ = adapt_ == 0 ? op::L_add(noiseLevel_, op::L_shr(noiseLevel_, 5))
                            : op::L_sub(noiseLevel_, op::L_shr(noiseLevel_, 11));
  frameEnergy_ = energy;
  noiseLevel_ = std::min<Word32>(std::max<Word32>(noiseLevel_, 0x80), 0x1FFFF);
  // Threshold: noise level times a factor interpolated on its log scale.
  Word32 t = op::L_shl(noiseLevel_, 13);
  const Word16 e = op::norm_l(t);
  t = op::L_shl(t, e);
  const Word16 frac = op::extract_h(static_cast<Word32>((t & 0x3F000000) << 1));
  Word32 f = op::L_deposit_h(kVadScale[e]);
  f = op::L_msu(op::L_mac(f, frac, kVadScale[e - 1]), frac, kVadScale[e]);
  const Word32 threshold = op::L_mult(op::extract_l(op::L_shr(noiseLevel_, 2)), op::extract_h(f)) >> 11;
  bool active = threshold <= energy;
  if (active) {
    ++voiced_;
    ++hangover_;
  } else if (--voiced_ < 0) {
    voiced_ = 0;
  }
  if (voiced_ >= 2) {
    hangover_ = 6;
    if (voiced_ >= 3) voiced_ = 3;
  }
  if (hangover_) {
    active = true;
    if (voiced_ == 0) --hangover_;
  }
  lags_[0] = lags_[2];
  lags_[1] = lags_[3];
  return active;
}

// Keeps the frame's summed correlations (the four subframes aligned to the
// smallest exponent) beside those of the three frames before.
void Encoder::keepCorrelations(const int16_t* acf, const int16_t* exps) {
  std::memmove(acfHist_ + kOrder + 1, acfHist_, sizeof(int16_t) * 3 * (kOrder + 1));
  std::memmove(acfShift_ + 1, acfShift_, sizeof(int16_t) * 3);
  Word16 low = *std::min_element(exps, exps + 4);
  low = op::add(low, 14);
  Word32 sum[kOrder + 1] = {};
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i <= kOrder; ++i)
      sum[i] = op::L_add(sum[i], op::L_shl(acf[(kOrder + 1) * k + i], op::sub(low, exps[k])));
  const Word16 down = static_cast<Word16>(std::max(0, 16 - op::norm_l(sum[0])));
  for (int i = 0; i <= kOrder; ++i) acfHist_[i] = op::extract_l(op::L_shr(sum[i], down));
  acfShift_[0] = op::sub(low, down);
}

int Encoder::silenceFrame(FrameParams& line, int16_t* exc, int16_t* qlpc) {
  std::memmove(energy_ + 1, energy_, sizeof(int16_t) * 2);
  Word16 cur[kOrder];
  lpcOf(acfHist_, cur, energy_[0]);
  int kind;
  Word16 q;
  if (pastKind_ == 1) {
    kind = 2;
    energyCount_ = 1;
    q = quantiseSidGain(energy_, acfShift_, energyCount_);
  } else {
    energyCount_ = std::min<int16_t>(static_cast<int16_t>(energyCount_ + 1), 3);
    q = quantiseSidGain(energy_, acfShift_, energyCount_);
    if (!similarSpectrum(refCorr_, refShift_, acfHist_, energy_[0]))
      kind = 2;
    else
      kind = op::abs_s(op::sub(q, gainRef_)) > 3 ? 2 : 0;
  }
  if (kind == 2) {
    // Filter of the three previous frames' average, unless the current
    // spectrum has moved away from it.
    Word16 low = acfShift_[1];
    for (int i = 2; i <= 3; ++i) low = std::min(low, acfShift_[i]);
    low = op::add(low, 14);
    Word32 sum[kOrder + 1] = {};
    for (int f = 1; f <= 3; ++f)
      for (int j = 0; j <= kOrder; ++j)
        sum[j] = op::L_add(sum[j], op::L_shl(acfHist_[(kOrder + 1) * f + j], op::sub(low, acfShift_[f])));
    const Word16 down = static_cast<Word16>(std::max(0, 16 - op::norm_l(sum[0])));
    Word16 avg[kOrder + 1], err;
    for (int j = 0; j <= kOrder; ++j) avg[j] = op::extract_l(op::L_shr(sum[j], down));
    lpcOf(avg, sidLpc_, err);
    if (adapt_ == 0) std::copy(sidLpc_, sidLpc_ + kOrder, noiseLpc_);
    filterCorrelation(sidLpc_, refCorr_, refShift_);
    if (!similarSpectrum(refCorr_, refShift_, acfHist_, energy_[0])) {
      std::copy(cur, cur + kOrder, sidLpc_);
      filterCorrelation(cur, refCorr_, refShift_);
    }
    Vok32s index;
    VOKC_CALL(voksLPCToLSF_G723_16s, sidLpc_, prevLsp_, sidLsp_);
    VOKC_CALL(voksLSFQuant_G723_16s32s, sidLsp_, prevLsp_, &index);
    const Vok16s idx[3] = {static_cast<Vok16s>((index >> 16) & 255), static_cast<Vok16s>((index >> 8) & 255),
                           static_cast<Vok16s>(index & 255)};
    if (VOKC_CALL(voksLSFDecode_G723_16s, idx, prevLsp_, 0, sidLsp_) == vokWrnLsfFloor)
      std::copy(prevLsp_, prevLsp_ + kOrder, sidLsp_);
    line.lsp = index;
    line.sidGain = q;
    gainRef_ = q;
    sidGain_ = decodeSidGain(gainRef_);
  }
  curGain_ = pastKind_ == 1 ? sidGain_
                            : op::extract_h(op::L_add(op::L_mult(curGain_, 0x7000), op::L_mult(sidGain_, 0x1000)));
  comfortExcitation(curGain_, rate_, prevExc_, cngSeed_, line, exc);
  for (int i = 0; i < 4; ++i) {
    const Word16 wt = static_cast<Word16>(-8192 * (i + 1));
    for (int j = 0; j < kOrder; ++j)
      qlpc[kOrder * i + j] =
          op::round_fx(op::L_msu(op::L_mac(op::L_deposit_h(prevLsp_[j]), wt, prevLsp_[j]), wt, sidLsp_[j]));
    VOKC_CALL(voksLSFToLPC_G723_16s_I, qlpc + kOrder * i);
  }
  std::copy(sidLsp_, sidLsp_ + kOrder, prevLsp_);
  pastKind_ = kind;
  return kind;
}

}  // namespace vokc::g723
