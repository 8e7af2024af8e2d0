// The phone set: inventory tables, pronunciation validity, pel names and the readable form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lexicon/phoneset.h"

namespace {

using namespace vlm;

TEST(PhoneSet, TablesAgreeWithTheInventory) {
  ASSERT_EQ(std::strlen(kPhoneInventory), 48u);
  ASSERT_EQ(std::strlen(kGroupPhone), 106u);
  // First pels are consecutive in inventory order, 13 per group.
  int pel = 0;
  for (const char* p = kPhoneInventory; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    EXPECT_EQ(kPhoneFirstPel[c], pel) << *p;
    EXPECT_GE(kPhoneGroupCount[c], 1) << *p;
    EXPECT_LE(kPhoneGroupCount[c], 3) << *p;
    pel += 13 * kPhoneGroupCount[c];
  }
  EXPECT_EQ(pel, kPelCount);
  // A few rows of the published table.
  struct Row { char phone; int groups; int first; };
  for (Row r : {Row{'.', 1, 0}, Row{'E', 3, 13}, Row{'K', 2, 338}, Row{'A', 3, 364}, Row{'a', 2, 403},
                Row{'?', 3, 715}, Row{'M', 3, 819}, Row{'+', 2, 1144}, Row{'y', 2, 1352}}) {
    EXPECT_EQ(kPhoneGroupCount[static_cast<unsigned char>(r.phone)], r.groups) << r.phone;
    EXPECT_EQ(kPhoneFirstPel[static_cast<unsigned char>(r.phone)], r.first) << r.phone;
  }
  int phones = 0;
  for (int b = 0; b < 256; ++b) {
    if (kPhoneGroupCount[b]) ++phones;
    else EXPECT_EQ(kPhoneFirstPel[b], -1) << b;
  }
  EXPECT_EQ(phones, 48);
  EXPECT_STREQ(kContextClasses, ".Eew@lnrsjbpk");
  EXPECT_EQ(phoneIndex('.'), 0);
  EXPECT_EQ(phoneIndex('y'), 47);
  EXPECT_EQ(phoneIndex('x'), -1);
}

TEST(PhoneSet, IsValidPron) {
  struct Case { const char* pron; int valid; };
  for (Case c : {Case{"", 0}, Case{".", 0}, Case{".TrE", 0}, Case{"TrE.", 0}, Case{"Tr E", 0}, Case{"Trx", 0},
                 Case{"TrE\xe9", 0}, Case{"TrE", 1}, Case{"wun.tUw", 1}, Case{"a", 1}, Case{"T?zNd", 1},
                 Case{"+K~", 1}}) {
    EXPECT_EQ(isValidPron(c.pron), c.valid) << '"' << c.pron << '"';
  }
  EXPECT_EQ(isValidPron(nullptr), 0);
}

TEST(PhoneSet, PelIdToName) {
  struct Case { int id; const char* name; };
  for (Case c : {Case{0, "..."}, Case{12, "k.."}, Case{13, ".EE"}, Case{26, "EE."}, Case{38, "EEk"}, Case{39, "EEE"},
                 Case{51, "EEE"}, Case{52, ".ee"}, Case{1377, "yyk"}, Case{-1, "???"}, Case{1378, "???"}}) {
    char name[4];
    EXPECT_STREQ(pelIdToName(c.id, name), c.name) << c.id;
    EXPECT_STREQ(pelIdToName(c.id), c.name) << c.id;
  }
}

std::string readable(const char* pron, int room = 64) {
  char out[64];
  char* end = pronToReadable(pron, out, room);
  EXPECT_EQ(end, out + std::strlen(out));
  return out;
}

std::string phones(const char* text, int room = 64) {
  char out[64];
  char* end = readableToPron(text, out, room);
  EXPECT_EQ(end, out + std::strlen(out));
  return out;
}

TEST(PhoneSet, ReadableSpellingBothWays) {
  EXPECT_EQ(readable("SiT"), "SHiTH");
  EXPECT_EQ(phones("SHiTH"), "SiT");
  EXPECT_EQ(readable("oE"), "I");
  EXPECT_EQ(phones("I"), "oE");
  EXPECT_EQ(readable("foEv"), "fIv");
  EXPECT_EQ(readable("o"), "o");
  EXPECT_EQ(readable("T?zNd"), "THOWz@nd");
  EXPECT_EQ(readable("sPkMfleks"), "sRRk@mfLeks");
  EXPECT_EQ(readable("AC"), "ACH");
  EXPECT_EQ(readable("DZ"), "DHZH");
  EXPECT_EQ(readable("Kx+b"), "b");  // codes without a letter form are not shown
  // Every phone with a letter form reads back to itself.
  for (const char* p : {"T?zNd", "sPkMfleks", "kwesCN", "dubLyU", "bEi~", "zir0w", "astR:sk", "8r", "DZ", "eksklMASN"})
    EXPECT_EQ(phones(readable(p).c_str()), p) << p;
  EXPECT_EQ(phones("@r"), "R");
  EXPECT_EQ(phones("@"), "@");
  EXPECT_EQ(phones("R"), "R");
  EXPECT_EQ(phones("S"), "S");
}

TEST(PhoneSet, ReadableSpellingKeepsToTheRoom) {
  EXPECT_EQ(readable("SiT", 3), "SH");
  EXPECT_EQ(readable("SiT", 2), "S");  // a two-letter form is cut, never overrun
  EXPECT_EQ(readable("SiT", 1), "");
  EXPECT_EQ(phones("SHiTH", 3), "Si");
  EXPECT_EQ(phones("I", 2), "o");
  char guard[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(pronToReadable("SiT", guard, 0), guard);
  EXPECT_EQ(guard[0], 'x');
}

// Every phone has a context class on both sides; the 13 class phones stand for themselves, and a
// state count and base pel that agree with the pel numbering.
TEST(PhoneSet, ContextClassesAndStates) {
  const char* classPhones = ".Eew@lnrsjbpk";
  for (int k = 0; k < 13; k++) {
    EXPECT_EQ(phoneLeftClass(classPhones[k]), k) << classPhones[k];
    EXPECT_EQ(phoneRightClass(classPhones[k]), k) << classPhones[k];
  }
  for (const char* p = kPhoneInventory; *p; p++) {
    EXPECT_GE(phoneLeftClass(*p), *p == '.' ? 0 : 1) << *p;  // only silence is class 0
    EXPECT_LE(phoneLeftClass(*p), 12) << *p;
    EXPECT_GE(phoneRightClass(*p), *p == '.' ? 0 : 1) << *p;
    EXPECT_LE(phoneRightClass(*p), 12) << *p;
  }
  EXPECT_EQ(phoneLeftClass('x'), -1);
  EXPECT_EQ(phoneRightClass(' '), -1);
  EXPECT_EQ(phoneStateCount('.'), 1);
  EXPECT_EQ(phoneStateCount('A'), 3);
  EXPECT_EQ(phoneStateCount('t'), 2);
  EXPECT_EQ(phoneStateCount('x'), 0);
  EXPECT_EQ(phoneBasePel('y'), 1352);
}

}  // namespace
