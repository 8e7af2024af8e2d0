// Frame: the unit of recognition. One frame stands for 200 samples (about 18.1 ms at 11025 Hz):
// a power value and 34 signed 16-bit features. See docs/audio-frontend.md.
#pragma once
#include <cstdint>
#include "foundation/arrcoll.h"

namespace vlm {

constexpr int kFrameFeatures = 34;   // features per frame
constexpr int kStaticFeatures = 17;  // [0..16] static, shifted by the channel's normaliser
constexpr int kDeltaFeatures = 15;   // [17..31] deltas of static features 0 to 14
constexpr int kFirstDelta = 17;
constexpr int kFirstSecondDiff = 32; // [32..33] second differences of static features 0 and 1

struct Frame {
  int32_t power;                      // band power of the most recent chunk, 1/512 ln units
  int16_t features[kFrameFeatures];   // static, deltas, second differences
};

// The frames of an utterance, stored by value.
using FrameAC = AC<Frame>;

}  // namespace vlm
