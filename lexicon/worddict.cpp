// WordDictionary: the record table, the name hash, the free list, compounds and the .voc files.
#define VLM_UNIT "worddict"
#include "lexicon/worddict.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/copystr.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "foundation/stdiox.h"
#include "foundation/oneshot.h"

namespace vlm {

namespace {

constexpr unsigned kNameHashBuckets = 16384;
constexpr int kCompoundPronRoom = 1024;
constexpr int kCompoundPartRoom = 14;
constexpr int kCompoundPartGrow = 8;
constexpr int kUnknownArenaBlock = 2020;

WordsToItemsFn wordsToItems = nullptr;

// The arena an OC was placed in (the collection keeps it protected; a pointer to the member,
// formed through a derived class, reads it without changing the collection).
struct OCArenaAccess : OCBase {
  static OneShotHeap* OCBase::*member() { return &OCArenaAccess::heap; }
};

OneShotHeap* arenaOf(OC<char>* list) { return list->*OCArenaAccess::member(); }

inline bool isSpaceOrLineEnd(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

WordsToItemsFn setWordsToItemsConverter(WordsToItemsFn convert) {
  WordsToItemsFn previous = wordsToItems;
  wordsToItems = convert;
  return previous;
}

int nameToWordHSCmp(const SLinkBase* a, const SLinkBase* b) {
  VLM_ASSERT(a, "slb1");
  VLM_ASSERT(b, "slb2");
  if (!a || !b) return a == b ? 0 : 1;
  const WordData* x = static_cast<const WordData*>(a);
  const WordData* y = static_cast<const WordData*>(b);
  int c = std::strcmp(x->name, y->name);
  if (c != 0) return c;
  if (!x->pron || !y->pron) return 0;
  return std::strcmp(x->pron, y->pron);
}

unsigned nameToWordHSHash(const SLinkBase* r) { return stringHash(static_cast<const WordData*>(r)->name); }

// ---------------------------------------------------------------------------------------------
// Table and name hash

WordDictionary::WordDictionary(int maxWords, int growStep)
    : words(maxWords > 2 ? maxWords : 2, growStep > 0 ? growStep : (maxWords > 2 ? maxWords : 2) / 16 + 5),
      nameToWordHS(kNameHashBuckets, kNameHashBuckets, nameToWordHSCmp, nameToWordHSHash),
      maxWordCount(maxWords > 2 ? maxWords : 2) {
  // The records are addressed by the name hash, so the table must never move: its room is the
  // maximum and newWord refuses to go past it.
  if (words.room() < maxWordCount) maxWordCount = words.room();
  int silence = newWord("ReservedSilenceWord", nullptr, WORD_IN_USE | IS_PRIMARY_PRON, 0);
  int oov = newWord("OutOfVocabularyWord", nullptr, WORD_IN_USE | IS_PRIMARY_PRON, 0);
  if (silence >= 0) words[silence].flag = 0;
  if (oov >= 0) words[oov].flag = 0;
}

WordDictionary::~WordDictionary() {
  nameToWordHS.removeAll();
  for (WordData& w : words) {
    delete[] w.name;
    delete[] w.pron;
    w.name = w.pron = nullptr;
  }
  delete scratchArena;
}

WordData* WordDictionary::wordAt(int index) const {
  if (index < 0 || index >= words.count()) return nullptr;
  WordData& w = words[index];
  // The reserved words keep a flag of 0 but are not free: they still have their names.
  if (w.flag == 0 && !w.name) return nullptr;
  return &w;
}

const char* WordDictionary::nameOf(int index) const {
  WordData* w = wordAt(index);
  return w ? w->name : nullptr;
}

const char* WordDictionary::pronOf(int index) const {
  WordData* w = wordAt(index);
  return w ? w->pron : nullptr;
}

WordData* WordDictionary::findPrimary(const char* name) const {
  if (!name) return nullptr;
  WordData key{};
  key.name = const_cast<char*>(name);
  key.pron = nullptr;
  return nameToWordHS.find(&key);
}

WordData* WordDictionary::findUsable(const char* name) const {
  WordData* w = findPrimary(name);
  return w && w->index > 0 && w->pron ? w : nullptr;
}

WordData* WordDictionary::getWordData(const char* name, const char* pron) const {
  WordData* w = findPrimary(name);
  if (!w || !pron) return w;
  for (int i = w->index; i >= 0; i = words[i].nextPron)
    if (words[i].pron && std::strcmp(words[i].pron, pron) == 0) return &words[i];
  return nullptr;
}

int WordDictionary::newWord(const char* name, const char* pron, int flag, int wordClass) {
  int index;
  if (freeHead >= 0) {
    index = freeHead;
    freeHead = words[index].index;
  } else if (words.count() < maxWordCount) {
    WordData blank{};
    index = words.add(blank);
    if (index < 0) return -1;
  } else {
    // The table is full: nothing already stored may be touched. One message names the limit;
    // the words refused after it are only counted, so that the log does not drown in them.
    if (droppedWords++ == 0) {
      char limit[160];
      sPrint(limit, sizeof limit, " (the word table holds %d records; later words that do not fit are not logged)",
             maxWordCount);
      char message[1200];
      sPrint(message, sizeof message, "hit Max Words adding: %s", name);
      logError(message, limit);
    }
    return -1;
  }
  WordData& w = words[index];
  w.next = nullptr;
  w.flag = static_cast<unsigned short>(flag);
  w.wordClass = static_cast<short>(wordClass);
  w.index = index;
  w.nextPron = -1;
  w.name = copyString(name);
  w.pron = pron ? copyString(pron) : nullptr;
  if (flag & IS_PRIMARY_PRON) nameToWordHS.add(&w);
  return index;
}

int WordDictionary::addWordIfNew(const char* name, const char* pron, int wordClass) {
  WordData* primary = findPrimary(name);
  if (!primary) return newWord(name, pron, WORD_IN_USE | IS_PRIMARY_PRON, wordClass);

  for (int i = primary->index; i >= 0; i = words[i].nextPron) {
    WordData& w = words[i];
    if (!w.pron) {
      if (!pron) return i;
      w.pron = copyString(pron);
      w.wordClass = static_cast<short>(wordClass);
      w.flag = static_cast<unsigned short>((w.flag & ~WORD_NOT_SAVED) | WORD_IN_USE);
      return i;
    }
    if (!pron) return i;
    if (std::strcmp(w.pron, pron) == 0) {
      w.flag = static_cast<unsigned short>((w.flag & ~WORD_NOT_SAVED) | WORD_IN_USE);
      return i;
    }
  }
  int index = newWord(name, pron, WORD_IN_USE, wordClass);
  if (index < 0) return -1;
  // The primary's address is stable (the table never moves); link the new record after it.
  words[index].nextPron = primary->nextPron;
  primary->nextPron = index;
  return index;
}

void WordDictionary::deleteWord(int index) {
  if (index < 0 || index >= words.count()) return;
  WordData* w = &words[index];
  if (w->flag == 0) return;
  if (!(w->flag & IS_PRIMARY_PRON)) {
    w = findPrimary(w->name);
    if (!w) return;
  }
  VLM_ASSERT(w->flag & IS_PRIMARY_PRON, "w->flag & IS_PRIMARY_PRON");
  if (!(w->flag & IS_PRIMARY_PRON)) return;
  nameToWordHS.remove(w);
  for (int i = w->index; i >= 0;) {
    WordData& r = words[i];
    int next = r.nextPron;
    delete[] r.name;
    delete[] r.pron;
    r.name = r.pron = nullptr;
    r.next = nullptr;
    r.flag = 0;
    r.nextPron = -1;
    r.index = freeHead;
    freeHead = i;
    i = next;
  }
}

// ---------------------------------------------------------------------------------------------
// Compounds

int WordDictionary::parseSimpleCompound(char* text, IC<int>* indices, OC<char>* unknown) {
  if (!text || !indices) return 0;
  const int startMark = indices->count();

  // Greedy pass: take the shortest usable part at each "_" or ".", else let the part run on.
  char* partStart = text;
  for (char* s = text;; ++s) {
    if (*s == 0) {
      if (partStart == s) return indices->count();
      if (WordData* w = findUsable(partStart)) {
        indices->add(w->index);
        return indices->count();
      }
      break;
    }
    if (*s == '_') {
      *s = 0;
      WordData* w = findUsable(partStart);
      *s = '_';
      if (w) {
        indices->add(w->index);
        partStart = s + 1;
      }
    } else if (*s == '.') {
      char after = s[1];
      s[1] = 0;
      WordData* w = findUsable(partStart);
      s[1] = after;
      if (w) {
        indices->add(w->index);
        partStart = s + 1;
        if (*partStart == '_') {
          ++partStart;
          ++s;
        }
      }
    }
  }

  // Second pass: at each "_" prefer the whole rest, then the part up to the "_".
  indices->removeEntriesTo(startMark);
  partStart = text;
  for (char* s = text; *s; ++s) {
    if (*s != '_') continue;
    if (WordData* w = findUsable(partStart)) {
      indices->add(w->index);
      return indices->count();
    }
    *s = 0;
    WordData* w = findUsable(partStart);
    *s = '_';
    if (w) {
      indices->add(w->index);
      partStart = s + 1;
    }
  }
  if (WordData* w = findUsable(partStart)) {
    indices->add(w->index);
    return indices->count();
  }

  // Third pass: the text cannot be covered; report the pieces that are not words.
  indices->removeEntriesTo(startMark);
  if (!unknown) return 0;
  OneShotHeap* arena = arenaOf(unknown);
  if (!arena) {
    if (!scratchArena) scratchArena = new OneShotHeap(kUnknownArenaBlock);
    else scratchArena->empty();
    arena = scratchArena;
  }
  char* piece = text;
  for (char* s = text;; ++s) {
    if (*s != '_' && *s != 0) continue;
    const char end = *s;
    if (s > piece) {  // empty pieces name nothing
      *s = 0;
      if (WordData* w = findUsable(piece)) {
        indices->add(w->index);
      } else {
        const int length = static_cast<int>(s - piece);
        char* copy = static_cast<char*>(arena->allocate((length + 1 + 3) & ~3));
        copyString(copy, piece, length + 1);
        unknown->add(copy);
      }
      *s = end;
    }
    if (end == 0) break;
    piece = s + 1;
  }
  return 0;
}

int WordDictionary::makeCompoundWord(const char* name, int withSilence) {
  if (!name || !*name) return 0;
  char* text = copyString(name);
  IC<int> parts(kCompoundPartRoom, kCompoundPartGrow);
  const int count = parseSimpleCompound(text, &parts, nullptr);
  delete[] text;
  if (count < 1) return 0;
  char pron[kCompoundPronRoom];
  pron[0] = 0;
  int index = withSilence ? makeCompoundWordWithSilence(parts, 0, count, name, pron, pron, kCompoundPronRoom)
                          : makeCompoundWord(parts, 0, count, name, pron, pron, kCompoundPronRoom);
  // The workers yield the record of the last pronunciation added; callers refer to the word, and
  // a word is its primary record (its chain reaches every pronunciation).
  if (index > 0) {
    WordData* w = findPrimary(name);
    if (w) index = w->index;
  }
  return index;
}

int WordDictionary::makeCompoundWord(const IC<int>& parts, int first, int count, const char* name,
                                     char* start, char* pos, int room) {
  int result = -1;
  for (int i = parts[first]; i >= 0 && i < words.count(); i = words[i].nextPron) {
    const char* pron = words[i].pron ? words[i].pron : "";
    const int length = static_cast<int>(std::strlen(pron));
    if (length >= room) {
      // A cut pronunciation would be wrong; leave this combination out.
      logError("compound too long: ", name);
      continue;
    }
    char* end = copyString(pos, pron, room);
    int index = count > 1 ? makeCompoundWord(parts, first + 1, count - 1, name, start, end,
                                             room - static_cast<int>(end - pos))
                          : addWordIfNew(name, start, 0);
    if (index > 0) result = index;
  }
  if (result <= 0) {
    WordData* w = findPrimary(name);
    result = w ? w->index : -1;
  }
  return result;
}

int WordDictionary::makeCompoundWordWithSilence(const IC<int>& parts, int first, int count, const char* name,
                                                char* start, char* pos, int room) {
  if (room < 2) {
    logError("compound too long: ", name);
    return 0;
  }
  int result = -1;
  for (int i = parts[first]; i >= 0 && i < words.count(); i = words[i].nextPron) {
    const char* pron = words[i].pron ? words[i].pron : "";
    const int length = static_cast<int>(std::strlen(pron));
    for (int silence = 0; silence < 2; ++silence) {
      if (length + silence >= room) {
        logError("compound too long: ", name);
        continue;
      }
      char* p = pos;
      if (silence) *p++ = '.';
      char* end = copyString(p, pron, room - silence);
      int index = count > 1 ? makeCompoundWordWithSilence(parts, first + 1, count - 1, name, start, end,
                                                          room - static_cast<int>(end - pos))
                            : addWordIfNew(name, start, 0);
      if (index > 0) result = index;
    }
  }
  if (result <= 0) {
    WordData* w = findPrimary(name);
    result = w ? w->index : -1;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Free text to dictionary words

namespace {

// The spoken names of punctuation characters, themselves dictionary word names.
struct PunctuationTable {
  const char* entry[256];
};

constexpr PunctuationTable makePunctuationTable() {
  PunctuationTable t{};
  for (auto& e : t.entry) e = nullptr;
  t.entry[static_cast<unsigned char>('!')] = "\\!exclamation-point";
  t.entry[static_cast<unsigned char>('"')] = "\\\"double-quote";
  t.entry[static_cast<unsigned char>('#')] = "\\#pound-sign";
  t.entry[static_cast<unsigned char>('%')] = "\\#percent-sign";
  t.entry[static_cast<unsigned char>('&')] = "\\&ampersand";
  t.entry[static_cast<unsigned char>('\'')] = "\\'single-quote";
  t.entry[static_cast<unsigned char>('(')] = "\\(open-paren";
  t.entry[static_cast<unsigned char>(')')] = "\\)close-paren";
  t.entry[static_cast<unsigned char>('+')] = "\\+plus-sign";
  t.entry[static_cast<unsigned char>(',')] = "\\,comma";
  t.entry[static_cast<unsigned char>('-')] = "\\-hyphen";
  t.entry[static_cast<unsigned char>('.')] = "\\.period";
  t.entry[static_cast<unsigned char>('/')] = "\\/forward-slash";
  t.entry[static_cast<unsigned char>(':')] = "\\:colon";
  t.entry[static_cast<unsigned char>(';')] = "\\;semi-colon";
  t.entry[static_cast<unsigned char>('<')] = "\\<open-wedge";
  t.entry[static_cast<unsigned char>('>')] = "\\>close_wedge";
  t.entry[static_cast<unsigned char>('?')] = "\\?question-mark";
  t.entry[static_cast<unsigned char>('[')] = "\\[open-square";
  t.entry[static_cast<unsigned char>('\\')] = "\\\\back-slash";
  t.entry[static_cast<unsigned char>(']')] = "\\]close-square";
  t.entry[static_cast<unsigned char>('{')] = "\\{open-curly";
  t.entry[static_cast<unsigned char>('}')] = "\\}close-curly";
  return t;
}

constexpr PunctuationTable kPunctuation = makePunctuationTable();

inline const char* punctuationEntry(char c) { return kPunctuation.entry[static_cast<unsigned char>(c)]; }
inline bool endsToken(char c) { return c == 0 || isSpaceOrLineEnd(c) || punctuationEntry(c); }

// The output of lookUpWords: spellings separated by single spaces, bounded by the room.
struct WordOutput {
  char* start;
  char* pos;
  char* limit;  // start + room
  void emit(const char* spelling) {
    if (limit - start < 1) return;
    if (pos > start) {
      if (limit - pos <= 2) return;  // no room for a separating space: the words would run together
      *pos++ = ' ';
    }
    pos = copyString(pos, spelling, static_cast<int>(limit - pos));
  }
};

}  // namespace

// Looks up the candidate src[0 .. length-1] by name, then lower-cased (A to Z). On success the
// spelling found is in found and 1 is returned.
int WordDictionary::searchWord(const char* candidate, int length, char* found, int foundRoom) {
  VLM_ASSERT(foundRoom > length, "sizeof(scratch) > s-src+1");
  if (length < 1 || foundRoom <= length) return 0;
  std::memcpy(found, candidate, length);
  found[length] = 0;
  if (findPrimary(found)) return 1;
  bool changed = false;
  for (int i = 0; i < length; ++i)
    if (found[i] >= 'A' && found[i] <= 'Z') {
      found[i] = static_cast<char>(found[i] - 'A' + 'a');
      changed = true;
    }
  return changed && findPrimary(found) ? 1 : 0;
}

char* WordDictionary::lookUpWords(char* out, const char* src, int room, FSGNodeTypeItemAC* items) {
  VLM_ASSERT(src && *src, "src && *src");
  if (!out || room < 1) return nullptr;
  *out = 0;
  if (!src || !*src) return out;
  WordOutput o{out, out, out + room};
  char scratch[256];

  const char* p = src;
  for (;;) {
    while (isSpaceOrLineEnd(*p)) ++p;
    if (*p == 0) break;

    if (punctuationEntry(*p)) {
      // A token that begins with punctuation.
      if (p[0] == '-' && p[1] == '-') {
        o.emit("\\--dash");
        p += 2;
        continue;
      }
      if (p[0] == '.' && p[1] == '.' && p[2] == '.') {
        o.emit("\\...dotdotdot");
        p += 3;
        continue;
      }
      const char* tokenEnd = p;
      while (*tokenEnd && !isSpaceOrLineEnd(*tokenEnd)) ++tokenEnd;
      if (searchWord(p, static_cast<int>(tokenEnd - p), scratch, sizeof scratch)) {
        o.emit(scratch);
        p = tokenEnd;
      } else {
        o.emit(punctuationEntry(*p));
        ++p;
      }
      continue;
    }

    const char* q = p;  // the first character that ends the plain token
    while (!endsToken(*q)) ++q;
    if (!punctuationEntry(*q)) {
      if (!searchWord(p, static_cast<int>(q - p), scratch, sizeof scratch)) {
        *o.pos = 0;
        return nullptr;
      }
      o.emit(scratch);
      p = q;
      continue;
    }

    // Punctuation inside the token: the whole token first ("o'brien", "st."), then the token
    // extended through the next word ("st. louis"), then the part before the punctuation.
    const char* tokenEnd = q;
    while (*tokenEnd && !isSpaceOrLineEnd(*tokenEnd)) ++tokenEnd;
    if (searchWord(p, static_cast<int>(tokenEnd - p), scratch, sizeof scratch)) {
      o.emit(scratch);
      p = tokenEnd;
      continue;
    }
    const char* taken = nullptr;
    if (*tokenEnd) {
      const char* w = tokenEnd;
      while (isSpaceOrLineEnd(*w)) ++w;
      for (const char* x = w; *w; ++x) {
        const bool wordEnd = *x == 0 || isSpaceOrLineEnd(*x);
        if (wordEnd || (x > w && punctuationEntry(*x))) {
          const int length = static_cast<int>(x - p);
          VLM_ASSERT(static_cast<int>(sizeof scratch) > length, "sizeof( scratch ) > ss-src+1");
          if (length < static_cast<int>(sizeof scratch) && searchWord(p, length, scratch, sizeof scratch)) {
            taken = x;
            break;
          }
        }
        if (wordEnd) break;
      }
    }
    if (taken) {
      o.emit(scratch);
      p = taken;
      continue;
    }
    if (!searchWord(p, static_cast<int>(q - p), scratch, sizeof scratch)) {
      *o.pos = 0;
      return nullptr;
    }
    o.emit(scratch);
    p = q;
  }

  if (items && o.pos > out) {
    if (wordsToItems) {
      wordsToItems(this, out, items);
    } else {
      logError("lookUpWords: no grammar item converter installed for: ", out);
    }
  }
  return o.pos;
}

// ---------------------------------------------------------------------------------------------
// .voc files

namespace {

// Splits one line into at most three fields in place: runs of spaces and tabs separate fields, a
// backslash makes the next character part of the field (the backslash stays). Returns the number
// of fields found (further fields are not counted).
int splitVocLine(char* line, char* field[3]) {
  int count = 0;
  char* s = line;
  while (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n') ++s;
  while (*s && count < 3) {
    field[count++] = s;
    while (*s && *s != ' ' && *s != '\t') {
      // A backslash keeps the next character in the field, except a tab: the writer separates
      // the fields with tabs, so a field it wrote that ends in a backslash must end there.
      if (*s == '\\' && s[1] && s[1] != '\t') ++s;
      ++s;
    }
    if (*s) *s++ = 0;
    while (*s == ' ' || *s == '\t') ++s;
  }
  return count;
}

}  // namespace

int WordDictionary::readFile(const char* path) {
  if (!path) return 0;
  // Only a regular file: a FIFO or device would block or never end.
  int fd = openRegularFile(path);
  if (fd < 0) return 0;
  // The file is read in large blocks and its lines are cut out of the block in place. CR and LF
  // each end a line (CR LF so gives an extra empty line, which adds nothing). A line that runs
  // past the end of the block moves to its front before the next read; a line longer than the
  // whole block is skipped and logged.
  constexpr int kBlock = 1 << 18;
  char* buffer = new (std::nothrow) char[kBlock + 1];
  if (!buffer) {
    close(fd);
    return 0;
  }
  auto handleLine = [this](char* line) {
    char* field[3];
    int fields = splitVocLine(line, field);
    if (fields >= 2) addWordIfNew(field[0], field[1], fields >= 3 ? static_cast<short>(std::atol(field[2])) : 0);
  };
  int held = 0;
  bool atEnd = false;
  bool readFailed = false;
  bool skipping = false;  // inside a line longer than the block
  for (;;) {
    if (!atEnd) {
      ssize_t got = read(fd, buffer + held, kBlock - held);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) readFailed = true;  // a directory, or an I/O error: what was read stays
      if (got <= 0) atEnd = true;
      else held += static_cast<int>(got);
    }
    char* s = buffer;
    char* limit = buffer + held;
    for (;;) {
      char* e = s;
      while (e < limit && *e != '\n' && *e != '\r') ++e;
      if (e == limit) {
        if (s < limit && atEnd) {
          *limit = 0;
          if (!skipping) handleLine(s);
          skipping = false;
          s = limit;
        } else if (s == buffer && held == kBlock) {
          // A line longer than the whole block would be read as other words: it is left out,
          // and said so.
          if (!skipping) {
            char message[1200];
            sPrint(message, sizeof message, ".voc file %s: a line longer than %d bytes is skipped", path, kBlock);
            logError(message);
          }
          skipping = true;
          s = limit;
        }
        break;
      }
      *e = 0;
      if (!skipping) handleLine(s);
      skipping = false;
      s = e + 1;
    }
    held = static_cast<int>(limit - s);
    if (held > 0 && s > buffer) std::memmove(buffer, s, held);
    if (atEnd && held == 0) break;
  }
  delete[] buffer;
  close(fd);
  return readFailed ? 0 : 1;
}

namespace {

// Sorts by name (byte order); for equal names the primary comes after its alternatives.
bool vocOrder(const WordData* a, const WordData* b) {
  int c = std::strcmp(a->name, b->name);
  if (c != 0) return c < 0;
  return !a->isPrimary() && b->isPrimary();
}

struct FileWriter {
  int fd = -1;
  char buffer[1 << 16];
  int used = 0;
  bool failed = false;

  void flush() {
    const char* p = buffer;
    while (used > 0 && !failed) {
      ssize_t n = write(fd, p, used);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed = true;
        break;
      }
      p += n;
      used -= static_cast<int>(n);
    }
    used = 0;
  }
  void put(const char* text) {
    while (*text) {
      if (used == static_cast<int>(sizeof buffer)) flush();
      buffer[used++] = *text++;
    }
  }
  void put(char c) {
    if (used == static_cast<int>(sizeof buffer)) flush();
    buffer[used++] = c;
  }
};

}  // namespace

int WordDictionary::writeFd(int fd) {
  const int n = words.count();
  WordData** order = new (std::nothrow) WordData*[n > 0 ? n : 1];
  if (!order) return 0;
  int used = 0;
  for (WordData& w : words)
    if (w.flag != 0 && !(w.flag & WORD_NOT_SAVED) && w.pron) order[used++] = &w;
  std::sort(order, order + used, vocOrder);
  FileWriter* out = new (std::nothrow) FileWriter;
  bool ok = out != nullptr;
  if (ok) {
    out->fd = fd;
    char number[16];
    for (int i = 0; i < used; ++i) {
      out->put(order[i]->name);
      out->put('\t');
      out->put(order[i]->pron);
      out->put('\t');
      longToAscii(order[i]->wordClass, number, sizeof number);
      out->put(number);
      out->put('\n');
    }
    out->flush();
    ok = !out->failed;
    delete out;
  }
  delete[] order;
  return ok ? 1 : 0;
}

int WordDictionary::writeFile(const char* path) {
  if (!path || !*path) return 0;
  SafeFile file;
  if (file.open(path)) {
    if (!writeFd(file.handle())) file.noteWriteFailure(errno);
    if (file.commit()) return 1;
  }
  logError(".voc file not written: ", file.reason());
  return 0;
}

}  // namespace vlm
