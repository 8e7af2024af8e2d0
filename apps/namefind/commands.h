// The command grammar of namefind: the built-in rules made from their templates, one "r_" rule
// per keyword of the command list, the name rule over the contacts (with the first_last compound
// words), the keyword groups and the stores' word indices, the second pass over the first pass's
// hypotheses with its confidence test, and the matching of a hypothesis to entries. No toolkit
// code; NamefindApp shows the matches and acts on them.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include "apps/namefind/contacts.h"

namespace vlm {

class WordDictionary;
class RuleDictionary;
class Recognizer;
class Utterance;
class FSGNodeTypeItemAC;

// One keyword: the rule it starts, the store it reaches and what its entries do.
struct CommandGroup {
  int keyword = -1;   // word index of the keyword's primary record
  int rule = -1;
  bool contacts = false;   // true: the contacts store, false: the command store
  int kind = 0;
};

// An entry found for a hypothesis.
struct CommandMatch {
  bool contacts;
  int entry;
  int hypothesis;
};

class CommandGrammar {
 public:
  // The stores stay the caller's; built-in entries are appended to the command store.
  CommandGrammar(WordDictionary* words, RuleDictionary* rules, TsvStore* contacts, TsvStore* commands);

  // Builds every rule in order: the name rule, the command-list rules, the built-in rules.
  // bad: words that got letter-to-sound pronunciations; out: contacts (entry indices) that
  // gained such words. pathRoot: the folder relative program paths are taken from.
  void build(std::vector<std::string>* bad, std::vector<int>* out, const std::string& pathRoot);
  int buildNameRule(std::vector<std::string>* bad, std::vector<int>* out);
  void buildCommandRules(std::vector<std::string>* bad, std::vector<int>* out, const std::string& pathRoot);
  // Adds command-list entry index to the rule of its keyword, making the keyword's "r_" rule (and
  // putting it on the main list) when it is new. The rule's index; -1 when the entry makes no
  // rule (its program is missing, or a rule could not be made), -2 when its names give no words.
  int addCommandEntry(int index, std::vector<std::string>* bad, const std::string& pathRoot);
  void buildBuiltIns();

  // A rule from a template; its index, or -1 (logged) when the body does not parse.
  int makeRule(const char* name, const char* body);
  // Registers a keyword group (keyword and each alternative record); false without the word.
  bool addGroup(const char* keyword, int rule, bool contacts, int kind);
  // The words of a name: the cleaned text when it is a dictionary word, else its parts (made by
  // letter-to-sound when unknown, those go on bad) joined into a compound word; "\&" parts are
  // dropped. Word indices of primary records.
  std::vector<int> namesToWords(const std::string& text, std::vector<std::string>* bad);
  // Adds an entry's words (third, second, first text) to the rule's word tree and the store's
  // word index; contacts also get their first_last compounds, with and without a pause. Returns
  // the number of words added to bad.
  int addEntryToRule(int rule, bool contacts, int entryIndex, std::vector<std::string>* bad);

  // The second pass: re-scores the first pass's hypotheses (at most 12) as plain word sequences
  // and applies the confidence test. Returns the utterance when accepted; a rejected utterance
  // is deleted and null returned. echo: the current echo setting.
  Utterance* secondPass(Recognizer* recognizer, Utterance* utt, int echo);
  // The confidence test alone: true when accepted (moves the threshold). The phone-loop ratio
  // of best against ref passes every result whose score is not above ref, and with our models
  // the phone loop (scored with the coarse generic models) nearly always scores above the
  // grammar, commands or not. So when the free phone loop over the speaker's own models was
  // searched too (phoneBest >= 0), the result is also rejected when it costs more than
  // maxCostAbovePhones per frame above that loop: speech that is no command fits free phones
  // far better than any word sequence of the grammar. The cost per frame, unlike a ratio of
  // the totals, does not shift with the length of the pauses around the speech (the pauses
  // cost the same on both paths and only dilute it).
  bool confident(int ref, int best, int phoneBest = -1, int frames = 0);
  // The item list the second pass builds for hypothesis h (sequence of its words).
  void secondPassItems(const FSGNodeTypeItemAC& h, int echo, FSGNodeTypeItemAC* items, int* penalty) const;

  // The first three word items of h (0 when missing); the name rule's words from the third on
  // joined into their compound.
  void keys(const FSGNodeTypeItemAC& h, int keys[3]) const;
  // The entries h names, appended to matches (no repeats); returns how many were added.
  int findMatches(const FSGNodeTypeItemAC& h, int index, std::vector<CommandMatch>* matches) const;
  // The rule a hypothesis came from (its first rule item), or -1.
  static int hypothesisRule(const FSGNodeTypeItemAC& h);

  const CommandGroup* groupOfWord(int word) const;
  // The time-word ordinal (1..71) of a word, 0 for other words.
  int timeOrdinal(int word) const;

  std::vector<int> mainList, mailList, appointmentList, spellingList;
  int nameRule = -1, callRule = -1, echoRule = -1;
  int threshold = 100;   // the confidence test's rejection threshold
  int phoneRule = -1;    // the free phone loop over the speaker's models (made by build)
  double maxCostAbovePhones = kMaxCostAbovePhones;   // per frame; below 0: the test is off
  // Chosen on the allowed voices of bench_namefind (docs/namefind.md, "The confidence test").
  static constexpr double kMaxCostAbovePhones = 2.2;
  double lastCostAbovePhones = 0;   // of the last test that searched the free phone loop
  bool tmpRuleFailed = false;   // a temporary rule could not be set: the program must end
  static constexpr int kMaxSecondPass = 12;
  static constexpr int kEchoPenalty = 60;

 private:
  void indexWord(bool contacts, int word, int entry);
  int addWordToTree(int rule, int word);   // every record of the word; records added
  int addBuiltIn(int rule, const char* first, const char* second, int kind, bool toRule);

  WordDictionary* words;
  RuleDictionary* rules;
  TsvStore* contacts;
  TsvStore* commands;
  int ampersand = -1;
  std::unordered_map<int, CommandGroup> groups;   // by word record
  std::unordered_multimap<int, int> contactWords, commandWords;   // word record -> entry
  std::unordered_map<int, int> ordinals;
};

}  // namespace vlm
