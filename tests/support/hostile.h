/* Deterministic hostile signals for comparing filters with an independent
 * build of the codec: loud noise, clipping square waves, chirps, quiet
 * noise, silence with impulses, and the 32-bit checksum the committed
 * outcomes use.  Integer-only (no floating point), so any compiler produces
 * the same samples; plain C so a comparison harness outside this repository
 * can include it too.  The committed checksums depend on these exact
 * sequences: never change them. */
#ifndef VOKSC_TESTS_SUPPORT_HOSTILE_H
#define VOKSC_TESTS_SUPPORT_HOSTILE_H

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
