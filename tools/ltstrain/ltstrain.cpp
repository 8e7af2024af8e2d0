// ltstrain: trains the letter-to-sound model (lexicon/ltsmodel.h) from a .voc pronunciation
// dictionary.
//
//   ltstrain [--order N] [--min-count K] [--prune-from P] [--iterations I] [--min-graphone K]
//            [--candidates C] [--pairs] [--hold-out FILE]... IN.voc OUT.bin
//
// 1. Words: every pronunciation of every name made of the letters a-z and "'" (1 to 48 of them)
//    whose pronunciation is made of phones only; left out are the held-out words
//    (isLtsHeldOutWord) and the names listed in the --hold-out files (one per line, any case).
// 2. Alignment: each word is a path through its lattice of graphones (1 or 2 letters with 0, 1
//    or 2 phones; 2 letters with no phone is not allowed). Graphone probabilities start equal and
//    are re-estimated by expectation maximisation over all paths (forward-backward); each word
//    then takes its most probable path.
// 3. An n-gram model over the aligned graphone sequences (word start and end marks added),
//    interpolated modified Kneser-Ney (discounts for counts 1, 2 and 3 or more at each order),
//    turned into back-off form (the
//    back-off weight of a history is its interpolation weight). N-grams of order P (default 5)
//    and above seen fewer than K times are dropped.
// 4. The file (format in docs/lts.md), written to OUT.bin.tmp and renamed over OUT.bin.
//
// The result depends on the input and the options alone.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "lexicon/ltsmodel.h"
#include "lexicon/phoneset.h"
#include "tools/cli.h"

namespace {

// Letters: 1..26 for a..z, 27 for "'"; 0 for none.
constexpr int kLetterCodes = 28;
// Phones: 1..48 in inventory order; 0 for none.
constexpr int kPhoneCodes = 49;
constexpr int kKeys = kLetterCodes * kLetterCodes * kPhoneCodes * kPhoneCodes;
constexpr int kMaxLetters = vlm::kLtsMaxLetters;

int letterCode(char c) { return vlm::ltsLetterCode(static_cast<unsigned char>(c)); }
char letterOf(int code) { return code == 27 ? '\'' : static_cast<char>('a' + code - 1); }

struct Word {
  std::vector<int> letters;  // codes
  std::vector<int> phones;   // codes
  std::vector<int> keys;     // the aligned graphone keys
};

// The graphone key of letters [i, i + a) and phones [j, j + b).
inline int keyOf(const Word& w, int i, int a, int j, int b) {
  const int l1 = w.letters[i], l2 = a > 1 ? w.letters[i + 1] : 0;
  const int p1 = b > 0 ? w.phones[j] : 0, p2 = b > 1 ? w.phones[j + 1] : 0;
  return ((l1 * kLetterCodes + l2) * kPhoneCodes + p1) * kPhoneCodes + p2;
}

// How many letters the graphone key holds.
int key2Letters(int key) { return key / (kPhoneCodes * kPhoneCodes) % kLetterCodes ? 2 : 1; }

struct Step {
  int a, b;
};
// The chunk shapes a graphone may take; two letters with two phones only with --pairs.
Step kSteps[] = {{1, 0}, {1, 1}, {1, 2}, {2, 1}, {2, 2}};
int stepCount = 4;

// Forward-backward over one word's lattice; adds expected counts to counts. Returns false when
// the word has no path.
bool expect(const Word& w, const std::vector<double>& prob, std::vector<double>& counts,
            std::vector<double>& alpha, std::vector<double>& beta) {
  const int n = static_cast<int>(w.letters.size()), m = static_cast<int>(w.phones.size());
  const int cols = m + 1;
  alpha.assign((n + 1) * cols, 0.0);
  beta.assign((n + 1) * cols, 0.0);
  alpha[0] = 1.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= m; ++j) {
      const double a0 = alpha[i * cols + j];
      if (a0 == 0) continue;
      for (int t = 0; t < stepCount; ++t) {
        const Step& s = kSteps[t];
        if (i + s.a > n || j + s.b > m) continue;
        alpha[(i + s.a) * cols + j + s.b] += a0 * prob[keyOf(w, i, s.a, j, s.b)];
      }
    }
  const double total = alpha[n * cols + m];
  if (!(total > 0)) return false;
  beta[n * cols + m] = 1.0;
  for (int i = n - 1; i >= 0; --i)
    for (int j = m; j >= 0; --j) {
      double b0 = 0;
      for (int t = 0; t < stepCount; ++t) {
        const Step& s = kSteps[t];
        if (i + s.a > n || j + s.b > m) continue;
        b0 += prob[keyOf(w, i, s.a, j, s.b)] * beta[(i + s.a) * cols + j + s.b];
      }
      beta[i * cols + j] = b0;
    }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= m; ++j) {
      const double a0 = alpha[i * cols + j];
      if (a0 == 0) continue;
      for (int t = 0; t < stepCount; ++t) {
        const Step& s = kSteps[t];
        if (i + s.a > n || j + s.b > m) continue;
        const int k = keyOf(w, i, s.a, j, s.b);
        const double c = a0 * prob[k] * beta[(i + s.a) * cols + j + s.b] / total;
        if (c > 0) counts[k] += c;
      }
    }
  return true;
}

// The most probable path; fills w.keys.
bool viterbi(Word& w, const std::vector<double>& logProb) {
  const int n = static_cast<int>(w.letters.size()), m = static_cast<int>(w.phones.size());
  const int cols = m + 1;
  std::vector<double> best((n + 1) * cols, -1e300);
  std::vector<int> from((n + 1) * cols, -1);
  best[0] = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= m; ++j) {
      const double b0 = best[i * cols + j];
      if (b0 <= -1e299) continue;
      for (int s = 0; s < stepCount; ++s) {
        const Step& st = kSteps[s];
        if (i + st.a > n || j + st.b > m) continue;
        const double lp = logProb[keyOf(w, i, st.a, j, st.b)];
        if (lp <= -1e299) continue;
        const int to = (i + st.a) * cols + j + st.b;
        if (b0 + lp > best[to]) {
          best[to] = b0 + lp;
          from[to] = s;
        }
      }
    }
  if (best[n * cols + m] <= -1e299) return false;
  w.keys.clear();
  int i = n, j = m;
  while (i > 0 || j > 0) {
    const Step& st = kSteps[from[i * cols + j]];
    i -= st.a;
    j -= st.b;
    w.keys.push_back(keyOf(w, i, st.a, j, st.b));
  }
  std::reverse(w.keys.begin(), w.keys.end());
  return true;
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

constexpr const char* kUsage =
    "usage: ltstrain [--order N] [--min-count K] [--prune-from P] [--iterations I] [--min-graphone K]\n"
    "                [--candidates C] [--pairs] [--hold-out FILE]... IN.voc OUT.bin\n";
constexpr const char* kHelp =
    "Trains the letter-to-sound model from a .voc pronunciation dictionary.\n"
    "  --order N        n-gram order over graphones, 1 to 12 (default 7)\n"
    "  --min-count K    drop n-grams of order P and above seen fewer than K times (default 2)\n"
    "  --prune-from P   the lowest order --min-count applies to (default 5, at least 2)\n"
    "  --iterations I   alignment re-estimation passes (default 6)\n"
    "  --min-graphone K drop graphones expected fewer than K times after alignment (default 3)\n"
    "  --candidates C   graphones kept per letter in its neighbours' context, 1 to 255 (default 16)\n"
    "  --pairs          allow two letters with two phones as one graphone\n"
    "  --hold-out FILE  names (one per line) left out of training; may be repeated\n"
    "  --help, --version\n"
    "Exit status: 0 written, 1 a failure, 2 a usage error.\n"
    "Example: ltstrain data/fulldict.voc data/ltsmodel.bin\n";

void usage() {
  std::fputs(kUsage, stderr);
  std::fprintf(stderr, "(ltstrain --help lists the options)\n");
}

using Gram = std::u16string;  // graphone ids as 16-bit characters

struct GramStat {
  double count = 0;     // the count used at this order (raw, or continuation count)
  int raw = 0;          // times seen
  double logProb = 0;   // natural log of the smoothed probability
  double backOff = 0;   // natural log of the back-off weight as a history
  bool kept = true;
};

void putU16(std::string& out, unsigned v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>((v >> 8) & 0xff));
}
void putU32(std::string& out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xff));
}
void putVarint(std::string& out, uint32_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}
// Negative natural logs quantised to 1/1024, at most 63.99.
unsigned quantise(double logValue) {
  double v = -logValue * 1024.0;
  if (v < 0) v = 0;
  if (v > 65535) v = 65535;
  return static_cast<unsigned>(std::lround(v));
}

}  // namespace

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "ltstrain", (std::string(kUsage) + kHelp).c_str());
  int order = 7, minCount = 2, pruneFrom = 5, iterations = 6, minGraphone = 3, candidates = 16;
  std::vector<std::string> holdOutFiles, paths;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    // a whole number, or the usage error (status 2)
    auto number = [&](int* target) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ltstrain: %s needs a value\n", a.c_str());
        return false;
      }
      const char* text = argv[++i];
      char* end = nullptr;
      errno = 0;
      const long v = std::strtol(text, &end, 10);
      if (end == text || *end != 0 || errno != 0 || v < 0 || v > 1000000) {
        std::fprintf(stderr, "ltstrain: %s needs a whole number, not \"%s\"\n", a.c_str(), text);
        return false;
      }
      *target = static_cast<int>(v);
      return true;
    };
    if (a == "--order") {
      if (!number(&order)) return usage(), 2;
    } else if (a == "--min-count") {
      if (!number(&minCount)) return usage(), 2;
    } else if (a == "--iterations") {
      if (!number(&iterations)) return usage(), 2;
    } else if (a == "--prune-from") {
      if (!number(&pruneFrom)) return usage(), 2;
    } else if (a == "--min-graphone") {
      if (!number(&minGraphone)) return usage(), 2;
    } else if (a == "--candidates") {
      if (!number(&candidates)) return usage(), 2;
    } else if (a == "--pairs") {
      stepCount = 5;
    } else if (a == "--hold-out") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ltstrain: --hold-out needs a value\n");
        return usage(), 2;
      }
      holdOutFiles.push_back(argv[++i]);
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "ltstrain: unknown or incomplete option %s\n", a.c_str());
      usage();
      return 2;
    } else {
      paths.push_back(a);
    }
  }
  if (paths.size() != 2) {
    std::fprintf(stderr, "ltstrain: %s\n", paths.size() < 2 ? "needs the dictionary IN.voc and the model file OUT.bin"
                                                          : "takes one dictionary and one model file");
    usage();
    return 2;
  }
  if (order < 1 || order > 12 || minCount < 1 || pruneFrom < 2 || iterations < 0 || candidates < 1 || candidates > 255) {
    std::fprintf(stderr, "ltstrain: an option is out of range (--order 1 to 12, --min-count at least 1, "
                         "--prune-from at least 2, --candidates 1 to 255)\n");
    usage();
    return 2;
  }

  std::set<std::string> heldNames;
  for (const std::string& f : holdOutFiles) {
    std::ifstream in(f);
    if (!in) {
      std::fprintf(stderr, "ltstrain: cannot read %s\n", f.c_str());
      return 1;
    }
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string name;
      if (fields >> name && name[0] != '#') heldNames.insert(lower(name));
    }
  }

  // 1. Words.
  std::ifstream in(paths[0], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "ltstrain: cannot read %s\n", paths[0].c_str());
    return 1;
  }
  std::vector<Word> words;
  std::string line;
  long heldOut = 0, skipped = 0;
  std::set<std::string> heldWords;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, pron;
    if (!(fields >> name >> pron)) continue;
    Word w;
    bool ok = !name.empty() && name.size() <= static_cast<size_t>(kMaxLetters);
    for (char c : name) {
      const int code = letterCode(c);
      if (code < 0) ok = false;
      w.letters.push_back(code);
    }
    for (char c : pron) {
      const int p = vlm::phoneIndex(c);
      if (p <= 0) ok = false;  // not a phone, or silence
      w.phones.push_back(p + 1);
    }
    if (!ok) {
      ++skipped;
      continue;
    }
    if (vlm::isLtsHeldOutWord(name.c_str()) || heldNames.count(name)) {
      if (heldWords.insert(name).second) ++heldOut;
      continue;
    }
    words.push_back(std::move(w));
  }
  std::fprintf(stderr, "ltstrain: %zu pronunciations to train on; %ld words held out; %ld lines skipped\n",
               words.size(), heldOut, skipped);
  if (words.empty()) {
    std::fprintf(stderr, "ltstrain: nothing to train on in %s\n", paths[0].c_str());
    return 1;
  }

  // 2. Alignment by expectation maximisation.
  std::vector<double> prob(kKeys, 1.0), counts(kKeys), alpha, beta;
  for (int it = 0; it < iterations; ++it) {
    std::fill(counts.begin(), counts.end(), 0.0);
    long noPath = 0;
    for (const Word& w : words)
      if (!expect(w, prob, counts, alpha, beta)) ++noPath;
    double total = 0;
    for (double c : counts) total += c;
    for (int k = 0; k < kKeys; ++k) prob[k] = counts[k] / total;
    std::fprintf(stderr, "ltstrain: alignment pass %d of %d (%ld words without a path)\n", it + 1, iterations,
                 noPath);
  }
  // Rare graphones go; the rest are re-estimated once without them.
  if (minGraphone > 0) {
    long dropped = 0;
    for (int k = 0; k < kKeys; ++k)
      if (counts[k] > 0 && counts[k] < minGraphone) prob[k] = 0, ++dropped;
    std::fill(counts.begin(), counts.end(), 0.0);
    for (const Word& w : words) expect(w, prob, counts, alpha, beta);
    double total = 0;
    for (double c : counts) total += c;
    for (int k = 0; k < kKeys; ++k) prob[k] = counts[k] / total;
    std::fprintf(stderr, "ltstrain: %ld rare graphones dropped\n", dropped);
  }
  std::vector<double> logProb(kKeys);
  for (int k = 0; k < kKeys; ++k) logProb[k] = prob[k] > 0 ? std::log(prob[k]) : -1e300;
  std::vector<Word> aligned;
  for (Word& w : words)
    if (viterbi(w, logProb)) aligned.push_back(std::move(w));
  std::fprintf(stderr, "ltstrain: %zu pronunciations aligned\n", aligned.size());

  // Graphone ids: 0 word start, 1 word end, then the keys in key order.
  std::map<int, int> idOf;
  for (const Word& w : aligned)
    for (int k : w.keys) idOf[k] = 0;
  int nextId = 2;
  for (auto& entry : idOf) entry.second = nextId++;
  const int graphoneTotal = nextId;
  if (graphoneTotal > 32000) {
    std::fprintf(stderr, "ltstrain: too many graphones (%d)\n", graphoneTotal);
    return 1;
  }
  std::fprintf(stderr, "ltstrain: %d graphones\n", graphoneTotal - 2);

  // 3. N-gram counts (every order), then interpolated Kneser-Ney.
  std::vector<std::unordered_map<Gram, GramStat>> grams(order + 1);
  for (const Word& w : aligned) {
    Gram seq;
    seq.push_back(0);
    for (int k : w.keys) seq.push_back(static_cast<char16_t>(idOf[k]));
    seq.push_back(1);
    for (size_t end = 1; end < seq.size(); ++end)
      for (int n = 1; n <= order && static_cast<int>(end) - n + 1 >= 0; ++n) {
        if (n == 1 && end == 0) continue;
        grams[n][seq.substr(end + 1 - n, n)].raw++;
      }
  }
  // Word start as a unigram: never predicted, but a history with a back-off weight.
  grams[1][Gram(1, 0)];
  // Counts used: raw at the highest order and for n-grams that begin at the word start;
  // otherwise the number of distinct graphones seen before the n-gram.
  for (int n = 1; n <= order; ++n)
    for (auto& [g, s] : grams[n]) s.count = (n == order || g[0] == 0) ? s.raw : 0;
  for (int n = 2; n <= order; ++n)
    for (auto& [g, s] : grams[n]) {
      if (n - 1 < order && g[1] != 0) {
        auto it = grams[n - 1].find(g.substr(1));
        if (it != grams[n - 1].end() && it->first[0] != 0) it->second.count += 1;
      }
    }
  // Modified Kneser-Ney: three discounts per order, for counts 1, 2 and 3 or more.
  std::vector<std::array<double, 4>> discount(order + 1, {0.0, 0.5, 1.0, 1.5});
  auto discountOf = [&](int n, double count) {
    const int c = count >= 3 ? 3 : static_cast<int>(std::lround(count));
    return c <= 0 ? 0.0 : discount[n][c];
  };
  for (int n = 1; n <= order; ++n) {
    double k[5] = {};
    for (auto& [g, s] : grams[n])
      for (int c = 1; c <= 4; ++c)
        if (std::fabs(s.count - c) < 1e-9) ++k[c];
    if (k[1] > 0 && k[2] > 0 && k[3] > 0 && k[4] > 0) {
      const double y = k[1] / (k[1] + 2 * k[2]);
      discount[n] = {0.0, 1 - 2 * y * k[2] / k[1], 2 - 3 * y * k[3] / k[2], 3 - 4 * y * k[4] / k[3]};
      for (int c = 1; c <= 3; ++c) discount[n][c] = std::clamp(discount[n][c], 0.05, static_cast<double>(c));
    }
    std::fprintf(stderr, "ltstrain: order %d: %zu n-grams, discounts %.3f %.3f %.3f\n", n, grams[n].size(),
                 discount[n][1], discount[n][2], discount[n][3]);
  }
  // Per history: the sum of the counts of its continuations and the mass their discounts free.
  std::vector<std::unordered_map<Gram, std::pair<double, double>>> history(order + 1);
  for (int n = 1; n <= order; ++n)
    for (auto& [g, s] : grams[n]) {
      if (s.count <= 0) continue;
      auto& h = history[n][g.substr(0, n - 1)];
      h.first += s.count;
      h.second += discountOf(n, s.count);
    }
  const double uniform = 1.0 / (graphoneTotal - 1);  // every graphone but the word start
  for (int n = 1; n <= order; ++n) {
    for (auto& [g, s] : grams[n]) {
      const auto& h = history[n][g.substr(0, n - 1)];
      double lower = uniform;
      if (n > 1) lower = std::exp(grams[n - 1][g.substr(1)].logProb);
      if (h.first <= 0) {  // a history never continued at this order (the word start unigram)
        s.logProb = std::log(lower);
        continue;
      }
      const double gamma = h.second / h.first;
      const double p = std::max(s.count - discountOf(n, s.count), 0.0) / h.first + gamma * lower;
      s.logProb = std::log(p);
    }
    if (n > 1)
      for (auto& [g, s] : grams[n - 1]) {
        auto it = history[n].find(g);
        if (it != history[n].end()) s.backOff = std::log(it->second.second / it->second.first);
      }
  }
  // Word start is never predicted; it is a history only.
  long keptTotal = 0;
  for (int n = 1; n <= order; ++n)
    for (auto& [g, s] : grams[n]) {
      s.kept = n < pruneFrom || s.raw >= minCount;
      if (s.kept) ++keptTotal;
    }

  // 4. Nodes breadth first: node 0 the empty history; at each order, sorted by (parent, graphone).
  std::vector<std::vector<std::pair<Gram, GramStat*>>> levels(order + 1);
  std::unordered_map<Gram, int> nodeIndex;
  nodeIndex[Gram()] = 0;
  int nodes = 1;
  // Unigrams: every graphone, word start included (as a history), in id order.
  for (int g = 0; g < graphoneTotal; ++g) {
    Gram key(1, static_cast<char16_t>(g));
    auto it = grams[1].find(key);
    GramStat* s = it == grams[1].end() ? nullptr : &it->second;
    levels[1].push_back({key, s});
    nodeIndex[key] = nodes++;
  }
  for (int n = 2; n <= order; ++n) {
    std::vector<std::tuple<int, int, Gram, GramStat*>> sorted;
    for (auto& [g, s] : grams[n]) {
      if (!s.kept) continue;
      auto parent = nodeIndex.find(g.substr(0, n - 1));
      if (parent == nodeIndex.end()) continue;
      sorted.emplace_back(parent->second, g[n - 1], g, &s);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& x, const auto& y) { return std::tie(std::get<0>(x), std::get<1>(x)) < std::tie(std::get<0>(y), std::get<1>(y)); });
    for (auto& [parent, last, g, s] : sorted) {
      levels[n].push_back({g, s});
      nodeIndex[g] = nodes++;
    }
  }
  // Child counts per node, in node order.
  std::vector<int> children(nodes, 0);
  children[0] = graphoneTotal;
  for (int n = 2; n <= order; ++n)
    for (auto& [g, s] : levels[n]) children[nodeIndex[g.substr(0, n - 1)]]++;

  std::string out("VLMLTS01", 8);
  putU32(out, static_cast<uint32_t>(order));
  putU32(out, static_cast<uint32_t>(graphoneTotal));
  putU32(out, static_cast<uint32_t>(nodes));
  std::vector<std::pair<int, int>> byId(graphoneTotal, {-1, 0});
  for (auto& [key, id] : idOf) byId[id].first = key;
  for (int g = 0; g < graphoneTotal; ++g) {
    int key = byId[g].first;
    if (key < 0) {
      out.push_back(0);
      out.push_back(0);
      continue;
    }
    const int p2 = key % kPhoneCodes, p1 = key / kPhoneCodes % kPhoneCodes;
    const int l2 = key / (kPhoneCodes * kPhoneCodes) % kLetterCodes;
    const int l1 = key / (kPhoneCodes * kPhoneCodes * kLetterCodes);
    out.push_back(static_cast<char>(l2 ? 2 : 1));
    out.push_back(letterOf(l1));
    if (l2) out.push_back(letterOf(l2));
    const int pc = p1 ? (p2 ? 2 : 1) : 0;
    out.push_back(static_cast<char>(pc));
    if (p1) out.push_back(vlm::kPhoneInventory[p1 - 1]);
    if (p2) out.push_back(vlm::kPhoneInventory[p2 - 1]);
  }
  // Per node after the root, in node order: graphone (u16), -log p (u16, 1/1024), number of
  // children (varint), and when it has children -log back-off weight (u16).
  int nodeNumber = 1;
  for (int n = 1; n <= order; ++n)
    for (auto& [g, s] : levels[n]) {
      putU16(out, g[n - 1]);
      putU16(out, s ? quantise(s->logProb) : 65535);
      putVarint(out, static_cast<uint32_t>(children[nodeNumber]));
      if (children[nodeNumber] > 0) putU16(out, s ? quantise(s->backOff) : 0);
      ++nodeNumber;
    }
  // Candidate lists: per letter context, the graphones seen there in the alignments, most
  // frequent first, at most C of them: u32 number of lists, then per list u16 context, u8 count,
  // count u16 graphone ids.
  std::vector<std::map<int, int>> seen(vlm::kLtsLetterContexts);
  for (const Word& w : aligned) {
    const int n = static_cast<int>(w.letters.size());
    int p = 0;
    for (int k : w.keys) {
      const int before = p > 0 ? w.letters[p - 1] : 0, after = p + 1 < n ? w.letters[p + 1] : 0;
      seen[(before * vlm::kLtsLetterCodes + w.letters[p]) * vlm::kLtsLetterCodes + after][idOf[k]]++;
      p += key2Letters(k);
    }
  }
  int lists = 0;
  for (const auto& m : seen) lists += !m.empty();
  putU32(out, static_cast<uint32_t>(lists));
  long listed = 0;
  for (int c = 0; c < vlm::kLtsLetterContexts; ++c) {
    if (seen[c].empty()) continue;
    std::vector<std::pair<int, int>> byCount;
    for (auto [g, count] : seen[c]) byCount.push_back({-count, g});
    std::sort(byCount.begin(), byCount.end());
    if (static_cast<int>(byCount.size()) > candidates) byCount.resize(candidates);
    putU16(out, static_cast<unsigned>(c));
    out.push_back(static_cast<char>(byCount.size()));
    for (auto [count, g] : byCount) putU16(out, static_cast<unsigned>(g));
    listed += static_cast<long>(byCount.size());
  }
  std::fprintf(stderr, "ltstrain: %d letter contexts, %.1f candidates each\n", lists, lists ? double(listed) / lists : 0.0);
  std::fprintf(stderr, "ltstrain: %d nodes (%ld n-grams kept), %zu bytes\n", nodes, keptTotal, out.size());

  const std::string temporary = paths[1] + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    file.flush();
    if (!file) {
      std::fprintf(stderr, "ltstrain: cannot write %s\n", temporary.c_str());
      std::remove(temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), paths[1].c_str()) != 0) {
    std::fprintf(stderr, "ltstrain: cannot replace %s\n", paths[1].c_str());
    std::remove(temporary.c_str());
    return 1;
  }
  // The training tables are millions of small allocations; handing them back one by one through
  // the engine's pool allocator took many minutes of CPU after the file was written, so the
  // process ends here and leaves the memory to the system.
  std::fflush(stderr);
  std::_Exit(0);
}
