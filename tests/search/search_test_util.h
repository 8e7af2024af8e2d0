// Helpers of the search tests: a speaker whose templates lie far apart, a small dictionary, rules
// read from text, and utterances whose frames are the templates of a known chain of pel states.
#pragma once
#include <unistd.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "search/wordtree.h"
#include "tests/search/chainpels.h"

namespace searchtest {

using namespace vlm;

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string scratch(const std::string& name) {
  // One folder per test process, so tests run side by side never share files; it goes when the
  // process ends.
  struct Folder {
    std::string path = "search_scratch_" + std::to_string(getpid());
    Folder() { mkdir(path.c_str(), 0755); }
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static Folder folder;
  return folder.path + "/" + name;
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    user.makeSeparated();
    User::usr = &user;
    resetSpeechLogForTest();
    std::remove("velmora.log");
  }
  void TearDown() override {
    for (Utterance* u : utterances) delete u;
    WavChannel::setMaxFramesInUtt(444);
    setMaxMemoryAlloced(kDefaultMaxMemoryAlloced);
    setPruneThresh(240);
    setWordEndBeam(230);
  }

  int word(const char* name, const char* pron, int wordClass = 0) {
    const int index = words.addWordIfNew(name, pron, wordClass);
    EXPECT_GE(index, 2) << name;
    return index;
  }

  // Reads rules from .rul text; fails the test when a line is rejected.
  void loadRules(const std::string& text) {
    static int n = 0;
    const std::string path = scratch("rules" + std::to_string(++n) + ".rul");
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << text;
    }
    ASSERT_EQ(1, rules.readFile(path.c_str(), &words));
    ASSERT_EQ(0, rules.readErrorCount()) << readText("velmora.log");
  }

  int ruleIndex(const char* name) {
    RuleData* rd = rules.getRuleData(name);
    EXPECT_NE(nullptr, rd) << name;
    return rd ? rd->index : -1;
  }

  // A complete utterance whose frames repeat each pel's template: lead and trail frames of
  // silence at the ends, repeat frames for every other state.
  Utterance* utterance(const std::vector<short>& pels, int repeat = 3, int lead = 5, int trail = 8) {
    auto* utt = new Utterance(nullptr);
    utterances.push_back(utt);
    for (size_t i = 0; i < pels.size(); i++) {
      int n = repeat;
      if (pels[i] == 0) n = i == 0 ? lead : (i + 1 == pels.size() ? trail : repeat);
      Frame f;
      EXPECT_EQ(1, user.templateFrame(pels[i], &f));
      for (int r = 0; r < n; r++) utt->frames.add(f);
    }
    utt->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    return utt;
  }

  // Appends frames equal to the generic model of group g (speech the words do not match).
  static void appendGeneric(Utterance* utt, const User& u, int group, int count) {
    Frame f{};
    for (int i = 0; i < kFrameFeatures; i++) f.features[i] = u.genericModels[group][i];
    for (int r = 0; r < count; r++) utt->frames.add(f);
  }

  int recognize(Utterance* utt, std::initializer_list<const char*> ruleNames) {
    std::vector<int> ids;
    for (const char* r : ruleNames) ids.push_back(ruleIndex(r));
    Recognizer recognizer(&user, &words, &rules);
    const int n = recognizer.recognize(utt, ids.data(), static_cast<int>(ids.size()));
    lastAbort = recognizer.lastAbortCode();
    lastEnd = recognizer.lastEnd();
    lastFrames = recognizer.lastFrameCount();
    return n;
  }

  std::string text(const Utterance* utt, int i) {
    char buffer[512];
    toAscii(*utt->result->at(i), &words, buffer, sizeof buffer);
    return buffer;
  }

  // The items of result i as "type:value" with words by name and rules by name.
  std::string items(const Utterance* utt, int i) {
    std::string s;
    const FSGNodeTypeItemAC& r = *utt->result->at(i);
    for (int k = 0; k < r.count(); k++) {
      if (!s.empty()) s += " ";
      const FSGNodeTypeItem& item = r[k];
      switch (item.type) {
        case eWordNode: s += words.nameOf(item.value); break;
        case eOutOfVocabularyNode: s += "<oov>"; break;
        case eRuleNode: s += std::string("&") + rules.nameOf(item.value); break;
        case eTerminalNode: s += std::string("end:") + rules.nameOf(item.value); break;
        default: s += "?"; break;
      }
    }
    return s;
  }

  User user;
  WordDictionary words{2000};
  RuleDictionary rules{200};
  std::vector<Utterance*> utterances;
  int lastAbort = 0;
  int lastEnd = 0;
  int lastFrames = 0;
};

}  // namespace searchtest
