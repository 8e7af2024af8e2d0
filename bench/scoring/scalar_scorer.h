// The plain scalar frame distance (baseline of the scoring benchmark).
#pragma once
#include <cstdint>

namespace vlm {

int rudePelScoreScalar(const int16_t* model, const int16_t* features);

}  // namespace vlm
