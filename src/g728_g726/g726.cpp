// G.726 ADPCM encoder and decoder (16, 24, 32, 40 kbit/s).
//
// The arithmetic is the Recommendation's bit-exact block description: all
// quantities are held in the widths the standard gives them (two's
// complement or sign-magnitude words masked to 12..19 bits), the predictor
// products use its 4-bit-exponent / 6-bit-mantissa floating format, and the
// decoder's G.711 output passes the synchronous tandem adjustment.
#include <cstddef>
#include <cstring>

#include "core/status.h"
#include "g711.h"
#include "g726_tables.h"

namespace {

using voksc::anyNull;
namespace T = voksc::g726;

// Codec state: a reserved block, then the adaptation variables.
struct G726State {
  int16_t reserved[8];
  int16_t flag;      // sign of the latest partial reconstruction (working)
  int16_t pk1, pk2;  // signs of the two previous partial reconstructions
  int16_t rate;      // rate index 0..3 (16, 24, 32, 40 kbit/s)
  int16_t yu;        // fast quantiser scale factor
  int16_t ap;        // speed-control parameter
  int16_t work;
  int32_t yl;        // slow quantiser scale factor (19 bits)
  int16_t dms, dml;  // short- and long-term averages of F(I)
  int16_t td;        // tone detected
  int16_t se;        // previous signal estimate (working)
  int16_t b[6];      // zero-predictor coefficients
  int16_t a[2];      // pole-predictor coefficients
  int16_t dq[6];     // past quantised differences, floating format (sign in bit 10)
  int16_t sr[2];     // past reconstructed signals, floating format
  int8_t spare[12];  // unused, keeps the published object size
};
struct G726DecState {
  G726State c;
  int32_t law;  // 0 mu-law, 1 A-law, 2 linear
};
static_assert(sizeof(G726State) == 88, "G.726 encoder state size");
static_assert(sizeof(G726DecState) == 92, "G.726 decoder state size");
static_assert(offsetof(G726State, rate) == 22, "published position of the rate index");

// Per-rate tables and quantiser decision levels, indexed by rate index.
struct RateTables {
  int bits;
  const int16_t* reconst;  // dqln per code
  const int16_t* w;        // scale-factor multiplier per magnitude
  const int16_t* f;        // rate-of-change per magnitude
};
const RateTables kRates[4] = {
    {2, T::kReconst16, T::kScaleMult16, T::kRateChange16},
    {3, T::kReconst24, T::kScaleMult24, T::kRateChange24},
    {4, T::kReconst32, T::kScaleMult32, T::kRateChange32},
    {5, T::kReconst40, T::kScaleMult40, T::kRateChange40},
};

int rateIndex(VokRateCode code) {
  switch (code) {
    case vokRate16000: return 0;
    case vokRate24000: return 1;
    case vokRateG726_32: return 2;
    case vokRateG726_40: return 3;
    default: return -1;
  }
}

// Number of significant bits of a non-negative value (0 for 0).
inline int bitLength(uint32_t v) { return v ? 32 - __builtin_clz(v) : 0; }

// Floating format of a 16-bit sign-magnitude or two's-complement quantity.
inline int16_t toFloat(int sign, uint32_t mag) {
  int e = bitLength(mag);
  int mant = mag == 0 ? 32 : static_cast<int>((mag << 6) >> e);
  return static_cast<int16_t>((sign << 10) + (e << 6) + mant);
}

// Product of a predictor coefficient and a floating-format value.
inline int32_t fmult(int16_t an, int16_t srn) {
  uint32_t a = static_cast<uint16_t>(an);
  int ans = a >> 15;
  uint32_t anmag = ans == 0 ? (a >> 2) : ((16384 - (a >> 2)) & 8191);
  int anexp = bitLength(anmag);
  uint32_t anmant = anmag == 0 ? 32 : (anmag << 6) >> anexp;
  uint32_t s = static_cast<uint16_t>(srn);
  int srns = s >> 10;
  int srnexp = (s >> 6) & 15;
  uint32_t srnmant = s & 63;
  int wanexp = srnexp + anexp;
  uint32_t wanmant = (srnmant * anmant + 48) >> 4;
  uint32_t wanmag = wanexp <= 26 ? (wanmant << 7) >> (26 - wanexp) : ((wanmant << 7) << (wanexp - 26)) & 32767;
  return (srns ^ ans) == 0 ? wanmag : ((65536 - wanmag) & 65535);
}

// Log of the magnitude of a 16-bit difference: dl (Q7 log2) and its sign.
inline void logMag(int16_t d, int& dl, int& ds) {
  uint32_t v = static_cast<uint16_t>(d);
  ds = v >> 15;
  uint32_t mag = ds ? ((65536 - v) & 32767) : v;
  int e = mag ? bitLength(mag) - 1 : 0;
  int mant = static_cast<int>(((mag << 7) >> e) & 127);
  dl = (e << 7) + mant;
}

// Quantiser: magnitude interval of dln, then the code word by the sign.
// Decision levels per rate in the log domain; the 12-bit dln values at or
// above 2048 are negative (very small differences).
int quantise(int rate, int dln, int ds) {
  int i;
  switch (rate) {
    case 2: {  // 32 kbit/s
      static const int16_t lv[] = {3972, 2048, 400, 349, 300, 246, 178, 80};
      static const int8_t code[] = {1, 15, 7, 6, 5, 4, 3, 2};
      i = 1;
      for (int k = 0; k < 8; ++k)
        if (dln >= lv[k]) {
          i = code[k];
          break;
        }
      if (ds) i = 15 - i;
      if (i == 0) i = 15;
      return i;
    }
    case 1: {  // 24 kbit/s
      static const int16_t lv[] = {2048, 331, 218, 8, 0};
      static const int8_t code[] = {7, 3, 2, 1, 7};
      i = 7;
      for (int k = 0; k < 5; ++k)
        if (dln >= lv[k]) {
          i = code[k];
          break;
        }
      if (ds) i = 7 - i;
      if (i == 0) i = 7;
      return i;
    }
    case 0:  // 16 kbit/s
      i = dln >= 2048 ? 0 : (dln >= 261 ? 1 : 0);
      if (ds) i = 3 - i;
      return i;
    default: {  // 40 kbit/s
      static const int16_t lv[] = {4080, 3974, 2048, 553, 528, 502, 475, 445, 413,
                                   378,  339,  298,  250, 198, 139, 68,  0};
      static const int8_t code[] = {2, 1, 31, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2};
      i = 2;
      for (int k = 0; k < 17; ++k)
        if (dln >= lv[k]) {
          i = code[k];
          break;
        }
      if (ds) i = 31 - i;
      if (i == 0) i = 31;
      return i;
    }
  }
}

// Interval index (0..2^bits-1 ordered by value) the re-quantised code of the
// tandem adjustment compares: the decision position of dlnx.
int syncIndex(int rate, int dlnx, int dsx) {
  int id;
  switch (rate) {
    case 2: {
      static const int16_t lv[] = {3972, 2048, 400, 349, 300, 246, 178, 80};
      static const int8_t val[] = {9, 7, 15, 14, 13, 12, 11, 10};
      id = 9;
      for (int k = 0; k < 8; ++k)
        if (dlnx >= lv[k]) {
          id = val[k];
          break;
        }
      if (dsx) id = 15 - id;
      if (id == 8) id = 7;
      return id;
    }
    case 1: {
      static const int16_t lv[] = {2048, 331, 218, 8, 0};
      static const int8_t val[] = {3, 7, 6, 5, 3};
      id = 0;  // dlnx is 12-bit, never below 0: one level always matches
      for (int k = 0; k < 5; ++k)
        if (dlnx >= lv[k]) {
          id = val[k];
          break;
        }
      if (dsx) id = 7 - id;
      if (id == 4) id = 3;
      return id;
    }
    case 0:
      id = dlnx >= 2048 ? 2 : (dlnx >= 261 ? 3 : 2);
      if (dsx) id = 3 - id;
      return id;
    default: {
      static const int16_t lv[] = {4080, 3974, 2048, 553, 528, 502, 475, 445, 413,
                                   378,  339,  298,  250, 198, 139, 68,  0};
      static const int8_t val[] = {18, 17, 15, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18};
      id = 18;
      for (int k = 0; k < 17; ++k)
        if (dlnx >= lv[k]) {
          id = val[k];
          break;
        }
      if (dsx) id = 31 - id;
      if (id == 16) id = 15;
      return id;
    }
  }
}

// The tandem adjustment: move the PCM character one step when re-quantising
// it does not give back the received code.
int syncAdjust(int rate, int code, int sp, int dlnx, int dsx, bool alaw) {
  const int bits = kRates[rate].bits;
  const int half = 1 << (bits - 1);
  int is = code >> (bits - 1);
  int im = is == 0 ? code + half : code & (half - 1);
  int id = syncIndex(rate, dlnx, dsx);
  int ss = (sp & 128) >> 7;
  int mask = sp & 127;
  if (alaw) {
    if (id > im && ss == 1 && mask == 0)
      ss = 0;
    else if (id > im && ss == 1 && mask != 0)
      mask--;
    else if (id > im && ss == 0 && mask != 127)
      mask++;
    else if (id < im && ss == 1 && mask != 127)
      mask++;
    else if (id < im && ss == 0 && mask == 0)
      ss = 1;
    else if (id < im && ss == 0 && mask != 0)
      mask--;
  } else {
    if (id > im && ss == 1 && mask == 127) {
      ss = 0;
      mask--;
    } else if (id > im && ss == 1 && mask != 127) {
      mask++;
    } else if (id > im && ss == 0 && mask != 0) {
      mask--;
    } else if (id < im && ss == 1 && mask != 0) {
      mask--;
    } else if (id < im && ss == 0 && mask == 127) {
      ss = 1;
    } else if (id < im && ss == 0 && mask != 127) {
      mask++;
    }
  }
  return mask + (ss << 7);
}

// One sample of the codec.  The encoder passes the 14-bit linear input
// (x, encode = true) and receives the code; the decoder passes the code.
// Returns the code; sets sr (reconstructed) and the working values the
// decoder's tandem adjustment needs.
struct Step {
  int code;
  int16_t sr;
  int16_t se;
  int16_t y;
};

inline void step(G726State& s, bool encode, int x, int codeIn, Step& out) {
  const int rate = s.rate;
  const RateTables& rt = kRates[rate];

  // Signal estimate.
  int32_t wa1 = fmult(s.a[0], s.sr[0]);
  int32_t wa2 = fmult(s.a[1], s.sr[1]);
  uint32_t sezi = 0;
  for (int k = 0; k < 6; ++k) sezi = (sezi + static_cast<uint32_t>(fmult(s.b[k], s.dq[k]))) & 65535;
  uint32_t sei = (((sezi + static_cast<uint32_t>(wa2)) & 65535) + static_cast<uint32_t>(wa1)) & 65535;
  int16_t sez = static_cast<int16_t>(sezi >> 1);
  int16_t se = static_cast<int16_t>(sei >> 1);

  // Scale factor.
  int al = s.ap >= 256 ? 64 : (s.ap >> 2);
  int32_t yl6 = s.yl >> 6;
  int32_t dif = (s.yu + 16384 - yl6) & 16383;
  int32_t difm = (dif >> 13) == 0 ? dif : ((16384 - dif) & 8191);
  int32_t prodm = (difm * al) >> 6;
  int32_t prod = (dif >> 13) == 0 ? prodm : ((16384 - prodm) & 16383);
  int16_t y = static_cast<int16_t>((yl6 + prod) & 8191);

  int i;
  if (encode) {
    int32_t sli = (x & 16383) >> 13 == 0 ? (x & 16383) : ((x & 16383) + 49152);
    int32_t sei2 = (se >> 14) == 0 ? se : (se + 32768);
    int16_t d = static_cast<int16_t>((sli + 65536 - sei2) & 65535);
    int dl, ds;
    logMag(d, dl, ds);
    int dln = (dl + 4096 - (y >> 2)) & 4095;
    i = quantise(rate, dln, ds);
  } else {
    i = codeIn & ((1 << rt.bits) - 1);
  }

  // Inverse quantiser.
  int dqs = i >> (rt.bits - 1);
  int dql = (rt.reconst[i] + (y >> 2)) & 4095;
  int32_t dqmag = (dql >> 11) ? 0 : (((dql & 127) + 128) << 7) >> (14 - ((dql >> 7) & 15));
  int16_t dq = static_cast<int16_t>((dqs << 15) + dqmag);

  // Magnitude index for the W and F tables.
  const int half = 1 << (rt.bits - 1);
  int im = dqs == 0 ? (i & (half - 1)) : (((2 * half - 1) - i) & (half - 1));

  // Transition detector (uses the old yl and td).
  int ylint = s.yl >> 15;
  int ylfrac = (s.yl >> 10) & 31;
  int32_t thr1 = static_cast<int32_t>(ylfrac + 32) << ylint;
  int32_t thr2 = ylint > 9 ? 31744 : thr1;
  int32_t dqthr = (thr2 + (thr2 >> 1)) >> 1;
  int tr = ((dq & 32767) > dqthr && s.td == 1) ? 1 : 0;

  // Speed-control averages.
  int fi = rt.f[im];
  {
    int dd = ((fi << 9) + 8192 - s.dms) & 8191;
    int ddx = (dd >> 12) == 0 ? (dd >> 5) : ((dd >> 5) + 3840);
    s.dms = static_cast<int16_t>((ddx + s.dms) & 4095);
    int32_t db = ((int32_t{fi} << 11) + 32768 - s.dml) & 32767;
    int32_t dbx = (db >> 14) == 0 ? (db >> 7) : ((db >> 7) + 16128);
    s.dml = static_cast<int16_t>((dbx + s.dml) & 16383);
  }

  // Scale-factor adaptation.
  {
    int32_t wi = rt.w[im];
    int32_t dd = ((wi << 5) + 131072 - y) & 131071;
    int32_t ddx = (dd >> 16) == 0 ? (dd >> 5) : ((dd >> 5) + 4096);
    int16_t yut = static_cast<int16_t>((y + ddx) & 8191);
    int geul = ((yut + 11264) & 16383) >> 13;
    int gell = ((yut + 15840) & 16383) >> 13;
    s.yu = gell == 1 ? 544 : (geul == 0 ? 5120 : yut);
    int32_t dife = (s.yu + ((1048576 - s.yl) >> 6)) & 16383;
    int32_t difsx = (dife >> 13) == 0 ? dife : (dife + 507904);
    s.yl = (s.yl + difsx) & 524287;
  }

  // Partial reconstruction sign and reconstructed signal.
  uint32_t dq1 = static_cast<uint16_t>(dq);
  uint32_t dqi = ((dq1 >> 15) & 1) == 0 ? dq1 : ((65536 - (dq1 & 32767)) & 65535);
  uint32_t sezx = (sez >> 14) == 0 ? static_cast<uint32_t>(static_cast<uint16_t>(sez)) : static_cast<uint32_t>(sez + 32768);
  uint32_t dqsez = (dqi + sezx) & 65535;
  int pk0 = static_cast<int>(dqsez >> 15);
  int sigpk = dqsez == 0 ? 1 : 0;
  uint32_t sex = (se >> 14) == 0 ? static_cast<uint32_t>(static_cast<uint16_t>(se)) : static_cast<uint32_t>(32768 + se);
  int16_t sr = static_cast<int16_t>((dqi + sex) & 65535);

  // Pole predictor adaptation.
  uint32_t a11 = static_cast<uint16_t>(s.a[0]), a21 = static_cast<uint16_t>(s.a[1]);
  int pks1 = pk0 ^ s.pk1, pks2 = pk0 ^ s.pk2;
  int16_t a2p;
  {
    uint32_t uga2a = pks2 == 0 ? 16384 : 114688;
    uint32_t fa1;
    if ((s.a[0] >> 15) == 0)
      fa1 = a11 <= 8191 ? (a11 << 2) : (8191 << 2);
    else
      fa1 = a11 >= 57345 ? ((a11 << 2) & 131071) : (24577 << 2);
    uint32_t fa = pks1 ? fa1 : ((131072 - fa1) & 131071);
    uint32_t uga2b = (uga2a + fa) & 131071;
    uint32_t uga2 = sigpk == 1 ? 0 : ((uga2b >> 16) ? ((uga2b >> 7) + 64512) : (uga2b >> 7));
    uint32_t ula2 = (s.a[1] >> 15) == 0 ? (65536 - (a21 >> 7)) & 65535 : (65536 - ((a21 >> 7) + 65024)) & 65535;
    uint32_t a2t = (a21 + ((uga2 + ula2) & 65535)) & 65535;
    a2p = static_cast<int16_t>(a2t >= 32768 && a2t <= 53248 ? 53248 : (a2t >= 12288 && a2t <= 32767 ? 12288 : a2t));
  }
  int16_t a1p;
  {
    uint32_t uga1 = sigpk == 1 ? 0 : (pks1 == 0 ? 192 : 65344);
    uint32_t ash = a11 >> 8;
    uint32_t ula1 = ((s.a[0] >> 15) == 0 ? (65536 - ash) : (65536 - (ash + 65280))) & 65535;
    uint32_t a1t = (a11 + ((uga1 + ula1) & 65535)) & 65535;
    uint32_t a2u = static_cast<uint16_t>(a2p);
    uint32_t a1ul = (15360 + 65536 - a2u) & 65535;
    uint32_t a1ll = (a2u + 65536 - 15360) & 65535;
    a1p = static_cast<int16_t>(a1t >= 32768 && a1t <= a1ll ? a1ll : (a1t >= a1ul && a1t <= 32767 ? a1ul : a1t));
  }
  uint32_t a2pu = static_cast<uint16_t>(a2p);
  int tdp = (a2pu >= 32768 && a2pu < 53760) ? 1 : 0;

  // Adaptation speed.
  {
    int32_t dd = ((int32_t{s.dms} << 2) + 32768 - s.dml) & 32767;
    int32_t ddm = (dd >> 14) == 0 ? dd : ((32768 - dd) & 16383);
    int ax = (y >= 1536 && ddm < (s.dml >> 3) && tdp == 0) ? 0 : 1;
    int dc = ((ax << 9) + 2048 - s.ap) & 2047;
    int dcx = (dc >> 10) == 0 ? (dc >> 4) : ((dc >> 4) + 896);
    int app = (dcx + s.ap) & 1023;
    s.ap = static_cast<int16_t>(tr == 0 ? app : 256);
  }

  // Zero predictor adaptation.
  const int dqsign = (dq >> 15) & 1;
  const int leak = rate == 3 ? 9 : 8;
  const uint32_t param = rate == 3 ? 65408 : 65280;
  int16_t bp[6];
  for (int k = 0; k < 6; ++k) {
    uint32_t bb = static_cast<uint16_t>(s.b[k]);
    int u = dqsign ^ (s.dq[k] >> 10);
    uint32_t ugb = (dq & 32767) == 0 ? 0 : (u == 0 ? 128 : 65408);
    uint32_t ulb = (bb >> 15) == 0 ? ((65536 - (bb >> leak)) & 65535) : ((65536 - ((bb >> leak) + param)) & 65535);
    bp[k] = static_cast<int16_t>((bb + ((ugb + ulb) & 65535)) & 65535);
  }

  // Triggered updates on a transition, then the histories.
  for (int k = 0; k < 6; ++k) s.b[k] = tr ? 0 : bp[k];
  s.a[0] = tr ? 0 : a1p;
  s.a[1] = tr ? 0 : a2p;
  s.td = static_cast<int16_t>(tr ? 0 : tdp);
  s.pk2 = s.pk1;
  s.pk1 = static_cast<int16_t>(pk0);
  for (int k = 5; k > 0; --k) s.dq[k] = s.dq[k - 1];
  s.dq[0] = toFloat(dqsign, static_cast<uint32_t>(dq & 32767));
  s.sr[1] = s.sr[0];
  {
    uint32_t srr = static_cast<uint16_t>(sr);
    int srs = srr >> 15;
    s.sr[0] = toFloat(srs, srs == 0 ? srr : ((65536 - srr) & 32767));
  }
  out.code = i;
  out.sr = sr;
  out.se = se;
  out.y = y;
}

void reset(G726State& s, int rate) {
  s.flag = 0;
  s.pk1 = s.pk2 = 0;
  s.rate = static_cast<int16_t>(rate);
  s.yu = 544;
  s.ap = 0;
  s.work = 0;
  s.yl = 34816;
  s.dms = s.dml = 0;
  s.td = 0;
  s.se = 0;
  for (auto& v : s.b) v = 0;
  for (auto& v : s.a) v = 0;
  for (auto& v : s.dq) v = 32;
  for (auto& v : s.sr) v = 32;
  for (auto& v : s.spare) v = 0;
}

}  // namespace

VOKSC_EXPORT VokResult voksEncodeGetStateSize_G726_16s8u(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(G726State));
  return vokOk;
}

VOKSC_EXPORT VokResult voksEncodeInit_G726_16s8u(void* state, VokRateCode rate) {
  if (!state) return vokErrNullPtr;
  int r = rateIndex(rate);
  if (r < 0) return vokErrRange;
  reset(*static_cast<G726State*>(state), r);
  return vokOk;
}

VOKSC_EXPORT VokResult voksEncode_G726_16s8u(void* state, const Vok16s* src, Vok8u* dst, int len) {
  if (anyNull(static_cast<const char*>(state), src, dst)) return vokErrNullPtr;
  if (len == 0) return vokErrSize;
  if (len < 0) return vokOk;
  G726State s;
  std::memcpy(&s, state, sizeof s);
  s.rate &= 3;
  Step st;
  for (int n = 0; n < len; ++n) {
    step(s, true, src[n], 0, st);
    dst[n] = static_cast<Vok8u>(st.code);
  }
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecodeGetStateSize_G726_8u16s(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(G726DecState));
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecodeInit_G726_8u16s(void* state, VokRateCode rate, int law) {
  if (!state) return vokErrNullPtr;
  int r = rateIndex(rate);
  if (r < 0) return vokErrRange;
  if (law < 0 || law > 2) return vokErrRange;
  auto* d = static_cast<G726DecState*>(state);
  reset(d->c, r);
  d->law = law;
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecode_G726_8u16s(void* state, const Vok8u* src, Vok16s* dst, int len) {
  if (anyNull(static_cast<const char*>(state), src, dst)) return vokErrNullPtr;
  if (len == 0) return vokErrSize;
  if (len < 0) return vokOk;
  G726DecState d;
  std::memcpy(&d, state, sizeof d);
  d.c.rate &= 3;
  const int law = d.law;
  Step st;
  for (int n = 0; n < len; ++n) {
    step(d.c, false, 0, src[n], st);
    if (law == 2) {
      int v = st.sr;
      dst[n] = static_cast<Vok16s>(v > 8191 ? 8191 : (v < -8192 ? -8192 : v));
      continue;
    }
    const bool alaw = law == 1;
    int sp = voksc::g711::compress(st.sr, alaw);
    // Re-quantise the PCM character against the same estimate and scale.
    int slx = voksc::g711::expand14(sp, alaw);
    int32_t sli = (slx >> 13) == 0 ? slx : (slx + 49152);
    int32_t sei = (st.se >> 14) == 0 ? st.se : (st.se + 32768);
    int16_t dx = static_cast<int16_t>((sli + 65536 - sei) & 65535);
    int dlx, dsx;
    logMag(dx, dlx, dsx);
    int dlnx = (dlx + 4096 - (st.y >> 2)) & 4095;
    int sd = syncAdjust(d.c.rate, st.code, sp, dlnx, dsx, alaw);
    dst[n] = static_cast<Vok16s>(alaw ? (sd ^ 0x55) : sd);
  }
  std::memcpy(state, &d, sizeof d);
  return vokOk;
}
