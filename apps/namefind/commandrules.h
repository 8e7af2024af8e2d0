// The command grammar namefind listens with. For now: the built-in command rules that need no
// contacts or command list ("call", "echo", "send"/"voice mail", "schedule"), with every
// alternative a built-in entry would add written into the rule's body. The contacts' name rule,
// the command-list rules, keyword groups and the second pass replace this (docs/namefind.md).
#pragma once
#include <vector>

namespace vlm {

class WordDictionary;
class RuleDictionary;

class CommandRules {
 public:
  CommandRules(WordDictionary* words, RuleDictionary* rules) : words(words), rules(rules) {}
  // Creates the rules in the rule set and appends the indices of those of the main list. A rule
  // whose keyword is not in the dictionary is left out; alternatives missing from the
  // dictionary are dropped. Returns the number of rules made.
  int build(std::vector<int>* mainList);
  // Creates one rule from a body text; its index, or -1 (logged) when the body does not parse.
  int makeRule(const char* name, const char* body);

 private:
  WordDictionary* words;
  RuleDictionary* rules;
};

}  // namespace vlm
