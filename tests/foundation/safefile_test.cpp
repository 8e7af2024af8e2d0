// Safe replacement of files: what is refused, what a link at the target does, the permissions
// kept, and a set of files that is replaced whole or not at all when one rename fails.
#include "foundation/safefile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;
using vlm::SafeFile;
using vlm::SafeFileSet;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SafeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::absolute("safefile_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const char* name) const { return (dir / name).string(); }
  int entries() const { return static_cast<int>(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }
  fs::path dir;
};

TEST_F(SafeFileTest, ReplacesKeepsPermissionsAndWritesThroughALink) {
  std::ofstream(path("a.txt")) << "old";
  chmod(path("a.txt").c_str(), 0600);
  SafeFile f;
  ASSERT_EQ(f.open(path("a.txt").c_str()), 1);
  ASSERT_EQ(f.write("new"), 1);
  EXPECT_EQ(slurp(path("a.txt")), "old");  // nothing changes before the commit
  ASSERT_EQ(f.commit(), 1) << f.reason();
  EXPECT_EQ(slurp(path("a.txt")), "new");
  struct stat st;
  ASSERT_EQ(stat(path("a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A link at the target: the file it names is replaced, the link stays a link.
  ASSERT_EQ(symlink(path("a.txt").c_str(), path("link.txt").c_str()), 0);
  SafeFile g;
  ASSERT_EQ(g.open(path("link.txt").c_str()), 1);
  g.write("through");
  ASSERT_EQ(g.commit(), 1);
  EXPECT_TRUE(fs::is_symlink(path("link.txt")));
  EXPECT_EQ(slurp(path("a.txt")), "through");
  EXPECT_EQ(entries(), 2);  // no temporary file left
}

TEST_F(SafeFileTest, RefusesTargetsThatAreNotRegularFiles) {
  fs::create_directories(path("folder"));
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0666), 0);
  ASSERT_EQ(symlink("/dev/null", path("devlink").c_str()), 0);
  struct Case {
    std::string target;
    const char* reason;
  };
  const Case cases[] = {{path("folder"), "is a directory"},
                        {path("fifo"), "is not a regular file"},
                        {"/dev/null", "is not a regular file"},
                        {path("devlink"), "is not a regular file"},
                        {path("missing/x.txt"), "No such file or directory"}};
  for (const Case& c : cases) {
    SafeFile f;
    EXPECT_EQ(f.open(c.target.c_str()), 0) << c.target;
    EXPECT_NE(std::string(f.reason()).find(c.reason), std::string::npos) << c.target << ": " << f.reason();
    EXPECT_EQ(f.write("x"), 0);
    EXPECT_EQ(f.commit(), 0);
  }
  EXPECT_EQ(entries(), 3);  // nothing was created beside them
  // Reading: only regular files are opened, and a FIFO without a writer does not block.
  EXPECT_LT(vlm::openRegularFile(path("fifo").c_str()), 0);
  EXPECT_STREQ(vlm::openFailureText(errno), "is not a regular file");
  EXPECT_LT(vlm::openRegularFile(path("folder").c_str()), 0);
  EXPECT_STREQ(vlm::openFailureText(errno), "is a directory");
  // Counting lines to size tables: a FIFO counts as nothing instead of blocking.
  EXPECT_EQ(vlm::countFileLines(path("fifo").c_str()), 0);
  std::ofstream(path("lines.txt")) << "a\nb\nc\n";
  EXPECT_EQ(vlm::countFileLines(path("lines.txt").c_str()), 3);
}

TEST_F(SafeFileTest, ASetIsReplacedWholeOrNotAtAll) {
  std::ofstream(path("one")) << "old one";
  std::ofstream(path("two")) << "old two";
  {
    SafeFileSet set;
    SafeFile* one = set.add(path("one").c_str());
    SafeFile* two = set.add(path("two").c_str());
    SafeFile* three = set.add(path("three").c_str());  // a new file
    ASSERT_TRUE(one && two && three);
    one->write("new one");
    two->write("new two");
    three->write("new three");
    // The third target becomes a folder with something in it: its rename must fail, and the
    // first two must be put back.
    fs::create_directories(path("three/inside"));
    EXPECT_EQ(set.commit(), 0);
    EXPECT_NE(std::string(set.reason()).find("three"), std::string::npos) << set.reason();
  }
  EXPECT_EQ(slurp(path("one")), "old one");
  EXPECT_EQ(slurp(path("two")), "old two");
  EXPECT_EQ(entries(), 3);  // one, two, three/: no temporary or backup left
  fs::remove_all(path("three"));
  {
    SafeFileSet set;
    SafeFile* one = set.add(path("one").c_str());
    SafeFile* three = set.add(path("three").c_str());
    ASSERT_TRUE(one && three);
    one->write("new one");
    three->write("new three");
    ASSERT_EQ(set.commit(), 1) << set.reason();
  }
  EXPECT_EQ(slurp(path("one")), "new one");
  EXPECT_EQ(slurp(path("three")), "new three");
  EXPECT_EQ(entries(), 3);
}

}  // namespace
