// The n-best back-trace, result item arrays and the result list.
#define VLM_UNIT "recog"
#include "search/result.h"

#include <new>

#include "audio/utterance.h"
#include "foundation/copystr.h"
#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"

namespace vlm {

int cmpResultHypo(const void* a, const void* b) {
  return static_cast<const ResultHypo*>(b)->score - static_cast<const ResultHypo*>(a)->score;
}

int cmpResults(const void* a, const void* b) {
  return static_cast<const FSGNodeTypeItemAC*>(b)->score - static_cast<const FSGNodeTypeItemAC*>(a)->score;
}

// ---- back-trace ---------------------------------------------------------------------------

ResultHypoPQ::ResultHypoPQ(OneShotHeap* a, RuleDictionary* r)
    : HeapPQ<ResultHypo>(cmpResultHypo, 20480, 20480), arena(a), rules(r) {}

ResultHypo* ResultHypoPQ::pushNew(ResultHypo* next, int score, WordEnding* we) {
  void* memory = arena->allocate(sizeof(ResultHypo));
  if (memory == nullptr) return nullptr;
  auto* h = new (memory) ResultHypo{next, score, we};
  push(h);
  return h;
}

namespace {

int rulePenalty(RuleDictionary* rules, int rule) {
  RuleData* rd = rules ? rules->ruleAt(rule) : nullptr;
  return rd ? rd->LM : 0;
}

int ruleOfHistory(const History* h) { return h && h->node ? h->node->rule : 0; }

int depthOf(const ReturnTree* t) { return t ? t->depth : 0; }

}  // namespace

int ResultHypoPQ::rulePenalties(const WordEnding* w, const WordEnding* hw) const {
  auto P = [this](int rule) { return rulePenalty(rules, rule); };
  const History* sh = hw->seedHistory;
  const int rh = ruleOfHistory(sh);
  ReturnTree* th = sh ? sh->returnTree : nullptr;
  int sum = 0;
  if (w->seedHistory == nullptr) {
    // from the utterance-initial silence into h's rule and every rule around it
    sum += P(rh);
    for (ReturnTree* t = th; t; t = t->parent) sum += P(t->rule());
    return sum;
  }
  const int rw = ruleOfHistory(w->seedHistory);
  ReturnTree* tw = w->seedHistory->returnTree;
  if (tw == th) return rh != rw ? P(rh) : 0;
  if (th == nullptr) return 0;
  if (tw == nullptr) {
    sum += P(rh);
    for (ReturnTree* t = th; t && t->parent; t = t->parent) sum += P(t->rule());
    return sum;
  }
  if (depthOf(tw) < depthOf(th)) {
    sum += P(rh);
    ReturnTree* t = th;
    while (t && depthOf(t) > depthOf(tw) + 1) {
      sum += P(t->rule());
      t = t->parent;
    }
    if (t == nullptr) return sum;
    if (t->parent == tw) {
      if (t->rule() != rw) sum += P(t->rule());
      return sum;
    }
    sum += P(t->rule());
    ReturnTree* u = t->parent;
    ReturnTree* v = tw;
    while (u && v && !(u->rule() == v->rule() && u->parent == v->parent)) {
      sum += P(u->rule());
      u = u->parent;
      v = v->parent;
    }
    return sum;
  }
  ReturnTree* v = tw;
  while (v && depthOf(v) > depthOf(th) + 1) v = v->parent;
  if (v && v->parent == th && depthOf(v) > depthOf(th)) {
    if (v->rule() != rh) sum += P(rh);
    return sum;
  }
  if (v && depthOf(v) != depthOf(th)) v = v->parent;
  sum += P(rh);
  ReturnTree* u = th;
  while (u && v && !(u->rule() == v->rule() && u->parent == v->parent)) {
    sum += P(u->rule());
    u = u->parent;
    v = v->parent;
  }
  return sum;
}

void ResultHypoPQ::propagate(ResultHypo* h) {
  if (h == nullptr || h->we == nullptr) return;
  History* s = h->we->seedHistory;
  if (s == nullptr) return;
  if (s->sorted == nullptr) {
    int n = s->endings.size();
    if (n == 0) return;
    if (n > kMaxEndingsPerHistory) n = kMaxEndingsPerHistory;
    auto** list = static_cast<WordEnding**>(arena->allocate(sizeof(WordEnding*) * static_cast<std::size_t>(n)));
    if (list == nullptr) return;
    int k = 0;
    while (k < n) {
      WordEnding* w = s->endings.pop();
      if (w == nullptr) break;
      list[k++] = w;
    }
    s->sorted = list;
    s->sortedCount = k;
  }
  VLM_ASSERT(s->sortedCount > 0, "top->count()");
  if (s->sortedCount <= 0) return;
  const int best = s->sorted[0]->score;
  for (int i = 0; i < s->sortedCount; i++) {
    WordEnding* w = s->sorted[i];
    // The word's own entry cost (kWordPenalty) is already in h's score: the search adds it where
    // the word is entered, so that paths are compared with it.
    const int cost = h->score + rulePenalties(w, h->we) + (w->score - best);
    pushNew(h, cost, w);
  }
}

// ---- completed paths ------------------------------------------------------------------------

namespace {

// The rule path of a context: the rules of the return nodes from the outermost to the innermost,
// then the context's own rule; empty for (no return tree, rule 0).
int rulePath(const ReturnTree* t, int rule, int* path, int room) {
  if (t == nullptr && rule == 0) return 0;
  int n = 0;
  for (const ReturnTree* u = t; u; u = u->parent) n++;
  if (n + 1 > room) n = room - 1;
  int i = n;
  for (const ReturnTree* u = t; u && i > 0; u = u->parent) path[--i] = u->rule();
  path[n] = rule;
  return n + 1;
}

}  // namespace

FSGNodeTypeItemAC* ResultHypo::addResult(ResultHypo* hypo, RecogResult* list, RuleDictionary* rules, int endFrame) {
  VLM_ASSERT(hypo && hypo->we && 0 == hypo->we->seedHistory && SILENCE_ID == hypo->we->id,
             "hypo && hypo->we && 0==hypo->we->seedHistory && SILENCE_ID==hypo->we->id");
  if (!(hypo && hypo->we && hypo->we->seedHistory == nullptr && hypo->we->id == SILENCE_ID)) return nullptr;
  VLM_ASSERT(hypo->next(), "hypo->next()");
  if (hypo->next() == nullptr || list == nullptr) return nullptr;

  static FSGNodeTypeItemAC items(127, 127);
  static WordFrames bounds;
  items.removeAll();
  bounds.removeAll();
  items.score = hypo->score;
  ReturnTree* prevTree = nullptr;
  int prevRule = 0;
  constexpr int kPathRoom = 128;
  int oldPath[kPathRoom];
  int newPath[kPathRoom];
  for (ResultHypo* x = hypo->next(); x; x = x->next()) {
    const History* seed = x->we->seedHistory;
    const int r = ruleOfHistory(seed);
    ReturnTree* t = seed ? seed->returnTree : nullptr;
    if (t == prevTree) {
      if (r != prevRule) {
        items.add(eRuleNode, r);
        prevRule = r;
      }
    } else {
      const int oldLength = rulePath(prevTree, prevRule, oldPath, kPathRoom);
      const int newLength = rulePath(t, r, newPath, kPathRoom);
      int i = (oldLength < newLength ? oldLength : newLength) - 1;
      while (i >= 0 && oldPath[i] != newPath[i]) i--;
      for (int j = i + 1; j < newLength; j++) items.add(eRuleNode, newPath[j]);
      prevTree = t;
      prevRule = r;
    }
    const int word = x->we->id;
    items.add(word == kOutOfVocabularyWord ? eOutOfVocabularyNode : eWordNode, word);
    // the word was entered from a history of the frame it begins in
    bounds.add(seed && seed->group ? seed->group->frame : 0);
  }
  items.add(eTerminalNode, prevRule);
  bounds.add(endFrame >= 0 ? endFrame : bounds[bounds.count() - 1]);
  return list->addResult(&items, &bounds);
}

// ---- item arrays ----------------------------------------------------------------------------

namespace {

char* joinItems(const FSGNodeTypeItemAC& items, WordDictionary* words, char* buffer, int size, bool prons,
                const char* separator) {
  if (buffer == nullptr || size <= 0) return buffer;
  char* p = buffer;
  char* const end = buffer + size;  // room includes the NUL
  *p = 0;
  bool firstWord = true;
  for (int i = 0; i < items.count(); i++) {
    const FSGNodeTypeItem& item = items[i];
    if (item.type != eWordNode) continue;
    const char* text = words ? (prons ? words->pronOf(item.value) : words->nameOf(item.value)) : nullptr;
    if (text == nullptr) text = "";
    if (!firstWord) p = copyString(p, separator, static_cast<int>(end - p));
    p = copyString(p, text, static_cast<int>(end - p));
    firstWord = false;
  }
  return p;
}

}  // namespace

char* toAscii(const FSGNodeTypeItemAC& items, WordDictionary* words, char* buffer, int size) {
  return joinItems(items, words, buffer, size, false, " ");
}

char* toProns(const FSGNodeTypeItemAC& items, WordDictionary* words, char* buffer, int size) {
  return joinItems(items, words, buffer, size, true, ".");
}

int ruleIds(const FSGNodeTypeItemAC& items, int* out, int max) {
  int n = 0;
  for (int i = 0; i < items.count() && n < max; i++)
    if (items[i].type == eRuleNode) out[n++] = items[i].value;
  if (n < max) out[n] = 0;
  return n;
}

int generateHash(FSGNodeTypeItemAC& items) {
  unsigned h = 0;
  for (int i = 0; i < items.count(); i++) {
    const FSGNodeTypeItem& item = items[i];
    if (item.type == eWordNode || item.type == eRuleNode)
      h = (h * 3 + static_cast<unsigned>(item.value)) & 0xffffffu;
  }
  items.hash = static_cast<int>(h);
  return items.hash;
}

FSGNodeTypeItemAC& noAltProns(FSGNodeTypeItemAC& items, WordDictionary* words) {
  for (int i = 0; i < items.count(); i++) {
    FSGNodeTypeItem& item = items[i];
    if (item.type != eWordNode) continue;
    WordData* data = words ? words->wordAt(item.value) : nullptr;
    if (data == nullptr || data->isPrimary()) continue;
    WordData* primary = words->getWordData(data->name);
    item.value = primary ? primary->index : -1;
  }
  generateHash(items);
  return items;
}

int cmpFSGNodeTypeItemACs(const FSGNodeTypeItemAC* a, const FSGNodeTypeItemAC* b) {
  if (a->hash != b->hash) return b->hash - a->hash;
  if (a->count() != b->count()) return b->count() - a->count();
  for (int i = 0; i < a->count(); i++) {
    const FSGNodeTypeItem& x = (*a)[i];
    const FSGNodeTypeItem& y = (*b)[i];
    if (x.type != y.type) return 1;
    if ((x.type == eWordNode || x.type == eRuleNode) && x.value != y.value) return 1;
  }
  return 0;
}

// ---- the result list ------------------------------------------------------------------------

RecogResult::RecogResult(WordDictionary* words) : results(10, 10), frames(10, 10), wordDictionary(words) {
  // an utterance that is given this list must be able to delete and render it
  installResultHooks();
}

RecogResult::~RecogResult() { removeAll(); }

FSGNodeTypeItemAC* RecogResult::addResult(FSGNodeTypeItemAC* source, const WordFrames* sourceFrames) {
  VLM_ASSERT(source && source->count(), "srcItemAC && srcItemAC->count()");
  if (source == nullptr || source->count() == 0) return nullptr;
  generateHash(*source);
  for (int i = 0; i < results.count(); i++)
    if (cmpFSGNodeTypeItemACs(results[i], source) == 0) return nullptr;
  auto* copy = new FSGNodeTypeItemAC(source->count() + 1, 10);
  for (int i = 0; i < source->count(); i++) copy->add((*source)[i]);
  copy->score = source->score;
  copy->hash = source->hash;
  auto* spans = new WordFrames;
  if (sourceFrames)
    for (int i = 0; i < sourceFrames->count(); i++) spans->add((*sourceFrames)[i]);
  results.add(copy);
  frames.add(spans);
  return copy;
}

void RecogResult::removeAll() {
  for (int i = 0; i < results.count(); i++) delete results[i];
  for (int i = 0; i < frames.count(); i++) delete frames[i];
  results.removeAll();
  frames.removeAll();
  selected = -1;
  wordDictionary = nullptr;
}

void RecogResult::noAltProns() {
  // best first (a stable insertion sort: equal scores keep their order, and lists are short)
  const int n = results.count();
  for (int i = 0; i < n; i++) vlm::noAltProns(*results[i], wordDictionary);
  for (int i = 1; i < n; i++)
    for (int j = i; j > 0 && results[j]->score < results[j - 1]->score; j--) {
      FSGNodeTypeItemAC* r = results[j];
      results.setEntry(j, results[j - 1]);
      results.setEntry(j - 1, r);
      WordFrames* f = frames[j];
      frames.setEntry(j, frames[j - 1]);
      frames.setEntry(j - 1, f);
    }
  int kept = 0;
  for (int i = 0; i < n; i++) {
    bool duplicate = false;
    for (int k = 0; k < kept && !duplicate; k++) duplicate = cmpFSGNodeTypeItemACs(results[k], results[i]) == 0;
    if (duplicate) {
      delete results[i];
      delete frames[i];
      continue;
    }
    results.setEntry(kept, results[i]);
    frames.setEntry(kept, frames[i]);
    kept++;
  }
  results.removeEntriesTo(kept);
  frames.removeEntriesTo(kept);
  selected = -1;
}

// ---- utterance hooks ------------------------------------------------------------------------

namespace {

void deleteResult(RecogResult* result) { delete result; }

int renderResult(const RecogResult* result, WordDictionary* dict, char* buffer, int room) {
  if (result == nullptr || buffer == nullptr || room <= 0) return 0;
  buffer[0] = 0;
  if (result->selected < 0 || result->selected >= result->count()) return 0;
  char* end = toAscii(*result->at(result->selected), dict ? dict : result->wordDictionary, buffer, room);
  return static_cast<int>(end - buffer);
}

}  // namespace

void installResultHooks() {
  Utterance::resultDeleter = deleteResult;
  Utterance::resultRenderer = renderResult;
}

}  // namespace vlm
