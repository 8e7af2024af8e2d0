// The byte-stream cutter of the recording devices: device bytes into the ring's buffers.
#define VLM_UNIT "audiodev"
#include <cstring>

#include "platform/audio/capture.h"

namespace vlm {

size_t CaptureWriter::fillCurrent(const unsigned char* bytes, size_t n) {
  size_t take = kWaveInBufferBytes - fill;
  if (take > n) take = n;
  std::memcpy(current->data + fill, bytes, take);
  fill += static_cast<unsigned>(take);
  if (fill == kWaveInBufferBytes) {
    current->recorded = kWaveInBufferBytes;
    fifo.putFilled(current);
    current = nullptr;
    fill = 0;
  }
  return take;
}

void CaptureWriter::write(const unsigned char* bytes, size_t n) {
  while (n > 0) {
    if (current == nullptr) {
      current = fifo.takeFree();
      fill = 0;
      if (current == nullptr) return;  // overrun: the rest is lost
    }
    const size_t take = fillCurrent(bytes, n);
    bytes += take;
    n -= take;
  }
}

size_t CaptureWriter::writeNoDrop(const unsigned char* bytes, size_t n) {
  size_t taken = 0;
  while (n > 0) {
    if (current == nullptr) {
      if (fifo.freeCount() == 0) break;
      current = fifo.takeFree();
      fill = 0;
      if (current == nullptr) break;
    }
    const size_t take = fillCurrent(bytes, n);
    bytes += take;
    n -= take;
    taken += take;
  }
  return taken;
}

}  // namespace vlm
