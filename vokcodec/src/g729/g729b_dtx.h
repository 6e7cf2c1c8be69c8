// G.729 Annex B codec logic around the library calls: the voice activity
// detector, the encoder's DTX decision with its SID parameters, the comfort
// noise excitation, and the decoder's SID / untransmitted-frame handling.
// Shared by the G.729 and G.729A cores (the coder in g729_coder.cpp owns the
// filter memories; these records hold only the Annex B bookkeeping).
#ifndef VOKCODEC_G729B_DTX_H
#define VOKCODEC_G729B_DTX_H

#include <cstdint>

namespace vokc::g729 {
struct StableLp;
}

namespace vokc::g729b {

constexpr int kOrder = 10;
constexpr int kMp1 = kOrder + 1;
constexpr int16_t kCngSeedStart = 11111;  // comfort-noise generator seed after a speech frame

// Frame types (ITU serial: 0, 80 and 15 bits).
enum FrameType : int { kUntransmitted = 0, kSpeech = 1, kSid = 2 };

// ---- encoder DTX (the G.729 / G.729A coders' and the Annex I coder's) ----
struct CngEncoder {
  int16_t lspSidQ[kOrder];  // LSPs of the last SID frame
  int16_t pastCoeff[kMp1];  // filter of the long-term average autocorrelation
  int16_t rCoeff[kMp1];     // autocorrelation of the SID filter's coefficients
  int16_t shRCoeff;
  int16_t acf[2 * kMp1];  // upper words of the last 2 frames' autocorrelations, newest first
  int16_t shAcf[2];
  int16_t sumAcf[3 * kMp1];  // the last 3 two-frame sums, newest first
  int16_t shSumAcf[3];
  int16_t ener[2];  // residual energies of the current and previous frame
  int16_t shEner[2];
  int16_t frCur;
  int16_t curGain;
  int16_t nbEner;
  int16_t sidGain;
  int16_t flagChange;
  int16_t prevEnergy;
  int16_t countFr0;
};
void cngEncoderInit(CngEncoder& c);
// Every frame: the frame's autocorrelation upper words before lag windowing
// (r[0..10]), its exponent, and the VAD decision.
void cngUpdate(CngEncoder& c, const int32_t* r, int16_t expR0, int16_t vad);


// Encoder side of an inactive frame: the DTX decision (frame type 0 or 2),
// the SID parameters when one is sent (prm: predictor switch, first- and
// second-stage indices, gain index), the comfort-noise excitation of the
// frame, and the quantised filters of both subframes (aq: 2 x 11) from the
// previous quantised LSPs (updated).  lsfMa: the LSP quantiser memory;
// annexA selects the core's LP-to-LSP root search; lp is the encoder's
// last stable filter (shared with its speech analysis).
int cngEncode(CngEncoder& c, g729::StableLp& lp, bool annexA, int16_t pastVad, int16_t* lspOldQ, int16_t* lsfMa, int16_t* exc,
              int16_t& seed, int16_t* aq, int16_t* prm, int16_t* gp, int16_t* t0);

// ---- decoder ------------------------------------------------------------
struct CngDecoder {
  int16_t lspSid[kOrder];
  int16_t curGain;
  int16_t sidGain;
  int16_t sidSav;  // energy of the last good frame's excitation, for an SID gain
  int16_t shSidSav;
};
void cngDecoderInit(CngDecoder& c);
// The excitation energy of a correctly received frame (kept for the gain of
// a following untransmitted frame).
void cngSaveEnergy(CngDecoder& c, const int16_t* exc);
// A non-speech frame: sid != nullptr carries the 4 SID parameters (must be
// in range).  Writes the excitation and both subframes' filters; lspOld is
// the decoder's previous LSP vector (updated).
void cngDecode(CngDecoder& c, int pastFrameType, const int16_t* sid, int16_t* lsfMa, int16_t* exc, int16_t* lspOld,
               int16_t* az, int16_t& seed);

}  // namespace vokc::g729b

#endif  // VOKCODEC_G729B_DTX_H
