// The path-merging property of the search, shared by the search tests (a small sample) and the
// fuzz target tests/fuzz/search_merge_fuzz.cpp (at length): for a random grammar and a random
// utterance, the search must find the same best words and score as on the same language written
// out sentence by sentence (no shared rules, options, alternatives or trees), must never report
// a score better than the best forced alignment of any sentence of the language (with beams wide
// enough to prune nothing it must find exactly that), and never do worse than the forced
// alignment of the words spoken by more than the state beam.
//
// The long-stay penalty is off while a case runs: with it a path's future cost depends on how
// long it has stayed in its state, and where two paths meet in one state the search keeps the
// lower score only (as specified), so a grammar that shares a state can lose by up to 27 what its
// written-out form keeps in two states. That is the duration model's, not the grammar's.
//
// Grammars are made of words, references to earlier rules (the same rule may be referred to
// several times, also right after itself), sequences, alternatives, optional parts, word trees
// (with continuation rules) and the out-of-vocabulary element; their languages are finite, so
// the written-out grammar can list every sentence. Utterances are made from the pel chain of one
// sentence, each state held for a random number of frames and blended with a random other
// template, or from random pels altogether: speech the models fit poorly, where many paths come
// close to each other.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/utterance.h"
#include "grammar/ruledict.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "tests/search/chainpels.h"

namespace searchtest {

using namespace vlm;

class MergeProperty {
 public:
  // The vocabulary: names and pronunciations (every one of at least two phones, so each may
  // stand in a word tree), chosen so that several share first or last phones and classes.
  struct Entry {
    const char* name;
    const char* pron;
  };
  static constexpr Entry kWords[] = {{"sun", "s@n"},    {"moon", "mun"},  {"fish", "fiS"},
                                     {"dog", "d0g"},    {"ball", "bOl"},  {"red", "rEd"},
                                     {"blue", "blu"},   {"four", "fOr"},  {"of", "@v"},
                                     {"clubs", "kl@bz"}, {"queen", "kwin"}, {"two", "tu"},
                                     {"bell", "bEl"},   {"bed", "bEd"}};
  static constexpr int kWordCount = sizeof kWords / sizeof kWords[0];
  static constexpr int kOov = -1;  // the out-of-vocabulary element in a sentence

  using Sentence = std::vector<int>;

  MergeProperty() {
    user.makeSeparated();
    for (const Entry& e : kWords) words.addWordIfNew(e.name, e.pron, 0);
  }

  // Runs one case from the random stream seeded with seed; an empty text when the property
  // holds, else what went wrong (with the grammar and the sentence, to reproduce it).
  std::string check(std::uint64_t seed) {
    const NoLongStay quiet;
    std::mt19937_64 rng(seed);
    Grammar g;
    if (!makeGrammar(rng, &g)) return "";  // language too large: nothing to compare
    std::vector<Sentence> language = g.language(g.top());
    language.erase(std::remove_if(language.begin(), language.end(), [](const Sentence& s) { return s.empty(); }),
                   language.end());
    if (language.empty()) return "";
    const Sentence& spoken = language[rng() % language.size()];
    std::unique_ptr<Utterance> utt(makeUtterance(rng, spoken));

    std::string rul = g.text();
    std::string flat = "RULE flat {";
    for (const Sentence& s : language) flat += "\n ( " + sentenceText(s) + " )";  // lines stay short
    flat += " } ;\n";
    const std::string context = "grammar:\n" + rul + "spoken: " + sentenceText(spoken) + "\n";

    Outcome a = run(rul, "top", utt.get());
    Outcome b = run(flat, "flat", utt.get());
    Outcome forced = run("RULE forced ( " + sentenceText(spoken) + " ) ;\n", "forced", utt.get());
    if (a.error.size() || b.error.size() || forced.error.size())
      return context + "grammar not loaded: " + a.error + " / " + b.error + " / " + forced.error;
    if (a.found != b.found || (a.found && a.score != b.score))
      return context + "grammar: " + a.describe() + "\nwritten out: " + b.describe();
    if (a.found && !b.tied && a.words != b.words)
      return context + "grammar: " + a.describe() + "\nwritten out: " + b.describe();
    // (A path the beam dropped may leave nothing that ends in silence: finding nothing where the
    // forced alignment finds the words is the beam's doing, checked without pruning below.)
    if (forced.found && a.found && a.score > forced.score + pruneThresh)
      return context + "grammar: " + a.describe() + "\nforced: " + forced.describe();

    // Without pruning the search must find exactly the best forced alignment of all sentences.
    if (language.size() <= 24) {
      const int oldPrune = setPruneThresh(kWideBeam);
      const int oldWordEnd = setWordEndBeam(kWideBeam - 10);
      const long oldMemory = setMaxMemoryAlloced(1L << 30);
      Outcome wide = run(rul, "top", utt.get());
      int bestForced = kNoScore;
      for (const Sentence& s : language) {
        Outcome f = run("RULE forced ( " + sentenceText(s) + " ) ;\n", "forced", utt.get());
        if (f.found && f.score < bestForced) bestForced = f.score;
      }
      setPruneThresh(oldPrune);
      setWordEndBeam(oldWordEnd);
      setMaxMemoryAlloced(oldMemory);
      if ((wide.found ? wide.score : kNoScore) != bestForced)
        return context + "without pruning: " + wide.describe() + "\nbest forced alignment: " +
               std::to_string(bestForced);
    }
    return "";
  }

  static constexpr int kWideBeam = 90000;

  // Two grammars of the same language on one utterance of spoken (made with the random stream of
  // seed): "" when both give the same best words and score, else both results.
  std::string compareOn(std::uint64_t seed, const std::string& a, const std::string& b, const Sentence& spoken) {
    const NoLongStay quiet;
    std::mt19937_64 rng(seed);
    std::unique_ptr<Utterance> utt(makeUtterance(rng, spoken));
    const Outcome x = run(a, "top", utt.get());
    const Outcome y = run(b, "top", utt.get());
    if (x.error.size() || y.error.size()) return "grammar not loaded";
    if (x.found == y.found && (!x.found || (x.score == y.score && x.words == y.words))) return "";
    return x.describe() + " | " + y.describe();
  }
  static int wordIndex(const char* name) {
    for (int i = 0; i < kWordCount; i++)
      if (std::string(kWords[i].name) == name) return i;
    return -1;
  }

 private:
  struct NoLongStay {
    NoLongStay() : saved(longStayPenalty) { longStayPenalty = 0; }
    ~NoLongStay() { longStayPenalty = saved; }
    int saved;
  };

  // ---- grammars ----
  struct Expr {
    enum Kind { eWord, eRef, eSeq, eAlt, eOpt, eTree, eOovItem } kind;
    int value = 0;               // word index into kWords, or rule number
    std::vector<Expr> parts;     // sequence, alternative and optional content; tree words
    std::vector<int> continuation;  // tree words: the continuation rule or -1
  };

  struct Grammar {
    std::vector<Expr> rules;  // rule i may refer to rules below i; the last is the top rule
    std::vector<std::vector<Sentence>> cache;
    bool tooLarge = false;

    int top() const { return static_cast<int>(rules.size()) - 1; }
    static std::string name(int r, int top) { return r == top ? "top" : "h" + std::to_string(r); }

    std::string print(const Expr& e) const {
      switch (e.kind) {
        case Expr::eWord: return kWords[e.value].name;
        case Expr::eOovItem: return "&OutOfVocabularyRule";
        case Expr::eRef: return "&" + name(e.value, top());
        case Expr::eSeq: {
          std::string s = "(";
          for (const Expr& p : e.parts) s += " " + print(p);
          return s + " )";
        }
        case Expr::eAlt: {
          std::string s = "{";
          for (const Expr& p : e.parts) s += " " + print(p);
          return s + " }";
        }
        case Expr::eOpt: {
          std::string s = "[";
          for (const Expr& p : e.parts) s += " " + print(p);
          return s + " ]";
        }
        case Expr::eTree: {
          std::string s = "<";
          for (size_t i = 0; i < e.parts.size(); i++) {
            s += std::string(" ") + kWords[e.parts[i].value].name;
            if (e.continuation[i] >= 0) s += " &" + name(e.continuation[i], top());
          }
          return s + " >";
        }
      }
      return "";
    }

    std::string text() const {
      std::string s;
      for (int r = 0; r <= top(); r++) s += "RULE " + name(r, top()) + " " + print(rules[r]) + " ;\n";
      return s;
    }

    // Every sentence of an expression (capped: tooLarge is set beyond 400).
    std::vector<Sentence> sentences(const Expr& e) {
      std::vector<Sentence> out;
      auto join = [this](const std::vector<Sentence>& a, const std::vector<Sentence>& b) {
        std::vector<Sentence> r;
        for (const Sentence& x : a)
          for (const Sentence& y : b) {
            Sentence z = x;
            z.insert(z.end(), y.begin(), y.end());
            r.push_back(z);
            if (r.size() > 400) {
              tooLarge = true;
              return r;
            }
          }
        return r;
      };
      switch (e.kind) {
        case Expr::eWord: return {Sentence{e.value}};
        case Expr::eOovItem: return {Sentence{kOov}};
        case Expr::eRef: return language(e.value);
        case Expr::eSeq:
        case Expr::eOpt:
          out.push_back(Sentence{});
          for (const Expr& p : e.parts) out = join(out, sentences(p));
          if (e.kind == Expr::eOpt) out.insert(out.begin(), Sentence{});
          return out;
        case Expr::eAlt:
          for (const Expr& p : e.parts) {
            std::vector<Sentence> s = sentences(p);
            out.insert(out.end(), s.begin(), s.end());
          }
          if (out.size() > 400) tooLarge = true;
          return out;
        case Expr::eTree:
          for (size_t i = 0; i < e.parts.size(); i++) {
            std::vector<Sentence> head{Sentence{e.parts[i].value}};
            std::vector<Sentence> s = e.continuation[i] >= 0 ? join(head, language(e.continuation[i])) : head;
            out.insert(out.end(), s.begin(), s.end());
          }
          return out;
      }
      return out;
    }

    std::vector<Sentence> language(int r) {
      if (cache.size() < rules.size()) cache.resize(rules.size());
      if (cache[r].empty()) cache[r] = sentences(rules[r]);
      return cache[r];
    }
  };

  Expr makeExpr(std::mt19937_64& rng, int rulesBelow, int depth) {
    Expr e;
    const int roll = static_cast<int>(rng() % 100);
    if (depth >= 3 || roll < 35) {
      e.kind = Expr::eWord;
      e.value = static_cast<int>(rng() % kWordCount);
      return e;
    }
    if (roll < 55 && rulesBelow > 0) {
      e.kind = Expr::eRef;
      e.value = static_cast<int>(rng() % rulesBelow);
      return e;
    }
    if (roll < 58) {
      e.kind = Expr::eOovItem;
      return e;
    }
    if (roll < 66) {
      e.kind = Expr::eTree;
      const int n = 1 + static_cast<int>(rng() % 4);
      for (int i = 0; i < n; i++) {
        Expr w;
        w.kind = Expr::eWord;
        w.value = static_cast<int>(rng() % kWordCount);
        e.parts.push_back(w);
        e.continuation.push_back(rulesBelow > 0 && rng() % 3 == 0 ? static_cast<int>(rng() % rulesBelow) : -1);
      }
      return e;
    }
    e.kind = roll < 80 ? Expr::eSeq : roll < 92 ? Expr::eAlt : Expr::eOpt;
    const int n = e.kind == Expr::eOpt ? 1 + static_cast<int>(rng() % 2) : 2 + static_cast<int>(rng() % 2);
    for (int i = 0; i < n; i++) e.parts.push_back(makeExpr(rng, rulesBelow, depth + 1));
    return e;
  }

  bool makeGrammar(std::mt19937_64& rng, Grammar* g) {
    const int helpers = static_cast<int>(rng() % 4);
    for (int r = 0; r <= helpers; r++) {
      Expr body = makeExpr(rng, r, 1);
      // a body begins with a bracket: wrap words, references and the element in a sequence
      if (body.kind == Expr::eWord || body.kind == Expr::eRef || body.kind == Expr::eOovItem) {
        Expr seq;
        seq.kind = Expr::eSeq;
        seq.parts.push_back(body);
        if (r == helpers) seq.parts.push_back(makeExpr(rng, r, 2));
        body = seq;
      }
      g->rules.push_back(body);
    }
    g->language(g->top());
    return !g->tooLarge;
  }

  std::string sentenceText(const Sentence& s) const {
    std::string t;
    for (int w : s) {
      if (!t.empty()) t += " ";
      t += w == kOov ? "&OutOfVocabularyRule" : kWords[w].name;
    }
    return t;
  }

  // ---- utterances ----
  Utterance* makeUtterance(std::mt19937_64& rng, const Sentence& s) {
    std::vector<short> pels;
    if (rng() % 5 == 0) {
      // random speech: pels of the vocabulary's words in any order
      std::vector<short> pool;
      for (const Entry& e : kWords)
        for (short p : chainPels({{e.pron}}))
          if (p != 0) pool.push_back(p);
      pels.push_back(0);
      const int n = 4 + static_cast<int>(rng() % 20);
      for (int i = 0; i < n; i++) pels.push_back(pool[rng() % pool.size()]);
      pels.push_back(0);
    } else {
      // the sentence's chain; the element stands for a few random states between pauses
      std::vector<Spoken> run;
      auto flush = [&]() {
        if (run.empty()) return;
        std::vector<short> part = chainPels(run);
        if (!pels.empty()) part.erase(part.begin());  // one silence between the parts
        pels.insert(pels.end(), part.begin(), part.end());
        run.clear();
      };
      for (int w : s) {
        if (w == kOov) {
          flush();
          if (pels.empty()) pels.push_back(0);
          const int n = 2 + static_cast<int>(rng() % 5);
          for (int i = 0; i < n; i++) pels.push_back(static_cast<short>(1 + rng() % (kPelCount - 1)));
          pels.push_back(0);
          continue;
        }
        run.push_back(Spoken{kWords[w].pron, rng() % 4 == 0});
      }
      flush();
    }
    const double blend = (rng() % 5) * 0.2;  // 0 (clean) to 0.8
    auto* utt = new Utterance(nullptr);
    for (size_t i = 0; i < pels.size(); i++) {
      const bool edge = pels[i] == 0 && (i == 0 || i + 1 == pels.size());
      const int n = edge ? 5 : 1 + static_cast<int>(rng() % 4);
      for (int r = 0; r < n; r++) {
        Frame f, other;
        user.templateFrame(pels[i], &f);
        const short o = rng() % 2 ? pels[rng() % pels.size()] : static_cast<short>(rng() % kPelCount);
        user.templateFrame(o, &other);
        const double m = blend * static_cast<double>(rng() % 1000) / 1000.0;
        for (int k = 0; k < kFrameFeatures; k++)
          f.features[k] = static_cast<int16_t>(f.features[k] * (1 - m) + other.features[k] * m);
        utt->frames.add(f);
      }
    }
    utt->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    return utt;
  }

  // ---- searching ----
  struct Outcome {
    bool found = false;
    bool tied = false;  // the second result has the best score too
    int score = 0;
    std::string words;
    std::string error;
    std::string describe() const {
      return found ? "\"" + words + "\" " + std::to_string(score) + (tied ? " (tied)" : "") : "nothing";
    }
  };

  Outcome run(const std::string& text, const char* top, Utterance* utt) {
    Outcome out;
    RuleDictionary rules(64);
    const int fd = memfd_create("rules", 0);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
      if (fd >= 0) close(fd);
      out.error = "cannot stage the rules";
      return out;
    }
    const int read = rules.readFd(fd, &words);
    close(fd);
    RuleData* rd = rules.getRuleData(top);
    if (read != 1 || rules.readErrorCount() != 0 || rd == nullptr) {
      out.error = "rules rejected";
      return out;
    }
    int id = rd->index;
    Recognizer recognizer(&user, &words, &rules);
    const int n = recognizer.recognize(utt, &id, 1);
    if (n > 0) {
      char buffer[512];
      const FSGNodeTypeItemAC& best = *utt->result->at(0);
      toAscii(best, &words, buffer, sizeof buffer);
      out.found = true;
      out.score = best.score;
      out.words = buffer;
      out.tied = n > 1 && utt->result->at(1)->score == best.score;
    }
    utt->result->removeAll();
    utt->flags &= ~Utterance::UTT_ABORTED;
    return out;
  }

  User user;
  WordDictionary words{200};
};

}  // namespace searchtest
