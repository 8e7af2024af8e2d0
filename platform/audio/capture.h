// Shared pieces of the audio back ends: cutting a device's byte stream into the ring's 200-byte
// buffers, and sample conversions.
#pragma once
#include <cstddef>
#include <cstdint>

#include "audio/waveio.h"
#include "platform/audio/audiodevice.h"

namespace vlm {

// Cuts the bytes a recording device delivers into kWaveInBufferBytes buffers and puts every full
// buffer into the ring. Used from the device's one producer thread only.
class CaptureWriter {
 public:
  explicit CaptureWriter(WaveInFifo& fifo) : fifo(fifo) {}
  // Appends n bytes (whole sample frames). When the ring has no free buffer the rest of the bytes
  // are dropped, as a device without queued buffers drops audio (the fifo counts the overrun).
  void write(const unsigned char* bytes, size_t n);
  // Appends whole buffers only while free ones exist; returns the bytes taken (a multiple of
  // kWaveInBufferBytes, or all of n when n completes the buffer being filled). Nothing is dropped.
  size_t writeNoDrop(const unsigned char* bytes, size_t n);
  // The bytes of the buffer being filled, not yet in the ring.
  unsigned partialBytes() const { return current != nullptr ? fill : 0; }
  // Forgets those bytes; the buffer itself is kept and filled from its start next time.
  void discardPartial() { fill = 0; }

 private:
  // Copies as much of the n bytes as the buffer being filled takes (there must be one) and puts
  // the buffer into the ring when it is full; returns the bytes taken.
  size_t fillCurrent(const unsigned char* bytes, size_t n);

  WaveInFifo& fifo;
  WaveInHeader* current = nullptr;
  unsigned fill = 0;
};

// Converts mono float samples to the bytes of format (16-bit signed little-endian or 8-bit
// unsigned; every channel gets the same sample). out needs count * blockAlign bytes.
void floatToFormat(const float* in, size_t count, const WaveFormat& format, unsigned char* out);
// The byte that stands for silence in the format (0 for 16 bits, 0x80 for 8 bits).
unsigned char silenceByte(const WaveFormat& format);
// Interleaved device bytes (16-bit signed or 8-bit unsigned, channels of format) to interleaved
// floats; out needs frames * channels floats.
void formatToFloat(const unsigned char* in, size_t frames, const WaveFormat& format, float* out);

// PortAudio, initialised once per process; 0 when it could not be initialised.
int portAudioReady();
// The number of PortAudio devices that can record (input) or play (output).
int portAudioDeviceCount(bool input);

InputDevice* openFileInputDevice(const char* fileList, const WaveFormat& format, WaveInFifo& fifo);
InputDevice* openPortAudioInputDevice(unsigned device, const WaveFormat& format, WaveInFifo& fifo);
OutputDevice* openPortAudioOutputDevice(unsigned device, const WaveFormat& format);

}  // namespace vlm
