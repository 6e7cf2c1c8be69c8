/* Deterministic hostile signals for comparing filters with an independent
 * build of the codec: loud noise, clipping square waves, chirps, quiet
 * noise, silence with impulses.  Integer-only (no floating point), so any
 * compiler produces the same samples; plain C so a comparison harness
 * outside this repository can include it too. */
#ifndef VOKSC_TESTS_GSMFR_CASES_H
#define VOKSC_TESTS_GSMFR_CASES_H

#include <stdint.h>

typedef struct {
  uint32_t s;
} VtRng;

static inline uint32_t vtNext(VtRng* r) {
  r->s = r->s * 1664525u + 1013904223u;
  return r->s >> 8;
}

/* Fill x[0..n-1] with signal kind 0..4 (kind = seed % 5 when negative). */
static inline void vtSignal(int16_t* x, int n, int kind, uint32_t seed) {
  VtRng r = {seed * 2654435761u + 1u};
  uint32_t phase = 0, step = 40 + (vtNext(&r) & 255u);
  int period = 2 + (int)(vtNext(&r) % 90u);
  for (int i = 0; i < n; ++i) {
    int32_t v;
    switch (kind) {
      case 0: v = (int32_t)(vtNext(&r) & 0xFFFFu) - 32768; break;
      case 1: v = ((i / period) & 1) ? 32767 : -32768; break;
      case 2: { /* triangle chirp near full scale */
        phase += step;
        step += 3;
        uint32_t t = (phase >> 4) & 0xFFFFu;
        v = t < 32768u ? (int32_t)t * 2 - 32768 : (int32_t)(65535u - t) * 2 - 32767;
        break;
      }
      case 3: v = (int32_t)(vtNext(&r) % 201u) - 100; break;
      default: v = (vtNext(&r) % 37u == 0) ? ((vtNext(&r) & 1u) ? 32767 : -32768) : 0; break;
    }
    x[i] = (int16_t)v;
  }
}

/* Autocorrelations for the Schur recursion: even cases from a signal (x >> 4,
 * doubled products), odd cases random words, every fourth with r[0] = 0,
 * the others with |r[k]| well below r[0] or above it. */
static inline void vtAcfCase(int c, int32_t* acf) {
  VtRng r = {(uint32_t)c * 7919u + 3u};
  if (c & 1) {
    acf[0] = (int32_t)(((vtNext(&r) << 8) ^ vtNext(&r)) & 0x7FFFFFFFu);
    for (int k = 1; k <= 8; ++k) {
      acf[k] = (int32_t)((vtNext(&r) << 8) ^ vtNext(&r));
      if (c % 8 == 3) acf[k] /= 2 + 3 * k;
    }
    if (c % 8 == 3) acf[0] = 0x7FFFFFFF - c;
    if (c % 4 == 1) acf[0] = 0;
  } else {
    int16_t x[160];
    vtSignal(x, 160, (c / 2) % 5, (uint32_t)c);
    for (int k = 0; k <= 8; ++k) {
      int32_t s = 0;
      for (int i = k; i < 160; ++i) s += (int32_t)(x[i] >> 4) * (x[i - k] >> 4) * 2;
      acf[k] = s;
    }
  }
}

/* Reflection coefficients for the lattices: random in -32767..32767, every
 * third set divided by 8. */
static inline void vtReflCase(int c, int16_t* rp) {
  VtRng r = {(uint32_t)c * 104729u + 5u};
  for (int i = 0; i < 8; ++i) rp[i] = (int16_t)((int32_t)(vtNext(&r) % 65535u) - 32767);
  if (c % 3 == 0)
    for (int i = 0; i < 8; ++i) rp[i] = (int16_t)(rp[i] / 8);
}

/* FNV-1a over 16-bit words (little-endian byte order). */
static inline uint32_t vtHash16(uint32_t h, const int16_t* x, int n) {
  for (int i = 0; i < n; ++i) {
    uint16_t u = (uint16_t)x[i];
    h = (h ^ (u & 0xFFu)) * 16777619u;
    h = (h ^ (u >> 8)) * 16777619u;
  }
  return h;
}
static inline uint32_t vtHash32(uint32_t h, const int32_t* x, int n) {
  for (int i = 0; i < n; ++i) {
    int16_t w[2] = {(int16_t)(x[i] & 0xFFFF), (int16_t)((uint32_t)x[i] >> 16)};
    h = vtHash16(h, w, 2);
  }
  return h;
}
#define VT_HASH0 2166136261u

#endif
