// Adaptation: the alignment chain (its branches and order), forced alignment, the posterior
// classes, recording into the accumulators, full and incremental updates and the spreading to
// unseen contexts, on utterances made from a separated speaker's templates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/utterance.h"
#include "foundation/filepath.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "models/adapt.h"
#include "models/alignchain.h"
#include "models/user.h"
#include "usrguard.h"
#include "search/wordtree.h"

namespace {

using namespace vlm;

int firstPel(char p, int leftClass) { return phoneBasePel(p) + leftClass; }
int lastPel(char p, int rightClass) { return phoneBasePel(p) + 13 + rightClass; }
int middlePel(char p, int rightClass) { return phoneBasePel(p) + 26 + rightClass; }

using modelstest::UsrGuard;

// A separated speaker: every state's template far from every other's.
std::unique_ptr<User> separatedUser() {
  auto u = std::make_unique<User>();
  u->makeSeparated();
  return u;
}

std::vector<Frame> chainFrames(const User& u, const std::vector<short>& pels, const std::vector<int>& repeats) {
  int total = 0;
  for (int r : repeats) total += r;
  std::vector<Frame> frames(total);
  const int n = u.makeChainFrames(pels.data(), repeats.data(), static_cast<int>(pels.size()),
                                  frames.data(), total);
  EXPECT_EQ(n, total);
  return frames;
}

// Words "sE" then "t": a three-state last phone before the boundary and a one-phone last word.
TEST(AlignChain, BothInterWordBranchesInOrder) {
  const char* prons[] = {"sE", "t"};
  AlignChain chain;
  ASSERT_EQ(chain.build(prons, 2), 1);
  const int expectedPels[] = {
      0,                                      // 0 leading silence
      firstPel('s', 0),                       // 1
      lastPel('s', phoneRightClass('E')),     // 2
      firstPel('E', phoneLeftClass('s')),     // 3 shared first state of the last phone
      middlePel('E', phoneRightClass('t')),   // 4 direct branch
      lastPel('E', phoneRightClass('t')),     // 5
      middlePel('E', 0),                      // 6 silence branch
      lastPel('E', 0),                        // 7
      0,                                      // 8 inter-word silence
      firstPel('t', phoneLeftClass('E')),     // 9 next word after the direct branch
      firstPel('t', 0),                       // 10 next word after the silence
      lastPel('t', 0),                        // 11 last word: class 0 only
      0,                                      // 12 trailing silence
  };
  ASSERT_EQ(chain.nodeCount(), 13);
  for (int i = 0; i < 13; i++) EXPECT_EQ(chain.node(i).pel, expectedPels[i]) << "node " << i;
  const std::vector<std::pair<int, int>> edges = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {3, 6},
                                                  {4, 5}, {6, 7}, {7, 8}, {5, 9}, {8, 10},
                                                  {9, 11}, {10, 11}, {11, 12}};
  int succTotal = 0;
  for (int i = 0; i < chain.nodeCount(); i++) {
    const AdaptWordNode& n = chain.node(i);
    succTotal += n.successorCount;
    for (int k = 0; k < n.successorCount; k++) {
      EXPECT_GT(n.successors[k], i) << "successors come after their node";
      bool listed = false;
      for (auto& e : edges) listed |= e.first == i && e.second == n.successors[k];
      EXPECT_TRUE(listed) << i << " -> " << n.successors[k];
    }
    for (int k = 0; k < n.predecessorCount; k++) EXPECT_LT(n.predecessors[k], i);
  }
  EXPECT_EQ(succTotal, static_cast<int>(edges.size()));
  EXPECT_EQ(chain.minimumFrames(), 9);  // 0 1 2 3 4 5 9 11 12
}

TEST(AlignChain, BadPronunciationsAreRefused) {
  AlignChain chain;
  const char* empty[] = {""};
  const char* edgeSilence[] = {".sE"};
  const char* notPhones[] = {"s#E"};
  EXPECT_EQ(chain.build(empty, 1), 0);
  EXPECT_EQ(chain.build(edgeSilence, 1), 0);
  EXPECT_EQ(chain.build(notPhones, 1), 0);
  EXPECT_EQ(chain.build(nullptr, 0), 0);
  EXPECT_EQ(chain.nodeCount(), 0);
  // A silence inside a compound word is one silence node.
  const char* compound[] = {"s.t"};
  ASSERT_EQ(chain.build(compound, 1), 1);
  EXPECT_EQ(chain.nodeCount(), 7);   // sil, s first, s last, sil, t first, t last, sil
  EXPECT_EQ(chain.node(2).pel, lastPel('s', 0));
  EXPECT_EQ(chain.node(3).pel, 0);
  EXPECT_EQ(chain.node(4).pel, firstPel('t', 0));
  // A one-phone word between two others: its first state twice, its end states once per branch.
  const char* three[] = {"sE", "t", "ki"};
  ASSERT_EQ(chain.build(three, 3), 1);
  EXPECT_EQ(chain.nodeCount(), 20);
  EXPECT_EQ(chain.minimumFrames(), 13);
  EXPECT_EQ(chain.node(chain.nodeCount() - 1).pel, 0);
}

// Frames made from the templates along either inter-word branch are aligned back to exactly
// that path; the forward-backward classes put each frame's own node at class 0 and every other
// node at 16 or more.
TEST(AlignChain, ViterbiAndClassesRecoverTheChainUsed) {
  UsrGuard guard;
  auto u = separatedUser();
  const char* prons[] = {"sE", "t"};
  AlignChain chain;
  ASSERT_EQ(chain.build(prons, 2), 1);
  struct Case {
    std::vector<int> nodes;
    std::vector<int> repeats;
  };
  const Case cases[] = {
      {{0, 1, 2, 3, 4, 5, 9, 11, 12}, {3, 2, 4, 5, 3, 2, 4, 3, 5}},
      {{0, 1, 2, 3, 6, 7, 8, 10, 11, 12}, {2, 3, 3, 2, 2, 4, 6, 2, 3, 2}},
  };
  for (const Case& c : cases) {
    std::vector<short> pels;
    std::vector<int> truth;
    for (size_t i = 0; i < c.nodes.size(); i++) {
      pels.push_back(chain.node(c.nodes[i]).pel);
      for (int r = 0; r < c.repeats[i]; r++) truth.push_back(c.nodes[i]);
    }
    std::vector<Frame> frames = chainFrames(*u, pels, c.repeats);
    const int n = static_cast<int>(frames.size());
    std::vector<short> got(n);
    std::vector<int> nodeOf(n);
    const long cost = chain.viterbi(frames.data(), n, u.get(), got.data(), nodeOf.data());
    ASSERT_GE(cost, 0);
    EXPECT_EQ(cost, n);  // every frame on its own template costs (0 + 24) >> 4 = 1
    EXPECT_EQ(nodeOf, truth);

    ASSERT_EQ(chain.forwardBackward(frames.data(), n, u.get()), 1);
    for (int t = 1; t <= n - 2; t++)
      for (int i = 0; i < chain.nodeCount(); i++) {
        if (i == truth[t]) EXPECT_EQ(chain.frameClass(i, t), 0) << "frame " << t;
        else EXPECT_GE(chain.frameClass(i, t), kFrameClassCut) << "frame " << t << " node " << i;
      }
  }
  // Too few frames for the chain: no alignment at all.
  std::vector<Frame> shortFrames(8);
  for (auto& f : shortFrames) u->templateFrame(0, &f);
  std::vector<short> pels(8);
  EXPECT_EQ(chain.viterbi(shortFrames.data(), 8, u.get(), pels.data()), -1);
  EXPECT_EQ(chain.forwardBackward(shortFrames.data(), 8, u.get()), 0);
}

// ---- Accumulators and updates ---------------------------------------------------------------

Frame offsetFrame(const User& u, short state, int feature, int offset) {
  Frame f;
  u.templateFrame(state, &f);
  f.features[feature] = static_cast<int16_t>(f.features[feature] + offset);
  return f;
}

TEST(Adapt, TablesHoldTheirValues) {
  EXPECT_DOUBLE_EQ(kFrameWeights[0], 1.0);
  EXPECT_DOUBLE_EQ(kFrameWeights[15], 0.153355);
  EXPECT_DOUBLE_EQ(kLogAddTable[0], 5.545177);
  EXPECT_DOUBLE_EQ(kLogAddTable[39], 0.060849);
  EXPECT_EQ(logAddTerm(40), 0.0);
  for (int k = 0; k < kFrameWeightCount; k++) EXPECT_NEAR(kFrameWeights[k], std::exp(-k / 8.0), 5e-7);
  for (int k = 0; k < kLogAddCount; k++)
    EXPECT_NEAR(kLogAddTable[k], 8 * std::log(1 + std::exp(-k / 8.0)), 5e-7);
}

// One frame, +10 in feature 3, recorded with the weight of its class; a full update moves the
// template by nearest(10 w / (2 + w) * 0.6). Class 16 is not recorded at all.
TEST(Adapt, FullUpdateMovesByTheWeightedMean) {
  UsrGuard guard;
  struct Case {
    int cls;
    int move;
  };
  const Case cases[] = {{0, 2}, {8, 1}, {15, 0}, {16, 0}};
  for (const Case& c : cases) {
    auto u = separatedUser();
    const short state = 300;
    const int16_t before3 = u->models[state][3];
    const int16_t before4 = u->models[state][4];
    Frame f = offsetFrame(*u, state, 3, 10);
    AdaptAccumHS accums;
    EXPECT_EQ(accums.recordFrames(1, &f, &c.cls, u.get(), state, nullptr, 0), c.cls < 16 ? 1 : 0);
    AdaptAccum* a = accums.findAccum(state);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->touched, c.cls < 16 ? 1 : -1);
    accums.updateUser(u.get(), 0);
    EXPECT_EQ(u->models[state][3], before3 + c.move) << "class " << c.cls;
    EXPECT_EQ(u->models[state][4], before4);
    if (c.cls == 0) {
      EXPECT_EQ(a->touched, 0);
      EXPECT_DOUBLE_EQ(a->sums[3], 10 * 0.24);
      EXPECT_DOUBLE_EQ(a->weight, 3.0 * 0.6);
    }
  }
}

TEST(Adapt, GroupAccumulatorMovesTheGenericTemplate) {
  UsrGuard guard;
  auto u = separatedUser();
  const short state = 300;
  const int g = state / 13;
  Frame f = offsetFrame(*u, state, 3, 10);
  const int expected = u->genericModels[g][3] +
                       static_cast<int>(std::lround((f.features[3] - u->genericModels[g][3]) / 6.0));
  const int cls = 0;
  AdaptAccumHS accums;
  accums.recordFrames(1, &f, &cls, u.get(), state, nullptr, 0);
  accums.updateUser(u.get(), 0);
  EXPECT_EQ(u->genericModels[g][3], expected);
  EXPECT_EQ(accums.groups[g].sums[3], 0.0);
  EXPECT_DOUBLE_EQ(accums.groups[g].weight, 3.0);   // (5 + 1) / 2
}

// The incremental step is 0.19 of the mean; a step beyond 100 in any feature resets that
// accumulator and ends the pass, leaving later accumulators for the next pass.
TEST(Adapt, IncrementalUpdateResetsAndStops) {
  UsrGuard guard;
  auto u = separatedUser();
  AdaptAccumHS accums;
  const short states[] = {300, 301};
  const int cls = 0;
  for (short s : states) accums.getAccum(s);
  // The first in hash order gets the far frame.
  AdaptAccum* firstAcc = AdaptAccumHS::at(accums.first());
  const short far = firstAcc->pel;
  const short near = far == 300 ? 301 : 300;
  Frame ff = offsetFrame(*u, far, 3, 2000);
  Frame fn = offsetFrame(*u, near, 3, 10);
  accums.recordFrames(1, &ff, &cls, u.get(), far, nullptr, 0);
  accums.recordFrames(1, &fn, &cls, u.get(), near, nullptr, 0);
  const int16_t farBefore = u->models[far][3], nearBefore = u->models[near][3];

  accums.updateUser(u.get(), 1);
  EXPECT_EQ(u->models[far][3], farBefore);
  EXPECT_EQ(u->models[near][3], nearBefore);
  AdaptAccum* a = accums.findAccum(far);
  EXPECT_EQ(a->sums[3], 0.0);
  EXPECT_EQ(a->weight, 2.0);
  EXPECT_EQ(accums.findAccum(near)->touched, 1);

  accums.updateUser(u.get(), 1);  // the next pass applies the rest: nearest(10 / 3 * 0.19) = 1
  EXPECT_EQ(u->models[near][3], nearBefore + 1);
  EXPECT_DOUBLE_EQ(accums.findAccum(near)->sums[3], 10 * 0.83);
  EXPECT_DOUBLE_EQ(accums.findAccum(near)->weight, 3.0 * 0.93);
  EXPECT_EQ(u->models[far][3], farBefore);
}

// A frame closer to the alternative group's template goes to the alternative state.
TEST(Adapt, AlternativeGroupTakesTheCloserFrames) {
  UsrGuard guard;
  auto u = separatedUser();
  const short state = 23 * 13 + 4;   // second group of p; its alternative is group 26
  const short alt = 26 * 13 + 4;
  Frame frames[2];
  u->templateFrame(state, &frames[0]);
  u->templateFrame(alt, &frames[1]);
  const int classes[2] = {0, 0};
  AdaptAccumHS accums;
  EXPECT_EQ(accums.recordFrames(2, frames, classes, u.get(), state, nullptr, 0), 2);
  EXPECT_DOUBLE_EQ(accums.findAccum(state)->weight, 3.0);
  ASSERT_NE(accums.findAccum(alt), nullptr);
  EXPECT_DOUBLE_EQ(accums.findAccum(alt)->weight, 3.0);
  // A single frame always goes to the state itself.
  AdaptAccumHS one;
  one.recordFrames(1, &frames[1], classes, u.get(), state, nullptr, 0);
  EXPECT_DOUBLE_EQ(one.findAccum(state)->weight, 3.0);
  EXPECT_EQ(one.findAccum(alt)->touched, -1);
}

TEST(Adapt, ScatterMatrixIsAccumulatedAndPrinted) {
  UsrGuard guard;
  auto u = separatedUser();
  AdaptAccumHS accums(1);
  ASSERT_NE(accums.scatter, nullptr);
  const short state = 300;
  Frame f = offsetFrame(*u, state, 3, 4);
  f.features[5] = static_cast<int16_t>(f.features[5] - 2);
  const int cls = 0;
  accums.recordFrames(1, &f, &cls, u.get(), state, nullptr, 0);
  EXPECT_DOUBLE_EQ(accums.scatter[3 * 34 + 3], 16.0);
  EXPECT_DOUBLE_EQ(accums.scatter[5 * 34 + 3], -8.0);
  EXPECT_DOUBLE_EQ(accums.scatterWeight, 1.0);
  testing::internal::CaptureStdout();
  accums.updateUser(u.get(), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("\ncv[0]:"), std::string::npos);
  EXPECT_NE(out.find("\ncv[33]:"), std::string::npos);
  EXPECT_DOUBLE_EQ(accums.scatter[3 * 34 + 5], -8.0);   // mirrored
}

// ---- The adapt work over an utterance ---------------------------------------------------------

class AdaptUtterance : public ::testing::Test {
 protected:
  void SetUp() override {
    u = separatedUser();
    sea = dict.addWordIfNew("sea", "sE");
    tea = dict.addWordIfNew("tea", "t");
    ASSERT_GT(sea, 1);
    ASSERT_GT(tea, 1);
    const char* prons[] = {"sE", "t"};
    ASSERT_EQ(chain.build(prons, 2), 1);
  }
  // An utterance of frames along the direct branch of "sea tea".
  std::unique_ptr<Utterance> utterance() {
    const int nodes[] = {0, 1, 2, 3, 4, 5, 9, 11, 12};
    const int repeats[] = {3, 2, 4, 5, 3, 2, 4, 3, 5};
    std::vector<short> pels;
    for (int i : nodes) pels.push_back(chain.node(i).pel);
    std::vector<Frame> frames = chainFrames(*u, pels, std::vector<int>(repeats, repeats + 9));
    auto utt = std::make_unique<Utterance>();
    for (const Frame& f : frames) utt->frames.add(f);
    utt->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    return utt;
  }
  std::string scratch(const char* name) {
    std::string dir = ::testing::TempDir() + "vlm_adapt_" + std::to_string(getpid());
    mkdir(dir.c_str(), 0755);
    return dir + "/" + name;
  }

  UsrGuard guard;
  std::unique_ptr<User> u;
  WordDictionary dict{100};
  int sea = -1, tea = -1;
  AlignChain chain;
};

TEST_F(AdaptUtterance, RecordsEveryInnerFrameOnceAndLogsIt) {
  auto utt = utterance();
  const int n = utt->frameCount();
  FSGNodeTypeItemAC words;
  words.add(eRuleNode, 5);   // rule entries and the path end carry no sound
  words.add(eWordNode, sea);
  words.add(eWordNode, tea);
  words.add(eTerminalNode, 5);
  AdaptAccumHS accums;
  const std::string log = scratch("adapt.log");
  ASSERT_EQ(adaptUtterance(u.get(), &dict, utt.get(), &words, &accums, log.c_str()), 1);
  EXPECT_EQ(User::usr, u.get());
  double recorded = 0;
  for (SLinkBase** c = accums.first(); c; c = accums.next(c))
    recorded += AdaptAccumHS::at(c)->weight - AdaptAccum::kPriorWeight;
  EXPECT_NEAR(recorded, n - 2, 1e-9);   // one frame at weight 1.0 per inner frame
  std::ifstream in(log);
  int index, cls, state, lines = 0, lo = 1 << 30, hi = -1;
  while (in >> index >> cls >> state) {
    lines++;
    lo = std::min(lo, index);
    hi = std::max(hi, index);
    EXPECT_EQ(cls, 0);
  }
  EXPECT_EQ(lines, n - 2);
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, n - 2);
  // The leading silence holds 3 frames, of which only frames 1 and 2 count.
  EXPECT_DOUBLE_EQ(accums.findAccum(0)->weight, 2.0 + 2 + 4);   // + trailing 5 - 1
}

TEST_F(AdaptUtterance, NonWordItemsAndAbortedUtterancesRecordNothing) {
  auto utt = utterance();
  AdaptAccumHS accums;
  FSGNodeTypeItemAC withOov;
  withOov.add(eWordNode, sea);
  withOov.add(eOutOfVocabularyNode, kOutOfVocabularyRule);
  EXPECT_EQ(adaptUtterance(u.get(), &dict, utt.get(), &withOov, &accums, nullptr), 0);
  FSGNodeTypeItemAC unknownWord;
  unknownWord.add(eWordNode, 77);
  EXPECT_EQ(adaptUtterance(u.get(), &dict, utt.get(), &unknownWord, &accums, nullptr), 0);
  EXPECT_EQ(accums.count(), 0u);

  FSGNodeTypeItemAC words;
  words.add(eWordNode, sea);
  words.add(eWordNode, tea);
  utt->flags = Utterance::UTT_STARTED | Utterance::UTT_ABORTED;
  EXPECT_EQ(adaptUtterance(u.get(), &dict, utt.get(), &words, &accums, nullptr), 0);
  EXPECT_EQ(accums.count(), 0u);
}

// Full update after adapting moves the adapted templates toward frames shifted by +30.
TEST_F(AdaptUtterance, RepeatedAdaptationConverges) {
  auto utt = utterance();
  for (int i = 0; i < utt->frameCount(); i++) utt->frames[i].features[12] += 30;
  FSGNodeTypeItemAC words;
  words.add(eWordNode, sea);
  words.add(eWordNode, tea);
  const short s = chain.node(3).pel;
  const int16_t start = u->models[s][12];
  int previous = 30;
  for (int pass = 0; pass < 4; pass++) {
    AdaptAccumHS accums;
    ASSERT_EQ(adaptUtterance(u.get(), &dict, utt.get(), &words, &accums, nullptr), 1);
    accums.updateUser(u.get(), 0);
    const int gap = start + 30 - u->models[s][12];
    EXPECT_LT(gap, previous);
    EXPECT_GE(gap, 0);
    previous = gap;
  }
  EXPECT_LE(previous, 3);
}

TEST_F(AdaptUtterance, CousinsUpdateSpreadsFromDeltaUsr) {
  const std::string dir = scratch("");
  setenv("VELMORA_DIR", dir.c_str(), 1);
  resetVelmoraSearchForTest();
  std::remove((dir + "delta.usr").c_str());

  AdaptAccumHS accums;
  const int g = 40;   // adapt two contexts of group 40 by +6 and +2 in feature 10
  const short a = g * 13 + 2, b = g * 13 + 7;
  const int cls = 0;
  Frame fa = offsetFrame(*u, a, 10, 30), fb = offsetFrame(*u, b, 10, 10);
  accums.recordFrames(1, &fa, &cls, u.get(), a, nullptr, 0);
  accums.recordFrames(1, &fb, &cls, u.get(), b, nullptr, 0);
  accums.getAccum(g * 13 + 9);   // created, never recorded: still unseen
  const int16_t a10 = u->models[a][10], b10 = u->models[b][10];
  accums.updateUser(u.get(), 0);
  EXPECT_EQ(u->models[a][10], a10 + 6);
  EXPECT_EQ(u->models[b][10], b10 + 2);

  // Without delta.usr nothing changes.
  std::vector<int16_t> before(&u->models[0][0], &u->models[0][0] + kPelCount * kFrameFeatures);
  u->cousinsUpdate(&accums);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), &u->models[0][0]));

  auto reference = std::make_unique<User>();
  for (int s = 0; s < kPelCount; s++)
    for (int j = 0; j < kFrameFeatures; j++) reference->models[s][j] = static_cast<int16_t>(s % 50 + j);
  reference->vtln = 58;
  ASSERT_EQ(reference->writeFile((dir + "delta.usr").c_str()), 1);
  User::usr = u.get();
  u->cousinsUpdate(&accums);
  EXPECT_EQ(User::usr, u.get());
  for (int j = 0; j < kFrameFeatures; j++) {
    // before already holds the update (+6 and +2 in feature 10).
    const int s = (before[a * kFrameFeatures + j] - reference->models[a][j]) +
                  (before[b * kFrameFeatures + j] - reference->models[b][j]);
    for (int c = 0; c < 13; c++) {
      const int state = g * 13 + c;
      if (state == a || state == b) {
        EXPECT_EQ(u->models[state][j], before[state * kFrameFeatures + j]);
      } else {
        EXPECT_EQ(u->models[state][j], reference->models[state][j] + (s + 1) / 2) << state << " " << j;
      }
    }
  }
  // Groups without adapted states are left alone.
  EXPECT_EQ(u->models[(g + 1) * 13][10], before[(g + 1) * 13 * kFrameFeatures + 10]);
  std::remove((dir + "delta.usr").c_str());
  unsetenv("VELMORA_DIR");
  resetVelmoraSearchForTest();
}

}  // namespace

// ---- The shipped enrollment prompt set ----------------------------------------------------------

namespace {

using namespace vlm;

// The prompt file, dictionary and grammar load cleanly; every prompt resolves to words with
// pronunciations; "tea" is repeated among the calibration prompts; the second phase brings every
// phone the dictionary uses (all but "K" and "+", which are scored as alternatives) into a chain.
TEST(EnrolData, PromptSetLoadsAndCoversThePhones) {
  const std::string data = std::string(VLM_TEST_SOURCE_DIR) + "/data/";
  WordDictionary words(2000);
  ASSERT_EQ(words.readFile((data + "enrol.voc").c_str()), 1);
  RuleDictionary rules(32);
  ASSERT_EQ(rules.readFile((data + "enrol.rul").c_str(), &words), 1);
  EXPECT_EQ(rules.readErrorCount(), 0);
  ASSERT_NE(rules.getRuleData("enrolPrompts"), nullptr);
  EXPECT_NE(rules.getRuleData("enrolPrompts")->root.type, eTerminalNode);

  std::ifstream in(data + "enrol.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int state = 0, teas = 0, calibration = 0, phase2 = 0;
  std::set<char> phones;
  while (std::getline(in, line)) {
    if (line == "cmd_start_calibrate") { state = 1; continue; }
    if (line == "cmd_end_calibrate") { state = 2; continue; }
    ASSERT_NE(state, 0) << "prompt before cmd_start_calibrate: " << line;
    const std::string text = line.substr(0, line.find('\t'));
    ASSERT_LE(line.size(), 256u);
    FSGNodeTypeItemAC items;
    ASSERT_EQ(RuleBodyParser::simpleSequence(&words, text.c_str(), &items), 1) << text;
    AlignChain chain;
    ASSERT_EQ(chain.build(items, words), 1) << text;
    if (state == 1) {
      calibration++;
      teas += text == "tea";
    } else {
      phase2++;
      for (int i = 0; i < chain.nodeCount(); i++)
        phones.insert(kGroupPhone[chain.node(i).pel / kPelsPerGroup]);
    }
  }
  EXPECT_EQ(state, 2);
  EXPECT_GE(teas, 3);
  EXPECT_GT(calibration, teas);
  EXPECT_GE(phase2, 65);
  for (const char* p = kPhoneInventory; *p; p++) {
    if (*p != 'K' && *p != '+') {
      EXPECT_TRUE(phones.count(*p)) << "phone " << *p;
    }
  }
}

}  // namespace
