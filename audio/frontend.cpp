// The feature front end: window, transforms, warped filter bank, cepstra, smoothing, deltas and
// the cepstral mean normaliser, in double precision. The per-chunk analysis and the normaliser
// update are WavChannel members; the endpointing around them is in channel.cpp.
#define VLM_UNIT "recog"
#include "audio/frontend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"

namespace vlm {

const int32_t kInitialNormaliser[17] = {-57, 0, -210, 20, 140, 105, 145, 83, 138,
                                        86, 140, 86, 138, 84, 143, 75, 130};

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwo50 = 1125899906842624.0;   // 2^50: the band sums' scale
const double kLnTwo50 = std::log(kTwo50);
const double kLn16 = std::log(16.0);

// Weights of the cepstra c0..c14.
constexpr double kCepWeight[kCepstra] = {0.88, 2.24, 2.56, 2.88, 3.28, 3.76, 4.0, 4.24,
                                         4.48, 4.88, 5.12, 5.36, 5.6, 6.4, 5.6};
// Delta weights of the 17 static features.
constexpr double kDeltaWeight[kStaticFeatures] = {0.58, 0.625, 0.4, 0.38, 0.37, 0.375,
                                                  0.36, 0.335, 0.32, 0.275, 0.24, 0.22,
                                                  0.2, 0.19, 0.17, 0.14, 0.12};
// Normaliser targets and rates.
constexpr int kNormTarget0 = 180;
constexpr int kNormTarget = 128;
constexpr double kNormRate[kStaticFeatures] = {6.9, 6.9, 6.8, 6.6, 6.6, 6.6, 6.6, 6.6, 6.6,
                                               6.6, 6.8, 6.8, 6.8, 6.9, 7.0, 7.3, 7.6};
constexpr int kMinSpeechFrames = 10;
constexpr int kLevelFeatures = 3;   // static features 0, 1, 2: the band energies and c0

// Base filter centres on the scale where spectral bin j stands at 86 * (j + 1).
constexpr int kBaseCentre[kFilterCount] = {90,   180,  270,  360,  450,  540,  630,  720,
                                           810,  900,  990,  1080, 1175, 1279, 1393, 1518,
                                           1655, 1805, 1970, 2151, 2350, 2568, 2807, 3069,
                                           3357, 3673, 4020, 4401, 4820, 5280, 5786, 6342};
constexpr int kBinSpacing = 86;
constexpr int kFilterTotal = 512;
inline int binPos(int j) { return kBinSpacing * (j + 1); }

// The process-wide filter bank. Static storage: at most one triple per (filter, bin).
constexpr int kMaxBankInts = 3 * kFilterCount * kSpectrumBins;
int bankTable[kMaxBankInts];
int bankInts = 0;
int bankVtln = kNeutralVtln;

// Builds the bank for vtln into table; returns the integers written.
int buildBank(int vtln, int* table) {
  int c[kFilterCount];
  for (int f = 0; f < kFilterCount; ++f)
    c[f] = static_cast<int>(std::trunc(kBaseCentre[f] * static_cast<double>(vtln + 1) / 59.0 + 0.5));

  int used = 0;
  for (int f = 0; f < kFilterCount; ++f) {
    int raw[kSpectrumBins];
    int bins[kSpectrumBins];
    int n = 0;
    if (f == 0) {
      if (c[0] <= kBinSpacing) {
        bins[n] = 0, raw[n++] = 1;
      } else {
        bins[n] = 0, raw[n++] = std::abs(2 * kBinSpacing - c[0]);
        bins[n] = 1, raw[n++] = std::abs(c[0] - kBinSpacing);
      }
    } else {
      const int d = c[f] - c[f - 1];
      const int h = static_cast<int>(std::trunc(d + d / 3.9 + 0.5));
      int j = 0;
      while (j < kSpectrumBins && binPos(j) + h <= c[f]) ++j;
      if (j < kSpectrumBins) {
        bins[n] = j, raw[n++] = std::abs(h - c[f] + binPos(j));   // the first bin: rising side
        ++j;
      }
      for (; j < kSpectrumBins && binPos(j) <= c[f]; ++j) bins[n] = j, raw[n++] = std::abs(h - c[f] + binPos(j));
      for (; j < kSpectrumBins && binPos(j) < c[f] + h; ++j) bins[n] = j, raw[n++] = std::abs(h - binPos(j) + c[f]);
    }
    long sum = 0;
    for (int i = 0; i < n; ++i) sum += raw[i];
    if (sum <= 0) continue;   // no bin left under this filter (extreme warps only)
    int w[kSpectrumBins];
    int total = 0, largest = 0;
    for (int i = 0; i < n; ++i) {
      w[i] = static_cast<int>(std::trunc(static_cast<double>(raw[i]) / static_cast<double>(sum) * kFilterTotal + 0.4));
      total += w[i];
      if (w[i] > w[largest]) largest = i;
    }
    w[largest] += kFilterTotal - total;
    for (int i = 0; i < n; ++i) {
      if (w[i] <= 0) continue;
      table[used++] = f + kFilterDestBase;
      table[used++] = bins[i];
      table[used++] = w[i];
    }
  }
  return used;
}

void ensureBank() {
  if (bankInts == 0) bankInts = buildBank(bankVtln, bankTable);
}

}  // namespace

// ---- Window ---------------------------------------------------------------------------------

WelchWin::WelchWin() {
  for (int k = 127; k < kWindowLength; ++k) {
    const double x = (k + 1) / 255.0;
    const double y = 4.0 * x * (1.0 - x);
    const double r1 = std::sqrt(y), r2 = std::sqrt(r1), r3 = std::sqrt(r2);
    double v = 32767.0;
    v *= r1;
    v *= r2;
    v *= r3;
    w[k] = static_cast<int32_t>(std::trunc(v + 0.5));
  }
  for (int k = 0; k < 127; ++k) w[k] = w[kWindowLength - 1 - k];
}

const WelchWin& welchWin() {
  static const WelchWin win;
  return win;
}

// ---- Twiddle factors -------------------------------------------------------------------------
// The transforms advance their twiddle factors by a trigonometric recurrence. The factors are made
// once per transform length and direction, by that same recurrence, and read from a table, so
// every transform gives bit for bit what the recurrence in the loop gave, without its sines and
// multiplications on every call. Lengths above 2^16 make their table per call.

namespace {

constexpr int kTwiddleLogs = 17;

struct TwiddleTable {
  std::once_flag made;
  std::vector<double> w;   // (wr, wi) pairs in the order of use
};

// fft(n, sign): for each stage (span 2, 4, ... < n) the factors of m = 1, 3, ..., span - 1.
void makeFftTwiddles(int n, int sign, std::vector<double>& w) {
  w.clear();
  for (int span = 2; span < n; span <<= 1) {
    const double theta = -sign * (2.0 * kPi / span);
    const double s = std::sin(0.5 * theta);
    const double wpr = -2.0 * s * s, wpi = std::sin(theta);
    double wr = 1.0, wi = 0.0;
    for (int m = 1; m < span; m += 2) {
      w.push_back(wr);
      w.push_back(wi);
      const double t = wr;
      wr = wr * wpr - wi * wpi + wr;
      wi = wi * wpr + t * wpi + wi;
    }
  }
}

// realfft(n): cos(theta k), sin(theta k) with theta = 2 pi / n for k = 1 .. n / 4.
void makeRealTwiddles(int n, std::vector<double>& w) {
  w.clear();
  const double theta = 2.0 * kPi / n;
  const double s = std::sin(0.5 * theta);
  const double wpr = -2.0 * s * s, wpi = std::sin(theta);
  double wr = 1.0, wi = 0.0;
  for (int k = 1; k <= (n >> 1) / 2; ++k) {
    const double t0 = wr;
    wr = wr * wpr - wi * wpi + wr;
    wi = wi * wpr + t0 * wpi + wi;
    w.push_back(wr);
    w.push_back(wi);
  }
}

// The table of a length that is a power of two up to 2^16, -1 for any other.
int tableSlot(int n) {
  if (n < 2 || (n & (n - 1)) != 0) return -1;
  int log = 0;
  while ((1 << log) < n) ++log;
  return log < kTwiddleLogs ? log : -1;
}

const double* fftTwiddles(int n, int sign, std::vector<double>& local) {
  static TwiddleTable tables[2][kTwiddleLogs];
  const int dir = sign >= 0 ? 1 : -1;
  const int slot = tableSlot(n);
  if (slot < 0) {
    makeFftTwiddles(n, dir, local);
    return local.data();
  }
  TwiddleTable& t = tables[dir > 0 ? 1 : 0][slot];
  std::call_once(t.made, [&] { makeFftTwiddles(n, dir, t.w); });
  return t.w.data();
}

const double* realTwiddles(int n, std::vector<double>& local) {
  static TwiddleTable tables[kTwiddleLogs];
  const int slot = tableSlot(n);
  if (slot < 0) {
    makeRealTwiddles(n, local);
    return local.data();
  }
  TwiddleTable& t = tables[slot];
  std::call_once(t.made, [&] { makeRealTwiddles(n, t.w); });
  return t.w.data();
}

}  // namespace

// ---- Transforms -----------------------------------------------------------------------------

void fft(double* data, int n, int sign) {
  // Bit-reversal permutation of the n/2 complex values.
  for (int i = 1, j = 1; i < n; i += 2) {
    if (j > i) {
      std::swap(data[j], data[i]);
      std::swap(data[j + 1], data[i + 1]);
    }
    int m = n >> 1;
    while (m >= 2 && j > m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }
  // Butterflies of growing span.
  std::vector<double> local;
  const double* tw = fftTwiddles(n, sign, local);
  for (int span = 2; span < n; span <<= 1) {
    const int step = span << 1;
    for (int m = 1; m < span; m += 2, tw += 2) {
      const double wr = tw[0], wi = tw[1];
      for (int i = m; i <= n; i += step) {
        const int k = i + span;
        const double tr = wr * data[k] - wi * data[k + 1];
        const double ti = wr * data[k + 1] + wi * data[k];
        data[k] = data[i] - tr;
        data[k + 1] = data[i + 1] - ti;
        data[i] += tr;
        data[i + 1] += ti;
      }
    }
  }
}

void realfft(double* data, int n, int sign) {
  const int half = n >> 1;   // complex values of the packed transform
  std::vector<double> local;
  const double* tw = realTwiddles(n, local);   // cos(theta k), sin(theta k) for k = 1, 2, ...
  if (sign >= 0) {
    fft(data, n, 1);
    const double z0r = data[1], z0i = data[2];
    data[1] = z0r + z0i;
    data[2] = z0r - z0i;
    for (int k = 1; k <= half / 2; ++k) {
      const double wr = tw[2 * k - 2], wi = tw[2 * k - 1];
      const int a = 2 * k + 1, b = 2 * (half - k) + 1;
      const double ar = data[a], ai = data[a + 1], br = data[b], bi = data[b + 1];
      const double fer = 0.5 * (ar + br), fei = 0.5 * (ai - bi);
      const double for_ = 0.5 * (ai + bi), foi = -0.5 * (ar - br);
      // t = W^k * Fo with W^k = cos - i sin.
      const double tr = wr * for_ + wi * foi, ti = wr * foi - wi * for_;
      data[a] = fer + tr;
      data[a + 1] = fei + ti;
      if (b != a) {
        data[b] = fer - tr;
        data[b + 1] = -(fei - ti);
      }
    }
  } else {
    const double x0 = data[1], xn = data[2];
    data[1] = 0.5 * (x0 + xn);
    data[2] = 0.5 * (x0 - xn);
    for (int k = 1; k <= half / 2; ++k) {
      const double wr = tw[2 * k - 2], wi = tw[2 * k - 1];
      const int a = 2 * k + 1, b = 2 * (half - k) + 1;
      const double ar = data[a], ai = data[a + 1], br = data[b], bi = data[b + 1];
      const double fer = 0.5 * (ar + br), fei = 0.5 * (ai - bi);
      const double dr = ar - br, di = ai + bi;
      // Fo = D * conj(W^k) / 2 with conj(W^k) = cos + i sin.
      const double for_ = 0.5 * (dr * wr - di * wi), foi = 0.5 * (dr * wi + di * wr);
      data[a] = fer - foi;
      data[a + 1] = fei + for_;
      if (b != a) {
        data[b] = fer + foi;
        data[b + 1] = -(fei - for_);
      }
    }
    fft(data, n, -1);
  }
}

void cosfft(double* data, int n, int sign) {
  // Both directions go through a real transform of 2n values.
  double local[2 * 64 + 1];
  double* buf = 2 * n <= 128 ? local : new double[2 * n + 1];
  const double* f = data + 1;
  if (sign >= 0) {
    // G[k] is the real part of bin k of the zero-padded sequence's transform of length 2n.
    for (int j = 0; j < n; ++j) buf[1 + j] = f[j];
    for (int j = n; j < 2 * n; ++j) buf[1 + j] = 0.0;
    realfft(buf, 2 * n, 1);
    data[1] = buf[1];
    for (int k = 1; k < n; ++k) data[1 + k] = buf[2 * k + 1];
  } else {
    // The even extension of the input has the zero-padded sequence's even part as its
    // transform; the value at n follows from that sequence being zero at n.
    double alt = f[0];
    for (int k = 1; k < n; ++k) alt += (k & 1 ? -2.0 : 2.0) * f[k];
    const double rn = -alt;
    buf[1] = f[0];
    for (int k = 1; k < n; ++k) buf[1 + k] = buf[1 + 2 * n - k] = f[k];
    buf[1 + n] = rn;
    realfft(buf, 2 * n, 1);
    data[1] = buf[1] / 4.0;
    for (int j = 1; j < n; ++j) data[1 + j] = buf[2 * j + 1] / 2.0;
  }
  if (buf != local) delete[] buf;
}

// ---- DC removal -----------------------------------------------------------------------------

void removeDcOffset(int16_t* samples, int count, int32_t offset) {
  if (offset > 0) {
    int32_t prev = -kDcClampLimit;
    const int32_t limit = offset - kDcClampLimit;
    for (int i = 0; i < count; ++i) {
      const int32_t s = samples[i];
      prev = s <= limit ? prev : s - offset;
      samples[i] = static_cast<int16_t>(std::clamp<int32_t>(prev, -32768, 32767));
      prev = samples[i];
    }
  } else if (offset < 0) {
    int32_t prev = kDcClampLimit;
    const int32_t limit = offset + kDcClampLimit;
    for (int i = 0; i < count; ++i) {
      const int32_t s = samples[i];
      prev = s >= limit ? prev : s - offset;
      samples[i] = static_cast<int16_t>(std::clamp<int32_t>(prev, -32768, 32767));
      prev = samples[i];
    }
  }
}

// ---- Channel cleanup: high-pass --------------------------------------------------------------

namespace {

int cleanupOn = 1;

// A biquad section of the fourth-order Butterworth high-pass (b0, b1, b2, a1, a2; a0 = 1).
struct Section {
  double b0, b1, b2, a1, a2;
};

Section highPassSection(double q) {
  const double w0 = 2.0 * kPi * kHighPassHz / kSampleRate;
  const double c = std::cos(w0), alpha = std::sin(w0) / (2.0 * q);
  const double a0 = 1.0 + alpha;
  return {(1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}

}  // namespace

void setChannelCleanup(int on) { cleanupOn = on ? 1 : 0; }
int channelCleanupOn() { return cleanupOn; }

void highPassChunk(const int16_t* in, double* out, int count, double state[4]) {
  // The two sections' quality factors: 1 / (2 cos(pi/8)) and 1 / (2 cos(3 pi/8)).
  static const Section s1 = highPassSection(0.54119610014619698);
  static const Section s2 = highPassSection(1.3065629648763766);
  double z1 = state[0], z2 = state[1], z3 = state[2], z4 = state[3];
  for (int i = 0; i < count; ++i) {
    const double x = in[i];
    const double y = s1.b0 * x + z1;
    z1 = s1.b1 * x - s1.a1 * y + z2;
    z2 = s1.b2 * x - s1.a2 * y;
    const double v = s2.b0 * y + z3;
    z3 = s2.b1 * y - s2.a1 * v + z4;
    z4 = s2.b2 * y - s2.a2 * v;
    out[i] = v;
  }
  state[0] = z1, state[1] = z2, state[2] = z3, state[3] = z4;
}

// ---- Channel cleanup: the noise floor of the filter bank ---------------------------------------

namespace {
int noiseFloorOn = 1;
}  // namespace

void setNoiseFloorSubtraction(int on) { noiseFloorOn = on ? 1 : 0; }
int noiseFloorSubtractionOn() { return noiseFloorOn; }

void NoiseFloor::subtract(double F[kFilterCount]) {
  if (!primed) {
    for (int f = 0; f < kFilterCount; ++f) smooth[f] = floor[f] = F[f];
    primed = 1;
  }
  // The chunk's signal-to-noise ratio, smoothed outputs against the noise (twice the floor) over
  // all filters, sets how much more than the noise is taken off.
  double sumS = 0, sumN = 0;
  for (int f = 0; f < kFilterCount; ++f) {
    smooth[f] = kNoiseSmooth * F[f] + (1.0 - kNoiseSmooth) * smooth[f];
    floor[f] = std::min(smooth[f], floor[f] * kNoiseFloorRise);
    sumS += smooth[f];
    sumN += kNoiseOverSubtract * floor[f];
  }
  double alpha = 1.0;
  if (sumN > 0 && sumS > 0) {
    const double snrDb = 10.0 * std::log10(sumS / sumN);
    alpha = std::clamp(1.0 + kNoiseAlphaPerDb * (kNoiseCleanDb - snrDb), 1.0, kNoiseAlphaMax);
  }
  for (int f = 0; f < kFilterCount; ++f)
    F[f] = std::max(F[f] - alpha * kNoiseOverSubtract * floor[f], kNoiseKeep * F[f]);
}

// ---- Filter bank ----------------------------------------------------------------------------

const int* melFilterBankTable(int* integers) {
  ensureBank();
  if (integers) *integers = bankInts;
  return bankTable;
}

int WavChannel::melFilterBankWithVTLN(int vtln) {
  if (vtln < 1 || vtln >= kSpectrumBins) {
    logError("melFilterBankWithVTLN: warp bin out of range; filter bank kept");
    ensureBank();
    return bankInts;
  }
  static int fresh[kMaxBankInts];
  const int n = buildBank(vtln, fresh);
  std::memcpy(bankTable, fresh, sizeof(int) * n);
  bankInts = n;
  bankVtln = vtln;
  return n;
}

int WavChannel::melFilterBankSecondEFormantBin() { return bankVtln; }

// ---- The per-chunk analysis -----------------------------------------------------------------

namespace {

// Saturating conversions: a value outside the 16-bit range (only from pathological input)
// is stored at the nearest limit instead of wrapping around.
inline int32_t toInt32(double v) {
  if (!(v > -2147483648.0)) return INT32_MIN;   // also NaN
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(v);   // truncation toward zero
}
inline int16_t toInt16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

// ln of a band sum or filter output given in spectrum units (not divided by 2^50) minus ln 2^50.
// An exact zero (digital silence) has no logarithm: values below one spectrum unit are taken
// as one unit, which lies far below the energy of any non-silent chunk.
inline double logScaled(double x) { return std::log(x < 1.0 ? 1.0 : x) - kLnTwo50; }
// The same guard on a band energy already divided by 2^50.
constexpr double kMinBand = 1.0 / kTwo50;
inline double logBand(double x) { return std::log(x < kMinBand ? kMinBand : x); }

}  // namespace

void WavChannel::analyseChunk(Frame* frame) {
  // Step 5: the 254 newest samples under the window, oldest first, between two zeros.
  const int32_t* W = welchWin().w;
  double buf[kFftLength + 1];
  double* data = buf;   // data[1] is the first value
  data[1] = 0.0;
  data[kFftLength] = 0.0;
  int i = 0;   // 0 = newest sample
  if (cleanupOn) {
    // The high-passed copies of this chunk and the two before it.
    for (int piece = 0; piece < 3 && i < kWindowLength; ++piece) {
      const double* s = highPassed[(highPassNewest + 3 - piece) % 3];
      for (int k = kChunkSamples - 1; k >= 0 && i < kWindowLength; --k, ++i) data[kFftLength - 1 - i] = s[k] * W[i];
    }
  } else {
    int32_t pos = rawWrite;
    for (int piece = 0; piece < 3 && i < kWindowLength; ++piece) {
      const int16_t* s = reinterpret_cast<const int16_t*>(rawRing + pos);
      for (int k = kChunkSamples - 1; k >= 0 && i < kWindowLength; --k, ++i)
        data[kFftLength - 1 - i] = static_cast<double>(static_cast<int32_t>(s[k]) * W[i]);
      pos = pos == 0 ? kRawRingBytes - kChunkBytes : pos - kChunkBytes;
    }
  }

  // Step 6.
  advanceRawWrite();

  // Step 7: power spectrum, the lowest bins weighted down.
  realfft(data, kFftLength, 1);
  double P[kSpectrumBins];
  P[0] = data[1] * data[1];
  for (int k = 1; k < kSpectrumBins; ++k) P[k] = data[2 * k + 1] * data[2 * k + 1] + data[2 * k + 2] * data[2 * k + 2];
  P[0] = P[0] * 2.0 / 7.0;
  P[1] = P[1] * 3.0 / 7.0;
  P[2] = P[2] * 4.0 / 7.0;
  P[3] = P[3] * 5.0 / 7.0;
  P[4] = P[4] * 6.0 / 7.0;

  // Step 8: band sums and the frame power.
  double lowRaw = 0.0, midRaw = 0.0, highRaw = 0.0;
  for (int k = 1; k <= 4; ++k) lowRaw += P[k];
  for (int k = 5; k <= 78; ++k) midRaw += P[k];
  for (int k = 79; k < kSpectrumBins; ++k) highRaw += P[k];
  const double low = lowRaw / kTwo50, mid = midRaw / kTwo50, high = highRaw / kTwo50;
  frame->power = toInt32(std::trunc(512.0 * (std::log(mid + 16.0) - kLn16)));
  const double e1 = low + mid;

  if (displayHook) {
    double D[kSpectrumBins];
    for (int k = 0; k < kSpectrumBins; ++k) {
      const double f = kBinSpacing * (k + 1) / 800.0;
      D[k] = 8.0 * std::log((1.0 + f * f) * (P[k] < 1.0 ? 1.0 : P[k]));
    }
    displayHook(D, kSpectrumBins, frame->power > threshold());
  }

  // Step 9: the static vector of this chunk.
  double F[kFilterCount] = {};
  ensureBank();
  for (int t = 0; t < bankInts; t += 3) F[bankTable[t] - kFilterDestBase] += bankTable[t + 2] * P[bankTable[t + 1]];
  if (cleanupOn && noiseFloorSubtractionOn()) bankFloor.subtract(F);
  double L[kFilterCount + 1];
  for (int f = 0; f < kFilterCount; ++f) L[1 + f] = logScaled(F[f]);
  cosfft(L, kFilterCount, 1);
  double* S = history[slot];
  S[0] = 20.0 * logBand(e1);
  S[1] = 24.8 * logBand(high);
  for (int k = 0; k < kCepstra; ++k) S[2 + k] = kCepWeight[k] * L[1 + k];
}

int WavChannel::isFrameAvailableFromSignalProcessing(Frame* frame) {
  if (!rawRing) return -3;
  for (;;) {
    // Step 1: the next chunk into the raw ring.
    int16_t* chunk = reinterpret_cast<int16_t*>(rawRing + rawWrite);
    const int rc = getWAVCHUNKshorts(reinterpret_cast<short*>(chunk));
    if (rc != kChunkSamples) return rc < 0 ? rc : -3;   // a short delivery ends the input

    // Steps 2 and 3: DC sums on the raw samples, then the offset removed in place.
    int32_t sum = 0;
    for (int k = 0; k < kChunkSamples; ++k) sum += chunk[k];
    dcSum += sum;
    ++dcChunks;
    if (firstChunk && cleanupOn) {
      // The first chunk's own mean is the DC estimate until the utterance's end refines it.
      const int32_t mean = (sum + (sum < 0 ? -kChunkSamples / 2 : kChunkSamples / 2)) / kChunkSamples;
      dcOffsetValue = mean == 0 ? 1 : mean;
    }
    firstChunk = 0;
    removeDcOffset(chunk, kChunkSamples, dcOffsetValue);
    if (cleanupOn) {
      highPassNewest = (highPassNewest + 1) % 3;
      highPassChunk(chunk, highPassed[highPassNewest], kChunkSamples, highPassState);
    }

    // Step 4: with no earlier chunk held, this one is only stored.
    if (rawWrite == rawRead) {
      advanceRawWrite();
      continue;
    }

    analyseChunk(frame);   // steps 5 to 9

    // Step 10: every other chunk only fills the history.
    if (oddChunk == 0) {
      oddChunk = 1;
      slot = (slot + 1) & 3;
      continue;
    }
    const double* S0 = history[slot];
    const double* S1 = history[(slot + 3) & 3];   // s - 1
    const double* S2 = history[(slot + 2) & 3];   // s - 2
    const double* S3 = history[(slot + 1) & 3];   // s - 3
    // Step 11: the second analysed chunk primes the first delta vector.
    if (firstFrame) {
      double* d = deltas[slot >> 1];
      for (int k = 0; k < kStaticFeatures; ++k) d[k] = 2.5 * kDeltaWeight[k] * (S0[k] - S1[k]);
      firstFrame = 0;
      frameCounter = -1;
      oddChunk = 0;
      slot = (slot + 1) & 3;
      if (top.level == 0) {
        bottom.level = 10;
        top.level = 400;
      }
      continue;
    }

    // Step 12: a frame.
    double* N = deltas[slot >> 1];
    const double* O = deltas[(slot >> 1) ^ 1];
    for (int k = 0; k < kStaticFeatures; ++k) N[k] = kDeltaWeight[k] * (S1[k] + S0[k] - S3[k] - S2[k]);
    int16_t* feat = frame->features;
    for (int k = 0; k < kStaticFeatures; ++k) {
      const int32_t smooth = toInt32(std::trunc(S3[k] + 2.0 * S2[k] + S1[k] + 2.0)) >> 2;
      feat[k] = toInt16(static_cast<int64_t>(smooth) + normaliser[k]);
    }
    if ((pendingUtt || activeUtt) && frame->power > speechThreshold()) {
      for (int k = 0; k < kStaticFeatures; ++k) speechAccum[k] += feat[k];
      ++speechFrames;
    }
    for (int k = 0; k < kDeltaFeatures; ++k) feat[kFirstDelta + k] = toInt16(toInt32(std::trunc(O[k])));
    feat[kFirstSecondDiff] = toInt16(toInt32(std::trunc((N[0] - O[0]) * 0.28)));
    feat[kFirstSecondDiff + 1] = toInt16(toInt32(std::trunc((N[1] - O[1]) * 0.255)));
    ++frameCounter;
    oddChunk = 0;
    slot = (slot + 1) & 3;
    return frameCounter;
  }
}

// ---- Normaliser and DC updates --------------------------------------------------------------

void WavChannel::resetChannelAccums(Utterance* utt) {
  if (speechFrames < kMinSpeechFrames || (flags & NORMALISER_FROZEN)) return;

  // DC: the mean of the samples summed since the last update, rounded, averaged with the offset.
  if (dcChunks > 0) {
    const int64_t n = 100LL * dcChunks;
    int64_t sum = dcSum;
    sum += (sum < 0 ? -n : n) >> 1;
    int32_t offset = static_cast<int32_t>((static_cast<int64_t>(dcOffsetValue) + sum / n) >> 1);
    dcOffsetValue = offset == 0 ? 1 : offset;
  }
  dcSum = 0;
  dcChunks = 0;

  // Normaliser: one step of each static feature's mean toward its target.
  int32_t step[kStaticFeatures];
  for (int i = 0; i < kStaticFeatures; ++i) {
    const int64_t mean = (speechAccum[i] + speechFrames / 2) / speechFrames;
    const int target = i == 0 ? kNormTarget0 : kNormTarget;
    step[i] = static_cast<int32_t>(std::trunc(static_cast<double>(target - mean) / kNormRate[i]));
    normaliser[i] += step[i];
  }
  if (utt) {
    for (Frame& f : utt->frames)
      for (int i = 0; i < kStaticFeatures; ++i) f.features[i] = toInt16(static_cast<int64_t>(f.features[i]) + step[i]);
    utt->flags |= Utterance::UTT_NORMALISED;
  }
  std::memset(speechAccum, 0, sizeof speechAccum);
  speechFrames = 0;
}

// ---- The utterance's own normaliser -----------------------------------------------------------

int ownNormaliserShift(const Frame* frames, int count, int prior, int32_t shift[kStaticFeatures]) {
  for (int i = 0; i < kStaticFeatures; ++i) shift[i] = 0;
  if (!frames || count <= 0) return 0;
  int32_t lo = frames[0].power, hi = lo;
  for (int t = 1; t < count; ++t) {
    lo = std::min(lo, frames[t].power);
    hi = std::max(hi, frames[t].power);
  }
  const int32_t threshold = static_cast<int32_t>((6LL * hi + lo) >> 3);
  int64_t sum[kStaticFeatures] = {};
  int n = 0;
  for (int t = 0; t < count; ++t) {
    if (frames[t].power <= threshold) continue;
    for (int i = 0; i < kStaticFeatures; ++i) sum[i] += frames[t].features[i];
    ++n;
  }
  if (n == 0) return 0;
  // The level (the two energies and c0) is the channel's alone: the utterance decides it. The
  // spectral shape (c1..c14) leans on the prior, since a short utterance's own mean depends on
  // its words.
  const double weight = static_cast<double>(n) / (n + std::max(prior, 0));
  for (int i = 0; i < kStaticFeatures; ++i) {
    const double target = i == 0 ? kNormTarget0 : kNormTarget;
    const double d = (target - static_cast<double>(sum[i]) / n) * (i < kLevelFeatures ? 1.0 : weight);
    shift[i] = static_cast<int32_t>(d < 0 ? d - 0.5 : d + 0.5);
  }
  return n;
}

void shiftStatics(Frame* frames, int count, const int32_t shift[kStaticFeatures]) {
  for (int t = 0; t < count; ++t)
    for (int i = 0; i < kStaticFeatures; ++i)
      frames[t].features[i] = toInt16(static_cast<int64_t>(frames[t].features[i]) + shift[i]);
}

const int16_t kEnergyFloor[3] = {60, 18, 3};

void floorEnergies(Frame* frames, int count) {
  for (int t = 0; t < count; ++t)
    for (int i = 0; i < 3; ++i) frames[t].features[i] = std::max(frames[t].features[i], kEnergyFloor[i]);
}

int hearWhole(Utterance* utt) {
  utt->complete(0);
  return normaliseOwnMean(utt);
}

int normaliseOwnMean(Utterance* utt, int prior) {
  if (!utt || !utt->isComplete()) return -1;
  const int count = utt->frameCount();
  if (count == 0) return 0;
  Frame* frames = &utt->frames[0];
  int32_t shift[kStaticFeatures];
  const int n = ownNormaliserShift(frames, count, prior, shift);
  shiftStatics(frames, count, shift);
  floorEnergies(frames, count);
  utt->flags |= Utterance::UTT_NORMALISED;
  return n;
}

void WavChannel::dcOverflowGuard() {
  if (dcChunks > 65536 || dcSum > (1LL << 30) || dcSum < -(1LL << 30)) {
    if (dcChunks > 0) {
      const int32_t offset = static_cast<int32_t>(dcSum / (100LL * dcChunks));
      dcOffsetValue = offset == 0 ? 1 : offset;
    }
    dcSum = 0;
    dcChunks = 0;
  }
}

void WavChannel::setCepstralNormaliser(const int32_t* values) {
  if (values) std::memcpy(normaliser, values, sizeof normaliser);
}

void WavChannel::clearNormaliser() {
  std::memset(normaliser, 0, sizeof normaliser);
  std::memset(speechAccum, 0, sizeof speechAccum);
  speechFrames = 0;
}

void WavChannel::freezeNormaliser(int on) {
  if (on)
    flags |= NORMALISER_FROZEN;
  else
    flags &= ~NORMALISER_FROZEN;
}

}  // namespace vlm
