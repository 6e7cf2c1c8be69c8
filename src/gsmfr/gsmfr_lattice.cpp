// GSM 06.10 short-term lattices: the 8-stage analysis (all-zero) and
// synthesis (all-pole) filters with Q15 reflection coefficients, rounded
// products and 16-bit saturated sums.
//
// The rounded product (a * b + 2^14) >> 15 leaves 16 bits only for
// a = b = -32768.  Every product here has a coefficient as one factor, so a
// coefficient set without -32768 (every set the codec derives from LARs:
// their magnitude is at most 32767) runs with the plain product; a set that
// holds -32768 takes the saturating one.
//
// The AVX2 form runs the stages of the lattice in vector lanes as a
// wavefront: each lane is one stage, and what a stage needs from its
// neighbours (the same sample's value from the stage before, the previous
// sample's backward value) is exactly what the neighbouring lane produced
// one or two steps earlier.  Lanes ahead of the first sample or behind the
// last compute values nothing valid reads.  Its operations (rounded Q15
// product, saturated 16-bit add and subtract) are the scalar ones lane by
// lane, the rounding product being exact for the same coefficient sets.
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "core/cpu.h"
#include "gsmfr_internal.h"

namespace voksc::gsmfr {
namespace {

using op::Word16;
using op::Word32;

bool holdsMin(const int16_t* rc) {
  for (int i = 0; i < 8; ++i)
    if (rc[i] == op::kMin16) return true;
  return false;
}

// Rounded Q15 product without the saturation (see above when it is exact).
struct PlainProduct {
  static Word16 mul(Word16 a, Word16 b) { return static_cast<Word16>((Word32{a} * b + 0x4000) >> 15); }
};
struct SaturatedProduct {
  static Word16 mul(Word16 a, Word16 b) { return op::mult_r(a, b); }
};

// Forward error down the stages; each stage's backward error of the
// previous sample (mem) is replaced by the current one.
template <class P>
void analysisRun(const int16_t* rc, int16_t* x, int len, int16_t* mem) {
  Word16 back[8], k[8];
  for (int i = 0; i < 8; ++i) {
    back[i] = mem[i];
    k[i] = rc[i];
  }
  for (int n = 0; n < len; ++n) {
    Word16 fwd = x[n], bwd = fwd;
    for (int i = 0; i < 8; ++i) {
      const Word16 prev = back[i];
      back[i] = bwd;
      bwd = op::add(prev, P::mul(k[i], fwd));
      fwd = op::add(fwd, P::mul(k[i], prev));
    }
    x[n] = fwd;
  }
  for (int i = 0; i < 8; ++i) mem[i] = back[i];
}

// The excitation climbs the stages from the last to the first; each stage's
// state moves one place up.
template <class P>
void synthesisRun(const int16_t* rc, const int16_t* x, int16_t* y, int len, int16_t* mem) {
  Word16 v[9], k[8];
  for (int i = 0; i < 9; ++i) v[i] = mem[i];
  for (int i = 0; i < 8; ++i) k[i] = rc[i];
  for (int n = 0; n < len; ++n) {
    Word16 s = x[n];
    for (int i = 7; i >= 0; --i) {
      s = op::sub(s, P::mul(k[i], v[i]));
      v[i + 1] = op::add(v[i], P::mul(k[i], s));
    }
    v[0] = s;
    y[n] = s;
  }
  for (int i = 0; i < 9; ++i) mem[i] = v[i];
}

}  // namespace

void analysisLatticeScalar(const int16_t* rc, int16_t* x, int len, int16_t* mem) {
  if (holdsMin(rc))
    analysisRun<SaturatedProduct>(rc, x, len, mem);
  else
    analysisRun<PlainProduct>(rc, x, len, mem);
}

void synthesisLatticeScalar(const int16_t* rc, const int16_t* x, int16_t* y, int len, int16_t* mem) {
  if (holdsMin(rc))
    synthesisRun<SaturatedProduct>(rc, x, y, len, mem);
  else
    synthesisRun<PlainProduct>(rc, x, y, len, mem);
}

#if defined(VOKSC_X86)
namespace {

// keepLanes[t]: lanes 0..t all ones, the rest zero (byte masks for blendv).
alignas(16) constexpr int16_t kKeepLanes[8][8] = {
    {-1, 0, 0, 0, 0, 0, 0, 0},     {-1, -1, 0, 0, 0, 0, 0, 0},     {-1, -1, -1, 0, 0, 0, 0, 0},
    {-1, -1, -1, -1, 0, 0, 0, 0},  {-1, -1, -1, -1, -1, 0, 0, 0},  {-1, -1, -1, -1, -1, -1, 0, 0},
    {-1, -1, -1, -1, -1, -1, -1, 0}, {-1, -1, -1, -1, -1, -1, -1, -1}};

VOKSC_TARGET_AVX2 inline __m128i keep(int t) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(kKeepLanes[t]));
}

}  // namespace

// Lane i is stage i; step t works on sample n = t - i in lane i.  F and B
// hold the forward and backward errors entering each stage, `prev` the
// backward errors that entered one step earlier (the previous sample's in
// every lane).  Sample t enters lane 0 at step t; the output of sample n
// leaves lane 7 at step n + 7.
VOKSC_TARGET_AVX2 void analysisLatticeAvx2(const int16_t* rc, int16_t* x, int len, int16_t* mem) {
  if (holdsMin(rc)) {
    analysisRun<SaturatedProduct>(rc, x, len, mem);
    return;
  }
  const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rc));
  const __m128i start = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mem));
  const int16_t lastIn = x[len - 1];
  // Before step 0 every lane's previous backward error is the memory's; at
  // step t lane t + 1 meets sample 0, its previous backward error being
  // memory word t + 1.
  __m128i prev = start;
  __m128i f = _mm_cvtsi32_si128(static_cast<uint16_t>(x[0]));
  __m128i b = _mm_insert_epi16(start, x[0], 0);
  alignas(16) int16_t last[8];
  int16_t fin[8];
  const int steps = len + 7;
  for (int t = 0; t < steps; ++t) {
    const __m128i nb = _mm_adds_epi16(prev, _mm_mulhrs_epi16(k, f));
    const __m128i nf = _mm_adds_epi16(f, _mm_mulhrs_epi16(k, prev));
    if (t >= 7) x[t - 7] = static_cast<int16_t>(_mm_extract_epi16(nf, 7));
    const int16_t in = t + 1 < len ? x[t + 1] : 0;
    prev = b;
    f = _mm_insert_epi16(_mm_slli_si128(nf, 2), in, 0);
    b = _mm_insert_epi16(_mm_slli_si128(nb, 2), in, 0);
    if (t + 1 < 7) b = _mm_blendv_epi8(start, b, keep(t + 1));
    // Stage i's backward error of the last sample enters lane i at step
    // len - 1 + i (lane 0's is the last input).
    const int lane = t + 1 - (len - 1);
    if (lane >= 1 && lane < 8) {
      _mm_store_si128(reinterpret_cast<__m128i*>(last), b);
      fin[lane] = last[lane];
    }
  }
  fin[0] = lastIn;
  for (int i = 0; i < 8; ++i) mem[i] = fin[i];
}

// Lane j is stage 7 - j; step t works on sample n = (t - j) / 2 in the lanes
// with j of the parity of t (the other lanes carry values nothing valid
// reads).  S holds each stage's excitation input, V its state of the
// previous sample: the new state of the stage before, one step earlier, or
// for stage 0 its own output two steps earlier.  Sample n enters lane 0 at step 2n; its output leaves
// lane 7 at step 2n + 7.
VOKSC_TARGET_AVX2 void synthesisLatticeAvx2(const int16_t* rc, const int16_t* x, int16_t* y, int len,
                                            int16_t* mem) {
  if (holdsMin(rc)) {
    synthesisRun<SaturatedProduct>(rc, x, y, len, mem);
    return;
  }
  const __m128i rev = _mm_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
  const __m128i k = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rc)), rev);
  // Lane j: state of stage 7 - j before sample 0.
  const __m128i start = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mem)), rev);
  __m128i s = _mm_cvtsi32_si128(static_cast<uint16_t>(x[0]));
  __m128i v = start, older = start;
  alignas(16) int16_t out[8];
  int16_t fin[9];
  const int steps = 2 * len + 6;
  for (int t = 0; t < steps; ++t) {
    // Lane t meets sample 0 at step t: its state is the memory's.
    if (t < 8) v = _mm_blendv_epi8(v, start, _mm_xor_si128(keep(t), t ? keep(t - 1) : _mm_setzero_si128()));
    const __m128i ns = _mm_subs_epi16(s, _mm_mulhrs_epi16(k, v));
    const __m128i nv = _mm_adds_epi16(v, _mm_mulhrs_epi16(k, ns));
    if ((t & 1) && t >= 7) y[(t - 7) >> 1] = static_cast<int16_t>(_mm_extract_epi16(ns, 7));
    // Stage 7 - j's new state of the last sample leaves lane j at step
    // 2 (len - 1) + j: memory word 8 - j.
    const int lane = t - 2 * (len - 1);
    if (lane >= 0) {
      _mm_store_si128(reinterpret_cast<__m128i*>(out), nv);
      fin[8 - lane] = out[lane];
    }
    const int next = (t + 1) >> 1;
    const int16_t in = ((t + 1) & 1) == 0 && next < len ? x[next] : 0;
    s = _mm_insert_epi16(_mm_slli_si128(ns, 2), in, 0);
    // Stage 0's state is its own output of two steps before.
    v = _mm_alignr_epi8(_mm_srli_si128(older, 14), nv, 2);
    older = ns;
  }
  fin[0] = y[len - 1];
  for (int i = 0; i < 9; ++i) mem[i] = fin[i];
}
#else
void analysisLatticeAvx2(const int16_t* rc, int16_t* x, int len, int16_t* mem) {
  analysisLatticeScalar(rc, x, len, mem);
}
void synthesisLatticeAvx2(const int16_t* rc, const int16_t* x, int16_t* y, int len, int16_t* mem) {
  synthesisLatticeScalar(rc, x, y, len, mem);
}
#endif

}  // namespace voksc::gsmfr
