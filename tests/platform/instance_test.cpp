// The single-instance guard and process start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/instance.h"
#include "platform/spawn.h"

using namespace vlm;

namespace {

struct Folder {
  explicit Folder(const std::string& name) {
    char cwd[4096];
    path = std::string(getcwd(cwd, sizeof cwd)) + "/" + name;
    std::system(("rm -rf '" + path + "'").c_str());
    mkdir(path.c_str(), 0700);
  }
  ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string path;
};

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

TEST(SingleInstance, SecondInstanceActivatesTheFirst) {
  Folder dir("guard-two");
  SingleInstance first(dir.path.c_str());
  ASSERT_EQ(first.acquire(), SingleInstance::eFirst);
  EXPECT_TRUE(exists(first.addressPath()));
  EXPECT_TRUE(exists(first.socketPath()));
  SingleInstance second(dir.path.c_str());
  EXPECT_EQ(second.acquire(), SingleInstance::eRunning);
  EXPECT_EQ(second.sendToRunning(kMsgActivate), 1);
  EXPECT_EQ(second.sendToRunning(kMsgStart), 1);
  std::vector<int> messages;
  EXPECT_EQ(first.poll(&messages), 2);
  EXPECT_EQ(messages, (std::vector<int>{kMsgActivate, kMsgStart}));
  EXPECT_EQ(first.poll(&messages), 0);   // nothing more waits

  // Once the first has gone, the next start is the first again.
  const std::string socket = first.socketPath();
  first.release();
  EXPECT_FALSE(exists(first.addressPath()));
  EXPECT_FALSE(exists(socket));
  EXPECT_EQ(second.acquire(), SingleInstance::eFirst);
}

TEST(SingleInstance, MissingAddressIsReported) {
  Folder dir("guard-noaddress");
  SingleInstance first(dir.path.c_str());
  ASSERT_EQ(first.acquire(), SingleInstance::eFirst);
  unlink(first.addressPath().c_str());
  SingleInstance second(dir.path.c_str());
  ASSERT_EQ(second.acquire(), SingleInstance::eRunning);
  EXPECT_EQ(second.sendToRunning(kMsgActivate, 100), 0);
  // An address file cut short is no address either.
  std::ofstream(first.addressPath()) << first.socketPath();
  EXPECT_EQ(second.sendToRunning(kMsgActivate, 100), 0);
}

TEST(SingleInstance, GarbageOnTheSocketIsIgnored) {
  Folder dir("guard-garbage");
  SingleInstance first(dir.path.c_str());
  ASSERT_EQ(first.acquire(), SingleInstance::eFirst);
  const std::string command = "printf 'x2026\\n-5\\n99999999\\n2026' | timeout 5 python3 -c \"import socket,sys;"
                              "s=socket.socket(socket.AF_UNIX);s.connect('" + first.socketPath() +
                              "');s.sendall(sys.stdin.buffer.read());s.close()\"";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 is not available";
  std::vector<int> messages;
  EXPECT_EQ(first.poll(&messages), 0);   // no complete line holds a message number
}

TEST(SingleInstance, LockOfAKilledProgramDoesNotBlock) {
  Folder dir("guard-killed");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstance holder(dir.path.c_str());
    const char state = holder.acquire() == SingleInstance::eFirst ? '1' : '0';
    (void)!write(ready[1], &state, 1);
    for (;;) pause();
  }
  char state = 0;
  ASSERT_EQ(read(ready[0], &state, 1), 1);
  ASSERT_EQ(state, '1');
  SingleInstance next(dir.path.c_str());
  EXPECT_EQ(next.acquire(), SingleInstance::eRunning);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // The killed holder left its address and socket behind; they are replaced.
  EXPECT_TRUE(exists(next.addressPath()));
  ASSERT_EQ(next.acquire(), SingleInstance::eFirst);
  SingleInstance third(dir.path.c_str());
  ASSERT_EQ(third.acquire(), SingleInstance::eRunning);
  EXPECT_EQ(third.sendToRunning(kMsgActivate), 1);
  std::vector<int> messages;
  EXPECT_EQ(next.poll(&messages), 1);
  close(ready[0]);
  close(ready[1]);
}

TEST(SingleInstance, FolderOfAnotherKindFails) {
  Folder dir("guard-file");
  const std::string file = dir.path + "/plain";
  std::ofstream(file) << "x";
  SingleInstance guard(file.c_str());
  EXPECT_EQ(guard.acquire(), SingleInstance::eFailed);
}

TEST(StartProgram, StartsAnExecutableAndRefusesMissingOnes) {
  Folder dir("spawn");
  const std::string program = dir.path + "/mark";
  std::ofstream(program) << "#!/bin/sh\ntouch '" << dir.path << "/ran'\n";
  EXPECT_EQ(startProgram(program), 0);   // not executable yet
  chmod(program.c_str(), 0755);
  EXPECT_EQ(startProgram(program), 1);
  for (int i = 0; i < 500 && !exists(dir.path + "/ran"); i++) usleep(10000);
  EXPECT_TRUE(exists(dir.path + "/ran"));
  EXPECT_EQ(startProgram(dir.path + "/missing"), 0);
  const std::string folder = programFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(exists(folder + "test_platform"));
}
