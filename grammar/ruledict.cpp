// The rule dictionary: the rule table with its name hash and free list, and the .rul file reader
// and writer.
#define VLM_UNIT "recog"
#include "grammar/ruledict.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/copystr.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "foundation/stdiox.h"
#include "foundation/ordcoll.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"

namespace vlm {

namespace {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Characters that end a rule name on a RULE line ("[" does not).
inline bool endsRuleName(char c) {
  return c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '(' || c == ':' || c == ';' ||
         c == '<' || c == '{';
}

}  // namespace

int nameToRuleHSCmp(const SLinkBase* a, const SLinkBase* b) {
  VLM_ASSERT(a, "slb1");
  VLM_ASSERT(b, "slb2");
  if (!a || !b) return a == b ? 0 : 1;
  return std::strcmp(static_cast<const RuleData*>(a)->name, static_cast<const RuleData*>(b)->name);
}

unsigned nameToRuleHSHash(const SLinkBase* r) { return stringHash(static_cast<const RuleData*>(r)->name); }

int ruleDictionarySort(const void* a, const void* b) {
  const RuleData* x = *static_cast<const RuleData* const*>(a);
  const RuleData* y = *static_cast<const RuleData* const*>(b);
  return std::strcmp(x->name, y->name);
}

RuleDictionary::RuleDictionary(int maxRules, int growStep)
    : rules(maxRules < 2 ? 2 : maxRules, growStep > 0 ? growStep : (maxRules < 2 ? 2 : maxRules) / 16 + 4),
      nameToRuleHS(4096, 4096, nameToRuleHSCmp, nameToRuleHSHash),
      maxRuleCount(maxRules < 2 ? 2 : maxRules) {
  // The reserved rules stay in the hash (so they are found by name) but are never written.
  int silence = newRule("ReservedSilenceRule");
  int outOfVocabulary = newRule("OutOfVocabularyRule");
  if (silence >= 0) rules[silence].flag = IS_UNUSED;
  if (outOfVocabulary >= 0) rules[outOfVocabulary].flag = IS_UNUSED;
}

RuleDictionary::~RuleDictionary() {
  for (int i = 0; i < rules.count(); i++) {
    RuleData& rd = rules[i];
    if (rd.arena == nullptr) continue;
    rd.destroyDataList();
    delete rd.arena;
    rd.arena = nullptr;
  }
}

RuleData* RuleDictionary::getRuleData(const char* name) const {
  if (name == nullptr) return nullptr;
  RuleData key;
  key.name = const_cast<char*>(name);
  return nameToRuleHS.find(&key);
}

RuleData* RuleDictionary::ruleAt(int index) const {
  if (index < 0 || index >= rules.count()) return nullptr;
  RuleData& rd = rules[index];
  return rd.flag == IS_UNUSED ? nullptr : &rd;
}

const char* RuleDictionary::nameOf(int index) const {
  RuleData* rd = ruleAt(index);
  return rd ? rd->name : nullptr;
}

int RuleDictionary::newRule(const char* name) {
  if (name == nullptr) return -1;
  if (RuleData* existing = getRuleData(name)) {
    logError("existing rule: ", name);
    return existing->index;  // a second record of that name could never be found
  }
  int index;
  if (freeHead >= 0) {
    index = freeHead;
    freeHead = rules[index].index;
  } else {
    if (rules.count() >= maxRuleCount) {
      char limit[96];
      sPrint(limit, sizeof limit, " (the rule table holds %d rules)", maxRuleCount);
      char message[1200];
      sPrint(message, sizeof message, "hit Max Rules, adding: %s", name);
      logError(message, limit);
      return -1;
    }
    index = rules.makeRoom(1);
    if (index < 0) {
      logError("hit Max Rules, adding: ", name);
      return -1;
    }
  }
  RuleData& rd = rules[index];
  std::memset(static_cast<void*>(&rd), 0, sizeof rd);
  rd.arena = new (std::nothrow) OneShotHeap(320);
  const std::size_t length = std::strlen(name) + 1;
  char* copy = rd.arena ? static_cast<char*>(rd.arena->allocate((length + 3) & ~std::size_t(3))) : nullptr;
  if (copy == nullptr) {
    delete rd.arena;
    rd.arena = nullptr;
    rd.index = freeHead;
    freeHead = index;
    logError("hit Max Rules, adding: ", name);
    return -1;
  }
  std::memcpy(copy, name, length);
  rd.flag = RULE_IN_USE;
  rd.LM = 0;
  rd.index = index;
  rd.name = copy;
  rd.root.type = eTerminalNode;
  rd.root.value = index;
  rd.root.rule = index;
  rd.dataList = nullptr;
  nameToRuleHS.add(&rd);
  return index;
}

void RuleDictionary::deleteRule(int index) {
  if (index < 0 || index >= rules.count()) return;
  RuleData& rd = rules[index];
  VLM_ASSERT(rd.flag != IS_UNUSED, "rd->flag != IS_UNUSED");
  if (rd.flag == IS_UNUSED || rd.arena == nullptr) return;
  nameToRuleHS.remove(&rd);
  rd.destroyDataList();
  delete rd.arena;
  rd.arena = nullptr;
  rd.name = nullptr;
  rd.root = FSGNode{};
  rd.flag = IS_UNUSED;
  rd.index = freeHead;
  freeHead = index;
}

int RuleDictionary::readFile(const char* path, WordDictionary* words) {
  readErrors = 0;
  if (path == nullptr) return 0;
  // Only a regular file: a FIFO or device would block or never end.
  int fd = openRegularFile(path);
  if (fd < 0) {
    char message[512];
    sPrint(message, sizeof message, ".rul file %s not read: %s", path, openFailureText(errno));
    logError(message);
    return 0;
  }
  int result = readFd(fd, words);
  close(fd);
  return result;
}

namespace {

// One mark per rule index, grown as rules are added.
struct RuleMarks {
  unsigned char* marks = nullptr;
  int room = 0;
  ~RuleMarks() { delete[] marks; }
  // Marks index; 0 when it was marked already (or cannot be marked).
  int mark(int index) {
    if (index < 0) return 1;
    if (index >= room) {
      int grown = room > 0 ? room : 256;
      while (grown <= index) grown *= 2;
      unsigned char* bigger = new (std::nothrow) unsigned char[grown]();
      if (bigger == nullptr) return 1;
      if (marks != nullptr) std::memcpy(bigger, marks, static_cast<size_t>(room));
      delete[] marks;
      marks = bigger;
      room = grown;
    }
    if (marks[index]) return 0;
    marks[index] = 1;
    return 1;
  }
};

}  // namespace

int RuleDictionary::readFd(int fd, WordDictionary* words) {
  readErrors = 0;
  if (fd < 0 || words == nullptr) return 0;
  RuleBodyParser parser(words, this, fd);
  RuleMarks bodies;  // the rules given a body by this file
  char name[1024];
  char rest[1024];
  // A statement without its ";" continues on the next line when that line goes on with a body
  // or an option (the writer puts every body on the lines after "RULE name"); any other line is a
  // statement of its own.
  char* lookahead = nullptr;  // a line read while looking for the rest of a statement
  for (;;) {
    char* s = lookahead != nullptr ? lookahead : parser.nextLine();
    lookahead = nullptr;
    if (s == nullptr) break;
    parser.clearMessage();
    if (*s == 0 || *s == ';') continue;  // blank line or comment
    if (std::strncmp(s, "RULE", 4) != 0 || (s[4] != 0 && !isBlank(s[4]))) {
      parser.errorMessage("Unknown .rul file keyword ", s);
      readErrors++;
      continue;
    }
    s += 4;
    while (isBlank(*s)) s++;
    char* n = name;
    while (!endsRuleName(*s)) {
      if (*s == '\\') {
        if (s[1] == 0) {  // a backslash at the end of the line escapes nothing
          s++;
          break;
        }
        *n++ = *s++;           // the escaped character belongs to the name, the backslash too
      }
      *n++ = *s++;
    }
    *n = 0;
    if (name[0] == 0) {
      parser.errorMessage("Rule name missing after RULE");
      readErrors++;
      continue;
    }
    RuleData* rd = getRuleData(name);
    if (rd == nullptr) {
      int index = newRule(name);
      rd = ruleAt(index);
      if (rd == nullptr) {
        parser.errorMessage("hit Max Rules, adding: ", name);
        readErrors++;
        continue;
      }
    } else if (!rd->inUse()) {
      parser.errorMessage("Reserved rule name: ", name);
      readErrors++;
      continue;
    }
    for (;;) {
      while (isBlank(*s)) s++;
      if (*s == ';') break;
      if (*s == 0) {
        char* following = parser.nextLine();
        while (following != nullptr && (*following == 0 || *following == ';')) following = parser.nextLine();
        if (following != nullptr && std::strchr("(<[{:", *following) != nullptr) {
          s = following;
          continue;
        }
        lookahead = following;  // the next statement
        break;
      }
      if (*s == ':') {
        char* option = s;
        s++;
        while (isBlank(*s)) s++;
        if (s[0] == 'L' && s[1] == 'M' && isBlank(s[2])) {
          s += 3;
          while (isBlank(*s)) s++;
          char* digits = s;
          if (*digits == '-' || *digits == '+') digits++;
          if (*digits >= '0' && *digits <= '9') {
            char* end = nullptr;
            long value = std::strtol(s, &end, 10);
            rd->LM = static_cast<short>(value);
            s = end;
            while (*s >= '0' && *s <= '9') s++;
            continue;
          }
        }
        parser.errorMessage("Unknown .rul file keyword ", option);
        readErrors++;
        break;
      }
      if (*s == '(' || *s == '<' || *s == '[' || *s == '{') {
        copyString(rest, s, sizeof rest);
        if (!bodies.mark(rd->index)) {
          // A second body for the same name in one file: the later one is taken, and said so.
          parser.errorMessage("Rule defined twice, the later body replaces the earlier: ", rd->name);
          readErrors++;
        }
        parser.items().removeAll();
        if (parser.loadRuleBody(s) == nullptr) {
          parser.errorMessage("Rule Strings didn't parse: ", rest);
          rd->clearBody();
          readErrors++;
        } else if (!rd->setRuleBody(parser.items(), words, this)) {
          parser.errorMessage("Rule items didn't parse: ", rest);
          readErrors++;
        }
        break;  // reading goes on with the line after the body
      }
      parser.errorMessage("Bad rule syntax: ", s);
      readErrors++;
      break;
    }
  }
  readErrors += parser.cutLineCount();
  return 1;
}

int RuleDictionary::writeFd(int fd, WordDictionary* words) {
  if (fd < 0 || words == nullptr) return 0;
  OC<RuleData> sorted(rules.count() + 1, 8);
  for (int i = 0; i < rules.count(); i++) {
    RuleData& rd = rules[i];
    if (rd.flag != IS_UNUSED && !(rd.flag & RULE_NOT_WRITTEN)) sorted.add(&rd);
  }
  if (sorted.count() == 0) return 1;
  std::qsort(sorted.entries(), static_cast<std::size_t>(sorted.count()), sizeof(void*), ruleDictionarySort);

  RuleBodyParser writer(words, this, -1);
  writer.setOutput(fd);
  writer.out("; setup all RULE forward references\n\n");
  for (RuleData* rd : sorted) {
    writer.out("RULE ", rd->name);
    if (rd->LM != 0) {
      char number[16];
      longToAscii(rd->LM, number, sizeof number);
      writer.out(" : LM ", number);
    }
    writer.out(" ;\n");
  }
  writer.out("\n\n; now all rule bodies\n\n");
  for (RuleData* rd : sorted) {
    writer.out("RULE ", rd->name);
    writer.writeRuleBody(rd);
    writer.out(" ;\n\n");
  }
  return writer.flushOutput();
}

int RuleDictionary::writeFile(const char* path, WordDictionary* words) {
  if (path == nullptr || words == nullptr) return 0;
  SafeFile file;
  if (file.open(path, 0644)) {
    if (!writeFd(file.handle(), words)) file.noteWriteFailure(errno);
    if (file.commit()) return 1;
  }
  logError(".rul file not written: ", file.reason());
  return 0;
}

}  // namespace vlm
