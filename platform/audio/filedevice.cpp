// The file-backed input device and the null output device: every audio path of the system runs
// without a sound card.
//
// The file device stands for a microphone that hears the files of $VELMORA_MIC ("a.wav,b.wav") in
// turn, each preceded by $VELMORA_MIC_GAP seconds of silence (default 2, so that the endpointer
// sees the end of every file as the end of an utterance) and the last also followed by it. Files
// are converted to the recording format on the way in (channels mixed, rate converted with
// libsoxr). The device delivers 200-byte buffers in real time, dropping what the reader does not
// take in time like a real device; with $VELMORA_MIC_FAST=1 it delivers as fast as the reader
// takes them and drops nothing. Its position carries over from one start to the next, so turning
// the microphone off and on does not hear the files again; after the end it delivers nothing.
#define VLM_UNIT "audiodev"
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/log.h"
#include "platform/audio/audiodevice.h"
#include "platform/audio/capture.h"

namespace vlm {

namespace {

double envSeconds(const char* name, double fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == 0) return fallback;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || !(v >= 0) || v > 3600) return fallback;
  return v;
}

bool envFlag(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != 0 && std::strcmp(text, "0") != 0;
}

// What the microphone hears, in the recording format, and how far it has been heard.
struct FileMicSession {
  std::string key;                     // file list, format and gap it was made for
  std::vector<unsigned char> stream;   // a whole number of buffers
  size_t position = 0;                 // bytes delivered (or, in real time, passed)
};

std::mutex sessionMutex;
FileMicSession session;

bool buildStream(const char* fileList, const WaveFormat& format, double gapSeconds, std::vector<unsigned char>& out) {
  out.clear();
  const size_t gapFrames = static_cast<size_t>(gapSeconds * format.samplesPerSec + 0.5);
  const unsigned char silence = silenceByte(format);
  auto appendSilence = [&] { out.insert(out.end(), gapFrames * format.blockAlign, silence); };
  std::string list(fileList);
  size_t start = 0;
  int files = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string path = list.substr(start, comma - start);
    start = comma + 1;
    if (path.empty()) continue;
    LoadedWave wave;
    char error[160] = "";
    if (!loadWaveFile(path.c_str(), &wave, error, sizeof error)) {
      std::string text = "VELMORA_MIC: cannot use " + path + ": ";
      logError(text.c_str(), error);
      return false;
    }
    uint32_t count = 0;
    float* converted = resampleMono(wave.samples, wave.count, wave.rate, format.samplesPerSec, &count);
    if (converted == nullptr) {
      std::string text = "VELMORA_MIC: cannot convert " + path;
      logError(text.c_str());
      return false;
    }
    appendSilence();
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(count) * format.blockAlign);
    floatToFormat(converted, count, format, out.data() + at);
    delete[] converted;
    files++;
  }
  if (files == 0) return false;
  appendSilence();
  size_t rest = out.size() % kWaveInBufferBytes;
  if (rest != 0) out.insert(out.end(), kWaveInBufferBytes - rest, silence);
  return true;
}

class FileInputDevice : public InputDevice {
 public:
  FileInputDevice(const WaveFormat& format, WaveInFifo& fifo, bool fast)
      : format(format), writer(fifo), fifo(fifo), fast(fast) {}
  ~FileInputDevice() override { stop(); }

  int start() override {
    running.store(true);
    try {
      thread = std::thread([this] { fast ? runFast() : runRealTime(); });
    } catch (const std::system_error&) {
      running.store(false);
      return 0;
    }
    return 1;
  }
  void stop() override {
    running.store(false);
    if (!thread.joinable()) return;
    thread.join();
    if (fast) {
      // The buffers still waiting in the ring are emptied with it when the microphone goes off;
      // a file read as fast as it is taken hears them again at the next start, so nothing of the
      // files is lost.
      std::lock_guard<std::mutex> lock(sessionMutex);
      size_t unread = static_cast<size_t>(fifo.filledCount()) * kWaveInBufferBytes + writer.partialBytes();
      session.position -= std::min(unread, session.position);
      writer.discardPartial();
    }
  }
  int ended() const override { return finished.load(); }

 private:
  // Delivers as fast as the reader frees buffers; nothing is dropped.
  void runFast() {
    std::unique_lock<std::mutex> lock(sessionMutex);
    while (running.load()) {
      size_t remaining = session.stream.size() - session.position;
      if (remaining == 0) {
        finished.store(true);
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        lock.lock();
        continue;
      }
      size_t taken = writer.writeNoDrop(session.stream.data() + session.position, remaining);
      session.position += taken;
      if (taken == 0) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
      }
    }
  }

  // Delivers one buffer per buffer duration on an absolute schedule; a buffer the ring has no
  // room for is lost, as with a real device.
  void runRealTime() {
    using Clock = std::chrono::steady_clock;
    const double seconds = static_cast<double>(kWaveInBufferBytes / format.blockAlign) / format.samplesPerSec;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto next = Clock::now() + period;
    while (running.load()) {
      std::this_thread::sleep_until(next);
      next += period;
      std::lock_guard<std::mutex> lock(sessionMutex);
      if (session.position >= session.stream.size()) {
        finished.store(true);
        continue;
      }
      writer.write(session.stream.data() + session.position, kWaveInBufferBytes);
      session.position += kWaveInBufferBytes;
    }
  }

  WaveFormat format;
  CaptureWriter writer;
  WaveInFifo& fifo;
  bool fast;
  std::atomic<bool> running{false};
  std::atomic<bool> finished{false};
  std::thread thread;
};

std::atomic<unsigned> nullBlocks{0};
std::atomic<unsigned long long> nullBytes{0};

class NullOutputDevice : public OutputDevice {
 public:
  explicit NullOutputDevice(const WaveFormat& format) : format(format) {}
  int write(const char* data, unsigned bytes) override {
    nullBlocks.fetch_add(1);
    nullBytes.fetch_add(bytes);
    double seconds = 0;
    const double bytesPerSecond = static_cast<double>(format.samplesPerSec) * format.blockAlign;
    if (!envFlag("VELMORA_SPEAKER_FAST") && bytesPerSecond > 0) seconds = bytes / bytesPerSecond;
    deadline = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    started = true;
    return 1;
  }
  int finished() override { return stopped || (started && std::chrono::steady_clock::now() >= deadline); }
  void reset() override { stopped = true; }

 private:
  WaveFormat format;
  std::chrono::steady_clock::time_point deadline{};
  bool started = false;
  bool stopped = false;
};

}  // namespace

InputDevice* openFileInputDevice(const char* fileList, const WaveFormat& format, WaveInFifo& fifo) {
  const double gap = envSeconds("VELMORA_MIC_GAP", 2.0);
  std::string key = std::string(fileList) + "|" + std::to_string(format.samplesPerSec) + "|" +
                    std::to_string(format.bitsPerSample) + "|" + std::to_string(format.channels) + "|" +
                    std::to_string(gap);
  {
    std::lock_guard<std::mutex> lock(sessionMutex);
    if (session.key != key) {
      std::vector<unsigned char> stream;
      if (!buildStream(fileList, format, gap, stream)) return nullptr;
      session.stream.swap(stream);
      session.position = 0;
      session.key = key;
    }
  }
  return new FileInputDevice(format, fifo, envFlag("VELMORA_MIC_FAST"));
}

OutputDevice* openNullOutputDevice(const WaveFormat& format) { return new NullOutputDevice(format); }
unsigned nullOutputBlocksPlayed() { return nullBlocks.load(); }
unsigned long long nullOutputBytesPlayed() { return nullBytes.load(); }

InputDevice* openInputDevice(unsigned device, const WaveFormat& format, WaveInFifo& fifo) {
  if (!isPlayableFormat(&format)) return nullptr;
  const char* files = std::getenv("VELMORA_MIC");
  if (files != nullptr && *files != 0) return openFileInputDevice(files, format, fifo);
  return openPortAudioInputDevice(device, format, fifo);
}

OutputDevice* openOutputDevice(unsigned device, const WaveFormat& format) {
  if (!isPlayableFormat(&format)) return nullptr;
  const char* mode = std::getenv("VELMORA_SPEAKER");
  if (mode != nullptr && std::strcmp(mode, "null") == 0) return openNullOutputDevice(format);
  bool realOnly = mode != nullptr && std::strcmp(mode, "portaudio") == 0;
  if (!realOnly && (!portAudioReady() || portAudioDeviceCount(false) == 0)) return openNullOutputDevice(format);
  return openPortAudioOutputDevice(device, format);
}

}  // namespace vlm
