// The PortAudio back end: recording into the ring from PortAudio's callback thread (resampled
// with libsoxr when the device cannot run at the asked rate), block playback, and the platform
// sound player.
#define VLM_UNIT "audiodev"
#include <dlfcn.h>
#include <portaudio.h>
#include <soxr.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/audio/audiodevice.h"
#include "platform/audio/capture.h"

namespace vlm {

namespace {

// ALSA and JACK print their probing failures (no sound card, no server) on standard error; the
// layer reports device failures itself, so they are silenced unless $VELMORA_AUDIO_DEBUG is set.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}

void silenceBackendChatter() {
  if (std::getenv("VELMORA_AUDIO_DEBUG") != nullptr) return;
  using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
  using SetAlsaHandler = int (*)(AlsaHandler);
  using SetJackHandler = void (*)(void (*)(const char*));
  if (auto set = reinterpret_cast<SetAlsaHandler>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) set(quietAlsa);
  if (auto set = reinterpret_cast<SetJackHandler>(dlsym(RTLD_DEFAULT, "jack_set_error_function"))) set(quietJack);
  if (auto set = reinterpret_cast<SetJackHandler>(dlsym(RTLD_DEFAULT, "jack_set_info_function"))) set(quietJack);
}

std::once_flag paOnce;
bool paInitialised = false;

// The index of the device'th PortAudio device that can record (input) or play, or the default
// one for kWaveMapper; paNoDevice when there is none.
PaDeviceIndex pickDevice(unsigned device, bool input) {
  if (device == kWaveMapper) return input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
  int count = Pa_GetDeviceCount();
  unsigned seen = 0;
  for (int i = 0; i < count; i++) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info == nullptr || (input ? info->maxInputChannels : info->maxOutputChannels) <= 0) continue;
    if (seen++ == device) return i;
  }
  return paNoDevice;
}

PaSampleFormat paFormatOf(const WaveFormat& format) { return format.bitsPerSample == 8 ? paUInt8 : paInt16; }

// $VELMORA_AUDIO_DEVICE_RATE: run the devices at this rate and convert with libsoxr, for devices
// that accept the system's rates but handle them badly. 0 when unset.
double forcedDeviceRate() {
  const char* text = std::getenv("VELMORA_AUDIO_DEVICE_RATE");
  if (text == nullptr) return 0;
  double rate = std::atof(text);
  return rate >= 4000 && rate <= 384000 ? rate : 0;
}

constexpr unsigned long kFramesPerCallback = 256;

class PortAudioInput : public InputDevice {
 public:
  PortAudioInput(const WaveFormat& format, WaveInFifo& fifo) : format(format), monoFormat(format), writer(fifo) {
    monoFormat.channels = 1;
  }
  ~PortAudioInput() override {
    stop();
    if (resampler != nullptr) soxr_delete(resampler);
    delete[] resampled;
    delete[] staging;
  }

  // Opens the stream at the asked rate when the device can, else at its own rate with a
  // resampler in between. 1 when open.
  int open(PaDeviceIndex index) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
    if (info == nullptr) return 0;
    PaStreamParameters parameters{};
    parameters.device = index;
    parameters.channelCount = format.channels;
    parameters.sampleFormat = paFormatOf(format);
    parameters.suggestedLatency = info->defaultLowInputLatency;
    const double forced = forcedDeviceRate();
    if ((forced == 0 || forced == format.samplesPerSec) &&
        Pa_IsFormatSupported(&parameters, nullptr, format.samplesPerSec) == paFormatIsSupported) {
      return Pa_OpenStream(&stream, &parameters, nullptr, format.samplesPerSec, kFramesPerCallback, paClipOff,
                           &PortAudioInput::directCallback, this) == paNoError;
    }
    double deviceRate = forced != 0 ? forced : info->defaultSampleRate;
    parameters.sampleFormat = paFloat32;
    if (deviceRate <= 0 || Pa_IsFormatSupported(&parameters, nullptr, deviceRate) != paFormatIsSupported) return 0;
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    resampler = soxr_create(deviceRate, format.samplesPerSec, format.channels, &error, &io, &quality, nullptr);
    if (error != nullptr || resampler == nullptr) return 0;
    resampledCapacity = static_cast<size_t>(kFramesPerCallback * (format.samplesPerSec / deviceRate) + 64);
    resampled = new (std::nothrow) float[resampledCapacity * format.channels];
    staging = new (std::nothrow) unsigned char[resampledCapacity * format.blockAlign];
    if (resampled == nullptr || staging == nullptr) return 0;
    return Pa_OpenStream(&stream, &parameters, nullptr, deviceRate, kFramesPerCallback, paClipOff,
                         &PortAudioInput::resamplingCallback, this) == paNoError;
  }

  int start() override { return stream != nullptr && Pa_StartStream(stream) == paNoError; }
  void stop() override {
    if (stream == nullptr) return;
    Pa_AbortStream(stream);
    Pa_CloseStream(stream);
    stream = nullptr;
  }

 private:
  static int directCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                            PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PortAudioInput*>(user);
    if (input != nullptr) self->writer.write(static_cast<const unsigned char*>(input), frames * self->format.blockAlign);
    return paContinue;
  }

  static int resamplingCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                                PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PortAudioInput*>(user);
    const float* in = static_cast<const float*>(input);
    const size_t channels = self->format.channels;
    while (in != nullptr && frames > 0) {
      size_t slice = frames < kFramesPerCallback ? frames : kFramesPerCallback;
      size_t used = 0, made = 0;
      if (soxr_process(self->resampler, in, slice, &used, self->resampled, self->resampledCapacity, &made) != nullptr)
        break;
      // Interleaved floats to the format's bytes: each value as one mono sample.
      floatToFormat(self->resampled, made * channels, self->monoFormat, self->staging);
      self->writer.write(self->staging, made * self->format.blockAlign);
      if (used == 0) break;
      in += used * channels;
      frames -= used;
    }
    return paContinue;
  }

  WaveFormat format;
  WaveFormat monoFormat;
  CaptureWriter writer;
  PaStream* stream = nullptr;
  soxr_t resampler = nullptr;
  float* resampled = nullptr;
  size_t resampledCapacity = 0;
  unsigned char* staging = nullptr;
};

class PortAudioOutput : public OutputDevice {
 public:
  explicit PortAudioOutput(const WaveFormat& format) : format(format) {}
  ~PortAudioOutput() override {
    if (stream != nullptr) {
      Pa_AbortStream(stream);
      Pa_CloseStream(stream);
    }
    delete[] samples;
  }

  int open(PaDeviceIndex index) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
    if (info == nullptr) return 0;
    PaStreamParameters parameters{};
    parameters.device = index;
    parameters.channelCount = format.channels;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = info->defaultLowOutputLatency;
    const double forced = forcedDeviceRate();
    streamRate = forced != 0 ? forced : format.samplesPerSec;
    if (Pa_IsFormatSupported(nullptr, &parameters, streamRate) != paFormatIsSupported) {
      streamRate = info->defaultSampleRate;
      if (streamRate <= 0 || Pa_IsFormatSupported(nullptr, &parameters, streamRate) != paFormatIsSupported) return 0;
    }
    PaError error = Pa_OpenStream(&stream, nullptr, &parameters, streamRate, paFramesPerBufferUnspecified, paClipOff,
                                  &PortAudioOutput::callback, this);
    if (error != paNoError) {
      stream = nullptr;
      return 0;
    }
    Pa_SetStreamFinishedCallback(stream, &PortAudioOutput::streamFinished);
    return 1;
  }

  int write(const char* data, unsigned bytes) override {
    const size_t channels = format.channels;
    size_t frames = bytes / format.blockAlign;
    std::vector<float> interleaved(frames * channels);
    formatToFloat(reinterpret_cast<const unsigned char*>(data), frames, format, interleaved.data());
    size_t outFrames = frames;
    if (static_cast<unsigned>(streamRate) != format.samplesPerSec) {
      // The whole block at once, all channels together.
      outFrames = static_cast<size_t>(static_cast<double>(frames) * streamRate / format.samplesPerSec) + 16;
      samples = new (std::nothrow) float[outFrames * channels];
      if (samples == nullptr) return 0;
      soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
      soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
      size_t done = 0;
      if (soxr_oneshot(format.samplesPerSec, streamRate, static_cast<unsigned>(channels), interleaved.data(), frames,
                       nullptr, samples, outFrames, &done, &io, &quality, nullptr) != nullptr)
        return 0;
      outFrames = done;
    } else {
      samples = new (std::nothrow) float[frames * channels + 1];
      if (samples == nullptr) return 0;
      std::memcpy(samples, interleaved.data(), sizeof(float) * frames * channels);
    }
    totalFrames = outFrames;
    position = 0;
    done.store(0);
    if (Pa_StartStream(stream) != paNoError) return 0;
    started = true;
    return 1;
  }
  int finished() override { return started && (done.load() || Pa_IsStreamActive(stream) == 0); }
  void reset() override {
    if (stream != nullptr) Pa_AbortStream(stream);
    done.store(1);
    started = true;
  }

 private:
  static int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                      PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PortAudioOutput*>(user);
    const size_t channels = self->format.channels;
    float* out = static_cast<float*>(output);
    size_t left = self->totalFrames - self->position;
    size_t n = frames < left ? frames : left;
    std::memcpy(out, self->samples + self->position * channels, sizeof(float) * n * channels);
    std::memset(out + n * channels, 0, sizeof(float) * (frames - n) * channels);
    self->position += n;
    return self->position >= self->totalFrames ? paComplete : paContinue;
  }
  static void streamFinished(void* user) { static_cast<PortAudioOutput*>(user)->done.store(1); }

  WaveFormat format;
  PaStream* stream = nullptr;
  double streamRate = 0;
  float* samples = nullptr;
  size_t totalFrames = 0;
  size_t position = 0;
  std::atomic<int> done{0};
  bool started = false;
};

// The sound player's one asynchronous sound.
struct SoundPlayer {
  std::mutex mutex;
  std::thread thread;
  std::atomic<bool> cancel{false};
  ~SoundPlayer() { stopCurrent(); }
  void stopCurrent() {
    cancel.store(true);
    if (thread.joinable()) thread.join();
    cancel.store(false);
  }
};

SoundPlayer& soundPlayer() {
  static SoundPlayer player;
  return player;
}

// Plays 16-bit mono samples on the default output until done or cancelled; 1 when played.
int playSamples(const int16_t* pcm, uint32_t count, uint32_t rate, const std::atomic<bool>* cancel) {
  WaveFormat format = {1, 1, rate, rate * 2, 2, 16, 0};
  OutputDevice* out = openOutputDevice(kWaveMapper, format);
  if (out == nullptr) return 0;
  int ok = out->write(reinterpret_cast<const char*>(pcm), count * 2);
  while (ok && !out->finished()) {
    if (cancel != nullptr && cancel->load()) {
      out->reset();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  delete out;
  return ok;
}

}  // namespace

int portAudioReady() {
  std::call_once(paOnce, [] {
    silenceBackendChatter();
    paInitialised = Pa_Initialize() == paNoError;
  });
  return paInitialised;
}

int portAudioDeviceCount(bool input) {
  if (!portAudioReady()) return 0;
  int count = Pa_GetDeviceCount(), n = 0;
  for (int i = 0; i < count; i++) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info != nullptr && (input ? info->maxInputChannels : info->maxOutputChannels) > 0) n++;
  }
  return n;
}

InputDevice* openPortAudioInputDevice(unsigned device, const WaveFormat& format, WaveInFifo& fifo) {
  if (!portAudioReady()) return nullptr;
  PaDeviceIndex index = pickDevice(device, true);
  if (index == paNoDevice) return nullptr;
  auto* in = new PortAudioInput(format, fifo);
  if (!in->open(index)) {
    delete in;
    return nullptr;
  }
  return in;
}

OutputDevice* openPortAudioOutputDevice(unsigned device, const WaveFormat& format) {
  if (!portAudioReady()) return nullptr;
  PaDeviceIndex index = pickDevice(device, false);
  if (index == paNoDevice) return nullptr;
  auto* out = new PortAudioOutput(format);
  if (!out->open(index)) {
    delete out;
    return nullptr;
  }
  return out;
}

int platformPlaySound(const char* path, int flags) {
  LoadedWave wave;
  char error[160];
  if (path == nullptr || !loadWaveFile(path, &wave, error, sizeof error) || wave.count == 0) return 0;
  std::vector<int16_t> pcm(wave.count);
  WaveFormat mono = {1, 1, wave.rate, wave.rate * 2, 2, 16, 0};
  floatToFormat(wave.samples, wave.count, mono, reinterpret_cast<unsigned char*>(pcm.data()));
  // The rate must be one the devices take; anything else is converted first.
  uint32_t rate = wave.rate;
  if (!isPlayableFormat(&mono)) {
    uint32_t count = 0;
    float* converted = resampleMono(wave.samples, wave.count, wave.rate, 44100, &count);
    if (converted == nullptr) return 0;
    rate = 44100;
    pcm.resize(count);
    mono = {1, 1, rate, rate * 2, 2, 16, 0};
    floatToFormat(converted, count, mono, reinterpret_cast<unsigned char*>(pcm.data()));
    delete[] converted;
  }
  SoundPlayer& player = soundPlayer();
  std::lock_guard<std::mutex> lock(player.mutex);
  player.stopCurrent();  // a new sound stops the one playing
  if ((flags & eSndAsync) == 0) return playSamples(pcm.data(), static_cast<uint32_t>(pcm.size()), rate, nullptr);
  player.thread = std::thread([samples = std::move(pcm), rate, &player] {
    playSamples(samples.data(), static_cast<uint32_t>(samples.size()), rate, &player.cancel);
  });
  return 1;
}

}  // namespace vlm
