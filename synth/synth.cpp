// synthesize: pronunciation → phoneme symbols → elements → parameter frames → samples.
#define VLM_UNIT "synth"
#include "synth/synth.h"

#include <new>

#include "synth/klatt.h"
#include "synth/synthrules.h"

namespace vlm {

namespace {
long clippedTotal = 0;
}

long synthClippedSamples() { return clippedTotal; }
void resetSynthClippedSamples() { clippedTotal = 0; }

int synthesize(const char* pronunciation, short** samples) {
  if (samples) *samples = nullptr;
  VLM_ASSERT(samples, "samples");
  if (!samples || !pronunciation || !*pronunciation) return 0;

  AC<char> phonemes(127);
  const int symbolCount = rewritePhones(pronunciation, phonemes);
  if (symbolCount == 0) return 0;
  AC<char> elements(3 * 32);
  const int frameCount = expandPhonemes(phonemes.begin(), symbolCount, elements);
  if (elements.count() == 0 || frameCount <= 0) return 0;

  KlattSynth& synth = synthState();
  synth.reset(kSynthSampleRate);
  const long sampleCount = static_cast<long>(frameCount) * synth.samplesPerFrame;
  short* buffer = new (std::nothrow) short[sampleCount];
  SynthFrame* frames = new (std::nothrow) SynthFrame[frameCount];
  if (!buffer || !frames) {
    logError("Out of memory for synthesized speech");
    delete[] buffer;
    delete[] frames;
    return 0;
  }
  const int built = buildParameterFrames(elements, frames, frameCount);
  for (int i = 0; i < built; ++i) synth.renderFrame(frames[i], buffer + static_cast<long>(i) * synth.samplesPerFrame);
  // Frames the rules did not fill (none, when the element list is consistent) stay silent.
  for (long i = static_cast<long>(built) * synth.samplesPerFrame; i < sampleCount; ++i) buffer[i] = 0;
  clippedTotal += synth.clipped;
  delete[] frames;
  *samples = buffer;
  return static_cast<int>(sampleCount);
}

}  // namespace vlm
