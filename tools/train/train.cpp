// train: builds the starting speaker models from the synthetic corpus.
//
//   train [--corpus DIR] [--newuser FILE] [--delta FILE] [--estimator mean|median]
//         [--iterations N] [--min-frames N] [--shrink N] [--gain X] [--warps W,W...]
//         [--stored-warp W]
//         [--rivals FILE [--rival-passes N] [--rival-step X] [--rival-width X]]
//         [--balance] [--vtln] [--warp-search] [--no-write]
//
// Reads DIR/manifest.tsv (voice, role, wave file, words, pronunciations; tools/corpus), turns
// every utterance into frames with the front end, normalises each voice as a channel settles
// after many utterances, segments the training utterances evenly (flat start), then repeats
// forced alignment over each utterance's alignment chain and re-estimation of the 1378 templates
// until the average frame cost stops improving. Prints the figures of every step, compares the
// mean with the median estimate, scores the held-out voices (with the right and with a wrong
// transcript, and over a range of warp bins), writes each voice's normaliser to
// DIR/normalisers.tsv and the models to newuser and delta (the same templates; see
// docs/training.md). --warps adds training material heard through other warp bins, --balance
// weighs every synthesiser equally, --vtln continues training with each training voice at its
// best warp bin; all three were measured and are off by default (tools/train/make_models.sh
// passes --warps). --rivals adds passes of corrective training against wrong hypotheses that a
// recogniser found for the training utterances (tools/train/rivals.py; measured, not used for
// the shipped models). --stored-warp sets the warp bin written into the model files, the filter
// bank a speaker who has not enrolled is heard with (default 58; the templates are trained at 58
// either way).
#define VLM_UNIT "train"
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/frontend.h"
#include "foundation/safefile.h"
#include "models/alignchain.h"
#include "models/user.h"
#include "tools/train/trainer.h"
#include "tools/cli.h"

using namespace vlm;
using namespace vlm::train;

namespace {

struct Utt {
  std::string voice, role, path, words;
  std::vector<std::string> prons;
  std::vector<Frame> frames;
  std::vector<short> pels;   // the current alignment: pel state per frame (training voices)
  int warp = kNeutralWarpBin;  // the filter bank the frames are computed with
};

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

constexpr const char* kUsage =
    "usage: train [--corpus DIR] [--newuser FILE] [--delta FILE] [--estimator median|mean]\n"
    "             [--iterations N] [--min-frames N] [--shrink N] [--gain X] [--warps W,W...]\n"
    "             [--stored-warp W] [--rivals FILE [--rival-passes N] [--rival-step X]\n"
    "             [--rival-width X]] [--warp-search] [--balance] [--vtln] [--no-write]\n";
constexpr const char* kHelp =
    "Trains the starting speaker models from the synthetic corpus (tools/corpus/build_corpus.py).\n"
    "  --corpus DIR        the corpus folder with manifest.tsv (default corpus)\n"
    "  --newuser FILE      the models written (default data/newuser.usr)\n"
    "  --delta FILE        the same templates for adaptation (default data/delta.usr)\n"
    "  --estimator E       mean (default) or median re-estimation of the templates\n"
    "  --iterations N      at most N alignment and re-estimation passes (default 12)\n"
    "  --min-frames N      a template needs N aligned frames to be re-estimated (default 6)\n"
    "  --shrink N          draw each context's template towards its group's as if the group gave N\n"
    "                      frames (default 0: not at all)\n"
    "  --gain X            stop when the average frame cost improves by less than X (default 0.002)\n"
    "  --warps W,W...      training material heard through these warp bins (1 to 127) as well\n"
    "  --stored-warp W     the warp bin written into the model files (default 58)\n"
    "  --rivals FILE       corrective training against the wrong hypotheses in FILE (lines: wave file\n"
    "                      as in the manifest, words, pronunciations; tools/train/rivals.py)\n"
    "  --rival-passes N    passes of corrective training (default 4)\n"
    "  --rival-step X      largest move of a template feature in one pass (default 12)\n"
    "  --rival-width X     cost difference over which a pair's weight falls off (default 100)\n"
    "  --warp-search       score the held-out voices over a range of warp bins\n"
    "  --balance           weigh every synthesiser equally\n"
    "  --vtln              go on training each voice at its best warp bin\n"
    "  --no-write          report the figures only; write no models\n"
    "  --help, --version\n"
    "Exit status: 0 done, 1 a failure, 2 a usage error.\n"
    "Example: train --corpus corpus --newuser data/newuser.usr --delta data/delta.usr\n"
    "         (tools/train/make_models.sh runs the whole recipe)\n";

void usage() {
  std::fputs(kUsage, stderr);
  std::fprintf(stderr, "(train --help lists the options)\n");
}

// A whole number from low to high for option name, or the usage error (status 2).
int wholeNumber(const char* name, const char* text, int low, int high) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != 0 || errno != 0 || v < low || v > high) {
    std::fprintf(stderr, "train: %s needs a whole number from %d to %d, not \"%s\"\n", name, low, high, text);
    usage();
    std::exit(2);
  }
  return static_cast<int>(v);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep))
    if (sep != ' ' || !cur.empty()) out.push_back(cur);
  return out;
}

// Calls fn(line number, tab-separated fields) for every non-empty line of a text file (CR LF
// line ends accepted, as from a file saved on another system); 0 when the file cannot be read.
template <class Fn>
int forEachTabLine(const std::string& path, Fn fn) {
  std::ifstream in(path);
  if (!in) return 0;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) fn(lineNo, split(line, '\t'));
  }
  return 1;
}

int readManifest(const std::string& dir, std::vector<Utt>* utts) {
  const int read = forEachTabLine(dir + "/manifest.tsv", [&](int lineNo, const std::vector<std::string>& f) {
    if (f.size() < 5) {
      std::fprintf(stderr, "train: manifest line %d: expected 5 fields\n", lineNo);
      return;
    }
    Utt u;
    u.voice = f[0];
    u.role = f[1];
    u.path = dir + "/" + f[2];
    u.words = f[3];
    u.prons = split(f[4], ' ');
    if (u.prons.size() != split(f[3], ' ').size()) {
      std::fprintf(stderr, "train: manifest line %d: words and pronunciations differ in number\n", lineNo);
      return;
    }
    utts->push_back(std::move(u));
  });
  if (!read)
    std::fprintf(stderr, "train: cannot read %s/manifest.tsv (run tools/corpus/build_corpus.py)\n", dir.c_str());
  return read;
}

// The rival transcripts of tools/train/rivals.py, keyed by wave file (as the manifest's paths
// are, under dir); 0 when the file cannot be read.
int readRivals(const std::string& path, const std::string& dir, std::multimap<std::string, Utt>* rivals) {
  const int read = forEachTabLine(path, [&](int lineNo, const std::vector<std::string>& f) {
    Utt r;
    if (f.size() >= 3) {
      r.words = f[1];
      r.prons = split(f[2], ' ');
    }
    if (f.size() < 3 || r.prons.empty() || r.prons.size() != split(f[1], ' ').size()) {
      std::fprintf(stderr, "train: %s line %d: expected wave file, words and as many pronunciations\n",
                   path.c_str(), lineNo);
      return;
    }
    rivals->emplace(dir + "/" + f[0], std::move(r));
  });
  if (!read) std::fprintf(stderr, "train: cannot read %s\n", path.c_str());
  return read;
}

// Frames of a wave file with the initial normaliser, frozen.
int frontEnd(FileWavChannel& channel, Utt& u) {
  if (!channel.open(u.path.c_str())) return 0;
  channel.setCepstralNormaliser(kInitialNormaliser);
  channel.freezeNormaliser(1);
  Frame f;
  while (channel.nextFrame(&f) >= 0) u.frames.push_back(f);
  channel.close();
  return 1;
}

// Front end over utterances at their warp bins, then each voice's normaliser shift (a voice at
// another warp counts as a voice of its own). Returns the number of unreadable files.
int computeFrames(std::vector<Utt*>& utts) {
  std::map<int, std::vector<Utt*>> byWarp;
  for (Utt* u : utts) byWarp[u->warp].push_back(u);
  int bad = 0;
  for (auto& [warp, list] : byWarp) {
    WavChannel::melFilterBankWithVTLN(warp);
    FileWavChannel channel;
    for (Utt* u : list) {
      u->frames.clear();
      if (!frontEnd(channel, *u)) {
        std::fprintf(stderr, "train: cannot read %s\n", u->path.c_str());
        ++bad;
      }
    }
  }
  WavChannel::melFilterBankWithVTLN(kNeutralWarpBin);
  return bad;
}

int buildChain(const Utt& u, AlignChain& chain) {
  std::vector<const char*> prons;
  for (const std::string& p : u.prons) prons.push_back(p.c_str());
  return chain.build(prons.data(), static_cast<int>(prons.size()));
}

struct AlignStats {
  double cost = 0;
  long frames = 0;
  int aligned = 0, failed = 0;
  double average() const { return frames ? cost / static_cast<double>(frames) : 0.0; }
};

// Forced alignment of the utterances with the models of user; stores the path when keep is set.
AlignStats alignAll(std::vector<Utt*>& utts, const User& user, bool keep) {
  AlignStats st;
  std::vector<short> pels;
  for (Utt* u : utts) {
    AlignChain chain;
    const int n = static_cast<int>(u->frames.size());
    if (!buildChain(*u, chain) || n < chain.minimumFrames()) {
      ++st.failed;
      if (keep) u->pels.clear();
      continue;
    }
    pels.assign(static_cast<size_t>(n), 0);
    const long cost = chain.viterbi(u->frames.data(), n, &user, pels.data());
    if (cost < 0) {
      ++st.failed;
      if (keep) u->pels.clear();
      continue;
    }
    ++st.aligned;
    st.cost += static_cast<double>(cost);
    st.frames += n;
    if (keep) u->pels = pels;
  }
  return st;
}

// The same utterances aligned with a wrong transcript (the next utterance's of the same voice):
// how far the models tell the right words from others.
AlignStats alignWrong(std::vector<Utt*>& utts, const User& user) {
  AlignStats st;
  std::vector<short> pels;
  for (size_t i = 0; i < utts.size(); ++i) {
    Utt* u = utts[i];
    const Utt* other = utts[(i + 1) % utts.size()];
    if (other->voice != u->voice || other->words == u->words) continue;
    AlignChain chain;
    const int n = static_cast<int>(u->frames.size());
    if (!buildChain(*other, chain) || n < chain.minimumFrames()) continue;
    pels.assign(static_cast<size_t>(n), 0);
    const long cost = chain.viterbi(u->frames.data(), n, &user, pels.data());
    if (cost < 0) continue;
    ++st.aligned;
    st.cost += static_cast<double>(cost);
    st.frames += n;
  }
  return st;
}

// The synthesiser of a voice: its name up to the first "-" ("espeak-en-us" -> "espeak").
std::string engineOf(const std::string& voice) { return voice.substr(0, voice.find('-')); }

// The frames aligned to each pel state. With balance, each synthesiser weighs the same: a frame
// of a voice whose synthesiser has fewer training voices is counted several times (the largest
// synthesiser's voice count divided by its own, rounded), so that the many voices of one
// synthesiser do not pull every template toward its particular sound.
// Each voice's frames shifted by its own normaliser shift (frames computed with the initial one).
void normaliseVoices(std::vector<Utt*>& utts) {
  std::map<std::string, std::vector<Utt*>> byVoice;
  for (Utt* u : utts) byVoice[u->voice].push_back(u);
  for (auto& [voice, list] : byVoice) {
    std::vector<std::vector<Frame>> frames;
    for (Utt* u : list) frames.push_back(u->frames);
    int32_t shift[kStaticFeatures];
    normaliserShift(frames, shift);
    for (Utt* u : list) applyShift(u->frames, shift);
  }
}

struct WarpFit {
  int warp = 0;
  double cost = 0, neutral = 0;
  std::string line;   // "warp:cost" for every warp tried
};

// The warp bin (48..70, even) whose frames, with the voice's own normaliser, the templates fit
// best: a maximum-likelihood estimate of the speaker's warp.
WarpFit bestWarp(const std::vector<Utt*>& list, const User& user) {
  WarpFit fit;
  for (int w = 48; w <= 70; w += 2) {
    std::vector<Utt> copies;
    copies.reserve(list.size());
    for (const Utt* u : list) {
      copies.push_back(*u);
      copies.back().warp = w;
    }
    std::vector<Utt*> ptrs;
    for (Utt& c : copies) ptrs.push_back(&c);
    computeFrames(ptrs);
    normaliseVoices(ptrs);
    const AlignStats st = alignAll(ptrs, user, false);
    char item[32];
    std::snprintf(item, sizeof item, " %d:%.2f", w, st.average());
    fit.line += item;
    if (w == kNeutralWarpBin) fit.neutral = st.average();
    if (!fit.warp || st.average() < fit.cost) {
      fit.warp = w;
      fit.cost = st.average();
    }
  }
  return fit;
}

StateFrames collect(const std::vector<Utt*>& utts, bool balance) {
  std::map<std::string, std::map<std::string, int>> voices;   // engine -> voice -> 1
  for (const Utt* u : utts) voices[engineOf(u->voice)][u->voice] = 1;
  size_t most = 1;
  for (const auto& [engine, list] : voices) most = std::max(most, list.size());
  StateFrames perState(kPelCount);
  for (const Utt* u : utts) {
    const size_t own = voices[engineOf(u->voice)].size();
    const int copies = balance ? static_cast<int>((most + own / 2) / own) : 1;
    for (size_t t = 0; t < u->pels.size(); ++t)
      for (int c = 0; c < copies; ++c) perState[static_cast<size_t>(u->pels[t])].push_back(&u->frames[t]);
  }
  return perState;
}

void printEstimate(const EstimateReport& r, const std::vector<char>& used) {
  std::vector<int> counts;
  int usedWithout = 0;
  for (int s = kPelsPerGroup; s < kPelCount; ++s) {
    if (!used[static_cast<size_t>(s)]) continue;
    counts.push_back(r.framesPerState[static_cast<size_t>(s)]);
    if (r.source[s] != Source::eOwn) ++usedWithout;
  }
  std::sort(counts.begin(), counts.end());
  const size_t k = counts.size();
  std::printf("  states in the training chains: %zu of 1365 acoustic states; frames per such state: "
              "min %d, 10%% %d, median %d, max %d; silence (pel 0): %d frames\n",
              k, k ? counts[0] : 0, k ? counts[k / 10] : 0, k ? counts[k / 2] : 0, k ? counts[k - 1] : 0,
              r.framesPerState[0]);
  std::printf("  templates: %d own, %d from their group's other contexts, %d from a related phone, "
              "%d from all speech (%d of the used states below the minimum)\n",
              r.own, r.group, r.related, r.speech, usedWithout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string corpus = "corpus";
  std::string newuserPath = "data/newuser.usr";
  std::string deltaPath = "data/delta.usr";
  Estimator estimator = Estimator::eMean;
  int iterations = 12;
  int minFrames = 6;
  int shrink = 0;
  double gain = 0.002;
  bool write = true;
  bool warpSearchAll = false;
  bool balance = false;
  bool vtlnTrain = false;
  std::vector<int> warps{kNeutralWarpBin};
  int storedWarp = kNeutralWarpBin;  // the warp bin written into the model files
  std::string rivalsPath;
  int rivalPasses = 4;
  RivalOptions rivalOptions;
  vlmcli::answerHelpAndVersion(argc, argv, "train", (std::string(kUsage) + kHelp).c_str());
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "train: %s needs a value\n", what);
        usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--corpus") corpus = value("--corpus");
    else if (a == "--newuser") newuserPath = value("--newuser");
    else if (a == "--delta") deltaPath = value("--delta");
    else if (a == "--estimator") {
      const std::string e = value("--estimator");
      if (e == "median") estimator = Estimator::eMedian;
      else if (e == "mean") estimator = Estimator::eMean;
      else {
        std::fprintf(stderr, "train: --estimator is median or mean, not \"%s\"\n", e.c_str());
        usage();
        return 2;
      }
    } else if (a == "--iterations") iterations = wholeNumber("--iterations", value("--iterations"), 1, 1000);
    else if (a == "--min-frames") minFrames = wholeNumber("--min-frames", value("--min-frames"), 1, 1000000);
    else if (a == "--shrink") shrink = wholeNumber("--shrink", value("--shrink"), 0, 1000000);
    else if (a == "--gain") {
      const char* text = value("--gain");
      char* end = nullptr;
      gain = std::strtod(text, &end);
      if (end == text || *end != 0 || !std::isfinite(gain)) {
        std::fprintf(stderr, "train: --gain must be a number, not \"%s\"\n", text);
        usage();
        return 2;
      }
    }
    else if (a == "--rivals") rivalsPath = value("--rivals");
    else if (a == "--rival-passes") rivalPasses = wholeNumber("--rival-passes", value("--rival-passes"), 0, 100);
    else if (a == "--rival-step" || a == "--rival-width") {
      const char* text = value(a.c_str());
      char* end = nullptr;
      const double v = std::strtod(text, &end);
      if (end == text || *end != 0 || !std::isfinite(v) || v <= 0) {
        std::fprintf(stderr, "train: %s must be a positive number, not \"%s\"\n", a.c_str(), text);
        usage();
        return 2;
      }
      (a == "--rival-step" ? rivalOptions.step : rivalOptions.width) = v;
    }
    else if (a == "--no-write") write = false;
    else if (a == "--warp-search") warpSearchAll = true;
    else if (a == "--balance") balance = true;
    else if (a == "--vtln") vtlnTrain = true;
    else if (a == "--stored-warp") {
      storedWarp = wholeNumber("--stored-warp", value("--stored-warp"), 1, 127);
    } else if (a == "--warps") {
      warps.clear();
      for (const std::string& w : split(value("--warps"), ',')) {
        warps.push_back(wholeNumber("--warps", w.c_str(), 1, 127));
      }
    }
    else {
      std::fprintf(stderr, "train: unknown option %s\n", a.c_str());
      usage();
      return 2;
    }
  }
  if (iterations < 1 || minFrames < 1 || gain < 0) {
    std::fprintf(stderr, "train: --iterations and --min-frames must be at least 1, --gain not negative\n");
    usage();
    return 2;
  }
  // An unreadable rivals file is found before the training, not after it.
  if (!rivalsPath.empty() && !std::ifstream(rivalsPath)) {
    std::fprintf(stderr, "train: cannot read %s (tools/train/rivals.py writes it)\n", rivalsPath.c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();

  std::vector<Utt> utts;
  if (!readManifest(corpus, &utts) || utts.empty()) {
    std::fprintf(stderr, "train: no utterances\n");
    return 1;
  }

  // Training material at further warp bins: the same recordings heard through a filter bank
  // stretched or compressed, as voices with shorter or longer vocal tracts would be heard.
  const size_t recorded = utts.size();
  utts.reserve(recorded * warps.size());
  for (int w : warps) {
    if (w == kNeutralWarpBin) continue;
    for (size_t i = 0; i < recorded; ++i) {
      if (utts[i].role != "train") continue;
      Utt copy = utts[i];
      copy.voice += "@" + std::to_string(w);
      copy.warp = w;
      utts.push_back(std::move(copy));
    }
  }
  // Front end with the initial normaliser, frozen.
  {
    std::vector<Utt*> all;
    for (Utt& u : utts) all.push_back(&u);
    const int bad = computeFrames(all);
    long frames = 0;
    for (Utt& u : utts) frames += static_cast<long>(u.frames.size());
    std::printf("front end: %zu utterances (%zu recorded), %ld frames (%.1f min), %d unreadable, %.1f s\n",
                utts.size(), recorded, frames, frames * 200.0 / 11025.0 / 60.0, bad, seconds(start));
  }

  // Per-voice normaliser: the shift that brings the voice's speech mean to the targets.
  std::map<std::string, std::vector<Utt*>> byVoice;
  for (Utt& u : utts) byVoice[u.voice].push_back(&u);
  double normSum[kStaticFeatures] = {};
  int trainVoices = 0;
  double floorSum = 0, peakSum = 0;
  long levelCount = 0;
  std::map<std::string, std::vector<int32_t>> voiceShift;
  std::string normalisers;   // voice, role and the 17 normaliser values, for corpus/normalisers.tsv
  std::printf("voices (normaliser = initial + shift; features 0..3 shown):\n");
  for (auto& [voice, list] : byVoice) {
    std::vector<std::vector<Frame>> frames;
    for (Utt* u : list) frames.push_back(u->frames);
    int32_t shift[kStaticFeatures];
    const int speech = normaliserShift(frames, shift);
    voiceShift[voice].assign(shift, shift + kStaticFeatures);
    for (Utt* u : list) applyShift(u->frames, shift);
    const bool training = list[0]->role == "train";
    std::printf("  %-24s %-5s %4zu utterances, %6d speech frames, normaliser %d %d %d %d ...\n", voice.c_str(),
                list[0]->role.c_str(), list.size(), speech, kInitialNormaliser[0] + shift[0],
                kInitialNormaliser[1] + shift[1], kInitialNormaliser[2] + shift[2], kInitialNormaliser[3] + shift[3]);
    if (list[0]->warp == kNeutralWarpBin) {
      normalisers += voice + "\t" + list[0]->role;
      for (int i = 0; i < kStaticFeatures; ++i) normalisers += "\t" + std::to_string(kInitialNormaliser[i] + shift[i]);
      normalisers += "\n";
    }
    if (!training || list[0]->warp != kNeutralWarpBin) continue;
    ++trainVoices;
    for (int i = 0; i < kStaticFeatures; ++i) normSum[i] += kInitialNormaliser[i] + shift[i];
    for (Utt* u : list) {
      if (u->frames.empty()) continue;
      int32_t lo = u->frames[0].power, hi = lo;
      for (const Frame& f : u->frames) {
        lo = std::min(lo, f.power);
        hi = std::max(hi, f.power);
      }
      floorSum += lo;
      peakSum += hi;
      ++levelCount;
    }
  }
  // Then every utterance through its own normaliser, as recognition and enrollment hear it
  // (docs/audio-frontend.md): the templates learn speech whose channel has been taken out.
  for (Utt& u : utts) {
    int32_t own[kStaticFeatures];
    ownNormaliserShift(u.frames.data(), static_cast<int>(u.frames.size()), kOwnMeanPriorFrames, own);
    shiftStatics(u.frames.data(), static_cast<int>(u.frames.size()), own);
    floorEnergies(u.frames.data(), static_cast<int>(u.frames.size()));
  }
  if (trainVoices == 0) {
    std::fprintf(stderr, "train: the manifest has no training voice\n");
    return 1;
  }
  {
    // Each voice's own normaliser (at warp bin 58), as a calibrated channel would hold it.
    const std::string path = corpus + "/normalisers.tsv";
    SafeFile file;
    if (!file.open(path.c_str()) || !file.write(normalisers.data(), normalisers.size()) || !file.commit())
      std::fprintf(stderr, "train: %s\n", file.reason());
  }
  // The stored normaliser is the average of the training voices' own, each as heard through the
  // filter bank of the stored bin, the one a speaker who has not enrolled is heard through.
  if (storedWarp != kNeutralWarpBin) {
    std::fill(std::begin(normSum), std::end(normSum), 0.0);
    for (auto& [voice, list] : byVoice) {
      if (list[0]->role != "train" || list[0]->warp != kNeutralWarpBin) continue;
      std::vector<Utt> copies;
      for (Utt* u : list) {
        copies.push_back(Utt{u->voice, u->role, u->path, u->words, {}, {}, {}, storedWarp});
      }
      std::vector<Utt*> ptrs;
      for (Utt& c : copies) ptrs.push_back(&c);
      computeFrames(ptrs);
      std::vector<std::vector<Frame>> frames;
      for (Utt& c : copies) frames.push_back(std::move(c.frames));
      int32_t shift[kStaticFeatures];
      normaliserShift(frames, shift);
      for (int i = 0; i < kStaticFeatures; ++i) normSum[i] += kInitialNormaliser[i] + shift[i];
    }
  }
  int32_t storedNormaliser[kStaticFeatures];
  for (int i = 0; i < kStaticFeatures; ++i)
    storedNormaliser[i] = static_cast<int32_t>(normSum[i] / trainVoices + (normSum[i] >= 0 ? 0.5 : -0.5));

  std::vector<Utt*> train, test;
  for (Utt& u : utts) (u.role == "train" ? train : test).push_back(&u);

  // Flat start over the direct route of each chain.
  std::vector<char> used(kPelCount, 0);
  int flatFailed = 0;
  for (Utt* u : train) {
    AlignChain chain;
    if (!buildChain(*u, chain)) {
      ++flatFailed;
      continue;
    }
    std::vector<ChainNodeView> view;
    for (int i = 0; i < chain.nodeCount(); ++i) {
      const AdaptWordNode& n = chain.node(i);
      used[static_cast<size_t>(n.pel)] = 1;
      view.push_back({n.pel, n.successorCount, {n.successors[0], n.successors[1]}});
    }
    const std::vector<int> route = directRoute(view);
    std::vector<int32_t> power;
    for (const Frame& f : u->frames) power.push_back(f.power);
    const std::vector<int> nodes = flatStart(power, edgeThreshold(power), static_cast<int>(route.size()));
    if (nodes.empty()) {
      ++flatFailed;
      continue;
    }
    u->pels.resize(nodes.size());
    for (size_t t = 0; t < nodes.size(); ++t) u->pels[t] = chain.node(route[static_cast<size_t>(nodes[t])]).pel;
  }
  std::printf("flat start: %zu training utterances, %d left out (no chain, or fewer speech frames than states), %.1f s\n",
              train.size(), flatFailed, seconds(start));
  // Templates from no frames at all would be zeros; never write those over working models.
  if (static_cast<size_t>(flatFailed) == train.size()) {
    std::fprintf(stderr, "train: no training utterance can be used (unreadable recordings, words without "
                         "pronunciations, or too little speech); nothing written\n");
    return 1;
  }

  auto user = std::make_unique<User>();
  auto best = std::make_unique<User>();
  user->vtln = kNeutralWarpBin;
  EstimateReport report;
  // Re-estimation and forced alignment until the average frame cost stops improving; leaves the
  // best templates in user.
  auto trainLoop = [&](const char* stage) {
    Convergence conv(gain, iterations);
    double bestCost = 0;
    StateFrames perState = collect(train, balance);
    for (int it = 0;; ++it) {
      estimateModels(perState, minFrames, estimator, *user, &report, shrink);
      const AlignStats st = alignAll(train, *user, true);
      std::printf("%s iteration %d: average frame cost %.3f over %ld frames (%d aligned, %d not), %.1f s\n", stage,
                  it + 1, st.average(), st.frames, st.aligned, st.failed, seconds(start));
      if (it == 0 || st.average() < bestCost) {
        bestCost = st.average();
        std::memcpy(best->models, user->models, sizeof user->models);
      }
      if (!conv.next(st.average())) break;
      perState = collect(train, balance);
    }
    std::printf("%s stopped after %d alignments: %s (relative gain below %.4f or %d iterations)\n", stage,
                conv.iterations(), conv.reason(), gain, iterations);
    // Final templates from the last alignment (the best set when the last step made it worse).
    if (std::strcmp(conv.reason(), "worse") != 0) {
      perState = collect(train, balance);
      estimateModels(perState, minFrames, estimator, *user, &report, shrink);
      const AlignStats st = alignAll(train, *user, false);
      std::printf("%s final re-estimate: average frame cost %.3f\n", stage, st.average());
      if (st.average() < bestCost) std::memcpy(best->models, user->models, sizeof user->models);
    }
    std::memcpy(user->models, best->models, sizeof user->models);
    user->initGenericModels();
  };
  trainLoop("neutral warp:");

  if (vtlnTrain) {
    // Speaker-normalised training: every training voice is heard through the filter bank of the
    // warp bin it fits best (as calibration gives each speaker), then the loop runs again on the
    // alignments the current templates give at those warps.
    std::printf("warp bins of the training voices:");
    for (auto& [voice, list] : byVoice) {
      if (list[0]->role != "train" || list[0]->warp != kNeutralWarpBin) continue;
      const WarpFit fit = bestWarp(list, *user);
      std::printf(" %s %d", voice.c_str(), fit.warp);
      for (Utt* u : list) u->warp = fit.warp;
    }
    std::printf("\n");
    computeFrames(train);
    normaliseVoices(train);
    alignAll(train, *user, true);
    trainLoop("speaker warps:");
  }
  printEstimate(report, used);

  if (!rivalsPath.empty() && rivalPasses > 0) {
    // Corrective training: the rivals of each training utterance (its copies at other warp bins
    // share its recording, so they share its rivals too).
    std::multimap<std::string, Utt> rivals;
    if (!readRivals(rivalsPath, corpus, &rivals)) return 1;
    std::vector<std::unique_ptr<AlignChain>> chains;
    std::vector<RivalPair> pairs;
    for (Utt* u : train) {
      auto range = rivals.equal_range(u->path);
      if (range.first == range.second) continue;
      auto right = std::make_unique<AlignChain>();
      if (!buildChain(*u, *right)) continue;
      for (auto it = range.first; it != range.second; ++it) {
        auto rival = std::make_unique<AlignChain>();
        if (!buildChain(it->second, *rival)) continue;
        pairs.push_back({u->frames.data(), static_cast<int>(u->frames.size()), right.get(), rival.get()});
        chains.push_back(std::move(rival));
      }
      chains.push_back(std::move(right));
    }
    std::vector<char> own(kPelCount, 0);
    for (int s = kPelsPerGroup; s < kPelCount; ++s) own[static_cast<size_t>(s)] = report.source[s] == Source::eOwn;
    std::printf("corrective training: %zu rival lines, %zu pairs with the training utterances\n", rivals.size(),
                pairs.size());
    for (int p = 0; p < rivalPasses; ++p) {
      const RivalPassReport r = rivalPass(pairs, own, rivalOptions, *user);
      const AlignStats tr = alignAll(train, *user, false);
      const AlignStats te = alignAll(test, *user, false);
      std::printf("  pass %d: %ld pairs, %ld with the rival cheaper, mean weight %.3f, %ld template features "
                  "moved; forced alignment training %.3f, held out %.3f, %.1f s\n",
                  p + 1, r.pairs, r.lost, r.pairs ? r.weight / static_cast<double>(r.pairs) : 0.0, r.moved,
                  tr.average(), te.average(), seconds(start));
    }
  }

  // Median against mean on the same final alignment.
  {
    StateFrames perState = collect(train, balance);
    auto other = std::make_unique<User>();
    const Estimator alt = estimator == Estimator::eMedian ? Estimator::eMean : Estimator::eMedian;
    estimateModels(perState, minFrames, alt, *other, nullptr, shrink);
    const AlignStats a = alignAll(train, *user, false);
    const AlignStats b = alignAll(train, *other, false);
    const AlignStats ta = alignAll(test, *user, false);
    const AlignStats tb = alignAll(test, *other, false);
    const char* names[2] = {"median", "mean"};
    const int mine = estimator == Estimator::eMedian ? 0 : 1;
    std::printf("estimators on the final alignment: %s%s %.3f (held out %.3f), %s %.3f (held out %.3f)\n",
                names[mine], rivalsPath.empty() ? "" : " after corrective training", a.average(), ta.average(),
                names[1 - mine], b.average(), tb.average());
  }

  // Held-out voices: their own normaliser (as calibration would give them) and the stored one.
  {
    const AlignStats tr = alignAll(train, *user, false);
    const AlignStats trWrong = alignWrong(train, *user);
    const AlignStats te = alignAll(test, *user, false);
    const AlignStats teWrong = alignWrong(test, *user);
    std::printf("forced alignment, average frame cost: training voices %.3f (wrong transcript %.3f); "
                "held-out voices %.3f (wrong transcript %.3f)\n",
                tr.average(), trWrong.average(), te.average(), teWrong.average());
    for (auto& [voice, list] : byVoice) {
      const AlignStats v = alignAll(list, *user, false);
      const AlignStats w = alignWrong(list, *user);
      // The same voice with the stored normaliser instead of its own.
      std::vector<Utt> copies;
      std::vector<Utt*> ptrs;
      copies.reserve(list.size());
      int32_t back[kStaticFeatures];
      for (int i = 0; i < kStaticFeatures; ++i)
        back[i] = storedNormaliser[i] - (kInitialNormaliser[i] + voiceShift[voice][static_cast<size_t>(i)]);
      for (Utt* u : list) {
        copies.push_back(*u);
        applyShift(copies.back().frames, back);
      }
      for (Utt& c : copies) ptrs.push_back(&c);
      const AlignStats s = alignAll(ptrs, *user, false);
      if (list[0]->warp == kNeutralWarpBin)
        std::printf("  %-24s %-5s own normaliser %.3f (wrong %.3f), stored normaliser %.3f, %d not aligned\n",
                    voice.c_str(), list[0]->role.c_str(), v.average(), w.average(), s.average(), v.failed);
      else
        std::printf("  %-24s %-5s at warp %d, own normaliser %.3f (wrong %.3f), %d not aligned\n", voice.c_str(),
                    list[0]->role.c_str(), list[0]->warp, v.average(), w.average(), v.failed);
    }
  }

  // The warp bin each recorded voice fits best, as calibration would choose it for a speaker:
  // the held-out voices (every voice with --warp-search).
  {
    std::printf("warp search (average frame cost, own normaliser, per warp bin):\n");
    for (auto& [voice, list] : byVoice) {
      if (list[0]->role == "train" && !warpSearchAll) continue;
      if (list[0]->voice.find('@') != std::string::npos) continue;
      const WarpFit fit = bestWarp(list, *user);
      std::printf("  %-24s %-5s best %d (%.3f; at %d %.3f; frames at %d):%s\n", voice.c_str(), list[0]->role.c_str(),
                  fit.warp, fit.cost, kNeutralWarpBin, fit.neutral, list[0]->warp, fit.line.c_str());
    }
  }

  if (write) {
    // The warp bin a speaker who has not enrolled is heard with (enrollment sets the speaker's
    // own); the templates themselves are trained at the neutral bin.
    user->vtln = storedWarp;
    int16_t* store = user->models[kChannelStoreState];
    std::memset(store, 0, sizeof(int16_t) * kFrameFeatures);
    for (int i = 0; i < kStaticFeatures; ++i) store[i] = static_cast<int16_t>(storedNormaliser[i]);
    store[kStoreDcOffset] = 1;
    store[kStoreNoiseFloor] = static_cast<int16_t>(floorSum / static_cast<double>(levelCount) * 9 / 10);
    store[kStoreSpeechPeak] = static_cast<int16_t>(peakSum / static_cast<double>(levelCount) * 9 / 10);
    user->initGenericModels();
    // Both models are written to temporary files first and replaced together: a failure leaves
    // the old pair, never a new newuser beside an old delta.
    SafeFileSet models;
    SafeFile* newuserFile = models.add(newuserPath.c_str());
    SafeFile* deltaFile = newuserFile ? models.add(deltaPath.c_str()) : nullptr;
    if (deltaFile) {
      if (!user->writeFd(newuserFile->handle())) newuserFile->noteWriteFailure(errno);
      if (!user->writeFd(deltaFile->handle())) deltaFile->noteWriteFailure(errno);
    }
    if (!deltaFile || !models.commit()) {
      std::fprintf(stderr, "train: %s (%s and %s kept as they were)\n", models.reason(), newuserPath.c_str(),
                   deltaPath.c_str());
      return 1;
    }
    std::printf("wrote %s and %s (stored normaliser %d %d %d %d ..., floor %d, peak %d)\n", newuserPath.c_str(),
                deltaPath.c_str(), storedNormaliser[0], storedNormaliser[1], storedNormaliser[2], storedNormaliser[3],
                store[kStoreNoiseFloor], store[kStoreSpeechPeak]);
  }
  std::printf("total %.1f s\n", seconds(start));
  return 0;
}
