// G.729 Annex I decoder: 6.4 / 8 / 11.8 kbit/s frames, SID frames and
// untransmitted frames, with frame-erasure concealment, the comfort-noise
// generator, the backward-adaptive LP of the 11.8 kbit/s mode and the
// adaptive post-filter (order 10 or 30).
#include <cstring>

#include "g729_postfilter.h"
#include "g729_subframes.h"
#include "g729b_tables.h"
#include "g729i_common.h"
#include "vokcodec.h"
#include "state_tag.h"
#include "checked_call.h"

using namespace vokc::g729i;

namespace {

struct DecoderState {
  uint32_t tag;
  int16_t oldExc[kFrame + kExcHist];
  int16_t synBuf[kHybridLen];  // kSynHist past samples, then the frame
  int16_t memSyn[kOrderBwd];
  int16_t lspOld[kOrder];
  int16_t lsfMa[4 * kOrder];  // MA predictor memory, newest frame first
  int16_t prevLsf[kOrder];
  int16_t prevMa;
  int16_t sharp;
  int16_t prevT0, prevT0Frac;
  int16_t gainCode, gainPitch;
  int16_t seedFer;
  int16_t pastFtyp;
  int16_t seed;  // comfort noise
  int16_t sidSav, shSidSav;
  int16_t aBwdMem[kMp1Bwd];   // backward filter before the first lost frame
  int16_t aTBwdMem[kMp1Bwd];  // last unsaturated backward filter
  int16_t prevVoicing, prevBfi, prevLpMode, cFeFix, cInt;
  int16_t prevFilter[kMp1Bwd];
  int16_t gainPitMem, gainCodMem, cMuting, countBfi, statBwd;
  int16_t pastQuaEn[4];
  int16_t lspSid[kOrder];
  int16_t sidGain, curGain;
  int16_t bwdDominant;
  int16_t voicing;  // post-filter voicing of the previous frame
  int16_t prevBits;  // bit count of the previous frame (after concealment)
  AdaptivePostFilter post;
  Dominance dominance;
  PitchTrack pitch;
  BackwardLp bwd;
  alignas(16) uint8_t phaseDisp[32];
  alignas(16) uint8_t highPass[64];
};

DecoderState* decState(void* mem) { return alignedState<DecoderState>(mem); }

// The parameters of a received frame and its type; a loss (or a corrupt
// 11.8 kbit/s mode bit) continues the previous frame's type and rate.
struct ReceivedFrame {
  int16_t prm[20] = {};
  int16_t ftyp = kUntransmitted;
  int16_t bfi = 0;
  int16_t lpMode = 0;
  int frameBits = 0;
};

ReceivedFrame receiveFrame(const DecoderState* s, const Vok8u* bits, int nbits, int erased) {
  ReceivedFrame f;
  int16_t* prm = f.prm;
  int16_t& ftyp = f.ftyp;
  int16_t& bfi = f.bfi;
  int16_t& lpMode = f.lpMode;
  bfi = erased ? 1 : 0;
  if (!bfi) {
    switch (nbits) {
      case 0:
        ftyp = kUntransmitted;
        break;
      case kBitsSid:
      case kBitsSidOctet:
        ftyp = kSid;
        unpackParams(bits, kSidBits, 4, prm);
        break;
      case 64:
        ftyp = kRate64;
        unpackParams(bits, kBits64, 10, prm);
        break;
      case 80:
        ftyp = kRate80;
        unpackParams(bits, kBits80, 11, prm);
        prm[3] = static_cast<int16_t>((pitchParity(prm[2]) ^ prm[3]) & 1);  // 1: parity error
        break;
      default:
        ftyp = kRate118;
        lpMode = bits[0] & 1;
        if ((bits[1] & 1) != lpMode) {
          bfi = 1;  // mode bit and its copy disagree
          break;
        }
        if (lpMode == 0) {
          unpackParams(bits + 2, kBits118Fwd, 17, prm);
          prm[3] = static_cast<int16_t>((pitchParity(prm[2]) ^ add(prm[3], static_cast<int16_t>((prm[2] >> 1) & 1))) & 1);
        } else {
          unpackParams(bits + 2, kBits118Bwd, 15, prm);
          prm[1] = static_cast<int16_t>((pitchParity(prm[0]) ^ add(prm[1], static_cast<int16_t>((prm[0] >> 1) & 1))) & 1);
        }
        break;
    }
  }
  int& frameBits = f.frameBits;
  frameBits = nbits == kBitsSidOctet ? kBitsSid : nbits;
  if (bfi) {
    frameBits = s->prevBits < 64 ? 0 : s->prevBits;
    ftyp = s->pastFtyp;
    if (ftyp == kSid) ftyp = kUntransmitted;
    lpMode = ftyp == kRate118 ? s->prevLpMode : 0;  // also when a mode mismatch made the frame bad
  }
  return f;
}

// Comfort noise of an SID or untransmitted frame (or of a loss after one):
// the noise parameters (new SID parameters, or the energy of the last
// speech frame), the excitation, the filters az (order 10) and the
// synthesis.
void decodeNoiseFrame(DecoderState* s, const int16_t* prm, int16_t ftyp, int16_t* exc, int16_t* synth, int16_t* az) {
  const int16_t dif = sub(s->pastFtyp, 1);
  if (ftyp == kSid) {
    s->sidGain = vokc::tables::kSidGain[prm[3] & 31];
    const int16_t idx[3] = {static_cast<int16_t>(prm[0] & 1), static_cast<int16_t>(prm[1] & 31),
                            static_cast<int16_t>(prm[2] & 15)};
    int16_t lsf[kOrder];
    VOKC_CALL(voksLSFDecode_G729B_16s, idx, s->lsfMa, lsf);
    VOKC_CALL(voksLSFToLSP_G729_16s, lsf, s->lspSid);
  } else if (dif > 0) {
    int16_t q;
    s->sidGain = vokc::tables::kSidGain[sidGainIndex(&s->sidSav, &s->shSidSav, 0, q)];
  }
  if (dif > 0)
    s->curGain = s->sidGain;
  else
    s->curGain = add(mult_r(s->curGain, 28672), mult_r(s->sidGain, 4096));
  int16_t gp[2], gc[2], t0s[2];
  comfortExcitation(s->curGain, exc, s->seed, gp, gc, t0s);
  for (int k = 0; k < 2; ++k) VOKC_CALL(voksPhaseDispersionUpdate_G729D_16s, gp[k], gc[k], s->phaseDisp);
  interpolateLpc(s->lspOld, s->lspSid, az);
  std::memcpy(s->lspOld, s->lspSid, sizeof s->lspSid);
  for (int sf = 0; sf < 2; ++sf) {
    const int16_t* a = az + sf * kMp1;
    if (subframeSynthesis(a, kOrder, exc + sf * kSubfr, synth + sf * kSubfr, s->memSyn)) {
      for (auto& e : s->oldExc) e = shr(e, 2);
      subframeSynthesis(a, kOrder, exc + sf * kSubfr, synth + sf * kSubfr, s->memSyn);
    }
    std::memcpy(s->memSyn, synth + sf * kSubfr + kSubfr - kOrderBwd, sizeof s->memSyn);
  }
  s->sharp = kSharpMin;
  s->cInt = kCIntReset;
  s->statBwd = 0;
  s->pitch.stat = 0;
  holdForwardFilter(s->prevFilter, az);
}

// A speech frame or its concealment: the filters (forward from the LSP
// words; backward: aBwd, interpolated from the previous frame's filter),
// then per subframe the delay, the code vector of the rate, the gains
// (muted during long losses at 11.8 kbit/s), excitation and synthesis.
// Returns the filter order; t0First receives the first subframe's delay.
int decodeSpeechFrame(DecoderState* s, const int16_t* prm, int16_t bfi, int16_t ftyp, int16_t lpMode, int16_t voicing,
                      int16_t* aBwd, int16_t* exc, int16_t* synth, int16_t* az, int16_t& t0First) {
  const int16_t rate = static_cast<int16_t>(ftyp - 2);  // 0: 6.4, 1: 8, 2: 11.8 kbit/s
  int order = kOrder;
  s->seed = kNoiseSeed;
  const int16_t* parm = prm;
  const int16_t* a;
  if (lpMode == 0) {
    // Forward LP: decoded LSPs (or the concealed ones).
    int16_t lspNew[kOrder];
    decodeLsp(parm, bfi != 0, s->lsfMa, s->prevLsf, s->prevMa, lspNew);
    parm += 2;
    forwardFilters(s->lspOld, lspNew, s->prevLpMode, az);
    std::memcpy(s->lspOld, lspNew, sizeof lspNew);
    s->cInt = kCIntReset;
    order = kOrder;
    holdForwardFilter(s->prevFilter, az);
  } else {
    // Backward LP: subframe 0 takes the mean of the previous and the
    // (interpolated) current filter.
    interpolateBackward(aBwd, s->prevFilter, s->cInt);
    std::memcpy(az, aBwd, 2 * kMp1Bwd * sizeof(int16_t));
    order = kOrderBwd;
    std::memcpy(s->prevFilter, aBwd + kMp1Bwd, sizeof s->prevFilter);
  }
  a = az;

  t0First = decodeSpeechSubframes(s, SpeechRate{rate == 0, rate == 2}, lpMode != 0, bfi, voicing, parm, a, order,
                                  s->seedFer, s->phaseDisp, exc, synth);
  return order;
}

}  // namespace

extern "C" {

VokResult vokcG729IDecoderGetSize(int* size) { return alignedStateSize<DecoderState>(size); }

static VokResult g729IDecoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  DecoderState* s = decState(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729IDecoder;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  resetPredictors(s->lsfMa, s->pastQuaEn);
  std::memcpy(s->prevLsf, kLsfReset, sizeof kLsfReset);
  s->sharp = kSharpMin;
  s->prevT0 = 60;
  s->aBwdMem[0] = 4096;
  s->aTBwdMem[0] = 4096;
  s->cInt = kCIntReset;
  s->prevFilter[0] = 4096;
  s->cMuting = 32767;
  s->seedFer = 21845;
  s->pastFtyp = kRate80;
  s->seed = kNoiseSeed;
  s->shSidSav = 1;
  std::memcpy(s->lspSid, kLspSidReset, sizeof kLspSidReset);
  s->sidGain = vokc::tables::kSidGain[0];
  s->voicing = 60;
  s->prevBits = 80;
  s->post.reset();
  s->pitch.prevPitch = 30;
  s->bwd.reset();
  int size = 0;
  VOKC_CALL(voksPhaseDispersionGetStateSize_G729D_16s, &size);
  if (size > static_cast<int>(sizeof s->phaseDisp)) return vokErrInternal;
  VOKC_CALL(voksPhaseDispersionInit_G729D_16s, s->phaseDisp);
  return initHighPass(s->highPass, sizeof s->highPass, true);
}

VokResult vokcG729IDecoderInit(void* mem) {
  return vokc::guarded([&] { return g729IDecoderInit(mem); });
}

static VokResult g729IDecode(void* mem, const Vok8u* bits, int nbits, int erased, Vok16s* pcm) {
  if (!mem || !pcm || (!bits && nbits > 0 && !erased)) return vokErrNullPtr;
  if (decState(mem)->tag != vokc::kTagG729IDecoder) return vokErrContextMatch;
  if (nbits != 0 && nbits != kBitsSid && nbits != kBitsSidOctet && nbits != 64 && nbits != 80 && nbits != 118)
    return vokErrSize;
  DecoderState* s = decState(mem);

  const ReceivedFrame f = receiveFrame(s, bits, nbits, erased);
  const int16_t* prm = f.prm;
  const int16_t ftyp = f.ftyp, bfi = f.bfi, lpMode = f.lpMode;
  const int frameBits = f.frameBits;
  int16_t voicing = s->voicing;
  if (ftyp == kRate118 && s->prevBfi) voicing = s->prevVoicing;
  if (!bfi) {
    s->cMuting = 32767;
    s->countBfi = 0;
  }

  int16_t* synth = s->synBuf + kSynHist;
  int16_t* exc = s->oldExc + kExcHist;
  int16_t aBwd[2 * kMp1Bwd];  // interpolated then current backward filter
  if (ftyp == kRate118) {
    s->bwd.filter(s->synBuf, s->aTBwdMem, aBwd + kMp1Bwd);
  }
  std::memmove(s->synBuf, s->synBuf + kFrame, kSynHist * sizeof(int16_t));

  // After a loss, fade from the filter held at the loss.
  if (lpMode == 1 && s->cFeFix != 0) fadeFromHeld(aBwd + kMp1Bwd, s->aBwdMem, s->cFeFix);
  if (bfi && !s->prevBfi && s->pastFtyp > kRate80) std::memcpy(s->aBwdMem, aBwd + kMp1Bwd, sizeof s->aBwdMem);

  int16_t az[2 * kMp1Bwd];  // filters handed to the post-filter
  int order = kOrder;
  int16_t t0First = s->prevT0;
  if (ftyp < kRate64) {
    decodeNoiseFrame(s, prm, ftyp, exc, synth, az);
  } else {
    order = decodeSpeechFrame(s, prm, bfi, ftyp, lpMode, voicing, aBwd, exc, synth, az, t0First);
  }

  // Frame energy of the excitation, for a later SID gain.
  if (!bfi) {
    Word32 t = 0;
    for (int i = 0; i < kFrame; ++i) t = L_mac(t, exc[i], exc[i]);
    const int16_t sh = norm_l(t);
    s->sidSav = round_fx(L_shl(t, sh));
    s->shSidSav = sub(16, sh);
  }
  s->pastFtyp = ftyp;
  if (energyDb(synth, kFrame) >= 8192) s->dominance.update(s->bwdDominant, lpMode);
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(int16_t));
  s->prevBfi = bfi;
  s->prevLpMode = lpMode;
  s->prevVoicing = voicing;
  ageHeldFilter(bfi, lpMode, s->bwdDominant, s->cFeFix);

  // Post-filter: lighter at 11.8 kbit/s while the backward mode dominates;
  // comfort noise skips its harmonic stage.
  const int longH = s->post.settle(frameBits == 118, lpMode == 1 && s->bwdDominant == 1);
  s->voicing = s->post.frame(t0First, synth, az, order, longH, ftyp > kSid, pcm);
  VOKC_CALL(voksHighPassFilter_G729_16s_ISfs, pcm, kFrame, 13, s->highPass);
  s->prevBits = static_cast<int16_t>(frameBits);
  return vokOk;
}

VokResult vokcG729IDecode(void* mem, const Vok8u* bits, int nbits, int erased, Vok16s* pcm) {
  return vokc::guarded([&] { return g729IDecode(mem, bits, nbits, erased, pcm); });
}

}  // extern "C"
