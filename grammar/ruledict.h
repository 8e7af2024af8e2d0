// RuleDictionary: the grammar's named rules. A table of RuleData records held by value, found by
// name through a hash set, read from and written to the .rul text format. Each rule owns an
// arena for its name and graph nodes and a list of side objects (alternative tables, word trees,
// out-of-vocabulary elements). Rules are referred to everywhere by their index; indices 0
// ("ReservedSilenceRule") and 1 ("OutOfVocabularyRule") are reserved. See docs/grammar.md.
#pragma once
#include "foundation/arrcoll.h"
#include "foundation/hashseq.h"
#include "foundation/oneshot.h"
#include "grammar/fsg.h"

namespace vlm {

class WordDictionary;
class RuleDictionary;

// flag values of a RuleData record.
constexpr unsigned short IS_UNUSED = 0;       // a free record
constexpr unsigned short RULE_IN_USE = 1;
constexpr unsigned short RULE_NOT_WRITTEN = 2;  // in use, but writeFile skips it

// One rule. The arena is created with the rule and destroyed with it.
struct RuleData : SLinkBase {
  unsigned short flag;   // IS_UNUSED, RULE_IN_USE or RULE_NOT_WRITTEN
  short LM;              // the "LM" number of the rule's file line; 0 when not given
  int index;             // own index while in use; the next free index while on the free list
  char* name;            // in the arena
  FSGNode root;          // entry node; a terminal (type 0) while the body is empty
  OneShotHeap* arena;    // block size 320: the name and every node of the graph
  FSGNodeData* dataList; // owned side objects, destroyed with the rule

  bool inUse() const { return flag != IS_UNUSED; }
  // Builds the rule's graph from items (see docs/grammar.md); 1 on success. On failure the body
  // is left empty and 0 returned.
  int setRuleBody(const FSGNodeTypeItemAC& items, WordDictionary* words, RuleDictionary* rules);
  // Empties the body: destroys the side objects and the graph (the name is kept).
  void clearBody();

  // Internal: allocates a node in the arena.
  FSGNode* newNode(FSGNode* previous);
  void destroyDataList();
};

int nameToRuleHSCmp(const SLinkBase* a, const SLinkBase* b);
unsigned nameToRuleHSHash(const SLinkBase* r);
// The order of writeFile: strcmp of the names.
int ruleDictionarySort(const void* a, const void* b);

class RuleDictionary {
 public:
  // Room for maxRules records is allocated here once; growStep 0 means maxRules / 16 + 4.
  explicit RuleDictionary(int maxRules, int growStep = 0);
  ~RuleDictionary();
  RuleDictionary(const RuleDictionary&) = delete;
  RuleDictionary& operator=(const RuleDictionary&) = delete;

  RuleData* getRuleData(const char* name) const;
  // A new rule with an empty body; its index, or -1 when the table is full (logged).
  int newRule(const char* name);
  // Frees the rule and its graph; the index is reused by the next newRule.
  void deleteRule(int index);

  // Adds or completes the rules of a .rul file. 1 when the file was read (errors in it are
  // logged with their line numbers and counted in readErrorCount()), 0 when it cannot be opened.
  int readFile(const char* path, WordDictionary* words);
  // The same from an open file handle, read from its current position.
  int readFd(int fd, WordDictionary* words);
  // Lines of the last readFile/readFd that were rejected (each logged), 0 for a clean file.
  int readErrorCount() const { return readErrors; }

  // Writes every rule in use (and not marked RULE_NOT_WRITTEN) as .rul text, sorted by name,
  // through a temporary file renamed over path. 0 when the file cannot be written.
  int writeFile(const char* path, WordDictionary* words);
  // The same text written to an open file handle; 0 when a write fails.
  int writeFd(int fd, WordDictionary* words);

  // Table access: null for an index outside the table or a free record.
  RuleData* ruleAt(int index) const;
  const char* nameOf(int index) const;
  int recordCount() const { return rules.count(); }
  int maxRules() const { return maxRuleCount; }
  int ruleCount() const { return static_cast<int>(nameToRuleHS.count()); }  // reserved included

 protected:
  AC<RuleData> rules;
  HS<RuleData> nameToRuleHS;
  int freeHead = -1;
  int maxRuleCount;
  int readErrors = 0;
};

}  // namespace vlm
