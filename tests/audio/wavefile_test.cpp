// RIFF and NIST files: byte layouts, the reader's accept/reject cases, the NIST field reader and
// the NIST playback read.
#include "audio/wavefile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/msgbox.h"

namespace {

using namespace vlm;
using Bytes = std::vector<unsigned char>;

std::string scratchDir() {
  static std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path() / ("wavefile_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}
std::string scratch(const char* name) { return scratchDir() + "/" + name; }

Bytes readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void writeAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
uint32_t le32(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24; }
void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void putText(Bytes& b, size_t at, const char* text) { std::memcpy(b.data() + at, text, std::strlen(text)); }

std::vector<int16_t> ramp(uint32_t n) {
  std::vector<int16_t> s(n);
  for (uint32_t i = 0; i < n; i++) s[i] = static_cast<int16_t>(i * 37 - 5000);
  return s;
}

// Records assertion and message boxes and answers Ignore (or OK).
std::vector<std::string> boxes;
int recordBox(const char* text, const char* caption, BoxButtons buttons, BoxIcon, int) {
  boxes.push_back(std::string(caption) + ": " + text);
  return buttons == eBoxAbortRetryIgnore ? eAnswerIgnore : eAnswerOk;
}

// The 44-byte header of selector 1 and n samples, as the format defines it byte by byte.
Bytes expectedSpeechHeader(uint32_t n) {
  const unsigned char fixed[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                   16, 0, 0, 0, 1, 0, 1, 0, 0x11, 0x2B, 0, 0, 0x22, 0x56, 0, 0, 2, 0, 16, 0,
                                   'd', 'a', 't', 'a', 0, 0, 0, 0};
  Bytes h(fixed, fixed + 44);
  put32(h, 4, 36 + 2 * n);
  put32(h, 40, 2 * n);
  return h;
}

TEST(RiffFile, WriterProducesTheExactHeaderAndLittleEndianSamples) {
  std::vector<int16_t> s = {1, -2, 0x1234, -32768, 32767, 0, 7, 8, 9, 10};
  std::string path = scratch("ten.wav");
  ASSERT_EQ(1, writeRiffFile(path.c_str(), s.data(), 10, kRiffSpeechFormat));
  Bytes b = readAll(path);
  ASSERT_EQ(44u + 20u, b.size());
  EXPECT_EQ(expectedSpeechHeader(10), Bytes(b.begin(), b.begin() + 44));
  EXPECT_EQ(0x01, b[44]);
  EXPECT_EQ(0x00, b[45]);
  EXPECT_EQ(0xFE, b[46]);  // -2
  EXPECT_EQ(0xFF, b[47]);
  EXPECT_EQ(0x34, b[48]);
  EXPECT_EQ(0x12, b[49]);

  // Any other selector: the stored 8000 Hz 8-bit block, whatever the samples are.
  ASSERT_EQ(1, writeRiffFile(path.c_str(), s.data(), 10, 0));
  b = readAll(path);
  const unsigned char block[16] = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0};
  EXPECT_EQ(0, std::memcmp(b.data() + 20, block, 16));
  EXPECT_EQ(36u + 20u, le32(b, 4));
  EXPECT_EQ(20u, le32(b, 40));
}

TEST(RiffFile, WriterRefusesBadArgumentsAndKeepsTheOldFile) {
  std::string path = scratch("keep.wav");
  writeAll(path, Bytes{'o', 'l', 'd'});
  std::vector<int16_t> s = ramp(4);
  EXPECT_EQ(0, writeRiffFile(path.c_str(), nullptr, 4, 1));
  EXPECT_EQ(0, writeRiffFile(path.c_str(), s.data(), 0, 1));
  EXPECT_EQ(0, writeRiffFile((scratchDir() + "/missing/x.wav").c_str(), s.data(), 4, 1));
  EXPECT_EQ((Bytes{'o', 'l', 'd'}), readAll(path));
  // No temporary file is left behind.
  int files = 0;
  for (auto& entry : std::filesystem::directory_iterator(scratchDir()))
    files += entry.path().filename().string().find(".tmp") != std::string::npos;
  EXPECT_EQ(0, files);
}

TEST(RiffFile, PatchFillsLengthsRestoresPositionAndSkipsHeaderOnlyFiles) {
  std::string path = scratch("patch.wav");
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  Bytes zeros(44, 0);
  ASSERT_EQ(44, ::write(fd, zeros.data(), 44));
  EXPECT_EQ(0, patchRiffHeader(fd, 0));  // header only: nothing written
  EXPECT_EQ(Bytes(44, 0), readAll(path));
  Bytes raw(101, 0x80);  // 8-bit samples as the recorder appends them
  ASSERT_EQ(101, ::write(fd, raw.data(), raw.size()));
  EXPECT_EQ(1, patchRiffHeader(fd, 0));
  EXPECT_EQ(145, ::lseek(fd, 0, SEEK_CUR));
  ::close(fd);
  Bytes b = readAll(path);
  EXPECT_EQ(0, std::memcmp(b.data(), "RIFF", 4));
  EXPECT_EQ(137u, le32(b, 4));
  EXPECT_EQ(101u, le32(b, 40));
  EXPECT_EQ(8000u, le32(b, 24));

  // A descriptor opened for appending still gets its header at offset 0.
  fd = ::open(path.c_str(), O_RDWR | O_APPEND);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(1, ::write(fd, raw.data(), 1));
  EXPECT_EQ(1, patchRiffHeader(fd, 1));
  ::close(fd);
  b = readAll(path);
  ASSERT_EQ(146u, b.size());
  EXPECT_EQ(138u, le32(b, 4));
  EXPECT_EQ(11025u, le32(b, 24));

  EXPECT_EQ(0, patchRiffHeader(-1, 1));
}

// A file of the given bytes, padded with filler up to size (when larger).
int openBytes(const Bytes& b) {
  std::string path = scratch("case.bin");
  writeAll(path, b);
  return ::open(path.c_str(), O_RDONLY);
}

Bytes canonicalRiff(size_t totalSize) {
  Bytes b = expectedSpeechHeader(static_cast<uint32_t>((totalSize - 44) / 2));
  b.resize(totalSize);
  for (size_t i = 44; i < totalSize; i++) b[i] = static_cast<unsigned char>(i);
  return b;
}

// Moves the "data" chunk so that its name stands at offset at (an extra chunk fills the gap).
Bytes riffWithDataAt(size_t at, size_t totalSize = 1200) {
  Bytes b = canonicalRiff(totalSize);
  std::memset(b.data() + 36, 'z', at - 36);  // no "data" before at
  putText(b, 36, "LIST");
  put32(b, 40, static_cast<uint32_t>(at - 44));
  putText(b, at, "data");
  put32(b, at + 4, static_cast<uint32_t>(totalSize - at - 8));
  return b;
}

TEST(SeekToData, AcceptsAndRejectsAsTheFormatRequires) {
  struct Case {
    const char* name;
    Bytes bytes;
    int expected;
    off_t position;  // for accepted files
  };
  Bytes nist(1100, 0);
  std::memcpy(nist.data(), kNistMagic, 16);
  Bytes shortNist(nist.begin(), nist.begin() + 1000);
  Bytes stereo = canonicalRiff(1200);
  stereo[22] = 2;
  Bytes eightK = canonicalRiff(1200);
  put32(eightK, 24, 8000);
  Bytes eightBit = canonicalRiff(1200);
  eightBit[34] = 8;
  Bytes floatTag = canonicalRiff(1200);
  floatTag[20] = 3;
  Bytes rifx = canonicalRiff(1200);
  rifx[3] = 'X';
  Bytes noWave = canonicalRiff(1200);
  putText(noWave, 8, "WAVEfmtX");
  Bytes noData = canonicalRiff(1200);
  putText(noData, 36, "dat_");
  Bytes huge = canonicalRiff(1200);
  put32(huge, 4, 0xFFFFFFFF);
  put32(huge, 40, 0xFFFFFFFF);
  put32(huge, 16, 0x7FFFFFFF);
  Bytes odd = riffWithDataAt(100);
  odd.insert(odd.begin() + 100, 'q');  // "data" now at 101

  const Case cases[] = {
      {"canonical", canonicalRiff(1200), eWaveRiff, 44},
      {"extra chunk, data at 100", riffWithDataAt(100), eWaveRiff, 108},
      {"data at 198", riffWithDataAt(198), eWaveRiff, 206},
      {"data at 200", riffWithDataAt(200), eWaveNotAccepted, 0},
      {"data at odd 101", odd, eWaveNotAccepted, 0},
      {"NIST", nist, eWaveNist, 1024},
      {"NIST shorter than its header", shortNist, eWaveNotAccepted, 0},
      {"RIFF shorter than 1024 bytes", canonicalRiff(1023), eWaveNotAccepted, 0},
      {"header only", canonicalRiff(44), eWaveNotAccepted, 0},
      {"empty", Bytes{}, eWaveNotAccepted, 0},
      {"stereo", stereo, eWaveNotAccepted, 0},
      {"8000 Hz", eightK, eWaveNotAccepted, 0},
      {"8 bits", eightBit, eWaveNotAccepted, 0},
      {"float tag", floatTag, eWaveNotAccepted, 0},
      {"RIFX", rifx, eWaveNotAccepted, 0},
      {"no WAVEfmt", noWave, eWaveNotAccepted, 0},
      {"no data chunk", noData, eWaveNotAccepted, 0},
      {"huge declared lengths", huge, eWaveRiff, 44},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fd = openBytes(c.bytes);
    ASSERT_GE(fd, 0);
    char header[kWaveHeaderBufferBytes];
    EXPECT_EQ(c.expected, seekToData(fd, header));
    if (c.expected != eWaveNotAccepted) {
      EXPECT_EQ(c.position, ::lseek(fd, 0, SEEK_CUR));
      EXPECT_EQ(0, std::memcmp(header, c.bytes.data(), kWaveHeaderBufferBytes));
    }
    ::close(fd);
  }
  EXPECT_EQ(eWaveNotAccepted, seekToData(-1, std::vector<char>(1024).data()));
}

TEST(SeekToData, DeliversEverySampleOfAWrittenFile) {
  const uint32_t n = 700;
  std::vector<int16_t> s = ramp(n);
  std::string path = scratch("read.wav");
  ASSERT_EQ(1, writeRiffFile(path.c_str(), s.data(), n, kRiffSpeechFormat));
  int fd = ::open(path.c_str(), O_RDONLY);
  char header[kWaveHeaderBufferBytes];
  ASSERT_EQ(eWaveRiff, seekToData(fd, header));
  std::vector<int16_t> back(n + 1);
  ssize_t got = ::read(fd, back.data(), sizeof(int16_t) * (n + 1));
  ::close(fd);
  ASSERT_EQ(static_cast<ssize_t>(2 * n), got);
  back.resize(n);
  EXPECT_EQ(s, back);

  // A selector-0 file is never accepted for reading.
  ASSERT_EQ(1, writeRiffFile(path.c_str(), s.data(), n, 0));
  fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_EQ(eWaveNotAccepted, seekToData(fd, header));
  ::close(fd);
}

TEST(NistFile, WriterProducesTheExactHeader) {
  std::vector<int16_t> s = ramp(10);
  std::string path = scratch("ten.nist");
  ASSERT_EQ(1, writeNistFile(path.c_str(), s.data(), 10, nullptr, nullptr));
  Bytes b = readAll(path);
  ASSERT_EQ(1044u, b.size());
  const std::string text =
      "NIST_1A\n   1024\nchannel_count -i 1\nsample_n_bytes -i 2\nsample_rate -i 11025\n"
      "sample_byte_format -s2 01\nsample_sig_bits -i 16\nsample_count -i 10\nnbytes_all -i 1044\n\nend_head\n";
  EXPECT_EQ(text, std::string(b.begin(), b.begin() + static_cast<long>(text.size())));
  EXPECT_EQ(Bytes(1024 - text.size(), 0), Bytes(b.begin() + static_cast<long>(text.size()), b.begin() + 1024));
  EXPECT_EQ(0, std::memcmp(b.data() + 1024, s.data(), 20));

  ASSERT_EQ(1, writeNistFile(path.c_str(), s.data(), 10, "hello", "speaker -s3 bob\n"));
  b = readAll(path);
  const std::string tail = "nbytes_all -i 1044\nprompt -s5 hello\nspeaker -s3 bob\n\nend_head\n";
  std::string head(b.begin(), b.begin() + 1024);
  EXPECT_NE(std::string::npos, head.find(tail));

  EXPECT_EQ(0, writeNistFile(path.c_str(), nullptr, 10, nullptr, nullptr));
  EXPECT_EQ(0, writeNistFile(path.c_str(), s.data(), 0, nullptr, nullptr));
}

TEST(NistFile, PromptTooLongForTheHeaderIsRefused) {
  boxes.clear();
  MessageBoxHandler old = setMessageBoxHandler(recordBox);
  std::vector<int16_t> s = ramp(10);
  std::string path = scratch("long.nist");
  std::string prompt(900, 'a');
  EXPECT_EQ(0, writeNistFile(path.c_str(), s.data(), 10, prompt.c_str(), nullptr));
  ASSERT_EQ(1u, boxes.size());
  EXPECT_NE(std::string::npos, boxes[0].find("s < nistHdr + 1024"));
  EXPECT_FALSE(std::filesystem::exists(path));
  // The header text may fill 1023 bytes: 186 bytes besides an 837-byte prompt.
  EXPECT_EQ(1, writeNistFile(path.c_str(), s.data(), 10, std::string(837, 'b').c_str(), nullptr));
  Bytes b = readAll(path);
  EXPECT_EQ(0, b[1023]);
  EXPECT_EQ('\n', b[1022]);
  EXPECT_EQ(0, writeNistFile(path.c_str(), s.data(), 10, std::string(838, 'b').c_str(), nullptr));
  EXPECT_EQ(2u, boxes.size());
  setMessageBoxHandler(old);
}

TEST(NistHeader, FindEndOfStringLooksOnlyAtLineStartsAfterTheFirstLine) {
  const std::string h = "key first\nother\nkey -i 5\nkeyed\n";
  const char* b = h.data();
  const char* e = b + h.size();
  const char* found = findEndOfString(b, e, "key");
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(b + h.find("key -i") + 3, found);
  EXPECT_EQ(nullptr, findEndOfString(b, b + 10, "key"));  // only on the first line
  // position + key length must stay below end.
  const std::string t = "x\nab";
  EXPECT_EQ(nullptr, findEndOfString(t.data(), t.data() + 4, "ab"));
  EXPECT_NE(nullptr, findEndOfString(t.data(), t.data() + 4, "a"));
}

TEST(NistHeader, FieldValuesByType) {
  const std::string h =
      "NIST_1A\n   1024\nsample_rate -i 11025\nbig -l 99999999999\nneg -I  -42\nprompt -s5 hello\n"
      "gain -r 1.25\nbad 5\nlong -s40 ab\ncut -i";
  const char* b = h.data();
  const char* e = b + h.size();
  int32_t v = 0;
  EXPECT_EQ(1, getNistHeaderPar(b, e, "sample_rate", 'l', &v, sizeof v));
  EXPECT_EQ(11025, v);
  EXPECT_EQ(1, getNistHeaderPar(b, e, "sample_rate", 'i', &v, sizeof v));
  EXPECT_EQ(1, getNistHeaderPar(b, e, "neg", 'L', &v, sizeof v));
  EXPECT_EQ(-42, v);
  EXPECT_EQ(1, getNistHeaderPar(b, e, "big", 'i', &v, sizeof v));
  EXPECT_EQ(INT32_MAX, v);
  char text[100];
  EXPECT_EQ(1, getNistHeaderPar(b, e, "prompt", 's', text, 3));
  EXPECT_STREQ("he", text);
  EXPECT_EQ(1, getNistHeaderPar(b, e, "prompt", 's', text, sizeof text));
  EXPECT_STREQ("hello", text);
  // The declared length runs past the buffer: the copy stops at its end.
  EXPECT_EQ(1, getNistHeaderPar(b, e, "long", 's', text, sizeof text));
  EXPECT_STREQ("ab\ncut -i", text);
  double real = 0;
  EXPECT_EQ(1, getNistHeaderPar(b, e, "gain", 'r', &real, sizeof real));
  EXPECT_DOUBLE_EQ(1.25, real);

  EXPECT_EQ(0, getNistHeaderPar(b, e, "missing", 'i', &v, sizeof v));
  EXPECT_EQ(0, getNistHeaderPar(b, e, "bad", 'i', &v, sizeof v));       // no "-"
  EXPECT_EQ(0, getNistHeaderPar(b, e, "gain", 'i', &v, sizeof v));      // type letter differs
  EXPECT_EQ(0, getNistHeaderPar(b, e, "sample_rate", 's', text, 10));
  EXPECT_EQ(0, getNistHeaderPar(b, e, "sample_rate", 'x', &v, sizeof v));
  EXPECT_EQ(0, getNistHeaderPar(b, e, "cut", 'i', &v, sizeof v));       // value would start at end
  EXPECT_EQ(0, getNistHeaderPar(b, e, "NIST_1A", 'i', &v, sizeof v));   // first line
}

TEST(NistPlayback, ReadsTheSamplesAndRejectsBadHeaders) {
  std::vector<int16_t> s = ramp(300);
  std::string path = scratch("play.nist");
  ASSERT_EQ(1, writeNistFile(path.c_str(), s.data(), 300, "hi", nullptr));
  char* data = nullptr;
  uint32_t bytes = 0;
  ASSERT_EQ(1, readNistForPlayback(path.c_str(), &data, &bytes));
  ASSERT_EQ(600u, bytes);
  EXPECT_EQ(0, std::memcmp(data, s.data(), 600));
  delete[] data;

  Bytes good = readAll(path);
  auto withField = [&](const char* from, const char* to) {
    std::string head(good.begin(), good.begin() + 1024);
    size_t at = head.find(from);
    EXPECT_NE(std::string::npos, at);
    head.replace(at, std::strlen(from), to);
    head.resize(1024, '\0');
    Bytes b(good.size());
    std::memcpy(b.data(), head.data(), 1024);
    std::memcpy(b.data() + 1024, good.data() + 1024, good.size() - 1024);
    return b;
  };
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes riff = canonicalRiff(1200);
  const Case bad[] = {
      {"claims more than the file holds", withField("nbytes_all -i 1624", "nbytes_all -i 99999999")},
      {"negative length", withField("nbytes_all -i 1624", "nbytes_all -i -1624")},
      {"no samples", withField("nbytes_all -i 1624", "nbytes_all -i 1024")},
      {"no end_head", withField("end_head", "end_hexd")},
      {"no nbytes_all", withField("nbytes_all", "nbytes_xll")},
      {"RIFF", riff},
      {"short", Bytes(good.begin(), good.begin() + 500)},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.name);
    writeAll(scratch("bad.nist"), c.bytes);
    data = reinterpret_cast<char*>(1);
    EXPECT_EQ(0, readNistForPlayback(scratch("bad.nist").c_str(), &data, &bytes));
    EXPECT_EQ(nullptr, data);
  }
  EXPECT_EQ(0, readNistForPlayback(scratch("none.nist").c_str(), &data, &bytes));
}

}  // namespace
