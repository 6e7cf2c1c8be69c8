// GSM-AMR algebraic code-vector decoding of every mode from its index words.
#include <cstdint>
#include <cstring>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "core/status.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amr {
namespace {

// Start positions of the two pulses of 4.75 / 5.15 kbit/s by subframe and
// by bit 6 of the position word.
const int16_t kStart2x9[16] = {0, 2, 0, 3, 0, 2, 0, 3, 1, 3, 2, 4, 1, 4, 1, 4};
// Gray decoding of the 3-bit position fields.
const int16_t kGrayDecode[8] = {0, 1, 3, 2, 5, 6, 4, 7};

// Pulses with one sign bit each (bit k of signs for pulse k: +8191 / -8192).
void placeSigned(const int* pos, int n, int signs, int16_t* code) {
  std::memset(code, 0, kSubframe * sizeof(int16_t));
  for (int k = 0; k < n; ++k) code[pos[k]] = ((signs >> k) & 1) ? 8191 : -8192;
}

// Two pulses per track (10.2 and 12.2 kbit/s): the second takes the first's
// sign, negated when it lies before it; coinciding pulses add up.
void placePair(int16_t* code, int p1, int p2, int16_t amp) {
  code[p1] = amp;
  code[p2] = add(code[p2], p2 < p1 ? negate(amp) : amp);
}

// Three position indices packed in 7 + 3 bits (10.2 kbit/s): MSBs 0..124
// hold the three 1..5 sub-positions in base 5, the LSBs their low bits.
void unpackTriple(int msbs, int lsbs, int* pos, int i1, int i2, int i3) {
  if (msbs > 124) msbs = 124;
  const int q25 = (msbs * 1311) >> 15;  // msbs / 25
  const int r25 = msbs - 25 * q25;
  const int q5 = (r25 * 6554) >> 15;  // r25 / 5
  const int low = lsbs & 3;
  pos[i1] = 2 * (r25 - 5 * q5) + (low & 1);
  pos[i2] = 2 * q5 + (low >> 1);
  pos[i3] = 2 * q25 + (lsbs >> 2);
}

void decode8x31(const int16_t* w, int16_t* code) {
  int pos[8];
  unpackTriple(w[4] >> 3, w[4] & 7, pos, 0, 4, 1);
  unpackTriple(w[5] >> 3, w[5] & 7, pos, 2, 6, 5);
  // Two indices in 5 + 2 bits: 25 pairs in the MSBs, the low bits beside.
  const int msbs = w[6] >> 2, lsbs = w[6] & 3;
  const int pair = (msbs * 25 + 12) >> 5;
  const int q5 = (pair * 6554) >> 15;
  int r5 = pair - 5 * q5;
  if (q5 & 1) r5 = 4 - r5;
  pos[3] = 2 * r5 + (lsbs & 1);
  pos[7] = 2 * q5 + (lsbs >> 1);
  std::memset(code, 0, kSubframe * sizeof(int16_t));
  for (int t = 0; t < 4; ++t) placePair(code, 4 * pos[t] + t, 4 * pos[t + 4] + t, w[t] == 0 ? 8191 : -8191);
}

void decode10x35(const int16_t* w, int16_t* code) {
  std::memset(code, 0, kSubframe * sizeof(int16_t));
  for (int t = 0; t < 5; ++t) {
    const int p1 = 5 * kGrayDecode[w[t] & 7] + t, p2 = 5 * kGrayDecode[w[t + 5] & 7] + t;
    placePair(code, p1, p2, ((w[t] >> 3) & 1) ? -4096 : 4096);
  }
}

// The 10.2 kbit/s words place pulses by arithmetic on the whole word, so a
// word wider than its field (1-bit signs, 10-, 10- and 7-bit positions)
// would address outside the subframe: such words are refused.
bool fieldsFit10k2(const int16_t* w) {
  static const uint16_t kLimit[7] = {1, 1, 1, 1, 1023, 1023, 127};
  for (int k = 0; k < 7; ++k)
    if (static_cast<uint16_t>(w[k]) > kLimit[k]) return false;
  return true;
}

}  // namespace
}  // namespace voksc::amr

using namespace voksc::amr;

VOKSC_EXPORT VokResult voksFixedCodebookDecode_GSMAMR_16s(const Vok16s* indices, Vok16s* code, Vok16s subframe,
                                                         VokRateCode rate) {
  if (anyNull(indices, code)) return vokErrNullPtr;
  const int mode = modeOfRate(rate, true);
  if (static_cast<uint16_t>(subframe) > 3 || mode < 0) return vokErrRange;
  if (mode == kMr102 && !fieldsFit10k2(indices)) return vokErrIndex;
  const int p = static_cast<uint16_t>(indices[0]), s = static_cast<uint16_t>(indices[1]);
  int pos[4];
  int16_t out[kSubframe];
  switch (mode) {
    case kMr102:
      decode8x31(indices, out);
      break;
    case kMr122:
      decode10x35(indices, out);
      break;
    case kMr59:  // 2 pulses, 11 bits
      pos[0] = 5 * ((p >> 1) & 7) + 1 + 2 * (p & 1);
      pos[1] = ((p >> 4) & 3) == 3 ? 5 * ((p >> 6) & 7) + 4 : 5 * ((p >> 6) & 7) + ((p >> 4) & 3);
      placeSigned(pos, 2, s, out);
      break;
    case kMr67:  // 3 pulses, 14 bits
      pos[0] = 5 * (p & 7);
      pos[1] = 5 * ((p >> 4) & 7) + 1 + 2 * ((p >> 3) & 1);
      pos[2] = 5 * ((p >> 8) & 7) + 2 + 2 * ((p >> 7) & 1);
      placeSigned(pos, 3, s, out);
      break;
    case kMr74:
    case kMr795:  // 4 pulses, 17 bits, Gray-coded fields
      pos[0] = 5 * kGrayDecode[p & 7];
      pos[1] = 5 * kGrayDecode[(p >> 3) & 7] + 1;
      pos[2] = 5 * kGrayDecode[(p >> 6) & 7] + 2;
      pos[3] = 5 * kGrayDecode[(p >> 10) & 7] + 3 + ((p >> 9) & 1);
      placeSigned(pos, 4, s, out);
      break;
    default: {  // 4.75, 5.15 and comfort noise: 2 pulses, 9 bits
      const int row = 8 * ((p >> 6) & 1) + 2 * subframe;
      pos[0] = 5 * (p & 7) + kStart2x9[row];
      pos[1] = 5 * ((p >> 3) & 7) + kStart2x9[row + 1];
      placeSigned(pos, 2, s, out);
      break;
    }
  }
  std::memcpy(code, out, sizeof out);
  return vokOk;
}
