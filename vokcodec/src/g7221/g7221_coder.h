// G.722.1 frame coder (7 kHz mode: 320-sample frames of 16 kHz audio, 14
// regions; 14 kHz mode: 640-sample frames of 32 kHz audio, 28 regions),
// assembled from the library's MLT and region-coding exports.
#ifndef VOKCODEC_G7221_G7221_CODER_H
#define VOKCODEC_G7221_G7221_CODER_H

#include <cstdint>

#include "voksc.h"

namespace vokc::g7221 {

constexpr int kMaxFrame = 640;
constexpr int kMaxWords = 60;  // 960 bits (48 kbit/s)

struct Layout {
  int16_t frame;    // samples (and MLT coefficients) per frame
  int16_t regions;  // coded regions of 20 coefficients
  int16_t bits;     // bits per frame
};

struct Encoder {
  Layout layout;
  int16_t previous[kMaxFrame];  // the last input frame
};

struct Decoder {
  Layout layout;
  int16_t kept[kMaxFrame / 2];     // second half of the last inverse transform
  int16_t lastCoefs[kMaxFrame];    // coefficients of the last good frame (zero after a repeat)
  int16_t lastShift;               // their scale shift
  int16_t seed[4];                 // noise-fill generator, newest first
};

// bits: 16000..48000 bit/s in steps of 800 as frame bits (rate / 50), a
// multiple of 16.  Returns false for a layout the coder cannot run.
bool makeLayout(int frame, int bitRate, Layout& out);

void initEncoder(Encoder& e, const Layout& l);
void initDecoder(Decoder& d, const Layout& l);

// One frame: layout.frame samples to layout.bits / 16 words, the first bit
// of the frame in bit 15 of words[0].
VokResult encodeFrame(Encoder& e, const int16_t* pcm, uint16_t* words);
// One frame of words (null or lost: the frame is erased); writes
// layout.frame samples.
VokResult decodeFrame(Decoder& d, const uint16_t* words, bool lost, int16_t* pcm);

}  // namespace vokc::g7221

#endif  // VOKCODEC_G7221_G7221_CODER_H
