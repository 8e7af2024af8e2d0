// The audio device layer: the recording ring, the transient discard, the file-backed microphone
// delivering through the chunk interface the live channel reads, the null speaker, block and file
// playback, and the failure codes and messages on a machine without a sound card.
#include "audio/waveio.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/wavefile.h"
#include "platform/audio/audiodevice.h"
#include "platform/audio/capture.h"
#include "platform/msgbox.h"

extern char** environ;

namespace {

using namespace vlm;

std::vector<std::string> boxes;
int recordBox(const char* text, const char* caption, BoxButtons buttons, BoxIcon, int) {
  boxes.push_back(std::string(caption) + ": " + text);
  return buttons == eBoxAbortRetryIgnore ? eAnswerIgnore : eAnswerOk;
}

std::string scratch(const std::string& name) {
  static std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path() / ("waveio_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir + "/" + name;
}

// A RIFF file in any PCM layout, written by hand (writeRiffFile only makes the two fixed ones).
std::string writeWave(const std::string& name, uint32_t rate, int channels, int bits, const std::vector<int16_t>& mono) {
  std::string path = scratch(name);
  std::vector<unsigned char> data;
  for (int16_t s : mono) {
    for (int c = 0; c < channels; c++) {
      if (bits == 8) {
        data.push_back(static_cast<unsigned char>((s >> 8) + 128));
      } else {
        data.push_back(static_cast<unsigned char>(s));
        data.push_back(static_cast<unsigned char>(static_cast<uint16_t>(s) >> 8));
      }
    }
  }
  auto le = [](std::vector<unsigned char>& v, uint32_t x, int n) {
    for (int i = 0; i < n; i++) v.push_back(static_cast<unsigned char>(x >> (8 * i)));
  };
  std::vector<unsigned char> b = {'R', 'I', 'F', 'F'};
  le(b, static_cast<uint32_t>(36 + data.size()), 4);
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<unsigned char>(c));
  le(b, 16, 4);
  le(b, 1, 2);
  le(b, static_cast<uint32_t>(channels), 2);
  le(b, rate, 4);
  le(b, rate * static_cast<uint32_t>(channels * bits / 8), 4);
  le(b, static_cast<uint32_t>(channels * bits / 8), 2);
  le(b, static_cast<uint32_t>(bits), 2);
  for (char c : std::string("data")) b.push_back(static_cast<unsigned char>(c));
  le(b, static_cast<uint32_t>(data.size()), 4);
  b.insert(b.end(), data.begin(), data.end());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return path;
}

std::vector<int16_t> counting(uint32_t n) {
  std::vector<int16_t> s(n);
  for (uint32_t i = 0; i < n; i++) s[i] = static_cast<int16_t>(i % 30000 + 1);
  return s;
}

// Every environment setting of the devices is set by each test; the layer is left with the
// microphone off and the default transient length.
class WaveIo : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes.clear();
    oldHandler = setMessageBoxHandler(recordBox);
    for (const char* name : {"VELMORA_MIC", "VELMORA_MIC_FAST", "VELMORA_MIC_GAP", "VELMORA_SPEAKER", "VELMORA_SPEAKER_FAST"})
      unsetenv(name);
  }
  void TearDown() override {
    if (waveIoIsMicOn()) waveIoMicOff();
    waveIoTransientLength(kDefaultTransientLength);
    setMessageBoxHandler(oldHandler);
  }
  // Reads chunks until the file device has delivered everything (or a few seconds passed).
  static std::vector<int16_t> readToEnd() {
    std::vector<int16_t> all;
    short chunk[kWavChunkShorts];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      int r = waveIoGetWAVCHUNKshorts(chunk);
      if (r == kWavChunkShorts) {
        all.insert(all.end(), chunk, chunk + kWavChunkShorts);
      } else if (r == eWaveIoNoBuffer) {
        if (waveIoMicInputEnded()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      } else {
        ADD_FAILURE() << "chunk read returned " << r;
        break;
      }
    }
    return all;
  }
  static int firstChunk(short* chunk) {
    for (int i = 0; i < 2000; i++) {
      int r = waveIoGetWAVCHUNKshorts(chunk);
      if (r != eWaveIoNoBuffer) return r;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return eWaveIoNoBuffer;
  }
  MessageBoxHandler oldHandler = nullptr;
};

TEST(WaveInFifoRing, KeepsArrivalOrderAndDropsWhenTheDeviceHasNoBuffers) {
  auto fifo = std::make_unique<WaveInFifo>();
  EXPECT_EQ(kWaveInBufferCount, fifo->freeCount());
  EXPECT_EQ(nullptr, fifo->takeFilled());  // underrun: nothing waiting
  std::vector<WaveInHeader*> taken;
  for (int i = 0; i < kWaveInBufferCount; i++) {
    WaveInHeader* h = fifo->takeFree();
    ASSERT_NE(nullptr, h);
    std::memset(h->data, i % 256, kWaveInBufferBytes);
    fifo->putFilled(h);
    taken.push_back(h);
  }
  // All 200 buffers wait in the 201-slot ring: the device has none left, the audio is dropped.
  EXPECT_EQ(kWaveInBufferCount, fifo->filledCount());
  EXPECT_EQ(nullptr, fifo->takeFree());
  EXPECT_EQ(1u, fifo->overruns());
  for (int i = 0; i < kWaveInBufferCount; i++) {
    WaveInHeader* h = fifo->takeFilled();
    ASSERT_EQ(taken[static_cast<size_t>(i)], h);
    EXPECT_EQ(static_cast<char>(i % 256), h->data[kWaveInBufferBytes - 1]);
    fifo->giveBack(h);
  }
  EXPECT_EQ(nullptr, fifo->takeFilled());
  // The indices wrap at 201 slots.
  for (int round = 0; round < 3 * kWaveInRingSlots; round++) {
    WaveInHeader* h = fifo->takeFree();
    ASSERT_NE(nullptr, h);
    fifo->putFilled(h);
    ASSERT_EQ(h, fifo->takeFilled());
    fifo->giveBack(h);
  }
  EXPECT_EQ(kWaveInBufferCount, fifo->freeCount());
}

TEST(WaveInFifoRing, ProducerAndConsumerThreadsPassEveryBufferInOrder) {
  auto fifo = std::make_unique<WaveInFifo>();
  const int total = 20000;
  std::thread producer([&] {
    for (int i = 0; i < total;) {
      WaveInHeader* h = fifo->takeFree();
      if (h == nullptr) {
        std::this_thread::yield();
        continue;
      }
      std::memcpy(h->data, &i, sizeof i);
      fifo->putFilled(h);
      i++;
    }
  });
  int expected = 0;
  while (expected < total) {
    WaveInHeader* h = fifo->takeFilled();
    if (h == nullptr) continue;
    int value;
    std::memcpy(&value, h->data, sizeof value);
    ASSERT_EQ(expected, value);
    fifo->giveBack(h);
    expected++;
  }
  producer.join();
}

TEST_F(WaveIo, MicOffBeforeTheLayerIsOpenShowsInitError) {
  waveIoClose();
  waveIoMicOff();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Init Error: Not yet Initialized.", boxes[0]);
}

TEST_F(WaveIo, WithoutASoundCardTheMicrophoneFailsToOpen) {
  if (portAudioDeviceCount(true) > 0) GTEST_SKIP() << "this machine has an input device";
  EXPECT_EQ(eWaveIoOpenFailed, waveIoMicOn(kWaveMapper, nullptr));
  EXPECT_EQ(eWaveIoOpenFailed, waveIoMicOn(3, nullptr));
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ("Device Error: Failed to open waveform input device.", boxes[0]);
  EXPECT_EQ(0, waveIoIsMicOn());
  short chunk[kWavChunkShorts];
  EXPECT_EQ(eWaveIoMicOff, waveIoGetWAVCHUNKshorts(chunk));
  EXPECT_EQ(1, waveIoIsOpen());  // the layer was opened on the way
}

TEST_F(WaveIo, UnsupportedFormatOrUnreadableFileFailsToOpen) {
  std::string path = writeWave("fmt.wav", 11025, 1, 16, counting(500));
  setenv("VELMORA_MIC", path.c_str(), 1);
  WaveFormat floatFormat = kDefaultWaveFormat;
  floatFormat.formatTag = 3;
  EXPECT_EQ(eWaveIoOpenFailed, waveIoMicOn(kWaveMapper, &floatFormat));
  setenv("VELMORA_MIC", scratch("missing.wav").c_str(), 1);
  EXPECT_EQ(eWaveIoOpenFailed, waveIoMicOn(kWaveMapper, nullptr));
  EXPECT_EQ(2u, boxes.size());
}

TEST_F(WaveIo, FileMicrophoneDeliversTheFileThroughTheChunkInterface) {
  std::vector<int16_t> samples = counting(1234);
  setenv("VELMORA_MIC", writeWave("deliver.wav", 11025, 1, 16, samples).c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  setenv("VELMORA_MIC_GAP", "0", 1);
  EXPECT_EQ(kDefaultTransientLength, waveIoTransientLength(0));
  EXPECT_EQ(0, waveIoTransientLength(-1));
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, nullptr));
  std::vector<int16_t> got = readToEnd();
  ASSERT_EQ(1300u, got.size());  // whole chunks, the last one padded with silence
  EXPECT_EQ(samples, std::vector<int16_t>(got.begin(), got.begin() + 1234));
  EXPECT_EQ(std::vector<int16_t>(66, 0), std::vector<int16_t>(got.begin() + 1234, got.end()));
  short chunk[kWavChunkShorts];
  EXPECT_EQ(eWaveIoNoBuffer, waveIoGetWAVCHUNKshorts(chunk));
  EXPECT_EQ(1, waveIoMicInputEnded());
  waveIoMicOff();
  EXPECT_EQ(eWaveIoMicOff, waveIoGetWAVCHUNKshorts(chunk));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(WaveIo, FileMicrophonePlaysTheFilesInTurnWithSilenceAround) {
  std::vector<int16_t> first = counting(300), second(200, -7);
  std::string list = writeWave("first.wav", 11025, 1, 16, first) + "," + writeWave("second.wav", 11025, 1, 16, second);
  setenv("VELMORA_MIC", list.c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  setenv("VELMORA_MIC_GAP", "0.01", 1);  // 110 samples
  waveIoTransientLength(0);
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, nullptr));
  std::vector<int16_t> expected(110, 0);
  expected.insert(expected.end(), first.begin(), first.end());
  expected.insert(expected.end(), 110, 0);
  expected.insert(expected.end(), second.begin(), second.end());
  expected.insert(expected.end(), 110, 0);
  expected.resize(900, 0);  // whole chunks
  EXPECT_EQ(expected, readToEnd());
}

TEST_F(WaveIo, TheFirstThreeBuffersAfterStartAreDiscarded) {
  std::vector<int16_t> samples = counting(1000);
  setenv("VELMORA_MIC", writeWave("transient.wav", 11025, 1, 16, samples).c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  setenv("VELMORA_MIC_GAP", "0", 1);
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, nullptr));
  short chunk[kWavChunkShorts];
  ASSERT_EQ(kWavChunkShorts, firstChunk(chunk));
  EXPECT_EQ(samples[300], chunk[0]);
  EXPECT_EQ(samples[399], chunk[99]);
}

TEST_F(WaveIo, MicOnAgainKeepsRecordingAndTheFilePositionCarriesOver) {
  std::vector<int16_t> samples = counting(2000);
  setenv("VELMORA_MIC", writeWave("resume.wav", 11025, 1, 16, samples).c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  setenv("VELMORA_MIC_GAP", "0", 1);
  waveIoTransientLength(0);
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, nullptr));
  short chunk[kWavChunkShorts];
  ASSERT_EQ(kWavChunkShorts, firstChunk(chunk));
  EXPECT_EQ(samples[0], chunk[0]);
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, nullptr));  // already recording: not reopened
  ASSERT_EQ(kWavChunkShorts, firstChunk(chunk));
  EXPECT_EQ(samples[100], chunk[0]);
  waveIoMicOff();
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, nullptr));
  ASSERT_EQ(kWavChunkShorts, firstChunk(chunk));
  EXPECT_EQ(samples[200], chunk[0]);
}

TEST_F(WaveIo, FileMicrophoneConvertsRateAndChannels) {
  // Half a second of a 500 Hz tone at 22050 Hz in stereo.
  std::vector<int16_t> tone(11025);
  for (size_t i = 0; i < tone.size(); i++) tone[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 500 * i / 22050.0));
  setenv("VELMORA_MIC", writeWave("tone.wav", 22050, 2, 16, tone).c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  setenv("VELMORA_MIC_GAP", "0", 1);
  waveIoTransientLength(0);
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, nullptr));
  std::vector<int16_t> got = readToEnd();
  EXPECT_NEAR(5512.0, static_cast<double>(got.size()), 100.0);
  int crossings = 0, peak = 0;
  for (size_t i = 1; i < got.size(); i++) {
    crossings += (got[i - 1] < 0) != (got[i] < 0);
    peak = std::max(peak, std::abs(static_cast<int>(got[i])));
  }
  EXPECT_NEAR(500, crossings, 6);  // still 500 Hz
  EXPECT_NEAR(10000, peak, 600);
  waveIoMicOff();

  // The voice recorder's 8000 Hz 8-bit format: unsigned bytes, 200 per chunk.
  setenv("VELMORA_MIC", writeWave("tone8.wav", 22050, 1, 16, tone).c_str(), 1);
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, &kRecorderWaveFormat));
  unsigned char bytes[kWaveInBufferBytes];
  ASSERT_EQ(kWavChunkShorts, firstChunk(reinterpret_cast<short*>(bytes)));
  int low = 255, high = 0;
  for (unsigned char b : bytes) low = std::min<int>(low, b), high = std::max<int>(high, b);
  EXPECT_NEAR(128 - 39, low, 4);   // 10000 / 32768 * 128 = 39
  EXPECT_NEAR(128 + 39, high, 4);
}

TEST_F(WaveIo, RealTimeFileMicrophoneLosesWhatIsNotReadInTime) {
  std::vector<int16_t> samples = counting(30000);
  setenv("VELMORA_MIC", writeWave("overrun.wav", 11025, 1, 16, samples).c_str(), 1);
  setenv("VELMORA_MIC_GAP", "0", 1);
  waveIoTransientLength(0);
  waveInFifo().clearOverruns();
  ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, nullptr));
  // 2.3 s hold about 253 buffers: the ring keeps the first 200, the rest is lost.
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));
  EXPECT_EQ(kWaveInBufferCount, waveInFifo().filledCount());
  EXPECT_GT(waveInFifo().overruns(), 20u);
  short chunk[kWavChunkShorts];
  for (int i = 0; i < kWaveInBufferCount; i++) {
    ASSERT_EQ(kWavChunkShorts, waveIoGetWAVCHUNKshorts(chunk));
    ASSERT_EQ(samples[static_cast<size_t>(100 * i)], chunk[0]);
  }
  ASSERT_EQ(kWavChunkShorts, firstChunk(chunk));
  EXPECT_GT(chunk[0], samples[20000]);  // a gap where the audio was dropped
}

TEST_F(WaveIo, NullSpeakerPlaysForTheBlockDuration) {
  setenv("VELMORA_SPEAKER", "null", 1);
  unsigned blocks = nullOutputBlocksPlayed();
  const unsigned bytes = 2 * 2205;  // 0.2 s
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(eWaveIoOk, waveIoBeep(&kDefaultWaveFormat, new char[bytes](), bytes, kWaveMapper));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(180));
  EXPECT_EQ(0, waveIoIsPlaying());
  EXPECT_EQ(blocks + 1, nullOutputBlocksPlayed());

  // Asynchronous playing, stopped early.
  ASSERT_EQ(eWaveIoOk, playWaveData(new char[20 * bytes](), 20 * bytes, nullptr, 0));
  EXPECT_EQ(1, waveIoIsPlaying());
  waveIoStopPlaying();
  for (int i = 0; i < 300 && waveIoIsPlaying(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(0, waveIoIsPlaying());

  EXPECT_EQ(0, waveIoBeep(nullptr, new char[4](), 4, 0));
  EXPECT_EQ(0, waveIoBeep(&kDefaultWaveFormat, nullptr, 4, 0));
  EXPECT_EQ(eWaveIoQueueFailed, playWaveData(nullptr, 100, nullptr, 0));
  EXPECT_EQ(eWaveIoQueueFailed, playWaveData(new char[1](), 1, nullptr, 0));  // less than one sample
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ("Prepare Error: Unable to prepare wave header.", boxes[0]);
  EXPECT_EQ(0, waveIoIsPlaying());
}

TEST_F(WaveIo, WithoutASoundCardPlaybackFailsOrFallsBackToTheNullSpeaker) {
  if (portAudioDeviceCount(false) > 0) GTEST_SKIP() << "this machine has an output device";
  setenv("VELMORA_SPEAKER", "portaudio", 1);
  EXPECT_EQ(eWaveIoOpenFailed, playWaveData(new char[200](), 200, nullptr, kWaveMapper));
  EXPECT_EQ(eWaveIoOpenFailed, waveIoBeep(&kDefaultWaveFormat, new char[200](), 200, 0));
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ("Device Error: Failed to Open WaveOut device", boxes[0]);
  EXPECT_EQ(0, waveIoIsPlaying());
  // Without the setting, a machine without output devices plays to the null speaker.
  unsetenv("VELMORA_SPEAKER");
  setenv("VELMORA_SPEAKER_FAST", "1", 1);
  unsigned blocks = nullOutputBlocksPlayed();
  EXPECT_EQ(eWaveIoOk, waveIoBeep(&kDefaultWaveFormat, new char[200](), 200, kWaveMapper));
  EXPECT_EQ(blocks + 1, nullOutputBlocksPlayed());
}

TEST_F(WaveIo, BeepByPathPlaysNistItselfAndHandsOtherFilesToTheSoundPlayer) {
  setenv("VELMORA_SPEAKER", "null", 1);
  setenv("VELMORA_SPEAKER_FAST", "1", 1);
  std::vector<int16_t> samples = counting(300);
  std::string nist = scratch("beep.nist");
  ASSERT_EQ(1, writeNistFile(nist.c_str(), samples.data(), 300, nullptr, nullptr));
  std::string riff = scratch("beep.wav");
  ASSERT_EQ(1, writeRiffFile(riff.c_str(), samples.data(), 300, kRiffSpeechFormat));
  std::string junk = scratch("junk.bin");
  std::ofstream(junk) << std::string(2000, 'j');

  struct Case {
    const char* name;
    std::string path;
    unsigned device;
    unsigned long long bytes;  // what reaches the speaker
  };
  waveIoOpen();
  const Case cases[] = {
      {"NIST, device 0: the block player", nist, 0, 600},
      {"NIST, default device: the sound player", nist, kWaveMapper, 600},
      {"RIFF: the sound player", riff, 0, 600},
      {"neither", junk, 0, 0},
      {"missing", scratch("none.wav"), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned long long before = nullOutputBytesPlayed();
    EXPECT_EQ(0, waveIoBeep(c.path.c_str(), 0, c.device));
    EXPECT_EQ(c.bytes, nullOutputBytesPlayed() - before);
  }
  // A closed layer hands everything to the sound player.
  waveIoClose();
  unsigned long long before = nullOutputBytesPlayed();
  EXPECT_EQ(0, waveIoBeep(nist.c_str(), 0, 0));
  EXPECT_EQ(600u, nullOutputBytesPlayed() - before);
  EXPECT_TRUE(boxes.empty());
}

TEST(CaptureWriterCut, CutsAnyByteStreamIntoWholeBuffers) {
  auto fifo = std::make_unique<WaveInFifo>();
  CaptureWriter writer(*fifo);
  std::vector<unsigned char> bytes(450);
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<unsigned char>(i);
  writer.write(bytes.data(), 130);
  writer.write(bytes.data() + 130, 320);
  ASSERT_EQ(2, fifo->filledCount());
  EXPECT_EQ(50u, writer.partialBytes());
  WaveInHeader* h = fifo->takeFilled();
  EXPECT_EQ(0, std::memcmp(h->data, bytes.data(), 200));
  h = fifo->takeFilled();
  EXPECT_EQ(0, std::memcmp(h->data, bytes.data() + 200, 200));
}

// ---- PortAudio on an ALSA null card ------------------------------------------------------------
// The PortAudio back end itself runs in a child process whose ALSA configuration ($HOME/.asoundrc)
// makes the default device a null card: it records whatever its buffers hold (not even silence,
// so only the flow is checked) and swallows what is played.

TEST(PortAudioNullCard, RecordsAndPlaysThroughPortAudio) {
  if (std::getenv("WAVEIO_TEST_NULL_CARD") == nullptr) GTEST_SKIP() << "runs in the child of RunsOnAnAlsaNullCard";
  for (const char* name : {"VELMORA_MIC", "VELMORA_MIC_FAST", "VELMORA_SPEAKER_FAST", "VELMORA_AUDIO_DEVICE_RATE"})
    unsetenv(name);
  setenv("VELMORA_SPEAKER", "portaudio", 1);
  boxes.clear();
  setMessageBoxHandler(recordBox);
  ASSERT_EQ(1, portAudioDeviceCount(true));
  ASSERT_EQ(1, portAudioDeviceCount(false));

  // Reads n chunks (waiting up to 5 s) and returns how many came.
  auto readChunks = [](int n) {
    int got = 0;
    unsigned char chunk[kWaveInBufferBytes];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got < n && std::chrono::steady_clock::now() < deadline) {
      int r = waveIoGetWAVCHUNKshorts(reinterpret_cast<short*>(chunk));
      if (r == eWaveIoNoBuffer) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      EXPECT_EQ(kWavChunkShorts, r);
      if (r != kWavChunkShorts) break;
      got++;
    }
    return got;
  };
  struct Case {
    const char* name;
    const char* deviceRate;  // null: the asked rate
    const WaveFormat* format;
  };
  const Case cases[] = {
      {"11025 Hz 16 bits, direct", nullptr, nullptr},
      {"11025 Hz 16 bits through the resampler", "48000", nullptr},
      {"8000 Hz 8 bits, direct", nullptr, &kRecorderWaveFormat},
      {"8000 Hz 8 bits through the resampler", "44100", &kRecorderWaveFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.deviceRate != nullptr) setenv("VELMORA_AUDIO_DEVICE_RATE", c.deviceRate, 1);
    else unsetenv("VELMORA_AUDIO_DEVICE_RATE");
    ASSERT_EQ(eWaveIoOk, waveIoMicOn(kWaveMapper, c.format));
    EXPECT_EQ(30, readChunks(30));
    waveIoMicOff();
    short chunk[kWavChunkShorts];
    EXPECT_EQ(eWaveIoMicOff, waveIoGetWAVCHUNKshorts(chunk));

    const unsigned bytes = 2205;  // 0.1 s in the default format
    EXPECT_EQ(eWaveIoOk, waveIoBeep(&kDefaultWaveFormat, new char[bytes + 1](), bytes + 1, kWaveMapper));
    EXPECT_EQ(0, waveIoIsPlaying());
  }
  EXPECT_EQ(eWaveIoOpenFailed, waveIoMicOn(5, nullptr));  // only device 0 exists
  EXPECT_EQ(eWaveIoOpenFailed, playWaveData(new char[200](), 200, nullptr, 5));
  EXPECT_EQ(2u, boxes.size());
  waveIoClose();
}

TEST(WaveIoPortAudio, RunsOnAnAlsaNullCard) {
  if (portAudioDeviceCount(true) > 0 || portAudioDeviceCount(false) > 0) GTEST_SKIP() << "this machine has a sound card";
  std::string home = scratch("home");
  std::filesystem::create_directories(home);
  std::ofstream(home + "/.asoundrc") << "pcm.!default {\n  type null\n}\n";
  std::vector<std::string> variables = {"HOME=" + home, "WAVEIO_TEST_NULL_CARD=1"};
  for (char** e = environ; *e != nullptr; e++)
    if (std::strncmp(*e, "HOME=", 5) != 0) variables.push_back(*e);
  std::vector<char*> envp;
  for (std::string& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::string self = std::filesystem::read_symlink("/proc/self/exe");
  std::string filter = "--gtest_filter=PortAudioNullCard.*";
  char* argv[] = {self.data(), filter.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(0, posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "the child's failures are printed above";
}

}  // namespace
