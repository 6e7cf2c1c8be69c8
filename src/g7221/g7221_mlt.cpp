// G.722.1 modulated lapped transform: the fixed-point type-IV DCT in both
// directions (with the offsets and the dither of the 320-point forms) and the
// window/fold steps that connect frames of samples with DCT blocks.
//
// The transform of N = 10 * 2^L points runs in three phases:
//  1. L levels of sum/difference butterflies split the block into 2^L
//     sub-blocks of 10 (each level halves the block size: the sums go to the
//     lower half in order, the differences to the upper half in reverse);
//  2. a 10x10 kernel transforms every sub-block (rounded product sums);
//  3. L levels of rotations merge the sub-blocks back, smallest first: a
//     block of size s takes its lower and upper halves pairwise, rotates each
//     even/odd pair by a tabled (cos, -sin) and writes the results from both
//     ends of the block inwards.
// Every stage rounds to 16 bits, so the result depends on this exact staging.
#include <cstdint>
#include <cstring>
#include <utility>

#include "common/basic_op.h"
#include "core/status.h"
#include "g7221_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g7221 {
namespace {

constexpr int kMaxLen = 640;
constexpr int kCore = 10;

struct Rotations {
  const int16_t* cosine;
  const int16_t* minusSine;
};

// Rotation tables by merge level: level t merges blocks of 20 << t.
constexpr Rotations kForwardRot[6] = {{kFwdCos20, kFwdMsin20},   {kFwdCos40, kFwdMsin40},
                                      {kFwdCos80, kFwdMsin80},   {kFwdCos160, kFwdMsin160},
                                      {kFwdCos320, kFwdMsin320}, {kFwdCos640, kFwdMsin640}};
constexpr Rotations kInverseRot[6] = {{kInvCos20, kInvMsin20},   {kInvCos40, kInvMsin40},
                                      {kInvCos80, kInvMsin80},   {kInvCos160, kInvMsin160},
                                      {kInvCos320, kInvMsin320}, {kInvCos640, kInvMsin640}};

// One split level over blocks of `span`: butterfly(a, b, position, lo, hi)
// forms the pair's two results from consecutive inputs a, b.
template <class Butterfly>
void splitLevel(const int16_t* in, int16_t* out, int len, int span, Butterfly butterfly) {
  for (int base = 0; base < len; base += span) {
    for (int j = 0; j < span / 2; ++j) {
      const int at = base + 2 * j;
      butterfly(in[at], in[at + 1], at, out[base + j], out[base + span - 1 - j]);
    }
  }
}

// Largest sum of |core[i][k]| over the columns k of a kernel.
int columnBound(const int16_t (*core)[kCore]) {
  int most = 0;
  for (int k = 0; k < kCore; ++k) {
    int sum = 0;
    for (int i = 0; i < kCore; ++i) sum += core[i][k] < 0 ? -core[i][k] : core[i][k];
    most = sum > most ? sum : most;
  }
  return most;
}

// The 10-point kernel on every sub-block: out[k] = round(sum_i x[i] core[i][k]),
// the sum a saturating chain of doubled products.  A sub-block whose peak
// times the kernel's column bound keeps every doubled partial sum inside 32
// bits takes the plain sum (no kernel entry is -32768, so no doubled product
// saturates either).
void coreLevel(const int16_t* in, int16_t* out, int len, const int16_t (*core)[kCore]) {
  static const int fwdBound = columnBound(kFwdCore), invBound = columnBound(kInvCore);
  const int64_t bound = core == kFwdCore ? fwdBound : invBound;
  for (int base = 0; base < len; base += kCore) {
    int peak = 0;
    for (int i = 0; i < kCore; ++i) {
      const int a = in[base + i] < 0 ? -in[base + i] : in[base + i];
      peak = a > peak ? a : peak;
    }
    if (2 * peak * bound < (int64_t{1} << 31)) {
      for (int k = 0; k < kCore; ++k) {
        int32_t acc = 0;
        for (int i = 0; i < kCore; ++i) acc += in[base + i] * core[i][k];
        out[base + k] = round_fx(2 * acc);
      }
      continue;
    }
    for (int k = 0; k < kCore; ++k) {
      Word32 acc = 0;
      for (int i = 0; i < kCore; ++i) acc = L_mac(acc, in[base + i], core[i][k]);
      out[base + k] = round_fx(acc);
    }
  }
}

// One merge level over blocks of `span` with its rotation table; `narrow`
// turns an accumulated rotation into the stored 16-bit value.
template <class Narrow>
void mergeLevel(const int16_t* in, int16_t* out, int len, int span, const Rotations& rot, Narrow narrow) {
  const int half = span / 2;
  for (int base = 0; base < len; base += span) {
    const int16_t* low = in + base;
    const int16_t* high = in + base + half;
    int16_t* dst = out + base;
    for (int j = 0; j < half; j += 2) {
      const int16_t c0 = rot.cosine[j], s0 = rot.minusSine[j];
      const int16_t c1 = rot.cosine[j + 1], s1 = rot.minusSine[j + 1];
      dst[j] = narrow(L_mac(L_mult(c0, low[j]), negate(s0), high[j]));
      dst[span - 1 - j] = narrow(L_mac(L_mult(s0, low[j]), c0, high[j]));
      dst[j + 1] = narrow(L_mac(L_mult(c1, low[j + 1]), s1, high[j + 1]));
      dst[span - 2 - j] = narrow(L_mac(L_mult(s1, low[j + 1]), negate(c1), high[j + 1]));
    }
  }
}

int levelsOf(int len) { return len == 320 ? 5 : 6; }

// Phases 1-3 with the direction's first split butterfly (`first`), later
// split butterfly (`later`), kernel, rotations and narrowing.  x holds the
// input on entry and is used as scratch; the result goes to dst.
template <class First, class Later, class Narrow>
void transform(int16_t* x, int16_t* dst, int len, First first, Later later, const int16_t (*core)[kCore],
               const Rotations* rot, Narrow narrow) {
  int16_t y[kMaxLen];
  const int levels = levelsOf(len);
  int16_t* cur = x;
  int16_t* nxt = y;
  for (int l = 0; l < levels; ++l) {
    if (l == 0)
      splitLevel(cur, nxt, len, len, first);
    else
      splitLevel(cur, nxt, len, len >> l, later);
    std::swap(cur, nxt);
  }
  coreLevel(cur, nxt, len, core);
  std::swap(cur, nxt);
  for (int t = 0; t < levels; ++t) {
    int16_t* target = t == levels - 1 ? dst : nxt;
    mergeLevel(cur, target, len, 20 << t, rot[t], narrow);
    std::swap(cur, nxt);
  }
}

// Forward split: halved sum and halved difference (never saturate).
void halvedButterfly(int16_t a, int16_t b, int, int16_t& lo, int16_t& hi) {
  lo = static_cast<int16_t>((Word32{a} + b) >> 1);
  hi = static_cast<int16_t>((Word32{a} - b) >> 1);
}

}  // namespace

void forwardDct(const int16_t* src, int16_t* dst, int len) {
  int16_t x[kMaxLen];
  for (int i = 0; i < len; ++i) x[i] = len == 320 ? add(src[i], kFwdOffset[i]) : src[i];
  transform(x, dst, len, halvedButterfly, halvedButterfly, kFwdCore, kForwardRot,
            [](Word32 acc) { return round_fx(acc); });
}

void inverseDct(const int16_t* src, int16_t* dst, int len) {
  int16_t x[kMaxLen];
  std::memcpy(x, src, sizeof(int16_t) * static_cast<size_t>(len));
  const int16_t* dither = len == 320 ? kInvDither320 : kInvDither640;
  // First split: the dither value of each output position is added (with
  // saturation) to the pair's first input before the halved sum/difference,
  // which are formed in 32 bits (the difference negates b exactly).
  auto first = [dither](int16_t a, int16_t b, int at, int16_t& lo, int16_t& hi) {
    lo = static_cast<int16_t>((Word32{add(a, dither[at])} + b) >> 1);
    hi = static_cast<int16_t>((Word32{add(a, dither[at + 1])} - b) >> 1);
  };
  // Later splits: full-scale saturating sum and difference.
  auto later = [](int16_t a, int16_t b, int, int16_t& lo, int16_t& hi) {
    lo = add(a, b);
    hi = add(a, negate(b));
  };
  // Rotations carry one more bit: round(acc << 1) with saturation.
  transform(x, dst, len, first, later, kInvCore, kInverseRot, [](Word32 acc) { return round_fx(L_shl(acc, 1)); });
  if (len == 320)
    for (int i = 0; i < len; ++i) dst[i] = add(dst[i], kInvOffset[i]);
}

// Analysis fold: prev and cur are consecutive frames of len samples.  The
// first half of the block folds the previous frame about its middle, the
// second half the current frame about its ends, each weighted by the window
// from both of its ends.
void analysisFold(const int16_t* prev, const int16_t* cur, int16_t* out, int len) {
  const int16_t* w = len == 320 ? kAnalysisWindow320 : kAnalysisWindow640;
  const int half = len / 2;
  int16_t block[kMaxLen];
  for (int i = 0; i < half; ++i) {
    block[i] = round_fx(L_mac(L_mult(w[half - 1 - i], prev[half - 1 - i]), w[half + i], prev[half + i]));
    block[half + i] = round_fx(L_mac(L_mult(w[len - 1 - i], cur[i]), negate(w[i]), cur[len - 1 - i]));
  }
  std::memcpy(out, block, sizeof(int16_t) * static_cast<size_t>(len));
}

// Synthesis overlap-add: the first half of the new inverse block, mirrored
// and then in order, meets the kept half of the previous block, in order and
// then mirrored; the sums are scaled by 4 before rounding.
void synthesisFold(const int16_t* cur, const int16_t* kept, int16_t* out, int len) {
  const int16_t* w = len == 320 ? kSynthesisWindow320 : kSynthesisWindow640;
  const int half = len / 2;
  int16_t block[kMaxLen];
  for (int i = 0; i < half; ++i) {
    block[i] = round_fx(L_shl(L_mac(L_mult(w[i], cur[half - 1 - i]), w[len - 1 - i], kept[i]), 2));
    block[half + i] =
        round_fx(L_shl(L_mac(L_mult(w[half + i], cur[i]), negate(w[half - 1 - i]), kept[half - 1 - i]), 2));
  }
  std::memcpy(out, block, sizeof(int16_t) * static_cast<size_t>(len));
}

}  // namespace voksc::g7221

using namespace voksc::g7221;

namespace {
bool badLength(int len) { return len != 320 && len != 640; }
}  // namespace

VOKSC_EXPORT VokResult voksDCTFwd_G7221_16s(const Vok16s* src, Vok16s* dst, int len) {
  if (anyNull(src, dst)) return vokErrNullPtr;
  if (badLength(len)) return vokErrSize;
  forwardDct(src, dst, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDCTInv_G7221_16s(const Vok16s* src, Vok16s* dst, int len) {
  if (anyNull(src, dst)) return vokErrNullPtr;
  if (badLength(len)) return vokErrSize;
  inverseDct(src, dst, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDCTFwd_G722_16s(const Vok16s* src, Vok16s* dst) {
  return voksDCTFwd_G7221_16s(src, dst, 320);
}

VOKSC_EXPORT VokResult voksDCTInv_G722_16s(const Vok16s* src, Vok16s* dst) {
  return voksDCTInv_G7221_16s(src, dst, 320);
}

VOKSC_EXPORT VokResult voksDecomposeMLTToDCT_G7221_16s(const Vok16s* prev, const Vok16s* cur, Vok16s* block,
                                                       int len) {
  if (anyNull(prev, cur, block)) return vokErrNullPtr;
  if (badLength(len)) return vokErrSize;
  analysisFold(prev, cur, block, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecomposeDCTToMLT_G7221_16s(const Vok16s* block, const Vok16s* kept, Vok16s* out,
                                                       int len) {
  if (anyNull(block, kept, out)) return vokErrNullPtr;
  if (badLength(len)) return vokErrSize;
  synthesisFold(block, kept, out, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecomposeMLTToDCT_G722_16s(const Vok16s* prev, const Vok16s* cur, Vok16s* block) {
  return voksDecomposeMLTToDCT_G7221_16s(prev, cur, block, 320);
}

VOKSC_EXPORT VokResult voksDecomposeDCTToMLT_G722_16s(const Vok16s* block, const Vok16s* kept, Vok16s* out) {
  return voksDecomposeDCTToMLT_G7221_16s(block, kept, out, 320);
}
