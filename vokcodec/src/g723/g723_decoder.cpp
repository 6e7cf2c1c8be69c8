// G.723.1 decoder: LSP decoding and interpolation, excitation (adaptive plus
// fixed codebook), concealment of erased frames, Annex A comfort noise,
// pitch post-filter, synthesis and formant post-filter with gain control.
#include <algorithm>
#include <cstring>

#include "checked_call.h"
#include "g723_codec.h"
#include "g723_ops.h"
#include "g723_tables.h"

namespace vokc::g723 {
namespace {

constexpr int kRateCode[2] = {vokRateG723_63, vokRateG723_53};

// Adds to every sample the samples `period`, 2 `period`, .. earlier of the
// original vector (a pulse train at the pitch period), saturating.
void pulseTrain(Word16* v, int period) {
  Word16 base[kSub];
  std::memcpy(base, v, sizeof base);
  for (int shift = period; shift < kSub; shift += period)
    for (int i = shift; i < kSub; ++i) v[i] = op::add(v[i], base[i - shift]);
}

// Fixed-codebook vector of a subframe from its transmitted fields.
void fixedVector(const SubframeParams& s, int rate, Word16 olp, int subframe, Word16* v) {
  std::memset(v, 0, sizeof(Word16) * kSub);
  const Word16 amp = kPulseAmplitude[s.amp];
  if (rate == kActive63) {
    if (s.pos >= kPositionCodeLimit[subframe]) return;
    int row = 6 - kPulseCount[subframe];
    Word32 rest = s.pos;
    for (int i = 0; i < kSub / 2 && row < 6; ++i) {
      const Word32 step = kPositionCode[row][i];
      if (op::L_sub(rest, step) < 0) {
        ++row;
        v[s.grid + 2 * i] = (s.signs & (1 << (6 - row))) ? static_cast<Word16>(-amp) : amp;
      } else {
        rest = op::L_sub(rest, step);
      }
    }
    if (s.train == 1) pulseTrain(v, olp);
    return;
  }
  // 5.3 kbit/s: four pulses on interleaved tracks, then pitch sharpening.
  Word16 wide[kSub + 4] = {};
  Word16 pos = static_cast<Word16>(s.pos), signs = s.signs;
  for (int k = 0; k < 4; ++k) {
    const int at = ((pos & 7) << 3) + s.grid + 2 * k;
    wide[at] = (signs & 1) ? amp : static_cast<Word16>(-amp);
    pos = op::shr(pos, 3);
    signs = op::shr(signs, 1);
  }
  std::memcpy(v, wide, sizeof(Word16) * kSub);
  const int lag = olp - 1 + s.lagIndex + kSharpenLagOffset[s.gainIndex];
  const Word16 g = kSharpenGain[s.gainIndex];
  if (lag < kSub - 2)
    for (int i = lag; i < kSub; ++i) v[i] = op::add(v[i], op::mult(v[i - lag], g));
}

// Concealment memory of a good frame: the lag (0 = unvoiced) and the energy
// of the last 120 excitation samples, on the normalised buffer.
Word16 concealmentLag(Word16* buf, Word16 olp, Word16& energy, Word16& scale) {
  scale = static_cast<Word16>(scaleBlock(buf, kHistory + kFrame));
  const Word16 centre = std::min<Word16>(olp, kHistory - 3);
  const Word16* tail = buf + kHistory + kFrame - 2 * kSub;
  Word16 lag = centre;
  Word32 best = 0;
  for (int d = centre - 3; d <= centre + 3; ++d) {
    const Word32 c = dot(tail, tail - d, 2 * kSub);
    if (c > best) best = c, lag = static_cast<Word16>(d);
  }
  const Word16 tailEnergy = op::round_fx(dot(tail, tail, 2 * kSub));
  energy = tailEnergy;
  const Word16 lagEnergy = op::round_fx(dot(tail - lag, tail - lag, 2 * kSub));
  const Word16 cross = op::round_fx(best);
  if (cross <= 0) return 0;
  const Word32 test = op::L_msu(op::L_shr(op::L_mult(lagEnergy, tailEnergy), 3), cross, cross);
  return test < 0 ? lag : 0;
}

}  // namespace

Word16 quantiseSidGain(const Word16* energy, const Word16* shift, int nq) {
  Word32 x;
  if (nq == 0) {
    x = op::L_mls(op::L_shl(energy[0], op::sub(16, op::shl(shift[0], 1))), kSidGainFactor[0]);
  } else {
    Word16 low = shift[0];
    for (int i = 1; i < nq; ++i) low = std::min(low, shift[i]);
    x = 0;
    for (int i = 0; i < nq; ++i)
      x = op::L_add(x, op::mult_r(kSidGainFactor[nq], op::shr(energy[i], op::sub(shift[i], low))));
    x = op::L_shl(x, op::sub(15, low));
  }
  if (x >= kSidGainSegment[2]) return 63;
  int seg, bits;
  if (x >= kSidGainSegment[1]) {
    seg = 2, bits = 4;
  } else {
    bits = 3;
    seg = x >= kSidGainSegment[0] ? 1 : 0;
  }
  // Binary search of the level whose square is nearest to x.
  auto level = [&](Word16 j) { return op::add(kSidGainBase[seg], op::shl(j, static_cast<Word16>(seg + 1))); };
  Word16 j = static_cast<Word16>(1 << bits), k = static_cast<Word16>(j >> 1);
  for (int i = 0; i < bits; ++i) {
    const Word16 t = level(j);
    j = x >= op::L_mult(t, t) ? op::add(j, k) : op::sub(j, k);
    k = op::shr(k, 1);
  }
  Word16 t = level(j);
  const Word32 above = op::L_sub(op::L_mult(t, t), x);
  const Word16 base = static_cast<Word16>(seg << 4);
  if (above <= 0) {
    const Word16 j2 = op::add(j, 1);
    t = level(j2);
    const Word32 below = op::L_sub(x, op::L_mult(t, t));
    return above > below ? op::add(base, j) : op::add(base, j2);
  }
  const Word16 j2 = op::sub(j, 1);
  t = level(j2);
  const Word32 below = op::L_sub(x, op::L_mult(t, t));
  return above < below ? op::add(base, j) : op::add(base, j2);
}

// Annex A comfort-noise excitation: random pitch lags and gains through the
// adaptive codebook, plus 11 random pulses per pair of subframes whose
// common gain brings the block energy to the target.
void comfortExcitation(int16_t gain, int rate, int16_t* prevExc, int16_t& seed, FrameParams& line, int16_t* exc) {
  auto rnd = [&](Word16 range) { return op::mult(static_cast<Word16>(nextRandom(seed) & 0x7FFF), range); };
  line.olp[0] = static_cast<Word16>(rnd(21) + 123);
  line.olp[1] = static_cast<Word16>(rnd(19) + 123);
  for (auto& s : line.sub) s.gainIndex = static_cast<Word16>(rnd(50) + 1);
  const Word16 lagIdx[4] = {1, 0, 1, 3};
  for (int i = 0; i < 4; ++i) line.sub[i].lagIndex = lagIdx[i];
  Word16 offset[4], sign[22], where[22];
  for (int b = 0; b < 2; ++b) {
    Word16 bits = rnd(1 << 13);
    offset[2 * b] = bits & 1;
    bits = op::shr(bits, 1);
    offset[2 * b + 1] = static_cast<Word16>(kSub + (bits & 1));
    for (int i = 0; i < 11; ++i) {
      sign[11 * b + i] = op::shl(op::sub(static_cast<Word16>(bits & 2), 1), 14);
      bits = op::shr(bits, 1);
    }
  }
  int np = 0;
  for (int sf = 0; sf < 4; ++sf) {
    Word16 free[kSub / 2];
    for (int i = 0; i < kSub / 2; ++i) free[i] = static_cast<Word16>(i);
    Word16 left = kSub / 2;
    for (int i = 0; i < kPulseCount[sf]; ++i) {
      const Word16 j = rnd(left);
      where[np++] = static_cast<Word16>(2 * free[j] + offset[sf]);
      --left;
      free[j] = free[left];
    }
  }
  for (int b = 0; b < 2; ++b) {
    Word16* blk = exc + 2 * kSub * b;
    for (int h = 0; h < 2; ++h)
      VOKC_CALL(voksDecodeAdaptiveVector_G723_16s, line.olp[b], lagIdx[2 * b + h], line.sub[2 * b + h].gainIndex,
                                             prevExc + kSub * h, blk + kSub * h, kRateCode[rate]);
    Word16 peak = 0;
    for (int i = 0; i < 2 * kSub; ++i) peak = std::max(peak, op::abs_s(blk[i]));
    Word16 sh = 0;
    if (peak != 0) sh = std::max<Word16>(op::sub(4, op::norm_s(peak)), -2);
    Word16 scaled[2 * kSub];
    Word32 energy = 0;
    for (int i = 0; i < 2 * kSub; ++i) {
      scaled[i] = op::shr(blk[i], sh);
      energy = op::L_mac(energy, scaled[i], scaled[i]);
    }
    Word32 acc = 0;
    for (int i = 0; i < 11; ++i) acc = op::L_mac(acc, scaled[where[11 * b + i]], sign[11 * b + i]);
    const Word16 cross = op::extract_h(op::L_shl(acc, 1));
    // Solve for x: energy of (excitation + x pulses) = 120 gain^2.
    const Word16 g60 = op::extract_l(op::L_shr(op::L_mult(gain, kSub), 6));
    const Word32 target = op::L_shr(op::L_mult(g60, gain), static_cast<Word16>(op::add(op::shl(sh, 1), 4)));
    const Word32 c = op::L_mls(op::L_sub(energy, target), 2979);
    const Word16 b0 = op::mult_r(cross, 2979);
    const Word32 disc = op::L_negate(op::L_msu(c, b0, b0));
    Word16 x;
    if (disc <= 0) {
      x = op::negate(b0);
    } else {
      const Word16 root = rootByTrials(disc);
      x = op::sub(root, b0);
      const Word16 other = op::add(b0, root);
      if (op::abs_s(other) < op::abs_s(x)) x = op::negate(other);
    }
    Word16 amp = op::shl(x, op::add(sh, 1));
    amp = std::min<Word16>(std::max<Word16>(amp, -10000), 10000);
    for (int i = 0; i < 11; ++i) {
      const int at = where[11 * b + i];
      blk[at] = op::add(blk[at], op::mult(amp, sign[11 * b + i]));
    }
    std::memmove(prevExc, prevExc + 2 * kSub, sizeof(Word16) * (kHistory - 2 * kSub));
    std::copy(blk, blk + 2 * kSub, prevExc + kHistory - 2 * kSub);
  }
}

Word16 decodeSidGain(Word16 index) {
  Word16 seg = op::shr(index, 4);
  if (seg == 3) seg = 2;
  const Word16 i = op::sub(index, op::shl(seg, 4));
  return op::shl(op::add(op::shl(i, op::add(seg, 1)), kSidGainBase[seg]), 5);
}

Decoder::Decoder(bool postFilter) : post_(postFilter) {
  std::copy(kLspMean, kLspMean + kOrder, prevLsp_);
  std::copy(kLspMean, kLspMean + kOrder, sidLsp_);
}

// LSPs of the four subframes interpolated between the previous and the
// current frame (weights 3/4..0 of the previous one), each turned into LPC.
void Decoder::interpolate(const int16_t* cur, const int16_t* prev, int16_t* lpc) {
  for (int i = 0; i < 4; ++i) {
    const Word16 w = static_cast<Word16>(-8192 * (i + 1));
    for (int j = 0; j < kOrder; ++j)
      lpc[kOrder * i + j] = op::round_fx(op::L_msu(op::L_mac(op::L_deposit_h(prev[j]), w, prev[j]), w, cur[j]));
    VOKC_CALL(voksLSFToLPC_G723_16s_I, lpc + kOrder * i);
  }
}

void Decoder::activeFrame(const FrameParams& p, bool bad, int16_t* exc, int16_t* lpc) {
  errCount_ = bad ? std::min<int16_t>(static_cast<int16_t>(errCount_ + 1), 3) : 0;
  Vok16s lsp[kOrder];
  const Vok16s idx[3] = {static_cast<Vok16s>((p.lsp >> 16) & 255), static_cast<Vok16s>((p.lsp >> 8) & 255),
                         static_cast<Vok16s>(p.lsp & 255)};
  if (VOKC_CALL(voksLSFDecode_G723_16s, idx, prevLsp_, bad, lsp) == vokWrnLsfFloor) std::copy(prevLsp_, prevLsp_ + kOrder, lsp);
  interpolate(lsp, prevLsp_, lpc);
  std::copy(lsp, lsp + kOrder, prevLsp_);

  interGain_ = errCount_ == 0 ? kPulseAmplitude[op::shr(op::add(p.sub[2].amp, p.sub[3].amp), 1)]
                              : op::mult_r(interGain_, 0x6000);
  Word16 buf[kHistory + kFrame];
  std::copy(prevExc_, prevExc_ + kHistory, buf);
  Word16* cur = buf + kHistory;
  if (errCount_ == 0) {
    for (int i = 0; i < 4; ++i) {
      const SubframeParams& s = p.sub[i];
      Word16 acb[kSub];
      fixedVector(s, rate_, p.olp[i >> 1], i, cur + kSub * i);
      VOKC_CALL(voksDecodeAdaptiveVector_G723_16s, p.olp[i >> 1], s.lagIndex, s.gainIndex, buf + kSub * i, acb,
                                              kRateCode[rate_]);
      for (int j = 0; j < kSub; ++j) cur[kSub * i + j] = op::add(op::shl(cur[kSub * i + j], 1), acb[j]);
    }
    std::copy(cur, cur + kFrame, exc);
    // The concealment analysis scales the buffer; the pitch post-filter
    // estimates run on that scaled copy.
    interLag_ = concealmentLag(buf, p.olp[1], sidGain_, curGain_);
    Vok16s pfLag[4] = {}, pfGain[4] = {}, pfScale[4] = {32767, 32767, 32767, 32767};
    if (post_)
      for (int i = 0; i < 4; ++i)
        VOKC_CALL(voksPitchPostFilter_G723_16s, p.olp[i >> 1], buf + kHistory, &pfLag[i], &pfGain[i], &pfScale[i],
                                           static_cast<Vok16s>(i), kRateCode[rate_]);
    std::copy(prevExc_, prevExc_ + kHistory, buf);
    std::copy(exc, exc + kFrame, cur);
    if (post_)
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < kSub; ++j) {
          const int n = kSub * i + j;
          exc[n] = op::round_fx(op::L_mac(op::L_mult(cur[n], pfScale[i]), cur[n + pfLag[i]], pfGain[i]));
        }
    std::copy(prevLsp_, prevLsp_ + kOrder, sidLsp_);
  } else if (errCount_ >= 3) {
    std::fill(exc, exc + kFrame, 0);
    std::fill(buf, buf + kHistory + kFrame, 0);
  } else if (interLag_ != 0) {
    for (int i = 0; i < kFrame; ++i) cur[i] = cur[i - interLag_];
    for (int i = 0; i < kFrame; ++i) exc[i] = cur[i] = op::mult(cur[i], 0x6000);
  } else {
    for (int i = 0; i < kFrame; ++i) exc[i] = op::mult(interGain_, nextRandom(seed_));
    std::fill(buf, buf + kHistory + kFrame, 0);
  }
  std::copy(buf + kFrame, buf + kFrame + kHistory, prevExc_);
  cngSeed_ = 12345;
}

void Decoder::comfortNoise(int kind, const FrameParams& p, int16_t* exc, int16_t* lpc) {
  if (kind == 2) {
    sidGain_ = decodeSidGain(p.sidGain);
    const Vok16s idx[3] = {static_cast<Vok16s>((p.lsp >> 16) & 255), static_cast<Vok16s>((p.lsp >> 8) & 255),
                           static_cast<Vok16s>(p.lsp & 255)};
    if (VOKC_CALL(voksLSFDecode_G723_16s, idx, prevLsp_, 0, sidLsp_) == vokWrnLsfFloor)
      std::copy(prevLsp_, prevLsp_ + kOrder, sidLsp_);
  } else if (pastKind_ == 1) {
    sidGain_ = decodeSidGain(quantiseSidGain(&sidGain_, &curGain_, 0));
  }
  curGain_ = pastKind_ == 1 ? sidGain_
                            : op::extract_h(op::L_add(op::L_mult(curGain_, 0x7000), op::L_mult(sidGain_, 0x1000)));
  FrameParams random;
  comfortExcitation(curGain_, rate_, prevExc_, cngSeed_, random, exc);
  interpolate(sidLsp_, prevLsp_, lpc);
  std::copy(sidLsp_, sidLsp_ + kOrder, prevLsp_);
}

// Formant post-filter: pole-zero filter with the post-filter weights, tilt
// compensation from a smoothed first parcor, gain control to the energy
// of the unfiltered subframe.
void Decoder::postFilter(int16_t* x, const int16_t* lpc) {
  Vok16s coef[2 * kOrder];
  for (int j = 0; j < kOrder; ++j) {
    coef[j] = op::mult_r(lpc[j], kPostZero[j]);
    coef[kOrder + j] = op::mult_r(lpc[j], kPostPole[j]);
  }
  Word16 scaled[kSub];
  std::memcpy(scaled, x, sizeof scaled);
  const int sh = scaleBlock(scaled, kSub);
  Word32 lag1 = 0, energy = op::L_mult(scaled[0], scaled[0]);
  for (int i = 1; i < kSub; ++i) {
    lag1 = op::L_mac(lag1, scaled[i], scaled[i - 1]);
    energy = op::L_mac(energy, scaled[i], scaled[i]);
  }
  const Word32 before = op::L_shr(energy, static_cast<Word16>(2 * sh + 4));
  Word16 k = 0;
  const Word16 high = op::extract_h(energy);
  if (high != 0) {
    const Word32 half = op::L_shr(lag1, 1);
    k = op::div_l(op::L_abs(half), high);
    if (half < 0) k = op::negate(k);
  }
  parcor_ = op::round_fx(op::L_mac(op::L_msu(op::L_deposit_h(parcor_), parcor_, 0x2000), k, 0x2000));
  const Word16 tilt = static_cast<Word16>(op::mult(parcor_, static_cast<Word16>(0xC000)) & 0xFFFC);
  Vok32s out[kSub + 1];
  out[0] = postLast_;
  VOKC_CALL(voksIIR16s_G723_16s32s, coef, x, out + 1, postMem_);
  postLast_ = out[kSub];
  VOKC_CALL(voksTiltCompensation_G723_32s16s, tilt, out + 1, x);
  VOKC_CALL(voksGainControl_G723_16s_I, before, x, &gain_);
}

void Decoder::decode(const uint8_t* bytes, bool erased, int16_t* pcm) {
  FrameParams p;
  bool bad = erased || bytes == nullptr;
  int kind = 1;
  if (!bad) {
    const int type = bytes[0] & 3;
    if (type <= kActive53) rate_ = type;
    bad = !unpackFrame(bytes, p);
    kind = type == kUntransmitted ? 0 : (type == kSid ? 2 : 1);
  }
  if (bad) kind = pastKind_ == 1 ? 1 : 0;
  Word16 exc[kFrame], lpc[4 * kOrder];
  if (kind != 1)
    comfortNoise(kind, p, exc, lpc);
  else
    activeFrame(p, bad, exc, lpc);
  pastKind_ = kind;
  for (int i = 0; i < 4; ++i) {
    Word16* x = exc + kSub * i;
    VOKC_CALL(voksSynthesisFilter_G723_16s, lpc + kOrder * i, x, synthMem_, x);
    if (post_)
      postFilter(x, lpc + kOrder * i);
    else
      for (int j = 0; j < kSub; ++j) x[j] = op::shl(x[j], 1);
  }
  std::copy(exc, exc + kFrame, pcm);
}

}  // namespace vokc::g723
