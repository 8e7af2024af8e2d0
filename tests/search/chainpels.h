// The pel-state chain of a spoken word sequence, as the search models it: shared by the search
// tests and the search benchmark (no test framework here).
#pragma once
#include <string>
#include <vector>

#include "lexicon/phoneset.h"

namespace searchtest {

using namespace vlm;

// One word of a spoken chain and whether silence follows it.
struct Spoken {
  const char* pron;
  bool silenceAfter = false;
};

// The pel states of a word sequence as the search models it: each phone's first state in the
// left context of the phone before it, a three-state phone's middle state and every phone's last
// state in the right context of the phone after it; silence (pel 0) at the word boundaries marked
// and at both ends.
inline std::vector<short> chainPels(const std::vector<Spoken>& spoken) {
  std::vector<short> pels;
  pels.push_back(0);
  for (size_t w = 0; w < spoken.size(); w++) {
    const std::string p = spoken[w].pron;
    const bool silenceBefore = w == 0 || spoken[w - 1].silenceAfter;
    const bool silenceAfter = w + 1 == spoken.size() || spoken[w].silenceAfter;
    const char left = silenceBefore ? '.' : spoken[w - 1].pron[std::string(spoken[w - 1].pron).size() - 1];
    const char right = silenceAfter ? '.' : spoken[w + 1].pron[0];
    for (size_t j = 0; j < p.size(); j++) {
      const char ph = p[j];
      if (ph == '.') {
        pels.push_back(0);
        continue;
      }
      const char prev = j == 0 ? left : p[j - 1];
      const char next = j + 1 == p.size() ? right : p[j + 1];
      pels.push_back(static_cast<short>(phoneBasePel(ph) + phoneLeftClass(prev)));
      if (phoneStateCount(ph) == 3) pels.push_back(static_cast<short>(phoneBasePel(ph) + 26 + phoneRightClass(next)));
      if (phoneStateCount(ph) >= 2) pels.push_back(static_cast<short>(phoneBasePel(ph) + 13 + phoneRightClass(next)));
    }
    if (silenceAfter) pels.push_back(0);
  }
  return pels;
}

}  // namespace searchtest
