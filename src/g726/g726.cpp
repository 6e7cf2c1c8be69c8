// G.726 ADPCM encoder and decoder (16, 24, 32, 40 kbit/s).
//
// The arithmetic is the Recommendation's bit-exact block description.  Its
// quantities are words of 12 to 19 bits in two's complement or sign and
// magnitude; here they are held as signed integers wherever the value range
// makes the two agree, and masked where a word can wrap.  The predictor
// multiplies 16-bit coefficients by past values in the 4-bit-exponent /
// 6-bit-mantissa floating format; its eight products are formed either one
// by one (portable form) or at once in 32-bit vector lanes (AVX2 form).
// The per-sample loop keeps the whole state in locals and is specialised
// per rate, direction and output law.
#include <cstring>

#include "core/cpu.h"
#include "core/status.h"
#include "g711.h"
#include "g726_codec.h"
#include "g726_tables.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VOKSC_G726_X86 1
#endif

namespace voksc::g726 {
namespace {

// ---- quantiser ------------------------------------------------------------

// Code word for a non-negative difference: the decision levels of the
// Recommendation in the log domain, highest first.  dln values of 2048 and
// above are negative (differences far below the scale factor).
constexpr int positiveCode(int r, int dln) {
  switch (r) {
    case 0:
      return dln >= 2048 ? 0 : (dln >= 261 ? 1 : 0);
    case 1: {
      if (dln >= 2048) return 7;
      constexpr int lv[] = {331, 218, 8};
      for (int k = 0; k < 3; ++k)
        if (dln >= lv[k]) return 3 - k;
      return 7;
    }
    case 2: {
      if (dln >= 3972) return 1;
      if (dln >= 2048) return 15;
      constexpr int lv[] = {400, 349, 300, 246, 178, 80};
      for (int k = 0; k < 6; ++k)
        if (dln >= lv[k]) return 7 - k;
      return 1;
    }
    default: {
      if (dln >= 4080) return 2;
      if (dln >= 3974) return 1;
      if (dln >= 2048) return 31;
      constexpr int lv[] = {553, 528, 502, 475, 445, 413, 378, 339, 298, 250, 198, 139, 68};
      for (int k = 0; k < 13; ++k)
        if (dln >= lv[k]) return 15 - k;
      return 2;
    }
  }
}

// The whole quantiser as a table: code word by rate, sign and dln.
struct QuantTable {
  uint8_t code[4][2][4096];
};
constexpr QuantTable makeQuantTable() {
  QuantTable t{};
  for (int r = 0; r < 4; ++r) {
    const int mask = (4 << r) - 1;
    for (int ds = 0; ds < 2; ++ds)
      for (int dln = 0; dln < 4096; ++dln) {
        int c = positiveCode(r, dln);
        if (ds) c = mask - c;
        if (c == 0 && r != 0) c = mask;  // the all-zero word is not sent above 16 kbit/s
        t.code[r][ds][dln] = static_cast<uint8_t>(c);
      }
  }
  return t;
}
constexpr QuantTable kQuant = makeQuantTable();

// ---- per-rate constants -----------------------------------------------------

template <int R>
struct Rate {
  static constexpr int kRate = R;
  static constexpr int kBits = R + 2;
  static constexpr int kMask = (1 << kBits) - 1;
  static constexpr int kHalf = 1 << (kBits - 1);
  static constexpr int kLeak = R == 3 ? 9 : 8;  // zero-predictor leakage shift
  static const int16_t* reconst() {
    return R == 0 ? kReconst16 : R == 1 ? kReconst24 : R == 2 ? kReconst32 : kReconst40;
  }
  static const int16_t* scaleMult() {
    return R == 0 ? kScaleMult16 : R == 1 ? kScaleMult24 : R == 2 ? kScaleMult32 : kScaleMult40;
  }
  static const int16_t* rateChange() {
    return R == 0 ? kRateChange16 : R == 1 ? kRateChange24 : R == 2 ? kRateChange32 : kRateChange40;
  }
};

// ---- small helpers ----------------------------------------------------------

inline int bitLength(uint32_t v) { return g711::bitLength(v); }

// Sign extension of the low `bits` bits.
template <int kBitsW>
inline int sext(int v) {
  constexpr int m = 1 << (kBitsW - 1);
  return ((v & ((m << 1) - 1)) ^ m) - m;
}

// Floating format of a sign and a 15-bit magnitude: sign in bit 10, then
// the 4-bit exponent and the 6-bit mantissa (32 for a zero magnitude).
inline uint16_t toFloat(int sign, uint32_t mag) {
  const int e = bitLength(mag);
  const uint32_t mant = mag ? (mag << 6) >> e : 32;
  return static_cast<uint16_t>((sign << 10) | (e << 6) | mant);
}

// Product of a coefficient and a floating-format value, as a 16-bit two's
// complement number (held in an int, only the low 16 bits matter).
inline int fmult(int an, uint32_t srn) {
  const int ans = an >> 31;  // an is a sign-extended 16-bit value
  const int q = an >> 2;
  const uint32_t anmag = static_cast<uint32_t>((q ^ ans) - ans) & 8191;
  const int anexp = bitLength(anmag);
  const uint32_t anmant = anmag ? (anmag << 6) >> anexp : 32;
  const uint32_t wanmant = ((srn & 63) * anmant + 48) >> 4;
  const int wanexp = static_cast<int>((srn >> 6) & 15) + anexp;
  const int wanmag = static_cast<int>((static_cast<uint64_t>(wanmant) << wanexp) >> 19) & 32767;
  const int neg = -(static_cast<int>((srn >> 10) & 1) ^ (ans & 1));
  return (wanmag ^ neg) - neg;
}

// ---- the adaptation steps shared by both forms -----------------------------
//
// The Recommendation's words are masked to their widths.  Where the value
// ranges the adaptation keeps (yu 544..5120, yl below 2^19, dms, dml and ap
// within their word widths, all kept so from Init on) make a difference fit
// its word, the sign extension after the subtraction is left out.

// Quantiser scale factor from the fast and slow factors and the speed
// parameter: yl/64 moved towards yu by al/64 (rounded towards yl/64).
inline int scaleFactor(int yu, int32_t yl, int ap) {
  const int al = ap >= 256 ? 64 : ap >> 2;
  const int yl6 = yl >> 6;
  return (yl6 + (yu - yl6) * al / 64) & 8191;
}

// Log-domain normalised difference of a 14-bit word x against the estimate
// se: dln (12 bits) and the sign.
inline int normalisedLog(int x, int se, int y, int& ds) {
  const int d = static_cast<int16_t>(sext<14>(x) - se);
  ds = d < 0;
  const uint32_t dqm = static_cast<uint32_t>(d < 0 ? -d : d) & 32767;
  const int e = bitLength(dqm | 1) - 1;
  const int dl = (e << 7) + static_cast<int>(((dqm << 7) >> e) & 127);
  return (dl - (y >> 2)) & 4095;
}

// Antilog of the 12-bit log-domain level dql: the magnitude of the
// quantised difference in the low half and its floating-format word
// (without sign) in the high half; negative levels give magnitude 0.
constexpr int bitLengthC(uint32_t v) { return v ? 32 - __builtin_clz(v) : 0; }
struct AntilogTable {
  uint32_t v[4096];
};
constexpr AntilogTable makeAntilogTable() {
  AntilogTable t{};
  for (int dql = 0; dql < 4096; ++dql) {
    // An exponent of 15 never occurs (dql stays below 1920); it is formed
    // as the x86 shift by a count of 31 would.
    const uint32_t mag = dql >= 2048 ? 0 : ((static_cast<uint32_t>((dql & 127) + 128) << 7) >> ((14 - (dql >> 7)) & 31));
    const int e = bitLengthC(mag);
    const uint32_t mant = mag ? (mag << 6) >> e : 32;
    t.v[dql] = mag | ((static_cast<uint32_t>(e << 6) | mant) << 16);
  }
  return t;
}
constexpr AntilogTable kAntilog = makeAntilogTable();

// Per-code constants of the rate, built once per call from the tables:
// reconstruction level, and for the code's magnitude W(I) << 5 (signed),
// F(I) << 9 and F(I) << 11.
struct CodeConstants {
  int16_t reconst;
  int16_t f9;
  int32_t w5;
  int32_t f11;
};
template <int R>
struct CodeTable {
  CodeConstants c[1 << Rate<R>::kBits];
  CodeTable() {
    for (int i = 0; i <= Rate<R>::kMask; ++i) {
      const int dqs = i >> (Rate<R>::kBits - 1);
      const int im = i ^ (-dqs & Rate<R>::kMask);  // magnitude index
      const int fi = Rate<R>::rateChange()[im];
      c[i] = {Rate<R>::reconst()[i], static_cast<int16_t>(fi << 9), sext<12>(Rate<R>::scaleMult()[im]) * 32,
              fi << 11};
    }
  }
};

// Scale factors, F(I) averages and the transition detector for the code
// with constants k; returns the transition flag.
struct Adaptation {
  int32_t yl;
  int yu, ap, dms, dml, td;

  inline bool scale(const CodeConstants& k, int y, int dqmag) {
    // Transition (only while a tone is detected), on the previous slow factor.
    bool tr = false;
    if (__builtin_expect(td != 0, 0)) {
      const int ylint = yl >> 15;
      const int thr = ylint > 9 ? 31744 : (32 + ((yl >> 10) & 31)) << ylint;
      tr = dqmag > ((thr + (thr >> 1)) >> 1);
    }
    dms = (dms + ((k.f9 - dms) >> 5)) & 4095;
    dml = (dml + ((k.f11 - dml) >> 7)) & 16383;
    const int yut = (y + ((k.w5 - y) >> 5)) & 8191;
    yu = yut < 544 ? 544 : (yut > 5120 ? 5120 : yut);
    yl = (yl + yu - ((yl + 63) >> 6)) & 524287;
    return tr;
  }
  // Speed control with the new tone flag; tr forces the fast mode.
  inline void speed(int y, int tdp, bool tr) {
    const int ddm = 4 * dms - dml;
    const int ax = !((y >= 1536) & ((ddm < 0 ? -ddm : ddm) < (dml >> 3)) & !tdp);
    const int app = (ap + (((ax << 9) - ap) >> 4)) & 1023;
    ap = tr ? 256 : app;
    td = tr ? 0 : tdp;
  }
};

// New pole coefficients from the partial-reconstruction signs (pks1, pks2:
// disagreement with the previous two) or no update when that signal is zero.
struct Poles {
  int a1, a2;
};
// The sign choices are arithmetic: they follow the signal and would be
// mispredicted as branches.
inline Poles updatePoles(int a1, int a2, int pks1, int pks2, bool sigpk) {
  const int keep = sigpk - 1;  // 0 when the update is suppressed
  const int n1 = -pks1, n2 = -pks2;
  const int fa1 = 4 * (a1 > 8191 ? 8191 : (a1 < -8191 ? -8191 : a1));
  const int fa = (fa1 ^ ~n1) - ~n1;  // -f(a1) when the signs agree
  const int uga2 = ((((16384 ^ n2) - n2) + fa) >> 7) & keep;
  int a2p = static_cast<int16_t>(a2 - (a2 >> 7) + uga2);
  a2p = a2p > 12288 ? 12288 : (a2p < -12288 ? -12288 : a2p);
  const int uga1 = ((192 ^ n1) - n1) & keep;
  int a1p = static_cast<int16_t>(a1 - (a1 >> 8) + uga1);
  const int a1lim = 15360 - a2p;
  a1p = a1p > a1lim ? a1lim : (a1p < -a1lim ? -a1lim : a1p);
  return {a1p, a2p};
}

// Output of the decoder: the law character after the synchronous coding
// adjustment (the character moves one step when re-quantising it does not
// give back the received code).
template <int R, bool kAlaw>
inline int tandem(int i, int sr, int se, int y) {
  const int sp = g711::compress(static_cast<int16_t>(sr), kAlaw);
  int dsx;
  const int dlnx = normalisedLog(g711::expandLinear(sp, kAlaw), se, y, dsx);
  // Codes ordered by value: flip the sign bit.
  const int id = kQuant.code[R][dsx][dlnx] ^ Rate<R>::kHalf;
  const int im = i ^ Rate<R>::kHalf;
  int ss = sp >> 7, mag = sp & 127;
  if (id != im) {
    const bool up = id > im;
    if (kAlaw) {
      if (up == (ss == 0)) mag += mag != 127;
      else if (mag == 0) ss ^= 1;
      else --mag;
    } else {
      if (up != (ss == 0)) {
        if (mag != 127) ++mag;
        else if (up) ss = 0, mag = 126;
        else ss = 1;
      } else {
        mag -= mag != 0;
      }
    }
  }
  const int sd = (ss << 7) | mag;
  return kAlaw ? sd ^ 0x55 : sd;
}

template <int R, int kLaw>
inline int16_t decoderOutput(int i, int sr, int se, int y) {
  if (kLaw == 2) return static_cast<int16_t>(sr > 8191 ? 8191 : (sr < -8192 ? -8192 : sr));
  return static_cast<int16_t>(tandem<R, kLaw == 1>(i, sr, se, y));
}

// ---- predictor forms --------------------------------------------------------
//
// Both hold the eight coefficients (b1..b6, a1, a2) and the eight past
// values (dq1..dq6, sr1, sr2) and offer:
//   estimate(z, t): 16-bit sums of the six zero products (z) and of all (t);
//   adapt(...): the zero-predictor update, the new pole coefficients, the
//   transition reset and the shift of the histories.

struct ScalarPredictor {
  int coef[8];
  uint32_t hist[8];

  void load(const State& s) {
    for (int k = 0; k < 8; ++k) {
      coef[k] = s.coef[k];
      hist[k] = s.hist[k];
    }
  }
  void store(State& s) const {
    for (int k = 0; k < 8; ++k) {
      s.coef[k] = static_cast<int16_t>(coef[k]);
      s.hist[k] = static_cast<uint16_t>(hist[k]);
    }
  }
  void estimate(int& zeros, int& total) const {
    int w[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) w[k] = fmult(coef[k], hist[k]);
    zeros = ((w[0] + w[1]) + (w[2] + w[3])) + (w[4] + w[5]);
    total = zeros + (w[6] + w[7]);
  }
  // dqSign: sign bit of dq; step: +-128 by sign agreement or 0 when dq is
  // zero is formed per coefficient; tr clears everything.
  template <int kLeak>
  void adapt(int dqSign, int dqZero, int a1, int a2, bool tr, uint32_t dq0, uint32_t sr0) {
#pragma GCC unroll 6
    for (int k = 0; k < 6; ++k) {
      const int u = -(dqSign ^ static_cast<int>((hist[k] >> 10) & 1));
      const int step = ((128 ^ u) - u) & (dqZero - 1);  // no branches on signal signs
      const int b = static_cast<int16_t>(coef[k] - (coef[k] >> kLeak) + step);
      coef[k] = tr ? 0 : b;
    }
    coef[6] = tr ? 0 : a1;
    coef[7] = tr ? 0 : a2;
#pragma GCC unroll 5
    for (int k = 5; k > 0; --k) hist[k] = hist[k - 1];
    hist[0] = dq0;
    hist[7] = hist[6];
    hist[6] = sr0;
  }
};

#if defined(VOKSC_G726_X86)
struct Avx2Predictor {
  __m128i coef;  // 8 x int16
  __m128i hist;  // 8 x uint16

  __attribute__((target("avx2"))) void load(const State& s) {
    coef = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.coef));
    hist = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.hist));
  }
  __attribute__((target("avx2"))) void store(State& s) const {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.coef), coef);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.hist), hist);
  }
  __attribute__((target("avx2"))) inline void estimate(int& zeros, int& total) const {
    const __m256i an = _mm256_cvtepi16_epi32(coef);
    const __m256i h = _mm256_cvtepu16_epi32(hist);
    const __m256i ans = _mm256_srai_epi32(an, 31);
    const __m256i q = _mm256_srai_epi32(an, 2);
    const __m256i anmag = _mm256_and_si256(_mm256_sub_epi32(_mm256_xor_si256(q, ans), ans), _mm256_set1_epi32(8191));
    // Exponent and 6-bit mantissa of the coefficient from its float image:
    // a zero magnitude gives exponent 0 and mantissa 32, as the format wants.
    const __m256i bits = _mm256_castps_si256(_mm256_cvtepi32_ps(anmag));
    const __m256i anexp = _mm256_max_epi32(_mm256_sub_epi32(_mm256_srli_epi32(bits, 23), _mm256_set1_epi32(126)),
                                           _mm256_setzero_si256());
    const __m256i anmant =
        _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(bits, 18), _mm256_set1_epi32(31)), _mm256_set1_epi32(32));
    const __m256i srnmant = _mm256_and_si256(h, _mm256_set1_epi32(63));
    const __m256i srnexp = _mm256_and_si256(_mm256_srli_epi32(h, 6), _mm256_set1_epi32(15));
    const __m256i wanmant = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_mullo_epi16(srnmant, anmant), _mm256_set1_epi32(48)), 4);
    const __m256i wanexp = _mm256_add_epi32(srnexp, anexp);
    // (wanmant << 7) >> (26 - wanexp), or << (wanexp - 26) masked to 15 bits:
    // out-of-range counts give 0, so the two halves combine by OR.
    const __m256i v = _mm256_slli_epi32(wanmant, 7);
    const __m256i c26 = _mm256_set1_epi32(26);
    const __m256i down = _mm256_srlv_epi32(v, _mm256_sub_epi32(c26, wanexp));
    const __m256i up =
        _mm256_and_si256(_mm256_sllv_epi32(v, _mm256_sub_epi32(wanexp, c26)), _mm256_set1_epi32(32767));
    const __m256i wanmag = _mm256_or_si256(down, up);
    const __m256i neg = _mm256_sub_epi32(
        _mm256_setzero_si256(),
        _mm256_and_si256(_mm256_xor_si256(_mm256_srli_epi32(h, 10), ans), _mm256_set1_epi32(1)));
    const __m256i wan = _mm256_sub_epi32(_mm256_xor_si256(wanmag, neg), neg);
    // Sums: b-lanes 0..5 and a-lanes 6, 7.
    const __m128i lo = _mm256_castsi256_si128(wan);
    const __m128i hi = _mm256_extracti128_si256(wan, 1);                        // w4 w5 w6 w7
    const __m128i z4 = _mm_add_epi32(lo, _mm_unpacklo_epi64(hi, _mm_setzero_si128()));  // w0+w4 w1+w5 w2 w3
    const __m128i z2 = _mm_add_epi32(z4, _mm_shuffle_epi32(z4, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m128i z1 = _mm_add_epi32(z2, _mm_shuffle_epi32(z2, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m128i p = _mm_add_epi32(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));  // lane 2: w6+w7
    zeros = _mm_cvtsi128_si32(z1);
    total = zeros + _mm_extract_epi32(p, 2);
  }
  template <int kLeak>
  __attribute__((target("avx2"))) inline void adapt(int dqSign, int dqZero, int a1, int a2, bool tr, uint32_t dq0,
                                                    uint32_t sr0) {
    // u = sign(dq) xor sign(dq_k) as a lane mask; step = +-128 or 0.
    const __m128i histSign = _mm_srai_epi16(_mm_slli_epi16(hist, 5), 15);
    const __m128i u = _mm_xor_si128(histSign, _mm_set1_epi16(static_cast<int16_t>(-dqSign)));
    const __m128i s128 = _mm_set1_epi16(dqZero ? 0 : 128);
    const __m128i step = _mm_sub_epi16(_mm_xor_si128(s128, u), u);
    __m128i b = _mm_add_epi16(_mm_sub_epi16(coef, _mm_srai_epi16(coef, kLeak)), step);
    // a1 and a2 in one step.
    b = _mm_insert_epi32(b, static_cast<int>((a1 & 0xFFFF) | (static_cast<uint32_t>(a2) << 16)), 3);
    coef = tr ? _mm_setzero_si128() : b;
    // dq1..dq6 <- dq0..dq5, sr1, sr2 <- sr0, sr1.
    __m128i h = _mm_slli_si128(hist, 2);
    h = _mm_insert_epi16(h, static_cast<int>(dq0), 0);
    hist = _mm_insert_epi16(h, static_cast<int>(sr0), 6);
  }
};
#endif

// ---- the coder -------------------------------------------------------------------

// One channel's adaptation variables as locals, with the per-sample steps;
// P is the predictor form.
template <class P, int R>
struct Coder {
  using Rt = Rate<R>;
  P pred;
  Adaptation ad;
  int pk1, pk2, a1, a2;
  int sez, se, y;  // this sample's estimates and scale factor

  void load(const State& s) {
    pred.load(s);
    // yl is a 19-bit word: bounding it here keeps the shifts and sums of the
    // adaptation defined whatever the object holds.
    ad = {s.yl & 524287, s.yu, s.ap, s.dms, s.dml, s.td};
    pk1 = s.pk1;
    pk2 = s.pk2;
    a1 = s.coef[6];
    a2 = s.coef[7];
  }
  void store(State& s) const {
    pred.store(s);
    s.yl = ad.yl;
    s.yu = static_cast<int16_t>(ad.yu);
    s.ap = static_cast<int16_t>(ad.ap);
    s.dms = static_cast<int16_t>(ad.dms);
    s.dml = static_cast<int16_t>(ad.dml);
    s.td = static_cast<int16_t>(ad.td);
    s.pk1 = static_cast<int16_t>(pk1);
    s.pk2 = static_cast<int16_t>(pk2);
  }

  inline void begin() {
    int zs, ts;
    pred.estimate(zs, ts);
    sez = static_cast<int16_t>(zs) >> 1;  // 15-bit estimates, sign-extended
    se = static_cast<int16_t>(ts) >> 1;
    y = scaleFactor(ad.yu, ad.yl, ad.ap);
  }

  inline int quantise(int x) const {
    int ds;
    const int dln = normalisedLog(x, se, y, ds);
    return kQuant.code[R][ds][dln];
  }

  // Everything after the code word; returns the reconstructed signal.
  inline int finish(int i, const CodeConstants& k) {
    const int dqs = i >> (Rt::kBits - 1);
    const uint32_t al = kAntilog.v[(k.reconst + (y >> 2)) & 4095];
    const int dqmag = static_cast<int>(al & 0xFFFF);
    const int dq = dqs ? -dqmag : dqmag;
    const bool tr = ad.scale(k, y, dqmag);
    const int dqsez = (dq + sez) & 65535;
    const int pk0 = dqsez >> 15;
    const int sr = static_cast<int16_t>(dq + se);
    const Poles p = updatePoles(a1, a2, pk0 ^ pk1, pk0 ^ pk2, dqsez == 0);
    ad.speed(y, p.a2 < -11776, tr);
    pred.template adapt<Rt::kLeak>(dqs, dqmag == 0, p.a1, p.a2, tr, (al >> 16) | (dqs << 10),
                                   toFloat(sr < 0, static_cast<uint32_t>(sr < 0 ? -sr : sr) & 32767));
    a1 = tr ? 0 : p.a1;
    a2 = tr ? 0 : p.a2;
    pk2 = pk1;
    pk1 = pk0;
    return sr;
  }
};

// ---- loops -----------------------------------------------------------------------

template <class C>
inline void encodeLoop(State& s, const int16_t* src, uint8_t* dst, int n) {
  const CodeTable<C::Rt::kRate> codes;
  C c;
  c.load(s);
  for (int k = 0; k < n; ++k) {
    c.begin();
    const int i = c.quantise(src[k]);
    dst[k] = static_cast<uint8_t>(i);
    c.finish(i, codes.c[i]);
  }
  c.store(s);
}

// law: 0 mu-law, 1 A-law, 2 linear.
template <class C, int R, int kLaw>
inline void decodeLoop(State& s, const uint8_t* src, int16_t* dst, int n) {
  const CodeTable<R> codes;
  C c;
  c.load(s);
  for (int k = 0; k < n; ++k) {
    c.begin();
    const int i = src[k] & Rate<R>::kMask;
    const int se = c.se, y = c.y;
    const int sr = c.finish(i, codes.c[i]);
    dst[k] = decoderOutput<R, kLaw>(i, sr, se, y);
  }
  c.store(s);
}

template <class P>
inline void encodeAnyRate(State& s, const int16_t* src, uint8_t* dst, int n) {
  switch (s.rate & 3) {
    case 0: encodeLoop<Coder<P, 0>>(s, src, dst, n); break;
    case 1: encodeLoop<Coder<P, 1>>(s, src, dst, n); break;
    case 2: encodeLoop<Coder<P, 2>>(s, src, dst, n); break;
    default: encodeLoop<Coder<P, 3>>(s, src, dst, n); break;
  }
}

template <class P, int R>
inline void decodeAnyLaw(State& s, int law, const uint8_t* src, int16_t* dst, int n) {
  if (law == 0) decodeLoop<Coder<P, R>, R, 0>(s, src, dst, n);
  else if (law == 1) decodeLoop<Coder<P, R>, R, 1>(s, src, dst, n);
  else decodeLoop<Coder<P, R>, R, 2>(s, src, dst, n);
}

template <class P>
inline void decodeAnyRate(State& s, int law, const uint8_t* src, int16_t* dst, int n) {
  switch (s.rate & 3) {
    case 0: decodeAnyLaw<P, 0>(s, law, src, dst, n); break;
    case 1: decodeAnyLaw<P, 1>(s, law, src, dst, n); break;
    case 2: decodeAnyLaw<P, 2>(s, law, src, dst, n); break;
    default: decodeAnyLaw<P, 3>(s, law, src, dst, n); break;
  }
}

// The loops are flattened so that every step sits in one function body with
// the state in registers (and, for the AVX2 form, in that target).
__attribute__((flatten)) void encodePortable(State& s, const int16_t* src, uint8_t* dst, int n) {
  encodeAnyRate<ScalarPredictor>(s, src, dst, n);
}
__attribute__((flatten)) void decodePortable(State& s, int law, const uint8_t* src, int16_t* dst, int n) {
  decodeAnyRate<ScalarPredictor>(s, law, src, dst, n);
}
#if defined(VOKSC_G726_X86)
__attribute__((target("avx2"), flatten)) void encodeAvx2(State& s, const int16_t* src, uint8_t* dst, int n) {
  encodeAnyRate<Avx2Predictor>(s, src, dst, n);
}
__attribute__((target("avx2"), flatten)) void decodeAvx2(State& s, int law, const uint8_t* src, int16_t* dst, int n) {
  decodeAnyRate<Avx2Predictor>(s, law, src, dst, n);
}
#endif

int rateIndex(VokRateCode code) {
  switch (code) {
    case vokRate16000: return 0;
    case vokRate24000: return 1;
    case vokRateG726_32: return 2;
    case vokRateG726_40: return 3;
    default: return -1;
  }
}

// The form of the level chosen at run time, decided once.
Kernel activeKernel() {
  static const Kernel k = voksc::cpu::choose(Kernel::kScalar, Kernel::kAvx2);
  return k;
}

}  // namespace

void encodeBlock(State& s, const int16_t* src, uint8_t* dst, int n, Kernel k) {
#if defined(VOKSC_G726_X86)
  if (k == Kernel::kAvx2) return encodeAvx2(s, src, dst, n);
#endif
  (void)k;
  encodePortable(s, src, dst, n);
}

void decodeBlock(DecoderState& d, const uint8_t* src, int16_t* dst, int n, Kernel k) {
  const int law = d.law;
#if defined(VOKSC_G726_X86)
  if (k == Kernel::kAvx2) return decodeAvx2(d.c, law, src, dst, n);
#endif
  (void)k;
  decodePortable(d.c, law, src, dst, n);
}

void resetState(State& s, int rate) {
  s.pk1 = s.pk2 = 0;
  s.rate = static_cast<int16_t>(rate);
  s.yu = 544;
  s.ap = 0;
  s.yl = 34816;
  s.dms = s.dml = 0;
  s.td = 0;
  for (auto& v : s.coef) v = 0;
  for (auto& v : s.hist) v = 32;
}

}  // namespace voksc::g726

using voksc::anyNull;
namespace g726 = voksc::g726;

VOKSC_EXPORT VokResult voksEncodeGetStateSize_G726_16s8u(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(g726::State));
  return vokOk;
}

VOKSC_EXPORT VokResult voksEncodeInit_G726_16s8u(void* state, VokRateCode rate) {
  if (!state) return vokErrNullPtr;
  const int r = g726::rateIndex(rate);
  if (r < 0) return vokErrRange;
  g726::State s;
  std::memcpy(&s, state, sizeof s);
  g726::resetState(s, r);
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksEncode_G726_16s8u(void* state, const Vok16s* src, Vok8u* dst, int len) {
  if (anyNull(static_cast<const char*>(state), src, dst)) return vokErrNullPtr;
  if (len == 0) return vokErrSize;
  if (len < 0) return vokOk;
  g726::State s;
  std::memcpy(&s, state, sizeof s);
  g726::encodeBlock(s, src, dst, len, g726::activeKernel());
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecodeGetStateSize_G726_8u16s(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(g726::DecoderState));
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecodeInit_G726_8u16s(void* state, VokRateCode rate, int law) {
  if (!state) return vokErrNullPtr;
  const int r = g726::rateIndex(rate);
  if (r < 0 || law < 0 || law > 2) return vokErrRange;
  g726::DecoderState d;
  std::memcpy(&d, state, sizeof d);
  g726::resetState(d.c, r);
  d.law = law;
  std::memcpy(state, &d, sizeof d);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecode_G726_8u16s(void* state, const Vok8u* src, Vok16s* dst, int len) {
  if (anyNull(static_cast<const char*>(state), src, dst)) return vokErrNullPtr;
  if (len == 0) return vokErrSize;
  if (len < 0) return vokOk;
  g726::DecoderState d;
  std::memcpy(&d, state, sizeof d);
  g726::decodeBlock(d, src, dst, len, g726::activeKernel());
  std::memcpy(state, &d, sizeof d);
  return vokOk;
}
