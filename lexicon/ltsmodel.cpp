#define VLM_UNIT "ltsmodel"
#include "lexicon/ltsmodel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "foundation/copystr.h"
#include "foundation/filepath.h"
#include "foundation/log.h"
#include "lexicon/phoneset.h"

namespace vlm {

int isLtsHeldOutWord(const char* name) {
  if (!name) return 0;
  uint32_t h = 2166136261u;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
    h ^= *p;
    h *= 16777619u;
  }
  return h % 20 == 7;
}

namespace {

// Reads the little-endian fields of a model image, refusing to read past its end.
struct Reader {
  const unsigned char* at;
  const unsigned char* end;
  bool ok = true;

  unsigned byte() {
    if (at >= end) return ok = false, 0;
    return *at++;
  }
  unsigned u16() {
    const unsigned lo = byte();
    return lo | (byte() << 8);
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<uint32_t>(byte()) << (8 * k);
    return v;
  }
  uint32_t varint() {
    uint32_t v = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      const unsigned b = byte();
      v |= static_cast<uint32_t>(b & 0x7f) << shift;
      if (!(b & 0x80)) return v;
    }
    ok = false;
    return 0;
  }
};

constexpr float kLogStep = 1.0f / 1024.0f;

// Rounds n up to a multiple of 16 bytes so that every table in the block stays aligned.
inline int64_t aligned16(int64_t n) { return (n + 15) & ~int64_t(15); }

}  // namespace

LtsModel::~LtsModel() { clear(); }

void LtsModel::clear() {
  std::free(storage);
  storage = nullptr;
  std::free(candidateStart);
  candidateStart = nullptr;
  std::free(candidate);
  candidate = nullptr;
  modelOrder = graphones = nodeCount = 0;
  text = nullptr;
  letterAt = phoneAt = nullptr;
  letterCount = phoneCount = nullptr;
  byLetter = nullptr;
  std::memset(byLetterStart, 0, sizeof byLetterStart);
  std::memset(knownLetter, 0, sizeof knownLetter);
  nodeGraphone = nullptr;
  nodeLogProb = nodeBackOff = nullptr;
  firstChild = childCount = backOffNode = nextState = nullptr;
}

int LtsModel::readFile(const char* path) {
  clear();
  FILE* f = path ? std::fopen(path, "rb") : nullptr;
  unsigned char* image = nullptr;
  long length = -1;
  if (f && std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
  if (f && length > 0 && std::fseek(f, 0, SEEK_SET) == 0) {
    image = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length)));
    if (image && std::fread(image, 1, static_cast<size_t>(length), f) != static_cast<size_t>(length)) {
      std::free(image);
      image = nullptr;
    }
  }
  if (f) std::fclose(f);
  const int ok = image && readImage(image, length);
  std::free(image);
  if (!ok) logError("letter-to-sound model unreadable: ", path ? path : "(null)");
  return ok;
}

int LtsModel::readImage(const unsigned char* image, int64_t length) {
  clear();
  if (!image || length < 20 || std::memcmp(image, "VLMLTS01", 8) != 0) return 0;
  Reader r{image + 8, image + length};
  const uint32_t order = r.u32(), gCount = r.u32(), nCount = r.u32();
  // Graphone ids are 16-bit; the node count must at least hold the root and every unigram.
  if (!r.ok || order < 1 || order > 32 || gCount < 3 || gCount > 32000 || nCount < gCount + 1 ||
      static_cast<int64_t>(nCount) * 5 > length)  // every node takes at least 5 bytes
    return 0;

  // One block: graphone texts and tables, the letter index, then the node tables.
  const int64_t textBytes = aligned16(static_cast<int64_t>(gCount) * 4);
  int64_t size = textBytes + aligned16(gCount * sizeof(int)) * 2 + aligned16(gCount) * 2 +
                 aligned16(gCount * sizeof(short)) + aligned16(nCount * sizeof(short)) +
                 aligned16(nCount * sizeof(float)) * 2 + aligned16(nCount * sizeof(int)) * 4;
  storage = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
  if (!storage) return 0;
  unsigned char* at = storage;
  auto take = [&](int64_t bytes) {
    unsigned char* p = at;
    at += aligned16(bytes);
    return p;
  };
  text = reinterpret_cast<char*>(take(textBytes));
  letterAt = reinterpret_cast<int*>(take(gCount * sizeof(int)));
  phoneAt = reinterpret_cast<int*>(take(gCount * sizeof(int)));
  letterCount = take(gCount);
  phoneCount = take(gCount);
  byLetter = reinterpret_cast<short*>(take(gCount * sizeof(short)));
  nodeGraphone = reinterpret_cast<short*>(take(nCount * sizeof(short)));
  nodeLogProb = reinterpret_cast<float*>(take(nCount * sizeof(float)));
  nodeBackOff = reinterpret_cast<float*>(take(nCount * sizeof(float)));
  firstChild = reinterpret_cast<int*>(take(nCount * sizeof(int)));
  childCount = reinterpret_cast<int*>(take(nCount * sizeof(int)));
  backOffNode = reinterpret_cast<int*>(take(nCount * sizeof(int)));
  nextState = reinterpret_cast<int*>(take(nCount * sizeof(int)));

  // Graphones: letter count and letters, phone count and phones (at most 2 of each; 4 bytes).
  int textAt = 0;
  int firstLetterCount[256] = {};
  for (uint32_t g = 0; g < gCount && r.ok; ++g) {
    const unsigned lc = r.byte();
    if (lc > 2 || (g >= 2 && lc == 0) || (g < 2 && lc != 0)) r.ok = false;
    letterAt[g] = textAt;
    letterCount[g] = static_cast<unsigned char>(lc);
    for (unsigned k = 0; k < lc && r.ok; ++k) {
      const unsigned c = r.byte();
      if (ltsLetterCode(static_cast<int>(c)) < 0) r.ok = false;
      text[textAt++] = static_cast<char>(c);
      knownLetter[c] = 1;
    }
    const unsigned pc = r.byte();
    if (pc > 2 || (g < 2 && pc != 0)) r.ok = false;
    phoneAt[g] = textAt;
    phoneCount[g] = static_cast<unsigned char>(pc);
    for (unsigned k = 0; k < pc && r.ok; ++k) {
      const unsigned c = r.byte();
      if (!isPhone(static_cast<int>(c)) || c == static_cast<unsigned>(kSilencePhone)) r.ok = false;
      text[textAt++] = static_cast<char>(c);
    }
    if (r.ok && lc > 0) firstLetterCount[static_cast<unsigned char>(text[letterAt[g]])]++;
  }
  if (!r.ok) return clear(), 0;
  byLetterStart[0] = 0;
  for (int c = 0; c < 256; ++c) byLetterStart[c + 1] = byLetterStart[c] + firstLetterCount[c];
  int fill[256];
  for (int c = 0; c < 256; ++c) fill[c] = byLetterStart[c];
  for (uint32_t g = 2; g < gCount; ++g) byLetter[fill[static_cast<unsigned char>(text[letterAt[g]])]++] = static_cast<short>(g);

  // Nodes. The root's children are the unigrams, nodes 1 .. gCount.
  nodeGraphone[0] = -1;
  nodeLogProb[0] = 0;
  nodeBackOff[0] = 0;
  firstChild[0] = 1;
  childCount[0] = static_cast<int>(gCount);
  backOffNode[0] = -1;
  int64_t nextFree = 1 + static_cast<int64_t>(gCount);
  for (uint32_t i = 1; i < nCount && r.ok; ++i) {
    const unsigned g = r.u16();
    nodeGraphone[i] = static_cast<short>(g);
    nodeLogProb[i] = -static_cast<float>(r.u16()) * kLogStep;
    const uint32_t children = r.varint();
    nodeBackOff[i] = children > 0 ? -static_cast<float>(r.u16()) * kLogStep : 0.0f;
    // Unigrams in id order; a node's children come after it (breadth first), inside the table.
    if (g >= gCount || (i <= gCount && g != i - 1) || nextFree + children > nCount ||
        (children > 0 && nextFree <= i))
      r.ok = false;
    firstChild[i] = static_cast<int>(nextFree);
    childCount[i] = static_cast<int>(children);
    nextFree += children;
  }
  if (!r.ok || nextFree != nCount) return clear(), 0;

  // Candidate lists per letter context (graphone ids that begin with the context's letter).
  const uint32_t lists = r.u32();
  if (!r.ok || lists > static_cast<uint32_t>(kLtsLetterContexts)) return clear(), 0;
  const int64_t room = (r.end - r.at) / 2 + 1;
  candidateStart = static_cast<int*>(std::malloc(sizeof(int) * (kLtsLetterContexts + 1)));
  candidate = static_cast<short*>(std::malloc(sizeof(short) * static_cast<size_t>(room)));
  if (!candidateStart || !candidate) return clear(), 0;
  int listed = 0, previous = -1;
  int filled = 0;  // contexts whose start is set
  for (uint32_t l = 0; l < lists && r.ok; ++l) {
    const int context = static_cast<int>(r.u16());
    const int count = static_cast<int>(r.byte());
    if (context <= previous || context >= kLtsLetterContexts) r.ok = false;
    const int letter = context / kLtsLetterCodes % kLtsLetterCodes;
    while (r.ok && filled <= context) candidateStart[filled++] = listed;
    for (int k = 0; k < count && r.ok; ++k) {
      const unsigned g = r.u16();
      if (g < 2 || g >= gCount || ltsLetterCode(static_cast<unsigned char>(text[letterAt[g]])) != letter) r.ok = false;
      if (listed < room) candidate[listed++] = static_cast<short>(g);
    }
    previous = context;
  }
  while (filled <= kLtsLetterContexts) candidateStart[filled++] = listed;
  if (!r.ok || r.at != r.end) return clear(), 0;
  // Children must be sorted by graphone (binary search relies on it).
  for (uint32_t i = 1; i < nCount; ++i)
    for (int c = firstChild[i] + 1; c < firstChild[i] + childCount[i]; ++c)
      if (nodeGraphone[c] <= nodeGraphone[c - 1]) return clear(), 0;

  modelOrder = static_cast<int>(order);
  graphones = static_cast<int>(gCount);
  nodeCount = static_cast<int>(nCount);
  // Back-off nodes and states, breadth first: a node's history without its oldest graphone is
  // the parent's back-off node extended by the node's graphone. A state is a node that has
  // children, so a node without any stands for its back-off node's state.
  for (uint32_t g = 0; g < gCount; ++g) backOffNode[1 + g] = 0;
  nextState[0] = 0;
  for (uint32_t i = 1; i < nCount; ++i) {
    for (int c = firstChild[i]; c < firstChild[i] + childCount[i]; ++c) {
      const int b = findChild(backOffNode[i], nodeGraphone[c]);
      // A stored n-gram whose shorter form is missing, or stored after it, is no model.
      if (b < 0 || b >= c) return clear(), 0;
      backOffNode[c] = b;
    }
    nextState[i] = childCount[i] > 0 ? static_cast<int>(i) : nextState[backOffNode[i]];
  }
  return 1;
}

int LtsModel::findChild(int node, int graphone) const {
  if (node == 0) return graphone >= 0 && graphone < graphones ? 1 + graphone : -1;
  int lo = firstChild[node], hi = lo + childCount[node] - 1;
  while (lo <= hi) {
    const int mid = (lo + hi) >> 1;
    const int g = nodeGraphone[mid];
    if (g == graphone) return mid;
    if (g < graphone) lo = mid + 1;
    else hi = mid - 1;
  }
  return -1;
}

float LtsModel::transition(int state, int graphone, int* next) const {
  float backOff = 0;
  for (int s = state; s >= 0; s = backOffNode[s]) {
    const int c = findChild(s, graphone);
    if (c >= 0) {
      *next = nextState[c];
      return backOff + nodeLogProb[c];
    }
    backOff += nodeBackOff[s];
  }
  *next = 0;
  return -1e9f;
}

int LtsModel::canPronounce(const char* word, int length) const {
  if (!isLoaded() || !word || length < 1 || length > kLtsMaxLetters) return 0;
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(word[i]);
    if (!knownLetter[c]) return 0;
  }
  return 1;
}

int LtsModel::pronounce(const char* word, int length, LtsPronunciation* out, int maxOut) const {
  if (!out || maxOut < 1 || !canPronounce(word, length)) return 0;
  Hyp trail[kTrailRoom];
  if (maxOut > kLtsMaxAlternatives) maxOut = kLtsMaxAlternatives;
  // trail[p * kLtsBeam ..] holds the best hypotheses that end after p letters, best first, one
  // per state; counts[p] how many.
  int counts[kLtsMaxLetters + 1] = {};
  auto offer = [&](int p, int state, int back, int graphone, float score) {
    Hyp* list = trail + p * kLtsBeam;
    int& k = counts[p];
    if (k > 0 && score < list[0].score - kLtsBeamWidth) return;
    if (k == kLtsBeam && score <= list[k - 1].score) return;
    int at = k;
    for (int i = 0; i < k; ++i)
      if (list[i].state == state) {
        if (list[i].score >= score) return;
        at = i;  // the same state reached better: its old entry goes
        break;
      }
    if (at == k && k == kLtsBeam) at = k - 1;  // the worst makes room
    else if (at == k) ++k;
    while (at > 0 && list[at - 1].score < score) {
      list[at] = list[at - 1];
      --at;
    }
    list[at] = Hyp{state, back, static_cast<short>(graphone), score};
  };

  offer(0, nextState[1], -1, 0, 0.0f);  // the state after the word start (unigram node 1)
  const unsigned char* letters = reinterpret_cast<const unsigned char*>(word);
  for (int p = 0; p < length; ++p) {
    const Hyp* list = trail + p * kLtsBeam;
    const int c = letters[p];
    // The graphones seen in training between these neighbours; all that begin with the letter
    // when the context was never seen.
    const int context = ((p > 0 ? ltsLetterCode(letters[p - 1]) : 0) * kLtsLetterCodes + ltsLetterCode(c)) *
                            kLtsLetterCodes +
                        (p + 1 < length ? ltsLetterCode(letters[p + 1]) : 0);
    const short* first = candidate + candidateStart[context];
    const short* last = candidate + candidateStart[context + 1];
    if (first == last) {
      first = byLetter + byLetterStart[c];
      last = byLetter + byLetterStart[c + 1];
    }
    for (int h = 0; h < counts[p]; ++h) {
      if (list[h].score < list[0].score - kLtsBeamWidth) break;
      for (const short* k = first; k < last; ++k) {
        const int g = *k;
        const int lc = letterCount[g];
        if (lc == 2 && (p + 1 >= length || text[letterAt[g] + 1] != word[p + 1])) continue;
        int next = 0;
        const float score = list[h].score + transition(list[h].state, g, &next);
        offer(p + lc, next, p * kLtsBeam + h, g, score);
      }
    }
  }

  // Ends: add the word end, then read each path back; equal phone strings keep the best.
  const Hyp* finals = trail + length * kLtsBeam;
  float endScore[kLtsBeam];
  int order[kLtsBeam];
  for (int h = 0; h < counts[length]; ++h) {
    int next = 0;
    endScore[h] = finals[h].score + transition(finals[h].state, 1, &next);
    order[h] = h;
  }
  for (int i = 1; i < counts[length]; ++i)
    for (int j = i; j > 0 && endScore[order[j]] > endScore[order[j - 1]]; --j) {
      const int t = order[j];
      order[j] = order[j - 1];
      order[j - 1] = t;
    }
  // Paths that give the same phones (other segmentations of the word) add up.
  LtsPronunciation merged[kLtsBeam];
  int distinct = 0;
  for (int i = 0; i < counts[length]; ++i) {
    char reversed[kLtsPronRoom];
    int n = 0;
    for (int t = length * kLtsBeam + order[i]; t >= 0 && trail[t].back >= 0; t = trail[t].back) {
      const int g = trail[t].graphone;
      for (int k = phoneCount[g] - 1; k >= 0 && n < kLtsPronRoom - 1; --k) reversed[n++] = text[phoneAt[g] + k];
    }
    if (n == 0) continue;  // no phone at all is no pronunciation
    LtsPronunciation& r = merged[distinct];
    for (int k = 0; k < n; ++k) r.phones[k] = reversed[n - 1 - k];
    r.phones[n] = 0;
    const float score = endScore[order[i]];
    int same = 0;
    while (same < distinct && std::strcmp(merged[same].phones, r.phones) != 0) ++same;
    if (same < distinct) {
      const float high = merged[same].score > score ? merged[same].score : score;
      const float low = merged[same].score > score ? score : merged[same].score;
      merged[same].score = high + static_cast<float>(std::log1p(std::exp(static_cast<double>(low - high))));
      continue;
    }
    r.score = score;
    ++distinct;
  }
  for (int i = 1; i < distinct; ++i)
    for (int j = i; j > 0 && merged[j].score > merged[j - 1].score; --j) {
      const LtsPronunciation t = merged[j];
      merged[j] = merged[j - 1];
      merged[j - 1] = t;
    }
  const int found = distinct < maxOut ? distinct : maxOut;
  for (int i = 0; i < found; ++i) out[i] = merged[i];
  double sum = 0;
  for (int i = 0; i < found; ++i) sum += std::exp(static_cast<double>(out[i].score - out[0].score));
  for (int i = 0; i < found; ++i)
    out[i].posterior = static_cast<float>(std::exp(static_cast<double>(out[i].score - out[0].score)) / sum);
  return found;
}

// The process's choice of translator.
namespace {

std::mutex choiceLock;
LtsModel* chosenModel = nullptr;
bool searched = false;
char chosenPath[kVlmPathRoom + 1] = {0};
bool pathGiven = false;   // setLetterToSoundModel was called
bool rulesChosen = false;

int fileExists(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return 0;
  std::fclose(f);
  return 1;
}

void dropModel() {
  delete chosenModel;
  chosenModel = nullptr;
}

}  // namespace

LtsModel* letterToSoundModel() {
  std::lock_guard<std::mutex> hold(choiceLock);
  if (searched) return chosenModel;
  searched = true;
  const char* path = nullptr;
  if (pathGiven) {
    path = rulesChosen ? nullptr : chosenPath;
  } else if (const char* env = std::getenv("VELMORA_LTS"); env && *env) {
    path = std::strcmp(env, "rules") == 0 ? nullptr : env;
  } else if (fileExists(kLtsModelFileName)) {
    path = kLtsModelFileName;
  } else {
    const char* inData = catFname2VlmDir(kLtsModelFileName);
    if (inData && fileExists(inData)) path = inData;
  }
  if (!path) return nullptr;
  chosenModel = new (std::nothrow) LtsModel;
  if (chosenModel && !chosenModel->readFile(path)) dropModel();
  return chosenModel;
}

void setLetterToSoundModel(const char* path) {
  std::lock_guard<std::mutex> hold(choiceLock);
  dropModel();
  searched = false;
  pathGiven = true;
  rulesChosen = !path;
  chosenPath[0] = 0;
  if (path) copyString(chosenPath, path, sizeof chosenPath);
}

void resetLetterToSoundForTest() {
  std::lock_guard<std::mutex> hold(choiceLock);
  dropModel();
  searched = false;
  pathGiven = false;
  rulesChosen = false;
  chosenPath[0] = 0;
}

}  // namespace vlm
