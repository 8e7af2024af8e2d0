// Wave file loading for the file-backed input device and the sound player, sample conversions
// and resampling with libsoxr. Nothing here touches a device or the recording ring, so programs
// that only read files link this without the device layer. libsoxr is opened the first time a
// conversion is needed: programs that read 11025 Hz files, as recognition and enrollment do, never
// map it or its OpenMP runtime (about 0.4 MB resident).
#define VLM_UNIT "audiodev"
#include <dlfcn.h>
#include <fcntl.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <mutex>
#include <new>
#include <vector>

#include "audio/wavefile.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "platform/audio/audiodevice.h"
#include "platform/audio/capture.h"

namespace vlm {

int isPlayableFormat(const WaveFormat* f) {
  if (f == nullptr || f->formatTag != 1) return 0;
  if (f->channels < 1 || f->channels > 2) return 0;
  if (f->bitsPerSample != 8 && f->bitsPerSample != 16) return 0;
  if (f->blockAlign != f->channels * f->bitsPerSample / 8) return 0;
  return f->samplesPerSec >= 1000 && f->samplesPerSec <= 192000;
}

unsigned char silenceByte(const WaveFormat& format) { return format.bitsPerSample == 8 ? 0x80 : 0; }

void floatToFormat(const float* in, size_t count, const WaveFormat& format, unsigned char* out) {
  const int channels = format.channels;
  for (size_t i = 0; i < count; i++) {
    float v = in[i];
    if (!(v >= -2.0f && v <= 2.0f)) v = v > 0 ? 2.0f : v < 0 ? -2.0f : 0.0f;  // NaN and beyond: clipped
    if (format.bitsPerSample == 8) {
      long q = std::lrintf(v * 128.0f) + 128;
      unsigned char b = static_cast<unsigned char>(q < 0 ? 0 : q > 255 ? 255 : q);
      for (int c = 0; c < channels; c++) *out++ = b;
    } else {
      long q = std::lrintf(v * 32768.0f);
      uint16_t s = static_cast<uint16_t>(static_cast<int16_t>(q < -32768 ? -32768 : q > 32767 ? 32767 : q));
      for (int c = 0; c < channels; c++) {
        *out++ = static_cast<unsigned char>(s);
        *out++ = static_cast<unsigned char>(s >> 8);
      }
    }
  }
}

void formatToFloat(const unsigned char* in, size_t frames, const WaveFormat& format, float* out) {
  size_t n = frames * format.channels;
  for (size_t i = 0; i < n; i++) {
    if (format.bitsPerSample == 8) {
      out[i] = (static_cast<int>(in[i]) - 128) / 128.0f;
    } else {
      int16_t s = static_cast<int16_t>(static_cast<uint16_t>(in[2 * i] | (in[2 * i + 1] << 8)));
      out[i] = s / 32768.0f;
    }
  }
}

namespace {

// The three libsoxr calls a one-shot conversion needs, looked up once per process.
struct SoxrCalls {
  decltype(&soxr_oneshot) oneshot = nullptr;
  decltype(&soxr_io_spec) ioSpec = nullptr;
  decltype(&soxr_quality_spec) qualitySpec = nullptr;
};

const SoxrCalls* soxrCalls() {
  static SoxrCalls calls;
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] {
    void* handle = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      logError("cannot open libsoxr.so.0 to convert the sample rate: ", why ? why : "not found");
      return;
    }
    calls.oneshot = reinterpret_cast<decltype(calls.oneshot)>(dlsym(handle, "soxr_oneshot"));
    calls.ioSpec = reinterpret_cast<decltype(calls.ioSpec)>(dlsym(handle, "soxr_io_spec"));
    calls.qualitySpec = reinterpret_cast<decltype(calls.qualitySpec)>(dlsym(handle, "soxr_quality_spec"));
    loaded = calls.oneshot && calls.ioSpec && calls.qualitySpec;
    if (!loaded) logError("libsoxr.so.0 lacks the one-shot conversion calls");
  });
  return loaded ? &calls : nullptr;
}

}  // namespace

float* resampleMono(const float* in, uint32_t count, uint32_t rateIn, uint32_t rateOut, uint32_t* countOut) {
  *countOut = 0;
  if (rateIn == 0 || rateOut == 0) return nullptr;
  // Never more than the longest recording converted for recognition (a bogus rate must not
  // ask for gigabytes).
  if (static_cast<double>(count) * rateOut / rateIn > static_cast<double>(kMaxSpeechSamples) * 35) return nullptr;
  if (rateIn == rateOut || count == 0) {
    float* copy = new (std::nothrow) float[count > 0 ? count : 1];
    if (copy == nullptr) return nullptr;
    if (count > 0) std::memcpy(copy, in, sizeof(float) * count);
    *countOut = count;
    return copy;
  }
  const SoxrCalls* soxr = soxrCalls();
  if (soxr == nullptr) return nullptr;
  size_t capacity = static_cast<size_t>(std::ceil(static_cast<double>(count) * rateOut / rateIn)) + 16;
  float* out = new (std::nothrow) float[capacity];
  if (out == nullptr) return nullptr;
  soxr_io_spec_t io = soxr->ioSpec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr->qualitySpec(SOXR_HQ, 0);
  size_t done = 0;
  soxr_error_t error = soxr->oneshot(rateIn, rateOut, 1, in, count, nullptr, out, capacity, &done, &io, &quality, nullptr);
  if (error != nullptr) {
    delete[] out;
    return nullptr;
  }
  *countOut = static_cast<uint32_t>(done);
  return out;
}

int toSpeechSamples(const float* samples, uint32_t count, uint32_t rate, std::vector<int16_t>* out, char* error,
                    int room) {
  constexpr uint32_t kSpeechRate = 11025;
  out->clear();
  auto refuse = [&](const char* format, double value) {
    if (error != nullptr && room > 0) std::snprintf(error, static_cast<size_t>(room), format, value);
    return 0;
  };
  // A header may claim any rate; only what speech can have is converted, and never into more than
  // an hour of samples (a 1 Hz claim would otherwise grow a small file 11025 times).
  if (rate < kMinWaveRate || rate > kMaxWaveRate)
    return refuse("sample rate %.0f Hz is outside 4000 to 384000 Hz", rate);
  const double converted = static_cast<double>(count) * kSpeechRate / rate;
  if (converted > kMaxSpeechSamples) return refuse("recording of %.0f s is longer than an hour", converted / kSpeechRate);
  float* resampled = nullptr;
  if (rate != kSpeechRate && count > 0) {
    resampled = resampleMono(samples, count, rate, kSpeechRate, &count);
    if (resampled == nullptr) return refuse("cannot convert %.0f Hz to 11025 Hz", rate);
    samples = resampled;
  }
  out->resize(count);
  for (uint32_t i = 0; i < count; i++) {
    const float v = std::nearbyint(samples[i] * 32768.0f);
    (*out)[i] = static_cast<int16_t>(v > 32767.0f ? 32767 : v < -32768.0f ? -32768 : v);
  }
  delete[] resampled;
  return 1;
}

namespace {

uint32_t le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void setError(char* error, int room, const char* text) {
  if (error != nullptr && room > 0) std::snprintf(error, static_cast<size_t>(room), "%s", text);
}

bool readWholeFile(const char* path, std::vector<unsigned char>& bytes) {
  // A FIFO or device is refused at once: the file is sized first.
  int fd = openRegularFile(path);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || info.st_size < 0 || info.st_size > (1ll << 31)) {
    ::close(fd);
    return false;
  }
  bytes.resize(static_cast<size_t>(info.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t r = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  ::close(fd);
  bytes.resize(got);
  return true;
}

int refuseRate(uint32_t rate, char* error, int room) {
  char text[120];
  std::snprintf(text, sizeof text, "sample rate %u Hz is outside 4000 to 384000 Hz", rate);
  setError(error, room, text);
  return 0;
}

// A file cut short: read as far as it goes, with a warning naming what is missing.
void noteMissing(LoadedWave* wave, size_t missing, size_t declared) {
  std::snprintf(wave->warning, sizeof wave->warning, "the file is cut short: %zu of %zu samples missing", missing,
                declared);
}

// Decodes interleaved PCM or float samples, mixing the channels to mono.
bool decodeFrames(const unsigned char* p, size_t frames, int channels, int bits, bool isFloat, float* out) {
  const int bytesPer = bits / 8;
  for (size_t f = 0; f < frames; f++) {
    float sum = 0;
    for (int c = 0; c < channels; c++) {
      const unsigned char* s = p + (f * static_cast<size_t>(channels) + static_cast<size_t>(c)) * bytesPer;
      float v = 0;
      if (isFloat) {
        uint32_t u = le32(s);
        std::memcpy(&v, &u, sizeof v);
        if (!std::isfinite(v)) v = 0;
      } else if (bits == 8) {
        v = (static_cast<int>(s[0]) - 128) / 128.0f;
      } else if (bits == 16) {
        v = static_cast<int16_t>(le16(s)) / 32768.0f;
      } else if (bits == 24) {
        int32_t x = static_cast<int32_t>(static_cast<uint32_t>(s[0]) << 8 | static_cast<uint32_t>(s[1]) << 16 |
                                         static_cast<uint32_t>(s[2]) << 24);
        v = static_cast<float>(x / 2147483648.0);
      } else if (bits == 32) {
        v = static_cast<float>(static_cast<int32_t>(le32(s)) / 2147483648.0);
      } else {
        return false;
      }
      sum += v;
    }
    out[f] = sum / static_cast<float>(channels);
  }
  return true;
}

int loadRiff(const std::vector<unsigned char>& bytes, LoadedWave* wave, char* error, int room) {
  const size_t size = bytes.size();
  const unsigned char* b = bytes.data();
  bool haveFormat = false;
  int tag = 0, channels = 0, bits = 0, align = 0;
  uint32_t rate = 0;
  size_t offset = 12;
  while (offset + 8 <= size) {
    uint32_t chunkSize = le32(b + offset + 4);
    size_t body = offset + 8;
    size_t available = size - body;
    if (std::memcmp(b + offset, "fmt ", 4) == 0) {
      if (chunkSize < 16 || available < 16) {
        setError(error, room, "format block too short");
        return 0;
      }
      tag = le16(b + body);
      channels = le16(b + body + 2);
      rate = le32(b + body + 4);
      align = le16(b + body + 12);
      bits = le16(b + body + 14);
      if (tag == 0xFFFE && chunkSize >= 40 && available >= 40) tag = le16(b + body + 24);  // extensible
      haveFormat = true;
    } else if (std::memcmp(b + offset, "data", 4) == 0) {
      if (!haveFormat) {
        setError(error, room, "data chunk before the format block");
        return 0;
      }
      bool isFloat = tag == 3;
      if (rate < kMinWaveRate || rate > kMaxWaveRate) return refuseRate(rate, error, room);
      if ((tag != 1 && tag != 3) || channels < 1 || channels > 32 ||
          (isFloat && bits != 32) || (!isFloat && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
          align != channels * bits / 8) {
        setError(error, room, "unsupported sample format (PCM 8/16/24/32-bit or 32-bit float only)");
        return 0;
      }
      size_t dataBytes = chunkSize < available ? chunkSize : available;  // a cut file: what is there
      if (chunkSize > available) noteMissing(wave, (chunkSize - available) / static_cast<size_t>(align), chunkSize / static_cast<size_t>(align));
      size_t frames = dataBytes / static_cast<size_t>(align);
      wave->samples = new (std::nothrow) float[frames > 0 ? frames : 1];
      if (wave->samples == nullptr) {
        setError(error, room, "out of memory");
        return 0;
      }
      decodeFrames(b + body, frames, channels, bits, isFloat, wave->samples);
      wave->count = static_cast<uint32_t>(frames);
      wave->rate = rate;
      return 1;
    }
    // Chunks are padded to an even length.
    size_t next = body + static_cast<size_t>(chunkSize) + (chunkSize & 1u);
    if (next <= offset || next > size) break;
    offset = next;
  }
  setError(error, room, haveFormat ? "no data chunk" : "no format block");
  return 0;
}

int loadNist(std::vector<unsigned char>& bytes, LoadedWave* wave, char* error, int room) {
  const char* header = reinterpret_cast<const char*>(bytes.data());
  const char* end = header + kNistHeaderBytes;
  int32_t rate = 11025, sampleBytes = 2, channels = 1;
  getNistHeaderPar(header, end, "sample_rate", 'i', &rate, sizeof rate);
  getNistHeaderPar(header, end, "sample_n_bytes", 'i', &sampleBytes, sizeof sampleBytes);
  getNistHeaderPar(header, end, "channel_count", 'i', &channels, sizeof channels);
  char coding[32] = "";
  if (getNistHeaderPar(header, end, "sample_coding", 's', coding, sizeof coding) && std::strncmp(coding, "pcm", 3) != 0) {
    setError(error, room, "unsupported NIST sample coding");
    return 0;
  }
  if (rate < static_cast<int32_t>(kMinWaveRate) || rate > static_cast<int32_t>(kMaxWaveRate))
    return refuseRate(static_cast<uint32_t>(rate < 0 ? 0 : rate), error, room);
  if (sampleBytes != 2 || channels < 1 || channels > 32) {
    setError(error, room, "unsupported NIST sample format (16-bit PCM only)");
    return 0;
  }
  // The byte order: "01" little-endian (what the system writes), "10" big-endian.
  char order[8] = "01";
  getNistHeaderPar(header, end, "sample_byte_format", 's', order, sizeof order);
  const bool bigEndian = std::strcmp(order, "10") == 0;
  if (!bigEndian && std::strcmp(order, "01") != 0) {
    setError(error, room, "unsupported NIST sample byte order (01 or 10 only)");
    return 0;
  }
  size_t frames = (bytes.size() - kNistHeaderBytes) / (2 * static_cast<size_t>(channels));
  int32_t declared = -1;
  if (getNistHeaderPar(header, end, "sample_count", 'i', &declared, sizeof declared) && declared >= 0) {
    if (static_cast<size_t>(declared) < frames) frames = static_cast<size_t>(declared);  // trailing bytes are no samples
    else if (static_cast<size_t>(declared) > frames) noteMissing(wave, static_cast<size_t>(declared) - frames, static_cast<size_t>(declared));
  }
  if (bigEndian) {
    unsigned char* p = bytes.data() + kNistHeaderBytes;
    for (size_t i = 0; i < frames * static_cast<size_t>(channels); i++) std::swap(p[2 * i], p[2 * i + 1]);
  }
  wave->samples = new (std::nothrow) float[frames > 0 ? frames : 1];
  if (wave->samples == nullptr) {
    setError(error, room, "out of memory");
    return 0;
  }
  decodeFrames(bytes.data() + kNistHeaderBytes, frames, channels, 16, false, wave->samples);
  wave->count = static_cast<uint32_t>(frames);
  wave->rate = static_cast<uint32_t>(rate);
  return 1;
}

}  // namespace

int loadWaveFile(const char* path, LoadedWave* wave, char* error, int room) {
  delete[] wave->samples;
  wave->samples = nullptr;
  wave->count = 0;
  wave->rate = 0;
  wave->warning[0] = 0;
  std::vector<unsigned char> bytes;
  if (path == nullptr || !readWholeFile(path, bytes)) {
    char text[160];
    std::snprintf(text, sizeof text, "cannot read the file: %s", openFailureText(errno));
    setError(error, room, text);
    return 0;
  }
  if (bytes.size() >= static_cast<size_t>(kNistHeaderBytes) && std::memcmp(bytes.data(), kNistMagic, 16) == 0)
    return loadNist(bytes, wave, error, room);
  if (bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(bytes.data() + 8, "WAVE", 4) == 0)
    return loadRiff(bytes, wave, error, room);
  setError(error, room, "not a RIFF WAVE or NIST file");
  return 0;
}

}  // namespace vlm
