// GSM 06.10 full-rate (RPE-LTP) encoder and decoder assembled from the
// voksc exports, and its two frame formats: the 76 parameter words of the
// ETSI test sequences and the 33-byte frame of toast, sox and RTP payload 3.
#ifndef VOKCODEC_GSMFR_CODEC_H
#define VOKCODEC_GSMFR_CODEC_H

#include <cstdint>

namespace vokc::gsmfr {

constexpr int kFrame = 160;
constexpr int kParams = 76;     // LARc[8], then per subframe Nc, bc, Mc, xmaxc, xMc[13]
constexpr int kPackedBytes = 33;

// Bit widths of the 76 parameters.
extern const uint8_t kParamBits[kParams];

// 33-byte frame: the 0xD signature nibble, then every parameter most
// significant bit first.
void packFrame(const int16_t* params, uint8_t* bytes);
void unpackFrame(const uint8_t* bytes, int16_t* params);

class Encoder {
 public:
  Encoder();
  // 160 samples (13-bit, left-justified) -> 76 parameters.  The library
  // calls are checked (checked_call.h): run inside guarded().
  void encode(const int16_t* pcm, int16_t* params);

 private:
  int32_t hpMem_[2] = {0, 0};
  int16_t emphMem_ = 0;
  int16_t lattice_[8] = {};
  int16_t larPrev_[8] = {};
  int16_t residual_[120] = {};  // reconstructed short-term residual history
};

class Decoder {
 public:
  Decoder();
  // 76 parameters (taken modulo their widths) -> 160 samples; run inside
  // guarded() as the encoder.
  void decode(const int16_t* params, int16_t* pcm);

 private:
  int16_t lattice_[9] = {};
  int16_t larPrev_[8] = {};
  int16_t residual_[120] = {};
  int16_t lastLag_ = 40;
  int16_t deemph_ = 0;
};

}  // namespace vokc::gsmfr

#endif
