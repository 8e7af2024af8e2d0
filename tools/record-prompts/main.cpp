// record-prompts: records a speaker's repetitions of the enrollment prompts from the microphone,
// for `adapt --enrol`.
//
//   record-prompts [--prompts FILE] --out DIR [--redo N|NAME]... [--all] [--list] [--no-play]
//
// Reads the prompt file (default data/enrol.txt; format and the names of the repetitions in
// tools/enrolprompts.h). For each prompt to record it shows the prompt's number and text, plays
// the prompt's own recording (found beside the prompt file) unless --no-play, then listens: the
// live channel's endpointer cuts the user's repetition out of what the microphone hears (or the
// files of VELMORA_MIC), and it is written to DIR as an 11025 Hz 16-bit RIFF file (written whole
// under a temporary name and renamed, so an interrupted run never leaves half a file). After each
// take a line is read from standard input: empty (or the end of the input) goes on, "r" says the
// prompt again, "p" plays the take back, "q" stops (what is recorded is kept).
//
// Without --redo or --all, only the prompts whose repetition is not yet in DIR are recorded, so a
// stopped session goes on where it stopped. --redo records the prompts given by number (as
// --list shows them) or by repetition name again; --all records every prompt again.
// Exit status: 0 when every prompt asked for was recorded, 1 when the prompt file cannot be read,
// DIR cannot be made or written, or the microphone fails or ends before the last prompt, 2 for a
// usage error.
#define VLM_UNIT "recordprompts"
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "audio/wavefile.h"
#include "foundation/log.h"
#include "tools/cli.h"
#include "tools/enrolprompts.h"

using namespace vlm;

namespace {

constexpr const char* kUsage =
    "usage: record-prompts [--prompts FILE] --out DIR [--redo N|NAME]... [--all] [--list] [--no-play]\n";
constexpr const char* kHelp =
    "Records your repetition of every enrollment prompt from the microphone into DIR, for\n"
    "adapt --enrol FILE --recordings DIR. Each prompt is shown (and its recording played);\n"
    "say it after the sound, then press Enter for the next one, r to say it again, p to hear\n"
    "your take, q to stop. A second run records only the prompts still missing.\n"
    "  --prompts FILE    the prompt file (default data/enrol.txt)\n"
    "  --out DIR         where the repetitions are written (made when missing)\n"
    "  --redo N|NAME     record prompt N (as --list numbers them) or the take NAME again;\n"
    "                    repeat for more\n"
    "  --all             record every prompt again\n"
    "  --list            list the prompts, their takes and which are recorded; record nothing\n"
    "  --no-play         do not play the prompts' recordings\n"
    "  --help, --version\n"
    "The microphone is the default input device, or the wave files named in VELMORA_MIC.\n"
    "Exit status: 0 every prompt asked for recorded, 1 a failure, 2 a usage error.\n"
    "Example: record-prompts --prompts data/enrol.txt --out me/ && adapt --usr data/newuser.usr\n"
    "         --voc data/enrol.voc --enrol data/enrol.txt --recordings me/ --out me.usr\n";

void usage() {
  std::fputs(kUsage, stderr);
  std::fprintf(stderr, "(record-prompts --help lists the options)\n");
}

// Standard output, checked and flushed (the prompts must show before the microphone opens).
void say(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "record-prompts: cannot write standard output: %s\n", std::strerror(errno ? errno : EIO));
    std::exit(1);
  }
}

bool isFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Makes the folder (and its parents). Empty on success, else the reason.
std::string makeFolder(const std::string& dir) {
  std::string path;
  for (size_t i = 0; i <= dir.size(); i++) {
    if (i < dir.size() && dir[i] != '/') continue;
    path = dir.substr(0, i);
    if (path.empty()) continue;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return path + " is not a folder";
      continue;
    }
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return "cannot make " + path + ": " + std::strerror(errno);
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "record-prompts", (std::string(kUsage) + kHelp).c_str());
  std::string promptPath = "data/enrol.txt";
  std::string outDir;
  std::vector<std::string> redo;
  bool all = false, list = false, play = true;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "record-prompts: %s needs a value\n", a.c_str());
        usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--prompts") promptPath = value();
    else if (a == "--out") outDir = value();
    else if (a == "--redo") redo.push_back(value());
    else if (a == "--all") all = true;
    else if (a == "--list") list = true;
    else if (a == "--no-play") play = false;
    else {
      std::fprintf(stderr, "record-prompts: unknown %s %s\n", a[0] == '-' ? "option" : "argument", a.c_str());
      usage();
      return 2;
    }
  }
  if (outDir.empty()) {
    std::fprintf(stderr, "record-prompts: --out names the folder for the recordings\n");
    usage();
    return 2;
  }
  if (all && !redo.empty()) {
    std::fprintf(stderr, "record-prompts: --all and --redo do not go together\n");
    usage();
    return 2;
  }

  std::vector<vlmcli::EnrolPrompt> prompts;
  std::vector<std::string> problems;
  std::string error;
  if (!vlmcli::readEnrolPrompts(promptPath.c_str(), &prompts, &error, &problems)) {
    std::fprintf(stderr, "record-prompts: cannot read prompt file %s: %s (give it with --prompts)\n",
                 promptPath.c_str(), error.c_str());
    return 1;
  }
  for (const std::string& p : problems) std::fprintf(stderr, "record-prompts: %s:%s\n", promptPath.c_str(), p.c_str());
  if (prompts.empty()) {
    std::fprintf(stderr, "record-prompts: no prompts in %s\n", promptPath.c_str());
    return 1;
  }
  const std::string promptDir =
      promptPath.find('/') == std::string::npos ? "" : promptPath.substr(0, promptPath.rfind('/') + 1);
  const std::string outPrefix = outDir + (outDir.back() == '/' ? "" : "/");
  auto takePath = [&](const vlmcli::EnrolPrompt& p) { return outPrefix + p.take; };
  const int total = static_cast<int>(prompts.size());

  // Which prompts to record.
  std::vector<int> todo;
  if (!redo.empty()) {
    std::set<int> chosen;
    for (const std::string& r : redo) {
      char* end = nullptr;
      const long n = std::strtol(r.c_str(), &end, 10);
      int found = -1;
      if (!r.empty() && *end == 0) {
        if (n >= 1 && n <= total) found = static_cast<int>(n) - 1;
      } else {
        for (int k = 0; k < total; k++)
          if (prompts[size_t(k)].take == r) found = k;
      }
      if (found < 0) {
        std::fprintf(stderr, "record-prompts: --redo %s: no such prompt (numbers 1 to %d, or a take name; "
                     "--list shows them)\n", r.c_str(), total);
        return 2;
      }
      chosen.insert(found);
    }
    todo.assign(chosen.begin(), chosen.end());
  } else {
    for (int k = 0; k < total; k++)
      if (all || !isFile(takePath(prompts[size_t(k)]))) todo.push_back(k);
  }

  if (list) {
    std::string text;
    for (int k = 0; k < total; k++) {
      const auto& p = prompts[size_t(k)];
      text += std::to_string(k + 1) + "\t" + p.take + "\t" + (isFile(takePath(p)) ? "recorded" : "missing") + "\t" +
              (p.calibration ? "calibration\t" : "\t") + p.text + "\n";
    }
    say(text);
    return 0;
  }
  if (todo.empty()) {
    say("Every prompt of " + promptPath + " is recorded in " + outDir +
        " (--redo N records one again, --all all of them).\n");
    return 0;
  }
  const std::string problem = makeFolder(outDir);
  if (!problem.empty()) {
    std::fprintf(stderr, "record-prompts: %s\n", problem.c_str());
    return 1;
  }

  LiveWavChannel channel;
  channel.open(nullptr);
  channel.keepWavData(1);
  const auto started = std::chrono::steady_clock::now();
  say("Recording " + std::to_string(todo.size()) + " of " + std::to_string(total) + " prompts into " + outDir +
      ". Say each prompt after you hear it; Enter goes on, r says it again, p plays your take, q stops.\n");
  int recorded = 0;
  bool stop = false, failed = false;
  for (size_t t = 0; t < todo.size() && !stop;) {
    const vlmcli::EnrolPrompt& p = prompts[size_t(todo[t])];
    say("[" + std::to_string(todo[t] + 1) + "/" + std::to_string(total) + "] " +
        (p.calibration ? "(calibration) " : "") + "Say: " + p.text + "\n");
    if (play && !p.recording.empty()) {
      const std::string own = p.recording[0] == '/' ? p.recording : promptDir + p.recording;
      if (isFile(own)) channel.beep(own.c_str(), 0);   // played to the end before listening
    }
    Utterance* utt = nullptr;
    if (!channel.listen(1, nullptr)) {
      std::fprintf(stderr, "record-prompts: the microphone does not start (check the input device, or set "
                   "VELMORA_MIC to wave files)\n");
      failed = true;
      break;
    }
    for (;;) {
      const int available = channel.isUttAvailable();
      if (available == 1) {
        utt = channel.takeUtt();
        if (utt) utt->complete(0);
        break;
      }
      if (available == -1 || available == 0) {
        usleep(10000);
        continue;
      }
      std::fprintf(stderr, "record-prompts: %s\n",
                   available == -3 ? "the microphone input ended" : "the microphone failed");
      failed = true;
      break;
    }
    channel.listen(0, nullptr);
    if (utt == nullptr) break;
    const std::string path = takePath(p);
    const bool written = utt->samples && utt->sampleCount > 0 &&
                         writeRiffFile(path.c_str(), utt->samples, static_cast<uint32_t>(utt->sampleCount), 1);
    const double seconds = utt->sampleCount / 11025.0;
    delete utt;
    if (!written) {
      std::fprintf(stderr, "record-prompts: cannot write %s (see %s)\n", path.c_str(), speechLogPath());
      failed = true;
      break;
    }
    char line[160];
    std::snprintf(line, sizeof line, "  recorded %s (%.1f s)\n", path.c_str(), seconds);
    say(line);
    // what next: a line from standard input; its end goes on
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    if (answer == "p") {
      channel.beep(path.c_str(), 0);
      say("  (Enter goes on, r says it again)\n");
      if (!std::getline(std::cin, answer)) answer.clear();
    }
    if (answer == "r") continue;   // the same prompt again; the take is replaced
    recorded++;
    if (answer == "q") stop = true;
    t++;
  }
  channel.close();
  const long elapsed = static_cast<long>(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() + 0.5);
  say("Recorded " + std::to_string(recorded) + " of " + std::to_string(todo.size()) + " prompt(s) in " +
      std::to_string(elapsed / 60) + " min " + std::to_string(elapsed % 60) + " s.\n");
  if (recorded < static_cast<int>(todo.size()))
    say("Run the same command again to record the rest.\n");
  else
    say("Enroll with: adapt --usr data/newuser.usr --voc data/enrol.voc --enrol " + promptPath + " --recordings " +
        outDir + " --out me.usr\n");
  return failed ? 1 : 0;
}
