// AMR-WB encoder: discontinuous transmission.
//
// After the VAD falls, seven more frames are sent as speech (unless the
// decoder analysed noise recently), then comfort-noise frames follow: a
// SID_FIRST, SID_UPDATE every eighth frame and NO_DATA between them.  Every
// comfort-noise frame analyses the last eight frames' ISF vectors and
// energies: the one or two vectors farthest from the others are replaced by
// the most central one before the ISFs are averaged, the mean log energy is
// quantised to 6 bits, and a dithering flag tells the decoder when the
// spectrum or the energy of the noise moves.
#include <cstring>

#include "amrwb/amrwb_enc_dsp.h"
#include "amrwb/amrwb_enc_tables.h"
#include "amrwb/amrwb_tables.h"
#include "amrwb/amrwb_encoder.h"
#include "basic_op.h"
#include "checked_call.h"

namespace vokc::amrwb::enc {

using namespace voksc::op;

namespace {

constexpr int kHist = 8;
constexpr int16_t kHangover = 7;
constexpr int16_t kElapsedLimit = 30;  // hangover is added only this long after a noise analysis
constexpr int16_t kInvMedianThreshold = 14564;

// History row of the frame `age` frames old (0: the newest).
int rowOfAge(const DtxEncoder& d, int age) { return (d.histIndex - age + kHist) % kHist; }

// Updates the distances with the newest frame and returns the ages of the
// two most distant frames (-1 where the replacement is not worth it) and of
// the most central one.
void outliers(DtxEncoder& d, int ages[3]) {
  // Forget the oldest frame, age the rest.
  for (int a = 0; a < kHist - 1; ++a) d.distSum[a] = L_sub(d.distSum[a], d.dist[a][kHist - 1]);
  for (int a = kHist - 1; a > 0; --a) d.distSum[a] = d.distSum[a - 1];
  d.distSum[0] = 0;
  for (int a = kHist - 1; a > 0; --a)
    for (int b = kHist - 1; b > a; --b) d.dist[a][b] = d.dist[a - 1][b - 1];
  // Distances of the newest vector to the seven others.
  const int16_t* fresh = &d.isfHist[d.histIndex * 16];
  for (int a = 1; a < kHist; ++a) {
    const int16_t* other = &d.isfHist[rowOfAge(d, a) * 16];
    int32_t s = 0;
    for (int j = 0; j < 16; ++j) {
      const int16_t e = sub(fresh[j], other[j]);
      s = L_mac(s, e, e);
    }
    d.dist[0][a] = s;
    d.distSum[0] = L_add(d.distSum[0], s);
    d.distSum[a] = L_add(d.distSum[a], s);
  }
  int32_t most = d.distSum[0], least = d.distSum[0];
  ages[0] = ages[2] = 0;
  for (int a = 1; a < kHist; ++a) {
    if (d.distSum[a] > most) {
      most = d.distSum[a];
      ages[0] = a;
    }
    if (d.distSum[a] < least) {
      least = d.distSum[a];
      ages[2] = a;
    }
  }
  int32_t second = -2147483647;
  ages[1] = -1;
  for (int a = 0; a < kHist; ++a) {
    if (d.distSum[a] > second && a != ages[0]) {
      second = d.distSum[a];
      ages[1] = a;
    }
  }
  // An outlier is replaced only when its distance exceeds the central
  // frame's by the median threshold (compared on a common scale).
  const int16_t n = norm_l(most);
  least = L_shl(least, n);
  if (L_mult(round_fx(L_shl(most, n)), kInvMedianThreshold) <= least) ages[0] = -1;
  if (L_mult(round_fx(L_shl(second, n)), kInvMedianThreshold) <= least) ages[1] = -1;
}

// 1 when the noise's spectrum or energy varies enough to dither it.
int16_t ditherFlag(const DtxEncoder& d) {
  int32_t spread = 0;
  for (int a = 0; a < kHist; ++a) spread = L_add(spread, d.distSum[a]);
  int16_t flag = L_shr(spread, 26) > 0 ? 1 : 0;
  int16_t mean = 0;
  for (int i = 0; i < kHist; ++i) mean = add(mean, d.logEnHist[i]);
  mean = shr(mean, 3);
  int16_t dev = 0;
  for (int i = 0; i < kHist; ++i) dev = add(dev, abs_s(sub(d.logEnHist[i], mean)));
  if (dev > 180) flag = 1;
  return flag;
}

}  // namespace

void dtxReset(DtxEncoder& d) {
  d.histIndex = 0;
  for (int i = 0; i < kHist; ++i) std::memcpy(&d.isfHist[i * 16], kIsfInit, sizeof kIsfInit);
  std::memset(d.logEnHist, 0, sizeof d.logEnHist);
  d.seed = 21845;
  d.hangover = kHangover;
  d.sinceUpdate = 32767;
  std::memset(d.dist, 0, sizeof d.dist);
  // The oldest frame's sum is replaced before it is read; a reset keeps it.
  for (int a = 0; a < kHist - 1; ++a) d.distSum[a] = 0;
}

bool dtxNoiseFrame(DtxEncoder& d, int16_t vad) {
  d.sinceUpdate = add(d.sinceUpdate, 1);
  if (vad != 0) {
    d.hangover = kHangover;
    return false;
  }
  if (d.hangover == 0) {
    d.sinceUpdate = 0;
    return true;
  }
  d.hangover = sub(d.hangover, 1);
  return add(d.sinceUpdate, d.hangover) < kElapsedLimit;
}

VokResult dtxAnalyse(DtxEncoder& d, FrameParams& p, int16_t* isf, int16_t* exc) {
  int16_t logEn = 0;
  for (int i = 0; i < kHist; ++i) logEn = add(logEn, d.logEnHist[i]);
  int ages[3];
  outliers(d, ages);
  // Mean ISFs with the outliers replaced by the central vector.
  const int central = rowOfAge(d, ages[2]);
  int replaced[2];
  for (int k = 0; k < 2; ++k) replaced[k] = ages[k] < 0 ? -1 : rowOfAge(d, ages[k]);
  for (int j = 0; j < 16; ++j) {
    int32_t s = 0;
    for (int r = 0; r < kHist; ++r) {
      const int row = (r == replaced[0] || r == replaced[1]) ? central : r;
      s = L_add(s, d.isfHist[row * 16 + j]);
    }
    isf[j] = extract_l(L_shr(s, 3));
  }
  // Energy index: log2 of the energy per sample (sum of eight Q7 values,
  // taken to Q8 / 8), offset by 2 and scaled by 2.625 into 6 bits.
  logEn = mult(add(shr(logEn, 2), 512), 21504);
  int16_t index = shr(logEn, 6);
  if (index > 63) index = 63;
  if (index < 0) index = 0;
  VOKC_CALL(voksISFQuantDTX_AMRWB_16s, isf, isf, p.sidIsf);
  p.sidEnergy = index;
  p.sidDither = ditherFlag(d);

  // Level of the comfort noise from the index (the decoder's rule): a gain
  // 2^(index/2.625 - 2) / 2, Q15 mantissa with exponent.
  const int16_t log2Gain = mult(shl(index, 9), 12483);  // Q10
  int32_t level = pow2(add(shr(log2Gain, 10), 15), shl(static_cast<int16_t>(log2Gain & 0x3ff), 5));
  int16_t levelExp = norm_l(level);
  level = L_shl(level, levelExp);
  levelExp = sub(15, levelExp);
  // White noise normalised to that level over the frame (sqrt(256) = 2^4).
  for (int i = 0; i < 256; ++i) exc[i] = shr(noise(&d.seed), 4);
  int16_t exp;
  int32_t inv = dotProduct12(exc, exc, 256, &exp);
  invSqrt(&inv, &exp);
  const int16_t gain = mult(extract_h(level), extract_h(inv));
  exp = add(add(levelExp, exp), 4);
  for (int i = 0; i < 256; ++i) exc[i] = shl(mult(exc[i], gain), exp);
  return vokOk;
}

int txType(TxSchedule& t, bool noiseFrame) {
  int type;
  if (!noiseFrame) {
    t.updateCounter = 8;
    type = kTxSpeech;
  } else {
    --t.updateCounter;
    if (t.prevType == kTxSpeech) {
      type = kTxSidFirst;
      t.updateCounter = 3;
    } else if (t.handoverDebt > 0 && t.updateCounter > 2) {
      type = kTxSidUpdate;
      --t.handoverDebt;
    } else if (t.updateCounter == 0) {
      type = kTxSidUpdate;
      t.updateCounter = 8;
    } else {
      type = kTxNoData;
    }
  }
  t.prevType = type;
  return type;
}

}  // namespace vokc::amrwb::enc
