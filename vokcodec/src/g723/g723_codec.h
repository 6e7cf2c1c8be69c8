// G.723.1 (6.3 / 5.3 kbit/s, Annex A silence compression) assembled from
// the voksc exports: frame parameters and their packed layout, the decoder
// and the encoder.
#ifndef VOKCODEC_G723_CODEC_H
#define VOKCODEC_G723_CODEC_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "voksc.h"

namespace vokc::g723 {

constexpr int kFrame = 240;
constexpr int kSub = 60;
constexpr int kOrder = 10;
constexpr int kHistory = 145;  // past excitation kept for the pitch predictor

// Frame type as coded in the two lowest bits of a packed frame.
enum FrameType : int { kActive63 = 0, kActive53 = 1, kSid = 2, kUntransmitted = 3 };

// Packed size of a frame from its first byte.
inline std::size_t packedSize(uint8_t first) {
  static const std::size_t sizes[4] = {24, 20, 4, 1};
  return sizes[first & 3];
}

struct SubframeParams {
  int16_t lagIndex = 1;  // closed-loop lag offset (odd subframes; 1 in even ones)
  int16_t gainIndex = 0; // pitch gain vector
  int16_t amp = 0;       // fixed-codebook amplitude level
  int16_t grid = 0;      // pulse grid (6.3) or position shift (5.3)
  int16_t train = 0;     // Dirac-train flag (6.3, short lags)
  int16_t signs = 0;
  int32_t pos = 0;       // combinatorial position code (6.3) or 4 x 3-bit positions (5.3)
};

struct FrameParams {
  int type = kUntransmitted;
  int32_t lsp = 0;       // three 8-bit LSP indices
  int16_t olp[2] = {kHistory, kHistory};
  SubframeParams sub[4];
  int16_t sidGain = 0;   // SID frames
};

// Reads one packed frame; false when its fields are out of range (the
// decoder then treats the frame as erased).  `bytes` holds packedSize().
bool unpackFrame(const uint8_t* bytes, FrameParams& p);
// Writes a frame, returns its size.
std::size_t packFrame(const FrameParams& p, uint8_t* bytes);

// Annex A comfort-noise excitation of one frame from the past excitation
// (updated) and the generator seed; the random lags and pitch gains are
// written to `line`.
void comfortExcitation(int16_t gain, int rate, int16_t* prevExc, int16_t& seed, FrameParams& line, int16_t* exc);

class Decoder {
 public:
  explicit Decoder(bool postFilter = true);
  // Decodes one frame (erased: the frame was lost; bytes may be null).
  // The library calls are checked (checked_call.h): run inside guarded().
  void decode(const uint8_t* bytes, bool erased, int16_t* pcm);

 private:
  void activeFrame(const FrameParams& p, bool bad, int16_t* exc, int16_t* lpc);
  void comfortNoise(int type, const FrameParams& p, int16_t* exc, int16_t* lpc);
  void interpolate(const int16_t* cur, const int16_t* prev, int16_t* lpc);
  void postFilter(int16_t* x, const int16_t* lpc);

  bool post_;
  int rate_ = kActive63;
  int16_t prevLsp_[kOrder];
  int16_t prevExc_[kHistory] = {};
  int16_t errCount_ = 0, interGain_ = 0, interLag_ = 0, seed_ = 0;
  int16_t synthMem_[kOrder] = {};
  int16_t postMem_[2 * kOrder] = {};
  int32_t postLast_ = 0;  // last 32-bit output of the formant post-filter
  int16_t parcor_ = 0, gain_ = 0x1000;
  // Annex A
  int pastKind_ = 1;  // kind of the previous frame: 0 untransmitted, 1 speech, 2 SID
  int16_t sidGain_ = 0, curGain_ = 0, sidLsp_[kOrder], cngSeed_ = 12345;
};

class Encoder {
 public:
  Encoder(bool highPass = true, bool dtx = false);
  // Encodes one frame of 240 samples at `rate` (kActive63 or kActive53);
  // writes the packed frame (24, 20, 4 or 1 bytes) and its size.  The
  // library calls are checked (checked_call.h): run inside guarded().
  void encode(const int16_t* pcm, int rate, uint8_t* out, std::size_t& size);

 private:
  void impulseResponse(const int16_t* lpc, const int16_t* per, int16_t harmLag, int16_t harmGain, int16_t* h);
  void subtractRinging(int16_t* target, const int16_t* lpc, const int16_t* per, int16_t harmLag, int16_t harmGain);
  void updateRinging(int16_t* exc, const int16_t* lpc, const int16_t* per);
  void updateTaming(int16_t olp, int16_t lagIndex, int16_t gainIndex);
  void acelp(SubframeParams& s, int16_t olp, const int16_t* h, int16_t* target, int16_t* fixed);
  // Annex A
  bool voiceActivity(const int16_t* frame);
  void keepCorrelations(const int16_t* acf, const int16_t* exps);
  int silenceFrame(FrameParams& line, int16_t* exc, int16_t* qlpc);

  bool highPass_, dtx_;
  int rate_ = kActive63;
  int32_t hpMem_[2] = {0, 0};
  int16_t prevDat_[120] = {};
  int16_t prevLsp_[kOrder];
  int16_t sineDet_ = 0;
  int16_t wghtMem_[2 * kOrder] = {};
  int16_t prevWgt_[kHistory] = {};
  int16_t prevErr_[kHistory] = {};
  int16_t prevExc_[kHistory] = {};
  int16_t ringMem_[2 * kOrder] = {};
  int32_t tamingErr_[5];
  int16_t acelpBudget_ = 0;
  // Annex A: voice activity detector
  int16_t hangover_ = 3, voiced_ = 0, adapt_ = 0;
  int32_t frameEnergy_ = 0x400, noiseLevel_ = 0x400;
  int16_t lags_[4] = {1, 1, kSub, kSub};
  int16_t noiseLpc_[kOrder] = {};
  // Annex A: silence descriptor
  int pastKind_ = 1;
  int16_t cngSeed_ = 12345, curGain_ = 0, sidGain_ = 0, gainRef_ = 0, energyCount_ = 0;
  int16_t acfHist_[4 * (kOrder + 1)] = {};
  int16_t acfShift_[4] = {40, 40, 40, 40};
  int16_t sidLpc_[kOrder] = {}, sidLsp_[kOrder] = {};
  int16_t refCorr_[kOrder + 1] = {}, refShift_ = 0;
  int16_t energy_[3] = {};
};

}  // namespace vokc::g723

#endif
