// G.729 open-loop pitch searches on the weighted speech of one frame: the
// three-section search of G.729 and the decimated search of Annex A.
#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "pitch_internal.h"

using namespace voksc::op;
using voksc::anyNull;
using voksc::vokInvSqrt;
using voksc::vokMpy32;
using voksc::vokSplit;
using namespace voksc::g729::pitch;

namespace voksc::g729::pitch {

// The peak times the Q30 inverse square root of the energy, formed as a
// split-value product; the low word holds the Q15 result.
Word16 normalisedPeak(Word32 peak, Word32 energy) {
  return extract_l(vokMpy32(vokSplit(peak), vokSplit(vokInvSqrt(energy))));
}

// Multiples of a shorter delay reinforce its peak: a section gains a share
// of the next longer section's peak once when that delay is within 5 of
// twice its own, and once more when within 7 of three times it.  The
// middle section is reinforced first (by a quarter of the longest one's
// peak), then the shortest (by 0.2 of the middle one's reinforced peak);
// the largest peak wins, ties going to the shorter delays.
int pickSection(const int* delay, Word16* peak) {
  for (int s = 1; s >= 0; --s) {
    const Word16 share = s == 1 ? shr(peak[2], 2) : mult(peak[1], 6554);
    const Word16 own = static_cast<Word16>(delay[s]), longer = static_cast<Word16>(delay[s + 1]);
    const Word16 offTwice = sub(shl(own, 1), longer);
    const Word16 offThrice = add(offTwice, own);
    if (sub(abs_s(offTwice), 5) < 0) peak[s] = add(peak[s], share);
    if (sub(abs_s(offThrice), 7) < 0) peak[s] = add(peak[s], share);
  }
  int best = peak[0] < peak[1] ? 1 : 0;
  if (peak[best] < peak[2]) best = 2;
  return best;
}

}  // namespace voksc::g729::pitch

namespace {

constexpr int kSpan = kFrame + kDelayMax;  // 223 samples from 143 before the frame

int64_t energy(const int16_t* x, int n, int step) {
  int64_t e = 0;
  for (int i = 0; i < n; i += step) e += int32_t{x[i]} * x[i];
  return e;
}

// The analysis buffer scaled as the energy (of every `step`-th sample)
// asks: right by 3 when the doubled sum saturates, left by 3 when it stays
// below 2^20.
void scaleFrame(const int16_t* sig, int16_t* buf, int step) {
  const int64_t e = energy(sig - kDelayMax, kSpan, step);
  const int16_t* x = sig - kDelayMax;
  if (e > 0x3FFFFFFF) {
    for (int i = 0; i < kSpan; ++i) buf[i] = static_cast<int16_t>(x[i] >> 3);
  } else if (e < 0x80000) {
    for (int i = 0; i < kSpan; ++i) {
      const int v = x[i] * 8;  // saturated as shl does (Annex A weighs every other sample only)
      buf[i] = static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
  } else {
    for (int i = 0; i < kSpan; ++i) buf[i] = x[i];
  }
}

Word32 clampDoubled(int64_t s, int64_t init = 0) {
  const int64_t v = init + 2 * s;
  return v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : static_cast<Word32>(v));
}

// L_mac chain over n samples of a and b taken every `step`.
Word32 chain(const int16_t* a, const int16_t* b, int n, int step) {
  Word32 s = 0;
  for (int j = 0; j < n; j += step) s = L_mac(s, a[j], b[j]);
  return s;
}

// ---- G.729 ------------------------------------------------------------------

int openLoop(const int16_t* sig) {
  int16_t buf[kSpan];
  scaleFrame(sig, buf, 1);
  const int16_t* s = buf + kDelayMax;
  // Whenever the scaled buffer's energy fits 30 bits, no correlation over
  // its samples, nor any partial sum of one, can saturate the L_mac chain
  // (Cauchy-Schwarz): the exact lag-maximum search serves.
  const bool bounded = energy(buf, kSpan, 1) <= 0x3FFFFFFF;
  // A section from its longest delay down; equal values move to the
  // shorter delay.  The maximum is normalised by its delayed energy.
  auto section = [&](int hi, int lo, Word16& norm) {
    voksc::kern::LagPick pick{kMin32, hi};
    if (bounded) {
      pick = voksc::kern::lagMaxPast(s, kFrame, lo, hi);
    } else {
      for (int t = hi; t >= lo; --t) {
        const Word32 c = chain(s, s - t, kFrame, 1);
        if (c >= pick.value) pick = {c, t};
      }
    }
    norm = normalisedPeak(pick.value, clampDoubled(energy(s - pick.lag, kFrame, 1)));
    return pick.lag;
  };
  // The three sections from the longest delays down; the shorter delays
  // are favoured: a section replaces the choice so far unless 0.85 of the
  // choice's normalised maximum (Q15) stays at or above its own.
  constexpr Word16 kFavourShorter = 27853;
  const int bounds[3][2] = {{kDelayMax, 80}, {79, 40}, {39, kDelayMin}};
  int lag = 0;
  Word16 peak = 0;
  for (int k = 0; k < 3; ++k) {
    Word16 norm;
    const int t = section(bounds[k][0], bounds[k][1], norm);
    if (k == 0 || sub(mult(peak, kFavourShorter), norm) < 0) {
      lag = t;
      peak = norm;
    }
  }
  return lag;
}

// ---- Annex A ------------------------------------------------------------------

int openLoopFast(const int16_t* sig) {
  // Annex A weighs every other frame sample only, so the whole search runs
  // on the span split by parity: half[p][i] is the sample 2 i + p of the
  // span (from 143 before the frame), and every sum below is a contiguous
  // dot product of one half.  The frame's even samples are half[1] from 71
  // on; for delay t the delayed samples start at position b = 143 - t, i.e.
  // half[b & 1] from b >> 1.
  constexpr int kHalf0 = (kSpan + 1) / 2, kHalf1 = kSpan / 2;  // 112 and 111 samples
  constexpr int kFrameAt = kDelayMax / 2;
  int16_t half[2][kHalf0];
  const int16_t* x = sig - kDelayMax;
  for (int i = 0; i < kHalf1; ++i) {
    half[0][i] = x[2 * i];
    half[1][i] = x[2 * i + 1];
  }
  half[0][kHalf1] = x[kSpan - 1];
  half[1][kHalf1] = 0;  // never read by a sum
  // Scaled as the energy of the even span positions asks: right by 3 when
  // the doubled sum saturates, left by 3 (saturating as shl) when it stays
  // below 2^20.
  int64_t e0 = voksc::kern::dot(half[0], half[0], kHalf0);
  int64_t e1;
  if (e0 > 0x3FFFFFFF || e0 < 0x80000) {
    const bool down = e0 > 0x3FFFFFFF;
    for (auto& h : half)
      for (int16_t& v : h) {
        const int w = down ? v >> 3 : v * 8;
        v = static_cast<int16_t>(w > 32767 ? 32767 : (w < -32768 ? -32768 : w));
      }
    e0 = voksc::kern::dot(half[0], half[0], kHalf0);
  }
  e1 = voksc::kern::dot(half[1], half[1], kHalf1);
  const int16_t* frame = half[1] + kFrameAt;
  // Cauchy-Schwarz on the energies of the two parities bounds every
  // partial sum of every correlation below 2^30.
  const bool bounded = energiesBoundSums(e1, e0 > e1 ? e0 : e1);
  // Correlations over the even frame samples: every delay of one parity
  // is one lag of a run of consecutive 40-sample dot products, read in
  // place as corr(t) = 2 c[b & 1][b >> 1] (exact: below 2^31 in magnitude);
  // unbounded, the chains fill c instead (each value already doubled).
  constexpr int kRuns = (kDelayMax - kDelayMin) / 2 + 1;  // b >> 1 = 0..61
  int64_t c[2][kRuns];
  int64_t twice = 2;
  if (bounded) {
    voksc::kern::xcorr(frame, half[0], kFrame / 2, kRuns, c[0]);
    voksc::kern::xcorr(frame, half[1], kFrame / 2, kRuns, c[1]);
  } else {
    twice = 1;
    for (int t = kDelayMin; t <= kDelayMax; ++t) {
      const int b = kDelayMax - t;
      c[b & 1][b >> 1] = chain(frame, half[b & 1] + (b >> 1), kFrame / 2, 1);
    }
  }
  auto corr = [&](int t) {
    const int b = kDelayMax - t;
    return static_cast<Word32>(twice * c[b & 1][b >> 1]);
  };
  // Sections visited upward; a later delay must be strictly larger.
  auto section = [&](int from, int to, int step, Word32& mx) {
    mx = kMin32;
    int best = from;
    for (int t = from; t < to; t += step) {
      const Word32 v = corr(t);
      if (v > mx) {
        mx = v;
        best = t;
      }
    }
    return best;
  };
  auto norm = [&](int t, Word32 mx) {
    const int16_t* d = half[(kDelayMax - t) & 1] + ((kDelayMax - t) >> 1);
    return normalisedPeak(mx, clampDoubled(voksc::kern::dot(d, d, kFrame / 2), 1));
  };
  Word32 mx;
  int t1 = section(20, 40, 1, mx);
  Word16 max1 = norm(t1, mx);
  const int t2 = section(40, 80, 1, mx);
  Word16 max2 = norm(t2, mx);
  int t3 = section(80, 143, 2, mx);
  const int centre = t3;  // the odd neighbours of the best even delay
  if (corr(centre + 1) > mx) {
    mx = corr(centre + 1);
    t3 = centre + 1;
  }
  if (corr(centre - 1) > mx) {
    mx = corr(centre - 1);
    t3 = centre - 1;
  }
  const Word16 max3 = norm(t3, mx);
  const int delays[3] = {t1, t2, t3};
  Word16 peaks[3] = {max1, max2, max3};
  return delays[pickSection(delays, peaks)];
}

}  // namespace

VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_G729_16s(const Vok16s* wsp, Vok16s* delay) {
  if (anyNull(wsp, delay)) return vokErrNullPtr;
  *delay = static_cast<Vok16s>(openLoop(wsp));
  return vokOk;
}

VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_G729A_16s(const Vok16s* wsp, Vok16s* delay) {
  if (anyNull(wsp, delay)) return vokErrNullPtr;
  *delay = static_cast<Vok16s>(openLoopFast(wsp));
  return vokOk;
}
