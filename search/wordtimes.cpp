#define VLM_UNIT "wordtimes"
#include "search/wordtimes.h"

#include <vector>

#include "lexicon/worddict.h"
#include "models/alignchain.h"
#include "models/user.h"

namespace vlm {

int speechEnds(const FSGNodeTypeItemAC& items, const WordFrames& spans, const Frame* frames, int frameCount,
               const WordDictionary& dict, const User* user, int* ends) {
  const int words = spans.words();
  int k = 0;
  for (int j = 0; j < items.count() && k < words; j++) {
    if (items[j].type != eWordNode && items[j].type != eOutOfVocabularyNode) continue;
    const int start = spans.start(k), end = spans.end(k);
    ends[k] = end;
    const char* pron = items[j].type == eWordNode ? dict.pronOf(items[j].value) : nullptr;
    // one frame before the word stands for the silence the chain begins with
    const int from = start > 0 ? start - 1 : 0;
    const int n = (end < frameCount ? end : frameCount) - from;
    AlignChain chain;
    if (pron != nullptr && pron[0] != 0 && n >= 3 && chain.build(&pron, 1) && n >= chain.minimumFrames()) {
      std::vector<short> pels(static_cast<size_t>(n));
      std::vector<int> node(static_cast<size_t>(n));
      if (chain.viterbi(frames + from, n, user, pels.data(), node.data()) >= 0) {
        const int trailing = chain.nodeCount() - 1;
        int t = 0;
        while (t < n && node[static_cast<size_t>(t)] != trailing) t++;
        const int aligned = from + t;
        if (aligned > start && aligned < end) ends[k] = aligned;
      }
    }
    k++;
  }
  return k;
}

}  // namespace vlm
