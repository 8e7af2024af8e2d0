// features: prints or dumps the frames the front end makes of wave files.
//
//   features [-v warp] [-e] [-d] [-o dump] file...
//
// Text (the default): per input a "# file" line, then one line per frame: the frame number, the
// power and the 34 features. With -o the frames go to a binary dump instead (layout in
// docs/audio-frontend.md; "-" is standard output), and progress goes to standard error. -e runs
// the endpointer: only the frames of the utterances it finds are given, one block per utterance,
// and the normaliser adapts after each as in the applications. Files that are not 11025 Hz 16-bit
// mono RIFF or NIST are converted (mixed to mono and resampled) first. -d gives the analysis as
// defined, without the channel cleanup (first-chunk DC estimate, high-pass).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "platform/audio/audiodevice.h"

using namespace vlm;

namespace {

constexpr char kDumpMagic[4] = {'V', 'L', 'M', 'F'};
constexpr int32_t kDumpVersion = 1;

void usage() {
  std::fprintf(stderr,
               "usage: features [-v warp] [-e] [-d] [-o dump] file...\n"
               "  -v warp   warp bin of the filter bank (1..127, default 58)\n"
               "  -e        only the frames of the utterances the endpointer finds\n"
               "  -d        the analysis as defined, without the channel cleanup\n"
               "  -o dump   write a binary dump (\"-\": standard output) instead of text\n");
}

void putLE32(std::vector<unsigned char>& out, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(u >> (8 * i)));
}
void putLE16(std::vector<unsigned char>& out, int16_t v) {
  const uint16_t u = static_cast<uint16_t>(v);
  out.push_back(static_cast<unsigned char>(u));
  out.push_back(static_cast<unsigned char>(u >> 8));
}

// One block of frames: to text or to the dump.
struct Output {
  FILE* dump = nullptr;
  bool failed = false;

  void block(const std::string& name, int segment, const WavChannel& ch, const Frame* frames, int count) {
    if (!dump) {
      if (segment < 0)
        std::printf("# %s: %d frames\n", name.c_str(), count);
      else
        std::printf("# %s: utterance %d: %d frames\n", name.c_str(), segment, count);
      for (int i = 0; i < count; ++i) {
        std::printf("%d %d", i, frames[i].power);
        for (int k = 0; k < kFrameFeatures; ++k) std::printf(" %d", frames[i].features[k]);
        std::printf("\n");
      }
      return;
    }
    std::vector<unsigned char> out;
    out.insert(out.end(), kDumpMagic, kDumpMagic + 4);
    putLE32(out, kDumpVersion);
    putLE32(out, count);
    putLE32(out, kFrameFeatures);
    putLE32(out, WavChannel::melFilterBankSecondEFormantBin());
    putLE32(out, segment);
    for (int i = 0; i < kStaticFeatures; ++i) putLE32(out, ch.cepstralNormaliser()[i]);
    putLE32(out, static_cast<int32_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    while (out.size() % 4) out.push_back(0);
    for (int i = 0; i < count; ++i) {
      putLE32(out, frames[i].power);
      for (int k = 0; k < kFrameFeatures; ++k) putLE16(out, frames[i].features[k]);
    }
    if (std::fwrite(out.data(), 1, out.size(), dump) != out.size()) failed = true;
  }
};

// Opens path on a file channel, or converts it into memory for a static channel.
struct Source {
  FileWavChannel file;
  StaticWavChannel memory;
  std::vector<int16_t> samples;
  WaveData data{};

  WavChannel* open(const char* path) {
    if (file.open(path)) return &file;
    LoadedWave wave;
    char error[256] = "";
    if (!loadWaveFile(path, &wave, error, sizeof error)) {
      std::fprintf(stderr, "features: %s: %s\n", path, error[0] ? error : "cannot read the wave file");
      return nullptr;
    }
    uint32_t count = 0;
    float* conv = resampleMono(wave.samples, wave.count, wave.rate, kSampleRate, &count);
    if (!conv) {
      std::fprintf(stderr, "features: %s: cannot convert to 11025 Hz\n", path);
      return nullptr;
    }
    samples.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      const float v = conv[i] * 32768.0f;
      samples[i] = static_cast<int16_t>(v > 32767.0f ? 32767 : v < -32768.0f ? -32768 : v);
    }
    delete[] conv;
    data = WaveData{samples.data(), static_cast<int32_t>(samples.size())};
    if (!memory.open(&data)) return nullptr;
    return &memory;
  }
};

int processFile(const char* path, bool endpoint, Output& out) {
  Source src;
  WavChannel* ch = src.open(path);
  if (!ch) return 0;
  const std::string name = path;
  if (!endpoint) {
    std::vector<Frame> frames;
    Frame f;
    int rc;
    while ((rc = ch->nextFrame(&f)) >= 0) frames.push_back(f);
    out.block(name, -1, *ch, frames.data(), static_cast<int>(frames.size()));
    if (out.dump) std::fprintf(stderr, "%s: %zu frames\n", path, frames.size());
    return 1;
  }
  ch->listen(1, nullptr);
  int found = 0;
  for (;;) {
    const int rc = ch->isUttAvailable();
    if (rc != 1) break;
    Utterance* u = ch->takeUtt();
    if (!u) break;
    u->complete(0);
    out.block(name, found++, *ch, u->frames.begin(), u->frameCount());
    delete u;
  }
  if (out.dump) std::fprintf(stderr, "%s: %d utterances\n", path, found);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int vtln = kNeutralVtln;
  bool endpoint = false;
  const char* dumpPath = nullptr;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
      usage();
      return 0;
    } else if (!std::strcmp(a, "-v") && i + 1 < argc) {
      char* end = nullptr;
      const long v = std::strtol(argv[++i], &end, 10);
      if (!end || *end || v < 1 || v > 127) {
        std::fprintf(stderr, "features: warp bin must be 1..127\n");
        return 2;
      }
      vtln = static_cast<int>(v);
    } else if (!std::strcmp(a, "-e")) {
      endpoint = true;
    } else if (!std::strcmp(a, "-d")) {
      setChannelCleanup(0);
    } else if (!std::strcmp(a, "-o") && i + 1 < argc) {
      dumpPath = argv[++i];
    } else if (a[0] == '-' && a[1]) {
      usage();
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    usage();
    return 2;
  }
  WavChannel::melFilterBankWithVTLN(vtln);

  Output out;
  std::string tmp;
  if (dumpPath) {
    if (!std::strcmp(dumpPath, "-")) {
      out.dump = stdout;
    } else {
      // Written next to the target and renamed over it when complete.
      tmp = std::string(dumpPath) + ".tmp";
      out.dump = std::fopen(tmp.c_str(), "wb");
      if (!out.dump) {
        std::fprintf(stderr, "features: cannot create %s: %s\n", tmp.c_str(), std::strerror(errno));
        return 1;
      }
    }
  }
  int failures = 0;
  for (const char* f : files)
    if (!processFile(f, endpoint, out)) ++failures;

  if (dumpPath && out.dump != stdout) {
    if (std::fclose(out.dump) != 0) out.failed = true;
    if (out.failed || std::rename(tmp.c_str(), dumpPath) != 0) {
      std::fprintf(stderr, "features: cannot write %s\n", dumpPath);
      std::remove(tmp.c_str());
      return 1;
    }
  } else if (std::fflush(stdout) != 0) {
    return 1;
  }
  return failures ? 1 : 0;
}
