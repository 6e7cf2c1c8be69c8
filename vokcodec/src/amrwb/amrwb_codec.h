// AMR-WB in vokcodec: what the encoder, the decoder, the frame formats and
// the registry share.
//
//  * FrameParams: the parameters of one frame as the coder produces them
//    (ISF indices, per subframe the lag index, LTP filter choice, code
//    words, gain index and the 23.85 kbit/s high-band gain; the VAD flag;
//    or the comfort-noise parameters of a SID frame).  The encoder fills
//    it, the decoder reads it; paramsToBits/bitsToParams turn it into the
//    frame's bits in parameter order (each parameter MSB first, the order
//    of the 3GPP test format), which amrwb_bits.h packs for each layout.
//  * The encoder entry (amrwb_encoder.cpp): amrwbEncoderSize, ...Init and
//    amrwbEncodeFrame; kEncoderReady puts the encoder's conformance checks
//    into the registry.  The codec "amr-wb" itself is registered once kEncoderReady and the decoder's
//    kDecoderReady (amrwb_decoder.h) both hold; the encoder's checks
//    ("amr-wb encode tst_m0" ... "tst_md", amrwb_registry.cpp) call
//    amrwbEncodeFrame directly and compare with the test-format vectors.
#ifndef VOKCODEC_AMRWB_CODEC_H
#define VOKCODEC_AMRWB_CODEC_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "voksc.h"

namespace vokc::amrwb {

constexpr bool kEncoderReady = true;

constexpr int kFrame = 320;        // output samples per frame (16 kHz, 20 ms)
constexpr int kCoreFrame = 256;    // samples of the 12.8 kHz core per frame
constexpr int kSubframes = 4;
constexpr int kModes = 9;          // 6.60 8.85 12.65 14.25 15.85 18.25 19.85 23.05 23.85 = 0..8
constexpr int kSidMode = 9;        // comfort-noise parameter layout
constexpr int kMaxBits = 477;      // 23.85 kbit/s
constexpr int kSidBits = 35;

// Transmit frame types (word 1 of the 3GPP test format).
enum TxType : int { kTxSpeech = 0, kTxSidFirst = 1, kTxSidUpdate = 2, kTxNoData = 3 };

struct SubframeParams {
  int16_t lag = 0;        // absolute (9 or 8 bits) or relative (6 or 5 bits) lag index
  int16_t ltpFilter = 0;  // 1 bit from 12.65 kbit/s on: 1 = adaptive vector unfiltered
  int16_t code[8] = {};   // code words in transmission order (1 at 6.60, 4 up to 15.85, else 8)
  int16_t gain = 0;       // joint gain index (6 bits at 6.60 and 8.85, else 7)
  int16_t hfGain = 0;     // 23.85 kbit/s: high-band gain index (4 bits)
};

struct FrameParams {
  int type = kTxNoData;    // TxType
  int mode = 0;            // 0..8: speech mode, or the mode a DTX frame carries
  int16_t vad = 1;         // speech frames: the VAD flag (1 speech)
  int16_t isf[7] = {};     // 46-bit ISF indices (5 of them, 36 bits, at 6.60)
  SubframeParams sub[kSubframes];
  // SID_FIRST / SID_UPDATE (NO_DATA keeps what was last set, as the
  // reference encoder leaves those bits in the test format):
  int16_t sidIsf[5] = {};  // comfort-noise ISF indices (6, 6, 6, 5, 5 bits)
  int16_t sidEnergy = 0;   // log energy index (6 bits)
  int16_t sidDither = 0;   // comfort-noise dithering flag (1 bit)
};

// Bits of a speech mode 0..8, or kSidBits for kSidMode; 0 otherwise.
int bitCount(int mode);
// Parameters (each taken modulo its width) to bits, one 0/1 per byte, in
// parameter order: speech frames bitCount(p.mode) bits, SID frames 35 bits
// (NO_DATA: the 35 comfort-noise bits too).  Returns the number written.
int paramsToBits(const FrameParams& p, uint8_t* bits);
// The inverse for a frame whose type and mode are set in p.
void bitsToParams(const uint8_t* bits, FrameParams& p);

// Mode names "6.6" ... "23.85" (also "6.60", bit rates such as "6600", and
// the 3GPP names "MD66" ...) to 0..8, -1 for none; names and bit rates.
int modeFromName(const std::string& name);
const char* modeName(int mode);
int modeBitRate(int mode);

// ---- the encoder (amrwb_encoder.cpp) ------------------------------------------
// State in caller memory of amrwbEncoderSize() bytes (16-byte aligned).
struct AmrWbEncoder;
std::size_t amrwbEncoderSize();
// dtx: discontinuous transmission with the VAD.
VokResult amrwbEncoderInit(AmrWbEncoder* st, bool dtx);
// One frame of 320 samples at 16 kHz in `mode` (0..8): fills *out (type,
// mode, parameters).  Encoder homing frames reset the encoder after coding
// as the reference does.
VokResult amrwbEncodeFrame(AmrWbEncoder* st, const int16_t* pcm, int mode, FrameParams* out);

}  // namespace vokc::amrwb

#endif  // VOKCODEC_AMRWB_CODEC_H
