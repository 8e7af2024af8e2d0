// Letter-to-sound translation: turns written text (names, typed words, numbers) into a
// pronunciation string of the phone set (lexicon/phoneset.h), so that words no dictionary holds
// can still be recognised.
//
//   cleanUpName   normalises a name into a dictionary key (lower case, words joined by "_")
//   xlateString   translates a whole text: numbers, punctuation, words
//   xlateWord     one word: by the context-sensitive rewrite rules, or spelled letter by letter
//   xlateCardinal a signed 32-bit number read out in words
//   spellOut      names characters one by one
//
// The rewrite rules are 27 blocks (block 0 for anything that is not a lower-case letter, blocks
// 1..26 for "a".."z") of rules left[match]right=phones, tried in order; the first rule whose match
// text equals the text at the position and whose contexts match the text around it appends its
// phones. The tables are prepared once per process on first use (thread-safe) and then used in
// place; translation allocates nothing.
#pragma once
#include <cstdint>

namespace vlm {

class WordDictionary;

// The translation's output: phone text of the words translated so far, separated by single
// spaces. Text beyond kText characters is dropped without a message; text[] stays NUL-terminated.
struct PhoneBuf {
  static constexpr int kText = 2048;

  WordDictionary* dictionary = nullptr;  // consulted by tryDictionary; may be null
  int length = 0;
  char text[kText + 1] = {};

  void clear(WordDictionary* words = nullptr) {
    dictionary = words;
    length = 0;
    text[0] = 0;
  }
  // Appends a space first when the buffer is not empty, then phones.
  void addWord(const char* phones);
  // Appends phones without a space.
  void addFrag(const char* phones);
};

// Cleans at most limit bytes of source (limit below 1: twice the room; stops early at a NUL or
// when the room is used up) into target: letters lower-cased, digits, "'" and "." kept, "&" and
// "+" become "\&", "\" keeps the byte after it, byte 246 becomes "oe" and 252 "ue", every other
// byte a separator "_" (no leading or trailing separators, runs collapse to one). The result,
// NUL included, never exceeds room. Returns the end of target, or null when nothing was written
// (target then holds the empty string when room > 0). Null target is an assertion failure.
char* cleanUpName(char* target, const char* source, int room, int limit);

// Translates text into target (at most room - 2 phone characters, then a NUL) and returns the
// end. With join set the whole text becomes one pronunciation; with join 0 the words stay
// separated by single spaces. dictionary may be null.
char* xlateString(char* target, const char* text, int room, WordDictionary* dictionary, int join);

// Words that go to the rewrite rules are translated by the trained letter-to-sound model instead
// when one is in use (letterToSoundModel() in lexicon/ltsmodel.h: the shipped ltsmodel.bin, or
// the rules when it is missing or VELMORA_LTS=rules); numbers, spelled words and words holding
// characters the model does not know stay with the rules and the speller.

// The model's second-best pronunciation of text, when text cleans to one word that xlateString
// gives to the model (not spelled: "IBM" has none) and that pronunciation's probability is at least kLtsCloseRatio of the best one's:
// written into target (joined, as xlateString writes it) and 1 returned; otherwise 0 and an
// empty target. Callers add it as an alternative pronunciation with the same class as the best.
int xlateCloseAlternative(char* target, const char* text, int room);

// Translates one word of length bytes (by rule, or spelled when it is written in capitals, has
// capitals inside it, or is an initial such as "J.") and appends it to buffer.
void xlateWord(const char* word, int length, PhoneBuf& buffer);

// Appends the number read out in words ("moEn@s" for minus, "N" for "and").
void xlateCardinal(int32_t value, PhoneBuf& buffer);

// Appends the name of each of the length characters of text as a word. A "\" followed by another
// character is not named; the character after it is. Bytes of 128 and above have no name.
void spellOut(const char* text, int length, PhoneBuf& buffer);

// Hook for taking a whole word's pronunciation from buffer.dictionary. Takes nothing and returns
// 0, so every word goes through the rules or the speller.
int tryDictionary(const char* word, PhoneBuf& buffer);

// Applies the first rule of block that matches at position, appends its phones and returns the
// position after the matched text. When no rule applies, logs "Can't find rule for: " with the
// rest of the text and returns position + 1. The left context is read backwards from the
// character before position down to textStart; with textStart null the text must begin with a
// NUL byte or a "_" boundary mark (no left context reads past "_").
const char* xlateLettersByRule(PhoneBuf& buffer, const char* position, int block,
                               const char* textStart = nullptr);

// Context patterns: letters, "'" and "_" stand for themselves ("_" is the word boundary);
// "#" one or more vowels, "+" one front vowel, "." one voiced consonant, "^" one consonant,
// ":" zero or more consonants; "%" (right only) one of the endings "er", "es", "ed", "ing",
// "ely" or an "e". An empty pattern matches. Any other symbol logs "Bad char in left rule: " /
// "Bad char in right rule: " and fails.
// leftMatch reads the pattern from its end backwards against the text before position (bounded
// by textStart as above); rightMatch reads it forwards from position (NUL-terminated text).
int leftMatch(const char* pattern, const char* position, const char* textStart = nullptr);
int rightMatch(const char* pattern, const char* position);

// Character classes, lower case only.
int isVowel(int c);           // a e i o u
int isConsonant(int c);       // b..z except the vowels (y is a consonant)
int isVoicedConsonant(int c); // b d g j l m n r v w z
int isFrontVowel(int c);      // e i y

// The rule table, for inspection: one rule's four texts (NUL-terminated, in the table's storage).
struct XlateRule {
  const char* left;
  const char* match;
  const char* right;
  const char* phones;
};
constexpr int kXlateRuleBlocks = 27;
// The rules of block (0..26) and their number in *count; null for a block out of range.
const XlateRule* xlateRules(int block, int* count);
// The block that translates c: 1..26 for "a".."z", 0 for anything else.
int xlateRuleBlock(int c);

}  // namespace vlm
