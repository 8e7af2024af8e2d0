// jsgf2rul GRAMMAR.gram --voc FILE [--voc FILE...] > OUT.rul
//
// Converts a JSGF grammar into .rul text on standard output. Messages, the public rules and the
// words missing from the dictionaries go to standard error. Exit status: 0 when the grammar
// converted cleanly, 1 when it had errors or missing words (the text is still written, with the
// missing words as they stand, or when the .rul text does not read back), 1 as well when standard
// output cannot be written (with the reason), 2 when the command line or a file could not be used.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "grammar/jsgf.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "tools/cli.h"

namespace {

// 1 when the .rul text reads back without errors; otherwise says so on standard error (the
// reader's own messages, with their line numbers, are in the speech log).
int readsBack(const vlm::JsgfConversion& result, vlm::WordDictionary* words) {
  int fd = memfd_create("jsgf2rul", MFD_CLOEXEC);
  if (fd < 0) return 1;  // nothing to check with; the conversion stands
  size_t done = 0;
  while (done < result.rul.size()) {
    ssize_t n = write(fd, result.rul.data() + done, result.rul.size() - done);
    if (n <= 0) {
      close(fd);
      return 1;
    }
    done += static_cast<size_t>(n);
  }
  lseek(fd, 0, SEEK_SET);
  vlm::RuleDictionary rules(static_cast<int>(result.rules.size()) + 16);
  rules.readFd(fd, words);
  close(fd);
  if (rules.readErrorCount() == 0) return 1;
  std::fprintf(stderr, "jsgf2rul: the .rul text does not read back: %d errors (see %s)\n",
               rules.readErrorCount(), vlm::speechLogPath());
  return 0;
}

constexpr const char* kHelp =
    "usage: jsgf2rul GRAMMAR.gram --voc FILE [--voc FILE...] > OUT.rul\n"
    "Converts a JSGF grammar into rules (.rul) on standard output; its public rules are listed\n"
    "on standard error, with the words the dictionaries lack.\n"
    "  --voc FILE    a pronunciation dictionary (repeat for more; --voc=FILE also works)\n"
    "  --help, --version\n"
    "Exit status: 0 converted, 1 a failure (an unreadable file, missing words, a grammar error),\n"
    "2 a usage error.\n"
    "Example: jsgf2rul commands.gram --voc data/base.voc > commands.rul\n";

int usage() {
  std::fputs(kHelp, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "jsgf2rul", kHelp);
  const char* grammarPath = nullptr;
  std::vector<const char*> vocs;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--voc") == 0 && i + 1 < argc) {
      vocs.push_back(argv[++i]);
    } else if (std::strncmp(argv[i], "--voc=", 6) == 0) {
      vocs.push_back(argv[i] + 6);
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      std::fprintf(stderr, "jsgf2rul: unknown or incomplete option %s\n", argv[i]);
      return usage();
    } else if (grammarPath == nullptr) {
      grammarPath = argv[i];
    } else {
      std::fprintf(stderr, "jsgf2rul: one grammar at a time (%s and %s)\n", grammarPath, argv[i]);
      return usage();
    }
  }
  if (grammarPath == nullptr || vocs.empty()) return usage();

  std::ifstream in(grammarPath, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "jsgf2rul: cannot read %s: %s\n", grammarPath, std::strerror(errno));
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();

  vlm::WordDictionary words(400000);
  for (const char* voc : vocs) {
    if (!words.readFile(voc)) {
      std::fprintf(stderr, "jsgf2rul: cannot read dictionary %s\n", voc);
      return 1;
    }
  }

  vlm::JsgfConversion result;
  const std::string grammar = text.str();
  int ok = vlm::convertJsgf(grammar.c_str(), &words, &result, grammarPath);
  for (const std::string& m : result.messages) std::fprintf(stderr, "%s\n", m.c_str());
  std::fprintf(stderr, "public rules:");
  for (const std::string& r : result.publicRules) std::fprintf(stderr, " %s", r.c_str());
  std::fprintf(stderr, "\n");
  if (!result.missingWords.empty()) {
    std::fprintf(stderr, "words not in the dictionary (%zu):", result.missingWords.size());
    for (const std::string& w : result.missingWords) std::fprintf(stderr, " %s", w.c_str());
    std::fprintf(stderr, "\n");
  }
  // What is written must read back: the .rul reader takes the text as recognition will.
  if (ok && !readsBack(result, &words)) ok = 0;
  if (std::fwrite(result.rul.data(), 1, result.rul.size(), stdout) != result.rul.size() || std::fflush(stdout) != 0 ||
      std::ferror(stdout)) {
    std::fprintf(stderr, "jsgf2rul: cannot write standard output: %s\n", std::strerror(errno));
    return 1;
  }
  return ok ? 0 : 1;
}
