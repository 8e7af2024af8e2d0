// The feature front end: 16-bit mono samples at 11025 Hz in chunks of 100, one Frame (audio/frame.h)
// per 200 samples. The per-chunk analysis itself is a member of WavChannel (audio/channel.h,
// implemented in frontend.cpp); this header holds the pieces it is built from: the analysis
// window, the transforms, the DC removal and the process-wide warped filter bank.
// docs/audio-frontend.md describes every step.
#pragma once
#include <cstdint>

namespace vlm {

struct Frame;
class Utterance;

constexpr int kSampleRate = 11025;
constexpr int kChunkSamples = 100;                // samples per chunk
constexpr int kChunkBytes = 2 * kChunkSamples;    // bytes per chunk
constexpr int kFrameSamples = 2 * kChunkSamples;  // samples per frame
constexpr int kRawRingChunks = 1024;
constexpr int kRawRingBytes = kRawRingChunks * kChunkBytes;  // 204800
constexpr int kWindowLength = 254;                // samples under the analysis window
constexpr int kFftLength = 256;                   // real transform length
constexpr int kSpectrumBins = 128;                // power spectrum bins 0..127 (bin 128 unused)
constexpr int kFilterCount = 32;                  // filters of the warped bank
constexpr int kCepstra = 15;                      // weighted cepstra c0..c14
constexpr int kNeutralVtln = 58;                  // the warp bin of an unwarped bank
constexpr int kFilterDestBase = 128;              // destination numbers 128..159 in the table
constexpr int kDcClampLimit = 32764;              // corrected samples stay within +-32764

// The normaliser's starting values (floating-point front end), features 0 to 16.
extern const int32_t kInitialNormaliser[17];

// The analysis window: W[k] = trunc(32767 * (4x(1-x))^(7/8) + 0.5), x = (k+1)/255, k = 0..253,
// computed for k = 127..253 and mirrored, so that W[k] == W[253-k] exactly.
class WelchWin {
 public:
  WelchWin();
  int32_t w[kWindowLength];
};
// The process-wide window table.
const WelchWin& welchWin();

// In-place transforms on arrays addressed from index 1: pass the address one element before the
// first value (data + 1 is the first value). n is a power of two (at least 2, 4 for realfft).
//   fft:     n/2 complex values stored as n interleaved doubles (re, im, re, im, ...). sign 1:
//            X[k] = sum x[j] exp(-2 pi i jk/(n/2)); sign -1: the same with exp(+...), unscaled.
//   realfft: the transform of n real values (sign 1). Output: element 1 = real value of bin 0,
//            element 2 = real value of bin n/2, elements 2k+1 and 2k+2 = real and imaginary part
//            of bin k (1 <= k < n/2). sign -1 takes that packing back to n/2 times the reals.
//   cosfft:  sign 1 replaces f[0..n-1] by G[k] = sum_{j=0}^{n-1} f[j] cos(pi j k / n); sign -1
//            is its inverse up to a factor 2/n (applying it to G gives f * n/2).
void fft(double* data, int n, int sign);
void realfft(double* data, int n, int sign);
void cosfft(double* data, int n, int sign);

// Removes the DC offset from count samples in place, in time order. offset > 0: a sample at or
// below offset - 32764 is replaced by the previous corrected sample (-32764 for the first), any
// other becomes s - offset; offset < 0: a sample at or above offset + 32764 is replaced by the
// previous corrected sample (+32764 for the first); offset 0 leaves the samples alone.
void removeDcOffset(int16_t* samples, int count, int32_t offset);

// The process-wide filter bank: (destination filter + 128, spectral bin, weight) triples, filter
// by filter in bin order; every filter's weights add up to 512. Built for the neutral warp bin on
// first use. *integers receives 3 x the number of triples. (The builder and the warp bin query
// are WavChannel::melFilterBankWithVTLN and WavChannel::melFilterBankSecondEFormantBin.)
const int* melFilterBankTable(int* integers);

// ---- Channel robustness (docs/audio-frontend.md, "Real microphones") ------------------------

// Channel cleanup, on by default and process-wide like the filter bank (the models are trained
// with it): the first chunk after open sets the DC offset from its own mean, and a fourth-order
// Butterworth high-pass at kHighPassHz in front of the analysis window keeps what is left of DC,
// mains hum and rumble out of the lowest filters and the energies. The high-pass filters a copy
// of the samples; the raw ring keeps them as the DC removal left them. setChannelCleanup(0) gives
// the analysis exactly as defined without either (tests of that definition use it).
constexpr int kHighPassHz = 200;
void setChannelCleanup(int on);
int channelCleanupOn();
// One chunk through the high-pass: state holds the two sections' four delay values.
void highPassChunk(const int16_t* in, double* out, int count, double state[4]);

// The noise floor of the filter bank (part of the channel cleanup). Every filter output of a
// chunk is smoothed over a few chunks; the floor follows that smoothed output down at once and
// up slowly (kNoiseFloorRise per chunk, about 6 dB a second), so it settles on the level of the
// pauses and stays there through speech. The noise is kNoiseOverSubtract times the floor (a
// minimum of a fluctuating power lies near half its mean). alpha times the noise is taken off
// each filter output, which never drops below kNoiseKeep of what it was: alpha is 1 for a chunk
// kNoiseCleanDb or more above the noise (all filters' smoothed outputs against all their noise)
// and rises by kNoiseAlphaPerDb per dB below that, up to kNoiseAlphaMax at 0 dB (the classic
// over-subtraction of spectral subtraction), so stationary noise and the weakest parts of speech
// in it are pulled far down, while a band well above the floor (speech, a tone) keeps most of
// it, and a chunk well above the noise loses only the noise.
constexpr double kNoiseSmooth = 0.2;         // weight of the newest chunk in the smoothed output
constexpr double kNoiseFloorRise = 1.0126;   // per chunk, 110 chunks a second
constexpr double kNoiseOverSubtract = 2.0;
constexpr double kNoiseCleanDb = 20.0;
constexpr double kNoiseAlphaPerDb = 0.15;
constexpr double kNoiseAlphaMax = 4.0;
constexpr double kNoiseKeep = 0.05;
struct NoiseFloor {
  double smooth[kFilterCount] = {};
  double floor[kFilterCount] = {};
  int primed = 0;   // 0 until the first chunk after a reset has set the floor
  void reset() { *this = NoiseFloor(); }
  // Updates the floor from one chunk's filter outputs F and subtracts it from them in place.
  void subtract(double F[kFilterCount]);
};
// Process-wide switch of the noise-floor subtraction (on by default with the channel cleanup;
// the models are trained with it). Off, the filter outputs are used as they are.
void setNoiseFloorSubtraction(int on);
int noiseFloorSubtractionOn();

// The utterance's own normaliser. Speech frames are those whose power lies above
// (6 x highest + lowest) >> 3 of the frames themselves, so the choice does not depend on the
// level; their mean static features, m, give the shift that brings them to the normaliser's
// targets (180 for feature 0, 128 for the others): target - m for the level (features 0, 1 and 2,
// the band energies and c0, which the channel alone sets), round((target - m) x n / (n + prior))
// for the spectral shape (features 3..16), with n the speech frames and prior the weight, in
// frames, of the normaliser the frames were computed with (the stored or calibrated one): a
// short utterance's own mean depends on its words. Returns n (0: shift all zero).
int ownNormaliserShift(const Frame* frames, int count, int prior, int32_t shift[17]);
// Adds shift to the static features of count frames (stored at the 16-bit limits).
void shiftStatics(Frame* frames, int count, const int32_t shift[17]);
// The floors of the normalised energies: static features 0, 1 and 2 (the two band energies and
// c0) below kEnergyFloor[i] are raised to it, so that pauses look alike whether the room is
// quiet or noisy (a pause 20 dB below the speech and one 60 dB below give the same frames).
// Applied after the own normaliser's shift, in recognition and in training alike.
extern const int16_t kEnergyFloor[3];
void floorEnergies(Frame* frames, int count);
// The weight, in speech frames, of the channel's normaliser (the models' stored one, or the
// speaker's calibrated one) against an utterance's own frames for the spectral shape, when a
// recognised, enrolled or training utterance is normalised on its own (normaliseOwnMean).
constexpr int kOwnMeanPriorFrames = 60;
// Shifts a complete utterance's frames by its own normaliser shift (prior kOwnMeanPriorFrames)
// and marks it normalised. Returns the speech frames used, or -1 for an utterance that is not
// complete (its frames are left alone).
int normaliseOwnMean(Utterance* utt, int prior = kOwnMeanPriorFrames);
// Takes the rest of a live utterance from its channel (waiting for its end) and shifts it by its
// own normaliser: the frames the models are trained on and recognition hears. Returns what
// normaliseOwnMean returns.
int hearWhole(Utterance* utt);

}  // namespace vlm
