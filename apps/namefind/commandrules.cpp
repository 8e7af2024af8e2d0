#include "apps/namefind/commandrules.h"

#include <string>

#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"

namespace vlm {

namespace {

struct BuiltInRule {
  const char* name;
  const char* keyword;
  const char* before;        // the body up to the word tree
  const char* alternatives;  // the word tree's words
  const char* after;
};

// The templates with the spoken words of their built-in entries.
const BuiltInRule kBuiltIn[] = {
    {"_CallRule", "call", "( call < ", "home home2 homefax work work2 workfax cell pager car radio assistant", " > )"},
    {"_EchoRule", "echo", "( echo < ", "on off", " > )"},
    {"_SendRule", "send", "( { send voice } mail )", "", ""},
    {"_ScheduleRule", "schedule", "( schedule { a an } < ",
     "meeting lunch dinner breakfast visit reminder task job appointment call phonecall", " > )"},
};

}  // namespace

int CommandRules::makeRule(const char* name, const char* body) {
  const int index = rules->newRule(name);
  RuleData* rule = index >= 0 ? rules->ruleAt(index) : nullptr;
  if (rule == nullptr) return -1;
  RuleBodyParser parser(words, rules);
  if (parser.loadRuleBody(body) == nullptr || !rule->setRuleBody(parser.items(), words, rules)) {
    logError("command rule does not parse: ", body);
    rules->deleteRule(index);
    return -1;
  }
  return index;
}

int CommandRules::build(std::vector<int>* mainList) {
  int made = 0;
  for (const BuiltInRule& r : kBuiltIn) {
    if (words->getWordData(r.keyword) == nullptr) continue;
    std::string body = r.before;
    if (r.alternatives[0] != 0) {
      std::string kept;
      std::string all = r.alternatives;
      size_t pos = 0;
      while (pos < all.size()) {
        size_t end = all.find(' ', pos);
        if (end == std::string::npos) end = all.size();
        const std::string word = all.substr(pos, end - pos);
        if (words->getWordData(word.c_str()) != nullptr) kept += (kept.empty() ? "" : " ") + word;
        pos = end + 1;
      }
      if (kept.empty()) continue;
      body += kept + r.after;
    }
    const int index = makeRule(r.name, body.c_str());
    if (index < 0) continue;
    mainList->push_back(index);
    made++;
  }
  return made;
}

}  // namespace vlm
