// namefind.cfg: reading, the text written, and the safe write.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "apps/namefind/config.h"
#include "fixture.h"
#include "search/recognizer.h"

using namespace vlm;
using nftest::DataDir;

namespace {

// Restores the search's thresholds that reading a configuration may change.
struct KeepSearchThresholds {
  KeepSearchThresholds() : prune(pruneThresh), wordEnd(wordEndBeam) {}
  ~KeepSearchThresholds() {
    setPruneThresh(prune);
    setWordEndBeam(wordEnd);
  }
  int prune, wordEnd;
};

struct Read {
  NamefindState state;
  int valid = 0;
};

Read readText(const DataDir& dir, const std::string& text) {
  nftest::writeFile(dir.file("namefind.cfg"), text);
  Read r;
  r.state.dataDir = dir.dir();
  r.valid = readConfig(dir.file("namefind.cfg"), &r.state);
  return r;
}

}  // namespace

TEST(NamefindConfig, ReadsTheFilesAndDerivesTheVocabulary) {
  DataDir dir("cfg-valid");
  Read r = readText(dir, "u:tester.usr\nt:demo.tsv\n");
  EXPECT_EQ(r.valid, 1);
  EXPECT_EQ(r.state.userFilePath, dir.file("tester.usr"));
  EXPECT_EQ(r.state.contactsFilePath, dir.file("demo.tsv"));
  EXPECT_EQ(r.state.contactsVocPath, dir.file("demo.voc"));
}

TEST(NamefindConfig, ValidOnlyWithUserAndContacts) {
  DataDir dir("cfg-invalid");
  EXPECT_EQ(readText(dir, "u:tester.usr\np1:9\n").valid, 0);   // no "t:"
  EXPECT_EQ(readText(dir, "t:demo.tsv\n").valid, 0);           // no "u:"
  EXPECT_EQ(readText(dir, "").valid, 0);
  // Names that are not plain names in the data directory are not used.
  EXPECT_EQ(readText(dir, "u:../tester.usr\nt:demo.tsv\n").valid, 0);
  EXPECT_EQ(readText(dir, "u:tester.usr\nt:.tsv\n").valid, 1);
  EXPECT_EQ(readText(dir, "u:tester.usr\nt:tsv\n").valid, 0);  // no room for ".voc"
  NamefindState state;
  state.dataDir = dir.dir();
  EXPECT_EQ(readConfig(dir.file("missing.cfg"), &state), 0);
}

TEST(NamefindConfig, PruneThresholdAcceptedFrom100To400) {
  KeepSearchThresholds keep;
  DataDir dir("cfg-prune");
  struct Case {
    const char* value;
    int expected;
  } cases[] = {{"99", 240}, {"100", 100}, {"400", 400}, {"401", 240}, {"abc", 240}, {"", 240}, {"300x", 300}};
  for (const Case& c : cases) {
    setPruneThresh(240);
    setWordEndBeam(230);
    Read r = readText(dir, std::string("u:tester.usr\nt:demo.tsv\npt:") + c.value + "\n");
    EXPECT_EQ(r.state.pruneThreshold, c.expected) << c.value;
    EXPECT_EQ(pruneThresh, c.expected) << c.value;
    EXPECT_EQ(wordEndBeam, c.expected - 10) << c.value;
  }
}

TEST(NamefindConfig, PruneThresholdWrittenOnlyWhenNotTheDefault) {
  NamefindState state;
  state.userFilePath = "/d/tester.usr";
  state.contactsFilePath = "/d/demo.tsv";
  EXPECT_EQ(configText(state).find("pt:"), std::string::npos);
  state.pruneThreshold = 100;
  EXPECT_NE(configText(state).find("\npt:100\n"), std::string::npos);
}

TEST(NamefindConfig, WritesEveryKeyInOrderAndReadsItBack) {
  KeepSearchThresholds keep;
  DataDir dir("cfg-roundtrip");
  NamefindState s;
  s.dataDir = dir.dir();
  s.userFilePath = dir.file("tester.usr");
  s.contactsFilePath = dir.file("demo.tsv");
  s.nagThreshold = kNagOff;
  s.ignoreBadProns = 1;
  s.alarmMinutes = 15;
  s.prefix1 = "9";
  s.prefix2 = "00";
  s.localAreaCode = "206";
  s.longDistanceChoice = 1;
  s.localAreaChoice = 2;
  s.dialMode = 2;
  s.echo = 0;
  s.pruneThreshold = 300;
  s.mailServiceName = "Work";
  s.mailServiceId = "id7";
  s.configuredServiceCurrent = true;
  s.showAdaptWarning = 1;
  s.showSayHint = 1;
  EXPECT_EQ(configText(s),
            "u:tester.usr\nt:demo.tsv\nn:1\ni:1\nl:15\np1:9\np2:00\npd:1\nac:206\nacp:2\nd:2\ne:0\npt:300\n"
            "ms:Work\nmi:id7\nm1:\nma:1\nmm:1\n");
  ASSERT_EQ(writeConfig(dir.file("namefind.cfg"), s), 1);
  NamefindState back;
  back.dataDir = dir.dir();
  ASSERT_EQ(readConfig(dir.file("namefind.cfg"), &back), 1);
  EXPECT_EQ(configText(back), configText(s));
  EXPECT_EQ(back.contactsVocPath, dir.file("demo.voc"));

  // The defaults write only the lines that are always there.
  NamefindState d;
  d.userFilePath = s.userFilePath;
  d.contactsFilePath = s.contactsFilePath;
  EXPECT_EQ(configText(d), "u:tester.usr\nt:demo.tsv\np1:1\np2:011\npd:0\nac:\nacp:0\n");
}

TEST(NamefindConfig, ValuesOutOfRange) {
  DataDir dir("cfg-range");
  Read r = readText(dir, "u:tester.usr\nt:demo.tsv\npd:7\nacp:x\nl:601\nn:2\ni:yes\np1:12345678901234567890\n");
  EXPECT_EQ(r.state.longDistanceChoice, 0);
  EXPECT_EQ(r.state.localAreaChoice, 0);
  EXPECT_EQ(r.state.alarmMinutes, -1);
  EXPECT_EQ(r.state.nagThreshold, 1);
  EXPECT_EQ(r.state.ignoreBadProns, 0);
  EXPECT_EQ(r.state.prefix1, "123456789012345");
  EXPECT_EQ(readText(dir, "u:tester.usr\nt:demo.tsv\nl:600\n").state.alarmMinutes, 600);
  // "m1:" without a service, and "ActiveSync" as the configured service, leave ActiveSync current.
  EXPECT_FALSE(readText(dir, "u:tester.usr\nt:demo.tsv\nm1:\n").state.configuredServiceCurrent);
  Read sync = readText(dir, "u:tester.usr\nt:demo.tsv\nms:ActiveSync\nm1:\n");
  EXPECT_FALSE(sync.state.configuredServiceCurrent);
  EXPECT_STREQ(sync.state.currentServiceName(), "ActiveSync");
}

TEST(NamefindConfig, OverLongLineIsCutAndItsRestSkipped) {
  DataDir dir("cfg-long");
  // The bytes past 255 of the "p1:" line hold a "t:" line; it must not be read as one.
  std::string line = "p1:" + std::string(252, '7') + "t:evil.tsv";
  Read r = readText(dir, "u:tester.usr\n" + line + "\n");
  EXPECT_EQ(r.valid, 0);
  EXPECT_EQ(r.state.contactsFilePath, "");
  EXPECT_EQ(r.state.prefix1, std::string(15, '7'));
  // A user name too long for the file is not used.
  EXPECT_EQ(readText(dir, "u:" + std::string(200, 'a') + ".usr\nt:demo.tsv\n").valid, 0);
}

TEST(NamefindConfig, BinaryBytes) {
  DataDir dir("cfg-binary");
  // A NUL ends the line's text; control bytes make a name unusable; other bytes are text.
  const char raw[] = "u:tester.usr\0junk\nt:demo.tsv\np2:\xff\x80\npd:\xff\n";
  Read r = readText(dir, std::string(raw, sizeof raw - 1));
  EXPECT_EQ(r.valid, 1);
  EXPECT_EQ(r.state.userFilePath, dir.file("tester.usr"));
  EXPECT_EQ(r.state.prefix2, "\xff\x80");
  EXPECT_EQ(r.state.longDistanceChoice, 0);
  EXPECT_EQ(readText(dir, "u:te\x01st.usr\nt:demo.tsv\n").valid, 0);
  EXPECT_EQ(readText(dir, std::string("\0\0\0\n\xfe\xff", 6)).valid, 0);
}

TEST(NamefindConfig, LineEnds) {
  KeepSearchThresholds keep;
  DataDir dir("cfg-ends");
  for (const char* end : {"\n", "\r", "\r\n"}) {
    const std::string e = end;
    Read r = readText(dir, "u:tester.usr" + e + "t:demo.tsv" + e + "pt:300" + e + "p1:5" + e);
    EXPECT_EQ(r.valid, 1) << (e == "\r" ? "CR" : e == "\n" ? "LF" : "CRLF");
    EXPECT_EQ(r.state.pruneThreshold, 300);
    EXPECT_EQ(r.state.prefix1, "5");
    EXPECT_EQ(r.state.contactsVocPath, dir.file("demo.voc"));
  }
  // An empty line between CR LF pairs is no key; the last line needs no end.
  Read r = readText(dir, "u:tester.usr\r\n\r\nt:demo.tsv");
  EXPECT_EQ(r.valid, 1);
}

TEST(NamefindConfig, FailedWriteKeepsThePreviousFile) {
  DataDir dir("cfg-write");
  nftest::writeFile(dir.file("namefind.cfg"), "u:old.usr\nt:old.tsv\n");
  NamefindState s;
  s.userFilePath = dir.file("tester.usr");
  s.contactsFilePath = dir.file("demo.tsv");
  {
    // The disk fills up part way through the new file.
    nftest::FileSizeLimit full(10);
    EXPECT_EQ(writeConfig(dir.file("namefind.cfg"), s), 0);
  }
  EXPECT_EQ(nftest::readFile(dir.file("namefind.cfg")), "u:old.usr\nt:old.tsv\n");
  EXPECT_FALSE(nftest::leftTemporary(dir.file("")));
  EXPECT_EQ(writeConfig(dir.file("namefind.cfg"), s), 1);
  EXPECT_EQ(nftest::readFile(dir.file("namefind.cfg")).substr(0, 25), "u:tester.usr\nt:demo.tsv\np");
  EXPECT_FALSE(nftest::leftTemporary(dir.file("")));
}
