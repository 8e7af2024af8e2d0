// The recognize console tool, run as a program: a speaker trained on the test's own wave file (each
// pel state of "sun" takes the mean frame of one tone segment), text and JSON output, files of
// another rate and channel count, and the errors.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/channel.h"
#include "audio/wavefile.h"
#include "tests/search/search_test_util.h"
#include "testpaths.h"

namespace searchtest {
namespace {

constexpr double kPi = 3.14159265358979323846;
const double kTones[6] = {300, 700, 1200, 1800, 2500, 3300};

// 0.6 s of near silence, six 0.1 s tones, 0.8 s of near silence, at the given rate.
std::vector<int16_t> signal(int rate) {
  std::vector<int16_t> s(static_cast<size_t>(rate * 2));
  unsigned seed = 99;
  for (size_t i = 0; i < s.size(); i++) {
    const double t = static_cast<double>(i) / rate;
    seed = seed * 1103515245u + 12345u;
    double v = static_cast<double>(static_cast<int>((seed >> 16) % 41) - 20);
    if (t >= 0.6 && t < 1.2) v += 6000 * std::sin(2 * kPi * kTones[static_cast<int>((t - 0.6) / 0.1)] * t);
    s[i] = static_cast<int16_t>(v);
  }
  return s;
}

// A RIFF file of 16-bit PCM with the given rate and channels (every channel the same).
void writeWave(const std::string& path, const std::vector<int16_t>& mono, int rate, int channels) {
  std::vector<int16_t> data;
  for (int16_t v : mono)
    for (int c = 0; c < channels; c++) data.push_back(v);
  const uint32_t bytes = static_cast<uint32_t>(data.size() * 2);
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&out](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&out](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(static_cast<uint16_t>(channels));
  u32(static_cast<uint32_t>(rate));
  u32(static_cast<uint32_t>(rate * channels * 2));
  u16(static_cast<uint16_t>(channels * 2));
  u16(16);
  out.write("data", 4);
  u32(bytes);
  out.write(reinterpret_cast<const char*>(data.data()), bytes);
}

struct ToolRun {
  int status;
  std::string out, err;
};

ToolRun run(const std::string& args) {
  const std::string outPath = scratch("tool.out"), errPath = scratch("tool.err");
  const std::string command = vlmtest::binDir() + "/recognize " + args + " >" + outPath + " 2>" + errPath;
  const int rc = std::system(command.c_str());
  return ToolRun{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readText(outPath), readText(errPath)};
}

class RecognizeToolTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    const std::vector<int16_t> samples = signal(11025);
    wave = scratch("sun.wav");
    ASSERT_EQ(1, writeRiffFile(wave.c_str(), samples.data(), static_cast<uint32_t>(samples.size()), kRiffSpeechFormat));
    wave16k = scratch("sun16k.wav");
    writeWave(wave16k, signal(16000), 16000, 2);

    // the frames the tool will compute (same channel set-up), then templates from them
    StaticWavChannel channel;
    WaveData data{const_cast<int16_t*>(samples.data()), static_cast<int32_t>(samples.size())};
    ASSERT_EQ(1, channel.open(&data));
    user.setChanCepMnDel(&channel);
    std::vector<Frame> frames;
    Frame f;
    while (channel.nextFrame(&f) >= 0) frames.push_back(f);
    frameCount = static_cast<int>(frames.size());
    quietPower = loudPower = frames[0].power;
    for (const Frame& x : frames) {
      quietPower = std::min(quietPower, x.power);
      loudPower = std::max(loudPower, x.power);
    }
    const double frameSeconds = 200.0 / 11025.0;
    auto train = [&](short pel, double from, double to) {
      long sum[kFrameFeatures] = {};
      int n = 0;
      for (int i = 0; i < frameCount; i++) {
        const double t = i * frameSeconds;
        if (t < from || t + frameSeconds > to) continue;
        for (int k = 0; k < kFrameFeatures; k++) sum[k] += frames[i].features[k];
        n++;
      }
      ASSERT_GT(n, 0);
      for (int k = 0; k < kFrameFeatures; k++) user.models[pel][k] = static_cast<int16_t>(sum[k] / n);
    };
    const std::vector<short> pels = chainPels({{"s@n"}});  // silence, six states, silence
    ASSERT_EQ(8u, pels.size());
    train(0, 0.05, 0.55);
    for (int k = 0; k < 6; k++) train(pels[static_cast<size_t>(k + 1)], 0.6 + 0.1 * k + 0.02, 0.6 + 0.1 * (k + 1) - 0.02);
    user.initGenericModels();
    usr = scratch("sun.usr");
    ASSERT_EQ(1, user.writeFile(usr.c_str()));
    voc = scratch("t.voc");
    std::ofstream(voc) << "sun\ts@n\t0\nmoon\tmun\t0\ndog\td0g\t0\n";
    rul = scratch("t.rul");
    std::ofstream(rul) << "RULE top { sun moon } ;\nRULE other ( dog ) ;\nRULE inner { dog } ;\nRULE outer ( &inner ) ;\n";
  }
  std::string wave, wave16k, usr, voc, rul;
  int frameCount = 0;
  int32_t quietPower = 0, loudPower = 0;
};

TEST_F(RecognizeToolTest, TextOutputListsTheBestWordsTheNBestAndTheFrames) {
  const ToolRun r = run("--usr " + usr + " --voc " + voc + " --rul " + rul + " " + wave + " " + wave16k);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(0u, r.out.find(wave + "\tsun\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\t1\t")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\tsun\ttop\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\tframes\t" + std::to_string(frameCount) + "\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\tphoneLoopScore\t")) << r.out;
  // the 16 kHz stereo file is converted on the way in and gives the same words
  EXPECT_NE(std::string::npos, r.out.find(wave16k + "\tsun\n")) << r.out;
}

TEST_F(RecognizeToolTest, JsonOutputHasOneObjectPerFile) {
  const ToolRun r = run("--usr " + usr + " --voc " + voc + " --rul " + rul + " --rule top --json " + wave + " " + wave);
  EXPECT_EQ(0, r.status) << r.err;
  const std::string first = r.out.substr(0, r.out.find('\n'));
  EXPECT_EQ(0u, first.find("{\"file\":\"" + wave + "\",\"frames\":" + std::to_string(frameCount) + ",\"phoneLoopScore\":"))
      << first;
  EXPECT_NE(std::string::npos, first.find(",\"nbest\":[{\"words\":\"sun\",\"score\":")) << first;
  EXPECT_NE(std::string::npos, first.find("\"rules\":[\"top\"]}")) << first;
  ASSERT_FALSE(first.empty());
  EXPECT_EQ('}', first.back());
  EXPECT_EQ(2, std::count(r.out.begin(), r.out.end(), '\n'));
}

TEST_F(RecognizeToolTest, OnlyTheNamedRuleIsActive) {
  const ToolRun r = run("--usr " + usr + " --voc " + voc + " --rul " + rul + " --rule other " + wave);
  EXPECT_EQ(1, r.status) << r.err;  // a file without a result is a failure, and says why
  EXPECT_EQ(0u, r.out.find(wave + "\t\n")) << r.out;  // nothing recognised: empty words
  EXPECT_NE(std::string::npos, r.err.find(wave + ": no result: nothing in the grammar matched")) << r.err;
}

// Every way a file can end without a result (or with a part of one) reaches the user: a reason
// per file on standard error and in the JSON object, and exit status 1 unless every file got a
// result.
TEST_F(RecognizeToolTest, EveryEarlyEndIsReportedPerFile) {
  const std::string base = "--usr " + usr + " --voc " + voc + " --rul " + rul + " --rule top --json ";
  // no speech: an empty file, and a long silent file (split at pauses: no speech found)
  const std::string empty = scratch("empty.wav"), quiet = scratch("quiet.wav");
  writeWave(empty, {}, 11025, 1);
  std::vector<int16_t> hush(11025 * 10);
  ASSERT_EQ(1, writeRiffFile(quiet.c_str(), hush.data(), static_cast<uint32_t>(hush.size()), kRiffSpeechFormat));
  // five commands in one 10-second recording
  std::vector<int16_t> five;
  for (int i = 0; i < 5; i++) {
    const std::vector<int16_t> one = signal(11025);
    five.insert(five.end(), one.begin(), one.end());
  }
  const std::string many = scratch("five.wav");
  ASSERT_EQ(1, writeRiffFile(many.c_str(), five.data(), static_cast<uint32_t>(five.size()), kRiffSpeechFormat));
  // nine commands with pauses of 0.35 s (shorter than the live endpointer's end rule)
  std::vector<int16_t> nine;
  for (int i = 0; i < 9; i++) {
    const std::vector<int16_t> one = signal(11025);
    nine.insert(nine.end(), one.begin() + 11025 * 45 / 100, one.begin() + 11025 * 155 / 100);
  }
  const std::string quick = scratch("nine.wav");
  ASSERT_EQ(1, writeRiffFile(quick.c_str(), nine.data(), static_cast<uint32_t>(nine.size()), kRiffSpeechFormat));

  struct Case {
    std::string args;
    int status;
    std::vector<std::string> err, out;
  } cases[] = {
      {base + wave, 0, {}, {"\"reason\":null"}},
      {base + empty, 1, {empty + ": no result: no speech"}, {"\"reason\":\"no speech\""}},
      {base + quiet, 1, {quiet + ": no result: no speech"}, {"\"reason\":\"no speech\""}},
      {base + "--max-memory 0.001 " + wave, 1, {wave + ": no result: search ran out of memory (limit 0 MB; raise it with --max-memory)"},
       {"\"reason\":\"search ran out of memory"}},
      {base + many, 0, {}, {"\"file\":\"" + many + "\",\"utterance\":1,", "\"utterance\":5,", "\"words\":\"sun\""}},
      {base + "--max-memory x " + wave, 2, {"--max-memory needs a positive number"}, {}},
  };
  for (const Case& c : cases) {
    const ToolRun r = run(c.args);
    EXPECT_EQ(c.status, r.status) << c.args << "\n" << r.err;
    for (const std::string& e : c.err) EXPECT_NE(std::string::npos, r.err.find(e)) << c.args << "\n" << r.err;
    for (const std::string& o : c.out) EXPECT_NE(std::string::npos, r.out.find(o)) << c.args << "\n" << r.out;
  }
  const ToolRun split = run(base + many);
  EXPECT_EQ(5, std::count(split.out.begin(), split.out.end(), '\n')) << split.out;
  EXPECT_EQ(std::string::npos, split.out.find("\"utterance\":6,")) << split.out;
  const ToolRun shortPauses = run(base + quick);
  EXPECT_EQ(0, shortPauses.status) << shortPauses.err;
  EXPECT_EQ(9, std::count(shortPauses.out.begin(), shortPauses.out.end(), '\n')) << shortPauses.out;
  size_t sun = 0;
  for (size_t at = shortPauses.out.find("\"words\":\"sun\""); at != std::string::npos;
       at = shortPauses.out.find("\"words\":\"sun\"", at + 1))
    sun++;
  EXPECT_EQ(9u, sun) << shortPauses.out;
}

TEST_F(RecognizeToolTest, BadInputsSayWhat) {
  const std::string words = " --voc " + voc + " ";
  // a word missing from the dictionaries (alone or in a compound) takes its letter-to-sound
  // pronunciation, with a warning that names it and pronmerge; its rules stay in the grammar
  const std::string unknown = scratch("unknown.rul");
  std::ofstream(unknown) << "RULE top ( sun zebra ) ;\nRULE fine { sun moon_quokka } ;\n";
  ToolRun r = run("--usr " + usr + words + "--rul " + unknown + " --json " + wave);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(unknown + ": warning: \"zebra\" is in no dictionary")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(unknown + ": warning: \"quokka\" is in no dictionary")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("pronmerge")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("No word named")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("do not parse")) << r.err;
  const std::string unknownJsgf = scratch("unknown.jsgf");
  std::ofstream(unknownJsgf) << "#JSGF V1.0;\ngrammar t;\npublic <top> = sun | zebra;\n";
  r = run("--usr " + usr + words + "--jsgf " + unknownJsgf + " " + wave);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(unknownJsgf + ": warning: \"zebra\" is in no dictionary")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("not in the dictionary")) << r.err;
  // a dictionary that cannot be read stops the run
  r = run("--usr " + usr + " --voc " + scratch("nothere.voc") + words + "--rul " + rul + " " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("cannot read dictionary " + scratch("nothere.voc"))) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  // a folder where a file belongs
  r = run("--usr " + usr + words + "--rul " + scratch("") + " " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("cannot read grammar " + scratch("") + ": is a directory, not a file")) << r.err;
  // speaker models that cannot be read, with the reason
  const std::string garbage = scratch("garbage.usr");
  std::ofstream(garbage) << "not models\n";
  r = run("--usr " + garbage + words + "--rul " + rul + " " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("cannot read speaker models " + garbage + ": ")) << r.err;
  EXPECT_GT(r.err.size(), ("recognize: cannot read speaker models " + garbage + ": \n").size()) << r.err;
  r = run("--usr " + scratch("nothere.usr") + words + "--rul " + rul + " " + wave);
  EXPECT_NE(std::string::npos, r.err.find("cannot read speaker models " + scratch("nothere.usr") + ": No such file")) << r.err;
  // results that cannot be written are a failure
  const std::string command = vlmtest::binDir() + "/recognize --usr " + usr + words + "--rul " + rul + " " + wave +
                              " >/dev/full 2>" + scratch("full.err");
  const int rc = std::system(command.c_str());
  EXPECT_EQ(1, WIFEXITED(rc) ? WEXITSTATUS(rc) : -1);
  EXPECT_NE(std::string::npos, readText(scratch("full.err")).find("cannot write the results to standard output: No space left"))
      << readText(scratch("full.err"));
}

// Run from a folder it cannot write (the state directory cannot be made either, so there is no
// place for the speech log), the tool still reports
// every failure and never points at a log that does not exist.
TEST_F(RecognizeToolTest, NoMessagePointsAtALogThatWasNotWritten) {
  const std::string folder = scratch("readonly");
  ASSERT_EQ(0, mkdir(folder.c_str(), 0555));
  const std::string bad = scratch("bad2.rul");
  std::ofstream(bad) << "RULE top ( sun moon ;\n";
  auto absolute = [](const std::string& path) { return std::filesystem::absolute(path).string(); };
  const std::string command = "cd " + folder + " && env -u VELMORA_LOG HOME=" + absolute(folder) +
                              " XDG_STATE_HOME=/proc/velmora-state VELMORA_DIR=" + absolute(folder) + "/none " +
                              vlmtest::binDir() + "/recognize --usr " + absolute(usr) + " --voc " + absolute(voc) +
                              " --rul " + absolute(bad) + " " + absolute(wave) + " 2>" + absolute(scratch("ro.err")) +
                              " >/dev/null";
  const int rc = std::system(command.c_str());
  const std::string err = readText(scratch("ro.err"));
  EXPECT_EQ(1, WIFEXITED(rc) ? WEXITSTATUS(rc) : -1) << err;
  EXPECT_NE(std::string::npos, err.find("do not parse")) << err;
  EXPECT_EQ(std::string::npos, err.find("velmora.log")) << err;
  EXPECT_EQ(std::string::npos, err.find("speech log")) << err;
  chmod(folder.c_str(), 0755);
  EXPECT_FALSE(std::filesystem::exists(folder + "/velmora.log"));
}

TEST_F(RecognizeToolTest, BadInputIsReportedAfterTheOtherFiles) {
  const std::string missing = scratch("missing.wav");
  ToolRun r = run("--usr " + usr + " --voc " + voc + " --rul " + rul + " " + missing + " " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find(missing)) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(wave + "\tsun\n")) << r.out;

  r = run("--usr " + usr + " --voc " + voc + " --rul " + rul + " --rule top --rule nosuch " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("unknown rule nosuch")) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(wave + "\tsun\n")) << r.out;

  const std::string bad = scratch("bad.rul");
  std::ofstream(bad) << "RULE top ( sun moon ;\nRULE fine { sun } ;\n";
  r = run("--usr " + usr + " --voc " + voc + " --rul " + bad + " " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("do not parse")) << r.err;

  r = run("--usr " + scratch("nothere.usr") + " --voc " + voc + " --rul " + rul + " " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("speaker models")) << r.err;

  r = run("--voc " + voc + " " + wave);
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("usage")) << r.err;
}

TEST_F(RecognizeToolTest, OtherFormatsGoThroughLibsndfile) {
  // RIFF and NIST are read by the audio layer; FLAC only by libsndfile, opened on demand.
  if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  const std::string flac = scratch("sun.flac");
  ASSERT_EQ(0, std::system(("sox " + wave + " " + flac).c_str()));
  const std::string text = scratch("notsound.wav");
  std::ofstream(text) << "RULE top ( sun ) ;\n";
  const ToolRun r = run("--usr " + usr + " --voc " + voc + " --rul " + rul + " " + flac + " " + text + " " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find(flac + "\tsun\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\tframes\t" + std::to_string(frameCount) + "\n")) << r.out;
  EXPECT_NE(std::string::npos, r.err.find(text + ": not a RIFF WAVE or NIST file (libsndfile: ")) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(wave + "\tsun\n")) << r.out;
}

// The normaliser array of a --session JSON line.
std::string normaliserOf(const std::string& line) {
  const size_t at = line.find("\"normaliser\":[");
  if (at == std::string::npos) return "";
  return line.substr(at, line.find(']', at) - at);
}

TEST_F(RecognizeToolTest, SessionCarriesTheChannelFromFileToFile) {
  const ToolRun whole = run("--usr " + usr + " --voc " + voc + " --rul " + rul + " --rule top --json " + wave);
  ASSERT_EQ(0, whole.status) << whole.err;
  EXPECT_EQ(std::string::npos, whole.out.find("normaliser"));
  // A speaker whose stored channel levels are those of the file, so that the endpointer finds
  // the tones and not the noise before them.
  User levels;
  ASSERT_EQ(1, levels.readFile(usr.c_str()));
  levels.models[kChannelStoreState][kStoreNoiseFloor] = static_cast<int16_t>(std::min(quietPower, int32_t{32767}));
  levels.models[kChannelStoreState][kStoreSpeechPeak] = static_cast<int16_t>(std::min(loudPower, int32_t{32767}));
  const std::string levelled = scratch("levels.usr");
  ASSERT_EQ(1, levels.writeFile(levelled.c_str()));
  const ToolRun r = run("--usr " + levelled + " --voc " + voc + " --rul " + rul + " --rule top --json --session " +
                        wave + " " + wave);
  ASSERT_EQ(0, r.status) << r.err;
  const std::string first = r.out.substr(0, r.out.find('\n'));
  const std::string second = r.out.substr(first.size() + 1, r.out.find('\n', first.size() + 1) - first.size() - 1);
  for (const std::string& line : {first, second}) {
    EXPECT_NE(std::string::npos, line.find("{\"words\":\"sun\"")) << line;
    // The endpointer cuts the utterance out of the file: fewer frames than the whole file.
    const size_t at = line.find("\"frames\":");
    ASSERT_NE(std::string::npos, at) << line;
    const int frames = std::atoi(line.c_str() + at + 9);
    EXPECT_GT(frames, 10) << line;
    EXPECT_LT(frames, frameCount) << line;
  }
  // Each utterance's end moves the normaliser, and the next file starts from where it was left:
  // the same file heard twice leaves two different normalisers.
  ASSERT_FALSE(normaliserOf(first).empty()) << first;
  EXPECT_NE(normaliserOf(first), normaliserOf(second));
  // Heard on its own again, the file starts from the stored channel state: the first line again.
  const ToolRun again = run("--usr " + levelled + " --voc " + voc + " --rul " + rul + " --rule top --json --session " +
                            wave);
  EXPECT_EQ(normaliserOf(first), normaliserOf(again.out.substr(0, again.out.find('\n'))));
}

TEST(RecognizeToolLinking, NeedsNoSoundCardOrCodecLibraries) {
  // Recognising files must not load the device layer's libraries (PortAudio, ALSA, JACK),
  // libsndfile's codecs, or libsoxr and its OpenMP runtime (opened only when a file's rate must
  // be converted): they would take more memory than the search itself.
  const std::string dynamic = scratch("needed.txt");
  ASSERT_EQ(0, std::system(("readelf -d " + vlmtest::binDir() + "/recognize >" + dynamic).c_str()));
  const std::string needed = readText(dynamic);
  ASSERT_NE(std::string::npos, needed.find("(NEEDED)")) << needed;
  // The sanitizer runtimes are linked with every listed library kept; the shipped build is meant.
  if (needed.find("libasan") != std::string::npos || needed.find("libtsan") != std::string::npos)
    GTEST_SKIP() << "sanitizer build: its link keeps every library the subsystems list";
  for (const char* library : {"libportaudio", "libasound", "libjack", "libsndfile", "libFLAC", "libsoxr", "libgomp"})
    EXPECT_EQ(std::string::npos, needed.find(library)) << library << " in\n" << needed;
}

// A contact grammar of compound names ("ann_lee") takes a word record for every pronunciation of
// each compound on top of the dictionary's records: the word table is sized from the grammar too.
TEST_F(RecognizeToolTest, AGrammarOfAThousandCompoundNamesLoads) {
  const std::string phones = "sndgmbtk";
  const std::string names = scratch("names.voc");
  std::ofstream list(names);
  auto name = [](int i) { return std::string("x") + static_cast<char>('a' + i % 26) + static_cast<char>('a' + i / 26); };
  for (int i = 0; i < 40; i++) {
    const std::string onset(1, phones[static_cast<size_t>(i % 8)]), coda(1, phones[static_cast<size_t>(i / 8)]);
    list << name(i) << "\t" << onset << "@" << coda << "\t0\n" << name(i) << "\t" << onset << "u" << coda << "\t0\n";
  }
  list.close();
  std::string body;
  for (int n = 0; n < 1000; n++) body += name(n % 40) + "_" + name(n / 40) + "\n";
  const std::string grammar = scratch("names.rul");
  std::ofstream(grammar) << "RULE top { sun\n" << body << "} ;\n";
  const ToolRun r = run("--usr " + usr + " --voc " + voc + " --voc " + names + " --rul " + grammar + " " + wave);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(0u, r.out.find(wave + "\tsun\n")) << r.out;
  EXPECT_EQ(std::string::npos, r.err.find("Max Words")) << r.err;
}

TEST_F(RecognizeToolTest, JsgfGrammarsAreConverted) {
  const std::string jsgf = scratch("t.jsgf");
  std::ofstream(jsgf) << "#JSGF V1.0;\ngrammar t;\npublic <top> = <word>;\n<word> = sun | moon;\n";
  ToolRun r = run("--usr " + usr + " --voc " + voc + " --jsgf " + jsgf + " --json " + wave);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("\"words\":\"sun\"")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\"rules\":[\"top\",\"word\"]")) << r.out;

  std::ofstream(jsgf) << "#JSGF V1.0;\ngrammar t;\npublic <top> = sun | ( moon;\n";
  r = run("--usr " + usr + " --voc " + voc + " --jsgf " + jsgf + " " + wave);
  EXPECT_EQ(1, r.status);
  EXPECT_FALSE(r.err.empty());
}

}  // namespace
}  // namespace searchtest
