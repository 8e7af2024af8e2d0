// The formant synthesiser: speaks a pronunciation string (phone codes of the lexicon's phone set)
// as 16-bit mono samples at 11025 samples per second, so that the user can hear a pronunciation.
#pragma once

namespace vlm {

constexpr int kSynthSampleRate = 11025;

// Synthesises pronunciation. Returns the number of samples and sets *samples to a new buffer
// (new short[]; the caller frees it with delete[]). An empty or null pronunciation, one that
// yields no synthesis element (only silence, or only unknown codes), or a failed allocation
// returns 0 and sets *samples to null.
int synthesize(const char* pronunciation, short** samples);

// Output samples limited to -32767..32767 since the process started (or the last reset).
long synthClippedSamples();
void resetSynthClippedSamples();

}  // namespace vlm
