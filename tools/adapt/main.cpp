// adapt: enrolls a speaker from recorded prompts.
//
//   adapt --usr START.usr --voc FILE [--voc FILE...] --prompts LIST --out NEW.usr
//         [--no-recognize] [--quiet]
//   adapt --usr START.usr --voc FILE [--voc FILE...] --enrol PROMPTFILE --recordings DIR
//         --out NEW.usr [--no-recognize] [--quiet]
//
// With --enrol the prompts come from the enrollment prompt file itself (data/enrol.txt) and each
// prompt's recording from DIR, under the name record-prompts gives it (tools/enrolprompts.h); a
// prompt whose recording is not in DIR is skipped and named in one note.
//
// LIST holds one "wave-file<TAB>prompt text" per line (a wave file named relative to the list's
// folder when it is not found as given). As in the enrollment prompt file, the lines between
// "cmd_start_calibrate" and "cmd_end_calibrate" are the calibration prompts, other lines
// beginning with "cmd_" are ignored, and blank lines and leading blanks are skipped.
//
// The work follows the enrollment program: each repetition of the calibration prompt "tea"
// gives a warp-bin estimate (out-of-range estimates drop the repetition); the warp bin is chosen
// from the estimates; the speaker is calibrated on the calibration recordings (normaliser and
// two adaptation passes); then every other prompt is recognised against a rule made of its words
// alone and, when recognised, adapted with the hypothesis that matches the prompt (else the
// prompt's own words); finally the accumulators are applied, the channel state is stored in the
// speaker and NEW.usr is written. --no-recognize aligns every recording with its prompt without
// recognising it first (for starting models too weak to recognise anything). Adaptation spreads
// to unseen contexts from "delta.usr" in the data directory ($VELMORA_DIR; when that is not set,
// the folder of START.usr if it holds a delta.usr).
//
// Wave files of any rate the audio layer reads (RIFF or NIST, mixed to mono) are resampled to
// 11025 Hz. Progress goes to standard error. Exit status: 0 when NEW.usr was written and every
// line and recording could be read; 1 when NEW.usr could not be written, nothing could be read or
// fewer than a quarter of the prompts after calibration were adapted (NEW.usr is then left as it
// was), and also when some lines or recordings were unreadable (NEW.usr is then still written
// from the rest); 2 for a bad command line. NEW.usr is replaced safely (foundation/safefile.h); a
// missing delta.usr is warned about on standard error.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/filepath.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"
#include "models/adapt.h"
#include "models/calibrate.h"
#include "models/user.h"
#include "models/warpbin.h"
#include "platform/audio/audiodevice.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "tools/cli.h"
#include "tools/enrolprompts.h"
#include "api/wiring.h"

using namespace vlm;

namespace {

constexpr int kPromptRoom = 257;   // prompt lines hold at most 256 characters
bool quiet = false;

constexpr const char* kUsage =
    "usage: adapt --usr START.usr --voc FILE [--voc FILE...]\n"
    "             (--prompts LIST | --enrol PROMPTFILE --recordings DIR) --out NEW.usr\n"
    "             [--no-recognize] [--quiet]\n";
constexpr const char* kHelp =
    "Enrolls a speaker: finds the warp bin, calibrates and adapts the starting models to the\n"
    "recordings of the prompt list, and writes the new models.\n"
    "  --usr START.usr   the starting models (data/newuser.usr)\n"
    "  --voc FILE        a pronunciation dictionary for the prompts' words (repeat for more)\n"
    "  --prompts LIST    the prompt list: \"wave-file<TAB>prompt text\" per line\n"
    "  --enrol FILE      or the enrollment prompt file (data/enrol.txt) ...\n"
    "  --recordings DIR  ... with the speaker's repetitions in DIR, named as record-prompts\n"
    "                    names them\n"
    "  --out NEW.usr     where the speaker's models are written\n"
    "  --no-recognize    align every recording with its prompt without recognising it first\n"
    "  --quiet           no progress on standard error\n"
    "  --help, --version\n"
    "Exit status: 0 done, 1 a failure, 2 a usage error.\n"
    "Example: adapt --usr data/newuser.usr --voc data/enrol.voc --enrol data/enrol.txt --recordings me/\n"
    "         --out me.usr\n";

void usage() {
  std::fputs(kUsage, stderr);
  std::fprintf(stderr, "(adapt --help lists the options)\n");
}

void progress(const char* format, const std::string& a = "", const std::string& b = "") {
  if (!quiet) std::fprintf(stderr, format, a.c_str(), b.c_str());
}

using Prompt = AdaptPrompt;

// Reads the prompt list. Returns false when it cannot be opened.
bool readPrompts(const char* path, std::vector<Prompt>* prompts, int* errors) {
  // Only a regular file (a FIFO would block here).
  const int fd = openRegularFile(path);
  FILE* f = fd >= 0 ? fdopen(fd, "r") : nullptr;
  if (f == nullptr) {
    std::fprintf(stderr, "adapt: cannot read prompt list %s: %s\n", path, openFailureText(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  std::string dir;
  if (const char* slash = std::strrchr(path, '/')) dir.assign(path, slash + 1);
  bool calibrating = false;
  char line[4096];
  int number = 0;
  while (std::fgets(line, sizeof line, f)) {
    number++;
    std::string s(line);
    if (s.size() == sizeof line - 1 && s.back() != '\n') {
      // A line longer than the buffer: skipped whole and named, never read as two prompts.
      int c;
      while ((c = std::fgetc(f)) != EOF && c != '\n') {
      }
      std::fprintf(stderr, "adapt: %s:%d: line longer than %d bytes, skipped\n", path, number,
                   static_cast<int>(sizeof line) - 2);
      (*errors)++;
      continue;
    }
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t start = s.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    s = s.substr(start);
    if (s.rfind("cmd_", 0) == 0) {
      if (s.rfind("cmd_start_calibrate", 0) == 0) calibrating = true;
      else if (s.rfind("cmd_end_calibrate", 0) == 0) calibrating = false;
      continue;
    }
    const size_t tab = s.find('\t');
    if (tab == std::string::npos) {
      std::fprintf(stderr, "adapt: %s:%d: expected \"wave-file<TAB>prompt text\"\n", path, number);
      (*errors)++;
      continue;
    }
    Prompt p;
    p.wave = s.substr(0, tab);
    p.text = s.substr(tab + 1);
    size_t textStart = p.text.find_first_not_of(" \t");
    p.text = textStart == std::string::npos ? "" : p.text.substr(textStart);
    while (!p.text.empty() && (p.text.back() == ' ' || p.text.back() == '\t')) p.text.pop_back();
    if (p.text.empty() || p.text.size() >= kPromptRoom) {
      std::fprintf(stderr, "adapt: %s:%d: empty or overlong prompt\n", path, number);
      (*errors)++;
      continue;
    }
    if (access(p.wave.c_str(), R_OK) != 0 && !dir.empty() && p.wave[0] != '/') p.wave = dir + p.wave;
    p.calibration = calibrating;
    prompts->push_back(p);
  }
  std::fclose(f);
  return true;
}

// The prompts of the enrollment prompt file with their repetitions in dir. Prompts whose
// repetition is missing are skipped and counted in *missing (the first few named). Returns false
// when the file cannot be read.
bool readEnrolPromptFile(const char* path, const std::string& dir, std::vector<Prompt>* prompts, int* errors,
                         int* missing) {
  std::vector<vlmcli::EnrolPrompt> lines;
  std::vector<std::string> problems;
  std::string error;
  if (!vlmcli::readEnrolPrompts(path, &lines, &error, &problems)) {
    std::fprintf(stderr, "adapt: cannot read prompt file %s: %s\n", path, error.c_str());
    return false;
  }
  for (const std::string& p : problems) std::fprintf(stderr, "adapt: %s:%s\n", path, p.c_str());
  *errors += static_cast<int>(problems.size());
  std::string names;
  for (const vlmcli::EnrolPrompt& e : lines) {
    Prompt p;
    p.wave = dir + (dir.empty() || dir.back() == '/' ? "" : "/") + e.take;
    p.text = e.text;
    p.calibration = e.calibration;
    if (access(p.wave.c_str(), R_OK) != 0) {
      if (++*missing <= 5) names += (names.empty() ? "" : ", ") + e.take;
      continue;
    }
    prompts->push_back(p);
  }
  if (*missing > 0)
    std::fprintf(stderr, "adapt: note: %d prompt(s) have no recording in %s (%s%s), skipped; running "
                 "record-prompts again records the missing ones\n", *missing, dir.c_str(), names.c_str(), *missing > 5 ? ", ..." : "");
  return true;
}

// The samples of a wave file at 11025 Hz; empty with error set on failure.
std::vector<int16_t> readSamples(const std::string& path, std::string* error) {
  std::vector<int16_t> out;
  LoadedWave wave;
  char reason[256] = {0};
  if (!loadWaveFile(path.c_str(), &wave, reason, sizeof reason)) {
    *error = reason[0] ? reason : "cannot read";
    return out;
  }
  if (wave.warning[0]) std::fprintf(stderr, "adapt: %s: warning: %s\n", path.c_str(), wave.warning);
  if (!toSpeechSamples(wave.samples, wave.count, wave.rate, &out, reason, sizeof reason)) {
    *error = reason;
    return out;
  }
  if (out.empty()) *error = "no samples";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "adapt", (std::string(kUsage) + kHelp).c_str());
  const char* usrPath = nullptr;
  const char* listPath = nullptr;
  const char* enrolPath = nullptr;
  const char* recordingsPath = nullptr;
  const char* outPath = nullptr;
  std::vector<const char*> vocPaths;
  bool recognise = true;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "adapt: %s needs a value\n", a.c_str());
        usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--usr") usrPath = value();
    else if (a == "--voc") vocPaths.push_back(value());
    else if (a == "--prompts") listPath = value();
    else if (a == "--enrol") enrolPath = value();
    else if (a == "--recordings") recordingsPath = value();
    else if (a == "--out") outPath = value();
    else if (a == "--no-recognize") recognise = false;
    else if (a == "--quiet") quiet = true;
    else {
      std::fprintf(stderr, "adapt: unknown argument %s\n", a.c_str());
      usage();
      return 2;
    }
  }
  if (listPath && (enrolPath || recordingsPath)) {
    std::fprintf(stderr, "adapt: give either --prompts or --enrol with --recordings, not both\n");
    usage();
    return 2;
  }
  if (!enrolPath != !recordingsPath) {
    std::fprintf(stderr, "adapt: --enrol and --recordings go together\n");
    usage();
    return 2;
  }
  if (!usrPath || vocPaths.empty() || (!listPath && !enrolPath) || !outPath) {
    usage();
    return 2;
  }
  if (recordingsPath) {
    struct stat st;
    if (stat(recordingsPath, &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "adapt: the recordings folder %s %s (record the prompts with record-prompts --out %s)\n",
                   recordingsPath, stat(recordingsPath, &st) != 0 ? "does not exist" : "is not a folder",
                   recordingsPath);
      return 1;
    }
  }
  setConsoleProgram(false);
  // The reference models "delta.usr" are found in the data directory; without one set, the
  // starting models' folder serves when it holds them.
  if (std::getenv("VELMORA_DIR") == nullptr) {
    std::string dir = ".";
    if (const char* slash = std::strrchr(usrPath, '/')) dir.assign(usrPath, slash);
    if (access((dir + "/delta.usr").c_str(), R_OK) == 0) {
      setenv("VELMORA_DIR", dir.c_str(), 1);
      progress("data directory %s (for delta.usr)\n", dir);
    }
  }

  // The target is checked before the work, so that a device or a folder named by --out is refused
  // at once rather than after the adaptation.
  {
    SafeFile probe;
    if (!probe.open(outPath)) {
      std::fprintf(stderr, "adapt: %s\n", probe.reason());
      return 1;
    }
  }
  User user;
  if (!user.readFile(usrPath)) {
    std::fprintf(stderr, "adapt: cannot read speaker models %s (see %s)\n", usrPath, speechLogPath());
    return 1;
  }
  WordDictionary words(400000);
  for (const char* voc : vocPaths)
    if (!words.readFile(voc)) {
      std::fprintf(stderr, "adapt: cannot read dictionary %s\n", voc);
      return 1;
    }
  std::vector<Prompt> prompts;
  int errors = 0;
  int missing = 0;
  if (listPath ? !readPrompts(listPath, &prompts, &errors)
               : !readEnrolPromptFile(enrolPath, recordingsPath, &prompts, &errors, &missing))
    return 1;
  if (prompts.empty()) {
    if (listPath) std::fprintf(stderr, "adapt: no prompts in %s\n", listPath);
    else std::fprintf(stderr, "adapt: no recording of a prompt of %s in %s\n", enrolPath, recordingsPath);
    return 1;
  }

  if (const std::string warning = referenceModelsWarning(); !warning.empty())
    std::fprintf(stderr, "adapt: %s\n", warning.c_str());

  // A prompt's recording as 11025 Hz samples; an unreadable one is reported and counted.
  auto readRecording = [&](const AdaptPrompt& p, std::vector<int16_t>* samples) {
    std::string error;
    *samples = readSamples(p.wave, &error);
    if (samples->empty()) {
      std::fprintf(stderr, "adapt: %s: %s\n", p.wave.c_str(), error.c_str());
      errors++;
      return false;
    }
    return true;
  };
  const LineSink showProgress = [](const std::string& line) {
    if (!quiet) std::fprintf(stderr, "%s\n", line.c_str());
  };
  AdaptOutcome outcome;
  const int complete = adaptSpeaker(&user, &words, prompts, recognise, readRecording, showProgress, &outcome);
  const int readable = outcome.readable, adapted = outcome.adapted, phase2 = outcome.phase2;
  const int minimum = outcome.minimum;
  if (readable == 0) {
    std::fprintf(stderr, "adapt: no recording could be read; %s not written\n", outPath);
    return 1;
  }
  // Models adapted on too few prompts (silence, the wrong recordings) would be worse than none.
  if (!complete || adapted < minimum) {
    std::fprintf(stderr, "adapt: only %d of %d prompts adapted (at least %d needed); %s not written\n", adapted,
                 phase2, minimum, outPath);
    return 1;
  }
  SafeFile out;
  if (out.open(outPath) && !user.writeFd(out.handle())) out.noteWriteFailure(errno);
  if (!out.commit()) {
    std::fprintf(stderr, "adapt: %s (%s kept as it was)\n", out.reason(), outPath);
    return 1;
  }
  progress("wrote %s (warp bin %s)\n", outPath, std::to_string(user.vtln));
  return errors > 0 ? 1 : 0;
}
