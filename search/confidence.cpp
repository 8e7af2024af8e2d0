#define VLM_UNIT "confidence"
#include "search/confidence.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "audio/utterance.h"

namespace vlm {

int phoneLoopRatio(int ref, int best, int* ratio) {
  if (ref == 0) return 0;
  // in 64 bits: scores of long utterances times 200 overflow 32
  *ratio = static_cast<int>((static_cast<long long>(best) - ref) * 200 / ref);
  return 1;
}

double resultConfidence(int ref, int best) {
  int ratio = 0;
  if (!phoneLoopRatio(ref, best, &ratio)) return 1.0;
  return 1.0 / (1.0 + std::exp((ratio - kConfidenceMidpoint) / kConfidenceScale));
}

double resultConfidence(int ref, int best, int phoneBest, int frames) {
  int ratio = 0;
  if (!phoneLoopRatio(ref, best, &ratio)) return 1.0;
  if (phoneBest < 0 || frames <= 0) return resultConfidence(ref, best);
  const double perFrame = (static_cast<double>(best) - phoneBest) / frames;
  const double z = kConfidenceBias + kConfidenceRatioWeight * ratio / 100.0 + kConfidencePhoneWeight * perFrame;
  return 1.0 / (1.0 + std::exp(-z));
}

int addPhoneLoopRule(WordDictionary* words, RuleDictionary* rules) {
  if (const RuleData* existing = rules->getRuleData(kPhoneLoopRuleName)) return existing->index;
  std::string body = "( <";
  for (int k = 0; kPhoneInventory[k] != 0; k++) {
    if (kPhoneInventory[k] == '.') continue;   // silence: the search's own
    char name[16], pron[2] = {kPhoneInventory[k], 0};
    std::snprintf(name, sizeof name, "phx%d", k);
    const WordData* w = words->getWordData(name);
    if (w != nullptr && (w->pron == nullptr || std::string(w->pron) != pron)) {
      logError("Phone loop: the word name is taken: ", name);
      return -1;
    }
    if (w == nullptr && words->addWordIfNew(name, pron) < 0) return -1;
    body += " ";
    body += name;
  }
  body += " > + )";
  const int index = rules->newRule(kPhoneLoopRuleName);
  RuleData* rule = index >= 0 ? rules->ruleAt(index) : nullptr;
  if (rule == nullptr) return -1;
  RuleBodyParser parser(words, rules);
  if (parser.loadRuleBody(body.data()) == nullptr || !rule->setRuleBody(parser.items(), words, rules)) {
    logError("Phone loop: the rule does not parse");
    rules->deleteRule(index);
    return -1;
  }
  rule->flag = RULE_NOT_WRITTEN;
  return index;
}

int searchPhoneLoop(Recognizer* recognizer, Utterance* utt, int phoneRule) {
  if (recognizer == nullptr || utt == nullptr || phoneRule < 0) return -1;
  const int keptPrune = pruneThresh, keptWordEnd = wordEndBeam;
  pruneThresh = keptPrune / 2;
  wordEndBeam = keptWordEnd / 2;
  const int found = recognizer->recognize(utt, &phoneRule, 1);
  pruneThresh = keptPrune;
  wordEndBeam = keptWordEnd;
  if (found <= 0 || utt->result == nullptr || utt->result->count() == 0) return -1;
  return utt->result->at(0)->score;
}

}  // namespace vlm
