// The model trainer's estimation steps: templates, fallback for unseen contexts, flat start,
// normaliser shift and the stop rule of the re-alignment loop; the program's refusal to write
// models from nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "models/alignchain.h"
#include "models/user.h"
#include "testpaths.h"
#include "tools/train/trainer.h"

using namespace vlm;
using namespace vlm::train;

namespace {

Frame frameOf(int value, int32_t power = 0) {
  Frame f{};
  f.power = power;
  for (int k = 0; k < kFrameFeatures; ++k) f.features[k] = static_cast<int16_t>(value + k);
  return f;
}

std::vector<const Frame*> ptrs(const std::vector<Frame>& frames) {
  std::vector<const Frame*> out;
  for (const Frame& f : frames) out.push_back(&f);
  return out;
}

int firstState(char phone, int role = 0) { return kPhoneFirstPel[static_cast<unsigned char>(phone)] + 13 * role; }

// Frames aligned to pel states, as the trainer collects them: count frames of one value per call.
struct AlignedFrames {
  StateFrames perState = StateFrames(kPelCount);
  std::deque<Frame> store;   // a deque keeps the frames where they are as it grows
  void add(int state, int value, int count) {
    for (int i = 0; i < count; ++i) {
      store.push_back(frameOf(value));
      perState[static_cast<size_t>(state)].push_back(&store.back());
    }
  }
};

}  // namespace

TEST(TrainTemplate, MedianIgnoresAnOutlierThatMovesTheMean) {
  struct Case {
    std::vector<int> values;
    int median, mean;
  };
  const Case cases[] = {
      {{10, 12, 11}, 11, 11},
      {{10, 12, 11, 1000}, 12, 258},   // even count: mean of the two middle values, 11.5 -> 12
      {{-105, -106}, -106, -106},      // -105.5 rounds away from zero
      {{7}, 7, 7},
  };
  for (const Case& c : cases) {
    std::vector<Frame> frames;
    for (int v : c.values) frames.push_back(frameOf(v));
    int16_t median[kFrameFeatures], mean[kFrameFeatures];
    ASSERT_EQ(templateOf(ptrs(frames), Estimator::eMedian, median), 1);
    ASSERT_EQ(templateOf(ptrs(frames), Estimator::eMean, mean), 1);
    for (int k = 0; k < kFrameFeatures; ++k) {
      EXPECT_EQ(median[k], c.median + k) << "feature " << k;
      EXPECT_EQ(mean[k], c.mean + k) << "feature " << k;
    }
  }
  int16_t empty[kFrameFeatures];
  std::memset(empty, 0x55, sizeof empty);
  EXPECT_EQ(templateOf({}, Estimator::eMedian, empty), 0);
  for (int16_t v : empty) EXPECT_EQ(v, 0);
}

TEST(TrainEstimate, FallsBackToGroupThenRelatedPhoneThenAllSpeech) {
  const int s = firstState('s');          // "s" after silence: plenty of frames
  const int sSparse = s + 4;              // "s" after class 4: one frame, below the minimum
  const int kFirst = firstState('k');     // "k": its own frames; "K" has none and borrows them
  const int v = firstState('v', 1);       // last state of "v"
  AlignedFrames aligned;
  auto add = [&](int state, int value, int count) { aligned.add(state, value, count); };
  const StateFrames& perState = aligned.perState;
  add(0, -500, 5);            // silence
  add(s, 100, 5);
  add(sSparse, 900, 1);
  add(kFirst + 2, 300, 5);
  add(v, 700, 4);
  auto user = std::make_unique<User>();
  std::memset(user->models[kChannelStoreState], 0x11, sizeof user->models[0]);
  EstimateReport r;
  estimateModels(perState, 3, Estimator::eMedian, *user, &r);

  EXPECT_EQ(r.source[s], Source::eOwn);
  EXPECT_EQ(user->models[s][0], 100);
  // The sparse context takes the group's pooled median (5 x 100 and 1 x 900 -> 100), not its own.
  EXPECT_EQ(r.source[sSparse], Source::eGroup);
  EXPECT_EQ(user->models[sSparse][0], 100);
  EXPECT_EQ(r.source[s + 12], Source::eGroup);
  // "K" has no frames: the same context of "k" stands in for it.
  const int bigK = firstState('K');
  ASSERT_EQ(relatedGroup(bigK / 13), kFirst / 13);
  EXPECT_EQ(r.source[bigK + 2], Source::eRelated);
  EXPECT_EQ(user->models[bigK + 2][0], 300);
  // A group with neither frames nor a related phone with frames: all speech frames.
  const int h = firstState('h');
  EXPECT_EQ(r.source[h], Source::eSpeech);
  // Silence states copy pel 0; the settings templates stay as they were.
  EXPECT_EQ(user->models[5][0], -500);
  EXPECT_EQ(r.source[kChannelStoreState], Source::eSettings);
  EXPECT_EQ(user->models[kChannelStoreState][3], 0x1111);
  EXPECT_EQ(r.framesPerState[static_cast<size_t>(v)], 4);
  EXPECT_EQ(r.own + r.group + r.related + r.speech, kPelCount - 13);
}

// Shrinking draws a context's template towards its group's by the frame counts: a context heard
// often barely moves, a rare one lands near the group; the group template itself is the pooled
// mean of all its contexts.
TEST(TrainEstimate, ShrinkDrawsContextsTowardsTheirGroupByFrameCount) {
  const int often = firstState('s');   // 30 frames at 100
  const int rare = often + 3;          // 6 frames at 400
  AlignedFrames aligned;
  auto add = [&](int state, int value, int count) { aligned.add(state, value, count); };
  const StateFrames& perState = aligned.perState;
  add(0, -500, 5);
  add(often, 100, 30);
  add(rare, 400, 6);
  // Group mean: (30 x 100 + 6 x 400) / 36 = 150 (feature 0).
  struct Case {
    int shrink, often, rare;
  };
  const Case cases[] = {
      {0, 100, 400},     // off: each context its own mean
      {6, 108, 275},     // (30 x 100 + 6 x 150) / 36 = 108.3; (6 x 400 + 6 x 150) / 12 = 275
      {1000000, 150, 150},
  };
  for (const Case& c : cases) {
    auto user = std::make_unique<User>();
    EstimateReport r;
    estimateModels(perState, 3, Estimator::eMean, *user, &r, c.shrink);
    EXPECT_EQ(user->models[often][0], c.often) << "shrink " << c.shrink;
    EXPECT_EQ(user->models[rare][0], c.rare) << "shrink " << c.shrink;
    EXPECT_EQ(user->models[rare][5], c.rare + 5) << "shrink " << c.shrink;   // every feature alike
    EXPECT_EQ(r.source[rare], Source::eOwn);
    // A context with too few frames still takes the group's template whatever the shrink.
    EXPECT_EQ(user->models[often + 7][0], 150) << "shrink " << c.shrink;
  }
}

namespace {

// Frames lying halfway between the templates of two chains of the same length, four per node.
std::vector<Frame> halfway(const User& user, const AlignChain& a, const AlignChain& b) {
  std::vector<Frame> frames;
  for (int i = 0; i < a.nodeCount(); ++i) {
    Frame fa, fb;
    user.templateFrame(a.node(i).pel, &fa);
    user.templateFrame(b.node(i).pel, &fb);
    for (int k = 0; k < kFrameFeatures; ++k)
      fa.features[k] = static_cast<int16_t>((fa.features[k] + fb.features[k]) / 2);
    for (int r = 0; r < 4; ++r) frames.push_back(fa);
  }
  return frames;
}

long cost(AlignChain& chain, const std::vector<Frame>& frames, const User& user) {
  std::vector<short> pels(frames.size());
  return chain.viterbi(frames.data(), static_cast<int>(frames.size()), &user, pels.data());
}

}  // namespace

TEST(TrainRivals, DrawsTheRightTemplatesNearerAndPushesTheRivalsAway) {
  auto user = std::make_unique<User>();
  user->makeSeparated();
  const char* bee[] = {"bE"};
  const char* dee[] = {"dE"};
  AlignChain right, rival;
  ASSERT_EQ(right.build(bee, 1), 1);
  ASSERT_EQ(rival.build(dee, 1), 1);
  ASSERT_EQ(right.nodeCount(), rival.nodeCount());
  const std::vector<Frame> frames = halfway(*user, right, rival);
  const std::vector<RivalPair> pairs{{frames.data(), static_cast<int>(frames.size()), &right, &rival}};
  std::vector<char> own(kPelCount, 1);
  for (int s = 0; s < kPelsPerGroup; ++s) own[static_cast<size_t>(s)] = 0;

  // A near tie weighs fully: the right alignment becomes cheaper and the rival's dearer.
  const long right0 = cost(right, frames, *user), rival0 = cost(rival, frames, *user);
  ASSERT_GT(right0, 0);
  EXPECT_LE(std::labs(right0 - rival0), 5);
  const int16_t silence0 = user->models[0][5];
  const int b = right.node(1).pel, d = rival.node(1).pel;
  ASSERT_NE(b, d);
  const int16_t bLevel = user->models[b][0];
  RivalPassReport r = rivalPass(pairs, own, RivalOptions{}, *user);
  EXPECT_EQ(r.pairs, 1);
  EXPECT_GT(r.weight, 0.99);
  EXPECT_GT(r.moved, 0);
  const long right1 = cost(right, frames, *user), rival1 = cost(rival, frames, *user);
  EXPECT_LT(right1, right0);
  EXPECT_GT(rival1, rival0);
  EXPECT_EQ(user->models[0][5], silence0);    // silence never moves
  EXPECT_EQ(user->models[b][0], bLevel);      // nor does feature 0

  // Templates not made from their own frames stay as they are: here the rival's.
  std::vector<int16_t> dBefore(user->models[d], user->models[d] + kFrameFeatures);
  own[static_cast<size_t>(d)] = 0;
  rivalPass(pairs, own, RivalOptions{}, *user);
  EXPECT_EQ(std::vector<int16_t>(user->models[d], user->models[d] + kFrameFeatures), dBefore);

  // A pair won by far teaches nothing.
  auto far = std::make_unique<User>();
  far->makeSeparated();
  std::vector<Frame> clean;
  for (int i = 0; i < right.nodeCount(); ++i) {
    Frame f;
    far->templateFrame(right.node(i).pel, &f);
    for (int k = 0; k < 4; ++k) clean.push_back(f);
  }
  std::fill(own.begin() + kPelsPerGroup, own.end(), 1);
  r = rivalPass({{clean.data(), static_cast<int>(clean.size()), &right, &rival}}, own, RivalOptions{}, *far);
  EXPECT_EQ(r.pairs, 1);
  EXPECT_LT(r.weight, 1e-3);
  EXPECT_EQ(r.moved, 0);
}

TEST(TrainFlatStart, SplitsSpeechEvenlyAndKeepsSilenceAtTheEnds) {
  //                               0  1  2    3    4    5    6    7  8
  const std::vector<int32_t> power{5, 6, 900, 950, 990, 1000, 980, 7, 5};
  const int32_t threshold = speechThreshold(power);
  EXPECT_EQ(threshold, (6 * 1000 + 5) >> 3);
  // Route: silence, three inner nodes, silence. Speech frames 2..6 (above 750).
  const std::vector<int> nodes = flatStart(power, threshold, 5);
  EXPECT_EQ(nodes, (std::vector<int>{0, 0, 1, 1, 2, 2, 3, 4, 4}));
  // As many inner nodes as speech frames: one frame each; one more: no segmentation.
  EXPECT_EQ(flatStart(power, threshold, 7), (std::vector<int>{0, 0, 1, 2, 3, 4, 5, 6, 6}));
  EXPECT_TRUE(flatStart(power, threshold, 8).empty());
  // Speech up to the last frame still leaves one frame for the trailing silence.
  const std::vector<int> edge = flatStart({900, 900, 900}, 0, 3);
  EXPECT_EQ(edge, (std::vector<int>{0, 1, 2}));
}

TEST(TrainFlatStart, WeakFinalConsonantStaysWithTheSpeech) {
  // Noise, a loud vowel, then a weak fricative a quarter of the vowel's power ("off").
  //                               0    1    2     3     4     5     6     7    8    9
  const std::vector<int32_t> power{290, 300, 4500, 5000, 4800, 1400, 1300, 1250, 300, 280};
  // The endpointer's threshold cuts the fricative off; the edge threshold keeps it.
  EXPECT_EQ(speechThreshold(power), (6 * 5000 + 280) >> 3);
  EXPECT_EQ(edgeThreshold(power), 280 + ((5000 - 280) >> 3));
  const std::vector<int> nodes = flatStart(power, edgeThreshold(power), 5);
  EXPECT_EQ(nodes, (std::vector<int>{0, 0, 1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(flatStart(power, speechThreshold(power), 5), (std::vector<int>{0, 0, 1, 2, 3, 4, 4, 4, 4, 4}));
  EXPECT_EQ(edgeThreshold({}), 0);
}

TEST(TrainFlatStart, DirectRouteSkipsTheSilenceBranchBetweenWords) {
  AlignChain chain;
  const char* prons[] = {"tU", "wun"};
  ASSERT_EQ(chain.build(prons, 2), 1);
  std::vector<ChainNodeView> view;
  for (int i = 0; i < chain.nodeCount(); ++i) {
    const AdaptWordNode& n = chain.node(i);
    view.push_back({n.pel, n.successorCount, {n.successors[0], n.successors[1]}});
  }
  const std::vector<int> route = directRoute(view);
  ASSERT_FALSE(route.empty());
  EXPECT_EQ(route.front(), 0);
  EXPECT_EQ(route.back(), chain.nodeCount() - 1);
  // No silence node between the words on the direct route.
  for (size_t i = 1; i + 1 < route.size(); ++i) EXPECT_NE(chain.node(route[i]).pel, 0) << i;
  EXPECT_EQ(chain.node(route[0]).pel, 0);
  // The route's length is the chain's shortest path.
  EXPECT_EQ(static_cast<int>(route.size()), chain.minimumFrames());
  // The first inner state is "t" after silence; the one after "t" is "U" in the left context of t.
  EXPECT_EQ(chain.node(route[1]).pel, firstState('t'));
}

TEST(TrainNormaliser, ShiftBringsTheSpeechMeanToTheTargets) {
  std::vector<std::vector<Frame>> utts(2);
  // Silence frames (low power) must not count.
  for (auto& u : utts) {
    u.push_back(frameOf(-900, 10));
    u.push_back(frameOf(150, 1000));
    u.push_back(frameOf(160, 1000));
    u.push_back(frameOf(-900, 12));
  }
  int32_t shift[kStaticFeatures];
  EXPECT_EQ(normaliserShift(utts, shift), 4);
  EXPECT_EQ(shift[0], 180 - 155);
  for (int i = 1; i < kStaticFeatures; ++i) EXPECT_EQ(shift[i], 128 - (155 + i)) << i;
  applyShift(utts[0], shift);
  EXPECT_EQ(utts[0][1].features[0], 175);
  EXPECT_EQ(utts[0][1].features[20], 150 + 20);   // deltas are not shifted
}

TEST(TrainConvergence, StopsOnSmallGainOnWorseOrAtTheLimit) {
  struct Case {
    std::vector<double> costs;
    int iterations;
    const char* reason;
  };
  const Case cases[] = {
      {{40, 36, 35, 34.99}, 4, "converged"},   // 0.01 / 35 is below 0.1 %
      {{40, 36, 37, 30}, 3, "worse"},
      {{40, 30, 20, 10, 5}, 4, "limit"},
  };
  for (const Case& c : cases) {
    Convergence conv(0.001, 4);
    int run = 0;
    for (double cost : c.costs) {
      ++run;
      if (!conv.next(cost)) break;
    }
    EXPECT_EQ(run, c.iterations);
    EXPECT_EQ(conv.iterations(), c.iterations);
    EXPECT_STREQ(conv.reason(), c.reason);
  }
}

// The program: a corpus none of whose training utterances can be used (here its one recording
// is missing) is an error, and the model files already there stay as they were.
TEST(TrainProgram, WritesNothingWhenNoTrainingUtteranceCanBeUsed) {
  namespace fs = std::filesystem;
  const std::string tool = vlmtest::binDir() + "/train";
  ASSERT_TRUE(fs::exists(tool)) << tool << " is not built";
  const fs::path dir = fs::absolute("train_scratch_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "manifest.tsv") << "v\ttrain\twav/v/missing.wav\thello\thel8\n";
  std::ofstream(dir / "newuser.usr") << "the models in use\n";
  const std::string log = (dir / "out.txt").string();
  const std::string cmd = "\"" + tool + "\" --corpus \"" + dir.string() + "\" --newuser \"" +
                          (dir / "newuser.usr").string() + "\" --delta \"" + (dir / "delta.usr").string() +
                          "\" > \"" + log + "\" 2>&1";
  const int rc = std::system(cmd.c_str());
  std::ifstream in(log);
  const std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << out;
  EXPECT_NE(out.find("nothing written"), std::string::npos) << out;
  std::ifstream kept(dir / "newuser.usr");
  std::string line;
  std::getline(kept, line);
  EXPECT_EQ(line, "the models in use");
  EXPECT_FALSE(fs::exists(dir / "delta.usr"));
  fs::remove_all(dir);
}

// Bad options are refused before anything is read or written.
TEST(TrainProgram, RefusesBadOptions) {
  const std::string tool = vlmtest::binDir() + "/train";
  ASSERT_TRUE(std::filesystem::exists(tool)) << tool << " is not built";
  for (const char* args : {"--stored-warp 0", "--stored-warp 128", "--warps 58,0", "--estimator mode",
                           "--iterations 0", "--bogus", "--gain nan", "--gain inf", "--gain 1x", "--gain -1",
                           "--rival-width 0", "--rival-step nan", "--rival-passes -1", "--shrink -1", "--shrink x"}) {
    const std::string cmd = "\"" + tool + "\" " + args + " --corpus /nonexistent > /dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 2) << args;
  }
}
