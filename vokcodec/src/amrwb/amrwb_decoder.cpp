// AMR-WB decoder.  Per frame: the receive DTX state decides between speech
// and comfort noise; speech frames decode their ISFs (interpolated per
// subframe), per subframe the lag (concealed in bad frames), the code
// vector (random in lost frames) and the gains (concealed from medians of
// the last good ones), then build the excitation with the codec's
// enhancements (pitch sharpening, phase dispersion at the low rates, the
// noise enhancer on the code gain, the pitch enhancer on the code vector)
// and synthesise 12.8 kHz speech, which is de-emphasised, high-passed and
// resampled to 16 kHz; a random high band (6-7 kHz) shaped by the LP filter
// is added.  Decoder homing frames reset the decoder.
#include "amrwb/amrwb_decoder.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "amrwb/amrwb_codec.h"
#include "plain_chains.h"
#include "amrwb/amrwb_synth.h"
#include "amrwb/amrwb_tables.h"
#include "amr_dtx.h"
#include "basic_op.h"
#include "checked_call.h"
#include "src/amrwb/excitation_tables.h"

namespace vokc::amrwb::dec {
namespace {

using namespace voksc::op;

constexpr int16_t kPreemph = 22282;   // 0.68: de-emphasis of the synthesis
constexpr int16_t kSharpen = 27853;   // 0.85: pitch sharpening of the code vector
constexpr int16_t kQMax = 8;          // largest excitation scaling
constexpr int16_t kHoming = 0x0008;   // output of a homed decoder on a homing frame

const int16_t kHp50A[3] = {8192, 16211, -8021}, kHp50B[3] = {4053, -8106, 4053};
const int16_t kHp400A[3] = {16384, 29280, -14160}, kHp400B[3] = {915, -1830, 915};

// ---- fixed-point helpers the exports do not cover -------------------------------

// The codec's generator, extract_l(L_add(L_shr(L_mult(seed, 31821), 1),
// 13849)): the product's doubling and halving are exact and the sum stays
// below 2^30, so it is the low word of seed 31821 + 13849.
int16_t random16(int16_t& seed) {
  seed = static_cast<int16_t>(seed * 31821 + 13849);
  return seed;
}

// n (a multiple of 8) draws of the generator, seed advanced past them.
// Eight draws apart the generator is seed A^8 + C (A^7 + ... + 1) modulo
// 2^16, so eight lanes step together.
void randomBlock(int16_t& seed, int16_t* out, int n) {
  constexpr uint16_t kStepA = [] {
    uint32_t a = 1;
    for (int i = 0; i < 8; ++i) a = a * 31821 & 0xFFFF;
    return static_cast<uint16_t>(a);
  }();
  constexpr uint16_t kStepC = [] {
    uint32_t c = 0;
    for (int i = 0; i < 8; ++i) c = (c * 31821 + 13849) & 0xFFFF;
    return static_cast<uint16_t>(c);
  }();
  uint16_t lane[8];
  for (uint16_t& v : lane) v = static_cast<uint16_t>(random16(seed));
  for (int i = 0; i < n; i += 8)
    for (int k = 0; k < 8; ++k) {
      out[i + k] = static_cast<int16_t>(lane[k]);
      lane[k] = static_cast<uint16_t>(uint32_t{lane[k]} * kStepA + kStepC);
    }
  seed = out[n - 1];
}

// 1 + 2 sum x^2, normalised; *exp receives 30 - the shift.
Word32 energyNorm(const int16_t* x, int n, int16_t* exp) {
  const Word32 s = plain::energyChain(1, x, n);
  const int16_t sh = norm_l(s);
  *exp = static_cast<int16_t>(30 - sh);
  return L_shl(s, sh);
}

// 1/sqrt of frac 2^exp (frac normalised), by table interpolation.
void invSqrt(Word32& frac, int16_t& exp) {
  if (frac <= 0) {
    exp = 0;
    frac = 0x7FFFFFFF;
    return;
  }
  if (exp & 1) frac = L_shr(frac, 1);
  exp = negate(shr(sub(exp, 1), 1));
  frac = L_shr(frac, 9);
  const int16_t i = sub(extract_h(frac), 16);
  frac = L_shr(frac, 1);
  const int16_t a = static_cast<int16_t>(extract_l(frac) & 0x7FFF);
  frac = L_deposit_h(kInvSqrtTable[i]);
  frac = L_msu(frac, sub(kInvSqrtTable[i], kInvSqrtTable[i + 1]), a);
}

Word32 invSqrt32(Word32 x) {
  int16_t sh = norm_l(x);
  x = L_shl(x, sh);
  int16_t e = static_cast<int16_t>(31 - sh);
  invSqrt(x, e);
  return L_shl(x, e);
}

// x = round_fx(L_shl(L_deposit_h(x), exp)): for exp 1..15 the saturated
// shift rounds to the clamp of x 2^exp, for exp -15..-1 to x / 2^-exp
// rounded half up; 0 leaves x.
void scale(int16_t* x, int n, int16_t exp) {
  if (exp == 0) return;
  if (exp > 0 && exp < 16) {
    for (int i = 0; i < n; ++i) {
      const int32_t v = x[i] * (1 << exp);
      x[i] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
    }
  } else if (exp < 0 && exp > -16) {
    const int k = -exp;
    for (int i = 0; i < n; ++i) x[i] = static_cast<int16_t>((x[i] + (1 << (k - 1))) >> k);
  } else {
    for (int i = 0; i < n; ++i) x[i] = round_fx(L_shl(L_deposit_h(x[i]), exp));
  }
}

int16_t median5(const int16_t* x) {
  int16_t s[5];
  std::memcpy(s, x, sizeof s);
  for (int i = 1; i < 5; ++i)
    for (int j = i; j > 0 && s[j] < s[j - 1]; --j) {
      const int16_t t = s[j];
      s[j] = s[j - 1];
      s[j - 1] = t;
    }
  return s[2];
}

// Excitation sample by sample, round_fx(L_shl(L_mac(L_shl(L_mult(code,
// gain), 5), adaptive, pitch), 1)).  While 64 |code| |gain| + 2 |adaptive|
// |pitch| + 2^14 stays inside 32 bits the first three steps are exact and
// the doubling and rounding saturate together: (v + 2^14) >> 15 clamped.
void mixExcitation(const int16_t* code, int16_t gain, const int16_t* adaptive, int16_t pitch, int16_t* out) {
  const int64_t bound = 64 * int64_t{plain::peak(code, kSub)} * (gain < 0 ? -gain : gain) +
                        2 * int64_t{plain::peak(adaptive, kSub)} * (pitch < 0 ? -pitch : pitch) + 16384;
  if (bound <= INT32_MAX) {
    for (int i = 0; i < kSub; ++i) {
      const int32_t v = (64 * (code[i] * gain) + 2 * adaptive[i] * pitch + 16384) >> 15;
      out[i] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
    }
    return;
  }
  for (int i = 0; i < kSub; ++i)
    out[i] = round_fx(L_shl(L_mac(L_shl(L_mult(code[i], gain), 5), adaptive[i], pitch), 1));
}

void shiftIn(int16_t* hist, int16_t v) {  // oldest first, newest at [4]
  std::memmove(hist, hist + 1, 4 * sizeof(int16_t));
  hist[4] = v;
}

HighPassFilterState_AMRWB_16s* filter(unsigned char* mem) { return reinterpret_cast<HighPassFilterState_AMRWB_16s*>(mem); }
AdaptiveCodebookDecodeState_AMRWB_16s* lagRecord(Decoder* d) {
  return reinterpret_cast<AdaptiveCodebookDecodeState_AMRWB_16s*>(d->lagRecord);
}

// ---- 16 kHz synthesis ---------------------------------------------------------------

#if defined(__SSE2__)
// The totals of four vectors of partial sums, in order.
inline __m128i total4(__m128i s0, __m128i s1, __m128i s2, __m128i s3) {
  const __m128i a = _mm_add_epi32(_mm_unpacklo_epi32(s0, s1), _mm_unpackhi_epi32(s0, s1));
  const __m128i b = _mm_add_epi32(_mm_unpacklo_epi32(s2, s3), _mm_unpackhi_epi32(s2, s3));
  return _mm_add_epi32(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
}

// Partial sums of x[0..8R-1] h[0..8R-1] (h aligned).
template <int R>
inline __m128i dot(const int16_t* x, const int16_t* h) {
  __m128i s = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x)),
                             _mm_load_si128(reinterpret_cast<const __m128i*>(h)));
  for (int r = 1; r < R; ++r)
    s = _mm_add_epi32(s, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 8 * r)),
                                        _mm_load_si128(reinterpret_cast<const __m128i*>(h + 8 * r))));
  return s;
}

// Four sums (each at most 2^30 in magnitude) rounded to 16 bits as
// (s + 2^(k-1)) >> k, saturated.
inline __m128i rounded4(__m128i s, int k) {
  return _mm_sra_epi32(_mm_add_epi32(s, _mm_set1_epi32(1 << (k - 1))), _mm_cvtsi32_si128(k));
}
#endif

// The 4 phases of the 5/4 interpolator in tap order (a fifth, phase 0,
// is the plain copy of the tap set's first), and the largest magnitude sum.
struct UpsampleTaps {
  alignas(16) int16_t h[5][24];
  int64_t sum;
};
const UpsampleTaps& upsampleTaps() {
  static const UpsampleTaps taps = [] {
    UpsampleTaps t{};
    for (int frac = 0; frac < 5; ++frac) {
      for (int i = 0; i < 24; ++i) t.h[frac][i] = kUpsampleFir[4 - frac + 5 * i];
      const int64_t m = plain::magnitude(t.h[frac], 24);
      t.sum = m > t.sum ? m : t.sum;
    }
    return t;
  }();
  return taps;
}

// 5/4 resampling of one subframe: each output sample interpolated at
// 4/5-sample steps with the 4-phase FIR (12 taps either side).  Within
// the bound the chain is the plain sum s, and round_fx(L_shl(2 s, 1)) is
// (s + 2^13) >> 14 saturated.
void upsample(Decoder* d, const int16_t* in, int16_t* out) {
  int16_t sig[kSub + 24];
  std::memcpy(sig, d->upsample, sizeof d->upsample);
  std::memcpy(sig + 24, in, kSub * sizeof(int16_t));
  const UpsampleTaps& t = upsampleTaps();
  const bool exact = plain::fits(plain::peak(sig, kSub + 24), t.sum);
#if defined(__SSE2__)
  if (exact) {
    // Output j reads sig[1 + 4j / 5 ...] with phase 4j mod 5.
    for (int j = 0; j < kSubHigh; j += 8) {
      __m128i s[8];
      for (int k = 0; k < 8; ++k) {
        const int pos = 4 * (j + k), whole = pos / 5;
        s[k] = dot<3>(sig + 1 + whole, t.h[pos - 5 * whole]);
      }
      const __m128i lo = rounded4(total4(s[0], s[1], s[2], s[3]), 14);
      const __m128i hi = rounded4(total4(s[4], s[5], s[6], s[7]), 14);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packs_epi32(lo, hi));
    }
    std::memcpy(d->upsample, sig + kSub, sizeof d->upsample);
    return;
  }
#endif
  for (int j = 0, pos = 0; j < kSubHigh; ++j, pos += 4) {
    const int whole = pos / 5, frac = pos - 5 * whole;
    const int16_t* x = sig + 1 + whole;
    const int16_t* h = t.h[frac];
    Word32 acc = 0;
    if (exact) {
      for (int i = 0; i < 24; ++i) acc += x[i] * h[i];
      acc *= 2;
    } else {
      for (int i = 0; i < 24; ++i) acc = L_mac(acc, x[i], h[i]);
    }
    out[j] = round_fx(L_shl(acc, 1));
  }
  std::memcpy(d->upsample, sig + kSub, sizeof d->upsample);
}

// 31-tap FIR with a history of 30 (input pre-scaled by `inShift`); within
// the bound the chain is the plain sum s and round_fx(2 s) is
// (s + 2^14) >> 15 saturated.
void fir31(int16_t* x, int n, int16_t* hist, const int16_t* taps, int inShift) {
  int16_t buf[kSubHigh + 32];
  std::memcpy(buf, hist, 30 * sizeof(int16_t));
  for (int i = 0; i < n; ++i) buf[30 + i] = shr(x[i], static_cast<int16_t>(inShift));
  if (plain::fits(plain::peak(buf, n + 30), plain::magnitude(taps, 31))) {
#if defined(__SSE2__)
    if (n % 8 == 0) {
      alignas(16) int16_t h[32];
      std::memcpy(h, taps, 31 * sizeof(int16_t));
      h[31] = 0;
      buf[n + 30] = buf[n + 31] = 0;  // read against the zero tap
      for (int i = 0; i < n; i += 8) {
        __m128i s[8];
        for (int k = 0; k < 8; ++k) s[k] = dot<4>(buf + i + k, h);
        const __m128i lo = rounded4(total4(s[0], s[1], s[2], s[3]), 15);
        const __m128i hi = rounded4(total4(s[4], s[5], s[6], s[7]), 15);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(x + i), _mm_packs_epi32(lo, hi));
      }
      std::memcpy(hist, buf + n, 30 * sizeof(int16_t));
      return;
    }
#endif
    Word32 acc[kSubHigh] = {};
    for (int j = 0; j < 31; ++j)
      for (int i = 0; i < n; ++i) acc[i] += buf[i + j] * taps[j];
    for (int i = 0; i < n; ++i) x[i] = round_fx(2 * acc[i]);
  } else {
    for (int i = 0; i < n; ++i) {
      Word32 acc = 0;
      for (int j = 0; j < 31; ++j) acc = L_mac(acc, buf[i + j], taps[j]);
      x[i] = round_fx(acc);
    }
  }
  std::memcpy(hist, buf + n, 30 * sizeof(int16_t));
}

// Bandwidth expansion a[i] gamma^i.
void weight(const int16_t* a, int16_t* ap, int16_t gamma, int m) {
  ap[0] = a[0];
  int16_t fac = gamma;
  for (int i = 1; i < m; ++i) {
    ap[i] = round_fx(L_mult(a[i], fac));
    fac = round_fx(L_mult(fac, gamma));
  }
  ap[m] = round_fx(L_mult(a[m], fac));
}

// The 6.60 kbit/s high band's LP filter: the ISFs continued to order 20 by
// repeating the spacing pattern that correlates best, stretched towards
// 7.6 kHz, rescaled to the 16 kHz grid and turned into ISPs.
void extrapolateIsf(int16_t* f) {
  constexpr int M = kOrder, H = kOrderHigh;
  int16_t diff[M - 2];
  f[H - 1] = f[M - 1];
  for (int i = 1; i < M - 1; ++i) diff[i - 1] = sub(f[i], f[i - 1]);
  Word32 acc = 0;
  for (int i = 3; i < M - 1; ++i) acc = L_mac(acc, diff[i - 1], 2731);
  int16_t mean = round_fx(acc), top = 0;
  for (int16_t v : diff)
    if (v > top) top = v;
  const int16_t e = norm_s(top);
  for (int16_t& v : diff) v = shl(v, e);
  mean = shl(mean, e);
  Word32 corr[3] = {0, 0, 0};
  for (int lagStep = 0; lagStep < 3; ++lagStep)
    for (int i = 7; i < M - 2; ++i) {
      Word16 hi, lo;
      L_Extract(L_mult(sub(diff[i], mean), sub(diff[i - 2 - lagStep], mean)), hi, lo);
      corr[lagStep] = L_add(corr[lagStep], mpy32(hi, lo, hi, lo));
    }
  int best = corr[0] > corr[1] ? 0 : 1;
  if (corr[2] > corr[best]) best = 2;
  const int period = best + 1;
  for (int i = M - 1; i < H - 1; ++i) f[i] = add(f[i - 1], sub(f[i - 1 - period], f[i - 2 - period]));
  int16_t span = add(mult(sub(f[2], add(f[4], f[3])), 5461), 20390);
  if (span > 19456) span = 19456;  // the highest ISF at most 7.6 kHz
  span = sub(span, f[M - 2]);
  int16_t reach = sub(f[H - 2], f[M - 2]);
  const int16_t e2 = norm_s(reach), e1 = sub(norm_s(span), 1);
  span = shl(span, e1);
  reach = shl(reach, e2);
  const int16_t stretch = div_s(span, reach), es = sub(e2, e1);
  int16_t step[H - M];
  for (int i = M - 1; i < H - 1; ++i) step[i - (M - 1)] = shl(mult(sub(f[i], f[i - 1]), stretch), es);
  for (int i = M; i < H - 1; ++i) {
    int16_t& cur = step[i - (M - 1)];
    int16_t& prev = step[i - M];
    if (sub(add(cur, prev), 1280) < 0) {  // two steps together at least 500 Hz
      if (cur > prev) prev = sub(1280, cur);
      else cur = sub(1280, prev);
    }
  }
  for (int i = M - 1; i < H - 1; ++i) f[i] = add(f[i - 1], step[i - (M - 1)]);
  for (int i = 0; i < H - 1; ++i) f[i] = mult(f[i], 26214);
  int16_t isp[H];
  VOKC_CALL(voksISFToISP_AMRWB_16s, f, isp, H);
  std::memcpy(f, isp, sizeof isp);
}

// One subframe of output: synthesis of the 12.8 kHz band, de-emphasis,
// 50 Hz high-pass, resampling, plus the generated 6-7 kHz band.
//   exc: the excitation scaled by 2^q; hfIsf: the 6.60 kbit/s ISFs of the
//   subframe; hfGain: the 23.85 kbit/s gain index (-1 none).
void synthesise(Decoder* d, const int16_t* aq, int16_t* exc, int16_t q, int16_t* out, int nbits, int16_t* hfIsf,
                int hfGain, bool speech) {
  int16_t scaled[kOrder + 1];
  std::memcpy(scaled, aq, sizeof scaled);
  scaled[0] = static_cast<int16_t>(aq[0] >> (4 + q));
  int32_t syn[kOrder + kSub];
  std::memcpy(syn, d->synHist, sizeof d->synHist);
  VOKC_CALL(voksSynthesisFilter_AMRWB_16s32s_I, scaled, kOrder, exc, syn + kOrder, kSub);
  std::memcpy(d->synHist, syn + kSub, sizeof d->synHist);

  // (The low band's steps are recursions, each output waiting for the last;
  // work that does not depend on them follows each one, so that it runs
  // while the recursion finishes.)

  // White noise at the energy of the excitation ...
  int16_t hf[kSubHigh];
  randomBlock(d->seedNoise, hf, kSubHigh);
  for (int16_t& v : hf) v = static_cast<int16_t>(v >> 3);
  scale(exc, kSub, -3);
  q = sub(q, 3);
  int16_t eExc, eHf;
  const int16_t excEnergy = extract_h(energyNorm(exc, kSub, &eExc));
  eExc = sub(eExc, add(q, q));
  int16_t hfEnergy = extract_h(energyNorm(hf, kSubHigh, &eHf));
  if (hfEnergy > excEnergy) {
    hfEnergy = shr(hfEnergy, 1);
    eHf = add(eHf, 1);
  }
  Word32 ratio = L_deposit_h(div_s(hfEnergy, excEnergy));
  eHf = sub(eHf, eExc);
  invSqrt(ratio, eHf);
  const int16_t level = extract_h(L_shl(ratio, add(eHf, 1)));
  for (int16_t& v : hf) v = mult(v, level);

  int16_t low[kSub];
  VOKC_CALL(voksDeemphasize_AMRWB_32s16s, kPreemph, syn + kOrder, low, kSub, &d->deemph);
  VOKC_CALL(voksHighPassFilter_AMRWB_16s_ISfs, low, kSub, filter(d->hp50), 14);

  // ... lowered by the tilt of the 400 Hz high-passed synthesis (voiced
  // speech keeps little high band), or in background noise by 6 dB more
  // gently; at 23.85 kbit/s the received gain sets it.
  int16_t band[kSub];
  std::memcpy(band, low, sizeof low);
  VOKC_CALL(voksHighPassFilter_AMRWB_16s_ISfs, band, kSub, filter(d->hp400), 15);
  upsample(d, low, out);
  const int64_t bandEnergy = plain::energy(band, kSub);
  const Word32 r0 = plain::energyChain(1, band, kSub);
  const int16_t sh = norm_l(r0);
  Word32 r1 = 1;
  if (1 + 2 * bandEnergy <= INT32_MAX) {  // bounds every partial sum of the lag-1 chain
    for (int i = 1; i < kSub; ++i) r1 += 2 * (band[i] * band[i - 1]);
  } else {
    for (int i = 1; i < kSub; ++i) r1 = L_mac(r1, band[i], band[i - 1]);
  }
  const int16_t e0 = extract_h(L_shl(r0, sh)), e1 = extract_h(L_shl(r1, sh));
  const int16_t tilt = e1 > 0 ? div_s(e1, e0) : 0;
  const int16_t voiced = sub(32767, tilt), noisy = shl(mult(sub(32767, tilt), 20480), 1);
  int16_t gain = d->vadHist > 0 ? add(mult(0, voiced), mult(32767, noisy)) : add(mult(32767, voiced), mult(0, noisy));
  if (gain != 0) gain = add(gain, 1);
  if (gain < 3277) gain = 3277;
  if (hfGain >= 0) {
    for (int16_t& v : hf) v = shl(mult(v, kHfGains[hfGain]), 1);
  } else {
    for (int16_t& v : hf) v = mult(v, gain);
  }

  int16_t ap[kOrderHigh + 1];
  if (nbits <= 132 && speech) {
    int16_t ha[kOrderHigh + 1];
    extrapolateIsf(hfIsf);
    VOKC_CALL(voksISPToLPC_AMRWB_16s, hfIsf, ha, kOrderHigh);
    weight(ha, ap, 29491, kOrderHigh);
    synthesis16(ap, kOrderHigh, hf, hf, kSubHigh, d->synHigh, true);
  } else {
    weight(aq, ap, 19661, kOrder);
    synthesis16(ap, kOrder, hf, hf, kSubHigh, d->synHigh + (kOrderHigh - kOrder), true);
  }
  fir31(hf, kSubHigh, d->band, kBand6k7k, 2);
  if (nbits >= 477) fir31(hf, kSubHigh, d->lowPass, kLowPass7k, 0);
  for (int i = 0; i < kSubHigh; ++i) out[i] = add(out[i], hf[i]);
}


// ---- discontinuous transmission ----------------------------------------------------

using amrdtx::kSpeech, amrdtx::kNoise, amrdtx::kMuted, amrdtx::kHangover;

// The next receive state; the encoder was in its comfort-noise state for a
// SID, and for NO_DATA after comfort noise or a noise run past its hangover.
int16_t rxDtxState(ComfortNoise& c, RxType t) {
  const bool encoderNoise = isSid(t) || (t == kNoData && (c.globalState != kSpeech || c.vadHist >= kHangover));
  return amrdtx::receiveStep(c, c.globalState, t, encoderNoise);
}

int32_t pow2(int16_t exponent, int16_t fraction) {
  Word32 x = L_mult(fraction, 32);
  const int16_t i = extract_h(x);
  x = L_shr(x, 1);
  const int16_t a = static_cast<int16_t>(extract_l(x) & 0x7FFF);
  x = L_deposit_h(kPow2Table[i]);
  x = L_msu(x, sub(kPow2Table[i], kPow2Table[i + 1]), a);
  return L_shr_r(x, sub(30, exponent));
}

// Random spectral and level variation the SID frame may ask for.
void dither(ComfortNoise& c, int16_t* isf, Word32& logEn) {
  const auto noise = [&c]() { return add(shr(random16(c.ditherSeed), 1), shr(random16(c.ditherSeed), 1)); };
  logEn = L_add(logEn, L_mult(noise(), 75));
  if (logEn < 0) logEn = 0;
  int16_t fac = 256;
  const int16_t first = add(isf[0], mult_r(noise(), fac));
  isf[0] = first < 128 ? 128 : first;
  for (int i = 1; i < kOrder - 1; ++i) {
    fac = add(fac, 2);
    const int16_t v = add(isf[i], mult_r(noise(), fac));
    isf[i] = sub(v, isf[i - 1]) < 448 ? add(isf[i - 1], 448) : v;
  }
  if (isf[kOrder - 2] > 16384) isf[kOrder - 2] = 16384;
}

// Comfort-noise parameters of the frame (interpolated from the last two
// SID frames) and its random excitation.
void comfortNoise(ComfortNoise& c, int16_t* exc, int16_t state, int16_t* isf, const uint8_t* bits) {
  if (c.hangoverAdded && c.sidFrame) {
    // The encoder restarted its analysis: the average of the histories.
    const int16_t next = c.histIndex == 7 ? 0 : static_cast<int16_t>(c.histIndex + 1);
    std::memcpy(c.isfHist + next * kOrder, c.isfHist + c.histIndex * kOrder, kOrder * sizeof(int16_t));
    c.logEnHist[next] = c.logEnHist[c.histIndex];
    int16_t en = 0;
    Word32 sum[kOrder] = {};
    for (int r = 0; r < 8; ++r) {
      en = add(en, c.logEnHist[r]);
      for (int j = 0; j < kOrder; ++j) sum[j] = L_add(sum[j], c.isfHist[r * kOrder + j]);
    }
    en = add(shr(en, 1), 1024);
    c.logEn = en < 0 ? 0 : en;
    for (int j = 0; j < kOrder; ++j) c.isf[j] = extract_l(L_shr(sum[j], 3));
  }
  if (c.sidFrame) {
    std::memcpy(c.oldIsf, c.isf, sizeof c.isf);
    c.oldLogEn = c.logEn;
    if (c.validData) {
      int16_t n = c.sinceSid > 32 ? 32 : c.sinceSid;
      c.periodInv = n >= 2 ? div_s(1 << 10, shl(n, 10)) : 1 << 14;
      FrameParams p;
      p.type = kTxSidUpdate;
      bitsToParams(bits, p);
      VOKC_CALL(voksISFQuantDecodeDTX_AMRWB_16s, p.sidIsf, c.isf);
      c.dither = p.sidDither;
      c.logEn = mult(shl(p.sidEnergy, 9), 12483);
      if (!c.dataUpdated || c.globalState == kSpeech) {
        std::memcpy(c.oldIsf, c.isf, sizeof c.isf);
        c.oldLogEn = c.logEn;
      }
    }
  }
  if (c.sidFrame && c.validData) c.sinceSid = 0;
  int16_t k = mult(shl(c.sinceSid, 10), c.periodInv);
  if (k > 1024) k = 1024;
  k = shl(k, 4);
  Word32 logEn = L_mult(k, c.logEn);
  for (int i = 0; i < kOrder; ++i) isf[i] = mult(k, c.isf[i]);
  k = sub(16384, k);
  logEn = L_mac(logEn, k, c.oldLogEn);
  for (int i = 0; i < kOrder; ++i) isf[i] = shl(add(isf[i], mult(k, c.oldIsf[i])), 1);
  if (c.dither) dither(c, isf, logEn);
  logEn = L_shr(logEn, 9);
  const int16_t e = extract_h(logEn);
  const int16_t m = extract_l(L_shr(L_sub(logEn, L_deposit_h(e)), 1));
  Word32 level32 = pow2(add(e, 15), m);
  const int16_t e0 = norm_l(level32);
  level32 = L_shl(level32, e0);
  const int16_t level = extract_h(level32);
  for (int i = 0; i < kCoreFrame; ++i) exc[i] = shr(random16(c.seed), 4);
  int16_t ee;
  Word32 inv = energyNorm(exc, kCoreFrame, &ee);
  invSqrt(inv, ee);
  const int16_t gain = mult(level, extract_h(inv));
  const int16_t sh = add(add(sub(15, e0), ee), 4);
  for (int i = 0; i < kCoreFrame; ++i) exc[i] = shl(mult(exc[i], gain), sh);
  if (state == kMuted) {
    int16_t n = c.sinceSid > 32 ? 32 : c.sinceSid;
    if (n <= 0) n = 8;
    c.periodInv = div_s(1 << 10, shl(n, 10));
    c.sinceSid = 0;
    c.oldLogEn = c.logEn;
    c.logEn = sub(c.logEn, 64);
  }
  if (c.sidFrame && (c.validData || c.hangoverAdded)) {
    c.sinceSid = 0;
    c.dataUpdated = true;
  }
}

// LP filter of order 16 from ISPs, scaled down by 2^q when its
// coefficients would not fit Q12 (comfort noise; the speech path's filters
// come from the ISP conversion export).
void ispToLpcScaled(const int16_t* isp, int16_t* a) {
  constexpr int nc = kOrder / 2;
  Word32 f1[nc + 1], f2[nc];
  const auto poly = [](const int16_t* x, Word32* f, int n) {
    f[0] = L_mult(4096, 1024);
    f[1] = L_mult(x[0], -256);
    for (int i = 2; i <= n; ++i) {
      const int16_t c = x[2 * (i - 1)];
      f[i] = f[i - 2];
      for (int j = i; j > 1; --j) {
        Word16 hi, lo;
        L_Extract(f[j - 1], hi, lo);
        f[j] = L_add(L_sub(f[j], L_shl(mpy32x16(hi, lo, c), 1)), f[j - 2]);
      }
      f[1] = L_msu(f[1], c, 256);
    }
  };
  poly(isp, f1, nc);
  poly(isp + 1, f2, nc - 1);
  for (int i = nc - 1; i > 1; --i) f2[i] = L_sub(f2[i], f2[i - 2]);
  const int16_t last = isp[kOrder - 1];
  for (int i = 0; i < nc; ++i) {
    Word16 hi, lo;
    L_Extract(f1[i], hi, lo);
    f1[i] = L_add(f1[i], mpy32x16(hi, lo, last));
    L_Extract(f2[i], hi, lo);
    f2[i] = L_sub(f2[i], mpy32x16(hi, lo, last));
  }
  Word32 peak = 1;
  for (int i = 1; i < nc; ++i) peak |= L_abs(L_add(f1[i], f2[i])) | L_abs(L_sub(f1[i], f2[i]));
  int16_t q = sub(4, norm_l(peak));
  if (q < 0) q = 0;
  const int16_t shift = static_cast<int16_t>(12 + q);
  a[0] = shr(4096, q);
  for (int i = 1, j = kOrder - 1; i < nc; ++i, --j) {
    a[i] = extract_l(L_shr_r(L_add(f1[i], f2[i]), shift));
    a[j] = extract_l(L_shr_r(L_sub(f1[i], f2[i]), shift));
  }
  Word16 hi, lo;
  L_Extract(f1[nc], hi, lo);
  a[nc] = extract_l(L_shr_r(L_add(f1[nc], mpy32x16(hi, lo, last)), shift));
  a[kOrder] = shr_r(last, add(3, q));
}

// ---- excitation -----------------------------------------------------------------------

// The adaptive vector at a whole lag (concealed lags have no fraction).
void adaptiveVector(int16_t* exc, int lag) {
  const int16_t* x = exc - lag - 15;
  for (int n = 0; n <= kSub; ++n) {
    Word32 acc = 0;
    for (int t = 0; t < 32; ++t) acc = L_mac(acc, x[n + t], voksc::amrwb::kExcInterp[3 + 4 * t]);
    exc[n] = round_fx(L_shl(acc, 1));
  }
}


// The lag of a bad subframe from the lags and pitch gains of good ones;
// `lag` is the lag the received index gives (kept when it fits).
int16_t concealLag(Decoder* d, int16_t lag, bool unusable) {
  const int16_t* L = d->lagHist;
  const int16_t* g = d->pitchHistGood;
  int16_t minLag = L[0], maxLag = L[0], minGain = g[0];
  for (int i = 1; i < 5; ++i) {
    if (L[i] < minLag) minLag = L[i];
    if (L[i] > maxLag) maxLag = L[i];
    if (g[i] < minGain) minGain = g[i];
  }
  const int16_t spread = sub(maxLag, minLag);
  const bool steady = minGain > 8192 && spread < 10, voicedTail = g[4] > 8192 && g[3] > 8192;
  const auto random = [&]() {
    int16_t s[5];
    std::memcpy(s, L, sizeof s);
    for (int i = 1; i < 5; ++i)
      for (int j = i; j > 0 && s[j] < s[j - 1]; --j) {
        const int16_t t = s[j];
        s[j] = s[j - 1];
        s[j - 1] = t;
      }
    int16_t sp = sub(s[4], s[2]);
    if (sp > 40) sp = 40;
    const int16_t jitter = mult(shr(sp, 1), random16(d->seedLag));
    return add(mult(add(add(s[2], s[3]), s[4]), 10923), jitter);
  };
  if (unusable) {
    lag = steady ? d->lastLag : voicedTail ? L[0] : random();
  } else {
    int16_t sum = 0;
    for (int i = 0; i < 5; ++i) sum = add(sum, L[i]);
    const int16_t mean = mult(sum, 6554), overMax = sub(lag, maxLag), fromLast = sub(lag, L[0]);
    const bool inside = lag > minLag && lag < maxLag;
    if ((spread < 10 && lag > sub(minLag, 5) && overMax < 5) || (voicedTail && add(fromLast, 10) > 0 && fromLast < 10) ||
        (minGain < 6554 && g[4] == minGain && inside) || (spread < 70 && inside) || (lag > mean && lag < maxLag))
      return lag;
    lag = steady || voicedTail ? L[0] : random();
  }
  if (lag > maxLag) lag = maxLag;
  if (lag < minLag) lag = minLag;
  return lag;
}

// Gains of one subframe.  code: the code vector (Q9) after sharpening.
// Returns the pitch gain (Q14) and *codeGain (Q16).
int16_t decodeGains(Decoder* d, int index, const int16_t* code, bool bad, bool unusable, VokRateCode rate,
                    Word32* codeGain) {
  // 1/sqrt(energy of the code per sample), Q12.
  int16_t e;
  Word32 inv = energyNorm(code, kSub, &e);
  e = sub(e, 18 + 6);
  invSqrt(inv, e);
  const int16_t innov = extract_h(L_shl(inv, sub(e, 3)));
  int16_t pitch = 0;
  if (bad) {
    d->pastPitch = median5(d->pitchHist);
    if (d->pastPitch > 15565) d->pastPitch = 15565;  // 0.95
    pitch = mult((unusable ? kPitchDownLost : kPitchDownBad)[d->badState], d->pastPitch);
    const int16_t m = median5(d->codeHist);
    d->pastCode = d->vadHist > 2 ? m : mult((unusable ? kCodeDownLost : kCodeDownBad)[d->badState], m);
    VOKC_CALL(voksDecodeGain_AMRWB_16s, Vok16s{0}, innov, &pitch, codeGain, 1, d->prevBad ? 1 : 0, d->pastEnergies,
              &d->prevCode, &d->pastCode, rate);
    shiftIn(d->codeHist, d->pastCode);
    shiftIn(d->pitchHist, d->pastPitch);
    return pitch;
  }
  VOKC_CALL(voksDecodeGain_AMRWB_16s, static_cast<Vok16s>(index), innov, &pitch, codeGain, 0, d->prevBad ? 1 : 0,
            d->pastEnergies, &d->prevCode, &d->pastCode, rate);
  d->pastPitch = pitch;
  shiftIn(d->codeHist, d->pastCode);
  shiftIn(d->pitchHist, pitch);
  shiftIn(d->pitchHistGood, pitch);
  return pitch;
}

// Phase dispersion of the code vector at the low rates: the strength
// follows the pitch gain, weakened after onsets and in steady voicing.
void disperse(Decoder* d, int16_t codeGain, int16_t pitch, int16_t* code, int level) {
  int16_t& prevState = d->disp[0];
  int16_t& prevCode = d->disp[1];
  int16_t* pitches = d->disp + 2;
  int16_t state = pitch < 9830 ? 0 : pitch < 14746 ? 1 : 2;
  std::memmove(pitches + 1, pitches, 5 * sizeof(int16_t));
  pitches[0] = pitch;
  if (sub(sub(codeGain, prevCode), shl(prevCode, 1)) > 0) {  // onset: weaker dispersion
    if (state < 2) ++state;
  } else {
    int weak = 0;
    for (int i = 0; i < 6; ++i) weak += pitches[i] < 9830;
    if (weak > 2) state = 0;
    if (state - prevState > 1) --state;
  }
  prevCode = codeGain;
  prevState = state;
  state = static_cast<int16_t>(state + level);
  if (state >= 2) return;
  const int16_t* imp = state == 0 ? kDispLow : kDispMid;
  int16_t spread[2 * kSub] = {};
  for (int i = 0; i < kSub; ++i)
    if (code[i] != 0)
      for (int j = 0; j < kSub; ++j) spread[i + j] = add(spread[i + j], mult_r(code[i], imp[j]));
  for (int i = 0; i < kSub; ++i) code[i] = add(spread[i], spread[i + kSub]);
}

// Energy of `out` matched to that of `in` (square-root gain).
void matchEnergy(const int16_t* in, int16_t* out) {
  Word32 s = 0;
  for (int i = 0; i < kSub; ++i) {
    const int16_t t = shr(out[i], 2);
    s = L_mac(s, t, t);
  }
  if (s == 0) return;
  int16_t e = sub(norm_l(s), 1);
  const int16_t gOut = round_fx(L_shl(s, e));
  s = 0;
  for (int i = 0; i < kSub; ++i) {
    const int16_t t = shr(in[i], 2);
    s = L_mac(s, t, t);
  }
  int16_t g = 0;
  if (s != 0) {
    const int16_t i = norm_l(s);
    const int16_t gIn = round_fx(L_shl(s, i));
    e = sub(e, i);
    s = L_shr(L_shl(L_deposit_l(div_s(gOut, gIn)), 7), e);
    g = round_fx(L_shl(invSqrt32(s), 9));
  }
  for (int i = 0; i < kSub; ++i) out[i] = extract_h(L_shl(L_mult(out[i], g), 2));
}

const VokRateCode kRates[kModes] = {vokRateAmrWb660,  vokRateAmrWb885,  vokRateAmrWb1265,
                                    vokRateAmrWb1425, vokRateAmrWb1585, vokRateAmrWb1825,
                                    vokRateAmrWb1985, vokRateAmrWb2305, vokRateAmrWb2385};
const int kNbits[kModes] = {132, 177, 253, 285, 317, 365, 397, 461, 477};

// Resets what a comfort-noise period or homing clears (all: everything).
void reset(Decoder* d, bool all) {
  std::memset(d->pastExc, 0, sizeof d->pastExc);
  std::memset(d->isfRes, 0, sizeof d->isfRes);
  d->lastLag = 64;
  d->firstFrame = true;
  d->gainThreshold = 0;
  d->tilt = 0;
  std::memset(d->disp, 0, sizeof d->disp);
  d->qOld = kQMax;
  for (int16_t& q : d->qSub) q = kQMax;
  if (!all) return;
  for (int16_t& e : d->pastEnergies) e = -14336;
  d->pastPitch = d->pastCode = d->prevCode = 0;
  std::memset(d->pitchHist, 0, sizeof d->pitchHist);
  std::memset(d->codeHist, 0, sizeof d->codeHist);
  std::memset(d->pitchHistGood, 0, sizeof d->pitchHistGood);
  d->seedLag = 21845;
  std::memset(d->upsample, 0, sizeof d->upsample);
  VOKC_CALL(voksHighPassFilterInit_AMRWB_16s, kHp50A, kHp50B, 2, filter(d->hp50));
  VOKC_CALL(voksHighPassFilterInit_AMRWB_16s, kHp400A, kHp400B, 2, filter(d->hp400));
  std::memset(d->band, 0, sizeof d->band);
  std::memset(d->lowPass, 0, sizeof d->lowPass);
  for (int16_t& l : d->lagHist) l = 64;
  std::memcpy(d->ispOld, kIspInit, sizeof d->ispOld);
  std::memcpy(d->isfOld, kIsfInit, sizeof d->isfOld);
  for (int r = 0; r < 3; ++r) std::memcpy(d->isfHist + r * kOrder, kIsfInit, sizeof d->isfOld);
  d->deemph = 0;
  d->seedCode = d->seedNoise = 21845;
  d->badState = 0;
  d->prevBad = false;
  std::memset(d->synHigh, 0, sizeof d->synHigh);
  std::memset(d->synHist, 0, sizeof d->synHist);
  d->vadHist = 0;
  VOKC_CALL(voksAdaptiveCodebookDecodeInit_AMRWB_16s, lagRecord(d));
  ComfortNoise& c = d->cn;
  c = ComfortNoise{};
  c.periodInv = 1 << 13;
  c.logEn = c.oldLogEn = 3500;
  c.seed = c.ditherSeed = 21845;
  std::memcpy(c.isf, kIsfInit, sizeof c.isf);
  std::memcpy(c.oldIsf, kIsfInit, sizeof c.oldIsf);
  for (int r = 0; r < 8; ++r) {
    std::memcpy(c.isfHist + r * kOrder, kIsfInit, sizeof c.isf);
    c.logEnHist[r] = 3500 >> 3;
  }
  c.hangover = kHangover;
  c.elapsed = 32767;
}

// One speech frame (good, degraded, bad or lost) in `mode`.
void decodeSpeech(Decoder* d, const FrameParams& p, int mode, bool bad, bool unusable, int16_t* pcm, int16_t* excOut,
                  int16_t* isfOut) {
  const VokRateCode rate = kRates[mode];
  const int nbits = kNbits[mode];
  int16_t exc[kPastExc + kCoreFrame + 1];
  std::memcpy(exc, d->pastExc, sizeof d->pastExc);
  int16_t* now = exc + kPastExc;

  // ISFs, their stability against the last frame, LP filters per subframe.
  int16_t isf[kOrder], isp[kOrder], aq[4 * (kOrder + 1)];
  VOKC_CALL(voksISFQuantDecode_AMRWB_16s, p.isf, isf, d->isfRes, d->isfOld, d->isfHist, bad ? 1 : 0,
            mode == 0 ? vokRateAmrWb660 : vokRateAmrWb1265);
  VOKC_CALL(voksISFToISP_AMRWB_16s, isf, isp, kOrder);
  if (d->firstFrame) {
    d->firstFrame = false;
    std::memcpy(d->ispOld, isp, sizeof isp);
  }
  for (int s = 0; s < 4; ++s) {
    int16_t mix[kOrder];
    const int16_t wNew = kIspWeights[s], wOld = add(sub(32767, wNew), 1);
    for (int i = 0; i < kOrder; ++i) mix[i] = round_fx(L_mac(L_mult(d->ispOld[i], wOld), isp[i], wNew));
    VOKC_CALL(voksISPToLPC_AMRWB_16s, s == 3 ? isp : mix, aq + s * (kOrder + 1), kOrder);
  }
  std::memcpy(d->ispOld, isp, sizeof isp);
  Word32 dist = 0;
  for (int i = 0; i < kOrder - 1; ++i) {
    const int16_t t = sub(isf[i], d->isfOld[i]);
    dist = L_mac(dist, t, t);
  }
  int16_t stab = shl(sub(20480, mult(extract_h(L_shl(dist, 8)), 26214)), 1);
  if (stab < 0) stab = 0;
  int16_t isfPrev[kOrder];
  std::memcpy(isfPrev, d->isfOld, sizeof isfPrev);
  std::memcpy(d->isfOld, isf, sizeof isf);

  int16_t window[2] = {0, 0};
  int16_t qNew = 0;
  for (int s = 0; s < 4; ++s) {
    const SubframeParams& sp = p.sub[s];
    int16_t* x = now + s * kSub;
    const bool absolute = s == 0 || (s == 2 && mode > 0);
    // Lag and adaptive vector (decoded from the index also in bad frames,
    // which keeps the window; then concealed).
    Vok16s lag = 0, frac = 0;
    const int bits = mode <= 1 ? (absolute ? 8 : 5) : (absolute ? 9 : 6);
    VOKC_CALL(voksAdaptiveCodebookDecode_AMRWB_16s, static_cast<Vok32s>(sp.lag & ((1 << bits) - 1)), &frac, x, &lag,
              window, s, 0, 0, rate, lagRecord(d));
    if (bad) {
      lag = concealLag(d, lag, unusable);
      frac = 0;
      adaptiveVector(x, lag);
    }
    // Low-pass of the adaptive vector unless the frame asks for it unfiltered.
    const bool filtered = unusable ? false : mode <= 1 ? true : sp.ltpFilter == 0;
    if (filtered) {
      // The taps sum to 2^15: without -32768 among the samples no step
      // (nor the rounding) of the chain saturates.
      int16_t lp[kSub];
      if (plain::peak(x - 1, kSub + 2) < 32768) {
        for (int i = 0; i < kSub; ++i) lp[i] = static_cast<int16_t>((2 * (5898 * (x[i - 1] + x[i + 1]) + 20972 * x[i]) + 32768) >> 16);
      } else {
        for (int i = 0; i < kSub; ++i)
          lp[i] = round_fx(L_mac(L_mac(L_mult(5898, x[i - 1]), 20972, x[i]), 5898, x[i + 1]));
      }
      std::memcpy(x, lp, sizeof lp);
    }
    // Code vector: random in lost frames.
    int16_t code[kSub];
    if (unusable) {
      for (int16_t& c : code) c = shr(random16(d->seedCode), 3);
    } else {
      VOKC_CALL(voksAlgebraicCodebookDecode_AMRWB_16s, sp.code, code, rate);
    }
    int16_t mem = 0;
    VOKC_CALL(voksPreemphasize_AMRWB_16s_ISfs, d->tilt, code, kSub, 14, &mem);
    const int sharpFrom = frac > 2 ? lag + 1 : lag;
    for (int i = sharpFrom; i < kSub; ++i) code[i] = round_fx(L_mac(L_deposit_h(code[i]), code[i - sharpFrom], kSharpen));

    Word32 gainCode = 0;
    const int16_t pitch = decodeGains(d, sp.gain, code, bad, unusable, rate, &gainCode);

    // Scaling of the excitation: as far as the last subframes allow.
    int16_t qLimit = d->qSub[0];
    for (int i = 1; i < 4; ++i)
      if (d->qSub[i] < qLimit) qLimit = d->qSub[i];
    if (qLimit > kQMax) qLimit = kQMax;
    qNew = 0;
    Word32 g = gainCode;
    while (g < 0x08000000 && qNew < qLimit) {
      g = L_shl(g, 1);
      ++qNew;
    }
    int16_t gainQ = round_fx(g);
    scale(x - kPastExc, kPastExc + kSub, sub(qNew, d->qOld));
    d->qOld = qNew;

    if (!bad) {
      std::memmove(d->lagHist + 1, d->lagHist, 4 * sizeof(int16_t));
      d->lagHist[0] = lag;
      d->lastLag = lag;
    }
    int16_t adaptive[kSub];
    std::memcpy(adaptive, x, sizeof adaptive);
    scale(adaptive, kSub, -3);
    int16_t enhanced[kSub];
    const int16_t sharp = mode <= 1 ? shl(pitch, 1) : 0;
    if (sharp > 16384)
      for (int i = 0; i < kSub; ++i) enhanced[i] = round_fx(L_shr(L_mult(mult(adaptive[i], sharp), pitch), 1));

    // Voicing: energy balance of the adaptive and the code contribution.
    int16_t e1, e2;
    int16_t en1 = extract_h(energyNorm(adaptive, kSub, &e1));
    e1 = sub(e1, -6);
    Word32 gp2 = L_mult(pitch, pitch);
    int16_t sh = norm_l(gp2);
    en1 = mult(en1, extract_h(L_shl(gp2, sh)));
    e1 = sub(sub(e1, sh), 10);
    int16_t en2 = extract_h(energyNorm(code, kSub, &e2));
    sh = norm_s(gainQ);
    const int16_t gq = shl(gainQ, sh);
    en2 = mult(en2, mult(gq, gq));
    e2 = sub(e2, add(sh, sh));
    const int16_t de = sub(e1, e2);
    if (de >= 0) {
      en1 = shr(en1, 1);
      en2 = shr(en2, add(de, 1));
    } else {
      en1 = shr(en1, sub(1, de));
      en2 = shr(en2, 1);
    }
    const int16_t diff = sub(en1, en2), total = add(add(en1, en2), 1);
    const int16_t voicing = diff >= 0 ? div_s(diff, total) : negate(div_s(negate(diff), total));
    d->tilt = add(shr(voicing, 2), 8192);

    std::memcpy(adaptive, x, sizeof adaptive);  // the adaptive part at scale q
    mixExcitation(code, gainQ, x, pitch, x);
    int16_t peak = 1;
    for (int i = 0; i < kSub; ++i) {
      const int16_t a = abs_s(x[i]);
      if (a > peak) peak = a;
    }
    std::memmove(d->qSub + 1, d->qSub, 3 * sizeof(int16_t));
    d->qSub[0] = sub(add(norm_s(peak), qNew), 1);

    Word16 gHi, gLo;
    L_Extract(gainCode, gHi, gLo);
    disperse(d, gHi, pitch, code, mode == 0 ? 0 : mode == 1 ? 1 : 2);

    // Noise enhancer: in stable unvoiced frames the code gain moves 1.5 dB
    // towards a slowly following level.
    const int16_t fac = mult(stab, sub(16384, shr(voicing, 1)));
    Word32 level = gainCode;
    if (level < d->gainThreshold) {
      level = L_add(level, mpy32x16(gHi, gLo, 6226));
      if (level > d->gainThreshold) level = d->gainThreshold;
    } else {
      level = mpy32x16(gHi, gLo, 27536);
      if (level < d->gainThreshold) level = d->gainThreshold;
    }
    d->gainThreshold = level;
    gainCode = mpy32x16(gHi, gLo, sub(32767, fac));
    L_Extract(level, gHi, gLo);
    gainCode = L_add(gainCode, mpy32x16(gHi, gLo, fac));

    // Pitch enhancer: a voicing-dependent high-pass of the code vector.
    int16_t code2[kSub];
    const int16_t enhancer[2] = {0, add(shr(voicing, 3), 4096)};
    VOKC_CALL(voksHighPassFilter_Direct_AMRWB_16s, enhancer, code, code2, kSub, 0);
    gainQ = round_fx(L_shl(gainCode, qNew));
    int16_t out[kSub];
    mixExcitation(code2, gainQ, adaptive, pitch, out);
    if (sharp > 16384) {
      for (int i = 0; i < kSub; ++i) enhanced[i] = add(enhanced[i], out[i]);
      matchEnergy(out, enhanced);
      std::memcpy(out, enhanced, sizeof out);
    }
    int16_t hfIsf[kOrderHigh];
    if (mode == 0) {
      const int16_t w = kIspWeights[s];
      for (int i = 0; i < kOrder; ++i)
        hfIsf[i] = round_fx(L_mac(L_mult(isfPrev[i], sub(32767, w)), isf[i], w));
    } else {
      std::memset(d->synHigh, 0, (kOrderHigh - kOrder) * sizeof(int16_t));
    }
    synthesise(d, aq + s * (kOrder + 1), out, qNew, pcm + s * kSubHigh, nbits, hfIsf,
               mode == 8 && !bad ? sp.hfGain : -1, true);
  }
  std::memcpy(d->pastExc, exc + kCoreFrame, sizeof d->pastExc);
  scale(now, kCoreFrame, negate(qNew));
  std::memcpy(excOut, now, kCoreFrame * sizeof(int16_t));
  std::memcpy(isfOut, isf, sizeof isf);
}

// Decoder homing frame test over the first `nbits` bits of a mode (its
// first subframe, or all of them): the bits in 15-bit words against the
// homing frame's words.  At 23.85 kbit/s the high-band gains are left out
// and the whole frame is compared.
bool isHomingFrame(const uint8_t* bits, int mode, int nbits) {
  static const int16_t* const kFrames[kModes] = {kHoming660,  kHoming885,  kHoming1265, kHoming1425, kHoming1585,
                                                 kHoming1825, kHoming1985, kHoming2305, kHoming2385};
  const int16_t* want = kFrames[mode];
  int at = 0;
  auto word = [&](int width) {
    int v = 0;
    for (int k = 0; k < width; ++k) v = (v << 1) | bits[at++];
    return v;
  };
  if (mode == 8) {
    for (int i = 0; i < 32; ++i) {
      int v = i < 31 ? word(15) : word(8) << 7;
      if (i == 10) v &= 0x61FF;
      if (i == 17) v &= 0xE0FF;
      if (i == 24) v &= 0x7F0F;
      if (v != want[i]) return false;
    }
    return true;
  }
  int i = 0;
  for (; nbits - 15 * (i + 1) > 0; ++i)
    if (word(15) != want[i]) return false;
  const int rest = nbits - 15 * i, shift = 15 - rest;
  return (word(rest) << shift) == (want[i] & ((0x7FFF >> shift) << shift));
}


// One frame through the receive DTX state: comfort noise or speech.
void decodeOne(Decoder* d, const Frame& f, bool speechBits, int16_t* pcm) {
  ComfortNoise& c = d->cn;
  const RxType t = speechBits || !isSpeech(f.type) ? f.type : kSpeechLost;  // speech without a mode: lost
  const int16_t next = rxDtxState(c, t);
  int16_t cnExc[kCoreFrame], cnIsf[kOrder];
  if (next != kSpeech) comfortNoise(c, cnExc, next, cnIsf, f.bits);
  const bool bad = t == kSpeechBad || t == kSpeechDegraded || t == kNoData || t == kSpeechLost;
  const bool unusable = t == kNoData || t == kSpeechLost;
  if (bad) d->badState = d->badState < 6 ? static_cast<int16_t>(d->badState + 1) : 6;
  else d->badState = shr(d->badState, 1);
  if (c.globalState != kSpeech) {  // the first frame after comfort noise
    d->badState = 5;
    d->prevBad = c.globalState == kMuted;
  }
  FrameParams p;
  p.type = kTxSpeech;
  p.mode = d->mode;
  if (speechBits) bitsToParams(f.bits, p);
  if (next == kSpeech) {
    if (!bad) {
      d->vadHist = p.vad == 0 ? add(d->vadHist, 1) : 0;
      c.vadHist = p.vad == 0 ? add(c.vadHist, 1) : 0;
    } else if (c.vadHist > 0) {
      c.vadHist = add(c.vadHist, 1);
    }
  }
  const int nbits = kNbits[d->mode];
  if (next != kSpeech) {
    int16_t isp[kOrder], aq[kOrder + 1];
    VOKC_CALL(voksISFToISP_AMRWB_16s, cnIsf, isp, kOrder);
    ispToLpcScaled(isp, aq);
    for (int s = 0; s < 4; ++s) {
      int16_t hfIsf[kOrderHigh];
      const int16_t w = kIspWeights[s];
      for (int i = 0; i < kOrder; ++i)
        hfIsf[i] = round_fx(L_mac(L_mult(d->isfOld[i], sub(32767, w)), cnIsf[i], w));
      synthesise(d, aq, cnExc + s * kSub, 0, pcm + s * kSubHigh, nbits, hfIsf, nbits >= 477 && !bad ? 1 : -1, false);
    }
    reset(d, false);
    std::memcpy(d->isfOld, cnIsf, sizeof cnIsf);
  } else {
    int16_t exc[kCoreFrame], isf[kOrder];
    decodeSpeech(d, p, d->mode, bad, unusable, pcm, exc, isf);
    VOKC_CALL(voksDecDTXBuffer_AMRWB_16s, exc, isf, &c.histIndex, c.isfHist, c.logEnHist);
  }
  d->prevBad = bad;
  c.globalState = next;
}

}  // namespace

void decoderInit(Decoder* d) {
  std::memset(d, 0, sizeof *d);
  int size = 0;
  VOKC_CALL(voksHighPassFilterGetSize_AMRWB_16s, 2, &size);
  VOKC_CALL(voksAdaptiveCodebookDecodeGetSize_AMRWB_16s, &size);
  reset(d, true);
  d->mode = 0;
  d->homed = true;  // a fresh decoder is in its home state
}

VokResult decodeFrame(Decoder* d, const Frame& f, int16_t pcm[kFrame]) {
  return guarded([&]() -> VokResult {
    const bool speechBits = isSpeech(f.type) && f.mode >= 0 && f.mode < kModes;
    const bool withMode = (speechBits || isSid(f.type)) && f.mode >= 0 && f.mode < kModes;
    bool homing = false;
    if (withMode) {
      d->mode = f.mode;
      if (d->homed && speechBits) homing = isHomingFrame(f.bits, f.mode, kHomingFirstBits[f.mode]);
    }
    if (homing && d->homed) {
      for (int i = 0; i < kFrame; ++i) pcm[i] = kHoming;
    } else {
      decodeOne(d, f, speechBits, pcm);
    }
    for (int i = 0; i < kFrame; ++i) pcm[i] = static_cast<int16_t>(pcm[i] & 0xFFFC);
    if (!d->homed) homing = speechBits && isHomingFrame(f.bits, f.mode, kNbits[f.mode]);
    if (homing) reset(d, true);
    d->homed = homing;
    return vokOk;
  });
}

}  // namespace vokc::amrwb::dec
