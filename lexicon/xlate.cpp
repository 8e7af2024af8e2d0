// Letter-to-sound translation: name cleaning, the rewrite-rule translator, the number reader,
// the speller and the text driver that combines them.
#define VLM_UNIT "xlate"
#include "lexicon/xlate.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "foundation/log.h"
#include "lexicon/ltsmodel.h"

namespace vlm {

namespace xlatetab {
// The tables themselves are in xlaterules.cpp.
extern char* const kRuleText[kXlateRuleBlocks];
extern const int kRuleTextSize[kXlateRuleBlocks];
extern const char* const kOnesNames[20];
extern const char* const kTensNames[10];
extern const char kHundredName[];
extern const char kThousandName[];
extern const char kMillionName[];
extern const char kBillionName[];
extern const char kAndName[];
extern const char kMinusName[];
extern const char kTooLargeName[];
extern const char kPointName[];
extern const char* const kSpellNames[128];
}  // namespace xlatetab

using namespace xlatetab;

namespace {

// ---------------------------------------------------------------------------------------------
// Rule table preparation.
//
// The block texts are split in place once per process: every tab becomes a NUL, and an index of
// the rules' four field pointers is built next to them. The split writes into the shared static
// texts, so it must happen exactly once even if two threads translate at the same time (the PC
// tool and tests may do so): std::call_once guards it, and after it the texts are only read.

constexpr int kRuleCapacity = 400;  // the table holds 375 rules
XlateRule ruleIndex[kRuleCapacity];
int blockFirst[kXlateRuleBlocks];
int blockCount[kXlateRuleBlocks];
std::once_flag rulesPrepared;

void prepareRules() {
  int n = 0;
  for (int b = 0; b < kXlateRuleBlocks; ++b) {
    char* text = kRuleText[b];
    char* const end = text + kRuleTextSize[b] - 1;  // the text's own terminator
    for (char* q = text; q < end; ++q)
      if (*q == '\t') *q = 0;
    blockFirst[b] = n;
    // Walks the fields; the block ends at a rule whose match field is empty.
    char* field = text;
    auto next = [end](char* f) -> char* {
      if (f >= end) return end;
      return f + std::strlen(f) + 1;
    };
    for (;;) {
      char* left = field;
      char* match = next(left);
      if (left >= end || match > end || *match == 0) break;
      char* right = next(match);
      char* phones = next(right);
      if (phones > end) break;
      VLM_ASSERT(n < kRuleCapacity, "n < kRuleCapacity");
      if (n >= kRuleCapacity) break;
      ruleIndex[n++] = XlateRule{left, match, right, phones};
      field = next(phones);
      if (field > end) break;
    }
    blockCount[b] = n - blockFirst[b];
  }
}

inline void ensureRules() { std::call_once(rulesPrepared, prepareRules); }

inline bool isLowerLetter(int c) { return c >= 'a' && c <= 'z'; }
inline bool isUpperLetter(int c) { return c >= 'A' && c <= 'Z'; }
inline bool isLetter(int c) { return isLowerLetter(c) || isUpperLetter(c); }
inline bool isDigit(int c) { return c >= '0' && c <= '9'; }
inline bool isWhite(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Character classes.

int isVowel(int c) {
  switch (c) {
    case 'a': case 'e': case 'i': case 'o': case 'u': return 1;
    default: return 0;
  }
}

int isConsonant(int c) { return isLowerLetter(c) && !isVowel(c) ? 1 : 0; }

int isVoicedConsonant(int c) {
  switch (c) {
    case 'b': case 'd': case 'g': case 'j': case 'l': case 'm': case 'n': case 'r': case 'v':
    case 'w': case 'z':
      return 1;
    default:
      return 0;
  }
}

int isFrontVowel(int c) { return c == 'e' || c == 'i' || c == 'y' ? 1 : 0; }

// ---------------------------------------------------------------------------------------------
// PhoneBuf

void PhoneBuf::addFrag(const char* phones) {
  if (!phones) return;
  if (length < 0 || length > kText) length = 0;
  while (*phones && length < kText) text[length++] = *phones++;
  text[length] = 0;
}

void PhoneBuf::addWord(const char* phones) {
  if (length > 0) addFrag(" ");
  addFrag(phones);
}

// ---------------------------------------------------------------------------------------------
// cleanUpName

char* cleanUpName(char* target, const char* source, int room, int limit) {
  VLM_ASSERT(target, "targ");
  if (!target || room < 1) return nullptr;
  if (!source) {
    *target = 0;
    return nullptr;
  }
  if (limit < 1) limit = room > INT32_MAX / 2 ? INT32_MAX : 2 * room;

  const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
  char* t = target;
  bool lastWasSeparator = false;
  int read = 0;
  while (read < limit && *s) {
    const int left = room - static_cast<int>(t - target);  // the NUL included
    if (left <= 1) break;
    const unsigned c = *s++;
    ++read;
    if (isUpperLetter(c)) {
      *t++ = static_cast<char>(c - 'A' + 'a');
      lastWasSeparator = false;
    } else if (isLowerLetter(c) || isDigit(c) || c == '\'' || c == '.') {
      *t++ = static_cast<char>(c);
      lastWasSeparator = false;
    } else if (c == '&' || c == '+') {
      if (left < 3) break;
      *t++ = '\\';
      *t++ = '&';
      lastWasSeparator = false;
    } else if (c == '\\') {
      // The escaped byte is kept as it is. A backslash with nothing (or no room) after it is
      // dropped: left dangling at the end of a name it would escape whatever a file writer puts
      // next to the name.
      if (read >= limit || *s == 0 || left < 3) break;
      *t++ = '\\';
      *t++ = static_cast<char>(*s++);
      ++read;
      lastWasSeparator = false;
    } else if (c == 246 || c == 252) {  // o and u with diaeresis in the Western code page
      if (left < 3) break;
      *t++ = c == 246 ? 'o' : 'u';
      *t++ = 'e';
      lastWasSeparator = false;
    } else if (t > target && !lastWasSeparator) {
      *t++ = '_';
      lastWasSeparator = true;
    }
  }
  if (lastWasSeparator) --t;
  *t = 0;
  return t > target ? t : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Context patterns

int leftMatch(const char* pattern, const char* position, const char* textStart) {
  if (!pattern || !*pattern) return 1;
  const char* t = position - 1;
  // Without a start bound, reading stops after a NUL or a consumed "_" boundary mark.
  bool stopped = false;
  auto at = [&]() -> int {
    if (stopped) return 0;
    if (textStart && t < textStart) return 0;
    return static_cast<unsigned char>(*t);
  };
  auto consume = [&]() {
    if (!textStart && *t == '_') stopped = true;
    --t;
  };
  for (const char* p = pattern + std::strlen(pattern) - 1; p >= pattern; --p) {
    const int c = static_cast<unsigned char>(*p);
    if (isLetter(c) || c == '\'' || c == '_') {
      if (at() != c) return 0;
      consume();
      continue;
    }
    switch (c) {
      case '#':
        if (!isVowel(at())) return 0;
        while (isVowel(at())) consume();
        break;
      case '+':
        if (!isFrontVowel(at())) return 0;
        consume();
        break;
      case '.':
        if (!isVoicedConsonant(at())) return 0;
        consume();
        break;
      case '^':
        if (!isConsonant(at())) return 0;
        consume();
        break;
      case ':':
        while (isConsonant(at())) consume();
        break;
      default:
        logError("Bad char in left rule: ", pattern);
        return 0;
    }
  }
  return 1;
}

int rightMatch(const char* pattern, const char* position) {
  if (!pattern || !*pattern) return 1;
  const unsigned char* t = reinterpret_cast<const unsigned char*>(position);
  for (const char* p = pattern; *p; ++p) {
    const int c = static_cast<unsigned char>(*p);
    if (isLetter(c) || c == '\'' || c == '_') {
      if (*t != c) return 0;
      ++t;
      continue;
    }
    switch (c) {
      case '#':
        if (!isVowel(*t)) return 0;
        while (isVowel(*t)) ++t;
        break;
      case '+':
        if (!isFrontVowel(*t)) return 0;
        ++t;
        break;
      case '.':
        if (!isVoicedConsonant(*t)) return 0;
        ++t;
        break;
      case '^':
        if (!isConsonant(*t)) return 0;
        ++t;
        break;
      case ':':
        while (isConsonant(*t)) ++t;
        break;
      case '%':
        // The longest of the endings "er", "es", "ed", "ely", "ing", else a lone "e".
        if (t[0] == 'e') {
          if (t[1] == 'r' || t[1] == 's' || t[1] == 'd')
            t += 2;
          else if (t[1] == 'l' && t[2] == 'y')
            t += 3;
          else
            t += 1;
        } else if (t[0] == 'i' && t[1] == 'n' && t[2] == 'g') {
          t += 3;
        } else {
          return 0;
        }
        break;
      default:
        logError("Bad char in right rule: ", p);
        return 0;
    }
  }
  return 1;
}

// ---------------------------------------------------------------------------------------------
// The rule translator

int xlateRuleBlock(int c) { return isLowerLetter(c) ? c - 'a' + 1 : 0; }

const XlateRule* xlateRules(int block, int* count) {
  ensureRules();
  if (block < 0 || block >= kXlateRuleBlocks) {
    if (count) *count = 0;
    return nullptr;
  }
  if (count) *count = blockCount[block];
  return &ruleIndex[blockFirst[block]];
}

const char* xlateLettersByRule(PhoneBuf& buffer, const char* position, int block,
                               const char* textStart) {
  ensureRules();
  if (block >= 0 && block < kXlateRuleBlocks) {
    const XlateRule* rule = &ruleIndex[blockFirst[block]];
    for (int i = 0; i < blockCount[block]; ++i, ++rule) {
      const size_t length = std::strlen(rule->match);
      if (std::strncmp(rule->match, position, length) != 0) continue;
      if (!leftMatch(rule->left, position, textStart)) continue;
      if (!rightMatch(rule->right, position + length)) continue;
      buffer.addFrag(rule->phones);
      return position + length;
    }
  }
  logError("Can't find rule for: ", position);
  return *position ? position + 1 : position;
}

int tryDictionary(const char* word, PhoneBuf& buffer) {
  // Whole-word pronunciations are not taken from the dictionary here: every word goes through
  // the rules or the speller, so a name gets the same translation with or without a dictionary.
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Speller and number reader

void spellOut(const char* text, int length, PhoneBuf& buffer) {
  if (!text) return;
  for (int i = 0; i < length && text[i]; ++i) {
    unsigned c = static_cast<unsigned char>(text[i]);
    if (c == '\\' && i + 1 < length && text[i + 1]) c = static_cast<unsigned char>(text[++i]);
    if (c >= 128) continue;  // the table names 7-bit characters only
    const char* name = kSpellNames[c];
    if (*name) buffer.addWord(name);
  }
}

namespace {

// value >= 1
void sayPositive(int32_t value, PhoneBuf& buffer) {
  struct Scale {
    int32_t unit;
    const char* name;
  };
  static const Scale scales[] = {{1000000000, kBillionName}, {1000000, kMillionName}};
  for (const Scale& scale : scales) {
    if (value >= scale.unit) {
      sayPositive(value / scale.unit, buffer);
      buffer.addWord(scale.name);
      value %= scale.unit;
      if (value == 0) return;
      if (value < 100) buffer.addWord(kAndName);
    }
  }
  // 1100 to 1999 are said in hundreds ("fifteen hundred").
  if ((value >= 1000 && value <= 1099) || value >= 2000) {
    sayPositive(value / 1000, buffer);
    buffer.addWord(kThousandName);
    value %= 1000;
    if (value == 0) return;
    if (value < 100) buffer.addWord(kAndName);
  }
  if (value >= 100) {
    buffer.addWord(kOnesNames[value / 100]);
    buffer.addWord(kHundredName);
    value %= 100;
    if (value == 0) return;
  }
  if (value >= 20) {
    buffer.addWord(kTensNames[value / 10]);
    value %= 10;
    if (value == 0) return;
  }
  buffer.addWord(kOnesNames[value]);
}

}  // namespace

void xlateCardinal(int32_t value, PhoneBuf& buffer) {
  if (value < 0) {
    buffer.addWord(kMinusName);
    if (value == INT32_MIN) {
      buffer.addWord(kTooLargeName);
      return;
    }
    value = -value;
  }
  if (value == 0) {
    buffer.addWord(kOnesNames[0]);
    return;
  }
  sayPositive(value, buffer);
}

// ---------------------------------------------------------------------------------------------
// Words and texts

namespace {

// The trained model's translation of a cleaned word (its parts separated by "_"): each part is
// added as a word. Returns 0, adding nothing, when no model is in use or it cannot pronounce a
// part (a character it does not know, such as a digit or "\&"; a part too long; no path found),
// so that the rules translate the whole word.
int translateByModel(const char* cleaned, int length, PhoneBuf& buffer) {
  LtsModel* model = letterToSoundModel();
  if (!model || length <= 0) return 0;
  const int mark = buffer.length;
  for (int start = 0, i = 0; i <= length; ++i) {
    if (i < length && cleaned[i] != '_') continue;
    LtsPronunciation best;
    if (i > start) {
      if (model->pronounce(cleaned + start, i - start, &best, 1) != 1) {
        buffer.length = mark;  // the parts added so far go again
        buffer.text[mark] = 0;
        return 0;
      }
      buffer.addWord(best.phones);
    }
    start = i + 1;
  }
  return 1;
}

}  // namespace

void xlateWord(const char* word, int length, PhoneBuf& buffer) {
  if (!word || length <= 0) return;
  // The cleaned word framed by boundary marks, with a NUL in front so that no left context can
  // read before the frame: NUL, "_", word (up to 1020 characters), "_", NUL.
  constexpr int kCleanRoom = 1021;
  char framed[2 + kCleanRoom + 1];
  framed[0] = 0;
  framed[1] = '_';
  char* end = cleanUpName(framed + 2, word, kCleanRoom, length);
  if (!end) end = framed + 2;

  if (tryDictionary(framed + 2, buffer)) return;
  end[0] = '_';
  end[1] = 0;

  bool anyLower = false, upperInside = false, escapeOrInitial = false, anyVowel = false;
  for (int i = 0; i < length && word[i]; ++i) {
    const int c = static_cast<unsigned char>(word[i]);
    if (isLowerLetter(c)) anyLower = true;
    // A capital right after a letter, as in "McDonald"; capitals after an apostrophe or a
    // hyphen ("O'Brien", "Jean-Pierre") start a part of the name and are read normally.
    if (isUpperLetter(c) && i > 0 && isLetter(static_cast<unsigned char>(word[i - 1])))
      upperInside = true;
    if (c == '\\' || (i == 1 && c == '.')) escapeOrInitial = true;
    // o and u with diaeresis (bytes 246, 252) are lower-case vowels too: the cleaner writes
    // them as "oe" and "ue".
    if (isVowel(c) || c == 'y' || c == 246 || c == 252) anyVowel = anyLower = true;
  }

  if (!anyVowel || (upperInside && anyLower) || escapeOrInitial) {
    spellOut(word, length, buffer);
    return;
  }

  if (translateByModel(framed + 2, static_cast<int>(end - (framed + 2)), buffer)) return;
  if (buffer.length > 0) buffer.addFrag(" ");
  const char* p = framed + 2;
  while (*p) p = xlateLettersByRule(buffer, p, xlateRuleBlock(static_cast<unsigned char>(*p)), framed + 1);
  if (buffer.length > 0) {
    const char last = buffer.text[buffer.length - 1];
    if (last == 'O' || last == '0') buffer.addFrag("w");
  }
}

namespace {

// Reads the number at s (a "-" and digits, or digits); returns the position after it.
const unsigned char* sayNumber(const unsigned char* s, PhoneBuf& buffer) {
  const bool negative = *s == '-';
  if (negative) ++s;
  const unsigned char* digits = s;
  int64_t magnitude = 0;
  bool tooLong = false;
  for (; isDigit(*s); ++s) {
    if (!tooLong) {
      magnitude = magnitude * 10 + (*s - '0');
      if (magnitude > INT32_MAX) tooLong = true;
    }
  }
  if (tooLong) {
    // Beyond the 32-bit range (a telephone number, an account number): the digits are said one
    // by one rather than as a wrapped value.
    if (negative) buffer.addWord(kMinusName);
    spellOut(reinterpret_cast<const char*>(digits), static_cast<int>(s - digits), buffer);
  } else {
    xlateCardinal(static_cast<int32_t>(negative ? -magnitude : magnitude), buffer);
  }
  if (s[0] == '.' && isDigit(s[1])) {
    buffer.addWord(kPointName);
    const unsigned char* fraction = ++s;
    while (isDigit(*s)) ++s;
    spellOut(reinterpret_cast<const char*>(fraction), static_cast<int>(s - fraction), buffer);
  }
  return s;
}

bool isWordBreakPunctuation(int c) {
  switch (c) {
    case '!': case '"': case '(': case ')': case ',': case '-': case '.': case ':': case ';':
    case '?': case '[': case ']':
      return true;
    default:
      return false;
  }
}

// Copies the buffer's phones to target (at most room - 2 characters, then a NUL) and returns
// the end.
char* copyOut(const PhoneBuf& buffer, char* target, int room, int join) {
  // Whitespace separates words; equal lower-case phones in a row (doubled consonant
  // letters, equal phones meeting across a joined word boundary) become one.
  const int maxChars = room - 2 > 0 ? room - 2 : 0;
  char* t = target;
  char last = 0;
  bool inBreak = false;
  for (int i = 0; i < buffer.length; ++i) {
    const char c = buffer.text[i];
    if (isWhite(static_cast<unsigned char>(c))) {
      if (t > target && !inBreak) {
        if ((last == 'O' || last == '0') && t - target < maxChars) *t++ = last = 'w';
        if (!join && t - target < maxChars) *t++ = last = ' ';
        inBreak = true;
      }
      continue;
    }
    inBreak = false;
    if (c == last && isLowerLetter(static_cast<unsigned char>(c))) continue;
    if (t - target >= maxChars) break;
    *t++ = last = c;
  }
  if (t > target && t[-1] == ' ') --t;
  *t = 0;
  return t;
}

}  // namespace

char* xlateString(char* target, const char* text, int room, WordDictionary* dictionary, int join) {
  ensureRules();
  if (!target || room < 1) return target;

  PhoneBuf buffer;
  buffer.clear(dictionary);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text ? text : "");
  while (*s) {
    const int c = *s;
    if (isWhite(c)) {
      ++s;
    } else if (isDigit(c) || (c == '-' && isDigit(s[1]))) {
      s = sayNumber(s, buffer);
    } else if (!isLetter(c) && c < 128) {
      // One punctuation character: a word break or its spoken name; the rest of the token is
      // a token of its own.
      if (isWordBreakPunctuation(c))
        buffer.addFrag(" ");
      else
        spellOut(reinterpret_cast<const char*>(s), 1, buffer);
      ++s;
    } else {
      // A word runs to the next whitespace. Bytes above 127 (accented letters) begin words too:
      // the name cleaner turns them into letters or separators.
      const unsigned char* word = s;
      while (*s && !isWhite(*s)) ++s;
      const int length = static_cast<int>(s - word);
      int taken = 0;
      if (dictionary) {
        char token[1024];
        const int n = length < static_cast<int>(sizeof(token)) - 1 ? length : sizeof(token) - 1;
        std::memcpy(token, word, n);
        token[n] = 0;
        taken = tryDictionary(token, buffer);
      }
      if (!taken) xlateWord(reinterpret_cast<const char*>(word), length, buffer);
    }
  }

  return copyOut(buffer, target, room, join);
}

int xlateCloseAlternative(char* target, const char* text, int room) {
  if (!target || room < 1) return 0;
  *target = 0;
  LtsModel* model = letterToSoundModel();
  char cleaned[1024];
  const char* end = text ? cleanUpName(cleaned, text, sizeof cleaned, 0) : nullptr;
  if (!model || !end) return 0;
  const int length = static_cast<int>(end - cleaned);
  LtsPronunciation found[2];
  if (model->pronounce(cleaned, length, found, 2) < 2) return 0;
  if (found[1].score - found[0].score < std::log(kLtsCloseRatio)) return 0;
  // Only when xlateString itself gives the model's best (not the speller's, as for a word in
  // capitals).
  char best[kLtsPronRoom + 2], alone[kLtsPronRoom + 2];
  PhoneBuf buffer;
  buffer.clear();
  buffer.addWord(found[0].phones);
  copyOut(buffer, alone, sizeof alone, 1);
  xlateString(best, text, sizeof best, nullptr, 1);
  if (std::strcmp(best, alone) != 0) return 0;
  buffer.clear();
  buffer.addWord(found[1].phones);
  copyOut(buffer, target, room, 1);
  return *target != 0;
}

}  // namespace vlm
