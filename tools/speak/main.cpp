// speak: says a pronunciation string, or words looked up in pronunciation dictionaries (by
// letter-to-sound when a word is in none of them), with the formant synthesiser; writes a RIFF
// wave file at 11025 samples per second or plays it.
//
//   speak [--voc FILE]... (--pron PHONES | WORD...) (-o OUT.wav | --play)
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/wavefile.h"
#include "audio/waveio.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"
#include "synth/synth.h"
#include "tools/cli.h"

namespace {

constexpr const char* kHelp =
               "usage: speak [--voc FILE]... (--pron PHONES | WORD...) (-o OUT.wav | --play)\n"
               "  --voc FILE    look words up in this pronunciation dictionary (may be repeated)\n"
               "  --pron PHONES say this pronunciation string (phone codes, \".\" for a pause)\n"
               "  WORD...       say these words (dictionary first, else letter-to-sound)\n"
               "  -o OUT.wav    write a RIFF wave file (16-bit mono, 11025 Hz)\n"
               "  --play        play through the audio output\n"
               "  --help, --version\n"
               "Exit status: 0 done, 1 a failure, 2 a usage error.\n"
               "Example: speak --voc data/base.voc call home -o call.wav\n";

void usage() { std::fputs(kHelp, stderr); }

// The pronunciation of one word: the first dictionary that holds it, else letter-to-sound.
std::string pronounce(vlm::WordDictionary* words, const std::string& word, bool* fromDictionary) {
  *fromDictionary = false;
  if (words) {
    char key[1024];
    const char* candidates[2] = {word.c_str(), nullptr};
    if (vlm::cleanUpName(key, word.c_str(), sizeof key, 0)) candidates[1] = key;
    for (const char* name : candidates) {
      if (!name) continue;
      const vlm::WordData* data = words->getWordData(name);
      if (data && data->pron && *data->pron) {
        *fromDictionary = true;
        return data->pron;
      }
    }
  }
  char phones[2048];
  vlm::xlateString(phones, word.c_str(), sizeof phones, nullptr, 1);
  return phones;
}

}  // namespace

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "speak", kHelp);
  std::vector<std::string> vocs, wordArgs;
  std::string pron, outPath;
  bool havePron = false, play = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--voc" && i + 1 < argc) {
      vocs.push_back(argv[++i]);
    } else if (a == "--pron" && i + 1 < argc) {
      pron = argv[++i];
      havePron = true;
    } else if (a == "-o" && i + 1 < argc) {
      outPath = argv[++i];
    } else if (a == "--play") {
      play = true;
    } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
      std::fprintf(stderr, "speak: unknown or incomplete option %s\n", a.c_str());
      usage();
      return 2;
    } else {
      wordArgs.push_back(a);
    }
  }
  if (havePron == !wordArgs.empty() || outPath.empty() == !play) {
    usage();
    return 2;
  }

  if (havePron) {
    for (char c : pron) {
      if (c != ' ' && c != '\t' && !vlm::isPhone(c)) {
        std::fprintf(stderr, "speak: '%c' is not a phone code\n", c);
        return 2;
      }
    }
  } else {
    vlm::WordDictionary* words = nullptr;
    if (!vocs.empty()) {
      words = new vlm::WordDictionary(200000);
      for (const std::string& v : vocs) {
        if (!words->readFile(v.c_str())) {
          std::fprintf(stderr, "speak: cannot read %s\n", v.c_str());
          delete words;
          return 1;
        }
      }
    }
    // Words are joined by the silence phone, as compound words are.
    for (const std::string& w : wordArgs) {
      bool fromDictionary;
      const std::string p = pronounce(words, w, &fromDictionary);
      std::printf("%s\t%s\t%s\n", w.c_str(), p.c_str(), fromDictionary ? "dictionary" : "letter-to-sound");
      if (p.empty()) continue;
      if (!pron.empty()) pron += '.';
      pron += p;
    }
    delete words;
  }

  short* samples = nullptr;
  const int count = vlm::synthesize(pron.c_str(), &samples);
  if (count == 0) {
    std::fprintf(stderr, "speak: nothing to say in \"%s\"\n", pron.c_str());
    return 1;
  }
  const long clipped = vlm::synthClippedSamples();
  if (clipped > 0) std::fprintf(stderr, "speak: %ld samples clipped\n", clipped);

  int status = 0;
  if (!outPath.empty()) {
    if (!vlm::writeRiffFile(outPath.c_str(), samples, static_cast<uint32_t>(count), vlm::kRiffSpeechFormat)) {
      std::fprintf(stderr, "speak: cannot write %s: %s\n", outPath.c_str(), vlm::openFailureText(errno));
      status = 1;
    }
    delete[] samples;
  } else {
    // The audio layer takes the block (new char[]) and frees it when playing ends.
    char* data = new char[static_cast<size_t>(count) * 2];
    std::memcpy(data, samples, static_cast<size_t>(count) * 2);
    delete[] samples;
    const int rc = vlm::waveIoBeep(&vlm::kDefaultWaveFormat, data, static_cast<unsigned>(count) * 2,
                                   vlm::kWaveMapper);
    vlm::waveIoClose();
    if (rc != vlm::eWaveIoOk) {
      std::fprintf(stderr, "speak: playback failed\n");
      status = 1;
    }
  }
  return status;
}
