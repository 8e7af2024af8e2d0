// Measures letter-to-sound against a reference dictionary, the rule-based translator (the
// baseline) and the trained model (lexicon/ltsmodel.h) in the same run, on words the model never
// saw in training:
//   ordinary words  the held-out words (isLtsHeldOutWord) made of lower-case letters only (two or
//                   more) that are not in the name lists below; an evenly spaced sample of them
//   names           bench/lts/names.txt: first and last names with English spellings
//   foreign names   bench/lts/foreign_names.txt: names with non-English spellings
// Each word is translated with xlateString (joined, as the vocabulary builder uses it) and
// compared with the dictionary's pronunciations: the share translated exactly as one of them,
// the phone error rate (edit distance to the nearest one over its length), and for the model the
// share whose second-best pronunciation is exact when the best is not. Speed: words a second
// through xlateString for both translators, and through the model's decoder alone, on one
// thread; the model's speed is also given as a ratio to the rules'.
//
//   bench_lts [--model FILE] [--examples N] [dictionary.voc [sample-size]]
//
// The sample is evenly spaced over the held-out ordinary words in byte order (the middle word of
// each of sample-size equal stretches), so the same dictionary always gives the same sample.
// Times are CPU times of the measuring thread.
#include <algorithm>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lexicon/ltsmodel.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"

namespace {

// CPU time of this thread: the machine is shared, so wall time would measure the others' load.
double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

bool ordinaryWord(const std::string& name) {
  for (char c : name)
    if (c < 'a' || c > 'z') return false;
  return name.size() >= 2;
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

std::vector<std::string> readList(const std::string& path) {
  std::vector<std::string> names;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name;
    if (fields >> name && name[0] != '#') names.push_back(name);
  }
  return names;
}

std::vector<std::string> pronunciations(vlm::WordDictionary& dictionary, const std::string& word) {
  std::vector<std::string> prons;
  for (const vlm::WordData* w = dictionary.getWordData(word.c_str()); w;
       w = w->nextPron >= 0 ? dictionary.wordAt(w->nextPron) : nullptr)
    if (w->pron) prons.push_back(w->pron);
  return prons;
}

struct Score {
  int measured = 0, exact = 0, secondExact = 0;
  long distance = 0, referenceLength = 0;
  double seconds = 0;
  std::vector<std::string> shown;
};

// Nearest reference: edit distance and the reference's length.
std::pair<int, size_t> nearest(const std::vector<std::string>& prons, const std::string& phones) {
  int best = -1;
  size_t length = 0;
  for (const std::string& p : prons) {
    const int d = editDistance(phones, p);
    if (best < 0 || d < best) best = d, length = p.size();
  }
  return {best, length};
}

Score measure(vlm::WordDictionary& dictionary, const std::vector<std::string>& words, vlm::LtsModel* model,
              int examples) {
  Score s;
  for (const std::string& word : words) {
    const std::vector<std::string> prons = pronunciations(dictionary, word);
    if (prons.empty()) continue;
    char phones[1024];
    const double start = threadSeconds();
    vlm::xlateString(phones, word.c_str(), sizeof phones, nullptr, 1);
    s.seconds += threadSeconds() - start;
    const auto [d, length] = nearest(prons, phones);
    ++s.measured;
    if (d == 0) ++s.exact;
    s.distance += d;
    s.referenceLength += static_cast<long>(length);
    if (d > 0 && model) {
      vlm::LtsPronunciation alternatives[2];
      const int n = model->pronounce(word.c_str(), static_cast<int>(word.size()), alternatives, 2);
      if (n > 1 && std::find(prons.begin(), prons.end(), alternatives[1].phones) != prons.end()) ++s.secondExact;
    }
    if (d > 0 && static_cast<int>(s.shown.size()) < examples)
      s.shown.push_back(word + "\t" + phones + "\t" + prons[0] + "\t" + std::to_string(d));
  }
  return s;
}

// Words a second through the decoder alone (best and one alternative, as the callers ask).
double decoderSpeed(vlm::LtsModel& model, const std::vector<std::string>& words) {
  vlm::LtsPronunciation out[2];
  long n = 0;
  const double start = threadSeconds();
  for (int round = 0; round < 3; ++round)
    for (const std::string& w : words) n += model.pronounce(w.c_str(), static_cast<int>(w.size()), out, 2) > 0;
  const double seconds = threadSeconds() - start;
  return n / seconds;
}

void report(const char* label, const Score& rules, const Score& model, bool withModel) {
  auto pct = [](long a, long b) { return b ? 100.0 * a / b : 0.0; };
  std::printf("%-15s %6d words   rules: exact %6.2f%%  PER %6.2f%%", label, rules.measured,
              pct(rules.exact, rules.measured), pct(rules.distance, rules.referenceLength));
  if (withModel)
    std::printf("   model: exact %6.2f%%  PER %6.2f%%  second best exact %5.2f%%", pct(model.exact, model.measured),
                pct(model.distance, model.referenceLength), pct(model.secondExact, model.measured));
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string modelPath = VLM_DEFAULT_LTS_MODEL;
  int examples = 0;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--model" && i + 1 < argc) modelPath = argv[++i];
    else if (a == "--examples" && i + 1 < argc) examples = std::atoi(argv[++i]);
    else positional.push_back(a);
  }
  const std::string path = positional.size() > 0 && !positional[0].empty() ? positional[0] : VLM_DEFAULT_VOC;
  const int sampleSize = positional.size() > 1 ? std::atoi(positional[1].c_str()) : 5000;
  if (sampleSize < 1 || positional.size() > 2) {
    std::fprintf(stderr, "usage: bench_lts [--model FILE] [--examples N] [dictionary.voc [sample-size]]\n");
    return 2;
  }

  std::fprintf(stderr, "reading %s ...\n", path.c_str());
  vlm::WordDictionary dictionary(400000);
  if (!dictionary.readFile(path.c_str())) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  const std::string listDir = VLM_LTS_BENCH_DIR;
  const std::vector<std::string> names = readList(listDir + "/names.txt");
  const std::vector<std::string> foreign = readList(listDir + "/foreign_names.txt");
  const std::set<std::string> listed(names.begin(), names.end());
  std::set<std::string> allListed = listed;
  allListed.insert(foreign.begin(), foreign.end());

  std::vector<std::string> heldOut;
  for (int i = 2; i < dictionary.recordCount(); ++i) {
    const vlm::WordData* w = dictionary.wordAt(i);
    if (w && w->isPrimary() && w->pron && ordinaryWord(w->name) && vlm::isLtsHeldOutWord(w->name) &&
        !allListed.count(w->name))
      heldOut.push_back(w->name);
  }
  std::sort(heldOut.begin(), heldOut.end());
  if (heldOut.empty()) {
    std::fprintf(stderr, "%s holds no held-out ordinary words\n", path.c_str());
    return 1;
  }
  std::vector<std::string> sample;
  // Evenly spaced over the whole list, also when it holds fewer than twice sample-size words.
  const size_t taken = std::min(heldOut.size(), static_cast<size_t>(sampleSize));
  for (size_t k = 0; k < taken; ++k) sample.push_back(heldOut[(2 * k + 1) * heldOut.size() / (2 * taken)]);

  vlm::LtsModel model;
  const bool haveModel = model.readFile(modelPath.c_str());
  if (!haveModel) std::fprintf(stderr, "no model at %s: the rules alone are measured\n", modelPath.c_str());

  const std::vector<std::string>* sets[3] = {&sample, &names, &foreign};
  const char* labels[3] = {"ordinary words", "names", "foreign names"};
  Score rules[3], trained[3];
  vlm::setLetterToSoundModel(nullptr);
  for (int k = 0; k < 3; ++k) rules[k] = measure(dictionary, *sets[k], nullptr, 0);
  if (haveModel) {
    vlm::setLetterToSoundModel(modelPath.c_str());
    for (int k = 0; k < 3; ++k) trained[k] = measure(dictionary, *sets[k], &model, examples);
  }

  for (int k = 0; k < 3; ++k)
    for (const std::string& line : trained[k].shown) std::printf("%s\n", line.c_str());
  std::printf("dictionary      %s\n", path.c_str());
  std::printf("model           %s%s\n", modelPath.c_str(), haveModel ? "" : " (missing)");
  if (haveModel)
    std::printf("                order %d, %d graphones, %d states\n", model.order(), model.graphoneCount(),
                model.stateCount());
  std::printf("held-out words  %zu ordinary, %zu of them measured\n", heldOut.size(), sample.size());
  for (int k = 0; k < 3; ++k) report(labels[k], rules[k], trained[k], haveModel);
  double ruleSeconds = 0, modelSeconds = 0;
  long count = 0;
  for (int k = 0; k < 3; ++k) {
    ruleSeconds += rules[k].seconds;
    modelSeconds += trained[k].seconds;
    count += rules[k].measured;
  }
  std::printf("speed (xlateString, one thread): rules %.0f words/s", count / ruleSeconds);
  if (haveModel) {
    std::printf(", model %.0f words/s (%.2f x the rules)", count / modelSeconds, ruleSeconds / modelSeconds);
    std::printf("; decoder alone %.0f words/s", decoderSpeed(model, sample));
  }
  std::printf("\n");
  return 0;
}
