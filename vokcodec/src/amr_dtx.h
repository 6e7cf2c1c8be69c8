// The receive side of AMR discontinuous transmission, alike in AMR-NB and
// AMR-WB: from the received frame types the decoder follows its own state
// (speech, comfort noise, muted comfort noise: no SID for too long) and
// what the encoder's DTX must have been doing (its speech hangover, its
// comfort-noise analysis period), which decides when the decoder keeps new
// SID parameters.
#ifndef VOKCODEC_AMR_DTX_H
#define VOKCODEC_AMR_DTX_H

#include <cstdint>

#include "basic_op.h"

namespace vokc::amrdtx {

enum RxState : int16_t { kSpeech = 0, kNoise = 1, kMuted = 2 };
// Receive types, numbered alike by both families (2: AMR-NB onset, AMR-WB
// lost speech).
enum : int { kBadSpeech = 3, kSidFirst = 4, kSidUpdate = 5, kSidBad = 6, kNoData = 7, kOnsetOrLost = 2 };
constexpr int16_t kHangover = 7;       // frames of the encoder's speech hangover, less one
constexpr int16_t kElapsedLimit = 30;  // frames after which the encoder analyses the noise again
constexpr int16_t kMaxEmpty = 50;      // frames without a SID update before muting

inline bool isSid(int t) { return t >= kSidFirst && t <= kSidBad; }

// One frame of receive type t in state `state`: returns the next state and
// updates the comfort-noise record c (frames since a SID, the hangover and
// analysis counters, what the frame brings).  encoderNoise: whether the
// encoder was in its comfort-noise state for this frame, as the family
// infers it.  CN is the family's record, with these members.
template <typename CN>
int16_t receiveStep(CN& c, int16_t state, int t, bool encoderNoise) {
  using voksc::op::add;
  using voksc::op::sub;
  int16_t next = kSpeech;
  if (isSid(t) || (state != kSpeech && (t == kNoData || t == kBadSpeech || t == kOnsetOrLost))) {
    const bool keepsMuted = t == kSidBad || t == kSidFirst || t == kOnsetOrLost || t == kNoData;
    next = state == kMuted && keepsMuted ? kMuted : kNoise;
    c.sinceSid = add(c.sinceSid, 1);
    if (t != kSidUpdate && c.sinceSid > kMaxEmpty) next = kMuted;  // SID updates stopped coming
  } else {
    c.sinceSid = 0;
  }
  if (!c.dataUpdated && t == kSidUpdate) c.elapsed = 0;
  c.elapsed = add(c.elapsed, 1);
  c.hangoverAdded = false;
  if (!encoderNoise) {
    c.hangover = kHangover;
  } else if (c.elapsed > kElapsedLimit) {
    c.hangoverAdded = true;
    c.elapsed = 0;
    c.hangover = 0;
  } else if (c.hangover == 0) {
    c.elapsed = 0;
  } else {
    c.hangover = sub(c.hangover, 1);
  }
  if (next != kSpeech) {
    c.sidFrame = isSid(t);
    c.validData = t == kSidUpdate;
    if (t == kSidBad) c.hangoverAdded = false;  // keeps the old parameters
  }
  return next;
}

}  // namespace vokc::amrdtx

#endif  // VOKCODEC_AMR_DTX_H
