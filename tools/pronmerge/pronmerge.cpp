// pronmerge: turns a list of names (one entry per line) into a pronunciation dictionary out.voc
// holding exactly the words the entries need, with every pronunciation of each. Words come from
// the reference dictionaries (fulldict.voc, then the optional extra ones); words they lack get a
// letter-to-sound pronunciation of class 4. Entries covered fully are copied to known.lst, words
// that stay unknown go to unknown.lst. All files but the list and the extra dictionaries are in
// the current directory.
#define VLM_UNIT "pronmerge"
#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/log.h"
#include "foundation/oneshot.h"
#include "foundation/ordcoll.h"
#include "foundation/safefile.h"
#include "foundation/stdiox.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"
#include "tools/cli.h"

namespace {

using namespace vlm;

constexpr int kMaxWords = 150000;
constexpr const char* kUsage =
    "pronmerge [file.lst] <another.voc> <andAnother.voc>\noutputs out.voc, known.lst, unknown.lst";
constexpr const char* kHelp =
    "usage: pronmerge LIST [EXTRA.voc [EXTRA2.voc]]\n"
    "Makes a pronunciation dictionary holding exactly the words of a list of names (one entry a\n"
    "line), with every pronunciation of each, from the reference dictionary fulldict.voc in the\n"
    "current folder and the extra dictionaries; words none of them holds get a letter-to-sound\n"
    "pronunciation (class 4). Writes out.voc, known.lst (entries covered by the dictionaries)\n"
    "and unknown.lst (words that were not) in the current folder, all three or none.\n"
    "  --help, --version\n"
    "Exit status: 0 done, 1 a failure, 2 a usage error.\n"
    "Example: cp data/fulldict.voc . && pronmerge contacts.lst data/base.voc\n";

// The reference dictionary (the input dictionaries plus the letter-to-sound words made during the
// run) and the output dictionary, both made before main and destroyed at exit.
WordDictionary referenceDictionary(kMaxWords);
WordDictionary outputDictionary(kMaxWords);

// Web and mail addresses in a contact list are never turned into words.
bool isAddress(const char* line) {
  return strncasecmp(line, "http:", 5) == 0 || strncasecmp(line, "www.", 4) == 0 || std::strchr(line, '@');
}

// Appends text and a line end ("%s\n") to a list's text.
void addLine(std::string& list, const char* text) {
  list += text;
  list += '\n';
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
  vlmcli::answerHelpAndVersion(argc, argv, "pronmerge", kHelp);
  setConsoleProgram(true);
  if (argc < 2 || argc > 4) {
    logError(kUsage);
    return 2;
  }
  for (int i = 1; i < argc; i++)
    if (argv[i][0] == '-' && argv[i][1] != 0) {
      std::fprintf(stderr, "pronmerge: unknown option %s (pronmerge --help lists the usage)\n", argv[i]);
      return 2;
    }
  // The list must be a readable regular file before anything is touched (a directory or a FIFO
  // is refused at once).
  int listFd = openRegularFile(argv[1]);
  if (listFd < 0) {
    const int error = errno;
    logError("Unable to open .lst file");
    char reason[1200];
    sPrint(reason, sizeof reason, "%s: %s", argv[1], openFailureText(error));
    logError(reason);
    return 1;
  }
  // The three outputs are written to temporary files and replaced together at the end, or not at
  // all: out.voc, known.lst and unknown.lst always belong to the same run.
  SafeFileSet outputs;
  SafeFile* knownFile = outputs.add("known.lst");
  SafeFile* unknownFile = knownFile ? outputs.add("unknown.lst") : nullptr;
  SafeFile* outFile = unknownFile ? outputs.add("out.voc") : nullptr;
  if (outFile == nullptr) {
    logError("Unable to write the outputs: ", outputs.reason());
    close(listFd);
    return 1;
  }
  std::string known, unknown;

  // The reference dictionary is looked for in the current folder only; say where it was found,
  // or where it was looked for, since without it every word is spelt by letter-to-sound.
  {
    char here[PATH_MAX];
    const char* folder = getcwd(here, sizeof here) ? here : ".";
    if (access("fulldict.voc", F_OK) != 0)
      std::fprintf(stderr,
                   "pronmerge: warning: no reference dictionary: fulldict.voc is not in %s (copy the "
                   "shipped data/fulldict.voc there); words get letter-to-sound pronunciations\n",
                   folder);
    else if (referenceDictionary.readFile("fulldict.voc"))
      std::fprintf(stderr, "pronmerge: reference dictionary: %s/fulldict.voc\n", folder);
    else
      std::fprintf(stderr, "pronmerge: warning: cannot read the reference dictionary %s/fulldict.voc\n", folder);
  }
  if (argc > 2) referenceDictionary.readFile(argv[2]);
  if (argc > 3) referenceDictionary.readFile(argv[3]);

  char line[1024];
  char cleanName[1024];
  char pron[256];
  IC<int> indices(32, 8);
  OneShotHeap unknownArena(2020);
  OC<char> unknownWords(64, 64, &unknownArena);

  int lineNumber = 0;
  int cut = 0;
  while (fGetLine(listFd, line, sizeof line, &cut)) {
    lineNumber++;
    if (cut) {
      // A cut entry would be other words than the contact's: it is left out, and said so.
      char message[1200];
      sPrint(message, sizeof message, "%s:%d: line longer than %d bytes, skipped", argv[1], lineNumber,
             static_cast<int>(sizeof line) - 1);
      logError(message);
      continue;
    }
    if (isAddress(line)) continue;
    bool translated = false;
    for (;;) {
      if (!cleanUpName(cleanName, line, sizeof cleanName, sizeof cleanName)) break;
      indices.removeAll();
      unknownWords.removeAll();
      referenceDictionary.parseSimpleCompound(cleanName, &indices, &unknownWords);
      if (unknownWords.count() == 0) {
        if (indices.count() == 0) break;  // nothing to cover
        addLine(known, line);
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
      for (int k = unknownWords.count() - 1; k >= 0; --k) addLine(unknown, unknownWords[k]);
      break;
    }
  }
  close(listFd);

  knownFile->write(known.data(), known.size());
  unknownFile->write(unknown.data(), unknown.size());
  if (!outputDictionary.writeFd(outFile->handle())) outFile->noteWriteFailure(errno);
  if (!outputs.commit()) {
    logError("Unable to write out.voc, known.lst and unknown.lst (all kept as they were): ", outputs.reason());
    return 1;
  }
  return 0;
}
