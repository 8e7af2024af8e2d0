// The audio back ends under the device layer (audio/waveio.h): PortAudio capture and playback, the
// file-backed input device, the null output device, and the platform sound player. The engine
// calls the layer; only the layer calls these.
#pragma once
#include <cstdint>
#include <vector>

namespace vlm {

struct WaveFormat;
class WaveInFifo;

// 1 when format is one the devices handle: PCM, 1 or 2 channels, 8 or 16 bits, a consistent
// block alignment, 1000 to 192000 samples/s.
int isPlayableFormat(const WaveFormat* format);

// A recording device. It fills buffers of the fifo from its own thread (the one producer) once
// started. stop() returns only when that thread will deliver nothing more.
class InputDevice {
 public:
  virtual ~InputDevice() = default;
  // 1 when the device's buffers are ready to be filled (the "queue" step), else 0.
  virtual int prepare() { return 1; }
  virtual int start() = 0;   // 1 when running
  virtual void stop() = 0;   // stops and closes; idempotent
  // 1 when the device has delivered all it ever will (the file device at its end).
  virtual int ended() const { return 0; }
};

// Opens the input device: the file-backed one when $VELMORA_MIC names files, else PortAudio's
// device (kWaveMapper: the default input). Null when it cannot be opened.
InputDevice* openInputDevice(unsigned device, const WaveFormat& format, WaveInFifo& fifo);

// A playback device for one block at a time.
class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  // Starts playing the block (the device keeps the pointer until finished() or reset()).
  virtual int write(const char* data, unsigned bytes) = 0;   // 1 when playing
  virtual int finished() = 0;                                // 1 once the block has been played
  virtual void reset() = 0;                                  // stops at once
};

// Opens the output device: the null device when $VELMORA_SPEAKER is "null" or when no output
// device exists (unless $VELMORA_SPEAKER is "portaudio"), else PortAudio's (kWaveMapper: the
// default output). Null when it cannot be opened.
OutputDevice* openOutputDevice(unsigned device, const WaveFormat& format);

// The null output device: accepts any block and reports it played after the block's duration
// (at once when $VELMORA_SPEAKER_FAST=1). Every block it is given is counted (for tests).
OutputDevice* openNullOutputDevice(const WaveFormat& format);
unsigned nullOutputBlocksPlayed();
unsigned long long nullOutputBytesPlayed();

// The platform sound player. Plays a RIFF WAVE (PCM 8/16/24/32-bit or 32-bit float, any rate and
// channel count) or NIST file on the default output. flags: SND_ASYNC (1) returns at once while
// the sound plays on the player's own thread (a later sound stops it); otherwise it returns when
// the sound has ended. SND_LOOP (8) is treated as a single play. Returns 1 when the file was
// played, 0 when it could not be read or played.
enum { eSndSync = 0, eSndAsync = 1, eSndNoDefault = 2, eSndMemory = 4, eSndLoop = 8, eSndNoStop = 0x10 };
int platformPlaySound(const char* path, int flags);

// A wave file loaded for the file device and the sound player: mono samples as floats in
// [-1, 1] at the file's rate.
struct LoadedWave {
  float* samples = nullptr;   // new float[]
  uint32_t count = 0;
  uint32_t rate = 0;
  char warning[160] = "";     // set when the file was read but is cut short ("... missing")
  ~LoadedWave() { delete[] samples; }
};
// The sample rates a speech recording can have; a header claiming another is refused.
constexpr uint32_t kMinWaveRate = 4000;
constexpr uint32_t kMaxWaveRate = 384000;
// The longest recording converted for recognition: one hour at 11025 Hz.
constexpr uint32_t kMaxSpeechSamples = 11025u * 3600u;

// Reads a RIFF WAVE (walking its chunks; PCM 8/16/24/32-bit, IEEE float 32-bit, extensible
// forms of these; channels mixed to mono) or NIST (16-bit; its sample_rate, else 11025; its
// sample_byte_format "01" little-endian, "10" big-endian) file. Only regular files are read (a
// FIFO or device is refused at once). Rates outside kMinWaveRate..kMaxWaveRate are refused. A file
// cut short (fewer sample bytes than its header declares) is read as far as it goes, with
// wave->warning naming how much is missing. Returns 1 on success; 0 with the reason in error
// (room bytes) otherwise.
int loadWaveFile(const char* path, LoadedWave* wave, char* error, int room);

// Converts mono float samples at rateIn to rateOut with libsoxr (a copy when the rates match);
// returns new float[] with *countOut samples, or null.
float* resampleMono(const float* in, uint32_t count, uint32_t rateIn, uint32_t rateOut, uint32_t* countOut);

// Mono float samples in [-1, 1] at rate as the recogniser's input: 16-bit samples at 11025 Hz
// (resampled with libsoxr when the rate differs; rounded, clipped). Returns 1, or 0 when the rate
// is outside kMinWaveRate..kMaxWaveRate, the result would exceed kMaxSpeechSamples or the
// resampling fails (out is then empty, and the reason in error when given).
int toSpeechSamples(const float* samples, uint32_t count, uint32_t rate, std::vector<int16_t>* out,
                    char* error = nullptr, int room = 0);

}  // namespace vlm
