// The address book's vCards: versions 2.1, 3.0 and 4.0, folding, escapes, quoted-printable,
// charsets, the field map, bad cards, and the save that removes deleted cards only.
#include <gtest/gtest.h>

#include "apps/namefind/vcard.h"
#include "fixture.h"

using namespace vlm;
using nftest::DataDir;

namespace {

const char* const kThree =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;May;Dr;\r\nFN:Ann Lee\r\nORG:Lumen Optics;Research\r\n"
    "TEL;TYPE=WORK,VOICE:555-0102\r\nTEL;TYPE=work:555-0104\r\nTEL;TYPE=HOME:555-0101\r\nTEL;TYPE=CELL:555-0103\r\n"
    "TEL;TYPE=work,fax:555-0109\r\nEMAIL;TYPE=INTERNET:ann@example.com\r\n"
    "ADR;TYPE=HOME:;;12 Orchard Lane;Springfield;IL;62704;United States\r\n"
    "ADR;TYPE=WORK:;;1 Plaza;Lyon;;;France\r\nNOTE:two\\nlines\\, with a comma\r\nX-UNKNOWN;FOO=bar:ignored\r\n"
    "BDAY:1979-03-14\r\nEND:VCARD\r\n";

}  // namespace

TEST(VCard, FieldMapOfVersion3) {
  TsvStore s;
  VCardFile f;
  f.loadText(kThree, &s);
  ASSERT_EQ(s.entries.size(), 1u);
  const Row& r = s.rows[0];
  EXPECT_EQ(s.entries[0].first, "Ann");
  EXPECT_EQ(s.entries[0].second, "Lee");
  EXPECT_EQ(s.entries[0].third, "Lumen Optics");
  EXPECT_EQ(r.text(eColNickName), "May");
  EXPECT_EQ(r.text(27), "Research");
  EXPECT_EQ(r.text(7), "555-0102");
  EXPECT_EQ(r.text(9), "555-0104");
  EXPECT_EQ(r.text(3), "555-0101");
  EXPECT_EQ(r.text(12), "555-0103");
  EXPECT_EQ(r.text(11), "555-0109");
  EXPECT_EQ(r.text(17), "ann@example.com");
  EXPECT_EQ(r.text(19), "12 Orchard Lane");
  EXPECT_EQ(r.text(20), "Springfield");
  EXPECT_EQ(r.text(23), "USA");      // "United States" becomes "USA"
  EXPECT_EQ(r.text(32), "France");   // any other country stays
  EXPECT_EQ(r.text(eColNotes), "two\nlines, with a comma");
  EXPECT_EQ(r.text(40), "1979-03-14");
}

TEST(VCard, VersionsFoldingEncodings) {
  struct Case {
    const char* what;
    std::string text;
    const char* first;
    const char* last;
    int column;
    const char* value;
  } cases[] = {
      {"2.1 quoted-printable, Latin-1", "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=F6rg\n"
       "TEL;WORK;VOICE:555-1\nNOTE;ENCODING=QUOTED-PRINTABLE:one=0D=0Atwo =\nthree\nEND:VCARD\n",
       "J\xf6rg", "M\xfcller", eColNotes, "one\r\ntwo three"},
      {"3.0 folded inside a UTF-8 character", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:M\xc3\r\n \xbcller;J\xc3\xb6rg\r\nEND:VCARD\r\n",
       "J\xf6rg", "M\xfcller", eColLastName, "M\xfcller"},
      {"4.0 with tel: URIs and quoted parameters", "BEGIN:VCARD\nVERSION:4.0\nN:Yu;Bo;;;\n"
       "TEL;VALUE=uri;TYPE=\"cell,voice\":tel:+1-555-0103\nEND:VCARD\n", "Bo", "Yu", 12, "+1-555-0103"},
      {"characters beyond Latin-1", "BEGIN:VCARD\nVERSION:4.0\nN:\xe6\x9d\x8e;Wei\nEND:VCARD\n", "Wei", "?", eColLastName, "?"},
      {"a formatted name only", "BEGIN:VCARD\nVERSION:3.0\nFN:Madonna\nEND:VCARD\n", "Madonna", "", eColFirstName, "Madonna"},
      {"grouped properties", "BEGIN:VCARD\nN:Yu;Bo\nitem1.EMAIL:bo@example.com\nEND:VCARD\n", "Bo", "Yu", 17, "bo@example.com"},
  };
  for (const Case& c : cases) {
    TsvStore s;
    VCardFile f;
    f.loadText(c.text, &s);
    ASSERT_EQ(s.entries.size(), 1u) << c.what;
    EXPECT_EQ(s.entries[0].first, c.first) << c.what;
    EXPECT_EQ(s.entries[0].second, c.last) << c.what;
    EXPECT_EQ(s.rows[0].text(c.column), c.value) << c.what;
  }
}

TEST(VCard, BadCardsNeitherCrashNorLoseCards) {
  struct Case {
    const char* what;
    std::string text;
    size_t cards;
  } cases[] = {
      {"truncated inside a card", "BEGIN:VCARD\nN:Lee;Ann\nTEL:55", 1},
      {"truncated inside a quoted-printable escape", "BEGIN:VCARD\nNOTE;ENCODING=QUOTED-PRINTABLE:a=F", 1},
      {"a card without its end before the next", "BEGIN:VCARD\nN:A;B\nBEGIN:VCARD\nN:C;D\nEND:VCARD\n", 2},
      {"lines without a colon and binary bytes", std::string("BEGIN:VCARD\nnonsense\n\x01\xff\0:\nN:;;\nEND:VCARD\n", 41), 1},
      {"text outside cards", "hello\nEND:VCARD\nBEGIN:VCARD\nN:A;B\nEND:VCARD\ntrailing", 1},
      {"empty", "", 0},
  };
  for (const Case& c : cases) {
    TsvStore s;
    VCardFile f;
    f.loadText(c.text, &s);
    EXPECT_EQ(s.entries.size(), c.cards) << c.what;
    EXPECT_EQ(f.textWithout(s), c.text) << c.what;   // nothing deleted: the same bytes
  }
}

TEST(VCard, SavingRemovesOnlyDeletedCards) {
  DataDir dir("vcard-save");
  const std::string second = "BEGIN:VCARD\nVERSION:2.1\nN:Yu;Bo\nX-KEEP;odd=params:kept as is\nEND:VCARD\n";
  const std::string text = std::string(kThree) + "junk between\n" + second;
  nftest::writeFile(dir.file("contacts.vcf"), text);
  TsvStore s;
  VCardFile f;
  ASSERT_TRUE(f.load(dir.file("contacts.vcf"), &s));
  ASSERT_EQ(s.entries.size(), 2u);
  ASSERT_TRUE(f.save(dir.file("contacts.vcf"), s));
  EXPECT_EQ(nftest::readFile(dir.file("contacts.vcf")), text);
  s.remove(0);
  // A target that cannot be replaced (a folder) is left alone.
  mkdir(dir.file("folder.vcf").c_str(), 0700);
  EXPECT_FALSE(f.save(dir.file("folder.vcf"), s));
  EXPECT_EQ(nftest::readFile(dir.file("contacts.vcf")), text);
  ASSERT_TRUE(f.save(dir.file("contacts.vcf"), s));
  EXPECT_EQ(nftest::readFile(dir.file("contacts.vcf")), "junk between\n" + second);
  TsvStore none;
  VCardFile missing;
  EXPECT_FALSE(missing.load(dir.file("absent.vcf"), &none));
}
