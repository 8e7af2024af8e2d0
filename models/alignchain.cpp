#define VLM_UNIT "adapt"
#include "models/alignchain.h"

#include <climits>
#include <cstring>
#include "foundation/log.h"
#include "grammar/fsg.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "models/adapt.h"
#include "models/user.h"
#include "search/wordtree.h"

namespace vlm {

namespace {

constexpr std::size_t kScoreArenaBlock = 65536;
constexpr int kMaxChainNodes = 32767;   // node indices are 16-bit

// A pronunciation the chain can be laid down from: phones only, not empty, no silence at
// either end.
int chainablePron(const char* pron) {
  if (pron == nullptr || pron[0] == 0) return 0;
  for (const char* p = pron; *p; p++)
    if (!isPhone(*p)) return 0;
  return pron[0] != kSilencePhone && pron[std::strlen(pron) - 1] != kSilencePhone;
}

}  // namespace

int userPelCost(const void* context, short pel, const Frame* frame) {
  const User* user = static_cast<const User*>(context);
  if (user == nullptr || pel < 0 || pel >= kPelCount) return kUnreachableScore;
  int d = User::rudePelScore(user->models[pel], frame->features);
  const int alt = User::alternativeGroupState[pel / kPelsPerGroup];
  if (alt >= 0) {
    const int d2 = User::rudePelScore(user->models[alt + pel % kPelsPerGroup], frame->features);
    if (d2 < d) d = d2;
  }
  return (d + 24) >> 4;
}

AlignChain::AlignChain() : nodes(0, 0), arena(kScoreArenaBlock) {}

AlignChain::~AlignChain() { delete[] classes; }

int AlignChain::add(int pel) {
  if (nodes.count() >= kMaxChainNodes) return -1;
  AdaptWordNode n{};
  n.pel = static_cast<int16_t>(pel);
  n.score = kUnreachableScore;
  return nodes.add(n);
}

void AlignChain::link(int from, int to) {
  AdaptWordNode& a = nodes[from];
  AdaptWordNode& b = nodes[to];
  VLM_ASSERT(a.successorCount < 2 && b.predecessorCount < 2 && from < to,
             "successorCount < 2 && predecessorCount < 2");
  if (a.successorCount >= 2 || b.predecessorCount >= 2) return;
  a.successors[a.successorCount++] = static_cast<int16_t>(to);
  b.predecessors[b.predecessorCount++] = static_cast<int16_t>(from);
}

void AlignChain::clearPasses() {
  arena.empty();
  delete[] classes;
  classes = nullptr;
  frameTotal = 0;
  for (int i = 0; i < nodes.count(); i++) nodes[i].forward = nodes[i].backward = nullptr;
}

int AlignChain::build(const char* const* prons, int count) {
  clearPasses();
  nodes.removeAll();
  if (prons == nullptr || count <= 0) {
    logError("Alignment chain: no words to align");
    return 0;
  }
  // Room as the chain is laid out: each word's states, its last phone's middle state once more,
  // and three nodes per word for the second branch, the silences and the duplicated first state.
  long room = 0;
  for (int w = 0; w < count; w++) {
    if (!chainablePron(prons[w])) {
      logError("Alignment chain: bad or empty pronunciation ", prons[w] ? prons[w] : "(none)");
      return 0;
    }
    const char* p = prons[w];
    const int len = static_cast<int>(std::strlen(p));
    for (int i = 0; i < len; i++) room += phoneStateCount(p[i]);
    if (phoneStateCount(p[len - 1]) == 3) room++;
    room += 3;
  }
  if (room >= kMaxChainNodes) {
    logError("Alignment chain: word sequence too long");
    return 0;
  }
  if (nodes.room() < room) nodes.makeRoom(static_cast<int>(room));
  nodes.removeAll();

  // Entries into the next word's first state: (predecessor node, left context class).
  int entryNode[2] = {add(0), -1};
  int entryClass[2] = {0, 0};
  int entries = 1;
  int cur[2];
  int curCount = 0;
  auto step = [&](int pel) {   // a node entered from every node of cur; cur becomes it
    const int n = add(pel);
    if (n < 0) return -1;
    for (int i = 0; i < curCount; i++) link(cur[i], n);
    cur[0] = n;
    curCount = 1;
    return n;
  };

  for (int w = 0; w < count; w++) {
    const char* p = prons[w];
    const int len = static_cast<int>(std::strlen(p));
    // The first state, once per entry branch.
    curCount = 0;
    for (int e = 0; e < entries; e++) {
      const int n = add(phoneBasePel(p[0]) + entryClass[e]);
      if (n < 0) return 0;
      link(entryNode[e], n);
      cur[curCount++] = n;
    }
    for (int i = 0; i < len; i++) {
      const int q = p[i];
      if (i > 0) {
        const int pel = q == kSilencePhone ? 0 : phoneBasePel(q) + phoneLeftClass(p[i - 1]);
        if (step(pel) < 0) return 0;
        if (q == kSilencePhone) continue;
      }
      const int base = phoneBasePel(q);
      const int three = phoneStateCount(q) == 3;
      if (i < len - 1) {
        const int rc = phoneRightClass(p[i + 1]);
        if (three && step(base + 26 + rc) < 0) return 0;
        if (step(base + 13 + rc) < 0) return 0;
        continue;
      }
      // The word's last phone: its right-context states once per branch.
      const int from[2] = {cur[0], cur[1]};
      const int fromCount = curCount;
      if (w < count - 1) {
        const int rc = phoneRightClass(prons[w + 1][0]);
        if (three && step(base + 26 + rc) < 0) return 0;
        const int lastDirect = step(base + 13 + rc);
        if (lastDirect < 0) return 0;
        cur[0] = from[0];
        cur[1] = from[1];
        curCount = fromCount;
        if (three && step(base + 26) < 0) return 0;
        if (step(base + 13) < 0) return 0;
        const int silence = step(0);
        if (silence < 0) return 0;
        entryNode[0] = lastDirect;
        entryClass[0] = phoneLeftClass(q);
        entryNode[1] = silence;
        entryClass[1] = 0;
        entries = 2;
      } else {
        if (three && step(base + 26) < 0) return 0;
        if (step(base + 13) < 0) return 0;
        if (step(0) < 0) return 0;
      }
    }
  }
  return 1;
}

int AlignChain::build(const FSGNodeTypeItemAC& words, const WordDictionary& dict) {
  const int count = words.count();
  if (count <= 0) {
    clearPasses();
    nodes.removeAll();
    logError("Alignment chain: empty word sequence");
    return 0;
  }
  const char** prons = new const char*[count];
  int ok = 1;
  int used = 0;
  for (int i = 0; i < count && ok; i++) {
    const FSGNodeTypeItem& item = words[i];
    // Rule entries, the end of a result path and plain sequence brackets carry no sound.
    if (item.type == eTerminalNode || item.type == eRuleNode || item.type == eSequenceNode ||
        item.type == eSequenceEnd)
      continue;
    if (item.type != eWordNode) {
      logError("Alignment chain: the word sequence holds a rule reference or other non-word item");
      ok = 0;
      break;
    }
    const char* pron = dict.pronOf(item.value);
    if (pron == nullptr || pron[0] == 0) {
      const char* name = dict.nameOf(item.value);
      logError("Alignment chain: no pronunciation for word ", name ? name : "(unknown index)");
      ok = 0;
      break;
    }
    prons[used++] = pron;
  }
  if (ok) ok = build(prons, used);
  else {
    clearPasses();
    nodes.removeAll();
  }
  delete[] prons;
  return ok;
}

int* AlignChain::computeCosts(const Frame* frames, int n, PelCostFn cost, const void* context) {
  const int count = nodes.count();
  if (cost == nullptr) cost = userPelCost;
  int* costs = new int[static_cast<std::size_t>(n) * count];
  // Per-frame cache: each pel is scored at most once per frame.
  int cache[kPelCount];
  int stamp[kPelCount];
  for (int s = 0; s < kPelCount; s++) stamp[s] = -1;
  for (int t = 0; t < n; t++) {
    int* row = costs + static_cast<std::size_t>(t) * count;
    for (int i = 0; i < count; i++) {
      const int pel = nodes[i].pel;
      if (pel < 0 || pel >= kPelCount) {
        row[i] = kUnreachableScore;
        continue;
      }
      if (stamp[pel] != t) {
        int c = cost(context, static_cast<short>(pel), &frames[t]);
        if (c < 0) c = 0;
        cache[pel] = c;
        stamp[pel] = t;
      }
      row[i] = cache[pel];
    }
  }
  return costs;
}

int AlignChain::forwardBackward(const Frame* frames, int n, PelCostFn cost, const void* context) {
  clearPasses();
  const int count = nodes.count();
  if (count == 0 || frames == nullptr || n < 3) return 0;
  frameTotal = n;
  const int inner = n - 2;
  classes = new int[static_cast<std::size_t>(count) * inner];
  for (long i = 0; i < static_cast<long>(count) * inner; i++) classes[i] = kUnreachableClass;

  for (int i = 0; i < count; i++) {
    nodes[i].forward = static_cast<int32_t*>(arena.allocate(sizeof(int32_t) * n));
    nodes[i].backward = static_cast<int32_t*>(arena.allocate(sizeof(int32_t) * n));
  }
  int* costs = computeCosts(frames, n, cost, context);
  auto costAt = [&](int t, int i) { return costs[static_cast<std::size_t>(t) * count + i]; };
  auto settle = [](int32_t& score, int c) {
    long s = static_cast<long>(score) + c;
    score = s >= kUnreachableScore ? kUnreachableScore : static_cast<int32_t>(s);
  };

  // Forward: going from the last node to the first, a score offered to a successor in frame t
  // counts from frame t + 1 on.
  for (int i = 0; i < count; i++) nodes[i].score = kUnreachableScore;
  nodes[0].score = 0;
  int32_t finalScore = kUnreachableScore;   // the trailing silence having spent frame n-1
  for (int t = 0; t < n; t++) {
    for (int i = count - 1; i >= 0; i--) {
      AdaptWordNode& a = nodes[i];
      if (a.score >= kUnreachableScore) continue;
      settle(a.score, costAt(t, i));
      if (t == n - 1 && i == count - 1) finalScore = a.score;
      for (int k = 0; k < a.successorCount; k++) {
        AdaptWordNode& b = nodes[a.successors[k]];
        if (a.score < b.score) b.score = a.score;
      }
    }
    for (int i = 0; i < count; i++) nodes[i].forward[t] = nodes[i].score;
  }
  const int complete = finalScore < kUnreachableScore;

  // Backward from the trailing silence. It starts at 0 rather than at the final forward score:
  // the offset is shared by every complete path, and leaving it out keeps the sums of long or
  // poorly matching utterances below the unreachable mark.
  for (int i = 0; i < count; i++) nodes[i].score = kUnreachableScore;
  nodes[count - 1].score = 0;
  for (int t = n - 1; t >= 0; t--) {
    for (int i = 0; i < count; i++) {
      AdaptWordNode& a = nodes[i];
      if (a.score >= kUnreachableScore) continue;
      settle(a.score, costAt(t, i));
      for (int k = 0; k < a.predecessorCount; k++) {
        AdaptWordNode& b = nodes[a.predecessors[k]];
        if (a.score < b.score) b.score = a.score;
      }
    }
    for (int i = 0; i < count; i++) nodes[i].backward[t] = nodes[i].score;
  }

  if (!complete) {
    delete[] costs;
    return 0;
  }

  // Path scores and classes for frames 1 .. n-2.
  int* path = new int[count];
  for (int t = 1; t <= n - 2; t++) {
    for (int i = 0; i < count; i++) {
      const long total = static_cast<long>(nodes[i].forward[t - 1]) + nodes[i].backward[t + 1];
      path[i] = total < kUnreachableScore ? static_cast<int>(total + costAt(t, i)) : kUnreachableScore;
    }
    // Soft-min in the log domain; unreachable states take no part.
    double low = kUnreachableScore;
    for (int i = count - 1; i >= 0; i--) {
      const int x = path[i];
      if (x >= kUnreachableScore) continue;
      const int d = static_cast<int>(x - low);
      if (d > 0) low -= logAddTerm(d);
      else low = x - logAddTerm(-d);
    }
    for (int i = 0; i < count; i++) {
      if (path[i] >= kUnreachableScore) continue;
      int c = static_cast<int>(path[i] - low);
      if (c < 0) c = 0;
      if (c > kUnreachableClass) c = kUnreachableClass;
      classes[static_cast<std::size_t>(i) * inner + (t - 1)] = c;
    }
  }
  delete[] path;
  delete[] costs;
  return 1;
}

int AlignChain::frameClass(int i, int t) const {
  if (classes == nullptr || i < 0 || i >= nodes.count() || t < 1 || t > frameTotal - 2)
    return kUnreachableClass;
  return classes[static_cast<std::size_t>(i) * (frameTotal - 2) + (t - 1)];
}

const int* AlignChain::nodeClasses(int i) const {
  if (classes == nullptr || i < 0 || i >= nodes.count()) return nullptr;
  return classes + static_cast<std::size_t>(i) * (frameTotal - 2);
}

int AlignChain::minimumFrames() const {
  const int count = nodes.count();
  if (count == 0) return 0;
  int* steps = new int[count];
  for (int i = 0; i < count; i++) steps[i] = INT_MAX;
  steps[0] = 1;
  for (int i = 0; i < count; i++) {
    if (steps[i] == INT_MAX) continue;
    for (int k = 0; k < nodes[i].successorCount; k++) {
      const int s = nodes[i].successors[k];
      if (steps[i] + 1 < steps[s]) steps[s] = steps[i] + 1;
    }
  }
  const int result = steps[count - 1] == INT_MAX ? 0 : steps[count - 1];
  delete[] steps;
  return result;
}

long AlignChain::viterbi(const Frame* frames, int n, PelCostFn cost, const void* context,
                         short* pels, int* nodeIndex) {
  const int count = nodes.count();
  if (count == 0 || frames == nullptr || pels == nullptr || n < 1) return -1;
  constexpr long kNone = LONG_MAX / 4;
  int* costs = computeCosts(frames, n, cost, context);
  long* prev = new long[count];
  long* curr = new long[count];
  int16_t* from = new int16_t[static_cast<std::size_t>(n) * count];
  for (int i = 0; i < count; i++) prev[i] = kNone;
  prev[0] = costs[0];
  for (int i = 0; i < count; i++) from[i] = static_cast<int16_t>(i);
  for (int t = 1; t < n; t++) {
    const int* row = costs + static_cast<std::size_t>(t) * count;
    int16_t* back = from + static_cast<std::size_t>(t) * count;
    for (int i = 0; i < count; i++) {
      long best = prev[i];   // staying wins ties
      int16_t arg = static_cast<int16_t>(i);
      for (int k = 0; k < nodes[i].predecessorCount; k++) {
        const int p = nodes[i].predecessors[k];
        if (prev[p] < best) {
          best = prev[p];
          arg = static_cast<int16_t>(p);
        }
      }
      curr[i] = best >= kNone ? kNone : best + row[i];
      back[i] = arg;
    }
    long* swap = prev;
    prev = curr;
    curr = swap;
  }
  long total = prev[count - 1];
  if (total >= kNone) {
    total = -1;
  } else {
    int node = count - 1;
    for (int t = n - 1; t >= 0; t--) {
      pels[t] = nodes[node].pel;
      if (nodeIndex) nodeIndex[t] = node;
      node = from[static_cast<std::size_t>(t) * count + node];
    }
  }
  delete[] from;
  delete[] prev;
  delete[] curr;
  delete[] costs;
  return total;
}

}  // namespace vlm
