// G.729 LP-analysis steps shared between the exports of the family.
#ifndef VOKSC_G729_LPC_INTERNAL_H
#define VOKSC_G729_LPC_INTERNAL_H

#include <cstdint>

namespace voksc::g729 {

constexpr int kMaxOrder = 30;

// LP coefficients (Q12) to LSPs (Q15); the previous LSPs when fewer than ten
// roots are found.  annexA selects the 51-point grid with two bisections.
void lpToLsp(const int16_t* a, const int16_t* oldLsp, int16_t* lsp, bool annexA);
void lspToLp(const int16_t* lsp, int16_t* a);
void lspToLsf(const int16_t* lsp, int16_t* lsf);      // Q13 radians
void lspToLsfNorm(const int16_t* lsp, int16_t* lsf);  // Q15 normalised
int lsfToLsp(const int16_t* lsf, int16_t* lsp);       // -1, or the first negative frequency
// Stability correction; returns bit 0 for the floor, bit 1 for the ceiling.
int lsfStability(int16_t* lsf);
// Decoder: indices (switch, stage 1, stage 2 low, stage 2 high); MA memory
// 4 x 10 newest first.  Returns the stability flags.
int lsfDecode(const int16_t* idx, int16_t* mem, int16_t* lsf, int16_t* residualOut);
void lsfQuantise(const int16_t* lsf, int16_t* mem, int16_t* lsfq, int16_t* idx, int16_t* residualOut);
void lsfErased(int mode, int16_t* mem, const int16_t* lastLsf);
bool levinson(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err);

}  // namespace voksc::g729

#endif  // VOKSC_G729_LPC_INTERNAL_H
