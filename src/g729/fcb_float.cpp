// Float forms of the G.729 four-pulse searches (the focused search with its
// budget and the Annex A depth-first search) and the Annex A dot products.
// They follow the float reference step by step, in single precision and in
// its order of sums.
#include <cstring>

#include "common/kernels.h"
#include "core/status.h"
#include "fcb_internal.h"

using voksc::anyNull;

namespace voksc::g729::fcb {

namespace {

void foldSignsF(float* rr, const float* sign) {
  struct B {
    int block, ta, tb;
  };
  const B blocks[9] = {{k01, 0, 1}, {k02, 0, 2}, {k03, 0, 3}, {k04, 0, 4}, {k12, 1, 2},
                       {k13, 1, 3}, {k14, 1, 4}, {k23, 2, 3}, {k24, 2, 4}};
  for (const B& b : blocks) {
    float* p = rr + b.block;
    for (int a = 0; a < kPos; ++a)
      for (int c = 0; c < kPos; ++c, ++p) *p *= sign[5 * a + b.ta] * sign[5 * c + b.tb];
  }
}

int packIndex(const int* ip, const float* sign, float* code, int* signs) {
  for (int i = 0; i < kSubfr; ++i) code[i] = 0.0f;
  int s = 0;
  for (int k = 0; k < 4; ++k) {
    code[ip[k]] = sign[ip[k]];
    if (sign[ip[k]] > 0.0f) s |= 1 << k;
  }
  *signs = s;
  const int j = ip[3] % 5 - 3;
  return ip[0] / 5 + ((ip[1] / 5) << 3) + ((ip[2] / 5) << 6) + ((((ip[3] / 5) << 1) + j) << 9);
}

}  // namespace

int searchG729Float(float* dn, float* rr, float* code, int* signs, int* budget, bool firstSubframe) {
  float sign[kSubfr];
  for (int i = 0; i < kSubfr; ++i) {
    if (dn[i] >= 0.0f) {
      sign[i] = 1.0f;
    } else {
      sign[i] = -1.0f;
      dn[i] = -dn[i];
    }
  }
  float average = dn[0] + dn[1] + dn[2];
  float max0 = dn[0], max1 = dn[1], max2 = dn[2];
  for (int i = 5; i < kSubfr; i += 5) {
    average += dn[i] + dn[i + 1] + dn[i + 2];
    if (dn[i] > max0) max0 = dn[i];
    if (dn[i + 1] > max1) max1 = dn[i + 1];
    if (dn[i + 2] > max2) max2 = dn[i + 2];
  }
  max0 += max1 + max2;
  average *= 0.125f;
  const float thres = average + (max0 - average) * 0.40f;
  foldSignsF(rr, sign);

  int ip[4] = {0, 1, 2, 3};
  float psc = 0.0f, alpha = 1000000.0f;
  int time = 75 + (firstSubframe ? 30 : *budget);
  for (int a0 = 0; a0 < kPos; ++a0) {
    const float ps0 = dn[5 * a0];
    const float alp0 = rr[kD0 + a0];
    for (int a1 = 0; a1 < kPos; ++a1) {
      const float ps1 = ps0 + dn[5 * a1 + 1];
      const float alp1 = alp0 + rr[kD1 + a1] + 2.0f * rr[k01 + a0 * kPos + a1];
      for (int a2 = 0; a2 < kPos; ++a2) {
        const float ps2 = ps1 + dn[5 * a2 + 2];
        const float alp2 = alp1 + rr[kD2 + a2] + 2.0f * (rr[k02 + a0 * kPos + a2] + rr[k12 + a1 * kPos + a2]);
        if (!(ps2 > thres)) continue;
        for (int t = 3; t < 5; ++t) {
          const float* rtt = rr + (t == 3 ? kD3 : kD4);
          const float* r0 = rr + (t == 3 ? k03 : k04) + a0 * kPos;
          const float* r1 = rr + (t == 3 ? k13 : k14) + a1 * kPos;
          const float* r2 = rr + (t == 3 ? k23 : k24) + a2 * kPos;
          for (int a3 = 0; a3 < kPos; ++a3) {
            const float ps3 = ps2 + dn[5 * a3 + t];
            const float alp3 = alp2 + rtt[a3] + 2.0f * (r1[a3] + r0[a3] + r2[a3]);
            const float ps3c = ps3 * ps3;
            if (ps3c * alpha > psc * alp3) {
              psc = ps3c;
              alpha = alp3;
              ip[0] = 5 * a0;
              ip[1] = 5 * a1 + 1;
              ip[2] = 5 * a2 + 2;
              ip[3] = 5 * a3 + t;
            }
          }
        }
        if (--time <= 0) goto done;
      }
    }
  }
done:
  *budget = time;
  return packIndex(ip, sign, code, signs);
}

int searchG729AFloat(float* dn, float* rr, float* code, int* signs) {
  float sign[kSubfr], signInv[kSubfr];
  for (int i = 0; i < kSubfr; ++i) {
    if (dn[i] >= 0.0f) {
      sign[i] = 1.0f;
      signInv[i] = -1.0f;
    } else {
      sign[i] = -1.0f;
      signInv[i] = 1.0f;
      dn[i] = -dn[i];
    }
  }
  foldSignsF(rr, sign);
  (void)signInv;
  auto trackMax = [&](int track, int skip) {
    float mx = -1.0f;
    int at = track;  // returned only when no value compares (non-finite input): still a position of the track
    for (int j = track; j < kSubfr; j += 5)
      if (dn[j] - mx > 0.0f && skip != j) {
        mx = dn[j];
        at = j;
      }
    return at;
  };
  float psk = -1.0f, alpk = 1.0f, ps = 0.0f;
  int ip[4] = {0, 1, 2, 3}, ix = 0, iy = 0;
  float tmp[kPos];
  for (int track = 3; track < 5; ++track) {
    const float* rTT = rr + (track == 3 ? kD3 : kD4);
    const float* r0T = rr + (track == 3 ? k03 : k04);
    const float* r1T = rr + (track == 3 ? k13 : k14);
    const float* r2T = rr + (track == 3 ? k23 : k24);
    // Search 3, phase A: track 2 and this track.  Every phase starts from a
    // pair on its own tracks, so degenerate input (zero or non-finite
    // energies that never beat the start) still yields a valid pulse set.
    float sq = -1.0f, alp = 1.0f;
    ix = 2;
    iy = track;
    for (int pass = 0, prev = -1; pass < 2; ++pass) {
      const int i0 = trackMax(2, prev);
      prev = i0;
      const int j = i0 / 5;
      const float ps1 = dn[i0];
      const float alp1 = 0.5f * rr[kD2 + j];
      for (int a = 0; a < kPos; ++a) {
        const float ps2 = ps1 + dn[5 * a + track];
        const float alp2 = alp1 + r2T[j * kPos + a] + rTT[a] * 0.5f;
        const float sq2 = ps2 * ps2;
        if (alp * sq2 - sq * alp2 > 0.0f) {
          sq = sq2;
          ps = ps2;
          alp = alp2;
          ix = i0;
          iy = 5 * a + track;
        }
      }
    }
    int i0 = ix, i1 = iy;
    // Phase B: tracks 0 and 1.
    float ps0 = ps, alp0 = alp;
    sq = -1.0f;
    alp = 1.0f;
    ix = 0;
    iy = 1;
    for (int a = 0; a < kPos; ++a) tmp[a] = rr[k12 + a * kPos + i0 / 5] + r1T[a * kPos + i1 / 5] + rr[kD1 + a] * 0.5f;
    for (int a2 = 0; a2 < kPos; ++a2) {
      const float ps1 = ps0 + dn[5 * a2];
      const float alp1 = alp0 + rr[k02 + a2 * kPos + i0 / 5] + r0T[a2 * kPos + i1 / 5] + rr[kD0 + a2] * 0.5f;
      for (int a3 = 0; a3 < kPos; ++a3) {
        const float ps2 = ps1 + dn[5 * a3 + 1];
        const float alp2 = alp1 + rr[k01 + a2 * kPos + a3] + tmp[a3];
        const float sq2 = ps2 * ps2;
        if (alp * sq2 - sq * alp2 > 0.0f) {
          sq = sq2;
          alp = alp2;
          ix = 5 * a2;
          iy = 5 * a3 + 1;
        }
      }
    }
    if (alpk * sq - psk * alp > 0.0f) {
      psk = sq;
      alpk = alp;
      ip[2] = i0;
      ip[3] = i1;
      ip[0] = ix;
      ip[1] = iy;
    }
    // Search 4, phase A: this track and track 0.
    sq = -1.0f;
    alp = 1.0f;
    ix = track;
    iy = 0;
    for (int pass = 0, prev = -1; pass < 2; ++pass) {
      const int k0 = trackMax(track, prev);
      prev = k0;
      const int j = k0 / 5;
      const float ps1 = dn[k0];
      const float alp1 = 0.5f * rTT[j];
      for (int a = 0; a < kPos; ++a) {
        const float ps2 = ps1 + dn[5 * a];
        const float alp2 = alp1 + r0T[a * kPos + j] + rr[kD0 + a] * 0.5f;
        const float sq2 = ps2 * ps2;
        if (alp * sq2 - sq * alp2 > 0.0f) {
          sq = sq2;
          ps = ps2;
          alp = alp2;
          ix = k0;
          iy = 5 * a;
        }
      }
    }
    i0 = ix;
    i1 = iy;
    const int i1Row = (i1 / 5) << 3;
    // Phase B: tracks 1 and 2.
    ps0 = ps;
    alp0 = alp;
    sq = -1.0f;
    alp = 1.0f;
    ix = 1;
    iy = 2;
    for (int a = 0; a < kPos; ++a) tmp[a] = r2T[a * kPos + i0 / 5] + rr[k02 + i1Row + a] + rr[kD2 + a] * 0.5f;
    for (int a2 = 0; a2 < kPos; ++a2) {
      const float ps1 = ps0 + dn[5 * a2 + 1];
      const float alp1 = alp0 + r1T[a2 * kPos + i0 / 5] + rr[k01 + i1Row + a2] + rr[kD1 + a2] * 0.5f;
      for (int a3 = 0; a3 < kPos; ++a3) {
        const float ps2 = ps1 + dn[5 * a3 + 2];
        const float alp2 = alp1 + rr[k12 + a2 * kPos + a3] + tmp[a3];
        const float sq2 = ps2 * ps2;
        if (alp * sq2 - sq * alp2 > 0.0f) {
          sq = sq2;
          alp = alp2;
          ix = 5 * a2 + 1;
          iy = 5 * a3 + 2;
        }
      }
    }
    if (alpk * sq - psk * alp > 0.0f) {
      psk = sq;
      alpk = alp;
      ip[3] = i0;
      ip[0] = i1;
      ip[1] = ix;
      ip[2] = iy;
    }
  }
  return packIndex(ip, sign, code, signs);
}

}  // namespace voksc::g729::fcb

using namespace voksc::g729;

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729_32f(const Vok32f* dn, Vok32f* rr, Vok32f* cod, Vok32s* index,
                                                        Vok32s* budget, int subframe) {
  if (anyNull(dn, rr, cod, index, budget)) return vokErrNullPtr;
  // The budget is a 16-bit counter carried from the first subframe.
  if (subframe != 0 && (*budget < -32768 || *budget > 32767)) return vokErrRange;
  float d[fcb::kSubfr];
  std::memcpy(d, dn, sizeof d);
  int signs = 0, b = *budget;
  index[0] = fcb::searchG729Float(d, rr, cod, &signs, &b, subframe == 0);
  index[1] = signs;
  *budget = b;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729A_32f(const Vok32f* dn, Vok32f* rr, Vok32f* cod, Vok32s* index) {
  if (anyNull(dn, rr, cod, index)) return vokErrNullPtr;
  float d[fcb::kSubfr];
  std::memcpy(d, dn, sizeof d);
  int signs = 0;
  index[0] = fcb::searchG729AFloat(d, rr, cod, &signs);
  index[1] = signs;
  return vokOk;
}

// Exact sum of products, doubled, saturated to 32 bits with a warning.
VOKSC_EXPORT VokResult voksDotProd_G729A_16s32s(const Vok16s* a, const Vok16s* b, int len, Vok32s* result) {
  if (anyNull(a, b, result)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  const int64_t s = 2 * voksc::kern::dot(a, b, len);
  if (s > INT32_MAX || s < INT32_MIN) {
    *result = s > 0 ? INT32_MAX : INT32_MIN;
    return vokWrnOverflow;
  }
  *result = static_cast<Vok32s>(s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDotProd_G729A_32f(const Vok32f* a, const Vok32f* b, int len, Vok32f* result) {
  if (anyNull(a, b, result)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  float s = 0.0f;
  for (int i = 0; i < len; ++i) s += a[i] * b[i];
  *result = s;
  return vokOk;
}
