// G.728 16 kbit/s LD-CELP encoder and decoder assembled from the library's
// G.728 operations.  One call codes one 5-sample vector (one 10-bit
// codeword).  States are plain memory set up by init().
#ifndef VOKCODEC_G728_CODER_H
#define VOKCODEC_G728_CODER_H

#include <cstdint>
#include <cstring>

namespace vokc::g728 {

constexpr int kDim = 5;

// A 5-sample vector in block floating point: value = data / 2^q, newest
// sample first.
struct Block {
  int16_t data[kDim];
  int16_t q;
};

// What encoder and decoder share: the backward adaptation of the synthesis
// filter and of the log-gain predictor.
struct Backward {
  int count;     // position in the 4-vector adaptation cycle
  bool info;     // the 10th-order recursion of this cycle succeeded
  int16_t a[50], aNext[50];           // synthesis filter in use / computed (Q14)
  int16_t ja[50], r[51], alpha, aq;   // recursion state between the two halves
  int16_t rc1;
  int16_t gp[10];                     // log-gain predictor (Q14)
  int16_t logGains[10];               // past log-gains (Q9), newest first
  int16_t gainBlock[4];               // log-gains of this cycle, newest first
  int16_t synthBlock[20], synthExp[4];  // decoded vectors of this cycle
  Block past[2];                      // last two decoded vectors
  alignas(16) unsigned char synthWin[512];
  alignas(16) unsigned char gainWin[160];
  alignas(16) unsigned char synthZir[144];
};

struct Encoder {
  Backward b;
  int16_t awz[10], awp[10];   // perceptual weighting filter (Q14)
  int16_t h[5], energy[128];  // impulse response (newest first) and shape energies
  int16_t ringMem[10];        // weighting filter outputs of the decoded signal (Q2)
  int16_t weightBlock[20];    // input speech of this cycle (halved), newest first
  alignas(16) unsigned char weightWin[256];
  alignas(16) unsigned char inputFilter[64];
  alignas(16) unsigned char combined[208];
  void init();
  int16_t encode(const int16_t* pcm);  // 5 samples -> codeword
};

// A history of Len words, newest first, that grows at its front: a new
// block goes in front of the window and the oldest words leave it.  The
// window walks down through Room spare words and moves back to the end of
// the buffer once they are used up (one copy every Room samples instead of
// a shift per vector); Front words in front of it stay free for the caller.
template <int Len, int Front = 0, int Room = 160>
struct History {
  int16_t buf[Front + Room + Len];
  int at;
  void reset() {
    std::memset(buf, 0, sizeof buf);
    at = Front + Room;
  }
  int16_t* data() { return buf + at; }
  const int16_t* data() const { return buf + at; }
  // Room for n <= Room new words in front; returns where they go.
  int16_t* push(int n) {
    if (at - n < Front) {
      std::memmove(buf + Front + Room, buf + at, sizeof(int16_t) * (Len - n));
      at = Front + Room;
    }
    at -= n;
    return buf + at;
  }
};

struct Decoder {
  Backward b;
  bool postfilter;
  // post-filter adaptation
  int kp;
  int16_t gl, glb, tilt, tap;
  int16_t apf[10];            // 10th-order predictor for the inverse filter (Q14)
  int16_t pfCoef[20];         // short-term coefficients (zero, pole), Q14
  History<240, 20> pfPast;    // past speech (Q0), the coefficients copied in front for the post-filter
  int16_t residual[240];      // LPC residual, newest first
  int residualAt;
  alignas(16) unsigned char adapter[176];
  alignas(16) unsigned char post[64];
  // frame erasure concealment
  bool eraseNext;
  int adcount, ferased, fecount, ofecount, voiced, fdelay;
  History<140> etpast;        // past excitation (Q2)
  int16_t fscale, fscaleq, fscaleavg, fscaleavgq, ogaindb;
  uint32_t rng[17];
  int rngA, rngB;
  void init(bool post);
  // One vector; erased: conceal it (the codeword is not read).
  void decode(int16_t codeword, bool erased, int16_t* pcm);
};

}  // namespace vokc::g728

#endif
