// The cascade/parallel formant synthesiser (after Klatt's 1980 design): renders 10 ms parameter
// frames into 16-bit samples.
#pragma once
#include "synth/synthrules.h"

namespace vlm {

// A second-order digital resonator (or, used as an antiresonator, a second-order zero pair):
// y[n] = a x[n] + b y[n-1] + c y[n-2]; unity gain at 0 Hz.
struct Resonator {
  const char* name;
  double a, b, c;
  double p1, p2;  // the two previous outputs (resonator) or inputs (antiresonator)

  void set(double frequency, double bandwidth, int sampleRate);
  void setAnti(double frequency, double bandwidth, int sampleRate);
  void clear() { p1 = p2 = 0.0; }
  double step(double x) {
    const double y = a * x + b * p1 + c * p2;
    p2 = p1;
    p1 = y;
    return y;
  }
  double stepAnti(double x) {
    const double y = a * x + b * p1 + c * p2;
    p2 = p1;
    p1 = x;
    return y;
  }
};

constexpr int kMaxCascadeFormants = 8;
// The gains a frame sets, in the order of KlattSynth::level.
enum { gAV, gAVC, gASP, gAF, gA1, gAN, gA2, gA3, gA4, gA5, gA6, gAB, kGains };
constexpr int kParallelFormants = 6;

// The process's synthesiser state.
struct KlattSynth {
  int sampleRate;
  int samplesPerFrame;   // trunc(sample rate × 10 ms)
  int cascadeFormants;   // 6 below 16000 samples per second, else 8
  double outputGain;     // the final × 3
  int periodLeft;        // samples left in the current pitch period
  int periodLength;
  long pitchPeriods;     // pitch periods begun since reset
  long sampleCount;      // samples rendered since reset
  int flutter;           // FL, percent
  unsigned noiseSeed;
  double noiseLow;       // state of the noise source's low-pass
  double radiationLast;  // previous input of the radiation characteristic
  bool parallelActive;   // the parallel branch ran in the previous frame
  long clipped;          // samples limited to -32767..32767 since reset
  double level[kGains];  // the gains reached at the end of the last frame

  Resonator parallelNasal;
  Resonator parallel[kParallelFormants];
  Resonator cascade[kMaxCascadeFormants];
  Resonator cascadeNasalPole;
  Resonator cascadeNasalZero;
  Resonator glottalLowPass;    // crit-damped glot low-pass filter: shapes the voicing impulses
  Resonator downsampLowPass;   // smooths the glottal pulses into quasi-sinusoidal voicing
  Resonator outputLowPass;

  void reset(int rate);
  // Renders one frame into out (samplesPerFrame samples); returns the samples limited.
  int renderFrame(const SynthFrame& frame, short* out);
  // Every filter state is a finite, normal (or zero) number.
  bool stateIsClean() const;
};

// The synthesiser's amplitude table: decibels (0..87) to linear amplitude.
double klattDbToLinear(int db);

KlattSynth& synthState();

}  // namespace vlm
