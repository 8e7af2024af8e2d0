// RIFF WAVE and NIST SPHERE files: writing, header patching, opening for reading, and the NIST
// header field reader.
#define VLM_UNIT "filepath"
#include "audio/wavefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/copystr.h"
#include "foundation/safefile.h"
#include "foundation/log.h"

namespace vlm {

namespace {

// The RIFF header template: 8000 Hz, 8-bit mono, length fields "xxxx" until patched.
const unsigned char kRiffTemplate[kRiffHeaderBytes] = {
    'R', 'I', 'F', 'F', 'x', 'x', 'x', 'x', 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
    16, 0, 0, 0,                  // format block length
    1, 0, 1, 0,                   // PCM, 1 channel
    0x40, 0x1F, 0, 0,             // 8000 samples/s
    0x40, 0x1F, 0, 0,             // 8000 bytes/s
    1, 0, 8, 0,                   // alignment 1, 8 bits
    'd', 'a', 't', 'a', 'x', 'x', 'x', 'x'};

// The format block (offsets 20 to 35) of selector 1: PCM, 1 channel, 11025 Hz, 22050 bytes/s,
// alignment 2, 16 bits. The only block accepted when reading.
const unsigned char kSpeechFormatBlock[16] = {1, 0, 1, 0, 0x11, 0x2B, 0, 0, 0x22, 0x56, 0, 0, 2, 0, 16, 0};

void putLe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// Reads up to n bytes, going on after short reads and interruptions; returns the bytes read.
size_t readFully(int fd, void* buffer, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, static_cast<char*>(buffer) + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

int writeFully(int fd, const void* buffer, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd, static_cast<const char*>(buffer) + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return 0;
    done += static_cast<size_t>(w);
  }
  return 1;
}

// Writes count samples as 16-bit little-endian values, whatever the host's byte order.
int writeSamples(int fd, const int16_t* samples, uint32_t count) {
  unsigned char buffer[8192];
  const uint32_t perBlock = sizeof buffer / 2;
  while (count > 0) {
    uint32_t n = count < perBlock ? count : perBlock;
    for (uint32_t i = 0; i < n; i++) {
      uint16_t v = static_cast<uint16_t>(samples[i]);
      buffer[2 * i] = static_cast<unsigned char>(v);
      buffer[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    if (!writeFully(fd, buffer, 2 * static_cast<size_t>(n))) return 0;
    samples += n;
    count -= n;
  }
  return 1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char lowerCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

int patchRiffHeader(int fd, int selector) {
  if (fd < 0) return 0;
  off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position < 0 || position <= kRiffHeaderBytes) return 0;
  if (static_cast<unsigned long long>(position) - 8 > 0xFFFFFFFFull) return 0;
  unsigned char header[kRiffHeaderBytes];
  std::memcpy(header, kRiffTemplate, sizeof header);
  if (selector == kRiffSpeechFormat) std::memcpy(header + 20, kSpeechFormatBlock, sizeof kSpeechFormatBlock);
  putLe32(header + 4, static_cast<uint32_t>(position - 8));
  putLe32(header + 40, static_cast<uint32_t>(position - kRiffHeaderBytes));

  // A descriptor opened for appending would put the header at the end: write it without.
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_APPEND) != 0) ::fcntl(fd, F_SETFL, flags & ~O_APPEND);
  int ok = ::lseek(fd, 0, SEEK_SET) == 0 && writeFully(fd, header, sizeof header);
  if (flags >= 0 && (flags & O_APPEND) != 0) ::fcntl(fd, F_SETFL, flags);
  if (::lseek(fd, position, SEEK_SET) != position) ok = 0;
  return ok;
}

int writeRiffFile(const char* path, const int16_t* samples, uint32_t count, int selector) {
  if (path == nullptr || samples == nullptr || count == 0) return 0;
  // The length at offset 4 (36 + 2 count) must fit in 32 bits.
  if (count > (0xFFFFFFFFull - 36) / 2) return 0;
  SafeFile file;
  if (!file.open(path)) return 0;
  int fd = file.handle();
  unsigned char zeros[kRiffHeaderBytes] = {0};
  if (!writeFully(fd, zeros, sizeof zeros) || !writeSamples(fd, samples, count)) return 0;
  if (!patchRiffHeader(fd, selector)) return 0;
  return file.commit();
}

int seekToData(int fd, char* header) {
  VLM_ASSERT(header != nullptr, "header");
  if (header == nullptr || fd < 0) return eWaveNotAccepted;
  bool seekable = ::lseek(fd, 0, SEEK_SET) == 0;
  // A file shorter than the 1024-byte header is never accepted, whatever its format.
  if (readFully(fd, header, kWaveHeaderBufferBytes) < static_cast<size_t>(kWaveHeaderBufferBytes))
    return eWaveNotAccepted;
  if (std::memcmp(header, kNistMagic, 16) == 0) return eWaveNist;  // positioned at offset 1024

  if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVEfmt ", 8) != 0 ||
      std::memcmp(header + 20, kSpeechFormatBlock, sizeof kSpeechFormatBlock) != 0)
    return eWaveNotAccepted;
  // The data chunk: "data" at an even offset from 32 to 198.
  for (int offset = 32; offset <= 198; offset += 2) {
    if (std::memcmp(header + offset, "data", 4) != 0) continue;
    // The samples start behind the chunk's name and length.
    off_t first = offset + 8;
    if (!seekable || ::lseek(fd, first, SEEK_SET) != first) return eWaveNotAccepted;
    return eWaveRiff;
  }
  return eWaveNotAccepted;
}

int writeNistFile(const char* path, const int16_t* samples, uint32_t count, const char* prompt,
                  const char* extra) {
  if (path == nullptr || samples == nullptr || count == 0) return 0;
  // nbytes_all (2 count + 1024) is a 32-bit field.
  if (count > (static_cast<uint32_t>(INT32_MAX) - kNistHeaderBytes) / 2) return 0;

  char nistHdr[kNistHeaderBytes];
  char* const limit = nistHdr + kNistHeaderBytes;
  char* s = nistHdr;
  bool fits = true;
  // Appends text bounded by the space left; notes when it did not fit.
  auto append = [&](const char* text) {
    size_t length = std::strlen(text);
    if (!fits || length >= static_cast<size_t>(limit - s)) {
      fits = false;
      return;
    }
    s = copyString(s, text, static_cast<int>(limit - s));
  };
  auto appendNumber = [&](long value) {
    char digits[32];
    longToAscii(value, digits, sizeof digits);
    append(digits);
  };
  append(kNistMagic);
  append("channel_count -i 1\n");
  append("sample_n_bytes -i 2\n");
  append("sample_rate -i 11025\n");
  append("sample_byte_format -s2 01\n");
  append("sample_sig_bits -i 16\n");
  append("sample_count -i ");
  appendNumber(static_cast<long>(count));
  append("\n");
  append("nbytes_all -i ");
  appendNumber(2L * static_cast<long>(count) + kNistHeaderBytes);
  append("\n");
  if (prompt != nullptr) {
    append("prompt -s");
    appendNumber(static_cast<long>(std::strlen(prompt)));
    append(" ");
    append(prompt);
    append("\n");
  }
  if (extra != nullptr) append(extra);
  append("\nend_head\n");
  VLM_ASSERT(fits && s < nistHdr + 1024, "s < nistHdr + 1024");
  if (!fits) return 0;  // a cut header would lose its end_head line
  std::memset(s, 0, static_cast<size_t>(limit - s));

  SafeFile file;
  if (!file.open(path)) return 0;
  int fd = file.handle();
  if (!writeFully(fd, nistHdr, sizeof nistHdr) || !writeSamples(fd, samples, count)) return 0;
  return file.commit();
}

const char* findEndOfString(const char* buffer, const char* end, const char* key) {
  if (buffer == nullptr || end == nullptr || key == nullptr || end <= buffer) return nullptr;
  size_t keyLength = std::strlen(key);
  const char* p = buffer;
  for (;;) {
    // Move to the start of the next line first: the first line is never examined.
    const void* lineFeed = std::memchr(p, '\n', static_cast<size_t>(end - p));
    if (lineFeed == nullptr) return nullptr;
    p = static_cast<const char*>(lineFeed) + 1;
    if (static_cast<size_t>(end - p) > keyLength && std::memcmp(p, key, keyLength) == 0) return p + keyLength;
    if (p >= end) return nullptr;
  }
}

int getNistHeaderPar(const char* buffer, const char* end, const char* key, char type, void* out,
                     int outSize) {
  if (out == nullptr) return 0;
  const char* p = findEndOfString(buffer, end, key);
  if (p == nullptr) return 0;
  while (p < end && isBlank(*p)) p++;
  if (p >= end || *p != '-') return 0;
  p++;
  if (p >= end) return 0;
  char letter = lowerCase(*p++);
  switch (lowerCase(type)) {
    case 'i':
    case 'l': {
      if (letter != 'i' && letter != 'l') return 0;
      while (p < end && isBlank(*p)) p++;
      if (p >= end) return 0;
      // As atol: optional sign, then digits, stopping at the first other character; clamped to
      // the 32-bit range instead of overflowing.
      bool negative = false;
      if (*p == '+' || *p == '-') negative = *p++ == '-';
      long long value = 0;
      while (p < end && *p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > static_cast<long long>(INT32_MAX) + 1) value = static_cast<long long>(INT32_MAX) + 1;
      }
      if (negative) value = -value;
      if (value > INT32_MAX) value = INT32_MAX;
      int32_t result = static_cast<int32_t>(value);
      std::memcpy(out, &result, sizeof result);
      return 1;
    }
    case 's': {
      if (letter != 's' || outSize <= 0) return 0;
      if (p >= end || *p < '0' || *p > '9') return 0;
      long long declared = 0;
      while (p < end && *p >= '0' && *p <= '9') {
        declared = declared * 10 + (*p++ - '0');
        if (declared > INT_MAX) declared = INT_MAX;
      }
      if (p >= end) return 0;  // no separator behind the length
      p++;                     // exactly one separator character
      long long room = declared + 1 < outSize ? declared + 1 : outSize;
      char* target = static_cast<char*>(out);
      char* last = target + room - 1;  // where the NUL goes at the latest
      while (target < last && p < end && *p != 0) *target++ = *p++;
      *target = 0;
      return 1;
    }
    case 'r': {
      if (letter != 'r') return 0;
      while (p < end && isBlank(*p)) p++;
      if (p >= end) return 0;
      // As atof, on a bounded copy of the value.
      char number[64];
      size_t n = 0;
      while (n + 1 < sizeof number && p + n < end && p[n] != 0 && p[n] != '\n') {
        number[n] = p[n];
        n++;
      }
      number[n] = 0;
      double result = std::strtod(number, nullptr);
      std::memcpy(out, &result, sizeof result);
      return 1;
    }
    default:
      return 0;
  }
}

int readNistForPlayback(const char* path, char** data, uint32_t* bytes) {
  if (data == nullptr || bytes == nullptr) return 0;
  *data = nullptr;
  *bytes = 0;
  if (path == nullptr) return 0;
  int fd = openRegularFile(path);  // a FIFO or device would block the reader
  if (fd < 0) return 0;
  char header[kNistHeaderBytes];
  int32_t nbytesAll = 0;
  struct stat info;
  int ok = readFully(fd, header, sizeof header) == sizeof header && std::memcmp(header, kNistMagic, 16) == 0 &&
           findEndOfString(header, header + 1023, "end_head") != nullptr &&
           getNistHeaderPar(header, header + kNistHeaderBytes, "nbytes_all", 'l', &nbytesAll, sizeof nbytesAll) &&
           nbytesAll > kNistHeaderBytes && ::fstat(fd, &info) == 0 && info.st_size >= nbytesAll;
  uint32_t sampleBytes = ok ? static_cast<uint32_t>(nbytesAll - kNistHeaderBytes) & ~1u : 0;
  if (sampleBytes == 0) ok = 0;
  char* samples = ok ? new (std::nothrow) char[sampleBytes] : nullptr;
  if (samples != nullptr && readFully(fd, samples, sampleBytes) == sampleBytes) {
    *data = samples;
    *bytes = sampleBytes;
  } else {
    delete[] samples;
    ok = 0;
  }
  ::close(fd);
  return ok;
}

int isRiffWaveHeader(const char* header, int length) {
  return header != nullptr && length >= 16 && std::memcmp(header, "RIFF", 4) == 0 &&
         std::memcmp(header + 8, "WAVEfmt ", 8) == 0;
}

}  // namespace vlm
