// The phone set tables, pronunciation validity, pel names and the readable letter form.
#define VLM_UNIT "phoneset"
#include "lexicon/phoneset.h"

#include <cstring>

namespace vlm {

const char kPhoneInventory[kPhoneCount + 1] = ".Eew@lnrsjbpkKAaYci:Oo0Uu8?LmMN~PRzSCZt+TDdvfghy";
const char kContextClasses[kContextClassCount + 1] = ".Eew@lnrsjbpk";
const char kGroupPhone[kPelGroupCount + 1] =
    ".EEEeeww@@llnnrrssjjbbppkkKKAAAaaYYccii::OOoo00UUUuu888???LLLmmMMMNNN~~PPPRRRzzSSCCCZZtt++TTDDddvvffgghhyy";

namespace {

// The per-byte tables follow from the group-phone string: a phone's group count is the number of
// groups it owns there, and its first pel is 13 times the position of its first group.
struct ByteTables {
  unsigned char groups[256];
  short firstPel[256];
};

constexpr ByteTables makeByteTables() {
  ByteTables t{};
  for (int b = 0; b < 256; ++b) {
    t.groups[b] = 0;
    t.firstPel[b] = -1;
  }
  constexpr const char groupPhone[] =
      ".EEEeeww@@llnnrrssjjbbppkkKKAAAaaYYccii::OOoo00UUUuu888???LLLmmMMMNNN~~PPPRRRzzSSCCCZZtt++TTDDddvvffgghhyy";
  for (int g = 0; groupPhone[g]; ++g) {
    unsigned char p = static_cast<unsigned char>(groupPhone[g]);
    if (t.groups[p] == 0) t.firstPel[p] = static_cast<short>(g * kPelsPerGroup);
    ++t.groups[p];
  }
  return t;
}

constexpr ByteTables kByteTables = makeByteTables();
static_assert(kByteTables.firstPel[static_cast<unsigned char>('y')] == 1352, "first pel of y");
static_assert(kByteTables.groups[static_cast<unsigned char>('E')] == 3, "groups of E");

char pelNameBuffer[4];

}  // namespace

const unsigned char kPhoneGroupCount[256] = {
#define VLM_G(b) kByteTables.groups[b]
#define VLM_G8(b) VLM_G(b), VLM_G(b + 1), VLM_G(b + 2), VLM_G(b + 3), VLM_G(b + 4), VLM_G(b + 5), VLM_G(b + 6), VLM_G(b + 7)
#define VLM_G64(b) VLM_G8(b), VLM_G8(b + 8), VLM_G8(b + 16), VLM_G8(b + 24), VLM_G8(b + 32), VLM_G8(b + 40), VLM_G8(b + 48), VLM_G8(b + 56)
    VLM_G64(0), VLM_G64(64), VLM_G64(128), VLM_G64(192)};

const short kPhoneFirstPel[256] = {
#define VLM_F(b) kByteTables.firstPel[b]
#define VLM_F8(b) VLM_F(b), VLM_F(b + 1), VLM_F(b + 2), VLM_F(b + 3), VLM_F(b + 4), VLM_F(b + 5), VLM_F(b + 6), VLM_F(b + 7)
#define VLM_F64(b) VLM_F8(b), VLM_F8(b + 8), VLM_F8(b + 16), VLM_F8(b + 24), VLM_F8(b + 32), VLM_F8(b + 40), VLM_F8(b + 48), VLM_F8(b + 56)
    VLM_F64(0), VLM_F64(64), VLM_F64(128), VLM_F64(192)};

int phoneIndex(int c) {
  if (!isPhone(c)) return -1;
  const char* p = std::strchr(kPhoneInventory, c);
  return p ? static_cast<int>(p - kPhoneInventory) : -1;
}

int isValidPron(const char* pron) {
  if (!pron || !*pron || *pron == kSilencePhone) return 0;
  const char* s = pron;
  for (; *s; ++s)
    if (!isPhone(*s)) return 0;
  return s[-1] == kSilencePhone ? 0 : 1;
}

char* pelIdToName(int pelId, char name[4]) {
  name[0] = name[1] = name[2] = '?';
  name[3] = 0;
  if (pelId < 0 || pelId >= kPelCount) return name;
  const char phone = kGroupPhone[pelId / kPelsPerGroup];
  const int offset = pelId - kPhoneFirstPel[static_cast<unsigned char>(phone)];
  name[0] = name[1] = name[2] = phone;
  if (offset < kPelsPerGroup) {
    name[0] = kContextClasses[offset];  // after left context class
  } else if (offset < 2 * kPelsPerGroup) {
    name[2] = kContextClasses[offset - kPelsPerGroup];  // before right context class
  }
  return name;
}

const char* pelIdToName(int pelId) { return pelIdToName(pelId, pelNameBuffer); }

char* pronToReadable(const char* pron, char* out, int room) {
  if (room < 1) return out;
  char* end = out + room - 1;
  char* o = out;
  auto put = [&](const char* text) {
    while (*text && o < end) *o++ = *text++;
  };
  for (const char* s = pron; s && *s && o < end; ++s) {
    const char c = *s;
    char one[2] = {c, 0};
    switch (c) {
      case 'C': put("CH"); break;
      case 'D': put("DH"); break;
      case 'L': put("@L"); break;
      case 'M': put("@m"); break;
      case 'N': put("@n"); break;
      case 'P': put("RR"); break;
      case 'S': put("SH"); break;
      case 'T': put("TH"); break;
      case 'Z': put("ZH"); break;
      case '?': put("OW"); break;
      case 'l': put("L"); break;
      case 'o':
        if (s[1] == 'E') {
          put("I");
          ++s;
        } else {
          put("o");
        }
        break;
      case ':': case '.': case '0': case '8': case '@': case 'A': case 'E': case 'O': case 'R':
      case 'U': case 'Y': case 'm': case 'n': case 'p': case 'y': case 'z': case '~':
        put(one);
        break;
      default:
        if ((c >= 'a' && c <= 'k') || (c >= 'r' && c <= 'w')) put(one);
        break;  // codes without a letter form ("K", "+", non-phones) are not shown
    }
  }
  *o = 0;
  return o;
}

char* readableToPron(const char* text, char* out, int room) {
  if (room < 1) return out;
  char* end = out + room - 1;
  char* o = out;
  for (const char* s = text; s && *s && o < end;) {
    const char c = s[0], n = s[1];
    if (c == 'R' && n == 'R') {
      *o++ = 'P';
      s += 2;
    } else if ((c == 'S' || c == 'T' || c == 'Z' || c == 'C' || c == 'D') && n == 'H') {
      *o++ = c;
      s += 2;
    } else if (c == 'O' && n == 'W') {
      *o++ = '?';
      s += 2;
    } else if (c == '@' && (n == 'L' || n == 'm' || n == 'n' || n == 'r')) {
      *o++ = n == 'L' ? 'L' : n == 'm' ? 'M' : n == 'n' ? 'N' : 'R';
      s += 2;
    } else if (c == 'I') {
      *o++ = 'o';
      if (o < end) *o++ = 'E';
      s += 1;
    } else if (c == 'L') {
      *o++ = 'l';
      s += 1;
    } else {
      *o++ = c;
      s += 1;
    }
  }
  *o = 0;
  return o;
}

namespace {

// Context classes of the phones as neighbours, indexed by inventory position. The 13 classes are
// the phones ".Eew@lnrsjbpk" (silence, front vowels, mid vowels, rounded/back, central, laterals,
// nasals, rhotics, fricatives, palato-alveolars, voiced stops, voiceless stops, velars). A
// diphthong affects the phone after it by its end and the phone before it by its start, so its
// class as a left neighbour can differ from its class as a right neighbour.
//                                      .  E  e  w  @  l  n  r  s  j  b  p  k  K  A  a  Y  c  i  :  O  o  0  U  u  8  ?  L  m  M  N  ~  P  R  z  S  C  Z  t  +  T  D  d  v  f  g  h  y
constexpr signed char kLeftClass[48] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 1, 2, 1, 4, 1, 4, 3, 4, 3, 3, 4, 3, 3, 5, 6, 6, 6, 6, 7, 7, 8, 9, 9, 9, 11, 11, 8, 8, 10, 8, 8, 12, 8, 1};
constexpr signed char kRightClass[48] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 2, 2, 1, 4, 1, 4, 3, 4, 3, 3, 4, 3, 4, 5, 6, 6, 6, 6, 7, 7, 8, 9, 9, 9, 11, 11, 8, 8, 10, 8, 8, 12, 8, 1};

}  // namespace

int phoneLeftClass(int phone) {
  int i = phoneIndex(phone);
  return i < 0 ? -1 : kLeftClass[i];
}

int phoneRightClass(int phone) {
  int i = phoneIndex(phone);
  return i < 0 ? -1 : kRightClass[i];
}

}  // namespace vlm
