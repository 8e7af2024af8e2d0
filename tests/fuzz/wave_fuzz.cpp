// libFuzzer target over the wave file readers: seekToData, the NIST header field reader, the NIST
// playback read and the wave loader of the file-backed microphone. The input is the file's bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/wavefile.h"
#include "platform/audio/audiodevice.h"

using namespace vlm;

namespace {

int fileOf(const uint8_t* data, size_t size) {
  int fd = memfd_create("wave_fuzz", 0);
  if (fd < 0) return -1;
  size_t done = 0;
  while (done < size) {
    ssize_t w = write(fd, data + done, size - done);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The header reader on exactly the input's bytes: nothing may be read at or behind the end.
  std::vector<char> buffer(data, data + size);
  const char* begin = buffer.data();
  const char* end = begin + buffer.size();
  static const char* const keys[] = {"nbytes_all", "sample_count", "sample_rate", "prompt", "end_head", "a", ""};
  static const char types[] = {'i', 'l', 's', 'r', 'S', 'x'};
  for (const char* key : keys) {
    findEndOfString(begin, end, key);
    for (char type : types) {
      char out[16];
      int outSize = size > 0 ? data[0] % 17 : 16;
      getNistHeaderPar(begin, end, key, type, out, outSize);
    }
  }

  int fd = fileOf(data, size);
  if (fd < 0) return 0;
  char header[kWaveHeaderBufferBytes];
  int kind = seekToData(fd, header);
  if (kind != eWaveNotAccepted) {
    // The channel reads 200-byte chunks from here.
    char chunk[200];
    off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0 || (kind == eWaveRiff && (at < 44 || at > 206 || (at % 2) != 0)) || (kind == eWaveNist && at != 1024))
      __builtin_trap();
    while (read(fd, chunk, sizeof chunk) == static_cast<ssize_t>(sizeof chunk)) {
    }
  }
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  char* samples = nullptr;
  uint32_t bytes = 0;
  if (vlm::readNistForPlayback(path, &samples, &bytes)) {
    if (bytes == 0 || bytes % 2 != 0 || bytes + 1024ull > size) __builtin_trap();
    delete[] samples;
  }
  vlm::LoadedWave wave;
  char error[160];
  if (vlm::loadWaveFile(path, &wave, error, sizeof error) && wave.count > 0) {
    volatile float sink = wave.samples[wave.count - 1];
    (void)sink;
  }
  close(fd);
  return 0;
}
