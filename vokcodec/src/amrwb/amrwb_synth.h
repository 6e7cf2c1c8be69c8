// The AMR-WB coders' 16-bit synthesis filter 1/A(z), shared by the
// encoder's local syntheses and the decoder's high band.
#ifndef VOKCODEC_AMRWB_SYNTH_H
#define VOKCODEC_AMRWB_SYNTH_H

#include <cstdint>

namespace vokc::amrwb {

// y[n] = round(L_shl(L_mult(x[n], a[0] >> 1) - sum_j 2 a[j] y[n-j], up))
// with up = 1 + norm_s(a[0]), every step saturating as the codec's chain;
// mem holds the m (up to 20) past outputs oldest first and receives the
// last m when `update`.  len up to 160; y may be x.
void synthesis16(const int16_t* a, int m, const int16_t* x, int16_t* y, int len, int16_t* mem, bool update);

}  // namespace vokc::amrwb

#endif  // VOKCODEC_AMRWB_SYNTH_H
