// G.729 long-term prediction steps shared by the pitch exports and by the
// rest of the codec family: fractional-delay interpolation of the past
// excitation, interpolation of the normalised correlation, the filtered
// adaptive vector and its gain, and the closed-loop search range.
#ifndef VOKSC_G729_PITCH_INTERNAL_H
#define VOKSC_G729_PITCH_INTERNAL_H

#include <cstdint>

namespace voksc::g729::pitch {

constexpr int kSubframe = 40;
constexpr int kFrame = 80;
constexpr int kDelayMin = 20;
constexpr int kDelayMax = 143;
constexpr int kExcHistory = 154;  // past excitation before the subframe

// Adaptive-codebook vector of delay t0 + frac/3 (frac -1..1, t0 at least
// 18), by the 1/3-resolution interpolation filter of 10 taps each side:
// writes exc[0..len-1] from the samples before it.  Delays shorter than
// len reuse the freshly written samples, as the decoder requires.
void adaptiveVector(int16_t* exc, int t0, int frac, int len);

// Normalised correlation interpolated at frac thirds (-2..2) past corr[0];
// corr[-4..4] must be valid.
int16_t interpolateCorrelation(const int16_t* corr, int frac);

// Closed-loop search range [tMin, tMax] around the centre delay: subframe 0
// searches centre-3 .. +6, subframe 1 centre-5 .. +9, kept inside 20..143.
void searchRange(int centre, int subframe, int& tMin, int& tMax);

// y[n] = (sum over i <= n of v[i] h[n-i]) >> 12 with the reference's
// saturation, over one subframe (h in Q12).
void filterVector(const int16_t* v, const int16_t* h, int16_t* y);

// Open-loop section peak over the root of its delayed energy (Q15):
// peak x vokInvSqrt(energy) as a split-value product.
int16_t normalisedPeak(int32_t peak, int32_t energy);
// The Annex A choice among three open-loop sections (delays and normalised
// peaks from the shortest delays up; the peaks are reinforced in place by
// the multiples rule): the index of the winning section.
int pickSection(const int* delay, int16_t* peak);

// True when two signals' energies ea and eb bound every partial sum of
// products between them below 2^30 (Cauchy-Schwarz: ea eb below 2^60), so
// that an L_mac chain over any pairing of them cannot saturate and exact
// sums give its result.
bool energiesBoundSums(int64_t ea, int64_t eb);
// The same for the energies of a and b over n samples.
bool partialSumsFit(const int16_t* a, const int16_t* b, int n);

// Pitch gain (Q14, 0..19661) of the target x against the filtered vector
// y.  When coeff is given it receives the four terms the gain quantiser
// reuses: <y,y> and 15 - its exponent, <x,y> and 15 - its exponent (-15
// when the correlation is not positive).
int16_t gain(const int16_t* x, const int16_t* y, int16_t* coeff);

}  // namespace voksc::g729::pitch

#endif  // VOKSC_G729_PITCH_INTERNAL_H
