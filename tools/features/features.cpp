// features: prints or dumps the frames the front end makes of wave files.
//
//   features [-v warp] [-e] [-d] [-o dump] file...
//
// Text (the default): per input a "# file" line, then one line per frame: the frame number, the
// power and the 34 features. With -o the frames go to a binary dump instead (layout in
// docs/audio-frontend.md; "-" is standard output), and progress goes to standard error. -e runs
// the endpointer: only the frames of the utterances it finds are given, one block per utterance,
// and the normaliser adapts after each as in the applications. Files that are not 11025 Hz 16-bit
// mono are converted (mixed to mono and resampled) first; every file is read as recognize reads it.
// -d gives the analysis as defined, without the channel cleanup (first-chunk DC estimate, high-pass).
// The dump file is replaced safely (foundation/safefile.h); every write, to the dump or to standard
// output, is checked, and a failure ends the run with status 1 and its reason.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/safefile.h"
#include "platform/audio/audiodevice.h"
#include "tools/cli.h"

using namespace vlm;

namespace {

constexpr char kDumpMagic[4] = {'V', 'L', 'M', 'F'};
constexpr int32_t kDumpVersion = 1;

constexpr const char* kHelp =
    "usage: features [-v warp] [-e] [-d] [-o dump] file...\n"
    "Prints the feature frames the recogniser computes from wave files.\n"
    "  -v warp   warp bin of the filter bank (1..127, default 58)\n"
    "  -e        only the frames of the utterances the endpointer finds\n"
    "  -d        the analysis as defined, without the channel cleanup\n"
    "  -o dump   write a binary dump (\"-\": standard output) instead of text\n"
    "  --help, --version\n"
    "Exit status: 0 done, 1 a failure, 2 a usage error.\n"
    "Example: features -e data/one.wav\n";

void usage() { std::fputs(kHelp, stderr); }

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
  bool dumping = false;
  SafeFile* file = nullptr;  // the dump file; null for standard output
  bool failed = false;
  int error = 0;            // the first failed write's error number

  // Writes to the dump or standard output; notes the first failure.
  void put(const void* data, size_t bytes) {
    if (failed) return;
    if (file != nullptr) {
      if (!file->write(data, bytes)) {
        failed = true;
        error = errno;
      }
    } else if (std::fwrite(data, 1, bytes, stdout) != bytes) {
      failed = true;
      error = errno;
    }
  }

  void block(const std::string& name, int segment, const WavChannel& ch, const Frame* frames, int count) {
    if (!dumping) {
      std::string text;
      char number[24];
      text += "# " + name + ": ";
      if (segment >= 0) text += "utterance " + std::to_string(segment) + ": ";
      text += std::to_string(count) + " frames\n";
      for (int i = 0; i < count; ++i) {
        std::snprintf(number, sizeof number, "%d %d", i, frames[i].power);
        text += number;
        for (int k = 0; k < kFrameFeatures; ++k) text += " " + std::to_string(frames[i].features[k]);
        text += '\n';
      }
      put(text.data(), text.size());
      return;
    }
    std::vector<unsigned char> out(kDumpMagic, kDumpMagic + 4);
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
    put(out.data(), out.size());
  }
};

// Reads path as recognition does: the audio layer's wave reader (RIFF or NIST, any rate, mixed to
// mono), converted to 16-bit samples at 11025 Hz, on a static channel.
struct Source {
  StaticWavChannel memory;
  std::vector<int16_t> samples;
  WaveData data{};

  WavChannel* open(const char* path) {
    LoadedWave wave;
    char error[256] = "";
    if (!loadWaveFile(path, &wave, error, sizeof error)) {
      std::fprintf(stderr, "features: %s: %s\n", path, error[0] ? error : "cannot read the wave file");
      return nullptr;
    }
    if (wave.warning[0]) std::fprintf(stderr, "features: %s: warning: %s\n", path, wave.warning);
    if (!toSpeechSamples(wave.samples, wave.count, wave.rate, &samples, error, sizeof error)) {
      std::fprintf(stderr, "features: %s: %s\n", path, error);
      return nullptr;
    }
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
    if (out.dumping) std::fprintf(stderr, "%s: %zu frames\n", path, frames.size());
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
  if (out.dumping) std::fprintf(stderr, "%s: %d utterances\n", path, found);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "features", kHelp);
  int vtln = kNeutralVtln;
  bool endpoint = false;
  const char* dumpPath = nullptr;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "-v") && i + 1 < argc) {
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
      std::fprintf(stderr, "features: unknown or incomplete option %s\n", a);
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
  SafeFile dumpFile;
  if (dumpPath) {
    out.dumping = true;
    if (std::strcmp(dumpPath, "-") != 0) {
      // Written through a temporary file beside the target and renamed over it when complete.
      if (!dumpFile.open(dumpPath)) {
        std::fprintf(stderr, "features: %s\n", dumpFile.reason());
        return 1;
      }
      out.file = &dumpFile;
    }
  }
  int failures = 0;
  for (const char* f : files)
    if (!out.failed && !processFile(f, endpoint, out)) ++failures;

  if (out.file != nullptr) {
    if (out.failed || !dumpFile.commit()) {
      std::fprintf(stderr, "features: %s (nothing written)\n", dumpFile.reason());
      return 1;
    }
  } else if (out.failed || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "features: cannot write standard output: %s\n",
                 std::strerror(out.error != 0 ? out.error : errno));
    return 1;
  }
  return failures ? 1 : 0;
}
