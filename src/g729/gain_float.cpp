// Float gain codebook searches: from the five terms of the error criterion
// and the predicted code gain, the pair of codebook rows with the smallest
// weighted error among the preselected candidates (4 x 8 of the 8 kbit/s
// codebooks, 6 x 6 of the 6.4 kbit/s ones).
#include "core/status.h"
#include "gain_float_tables.h"

using voksc::anyNull;
using namespace voksc::g729f;

namespace {

// terms: <y,y>, -2<x,y>, <z,z>, -2<x,z>, 2<y,z>; the pitch gain of a
// candidate is the sum of the rows' first entries, its code gain the
// predicted gain times the sum of their second entries.  With taming only
// pitch gains below 0.9999 take part.
void search(const float (*stage1)[2], int cand1, const float (*stage2)[2], int cand2, const float* g, float gcode0,
            int c1, int c2, bool tame, Vok32s* rows) {
  float distMin = 1.0e38f;
  int i1 = 0, i2 = 0;
  for (int i = 0; i < cand1; ++i)
    for (int j = 0; j < cand2; ++j) {
      const float gp = stage1[c1 + i][0] + stage2[c2 + j][0];
      if (tame && !(gp < 0.9999f)) continue;
      const float gc = gcode0 * (stage1[c1 + i][1] + stage2[c2 + j][1]);
      const float dist = gp * gp * g[0] + gp * g[1] + gc * gc * g[2] + gc * g[3] + gp * gc * g[4];
      if (dist < distMin) {
        distMin = dist;
        i1 = c1 + i;
        i2 = c2 + j;
      }
    }
  rows[0] = i1;
  rows[1] = i2;
}

VokResult checked(const Vok32f* terms, const Vok32s* cand, Vok32s* rows, int tame, int max1, int max2) {
  if (anyNull(terms, cand, rows)) return vokErrNullPtr;
  if (tame < 0 || tame > 1) return vokErrRange;
  if (cand[0] < 0 || cand[0] > max1 || cand[1] < 0 || cand[1] > max2) return vokErrRange;
  return vokOk;
}

}  // namespace

VOKSC_EXPORT VokResult voksGainCodebookSearch_G729_32f(const Vok32f* terms, Vok32f gcode0, const Vok32s* cand,
                                                       Vok32s* rows, int tame) {
  const VokResult r = checked(terms, cand, rows, tame, 4, 8);
  if (r != vokOk) return r;
  search(kGainStage1F, 4, kGainStage2F, 8, terms, gcode0, cand[0], cand[1], tame == 1, rows);
  return vokOk;
}

VOKSC_EXPORT VokResult voksGainCodebookSearch_G729D_32f(const Vok32f* terms, Vok32f gcode0, const Vok32s* cand,
                                                        Vok32s* rows, int tame) {
  const VokResult r = checked(terms, cand, rows, tame, 2, 2);
  if (r != vokOk) return r;
  search(kGainLowStage1F, 6, kGainLowStage2F, 6, terms, gcode0, cand[0], cand[1], tame == 1, rows);
  return vokOk;
}
