// Measures letter-to-sound against a reference dictionary: a fixed, evenly spaced sample of the
// dictionary's ordinary words (lower-case letters only, two or more) is translated with
// xlateString (joined, as the vocabulary builder uses it) and compared with the dictionary's
// pronunciations. Reports the share translated exactly as one of the word's pronunciations and
// the mean phone edit distance to the nearest pronunciation.
//
//   bench_lts [dictionary.voc [sample-size [examples]]]
//
// The sample is every k-th word of the alphabetically sorted word list (k = words / sample-size,
// starting at k / 2), so the same dictionary always gives the same sample. The rules are fixed;
// nothing is tuned on this sample.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lexicon/worddict.h"
#include "lexicon/xlate.h"

namespace {

bool ordinaryWord(const char* name) {
  int n = 0;
  for (; name[n]; ++n)
    if (name[n] < 'a' || name[n] > 'z') return false;
  return n >= 2;
}

// Levenshtein distance over phone characters.
int editDistance(const std::string& a, const std::string& b) {
  std::vector<int> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<int>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    for (size_t j = 1; j <= b.size(); ++j) {
      const int up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 && *argv[1] ? argv[1] : VLM_DEFAULT_VOC;
  const int sampleSize = argc > 2 ? std::atoi(argv[2]) : 5000;
  const int examples = argc > 3 ? std::atoi(argv[3]) : 0;
  if (sampleSize < 1) {
    std::fprintf(stderr, "usage: bench_lts [dictionary.voc [sample-size [examples]]]\n");
    return 2;
  }

  std::fprintf(stderr, "reading %s ...\n", path);
  vlm::WordDictionary dictionary(400000);
  if (!dictionary.readFile(path)) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }

  std::vector<std::string> words;
  for (int i = 2; i < dictionary.recordCount(); ++i) {
    const vlm::WordData* w = dictionary.wordAt(i);
    if (w && w->isPrimary() && w->pron && ordinaryWord(w->name)) words.push_back(w->name);
  }
  std::sort(words.begin(), words.end());
  if (words.empty()) {
    std::fprintf(stderr, "%s holds no ordinary words\n", path);
    return 1;
  }
  const size_t step = std::max<size_t>(1, words.size() / static_cast<size_t>(sampleSize));

  int measured = 0, exact = 0;
  long distanceSum = 0, referenceLength = 0;
  double seconds = 0;
  std::vector<std::string> shown;
  for (size_t i = step / 2; i < words.size() && measured < sampleSize; i += step) {
    const std::string& word = words[i];
    char phones[1024];
    const auto start = std::chrono::steady_clock::now();
    vlm::xlateString(phones, word.c_str(), sizeof phones, nullptr, 1);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int best = -1;
    std::string nearest;
    for (const vlm::WordData* w = dictionary.getWordData(word.c_str()); w;
         w = w->nextPron >= 0 ? dictionary.wordAt(w->nextPron) : nullptr) {
      if (!w->pron) continue;
      const int d = editDistance(phones, w->pron);
      if (best < 0 || d < best) {
        best = d;
        nearest = w->pron;
      }
    }
    if (best < 0) continue;
    ++measured;
    if (best == 0) ++exact;
    distanceSum += best;
    referenceLength += static_cast<long>(nearest.size());
    if (best > 0 && static_cast<int>(shown.size()) < examples)
      shown.push_back(word + "\t" + phones + "\t" + nearest + "\t" + std::to_string(best));
    if (measured % 1000 == 0) std::fprintf(stderr, "  %d words\n", measured);
  }

  for (const std::string& line : shown) std::printf("%s\n", line.c_str());
  std::printf("dictionary        %s\n", path);
  std::printf("ordinary words    %zu (one in %zu taken)\n", words.size(), step);
  std::printf("words measured    %d\n", measured);
  std::printf("exact             %d (%.2f%%)\n", exact, measured ? 100.0 * exact / measured : 0.0);
  std::printf("mean edit dist.   %.3f phones\n", measured ? double(distanceSum) / measured : 0.0);
  std::printf("phone error rate  %.2f%% (edits / reference phones)\n",
              referenceLength ? 100.0 * distanceSum / referenceLength : 0.0);
  std::printf("translation time  %.1f us per word\n", measured ? 1e6 * seconds / measured : 0.0);
  return 0;
}
