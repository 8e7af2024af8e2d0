// The frame distance written as a plain loop over the 34 features, one branch per kind of term:
// the baseline the vectorised scorer is measured against.
#include "bench/scoring/scalar_scorer.h"

namespace vlm {

int rudePelScoreScalar(const int16_t* m, const int16_t* f) {
  int32_t sum = 0;
  for (int i = 0; i < 34; ++i) {
    int32_t d = static_cast<int32_t>(m[i]) - f[i];
    if (i == 0) {
      int32_t p = d * m[0];
      if (p < 0) p = -p;
      sum += p >> 5;
    } else if (i >= 4 && i < 10) {
      int64_t a = d < 0 ? -d : d;
      sum += static_cast<int32_t>((a * (a + 106)) >> 7);
    } else {
      if (d < 0) d = -d;
      sum += d;
    }
  }
  return sum;
}

}  // namespace vlm
