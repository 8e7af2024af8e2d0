// Fault injection for every file a program replaces. Each scenario is one row: the files a run
// reads (made afresh in a scratch folder for every run), the files it replaces (each given an
// old text first), and whether those must be replaced together. For each row:
//   - a clean run gives the new texts;
//   - the run is repeated, killed (SIGKILL) just before each of its file-changing system calls
//     in turn (write, fsync, rename, link, unlink; all of them, or an even spread of 40): every
//     replaced file must then hold its old text or its new one, whole;
//   - the run is repeated with a file size limit (RLIMIT_FSIZE, the disk filling up) below each
//     new file's size: the program must fail with status 1 and a message, and every file must
//     keep its old text (a set: all of them), with no temporary file left.
// Files of programs yet to come (the application's .tsv, namefind.cfg, calendar.ics) are further
// rows of the same table.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "audio/wavefile.h"
#include "testpaths.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Two bursts of a harmonic tone in quiet noise: enough "speech" for the front end, the trainer
// and the adaptation.
void writeBursts(const fs::path& path) {
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 20.0);
  std::vector<int16_t> s(11025 * 2);
  for (size_t i = 0; i < s.size(); i++) {
    const double t = static_cast<double>(i) / 11025;
    const bool on = (t > 0.3 && t < 0.7) || (t > 1.0 && t < 1.5);
    double v = noise(rng);
    if (on)
      for (int k = 1; k < 20; k++) v += 6000.0 * std::sin(2 * M_PI * 150 * k * t) / k;
    s[i] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
  }
  fs::create_directories(path.parent_path());
  ASSERT_EQ(1, vlm::writeRiffFile(path.c_str(), s.data(), static_cast<uint32_t>(s.size()), vlm::kRiffSpeechFormat));
}

struct Scenario {
  const char* name;
  std::function<void(const fs::path&)> makeInputs;
  std::vector<std::string> args;     // program (in build/bin) and arguments, run in the folder
  std::vector<std::string> replaced; // the files the run replaces
  bool together;                     // replaced all together or not at all
};

struct Outcome {
  bool exited = false;
  int status = -1;
  bool killed = false;
  std::string err;
};

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::absolute("faults_" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
  }
  void TearDown() override { fs::remove_all(root); }

  // A fresh folder with the inputs and the old texts.
  fs::path prepare(const Scenario& s) {
    const fs::path dir = root / ("run" + std::to_string(runs++));
    fs::create_directories(dir);
    s.makeInputs(dir);
    for (const std::string& f : s.replaced) put(dir / f, "old text of " + f + "\n");
    return dir;
  }

  // Runs the scenario's program in dir with the shim preloaded.
  Outcome run(const Scenario& s, const fs::path& dir, long killAt, long long sizeLimit, const fs::path& countFile = {}) {
    // Standard output and error go to a pipe: a file there would be held to the size limit too.
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    pid_t child = fork();
    if (child == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      dup2(pipeFds[1], 1);
      dup2(pipeFds[1], 2);
      close(pipeFds[0]);
      close(pipeFds[1]);
      setenv("LD_PRELOAD", VLM_FAULTSHIM, 1);
      setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
      setenv("VELMORA_DIR", (vlmtest::sourceDir() + "/data").c_str(), 1);
      if (killAt > 0) setenv("VLM_KILL_AT", std::to_string(killAt).c_str(), 1);
      if (!countFile.empty()) setenv("VLM_COUNT_FILE", countFile.c_str(), 1);
      if (sizeLimit >= 0) {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG, as on a full disk
        rlimit limit{static_cast<rlim_t>(sizeLimit), static_cast<rlim_t>(sizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
      }
      std::vector<std::string> args = s.args;
      args[0] = vlmtest::binDir() + "/" + args[0];
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipeFds[1]);
    Outcome o;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) o.err.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    o.exited = WIFEXITED(status);
    o.status = o.exited ? WEXITSTATUS(status) : -1;
    o.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    return o;
  }

  static bool leftTemporaries(const fs::path& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir))
      if (e.path().filename().string().find(".tmp") != std::string::npos) return true;
    return false;
  }

  void check(const Scenario& s) {
    SCOPED_TRACE(s.name);
    // The clean run: the new texts.
    const fs::path clean = prepare(s);
    const fs::path countFile = root / "count.txt";
    const Outcome o = run(s, clean, 0, -1, countFile);
    ASSERT_TRUE(o.exited && o.status == 0) << o.err;
    std::map<std::string, std::string> old, fresh;
    for (const std::string& f : s.replaced) {
      old[f] = "old text of " + f + "\n";
      fresh[f] = slurp(clean / f);
      ASSERT_NE(fresh[f], old[f]) << f << " was not replaced";
    }
    const long calls = std::atol(slurp(countFile).c_str());
    ASSERT_GT(calls, 0);

    // Killed at each point.
    std::vector<long> points;
    const long spread = 40;
    for (long k = 1; k <= calls; k += calls > spread ? calls / spread : 1) points.push_back(k);
    if (points.back() != calls) points.push_back(calls);
    int killedRuns = 0;
    for (long k : points) {
      const fs::path dir = prepare(s);
      const Outcome r = run(s, dir, k, -1);
      killedRuns += r.killed;
      for (const std::string& f : s.replaced) {
        const std::string now = slurp(dir / f);
        EXPECT_TRUE(now == old[f] || now == fresh[f]) << f << " killed at call " << k << " of " << calls
                                                      << " holds neither text whole (" << now.size() << " bytes)";
      }
      fs::remove_all(dir);
    }
    EXPECT_GT(killedRuns, 0);

    // The disk filling up below each new file's size.
    std::vector<long long> limits = {0, 1};
    for (const std::string& f : s.replaced)
      if (fresh[f].size() > 1) limits.push_back(static_cast<long long>(fresh[f].size()) - 1);
    for (long long limit : limits) {
      const fs::path dir = prepare(s);
      const Outcome r = run(s, dir, 0, limit);
      EXPECT_TRUE(r.exited && r.status == 1) << "limit " << limit << ": status " << r.status << "\n" << r.err;
      EXPECT_NE(r.err.find("File too large"), std::string::npos) << "limit " << limit << ": " << r.err;
      int kept = 0;
      for (const std::string& f : s.replaced) {
        const std::string now = slurp(dir / f);
        EXPECT_TRUE(now == old[f] || now == fresh[f]) << f << " at limit " << limit;
        kept += now == old[f];
      }
      if (s.together) {
        EXPECT_EQ(kept, static_cast<int>(s.replaced.size())) << "limit " << limit << ": a mixed set";
      }
      EXPECT_FALSE(leftTemporaries(dir)) << "limit " << limit;
      fs::remove_all(dir);
    }
    fs::remove_all(clean);
  }

  fs::path root;
  int runs = 0;
};

const std::string data() { return vlmtest::sourceDir() + "/data"; }

TEST_F(FaultInjection, PronmergeOutVocAndItsLists) {
  check({"pronmerge",
         [](const fs::path& d) {
           put(d / "fulldict.voc", "beta\tbEt@\t0\ngamma\tgam@\t0\ngamma\tgama\t0\n");
           std::string list;
           for (int i = 0; i < 200; i++) list += "beta gamma\nzork" + std::to_string(i % 7) + "\nx@y.com\n";
           put(d / "names.lst", list);
         },
         {"pronmerge", "names.lst"},
         {"out.voc", "known.lst", "unknown.lst"},
         true});
}

TEST_F(FaultInjection, TrainBothModels) {
  check({"train",
         [](const fs::path& d) {
           writeBursts(d / "corpus/wav/v/a.wav");
           put(d / "corpus/manifest.tsv", "v\ttrain\twav/v/a.wav\tcall one\tkol wun\r\n");  // CR LF lines
         },
         {"train", "--corpus", "corpus", "--newuser", "newuser.usr", "--delta", "delta.usr", "--iterations", "1"},
         {"newuser.usr", "delta.usr"},
         true});
}

TEST_F(FaultInjection, AdaptOutput) {
  check({"adapt",
         [](const fs::path& d) {
           writeBursts(d / "a.wav");
           put(d / "prompts.lst", "a.wav\ttea\n");
         },
         {"adapt", "--usr", data() + "/newuser.usr", "--voc", data() + "/enrol.voc", "--prompts", "prompts.lst", "--out",
          "speaker.usr", "--no-recognize", "--quiet"},
         {"speaker.usr"},
         false});
}

TEST_F(FaultInjection, SpeakWave) {
  check({"speak", [](const fs::path&) {}, {"speak", "--pron", "hElO.wurld", "-o", "out.wav"}, {"out.wav"}, false});
}

TEST_F(FaultInjection, FeaturesDump) {
  check({"features", [](const fs::path& d) { writeBursts(d / "in.wav"); }, {"features", "-o", "out.dump", "in.wav"},
         {"out.dump"}, false});
}

}  // namespace
