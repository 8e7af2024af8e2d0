#define VLM_UNIT "confidence"
#include "search/confidence.h"

#include <cmath>

namespace vlm {

int phoneLoopRatio(int ref, int best, int* ratio) {
  if (ref == 0) return 0;
  // in 64 bits: scores of long utterances times 200 overflow 32
  *ratio = static_cast<int>((static_cast<long long>(best) - ref) * 200 / ref);
  return 1;
}

double resultConfidence(int ref, int best) {
  int ratio = 0;
  if (!phoneLoopRatio(ref, best, &ratio)) return 1.0;
  return 1.0 / (1.0 + std::exp((ratio - kConfidenceMidpoint) / kConfidenceScale));
}

}  // namespace vlm
