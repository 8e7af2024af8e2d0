// Data-driven letter-to-sound: a joint-sequence model over graphones (a graphone pairs a chunk of
// one or two letters with a chunk of zero to two phones), trained from a pronunciation dictionary
// by tools/ltstrain, and a beam decoder that returns the most probable pronunciations of a word.
//
// The model is an n-gram over graphones with back-off: p(g | h) is stored for the n-grams kept in
// training; for any other graphone the context's back-off weight is added and the context is
// shortened by its oldest graphone. The decoder walks the word's letters left to right; a
// hypothesis is a model state (the longest stored history) with its score, and at each letter
// position only the best hypotheses (kLtsBeam, within kLtsBeamWidth of the best) are extended.
//
// File format ("ltsmodel.bin", little-endian), written by tools/ltstrain, described in
// docs/lts.md. The model is read once and used in place; decoding allocates nothing.
#pragma once
#include <cstdint>

namespace vlm {

// The file the shipped model is kept in (data/ltsmodel.bin), looked for in the current
// directory and then in the data directory.
constexpr const char* kLtsModelFileName = "ltsmodel.bin";

constexpr int kLtsMaxLetters = 48;        // longer words are left to the rules
constexpr int kLtsPronRoom = 2 * kLtsMaxLetters + 1;
constexpr int kLtsMaxAlternatives = 8;
constexpr int kLtsBeam = 8;               // hypotheses kept per letter position
constexpr float kLtsBeamWidth = 12.0f;    // natural-log distance from the best kept
// A second-best pronunciation is "close" when its probability is at least this share of the
// best one's; callers then offer it as an alternative record.
constexpr float kLtsCloseRatio = 0.5f;

// The words held out of training for measurement: those whose 32-bit FNV-1a hash of the name is
// 7 modulo 20 (one word in twenty). tools/ltstrain leaves them out and bench/lts measures on
// them, so the split is the same everywhere and depends on the name alone.
int isLtsHeldOutWord(const char* name);

// The letters a model knows and their codes: 1..26 for "a".."z", 27 for "'"; -1 for any other
// byte. Letter contexts (the letters before and after a position, 0 at the word's edges) are
// numbered (before * 28 + letter) * 28 + after.
constexpr int kLtsLetterCodes = 28;
constexpr int kLtsLetterContexts = kLtsLetterCodes * kLtsLetterCodes * kLtsLetterCodes;
inline int ltsLetterCode(int c) { return c >= 'a' && c <= 'z' ? c - 'a' + 1 : c == '\'' ? 27 : -1; }

// One pronunciation found by the decoder.
struct LtsPronunciation {
  char phones[kLtsPronRoom];
  float score;      // natural log of the joint probability of the letters and these phones
  float posterior;  // its share of the probability of all candidates returned
};

class LtsModel {
 public:
  LtsModel() = default;
  ~LtsModel();
  LtsModel(const LtsModel&) = delete;
  LtsModel& operator=(const LtsModel&) = delete;

  // Reads a model file. Returns 1, or 0 when the file cannot be read or is not a model (then
  // "letter-to-sound model unreadable: " and the path are logged, and the object stays empty).
  int readFile(const char* path);
  // The same from a file image in memory (length bytes); 1 or 0 as above, nothing logged.
  int readImage(const unsigned char* image, int64_t length);
  int isLoaded() const { return nodeCount > 0; }

  // 1 when every byte of word (length bytes) is a letter of the model's alphabet and the word
  // is 1..kLtsMaxLetters long. pronounce may still find no pronunciation (a letter that only
  // ever came after another one in training, such as "h" of "sh", cannot begin a graphone).
  int canPronounce(const char* word, int length) const;
  // Writes up to maxOut pronunciations of word into out, best first, distinct phone strings;
  // returns how many (0 when the word cannot be pronounced by the model).
  // Reads the model only, so several threads may call it at once.
  int pronounce(const char* word, int length, LtsPronunciation* out, int maxOut) const;

  int order() const { return modelOrder; }
  int graphoneCount() const { return graphones; }
  int stateCount() const { return nodeCount; }

 private:
  struct Hyp {
    int state;
    int back;     // index of the previous hypothesis in the trail, -1 at the start
    short graphone;
    float score;
  };

  void clear();
  // log p(graphone | state) with back-off; *next receives the state after it.
  float transition(int state, int graphone, int* next) const;
  int findChild(int node, int graphone) const;

  int modelOrder = 0;
  int graphones = 0;        // graphone ids 0 (word start) and 1 (word end) have no letters
  int nodeCount = 0;        // node 0 is the empty history; node 1 + g is the unigram g
  unsigned char* storage = nullptr;  // one block holding every table below

  // Graphones: letters and phones of id g at text + letterAt[g] / phoneAt[g], counts alongside.
  char* text = nullptr;
  int* letterAt = nullptr;
  int* phoneAt = nullptr;
  unsigned char* letterCount = nullptr;
  unsigned char* phoneCount = nullptr;
  // Graphones that begin with byte c: byLetter[byLetterStart[c] .. byLetterStart[c + 1]).
  int byLetterStart[257] = {};
  unsigned char knownLetter[256] = {};  // 1 for the letters of the model's graphones
  short* byLetter = nullptr;

  // Per letter context: the graphones to try there, candidate[candidateStart[c] ..
  // candidateStart[c + 1]).
  int* candidateStart = nullptr;
  short* candidate = nullptr;

  // Nodes (histories), breadth first: children of a node are contiguous and sorted by graphone.
  short* nodeGraphone = nullptr;
  float* nodeLogProb = nullptr;   // log p(last graphone | the node's history without it)
  float* nodeBackOff = nullptr;   // log back-off weight when the node is a history
  int* firstChild = nullptr;
  int* childCount = nullptr;
  int* backOffNode = nullptr;     // the node of the history without its oldest graphone
  int* nextState = nullptr;       // the state after taking this node's graphone

  // Decoding work space (on the stack of each call, so that threads may decode at once).
  static constexpr int kTrailRoom = (kLtsMaxLetters + 1) * kLtsBeam;
};

// The model every letter-to-sound translation uses, or null when the rules are to be used: read
// on first use from the path given to setLetterToSoundModel, else from $VELMORA_LTS (a model
// path, or "rules" for the rules), else from kLtsModelFileName in the current directory, else
// from it in the data directory. A missing file means the rules, silently; an unreadable one is
// logged once and the rules are used. The search happens once, under a lock: threads may
// translate at once.
LtsModel* letterToSoundModel();
// Chooses the translator: a model file path, or null for the rule-based translator. The model
// is read on the next use; the one read before is dropped, so no other thread may be translating
// while the choice changes.
void setLetterToSoundModel(const char* path);
// Forgets the choice so that the next use searches again (tests only).
void resetLetterToSoundForTest();

}  // namespace vlm
