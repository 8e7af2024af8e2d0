#define VLM_UNIT "commands"
// The command grammar: rules from templates, keyword groups, names to words, the second pass,
// keys and matches.
#include "apps/namefind/commands.h"

#include <glob.h>

#include <algorithm>
#include <cstring>

#include "audio/utterance.h"
#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"
#include "search/confidence.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "search/wordtree.h"

namespace vlm {

namespace {

// The time and date words in the order of their ordinals (1..71).
const char* const kTimeWords[] = {
    "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "00", "15", "30", "45", "a.m.", "p.m.", "to",
    "today", "tomorrow", "sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "january",
    "february", "march", "april", "may", "june", "july", "august", "september", "october", "november", "december",
    "1st", "2nd", "3rd", "4th", "5th", "6th", "7th", "8th", "9th", "10th", "11th", "12th", "13th", "14th", "15th",
    "16th", "17th", "18th", "19th", "20th", "21st", "22nd", "23rd", "24th", "25th", "26th", "27th", "28th", "29th",
    "30th", "31st"};
static_assert(sizeof kTimeWords / sizeof kTimeWords[0] == 71, "71 time words");

struct BuiltInEntry {
  const char* first;
  const char* second;
};

const BuiltInEntry kCallEntries[] = {{"h", "home"},    {"h2", "home2"},   {"hFax", "homefax"}, {"w", "work"},
                                     {"w2", "work2"},  {"wFax", "workfax"}, {"cell", "cell"},  {"pager", "pager"},
                                     {"car", "car"},   {"radio", "radio"}, {"assistantTel", "assistant"}};
const char* const kScheduleTypes[] = {"meeting", "lunch", "dinner", "breakfast", "visit", "reminder",
                                      "task", "job", "appointment", "call", "phonecall"};

const char* const kTimeRule =
    "( < 1 2 3 4 5 6 7 8 9 10 11 12 > [ { 00 15 30 45 } ] [ { a.m. p.m. } ] )";
const char* const kTimeDateRule =
    "( { < today tomorrow sunday monday tuesday wednesday thursday friday saturday > ( < january february march "
    "april may june july august september october november december > < 1st 2nd 3rd 4th 5th 6th 7th 8th 9th 10th "
    "11th 12th 13th 14th 15th 16th 17th 18th 19th 20th 21st 22nd 23rd 24th 25th 26th 27th 28th 29th 30th 31st > ) } "
    "&_rTime to &_rTime )";

// The first word tree of a rule (the one its template's placeholder stood in).
WordTree* firstTree(RuleData* rule) {
  if (rule == nullptr) return nullptr;
  WordTree* found = nullptr;
  // The data list holds the newest side object first: the last tree of the list is the first
  // one the body made.
  for (SLinkBase* d = rule->dataList; d != nullptr; d = d->next)
    if (static_cast<FSGNodeData*>(d)->kind == eWordTreeData) found = static_cast<WordTree*>(static_cast<FSGNodeData*>(d));
  return found;
}

bool pathMatches(const std::string& path, const std::string& root) {
  const std::string full = !path.empty() && path[0] == '/' ? path : root + path;
  glob_t g;
  const int rc = glob(full.c_str(), GLOB_NOSORT, nullptr, &g);
  const bool found = rc == 0 && g.gl_pathc > 0;
  globfree(&g);
  return found;
}

}  // namespace

CommandGrammar::CommandGrammar(WordDictionary* w, RuleDictionary* r, TsvStore* c, TsvStore* m)
    : words(w), rules(r), contacts(c), commands(m) {}

int CommandGrammar::makeRule(const char* name, const char* body) {
  const int index = rules->newRule(name);
  RuleData* rule = index >= 0 ? rules->ruleAt(index) : nullptr;
  if (rule == nullptr) return -1;
  RuleBodyParser parser(words, rules);
  if (parser.loadRuleBody(body) == nullptr || !rule->setRuleBody(parser.items(), words, rules)) {
    logError("command rule does not parse: ", body);
    rules->deleteRule(index);
    return -1;
  }
  rule->flag = RULE_NOT_WRITTEN;
  return index;
}

bool CommandGrammar::addGroup(const char* keyword, int rule, bool toContacts, int kind) {
  const WordData* w = words->getWordData(keyword);
  if (w == nullptr || w->index < 2) return false;
  CommandGroup g;
  g.keyword = w->index;
  g.rule = rule;
  g.contacts = toContacts;
  g.kind = kind;
  for (int i = w->index; i >= 0;) {
    const WordData* r = words->wordAt(i);
    if (r == nullptr) break;
    groups[i] = g;
    i = r->nextPron;
  }
  return true;
}

const CommandGroup* CommandGrammar::groupOfWord(int word) const {
  auto it = groups.find(word);
  return it == groups.end() ? nullptr : &it->second;
}

int CommandGrammar::timeOrdinal(int word) const {
  auto it = ordinals.find(word);
  return it == ordinals.end() ? 0 : it->second;
}

void CommandGrammar::indexWord(bool toContacts, int word, int entry) {
  auto& index = toContacts ? contactWords : commandWords;
  auto range = index.equal_range(word);
  for (auto it = range.first; it != range.second; ++it)
    if (it->second == entry) return;
  index.emplace(word, entry);
}

int CommandGrammar::addWordToTree(int rule, int word) {
  WordTree* tree = firstTree(rules->ruleAt(rule));
  const WordData* w = words->wordAt(word);
  if (tree == nullptr || w == nullptr) return 0;
  if (!w->isPrimary()) {
    const WordData* primary = words->getWordData(w->name);
    if (primary != nullptr) w = primary;
  }
  int added = 0;
  for (int i = w->index; i >= 0;) {
    const WordData* r = words->wordAt(i);
    if (r == nullptr) break;
    const int rc = tree->addWord(r, nullptr);
    if (rc < 0) logError("No usable pronunciation for word tree: ", r->name);
    else added += rc;
    i = r->nextPron;
  }
  return added;
}

std::vector<int> CommandGrammar::namesToWords(const std::string& text, std::vector<std::string>* bad) {
  std::vector<int> result;
  char cleaned[1024];
  if (text.empty() || cleanUpName(cleaned, text.c_str(), sizeof cleaned, 0) == nullptr || cleaned[0] == 0) return result;
  const WordData* whole = words->getWordData(cleaned);
  if (whole != nullptr && whole->index >= 2 && whole->pron != nullptr) {
    result.push_back(whole->index);
    return result;
  }
  // The parts between the separators; unknown ones get letter-to-sound pronunciations.
  std::vector<int> parts;
  std::string all = cleaned;
  size_t pos = 0;
  while (pos <= all.size()) {
    size_t end = all.find('_', pos);
    if (end == std::string::npos) end = all.size();
    const std::string part = all.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    const WordData* w = words->getWordData(part.c_str());
    int index = w != nullptr && w->index >= 2 && w->pron != nullptr ? w->index : -1;
    if (index < 0) {
      char pron[1024];
      xlateString(pron, part.c_str(), sizeof pron, nullptr, 1);
      if (isValidPron(pron)) index = words->addWordIfNew(part.c_str(), pron, kLetterToSoundClass);
      if (index >= 0) {
        const WordData* p = words->getWordData(part.c_str());
        if (p != nullptr) index = p->index;
        if (bad) bad->push_back(part);
      }
    }
    if (index < 0) continue;   // a part that makes no pronunciation ("." alone)
    parts.push_back(index);
  }
  if (parts.size() == 1) return parts;
  if (parts.empty()) return result;
  // The compound of the parts that are left (the parts' own names joined).
  std::string compound;
  bool removed = false;
  std::vector<int> kept;
  for (int p : parts) {
    if (p == ampersand) {
      removed = true;
      continue;
    }
    kept.push_back(p);
  }
  for (int p : parts) compound += (compound.empty() ? "" : "_") + std::string(words->nameOf(p));
  const int c = words->makeCompoundWord(compound.c_str(), 0);
  if (!removed) {
    if (c > 0) result.push_back(c);
    else result = kept;
    return result;
  }
  result = kept;
  if (c > 0) result.push_back(c);
  return result;
}

int CommandGrammar::addEntryToRule(int rule, bool toContacts, int entryIndex, std::vector<std::string>* bad) {
  TsvStore* store = toContacts ? contacts : commands;
  if (entryIndex < 0 || entryIndex >= static_cast<int>(store->entries.size())) return 0;
  const Entry e = store->entries[static_cast<size_t>(entryIndex)];
  const size_t badBefore = bad ? bad->size() : 0;
  std::vector<int> firstWords;
  std::vector<int> lastWords;
  const std::string* texts[3] = {&e.third, &e.second, &e.first};
  for (int t = 0; t < 3; t++) {
    // Built-in entries are reached by their spoken second text only: their first texts are
    // labels, not words.
    if (e.row < 0 && t != 1) continue;
    const std::vector<int> ws = namesToWords(*texts[t], bad);
    for (int w : ws) {
      addWordToTree(rule, w);
      for (int i = w; i >= 0;) {
        const WordData* r = words->wordAt(i);
        if (r == nullptr) break;
        indexWord(toContacts, i, entryIndex);
        i = r->nextPron;
      }
    }
    if (t == 1) lastWords = ws;
    if (t == 2) firstWords = ws;
  }
  if (toContacts) {
    // first_last: both names said together, without and with a pause between them.
    for (int f : firstWords)
      for (int l : lastWords) {
        const std::string name = std::string(words->nameOf(f)) + "_" + words->nameOf(l);
        for (int fi = f; fi >= 0; fi = words->wordAt(fi) ? words->wordAt(fi)->nextPron : -1)
          for (int li = l; li >= 0; li = words->wordAt(li) ? words->wordAt(li)->nextPron : -1) {
            const char* fp = words->pronOf(fi);
            const char* lp = words->pronOf(li);
            if (fp == nullptr || lp == nullptr) continue;
            for (int pause = 0; pause < 2; pause++) {
              const std::string pron = std::string(fp) + (pause ? "." : "") + lp;
              if (pron.size() >= 1024) continue;
              const int r = words->addWordIfNew(name.c_str(), pron.c_str(), 0);
              if (r < 0) continue;
              WordData* record = words->wordAt(r);
              if (record) record->flag |= WORD_NOT_SAVED;   // made again at every start
              WordTree* tree = firstTree(rules->ruleAt(rule));
              if (tree && record && tree->addWord(record, nullptr) < 0)
                logError("No usable pronunciation for word tree: ", record->name);
              indexWord(true, r, entryIndex);
            }
          }
      }
  }
  return bad ? static_cast<int>(bad->size() - badBefore) : 0;
}

int CommandGrammar::buildNameRule(std::vector<std::string>* bad, std::vector<int>* out) {
  const WordData* amp = words->getWordData("\\&");
  ampersand = amp != nullptr ? amp->index : -1;
  nameRule = makeRule("_NamefindRule", "( look up < tarvell > )");
  if (nameRule < 0) return -1;
  addGroup("look", nameRule, true, eKindContact);
  mainList.push_back(nameRule);
  mailList.push_back(nameRule);
  appointmentList.push_back(nameRule);
  for (size_t i = 0; i < contacts->entries.size(); i++)
    if (addEntryToRule(nameRule, true, static_cast<int>(i), bad) > 0 && out) out->push_back(static_cast<int>(i));
  return nameRule;
}

void CommandGrammar::buildCommandRules(std::vector<std::string>* bad, std::vector<int>* out, const std::string& pathRoot) {
  for (size_t i = 0; i < commands->entries.size(); i++)
    if (addCommandEntry(static_cast<int>(i), bad, pathRoot) == -2 && out) out->push_back(static_cast<int>(i));
}

int CommandGrammar::addCommandEntry(int index, std::vector<std::string>* bad, const std::string& pathRoot) {
  if (index < 0 || index >= static_cast<int>(commands->entries.size())) return -1;
  const Entry& e = commands->entries[static_cast<size_t>(index)];
  if (e.row < 0) return -1;
  // A program that is not installed makes no rule. The row stays in the store (and is saved):
  // the program may be installed later.
  const std::string* path = commands->fieldText(e.row, eColPath);
  if (path != nullptr && !path->empty() && !pathMatches(*path, pathRoot)) return -1;
  const std::vector<int> start = namesToWords(e.first, bad);
  const std::vector<int> end = namesToWords(e.second, bad);
  if (start.empty() || end.empty()) return -2;
  const int keyword = start.back();
  const CommandGroup* g = groupOfWord(keyword);
  int rule = g != nullptr ? g->rule : -1;
  if (g == nullptr) {
    const std::string name = std::string("r_") + words->nameOf(keyword);
    const std::string body = std::string("( ") + words->nameOf(keyword) + " < " + words->nameOf(end.back()) + " > )";
    rule = makeRule(name.c_str(), body.c_str());
    if (rule < 0) return -1;
    addGroup(words->nameOf(keyword), rule, false, eKindCommand);
    mainList.push_back(rule);
  }
  addEntryToRule(rule, false, index, bad);
  return rule;
}

int CommandGrammar::addBuiltIn(int rule, const char* first, const char* second, int kind, bool toRule) {
  Entry e;
  e.first = first;
  e.second = second;
  e.kind = kind;
  e.row = -1;
  e.active = 1;
  commands->entries.push_back(e);
  const int index = static_cast<int>(commands->entries.size()) - 1;
  if (toRule && rule >= 0) {
    addEntryToRule(rule, false, index, nullptr);
  } else {
    for (int w : namesToWords(second, nullptr))
      for (int i = w; i >= 0; i = words->wordAt(i) ? words->wordAt(i)->nextPron : -1) indexWord(false, i, index);
  }
  return index;
}

void CommandGrammar::buildBuiltIns() {
  callRule = makeRule("_CallRule", "( call < home > )");
  if (callRule >= 0) {
    mainList.push_back(callRule);
    if (addGroup("call", callRule, false, eKindPhone))
      for (const BuiltInEntry& b : kCallEntries) addBuiltIn(callRule, b.first, b.second, eKindPhone, true);
  }
  echoRule = makeRule("_EchoRule", "( echo < on off > )");
  if (echoRule >= 0) {
    mainList.push_back(echoRule);
    if (addGroup("echo", echoRule, false, eKindEcho)) {
      addBuiltIn(echoRule, "echo", "on", eKindEcho, true);
      addBuiltIn(echoRule, "echo", "off", eKindEcho, true);
    }
  }
  const int send = makeRule("_SendRule", "( { send voice } mail )");
  if (send >= 0) {
    mainList.push_back(send);
    const bool a = addGroup("send", send, false, eKindSendMail);
    const bool b = addGroup("voice", send, false, eKindSendMail);
    if (a || b) addBuiltIn(send, "e", "send", eKindSendMail, false);
  }
  const int voice = makeRule("_VoiceRule", "( voice mail )");
  if (voice >= 0) {
    mailList.push_back(voice);
    addBuiltIn(voice, "v", "voice", eKindVoiceMail, false);
  }
  const int schedule = makeRule("_ScheduleRule", "( schedule { a an } < meeting > )");
  if (schedule >= 0) {
    mainList.push_back(schedule);
    appointmentList.push_back(schedule);
    if (addGroup("schedule", schedule, false, eKindAppointment))
      for (const char* t : kScheduleTypes) addBuiltIn(schedule, "s", t, eKindAppointment, true);
  }
  if (makeRule("_rTime", kTimeRule) >= 0) {
    const int timeDate = makeRule("_rTimeDate", kTimeDateRule);
    if (timeDate >= 0) {
      appointmentList.push_back(timeDate);
      addGroup("meeting", timeDate, true, eKindTimeDate);
    }
  }
  for (int i = 0; i < 71; i++) {
    const WordData* w = words->getWordData(kTimeWords[i]);
    for (int r = w ? w->index : -1; r >= 0; r = words->wordAt(r) ? words->wordAt(r)->nextPron : -1) ordinals[r] = i + 1;
  }
}

void CommandGrammar::build(std::vector<std::string>* bad, std::vector<int>* out, const std::string& pathRoot) {
  buildNameRule(bad, out);
  buildCommandRules(bad, nullptr, pathRoot);
  buildBuiltIns();
  // The confidence test's second reference; without it (a full table) only the ratio applies.
  phoneRule = addPhoneLoopRule(words, rules);
}

// ---- second pass -----------------------------------------------------------------------------

int CommandGrammar::hypothesisRule(const FSGNodeTypeItemAC& h) {
  for (int i = 0; i < h.count(); i++)
    if (h[i].type == eRuleNode) return h[i].value;
  return -1;
}

void CommandGrammar::secondPassItems(const FSGNodeTypeItemAC& h, int echo, FSGNodeTypeItemAC* items, int* penalty) const {
  const int rule = hypothesisRule(h);
  items->removeAll();
  items->add(eSequenceNode, 0);
  bool saysOn = false;
  for (int i = 0; i < h.count(); i++) {
    if (h[i].type != eWordNode) continue;
    const char* name = words->nameOf(h[i].value);
    if (name == nullptr) continue;
    if (std::strcmp(name, "on") == 0) saysOn = true;
    if (rule == nameRule && std::strchr(name, '_') != nullptr) {
      // A first_last word is re-scored as its parts.
      std::string all = name;
      size_t pos = 0;
      bool whole = true;
      FSGNodeTypeItemAC partItems;
      while (pos <= all.size()) {
        size_t end = all.find('_', pos);
        if (end == std::string::npos) end = all.size();
        const std::string part = all.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty()) continue;
        const WordData* w = words->getWordData(part.c_str());
        if (w == nullptr || w->index < 2) {
          whole = false;
          break;
        }
        partItems.add(eWordNode, w->index);
      }
      if (whole) {
        for (int k = 0; k < partItems.count(); k++) items->add(partItems[k]);
        continue;
      }
    }
    items->add(eWordNode, h[i].value);
  }
  items->add(eSequenceEnd, 0);
  int p = 0;
  if (rule == echoRule && echoRule >= 0) {
    p = saysOn ? kEchoPenalty : 0;
    if (!echo) p = p ? 0 : kEchoPenalty;
  }
  *penalty = p;
}

bool CommandGrammar::confident(int ref, int best, int phoneBest, int frames) {
  if (phoneBest >= 0 && frames > 0) {
    lastCostAbovePhones = static_cast<double>(best - phoneBest) / frames;
    if (maxCostAbovePhones >= 0 && lastCostAbovePhones > maxCostAbovePhones) return false;
  }
  int ratio = 0;
  if (ref >= best || !phoneLoopRatio(ref, best, &ratio)) return true;
  if (ratio > threshold) return false;
  if (threshold > 80) threshold--;
  return true;
}

Utterance* CommandGrammar::secondPass(Recognizer* recognizer, Utterance* utt, int echo) {
  RecogResult* result = utt->result;
  int n = result ? result->count() : 0;
  if (n > kMaxSecondPass) n = kMaxSecondPass;
  std::vector<int> tmpRules;
  std::unordered_map<int, int> origin;
  for (int i = 0; i < n; i++) {
    FSGNodeTypeItemAC items;
    int penalty = 0;
    secondPassItems(*result->at(i), echo, &items, &penalty);
    const std::string name = "tmp" + std::to_string(i + 1);
    int index = -1;
    if (const RuleData* existing = rules->getRuleData(name.c_str())) index = existing->index;
    else index = rules->newRule(name.c_str());
    RuleData* rule = index >= 0 ? rules->ruleAt(index) : nullptr;
    if (rule == nullptr || !rule->setRuleBody(items, words, rules)) {
      // Cannot happen for word sequences of a recognised result; the caller ends the program.
      for (auto it = tmpRules.rbegin(); it != tmpRules.rend(); ++it) rules->deleteRule(*it);
      if (rule != nullptr) rules->deleteRule(index);
      tmpRuleFailed = true;
      delete utt;
      return nullptr;
    }
    rule->flag = RULE_NOT_WRITTEN;
    rule->LM = static_cast<short>(penalty);
    tmpRules.push_back(index);
    origin[index] = hypothesisRule(*result->at(i));
  }
  // The free phone loop alone first (the temporary rules are made, so the first pass's result
  // is no longer needed); the second pass then leaves its own result on the utterance.
  const int phoneBest =
      !tmpRules.empty() && maxCostAbovePhones >= 0 ? searchPhoneLoop(recognizer, utt, phoneRule) : -1;
  const int found = tmpRules.empty() ? 0 : recognizer->recognize(utt, tmpRules.data(), static_cast<int>(tmpRules.size()));
  for (auto it = tmpRules.rbegin(); it != tmpRules.rend(); ++it) rules->deleteRule(*it);
  result = utt->result;
  if (found <= 0 || result == nullptr || result->count() == 0) {
    delete utt;
    return nullptr;
  }
  if (!confident(utt->phoneLoopScore, result->at(0)->score, phoneBest, utt->frameCount())) {
    delete utt;
    return nullptr;
  }
  for (int r = 0; r < result->count(); r++) {
    FSGNodeTypeItemAC& h = *result->at(r);
    for (int k = 0; k < h.count(); k++)
      if (h[k].type == eRuleNode || h[k].type == eTerminalNode) {
        auto it = origin.find(h[k].value);
        if (it != origin.end()) h[k].value = it->second;
      }
  }
  return utt;
}

// ---- keys and matches ------------------------------------------------------------------------

void CommandGrammar::keys(const FSGNodeTypeItemAC& h, int k[3]) const {
  k[0] = k[1] = k[2] = 0;
  std::vector<int> ws;
  for (int i = 0; i < h.count(); i++)
    if (h[i].type == eWordNode) ws.push_back(h[i].value);
  for (size_t i = 0; i < ws.size() && i < 3; i++) k[i] = ws[i];
  if (hypothesisRule(h) == nameRule && ws.size() > 3) {
    // The second pass split a first_last word: its parts are joined again.
    std::string joined;
    for (size_t i = 2; i < ws.size(); i++) {
      const char* name = words->nameOf(ws[i]);
      if (name == nullptr) return;
      joined += (joined.empty() ? "" : "_") + std::string(name);
      if (joined.size() > 127) return;
    }
    const WordData* w = words->getWordData(joined.c_str());
    if (w != nullptr && w->index >= 2) k[2] = w->index;
  }
}

int CommandGrammar::findMatches(const FSGNodeTypeItemAC& h, int index, std::vector<CommandMatch>* matches) const {
  int k[3];
  keys(h, k);
  const CommandGroup* g = groupOfWord(k[0]);
  if (g == nullptr) return 0;
  bool toContacts = false;
  int key = 0;
  switch (g->kind) {
    case eKindAppointment: key = k[2]; break;
    case eKindEcho: key = k[1]; break;
    case eKindSendMail: key = k[0]; break;
    case eKindPhone:
    case eKindCommand: key = k[1]; break;
    case eKindContact: key = k[2]; toContacts = true; break;
    default: return 0;
  }
  const TsvStore* store = toContacts ? contacts : commands;
  const auto& wordIndex = toContacts ? contactWords : commandWords;
  // Entries in store order, so that the first of two contacts sharing a name is shown.
  std::vector<int> found;
  auto range = wordIndex.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) found.push_back(it->second);
  std::sort(found.begin(), found.end());
  int added = 0;
  for (int e : found) {
    if (e < 0 || e >= static_cast<int>(store->entries.size()) || !store->entries[static_cast<size_t>(e)].active) continue;
    bool seen = false;
    for (const CommandMatch& m : *matches) seen = seen || (m.contacts == toContacts && m.entry == e);
    if (seen) continue;
    matches->push_back({toContacts, e, index});
    added++;
  }
  return added;
}

}  // namespace vlm
