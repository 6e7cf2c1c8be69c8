// Pieces shared by the G.729 Annex I (integrated 6.4 / 8 / 11.8 kbit/s coder
// with discontinuous transmission) encoder and decoder: frame constants, bit
// allocations of every frame type, the small fixed-point helpers the frame
// loops need, and the algebraic-code and pitch-delay coding of the three
// rates.
#ifndef VOKCODEC_G729I_COMMON_H
#define VOKCODEC_G729I_COMMON_H

#include <cstdint>
#include <cstring>

#include "basic_op.h"
#include "voksc.h"

namespace vokc::g729i {

using namespace voksc::op;

constexpr int kFrame = 80;
constexpr int kSubfr = 40;
constexpr int kOrder = 10;
constexpr int kMp1 = kOrder + 1;
constexpr int kOrderBwd = 30;  // backward-adaptive LP order of the 11.8 kbit/s mode
constexpr int kMp1Bwd = kOrderBwd + 1;
constexpr int kPitMin = 20;
constexpr int kPitMax = 143;
constexpr int kExcHist = kPitMax + 11;                // past excitation: 154 samples
constexpr int kSynHist = kOrderBwd + 35;              // synthesis history of the hybrid window
constexpr int kHybridLen = kFrame + kSynHist;         // 145 samples analysed backward
constexpr int16_t kSharpMax = 13017;
constexpr int16_t kSharpMin = 3277;
constexpr int16_t kGammaBwd = 32113;                  // bandwidth expansion of the backward filter
constexpr int16_t kNoiseSeed = 11111;                 // comfort-noise generator at reset

// Frame types as carried in the parameter vector.
enum FrameType : int16_t { kUntransmitted = 0, kSid = 1, kRate64 = 2, kRate80 = 3, kRate118 = 4 };

// Bits per frame of each type (the SID frame is padded to 16 in octet mode).
constexpr int kBitsSid = 15;
constexpr int kBitsSidOctet = 16;

// Parameter bit widths in transmission order.
constexpr int kSidBits[4] = {1, 5, 4, 5};
constexpr int kBits64[10] = {8, 10, 8, 9, 2, 6, 4, 9, 2, 6};
constexpr int kBits80[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
constexpr int kBits118Fwd[17] = {8, 10, 8, 1, 7, 7, 7, 7, 7, 7, 5, 7, 7, 7, 7, 7, 7};
constexpr int kBits118Bwd[15] = {8, 1, 13, 10, 7, 7, 7, 7, 5, 13, 10, 7, 7, 7, 7};

// LSPs of a reset coder and the LSPs of the first comfort-noise frame.
constexpr int16_t kLspReset[kOrder] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
constexpr int16_t kLspSidReset[kOrder] = {31441, 27566, 21458, 13612, 4663, -4663, -13612, -21458, -27566, -31441};
// MA predictor memory at reset (Q13): the LSFs pi (j + 1) / 11.
constexpr int16_t kLsfReset[kOrder] = {2339, 4679, 7018, 9358, 11698, 14037, 16377, 18717, 21056, 23396};

// Comfort-noise gains of the 32 SID gain indices.
constexpr int16_t kSidGain[32] = {2,    5,    8,    13,   20,   32,   50,   64,   80,   101,  127,
                                  160,  201,  253,  318,  401,  505,  635,  800,  1007, 1268, 1596,
                                  2010, 2530, 3185, 4009, 5048, 6355, 8000, 10071, 12679, 15962};

// Lag window of the order-30 backward analysis (hi, lo parts).
constexpr int16_t kLagBwdHi[kOrderBwd] = {32764, 32763, 32762, 32760, 32758, 32755, 32752, 32748, 32744, 32739,
                                          32734, 32728, 32722, 32715, 32707, 32700, 32691, 32682, 32673, 32663,
                                          32653, 32642, 32631, 32619, 32607, 32594, 32581, 32567, 32552, 32538};
constexpr int16_t kLagBwdLo[kOrderBwd] = {15424, 23360, 14784, 22336, 13376, 20672, 11328, 18304, 8704,  15424,
                                          5504,  11904, 1856,  8000,  30464, 3712,  25984, 31872, 21248, 27072,
                                          16384, 22144, 11456, 17280, 6784,  12608, 2240,  8320,  30912, 4480};

// ---- small fixed-point helpers -------------------------------------------

inline Word32 mpy32x16(Word16 hi, Word16 lo, Word16 n) { return L_mac(L_mult(hi, n), mult(lo, n), 1); }
inline Word32 mpy32(Word16 h1, Word16 l1, Word16 h2, Word16 l2) {
  return L_mac(L_mac(L_mult(h1, h2), mult(h1, l2), 1), mult(l1, h2), 1);
}

// log2 of a positive value: integer part and Q15 fraction (0, 0 for x <= 0).
void log2Split(Word32 x, Word16& exponent, Word16& fraction);

// a[i] gamma^i for i = 0..order (Q12 in and out).
void weightAz(const int16_t* a, int16_t gamma, int order, int16_t* ap);

// 16-bit random generator of the G.729 family.
inline int16_t nextRandom(int16_t& seed) {
  seed = extract_l(L_add(L_shr(L_mult(seed, 31821), 1), 13849));
  return seed;
}

// Parity of the pitch index bits 2..7 (plus one).
int16_t pitchParity(int16_t index);

// Quantised LP filters of both subframes: interpolated, then the new set.
void interpolateLpc(const int16_t* lspOld, const int16_t* lspNew, int16_t* aq);

// Pitch delay decoding: the first subframe (8 bits), the second relative to
// t0 (5 bits, or 4 at 6.4 kbit/s).
void decodeLag(int16_t index, int subframe, bool lowRate, int16_t& t0, int16_t& frac);

// Algebraic code vectors of the three rates (Q13 at 6.4 and 8 kbit/s, Q12
// pulses of +-4096 at 11.8 kbit/s).
void decodeCode80(int16_t sign, int16_t index, int16_t* code);
void decodeCode64(int16_t sign, int16_t index, int16_t* code);
void decodeCode118(const int16_t* index, bool backward, int16_t* code);

// Energy of the synthesis in a log scale (Q11 of log2 with a floor), as the
// backward-mode dominance test reads it.
int16_t energyDb(const int16_t* x, int len);

// Backward/forward dominance statistics shared by encoder and decoder.
struct Dominance {
  int16_t countBwd;
  int16_t countFwd;
  void update(int16_t& dominant, int16_t lpMode);
};

// Order-30 backward LP analysis of the past synthesis (hybrid window, lag
// window, Levinson with fallback to the last stable filter).
struct BackwardLp {
  int32_t hybrid[32];  // hybrid-window recursion
  int16_t oldA[kMp1Bwd];
  int16_t oldRc[2];
  void reset();
  // x: kHybridLen samples ending with the newest; a: kMp1Bwd coefficients;
  // returns the unweighted filter.
  void analyse(const int16_t* x, int16_t* a, int16_t* rc);
};

// Pitch tracking (multiples and sub-multiples) of the 11.8 kbit/s concealment.
struct PitchTrack {
  int16_t prevPitch;  // 30 at reset
  int16_t stat;
  int16_t pitchSta;
  int16_t fracSta;
  void track(int16_t& t0, int16_t& frac);
};

// Serial bits -> parameter words and back for a frame type.
void unpackParams(const uint8_t* bits, const int* widths, int count, int16_t* prm);
void packParams(const int16_t* prm, const int* widths, int count, uint8_t* bits);

// Comfort-noise excitation of one frame (two subframes): random pitch and
// pulse excitation plus Gaussian noise scaled to the target gain.  Per
// subframe the pitch gain (Q14), the magnitude of the pulse gain and the
// delay are returned for the encoder's taming memory and the decoder's
// phase-dispersion state.
void comfortExcitation(int16_t curGain, int16_t* exc, int16_t& seed, int16_t* pitchGain, int16_t* pulseGain,
                       int16_t* delay);

// Quantised SID gain index of an energy (one frame, or an average of
// several) and its value in dB.
int16_t sidGainIndex(const int16_t* ener, const int16_t* shEner, int count, int16_t& enerQ);

}  // namespace vokc::g729i

#endif  // VOKCODEC_G729I_COMMON_H
