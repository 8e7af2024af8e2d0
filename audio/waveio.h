// The audio device layer: one microphone stream and one playback at a time, as free functions
// over process-wide state.
//
// Recording fills a fixed pool of 200 buffers of 200 bytes (100 samples of 16 bits in the default
// format) that the device's thread puts, in arrival order, into a single-producer single-consumer
// ring of 201 slots; the application thread takes them one at a time with
// waveIoGetWAVCHUNKshorts and gives each back to the device. Device notifications (block played,
// device closed) are handled on the layer's own thread, so the application thread never runs
// inside a device callback.
//
// Devices (see docs/audio-device.md):
//   input:  PortAudio, resampled with libsoxr when the device cannot run at the asked rate; or the
//           file-backed device when $VELMORA_MIC lists wave files ("a.wav,b.wav"), delivered in
//           real time or, with $VELMORA_MIC_FAST=1, as fast as the reader takes them.
//   output: PortAudio; or the null device when $VELMORA_SPEAKER=null, or when the machine has no
//           output device at all ($VELMORA_SPEAKER=portaudio forbids that fallback).
//
// Device failures are shown in message boxes (exclamation icon) with the texts below and reported
// through the return codes; initialisation failures with the stop icon.
#pragma once
#include <atomic>
#include <cstdint>

namespace vlm {

// The platform's wave format record.
struct WaveFormat {
  uint16_t formatTag;       // 1 = PCM (the only tag the devices accept)
  uint16_t channels;        // 1 or 2
  uint32_t samplesPerSec;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;      // channels * bitsPerSample / 8
  uint16_t bitsPerSample;   // 8 (unsigned) or 16 (signed little-endian)
  uint16_t extraSize;       // 0
};

// PCM, 1 channel, 11025 samples/s, 22050 bytes/s, alignment 2, 16 bits, extra size 0.
extern const WaveFormat kDefaultWaveFormat;
// The voice recorder's format: PCM, 1 channel, 8000 samples/s, 8000 bytes/s, alignment 1, 8 bits.
extern const WaveFormat kRecorderWaveFormat;

// The default-device number (all bits set). Other numbers count the devices that can record
// (for input) or play (for output) from 0, in the order PortAudio lists them.
constexpr unsigned kWaveMapper = 0xFFFFFFFFu;

constexpr int kWaveInBufferCount = 200;   // recording buffers
constexpr int kWaveInBufferBytes = 200;   // bytes per buffer (100 samples of 16 bits)
constexpr int kWavChunkShorts = 100;      // samples per chunk in the default format
constexpr int kWaveInRingSlots = kWaveInBufferCount + 1;
constexpr int kDefaultTransientLength = 3;

// waveIoMicOn and playWaveData results.
enum { eWaveIoOk = 0, eWaveIoOpenFailed = 1, eWaveIoQueueFailed = 3 };
// waveIoGetWAVCHUNKshorts results besides the 100 samples copied.
enum { eWaveIoNoBuffer = -1, eWaveIoMicOff = -3 };

// Starts the layer's thread and waits (10 ms polls) until it runs; nothing when already open.
void waveIoOpen();
// Asks the layer's thread to stop (which stops playing and recording) and waits until it has.
void waveIoClose();
// 1 while the layer is open.
int waveIoIsOpen();

// Starts recording on an input device (kWaveMapper: the default). format null: kDefaultWaveFormat.
// Returns 0 when recording (also when it already was, without reopening); 1 when the input device
// could not be opened ("Failed to open waveform input device."); 3 when buffers could not be
// queued ("Failed to Setup record bufs.") or recording could not start ("Failed to start waveIn
// device."; the device is closed again). Opens the layer first if needed. Sets the number of
// buffers still to discard to the transient length.
int waveIoMicOn(unsigned device, const WaveFormat* format);
// Stops recording and closes the input device; the ring is emptied. Without an open layer shows
// "Not yet Initialized." titled "Init Error".
void waveIoMicOff();
// 1 while the input device is open.
int waveIoIsMicOn();
// Copies the oldest filled buffer (200 bytes; 100 samples in the default format) into buffer and
// gives the buffer back to the device. Buffers still to discard after the start are dropped
// first. Returns 100 when a chunk was copied; -1 when no filled buffer waits; -3 when the
// microphone is off.
int waveIoGetWAVCHUNKshorts(short* buffer);
// Returns the transient length (buffers discarded after every start; 3 initially) and, when
// n >= 0, sets it to n.
int waveIoTransientLength(int n);

// Starts playing one block asynchronously. The layer takes ownership of data in every case: it
// must come from new char[] and is freed with delete[] when playing ends or fails. Opens the layer
// if needed. Returns 0 when playing; 1 when the output device could not be opened ("Failed to
// Open WaveOut device"); 3 when the block could not be queued ("Not enough memory for header.",
// "Unable to prepare wave header.", "Failed to write block to device"). A block already playing
// is stopped first (one playback at a time).
int playWaveData(char* data, unsigned bytes, const WaveFormat* format, unsigned device);
// Non-zero while a block is being played.
int waveIoIsPlaying();
// Stops the block being played (the private stop request); playing ends as when it is done.
void waveIoStopPlaying();
// playWaveData, then waits (10 ms polls) until playing has ended. Takes ownership of data as
// playWaveData does. Returns 0, or the failure code of playWaveData. A null format or null data
// returns 0 at once (data, if any, is freed).
int waveIoBeep(const WaveFormat* format, char* data, unsigned bytes, unsigned device);
// Plays a sound file synchronously. With the default-device number, or while the layer is not
// open, the file goes to the platform sound player (flags masked to the low 5 bits; see
// platform/audio/audiodevice.h) and the result is 0. Otherwise a RIFF file goes to the sound
// player too, and a NIST file is read (see readNistForPlayback) and played through the block
// player with the default format, whose result is returned. Anything else, a missing header
// field, a failed allocation or a short read returns 0.
int waveIoBeep(const char* path, int flags, unsigned device);

// ---- The recording ring --------------------------------------------------------------------
// One recording buffer and its header.
struct WaveInHeader {
  char* data;          // kWaveInBufferBytes bytes
  unsigned bytes;      // buffer length
  unsigned recorded;   // bytes filled by the device
  unsigned flags;      // WHDR_* style bits: 1 done, 2 prepared, 0x10 queued at the device
};

// The pool of recording headers and the two single-producer single-consumer rings that move them
// between the device thread and the application thread without locks:
//   filled ring: device thread -> application thread (write index advanced by the device thread
//                only, read index by the application thread only);
//   free ring:   application thread -> device thread (buffers given back to the device).
// Each ring has kWaveInRingSlots slots for at most kWaveInBufferCount headers, so it never
// overflows. When the device finds no free buffer (the application has not read for 1.8 s of
// audio), the incoming audio is dropped and counted as an overrun, as a device with no queued
// buffers does. An empty filled ring is an underrun: the reader gets nothing (-1).
class WaveInFifo {
 public:
  WaveInFifo();
  WaveInFifo(const WaveInFifo&) = delete;
  WaveInFifo& operator=(const WaveInFifo&) = delete;

  // Device side (the one producer thread).
  WaveInHeader* takeFree();               // a buffer to fill, or null (overrun: counted)
  void putFilled(WaveInHeader* header);   // the "input buffer filled" notification
  // Application side (the one consumer thread).
  WaveInHeader* takeFilled();             // the oldest filled buffer, or null when empty
  void giveBack(WaveInHeader* header);    // re-queue at the device
  int filledCount() const;                // buffers waiting for the reader
  int freeCount() const;                  // buffers queued at the device
  // Puts every header back into the free ring and empties the filled ring (both indices 0).
  // Only while no device is running.
  void reset();
  unsigned overruns() const { return overrunCount.load(std::memory_order_relaxed); }
  void clearOverruns() { overrunCount.store(0, std::memory_order_relaxed); }

 private:
  WaveInHeader headers[kWaveInBufferCount];
  char storage[kWaveInBufferCount][kWaveInBufferBytes];
  WaveInHeader* filled[kWaveInRingSlots];
  WaveInHeader* freed[kWaveInRingSlots];
  std::atomic<int> filledWrite{0}, filledRead{0};
  std::atomic<int> freeWrite{0}, freeRead{0};
  std::atomic<unsigned> overrunCount{0};
};

// The process's one recording ring (the device back ends fill it).
WaveInFifo& waveInFifo();

// 1 when the input device is the file-backed one and it has delivered everything it will (its
// files and the silence after them) and the reader has taken all of it; else 0.
int waveIoMicInputEnded();

// Message texts and captions.
inline constexpr const char* kMsgInitError = "Init Error";
inline constexpr const char* kMsgDeviceError = "Device Error";
inline constexpr const char* kMsgMemoryError = "Memory Error";
inline constexpr const char* kMsgPrepareError = "Prepare Error";
inline constexpr const char* kMsgNotInitialized = "Not yet Initialized.";
inline constexpr const char* kMsgCannotRegister = "Cannot Register Window Class.";
inline constexpr const char* kMsgCannotCreateWindow = "Cannot Create waveIoServer Window.";
inline constexpr const char* kMsgOpenInFailed = "Failed to open waveform input device.";
inline constexpr const char* kMsgSetupBufsFailed = "Failed to Setup record bufs.";
inline constexpr const char* kMsgStartInFailed = "Failed to start waveIn device.";
inline constexpr const char* kMsgAllocBufsFailed = "Failed to Alloc record bufs.";
inline constexpr const char* kMsgOpenOutFailed = "Failed to Open WaveOut device";
inline constexpr const char* kMsgNoHeaderMemory = "Not enough memory for header.";
inline constexpr const char* kMsgPrepareFailed = "Unable to prepare wave header.";
inline constexpr const char* kMsgWriteBlockFailed = "Failed to write block to device";
// The name of the layer's thread (the callback window's class and name on the handheld).
inline constexpr const char* kWaveIoWindowName = "WaveIOCallbackWindow";

}  // namespace vlm
