// Bounded copies, number conversion, the formatter and the line reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/copystr.h"
#include "foundation/stdiox.h"
#include "platform/msgbox.h"

namespace {

// Records assertion boxes and answers them with Ignore, so that the code after the check runs.
std::vector<std::string> boxTexts;
int recordIgnore(const char* text, const char* caption, vlm::BoxButtons, vlm::BoxIcon, int) {
  boxTexts.push_back(std::string(caption) + "|" + text);
  return vlm::eAnswerIgnore;
}

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxTexts.clear();
    previous = vlm::setMessageBoxHandler(recordIgnore);
  }
  void TearDown() override { vlm::setMessageBoxHandler(previous); }
  // True when exactly one assertion box with the given expression was shown.
  static bool assertedOnce(const char* expression) {
    return boxTexts.size() == 1 && boxTexts[0].rfind(std::string("Assertion Error!|") + expression + "\n", 0) == 0;
  }
  vlm::MessageBoxHandler previous = nullptr;
};

TEST_F(TextTest, CopyStringRooms) {
  struct Case {
    int room;
    const char* expected;  // null: nothing written at all
  } cases[] = {{0, nullptr}, {1, ""}, {4, "abc"}, {11, "abcdefghij"}, {40, "abcdefghij"}, {-1, "abcdefghij"}};
  for (const Case& c : cases) {
    char buffer[32];
    std::memset(buffer, 'X', sizeof buffer);
    char* end = vlm::copyString(buffer, "abcdefghij", c.room);
    if (c.expected == nullptr) {
      EXPECT_EQ(end, buffer) << "room " << c.room;
      EXPECT_EQ(buffer[0], 'X') << "room " << c.room;
      continue;
    }
    EXPECT_STREQ(buffer, c.expected) << "room " << c.room;
    EXPECT_EQ(end, buffer + std::strlen(c.expected)) << "room " << c.room;
    EXPECT_EQ(end[1], 'X') << "wrote beyond the NUL with room " << c.room;
  }
  EXPECT_TRUE(boxTexts.empty());
}

TEST_F(TextTest, CopyStringNullArgumentsAreAssertionFailures) {
  char buffer[8] = "old";
  char* end = vlm::copyString(buffer, nullptr, 8);
  EXPECT_TRUE(assertedOnce("src!=0"));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(end, buffer);
  boxTexts.clear();
  EXPECT_EQ(vlm::copyString(nullptr, "abc", 8), nullptr);
  EXPECT_TRUE(assertedOnce("targ!=0"));
}

TEST_F(TextTest, CopyStringAllocatingFormsGiveSpareRoom) {
  char* copy = vlm::copyString("hello", 10);
  EXPECT_STREQ(copy, "hello");
  std::memcpy(copy + 5, "0123456789", 10);  // the spare room is usable
  copy[15] = 0;
  EXPECT_STREQ(copy, "hello0123456789");
  delete[] copy;
  char* plain = vlm::copyString("");
  EXPECT_STREQ(plain, "");
  delete[] plain;
}

TEST_F(TextTest, LongToAscii) {
  struct Case {
    long value;
    int room;
    const char* expected;
  } cases[] = {
      {-2147483647, 16, "-2147483647"}, {12345, 2, ""}, {0, 2, ""},       {-5, 1, ""},
      {0, 3, "0"},                      {-7, 3, "-7"}, {123456, 4, "123"}, {-123456, 5, "-123"},
      {LONG_MIN, 32, "-9223372036854775808"},          {LONG_MAX, -1, "9223372036854775807"},
  };
  for (const Case& c : cases) {
    char buffer[40];
    char* end = vlm::longToAscii(c.value, buffer, c.room);
    EXPECT_STREQ(buffer, c.expected) << c.value << " room " << c.room;
    EXPECT_EQ(end, buffer + std::strlen(c.expected));
  }
}

TEST_F(TextTest, LongToHexAscii) {
  struct Case {
    unsigned long value;
    int room;
    const char* expected;
  } cases[] = {{0, 16, "0"},         {255, 16, "ff"},  {0xdeadbeef, 16, "deadbeef"},
               {0x12345, 4, "123"}, {255, 2, ""},     {~0ul, 17, "ffffffffffffffff"}};
  for (const Case& c : cases) {
    char buffer[40];
    char* end = vlm::longToHexAscii(c.value, buffer, c.room);
    EXPECT_STREQ(buffer, c.expected) << c.value << " room " << c.room;
    EXPECT_EQ(end, buffer + std::strlen(c.expected));
  }
}

TEST_F(TextTest, Gcvt) {
  struct Case {
    double value;
    int digits;
    const char* expected;
  } cases[] = {
      {1.5, 9, "1.50000000"},
      {3.0, 9, "3"},
      {1.5e12, 9, "1.50000000 e12"},
      {123456789012.0, 9, "1.23456789 e11"},
      {2.5e-12, 9, "2.50000000 e-12"},
      {1e9, 9, "1000000000"},  // not above 10^digits: no exponent
      {-2.25, 4, "-2.250"},
      {0.0, 9, "0"},
      {1.5, 0, "1.5000000"},   // digits below 1 become 8
      {1.5, 15, "1.50000000"}, // above 9 become 9
      {2.75, 2, "2.8"},
      {9.9999999999, 9, "10.0000000"},   // the rounding carries into the integer part
      {0.99999999999, 9, "1.00000000"},
      {99999999.99, 9, "100000000"},
      {1.0 / 0.0, 9, "inf"},
      {-1.0 / 0.0, 9, "-inf"},
  };
  for (const Case& c : cases) {
    char buffer[48];
    char* end = vlm::GCVT(c.value, c.digits, buffer);
    EXPECT_STREQ(buffer, c.expected) << c.value << " digits " << c.digits;
    EXPECT_EQ(end, buffer + std::strlen(buffer));
  }
}

TEST_F(TextTest, DoubleToAscii) {
  struct Case {
    double value;
    int room;
    const char* expected;
  } cases[] = {
      {1.5, 7, ""},            // below 8: empty
      {1.5, 20, "1.50000000"}, // min(room - 8, 10) digits, at most 9
      {1.5, -1, "1.50000000"},
      {3.0, 20, "3"},
      {2.0, 9, "2"},           // one digit: no fraction, no bare "."
      {2.75, 10, "2.8"},
      {-0.5, 12, "-0.500"},
      {1.5e12, 24, "1.50000000 e12"},
      {1.5e12, 12, "1.500 e12"},
  };
  for (const Case& c : cases) {
    char buffer[48];
    std::memset(buffer, 'X', sizeof buffer);
    char* end = vlm::doubleToAscii(c.value, buffer, c.room);
    EXPECT_STREQ(buffer, c.expected) << c.value << " room " << c.room;
    EXPECT_EQ(end, buffer + std::strlen(c.expected));
    if (c.room > 0) {
      EXPECT_LT(std::strlen(buffer), static_cast<size_t>(c.room));
    }
  }
}

TEST_F(TextTest, FormatMessageConversions) {
  char buffer[128];
  char* end = vlm::sPrint(buffer, sizeof buffer, "%c|%d|%f|%s|%x|", 'A', -42, 1.5, "str", 255u);
  EXPECT_STREQ(buffer, "A|-42|1.50000000|str|ff|");
  EXPECT_EQ(end, buffer + std::strlen(buffer));

  struct Case {
    const char* format;
    const char* expected;
  } literal[] = {
      {"100\\%d", "100%d"},      // a backslash makes the percent sign literal; nothing converted
      {"a\\\\b", "a\\b"},
      {"tab\\", "tab"},          // a backslash at the end is dropped
      {"%q|%", "fPrint Err|fPrint Err"},
  };
  for (const Case& c : literal) {
    vlm::sPrint(buffer, sizeof buffer, c.format);
    EXPECT_STREQ(buffer, c.expected) << c.format;
  }
  // An unknown conversion consumes no argument.
  vlm::sPrint(buffer, sizeof buffer, "%q%d", 7);
  EXPECT_STREQ(buffer, "fPrint Err7");
  EXPECT_EQ(vlm::sPrint(buffer, sizeof buffer, nullptr), nullptr);
  EXPECT_TRUE(boxTexts.empty());
}

TEST_F(TextTest, FormatMessageCutsAtTheRoom) {
  char buffer[32];
  struct Case {
    int room;
    const char* format;
    const char* expected;
  };
  // Each conversion is given the room that is left.
  Case cases[] = {
      {8, "abc%sxyz", "abcdefg"},  // %s with "defghij"
      {6, "abc%d", "abc12"},       // %d 12345, room left 3
      {6, "abcd%d", "abcd"},       // %d 12345, room left 2: empty
      {10, "%f", "1.5"},           // %f 1.5, room 10: two digits
      {5, "%q", "fPri"},
  };
  for (const Case& c : cases) {
    std::memset(buffer, 'X', sizeof buffer);
    char* end;
    if (std::strstr(c.format, "%s"))
      end = vlm::sPrint(buffer, c.room, c.format, "defghij");
    else if (std::strstr(c.format, "%f"))
      end = vlm::sPrint(buffer, c.room, c.format, 1.5);
    else
      end = vlm::sPrint(buffer, c.room, c.format, 12345);
    EXPECT_STREQ(buffer, c.expected) << c.format << " room " << c.room;
    EXPECT_EQ(end, buffer + std::strlen(c.expected));
    EXPECT_EQ(buffer[c.room], 'X') << "wrote beyond the room";
  }
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(vlm::sPrint(buffer, 0, "abc"), buffer);
  EXPECT_EQ(buffer[0], 'X');
}

TEST_F(TextTest, FormatMessageNullStringIsAnAssertionFailure) {
  char buffer[32];
  vlm::sPrint(buffer, sizeof buffer, "<%s>", static_cast<const char*>(nullptr));
  EXPECT_TRUE(assertedOnce("src!=0"));
  EXPECT_STREQ(buffer, "<>");
}

// A scratch file that is removed again.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& content) {
    char pattern[] = "/tmp/vlm_text_XXXXXX";
    int fd = mkstemp(pattern);
    path = pattern;
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
  }
  ~ScratchFile() { unlink(path.c_str()); }
  std::string path;
};

std::vector<std::string> readLines(const std::string& content, int size) {
  ScratchFile file(content);
  int fd = open(file.path.c_str(), O_RDONLY);
  std::vector<std::string> lines;
  std::vector<char> buffer(size + 8, 'X');
  while (vlm::fGets(fd, buffer.data(), size) != nullptr) {
    lines.push_back(buffer.data());
    EXPECT_EQ(buffer[size], 'X') << "wrote beyond the buffer";
    if (lines.size() > 100) break;
  }
  close(fd);
  return lines;
}

using Lines = std::vector<std::string>;

TEST_F(TextTest, FGetsLineEnds) {
  struct Case {
    const char* content;
    int size;
    Lines expected;
  } cases[] = {
      {"a\nb\r\nc\rd", 64, {"a", "b", "c", "d"}},  // LF, CR LF, lone CR, last line without end
      {"\n\r\n\r", 64, {"", "", ""}},
      {"last", 64, {"last"}},
      {"", 64, {}},
      {"ab\r\ncd\n", 4, {"ab", "cd"}},            // the CR LF pair split across the read
      {"abcdefghij\nk", 5, {"abcd", "efgh", "ij", "k"}},  // a long line in pieces
      {"abcd\nefg", 5, {"abcd", "efg"}},          // exactly size - 1: no empty line after it
      {"abcd\r\nefg", 5, {"abcd", "efg"}},
      {"x\n", 2, {"x"}},
  };
  for (const Case& c : cases) EXPECT_EQ(readLines(c.content, c.size), c.expected) << '"' << c.content << '"';
}

TEST_F(TextTest, FGetsLeavesThePositionAfterTheLine) {
  ScratchFile file("first\r\nsecond\n");
  int fd = open(file.path.c_str(), O_RDONLY);
  char buffer[64];
  ASSERT_NE(vlm::fGets(fd, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "first");
  char rest[16] = {0};
  EXPECT_EQ(read(fd, rest, sizeof rest - 1), 7);
  EXPECT_STREQ(rest, "second\n");
  close(fd);
}

TEST_F(TextTest, FGetsOnAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const char text[] = "a\r\nb\rc\n\nlast";
  ASSERT_EQ(write(fds[1], text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
  close(fds[1]);
  Lines lines;
  char buffer[16];
  while (vlm::fGets(fds[0], buffer, sizeof buffer) != nullptr && lines.size() < 10) lines.push_back(buffer);
  close(fds[0]);
  EXPECT_EQ(lines, (Lines{"a", "b", "c", "", "last"}));
}

// fGetLine on a file and on a pipe: a line too long for the buffer comes back cut, marked, and
// its rest skipped; a line of exactly size - 1 characters is not cut.
TEST_F(TextTest, FGetLineMarksAndSkipsLongLines) {
  const std::string content = "abcd\nabcdefghij\r\nxy\nabcdefgh\rlast";
  const Lines expected = {"abcd", "abcd", "xy", "abcd", "last"};
  const std::vector<int> expectedCuts = {0, 1, 0, 1, 0};
  for (bool onPipe : {false, true}) {
    SCOPED_TRACE(onPipe ? "pipe" : "file");
    ScratchFile file(content);
    int fd = -1;
    int fds[2] = {-1, -1};
    if (onPipe) {
      ASSERT_EQ(pipe(fds), 0);
      ASSERT_EQ(write(fds[1], content.data(), content.size()), static_cast<ssize_t>(content.size()));
      close(fds[1]);
      fd = fds[0];
    } else {
      fd = open(file.path.c_str(), O_RDONLY);
    }
    Lines lines;
    std::vector<int> cuts;
    char buffer[5];
    int cut = -1;
    while (vlm::fGetLine(fd, buffer, sizeof buffer, &cut) != nullptr && lines.size() < 10) {
      lines.push_back(buffer);
      cuts.push_back(cut);
    }
    close(fd);
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(cuts, expectedCuts);
  }
}

TEST_F(TextTest, FGetsSizeBelowTwoIsAnAssertionFailure) {
  ScratchFile file("abc\n");
  int fd = open(file.path.c_str(), O_RDONLY);
  char buffer[4] = "old";
  EXPECT_EQ(vlm::fGets(fd, buffer, 1), nullptr);
  EXPECT_TRUE(assertedOnce("size > 1"));
  close(fd);
}

TEST_F(TextTest, FPrintWritesOnce) {
  ScratchFile file("");
  int fd = open(file.path.c_str(), O_WRONLY | O_TRUNC);
  EXPECT_EQ(vlm::fPrint(fd, "n=%d s=%s\n", 12, "ab"), 10);
  std::string big(1500, 'y');
  EXPECT_EQ(vlm::fPrint(fd, "%s", big.c_str()), 1023);  // cut to the 1024-byte buffer
  close(fd);
  fd = open(file.path.c_str(), O_RDONLY);
  char content[2048] = {0};
  EXPECT_EQ(read(fd, content, sizeof content), 1033);
  close(fd);
  EXPECT_EQ(std::string(content, 10), "n=12 s=ab\n");
  EXPECT_EQ(vlm::fPrint(-1, "x"), 0);
  EXPECT_EQ(vlm::fPrint(fd, nullptr), 0);
}

}  // namespace
