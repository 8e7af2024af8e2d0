// RuleBodyParser: reads rule bodies (a small regular expression over words and rule references,
// possibly over several lines of a .rul file) into a flat item array, and writes a rule's graph
// back as body text. simpleSequence turns plain words into items directly.
//
// Body syntax: "(" sequence ")", "{" alternatives "}", "[" optional sequence "]", "<" word tree
// ">"; words; "&name" rule references ("&OutOfVocabularyRule" is the out-of-vocabulary element);
// "+" repeats the word, rule, or closed sequence, alternative or word tree before it; ";" skips
// the rest of the line. See docs/grammar.md.
#pragma once
#include "grammar/fsg.h"

namespace vlm {

class WordDictionary;
class RuleDictionary;
struct RuleData;

class RuleBodyParser {
 public:
  // fd: the .rul file being read (its further lines are taken as a body needs them), or -1 when
  // only text given to loadRuleBody is parsed.
  RuleBodyParser(WordDictionary* words, RuleDictionary* rules, int fd = -1);
  ~RuleBodyParser();
  RuleBodyParser(const RuleBodyParser&) = delete;
  RuleBodyParser& operator=(const RuleBodyParser&) = delete;

  // Reading. nextLine: the next line's first non-blank character, or null at the end of the file.
  char* nextLine();
  // The next non-blank character from text on, reading further lines when the line is used up
  // (";" ends a line); null at the end.
  const char* nextToken(const char* text);

  // Parses one body starting at text (its opening bracket) into items(): the position after the
  // body, or null on error (the message is logged; items() then holds a partial array).
  const char* loadRuleBody(const char* text);
  const char* loadSequence(const char* text);
  const char* loadAlternative(const char* text);
  const char* loadOptionalSequence(const char* text);
  const char* loadWordTree(const char* text);
  const char* loadWord(const char* text);
  const char* loadRule(const char* text);
  const char* loadRepeat(const char* text);

  // Appends "\nline: <n>\t" text second to the message text and logs the message text.
  void errorMessage(const char* text, const char* second = nullptr);
  // Writes "line: <n>\t" text second at the start of the message text when it is still empty,
  // without logging.
  void errorStatus(const char* text, const char* second = nullptr);
  const char* messageText() const { return message; }
  void clearMessage();
  int lineNumber() const { return lineCount; }

  FSGNodeTypeItemAC& items() { return itemArray; }

  // Appends (9, 0), one (1, index) per whitespace-separated word of text (found by its name, else
  // in lower case), and (10, 0). 1 on success; 0 when a word is in neither form in the dictionary
  // (the items appended so far stay).
  static int simpleSequence(WordDictionary* words, const char* text, FSGNodeTypeItemAC* items);

  // Writing: body text of a graph, to the output handle set by setOutput. Each returns the node
  // where writing stopped. nested: 0 at the top of a body.
  void setOutput(int fd);
  int flushOutput();  // 1 when everything written so far reached the handle
  FSGNode* writeSequence(FSGNode* node, FSGNode* stop, int nested = 0);
  FSGNode* writePrimitiveSequence(FSGNode* node, FSGNode* stop, int nested = 1);
  FSGNode* writeAlternative(FSGNode* node, FSGNode* next, int nested = 0);
  FSGNode* writeWordTree(FSGNode* node, FSGNode* next, int nested = 0);
  // The body of a rule as the .rul writer puts it after "RULE name" (without the final " ;").
  void writeRuleBody(RuleData* rule);
  void out(const char* text, const char* second = nullptr);
  // Lines nextLine found longer than 1023 bytes (each logged as an error and skipped).
  int cutLineCount() const { return cutLines; }

  // Deepest nesting of brackets a body may have.
  static constexpr int kMaxNesting = 100;

 protected:
  const char* loadConstruct(const char* text, int depth);
  const char* loadContent(const char* text, char close, int depth);
  const char* scanName(const char* text, char* name, int room);
  void primitiveWriteWordTree(FSGNode* node);
  const char* wordName(int index) const;
  const char* ruleName(int index) const;

  WordDictionary* wordDictionary;
  RuleDictionary* ruleDictionary;
  char message[256];
  char* messageEnd;
  char* messagePos;
  int fd;
  char line[1024];
  int lineCount = 0;
  int cutLines = 0;  // lines longer than the line buffer, reported and skipped
  FSGNodeTypeItemAC itemArray;
  int depth = 0;

  int outFd = -1;
  int outFailed = 0;
  char outBuffer[4096];
  int outUsed = 0;
  int outColumn = 0;
  static constexpr int kWrapColumn = 240;
};

}  // namespace vlm
