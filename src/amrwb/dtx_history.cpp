// AMR-WB comfort-noise history, kept alike by the encoder and the decoder:
// the last eight frames' ISF vectors and log2 frame energies per sample, from
// which the comfort-noise parameters are averaged.
#include <cstdint>
#include <cstring>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "dtx_history_tables.h"
#include "voksc.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amrwb {
namespace {

constexpr int kFrame = 256, kOrder = 16, kRows = 8;

inline bool validRow(int16_t index) { return index >= 0 && index < kRows; }

// Index of a rate code in the per-mode adjustment table, -1 when the code is
// not an AMR-WB mode.  The comfort-noise frame takes the highest modes' value.
int adjustIndex(VokRateCode rate) {
  static const VokRateCode kModes[] = {vokRateAmrWb660,  vokRateAmrWb885,  vokRateAmrWb1265,
                                       vokRateAmrWb1425, vokRateAmrWb1585, vokRateAmrWb1825,
                                       vokRateAmrWb1985, vokRateAmrWb2305, vokRateAmrWb2385};
  for (int m = 0; m < 9; ++m)
    if (rate == kModes[m]) return m;
  return rate == vokRateSid ? 8 : -1;
}

// Appends one frame: the row after *index (0..7, wrapping) takes the ISF
// vector and the Q7 log2 energy per sample, lowered by `lower`.
//
// The energy is the saturating sum of doubled squares, halved: a sum of
// non-negative terms saturates to the clamp of its total, so this is
// min(sum of squares, 2^30 - 1).
void append(const int16_t* x, const int16_t* isf, int16_t* index, int16_t* isfRows, int16_t* logRows,
            int16_t lower) {
  int64_t sum = 0;
  for (int i = 0; i < kFrame; ++i) sum += int64_t{x[i]} * x[i];
  const int32_t energy = sum > 0x3FFFFFFF ? 0x3FFFFFFF : static_cast<int32_t>(sum);
  int16_t e, f;
  vokLog2(energy, &e, &f);
  const int row = *index == kRows - 1 ? 0 : *index + 1;
  *index = static_cast<int16_t>(row);
  std::memcpy(isfRows + row * kOrder, isf, kOrder * sizeof(int16_t));
  // 1024 = log2(256) in Q7: energy per sample.
  logRows[row] = sub(add(shl(e, 7), shr(f, 8)), add(1024, lower));
}

}  // namespace
}  // namespace voksc::amrwb

VOKSC_EXPORT VokResult voksEncDTXBuffer_AMRWB_16s(const Vok16s* src, const Vok16s* isf, Vok16s* historyIndex,
                                                  Vok16s* isfHistory, Vok16s* logEnergyHistory, VokRateCode rate) {
  if (anyNull(src, isf, historyIndex, isfHistory, logEnergyHistory)) return vokErrNullPtr;
  if (!voksc::amrwb::validRow(*historyIndex)) return vokErrRange;
  const int m = voksc::amrwb::adjustIndex(rate);
  if (m < 0) return vokErrRange;
  voksc::amrwb::append(src, isf, historyIndex, isfHistory, logEnergyHistory, voksc::amrwb::kLogEnergyAdjust[m]);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecDTXBuffer_AMRWB_16s(const Vok16s* src, const Vok16s* isf, Vok16s* historyIndex,
                                                  Vok16s* isfHistory, Vok16s* logEnergyHistory) {
  if (anyNull(src, isf, historyIndex, isfHistory, logEnergyHistory)) return vokErrNullPtr;
  if (!voksc::amrwb::validRow(*historyIndex)) return vokErrRange;
  voksc::amrwb::append(src, isf, historyIndex, isfHistory, logEnergyHistory, 0);
  return vokOk;
}
