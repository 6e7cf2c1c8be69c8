/* Deterministic hostile inputs for the GSM-AMR oracle comparisons, and the
 * checksum their outputs are summarised by.  Plain C so that a local build
 * of the 3GPP reference can be driven with exactly the same inputs; the
 * committed checksums come from that build. */
#ifndef VOKSC_TESTS_AMR_ORACLE_INPUTS_H
#define VOKSC_TESTS_AMR_ORACLE_INPUTS_H

#include <stdint.h>

typedef struct { uint32_t s; } OrRng;

static inline uint32_t orNext(OrRng* r) { /* xorshift32 */
  uint32_t x = r->s;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return r->s = x;
}
/* Uniform in lo..hi (inclusive). */
static inline int32_t orRange(OrRng* r, int32_t lo, int32_t hi) {
  return (int32_t)((uint32_t)lo + orNext(r) % ((uint32_t)hi - (uint32_t)lo + 1u));
}

/* A block of n samples of one of eight kinds, picked by kind % 8: full-scale
 * noise, quiet noise, a clipped square wave, silence, a loud sawtooth chirp,
 * a decaying impulse train, noise at +-3, and an alternating +-32767/-32768
 * pattern.  pos is the absolute index of the first sample (for periodic kinds). */
static inline void orSignal(OrRng* r, int kind, int32_t pos, int16_t* x, int n) {
  int i;
  for (i = 0; i < n; ++i) {
    int32_t t = pos + i, v;
    switch (kind & 7) {
      case 0: v = orRange(r, -32768, 32767); break;
      case 1: v = orRange(r, -800, 800); break;
      case 2: v = ((t / (17 + (t >> 9) % 60)) & 1) ? 32767 : -32768; break;
      case 3: v = 0; break;
      case 4: { int32_t p = 20 + (t >> 6) % 120; v = (t % p) * 65535 / p - 32768; break; }
      case 5: v = (t % 57 == 0) ? 30000 : ((t % 57 < 6) ? -9000 / (t % 57) : orRange(r, -50, 50)); break;
      case 6: v = orRange(r, -3, 3); break;
      default: v = (t & 1) ? 32767 : -32768; break;
    }
    x[i] = (int16_t)v;
  }
}

/* FNV-1a over 16-bit values (low byte first). */
static inline uint32_t orHash16(uint32_t h, const int16_t* v, int n) {
  int i;
  for (i = 0; i < n; ++i) {
    h = (h ^ (uint32_t)(v[i] & 0xFF)) * 16777619u;
    h = (h ^ (uint32_t)((v[i] >> 8) & 0xFF)) * 16777619u;
  }
  return h;
}
#define OR_HASH_INIT 2166136261u

/* Powers base^1..base^10 (Q15, rounded products) and a[i] weighted by them:
 * the bandwidth-expanded filters the searches are fed. */
static inline void orPowers(int16_t base, int16_t* f) {
  int i;
  f[0] = base;
  for (i = 1; i < 10; ++i) f[i] = (int16_t)(((int32_t)f[i - 1] * base + 16384) >> 15);
}
static inline void orWeight(const int16_t* a, const int16_t* f, int16_t* ap) {
  int i;
  ap[0] = a[0];
  for (i = 1; i <= 10; ++i) {
    int32_t v = ((int32_t)a[i] * f[i - 1] + 16384) >> 15;
    ap[i] = (int16_t)(v > 32767 ? 32767 : v);
  }
}

#endif
