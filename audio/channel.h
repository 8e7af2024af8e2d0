// Audio channels: the application's single audio input. A WavChannel pulls 100-sample chunks from
// its source (samples in memory, a wave file, or the microphone), runs the feature front end
// (audio/frontend.h), finds where speech starts and ends with two PowerTrackers, and hands out
// each spoken phrase as an Utterance (audio/utterance.h). See docs/audio-frontend.md.
//
// Everything here runs on the one thread that polls the channel. The front end's filter bank is
// process-wide: only one channel analyses at a time, and the bank is not rebuilt meanwhile.
#pragma once
#include <algorithm>
#include <cstdint>
#include "audio/frame.h"
#include "audio/frontend.h"
#include "audio/waveio.h"
#include "audio/wavefile.h"

namespace vlm {

class Utterance;

// A sliding-window counter of frames on one side of a threshold. A hit is a frame whose power is
// above the threshold (top tracker) or below it (bottom tracker); a frame exactly at the threshold
// is neither. While filling, every frame since the reset is counted; once the window is full the
// tracker slides, adding the new frame's hit and taking away the hit of the frame that leaves.
class PowerTracker {
 public:
  static constexpr int kCells = 101;       // ring cells
  static constexpr int kMaxWindow = 99;    // window lengths stay below 100

  PowerTracker() = default;
  ~PowerTracker();
  PowerTracker(const PowerTracker&) = delete;
  PowerTracker& operator=(const PowerTracker&) = delete;

  // Asserts window < 100 ("winlen < FRAME_CACHE_SIZE"); allocates the ring once; level = 0; then
  // resetTop (top non-zero) or resetBottom.
  void init(int window, int hitThreshold, int top);
  void resetTop();
  void resetBottom();
  // window = min(window, 99); a hit threshold >= window becomes (window * 7) >> 3; the ring is
  // emptied and a sliding step goes back to filling (top or bottom kept).
  void reInit(int window, int hitThreshold);
  // level = level * percent / 100 + 1.
  void scaleValue(int percent);

  // One frame through the current step; 1 when the hit count reaches the hit threshold.
  int track(int32_t power, int32_t threshold) { return (this->*step)(power, threshold); }
  int trackTopNoAdvanceTail(int32_t power, int32_t threshold);
  int trackTopAdvanceTail(int32_t power, int32_t threshold);
  int trackBottomNoAdvanceTail(int32_t power, int32_t threshold);
  int trackBottomAdvanceTail(int32_t power, int32_t threshold);

  int frameCount() const;   // frames in the window now (0 .. window)
  int window() const { return winLen; }
  int hitThreshold() const { return hitThresh; }
  int hits() const { return hitCount; }
  int isTop() const { return topStep; }
  int isSliding() const { return sliding; }

  int32_t level = 0;   // the noise floor (bottom tracker) or the speech peak (top tracker)

 private:
  using Step = int (PowerTracker::*)(int32_t, int32_t);
  int fill(int hit);
  int slide(int hit);

  int32_t* ring = nullptr;
  int32_t* ringEnd = nullptr;
  int32_t* head = nullptr;
  int32_t* tail = nullptr;
  int32_t winLen = 0;
  int32_t hitThresh = 0;
  int32_t hitCount = 0;
  int topStep = 0;
  int sliding = 0;
  Step step = &PowerTracker::trackBottomNoAdvanceTail;
};

// The endpointing threshold lies at most this far (in frame power units, about 13 dB of mid-band
// energy) above the noise floor (docs/audio-frontend.md, "Endpointing").
constexpr int32_t kThresholdRiseCap = 1500;

// The base channel. Subclasses supply the chunk source (getWAVCHUNKshorts) and listen.
class WavChannel {
 public:
  enum : uint32_t {
    LISTENING = 0x40,
    OPEN = 0x80,
    KEEP_WAVE_DATA = 0x100,
    NIST_FILE = 0x200,
    RIFF_FILE = 0x400,
    NORMALISER_FROZEN = 0x800,
  };
  // Called for every analysed chunk with 128 log-weighted spectral values, 128 and the speech
  // flag (the chunk's power above the endpointing threshold).
  using DisplayHook = void (*)(double* spectrum, int count, int speech);
  static constexpr int kPreSpeechFrames = 100;

  explicit WavChannel(DisplayHook hook = nullptr);
  virtual ~WavChannel();
  WavChannel(const WavChannel&) = delete;
  WavChannel& operator=(const WavChannel&) = delete;

 protected:
  // The chunk source: copies 100 samples into buffer and returns 100, or a negative code:
  // -1 nothing available yet (try later), -3 end of input.
  virtual int getWAVCHUNKshorts(short* buffer) = 0;

 public:
  virtual void keepWavData(int on);
  // Resets the front end (DC offset 1, first frame pending, history and raw ring positions) and
  // the start-of-speech search; drops a pending utterance; sets open. Returns 1.
  virtual int open(const char* path);
  // Clears open and listening (a pending utterance is dropped).
  virtual void close();
  // Returns 0 when the channel is not open; on when it already is in that state; listen(0)
  // deletes the pending utterance, marks a current utterance that is not complete as aborted and
  // forgets it, and clears listening.
  virtual int listen(int on, const WaveFormat* format) = 0;
  // Plays a sound file with the platform's sound player (flags masked to the low 5 bits).
  // Returns 1 when played, 0 when not.
  virtual int beep(const char* path, int flags);

  // 0 when not listening or while a taken utterance is current; 1 when an utterance is pending
  // (found now or before); otherwise a negative code: -1 no audio yet, -3 end of input, -2 or a
  // source's own code.
  int isUttAvailable();
  // Takes the pending utterance: it becomes the current one and the caller owns it. Null when
  // none is pending.
  Utterance* takeUtt();
  Utterance* pendingUtterance() const { return pendingUtt; }
  Utterance* activeUtterance() const { return activeUtt; }

  // Raw recording without analysis: stores every chunk the source has ready into the raw ring
  // and returns 1 when the ring holds data not yet moved to a file.
  int isRawWavAvailableNoSignalProcessing();
  // Writes the raw bytes from the read to the write position to fd (two pieces when they wrap,
  // each rounded down to an even length); returns the bytes written.
  unsigned moveRawWavToFile(int fd);

  // Sets the search's frame limit (maxFramesInUtt) when 101 <= n <= 452; returns the limit in
  // force (444 initially).
  static int setMaxFramesInUtt(int n);

  // Rebuilds the process-wide filter bank for warp bin vtln; returns 3 x its triples (558 at 58).
  static int melFilterBankWithVTLN(int vtln);
  // The warp bin the current filter bank was built for.
  static int melFilterBankSecondEFormantBin();
  // The per-utterance DC and normaliser update (done when at least 10 speech frames were
  // accumulated and the normaliser is not frozen); utt's frames are shifted by the step and the
  // utterance marked normalised. utt may be null.
  void resetChannelAccums(Utterance* utt);
  // When no chunk is available: re-estimates the DC offset before its sums can overflow.
  void dcOverflowGuard();

  // Frames of the source without endpointing (tools and trainers): one frame per call; returns
  // the frame counter (0, 1, ...) or a negative chunk code. Equivalent to the analysis the
  // endpointer runs, without speech accumulation.
  int nextFrame(Frame* frame) { return isFrameAvailableFromSignalProcessing(frame); }

  // ---- The channel store: what a speaker's model file keeps (copied by the User) -------------
  const int32_t* cepstralNormaliser() const { return normaliser; }
  void setCepstralNormaliser(const int32_t* values);   // 17 values
  int32_t dcOffset() const { return dcOffsetValue; }
  void setDcOffset(int32_t offset) { dcOffsetValue = offset; }
  int32_t noiseFloor() const { return bottom.level; }
  void setNoiseFloor(int32_t level) { bottom.level = level; }
  int32_t speechPeak() const { return top.level; }
  void setSpeechPeak(int32_t level) { top.level = level; }
  // Zeroes the normaliser, the speech accumulators and their count.
  void clearNormaliser();
  void freezeNormaliser(int on);

  uint32_t channelFlags() const { return flags; }
  int isOpen() const { return (flags & OPEN) != 0; }
  int isListening() const { return (flags & LISTENING) != 0; }
  int32_t lastFramePower() const { return lastPower; }
  // The endpointing threshold: seven eighths of the way from the floor to the speech peak, but
  // never more than kThresholdRiseCap above the floor, so that a speaker quieter than the peak
  // the channel remembers (a stored or a louder speaker's) is still heard.
  int32_t threshold() const { return std::min(speechThreshold(), bottom.level + kThresholdRiseCap); }
  // Seven eighths of the way from the floor to the speech peak: the frames above it are the
  // speech the per-utterance normaliser update averages.
  int32_t speechThreshold() const { return (6 * top.level + bottom.level) >> 3; }
  PowerTracker& bottomTracker() { return bottom; }
  PowerTracker& topTracker() { return top; }
  int32_t speechFrameCount() const { return speechFrames; }

 protected:
  friend class Utterance;

  // The front end: consumes chunks until a frame is complete; returns the frame counter or a
  // negative chunk code. frame->power is overwritten by every analysed chunk.
  int isFrameAvailableFromSignalProcessing(Frame* frame);
  // Adds one frame to the current utterance: 1 added; -1 no audio yet; -2 utterance complete;
  // other negative codes abort it.
  int isFrameAvailableFromSignalProcessing(Utterance* utt);
  // Ends utt: resets the top tracker, forgets it, marks it complete and copies its raw samples.
  void eouCleanup(Utterance* utt);
  // listen(0)'s work without the state checks.
  void stopListening();
  void dropPending();
  void emptyPreSpeech() { preWrite = 0; preCount = 0; }
  void advanceRawWrite();
  int rawHeld(int32_t position) const;   // 1 when position lies in [read, write) in ring order

  uint32_t flags = 0;

  // Endpointing.
  Frame preSpeech[kPreSpeechFrames] = {};
  int preWrite = 0;   // next slot
  int preCount = 0;   // frames held
  PowerTracker bottom;   // end of utterance; its level is the noise floor
  PowerTracker top;      // start of utterance; its level is the speech peak
  int32_t lastPower = 0;
  Utterance* pendingUtt = nullptr;   // owned by the channel
  Utterance* activeUtt = nullptr;    // owned by the caller who took it

  // Raw ring: 1024 chunks; positions in bytes on chunk boundaries; mark -1 = none.
  char* rawRing = nullptr;
  int32_t rawWrite = 0;
  int32_t rawRead = 0;
  int32_t uttMark = -1;

  // DC state. The sum is kept in 64 bits so a long loud file cannot overflow it.
  int64_t dcSum = 0;
  int32_t dcChunks = 0;
  int32_t dcOffsetValue = 1;

  // The high-pass filter's state and the last three chunks it filtered (the analysis window's
  // samples); the raw ring keeps the unfiltered samples.
  double highPassState[4] = {};
  double highPassed[3][kChunkSamples] = {};
  int highPassNewest = 0;
  int firstChunk = 1;   // the first chunk after open sets the DC offset from its own samples
  NoiseFloor bankFloor;   // the filter bank's noise floor, from the first chunk after open

  // Frame assembly state (kept per channel).
  int firstFrame = 1;
  int slot = 0;
  int oddChunk = 0;
  int32_t frameCounter = 0;
  double history[4][kStaticFeatures] = {};
  double deltas[2][kStaticFeatures] = {};

  // Cepstral mean normaliser and its speech accumulators.
  int32_t normaliser[kStaticFeatures];
  int64_t speechAccum[kStaticFeatures] = {};
  int32_t speechFrames = 0;

  DisplayHook displayHook = nullptr;

 private:
  // Steps 5 to 9 for the chunk at the write position: window, spectrum, power, static vector.
  void analyseChunk(Frame* frame);
};

// A record of samples in memory.
struct WaveData {
  int16_t* samples;
  int32_t count;
};

// Samples in memory.
class StaticWavChannel : public WavChannel {
 public:
  explicit StaticWavChannel(DisplayHook hook = nullptr) : WavChannel(hook) {}
  ~StaticWavChannel() override;
  // start = samples, end = start + count; keep-wave-data cleared; then the base open. Returns 1,
  // or 0 for a null record.
  int open(WaveData* data);
  int open(const char* path) override;   // not supported: 0
  void close() override;
  int listen(int on, const WaveFormat* format) override;   // listen(1) rewinds to the start

 protected:
  // 100 samples while more than 100 remain from the read position, else -3.
  int getWAVCHUNKshorts(short* buffer) override;

  const int16_t* start = nullptr;
  const int16_t* end = nullptr;
  const int16_t* readPos = nullptr;
};

// A wave file: NIST (1024-byte header) or RIFF (11025 Hz, 16-bit mono).
class FileWavChannel : public WavChannel {
 public:
  explicit FileWavChannel(DisplayHook hook = nullptr) : WavChannel(hook) {}
  ~FileWavChannel() override;
  // Closes any open file, opens path and positions it at the first sample. Returns 1, or 0 when
  // the file cannot be opened or is not an accepted wave file.
  int open(const char* path) override;
  void close() override;
  int listen(int on, const WaveFormat* format) override;
  const char* header() const { return headerBuf; }

 protected:
  // Reads 200 bytes: 100 when all arrive, else -3.
  int getWAVCHUNKshorts(short* buffer) override;

  int fd = -1;
  int64_t dataLeft = -1;   // RIFF: bytes of the data chunk still to read; -1: to the file's end
  char headerBuf[kWaveHeaderBufferBytes] = {};
};

// The microphone through the audio device layer (audio/waveio.h).
class LiveWavChannel : public WavChannel {
 public:
  explicit LiveWavChannel(DisplayHook hook = nullptr, unsigned device = kWaveMapper)
      : WavChannel(hook), deviceId(device) {}
  ~LiveWavChannel() override;
  int open(const char* path) override;   // opens the device layer, then the base
  void close() override;                 // the base, then closes the device layer
  // listen(1): starts the microphone (null format: 11025 Hz 16-bit mono); 1 when recording, else
  // 0 (as after listen(0)). listen(0): turns the microphone off first.
  int listen(int on, const WaveFormat* format) override;
  // Bit 0x20 of flags (or the process-wide half-duplex bit) while listening: stop listening, play,
  // listen again. Otherwise play; an output device that cannot be opened sets the half-duplex bit
  // the first time and shows "Failed to open waveform output device." after that.
  int beep(const char* path, int flags) override;
  unsigned device() const { return deviceId; }

  static constexpr int kHalfDuplex = 0x20;
  static int halfDuplexBit() { return halfDuplex; }
  static void setHalfDuplexBit(int bit) { halfDuplex = bit & kHalfDuplex; }

 protected:
  int getWAVCHUNKshorts(short* buffer) override;

  unsigned deviceId;
  WaveFormat listenFormat = kDefaultWaveFormat;   // the format of the last listen(1)
  static int halfDuplex;
};

}  // namespace vlm
