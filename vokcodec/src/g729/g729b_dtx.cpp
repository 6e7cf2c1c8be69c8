// G.729 Annex B: voice activity detection, DTX decisions, SID parameters and
// comfort-noise excitation, in the fixed-point arithmetic of the standard.
#include "g729b_dtx.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "g729_common.h"
#include "g729b_tables.h"
#include "checked_call.h"

namespace vokc::g729b {

using namespace vokc::g729;

namespace {

// DTX constants.
constexpr int16_t kFrSidMin = 3;        // frames between two SID frames at least
constexpr int16_t kFracThresh1 = 4855;  // filter change that asks for a new SID frame
constexpr int16_t kFracThresh2 = 3161;  // filter change that keeps the current filter
constexpr int16_t kGainSmooth0 = 28672; // comfort-noise gain smoothing, old part
constexpr int16_t kGainSmooth1 = 4096;  // and new part

// Levinson on a record of upper words.
void levinsonWords(StableLp& lp, const int16_t* words, int16_t* a, int16_t* err) {
  int32_t r[kMp1];
  for (int i = 0; i < kMp1; ++i) r[i] = L_deposit_h(words[i]);
  int16_t rc[kOrder];
  lp.solve(r, a, rc, err);
}

void updateSumAcf(CngEncoder& c) {
  std::memmove(c.sumAcf + kMp1, c.sumAcf, 2 * kMp1 * sizeof(int16_t));
  c.shSumAcf[2] = c.shSumAcf[1];
  c.shSumAcf[1] = c.shSumAcf[0];
  sumAutocorr(c.acf, c.shAcf, 2, c.sumAcf, &c.shSumAcf[0]);
}

// Filter of the long-term average autocorrelation.
void pastFilter(CngEncoder& c, StableLp& lp, int16_t* coeff) {
  int16_t s[kMp1], sh;
  sumAutocorr(c.sumAcf, c.shSumAcf, 3, s, &sh);
  if (s[0] == 0) {
    coeff[0] = 4096;
    for (int i = 1; i <= kOrder; ++i) coeff[i] = 0;
    return;
  }
  levinsonWords(lp, s, coeff, nullptr);
}

}  // namespace

// ---- encoder DTX ------------------------------------------------------------

void cngEncoderInit(CngEncoder& c) {
  std::memset(&c, 0, sizeof c);
  for (auto& s : c.shSumAcf) s = 40;
  for (auto& s : c.shAcf) s = 40;
  for (auto& s : c.shEner) s = 40;
}

void cngUpdate(CngEncoder& c, const int32_t* r, int16_t expR0, int16_t vad) {
  std::memmove(c.acf + kMp1, c.acf, kMp1 * sizeof(int16_t));
  c.shAcf[1] = c.shAcf[0];
  c.shAcf[0] = negate(add(16, expR0));
  for (int i = 0; i < kMp1; ++i) c.acf[i] = extract_h(r[i]);
  c.frCur = add(c.frCur, 1);
  if (c.frCur == 2) {
    c.frCur = 0;
    if (vad != 0) updateSumAcf(c);
  }
}

int cngEncode(CngEncoder& c, StableLp& lp, bool annexA, int16_t pastVad, int16_t* lspOldQ, int16_t* lsfMa,
              int16_t* exc, int16_t& seed, int16_t* aq, int16_t* prm, int16_t* gp, int16_t* t0) {
  c.ener[1] = c.ener[0];
  c.shEner[1] = c.shEner[0];
  int16_t curAcf[kMp1];
  sumAutocorr(c.acf, c.shAcf, 2, curAcf, &c.shEner[0]);
  int16_t curCoeff[kMp1] = {4096};
  if (curAcf[0] == 0)
    c.ener[0] = 0;
  else
    levinsonWords(lp, curAcf, curCoeff, &c.ener[0]);

  Word16 energyq = 0, gainIndex = 0;
  int type;
  if (pastVad != 0) {
    type = kSid;
    c.countFr0 = 0;
    c.nbEner = 1;
    gainIndex = sidGainIndex(c.ener, c.shEner, c.nbEner, energyq);
  } else {
    c.nbEner = add(c.nbEner, 1);
    if (c.nbEner > 2) c.nbEner = 2;
    gainIndex = sidGainIndex(c.ener, c.shEner, c.nbEner, energyq);
    if (filterDiffers(c.rCoeff, c.shRCoeff, curAcf, c.ener[0], kFracThresh1)) c.flagChange = 1;
    if (sub(abs_s(sub(c.prevEnergy, energyq)), 2) > 0) c.flagChange = 1;
    c.countFr0 = add(c.countFr0, 1);
    if (c.countFr0 < kFrSidMin) {
      type = kUntransmitted;
    } else {
      type = c.flagChange != 0 ? kSid : kUntransmitted;
      c.countFr0 = kFrSidMin;
    }
  }

  if (type == kSid) {
    c.countFr0 = 0;
    c.flagChange = 0;
    pastFilter(c, lp, c.pastCoeff);
    filterAutocorr(c.pastCoeff, c.rCoeff, c.shRCoeff);
    const int16_t* coeff = c.pastCoeff;
    if (filterDiffers(c.rCoeff, c.shRCoeff, curAcf, c.ener[0], kFracThresh2)) {
      coeff = curCoeff;
      filterAutocorr(curCoeff, c.rCoeff, c.shRCoeff);
    }
    int16_t lsp[kOrder], lsf[kOrder], lsfq[kOrder];
    if (annexA)
      VOKC_CALL(voksLPCToLSP_G729A_16s, coeff, lspOldQ, lsp);
    else
      VOKC_CALL(voksLPCToLSP_G729_16s, coeff, lspOldQ, lsp);
    VOKC_CALL(voksLSPToLSF_G729_16s, lsp, lsf);
    VOKC_CALL(voksLSFQuant_G729B_16s, lsf, lsfMa, lsfq, prm);
    VOKC_CALL(voksLSFToLSP_G729_16s, lsfq, c.lspSidQ);
    c.prevEnergy = energyq;
    prm[3] = gainIndex;
    c.sidGain = vokc::tables::kSidGain[gainIndex];
  }

  if (pastVad != 0)
    c.curGain = c.sidGain;
  else
    c.curGain = add(mult_r(c.curGain, kGainSmooth0), mult_r(c.sidGain, kGainSmooth1));
  comfortExcitation(c.curGain, exc, seed, gp, nullptr, t0);
  interpolateLpc(lspOldQ, c.lspSidQ, aq);
  std::memcpy(lspOldQ, c.lspSidQ, sizeof c.lspSidQ);
  if (c.frCur == 0) updateSumAcf(c);
  return type;
}

// ---- decoder ------------------------------------------------------------------

void cngDecoderInit(CngDecoder& c) {
  static const int16_t kLspSidStart[kOrder] = {31441, 27566, 21458, 13612, 4663, -4663, -13612, -21458, -27566, -31441};
  std::memcpy(c.lspSid, kLspSidStart, sizeof c.lspSid);
  c.curGain = 0;
  c.sidGain = vokc::tables::kSidGain[0];
  c.sidSav = 0;
  c.shSidSav = 1;
}

void cngSaveEnergy(CngDecoder& c, const int16_t* exc) {
  // Every term of the doubled sum of squares is non-negative, so the
  // saturating chain equals the exact sum saturated once.
  int64_t sum = 0;
  int i = 0;
#if defined(__SSE2__)
  // Eight squares a step: madd pairs them (a pair reaches 2^31 only for two
  // -32768s, so its lane reads as unsigned), widened to 64-bit lanes.
  __m128i lanes = _mm_setzero_si128();
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= kFrame; i += 8) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(exc + i));
    const __m128i p = _mm_madd_epi16(x, x);
    lanes = _mm_add_epi64(lanes, _mm_add_epi64(_mm_unpacklo_epi32(p, zero), _mm_unpackhi_epi32(p, zero)));
  }
  alignas(16) int64_t halves[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(halves), lanes);
  sum = halves[0] + halves[1];
#endif
  for (; i < kFrame; ++i) sum += int32_t{exc[i]} * exc[i];
  const Word32 acc = sum >= (int64_t{1} << 30) ? kMax32 : static_cast<Word32>(2 * sum);
  const Word16 sh = norm_l(acc);
  c.sidSav = round_fx(L_shl(acc, sh));
  c.shSidSav = sub(16, sh);
}

void cngDecode(CngDecoder& c, int pastFrameType, const int16_t* sid, int16_t* lsfMa, int16_t* exc, int16_t* lspOld,
               int16_t* az, int16_t& seed) {
  if (sid) {
    c.sidGain = vokc::tables::kSidGain[sid[3]];
    int16_t lsf[kOrder];
    VOKC_CALL(voksLSFDecode_G729B_16s, sid, lsfMa, lsf);
    VOKC_CALL(voksLSFToLSP_G729_16s, lsf, c.lspSid);
  } else if (pastFrameType == kSpeech) {
    Word16 enerq, index;
    index = sidGainIndex(&c.sidSav, &c.shSidSav, 0, enerq);
    c.sidGain = vokc::tables::kSidGain[index];
  }
  if (pastFrameType == kSpeech)
    c.curGain = c.sidGain;
  else
    c.curGain = add(mult_r(c.curGain, kGainSmooth0), mult_r(c.sidGain, kGainSmooth1));
  int16_t gp[2], t0[2];
  comfortExcitation(c.curGain, exc, seed, gp, nullptr, t0);
  interpolateLpc(lspOld, c.lspSid, az);
  std::memcpy(lspOld, c.lspSid, sizeof c.lspSid);
}

}  // namespace vokc::g729b
