// The weighted city-block distance of a frame from a template (User::rudePelScore) in its
// variants: the portable one, and on x86-64 one written for AVX2, which the scorer uses when the
// processor has it. Every variant gives the same value for every input; the tests hold each one
// to the definition.
#pragma once

#include <cstdint>

namespace vlm::distance {

int portable(const int16_t* model, const int16_t* features);

#if defined(__x86_64__) && defined(__GNUC__)
#define VLM_DISTANCE_AVX2 1
int avx2(const int16_t* model, const int16_t* features);
// True when the processor runs AVX2 code (tested once, when the program starts).
bool avx2Supported();
#endif

}  // namespace vlm::distance
