// G.726 ADPCM internals: the state object layout and the block coders
// behind the exports, in the portable and the AVX2 predictor forms.
#ifndef VOKSC_G728_G726_G726_CODEC_H
#define VOKSC_G728_G726_G726_CODEC_H

#include <cstddef>
#include <cstdint>

namespace voksc::g726 {

// Codec state: a reserved block the codec never touches, then the
// adaptation variables.  The predictor's coefficient and history words are
// kept as two runs of eight so that both predictor forms load them at once.
struct State {
  int16_t reserved[8];
  int16_t flag;      // working word, not used between calls
  int16_t pk1, pk2;  // signs of the two previous partial reconstructions
  int16_t rate;      // rate index 0..3 (16, 24, 32, 40 kbit/s); may change between calls
  int16_t yu;        // fast quantiser scale factor, 544..5120
  int16_t ap;        // speed-control parameter
  int16_t work;      // working word, not used between calls
  int32_t yl;        // slow quantiser scale factor (19 bits)
  int16_t dms, dml;  // short- and long-term averages of F(I)
  int16_t td;        // tone detected
  int16_t se;        // working word, not used between calls
  int16_t coef[8];   // b1..b6, a1, a2
  uint16_t hist[8];  // dq1..dq6, sr1, sr2 in the 11-bit floating format, sign in bit 10
  uint8_t spare[12];  // unused; keeps the published object size
};
struct DecoderState {
  State c;
  int32_t law;  // 0 mu-law, 1 A-law, 2 linear
};
static_assert(sizeof(State) == 88, "G.726 encoder state size");
static_assert(sizeof(DecoderState) == 92, "G.726 decoder state size");
static_assert(offsetof(State, rate) == 22, "published position of the rate index");

enum class Kernel { kScalar, kAvx2 };

// Runs n > 0 samples on an initialised state.  The rate index is read from
// the state (only its two low bits).
void encodeBlock(State& s, const int16_t* src, uint8_t* dst, int n, Kernel k);
void decodeBlock(DecoderState& s, const uint8_t* src, int16_t* dst, int n, Kernel k);

void resetState(State& s, int rateIndex);

}  // namespace voksc::g726

#endif  // VOKSC_G728_G726_G726_CODEC_H
