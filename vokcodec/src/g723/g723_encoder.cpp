// G.723.1 encoder: LP analysis on the look-ahead block, LSP quantisation,
// formant and harmonic noise weighting, then per subframe the impulse
// response, ringing subtraction, adaptive and fixed codebooks and the
// memory updates (with the error-taming estimates).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "checked_call.h"
#include "g723_codec.h"
#include "g723_ops.h"
#include "g723_tables.h"

namespace vokc::g723 {
namespace {

constexpr int kRateCode[2] = {vokRateG723_63, vokRateG723_53};
constexpr int kLook = 120;  // samples of the previous frame kept for the LP blocks

// E_a E_b of two subframes (exact energies, as a double: only compared).
double energyProduct(const Word16* a, const Word16* b) {
  int64_t ea = 0, eb = 0;
  for (int i = 0; i < kSub; ++i) {
    ea += a[i] * a[i];
    eb += b[i] * b[i];
  }
  return static_cast<double>(ea) * static_cast<double>(eb);
}

// out[n] = sum a[j] h[n - j], j = 0..n; callers have bounded it inside
// 31 bits.
void convolve(const Word16* a, const Word16* h, int32_t* out) {
  for (int n = 0; n < kSub; ++n) {
    int32_t acc = 0;
    for (int j = 0; j <= n; ++j) acc += a[j] * h[n - j];
    out[n] = acc;
  }
}

// Pitch gains of the taming tables (gain x 8192) per gain-vector entry.
Word16 tamingGain(int rate, Word16 olp, Word16 gainIndex);

}  // namespace

Encoder::Encoder(bool highPass, bool dtx) : highPass_(highPass), dtx_(dtx) {
  std::copy(kLspMean, kLspMean + kOrder, prevLsp_);
  std::fill(tamingErr_, tamingErr_ + 5, 4);
}

// Impulse response of synthesis, formant weighting and harmonic shaping in
// one accumulator (the weighting runs on the unrounded synthesis sum,
// doubled once more than in the ringing filters).
void Encoder::impulseResponse(const int16_t* lpc, const int16_t* per, Word16 harmLag, Word16 harmGain, int16_t* h) {
  Word16 fir[kOrder] = {}, iir[kOrder] = {}, past[kHistory + kSub] = {};
  Word32 acc = 0x04000000;
  for (int i = 0; i < kSub; ++i) {
    for (int j = 0; j < kOrder; ++j) acc = op::L_mac(acc, lpc[j], fir[j]);
    const Word32 synth = op::L_shl(acc, 2);
    for (int j = 0; j < kOrder; ++j) acc = op::L_msu(acc, per[j], fir[j]);
    acc = op::L_shl(acc, 1);
    for (int j = kOrder - 1; j > 0; --j) fir[j] = fir[j - 1];
    fir[0] = op::round_fx(synth);
    for (int j = 0; j < kOrder; ++j) acc = op::L_mac(acc, per[kOrder + j], iir[j]);
    for (int j = kOrder - 1; j > 0; --j) iir[j] = iir[j - 1];
    iir[0] = op::round_fx(op::L_shl(acc, 2));
    past[kHistory + i] = iir[0];
    h[i] = op::round_fx(op::L_msu(op::L_deposit_h(iir[0]), harmGain, past[kHistory - harmLag + i]));
    acc = 0;
  }
}

// Zero-input response of the synthesis and weighting filters (from their
// current memories, left unchanged) with harmonic shaping, removed from the
// target.
void Encoder::subtractRinging(int16_t* target, const int16_t* lpc, const int16_t* per, Word16 harmLag,
                              Word16 harmGain) {
  Vok16s synthMem[kOrder], mem[2 * kOrder];
  std::copy(ringMem_, ringMem_ + kOrder, synthMem);
  std::copy(ringMem_, ringMem_ + 2 * kOrder, mem);
  const Vok16s zero[kSub] = {};
  Vok32s sum[kSub];
  Word16 past[kHistory + kSub];
  std::copy(prevErr_, prevErr_ + kHistory, past);
  VOKC_CALL(voksSynthesisFilter_G723_16s32s, lpc, zero, sum, synthMem);
  VOKC_CALL(voksIIR16s_G723_32s16s_Sfs, per, sum, 2, past + kHistory, mem);
  for (int i = 0; i < kSub; ++i)
    target[i] = op::round_fx(op::L_mac(op::L_deposit_h(op::sub(target[i], past[kHistory + i])), harmGain,
                                       past[kHistory - harmLag + i]));
}

// Runs the excitation through synthesis and weighting to update their
// memories and the weighted-error history.
void Encoder::updateRinging(int16_t* exc, const int16_t* lpc, const int16_t* per) {
  Vok16s synthMem[kOrder];
  std::copy(ringMem_, ringMem_ + kOrder, synthMem);
  Vok32s sum[kSub];
  Vok16s out[kSub];
  VOKC_CALL(voksSynthesisFilter_G723_16s32s, lpc, exc, sum, synthMem);
  VOKC_CALL(voksIIR16s_G723_32s16s_Sfs, per, sum, 2, out, ringMem_);
  std::memmove(prevErr_, prevErr_ + kSub, sizeof(Word16) * (kHistory - kSub));
  std::copy(out, out + kSub, prevErr_ + kHistory - kSub);
}

// Excitation-error estimates for taming: the worst error reachable through
// the pitch predictor, per 30-sample zone of the past excitation.
void Encoder::updateTaming(Word16 olp, Word16 lagIndex, Word16 gainIndex) {
  const Word16 lag = static_cast<Word16>(olp - 1 + lagIndex);
  const Word16 beta = tamingGain(rate_, olp, gainIndex);
  auto grow = [&](Word32 e) { return op::L_add(4, op::L_shl(op::L_mls(e, beta), 2)); };
  Word32 w0, w1;
  if (lag <= kSub / 2) {
    w0 = w1 = grow(tamingErr_[0]);
  } else {
    const Word16 zone = op::mult(lag, 1092);
    if (30 * (zone + 1) != lag) {
      if (zone == 1) {
        w0 = grow(tamingErr_[0]);
        w1 = grow(tamingErr_[1]);
        w0 = w1 = std::max(w0, w1);
      } else {
        w0 = grow(tamingErr_[zone - 2]);
        const Word32 mid = grow(tamingErr_[zone - 1]);
        w0 = std::max(w0, mid);
        w1 = std::max(grow(tamingErr_[zone]), mid);
      }
    } else {
      w0 = grow(tamingErr_[zone - 1]);
      w1 = grow(tamingErr_[zone]);
    }
  }
  tamingErr_[4] = tamingErr_[2];
  tamingErr_[3] = tamingErr_[1];
  tamingErr_[2] = tamingErr_[0];
  tamingErr_[0] = w0;
  tamingErr_[1] = w1;
}

void Encoder::encode(const int16_t* pcm, int rate, uint8_t* out, std::size_t& size) {
  rate_ = rate == kActive53 ? kActive53 : kActive63;
  if (rate_ == kActive53) acelpBudget_ = 120;  // search budget renewed every 5.3 kbit/s frame
  FrameParams line;
  line.type = rate_;
  Word16 x[kFrame];
  if (highPass_) {
    VOKC_CALL(voksHighPassFilter_G723_16s, pcm, x, hpMem_);
  } else {
    for (int i = 0; i < kFrame; ++i) x[i] = op::shr(pcm[i], 1);
  }

  // LP analysis of the four blocks centred on the subframes (one subframe
  // of look-ahead), with the sine detector.
  Word16 block[kLook + kFrame], unq[4 * kOrder], acf[4 * 11], acfExp[4];
  std::copy(prevDat_, prevDat_ + kLook, block);
  std::copy(x, x + kFrame, block + kLook);
  for (int k = 0; k < 4; ++k) {
    Vok16s err;
    VOKC_CALL(voksAutoCorr_G723_16s, block + kSub * k, &acfExp[k], acf + 11 * k);
    VOKC_CALL(voksLevinsonDurbin_G723_16s, acf + 11 * k, &sineDet_, &err, unq + kOrder * k);
  }
  sineDet_ = static_cast<Word16>(sineDet_ & 0x7FFF);
  if (__builtin_popcount(static_cast<unsigned>(sineDet_)) >= 14) sineDet_ = static_cast<Word16>(sineDet_ | 0x8000);

  if (dtx_) keepCorrelations(acf, acfExp);

  Vok16s lsp[kOrder];
  VOKC_CALL(voksLPCToLSF_G723_16s, unq + 3 * kOrder, prevLsp_, lsp);
  const bool active = !dtx_ || voiceActivity(x);
  Vok32s lspIndex;
  VOKC_CALL(voksLSFQuant_G723_16s32s, lsp, prevLsp_, &lspIndex);
  line.lsp = lspIndex;
  // The frame coded now is delayed by one subframe.
  std::copy(block + kSub, block + kSub + kFrame, x);
  std::copy(block + kFrame, block + kFrame + kLook, prevDat_);

  // Formant perceptual weighting.
  Vok16s per[4 * 2 * kOrder];
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < kOrder; ++j) {
      per[2 * kOrder * k + j] = op::mult_r(unq[kOrder * k + j], kWeightZero[j]);
      per[2 * kOrder * k + kOrder + j] = op::mult_r(unq[kOrder * k + j], kWeightPole[j]);
    }
  for (int k = 0; k < 4; ++k) VOKC_CALL(voksIIR16s_G723_16s_I, per + 2 * kOrder * k, x + kSub * k, wghtMem_);

  // Open-loop lags and harmonic shaping on the scaled weighted speech.
  Word16 w[kHistory + kFrame];
  std::copy(prevWgt_, prevWgt_ + kHistory, w);
  std::copy(x, x + kFrame, w + kHistory);
  scaleBlock(w, kHistory + kFrame);
  for (int h = 0; h < 2; ++h) VOKC_CALL(voksOpenLoopPitchSearch_G723_16s, w + kHistory + 2 * kSub * h, &line.olp[h]);
  lags_[2] = line.olp[0];
  lags_[3] = line.olp[1];
  if (!active) {
    // Silence: SID or nothing; the comfort-noise excitation still runs
    // through the coder's memories.
    std::copy(x + kFrame - kHistory, x + kFrame, prevWgt_);
    Vok16s qlpc[4 * kOrder];
    const int kind = silenceFrame(line, x, qlpc);
    line.type = kind == 2 ? kSid : kUntransmitted;
    for (int i = 0; i < 4; ++i) {
      updateTaming(line.olp[i >> 1], line.sub[i].lagIndex, line.sub[i].gainIndex);
      updateRinging(x + kSub * i, qlpc + kOrder * i, per + 2 * kOrder * i);
    }
    size = packFrame(line, out);
    return;
  }
  Vok16s harmLag[4], harmGain[4];
  for (int i = 0; i < 4; ++i)
    VOKC_CALL(voksHarmonicSearch_G723_16s, line.olp[i >> 1], w + kHistory + kSub * i, &harmLag[i], &harmGain[i]);
  std::copy(prevWgt_, prevWgt_ + kHistory, w);
  std::copy(x, x + kFrame, w + kHistory);
  std::copy(w + kFrame, w + kFrame + kHistory, prevWgt_);
  for (int i = 0; i < 4; ++i)
    for (int n = 0; n < kSub; ++n) {
      const int at = kHistory + kSub * i + n;
      x[kSub * i + n] = op::round_fx(op::L_msu(op::L_deposit_h(w[at]), harmGain[i], w[at - harmLag[i]]));
    }

  // Quantised LP filters of the subframes.
  Vok16s qlsp[kOrder], qlpc[4 * kOrder];
  const Vok16s idx[3] = {static_cast<Vok16s>((lspIndex >> 16) & 255), static_cast<Vok16s>((lspIndex >> 8) & 255),
                         static_cast<Vok16s>(lspIndex & 255)};
  if (VOKC_CALL(voksLSFDecode_G723_16s, idx, prevLsp_, 0, qlsp) == vokWrnLsfFloor)
    std::copy(prevLsp_, prevLsp_ + kOrder, qlsp);
  for (int i = 0; i < 4; ++i) {
    const Word16 wt = static_cast<Word16>(-8192 * (i + 1));
    for (int j = 0; j < kOrder; ++j)
      qlpc[kOrder * i + j] =
          op::round_fx(op::L_msu(op::L_mac(op::L_deposit_h(prevLsp_[j]), wt, prevLsp_[j]), wt, qlsp[j]));
    VOKC_CALL(voksLSFToLPC_G723_16s_I, qlpc + kOrder * i);
  }
  std::copy(qlsp, qlsp + kOrder, prevLsp_);

  for (int i = 0; i < 4; ++i) {
    Word16* t = x + kSub * i;
    const Vok16s* lpc = qlpc + kOrder * i;
    const Vok16s* pw = per + 2 * kOrder * i;
    SubframeParams& s = line.sub[i];
    Word16 h[kSub];
    impulseResponse(lpc, pw, harmLag[i], harmGain[i], h);
    subtractRinging(t, lpc, pw, harmLag[i], harmGain[i]);
    // Adaptive codebook around the open-loop lag (even subframes) or the
    // lag chosen in the previous subframe (odd ones).
    Word16& olp = line.olp[i >> 1];
    if ((i & 1) == 0) {
      if (olp == 18) olp = 19;
      if (olp > kHistory - 5) olp = kHistory - 5;
    }
    Vok16s lagIndex, gainIndex;
    VOKC_CALL(voksAdaptiveCodebookSearch_G723, olp, t, h, prevExc_, tamingErr_, &lagIndex, &gainIndex,
                                          static_cast<Vok16s>(i), sineDet_, kRateCode[rate_]);
    if ((i & 1) == 0) {
      olp = static_cast<Word16>(olp - 1 + lagIndex);
      lagIndex = 1;
    }
    s.lagIndex = lagIndex;
    s.gainIndex = gainIndex;
    Vok16s acb[kSub];
    VOKC_CALL(voksDecodeAdaptiveVector_G723_16s, olp, lagIndex, gainIndex, prevExc_, acb, kRateCode[rate_]);
    // Target less the filtered adaptive vector.  Each chain starts within
    // 2^30 and moves by at most 2 sqrt(E_acb E_h) (Cauchy-Schwarz): below
    // 2^30 as well, no step saturates and the exact sum is the chain.
    if (energyProduct(acb, h) < 2.88e17) {
      int32_t conv[kSub];
      convolve(acb, h, conv);
      for (int n = 0; n < kSub; ++n) t[n] = op::round_fx(op::L_shl(t[n] * 32768 - 2 * conv[n], 1));
    } else {
      for (int n = kSub - 1; n >= 0; --n) {
        Word32 acc = op::L_shr(op::L_deposit_h(t[n]), 1);
        for (int j = 0; j <= n; ++j) acc = op::L_msu(acc, acb[j], h[n - j]);
        t[n] = op::round_fx(op::L_shl(acc, 1));
      }
    }
    // Fixed codebook.
    Vok16s fixed[kSub];
    if (rate_ == kActive63) {
      VOKC_CALL(voksMPMLQFixedCodebookSearch_G723, olp, h, t, fixed, &s.grid, &s.train, &s.amp, &s.signs, &s.pos,
                                              static_cast<Vok16s>(i));
    } else {
      acelp(s, olp, h, t, fixed);
    }
    // Excitation = 2 x fixed + adaptive; history and memories.
    std::memmove(prevExc_, prevExc_ + kSub, sizeof(Word16) * (kHistory - kSub));
    for (int n = 0; n < kSub; ++n) {
      t[n] = op::add(op::shl(fixed[n], 1), acb[n]);
      prevExc_[kHistory - kSub + n] = t[n];
    }
    updateTaming(olp, s.lagIndex, s.gainIndex);
    updateRinging(t, lpc, pw);
  }
  pastKind_ = 1;
  cngSeed_ = 12345;
  size = packFrame(line, out);
}

namespace {

Word16 tamingGain(int rate, Word16 olp, Word16 gainIndex) {
  const bool big = rate != kActive63 || olp >= kSub - 2;
  return big ? kPitchGainBound170[gainIndex] : kPitchGainBound85[gainIndex];
}

}  // namespace

}  // namespace vokc::g723

namespace vokc::g723 {

// 5.3 kbit/s fixed codebook: the response is halved and sharpened at the
// pitch lag, the four pulses searched on the backward-filtered target, and
// one gain quantised for the filtered codeword.
void Encoder::acelp(SubframeParams& s, int16_t olp, const int16_t* h, int16_t* target, int16_t* fixed) {
  const int lag = olp - 1 + s.lagIndex + kSharpenLagOffset[s.gainIndex];
  const Word16 sharpen = kSharpenGain[s.gainIndex];
  Word16 hs[kSub];
  for (int i = 0; i < kSub; ++i) hs[i] = op::shr(h[i], 1);
  if (lag < kSub - 2)
    for (int i = lag; i < kSub; ++i) hs[i] = op::add(hs[i], op::mult(hs[i - lag], sharpen));
  Vok16s rr[416];
  VOKC_CALL(voksToeplizMatrix_G723_16s, hs, rr);
  // Backward-filtered target scaled so its peak uses about 13 bits.
  Word32 back[kSub], peak = 0;
  // Exact when E_target E_hs < 2^60: no partial sum of the doubled
  // products then reaches 2^31 (Cauchy-Schwarz).
  const bool exact = energyProduct(target, hs) < 1.15e18;
  for (int i = 0; i < kSub; ++i) {
    Word32 acc = 0;
    if (exact) {
      for (int j = i; j < kSub; ++j) acc += target[j] * hs[j - i];
      acc *= 2;
    } else {
      for (int j = i; j < kSub; ++j) acc = op::L_mac(acc, target[j], hs[j - i]);
    }
    back[i] = acc;
    peak = std::max(peak, op::L_abs(acc));
  }
  const Word16 down = static_cast<Word16>(18 - std::min<Word16>(op::norm_l(peak), 16));
  Vok16s dn[kSub];
  for (int i = 0; i < kSub; ++i) dn[i] = op::extract_l(op::L_shr(back[i], down));
  if (acelpBudget_ < 0) acelpBudget_ = 0;
  Vok16s signs[4], pos[4], shift, pulses[kSub];
  VOKC_CALL(voksACELPFixedCodebookSearch_G723_16s, dn, rr, signs, pos, &shift, pulses, &acelpBudget_);
  // Filtered codeword and its quantised gain.
  Word16 y[kSub] = {};
  for (int k = 0; k < 4; ++k)
    if (pos[k] < kSub)
      for (int i = pos[k]; i < kSub; ++i)
        y[i] = signs[k] > 0 ? op::add(y[i], hs[i - pos[k]]) : op::sub(y[i], hs[i - pos[k]]);
  for (auto& v : y) v = op::shr(v, 3);
  Word16 level = 0;
  const Word32 xy = dot(target, y, kSub);
  const Word16 nxy = op::norm_l(xy);
  const Word16 cxy = op::extract_h(op::L_shl(xy, nxy));
  if (cxy > 0) {
    const Word32 yy = dot(y, y, kSub);
    const Word16 nyy = op::norm_l(yy);
    const Word16 cyy = op::extract_h(op::L_shl(yy, nyy));
    const Word16 g = op::shr(op::div_s(op::shr(cxy, 1), cyy), op::sub(op::add(nxy, 5), nyy));
    Word16 dist = op::abs_s(op::sub(g, kPulseAmplitude[0]));
    for (int i = 1; i < 24; ++i) {
      const Word16 d = op::abs_s(op::sub(g, kPulseAmplitude[i]));
      if (d < dist) dist = d, level = static_cast<Word16>(i);
    }
  }
  const Word16 amp = kPulseAmplitude[level];
  for (int i = 0; i < kSub; ++i) fixed[i] = static_cast<Word16>(pulses[i] * amp);
  if (lag < kSub - 2)
    for (int i = lag; i < kSub; ++i) fixed[i] = op::add(fixed[i], op::mult(fixed[i - lag], sharpen));
  s.pos = (pos[0] >> 3) + ((pos[1] >> 3) << 3) + ((pos[2] >> 3) << 6) + ((pos[3] >> 3) << 9);
  s.signs = static_cast<int16_t>((signs[0] > 0) + 2 * (signs[1] > 0) + 4 * (signs[2] > 0) + 8 * (signs[3] > 0));
  s.grid = shift;
  s.amp = level;
  s.train = 0;
}

}  // namespace vokc::g723
