// WordDictionary: the recogniser's lexicon. A table of pronunciation records (WordData) held by
// value, one primary record per word found by name through a hash set, alternatives chained from
// the primary. Words are referred to everywhere by their record index. Read from and written to
// the .voc text format (name, pronunciation, optional class per line). See docs/lexicon.md.
#pragma once
#include "foundation/arrcoll.h"
#include "foundation/hashseq.h"
#include "foundation/ordcoll.h"

namespace vlm {

class FSGNodeTypeItemAC;  // grammar items (grammar/); only passed through here
class OneShotHeap;
class WordDictionary;

// flag bits of a WordData record; a flag of 0 marks a free record.
constexpr unsigned short WORD_IN_USE = 1;     // set on creation and whenever addWordIfNew reaches it
constexpr unsigned short WORD_NOT_SAVED = 2;  // writeFile skips it; addWordIfNew clears it
constexpr unsigned short IS_PRIMARY_PRON = 8; // the word's primary record, the member of the name hash

// Reserved indices.
constexpr int kReservedSilenceWord = 0;   // "ReservedSilenceWord"
constexpr int kOutOfVocabularyWord = 1;   // "OutOfVocabularyWord"

// Cost class of pronunciations made by letter-to-sound.
constexpr int kLetterToSoundClass = 4;

// One pronunciation of one word. The link is used only while the record is in the name hash.
struct WordData : SLinkBase {
  unsigned short flag;  // WORD_IN_USE | WORD_NOT_SAVED | IS_PRIMARY_PRON; 0 = free
  short wordClass;      // cost added on every path through this pronunciation (.voc column 3)
  int index;            // own index while in use; the next free index while on the free list
  int nextPron;         // next pronunciation of the same word, -1 at the end of the chain
  char* name;           // owned copy
  char* pron;           // owned copy, may be null

  bool isPrimary() const { return (flag & IS_PRIMARY_PRON) != 0; }
};

// Compares names; equal names with either pronunciation missing are equal, else the
// pronunciations decide. Searches by name use a key record without a pronunciation.
int nameToWordHSCmp(const SLinkBase* a, const SLinkBase* b);
unsigned nameToWordHSHash(const SLinkBase* r);

// lookUpWords turns its output into grammar items through this converter when it is given an item
// list. The grammar installs RuleBodyParser::simpleSequence here (setWordsToItemsConverter);
// without one, lookUpWords leaves the item list untouched and logs that it has no converter.
using WordsToItemsFn = int (*)(WordDictionary* words, const char* text, FSGNodeTypeItemAC* items);
WordsToItemsFn setWordsToItemsConverter(WordsToItemsFn convert);  // returns the previous one

class WordDictionary {
 public:
  // Room for maxWords records is allocated here once; growStep 0 means maxWords / 16 + 5.
  explicit WordDictionary(int maxWords, int growStep = 0);
  ~WordDictionary();
  WordDictionary(const WordDictionary&) = delete;
  WordDictionary& operator=(const WordDictionary&) = delete;

  // The primary record of name (pron null), or the record of name whose pronunciation equals pron.
  WordData* getWordData(const char* name, const char* pron = nullptr) const;
  // Index of the record for (name, pron), creating the word or an alternative when needed
  // (an alternative is linked right after the primary). -1 when the table is full.
  int addWordIfNew(const char* name, const char* pron = nullptr, int wordClass = 0);
  // Frees the whole word the record belongs to; freed indices are reused last-freed first.
  void deleteWord(int index);

  // Adds to the compound name one pronunciation for every combination of its parts'
  // pronunciations (with silence: each part also with "." in front). The index of the compound's
  // primary record; 0 when the name
  // cannot be split into dictionary words; -1 when no pronunciation fits into 1024 bytes
  // ("compound too long: " is logged; a cut pronunciation is never added).
  int makeCompoundWord(const char* name, int withSilence);
  // The recursive workers: parts[first .. first+count-1] are the part indices; start is the
  // 1024-byte pronunciation buffer, pos the write position, room what is left from pos.
  int makeCompoundWord(const IC<int>& parts, int first, int count, const char* name, char* start,
                       char* pos, int room);
  int makeCompoundWordWithSilence(const IC<int>& parts, int first, int count, const char* name,
                                  char* start, char* pos, int room);

  // Splits a cleaned name (lower case, words joined by "_") into dictionary words, appending
  // their indices to indices. Returns the number of indices in the list when the whole text is
  // covered, else 0; with an unknown list, the pieces that are not words are appended to it as
  // copies in the list's arena (or, for a list without an arena, in a scratch arena of this
  // dictionary that the next such call reuses). text is modified temporarily.
  int parseSimpleCompound(char* text, IC<int>* indices, OC<char>* unknown);

  // Turns free text into space-separated dictionary spellings in out (room bytes). Returns the
  // end of the output, or null when a word is not in the dictionary (out then holds the words
  // found so far). With items, the output is also converted into grammar items.
  char* lookUpWords(char* out, const char* src, int room, FSGNodeTypeItemAC* items = nullptr);

  // Adds the words of a .voc file; 0 when it cannot be opened or read (a directory, an I/O
  // error; the lines read before the error stay added).
  int readFile(const char* path);
  // Writes the dictionary sorted by name, replacing path safely (foundation/safefile.h: a
  // temporary file beside it, renamed over it when complete). 0 when the file cannot be written
  // completely or path is not a regular file (logged); path then keeps its former content and no
  // temporary file is left behind.
  int writeFile(const char* path);
  // The same text written to an open descriptor: 1, or 0 when a write fails (errno tells why).
  int writeFd(int fd);

  // Table access. recordCount() counts records in use and free; wordAt() is null for an index
  // outside the table or a free record.
  int recordCount() const { return words.count(); }
  int maxWords() const { return maxWordCount; }
  // Records refused because the table was full (the first is logged with the limit, the rest only
  // counted).
  int droppedWordCount() const { return droppedWords; }
  int wordCount() const { return static_cast<int>(nameToWordHS.count()); }  // primaries, reserved included
  WordData* wordAt(int index) const;
  const char* nameOf(int index) const;  // null when wordAt is null
  const char* pronOf(int index) const;  // null when wordAt is null or without pronunciation

 protected:
  int newWord(const char* name, const char* pron, int flag, int wordClass);
  WordData* findPrimary(const char* name) const;
  WordData* findUsable(const char* name) const;  // primary with index > 0 and a pronunciation
  int searchWord(const char* candidate, int length, char* found, int foundRoom);

  AC<WordData> words;
  HS<WordData> nameToWordHS;
  int freeHead = -1;
  int maxWordCount;
  int droppedWords = 0;  // records refused because the table was full
  OneShotHeap* scratchArena = nullptr;  // unknown-word texts for lists without an arena
};

}  // namespace vlm
