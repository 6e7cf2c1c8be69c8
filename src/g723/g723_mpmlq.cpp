// G.723.1 6.3 kbit/s fixed codebook: multipulse maximum-likelihood
// quantisation (one amplitude, signed pulses on one of two grids).
#include <cstdint>
#include <cstring>
#include <utility>

#include "common/kernels.h"
#include "core/status.h"
#include "g723_internal.h"
#include "g723_tables.h"

namespace voksc::g723 {
namespace {

using namespace op;

constexpr int kMaxPulses = 6;

struct PulseSet {
  Word16 pos[kMaxPulses] = {}, amp[kMaxPulses] = {};
  Word16 grid = 0, level = 0;
};

// Adds the vector delayed by period, 2 period, .. to itself (saturating).
void periodise(const Word16* src, Word16* dst, int period) {
  Word16 base[kSubframe];
  std::memcpy(base, src, sizeof base);
  std::memcpy(dst, src, sizeof base);
  for (int shift = period; shift < kSubframe; shift += period)
    for (int i = shift; i < kSubframe; ++i) dst[i] = add(dst[i], base[i - shift]);
}

// One search over both grids and four amplitude levels; returns true when
// a configuration beat `bestErr` (then `best` holds it).
bool searchPulses(const Word16* h, const Word16* target, int np, Word32& bestErr, PulseSet& best) {
  // Autocorrelation of the halved response, normalised.
  Word16 half[kSubframe], corr[kSubframe];
  for (int i = 0; i < kSubframe; ++i) half[i] = shr(h[i], 1);
  // The saturating chains are taken as exact sums where no partial sum can
  // leave 32 bits: a lagged product sum of `half` is bounded by its energy
  // (|half| <= 16384, no -32768 product), the backward filter by
  // sqrt(E_target E_h) (Cauchy-Schwarz).
  int64_t acf[kSubframe];
  kern::autocorr(half, kSubframe, acf, kSubframe);
  const bool acfExact = 2 * acf[0] <= kMax32;
  const Word32 e = acfExact ? static_cast<Word32>(2 * acf[0]) : kMax32;
  const Word16 norm = norm_l(e);
  corr[0] = round_fx(L_shl(e, norm));
  for (int k = 1; k < kSubframe; ++k) {
    Word32 acc = 0;
    if (acfExact) {
      acc = static_cast<Word32>(2 * acf[k]);
    } else {
      for (int j = k; j < kSubframe; ++j) acc = L_mac(acc, half[j], half[j - k]);
    }
    corr[k] = round_fx(L_shl(acc, norm));
  }
  // Backward-filtered target, on the same scale less 4 bits.
  Word32 back[kSubframe];
  const Word16 backShift = sub(norm, 4);
  const double bound = static_cast<double>(kern::dot(target, target, kSubframe)) *
                       static_cast<double>(kern::dot(h, h, kSubframe));
  int64_t backExact[kSubframe];
  if (bound < 1.15e18) kern::xcorrTrunc(h, target, kSubframe, 0, kSubframe, backExact);
  for (int i = 0; i < kSubframe; ++i) {
    Word32 acc = 0;
    if (bound < 1.15e18) {
      acc = static_cast<Word32>(2 * backExact[i]);
    } else {
      for (int j = i; j < kSubframe; ++j) acc = L_mac(acc, target[j], h[j - i]);
    }
    back[i] = L_shl(acc, backShift);
  }
  bool improved = false;
  for (int grid = 0; grid < 2; ++grid) {
    // Largest correlation on the grid, then the nearest level among 2..22.
    Word32 peak = 0;
    Word16 first = static_cast<Word16>(grid);
    for (int i = grid; i < kSubframe; i += 2) {
      const Word32 a = L_abs(back[i]);
      if (a >= peak) peak = a, first = static_cast<Word16>(i);
    }
    Word32 nearest = 0x40000000;
    int level = 22;
    for (int i = 22; i >= 2; --i) {
      const Word32 d = L_abs(L_sub(L_mult(kPulseAmplitude[i], corr[0]), peak));
      if (d < nearest) nearest = d, level = i;
    }
    for (int step = -2; step <= 1; ++step) {
      PulseSet cand;
      cand.grid = static_cast<Word16>(grid);
      cand.level = static_cast<Word16>(level + step);
      const Word16 amp = kPulseAmplitude[cand.level];
      Word32 work[kSubframe];
      bool taken[kSubframe] = {};
      for (int i = grid; i < kSubframe; i += 2) work[i] = back[i];
      cand.pos[0] = first;
      cand.amp[0] = work[first] >= 0 ? amp : negate(amp);
      taken[first] = true;
      for (int p = 1; p < np; ++p) {
        Word32 top = static_cast<Word32>(0xC0000000u);
        for (int l = grid; l < kSubframe; l += 2) {
          if (taken[l]) continue;
          work[l] = L_msu(work[l], cand.amp[p - 1], corr[abs_s(static_cast<Word16>(l - cand.pos[p - 1]))]);
          const Word32 a = L_abs(work[l]);
          if (a > top) top = a, cand.pos[p] = static_cast<Word16>(l);
        }
        cand.amp[p] = work[cand.pos[p]] >= 0 ? amp : negate(amp);
        taken[cand.pos[p]] = true;
      }
      // Error measure 2 <t, y> - <y, y> of the synthesised excitation.
      // The excitation is np pulses in zeros, and a zero term leaves the
      // saturating chain of the convolution as it is: each output is the
      // chain of the pulses' products alone, in increasing position.
      Word16 pos[kMaxPulses], amps[kMaxPulses], y[kSubframe];
      for (int p = 0; p < np; ++p) {
        int at = p;
        for (; at > 0 && pos[at - 1] > cand.pos[p]; --at) {
          pos[at] = pos[at - 1];
          amps[at] = amps[at - 1];
        }
        pos[at] = cand.pos[p];
        amps[at] = cand.amp[p];
      }
      for (int l = 0; l < kSubframe; ++l) {
        Word32 acc = 0;
        for (int p = 0; p < np && pos[p] <= l; ++p) acc = L_mac(acc, amps[p], h[l - pos[p]]);
        y[l] = extract_h(L_shl(acc, 2));
      }
      Word32 score = 0;
      for (int j = 0; j < kSubframe; ++j) score = L_sub(L_mac(score, target[j], y[j]), L_shr(L_mult(y[j], y[j]), 1));
      if (score > bestErr) {
        bestErr = score;
        best = cand;
        improved = true;
      }
    }
  }
  return improved;
}

// Positions in increasing order, amplitudes carried along.
void sortPulses(PulseSet& s, int np) {
  for (int i = 1; i < np; ++i)
    for (int j = i; j > 0 && s.pos[j - 1] > s.pos[j]; --j) {
      std::swap(s.pos[j - 1], s.pos[j]);
      std::swap(s.amp[j - 1], s.amp[j]);
    }
}

}  // namespace
}  // namespace voksc::g723

using namespace voksc::g723;
using voksc::anyNull;
namespace op = voksc::op;

VOKSC_EXPORT VokResult voksGainQuant_G723_16s(const Vok16s* impResp, const Vok16s* target, Vok16s* pulsePos,
                                              Vok16s* pulseAmp, Vok32s* bestErr, Vok16s* grid, Vok16s* ampIndex,
                                              int numPulses, int* improved) {
  if (anyNull(impResp, target, pulsePos, pulseAmp, bestErr, grid, ampIndex, improved)) return vokErrNullPtr;
  if (numPulses != 5 && numPulses != 6) return vokErrBadArg;
  PulseSet best;
  Word32 err = *bestErr;
  *improved = 0;
  if (searchPulses(impResp, target, numPulses, err, best)) {
    sortPulses(best, numPulses);
    for (int i = 0; i < numPulses; ++i) pulsePos[i] = best.pos[i], pulseAmp[i] = best.amp[i];
    *bestErr = err;
    *grid = best.grid;
    *ampIndex = best.level;
    *improved = 1;
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksMPMLQFixedCodebookSearch_G723(Vok16s lag, const Vok16s* impResp, const Vok16s* target,
                                                         Vok16s* exc, Vok16s* grid, Vok16s* diracFlag, Vok16s* ampIndex,
                                                         Vok16s* signs, Vok32s* posCode, Vok16s subframe) {
  if (anyNull(impResp, target, exc, grid, diracFlag, ampIndex, signs, posCode)) return vokErrNullPtr;
  if (lag < kMinLag || lag > kMaxLag || subframe < 0 || subframe > 3) return vokErrRange;
  const int np = (subframe & 1) ? 5 : 6;
  PulseSet best;
  Word32 err = static_cast<Word32>(0xC0000000u);
  bool train = false;
  searchPulses(impResp, target, np, err, best);
  if (lag < kSubframe - 2) {
    Word16 h[kSubframe];
    periodise(impResp, h, lag);
    train = searchPulses(h, target, np, err, best);
  }
  Word16 v[kSubframe] = {};
  for (int i = 0; i < np; ++i) v[best.pos[i]] = best.amp[i];
  // Combinatorial code of the empty grid positions, one sign bit per pulse.
  int row = kMaxPulses - np;
  Word32 code = 0;
  Word16 sign = 0;
  for (int i = 0; i < kSubframe / 2 && row < kMaxPulses; ++i) {
    const Word16 at = v[best.grid + 2 * i];
    if (at == 0) {
      code = op::L_add(code, kPositionCode[row][i]);
    } else {
      sign = op::add(op::shl(sign, 1), at < 0 ? 1 : 0);
      ++row;
    }
  }
  if (train) periodise(v, v, lag);
  std::memcpy(exc, v, sizeof v);
  *grid = best.grid;
  *diracFlag = train ? 1 : 0;
  *ampIndex = best.level;
  *signs = sign;
  *posCode = code;
  return vokOk;
}
