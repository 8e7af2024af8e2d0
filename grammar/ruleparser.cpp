// The rule body parser: recursive descent over body text into items, messages with line numbers,
// and simpleSequence.
#define VLM_UNIT "recog"
#include "grammar/ruleparser.h"

#include <cstring>

#include "foundation/copystr.h"
#include "foundation/log.h"
#include "foundation/stdiox.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"

namespace vlm {

namespace {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Characters that end a word or a rule name inside a body.
inline bool endsBodyName(char c) {
  switch (c) {
    case 0: case ' ': case '\t': case '\r': case '\n':
    case '&': case '(': case ')': case '+': case ':': case ';':
    case '<': case '>': case '[': case ']': case '{': case '}':
      return true;
    default:
      return false;
  }
}

// lookUpWords converts its output into items through simpleSequence once the grammar is linked in.
const bool converterInstalled = [] {
  setWordsToItemsConverter(&RuleBodyParser::simpleSequence);
  return true;
}();

}  // namespace

RuleBodyParser::RuleBodyParser(WordDictionary* words, RuleDictionary* rules, int file)
    : wordDictionary(words), ruleDictionary(rules), fd(file), itemArray(1000, 5) {
  VLM_ASSERT(words && rules, "wordDictionary && ruleDictionary");
  (void)converterInstalled;
  messageEnd = message + sizeof message;
  clearMessage();
  line[0] = 0;
}

RuleBodyParser::~RuleBodyParser() { flushOutput(); }

void RuleBodyParser::clearMessage() {
  messagePos = message;
  message[0] = 0;
}

void RuleBodyParser::errorMessage(const char* text, const char* second) {
  char number[16];
  longToAscii(lineCount, number, sizeof number);
  messagePos = copyString(messagePos, "\nline: ", static_cast<int>(messageEnd - messagePos));
  messagePos = copyString(messagePos, number, static_cast<int>(messageEnd - messagePos));
  messagePos = copyString(messagePos, "\t", static_cast<int>(messageEnd - messagePos));
  if (text) messagePos = copyString(messagePos, text, static_cast<int>(messageEnd - messagePos));
  if (second) messagePos = copyString(messagePos, second, static_cast<int>(messageEnd - messagePos));
  logError(message);
}

void RuleBodyParser::errorStatus(const char* text, const char* second) {
  if (messagePos != message) return;
  char number[16];
  longToAscii(lineCount, number, sizeof number);
  messagePos = copyString(messagePos, "line: ", static_cast<int>(messageEnd - messagePos));
  messagePos = copyString(messagePos, number, static_cast<int>(messageEnd - messagePos));
  messagePos = copyString(messagePos, "\t", static_cast<int>(messageEnd - messagePos));
  if (text) messagePos = copyString(messagePos, text, static_cast<int>(messageEnd - messagePos));
  if (second) messagePos = copyString(messagePos, second, static_cast<int>(messageEnd - messagePos));
}

char* RuleBodyParser::nextLine() {
  if (fd < 0) return nullptr;
  int cut = 0;
  if (fGetLine(fd, line, sizeof line, &cut) == nullptr) {
    line[0] = 0;
    return nullptr;
  }
  lineCount++;
  if (cut) {
    // A line taken in pieces would be read as other words; it is named and left out.
    clearMessage();
    errorMessage("line longer than 1023 bytes, skipped");
    cutLines++;
    line[0] = 0;
    return line;
  }
  char* p = line;
  while (isBlank(*p)) p++;
  return p;
}

const char* RuleBodyParser::nextToken(const char* text) {
  const char* p = text;
  for (;;) {
    if (p == nullptr) return nullptr;
    while (isBlank(*p)) p++;
    if (*p == ';') {  // a comment runs to the end of the line
      while (*p && *p != '\n') p++;
      continue;
    }
    if (*p) return p;
    p = nextLine();
  }
}

const char* RuleBodyParser::scanName(const char* text, char* name, int room) {
  const char* p = text;
  char* n = name;
  char* last = name + room - 1;
  while (!endsBodyName(*p)) {
    if (*p == '\\') {
      if (p[1] == 0) {  // a backslash at the end of the text escapes nothing
        p++;
        break;
      }
      if (n < last) *n++ = *p;  // the escaped character belongs to the name, the backslash too
      p++;
    }
    if (n < last) *n++ = *p;
    p++;
  }
  *n = 0;
  return p;
}

const char* RuleBodyParser::loadRuleBody(const char* text) {
  depth = 0;
  const char* p = nextToken(text);
  if (p == nullptr || (*p != '(' && *p != '{' && *p != '[' && *p != '<')) {
    errorMessage("body does not begin with '(' '<' '[' or '{'");
    return nullptr;
  }
  return loadConstruct(p, 0);
}

const char* RuleBodyParser::loadConstruct(const char* text, int level) {
  if (level >= kMaxNesting) {
    errorMessage("Rule nesting too deep: ", text);
    return nullptr;
  }
  depth = level + 1;
  const char* result = nullptr;
  switch (*text) {
    case '(': result = loadSequence(text + 1); break;
    case '{': result = loadAlternative(text + 1); break;
    case '[': result = loadOptionalSequence(text + 1); break;
    case '<': result = loadWordTree(text + 1); break;
    default: errorMessage("body does not begin with '(' '<' '[' or '{'"); break;
  }
  depth = level;
  return result;
}

const char* RuleBodyParser::loadContent(const char* text, char close, int level) {
  const char* p = text;
  for (;;) {
    p = nextToken(p);
    if (p == nullptr) {
      // Within a text the end is an error of that line; at the end of a file the body fails.
      if (fd < 0) errorMessage("Unexpected end of line");
      return nullptr;
    }
    char c = *p;
    if (c == close) return p + 1;
    switch (c) {
      case ')': case ']': case '}': case '>': {
        char bracket[2] = {c, 0};
        errorMessage("Bad nesting? Unexpected terminal ", bracket);
        return nullptr;
      }
      case '(': case '{': case '[': case '<':
        p = loadConstruct(p, level);
        break;
      case '&':
        p = loadRule(p);
        break;
      case '+':
        p = loadRepeat(p);
        if (p) p++;
        break;
      default:
        p = loadWord(p);
        break;
    }
    if (p == nullptr) return nullptr;
  }
}

const char* RuleBodyParser::loadSequence(const char* text) {
  const int level = depth;
  const int start = itemArray.add(eSequenceNode, 0);
  const char* p = loadContent(text, ')', level);
  if (p == nullptr) return nullptr;
  if (itemArray.count() == start + 1) {
    errorMessage("0 length Sequence");
    return nullptr;
  }
  itemArray.add(eSequenceEnd, 0);
  return p;
}

const char* RuleBodyParser::loadAlternative(const char* text) {
  const int level = depth;
  const int start = itemArray.add(eAlternativeNode, 0);
  const char* p = loadContent(text, '}', level);
  if (p == nullptr) return nullptr;
  if (itemArray.count() == start + 1) {
    errorMessage("0 length Alternative");
    return nullptr;
  }
  itemArray.add(eAlternativeEnd, 0);
  return p;
}

const char* RuleBodyParser::loadOptionalSequence(const char* text) {
  const int level = depth;
  const int start = itemArray.add(eOptionalNode, 0);
  const char* p = loadContent(text, ']', level);
  if (p == nullptr) return nullptr;
  if (itemArray.count() == start + 1) {
    errorMessage("0 length Optional");
    return nullptr;
  }
  itemArray.add(eOptionalEnd, 0);
  return p;
}

const char* RuleBodyParser::loadWordTree(const char* text) {
  const int start = itemArray.add(eWordTreeNode, 0);
  const char* p = text;
  bool afterWord = false;  // a rule reference may follow a word once
  for (;;) {
    p = nextToken(p);
    if (p == nullptr) {
      if (fd < 0) errorMessage("Unexpected end of line");
      return nullptr;
    }
    char c = *p;
    if (c == '>') break;
    if (c == '&' && afterWord) {
      p = loadRule(p);
      if (p == nullptr) return nullptr;
      if (itemArray[itemArray.count() - 1].type != eRuleNode) {  // the out-of-vocabulary element
        errorMessage("illegal construct in WordTree", "&");
        return nullptr;
      }
      afterWord = false;
      continue;
    }
    if (c == '&' || c == '+' || c == '(' || c == ')' || c == '{' || c == '}' || c == '[' || c == ']' ||
        c == '<' || c == ':') {
      char bad[2] = {c, 0};
      errorMessage("illegal construct in WordTree", bad);
      return nullptr;
    }
    p = loadWord(p);
    if (p == nullptr) return nullptr;
    afterWord = true;
  }
  if (itemArray.count() == start + 1) {
    errorMessage("0 length Alternative");
    return nullptr;
  }
  itemArray.add(eWordTreeEnd, 0);
  return p + 1;
}

const char* RuleBodyParser::loadWord(const char* text) {
  char name[1024];
  const char* p = scanName(text, name, sizeof name);
  if (name[0] == 0) {
    char bad[2] = {*text, 0};
    errorMessage("No word named: ", bad);
    return nullptr;
  }
  WordData* w = wordDictionary->getWordData(name);
  if (w == nullptr && wordDictionary->makeCompoundWord(name, 1) > 0) w = wordDictionary->getWordData(name);
  if (w == nullptr) {
    errorMessage("No word named: ", name);
    return nullptr;
  }
  itemArray.add(eWordNode, w->index);
  return p;
}

const char* RuleBodyParser::loadRule(const char* text) {
  const char* p = text;
  if (*p == '&') p++;
  while (*p == ' ' || *p == '\t') p++;
  char name[1024];
  p = scanName(p, name, sizeof name);
  if (name[0] == 0) {
    errorMessage("No rule name following '&'");
    return nullptr;
  }
  if (std::strcmp(name, "OutOfVocabularyRule") == 0) {
    itemArray.add(eOutOfVocabularyNode, kOutOfVocabularyRule);
    return p;
  }
  RuleData* rd = ruleDictionary->getRuleData(name);
  if (rd == nullptr) {
    errorMessage("No rule named: ", name);
    return nullptr;
  }
  itemArray.add(eRuleNode, rd->index);
  return p;
}

const char* RuleBodyParser::loadRepeat(const char* text) {
  int type = itemArray.count() > 0 ? itemArray[itemArray.count() - 1].type : -1;
  if (type != eWordNode && type != eRuleNode && type != eSequenceEnd && type != eAlternativeEnd &&
      type != eWordTreeEnd) {
    errorMessage("'+'repeat must follow a word, rule ')' '>' or '}'");
    return nullptr;
  }
  itemArray.add(eRepeatNode, 0);
  return text;
}

int RuleBodyParser::simpleSequence(WordDictionary* words, const char* text, FSGNodeTypeItemAC* items) {
  VLM_ASSERT(text && *text, "src && *src");
  if (words == nullptr || items == nullptr || text == nullptr) return 0;
  items->add(eSequenceNode, 0);
  const char* p = text;
  char local[256];
  for (;;) {
    while (isBlank(*p)) p++;
    if (*p == 0) break;
    const char* start = p;
    while (*p && !isBlank(*p)) p++;
    const int length = static_cast<int>(p - start);
    char* word = length < static_cast<int>(sizeof local) ? local : new char[static_cast<std::size_t>(length) + 1];
    std::memcpy(word, start, static_cast<std::size_t>(length));
    word[length] = 0;
    WordData* w = words->getWordData(word);
    if (w == nullptr) {
      for (char* c = word; *c; c++)
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
      w = words->getWordData(word);
    }
    if (word != local) delete[] word;
    if (w == nullptr) return 0;
    items->add(eWordNode, w->index);
  }
  items->add(eSequenceEnd, 0);
  return 1;
}

}  // namespace vlm
