// GSM 06.10 full rate: the codec steps without a library export (input
// scaling for the autocorrelation, LAR coding and interpolation, long-term
// prediction, RPE grid selection and APCM quantisation, residual update)
// around the library's filters, Schur recursion and APCM decoding.
#include "gsmfr_codec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "basic_op.h"
#include "checked_call.h"
#include "gsmfr_tables.h"
#include "voksc.h"

namespace vokc::gsmfr {
namespace {

namespace op = voksc::op;
using op::Word16;
using op::Word32;
using Word64 = int64_t;

// ---- LAR coding -----------------------------------------------------------

// Reflection coefficient -> log-area ratio (piecewise linear, Q14 / Q15).
Word16 larOf(Word16 r) {
  Word16 a = op::abs_s(r);
  if (a < 22118)
    a = static_cast<Word16>(a >> 1);
  else if (a < 31130)
    a = static_cast<Word16>(a - 11059);
  else
    a = static_cast<Word16>((a - 26112) * 4);
  return r < 0 ? static_cast<Word16>(-a) : a;
}

Word16 quantiseLar(Word16 lar, int i) {
  Word16 t = static_cast<Word16>((Word32{kLarScale[i]} * lar) >> 15);
  t = op::add(op::add(t, kLarOffset[i]), 256);
  t = static_cast<Word16>(t >> 9);
  if (t > kLarMax[i]) return static_cast<Word16>(kLarMax[i] - kLarMin[i]);
  if (t < kLarMin[i]) return 0;
  return static_cast<Word16>(t - kLarMin[i]);
}

// Coded LAR -> decoded LAR (the minimum restores the sign).
void decodeLars(const int16_t* code, Word16* lar) {
  for (int i = 0; i < 8; ++i) {
    Word16 t = static_cast<Word16>(op::add(code[i], kLarMin[i]) * 1024);
    t = op::sub(t, static_cast<Word16>(kLarOffset[i] * 2));
    t = op::mult_r(kLarInvScale[i], t);
    lar[i] = op::add(t, t);
  }
}

// Interpolated LAR -> reflection coefficient.
Word16 reflectionOf(Word16 lar) {
  const bool neg = lar < 0;
  const Word16 a = neg ? (lar == op::kMin16 ? op::kMax16 : static_cast<Word16>(-lar)) : lar;
  Word16 r;
  if (a < 11059)
    r = static_cast<Word16>(a * 2);
  else if (a < 20070)
    r = static_cast<Word16>(a + 11059);
  else
    r = op::add(static_cast<Word16>(a >> 2), 26112);
  return neg ? static_cast<Word16>(-r) : r;
}

// The four coefficient sets of a frame: samples 0..12 weigh the previous
// LARs 3/4, 13..26 half, 27..39 1/4, the rest use the current ones.
constexpr int kSegStart[5] = {0, 13, 27, 40, 160};

void segmentCoefficients(const Word16* prev, const Word16* cur, int seg, Word16* rp) {
  for (int i = 0; i < 8; ++i) {
    Word16 v;
    switch (seg) {
      case 0: v = op::add(op::add(static_cast<Word16>(prev[i] >> 2), static_cast<Word16>(cur[i] >> 2)),
                          static_cast<Word16>(prev[i] >> 1)); break;
      case 1: v = op::add(static_cast<Word16>(prev[i] >> 1), static_cast<Word16>(cur[i] >> 1)); break;
      case 2: v = op::add(op::add(static_cast<Word16>(prev[i] >> 2), static_cast<Word16>(cur[i] >> 2)),
                          static_cast<Word16>(cur[i] >> 1)); break;
      default: v = cur[i];
    }
    rp[i] = reflectionOf(v);
  }
}

// ---- autocorrelation -----------------------------------------------------

// Autocorrelation of the frame after scaling its peak down to about 2^11
// (rounded products with 2^(15 - scale)); the frame keeps the scaled-and-
// restored samples, as the analysis filter then reads them.
void autocorrelation(Word16* s, Word32* acf) {
  Word16 peak = 0;
  for (int k = 0; k < kFrame; ++k) peak = std::max(peak, op::abs_s(s[k]));
  const int scale = peak == 0 ? 0 : 4 - op::norm_l(Word32{peak} << 16);
  if (scale > 0) {
    const Word16 f = static_cast<Word16>(16384 >> (scale - 1));
    for (int k = 0; k < kFrame; ++k) s[k] = static_cast<Word16>((Word32{s[k]} * f + 16384) >> 15);
  }
  // The scaled peak is below 2^11 + 1, so every lag's sum of 160 products
  // stays below 2^30 and doubles exactly.
  Vok32s r[9];
  VOKC_CALL(voksAutoCorr_16s32s, s, kFrame, r, 9);
  for (int lag = 0; lag <= 8; ++lag) acf[lag] = r[lag] * 2;
  if (scale > 0)
    for (int k = 0; k < kFrame; ++k) s[k] = static_cast<Word16>(s[k] * (1 << scale));
}

// ---- long-term prediction --------------------------------------------------

void ltpParameters(const Word16* d, const Word16* past, Word16& lagOut, Word16& gainOut) {
  Word16 dmax = 0;
  for (int k = 0; k < 40; ++k) dmax = std::max(dmax, op::abs_s(d[k]));
  const int headroom = dmax == 0 ? 0 : op::norm_l(Word32{dmax} << 16);
  const int scal = headroom > 6 ? 0 : 6 - headroom;
  // The lag search correlates w[k] = d[k] >> scal with past[120 + k - lag],
  // lags 40..120 upward, the first strictly larger sum (from 0 at lag 40)
  // winning.  The library's cross search visits its offsets upward with
  // the same rule, so both sequences are reversed: with wr[m] = w[39 - m]
  // and pr[j] = past[119 - j], the sum at lag l is the sum of wr[m] *
  // pr[m + l - 40].  |w| <= 512 and 40 products of 16-bit samples stay
  // below 2^30: the doubled sum is exact.  A result of 0 means no lag
  // correlates positively, the lag staying 40.
  Word16 wr[40], pr[120];
  for (int k = 0; k < 40; ++k) wr[39 - k] = static_cast<Word16>(d[k] >> scal);
  for (int j = 0; j < 120; ++j) pr[j] = past[119 - j];
  Vok32s doubled = 0;
  int offset = 0;
  VOKC_CALL(voksCrossCorrLagMax_16s, wr, pr, 40, 80, &doubled, &offset);
  const int lag = doubled > 0 ? 40 + offset : 40;
  Word64 best = doubled;
  lagOut = static_cast<Word16>(lag);
  best >>= 6 - scal;
  Word64 power = 0;
  for (int k = 0; k < 40; ++k) {
    const Word32 v = past[120 + k - lag] >> 3;
    power += v * v;
  }
  power *= 2;
  if (best <= 0) {
    gainOut = 0;
    return;
  }
  if (best >= power) {
    gainOut = 3;
    return;
  }
  const int n = op::norm_l(static_cast<Word32>(power));
  const Word16 r = static_cast<Word16>((best << n) >> 16), s = static_cast<Word16>((power << n) >> 16);
  int g = 0;
  while (g <= 2 && r > static_cast<Word16>((Word32{s} * kLtpGainBounds[g]) >> 15)) ++g;
  gainOut = static_cast<Word16>(g);
}

// ---- RPE ------------------------------------------------------------------

// Block maximum code -> exponent and mantissa of the APCM scale.
void scaleParts(Word16 xmaxc, Word16& exp, Word16& mant) {
  exp = xmaxc > 15 ? static_cast<Word16>((xmaxc >> 3) - 1) : Word16{0};
  mant = static_cast<Word16>(xmaxc - (exp << 3));
  if (mant == 0) {
    exp = -4;
    mant = 7;
    return;
  }
  while (mant <= 7) {
    mant = static_cast<Word16>(mant << 1 | 1);
    --exp;
  }
  mant = static_cast<Word16>(mant - 8);
}

void decodeRpe(Word16 xmaxc, Word16 grid, const int16_t* codes, Word16* ep) {
  Word16 exp, mant, xMp[13];
  scaleParts(xmaxc, exp, mant);
  Vok16s c[13];
  for (int i = 0; i < 13; ++i) c[i] = static_cast<Vok16s>(codes[i] & 7);
  VOKC_CALL(voksRPEQuantDecode_GSMFR_16s, c, kApcmMantissa[mant], static_cast<Vok16s>(6 - exp), xMp);
  std::memset(ep, 0, sizeof(Word16) * 40);
  for (int i = 0; i < 13; ++i) ep[grid + 3 * i] = xMp[i];
}

}  // namespace

const uint8_t kParamBits[kParams] = {6, 6, 5, 5, 4, 4, 3, 3,
#define VOKC_GSM_SUBFRAME_BITS 7, 2, 2, 6, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3
                                     VOKC_GSM_SUBFRAME_BITS, VOKC_GSM_SUBFRAME_BITS, VOKC_GSM_SUBFRAME_BITS,
                                     VOKC_GSM_SUBFRAME_BITS};
#undef VOKC_GSM_SUBFRAME_BITS

// Fields are shifted into a bit accumulator, whole bytes leaving from its
// top (at most 7 + 7 bits are ever held).
void packFrame(const int16_t* params, uint8_t* bytes) {
  uint32_t acc = 0xD;
  int held = 4, at = 0;
  for (int i = 0; i < kParams; ++i) {
    const int n = kParamBits[i];
    acc = acc << n | (static_cast<uint32_t>(params[i]) & ((1u << n) - 1));
    held += n;
    if (held >= 8) {
      held -= 8;
      bytes[at++] = static_cast<uint8_t>(acc >> held);
    }
  }
}

void unpackFrame(const uint8_t* bytes, int16_t* params) {
  uint32_t acc = bytes[0];
  int held = 4, at = 1;
  for (int i = 0; i < kParams; ++i) {
    const int n = kParamBits[i];
    if (held < n) {
      acc = acc << 8 | bytes[at++];
      held += 8;
    }
    held -= n;
    params[i] = static_cast<int16_t>((acc >> held) & ((1u << n) - 1));
  }
}

Encoder::Encoder() = default;

void Encoder::encode(const int16_t* pcm, int16_t* params) {
  Vok16s s[kFrame];
  VOKC_CALL(voksHighPassFilter_GSMFR_16s, pcm, s, kFrame, hpMem_);
  VOKC_CALL(voksPreemphasize_GSMFR_16s, s, s, kFrame, &emphMem_);

  // LP analysis: reflection coefficients -> LARs -> codes.
  Word32 acf[9];
  autocorrelation(s, acf);
  Vok16s rc[8];
  VOKC_CALL(voksSchur_GSMFR_32s16s, acf, rc, 8);
  for (int i = 0; i < 8; ++i) params[i] = quantiseLar(larOf(rc[i]), i);

  // Short-term analysis filtering with the decoded, interpolated LARs.
  Word16 lar[8];
  decodeLars(params, lar);
  for (int seg = 0; seg < 4; ++seg) {
    Word16 rp[8];
    segmentCoefficients(larPrev_, lar, seg, rp);
    VOKC_CALL(voksShortTermAnalysisFilter_GSMFR_16s_I, rp, s + kSegStart[seg], kSegStart[seg + 1] - kSegStart[seg],
              lattice_);
  }
  std::copy(lar, lar + 8, larPrev_);

  // Four subframes of long-term prediction and RPE coding.
  Word16 hist[120 + kFrame];
  std::copy(residual_, residual_ + 120, hist);
  for (int k = 0; k < 4; ++k) {
    int16_t* p = params + 8 + 17 * k;
    Word16* past = hist + 40 * k;  // 120 samples before the subframe
    const Word16* d = s + 40 * k;
    Word16 lag, gainCode;
    ltpParameters(d, past, lag, gainCode);
    const Word16 gain = kLtpGainLevels[gainCode];
    Word16 predicted[40], e[50] = {};
    for (int i = 0; i < 40; ++i) {
      predicted[i] = op::mult_r(gain, past[120 + i - lag]);
      e[5 + i] = op::sub(d[i], predicted[i]);
    }
    Vok16s x[40];
    VOKC_CALL(voksWeightingFilter_GSMFR_16s, e, x, 40);
    // Grid with the largest energy (samples scaled by 1/4 first).
    Word16 grid = 0;
    Word64 bestEnergy = -1;
    for (int m = 0; m < 4; ++m) {
      Word64 en = 0;
      for (int i = 0; i < 13; ++i) {
        const Word32 v = x[m + 3 * i] >> 2;
        en += v * v;
      }
      if (en > bestEnergy) bestEnergy = en, grid = static_cast<Word16>(m);
    }
    Word16 xm[13], xmax = 0;
    for (int i = 0; i < 13; ++i) {
      xm[i] = x[grid + 3 * i];
      xmax = std::max(xmax, op::abs_s(xm[i]));
    }
    // Block maximum: 3-bit mantissa with exponent, then the normalised
    // samples quantised to 3 bits.
    Word16 exp = 0;
    for (Word16 t = static_cast<Word16>(xmax >> 9); t > 0 && exp < 6; t = static_cast<Word16>(t >> 1)) ++exp;
    const Word16 xmaxc = op::add(static_cast<Word16>(xmax >> (exp + 5)), static_cast<Word16>(exp << 3));
    Word16 mant;
    scaleParts(xmaxc, exp, mant);
    const int up = 6 - exp;
    int16_t* codes = p + 4;
    for (int i = 0; i < 13; ++i) {
      const Word16 v = static_cast<Word16>(xm[i] * (1 << up));
      codes[i] = static_cast<int16_t>((static_cast<Word16>((Word32{v} * kApcmInvMantissa[mant]) >> 15) >> 12) + 4);
    }
    p[0] = lag;
    p[1] = gainCode;
    p[2] = grid;
    p[3] = xmaxc;
    Word16 ep[40];
    decodeRpe(xmaxc, grid, codes, ep);
    for (int i = 0; i < 40; ++i) hist[120 + 40 * k + i] = op::add(ep[i], predicted[i]);
  }
  std::copy(hist + kFrame, hist + kFrame + 120, residual_);
}

Decoder::Decoder() = default;

void Decoder::decode(const int16_t* params, int16_t* pcm) {
  int16_t q[kParams];
  for (int i = 0; i < kParams; ++i) q[i] = static_cast<int16_t>(params[i] & ((1 << kParamBits[i]) - 1));
  Word16 hist[120 + kFrame];
  std::copy(residual_, residual_ + 120, hist);
  for (int k = 0; k < 4; ++k) {
    const int16_t* p = q + 8 + 17 * k;
    Word16 ep[40];
    decodeRpe(p[3], p[2], p + 4, ep);
    const Word16 lag = (p[0] < 40 || p[0] > 120) ? lastLag_ : p[0];
    lastLag_ = lag;
    const Word16 gain = kLtpGainLevels[p[1]];
    Word16* cur = hist + 120 + 40 * k;
    for (int i = 0; i < 40; ++i) cur[i] = op::add(ep[i], op::mult_r(gain, cur[i - lag]));
  }
  std::copy(hist + kFrame, hist + kFrame + 120, residual_);

  Word16 lar[8];
  decodeLars(q, lar);
  Vok16s* out = pcm;
  for (int seg = 0; seg < 4; ++seg) {
    Word16 rp[8];
    segmentCoefficients(larPrev_, lar, seg, rp);
    const int at = kSegStart[seg], n = kSegStart[seg + 1] - at;
    VOKC_CALL(voksShortTermSynthesisFilter_GSMFR_16s, rp, hist + 120 + at, out + at, n, lattice_);
  }
  std::copy(lar, lar + 8, larPrev_);
  VOKC_CALL(voksDeemphasize_GSMFR_16s_I, out, kFrame, &deemph_);
  for (int i = 0; i < kFrame; ++i) out[i] = static_cast<int16_t>(op::add(out[i], out[i]) & 0xFFF8);
}

}  // namespace vokc::gsmfr
