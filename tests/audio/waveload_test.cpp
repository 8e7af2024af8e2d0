// The wave loader that recognition, features and adapt read through: rates a recording cannot
// have, the NIST byte order, files cut short, files that are not regular, and the cap on the
// converted length.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/audio/audiodevice.h"

namespace {

using namespace vlm;
using Bytes = std::vector<unsigned char>;

void le(Bytes& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A RIFF file of 16-bit mono samples; dataBytes is what the data chunk declares.
Bytes riff(uint32_t rate, const std::vector<int16_t>& samples, uint32_t dataBytes) {
  Bytes b;
  for (char c : std::string("RIFF")) b.push_back(static_cast<unsigned char>(c));
  le(b, 36 + dataBytes, 4);
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<unsigned char>(c));
  le(b, 16, 4);
  le(b, 1, 2);
  le(b, 1, 2);
  le(b, rate, 4);
  le(b, rate * 2, 4);
  le(b, 2, 2);
  le(b, 16, 2);
  for (char c : std::string("data")) b.push_back(static_cast<unsigned char>(c));
  le(b, dataBytes, 4);
  for (int16_t s : samples) le(b, static_cast<uint16_t>(s), 2);
  return b;
}

// A NIST file: the header fields given, then the sample bytes as they stand.
Bytes nist(const std::string& fields, const Bytes& sampleBytes) {
  std::string header = "NIST_1A\n   1024\n" + fields + "end_head\n";
  header.resize(1024, '\0');
  Bytes b(header.begin(), header.end());
  for (unsigned char c : sampleBytes) b.push_back(c);
  return b;
}

std::string scratch(const std::string& name) {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path() / ("waveload_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir + "/" + name;
}

TEST(WaveLoad, RefusesImpossibleRatesAndReadsByteOrderAndCutFiles) {
  const Bytes twoSamples = {0x01, 0x02, 0x03, 0x04};  // 0x0201, 0x0403 little-endian
  struct Case {
    const char* what;
    Bytes file;
    bool loads;
    const char* message;  // the error, or the warning of a file that loads ("" for none)
    uint32_t count;
    int16_t first;        // the first sample, when count > 0
  };
  const Case cases[] = {
      {"RIFF claiming 1 Hz", riff(1, std::vector<int16_t>(600, 100), 1200), false, "sample rate 1 Hz is outside 4000 to 384000 Hz", 0, 0},
      {"RIFF claiming 1 MHz", riff(1000000, std::vector<int16_t>(600, 100), 1200), false, "sample rate 1000000 Hz", 0, 0},
      {"RIFF at 8 kHz", riff(8000, std::vector<int16_t>(600, 100), 1200), true, "", 600, 100},
      {"RIFF cut short", riff(11025, std::vector<int16_t>(100, 7), 400), true, "the file is cut short: 100 of 200 samples missing", 100, 7},
      {"NIST little-endian", nist("sample_count -i 2\nsample_byte_format -s2 01\n", twoSamples), true, "", 2, 0x0201},
      {"NIST big-endian", nist("sample_count -i 2\nsample_byte_format -s2 10\n", twoSamples), true, "", 2, 0x0102},
      {"NIST of another byte order", nist("sample_byte_format -s4 1032\n", twoSamples), false, "unsupported NIST sample byte order", 0, 0},
      {"NIST header only", nist("sample_count -i 100\n", {}), true, "the file is cut short: 100 of 100 samples missing", 0, 0},
      {"NIST cut short", nist("sample_count -i 5\n", twoSamples), true, "the file is cut short: 3 of 5 samples missing", 2, 0x0201},
      {"NIST claiming 2 Hz", nist("sample_rate -i 2\n", twoSamples), false, "sample rate 2 Hz is outside", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = scratch("case.wav");
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(c.file.data()), c.file.size());
    LoadedWave wave;
    char error[160] = "";
    ASSERT_EQ(c.loads ? 1 : 0, loadWaveFile(path.c_str(), &wave, error, sizeof error)) << error;
    if (!c.loads) {
      EXPECT_NE(std::string(error).find(c.message), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(std::string(wave.warning), c.message);
    ASSERT_EQ(wave.count, c.count);
    if (c.count > 0) {
      EXPECT_EQ(static_cast<int>(std::lround(wave.samples[0] * 32768.0f)), c.first);
    }
  }
}

TEST(WaveLoad, RefusesWhatIsNoRegularFileWithoutWaiting) {
  const std::string fifo = scratch("fifo.wav");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0666));
  struct Case {
    const char* what;
    std::string path;
    const char* message;
  };
  const Case cases[] = {{"a FIFO", fifo, "cannot read the file: is not a regular file"},
                        {"a folder", std::filesystem::path(fifo).parent_path().string(), "cannot read the file: is a directory"},
                        {"a device", "/dev/zero", "cannot read the file: is not a regular file"}};
  for (const Case& c : cases) {
    LoadedWave wave;
    char error[160] = "";
    EXPECT_EQ(0, loadWaveFile(c.path.c_str(), &wave, error, sizeof error)) << c.what;
    EXPECT_STREQ(error, c.message) << c.what;
  }
}

TEST(WaveLoad, ConversionRefusesBogusRatesAndOverlongResults) {
  std::vector<float> samples(44100, 0.25f);
  struct Case {
    uint32_t count, rate;
    int ok;
    const char* message;
  };
  const Case cases[] = {{44100, 1, 0, "sample rate 1 Hz is outside 4000 to 384000 Hz"},
                        {44100, 400000, 0, "sample rate 400000 Hz is outside"},
                        {44100, 11025, 1, ""},
                        // The count as claimed by a header; the length check comes before any work.
                        {4000000000u, 100000, 0, "is longer than an hour"}};
  for (const Case& c : cases) {
    std::vector<int16_t> out;
    char error[160] = "";
    EXPECT_EQ(c.ok, toSpeechSamples(samples.data(), c.count, c.rate, &out, error, sizeof error)) << c.rate;
    EXPECT_NE(std::string(error).find(c.message), std::string::npos) << error;
    EXPECT_EQ(out.size(), c.ok ? c.count : 0u);
  }
}

}  // namespace
