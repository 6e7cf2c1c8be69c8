// AMR-WB algebraic codebook search: one signed pulse on each of two
// 32-position tracks searched exhaustively (6.60 kbit/s), or 4 to 24 pulses
// on four interleaved 16-position tracks placed two at a time by the
// depth-first search over preselected positions (8.85 .. 23.85 kbit/s),
// with the pulse-index codes of the codec.
#include <cstdint>
#include <cstring>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "excitation_internal.h"
#include "excitation_tables.h"
#include "filter_kernels.h"
#include "voksc.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amrwb {
namespace {

constexpr int kSub = 64, kTracks = 4, kPerTrack = 16, kPreselect = 8, kMaxPulses = 24, kSlots = 6;

// ---- shared preparation ---------------------------------------------------

// Backward-filtered target d[i] = sum x[j] h[j - i] (j >= i), each a
// saturating chain started at 1, scaled so that 16 times the sum of the
// four tracks' largest magnitudes (taken as 3/8 of each, after 1) fits.
void backwardFilter(const int16_t* x, const int16_t* h, int16_t* d) {
  Word32 full[kSub];
  if (boundedPair(kern::dot(x, x, kSub), kern::dot(h, h, kSub))) {
    int64_t c[kSub];
    kern::xcorrTrunc(h, x, kSub, 0, kSub, c);
    for (int i = 0; i < kSub; ++i) full[i] = static_cast<Word32>(1 + 2 * c[i]);
  } else {
    for (int i = 0; i < kSub; ++i) full[i] = macChain(1, x + i, h, kSub - i);
  }
  Word32 total = 1;
  for (int t = 0; t < kTracks; ++t) {
    Word32 peak = 0;
    for (int i = t; i < kSub; i += kTracks)
      if (L_abs(full[i]) > peak) peak = L_abs(full[i]);
    peak = L_shr(peak, 2);
    total = L_add(L_add(total, peak), L_shr(peak, 1));
  }
  const Word16 shift = sub(norm_l(total), 4);
  for (int i = 0; i < kSub; ++i) d[i] = round_fx(L_shl(full[i], shift));
}

// 1/sqrt of the vector's energy (chain from 1, normalised) times 2^extra,
// rounded to 16 bits.
Word16 inverseNorm(const int16_t* v, int extra) {
  Normalised e = normalise(energyChain(1, v, kSub));
  vokInvSqrtNorm(e.value, e.exp);
  return round_fx(L_shl(e.value, add(e.exp, static_cast<Word16>(extra))));
}

// Signs preset per position from the mix of the normalised residual and
// the normalised backward-filtered target (the target's share weighted by
// alp, Q12).  d and mix are made non-negative under the chosen sign;
// `away` holds the opposite sign's factor (the codec's asymmetric pair
// -32768 / 32767).
struct Signs {
  int16_t sign[kSub], away[kSub];
};
void presetSigns(const int16_t* residual, int16_t* d, int16_t* mix, Word16 alp, Signs& s) {
  const Word16 kr = inverseNorm(residual, 5);
  const Word16 kd = mult_r(alp, inverseNorm(d, 8));
  for (int i = 0; i < kSub; ++i) {
    Word16 m = extract_h(L_shl(L_mac(L_mult(kr, residual[i]), kd, d[i]), 8));
    if (m >= 0) {
      s.sign[i] = 32767;
      s.away[i] = -32768;
    } else {
      s.sign[i] = -32768;
      s.away[i] = 32767;
      d[i] = negate(d[i]);
      m = negate(m);
    }
    mix[i] = m;
  }
}

// Truncated autocorrelations of h as the codec accumulates them: for each
// lag difference a chain over u = 0, 1, ... of 2 h[u] h[u + diff] from a
// rounding start (one for the energies, one for the cross terms), read
// after the terms that two pulses at positions p <= q share (u up to
// 63 - q): tail[63 - q][diff] = upper half of that chain.
struct PairTable {
  int16_t tail[kSub][kSub];
  int16_t at(int p, int q) const {
    const int lo = p < q ? p : q, hi = p < q ? q : p;
    return tail[kSub - 1 - hi][hi - lo];
  }
};
void pairTable(const int16_t* h, Word32 startSame, Word32 startCross, PairTable& t) {
  // Every partial sum is at most the start plus 2 sum |h[u] h[u + diff]|,
  // itself at most twice the energy: below 2^31 the chains are plain
  // running sums, all lags advanced together.
  const int64_t start = startSame > startCross ? startSame : startCross;
  if (start + 2 * kern::dot(h, h, kSub) <= INT32_MAX) {
    pairTails(h, startSame, startCross, &t.tail[0][0]);
    return;
  }
  for (int diff = 0; diff < kSub; ++diff) {
    Word32 c = diff == 0 ? startSame : startCross;
    for (int u = 0; u + diff < kSub; ++u) {
      c = L_mac(c, h[u], h[u + diff]);
      t.tail[u][diff] = extract_h(c);
    }
  }
}

// The response of a pulse at p under its preset sign, sample n: h[n - p]
// or its negated copy, zero before p.
inline int16_t pulseResponse(const int16_t* h, const int16_t* hNeg, const Signs& s, int p, int n) {
  return n < p ? 0 : (s.sign[p] < 0 ? hNeg[n - p] : h[n - p]);
}

// ---- two tracks of 32 (6.60 kbit/s) ----------------------------------------

// Every pair (even position, odd position) is scored by (d0 + d1)^2 against
// the energy e0/2 + e1/2 + the signed cross term; the larger ratio wins
// (compared crosswise, a later pair only when strictly better).
void searchTwoTracks(const int16_t* d0, const int16_t* residual, const int16_t* h, int16_t* code, int16_t* filtered,
                     int16_t* index) {
  int16_t d[kSub], mix[kSub], hNeg[kSub];
  std::memcpy(d, d0, sizeof d);
  Signs s;
  presetSigns(residual, d, mix, 8192, s);
  for (int i = 0; i < kSub; ++i) hNeg[i] = negate(h[i]);
  PairTable t;
  pairTable(h, 0x10000, 0x8000, t);
  Word16 bestSq = -1, bestEnergy = 1;
  int even = 0, odd = 1;
  for (int p = 0; p < kSub; p += 2) {
    const Word16 ep = shr(t.at(p, p), 1);
    const int16_t* flip = s.sign[p] < 0 ? s.away : s.sign;
    int found = -1;
    for (int q = 1; q < kSub; q += 2) {
      const Word16 corr = add(d[p], d[q]);
      const Word16 energy = add(ep, add(shr(t.at(q, q), 1), mult(t.at(p, q), flip[q])));
      const Word16 sq = mult(corr, corr);
      if (L_msu(L_mult(bestEnergy, sq), bestSq, energy) > 0) {
        bestSq = sq;
        bestEnergy = energy;
        found = q;
      }
    }
    if (found >= 0) {
      even = p;
      odd = found;
    }
  }
  std::memset(code, 0, kSub * sizeof(int16_t));
  Word16 word0 = static_cast<Word16>(even >> 1), word1 = static_cast<Word16>(odd >> 1);
  code[even] = s.sign[even] > 0 ? 512 : -512;
  code[odd] = s.sign[odd] > 0 ? 512 : -512;
  if (s.sign[even] <= 0) word0 = static_cast<Word16>(word0 + 32);
  if (s.sign[odd] <= 0) word1 = static_cast<Word16>(word1 + 32);
  *index = add(shl(word0, 6), word1);
  for (int n = 0; n < kSub; ++n)
    filtered[n] = shr_r(add(pulseResponse(h, hNeg, s, even, n), pulseResponse(h, hNeg, s, odd, n)), 3);
}

// ---- four tracks of 16 ------------------------------------------------------

// Per mode: pulses, iterations of the depth-first search, the weight of
// the target in the sign mix (Q12), the number of preselected positions
// the first pulse of each two-pulse stage may take, and how the pulses are
// split over the tracks (pulses on track t, and the index code per track).
struct FourTrackMode {
  int pulses, iterations;
  Word16 alp;
  int stagePositions[10];
  int perTrack[4];
};
const FourTrackMode kModes[] = {
    {4, 4, 8192, {4, 8}, {1, 1, 1, 1}},                                  // 20 bits
    {8, 4, 4096, {4, 8, 8}, {2, 2, 2, 2}},                               // 36 bits
    {10, 4, 4096, {4, 6, 8, 8}, {3, 3, 2, 2}},                           // 44 bits
    {12, 4, 4096, {4, 6, 8, 8}, {3, 3, 3, 3}},                           // 52 bits
    {16, 3, 3277, {4, 4, 6, 6, 8, 8}, {4, 4, 4, 4}},                     // 64 bits
    {18, 3, 3072, {2, 3, 4, 5, 6, 7, 8}, {5, 5, 4, 4}},                  // 72 bits
    {24, 2, 2048, {2, 2, 3, 4, 5, 6, 7, 8, 8, 8}, {6, 6, 6, 6}},        // 88 bits
};

struct TrackSearch {
  int16_t d[kSub];     // backward-filtered target under the preset signs
  int16_t rank[kSub];  // preselection: k - 8 for a track's k-th choice, else the sign mix (>= 0)
  Signs s;
  int16_t h[kSub], hNeg[kSub];
  int16_t self[kTracks][kPerTrack];                 // energy of each position's response
  int16_t cross[kTracks][kPerTrack * kPerTrack];    // signed cross terms, track t with track t+1
  int best[kTracks];                                // first preselected position per track
  Word16 amplitude;                                 // pulse amplitude, Q9 (halved with the response)
  int64_t hEnergy;                                  // sum h[n]^2
  // Pair correlations of the responses (pulseRows), for correlations
  // updated pulse by pulse; valid when hNeg is exactly -h (h holds no
  // -32768).
  bool additive;
  uint32_t rows[kSub * kPulseRowStride];
};

// The responses' correlation chains c with the current vector at every
// position of a track, signed, plus each position's own energy.
inline int32_t clamp16(int32_t v) { return v > kMax16 ? kMax16 : (v < kMin16 ? kMin16 : v); }

// Branch-free: L_shl(c, 1) is the clamp of 2c, round_fx its rounded
// upper word (32767 from 0x7FFF8000 on), mult by a sign factor
// (+-32767 or -32768) saturates only on -32768 * -32768.
void trackCorrelation(const TrackSearch& ts, const Word32* c, int track, int16_t* out) {
  for (int i = 0; i < kPerTrack; ++i) {
    const int p = track + kTracks * i;
    int64_t d = 2 * int64_t{c[p]};
    d = d > INT32_MAX ? INT32_MAX : (d < INT32_MIN ? INT32_MIN : d);
    const int32_t r = d >= 0x7FFF8000 ? kMax16 : static_cast<int32_t>((d + 0x8000) >> 16);
    int32_t m = (r * ts.s.sign[p]) >> 15;
    m = m > kMax16 ? kMax16 : m;
    out[i] = static_cast<int16_t>(clamp16(m + ts.self[track][i]));
  }
}

// The current vector v and, while v equals the plain sum of its pulses'
// signed responses, that sum's correlation with the response at every
// position, modulo 2^32 (a row of pulseRows per pulse).
struct PulseSum {
  int16_t v[kSub] = {};
  uint32_t corr[kSub] = {};
  bool plain = true;
  // Adds the signed response of a pulse at x to the correlations.
  void track(const TrackSearch& ts, int x) {
    const uint32_t* row = ts.rows + kPulseRowStride * x;
    if (ts.s.sign[x] < 0)
      for (int p = 0; p < kSub; ++p) corr[p] -= row[p];
    else
      for (int p = 0; p < kSub; ++p) corr[p] += row[p];
  }
};

// Correlation chains sum_{n >= p} h[n - p] v[n] from 0 of the current
// vector with the response at every position.  When the energies bound
// them (below 2^30, so no step saturates) they are the exact sums: the
// tracked ones (exact modulo 2^32, hence exact) while v is the plain sum
// of the pulses' responses, else formed anew; otherwise the chains.
// Answers true for the tracked sums (then c is not written).
bool vectorCorrelations(const TrackSearch& ts, const PulseSum& sum, Word32* c) {
  const int16_t* v = sum.v;
  if (boundedPair(ts.hEnergy, kern::dot(v, v, kSub))) {
    if (ts.additive && sum.plain) return true;
    int64_t exact[kSub];
    kern::xcorrTrunc(ts.h, v, kSub, 0, kSub, exact);
    for (int p = 0; p < kSub; ++p) c[p] = static_cast<Word32>(2 * exact[p]);
    return false;
  }
  for (int p = 0; p < kSub; ++p) c[p] = macChain(0, ts.h, v + p, kSub - p);
  return false;
}


struct PairPick {
  int x, y;
};

// v[n] = add(v[n], add(response of x at n, response of y at n)); a
// result that differs from the plain sum ends the tracked correlations.
void addPulsePair(const TrackSearch& ts, int x, int y, PulseSum& sum) {
  int16_t rx[kSub] = {}, ry[kSub] = {};
  std::memcpy(rx + x, ts.s.sign[x] < 0 ? ts.hNeg : ts.h, (kSub - x) * sizeof(int16_t));
  std::memcpy(ry + y, ts.s.sign[y] < 0 ? ts.hNeg : ts.h, (kSub - y) * sizeof(int16_t));
  int16_t* v = sum.v;
  // Wrapped 16-bit sums first: a sum left 16 bits where its sign differs
  // from both terms' signs (bit 15 of (a ^ s) & (b ^ s)).
  uint16_t plain[kSub], outside = 0;
  for (int n = 0; n < kSub; ++n) {
    const uint16_t a = static_cast<uint16_t>(rx[n]), b = static_cast<uint16_t>(ry[n]), c = static_cast<uint16_t>(v[n]);
    const uint16_t pair = static_cast<uint16_t>(a + b), total = static_cast<uint16_t>(c + pair);
    outside |= static_cast<uint16_t>(((a ^ pair) & (b ^ pair)) | ((c ^ total) & (pair ^ total)));
    plain[n] = total;
  }
  if ((outside & 0x8000) == 0) {
    for (int n = 0; n < kSub; ++n) v[n] = static_cast<int16_t>(plain[n]);
    if (sum.plain && ts.additive) {
      sum.track(ts, x);
      sum.track(ts, y);
    }
    return;
  }
  for (int n = 0; n < kSub; ++n) v[n] = static_cast<int16_t>(clamp16(v[n] + clamp16(rx[n] + ry[n])));
  sum.plain = false;
}

// Best pulse pair on tracks tx (first pulse, among its `allowed` first
// preselected positions) and ty = tx + 1: the correlation ps + d[x] + d[y]
// squared against the energy alp + the two correlations with the fixed
// pulses + the signed cross term, compared crosswise; a later pair only
// when strictly better.  Updates ps and alp.
PairPick searchPair(const TrackSearch& ts, int allowed, int tx, int ty, Word16& ps, Word16& alp, const int16_t* corX,
                    const int16_t* corY) {
  const Word32 alpBase = L_add(L_deposit_h(alp), 0x8000);
  const Word16 limit = static_cast<Word16>(allowed - kPreselect);
  Word16 bestSq = -1, bestAlp = 1;
  PairPick pick{tx, ty};
  int16_t dy[kPerTrack];
  for (int yi = 0; yi < kPerTrack; ++yi) dy[yi] = ts.d[ty + kTracks * yi];
  const PairRowForm row = pairRowForm();
  for (int xi = 0; xi < kPerTrack; ++xi) {
    const int x = tx + kTracks * xi;
    if (ts.rank[x] >= limit) continue;
    const Word16 ps1 = add(ps, ts.d[x]);
    const Word32 alp1 = L_mac(alpBase, corX[xi], 4096);
    const int16_t* cross = ts.cross[tx] + xi * kPerTrack;
    // The row's squared correlations and energies.  The two products add
    // at most 2^28 + 2^29 in magnitude: with alp1 that far inside 32 bits
    // the energy chain is a plain sum.
    // A row where no pair beats the best so far at the row's start leaves
    // the best unchanged (it moves only on a pair that beats it).
    int16_t sq[kPerTrack], alp2[kPerTrack];
    if (alp1 <= INT32_MAX - (3 << 28) && alp1 >= INT32_MIN + (3 << 28)) {
      if (!row(ps1, alp1, dy, corY, cross, bestSq, bestAlp, sq, alp2)) continue;
    } else {
      for (int yi = 0; yi < kPerTrack; ++yi) {
        const Word16 ps2 = add(ps1, dy[yi]);
        sq[yi] = mult(ps2, ps2);
        alp2[yi] = extract_h(L_mac(L_mac(alp1, corY[yi], 4096), cross[yi], 8192));
      }
    }
    // sq >= 0 and bestSq >= -1: the doubled products cannot saturate and
    // the saturating difference has the sign of the plain one.
    int found = -1;
    for (int yi = 0; yi < kPerTrack; ++yi) {
      if (int32_t{bestAlp} * sq[yi] > int32_t{bestSq} * alp2[yi]) {
        bestSq = sq[yi];
        bestAlp = alp2[yi];
        found = ty + kTracks * yi;
      }
    }
    if (found >= 0) pick = {x, found};
  }
  ps = add(ps, add(ts.d[pick.x], ts.d[pick.y]));
  alp = bestAlp;
  return pick;
}

void prepareFourTracks(const int16_t* d0, const int16_t* residual, const int16_t* impulse, const FourTrackMode& m,
                       TrackSearch& ts) {
  std::memcpy(ts.d, d0, sizeof ts.d);
  presetSigns(residual, ts.d, ts.rank, m.alp, ts.s);
  // Preselection: per track the 8 largest sign mixes (first maximum wins),
  // marked k - 8 in order of choice.
  for (int t = 0; t < kTracks; ++t) {
    for (int k = 0; k < kPreselect; ++k) {
      int16_t top = -1;
      int at = t;
      for (int p = t; p < kSub; p += kTracks)
        if (ts.rank[p] > top) {
          top = ts.rank[p];
          at = p;
        }
      ts.rank[at] = static_cast<int16_t>(k - kPreselect);
      if (k == 0) ts.best[t] = at;
    }
  }
  // A loud response is halved for the modes of 12 pulses and more.
  const Word16 loud = extract_h(macChain(0, impulse, impulse, kSub));
  const Word16 shift = (m.pulses >= 12 && loud > 1024) ? 1 : 0;
  for (int i = 0; i < kSub; ++i) {
    ts.h[i] = shr(impulse[i], shift);
    ts.hNeg[i] = negate(ts.h[i]);
  }
  ts.amplitude = shr(512, shift);
  ts.hEnergy = kern::dot(ts.h, ts.h, kSub);
  ts.additive = true;
  for (int i = 0; i < kSub; ++i) ts.additive = ts.additive && ts.h[i] != kMin16;
  if (ts.additive) pulseRows(ts.h, ts.rows);
  PairTable t;
  pairTable(ts.h, 0x8000, 0x8000, t);
  // mult(c, f) is (c f) >> 15 but for -32768 squared, where the shift
  // gives 32768 and the operator 32767: the minimum in crossRows covers
  // both; f is the sign of q, or its opposite (the codec's asymmetric
  // pair) when p's sign is negative.
  for (int tr = 0; tr < kTracks; ++tr) {
    for (int xi = 0; xi < kPerTrack; ++xi) ts.self[tr][xi] = t.at(tr + kTracks * xi, tr + kTracks * xi);
    crossRows(&t.tail[0][0], ts.s.sign, tr, (tr + 1) % kTracks, ts.cross[tr]);
  }
}

// The depth-first search: per iteration a rotation of the tracks; the
// first stage fixes 2 or 4 pulses at their tracks' best preselected
// positions (none for 4 pulses), then pairs follow.  The iteration whose
// squared correlation over energy is largest (strictly, crosswise) keeps
// its pulses and summed response.
void depthFirst(const TrackSearch& ts, const FourTrackMode& m, int* pulses, int16_t* response) {
  Word16 bestSq = -1, bestAlp = 1;
  for (int i = 0; i < m.pulses; ++i) pulses[i] = i;
  std::memset(response, 0, kSub * sizeof(int16_t));
  for (int it = 0; it < m.iterations; ++it) {
    int order[kMaxPulses], chosen[kMaxPulses];
    for (int i = 0; i < m.pulses; ++i) order[i] = kTrackStarts[4 * it + i];
    PulseSum sum;
    int16_t* v = sum.v;
    Word16 ps = 0, alp = 0;
    int fixed = 0;
    if (m.pulses == 8 || m.pulses == 10) {
      fixed = 2;
      const int x = ts.best[order[0]], y = ts.best[order[1]];
      chosen[0] = x;
      chosen[1] = y;
      ps = add(ts.d[x], ts.d[y]);
      Word32 e = L_mult(ts.self[order[0]][x >> 2], 4096);
      e = L_mac(e, ts.self[order[1]][y >> 2], 4096);
      e = L_mac(e, ts.cross[order[0]][(x >> 2) * kPerTrack + (y >> 2)], 8192);
      alp = round_fx(e);
      addPulsePair(ts, x, y, sum);
      if (m.pulses == 10) {
        order[8] = 0;
        order[9] = 1;
      }
    } else if (m.pulses > 4) {
      fixed = 4;
      for (int k = 0; k < 4; ++k) chosen[k] = ts.best[order[k]];
      ps = add(add(add(ts.d[chosen[0]], ts.d[chosen[1]]), ts.d[chosen[2]]), ts.d[chosen[3]]);
      // add(add(add(r0, r1), r2), r3) in wrapped 16-bit lanes: with no
      // step leaving 16 bits (flagged as in addPulsePair) it is the plain
      // sum; else the saturating chain.
      uint16_t acc[kSub] = {}, outside = 0;
      for (int k = 0; k < 4; ++k) {
        int16_t r[kSub] = {};
        const int p = chosen[k];
        std::memcpy(r + p, ts.s.sign[p] < 0 ? ts.hNeg : ts.h, (kSub - p) * sizeof(int16_t));
        for (int n = 0; n < kSub; ++n) {
          const uint16_t a = acc[n], b = static_cast<uint16_t>(r[n]), t = static_cast<uint16_t>(a + b);
          outside |= static_cast<uint16_t>((a ^ t) & (b ^ t));
          acc[n] = t;
        }
      }
      sum.plain = (outside & 0x8000) == 0;
      if (sum.plain) {
        std::memcpy(v, acc, sizeof acc);
      } else {
        for (int n = 0; n < kSub; ++n) {
          Word16 a = pulseResponse(ts.h, ts.hNeg, ts.s, chosen[0], n);
          for (int k = 1; k < 4; ++k) a = add(a, pulseResponse(ts.h, ts.hNeg, ts.s, chosen[k], n));
          v[n] = a;
        }
      }
      if (sum.plain && ts.additive)
        for (int k = 0; k < 4; ++k) sum.track(ts, chosen[k]);
      alp = round_fx(L_shr(macChain(0, v, v, kSub), 3));
      if (m.pulses == 18) {
        order[16] = 0;
        order[17] = 1;
      }
    }
    for (int j = fixed, stage = 0; j < m.pulses; j += 2, ++stage) {
      Word32 c[kSub];
      int16_t corX[kPerTrack], corY[kPerTrack];
      if (vectorCorrelations(ts, sum, c)) {
        trackCorrelations(sum.corr, ts.s.sign, ts.self[order[j]], order[j], corX);
        trackCorrelations(sum.corr, ts.s.sign, ts.self[order[j + 1]], order[j + 1], corY);
      } else {
        trackCorrelation(ts, c, order[j], corX);
        trackCorrelation(ts, c, order[j + 1], corY);
      }
      const PairPick pk = searchPair(ts, m.stagePositions[stage], order[j], order[j + 1], ps, alp, corX, corY);
      chosen[j] = pk.x;
      chosen[j + 1] = pk.y;
      addPulsePair(ts, pk.x, pk.y, sum);
    }
    const Word16 sq = mult(ps, ps);
    if (L_msu(L_mult(bestAlp, sq), bestSq, alp) > 0) {
      bestSq = sq;
      bestAlp = alp;
      for (int i = 0; i < m.pulses; ++i) pulses[i] = chosen[i];
      std::memcpy(response, sum.v, sizeof sum.v);
    }
  }
}

// ---- pulse-index codes ------------------------------------------------------
// A pulse is coded as its position in the track (0..15) plus 16 when
// negative; n-bit codes keep the low n position bits.

using Code = uint32_t;
constexpr int kNegative = 16;

Code one(int p, int n) { return static_cast<Code>((p & ((1 << n) - 1)) + ((p & kNegative) ? 1 << n : 0)); }

// Two pulses in 2n + 1 bits: the positions in an order that tells the
// decoder the second sign, the first sign above them.
Code two(int p1, int p2, int n) {
  const int m = (1 << n) - 1;
  int hi, lo, signOf;
  if (((p1 ^ p2) & kNegative) == 0) {  // same sign: smaller first
    hi = p1 <= p2 ? p1 : p2;
    lo = p1 <= p2 ? p2 : p1;
    signOf = p1;
  } else if ((p1 & m) <= (p2 & m)) {  // opposite signs: larger position first
    hi = p2;
    lo = p1;
    signOf = p2;
  } else {
    hi = p1;
    lo = p2;
    signOf = p1;
  }
  return static_cast<Code>(((hi & m) << n) + (lo & m) + ((signOf & kNegative) ? 1 << (2 * n) : 0));
}

// Three pulses in 3n + 1 bits: two that share the upper half-track (or
// lower) coded on n - 1 bits with that half, the third on n + 1 bits.
Code three(int p1, int p2, int p3, int n) {
  const int half = 1 << (n - 1);
  int a = p2, b = p3, c = p1;
  if (((p1 ^ p2) & half) == 0) {
    a = p1, b = p2, c = p3;
  } else if (((p1 ^ p3) & half) == 0) {
    a = p1, b = p3, c = p2;
  }
  return two(a, b, n - 1) + (static_cast<Code>(a & half) << n) + (one(c, n) << (2 * n));
}

// Four pulses in 4n + 1 bits: the same pairing, the other two on 2n + 1 bits.
Code fourPlus(const int* p, int n) {
  const int half = 1 << (n - 1);
  int a = p[1], b = p[2], c = p[0], e = p[3];
  if (((p[0] ^ p[1]) & half) == 0) {
    a = p[0], b = p[1], c = p[2];
  } else if (((p[0] ^ p[2]) & half) == 0) {
    a = p[0], b = p[2], c = p[1];
  }
  return two(a, b, n - 1) + (static_cast<Code>(a & half) << n) + (two(c, e, n) << (2 * n));
}

// Pulses split by the upper half-track bit, order kept: lowerCount in the
// lower half.
int splitHalves(const int* p, int count, int n, int* lower, int* upper) {
  const int half = 1 << (n - 1);
  int a = 0, b = 0;
  for (int k = 0; k < count; ++k) {
    if ((p[k] & half) == 0)
      lower[a++] = p[k];
    else
      upper[b++] = p[k];
  }
  return a;
}

// Four pulses in 4n bits: the split of the pulses over the half-tracks
// selects the layout, its count (mod 4) in the top two bits.
Code four(const int* p, int n) {
  int lo[4], up[4];
  const int k = splitHalves(p, 4, n, lo, up), m = n - 1;
  Code c;
  switch (k) {
    case 0: c = (Code{1} << (4 * n - 3)) + fourPlus(up, m); break;
    case 1: c = (one(lo[0], m) << (3 * m + 1)) + three(up[0], up[1], up[2], m); break;
    case 2: c = (two(lo[0], lo[1], m) << (2 * m + 1)) + two(up[0], up[1], m); break;
    case 3: c = (three(lo[0], lo[1], lo[2], m) << n) + one(up[0], m); break;
    default: c = fourPlus(lo, m); break;
  }
  return c + (static_cast<Code>(k & 3) << (4 * n - 2));
}

// Five pulses in 5n bits: three of one half on 3(n-1)+1 bits, the other
// two on 2n + 1 bits; the top bit says whether the three are upper.
Code five(const int* p, int n) {
  int lo[5], up[5];
  const int k = splitHalves(p, 5, n, lo, up), m = n - 1;
  if (k <= 2) {
    const int r1 = k == 0 ? up[3] : (k == 1 ? up[3] : lo[0]);
    const int r2 = k == 0 ? up[4] : (k == 1 ? lo[0] : lo[1]);
    return (Code{1} << (5 * n - 1)) + (three(up[0], up[1], up[2], m) << (2 * n + 1)) + two(r1, r2, n);
  }
  const int r1 = k == 3 ? up[0] : lo[3];
  const int r2 = k == 3 ? up[1] : (k == 4 ? up[0] : lo[4]);
  return (three(lo[0], lo[1], lo[2], m) << (2 * n + 1)) + two(r1, r2, n);
}

// Six pulses in 6n - 2 bits: the layout by the split, tagged in the top
// two bits (0: five and one of a half, 1: five and one across, 2: four
// and two, 3: three and three).
Code six(const int* p, int n) {
  int lo[6], up[6];
  const int k = splitHalves(p, 6, n, lo, up), m = n - 1;
  Code c;
  int tag;
  switch (k) {
    case 0: c = (Code{1} << (6 * n - 5)) + (five(up, m) << n) + one(up[5], m); tag = 0; break;
    case 1: c = (Code{1} << (6 * n - 5)) + (five(up, m) << n) + one(lo[0], m); tag = 1; break;
    case 2: c = (Code{1} << (6 * n - 5)) + (four(up, m) << (2 * m + 1)) + two(lo[0], lo[1], m); tag = 2; break;
    case 3: c = (three(lo[0], lo[1], lo[2], m) << (3 * m + 1)) + three(up[0], up[1], up[2], m); tag = 3; break;
    case 4: c = (four(lo, m) << (2 * m + 1)) + two(up[0], up[1], m); tag = 2; break;
    case 5: c = (five(lo, m) << n) + one(up[0], m); tag = 1; break;
    default: c = (five(lo, m) << n) + one(lo[5], m); tag = 0; break;
  }
  return c + (static_cast<Code>(tag) << (6 * n - 4));
}

// Code vector, filtered vector (the summed response back to Q9) and the
// index words of the chosen pulses, per track in order of choice.
void buildOutputs(const TrackSearch& ts, const FourTrackMode& m, const int* pulses, const int16_t* response,
                  int16_t* code, int16_t* filtered, int16_t* index) {
  int slot[kTracks][kSlots], used[kTracks] = {};
  std::memset(code, 0, kSub * sizeof(int16_t));
  for (int n = 0; n < kSub; ++n) filtered[n] = shr_r(response[n], 3);
  for (int k = 0; k < m.pulses; ++k) {
    const int p = pulses[k], t = p & 3;
    int c = p >> 2;
    if (ts.s.sign[p] > 0) {
      code[p] = add(code[p], ts.amplitude);
    } else {
      code[p] = sub(code[p], ts.amplitude);
      c += kNegative;
    }
    slot[t][used[t]++] = c;
  }
  for (int t = 0; t < kTracks; ++t) {
    const int* q = slot[t];
    switch (m.perTrack[t]) {
      case 1: index[t] = static_cast<int16_t>(one(q[0], 4)); break;
      case 2: index[t] = static_cast<int16_t>(two(q[0], q[1], 4)); break;
      case 3: index[t] = static_cast<int16_t>(three(q[0], q[1], q[2], 4)); break;
      case 4: {
        const Code c = four(q, 4);
        index[t] = static_cast<int16_t>((c >> 14) & 3);
        index[t + 4] = static_cast<int16_t>(c & 0x3FFF);
        break;
      }
      case 5: {
        const Code c = five(q, 4);
        index[t] = static_cast<int16_t>((c >> 10) & 0x3FF);
        index[t + 4] = static_cast<int16_t>(c & 0x3FF);
        break;
      }
      default: {
        const Code c = six(q, 4);
        index[t] = static_cast<int16_t>((c >> 11) & 0x7FF);
        index[t + 4] = static_cast<int16_t>(c & 0x7FF);
        break;
      }
    }
  }
}

// Mode of a rate code: -1 two tracks, 0.. four-track modes, -2 not searched.
int modeOf(VokRateCode r, int& iterations) {
  switch (r) {
    case vokRateAmrWb660: case vokRateSid: return -1;
    case vokRateAmrWb885: return 0;
    case vokRateAmrWb1265: return 1;
    case vokRateAmrWb1425: return 2;
    case vokRateAmrWb1585: return 3;
    case vokRateAmrWb1825: return 4;
    case vokRateAmrWb1985: return 5;
    case vokRateAmrWb2305: iterations = 2; return 6;
    case vokRateAmrWb2385: iterations = 1; return 6;
    default: return -2;
  }
}

}  // namespace
}  // namespace voksc::amrwb

using namespace voksc::amrwb;

VOKSC_EXPORT VokResult voksAlgebraicCodebookSearch_AMRWB_16s(const Vok16s* fixedTarget, const Vok16s* ltpResidual,
                                                             const Vok16s* impulse, Vok16s* fixedVectorOut,
                                                             Vok16s* filteredFixedOut, VokRateCode rateCode,
                                                             Vok16s* indicesOut) {
  if (anyNull(fixedTarget, ltpResidual, impulse, fixedVectorOut, filteredFixedOut, indicesOut)) return vokErrNullPtr;
  int iterations = 0;
  const int mode = modeOf(rateCode, iterations);
  if (mode == -2) return vokErrRange;
  int16_t d[kSub];
  backwardFilter(fixedTarget, impulse, d);
  if (mode < 0) {
    searchTwoTracks(d, ltpResidual, impulse, fixedVectorOut, filteredFixedOut, indicesOut);
    return vokOk;
  }
  FourTrackMode m = kModes[mode];
  if (iterations) m.iterations = iterations;
  TrackSearch ts;
  prepareFourTracks(d, ltpResidual, impulse, m, ts);
  int pulses[kMaxPulses];
  int16_t response[kSub];
  depthFirst(ts, m, pulses, response);
  buildOutputs(ts, m, pulses, response, fixedVectorOut, filteredFixedOut, indicesOut);
  return vokOk;
}
