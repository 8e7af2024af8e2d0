// recognize: runs the recognition search on wave files.
//
//   recognize --usr FILE --voc FILE [--voc FILE...] (--rul FILE | --jsgf FILE) [--rule NAME...]
//             [--json] [--session] [--time] [--nbest N] [--raw [--rate HZ]] (WAVE... | - | --mic)
//
// docs/recognize.md describes every option. "-" reads one recording from standard input; --raw
// takes every input as 16-bit little-endian mono samples at --rate (16000 Hz unless given).
// --mic hears the microphone (or VELMORA_MIC) through the live channel and its endpointer and
// prints each utterance's result as it ends, until SIGINT or the end of the input; it is served
// by recognize-mic, the same program linked with the audio device layer, so that recognition of
// files never loads the sound libraries.
//
// For each wave file it prints the n-best list (words, score, rules), the phone-loop score and
// the number of frames. Text output: the file name, a tab and the best hypothesis's words (empty
// when nothing was recognised), then one indented line per hypothesis ("\t<rank>\t<score>\t<words>
// \t<rules>"), "\tconfidence\t<c>" (of the best hypothesis, search/confidence.h; "\trejected\t<why>"
// after it when --reject or --oov rejected the utterance), "\tphoneLoopScore\t<n>" and
// "\tframes\t<n>". With --json: one JSON object per file per line with the fields file, frames,
// phoneLoopScore, confidence, nbest (objects with words, score, confidence and rules) and, for a
// rejected utterance, rejected.
// Without --rule every top-level rule of the grammar is active (for a .rul file the rules
// no other rule refers to; for a JSGF grammar its public rules).
//
// By default every file is heard on its own: all its frames, from the channel state stored in the
// speaker's models. With --session the files are the utterances of one speaker in order, heard as
// the application hears them: one channel for all of them, the endpointer cutting each file's
// first utterance out, and the channel's normaliser and levels carried from one to the next (each
// utterance's end updates them); the JSON object then also has the normaliser after the file.
//
// RIFF and NIST files are read by the audio layer, other formats through libsndfile (opened on
// demand); every rate, sample format or channel count is mixed to mono and resampled to 11025 Hz. Errors (a missing or unreadable file, an unknown
// rule, a grammar that does not parse) are reported on standard error; the exit status is then 1,
// after every other file has been processed.
#include <sndfile.h>
#include <dlfcn.h>
#include <csignal>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <map>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"
#include "models/user.h"
#include "platform/audio/audiodevice.h"
#include "search/confidence.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "search/wordtimes.h"
#include "search/wordtree.h"
#include "grammar/jsgf.h"
#include "tools/cli.h"
#include "api/wiring.h"

using namespace vlm;

namespace {

#ifdef VLM_RECOGNIZE_LIVE
// Set by SIGINT or SIGTERM: live recognition stops after the utterance being heard; a second
// signal ends the program at once.
volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int signal) {
  if (stopRequested) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
  stopRequested = 1;
}
#endif


constexpr const char* kUsage =
    "usage: recognize --usr FILE --voc FILE [--voc FILE...] (--rul FILE | --jsgf FILE)\n"
    "                 [--rule NAME...] [--json] [--session] [--time] [--nbest N]\n"
    "                 [--reject T] [--oov] [--no-phone-loop] [--raw [--rate HZ]]\n"
    "                 [--max-memory MB] [--max-time MS]\n"
    "                 (WAVE... | - | --mic)\n";
constexpr const char* kHelp =
    "Recognises speech against a grammar: each wave file, standard input (-) or the microphone.\n"
    "  --usr FILE        the speaker's models (data/newuser.usr for a speaker not enrolled)\n"
    "  --voc FILE        a pronunciation dictionary (repeat for more)\n"
    "  --rul FILE        the grammar as rules, or --jsgf FILE as a JSGF grammar\n"
    "  --rule NAME       only this rule is active (repeat for more; default: the top-level rules)\n"
    "  --json            one JSON object per utterance instead of text\n"
    "  --session         the files are one speaker's utterances in order, heard as one channel\n"
    "  --time            the start and end (frames and seconds) of each word\n"
    "  --nbest N         at most N hypotheses per utterance (1 to 15)\n"
    "  --reject T        drop hypotheses whose confidence (0 to 1) is below T; an utterance\n"
    "                    whose best one is dropped is rejected (0.1 rejects most speech that\n"
    "                    is not in the grammar)\n"
    "  --oov             let speech outside the grammar match the out-of-vocabulary phone loop;\n"
    "                    an utterance it matches best is rejected\n"
    "  --no-phone-loop   one search per utterance instead of two: the confidence comes from the\n"
    "                    phone-loop ratio alone (about three times faster, weaker rejection)\n"
    "  --raw             inputs are 16-bit little-endian mono samples; --rate HZ (default 16000)\n"
    "  --mic             recognise live from the microphone (or VELMORA_MIC) until Ctrl-C\n"
    "  --max-memory MB, --max-time MS   limits of one search\n"
    "  --help, --version\n"
    "Exit status: 0 every input recognised, 1 a failure, 2 a usage error.\n"
    "Example: recognize --usr data/newuser.usr --voc data/base.voc --jsgf commands.gram command.wav\n";

void usage() {
  std::fputs(kUsage, stderr);
  std::fprintf(stderr, "(recognize --help lists the options)\n");
}

// Standard output, checked: a write that fails (a full device, a closed pipe) ends the program
// with the reason, since results that never arrive must not pass for success.
void emit(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    const int e = errno;
    std::fprintf(stderr, "recognize: cannot write the results to standard output: %s\n", std::strerror(e ? e : EIO));
    std::exit(1);
  }
}

// Messages are whole lines on standard error.
const LineSink toStandardError = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
// A reader's warnings, as "recognize: <text>".
const LineSink readerWarning = [](const std::string& line) { std::fprintf(stderr, "recognize: %s\n", line.c_str()); };

// While a reader runs, what it logs is shown on standard error as "recognize: <source>: <text>".
// With echo off the messages are only kept (the last one in last).
struct ShowLog : LogCapture {
  explicit ShowLog(const char* source, bool echo = true) : LogCapture("recognize", source, &toStandardError, echo) {}
};

std::vector<int16_t> readSpeech(const char* path, std::string* error) { return vlm::readSpeech(path, error, readerWarning); }

// Standard input: raw samples, or a recording in any format the files may have (kept in a
// temporary file for the readers, which take a path).
std::vector<int16_t> readStandardInput(bool raw, unsigned rate, std::string* error) {
  std::string bytes;
  if (!readAll(0, &bytes, error)) return {};
  if (raw) return rawSpeech(bytes, rate, error, readerWarning);
  if (bytes.empty()) {
    *error = "standard input is empty";
    return {};
  }
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir && *dir ? dir : "/tmp") + "/recognize-stdin-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = std::string("cannot make a temporary file: ") + std::strerror(errno);
    return {};
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      *error = std::string("cannot write a temporary file: ") + std::strerror(errno);
      close(fd);
      unlink(name.c_str());
      return {};
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  std::vector<int16_t> out = readSpeech(name.c_str(), error);
  unlink(name.c_str());
  return out;
}

std::string jsonString(const char* s) {
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
    switch (*p) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (*p < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", *p);
          out += buf;
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "recognize", (std::string(kUsage) + kHelp).c_str());
  const char* usrPath = nullptr;
  const char* rulPath = nullptr;
  const char* jsgfPath = nullptr;
  std::vector<const char*> vocPaths, ruleNames, waves;
  bool json = false;
  bool session = false;
  bool timings = false, raw = false, mic = false, oov = false, phoneLoop = true;
  double rejectBelow = -1;   // --reject: the lowest confidence kept
  int nbest = RecogResult::kMaxResults;
  unsigned rawRate = 0;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    auto value = [&](const char** target) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "recognize: %s needs a value\n", a.c_str());
        usage();
        std::exit(2);
      }
      *target = argv[++i];
    };
    const char* v = nullptr;
    if (a == "--usr") value(&usrPath);
    else if (a == "--voc") { value(&v); vocPaths.push_back(v); }
    else if (a == "--rul") value(&rulPath);
    else if (a == "--jsgf") value(&jsgfPath);
    else if (a == "--rule") { value(&v); ruleNames.push_back(v); }
    else if (a == "--json") json = true;
    else if (a == "--session") session = true;
    else if (a == "--time") timings = true;
    else if (a == "--raw") raw = true;
    else if (a == "--mic") mic = true;
    else if (a == "--oov") oov = true;
    else if (a == "--no-phone-loop") phoneLoop = false;
    else if (a == "--reject") {
      value(&v);
      char* end = nullptr;
      const double number = std::strtod(v, &end);
      if (end == v || *end != 0 || !(number >= 0 && number <= 1)) {
        std::fprintf(stderr, "recognize: --reject needs a confidence from 0 to 1, not %s\n", v);
        usage();
        return 2;
      }
      rejectBelow = number;
    }
    else if (a == "--nbest" || a == "--rate") {
      value(&v);
      char* end = nullptr;
      errno = 0;
      const long number = std::strtol(v, &end, 10);
      const long low = a == "--nbest" ? 1 : 4000, high = a == "--nbest" ? RecogResult::kMaxResults : 384000;
      if (end == v || *end != 0 || errno != 0 || number < low || number > high) {
        std::fprintf(stderr, "recognize: %s needs a whole number from %ld to %ld, not %s\n", a.c_str(), low, high, v);
        usage();
        return 2;
      }
      if (a == "--nbest") nbest = static_cast<int>(number);
      else rawRate = static_cast<unsigned>(number);
    }
    else if (a == "--max-memory" || a == "--max-time") {
      value(&v);
      char* end = nullptr;
      const double number = std::strtod(v, &end);
      if (end == v || *end != 0 || !(number > 0) || number > 1e9) {
        std::fprintf(stderr, "recognize: %s needs a positive number, not %s\n", a.c_str(), v);
        usage();
        return 2;
      }
      if (a == "--max-memory") setMaxMemoryAlloced(static_cast<long>(number * 1048576.0));
      else setMaxTickCount(static_cast<long>(number));
    }
    else if (a.size() > 1 && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "recognize: unknown option %s\n", a.c_str());
      usage();
      return 2;
    } else waves.push_back(argv[i]);
  }
  auto usageError = [](const char* text) {
    std::fprintf(stderr, "recognize: %s\n", text);
    usage();
    std::exit(2);
  };
  if (mic && !waves.empty()) usageError("--mic takes no wave files");
  if (mic && (session || raw)) usageError("--mic hears the live channel: --session and --raw do not apply");
  if (rawRate && !raw) usageError("--rate is for --raw input");
  if (std::count_if(waves.begin(), waves.end(), [](const char* w) { return std::strcmp(w, "-") == 0; }) > 1)
    usageError("standard input (-) can be read only once");
  if (!usrPath || vocPaths.empty() || (!rulPath == !jsgfPath) || (waves.empty() && !mic)) {
    usage();
    return 2;
  }
  if (raw && rawRate == 0) rawRate = 16000;
#ifndef VLM_RECOGNIZE_LIVE
  // The microphone is heard by recognize-mic beside this program, which links the device layer.
  if (mic) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string live = "recognize-mic";
    if (n > 0) {
      self[n] = 0;
      live = std::string(self);
      live = live.substr(0, live.rfind('/') + 1) + "recognize-mic";
    }
    argv[0] = live.data();
    if (n > 0) execv(live.c_str(), argv);
    else execvp(live.c_str(), argv);   // no /proc: found on the PATH
    std::fprintf(stderr, "recognize: cannot start %s for --mic: %s\n", live.c_str(), std::strerror(errno));
    return 1;
  }
#endif

  // Where the speech log goes is settled first, so that what the data-directory search reports
  // is shown as the program's own message.
  {
    ShowLog show(nullptr);
    speechLogPath();
  }
  // Inputs named on the command line must be files (a folder given by mistake is said so).
  {
    std::vector<std::pair<const char*, const char*>> inputs{{"speaker models", usrPath}};
    for (const char* voc : vocPaths) inputs.push_back({"dictionary", voc});
    if (rulPath) inputs.push_back({"grammar", rulPath});
    if (jsgfPath) inputs.push_back({"grammar", jsgfPath});
    for (const auto& [what, path] : inputs) {
      const std::string problem = fileProblem(path);
      if (!problem.empty()) {
        std::fprintf(stderr, "recognize: cannot read %s %s: %s\n", what, path, problem.c_str());
        return 1;
      }
    }
  }

  int failed = 0;
  User user;
  {
    ShowLog quiet(usrPath, false);
    if (!user.readFile(usrPath)) {
      std::string reason = quiet.last;
      const std::string prefix = std::string("Speaker model file ") + usrPath;
      if (reason.compare(0, prefix.size(), prefix) == 0) reason = reason.substr(prefix.size());
      while (!reason.empty() && (reason[0] == ':' || reason[0] == ',' || reason[0] == ' ')) reason.erase(0, 1);
      if (reason.empty()) reason = "not a speaker model file";
      std::fprintf(stderr, "recognize: cannot read speaker models %s: %s\n", usrPath, reason.c_str());
      return 1;
    }
  }
  // The speaker's features are computed with the filter bank warped for that speaker.
  if (user.vtln != WavChannel::melFilterBankSecondEFormantBin()) WavChannel::melFilterBankWithVTLN(user.vtln);
  // The dictionaries and the grammar, sized for what they hold.
  GrammarSource source;
  source.jsgf = jsgfPath != nullptr;
  source.name = rulPath ? rulPath : jsgfPath;
  if (rulPath) {
    source.path = rulPath;
  } else {
    std::ifstream in(jsgfPath, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "recognize: cannot read grammar %s: %s\n", jsgfPath, std::strerror(errno));
      return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    source.text = text.str();
  }
  LoadedGrammar grammar;
  if (!loadGrammar(vocPaths, source, std::vector<std::string>(ruleNames.begin(), ruleNames.end()), "recognize",
                   toStandardError, &grammar))
    return 1;
  if (grammar.partial) failed = 1;
  WordDictionary& words = *grammar.words;
  RuleDictionary& rules = *grammar.rules;
  std::vector<int>& active = grammar.active;
  if (!addConfidenceRules(&grammar, oov, "recognize", toStandardError, phoneLoop)) return 1;

  Recognizer recognizer(&user, &words, &rules);
  StaticWavChannel sessionChannel;
  if (session) user.setChanCepMnDel(&sessionChannel);
  auto joined = [](const std::vector<std::string>& names, const char* separator, bool quoted) {
    std::string s;
    for (const std::string& name : names) {
      if (!s.empty()) s += separator;
      s += quoted ? jsonString(name.c_str()) : name;
    }
    return s;
  };
  // The recognised words of result i with their frames [from, to) (out-of-vocabulary items are
  // passed over, as in the words shown).
  // A word ends where its sound ends (speechEnds), not where the next word or the end of the
  // utterance begins.
  auto forEachTimedWord = [&](const Utterance& utt, const RecogResult& list, int i, auto&& each) {
    const FSGNodeTypeItemAC& items = *list.at(i);
    const WordFrames& spans = list.framesAt(i);
    std::vector<int> ends(static_cast<size_t>(spans.words()) + 1);
    if (spans.words() > 0)
      speechEnds(items, spans, utt.frameCount() ? &utt.frames[0] : nullptr, utt.frameCount(), words, &user, ends.data());
    int k = 0;
    for (int j = 0; j < items.count(); j++) {
      if (items[j].type != eWordNode && items[j].type != eOutOfVocabularyNode) continue;
      if (items[j].type == eWordNode && k < spans.words()) {
        const char* name = words.nameOf(items[j].value);
        each(name ? name : "", spans.start(k), ends[size_t(k)]);
      }
      k++;
    }
  };
  // A frame number as seconds (frames of 200 samples at 11025 Hz).
  auto seconds = [](int frame) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", frame * 200.0 / 11025.0);
    return std::string(buffer);
  };
  // Recognises one utterance of a file (number k of a file split at pauses, 0 when not split)
  // and prints its result; a reason when it has none (or only for its first frames) goes to
  // standard error and into the JSON object. 1 when the utterance got a result.
  auto recogniseAndReport = [&](const char* wave, Utterance& utt, int k, bool heard) -> int {
    std::vector<HypothesisText> list;
    int phoneBest = -1;
    std::string rejection;
    const int end = recogniseUtterance(&recognizer, &utt, active, heard, nbest, grammar, &list, rejectBelow,
                                       &phoneBest, &rejection);
    RecogResult* result = utt.result;
    const int count = static_cast<int>(list.size());
    const std::string name = k > 0 ? std::string(wave) + "#" + std::to_string(k) : std::string(wave);
    std::string reason;
    if (end != eEndResults) {
      reason = recognizeEndText(end);
      if (end == eEndTooLong) reason += ": only the first " + std::to_string(maxFramesInUtt) + " frames were searched";
      if (end == eEndMemory) reason += " (limit " + std::to_string(maxMemoryAlloced >> 20) + " MB; raise it with --max-memory)";
      if (end == eEndTime) reason += " (limit " + std::to_string(maxTickCount) + " ms; raise it with --max-time)";
      std::fprintf(stderr, "recognize: %s: %s%s\n", name.c_str(), count > 0 ? "" : "no result: ", reason.c_str());
    }
    if (!rejection.empty()) std::fprintf(stderr, "recognize: %s: %s\n", name.c_str(), rejection.c_str());
    char number[32];
    auto fixed = [&number](double x) {
      std::snprintf(number, sizeof number, "%.3f", x);
      return std::string(number);
    };
    // the best hypothesis's confidence, also when --reject dropped it
    const bool scored = result != nullptr && (count > 0 || !rejection.empty());
    const double topConfidence = count > 0 ? list[0].confidence : scored ? resultConfidence(utt.phoneLoopScore, result->at(0)->score, phoneBest, utt.frameCount()) : 0.0;
    if (json) {
      std::string line = "{\"file\":" + jsonString(wave);
      if (k > 0) line += ",\"utterance\":" + std::to_string(k);
      line += ",\"frames\":" + std::to_string(utt.frameCount()) +
              ",\"phoneLoopScore\":" + std::to_string(utt.phoneLoopScore) + ",\"phoneScore\":" +
              (phoneBest >= 0 ? std::to_string(phoneBest) : std::string("null")) + ",\"confidence\":" +
              (scored ? fixed(topConfidence) : std::string("null")) + ",\"nbest\":[";
      for (int j = 0; j < count; j++) {
        const HypothesisText& h = list[size_t(j)];
        const int i = h.index;
        if (j) line += ",";
        line += "{\"words\":" + jsonString(h.words.c_str()) + ",\"score\":" + std::to_string(h.score) +
                ",\"confidence\":" + fixed(h.confidence) + ",\"rules\":[" + joined(h.rules, ",", true) + "]";
        if (h.oov) line += ",\"oov\":true";
        if (timings) {
          line += ",\"times\":[";
          bool first = true;
          forEachTimedWord(utt, *result, i, [&](const char* word, int from, int to) {
            line += std::string(first ? "" : ",") + "{\"word\":" + jsonString(word) + ",\"startFrame\":" +
                    std::to_string(from) + ",\"endFrame\":" + std::to_string(to) + ",\"start\":" + seconds(from) +
                    ",\"end\":" + seconds(to) + "}";
            first = false;
          });
          line += "]";
        }
        line += "}";
      }
      line += "],\"reason\":" + (reason.empty() ? std::string("null") : jsonString(reason.c_str()));
      if (!rejection.empty()) line += ",\"rejected\":" + jsonString(rejection.c_str());
      if (session) {
        line += ",\"normaliser\":[";
        for (int c = 0; c < kStaticFeatures; c++)
          line += (c ? "," : "") + std::to_string(sessionChannel.cepstralNormaliser()[c]);
        line += "]";
      }
      emit(line + "}\n");
    } else {
      std::string out = name + "\t" + (count > 0 ? list[0].words : std::string()) + "\n";
      for (int j = 0; j < count; j++)
        out += "\t" + std::to_string(j + 1) + "\t" + std::to_string(list[size_t(j)].score) + "\t" +
               list[size_t(j)].words + "\t" + joined(list[size_t(j)].rules, " ", false) + "\n";
      if (timings && count > 0)
        forEachTimedWord(utt, *result, list[0].index, [&](const char* word, int from, int to) {
          out += "\ttime\t" + std::string(word) + "\t" + std::to_string(from) + "\t" + std::to_string(to) + "\t" +
                 seconds(from) + "\t" + seconds(to) + "\n";
        });
      if (scored) out += "\tconfidence\t" + fixed(topConfidence) + "\n";
      if (!rejection.empty()) out += "\trejected\t" + rejection.substr(rejection.find(": ") + 2) + "\n";
      out += "\tphoneLoopScore\t" + std::to_string(utt.phoneLoopScore) + "\n\tframes\t" +
             std::to_string(utt.frameCount()) + "\n";
      emit(out);
    }
    return count > 0 || !rejection.empty() ? 1 : 0;
  };

#ifdef VLM_RECOGNIZE_LIVE
  if (mic) {
    // The live channel as the applications use it: the speaker's channel state, the endpointer
    // cutting utterances out of what the microphone hears; each is recognised as it arrives.
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    LiveWavChannel channel;
    channel.open(nullptr);
    user.setChanCepMnDel(&channel);
    channel.bottomTracker().reInit(61, 57);
    {
      ShowLog show("microphone");
      if (!channel.listen(1, nullptr)) {
        std::fprintf(stderr, "recognize: the microphone does not start (check the input device, or set VELMORA_MIC to a wave file)\n");
        channel.close();
        return 1;
      }
    }
    std::fprintf(stderr, "recognize: listening (Ctrl-C stops)\n");
    int k = 0;
    while (!stopRequested) {
      const int available = channel.isUttAvailable();
      if (available == 1) {
        Utterance* utt = channel.takeUtt();
        if (utt) {
          hearWhole(utt);
          recogniseAndReport("mic", *utt, ++k, true);
        }
        delete utt;
        continue;
      }
      if (available == -3) break;   // a file microphone has played out
      if (available < -3) {
        std::fprintf(stderr, "recognize: the microphone failed (code %d)\n", available);
        failed = 1;
        break;
      }
      usleep(10000);
    }
    channel.listen(0, nullptr);
    channel.close();
    std::fprintf(stderr, "recognize: stopped after %d utterance(s)\n", k);
    return failed;
  }
#endif

  for (const char* wave : waves) {
    std::string error;
    std::vector<int16_t> samples;
    const bool standardInput = std::strcmp(wave, "-") == 0;
    const std::string problem = standardInput ? "" : fileProblem(wave);
    if (!problem.empty()) {
      error = problem;
    } else if (standardInput) {
      samples = readStandardInput(raw, rawRate, &error);
    } else if (raw) {
      std::string bytes;
      const int fd = openRegularFile(wave);
      if (fd < 0 || !readAll(fd, &bytes, &error)) {
        if (error.empty()) error = std::strerror(errno);
      } else {
        samples = rawSpeech(bytes, rawRate, &error, readerWarning);
      }
      if (fd >= 0) close(fd);
    } else {
      samples = readSpeech(wave, &error);
    }
    if (!error.empty()) {
      std::fprintf(stderr, "recognize: %s: %s\n", wave, error.c_str());
      failed = 1;
      continue;
    }
    WaveData data{samples.data(), static_cast<int32_t>(samples.size())};
    if (session) {
      // The session channel keeps its normaliser and levels from file to file.
      Utterance* heard = nullptr;
      if (!samples.empty() && sessionChannel.open(&data) && sessionChannel.listen(1, nullptr) &&
          sessionChannel.isUttAvailable() == 1)
        heard = sessionChannel.takeUtt();
      if (heard) {
        // Searched once it is complete, shifted by its own normaliser (docs/audio-frontend.md).
        hearWhole(heard);
      }
      Utterance silent(nullptr);
      if (!recogniseAndReport(wave, heard ? *heard : silent, 0, heard != nullptr)) failed = 1;
      delete heard;
      sessionChannel.close();
      continue;
    }
    // Every frame of the file, from the channel state stored with the speaker's models; a file
    // longer than one utterance is cut at its pauses.
    if (!hearRecording(&user, samples, [&](Utterance& utt, int k, bool heard) {
          return recogniseAndReport(wave, utt, k, heard);
        }))
      failed = 1;
  }
  if (failed && speechLogWrittenByThisProcess()) std::fprintf(stderr, "recognize: speech log: %s\n", speechLogPath());
  return failed;
}
