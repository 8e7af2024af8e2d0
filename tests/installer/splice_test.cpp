// splicer's merge of the command lists, and strider's name list.
#include <gtest/gtest.h>

#include "apps/installer/splice.h"
#include "fixture.h"

using namespace vlm;
using itest::Scratch;

namespace {

const char* kDefaultsTsv =
    "startWord\tendWord\tpath\t\nSwitch To\tBrowser\t/usr/bin/firefox-esr\nSwitch To\tTerminal\t/usr/bin/gnome-terminal\n";
const char* kDefaultsVoc = "browser\tbr?zR\t0\nswitch\tswiC\t0\nterminal\ttPm:nL\t0\nto\ttU\t0\n";

}  // namespace

TEST(Splicer, UserEntriesWinNewDefaultsAreAdded) {
  Scratch dir("splice");
  itest::writeFile(dir.file("command.tsv"), kDefaultsTsv);
  itest::writeFile(dir.file("command.voc"), kDefaultsVoc);
  // The user changed the browser's program, added an own command, trained "terminal".
  itest::writeFile(dir.file("cmdce.tsv"),
                   "startWord\tendWord\tpath\t\nswitch to\tbrowser\t/usr/bin/chromium\nSwitch To\tBanjo\t/opt/banjo\n");
  itest::writeFile(dir.file("cmdce.voc"), "banjo\tbanjO\t0\nterminal\ttPmnL\t0\n");
  std::string error;
  ASSERT_TRUE(spliceCommands(dir.path, "cmdce", &error)) << error;
  const std::string tsv = itest::readFile(dir.file("command.tsv"));
  EXPECT_TRUE(itest::has(tsv, "switch to\tbrowser\t/usr/bin/chromium\n")) << tsv;
  EXPECT_FALSE(itest::has(tsv, "firefox")) << tsv;
  EXPECT_TRUE(itest::has(tsv, "Switch To\tBanjo\t/opt/banjo\n")) << tsv;
  EXPECT_TRUE(itest::has(tsv, "Switch To\tTerminal\t/usr/bin/gnome-terminal\n")) << tsv;
  // Sorted by start, then end word (without regard to case).
  EXPECT_LT(tsv.find("Banjo"), tsv.find("browser"));
  EXPECT_LT(tsv.find("browser"), tsv.find("Terminal"));
  const std::string voc = itest::readFile(dir.file("command.voc"));
  EXPECT_EQ(voc, "banjo\tbanjO\t0\nbrowser\tbr?zR\t0\nswitch\tswiC\t0\nterminal\ttPmnL\t0\nto\ttU\t0\n");
  // The defaults are kept apart.
  EXPECT_EQ(itest::readFile(dir.file("cmddef.tsv")), kDefaultsTsv);
  EXPECT_EQ(itest::readFile(dir.file("cmddef.voc")), kDefaultsVoc);

  // The next device, without commands of its own, gets the defaults, not this user's commands.
  std::filesystem::remove(dir.file("cmdce.tsv"));
  std::filesystem::remove(dir.file("cmdce.voc"));
  ASSERT_TRUE(spliceCommands(dir.path, "cmdce", &error)) << error;
  EXPECT_FALSE(itest::has(itest::readFile(dir.file("command.tsv")), "Banjo"));
  EXPECT_EQ(itest::readFile(dir.file("command.voc")), kDefaultsVoc);
}

TEST(Splicer, AFailureReplacesNothing) {
  Scratch dir("splice-fail");
  std::string error;
  EXPECT_FALSE(spliceCommands(dir.path, "cmdce", &error));   // no command list at all
  EXPECT_TRUE(itest::has(error, "command.tsv")) << error;
  itest::writeFile(dir.file("command.tsv"), kDefaultsTsv);
  itest::writeFile(dir.file("command.voc"), kDefaultsVoc);
  std::filesystem::create_directory(dir.file("cmdce.voc"));   // unreadable: a folder
  itest::writeFile(dir.file("cmdce.tsv"), "startWord\tendWord\t\nSwitch To\tBanjo\n");
  EXPECT_FALSE(spliceCommands(dir.path, "cmdce", &error));
  EXPECT_EQ(itest::readFile(dir.file("command.tsv")), kDefaultsTsv);
  EXPECT_FALSE(itest::leftTemporary(dir.path));
}

TEST(Strider, ListsTheWordsOfContactNamesOnce) {
  Scratch dir("strider");
  itest::writeFile(dir.file("contacts.vcf"),
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Tarnowicz;Marcus;;;\r\nORG:Northwind Traders\r\nEND:VCARD\r\n"
                   "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nEND:VCARD\r\n");
  itest::writeFile(dir.file("friends.tsv"), "firstName\tlastName\t\nAnn\tOkonkwo\nMarcus\tTarnowicz\n");
  itest::writeFile(dir.file("command.tsv"), "startWord\tendWord\t\nSwitch To\tBanjo\n");
  EXPECT_EQ(contactNameList(dir.path), "Marcus\nTarnowicz\nNorthwind Traders\nAnn\nLee\nOkonkwo\n");
  Scratch empty("strider-empty");
  EXPECT_EQ(contactNameList(empty.path), "");
}
