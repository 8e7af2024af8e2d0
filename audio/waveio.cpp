// The audio device layer: the recording ring, the layer's notification thread, recording,
// block playback and the short-sound player.
#define VLM_UNIT "waveio"
#include "audio/waveio.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include "audio/wavefile.h"
#include "foundation/safefile.h"
#include "platform/audio/audiodevice.h"
#include "platform/msgbox.h"

namespace vlm {

const WaveFormat kDefaultWaveFormat = {1, 1, 11025, 22050, 2, 16, 0};
const WaveFormat kRecorderWaveFormat = {1, 1, 8000, 8000, 1, 8, 0};

// ---- WaveInFifo ------------------------------------------------------------------------------

WaveInFifo::WaveInFifo() {
  for (int i = 0; i < kWaveInBufferCount; i++) {
    headers[i].data = storage[i];
    headers[i].bytes = kWaveInBufferBytes;
    headers[i].recorded = 0;
    headers[i].flags = 0;
  }
  reset();
}

WaveInHeader* WaveInFifo::takeFree() {
  int read = freeRead.load(std::memory_order_relaxed);
  if (read == freeWrite.load(std::memory_order_acquire)) {
    overrunCount.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  WaveInHeader* header = freed[read];
  freeRead.store(read + 1 == kWaveInRingSlots ? 0 : read + 1, std::memory_order_release);
  return header;
}

void WaveInFifo::putFilled(WaveInHeader* header) {
  int write = filledWrite.load(std::memory_order_relaxed);
  filled[write] = header;
  header->flags |= 1;  // done
  filledWrite.store(write + 1 == kWaveInRingSlots ? 0 : write + 1, std::memory_order_release);
}

WaveInHeader* WaveInFifo::takeFilled() {
  int read = filledRead.load(std::memory_order_relaxed);
  if (read == filledWrite.load(std::memory_order_acquire)) return nullptr;
  WaveInHeader* header = filled[read];
  filledRead.store(read + 1 == kWaveInRingSlots ? 0 : read + 1, std::memory_order_release);
  return header;
}

void WaveInFifo::giveBack(WaveInHeader* header) {
  header->flags = 0x10;  // queued at the device again
  header->recorded = 0;
  int write = freeWrite.load(std::memory_order_relaxed);
  freed[write] = header;
  freeWrite.store(write + 1 == kWaveInRingSlots ? 0 : write + 1, std::memory_order_release);
}

static int ringCount(const std::atomic<int>& write, const std::atomic<int>& read) {
  int n = write.load(std::memory_order_acquire) - read.load(std::memory_order_acquire);
  return n < 0 ? n + kWaveInRingSlots : n;
}

int WaveInFifo::filledCount() const { return ringCount(filledWrite, filledRead); }
int WaveInFifo::freeCount() const { return ringCount(freeWrite, freeRead); }

void WaveInFifo::reset() {
  for (int i = 0; i < kWaveInBufferCount; i++) {
    headers[i].flags = 0x10;
    headers[i].recorded = 0;
    freed[i] = &headers[i];
  }
  filledWrite.store(0, std::memory_order_relaxed);
  filledRead.store(0, std::memory_order_relaxed);
  freeRead.store(0, std::memory_order_relaxed);
  freeWrite.store(kWaveInBufferCount, std::memory_order_release);
}

WaveInFifo& waveInFifo() {
  // Allocated with the program (static storage), so it never fails and never moves.
  static WaveInFifo fifo;
  return fifo;
}

// ---- The layer's state and thread ------------------------------------------------------------

namespace {

// Requests to the layer's thread, as bits: each kind is pending at most once and they are
// handled in this order (the input first, closing last), so no request is ever lost.
enum LayerRequest { eRequestWake = 0, eRequestInputClosed = 1, eRequestStopPlaying = 2, eRequestClose = 4 };

struct WaveOutHeader {
  char* data;
  unsigned bytes;
  unsigned flags;
};

struct Layer {
  pthread_t thread{};
  bool threadStarted = false;           // application thread only
  std::atomic<int> open{0};             // the thread runs its loop
  std::atomic<int> closedByThread{0};   // the thread has finished

  std::mutex requestMutex;
  std::condition_variable requestReady;
  int pendingRequests = 0;
  bool wake = false;

  // Recording (application thread, except that the layer's thread forgets the device when it
  // sees it closed).
  std::atomic<InputDevice*> input{nullptr};
  int transientLength = kDefaultTransientLength;
  int discard = 0;

  // Playback: the device, the header and the data, guarded by outputMutex (the application
  // thread starts playing, the layer's thread ends it).
  std::mutex outputMutex;
  OutputDevice* output = nullptr;
  WaveOutHeader* header = nullptr;
  char* playedData = nullptr;
  std::atomic<int> playing{0};

  // The ring is made first, so that it is still there when this state goes at exit.
  Layer() { waveInFifo(); }
  ~Layer();
};

Layer& layer() {
  static Layer state;
  return state;
}

void post(Layer& l, int request) {
  {
    std::lock_guard<std::mutex> lock(l.requestMutex);
    l.pendingRequests |= request;
    l.wake = true;
  }
  l.requestReady.notify_one();
}

void pollSleep() { ::usleep(10000); }

// Stops playing: resets and closes the output device, frees the played data and its header.
// Caller holds outputMutex.
void stopPlayingLocked(Layer& l) {
  if (l.output != nullptr) {
    l.output->reset();
    delete l.output;
    l.output = nullptr;
  }
  delete[] l.playedData;
  l.playedData = nullptr;
  delete l.header;
  l.header = nullptr;
  l.playing.store(0, std::memory_order_release);
}

// Stops recording: stops and closes the input device and empties the ring.
void closeInput(Layer& l) {
  InputDevice* device = l.input.load(std::memory_order_acquire);
  if (device == nullptr) return;
  device->stop();
  delete device;
  waveInFifo().reset();
  l.input.store(nullptr, std::memory_order_release);
}

// The layer's thread: handles the requests posted to it and ends playing when the block has been
// played; on the close request stops playing and recording and ends.
void* waveIoWinMain(void* argument) {
  Layer& l = *static_cast<Layer*>(argument);
  l.open.store(1, std::memory_order_release);
  bool running = true;
  while (running) {
    int pending = 0;
    {
      std::unique_lock<std::mutex> lock(l.requestMutex);
      auto ready = [&] { return l.wake; };
      if (l.playing.load(std::memory_order_acquire))
        l.requestReady.wait_for(lock, std::chrono::milliseconds(10), ready);
      else
        l.requestReady.wait(lock, ready);
      pending = l.pendingRequests;
      l.pendingRequests = 0;
      l.wake = false;
    }
    if (pending & eRequestInputClosed) closeInput(l);
    if (pending & eRequestStopPlaying) {
      std::lock_guard<std::mutex> lock(l.outputMutex);
      if (l.output != nullptr) l.output->reset();  // ends through the finished check below
    }
    if (pending & eRequestClose) running = false;
    {
      // The "output block done" notification.
      std::lock_guard<std::mutex> lock(l.outputMutex);
      if (l.output != nullptr && l.output->finished()) stopPlayingLocked(l);
    }
  }
  // Destroy: stop playing and recording, mark the layer closed.
  {
    std::lock_guard<std::mutex> lock(l.outputMutex);
    stopPlayingLocked(l);
  }
  closeInput(l);
  l.open.store(0, std::memory_order_release);
  l.closedByThread.store(1, std::memory_order_release);
  return nullptr;
}

Layer::~Layer() {
  // At exit: stop the thread, the devices with it, before the process's statics go away.
  if (threadStarted) waveIoClose();
}

void showDeviceError(const char* text, const char* caption) {
  messageBox(text, caption, eBoxOk, eIconWarning, eAnswerOk);
}

}  // namespace

void waveIoOpen() {
  Layer& l = layer();
  if (l.threadStarted) return;
  l.closedByThread.store(0, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(l.requestMutex);
    l.pendingRequests = 0;
    l.wake = false;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  int failed = pthread_create(&l.thread, &attributes, waveIoWinMain, &l);
  pthread_attr_destroy(&attributes);
  if (failed != 0) {
    messageBox(kMsgCannotCreateWindow, kMsgInitError, eBoxOk, eIconError, eAnswerOk);
    return;
  }
  l.threadStarted = true;
  while (!l.open.load(std::memory_order_acquire) && !l.closedByThread.load(std::memory_order_acquire))
    pollSleep();
}

void waveIoClose() {
  Layer& l = layer();
  if (!l.threadStarted) return;
  post(l, eRequestClose);
  while (!l.closedByThread.load(std::memory_order_acquire)) pollSleep();
  pthread_join(l.thread, nullptr);
  l.threadStarted = false;
}

int waveIoIsOpen() { return layer().open.load(std::memory_order_acquire); }

int waveIoMicOn(unsigned device, const WaveFormat* format) {
  Layer& l = layer();
  if (l.input.load(std::memory_order_acquire) != nullptr) return eWaveIoOk;
  waveIoOpen();
  const WaveFormat& wanted = format != nullptr ? *format : kDefaultWaveFormat;
  WaveInFifo& fifo = waveInFifo();
  fifo.reset();
  fifo.clearOverruns();
  InputDevice* in = waveIoIsOpen() ? openInputDevice(device, wanted, fifo) : nullptr;
  if (in == nullptr) {
    showDeviceError(kMsgOpenInFailed, kMsgDeviceError);
    return eWaveIoOpenFailed;
  }
  l.discard = l.transientLength;
  if (!in->prepare()) {
    showDeviceError(kMsgSetupBufsFailed, kMsgDeviceError);
    in->stop();
    delete in;
    fifo.reset();
    return eWaveIoQueueFailed;
  }
  l.input.store(in, std::memory_order_release);
  if (!in->start()) {
    l.input.store(nullptr, std::memory_order_release);
    in->stop();
    delete in;
    fifo.reset();
    showDeviceError(kMsgStartInFailed, kMsgDeviceError);
    return eWaveIoQueueFailed;
  }
  return eWaveIoOk;
}

void waveIoMicOff() {
  Layer& l = layer();
  if (!waveIoIsOpen()) {
    messageBox(kMsgNotInitialized, kMsgInitError, eBoxOk, eIconError, eAnswerOk);
    return;
  }
  InputDevice* device = l.input.load(std::memory_order_acquire);
  if (device == nullptr) return;
  // Stop the producer here; the layer's thread forgets the device and empties the ring.
  device->stop();
  post(l, eRequestInputClosed);
  while (l.input.load(std::memory_order_acquire) != nullptr && waveIoIsOpen()) pollSleep();
}

int waveIoIsMicOn() { return layer().input.load(std::memory_order_acquire) != nullptr; }

int waveIoGetWAVCHUNKshorts(short* buffer) {
  Layer& l = layer();
  if (l.input.load(std::memory_order_acquire) == nullptr) return eWaveIoMicOff;
  WaveInFifo& fifo = waveInFifo();
  while (WaveInHeader* header = fifo.takeFilled()) {
    std::memcpy(buffer, header->data, kWaveInBufferBytes);
    fifo.giveBack(header);
    if (l.discard > 0) {
      l.discard--;
      continue;
    }
    return kWavChunkShorts;
  }
  return eWaveIoNoBuffer;
}

int waveIoTransientLength(int n) {
  Layer& l = layer();
  int current = l.transientLength;
  if (n >= 0) l.transientLength = n;
  return current;
}

int waveIoMicInputEnded() {
  InputDevice* device = layer().input.load(std::memory_order_acquire);
  return device != nullptr && device->ended() && waveInFifo().filledCount() == 0;
}

int playWaveData(char* data, unsigned bytes, const WaveFormat* format, unsigned device) {
  Layer& l = layer();
  waveIoOpen();
  const WaveFormat& wanted = format != nullptr ? *format : kDefaultWaveFormat;
  const char* failure = nullptr;
  const char* caption = kMsgDeviceError;
  int result = eWaveIoOk;
  {
    std::lock_guard<std::mutex> lock(l.outputMutex);
    stopPlayingLocked(l);  // one playback at a time
    OutputDevice* out = waveIoIsOpen() ? openOutputDevice(device, wanted) : nullptr;
    if (out == nullptr) {
      delete[] data;
      failure = kMsgOpenOutFailed;
      result = eWaveIoOpenFailed;
    } else {
      l.output = out;
      l.header = new (std::nothrow) WaveOutHeader{data, bytes, 0};
      if (l.header == nullptr) {
        delete[] data;
        failure = kMsgNoHeaderMemory;
        caption = kMsgMemoryError;
      } else {
        l.playedData = data;
        // Preparing: the block must hold at least one whole sample frame of the format.
        unsigned align = wanted.blockAlign != 0 ? wanted.blockAlign : 1;
        l.header->bytes = bytes - bytes % align;
        if (data == nullptr || l.header->bytes == 0) {
          failure = kMsgPrepareFailed;
          caption = kMsgPrepareError;
        } else {
          l.header->flags = 2;  // prepared
          l.playing.store(1, std::memory_order_release);
          if (!out->write(data, l.header->bytes)) failure = kMsgWriteBlockFailed;
        }
      }
      if (failure != nullptr) {
        stopPlayingLocked(l);
        result = eWaveIoQueueFailed;
      }
    }
  }
  if (result == eWaveIoOk) {
    post(l, eRequestWake);  // wakes the layer's thread so that it watches the block's end
  } else {
    showDeviceError(failure, caption);
  }
  return result;
}

int waveIoIsPlaying() { return layer().playing.load(std::memory_order_acquire); }

void waveIoStopPlaying() {
  if (waveIoIsOpen() && waveIoIsPlaying()) post(layer(), eRequestStopPlaying);
}

int waveIoBeep(const WaveFormat* format, char* data, unsigned bytes, unsigned device) {
  if (format == nullptr || data == nullptr) {
    delete[] data;
    return 0;
  }
  int result = playWaveData(data, bytes, format, device);
  if (result == eWaveIoOk) {
    while (waveIoIsPlaying() && waveIoIsOpen()) pollSleep();
  }
  return result;
}

int waveIoBeep(const char* path, int flags, unsigned device) {
  if (path == nullptr) return 0;
  if (device == kWaveMapper || !waveIoIsOpen()) {
    platformPlaySound(path, flags & 0x1F);
    return 0;
  }
  int fd = openRegularFile(path);  // a FIFO or device would block the reader
  if (fd < 0) return 0;
  char header[1024];
  ssize_t got = 0;
  while (got < static_cast<ssize_t>(sizeof header)) {
    ssize_t r = ::read(fd, header + got, sizeof header - static_cast<size_t>(got));
    if (r <= 0) break;
    got += r;
  }
  ::close(fd);
  // A RIFF file goes to the sound player however short it is; a NIST file needs its whole header.
  if (isRiffWaveHeader(header, static_cast<int>(got))) {
    platformPlaySound(path, flags & 0x1F);
    return 0;
  }
  if (got < static_cast<ssize_t>(sizeof header) || std::memcmp(header, kNistMagic, 16) != 0) return 0;
  char* data = nullptr;
  uint32_t bytes = 0;
  if (!readNistForPlayback(path, &data, &bytes)) return 0;
  return waveIoBeep(&kDefaultWaveFormat, data, bytes, device);
}

}  // namespace vlm
