// pronmerge: turns a list of names (one entry per line) into a pronunciation dictionary out.voc
// holding exactly the words the entries need, with every pronunciation of each. Words come from
// the reference dictionaries (fulldict.voc, then the optional extra ones); words they lack get a
// letter-to-sound pronunciation of class 4. Entries covered fully are copied to known.lst, words
// that stay unknown go to unknown.lst. All files but the list and the extra dictionaries are in
// the current directory.
#define VLM_UNIT "pronmerge"
#include <errno.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>

#include "foundation/log.h"
#include "foundation/oneshot.h"
#include "foundation/ordcoll.h"
#include "foundation/stdiox.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"

namespace {

using namespace vlm;

constexpr int kMaxWords = 150000;
constexpr const char* kUsage =
    "pronmerge [file.lst] <another.voc> <andAnother.voc>\noutputs out.voc, known.lst, unknown.lst";

// The reference dictionary (the input dictionaries plus the letter-to-sound words made during the
// run) and the output dictionary, both made before main and destroyed at exit.
WordDictionary referenceDictionary(kMaxWords);
WordDictionary outputDictionary(kMaxWords);

// Web and mail addresses in a contact list are never turned into words.
bool isAddress(const char* line) {
  return strncasecmp(line, "http:", 5) == 0 || strncasecmp(line, "www.", 4) == 0 || std::strchr(line, '@');
}

int createList(const char* name) { return open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }

// Writes text and a line end ("%s\n"); the text may be as long as the line buffer.
void writeLine(int fd, const char* text) {
  if (fd < 0) return;
  struct iovec parts[2] = {{const_cast<char*>(text), std::strlen(text)}, {const_cast<char*>("\n"), 1}};
  std::size_t left = parts[0].iov_len + 1;
  int first = 0;
  while (left > 0) {
    ssize_t n = writev(fd, parts + first, 2 - first);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    left -= static_cast<std::size_t>(n);
    while (n > 0 && first < 2) {
      std::size_t step = static_cast<std::size_t>(n) < parts[first].iov_len ? static_cast<std::size_t>(n) : parts[first].iov_len;
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + step;
      parts[first].iov_len -= step;
      n -= static_cast<ssize_t>(step);
      if (parts[first].iov_len == 0) ++first;
    }
  }
}

// Copies every pronunciation of the reference word at index (primary first, then the chain) into
// the output dictionary, keeping its class.
void copyWord(int index) {
  for (int i = index; i >= 0;) {
    const WordData* w = referenceDictionary.wordAt(i);
    if (!w) break;
    if (w->pron) outputDictionary.addWordIfNew(w->name, w->pron, w->wordClass);
    i = w->nextPron;
  }
}

}  // namespace

int main(int argc, char** argv) {
  setConsoleProgram(true);
  if (argc < 2) {
    logError(kUsage);
    return 0;
  }
  int listFd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (listFd < 0) {
    logError("Unable to open .lst file");
    return 1;
  }
  int unknownFd = createList("unknown.lst");
  int knownFd = createList("known.lst");

  referenceDictionary.readFile("fulldict.voc");
  if (argc > 2) referenceDictionary.readFile(argv[2]);
  if (argc > 3) referenceDictionary.readFile(argv[3]);

  char line[1024];
  char cleanName[1024];
  char pron[256];
  IC<int> indices(32, 8);
  OneShotHeap unknownArena(2020);
  OC<char> unknownWords(64, 64, &unknownArena);

  while (fGets(listFd, line, sizeof line)) {
    if (isAddress(line)) continue;
    bool translated = false;
    for (;;) {
      if (!cleanUpName(cleanName, line, sizeof cleanName, sizeof cleanName)) break;
      indices.removeAll();
      unknownWords.removeAll();
      referenceDictionary.parseSimpleCompound(cleanName, &indices, &unknownWords);
      if (unknownWords.count() == 0) {
        if (indices.count() == 0) break;  // nothing to cover
        writeLine(knownFd, line);
        for (int k = indices.count() - 1; k >= 0; --k) copyWord(indices[k]);
        break;
      }
      if (!translated) {
        translated = true;
        for (int k = unknownWords.count() - 1; k >= 0; --k) {
          const char* word = unknownWords[k];
          const WordData* w = referenceDictionary.getWordData(word, nullptr);
          if (w && w->index > kOutOfVocabularyWord) continue;
          xlateString(pron, word, sizeof pron, &referenceDictionary, 1);
          // A translation that is no pronunciation leaves the word unknown.
          if (!isValidPron(pron)) continue;
          referenceDictionary.addWordIfNew(word, pron, kLetterToSoundClass);
          // The model's second guess, when nearly as likely, as an alternative of the same class.
          if (xlateCloseAlternative(pron, word, sizeof pron) && isValidPron(pron))
            referenceDictionary.addWordIfNew(word, pron, kLetterToSoundClass);
        }
        continue;  // parse the same entry again
      }
      for (int k = unknownWords.count() - 1; k >= 0; --k) writeLine(unknownFd, unknownWords[k]);
      break;
    }
  }
  close(listFd);
  if (unknownFd >= 0) close(unknownFd);
  if (knownFd >= 0) close(knownFd);

  // tmp.voc is renamed over out.voc only once it is complete.
  if (!outputDictionary.writeFile("out.voc", "tmp.voc")) {
    logError("Unable to write out.voc");
    return 1;
  }
  return 0;
}
