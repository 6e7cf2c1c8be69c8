// AMR-WB ISF quantisation: the predictive two-stage split VQ of speech
// frames (46 bits; 36 bits at 6.60 kbit/s and in SID-rate use), its decoder
// with bad-frame concealment, and the memoryless five-split quantiser of
// comfort-noise frames.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "common/basic_op.h"
#include "core/status.h"
#include "isf_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amrwb {

namespace {

constexpr int kOrder = 16;
constexpr int16_t kPredFactor = 10923;  // 1/3: weight of last frame's quantised residual
constexpr int16_t kIsfGap = 128;        // least distance between quantised ISFs (50 Hz)
constexpr int16_t kKeepPrev = 29491;    // bad frame: 0.9 of the last ISFs ...
constexpr int16_t kTowardsMean = 3277;  // ... and 0.1 of the long-term reference
constexpr int kSurvivors = 4;
constexpr int kHistoryRows = 3;

// One split codebook: `rows` vectors of `dim` values covering ISFs
// first..first+dim-1 of the residual.
struct Split {
  const int16_t* book;
  int rows, dim, first;
};

// Second stages behind the two first-stage halves (ISF 0..8 and 9..15).
const Split k46Low[] = {{kIsf46Split1, 64, 3, 0}, {kIsf46Split2, 128, 3, 3}, {kIsf46Split3, 128, 3, 6}};
const Split k46High[] = {{kIsf46Split4, 32, 3, 9}, {kIsf46Split5, 32, 4, 12}};
const Split k36Low[] = {{kIsf36Split1, 128, 5, 0}, {kIsf36Split2, 128, 4, 5}};
const Split k36High[] = {{kIsf36Split3, 64, 7, 9}};
const Split kNoise[] = {{kIsfNoiseSplit1, 64, 2, 0},
                        {kIsfNoiseSplit2, 64, 3, 2},
                        {kIsfNoiseSplit3, 64, 3, 5},
                        {kIsfNoiseSplit4, 32, 4, 8},
                        {kIsfNoiseSplit5, 32, 4, 12}};

// A first-stage half and the second-stage splits refining it.
struct Half {
  const int16_t* book;
  int rows, dim, first;
  const Split* second;
  int nSecond;
};

struct Layout {
  Half low, high;
};
const Layout k46 = {{kIsfStage1Low, 256, 9, 0, k46Low, 3}, {kIsfStage1High, 256, 7, 9, k46High, 2}};
const Layout k36 = {{kIsfStage1Low, 256, 9, 0, k36Low, 2}, {kIsfStage1High, 256, 7, 9, k36High, 1}};

// Squared errors (doubled, saturating) between x and every codebook vector:
// the chain of L_mac(e, e) over e = sub(x, v).  Each term is non-negative,
// so once the chain saturates it stays at the top: the chain equals the
// plain sum of 2 e^2 (e clamped to 16 bits as sub() does) capped at 2^31 - 1.
// At most 9 terms of at most 2^31 each: the sum fits 64 bits.  Every
// codebook value is below kBookPeak in magnitude (the largest is 2273), so
// while |x| stays within kPlainReach - kBookPeak each |e| is at most
// kPlainReach, no clamp applies and 9 doubled squares stay below 2^31: the
// sum is formed in 32 bits.
constexpr int32_t kBookPeak = 4096, kPlainReach = 10922;
constexpr int kMaxRows = 256;

// The codebooks stored by coordinate (all rows' value j together), formed
// once, so that the plain sums run over many rows at a time; null for a
// book not listed here.
const int16_t* columnsOf(const int16_t* book) {
  struct Columns {
    const int16_t* book;
    int offset;
  };
  static int16_t storage[8192];
  static const std::vector<Columns> table = [] {
    std::vector<Split> books = {{kIsfStage1Low, 256, 9, 0}, {kIsfStage1High, 256, 7, 9}};
    auto add = [&books](const auto& list) { books.insert(books.end(), std::begin(list), std::end(list)); };
    add(k46Low);
    add(k46High);
    add(k36Low);
    add(k36High);
    add(kNoise);
    std::vector<Columns> out;
    int used = 0;
    for (const Split& e : books) {
      if (used + e.rows * e.dim > static_cast<int>(sizeof storage / sizeof storage[0])) break;
      for (int r = 0; r < e.rows; ++r)
        for (int j = 0; j < e.dim; ++j) storage[used + j * e.rows + r] = e.book[r * e.dim + j];
      out.push_back({e.book, used});
      used += e.rows * e.dim;
    }
    return out;
  }();
  for (const Columns& c : table)
    if (c.book == book) return storage + c.offset;
  return nullptr;
}

template <int Dim>
void distancesOf(const int16_t* x, const int16_t* book, int rows, Word32* out) {
  int32_t xs[Dim], reach = 0;
  for (int j = 0; j < Dim; ++j) {
    xs[j] = x[j];
    reach = std::max(reach, std::abs(xs[j]));
  }
  if (reach <= kPlainReach - kBookPeak) {
    // |e| <= kPlainReach: each difference fits 16 bits.
    const int16_t* columns = columnsOf(book);
    if (columns) {
      for (int r = 0; r < rows; ++r) {
        const int16_t e = static_cast<int16_t>(xs[0] - columns[r]);
        out[r] = int32_t{e} * e;
      }
      for (int j = 1; j < Dim; ++j) {
        const int16_t* col = columns + j * rows;
        const int16_t xj = static_cast<int16_t>(xs[j]);
        for (int r = 0; r < rows; ++r) {
          const int16_t e = static_cast<int16_t>(xj - col[r]);
          out[r] += int32_t{e} * e;
        }
      }
      for (int r = 0; r < rows; ++r) out[r] *= 2;
      return;
    }
    for (int r = 0; r < rows; ++r, book += Dim) {
      int32_t d = 0;
      for (int j = 0; j < Dim; ++j) {
        const int32_t e = xs[j] - book[j];
        d += e * e;
      }
      out[r] = 2 * d;
    }
    return;
  }
  for (int r = 0; r < rows; ++r, book += Dim) {
    int64_t d = 0;
    for (int j = 0; j < Dim; ++j) {
      int32_t e = xs[j] - book[j];
      e = e > kMax16 ? kMax16 : (e < kMin16 ? kMin16 : e);
      d += int64_t{2} * (e * e);
    }
    out[r] = d > kMax32 ? kMax32 : static_cast<Word32>(d);
  }
}

void distances(const int16_t* x, const int16_t* book, int rows, int dim, Word32* out) {
  switch (dim) {
    case 2: return distancesOf<2>(x, book, rows, out);
    case 3: return distancesOf<3>(x, book, rows, out);
    case 4: return distancesOf<4>(x, book, rows, out);
    case 5: return distancesOf<5>(x, book, rows, out);
    case 7: return distancesOf<7>(x, book, rows, out);
    default: return distancesOf<9>(x, book, rows, out);  // the only other dimension of the books
  }
}

// Nearest vector of a split (the first of equal errors); its error is
// returned through err.
int nearest(const int16_t* x, const Split& s, Word32& err) {
  Word32 d[kMaxRows];
  distances(x, s.book, s.rows, s.dim, d);
  int best = 0;
  Word32 least = kMax32;
  for (int r = 0; r < s.rows; ++r) {
    if (d[r] < least) {
      least = d[r];
      best = r;
    }
  }
  err = least;
  return best;
}

// The kSurvivors nearest first-stage vectors, nearest first (an earlier
// vector stays ahead of a later one with the same error).
void survivors(const int16_t* x, const Half& h, int* keep) {
  Word32 d[kMaxRows];
  distances(x, h.book, h.rows, h.dim, d);
  Word32 err[kSurvivors];
  for (int k = 0; k < kSurvivors; ++k) {
    err[k] = kMax32;
    keep[k] = k;
  }
  for (int r = 0; r < h.rows; ++r) {
    if (d[r] >= err[kSurvivors - 1]) continue;
    int slot = 0;
    while (d[r] >= err[slot]) ++slot;
    for (int k = kSurvivors - 1; k > slot; --k) {
      err[k] = err[k - 1];
      keep[k] = keep[k - 1];
    }
    err[slot] = d[r];
    keep[slot] = r;
  }
}

// Searches one half: for each survivor, the second-stage splits on what the
// survivor leaves; the survivor with the least summed second-stage error
// wins.  When every sum saturates nothing is chosen and the index words
// keep what they held, as in the codec.
void searchHalf(const int16_t* residual, const Half& h, int16_t* stage1Index, int16_t* stage2Index) {
  int keep[kSurvivors];
  survivors(residual + h.first, h, keep);
  Word32 bestErr = kMax32;
  for (int k = 0; k < kSurvivors; ++k) {
    int16_t left[kOrder];
    const int16_t* v = h.book + keep[k] * h.dim;
    for (int i = 0; i < h.dim; ++i) left[h.first + i] = sub(residual[h.first + i], v[i]);
    Word32 total = 0;
    int16_t idx[3];
    for (int s = 0; s < h.nSecond; ++s) {
      Word32 e;
      idx[s] = static_cast<int16_t>(nearest(left + h.second[s].first, h.second[s], e));
      total = L_add(total, e);
    }
    if (total < bestErr) {
      bestErr = total;
      *stage1Index = static_cast<int16_t>(keep[k]);
      for (int s = 0; s < h.nSecond; ++s) stage2Index[s] = idx[s];
    }
  }
}

// Quantised residual of a half from its indices (masked to the codebook
// sizes, so any index word decodes).
void rebuildHalf(const Half& h, int16_t stage1, const int16_t* stage2, int16_t* q) {
  const int16_t* v = h.book + (stage1 & (h.rows - 1)) * h.dim;
  for (int i = 0; i < h.dim; ++i) q[h.first + i] = v[i];
  for (int s = 0; s < h.nSecond; ++s) {
    const Split& sp = h.second[s];
    const int16_t* w = sp.book + (stage2[s] & (sp.rows - 1)) * sp.dim;
    for (int i = 0; i < sp.dim; ++i) q[sp.first + i] = add(q[sp.first + i], w[i]);
  }
}

// Raise each of the first 15 ISFs to at least the previous one plus the
// gap (the first to the gap); the last ISF is left alone.
void keepApart(int16_t* isf) {
  int16_t floor = kIsfGap;
  for (int i = 0; i < kOrder - 1; ++i) {
    if (isf[i] < floor) isf[i] = floor;
    floor = add(isf[i], kIsfGap);
  }
}

// Good frame: ISFs = quantised residual + mean + prediction from the
// residual memory, which then takes the new residual.
void decodeGood(const Layout& l, const int16_t* indices, int16_t* isf, int16_t* memory) {
  int16_t q[kOrder];
  const int lowCount = l.low.nSecond;
  rebuildHalf(l.low, indices[0], indices + 2, q);
  rebuildHalf(l.high, indices[1], indices + 2 + lowCount, q);
  for (int i = 0; i < kOrder; ++i) {
    isf[i] = add(add(q[i], kIsfMean[i]), mult(kPredFactor, memory[i]));
    memory[i] = q[i];
  }
}

bool isAmrWbRate(VokRateCode rate) {
  switch (rate) {
    case 5: case 9: case 13: case 15: case 16: case 18: case 19: case 20: case 21: case 25: return true;
    default: return false;
  }
}

const Layout& layoutOf(VokRateCode rate) { return (rate == 5 || rate == 25) ? k36 : k46; }

}  // namespace

}  // namespace voksc::amrwb

using namespace voksc::amrwb;

VOKSC_EXPORT VokResult voksISFQuant_AMRWB_16s(const Vok16s* isf, Vok16s* isfResidualMemory, Vok16s* quantIsfOut,
                                             Vok16s* indicesOut, VokRateCode rateCode) {
  if (anyNull(isf, isfResidualMemory, quantIsfOut, indicesOut)) return vokErrNullPtr;
  if (!isAmrWbRate(rateCode)) return vokErrRange;
  const Layout& l = layoutOf(rateCode);
  int16_t residual[kOrder];
  for (int i = 0; i < kOrder; ++i)
    residual[i] = sub(sub(isf[i], kIsfMean[i]), mult(kPredFactor, isfResidualMemory[i]));
  const int count = 2 + l.low.nSecond + l.high.nSecond;
  int16_t idx[7];
  for (int k = 0; k < count; ++k) idx[k] = indicesOut[k];
  searchHalf(residual, l.low, &idx[0], idx + 2);
  searchHalf(residual, l.high, &idx[1], idx + 2 + l.low.nSecond);
  for (int k = 0; k < count; ++k) indicesOut[k] = idx[k];
  decodeGood(l, idx, quantIsfOut, isfResidualMemory);
  keepApart(quantIsfOut);
  return vokOk;
}

VOKSC_EXPORT VokResult voksISFQuantDecode_AMRWB_16s(const Vok16s* indices, Vok16s* quantIsfOut,
                                                   Vok16s* isfResidualMemory, const Vok16s* prevQuantIsf,
                                                   Vok16s* isfHistory, int bfi, VokRateCode rateCode) {
  if (anyNull(indices, quantIsfOut, isfResidualMemory, prevQuantIsf, isfHistory)) return vokErrNullPtr;
  if (!isAmrWbRate(rateCode)) return vokErrRange;
  if (bfi == 0) {
    int16_t isf[kOrder];
    decodeGood(layoutOf(rateCode), indices, isf, isfResidualMemory);
    for (int row = kHistoryRows - 1; row > 0; --row)
      for (int i = 0; i < kOrder; ++i) isfHistory[row * kOrder + i] = isfHistory[(row - 1) * kOrder + i];
    for (int i = 0; i < kOrder; ++i) isfHistory[i] = quantIsfOut[i] = isf[i];
  } else {
    // Reference: the mean and the last three good frames averaged, rounded
    // (a saturating Q14 sum); the lost frame moves from the last ISFs a
    // tenth of the way towards it, and the residual memory is set to half
    // of what this frame's prediction misses.
    int16_t isf[kOrder], mem[kOrder];
    for (int i = 0; i < kOrder; ++i) {
      Word32 sum = L_mult(kIsfMean[i], 8192);
      for (int row = 0; row < kHistoryRows; ++row) sum = L_mac(sum, isfHistory[row * kOrder + i], 8192);
      const int16_t ref = round_fx(sum);
      isf[i] = add(mult(kKeepPrev, prevQuantIsf[i]), mult(kTowardsMean, ref));
      mem[i] = shr(sub(isf[i], add(ref, mult(isfResidualMemory[i], kPredFactor))), 1);
    }
    for (int i = 0; i < kOrder; ++i) {
      quantIsfOut[i] = isf[i];
      isfResidualMemory[i] = mem[i];
    }
  }
  keepApart(quantIsfOut);
  return vokOk;
}

VOKSC_EXPORT VokResult voksISFQuantDecodeDTX_AMRWB_16s(const Vok16s* indices, Vok16s* quantIsfOut) {
  if (anyNull(indices, quantIsfOut)) return vokErrNullPtr;
  int16_t isf[kOrder];
  for (int s = 0; s < 5; ++s) {
    const Split& sp = kNoise[s];
    const int16_t* v = sp.book + (indices[s] & (sp.rows - 1)) * sp.dim;
    for (int i = 0; i < sp.dim; ++i) isf[sp.first + i] = v[i];
  }
  for (int i = 0; i < kOrder; ++i) isf[i] = add(isf[i], kIsfMeanNoise[i]);
  keepApart(isf);
  for (int i = 0; i < kOrder; ++i) quantIsfOut[i] = isf[i];
  return vokOk;
}

VOKSC_EXPORT VokResult voksISFQuantDTX_AMRWB_16s(const Vok16s* isf, Vok16s* quantIsfOut, Vok16s* indicesOut) {
  if (anyNull(isf, quantIsfOut, indicesOut)) return vokErrNullPtr;
  int16_t residual[kOrder], idx[5];
  for (int i = 0; i < kOrder; ++i) residual[i] = sub(isf[i], kIsfMeanNoise[i]);
  for (int s = 0; s < 5; ++s) {
    Word32 unused;
    idx[s] = static_cast<int16_t>(nearest(residual + kNoise[s].first, kNoise[s], unused));
  }
  for (int s = 0; s < 5; ++s) indicesOut[s] = idx[s];
  return voksISFQuantDecodeDTX_AMRWB_16s(idx, quantIsfOut);
}
