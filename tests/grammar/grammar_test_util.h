// Helpers of the grammar tests: a small dictionary, the speech log, scratch files and a canonical
// text form of a rule's graph.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"
#include "search/wordtree.h"

namespace gramtest {

using namespace vlm;

// Words with pronunciations of the phone set; "b" has a second pronunciation.
inline void addTestWords(WordDictionary& words) {
  const char* rows[][2] = {{"a", "A"},       {"b", "bE"},     {"b", "bi"},       {"c", "sE"},   {"d", "dE"},
                           {"yes", "yes"},   {"no", "nOw"},   {"call", "kol"},   {"dial", "doEL"},
                           {"new", "nU"},    {"york", "yOrk"}, {"one", "wun"},   {"two", "tUw"}};
  for (auto& r : rows) words.addWordIfNew(r[0], r[1], 0);
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The speech log of this process from the last resetLog() on.
inline void resetLog() {
  resetSpeechLogForTest();
  std::remove("velmora.log");
}
inline std::string logText() { return readText("velmora.log"); }

// A scratch folder of this test program.
inline std::string scratch(const std::string& name) {
  std::string dir = "grammar_scratch";
  mkdir(dir.c_str(), 0755);
  return dir + "/" + name;
}

// Canonical text of a rule's graph: nodes numbered in the order they are reached from the root
// (a construct's content, then its continuation), each as "id:kind>next". Kinds: S sequence,
// W word, V out-of-vocabulary, U rule, R repeat (of id), O optional (content id),
// A{words|rules|branch ids}, T<word[&rule] ...> (sorted), E terminal.
class GraphDump {
 public:
  GraphDump(WordDictionary& w, RuleDictionary& r) : words(w), rules(r) {}

  std::string dump(RuleData* rd) {
    ids.clear();
    order.clear();
    visit(&rd->root);
    std::string text;
    for (FSGNode* n : order) {
      if (!text.empty()) text += ' ';
      text += std::to_string(ids[n]) + ":" + describe(n);
      if (n->type != eTerminalNode) text += ">" + idOf(n->next);
    }
    return text;
  }

  int terminalCount() const {
    int count = 0;
    for (FSGNode* n : order) count += n->type == eTerminalNode;
    return count;
  }
  const std::vector<FSGNode*>& nodes() const { return order; }

 private:
  std::string idOf(FSGNode* n) { return n == nullptr ? "null" : (ids.count(n) ? std::to_string(ids[n]) : "?"); }

  void visit(FSGNode* n) {
    if (n == nullptr || ids.count(n)) return;
    ids[n] = static_cast<int>(order.size());
    order.push_back(n);
    if (n->type == eRepeatNode || n->type == eOptionalNode) visit(n->node);
    if (n->type == eAlternativeNode && n->alternative)
      for (int i = 0; i < n->alternative->branches.count(); i++) visit(n->alternative->branches[i]);
    visit(n->next);
  }

  std::string describe(FSGNode* n) {
    switch (n->type) {
      case eTerminalNode: return "E";
      case eSequenceNode: return "S";
      case eWordNode: return std::string("W ") + words.nameOf(n->index());
      case eOutOfVocabularyNode: return "V";
      case eRuleNode: return std::string("U ") + rules.nameOf(n->index());
      case eRepeatNode: return "R" + idOf(n->node);
      case eOptionalNode: return "O" + idOf(n->node);
      case eAlternativeNode: {
        std::string s = "A{";
        AlternativeData* a = n->alternative;
        for (int i = 0; i < a->words.count(); i++) s += std::string(i ? " " : "") + words.nameOf(a->words[i]);
        s += "|";
        for (int i = 0; i < a->rules.count(); i++) s += std::string(i ? " " : "") + rules.nameOf(a->rules[i]);
        s += "|";
        for (int i = 0; i < a->branches.count(); i++) {
          visit(a->branches[i]);
          s += (i ? " " : "") + idOf(a->branches[i]);
        }
        return s + "}";
      }
      case eWordTreeNode: {
        std::vector<std::string> entries;
        std::pair<GraphDump*, std::vector<std::string>*> context(this, &entries);
        n->wordTree->forEachWordEnd(
            [](const WordNode*, const NodeTerminal* t, void* c) {
              auto* self = static_cast<std::pair<GraphDump*, std::vector<std::string>*>*>(c);
              std::string e = self->first->words.nameOf(t->word);
              if (t->node) e += std::string("&") + self->first->rules.nameOf(t->node->rule);
              if (!self->first->words.wordAt(t->word)->isPrimary()) e += "'";
              self->second->push_back(e);
            },
            &context);
        std::sort(entries.begin(), entries.end());
        std::string s = "T<";
        for (size_t i = 0; i < entries.size(); i++) s += (i ? " " : "") + entries[i];
        return s + ">";
      }
      default: return "?" + std::to_string(n->type);
    }
  }

  WordDictionary& words;
  RuleDictionary& rules;
  std::map<FSGNode*, int> ids;
  std::vector<FSGNode*> order;
};

}  // namespace gramtest
