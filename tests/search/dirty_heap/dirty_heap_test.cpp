// The search on memory that earlier work left behind. This program replaces operator new so that
// a test can choose what a new block holds: zeros, or the contents of the last block of the same
// size that was given back, as a long-running program's heap hands out a block a finished search
// used. A structure that reads a field it never set then goes wrong every time instead of now and
// then.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/frontend.h"
#include "tests/search/search_test_util.h"
#include "testpaths.h"

namespace {

unsigned fill = 0;   // while not 0, what every other 32-bit word of new memory holds

void* take(std::size_t n) {
  void* p = std::calloc(1, n);
  if (p == nullptr) throw std::bad_alloc();
  if (fill != 0) {
    auto* u = static_cast<unsigned*>(p);
    for (std::size_t i = 0; i < n / sizeof(unsigned); i++) u[i] = i % 2 == 0 ? fill : 0xffffffffu;
  }
  return p;
}

}  // namespace

void* operator new(std::size_t n) { return take(n == 0 ? 1 : n); }
void* operator new[](std::size_t n) { return take(n == 0 ? 1 : n); }
// The pairs of the operators above: memory they took from calloc goes back to free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace searchtest {
namespace {

// The recognizer's search state is made at the first recognition and kept for the process. An
// utterance must be recognised alike, with the same score, whatever the memory it was made from
// held. Each recognition runs in a child process of its own, so that each makes the state anew:
// once from zeroed memory and once from memory holding the number k in every other word (and
// all ones between), for k = 1 ... 40: small numbers like the counts and stamps a finished
// computation leaves behind. (The per-frame score cache once trusted stamps it never cleared:
// where a leftover number equalled a frame's stamp, a pel took a leftover number as its score.)
TEST(DirtyHeap, ResultsDoNotDependOnWhatNewMemoryHeld) {
  const std::string data = vlmtest::sourceDir() + "/data/";
  User user;
  ASSERT_TRUE(user.readFile((data + "newuser.usr").c_str()));
  WordDictionary words{4096};
  ASSERT_TRUE(words.readFile((data + "base.voc").c_str()));
  ASSERT_TRUE(words.readFile((data + "demo.voc").c_str()));
  RuleDictionary rules{16};
  const std::string rul = scratch("commands.rul");
  {
    std::ofstream out(rul);
    out << "RULE top { ( call < work home cell > ) ( look up < marcus nadia > ) ( send mail ) } ;\n";
  }
  ASSERT_EQ(1, rules.readFile(rul.c_str(), &words));
  int top = rules.getRuleData("top")->index;
  // "say2.wav" says "call work"
  std::vector<Frame> frames;
  {
    FileWavChannel channel;
    ASSERT_TRUE(channel.open((data + "say2.wav").c_str()));
    user.setChanCepMnDel(&channel);
    Frame frame;
    while (channel.nextFrame(&frame) >= 0) frames.push_back(frame);
  }
  ASSERT_GT(frames.size(), 50u);
  // "words score" of the best result, recognised in a child with new memory holding k
  auto recognisedWith = [&](unsigned k) {
    int fds[2];
    if (pipe(fds) != 0) return std::string("no pipe");
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      fill = k;
      auto* utt = new Utterance(nullptr);
      for (const Frame& f : frames) utt->frames.add(f);
      utt->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
      hearWhole(utt);
      Recognizer recognizer(&user, &words, &rules);
      std::string out = "nothing";
      char text[256];
      if (recognizer.recognize(utt, &top, 1) >= 1) {
        toAscii(*utt->result->at(0), &words, text, sizeof text);
        out = std::string(text) + " " + std::to_string(utt->result->at(0)->score);
      }
      if (write(fds[1], out.data(), out.size()) < 0) _exit(1);
      _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return out;
  };
  const std::string clean = recognisedWith(0);
  ASSERT_EQ(clean.rfind("call work ", 0), 0u) << clean;
  for (unsigned k = 1; k <= 40; k++) EXPECT_EQ(recognisedWith(k), clean) << "new memory holding " << k;
}

}  // namespace
}  // namespace searchtest
