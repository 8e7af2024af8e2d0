// The data directory, and file-name utilities.
//
// The data directory is, in order: $VELMORA_DIR when set and a directory; else ~/velmora when it
// is a directory; else the first (in name order) "velmora" folder on mounted removable media
// (/media/$USER/*/velmora, /run/media/$USER/*/velmora); else the current directory ("./"). A
// relative path is made absolute. Paths inside it use "/". See docs/foundation-text.md.
#pragma once
#include <sys/types.h>

namespace vlm {

constexpr int kVlmPathRoom = 320;

// Locates the data directory and fills the process-wide path buffer with it and a trailing "/";
// returns the end of that prefix, or null when the current directory ("./") is used.
char* findVelmora();
// The data directory's path followed by name (one leading "/" or "\" dropped; a device-style
// "\velmora\" or "/velmora/" prefix is mapped to the data directory; other "\" become "/").
// An absolute path of this system ("/tmp/x.wav": two or more components, the first existing in
// the root directory) is returned as it stands. Cut silently at kVlmPathRoom. The buffer is
// shared: the result is valid until the next call. Searches on the first call.
char* catFname2VlmDir(const char* name);
// Forgets the search so that the next catFname2VlmDir searches again (tests only).
void resetVelmoraSearchForTest();
// Replaces the removable-media folders with a ";"-separated list (tests only; null restores).
void setMediaRootsForTest(const char* roots);

// Iterates over the files matching a pattern ("*", "?", "[...]" wildcards, case-insensitive;
// null, "*" or "*.*": every entry) in a ";"-separated list of directories (null or empty: the
// current directory). "." and ".." are never reported; a directory's entries come in name order.
// A directory without a match (or that cannot be read) is passed over: findFirst and findNext go
// on to the next directory of the list.
class FindFilePath {
 public:
  enum { eFindFiles = 1, eFindDirectories = 2, eFindAll = 3 };
  FindFilePath(const char* pattern, const char* dirList, int flags = eFindAll);
  ~FindFilePath();
  FindFilePath(const FindFilePath&) = delete;
  FindFilePath& operator=(const FindFilePath&) = delete;

  int findFirst();  // 1 with a match, else 0
  int findNext();   // moves on through the directory list; 0 at its end
  // The directory part plus the found name, plus a trailing "/" for a directory when at least 3
  // characters of room are left. Returns the end.
  char* absoluteFilename(char* target, int room) const;
  const char* name() const;  // the current match's name
  bool isDirectory() const;
  // The part after the last ":", "\" or "/" that is followed by more characters.
  static const char* basename(const char* path);

 private:
  int startSearch();
  int nextInCurrent();

  char* dirList = nullptr;   // NUL-separated, ending with an empty entry
  char* dirPos = nullptr;
  char* pattern = nullptr;     // "\" turned into "/"
  char* patternName = nullptr; // the wildcard part of pattern (after its last "/")
  char* patternDir = nullptr;  // pattern's directory part with its "/", or null
  bool matchAll = false;       // "*.*" or "*"
  int flags;
  char foundName[256] = {0};
  bool foundIsDir = false;
  char dirPart[260] = {0};
  void* handle = nullptr;    // the current directory's listing, null when closed
};

// Numbered file names in 8.3 form: "utt.wav" with counter 12 gives "utt12.wav",
// "recording.wav" with counter 1 gives "recordi1.wav".
class FilenamePattern {
 public:
  FilenamePattern() = default;
  explicit FilenamePattern(const char* pattern) { resetName(pattern); }
  void resetName(const char* pattern);
  // digits: the given text, or the counter in decimal when null; the counter rises either way.
  const char* nextName(const char* digits = nullptr);
  int counter() const { return sequence; }

 private:
  char name[65] = {0};
  char extension[5] = {0};
  int dotPos = 0;
  int namePos = 0;
  int sequence = 0;
  char result[80] = {0};
};

}  // namespace vlm
