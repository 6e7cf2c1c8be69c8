// AMR-WB encoder state and its comfort-noise side (internal to the
// encoder; the entry points are declared in amrwb_codec.h).
#ifndef VOKCODEC_AMRWB_ENCODER_H
#define VOKCODEC_AMRWB_ENCODER_H

#include <cstdint>

#include "amrwb/amrwb_codec.h"
#include "voksc.h"

namespace vokc::amrwb {

// Discontinuous transmission: the speech hangover, the comfort-noise
// history of the last eight frames and the distances between its ISF
// vectors, the noise generator of the local comfort-noise excitation.
struct DtxEncoder {
  int16_t histIndex;         // row last written
  int16_t isfHist[8 * 16];
  int16_t logEnHist[8];      // Q7 log2 energy per sample
  int16_t seed;
  int16_t hangover;          // speech frames still to send after the VAD falls
  int16_t sinceUpdate;       // frames since the decoder last analysed noise
  int32_t dist[8][8];        // distances between the history's ISF vectors, by age (0 newest)
  int32_t distSum[8];        // per age, the summed distance to the other frames
};

// Frame types of the transmission side: the last type sent, the frames
// until the next SID update, the updates owed after a short hangover.
struct TxSchedule {
  int prevType;
  int updateCounter;
  int handoverDebt;
};

struct alignas(16) AmrWbEncoder {
  bool dtx;
  // Input side: decimation memory, 50 Hz high-pass, pre-emphasis and the
  // dynamic scaling (present shift, the last two frames' shifts).
  int16_t decimMem[30];
  alignas(8) uint8_t hpIn[40];
  int16_t preemphMem;
  int16_t qOld, qMax[2];
  // 12.8 kHz speech: 128 samples of history before the frame.
  int16_t speech[128];
  // LP analysis.
  int16_t lastA[16];
  int16_t ispOld[16], ispOldQ[16], isfOld[16];
  int16_t isfResidual[16];
  bool firstFrame;
  // Weighted speech and open-loop pitch.
  int16_t wspMem, wspDecimMem[3];
  int16_t wspMax, wspShift;
  int16_t wsp[115];          // decimated weighted speech history
  int16_t hpWsp[115];        // its high-passed copy
  alignas(8) uint8_t hpWspState[40];
  int hpWspScale;            // scale the high-pass memory is on
  int16_t olMedian, olWeight, olWeightFlag, olLags[5];
  int16_t toneFlag;
  // Excitation history (231 lags + 17 interpolation taps) and the memories
  // of the analysis-by-synthesis loop.
  int16_t exc[248];
  int16_t memSyn[16], memW0, tiltCode;
  int16_t gpClip[2];         // ISF distance and pitch-gain average of the clipping test
  int16_t pastEnergies[4];
  int32_t noiseGainThreshold;
  // 23.85 kbit/s high band: local synthesis and gain estimation.
  int32_t memSyn32[16];
  int16_t deemphMem;
  alignas(8) uint8_t hpOut[40], hp400[40];
  int16_t memSynHf[16], memBand[30], memBandIn[30];
  int16_t seedHf, gainAlpha;
  int16_t vadHistory;        // frames since the VAD last said speech
  // Voice activity and DTX.
  alignas(8) uint8_t vad[176];
  DtxEncoder dtxState;
  TxSchedule tx;             // not reset by homing frames
};

namespace enc {

void dtxReset(DtxEncoder& d);
// The hangover decision for this frame: true when it is sent as a
// comfort-noise frame.
bool dtxNoiseFrame(DtxEncoder& d, int16_t vad);
// Comfort-noise parameters from the history into p (ISF indices, energy,
// dithering flag); isf receives the quantised comfort-noise ISFs and exc
// the 256-sample excitation of the local synthesis.
VokResult dtxAnalyse(DtxEncoder& d, FrameParams& p, int16_t* isf, int16_t* exc);
// Frame type of the next frame (speech, SID_FIRST, SID_UPDATE, NO_DATA).
int txType(TxSchedule& t, bool noiseFrame);

}  // namespace enc

}  // namespace vokc::amrwb

#endif  // VOKCODEC_AMRWB_ENCODER_H
