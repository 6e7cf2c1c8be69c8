// G.729 gain prediction: MA predictor on the mean-removed code energy in dB.
#include "gain_predict.h"

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "gain_tables.h"

using namespace voksc::op;

namespace voksc::g729::gain {

int32_t codeEnergy(const int16_t* code) {
  int64_t s = 0;
  for (int i = 0; i < 40; ++i) s += int32_t{code[i]} * code[i];
  return sat32(2 * s);  // every step adds a non-negative term: one saturation
}

void predict(const int16_t* mem, int32_t energy, int16_t& gcode0, int16_t& expGcode0) {
  // 127.298 - 3.0103 log2(energy), in Q14: the mean energy (30 dB) and the
  // code's energy over 40 samples with its Q27 scaling.
  Word16 e, f;
  vokLog2(energy, &e, &f);
  Word32 t = vokMpy32x16(e, f, -24660);
  t = L_mac(t, 32588, 32);
  t = L_shl(t, 10);  // Q24
  for (int i = 0; i < kMemory; ++i) t = L_mac(t, kGainMaPredictor[i], mem[i]);
  const Word16 g = extract_h(t);  // predicted dB, Q8
  // 10^(g / 20) = 2^(0.166 g), with 14 as the Pow2 exponent.
  t = L_shr(L_mult(g, 5439), 8);
  L_Extract(t, e, f);
  gcode0 = extract_l(vokPow2(14, f));
  expGcode0 = sub(14, e);
}

void update(int16_t* mem, int32_t factorQ13) {
  for (int i = kMemory - 1; i > 0; --i) mem[i] = mem[i - 1];
  Word16 e, f;
  vokLog2(factorQ13, &e, &f);
  const Word32 acc = L_Comp(sub(e, 13), f);                 // log2, Q16
  mem[0] = mult(extract_h(L_shl(acc, 13)), 24660);          // 20 log10, Q10
}

void updateErased(int16_t* mem) {
  Word32 t = 0;
  for (int i = 0; i < kMemory; ++i) t = L_add(t, L_deposit_l(mem[i]));
  Word16 av = sub(extract_l(L_shr(t, 2)), 4096);
  if (av < kMemoryReset) av = kMemoryReset;
  for (int i = kMemory - 1; i > 0; --i) mem[i] = mem[i - 1];
  mem[0] = av;
}

}  // namespace voksc::g729::gain
