// The speaker model: templates, generic models, the .usr file, the channel store and the scorer.
#define VLM_UNIT "user"
#include "models/user.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/channel.h"
#include "foundation/copystr.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "foundation/stdiox.h"
#include "models/distance.h"

namespace vlm {

User* User::usr = nullptr;

namespace {

// The first state of the alternative group, per group; -1 for groups without one.
// 23 (second group of p) -> 26 (first of K), 25 (second of k) -> 27 (second of K),
// 87 (second of t) -> 89 (second of +), 91 (second of T) -> 88 (first of +).
constexpr int16_t makeAlternativeEntry(int group) {
  switch (group) {
    case 23: return 26 * kPelsPerGroup;
    case 25: return 27 * kPelsPerGroup;
    case 87: return 89 * kPelsPerGroup;
    case 91: return 88 * kPelsPerGroup;
    default: return -1;
  }
}

struct AlternativeTable {
  int16_t v[kPelGroupCount];
  constexpr AlternativeTable() : v() {
    for (int g = 0; g < kPelGroupCount; ++g) v[g] = makeAlternativeEntry(g);
  }
};
constexpr AlternativeTable kAlternatives;

inline int16_t saturate16(int64_t v) {
  return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

}  // namespace

const int16_t User::alternativeGroupState[kPelGroupCount] = {
#define A(g) kAlternatives.v[g]
#define A10(b) A(b), A(b + 1), A(b + 2), A(b + 3), A(b + 4), A(b + 5), A(b + 6), A(b + 7), A(b + 8), A(b + 9)
    A10(0), A10(10), A10(20), A10(30), A10(40), A10(50), A10(60), A10(70), A10(80), A10(90),
    A(100), A(101), A(102), A(103), A(104), A(105)
#undef A10
#undef A
};

User::User() : models{}, genericModels{}, name{}, vtln(0) {}

User::~User() {
  if (usr == this) usr = nullptr;
}

// ---- Scoring ---------------------------------------------------------------------------------

namespace {
#if defined(VLM_DISTANCE_AVX2)
const bool kUseAvx2 = distance::avx2Supported();
#endif
}  // namespace

// The variants are in models/distance.cpp.
int User::rudePelScore(const int16_t* m, const int16_t* f) {
#if defined(VLM_DISTANCE_AVX2)
  if (kUseAvx2) return distance::avx2(m, f);
#endif
  return distance::portable(m, f);
}

int User::pelScorePrim(short state, const Frame* frame) {
  const User* user = usr;
  if (!user || !frame) return kUnreachableScore;
  if (static_cast<unsigned>(state) >= static_cast<unsigned>(kPelCount)) {
    VLM_ASSERT(0, "state >= 0 && state < 1378");
    return kUnreachableScore;
  }
  int d = rudePelScore(user->models[state], frame->features);
  const int alt = kAlternatives.v[state / kPelsPerGroup];
  if (alt >= 0) {
    const int d2 = rudePelScore(user->models[alt + state % kPelsPerGroup], frame->features);
    if (d2 < d) d = d2;
  }
  return (d + 24) >> 4;
}

// ---- Generic models and settings -------------------------------------------------------------

// Sums are kept in 32 bits (13 values of 16 bits cannot overflow them), so the mean of any
// group is exact and itself within 16 bits.
void User::initGenericModels() {
  for (int g = 0; g < kPelGroupCount; ++g) {
    for (int i = 0; i < kFrameFeatures; ++i) {
      int32_t sum = 0;
      for (int k = 0; k < kPelsPerGroup; ++k) sum += models[g * kPelsPerGroup + k][i];
      genericModels[g][i] = static_cast<int16_t>(sum / kPelsPerGroup);
    }
  }
}

void User::stampSettings() {
  models[kSettingsState][0] = kSettingsMarker;
  models[kSettingsState][1] = saturate16(vtln);
}

void User::getChanCepMnDel(const WavChannel* channel) {
  if (!channel) return;
  int16_t* store = models[kChannelStoreState];
  const int32_t* norm = channel->cepstralNormaliser();
  for (int i = 0; i < kStaticFeatures; ++i) store[i] = saturate16(norm[i]);
  store[kStoreDcOffset] = saturate16(channel->dcOffset());
  store[kStoreNoiseFloor] = saturate16(static_cast<int64_t>(channel->noiseFloor()) * 9 / 10);
  store[kStoreSpeechPeak] = saturate16(static_cast<int64_t>(channel->speechPeak()) * 9 / 10);
}

void User::setChanCepMnDel(WavChannel* channel) const {
  if (!channel) return;
  const int16_t* store = models[kChannelStoreState];
  channel->clearNormaliser();
  int32_t norm[kStaticFeatures];
  for (int i = 0; i < kStaticFeatures; ++i) norm[i] = store[i];
  channel->setCepstralNormaliser(norm);
  channel->setDcOffset(store[kStoreDcOffset]);
  channel->setNoiseFloor(store[kStoreNoiseFloor]);
  channel->setSpeechPeak(store[kStoreSpeechPeak]);
}

// ---- Reading ---------------------------------------------------------------------------------

namespace {

constexpr int kMaxTokens = kFrameFeatures + 1;   // the 34 values and the token after them

// Splits line into tokens at runs of blanks and tabs, in place; a backslash makes the next
// character part of the token. Keeps the first `room` tokens; returns how many there are in all.
int tokenize(char* line, char** tokens, int room) {
  char* in = line;
  int count = 0;
  while (*in == ' ' || *in == '\t' || *in == '\r' || *in == '\n') ++in;
  while (*in) {
    char* out = in;
    char* start = out;
    while (*in && *in != ' ' && *in != '\t') {
      if (*in == '\\' && in[1]) ++in;
      *out++ = *in++;
    }
    const bool more = *in != 0;
    if (more) ++in;
    *out = 0;
    if (count < room) tokens[count] = start;
    ++count;
    while (*in == ' ' || *in == '\t') ++in;
    if (!more) break;
  }
  return count;
}

// A decimal whole number with an optional sign and nothing else; 1 and the value, else 0.
int parseWhole(const char* token, long* value) {
  const char* p = token;
  if (*p == '+' || *p == '-') ++p;
  if (*p < '0' || *p > '9') return 0;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(token, &end, 10);
  if (*end != 0 || errno == ERANGE) return 0;
  *value = v;
  return 1;
}

int looksNumeric(const char* token) {
  long v;
  return parseWhole(token, &v);
}

// "Speaker model file <path>, line <n>: <reason>" in the speech log.
void logReject(const char* path, int line, const char* reason) {
  char message[512];
  if (line > 0)
    sPrint(message, sizeof message, "Speaker model file %s, line %d: ", path, line);
  else
    sPrint(message, sizeof message, "Speaker model file %s: ", path);
  logError(message, reason);
}

// The parse of a whole file, kept apart from the User until it has succeeded.
struct UsrParse {
  int16_t models[kPelCount][kFrameFeatures];
  int32_t vtln;
};

}  // namespace

int User::readFile(const char* path) {
  if (!path || !*path) {
    logError("Speaker model file: no file name given");
    return 0;
  }
  // A FIFO or device is refused at once (it would block, or never end).
  const int fd = openRegularFile(path);
  if (fd < 0) {
    const int error = errno;
    char reason[160];
    sPrint(reason, sizeof reason, "cannot be opened: %s", openFailureText(error));
    logReject(path, 0, reason);
    return 0;
  }
  UsrParse* parse = new (std::nothrow) UsrParse{};
  // One more byte than the longest accepted line, so that a longer line is recognised.
  char* line = new (std::nothrow) char[kUsrLineRoom + 1];
  if (!parse || !line) {
    delete parse;
    delete[] line;
    close(fd);
    logReject(path, 0, "out of memory");
    return 0;
  }

  char reason[200];
  reason[0] = 0;
  int failedLine = 0;
  int lineNumber = 0;
  int templates = 0;
  char* tokens[kMaxTokens];

  while (templates < kPelCount && fGets(fd, line, kUsrLineRoom + 1)) {
    ++lineNumber;
    if (static_cast<int>(std::strlen(line)) >= kUsrLineRoom) {
      sPrint(reason, sizeof reason, "the line is longer than %d characters", kUsrLineRoom - 1);
      failedLine = lineNumber;
      break;
    }
    const int n = tokenize(line, tokens, kMaxTokens);
    if (n == 0) continue;
    if (n == 2 && std::strncmp(tokens[0], "vtln", 4) == 0) {
      long v;
      if (!parseWhole(tokens[1], &v) || v < -2147483647L - 1 || v > 2147483647L) {
        sPrint(reason, sizeof reason, "the warp bin \"%s\" is not a whole number", tokens[1]);
        failedLine = lineNumber;
        break;
      }
      parse->vtln = static_cast<int32_t>(v);
      continue;
    }
    if (n < kFrameFeatures) {
      // Text lines are allowed; a line of numbers this short is a damaged template.
      if (looksNumeric(tokens[0])) {
        sPrint(reason, sizeof reason, "a template line with %d values instead of %d", n,
               kFrameFeatures);
        failedLine = lineNumber;
        break;
      }
      continue;
    }
    if (n > kFrameFeatures && looksNumeric(tokens[kFrameFeatures])) {
      sPrint(reason, sizeof reason, "a template line with more than %d values", kFrameFeatures);
      failedLine = lineNumber;
      break;
    }
    int16_t* model = parse->models[templates];
    for (int i = 0; i < kFrameFeatures; ++i) {
      long v;
      if (!parseWhole(tokens[i], &v)) {
        sPrint(reason, sizeof reason, "value %d (\"%s\") is not a whole number", i + 1, tokens[i]);
        break;
      }
      if (v < -32768 || v > 32767) {
        sPrint(reason, sizeof reason, "value %d (%s) is outside -32768..32767", i + 1, tokens[i]);
        break;
      }
      model[i] = static_cast<int16_t>(v);
    }
    if (reason[0]) {
      failedLine = lineNumber;
      break;
    }
    ++templates;
  }
  close(fd);

  if (!reason[0] && templates < kPelCount)
    sPrint(reason, sizeof reason, "holds %d templates instead of %d", templates, kPelCount);
  if (reason[0]) {
    logReject(path, failedLine, reason);
    delete parse;
    delete[] line;
    return 0;
  }

  std::memcpy(models, parse->models, sizeof models);
  vtln = parse->vtln;
  if (std::strlen(path) < sizeof name) copyString(name, path, sizeof name);
  else name[0] = 0;
  delete parse;
  delete[] line;
  usr = this;
  initGenericModels();
  if (vtln == 0) vtln = models[kSettingsState][1];
  return 1;
}

// ---- Writing ---------------------------------------------------------------------------------

namespace {

class UsrWriter {
 public:
  explicit UsrWriter(int fd) : fd(fd) {}
  void put(const char* text) {
    while (*text) put(*text++);
  }
  void put(char c) {
    if (used == static_cast<int>(sizeof buffer)) flush();
    buffer[used++] = c;
  }
  void putNumber(long v) {
    char digits[24];
    longToAscii(v, digits, sizeof digits);
    put(digits);
  }
  void flush() {
    int done = 0;
    while (!failed && done < used) {
      const ssize_t n = write(fd, buffer + done, used - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) failed = true;
      else done += static_cast<int>(n);
    }
    used = 0;
  }
  bool failed = false;

 private:
  int fd;
  int used = 0;
  char buffer[16384];
};

}  // namespace

int User::writeFd(int fd) {
  stampSettings();
  UsrWriter* out = new (std::nothrow) UsrWriter(fd);
  if (out == nullptr) return 0;
  out->put("vtln ");
  out->putNumber(vtln);
  out->put('\n');
  for (int s = 0; s < kPelCount; ++s) {
    for (int i = 0; i < kFrameFeatures; ++i) {
      out->putNumber(models[s][i]);
      out->put(' ');
    }
    out->put(" // ");
    out->put(kGroupPhone[s / kPelsPerGroup]);
    out->put('\n');
  }
  out->flush();
  const bool ok = !out->failed;
  delete out;
  return ok ? 1 : 0;
}

int User::writeFile(const char* path) {
  if (!path) path = name;
  if (!*path) {
    logError("Speaker model file: no file name to write to");
    return 0;
  }
  SafeFile file;
  if (file.open(path)) {
    if (!writeFd(file.handle())) file.noteWriteFailure(errno);
    if (file.commit()) return 1;
  }
  char reason[600];
  sPrint(reason, sizeof reason, "%s; the previous file is kept", file.reason());
  logReject(path, 0, reason);
  return 0;
}

// ---- Test helpers ----------------------------------------------------------------------------

// Each state's number, bit by bit, as +step or -step in features 10..20 and again in 21..31:
// two states differ in at least one bit, that is by 2 * step in two features.
void User::makeSeparated() {
  static_assert(10 + 11 * kSeparatedCopies <= kFrameFeatures, "the state code must fit");
  static_assert((1 << 11) >= kPelCount, "11 bits number every state");
  for (int s = 0; s < kPelCount; ++s) {
    int16_t* m = models[s];
    for (int i = 0; i < kFrameFeatures; ++i) m[i] = 0;
    for (int copy = 0; copy < kSeparatedCopies; ++copy)
      for (int b = 0; b < 11; ++b)
        m[10 + copy * 11 + b] = static_cast<int16_t>((s >> b) & 1 ? kSeparatedStep : -kSeparatedStep);
  }
  vtln = kNeutralWarpBin;
  name[0] = 0;
  initGenericModels();
}

int User::templateFrame(short state, Frame* frame) const {
  if (!frame || static_cast<unsigned>(state) >= static_cast<unsigned>(kPelCount)) return 0;
  frame->power = 0;
  std::memcpy(frame->features, models[state], sizeof frame->features);
  return 1;
}

int User::makeChainFrames(const short* states, const int* repeats, int count, Frame* frames,
                          int room) const {
  if (count < 0 || (count > 0 && (!states || !repeats))) return -1;
  long total = 0;
  for (int i = 0; i < count; ++i) {
    if (static_cast<unsigned>(states[i]) >= static_cast<unsigned>(kPelCount) || repeats[i] < 0)
      return -1;
    total += repeats[i];
  }
  if (total > room || (total > 0 && !frames)) return -1;
  int n = 0;
  for (int i = 0; i < count; ++i)
    for (int r = 0; r < repeats[i]; ++r) templateFrame(states[i], &frames[n++]);
  return n;
}

// ---- The phone loop tables -------------------------------------------------------------------

GenericPelStatics::GenericPelStatics() : startList(kPhoneCount) {
  for (int g = 0; g < kPelGroupCount; ++g) {
    pels[g].score = kUnreachableScore;
    pels[g].genericPel = static_cast<int16_t>(g);
    pels[g].active = 0;
    pels[g].exit = 0;
  }
  pels[0].exit = 1;
  for (const char* p = kPhoneInventory + 1; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const int g = kPhoneFirstPel[c] / kPelsPerGroup;
    startList.add(&pels[g]);
    if (kPhoneGroupCount[c] == 3) {
      // Groups are stored first, last, middle; the chain runs first, middle, last.
      pels[g + 1].genericPel = static_cast<int16_t>(g + 2);
      pels[g + 2].genericPel = static_cast<int16_t>(g + 1);
      pels[g + 2].exit = 1;
    } else {
      pels[g + 1].exit = 1;
    }
  }
}

GenericPelStatics& GenericPelStatics::instance() {
  static GenericPelStatics statics;
  return statics;
}

void GenPel::reInit() {
  GenPel* pels = GenericPelStatics::instance().pels;
  for (int g = 1; g < kPelGroupCount; ++g) {
    pels[g].score = kUnreachableScore;
    pels[g].active = 0;
  }
  pels[0].score = 0;
  pels[0].active = 1;
}

}  // namespace vlm
