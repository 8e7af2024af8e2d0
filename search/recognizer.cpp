// The recognition search: set-up, the frame loop (word ends, phone loop, thresholds,
// out-of-vocabulary element, inner, start and null states, initial silence, compaction), the final
// word ends and the n-best extraction.
#define VLM_UNIT "recog"
#include "search/recognizer.h"

#include "models/adapt.h"

#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <utility>
#include <vector>
#include <cstring>

#include "audio/utterance.h"
#include "foundation/copystr.h"
#include "foundation/log.h"
#include "foundation/stdiox.h"
#include "grammar/ruledict.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "search/result.h"
#include "search/searchtypes.h"

namespace vlm {

int pruneThresh = 240;
int wordEndBeam = 230;
int loopBeam = 20;
int loopExitBeam = 15;
int loopTransitionPenalty = 10;
int longStayPenalty = 9;
long maxMemoryAlloced = kDefaultMaxMemoryAlloced;
long maxTickCount = 0;

const char* recognizeEndText(int end) {
  switch (end) {
    case eEndResults: return "recognised";
    case eEndNoStart: return "the grammar starts no word (its rules are empty or no word of them has a usable pronunciation)";
    case eEndNoSpeech: return "no speech";
    case eEndNoMatch: return "nothing in the grammar matched";
    case eEndTooLong: return "utterance too long";
    case eEndTime: return "search took too long";
    case eEndMemory: return "search ran out of memory";
    case eEndChannel: return "audio channel error";
    case eEndNoModels: return "no speaker models";
    default: return "unknown";
  }
}

int setPruneThresh(int value) {
  const int old = pruneThresh;
  pruneThresh = value;
  return old;
}
int setWordEndBeam(int value) {
  const int old = wordEndBeam;
  wordEndBeam = value;
  return old;
}
long setMaxMemoryAlloced(long bytes) {
  const long old = maxMemoryAlloced;
  maxMemoryAlloced = bytes;
  return old;
}
long setMaxTickCount(long milliseconds) {
  const long old = maxTickCount;
  maxTickCount = milliseconds < 0 ? 0 : milliseconds;
  return old;
}

namespace {

// The cost of entering a word, added where the path enters it (the back-trace counts it in the
// path's score from there on).
constexpr int kWordPenalty = ResultHypoPQ::kWordPenalty;

struct SuccessorPair {
  WordNode* successor;
  WordNode* predecessor;
};

// The working sets of the search, created on the first search and kept for the process.
struct Search {
  ActiveWordsHS activeWords;
  FrameHistoryAC histories;
  ResultHistory seeder{&activeWords, &histories};

  OC<WordNode> startLists[2] = {OC<WordNode>(256, 256), OC<WordNode>(256, 256)};
  OC<WordNode> innerLists[2] = {OC<WordNode>(1024, 1024), OC<WordNode>(1024, 1024)};
  OC<WordNode>* startCurList = &startLists[0];
  OC<WordNode>* startNextList = &startLists[1];
  OC<WordNode>* innerCurList = &innerLists[0];
  OC<WordNode>* innerNextList = &innerLists[1];
  OC<WordNode> nullStates{64, 64};
  AC<SuccessorPair> pairs{1024, 1024};
  OC<WordNode> wordEnds{250, 250};
  OC<WordNode> sortedEnds{250, 250};
  WordEndSorter endSorter;
  OC<OutOfVocabularyElement> oovCur{16, 16}, oovNext{16, 16};

  // per-frame pel score cache: valid where stamp equals the frame's stamp. The stamps start
  // cleared: a leftover number in new memory that equalled a frame's stamp would pass off
  // whatever pelScores held as the pel's score.
  int pelScores[kPelCount] = {};
  unsigned pelStamp[kPelCount] = {};
  int neededPels[kPelCount];
  unsigned stamp = 0;
  const Frame* frame = nullptr;

  // frame state
  int frameIndex = 0;
  int best = kNoScore;
  int bestPel = 0;
  int prevBest = 0;
  int prevBestPel = 0;
  int loopBest = 0;
  int prevLoopBest = 0;
  int exitScore = kNoScore;
  int initialSilence = 0;
  int wordEndThreshold = 0;
  int pruneThreshold = 0;

  WordDictionary* words = nullptr;
  RuleDictionary* rules = nullptr;

  std::size_t arenaBytes() const { return activeWords.arenaBytes() + histories.arenaBytes(); }

  int pelScore(int pel) {
    if (pelStamp[pel] != stamp) {
      pelStamp[pel] = stamp;
      pelScores[pel] = User::pelScorePrim(static_cast<short>(pel), frame);
    }
    return pelScores[pel];
  }

  void newFrameCache(const Frame* f) {
    frame = f;
    if (++stamp == 0) {  // wrapped: forget every stamp
      std::memset(pelStamp, 0, sizeof pelStamp);
      stamp = 1;
    }
  }

  // Scores, in one run, every pel of the given states that the frame has not scored yet, so that
  // the state loops only read the cache.
  void fillPelCache(WordNode* const* states, int count) {
    int n = 0;
    for (int i = 0; i < count; i++) {
      const int pel = states[i]->pel;
      if (pelStamp[pel] != stamp) {
        pelStamp[pel] = stamp;
        neededPels[n++] = pel;
      }
    }
    for (int k = 0; k < n; k++) {
      const int pel = neededPels[k];
      pelScores[pel] = User::pelScorePrim(static_cast<short>(pel), frame);
    }
  }

  // Adds the frame's cost to the state (and the long-stay penalty); its pel must be in the frame's
  // cache (fillPelCache).
  void addAcoustic(WordNode* s) {
    const int pel = s->pel;
    if (pel == 0) {
      s->score += pelScores[0];
      return;
    }
    s->score += pelScores[pel] + (s->stay >= 3 ? longStayPenalty : 0);
    if (s->stay < 255) s->stay++;
  }

  // Offers the state's path to its successors. viaPairs: newly entered successors are recorded
  // as (successor, predecessor) pairs for compaction; otherwise they go straight to the next
  // inner-state list. Null states always go to the null-state list.
  void enterSuccessors(WordNode* s, bool viaPairs) {
    const int threshold = pruneThreshold;
    const int score = s->score;
    for (int i = s->successorCount - 1; i >= 0; i--) {
      WordNode* x = &s->successors[i];
      const int candidate = score + x->penalty;
      if (candidate >= threshold) continue;
      if (x->closed) {
        // a state that leads only into a closed end-fan copy has no future either
        if (s->successorCount == 1 && s->terminals == nullptr) close(s);
        continue;
      }
      if (!x->active) {
        x->active = 1;
        x->score = candidate;
        x->stay = 0;
        x->history = s->history;
        if (x->pel == kNullPel)
          nullStates.add(x);
        else if (viaPairs)
          pairs.add(SuccessorPair{x, s});
        else
          (*innerNextList).add(x);
      } else if (candidate < x->score) {
        x->score = candidate;
        x->stay = 0;
        x->history = s->history;
      }
    }
  }

  // Enters a start state with a candidate score from history h; a new one joins list.
  static void enterStart(WordNode* st, int candidate, History* h, OC<WordNode>& list) {
    if (!st->active) {
      st->active = 1;
      st->score = candidate;
      st->stay = 0;
      st->history = h;
      list.add(st);
    } else if (candidate < st->score) {
      st->score = candidate;
      st->stay = 0;
      st->history = h;
    }
  }

  void enterOov(OutOfVocabularyElement* el, int candidate, History* h, int loopReference) {
    WordNode* st = &el->state;
    if (!st->active) {
      st->active = 1;
      st->score = candidate;
      st->stay = 0;
      st->history = h;
      el->relativeScore = candidate - loopReference;
      oovCur.add(el);
    } else if (candidate < st->score) {
      st->score = candidate;
      st->stay = 0;
      st->history = h;
      el->relativeScore = candidate - loopReference;
    }
  }

  // Closes a state for the rest of the search (WordNode::closed) and ends the path now in it.
  void close(WordNode* s) {
    if (s->closed) return;
    s->closed = 1;
    s->score = kNoScore;
    closedStates.add(s);
  }
  OC<WordNode> closedStates{64, 64};

  void deactivateAll() {
    for (int i = 0; i < closedStates.count(); i++) closedStates[i]->closed = 0;
    closedStates.removeAll();
    for (int i = 0; i < (*innerCurList).count(); i++) (*innerCurList)[i]->active = 0;
    for (int i = 0; i < (*innerNextList).count(); i++) (*innerNextList)[i]->active = 0;
    for (int i = 0; i < (*startCurList).count(); i++) (*startCurList)[i]->active = 0;
    for (int i = 0; i < (*startNextList).count(); i++) (*startNextList)[i]->active = 0;
    for (int i = 0; i < nullStates.count(); i++) nullStates[i]->active = 0;
    for (int i = 0; i < pairs.count(); i++) pairs[i].successor->active = 0;
    for (int i = 0; i < oovCur.count(); i++) oovCur[i]->state.active = 0;
    for (int i = 0; i < oovNext.count(); i++) oovNext[i]->state.active = 0;
    (*innerCurList).removeAll();
    (*innerNextList).removeAll();
    (*startCurList).removeAll();
    (*startNextList).removeAll();
    nullStates.removeAll();
    pairs.removeAll();
    oovCur.removeAll();
    oovNext.removeAll();
  }

  void emptyAll() {
    deactivateAll();
    wordEnds.removeAll();
    sortedEnds.removeAll();
    activeWords.empty();
    histories.empty();
  }

  // Sorts the word-end list into sortedEnds (WordEndSorter) and empties it.
  void sortWordEnds(bool silenceOnly) {
    endSorter.sort(wordEnds, &sortedEnds, silenceOnly);
    wordEnds.removeAll();
  }

  void scoreActiveStates();
  void wordEndsOfPreviousFrame();
  void processRun(int from, int to);
  // Offers a word end's path to the entries of link; true when some entry takes the end's
  // right-context class (whether or not its path was good enough to enter).
  bool enterAfter(WordNode* e, NodeTerminal* lead, bool fromTree, AwLink* link, HistoryHS* previous);
  // 1 when a start state entered with candidate cannot outlive the frame about to be scored: its
  // score after the frame is at least candidate + the frame's cost of its pel, and the frame's
  // prune threshold is at most the previous best + the frame's cost of the previous best pel +
  // pruneThresh. Such a start would be dropped unused; skipping it saves its history.
  // The lowest score a skipped start would have reached still counts for the frame's best (it
  // matters only when no state outlives the frame).
  bool dead(int candidate, int pel) {
    const int score = candidate + pelScore(pel);
    if (score < deadLine) return false;
    if (score < deadBest) {
      deadBest = score;
      deadBestPel = pel;
    }
    return true;
  }
  int deadLine = 0;
  int deadBest = kNoScore;
  int deadBestPel = 0;
  void phoneLoop();
  void initialSilenceStep(AwLink* root);
  void compaction();
};

Search* search = nullptr;
std::size_t peakBytes = 0;
std::size_t peakUsedBytes = 0;

void Search::wordEndsOfPreviousFrame() {
  sortWordEnds(false);
  int i = 0;
  while (i < sortedEnds.count()) {
    WordNode* first = sortedEnds[i];
    int j = i + 1;
    while (j < sortedEnds.count() && sortedEnds[j]->history->group == first->history->group &&
           sortedEnds[j]->terminals->node == first->terminals->node)
      j++;
    processRun(i, j);
    i = j;
  }
}

// Hands the word ends of one run on to what can start after them. Every end goes on from its own
// history only: the word's states belong to one grammar position under one return stack, so the
// path an end carries is exactly the one its history's best word ending started. A state of a
// word tree can carry the ends of several words or of one word with several continuation rules;
// each continuation is followed with the word ends that lead into it.
void Search::processRun(int from, int to) {
  HistoryHS* previous = histories.lastFrame();
  const History* lastHistory = nullptr;
  const FSGNode* lastContinuation = nullptr;
  AwLink* link = nullptr;
  for (int k = from; k < to; k++) {
    WordNode* e = sortedEnds[k];
    History* h = e->history;
    const bool fromTree = h->node && h->node->type == eWordTreeNode;
    bool goesOn = false;
    for (NodeTerminal* lead = e->terminals; lead; lead = lead->next) {
      // one pass per continuation: lead is the first terminal with it
      if (fromTree) {
        bool seen = false;
        for (NodeTerminal* t = e->terminals; t != lead && !seen; t = t->next) seen = t->node == lead->node;
        if (seen) continue;
      }
      FSGNode* W = fromTree ? lead->node : nullptr;
      if (h != lastHistory || W != lastContinuation || k == from) {
        lastHistory = h;
        lastContinuation = W;
        link = nullptr;
        ReturnTree* R = h->returnTree;
        FSGNode* N = h->node ? h->node->next : nullptr;
        if (W) {
          // the word came out of a tree with a continuation rule: return after the tree
          R = histories.returnTrees.makeReturnTree(N, R, histories.arena);
          N = R ? W : nullptr;
        }
        if (N != nullptr) link = seeder.startList(words, rules, N, R);
      }
      if (link != nullptr && link->count > 0 && enterAfter(e, lead, fromTree, link, previous)) goesOn = true;
      if (!fromTree) break;
    }
    // An end-fan copy for a right context that nothing after the word starts with (at the end of
    // the grammar: every copy but the one before silence) can never lead to a result. Left alive,
    // such a copy can fit the word's last frames better than the copy before silence and push
    // that one, the only one that can end the utterance, out of the beam. A state of a word tree
    // that also goes on inside the tree (another word's next phone) stays open.
    if (!goesOn && e->pel > 0 && e->contextClass != 0 && e->successorCount == 0) close(e);
  }
}

// Offers the path of word end e (its terminals of lead's continuation) to every entry of link.
bool Search::enterAfter(WordNode* e, NodeTerminal* lead, bool fromTree, AwLink* link, HistoryHS* previous) {
  History* h = e->history;
  const bool silent = e->pel == 0;
  const int entry = e->score;
  int exitPenalty = kNoScore;
  for (NodeTerminal* t = lead; t; t = t->next)
    if ((!fromTree || t->node == lead->node) && t->penalty < exitPenalty) exitPenalty = t->penalty;
  const int leftClass = silent ? 0 : e->terminals->lastLeftClass;
  // Pushes the word endings into H once, and tells whether H was reached.
  auto reach = [&](FSGNode* node, ReturnTree* returnTree, int context) -> History* {
    int created;
    History* H = histories.getHistory(previous, node, returnTree, context, frameIndex, &created);
    if (H == nullptr || H->lastEnd == lead) return H;
    H->lastEnd = lead;
    for (NodeTerminal* t = lead; t; t = t->next)
      if (!fromTree || t->node == lead->node)
        if (WordEnding* we = histories.newWordEnding(t->word, entry + t->penalty, h)) H->endings.push(we);
    return H;
  };
  bool taken = false;
  LawReturn* entries = link->entries();
  for (int si = link->count - 1; si >= 0; si--) {
    const LawReturn& s = entries[si];
    switch (s.kind) {
      case eLawLinearWord: {
        auto* law = static_cast<LinearActiveWord*>(s.target);
        if (!silent && e->contextClass != law->terminal.firstRightClass) break;
        taken = true;
        WordNode* st = law->startState(leftClass);
        const int candidate = entry + exitPenalty + kWordPenalty + st->penalty;
        if (dead(candidate, st->pel)) break;
        History* H = reach(law->terminal.node, s.returnTree, leftClass * kContextClassCount + (silent ? 0 : e->contextClass));
        if (H == nullptr) break;
        enterStart(st, candidate, H, (*startCurList));
        break;
      }
      case eLawPendingWord: {
        auto* p = static_cast<PendingWord*>(s.target);
        if (!silent && e->contextClass != p->firstRightClass) break;
        taken = true;
        const int candidate = entry + exitPenalty + kWordPenalty + p->firstPenalty;
        if (dead(candidate, p->basePel + leftClass)) break;
        LinearActiveWord* law = activeWords.build(p, s.returnTree);
        if (law == nullptr) break;
        History* H = reach(p->node, s.returnTree, leftClass * kContextClassCount + (silent ? 0 : e->contextClass));
        if (H == nullptr) break;
        enterStart(law->startState(leftClass), candidate, H, (*startCurList));
        break;
      }
      case eLawWordTree: {
        auto* tree = static_cast<WordTree*>(s.target);
        const int b = silent ? -1 : leftClass * kContextClassCount + e->contextClass;
        bool any = false;
        if (silent) {
          for (int c = 0; c < kContextClassCount && !any; c++) any = tree->bucket(c).count > 0;
        } else {
          any = b >= 0 && b < kWordTreeBuckets && tree->bucket(b).count > 0;
        }
        if (!any) break;
        taken = true;
        History* H = nullptr;  // made when the first start state is entered
        auto enterBucket = [&](int bucketIndex) {
          const WordTreeStartNodes& bucket = tree->bucket(bucketIndex);
          for (int n = 0; n < bucket.count; n++) {
            WordNode* st = &bucket.states[n];
            const int candidate = entry + exitPenalty + kWordPenalty + st->penalty;
            if (dead(candidate, st->pel)) continue;
            if (H == nullptr) H = reach(tree->owner(), s.returnTree, silent ? 0 : b);
            if (H == nullptr) return;
            enterStart(st, candidate, H, (*startCurList));
          }
        };
        if (silent) {
          for (int c = 0; c < kContextClassCount; c++) enterBucket(c);
        } else {
          enterBucket(b);
        }
        break;
      }
      case eLawOutOfVocabulary: {
        auto* el = static_cast<OutOfVocabularyElement*>(s.target);
        taken = true;
        History* H = reach(el->node, s.returnTree, 0);
        if (H == nullptr) break;
        enterOov(el, entry + loopTransitionPenalty + exitPenalty + kWordPenalty, H, loopBest);
        break;
      }
      default:
        VLM_ASSERT(1 == 0, "1 == 0");
        break;
    }
  }
  return taken;
}

void Search::phoneLoop() {
  GenericPelStatics& loop = GenericPelStatics::instance();
  GenPel* pels = loop.pels;
  auto give = [](GenPel& p, int score) {
    if (!p.active) {
      p.active = 1;
      p.score = score;
    } else if (score < p.score) {
      p.score = score;
    }
  };
  if (exitScore < kNoScore) {
    give(pels[0], exitScore);
    const int entry = exitScore + loopTransitionPenalty;
    for (int i = 0; i < loop.startList.count(); i++) give(*loop.startList[i], entry);
  }
  prevLoopBest = loopBest;
  loopBest = kNoScore;
  const User* u = User::usr;
  for (int i = 0; i < kPelGroupCount; i++) {
    GenPel& p = pels[i];
    if (!p.active) continue;
    p.score += (User::rudePelScore(u->genericModels[p.genericPel], frame->features) + 504) >> 4;
    if (p.score < loopBest) loopBest = p.score;
  }
  exitScore = kNoScore;
  for (int i = kPelGroupCount - 1; i >= 0; i--) {
    GenPel& p = pels[i];
    if (!p.active) continue;
    if (p.score >= loopBest + loopBeam) {
      p.active = 0;
      p.score = kNoScore;
    } else if (p.exit) {
      if (p.score < exitScore) exitScore = p.score;
    } else if (i + 1 < kPelGroupCount) {
      give(pels[i + 1], p.score + loopTransitionPenalty);
    }
  }
  if (loopBest + loopExitBeam < exitScore) exitScore = kNoScore;
}

void Search::initialSilenceStep(AwLink* root) {
  initialSilence += pelScore(0);
  if (initialSilence > pruneThreshold) {
    initialSilence = kNoScore;
    return;
  }
  if (initialSilence < best) {
    best = initialSilence;
    bestPel = 0;
  }
  WordEnding* silence = histories.newWordEnding(SILENCE_ID, initialSilence, nullptr);
  HistoryHS* set = histories.lastFrame();
  LawReturn* entries = root->entries();
  for (int i = root->count - 1; i >= 0; i--) {
    const LawReturn& s = entries[i];
    FSGNode* node = nullptr;
    switch (s.kind) {
      case eLawLinearWord: node = static_cast<LinearActiveWord*>(s.target)->terminal.node; break;
      case eLawWordTree: node = static_cast<WordTree*>(s.target)->owner(); break;
      case eLawOutOfVocabulary: node = static_cast<OutOfVocabularyElement*>(s.target)->node; break;
      default: VLM_ASSERT(1 == 0, "1 == 0"); continue;
    }
    int created;
    History* H = histories.getHistory(set, node, s.returnTree, 0, frameIndex, &created);
    if (H == nullptr) continue;
    // The silence ending goes into the history once per frame, also when a word ending of this
    // frame created the history first: otherwise a path from the initial silence would be traced
    // back through that word.
    if (!H->silencePushed && silence) {
      H->endings.push(silence);
      H->silencePushed = 1;
    }
    switch (s.kind) {
      case eLawLinearWord: {
        WordNode* st = static_cast<LinearActiveWord*>(s.target)->startState(0);
        const int candidate = initialSilence + kWordPenalty + st->penalty;
        if (candidate < pruneThreshold) enterStart(st, candidate, H, (*startNextList));
        break;
      }
      case eLawWordTree: {
        auto* tree = static_cast<WordTree*>(s.target);
        for (int b = 0; b < kContextClassCount; b++) {
          const WordTreeStartNodes& bucket = tree->bucket(b);
          for (int n = 0; n < bucket.count; n++) {
            WordNode* st = &bucket.states[n];
            const int candidate = initialSilence + kWordPenalty + st->penalty;
            if (candidate < pruneThreshold) enterStart(st, candidate, H, (*startNextList));
          }
        }
        break;
      }
      case eLawOutOfVocabulary: {
        const int candidate = initialSilence + loopTransitionPenalty + kWordPenalty;
        if (candidate < pruneThreshold)
          enterOov(static_cast<OutOfVocabularyElement*>(s.target), candidate, H, loopBest);
        break;
      }
    }
  }
}

// Scores the frame on the inner states, then on the start states, and offers their paths onwards.
// The pels these states need are scored first, in one run (the distance computations then follow
// each other instead of waiting one by one inside the state loop). The loops add only to other
// lists, so each list's entries stay where they are. The thresholds and the frame's best score are
// kept in locals: the stores to the states' byte fields could otherwise alias them and force a
// reload on every step.
void Search::scoreActiveStates() {
  const int wordEnd = wordEndThreshold, prune = pruneThreshold;
  int frameBest = best, frameBestPel = bestPel;
  if (deadBest < frameBest) {
    frameBest = deadBest;
    frameBestPel = deadBestPel;
  }
  WordNode* const* inner = innerCurList->begin();
  WordNode* const* starts = startCurList->begin();
  fillPelCache(inner, innerCurList->count());
  fillPelCache(starts, startCurList->count());
  // the state's score after this frame; keeps the frame's best
  auto scoreState = [&](WordNode* s) {
    addAcoustic(s);
    const int score = s->score;
    if (score < frameBest) {
      frameBest = score;
      frameBestPel = s->pel;
    }
    return score;
  };
  for (int i = innerCurList->count() - 1; i >= 0; i--) {
    WordNode* s = inner[i];
    const int score = scoreState(s);
    if (s->terminals && score < wordEnd) wordEnds.add(s);
    if (s->successorCount && score < prune) enterSuccessors(s, true);
  }
  for (int i = startCurList->count() - 1; i >= 0; i--) {
    WordNode* s = starts[i];
    if (scoreState(s) < prune) enterSuccessors(s, false);
  }
  best = frameBest;
  bestPel = frameBestPel;
}

void Search::compaction() {
  // The threshold, the current lists' entries and the pairs are read into locals: the stores to
  // the states' byte fields could otherwise alias them and force a reload on every step.
  const int threshold = pruneThreshold;
  // a state below the threshold goes to the next list, any other becomes inactive
  auto keep = [threshold](WordNode* s, OC<WordNode>& next) {
    if (s->score < threshold)
      next.add(s);
    else
      s->active = 0;
  };
  OC<WordNode>& innerNext = *innerNextList;
  int p = pairs.count() - 1;
  const SuccessorPair* pair = pairs.begin();
  WordNode* const* inner = (*innerCurList).begin();
  const int innerCount = (*innerCurList).count();
  for (int i = 0; i < innerCount; i++) {
    WordNode* s = inner[i];
    keep(s, innerNext);
    while (p >= 0 && pair[p].predecessor == s) {
      innerNext.add(pair[p].successor);
      p--;
    }
  }
  // pairs of predecessors not on the list (none expected) keep their successors alive too
  while (p >= 0) innerNext.add(pair[p--].successor);
  pairs.removeAll();
  OC<WordNode>& startNext = *startNextList;
  WordNode* const* starts = (*startCurList).begin();
  const int startCount = (*startCurList).count();
  for (int i = 0; i < startCount; i++) keep(starts[i], startNext);
  // swap both lists
  std::swap(innerCurList, innerNextList);
  std::swap(startCurList, startNextList);
  innerNextList->removeAll();
  startNextList->removeAll();
  prevBest = best;
  prevBestPel = bestPel;
}

const char* abortMessage(int code, char* buffer, int room) {
  switch (code) {
    case eUttTooLong: sPrint(buffer, room, "Utt too long %d", maxFramesInUtt); break;
    case eTimeTooLong: sPrint(buffer, room, "Time too long %d, aborting", static_cast<int>(maxTickCount)); break;
    case eTooMuchMemory: sPrint(buffer, room, "Too much memory %d, aborting", static_cast<int>(maxMemoryAlloced)); break;
    default: copyString(buffer, "Overflow or primitive channel error, aborting", room); break;
  }
  return buffer;
}

}  // namespace

std::size_t Recognizer::peakArenaBytes() { return peakBytes; }
std::size_t Recognizer::peakArenaUsedBytes() { return peakUsedBytes; }
void Recognizer::resetPeakArenaBytes() {
  peakBytes = 0;
  peakUsedBytes = 0;
}
std::size_t Recognizer::arenaBytes() { return search ? search->arenaBytes() : 0; }

int Recognizer::recognize(Utterance* utt, int* ruleList, int ruleCount) {
  abortCode = eRecognizeOk;
  framesSearched = 0;
  endReason = eEndNoSpeech;
  if (utt == nullptr) return 0;
  installResultHooks();
  if (utt->result == nullptr)
    utt->result = new RecogResult(wordDictionary);
  else
    utt->result->removeAll();
  utt->result->wordDictionary = wordDictionary;
  RecogResult* result = utt->result;

  if (user) User::usr = user;
  if (User::usr == nullptr) {
    logError("recognize: no speaker models");
    endReason = eEndNoModels;
    return 0;
  }
  if (search == nullptr) search = new Search;
  Search& S = *search;
  S.emptyAll();
  S.words = wordDictionary;
  S.rules = ruleDictionary;
  S.histories.words = wordDictionary;
  S.histories.rules = ruleDictionary;
  S.histories.hypos->rules = ruleDictionary;
  GenPel::reInit();

  // the start list of the utterance: every given rule, from the last
  LawReturnAc rootList(32, 32);
  for (int i = ruleCount - 1; i >= 0; i--) {
    RuleData* rd = ruleDictionary ? ruleDictionary->ruleAt(ruleList[i]) : nullptr;
    if (rd == nullptr) {
      logError("recognize: no such rule");
      continue;
    }
    S.seeder.getSeedLAWs(&rootList, wordDictionary, ruleDictionary, &rd->root, nullptr);
  }
  endReason = eEndNoStart;
  if (rootList.count() == 0) return 0;
  AwLink* root = S.activeWords.newAwLink(nullptr, nullptr, rootList);
  if (root == nullptr) {
    endReason = eEndMemory;
    return 0;
  }

  S.frameIndex = 0;
  S.prevBest = 0;
  S.prevBestPel = 0;
  S.loopBest = 0;
  S.prevLoopBest = 0;
  S.initialSilence = 0;
  S.exitScore = kNoScore;
  const auto started = std::chrono::steady_clock::now();

  int code = eRecognizeOk;
  for (;;) {
    if (S.frameIndex >= maxFramesInUtt) {
      code = eUttTooLong;
      break;
    }
    const std::size_t bytes = S.arenaBytes();
    if (bytes > peakBytes) peakBytes = bytes;
    const std::size_t used = S.activeWords.arenaUsedBytes() + S.histories.arenaUsedBytes();
    if (used > peakUsedBytes) peakUsedBytes = used;
    if (bytes > static_cast<std::size_t>(maxMemoryAlloced)) {
      code = eTooMuchMemory;
      break;
    }
    if (maxTickCount > 0) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
      if (elapsed.count() > maxTickCount) {
        code = eTimeTooLong;
        break;
      }
    }
    if (S.frameIndex == utt->frameCount()) {
      const int rc = utt->isFrameAvailableFromSignalProcessing();
      if (rc == -1) {
        ::usleep(10000);
        continue;
      }
      if (rc == -2 || rc == -3) break;
      if (rc < -3) {
        code = eChannelError;
        break;
      }
      if (S.frameIndex >= utt->frameCount()) continue;  // nothing added after all
    }

    // the frame to score; its cache serves the word ends' test of which starts can live
    const Frame* frame = &utt->frames[S.frameIndex];
    S.newFrameCache(frame);
    S.deadLine = S.prevBest + S.pelScore(S.prevBestPel < 0 ? 0 : S.prevBestPel) + pruneThresh;
    S.deadBest = kNoScore;

    // word ends of the previous frame
    if (S.wordEnds.count() > 0) S.wordEndsOfPreviousFrame();

    S.frameIndex++;
    if (S.histories.makeRoom(1) < 0) {
      code = eTooMuchMemory;
      break;
    }
    S.phoneLoop();

    // thresholds
    int predicted = S.prevBest + S.pelScore(S.prevBestPel < 0 ? 0 : S.prevBestPel);
    const int byLoop = S.prevBest + S.loopBest - S.prevLoopBest;
    if (byLoop < predicted) predicted = byLoop;
    S.wordEndThreshold = predicted + wordEndBeam;
    S.pruneThreshold = predicted + pruneThresh;
    S.best = kNoScore;
    S.bestPel = 0;

    // out-of-vocabulary elements
    for (int i = S.oovCur.count() - 1; i >= 0; i--) {
      OutOfVocabularyElement* el = S.oovCur[i];
      el->state.score = el->relativeScore + S.loopBest;
      if (el->state.score < S.wordEndThreshold) {
        S.wordEnds.add(&el->state);
        S.oovNext.add(el);
      } else if (el->state.score < S.pruneThreshold) {
        S.oovNext.add(el);
      } else {
        el->state.active = 0;
      }
    }
    S.oovCur.removeAll();
    for (int i = 0; i < S.oovNext.count(); i++) S.oovCur.add(S.oovNext[i]);
    S.oovNext.removeAll();

    S.scoreActiveStates();
    // null states
    for (int i = S.nullStates.count() - 1; i >= 0; i--) {
      WordNode* s = S.nullStates[i];
      if (s->score < S.pruneThreshold) S.enterSuccessors(s, false);
      s->active = 0;
    }
    S.nullStates.removeAll();

    // initial silence
    if (S.initialSilence < kNoScore) S.initialSilenceStep(root);

    S.compaction();
  }
  framesSearched = S.frameIndex;

  // end of the loop
  S.deactivateAll();
  abortCode = code;
  switch (code) {
    case eUttTooLong: endReason = eEndTooLong; break;
    case eTimeTooLong: endReason = eEndTime; break;
    case eTooMuchMemory: endReason = eEndMemory; break;
    case eChannelError: endReason = eEndChannel; break;
    default: endReason = S.frameIndex == 0 ? eEndNoSpeech : eEndNoMatch; break;
  }
  if (code != eRecognizeOk) {
    char message[128];
    logError("channel warning: ", abortMessage(code, message, sizeof message));
    utt->complete(1);
    if (code != eUttTooLong) {
      utt->flags |= Utterance::UTT_ABORTED;
      result->removeAll();
      result->wordDictionary = wordDictionary;
      S.emptyAll();
      return 0;
    }
  }
  {
    GenPel& silence = GenericPelStatics::instance().pels[0];
    utt->phoneLoopScore = silence.active ? silence.score : S.loopBest;
  }

  // final word ends: only paths in silence
  S.sortWordEnds(true);
  if (S.sortedEnds.count() == 0) return 0;
  HeapPQ<WordEnding> finals(cmpWordEndings, 256, 256);
  for (int i = 0; i < S.sortedEnds.count(); i++) {
    WordNode* e = S.sortedEnds[i];
    History* h = e->history;
    if (h->topScore() == kNoScore) continue;
    const bool fromTree = h->node && h->node->type == eWordTreeNode;
    const int ends = h->isAtTerminalSilence(ruleDictionary);
    for (NodeTerminal* t = e->terminals; t; t = t->next) {
      // a tree word with a continuation rule ends the grammar only when the rule can be passed
      // without a word
      if (fromTree && t->node) {
        if (!ends) continue;
        ReturnTree* after = S.histories.returnTrees.makeReturnTree(h->node->next, h->returnTree, S.histories.arena);
        if (after == nullptr || !canEndAfter(t->node, after, ruleDictionary)) continue;
      } else if (!ends) {
        continue;
      }
      if (WordEnding* we = S.histories.newWordEnding(t->word, e->score + t->penalty, h)) finals.push(we);
    }
  }

  ResultHypoPQ* hypos = S.histories.hypos;
  hypos->clear();
  for (int n = 0; n < 200; n++) {
    WordEnding* we = finals.pop();
    if (we == nullptr) break;
    hypos->pushNew(nullptr, we->score, we);
  }

  int completed = 0;
  for (;;) {
    ResultHypo* x = hypos->pop();
    if (x == nullptr) break;
    if (x->we->seedHistory) {
      hypos->propagate(x);
      continue;
    }
    FSGNodeTypeItemAC* added = ResultHypo::addResult(x, result, ruleDictionary, S.frameIndex);
    if (added && endReason == eEndNoMatch) endReason = eEndResults;
    if (added && result->count() >= RecogResult::kMaxResults) return RecogResult::kMaxResults;
    if (++completed >= 100) break;
    if (result->count() > 0 && x->score > result->at(0)->score + pruneThresh) break;
  }
  return result->count();
}

int Recognizer::adapt(Utterance* utterance, const FSGNodeTypeItemAC* words, AdaptAccumHS* accums,
                      const char* logPath) {
  const WordDictionary* dict = wordDictionary;
  if (utterance != nullptr && utterance->result != nullptr && utterance->result->wordDictionary != nullptr)
    dict = utterance->result->wordDictionary;
  return adaptUtterance(user, dict, utterance, words, accums, logPath);
}

int recognizeForCalibration(User* user, WordDictionary* words, RuleDictionary* rules, Utterance* utt,
                            int* ruleList, int ruleCount, FSGNodeTypeItemAC* best) {
  if (best == nullptr) return 0;
  Recognizer recognizer(user, words, rules);
  const int n = recognizer.recognize(utt, ruleList, ruleCount);
  if (n <= 0 || utt->result == nullptr || utt->result->count() == 0) return 0;
  const FSGNodeTypeItemAC* first = utt->result->at(0);
  for (int k = 0; k < first->count(); k++) best->add((*first)[k]);
  return 1;
}

}  // namespace vlm
