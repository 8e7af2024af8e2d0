// The recognize console tool with spoken commands (espeak-ng, data/newuser.usr, data/base.voc):
// live recognition from the file microphone, standard input and raw samples, n-best lists and
// word timings, usage errors; and the word frames of a result against a forced alignment.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "audio/wavefile.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/alignchain.h"
#include "models/user.h"
#include "platform/audio/audiodevice.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "search/wordtimes.h"
#include "tests/search/search_test_util.h"
#include "testpaths.h"

namespace searchtest {
namespace {

const char* const kCommands[3] = {"call home", "send mail", "radio off"};

struct ToolRun {
  int status;
  std::string out, err;
};

// Runs the shell command line (the tool's path put in front) with its output in files.
ToolRun runTool(const std::string& args, const std::string& environment = "") {
  const std::string outPath = scratch("console.out"), errPath = scratch("console.err");
  const std::string command =
      environment + " " + vlmtest::binDir() + "/recognize " + args + " >" + outPath + " 2>" + errPath;
  const int rc = std::system(command.c_str());
  return ToolRun{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readText(outPath), readText(errPath)};
}

class RecognizeConsoleTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    if (std::system("command -v espeak-ng >/dev/null 2>&1") != 0) GTEST_SKIP() << "espeak-ng is not installed";
    rul = scratch("commands.rul");
    std::ofstream(rul) << "RULE place { home work } ;\nRULE calling ( call &place ) ;\n"
                          "RULE mailing ( send mail ) ;\nRULE radio ( radio { on off } ) ;\n";
    for (int i = 0; i < 3; i++) {
      waves[i] = scratch("command" + std::to_string(i) + ".wav");
      ASSERT_EQ(0, std::system(("espeak-ng -v en-us -w " + waves[i] + " '" + kCommands[i] + "'").c_str()));
    }
    base = "--usr " + vlmtest::sourceDir() + "/data/newuser.usr --voc " + vlmtest::sourceDir() +
           "/data/base.voc --rul " + rul + " ";
  }
  std::string micOf() const { return "VELMORA_MIC=" + waves[0] + "," + waves[1] + "," + waves[2]; }
  std::string rul, waves[3], base;
};

// The first line of each result: "<name>\t<words>".
std::vector<std::string> resultLines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '\t') lines.push_back(line);
  return lines;
}

TEST_F(RecognizeConsoleTest, MicrophoneGivesOneResultPerUtteranceAndStopsAtTheEndOfInput) {
  const ToolRun r = runTool(base + "--mic", micOf() + " VELMORA_MIC_FAST=1");
  EXPECT_EQ(0, r.status) << r.err;
  const std::vector<std::string> lines = resultLines(r.out);
  ASSERT_EQ(3u, lines.size()) << r.out << r.err;
  for (int i = 0; i < 3; i++) EXPECT_EQ("mic#" + std::to_string(i + 1) + "\t" + kCommands[i], lines[size_t(i)]);
  EXPECT_NE(std::string::npos, r.err.find("stopped after 3 utterance(s)")) << r.err;
  // a microphone that cannot start is a failure that says what to check
  const ToolRun broken = runTool(base + "--mic", "VELMORA_MIC=" + scratch("nothere.wav"));
  EXPECT_EQ(1, broken.status);
  EXPECT_TRUE(broken.out.empty()) << broken.out;
  EXPECT_NE(std::string::npos, broken.err.find("recognize: the microphone does not start")) << broken.err;
}

// In real time, the first result is on standard output while the rest of the input is still to
// be heard; SIGINT then stops the program cleanly before the last command.
TEST_F(RecognizeConsoleTest, MicrophoneResultsArriveAsUtterancesEndAndSigintStops) {
  int pipeOut[2];
  ASSERT_EQ(0, pipe(pipeOut));
  const std::string errPath = scratch("live.err");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(pipeOut[1], 1);
    close(pipeOut[0]);
    close(pipeOut[1]);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, 2);
    setenv("VELMORA_MIC", (waves[0] + "," + waves[1] + "," + waves[2]).c_str(), 1);
    unsetenv("VELMORA_MIC_FAST");
    const std::string tool = vlmtest::binDir() + "/recognize";
    execl("/bin/sh", "sh", "-c", ("exec " + tool + " " + base + "--mic").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeOut[1]);
  FILE* out = fdopen(pipeOut[0], "r");
  char line[4096];
  std::string first;
  while (first.empty() && std::fgets(line, sizeof line, out))
    if (line[0] != '\t') first = line;
  EXPECT_EQ(std::string("mic#1\t") + kCommands[0] + "\n", first);
  int status = 0;
  EXPECT_EQ(0, waitpid(child, &status, WNOHANG)) << "the program ended with the first result";
  kill(child, SIGINT);
  std::string rest;
  while (std::fgets(line, sizeof line, out)) rest += line;
  std::fclose(out);
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
  EXPECT_EQ(0, WEXITSTATUS(status)) << readText(errPath);
  EXPECT_LT(resultLines(rest).size(), 2u) << rest;
  EXPECT_NE(std::string::npos, readText(errPath).find("recognize: stopped after")) << readText(errPath);
}

// Standard input and raw samples reach the same words as the file.
TEST_F(RecognizeConsoleTest, StandardInputAndRawSamples) {
  LoadedWave wave;
  char reason[256] = {0};
  ASSERT_EQ(1, loadWaveFile(waves[0].c_str(), &wave, reason, sizeof reason)) << reason;
  const std::string raw = scratch("command.raw");
  {
    std::ofstream o(raw, std::ios::binary);
    for (uint32_t i = 0; i < wave.count; i++) {
      const int v = static_cast<int>(std::lround(wave.samples[i] * 32767.0f));
      const char bytes[2] = {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff)};
      o.write(bytes, 2);
    }
  }
  const std::string rate = std::to_string(wave.rate);
  struct Case {
    std::string args, name;
  } cases[] = {
      {"- <" + waves[0], "-"},
      {"--raw --rate " + rate + " - <" + raw, "-"},
      {"--raw --rate " + rate + " " + raw, raw},
  };
  for (const Case& c : cases) {
    const ToolRun r = runTool(base + c.args);
    EXPECT_EQ(0, r.status) << c.args << "\n" << r.err;
    EXPECT_EQ(0u, r.out.find(c.name + "\t" + kCommands[0] + "\n")) << c.args << "\n" << r.out;
  }
  // an empty standard input is a failure that says so
  const ToolRun empty = runTool(base + "- </dev/null");
  EXPECT_EQ(1, empty.status);
  EXPECT_NE(std::string::npos, empty.err.find("-: standard input is empty")) << empty.err;
}

TEST_F(RecognizeConsoleTest, NBestAndWordTimes) {
  // "radio off" has "radio on" as its second hypothesis
  ToolRun r = runTool(base + "--time " + waves[2]);
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("\t2\t")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\ttime\tradio\t")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\ttime\toff\t")) << r.out;
  r = runTool(base + "--nbest 1 " + waves[2]);
  EXPECT_EQ(std::string::npos, r.out.find("\t2\t")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("\ttime\t")) << r.out;
  r = runTool(base + "--json --time --nbest 1 " + waves[2]);
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("\"times\":[{\"word\":\"radio\",\"startFrame\":")) << r.out;
  EXPECT_EQ(1, std::count(r.out.begin(), r.out.end(), '\n'));
  EXPECT_EQ(std::string::npos, r.out.find("radio on")) << r.out;
}

// An espeak-ng recording as the live endpointer cuts an utterance: 11025 Hz, peaks at -6 dBFS,
// 0.3 s of quiet either side (the recordings the confidence was calibrated on are made so).
std::string endpointedRecording(const std::string& text, const std::string& name) {
  const std::string raw = scratch(name + ".raw.wav"), path = scratch(name + ".wav");
  if (std::system(("espeak-ng -v en-us -w " + raw + " '" + text + "'").c_str()) != 0) return "";
  LoadedWave wave;
  char reason[256] = {0};
  std::vector<int16_t> speech;
  if (!loadWaveFile(raw.c_str(), &wave, reason, sizeof reason) ||
      !toSpeechSamples(wave.samples, wave.count, wave.rate, &speech))
    return "";
  int peak = 1;
  for (int16_t v : speech) peak = std::max(peak, std::abs(static_cast<int>(v)));
  // a microphone's faint noise throughout: digital silence is nothing a microphone records
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 15.0);
  std::vector<int16_t> out;
  for (int i = 0; i < 3308; i++) out.push_back(static_cast<int16_t>(std::lround(noise(rng))));
  for (int16_t v : speech) out.push_back(static_cast<int16_t>(v * 16423L / peak + std::lround(noise(rng))));
  for (int i = 0; i < 3308; i++) out.push_back(static_cast<int16_t>(std::lround(noise(rng))));
  return writeRiffFile(path.c_str(), out.data(), static_cast<uint32_t>(out.size()), kRiffSpeechFormat) ? path : "";
}

// Each result has a confidence; --reject drops an utterance whose best hypothesis is below it:
// the grammar forced onto a sentence that is no command scores low, a command high.
TEST_F(RecognizeConsoleTest, ConfidenceAndRejection) {
  const std::string command = endpointedRecording("send mail", "confident");
  const std::string other = endpointedRecording("my shoes are soaking wet", "doubtful");
  ASSERT_FALSE(command.empty());
  ASSERT_FALSE(other.empty());
  auto confidenceIn = [](const std::string& line) {
    const size_t at = line.find("\"confidence\":");
    return at == std::string::npos ? -1.0 : std::atof(line.c_str() + at + 13);
  };
  ToolRun r = runTool(base + "--json " + command + " " + other);
  ASSERT_EQ(0, r.status) << r.err;
  const std::string first = r.out.substr(0, r.out.find('\n')), second = r.out.substr(r.out.find('\n') + 1);
  ASSERT_NE(std::string::npos, first.find("\"words\":\"send mail\"")) << first;
  const double high = confidenceIn(first), low = confidenceIn(second);
  EXPECT_GT(high, 0.5) << first;
  EXPECT_LT(low, 0.5) << second;
  EXPECT_GE(low, 0.0);
  // every hypothesis carries its own
  EXPECT_NE(std::string::npos, first.find("\"score\":" ) );
  EXPECT_NE(std::string::npos, first.find(",\"confidence\":", first.find("\"nbest\"")));

  r = runTool(base + "--json --reject 0.5 " + command + " " + other);
  EXPECT_EQ(0, r.status) << r.err;   // a rejection is an answer, not a failure
  const std::string kept = r.out.substr(0, r.out.find('\n')), dropped = r.out.substr(r.out.find('\n') + 1);
  EXPECT_NE(std::string::npos, kept.find("\"words\":\"send mail\"")) << kept;
  EXPECT_EQ(std::string::npos, kept.find("\"rejected\"")) << kept;
  EXPECT_NE(std::string::npos, dropped.find("\"nbest\":[]")) << dropped;
  EXPECT_NE(std::string::npos, dropped.find("\"rejected\":\"rejected: confidence ")) << dropped;
  EXPECT_NE(std::string::npos, r.err.find(other + ": rejected: confidence ")) << r.err;

  // text output: a confidence line, and the rejection
  r = runTool(base + "--reject 0.5 " + other);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(0u, r.out.find(other + "\t\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\tconfidence\t0.")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\trejected\tconfidence ")) << r.out;

  // --oov adds the out-of-vocabulary rule beside the grammar; the command still wins
  r = runTool(base + "--json --oov " + command);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("\"words\":\"send mail\"")) << r.out;

  // --no-phone-loop: the same best words from the grammar search alone, no free-phone score, the
  // confidence from the ratio, and no warning about the missing loop
  r = runTool(base + "--json --no-phone-loop " + command);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("\"words\":\"send mail\"")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\"phoneScore\":null")) << r.out;
  const double ratioOnly = confidenceIn(r.out);
  EXPECT_GT(ratioOnly, 0.0) << r.out;
  EXPECT_LE(ratioOnly, 1.0) << r.out;
  EXPECT_EQ(std::string::npos, r.err.find("warning")) << r.err;
}

TEST_F(RecognizeConsoleTest, UsageErrorsExitWithTwo) {
  const struct {
    std::string args, message;
  } cases[] = {
      {"--nbest 0 " + waves[0], "--nbest needs a whole number from 1 to 15, not 0"},
      {"--nbest 16 " + waves[0], "--nbest needs a whole number from 1 to 15, not 16"},
      {"--nbest two " + waves[0], "--nbest needs a whole number from 1 to 15, not two"},
      {"--raw --rate 100 " + waves[0], "--rate needs a whole number from 4000 to 384000, not 100"},
      {"--rate 16000 " + waves[0], "--rate is for --raw input"},
      {"--mic " + waves[0], "--mic takes no wave files"},
      {"--mic --session", "--mic hears the live channel"},
      {"- -", "standard input (-) can be read only once"},
      {"--nbest", "--nbest needs a value"},
      {"--reject 2 " + waves[0], "--reject needs a confidence from 0 to 1, not 2"},
      {"--reject high " + waves[0], "--reject needs a confidence from 0 to 1, not high"},
  };
  for (const auto& c : cases) {
    const ToolRun r = runTool(base + c.args);
    EXPECT_EQ(2, r.status) << c.args;
    EXPECT_NE(std::string::npos, r.err.find("recognize: " + c.message)) << c.args << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find("usage: recognize")) << c.args;
    EXPECT_TRUE(r.out.empty()) << c.args;
  }
}

// The word frames of the best result against a Viterbi forced alignment of the same words: each
// word begins within two frames of where the alignment puts it, and its sound (speechEnds) ends
// within two frames of where the alignment leaves the word; the last word's end no longer
// includes the trailing silence that the back-trace's span keeps.
TEST_F(RecognizeConsoleTest, WordFramesMatchAForcedAlignment) {
  User speaker;
  ASSERT_EQ(1, speaker.readFile((vlmtest::sourceDir() + "/data/newuser.usr").c_str()));
  User::usr = &speaker;
  if (speaker.vtln != WavChannel::melFilterBankSecondEFormantBin()) WavChannel::melFilterBankWithVTLN(speaker.vtln);
  WordDictionary dict(4096);
  ASSERT_EQ(1, dict.readFile((vlmtest::sourceDir() + "/data/base.voc").c_str()));
  RuleDictionary grammar(64);
  ASSERT_EQ(1, grammar.readFile(rul.c_str(), &dict));
  int active[3] = {grammar.getRuleData("calling")->index, grammar.getRuleData("mailing")->index,
                   grammar.getRuleData("radio")->index};
  for (int c = 0; c < 3; c++) {
    SCOPED_TRACE(kCommands[c]);
    LoadedWave wave;
    char reason[256] = {0};
    ASSERT_EQ(1, loadWaveFile(waves[c].c_str(), &wave, reason, sizeof reason)) << reason;
    std::vector<int16_t> samples;
    ASSERT_EQ(1, toSpeechSamples(wave.samples, wave.count, wave.rate, &samples));
    StaticWavChannel channel;
    WaveData data{samples.data(), static_cast<int32_t>(samples.size())};
    ASSERT_EQ(1, channel.open(&data));
    speaker.setChanCepMnDel(&channel);
    Utterance utt(nullptr);
    Frame frame;
    while (channel.nextFrame(&frame) >= 0) utt.frames.add(frame);
    utt.flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    Recognizer recognizer(&speaker, &dict, &grammar);
    ASSERT_GT(recognizer.recognize(&utt, active, 3), 0);
    char text[256];
    toAscii(*utt.result->at(0), &dict, text, sizeof text);
    ASSERT_STREQ(kCommands[c], text);
    const WordFrames& spans = utt.result->framesAt(0);
    ASSERT_EQ(2, spans.words());

    AlignChain chain;
    ASSERT_EQ(1, chain.build(*utt.result->at(0), dict));
    const int n = utt.frameCount();
    std::vector<short> pels(static_cast<size_t>(n));
    std::vector<int> nodes(static_cast<size_t>(n));
    ASSERT_GE(chain.viterbi(&utt.frames[0], n, &speaker, pels.data(), nodes.data()), 0);
    // a word's nodes begin after a silence node (the leading one, or the pause branch before it)
    std::vector<int> firstNode;
    for (int i = 1; i + 1 < chain.nodeCount(); i++)
      if (chain.node(i - 1).pel == 0 && chain.node(i).pel != 0) firstNode.push_back(i);
    ASSERT_EQ(2u, firstNode.size());
    const int trailing = chain.nodeCount() - 1;
    auto firstFrameAtOrPast = [&](int node) {
      for (int t = 0; t < n; t++)
        if (nodes[size_t(t)] >= node) return t;
      return n;
    };
    // a word's sound ends where the path reaches the node after it: the pause between the words
    // (or, past it, the next word) and the trailing silence
    std::vector<int> afterWord{firstNode[1] - 1, trailing};
    int ends[2] = {0, 0};
    ASSERT_EQ(2, speechEnds(*utt.result->at(0), spans, &utt.frames[0], n, dict, &speaker, ends));
    for (int k = 0; k < 2; k++) {
      EXPECT_LE(std::abs(spans.start(k) - firstFrameAtOrPast(firstNode[size_t(k)])), 2) << "word " << k;
      EXPECT_LE(std::abs(ends[k] - firstFrameAtOrPast(afterWord[size_t(k)])), 2) << "word " << k;
      EXPECT_GT(ends[k], spans.start(k));
      EXPECT_LE(ends[k], spans.end(k));
    }
    // the back-trace's last span runs to the end; the trailing silence is several frames long
    EXPECT_EQ(n, spans.end(1));
    EXPECT_LT(ends[1], n - 5);
  }
}

TEST(ResultListFrames, MergingPronunciationVariantsKeepsTheBestResultsFrames) {
  WordDictionary dict(100);
  const int read1 = dict.addWordIfNew("read", "rid");
  const int read2 = dict.addWordIfNew("read", "rEd");
  const int sun = dict.addWordIfNew("sun", "s@n");
  RecogResult list(&dict);
  const struct {
    int word, score, bounds[3];
  } cases[] = {{read1, 9, {1, 10, 30}}, {sun, 6, {2, 20, 30}}, {read2, 4, {3, 12, 30}}};
  for (const auto& c : cases) {
    FSGNodeTypeItemAC items;
    items.add(eRuleNode, 5);
    items.add(eWordNode, c.word);
    items.add(eWordNode, sun);
    items.add(eTerminalNode, 5);
    items.score = c.score;
    WordFrames frames;
    for (int b : c.bounds) frames.add(b);
    ASSERT_NE(nullptr, list.addResult(&items, &frames));
  }
  list.noAltProns();
  ASSERT_EQ(2, list.count());
  EXPECT_EQ(4, list.at(0)->score);   // "read sun" once, with its better variant's frames
  EXPECT_EQ(3, list.framesAt(0).start(0));
  EXPECT_EQ(12, list.framesAt(0).end(0));
  EXPECT_EQ(6, list.at(1)->score);
  EXPECT_EQ(2, list.framesAt(1).start(0));
  // a result added without frames has none
  FSGNodeTypeItemAC bare;
  bare.add(eWordNode, read1);
  bare.add(eTerminalNode, 0);
  ASSERT_NE(nullptr, list.addResult(&bare));
  EXPECT_EQ(0, list.framesAt(2).words());
}

}  // namespace
}  // namespace searchtest

namespace searchtest {
namespace {

// Every console program: --help (usage, options, an example) and --version on standard output
// with status 0, a usage error with status 2 and its reason, a failure with status 1.
TEST(ConsolePrograms, HelpVersionUsageErrorsAndFailures) {
  const std::string missing = scratch("nothere");
  const struct {
    const char* program;
    std::string failing;   // arguments that are well formed but name a file that is not there
  } cases[] = {
      {"recognize", "--usr " + missing + ".usr --voc " + missing + ".voc --rul " + missing + ".rul x.wav"},
      {"adapt", "--usr " + missing + ".usr --voc " + missing + ".voc --prompts " + missing + ".lst --out o.usr"},
      {"features", missing + ".wav"},
      {"speak", "--pron kol -o " + missing + "/x.wav"},
      {"jsgf2rul", missing + ".gram --voc " + missing + ".voc"},
      {"pronmerge", missing + ".lst"},
      {"train", "--corpus " + missing + " --no-write"},
      {"ltstrain", missing + ".voc " + scratch("lts.bin")},
      {"record-prompts", "--prompts " + missing + ".txt --out " + scratch("takes")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    const std::string tool = vlmtest::binDir() + "/" + c.program;
    auto run = [&](const std::string& args, std::string* out, std::string* err) {
      const int rc = std::system((tool + " " + args + " >" + scratch("p.out") + " 2>" + scratch("p.err")).c_str());
      *out = readText(scratch("p.out"));
      *err = readText(scratch("p.err"));
      return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
    std::string out, err;
    EXPECT_EQ(0, run("--help", &out, &err));
    EXPECT_EQ(0u, out.find(std::string("usage: ") + c.program)) << out;
    EXPECT_NE(std::string::npos, out.find("\nExample: ")) << out;
    EXPECT_NE(std::string::npos, out.find("--version")) << out;
    EXPECT_EQ(0, run("--version", &out, &err));
    EXPECT_EQ(std::string(c.program) + " (Velmora) ", out.substr(0, out.find(')') + 2)) << out;
    EXPECT_EQ(2, run("--no-such-option", &out, &err));
    EXPECT_NE(std::string::npos, (out + err).find("--no-such-option")) << out << err;
    EXPECT_EQ(1, run(c.failing, &out, &err)) << out << err;
  }
  // a help that cannot be written is a failure
  EXPECT_NE(0, std::system((vlmtest::binDir() + "/speak --help >/dev/full 2>/dev/null").c_str()));
}

// The data-making scripts of tools/ that take file arguments: --help describes them without
// doing any work, an unknown option is a usage error (they used to take "--help" as a file name).
TEST(ConsolePrograms, DataScriptsAnswerHelpAndRefuseUnknownOptions) {
  if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  for (const char* script : {"tools/adapt/make_enrol.py", "tools/basevoc/make_basevoc.py",
                             "tools/cmudict2voc/cmudict2voc.py"}) {
    SCOPED_TRACE(script);
    const std::string run = "python3 " + vlmtest::sourceDir() + "/" + script;
    int rc = std::system((run + " --help >" + scratch("s.out") + " 2>" + scratch("s.err")).c_str());
    EXPECT_EQ(0, WIFEXITED(rc) ? WEXITSTATUS(rc) : -1) << readText(scratch("s.err"));
    EXPECT_EQ(0u, readText(scratch("s.out")).find("usage: ")) << readText(scratch("s.out"));
    rc = std::system((run + " --no-such-option >" + scratch("s.out") + " 2>" + scratch("s.err")).c_str());
    EXPECT_EQ(2, WIFEXITED(rc) ? WEXITSTATUS(rc) : -1);
    EXPECT_EQ(0u, readText(scratch("s.err")).find("usage: ")) << readText(scratch("s.err"));
  }
}

}  // namespace
}  // namespace searchtest

namespace searchtest {
namespace {

// pronmerge says where it looked for the reference dictionary, and where it found it.
TEST(ConsolePrograms, PronmergeNamesWhereTheReferenceDictionaryWasLookedFor) {
  char here[4096];
  ASSERT_NE(nullptr, getcwd(here, sizeof here));
  const std::string folder = std::string(here) + "/" + scratch("pronmerge");
  ASSERT_EQ(0, std::system(("mkdir -p " + folder).c_str()));
  std::ofstream(folder + "/names.lst") << "call home\n";
  const struct {
    bool withDictionary;
    std::string message;
  } cases[] = {
      {false, "pronmerge: warning: no reference dictionary: fulldict.voc is not in " + folder + " ("},
      {true, "pronmerge: reference dictionary: " + folder + "/fulldict.voc\n"},
  };
  for (const auto& c : cases) {
    if (c.withDictionary) std::ofstream(folder + "/fulldict.voc") << "call\tkol\t0\nhome\thOm\t0\n";
    const int rc = std::system(("cd " + folder + " && " + vlmtest::binDir() + "/pronmerge names.lst >out.txt 2>err.txt").c_str());
    EXPECT_EQ(0, WIFEXITED(rc) ? WEXITSTATUS(rc) : -1);
    EXPECT_NE(std::string::npos, readText(folder + "/err.txt").find(c.message)) << readText(folder + "/err.txt");
  }
}

}  // namespace
}  // namespace searchtest
