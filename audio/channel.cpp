// Audio channels and endpointing: PowerTracker, WavChannel's start and end detection, and the
// three sources (memory, wave file, microphone). The front end itself is in frontend.cpp.
#define VLM_UNIT "recog"
#include "audio/channel.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/utterance.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "platform/audio/audiodevice.h"
#include "platform/msgbox.h"

namespace vlm {

namespace {

constexpr int kBottomWindow = 74, kBottomHits = 70;   // end of utterance
constexpr int kTopWindow = 21, kTopHits = 3;          // start of utterance
constexpr int kFloorRise = 4;        // the noise floor creeps up by this much per frame
constexpr int kPeakMargin = 100;     // the speech peak stays this far above the floor
constexpr int kPreRollSamples = 500; // raw samples kept before the first utterance frame

inline int32_t wrapRing(int64_t pos) {
  int64_t m = pos % kRawRingBytes;
  return static_cast<int32_t>(m < 0 ? m + kRawRingBytes : m);
}

// Writes len bytes fully (retrying short writes); returns the bytes written.
unsigned writeAll(int fd, const char* p, unsigned len) {
  unsigned done = 0;
  while (done < len) {
    const ssize_t n = ::write(fd, p + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<unsigned>(n);
  }
  return done;
}

}  // namespace

// ---- PowerTracker ---------------------------------------------------------------------------

PowerTracker::~PowerTracker() { delete[] ring; }

void PowerTracker::init(int window, int hits, int isTopTracker) {
  VLM_ASSERT(window < 100, "winlen < FRAME_CACHE_SIZE");
  window = std::clamp(window, 1, kMaxWindow);
  if (!ring) {
    ring = new int32_t[kCells]();
    ringEnd = ring + kCells;
  }
  winLen = window;
  hitThresh = hits;
  level = 0;
  if (isTopTracker)
    resetTop();
  else
    resetBottom();
}

void PowerTracker::resetTop() {
  head = tail = ring;
  hitCount = 0;
  topStep = 1;
  sliding = 0;
  step = &PowerTracker::trackTopNoAdvanceTail;
}

void PowerTracker::resetBottom() {
  head = tail = ring;
  hitCount = 0;
  topStep = 0;
  sliding = 0;
  step = &PowerTracker::trackBottomNoAdvanceTail;
}

void PowerTracker::reInit(int window, int hits) {
  window = std::clamp(window, 1, kMaxWindow);
  if (hits >= window) hits = (window * 7) >> 3;
  winLen = window;
  hitThresh = hits;
  if (topStep)
    resetTop();
  else
    resetBottom();
}

void PowerTracker::scaleValue(int percent) { level = level * percent / 100 + 1; }

int PowerTracker::frameCount() const {
  if (!ring) return 0;
  return static_cast<int>((head - tail + kCells) % kCells);
}

int PowerTracker::fill(int hit) {
  if (!ring) return 0;
  *head = hit;
  if (++head == ringEnd) head = ring;
  hitCount += hit;
  if (frameCount() >= winLen) {
    sliding = 1;
    step = topStep ? &PowerTracker::trackTopAdvanceTail : &PowerTracker::trackBottomAdvanceTail;
  }
  return hitCount >= hitThresh;
}

int PowerTracker::slide(int hit) {
  if (!ring) return 0;
  *head = hit;
  if (++head == ringEnd) head = ring;
  hitCount += hit - *tail;
  if (++tail == ringEnd) tail = ring;
  return hitCount >= hitThresh;
}

int PowerTracker::trackTopNoAdvanceTail(int32_t power, int32_t threshold) { return fill(power > threshold); }
int PowerTracker::trackTopAdvanceTail(int32_t power, int32_t threshold) { return slide(power > threshold); }
int PowerTracker::trackBottomNoAdvanceTail(int32_t power, int32_t threshold) { return fill(power < threshold); }
int PowerTracker::trackBottomAdvanceTail(int32_t power, int32_t threshold) { return slide(power < threshold); }

// ---- WavChannel -----------------------------------------------------------------------------

WavChannel::WavChannel(DisplayHook hook) : displayHook(hook) {
  std::memcpy(normaliser, kInitialNormaliser, sizeof normaliser);
  // Zeroed by calloc rather than by writing: the ring's pages become resident only as samples
  // reach them, and a short file or a channel that is never opened uses little of its 200 KB.
  rawRing = static_cast<char*>(std::calloc(kRawRingBytes, 1));
  if (!rawRing) logError("WavChannel: no memory for the raw sample ring");
  bottom.init(kBottomWindow, kBottomHits, 0);
  top.init(kTopWindow, kTopHits, 1);
}

WavChannel::~WavChannel() {
  // A caller may still hold the current utterance: it stays, aborted and detached.
  if (activeUtt) {
    if (!(activeUtt->flags & Utterance::UTT_COMPLETE)) activeUtt->flags |= Utterance::UTT_ABORTED;
    activeUtt->channel = nullptr;
    activeUtt = nullptr;
  }
  dropPending();
  std::free(rawRing);
}

void WavChannel::keepWavData(int on) {
  if (on)
    flags |= KEEP_WAVE_DATA;
  else
    flags &= ~KEEP_WAVE_DATA;
}

int WavChannel::open(const char* path) {
  (void)path;
  dropPending();
  dcOffsetValue = 1;
  firstChunk = 1;
  std::memset(highPassState, 0, sizeof highPassState);
  std::memset(highPassed, 0, sizeof highPassed);
  highPassNewest = 0;
  bankFloor.reset();
  firstFrame = 1;
  slot = 0;
  oddChunk = 0;
  rawWrite = rawRead = 0;
  uttMark = -1;
  // A new source starts a new search for speech.
  top.resetTop();
  emptyPreSpeech();
  flags |= OPEN;
  return 1;
}

void WavChannel::close() {
  dropPending();
  flags &= ~(OPEN | LISTENING);
}

// The sound player belongs to the device layer. The reference is weak so that a program that only
// reads files (and links no device) does not pull PortAudio in through this one call; in such a
// program a beep plays nothing and reports so.
int platformPlaySound(const char* path, int flags) __attribute__((weak));

int WavChannel::beep(const char* path, int flagsIn) {
  if (!path || platformPlaySound == nullptr) return 0;
  return platformPlaySound(path, flagsIn & 0x1f) ? 1 : 0;
}

void WavChannel::dropPending() {
  if (!pendingUtt) return;
  Utterance* u = pendingUtt;
  pendingUtt = nullptr;
  u->flags |= Utterance::UTT_ABORTED;
  u->channel = nullptr;
  delete u;
}

void WavChannel::stopListening() {
  dropPending();
  if (activeUtt) {
    if (!(activeUtt->flags & Utterance::UTT_COMPLETE)) activeUtt->flags |= Utterance::UTT_ABORTED;
    activeUtt = nullptr;
  }
  flags &= ~LISTENING;
}

void WavChannel::advanceRawWrite() {
  rawWrite += kChunkBytes;
  if (rawWrite >= kRawRingBytes) rawWrite = 0;
  if (rawWrite == rawRead) {
    // The ring is full: the oldest chunk is given up.
    if (uttMark == rawRead) uttMark = -1;
    rawRead += kChunkBytes;
    if (rawRead >= kRawRingBytes) rawRead = 0;
  }
}

int WavChannel::rawHeld(int32_t position) const {
  const int32_t held = wrapRing(static_cast<int64_t>(rawWrite) - rawRead);
  const int32_t dist = wrapRing(static_cast<int64_t>(position) - rawRead);
  return dist < held;
}

Utterance* WavChannel::takeUtt() {
  if (!pendingUtt) return nullptr;
  activeUtt = pendingUtt;
  pendingUtt = nullptr;
  return activeUtt;
}

int WavChannel::isUttAvailable() {
  if (!(flags & LISTENING) || activeUtt) return 0;
  if (pendingUtt) return 1;
  for (;;) {
    Frame* frame = &preSpeech[preWrite];
    const int rc = isFrameAvailableFromSignalProcessing(frame);
    if (rc < 0) {
      if (rc == -1) {
        dcOverflowGuard();
        return -1;
      }
      if (rc == -2 || rc == -3) return rc;
      top.resetTop();
      emptyPreSpeech();
      return rc;
    }
    lastPower = frame->power;
    bottom.level = std::min(bottom.level + kFloorRise, frame->power);
    preWrite = preWrite + 1 == kPreSpeechFrames ? 0 : preWrite + 1;
    if (preCount < kPreSpeechFrames) ++preCount;
    if (!top.track(frame->power, threshold())) continue;

    // Start of speech: the frames of the top tracker's window open the utterance.
    Utterance* utt = new (std::nothrow) Utterance(this);
    if (!utt) {
      logError("WavChannel: no memory for an utterance");
      top.resetTop();
      return -4;
    }
    const int n = std::min(top.frameCount(), preCount);
    for (int i = n; i >= 1; --i) utt->frames.add(preSpeech[(preWrite - i + kPreSpeechFrames) % kPreSpeechFrames]);
    bottom.resetBottom();
    utt->flags = Utterance::UTT_STARTED;
    uttMark = -1;
    if (flags & KEEP_WAVE_DATA) {
      const int32_t mark = wrapRing(static_cast<int64_t>(rawWrite) - 2LL * kFrameSamples * n - 2LL * kPreRollSamples);
      uttMark = rawHeld(mark) ? mark : rawRead;
    }
    pendingUtt = utt;
    return 1;
  }
}

int WavChannel::isFrameAvailableFromSignalProcessing(Utterance* utt) {
  VLM_ASSERT(utt == activeUtt, "utt == activeUtt");
  if (!utt || utt != activeUtt) return -5;

  Frame frame;
  frame.power = lastPower;
  const int rc = isFrameAvailableFromSignalProcessing(&frame);
  if (rc < 0) {
    if (rc == -1) return -1;
    if (rc == -3) {
      // End of input ends the utterance normally.
      resetChannelAccums(utt);
      eouCleanup(utt);
      return -2;
    }
    // Any other code (a source error) aborts the utterance.
    activeUtt = nullptr;
    utt->flags |= Utterance::UTT_ABORTED;
    if (rc == -4) utt->flags |= Utterance::UTT_SOURCE_ERROR;
    top.resetTop();
    emptyPreSpeech();
    return rc;
  }
  if (utt->frames.add(frame) < 0) {
    // Out of memory: the utterance ends with the frames it has.
    resetChannelAccums(utt);
    eouCleanup(utt);
    return -2;
  }
  lastPower = frame.power;
  bottom.level = std::min(bottom.level + kFloorRise, frame.power);
  top.level = std::max(top.level - 1, frame.power);
  if (top.level < bottom.level + kPeakMargin) top.level = bottom.level + kPeakMargin;
  if (bottom.track(frame.power, threshold())) {
    eouCleanup(utt);
    resetChannelAccums(utt);
  }
  return 1;
}

void WavChannel::eouCleanup(Utterance* utt) {
  top.resetTop();
  if (activeUtt == utt) activeUtt = nullptr;
  utt->flags |= Utterance::UTT_COMPLETE;
  if ((flags & KEEP_WAVE_DATA) && uttMark >= 0 && rawRing && !utt->samples) {
    const int32_t bytes = wrapRing(static_cast<int64_t>(rawWrite) - uttMark);
    if (bytes > 0) {
      int16_t* s = new (std::nothrow) int16_t[bytes / 2];
      if (s) {
        const int32_t first = std::min(bytes, kRawRingBytes - uttMark);
        std::memcpy(s, rawRing + uttMark, first);
        if (first < bytes) std::memcpy(reinterpret_cast<char*>(s) + first, rawRing, bytes - first);
        utt->samples = s;
        utt->sampleCount = bytes / 2;
      } else {
        logError("WavChannel: no memory for the utterance's samples");
      }
    }
  }
  uttMark = -1;
}

int WavChannel::isRawWavAvailableNoSignalProcessing() {
  if (!rawRing) return 0;
  while (getWAVCHUNKshorts(reinterpret_cast<short*>(rawRing + rawWrite)) == kChunkSamples) advanceRawWrite();
  return rawWrite != rawRead;
}

unsigned WavChannel::moveRawWavToFile(int fd) {
  if (fd < 0 || !rawRing || rawWrite == rawRead) return 0;
  unsigned total = 0;
  if (rawWrite > rawRead) {
    total += writeAll(fd, rawRing + rawRead, static_cast<unsigned>(rawWrite - rawRead) & ~1u);
  } else {
    total += writeAll(fd, rawRing + rawRead, static_cast<unsigned>(kRawRingBytes - rawRead) & ~1u);
    total += writeAll(fd, rawRing, static_cast<unsigned>(rawWrite) & ~1u);
  }
  rawRead = rawWrite;
  return total;
}

// ---- StaticWavChannel -----------------------------------------------------------------------

StaticWavChannel::~StaticWavChannel() = default;

int StaticWavChannel::open(WaveData* data) {
  if (!data || data->count < 0 || (!data->samples && data->count > 0)) return 0;
  start = data->samples;
  end = start + data->count;
  readPos = start;
  keepWavData(0);
  return WavChannel::open(nullptr);
}

int StaticWavChannel::open(const char* path) {
  (void)path;
  return 0;
}

void StaticWavChannel::close() {
  start = end = readPos = nullptr;
  WavChannel::close();
}

int StaticWavChannel::listen(int on, const WaveFormat* format) {
  (void)format;
  if (!isOpen()) return 0;
  if ((on != 0) == (isListening() != 0)) return on;
  if (!on) {
    stopListening();
    return 0;
  }
  readPos = start;
  flags |= LISTENING;
  return 1;
}

int StaticWavChannel::getWAVCHUNKshorts(short* buffer) {
  if (!readPos || end - readPos <= kChunkSamples) return -3;
  std::memcpy(buffer, readPos, kChunkBytes);
  readPos += kChunkSamples;
  return kChunkSamples;
}

// ---- FileWavChannel -------------------------------------------------------------------------

FileWavChannel::~FileWavChannel() {
  if (fd >= 0) ::close(fd);
}

int FileWavChannel::open(const char* path) {
  if (fd >= 0) ::close(fd);
  fd = -1;
  flags &= ~(NIST_FILE | RIFF_FILE);
  dataLeft = -1;
  if (!path) return 0;
  fd = openRegularFile(path);  // a FIFO or device would block the reader
  if (fd < 0) return 0;
  const int kind = seekToData(fd, headerBuf);
  if (kind == eWaveNist) {
    flags |= NIST_FILE;
  } else if (kind == eWaveRiff) {
    flags |= RIFF_FILE;
    // Stop at the end of the data chunk, so that chunks after it are not read as samples.
    const off_t pos = ::lseek(fd, 0, SEEK_CUR);
    for (int off = 32; off <= 198; off += 2) {
      if (std::memcmp(headerBuf + off, "data", 4) != 0) continue;
      const unsigned char* b = reinterpret_cast<const unsigned char*>(headerBuf + off + 4);
      const uint32_t size = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
      if (size != 0 && size != 0xFFFFFFFFu && pos >= 0) {
        const int64_t endOfData = static_cast<int64_t>(off) + 8 + size;
        dataLeft = std::max<int64_t>(0, endOfData - pos);
      }
      break;
    }
  } else {
    ::close(fd);
    fd = -1;
    return 0;
  }
  return WavChannel::open(path);
}

void FileWavChannel::close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  flags &= ~(NIST_FILE | RIFF_FILE);
  WavChannel::close();
}

int FileWavChannel::listen(int on, const WaveFormat* format) {
  (void)format;
  if (!isOpen()) return 0;
  if ((on != 0) == (isListening() != 0)) return on;
  if (!on) {
    stopListening();
    return 0;
  }
  flags |= LISTENING;
  return 1;
}

int FileWavChannel::getWAVCHUNKshorts(short* buffer) {
  if (fd < 0) return -3;
  if (dataLeft >= 0 && dataLeft < kChunkBytes) return -3;
  char* p = reinterpret_cast<char*>(buffer);
  int got = 0;
  while (got < kChunkBytes) {
    const ssize_t n = ::read(fd, p + got, kChunkBytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<int>(n);
  }
  if (got < kChunkBytes) return -3;
  if (dataLeft >= 0) dataLeft -= kChunkBytes;
  if constexpr (std::endian::native == std::endian::big) {
    for (int i = 0; i < kChunkSamples; ++i) buffer[i] = static_cast<short>(__builtin_bswap16(static_cast<uint16_t>(buffer[i])));
  }
  return kChunkSamples;
}

}  // namespace vlm
