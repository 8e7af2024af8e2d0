// The features program on bad input and outputs it must not replace: each case ends with a
// clear message and a failing status, and what it names stays as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/wavefile.h"
#include "testpaths.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(FeaturesTool, FaultsEndWithAReasonAndReplaceNothing) {
  const std::string tool = vlmtest::binDir() + "/features";
  ASSERT_EQ(::access(tool.c_str(), X_OK), 0) << tool << " is not built";
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vlm_features_faults_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "folder");
  const std::string d = dir.string();
  std::vector<int16_t> tone(4000);
  for (size_t i = 0; i < tone.size(); i++) tone[i] = static_cast<int16_t>((i / 20) % 2 ? 3000 : -3000);
  ASSERT_EQ(1, vlm::writeRiffFile((d + "/tone.wav").c_str(), tone.data(), static_cast<uint32_t>(tone.size()), vlm::kRiffSpeechFormat));
  // A NIST file of 8-bit samples: the reader recognition uses refuses it, and so must features.
  std::string header = "NIST_1A\n   1024\nsample_n_bytes -i 1\nsample_count -i 2000\nend_head\n";
  header.resize(1024, '\0');
  std::ofstream(d + "/bytes.nist", std::ios::binary) << header << std::string(2000, 'a');
  ASSERT_EQ(0, mkfifo((d + "/fifo.wav").c_str(), 0666));
  std::ofstream(d + "/victim") << "keep";
  ASSERT_EQ(0, symlink((d + "/victim").c_str(), (d + "/out.dump.tmp").c_str()));

  struct Case {
    const char* what;
    std::string args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"warp bin 0", "-v 0 tone.wav", 2, "warp bin must be 1..127"},
      {"dump to a device", "-o /dev/null tone.wav", 1, "cannot replace /dev/null: is not a regular file"},
      {"dump to a folder", "-o folder tone.wav", 1, "cannot replace folder: is a directory"},
      {"dump to a full standard output", "-o - tone.wav > /dev/full", 1,
       "cannot write standard output: No space left on device"},
      {"text to a full standard output", "tone.wav > /dev/full", 1, "cannot write standard output: No space left on device"},
      {"8-bit NIST", "bytes.nist", 1, "unsupported NIST sample format"},
      {"a FIFO", "fifo.wav", 1, "fifo.wav: cannot read the file: is not a regular file"},
  };
  for (const Case& c : cases) {
    const std::string command =
        "cd '" + d + "' && timeout 20 '" + tool + "' " + c.args + " 2> err.txt" + (c.args.find('>') == std::string::npos ? " > /dev/null" : "");
    const int rc = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == c.status) << c.what << ": " << slurp(d + "/err.txt");
    EXPECT_NE(slurp(d + "/err.txt").find(c.message), std::string::npos) << c.what << ": " << slurp(d + "/err.txt");
  }
  // The device is still a device, the folder a folder, and a link planted at the old temporary
  // name was not written through.
  struct stat st;
  ASSERT_EQ(0, stat("/dev/null", &st));
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
  const std::string ok = "cd '" + d + "' && '" + tool + "' -o out.dump tone.wav 2>/dev/null";
  EXPECT_EQ(0, std::system(ok.c_str()));
  EXPECT_EQ(slurp(d + "/victim"), "keep");
  EXPECT_EQ(slurp(d + "/out.dump").substr(0, 4), "VLMF");
  std::filesystem::remove_all(dir);
}

}  // namespace
