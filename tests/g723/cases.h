/* G.723.1 parameter cases on top of the shared hostile signals. */
#ifndef VOKSC_TESTS_G723_CASES_H
#define VOKSC_TESTS_G723_CASES_H

#include "hostile.h"

/* Ten LSFs: sorted random values (even seeds) or raw random words. */
static inline void vtLsfCase(uint32_t seed, int16_t* lsf) {
  VtRng r = {seed * 2246822519u + 7u};
  for (int i = 0; i < 10; ++i) lsf[i] = (int16_t)(vtNext(&r) & ((seed & 1) ? 0xFFFFu : 0x7FFFu));
  if (!(seed & 1))
    for (int i = 1; i < 10; ++i)
      for (int j = i; j > 0 && lsf[j - 1] > lsf[j]; --j) {
        int16_t t = lsf[j];
        lsf[j] = lsf[j - 1];
        lsf[j - 1] = t;
      }
}

/* n random words scaled down by `shift`. */
static inline void vtWords(uint32_t seed, int16_t* w, int n, int shift) {
  VtRng r = {seed * 3266489917u + 11u};
  for (int i = 0; i < n; ++i) w[i] = (int16_t)((int16_t)(vtNext(&r) & 0xFFFFu) >> shift);
}

#endif
