// The cascade/parallel formant synthesiser. Voicing is a polynomial glottal flow pulse per pitch
// period, softened by a critically damped low-pass; aspiration and frication come from one
// pseudo-random noise source. Voicing and aspiration excite the cascade (nasal pole, nasal zero, formants from
// the highest down to F1); frication excites the parallel formants F2..F6 and the bypass, and
// voicing the parallel F1 and nasal resonators when their amplitudes are set. The sum passes the
// radiation characteristic (first difference) and the output low-pass.
#define VLM_UNIT "synth"
#include "synth/klatt.h"

#include <cmath>
#include <initializer_list>

namespace vlm {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Parallel gains applied on top of the amplitude table.
constexpr double kGainA1 = 0.4, kGainA2 = 0.15, kGainA3 = 0.06, kGainA4 = 0.04, kGainA5 = 0.022,
                 kGainA6 = 0.03, kGainNasal = 0.6, kGainBypass = 0.05, kGainAspiration = 0.05,
                 kGainFrication = 0.25;

// Fixed upper formants of the cascade (Hz) and the parallel F4..F6 bandwidths.
constexpr double kF4 = 3300, kB4 = 250, kF5 = 3750, kB5 = 200, kF6 = 4900, kB6 = 1000;
constexpr double kF7 = 6500, kB7 = 500, kF8 = 7500, kB8 = 600;
constexpr double kParallelB4 = 250, kParallelB5 = 300, kParallelB6 = 500;
constexpr double kNasalPole = 270, kNasalBandwidth = 100;

// Peak glottal flow and the size of the noise source: a vowel at 60 dB peaks below half of full
// scale after the final × 3, and frication at 60 dB lies some 10 dB below it.
constexpr double kFlowPeak = 9000.0;
// Share of the pitch period in which the glottis is open.
constexpr double kOpenQuotient = 0.35;
constexpr double kNoise = 5000.0;

// 6 dB per doubling: 32767 at 87 dB, nothing below 13 dB.
double dbTable[88];
bool dbTableReady = false;

void makeDbTable() {
  for (int i = 0; i < 88; ++i) {
    if (i < 13) {
      dbTable[i] = 0.0;
    } else {
      double v = std::floor(32768.0 * std::pow(2.0, (i - 87) / 6.0) + 0.5);
      dbTable[i] = v > 32767.0 ? 32767.0 : v;
    }
  }
  dbTableReady = true;
}

double gain(int db) { return klattDbToLinear(db) * 0.001; }

bool clean(const Resonator& r) {
  for (double v : {r.p1, r.p2}) {
    if (!std::isfinite(v)) return false;
    if (v != 0.0 && std::fpclassify(v) == FP_SUBNORMAL) return false;
  }
  return true;
}

// Values this small cannot be heard; zeroing them keeps the filters out of subnormal numbers,
// which are slow on most processors.
void flush(Resonator& r) {
  if (std::fabs(r.p1) < 1e-12) r.p1 = 0.0;
  if (std::fabs(r.p2) < 1e-12) r.p2 = 0.0;
}

KlattSynth theSynth;

}  // namespace

double klattDbToLinear(int db) {
  if (!dbTableReady) makeDbTable();
  if (db < 0) db = 0;
  if (db > 87) db = 87;
  return dbTable[db];
}

void Resonator::set(double frequency, double bandwidth, int rate) {
  const double r = std::exp(-kPi * bandwidth / rate);
  c = -r * r;
  b = 2.0 * r * std::cos(2.0 * kPi * frequency / rate);
  a = 1.0 - b - c;
}

void Resonator::setAnti(double frequency, double bandwidth, int rate) {
  set(frequency, bandwidth, rate);
  if (a == 0.0) {  // a zero at 0 Hz with no bandwidth: pass the signal unchanged
    a = 1.0;
    b = c = 0.0;
    return;
  }
  const double inverse = 1.0 / a;
  b = -b * inverse;
  c = -c * inverse;
  a = inverse;
}

KlattSynth& synthState() { return theSynth; }

void KlattSynth::reset(int rate) {
  sampleRate = rate;
  samplesPerFrame = static_cast<int>(rate * 10 * 0.001);
  cascadeFormants = rate < 16000 ? 6 : 8;
  outputGain = 3.0;
  periodLeft = 0;
  periodLength = 0;
  pitchPeriods = 0;
  sampleCount = 0;
  flutter = 10;
  noiseSeed = 0x2545F491u;
  noiseLow = 0.0;
  radiationLast = 0.0;
  parallelActive = false;
  clipped = 0;
  for (double& l : level) l = 0.0;

  static const char* const parallelNames[kParallelFormants] = {
      "parallel 1st formant", "parallel 2nd formant", "parallel 3rd formant",
      "parallel 4th formant", "parallel 5th formant", "parallel 6th formant"};
  static const char* const cascadeNames[kMaxCascadeFormants] = {
      "cascade 1st formant", "cascade 2nd formant", "cascade 3rd formant", "cascade 4th formant",
      "cascade 5th formant", "cascade 6th formant", "cascade 7th formant", "cascade 8th formant"};
  parallelNasal = {"parallel nasal pole", 1, 0, 0, 0, 0};
  for (int i = 0; i < kParallelFormants; ++i) parallel[i] = {parallelNames[i], 1, 0, 0, 0, 0};
  for (int i = 0; i < kMaxCascadeFormants; ++i) cascade[i] = {cascadeNames[i], 1, 0, 0, 0, 0};
  cascadeNasalPole = {"cascade nasal pole", 1, 0, 0, 0, 0};
  cascadeNasalZero = {"cascade nasal zero", 1, 0, 0, 0, 0};
  glottalLowPass = {"crit-damped glot low-pass filter", 1, 0, 0, 0, 0};
  downsampLowPass = {"downsamp low-pass filter", 1, 0, 0, 0, 0};
  outputLowPass = {"output low-pass", 1, 0, 0, 0, 0};

  // Fixed filters.
  glottalLowPass.set(0.0, 5000.0, rate);
  downsampLowPass.set(0.0, 200.0, rate);
  outputLowPass.set(0.0, rate * 0.8, rate);
  cascade[3].set(kF4, kB4, rate);
  cascade[4].set(kF5, kB5, rate);
  cascade[5].set(kF6, kB6, rate);
  cascade[6].set(kF7, kB7, rate);
  cascade[7].set(kF8, kB8, rate);
  parallel[3].set(kF4, kParallelB4, rate);
  parallel[4].set(kF5, kParallelB5, rate);
  parallel[5].set(kF6, kParallelB6, rate);
  cascadeNasalPole.set(kNasalPole, kNasalBandwidth, rate);
  parallelNasal.set(kNasalPole, kNasalBandwidth, rate);
}

int KlattSynth::renderFrame(const SynthFrame& frame, short* out) {
  const short* v = frame.value;
  const int rate = sampleRate;

  // Variable filters of this frame.
  cascadeNasalZero.setAnti(v[pFN], kNasalBandwidth, rate);
  for (int i = 0; i < 3; ++i) {
    cascade[i].set(v[pF1 + i], v[pB1 + i], rate);
    parallel[i].set(v[pF1 + i], v[pB1 + i], rate);
  }

  // Source and branch gains move linearly from the last frame's values to this frame's over
  // the frame, so that amplitude changes do not click.
  double target[kGains];
  target[gAV] = gain(v[pAV]);
  target[gAVC] = gain(v[pAVC]);
  target[gASP] = gain(v[pASP]) * kGainAspiration;
  target[gAF] = gain(v[pAF]) * kGainFrication;
  target[gA1] = gain(v[pA1]) * kGainA1;
  target[gAN] = gain(v[pAN]) * kGainNasal;
  target[gA2] = gain(v[pA2]) * kGainA2;
  target[gA3] = gain(v[pA3]) * kGainA3;
  target[gA4] = gain(v[pA4]) * kGainA4;
  target[gA5] = gain(v[pA5]) * kGainA5;
  target[gA6] = gain(v[pA6]) * kGainA6;
  target[gAB] = gain(v[pAB]) * kGainBypass;
  double g[kGains], step[kGains];
  for (int k = 0; k < kGains; ++k) {
    g[k] = level[k];
    step[k] = (target[k] - level[k]) / samplesPerFrame;
    level[k] = target[k];
  }
  const bool parallelNow = target[gAF] > 0.0 || target[gA1] > 0.0 || target[gAN] > 0.0;
  // A branch that was active in the previous frame rings out during this one.
  const bool runParallel = parallelNow || parallelActive;
  const int cascadeCount = cascadeFormants;
  const bool voiced = target[gAV] > 0.0 || target[gAVC] > 0.0 || g[gAV] > 0.0 || g[gAVC] > 0.0;

  int clippedNow = 0;
  for (int n = 0; n < samplesPerFrame; ++n) {
    // Pitch: a new period begins when the last one ends. Flutter wobbles F0 slowly with three
    // sines of 12.7, 7.1 and 4.7 Hz; their time base is the time in seconds at the period start.
    if (periodLeft <= 0) {
      double f0 = frame.f0;  // tenths of Hz
      const double t = static_cast<double>(sampleCount) / rate;
      const double wobble = std::sin(79.796 * t) + std::sin(44.611 * t) + std::sin(29.531 * t);
      f0 += std::trunc(10.0 * (flutter * 0.02) * (f0 / 10.0 * 0.01) * wobble);
      if (f0 < 300.0) f0 = 300.0;  // 30 Hz at the lowest
      periodLength = static_cast<int>(rate * 10.0 / f0);
      if (periodLength < 1) periodLength = 1;
      periodLeft = periodLength;
      ++pitchPeriods;
    }
    // Glottal flow of the open phase (the first kOpenQuotient of the period): a rise and fall
    // shaped as a·n² − b·n³ that closes at the end of the open phase, then zero until the next
    // period.
    const int position = periodLength - periodLeft;
    const int openLength =
        periodLength * kOpenQuotient > 1 ? static_cast<int>(periodLength * kOpenQuotient) : 1;
    double flow = 0.0;
    if (voiced && position < openLength) {
      const double x = static_cast<double>(position) / openLength;
      flow = kFlowPeak * (27.0 / 4.0) * x * x * (1.0 - x);
    }
    const bool closedPhase = position >= openLength;
    --periodLeft;
    ++sampleCount;

    // Sources.
    const double glottal = glottalLowPass.step(flow);
    const double sinusoidal = downsampLowPass.step(glottal);
    noiseSeed = noiseSeed * 1664525u + 1013904223u;
    double white = (static_cast<int>(noiseSeed >> 8) & 0xffff) / 32768.0 - 1.0;
    noiseLow = white * kNoise + 0.75 * noiseLow;
    double noise = noiseLow;
    if (voiced && closedPhase) noise *= 0.5;  // frication and aspiration follow the glottal cycle

    for (int k = 0; k < kGains; ++k) g[k] += step[k];

    // Cascade branch.
    double x = glottal * g[gAV] + sinusoidal * g[gAVC] + noise * g[gASP];
    x = cascadeNasalPole.step(x);
    x = cascadeNasalZero.stepAnti(x);
    for (int i = cascadeCount - 1; i >= 0; --i) x = cascade[i].step(x);
    double sum = x;

    // Parallel branch, alternating signs so that neighbouring formants do not cancel.
    if (runParallel) {
      const double fric = noise * g[gAF];
      double p = parallel[0].step(glottal * g[gA1]) + parallelNasal.step(glottal * g[gAN]);
      p -= parallel[1].step(fric * g[gA2]);
      p += parallel[2].step(fric * g[gA3]);
      p -= parallel[3].step(fric * g[gA4]);
      p += parallel[4].step(fric * g[gA5]);
      p -= parallel[5].step(fric * g[gA6]);
      p += fric * g[gAB];
      sum += p;
    }

    // Radiation and output.
    const double radiated = sum - radiationLast;
    radiationLast = sum;
    const double y = outputLowPass.step(radiated) * outputGain;
    int s;
    if (!(y < 32767.0)) {  // also catches a NaN
      s = 32767;
      ++clippedNow;
    } else if (y < -32767.0) {
      s = -32767;
      ++clippedNow;
    } else {
      s = static_cast<int>(y);
    }
    out[n] = static_cast<short>(s);
  }

  if (!parallelNow) {
    for (Resonator& r : parallel) r.clear();
    parallelNasal.clear();
  }
  parallelActive = parallelNow;

  for (Resonator& r : parallel) flush(r);
  for (Resonator& r : cascade) flush(r);
  flush(parallelNasal);
  flush(cascadeNasalPole);
  flush(cascadeNasalZero);
  flush(glottalLowPass);
  flush(downsampLowPass);
  flush(outputLowPass);
  if (std::fabs(noiseLow) < 1e-12) noiseLow = 0.0;
  if (std::fabs(radiationLast) < 1e-12) radiationLast = 0.0;

  clipped += clippedNow;
  return clippedNow;
}

bool KlattSynth::stateIsClean() const {
  for (const Resonator& r : parallel)
    if (!clean(r)) return false;
  for (const Resonator& r : cascade)
    if (!clean(r)) return false;
  for (const Resonator* r : {&parallelNasal, &cascadeNasalPole, &cascadeNasalZero, &glottalLowPass,
                             &downsampLowPass, &outputLowPass})
    if (!clean(*r)) return false;
  return std::isfinite(noiseLow) && std::isfinite(radiationLast);
}

}  // namespace vlm
