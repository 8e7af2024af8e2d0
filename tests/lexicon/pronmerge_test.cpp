// The pronmerge program, run in a scratch folder: usage, a missing list, skipping of addresses and
// empty entries, covering from the reference dictionaries, letter-to-sound for the rest, the
// unknown words, and the output files.
#include <gtest/gtest.h>

#include "testpaths.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lexicon/phoneset.h"

namespace {

using vlmtest::binDir;

class PronmergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program = binDir() + "/pronmerge";
    ASSERT_EQ(access(program.c_str(), X_OK), 0) << program << " is not built";
    char pattern[] = "/tmp/vlm_pronmerge_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  // Runs pronmerge with args in the scratch folder; its standard output lands in "stdout.txt".
  // With whole = false, args is the complete command (a wrapper and the program).
  int run(const std::string& args, bool whole = true) {
    std::string command = "cd '" + dir + "' && " + (whole ? "'" + program + "' " : std::string()) + args + " > stdout.txt 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string slurp(const std::string& name) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void put(const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }
  bool exists(const std::string& name) {
    struct stat st;
    return stat((dir + "/" + name).c_str(), &st) == 0;
  }
  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) out.push_back(line);
    return out;
  }
  // The out.voc lines of one word.
  std::vector<std::string> entries(const std::string& name) {
    std::vector<std::string> out;
    for (const std::string& line : lines(slurp("out.voc")))
      if (line.compare(0, name.size() + 1, name + "\t") == 0) out.push_back(line);
    return out;
  }

  std::string program;
  std::string dir;
};

using Lines = std::vector<std::string>;

TEST_F(PronmergeTest, WithoutArgumentsShowsUsageAndWritesNothing) {
  EXPECT_EQ(run(""), 2);   // a usage error
  const std::string usage =
      "pronmerge [file.lst] <another.voc> <andAnother.voc>\noutputs out.voc, known.lst, unknown.lst";
  EXPECT_NE(slurp("stdout.txt").find(usage), std::string::npos) << slurp("stdout.txt");
  EXPECT_NE(slurp("velmora.log").find(usage), std::string::npos);
  EXPECT_FALSE(exists("out.voc"));
  EXPECT_FALSE(exists("known.lst"));
  EXPECT_FALSE(exists("unknown.lst"));
}

TEST_F(PronmergeTest, MissingListExitsWithOne) {
  EXPECT_EQ(run("nothere.lst"), 1);
  EXPECT_NE(slurp("stdout.txt").find("Unable to open .lst file"), std::string::npos);
  EXPECT_NE(slurp("velmora.log").find("Unable to open .lst file"), std::string::npos);
  EXPECT_FALSE(exists("out.voc"));
}

TEST_F(PronmergeTest, CoversSkipsTranslatesAndSortsTheOutput) {
  put("fulldict.voc",
      "smith\tsmiT\t0\n"
      "smith\tsmiS\t0\n"
      "john\tjon\t2\n"
      "mary\tmerY\t0\n"
      "ann\tan\t0\n"
      "www\tdubLyUdubLyUdubLyU\t0\n"
      "unused\tunyUzd\t0\n");
  put("extra.voc", "smith\tsmeT\t0\nbrown\tbr?n\t0\n");
  put("contacts.lst",
      "John Smith\r\n"
      "HTTP://www.example.com\n"
      "wWw.Example.com\n"
      "Mary john@example.com\n"
      "--\n"
      "Zork Brown\n"
      "mary-ann zork\n"
      "Smith .\n"
      "\n"
      "john SMITH\n");
  ASSERT_EQ(run("contacts.lst extra.voc nosuch.voc"), 0) << slurp("stdout.txt");

  // Entries covered fully, exactly as read, in list order; addresses and separators are skipped.
  EXPECT_EQ(lines(slurp("known.lst")), (Lines{"John Smith", "Zork Brown", "mary-ann zork", "john SMITH"}));
  // "." has no pronunciation to give; it stays unknown.
  EXPECT_EQ(lines(slurp("unknown.lst")), (Lines{"."}));

  // Every pronunciation of a covered word, the class kept; the primary sorts after the others.
  std::vector<std::string> smith = entries("smith");
  ASSERT_EQ(smith.size(), 3u) << slurp("out.voc");
  EXPECT_EQ(smith.back(), "smith\tsmiT\t0");
  EXPECT_EQ(entries("john"), (Lines{"john\tjon\t2"}));
  EXPECT_EQ(entries("brown"), (Lines{"brown\tbr?n\t0"}));
  EXPECT_EQ(entries("mary"), (Lines{"mary\tmerY\t0"}));
  EXPECT_EQ(entries("ann"), (Lines{"ann\tan\t0"}));
  // A word no dictionary has: one letter-to-sound pronunciation of class 4, written once.
  std::vector<std::string> zork = entries("zork");
  ASSERT_EQ(zork.size(), 1u) << slurp("out.voc");
  const std::string zorkPron = zork[0].substr(5, zork[0].size() - 5 - 2);
  EXPECT_EQ(zork[0].substr(zork[0].size() - 2), "\t4");
  EXPECT_EQ(vlm::isValidPron(zorkPron.c_str()), 1) << zork[0];
  // Nothing of the skipped entries or of unused words.
  EXPECT_TRUE(entries("www").empty());
  EXPECT_TRUE(entries("example.com").empty());
  EXPECT_TRUE(entries("unused").empty());
  EXPECT_TRUE(entries(".").empty());
  // Sorted by name in byte order.
  Lines out = lines(slurp("out.voc"));
  EXPECT_EQ(out.size(), 3u + 1 + 1 + 1 + 1 + 1);
  for (size_t i = 1; i < out.size(); ++i)
    EXPECT_LE(out[i - 1].substr(0, out[i - 1].find('\t')), out[i].substr(0, out[i].find('\t')));
  EXPECT_FALSE(exists("tmp.voc"));
}

TEST_F(PronmergeTest, WithoutReferenceDictionaryEveryWordIsTranslated) {
  // The longest entry the line buffer holds (1023 characters) reaches known.lst whole.
  std::string longEntry;
  while (longEntry.size() < 1023) longEntry += "beta ";
  longEntry.resize(1023, 'b');
  put("l.lst", "Alpha Beta\nbeta\n" + longEntry + "\n");
  ASSERT_EQ(run("l.lst"), 0);
  EXPECT_EQ(slurp("known.lst"), "Alpha Beta\nbeta\n" + longEntry + "\n");
  EXPECT_EQ(slurp("unknown.lst"), "");
  ASSERT_EQ(entries("alpha").size(), 1u);
  ASSERT_EQ(entries("beta").size(), 1u);
  EXPECT_EQ(entries("beta")[0].substr(entries("beta")[0].size() - 2), "\t4");
}

TEST_F(PronmergeTest, ListWithoutUsableEntriesStillGivesAnEmptyOutVoc) {
  put("l.lst", "http://a\n@\n---\n");
  put("out.voc", "stale\tstAl\t0\n");
  put("known.lst", "stale\n");
  ASSERT_EQ(run("l.lst"), 0);
  EXPECT_TRUE(exists("out.voc"));
  EXPECT_EQ(slurp("out.voc"), "");
  EXPECT_EQ(slurp("known.lst"), "");
  EXPECT_EQ(slurp("unknown.lst"), "");
}

TEST_F(PronmergeTest, OutVocThatCannotBeReplacedIsReportedAndNoTemporaryIsLeft) {
  put("l.lst", "beta\n");
  ASSERT_EQ(mkdir((dir + "/out.voc").c_str(), 0777), 0);
  put("out.voc/keep", "x");
  EXPECT_EQ(run("l.lst"), 1);
  EXPECT_NE(slurp("velmora.log").find("cannot replace out.voc: is a directory"), std::string::npos);
  EXPECT_EQ(slurp("out.voc/keep"), "x");
}

// Faults in the inputs and outputs: each either refused before anything is touched (the three
// outputs keep their old text) or reported, never a half-replaced set.
TEST_F(PronmergeTest, FaultsAreReportedAndTheOutputsReplacedAllOrNone) {
  struct Case {
    const char* name;
    std::string (*setUp)(const std::string& dir);  // returns the list argument
    int status;
    const char* message;                           // in the program's output
    bool outputsKept;
  };
  const Case cases[] = {
      {"list is a directory", [](const std::string& d) { mkdir((d + "/l.lst").c_str(), 0777); return std::string("l.lst"); },
       1, "l.lst: is a directory", true},
      {"list is a FIFO", [](const std::string& d) { mkfifo((d + "/l.lst").c_str(), 0666); return std::string("l.lst"); },
       1, "l.lst: is not a regular file", true},
      {"out.voc is a directory",
       [](const std::string& d) {
         std::ofstream(d + "/l.lst") << "beta\n";
         unlink((d + "/out.voc").c_str());
         mkdir((d + "/out.voc").c_str(), 0777);
         return std::string("l.lst");
       },
       1, "cannot replace out.voc: is a directory", true},
      {"known.lst is a link to a device",
       [](const std::string& d) {
         std::ofstream(d + "/l.lst") << "beta\n";
         unlink((d + "/known.lst").c_str());
         symlink("/dev/null", (d + "/known.lst").c_str());
         return std::string("l.lst");
       },
       1, "cannot replace known.lst: is not a regular file", true},
      {"a line too long is skipped and named",
       [](const std::string& d) {
         std::ofstream(d + "/l.lst") << "beta\n" << std::string(1500, 'x') << " beta\nbeta beta\n";
         return std::string("l.lst");
       },
       0, "l.lst:2: line longer than 1023 bytes, skipped", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    put("fulldict.voc", "beta\tbEt@\t0\n");
    for (const char* out : {"out.voc", "known.lst", "unknown.lst"}) put(out, "old\n");
    const std::string list = c.setUp(dir);
    EXPECT_EQ(run("timeout 20 '" + program + "' " + list, false), c.status);
    EXPECT_NE(slurp("stdout.txt").find(c.message), std::string::npos) << slurp("stdout.txt");
    if (c.outputsKept) {
      for (const char* out : {"out.voc", "known.lst", "unknown.lst"}) {
        struct stat st;
        if (lstat((dir + "/" + out).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
          EXPECT_EQ(slurp(out), "old\n") << out;
        }
      }
    } else {
      EXPECT_EQ(slurp("known.lst"), "beta\nbeta beta\n");
      EXPECT_EQ(slurp("out.voc"), "beta\tbEt@\t0\n");
    }
    EXPECT_EQ(std::system(("ls '" + dir + "' | grep -q '\\.tmp' ").c_str()) != 0, true) << "a temporary file is left";
  }
}

}  // namespace
