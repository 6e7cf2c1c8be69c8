// GSM 06.10 lattice kernels shared by the exports and the tests.
//
// Both lattices have a portable form and an AVX2 form giving the same bits;
// the exports pick one through core/cpu.h.  `mem` is the filter memory of
// the exports (8 backward errors for the analysis lattice, 9 values for the
// synthesis lattice), read before and written after the block.
#ifndef VOKSC_GSMFR_GSMFR_INTERNAL_H
#define VOKSC_GSMFR_GSMFR_INTERNAL_H

#include <cstdint>

namespace voksc::gsmfr {

// Analysis (all-zero) lattice, in place over x[0..len-1].
void analysisLatticeScalar(const int16_t* rc, int16_t* x, int len, int16_t* mem);
void analysisLatticeAvx2(const int16_t* rc, int16_t* x, int len, int16_t* mem);

// Synthesis (all-pole) lattice: y[0..len-1] from x[0..len-1] (y may be x).
void synthesisLatticeScalar(const int16_t* rc, const int16_t* x, int16_t* y, int len, int16_t* mem);
void synthesisLatticeAvx2(const int16_t* rc, const int16_t* x, int16_t* y, int len, int16_t* mem);

}  // namespace voksc::gsmfr

#endif  // VOKSC_GSMFR_GSMFR_INTERNAL_H
