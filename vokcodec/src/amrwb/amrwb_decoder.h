// AMR-WB decoder assembled from the voksc exports and the steps they leave
// to the coder: frame types and concealment, the nine speech modes, comfort
// noise, 16 kHz synthesis with the generated high band, decoder homing.
#ifndef VOKCODEC_AMRWB_DECODER_H
#define VOKCODEC_AMRWB_DECODER_H

#include <cstdint>

#include "amrwb/amrwb_bits.h"
#include "voksc.h"

namespace vokc::amrwb::dec {

constexpr bool kDecoderReady = true;

constexpr int kOrder = 16;
constexpr int kOrderHigh = 20;           // the high band's LP order (6.60 kbit/s)
constexpr int kSub = 64;                 // 12.8 kHz subframe
constexpr int kSubHigh = 80;             // 16 kHz subframe
constexpr int kPastExc = 231 + 17;       // longest lag plus interpolation reach
constexpr int kFilterState = 64;         // bytes reserved for a high-pass filter record

// Receive-side comfort noise (the DTX decoder).
struct ComfortNoise {
  int16_t sinceSid;          // frames since the last SID frame
  int16_t periodInv;         // 1 / the SID interval, Q15
  int16_t logEn, oldLogEn;   // log2 energy, Q9: from the last and the previous SID
  int16_t isf[kOrder], oldIsf[kOrder];
  int16_t seed;              // noise excitation
  int16_t histIndex;         // newest row of the histories
  int16_t isfHist[8 * kOrder];
  int16_t logEnHist[8];
  int16_t hangover;          // frames of the encoder's hangover still to count
  int16_t elapsed;           // frames since the encoder's last comfort-noise analysis
  int16_t globalState;       // 0 speech, 1 comfort noise, 2 muted comfort noise
  int16_t ditherSeed;
  int16_t dither;            // the SID frame asks for dithering
  int16_t vadHist;           // frames the encoder has marked as noise in a row
  bool sidFrame, validData, hangoverAdded, dataUpdated;
};

struct Decoder {
  int16_t pastExc[kPastExc];
  int16_t ispOld[kOrder], isfOld[kOrder], isfHist[3 * kOrder], isfRes[kOrder];
  int32_t synHist[kOrder];         // synthesis memory, hi << 16 | lo << 4
  int16_t deemph;
  alignas(16) unsigned char hp50[kFilterState], hp400[kFilterState];
  int16_t upsample[24];            // interpolator history (2 x 12 taps)
  int16_t band[30], lowPass[30];   // high-band FIR histories
  int16_t synHigh[kOrderHigh];     // high-band synthesis memory
  int16_t seedCode, seedNoise;     // random code vectors of lost frames; high-band noise
  // pitch concealment (good subframes only)
  int16_t lagHist[5], pitchHistGood[5], lastLag, seedLag;
  alignas(8) unsigned char lagRecord[32];  // the adaptive-codebook export's record (unused in good frames)
  int16_t qOld, qSub[4];           // excitation scaling
  int32_t gainThreshold;           // noise enhancer's code-gain level, Q16
  int16_t tilt;                    // tilt of the code for the next subframe
  int16_t disp[8];                 // phase dispersion: state, code gain, six pitch gains
  // gains
  int16_t pastEnergies[4], pastPitch, pastCode, prevCode;
  int16_t pitchHist[5], codeHist[5];
  int16_t badState;                // concealment state 0..6
  bool prevBad;
  bool firstFrame;
  int16_t vadHist;
  ComfortNoise cn;
  int mode;                        // mode of the last frame with a mode
  bool homed;                      // the last frame was a decoder homing frame
};

void decoderInit(Decoder* d);
// One frame to 320 samples at 16 kHz.
VokResult decodeFrame(Decoder* d, const Frame& f, int16_t pcm[kFrame]);

}  // namespace vokc::amrwb::dec

#endif  // VOKCODEC_AMRWB_DECODER_H
