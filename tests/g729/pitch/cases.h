// Generated pitch test cases.  The golden files under golden/g729/pitch
// (and golden/nr) hold the reference coder's outputs for exactly these
// inputs, so this generator must not change.
#ifndef VOKSC_TESTS_G729_PITCH_CASES_H
#define VOKSC_TESTS_G729_PITCH_CASES_H

#include <cstdint>

namespace pitchcases {

struct Gen {
  uint32_t s;
  uint32_t next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
  int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1)); }
};

inline int16_t clamp16(int v) { return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

// One of six signal families (uniform, periodic, extreme values, sparse
// pulses, constant, uniform with runs of -32768) at one of six amplitudes.
inline void signal(Gen& g, int16_t* x, int n) {
  static const int kAmp[6] = {3, 60, 700, 4000, 16000, 32767};
  static const int16_t kExtremes[7] = {-32768, 32767, 0, -1, 1, 16384, -16384};
  const int kind = g.range(0, 5), amp = kAmp[g.range(0, 5)];
  switch (kind) {
    case 0:
      for (int i = 0; i < n; ++i) x[i] = static_cast<int16_t>(g.range(-amp, amp));
      break;
    case 1: {
      int16_t pattern[144];
      const int period = g.range(18, 143);
      for (int i = 0; i < period; ++i) pattern[i] = static_cast<int16_t>(g.range(-amp, amp));
      for (int i = 0; i < n; ++i) x[i] = clamp16(pattern[i % period] + g.range(-amp / 16, amp / 16));
      break;
    }
    case 2:
      for (int i = 0; i < n; ++i) x[i] = kExtremes[g.range(0, 6)];
      break;
    case 3:
      for (int i = 0; i < n; ++i) {
        if (g.next() % 8 == 0)
          x[i] = static_cast<int16_t>(g.next() & 1 ? amp : -amp);
        else
          x[i] = 0;
      }
      break;
    case 4: {
      int v = g.range(-amp, amp);
      if (amp == 32767 && (g.next() & 1)) v = -32768;
      for (int i = 0; i < n; ++i) x[i] = static_cast<int16_t>(v);
      break;
    }
    default:
      for (int i = 0; i < n; ++i) x[i] = static_cast<int16_t>(g.next() % 16 == 0 ? -32768 : g.range(-amp, amp));
      break;
  }
}

struct Case {
  int16_t wsp[223], exc[194], x[40], h[40], vec[40], ap[11], y[40];
  int centre, subframe, t0, frac, gain;
};

inline Case make(int c) {
  static const int kApAmp[4] = {500, 3000, 8000, 32767};
  Case pc;
  Gen g{0x9E3779B9u ^ (static_cast<uint32_t>(c) * 2654435761u)};
  signal(g, pc.wsp, 223);
  signal(g, pc.exc, 194);
  signal(g, pc.x, 40);
  if (g.range(0, 2) == 0) {
    // A decaying response around 1.0 in Q12.
    pc.h[0] = 4096;
    for (int i = 1; i < 40; ++i) {
      const int amp = 6000 >> (i / 5);
      pc.h[i] = static_cast<int16_t>(g.range(-amp - 1, amp + 1));
    }
  } else {
    signal(g, pc.h, 40);
  }
  signal(g, pc.vec, 40);
  pc.ap[0] = 4096;
  const int amp = kApAmp[g.range(0, 3)];
  for (int i = 1; i < 11; ++i) pc.ap[i] = static_cast<int16_t>(g.range(-amp, amp));
  signal(g, pc.y, 40);
  pc.centre = g.range(18, 145);
  pc.subframe = g.range(0, 1);
  pc.t0 = g.range(18, 144);
  pc.frac = g.range(-1, 1);
  pc.gain = g.range(0, 3) == 0 ? g.range(-32768, 32767) : g.range(0, 19661);
  return pc;
}

// FNV-1a over 16-bit words: the golden files keep vector outputs of the
// generated cases as this hash (low word first).
inline uint32_t hashWords(const int16_t* w, int n) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < n; ++i) h = (h ^ static_cast<uint16_t>(w[i])) * 16777619u;
  return h;
}

inline bool hashIs(const int16_t* stored, const int16_t* w, int n) {
  const uint32_t h = hashWords(w, n);
  return static_cast<uint16_t>(stored[0]) == (h & 0xFFFF) && static_cast<uint16_t>(stored[1]) == (h >> 16);
}

}  // namespace pitchcases

#endif  // VOKSC_TESTS_G729_PITCH_CASES_H
