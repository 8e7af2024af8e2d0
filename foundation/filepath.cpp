// The data directory, the directory search and numbered file names.
#define VLM_UNIT "filepath"
#include "foundation/filepath.h"

#include <dirent.h>
#include <fnmatch.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "foundation/copystr.h"
#include "foundation/log.h"
#include "foundation/stdiox.h"

namespace vlm {

// ---------------------------------------------------------------------------------------------
// The data directory

namespace {

char vlmPath[kVlmPathRoom] = "./";
int prefixLength = 2;
bool searched = false;
char mediaRootsForTest[kVlmPathRoom];
bool mediaRootsOverridden = false;

// A directory path needs room for itself, its "/" and a file name of useful length.
constexpr int kMaxDirectoryLength = kVlmPathRoom - 64;

bool isDirectory(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Puts directory (made absolute when relative) and a "/" into the path buffer; false when the
// path is too long to leave room for file names.
bool setPrefix(const char* directory) {
  char buffer[kVlmPathRoom * 2];
  char* end = buffer + sizeof buffer;
  char* p = buffer;
  if (directory[0] != '/') {
    if (getcwd(buffer, kVlmPathRoom) == nullptr) return false;
    p = buffer + std::strlen(buffer);
    if (p[-1] != '/') *p++ = '/';
    if (directory[0] == '.' && directory[1] == '/') directory += 2;
    if (directory[0] == '.' && directory[1] == 0) directory++;
  }
  p = copyString(p, directory, static_cast<int>(end - p));
  while (p - buffer > 1 && p[-1] == '/') *--p = 0;  // one "/" is added below
  if (p - buffer > kMaxDirectoryLength) return false;
  p = copyString(vlmPath, buffer, kVlmPathRoom);
  if (p == vlmPath || p[-1] != '/') {
    *p++ = '/';
    *p = 0;
  }
  prefixLength = static_cast<int>(p - vlmPath);
  return true;
}

int byName(const struct dirent** a, const struct dirent** b) { return std::strcmp((*a)->d_name, (*b)->d_name); }

// Looks for "<root>/<medium>/velmora" in each medium under root, in name order.
bool findOnMedia(const char* root) {
  struct dirent** entries = nullptr;
  int count = scandir(root, &entries, nullptr, byName);
  if (count < 0) return false;
  bool found = false;
  for (int i = 0; i < count; i++) {
    const char* name = entries[i]->d_name;
    if (!found && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
      char candidate[kVlmPathRoom * 2];
      sPrint(candidate, sizeof candidate, "%s/%s/velmora", root, name);
      found = isDirectory(candidate) && setPrefix(candidate);
    }
    std::free(entries[i]);
  }
  std::free(entries);
  return found;
}

const char* userName() {
  const char* user = std::getenv("USER");
  if (user != nullptr && *user != 0) return user;
  struct passwd* pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_name : nullptr;
}

// The folders that removable media are mounted under.
bool findOnRemovableMedia() {
  if (mediaRootsOverridden) {
    char roots[kVlmPathRoom];
    copyString(roots, mediaRootsForTest, sizeof roots);
    for (char* root = roots; root != nullptr && *root != 0;) {
      char* next = std::strchr(root, ';');
      if (next != nullptr) *next++ = 0;
      if (*root != 0 && findOnMedia(root)) return true;
      root = next;
    }
    return false;
  }
  const char* user = userName();
  if (user == nullptr) return false;
  char root[kVlmPathRoom];
  sPrint(root, sizeof root, "/media/%s", user);
  if (findOnMedia(root)) return true;
  sPrint(root, sizeof root, "/run/media/%s", user);
  return findOnMedia(root);
}

}  // namespace

char* findVelmora() {
  searched = true;
  const char* env = std::getenv("VELMORA_DIR");
  if (env != nullptr && *env != 0) {
    if (isDirectory(env) && setPrefix(env)) return vlmPath + prefixLength;
    logError("VELMORA_DIR is not a usable directory: ", env);
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != 0) {
    char candidate[kVlmPathRoom * 2];
    sPrint(candidate, sizeof candidate, "%s/velmora", home);
    if (isDirectory(candidate) && setPrefix(candidate)) return vlmPath + prefixLength;
  }
  if (findOnRemovableMedia()) return vlmPath + prefixLength;
  copyString(vlmPath, "./", kVlmPathRoom);
  prefixLength = 2;
  return nullptr;
}

char* catFname2VlmDir(const char* name) {
  if (!searched) findVelmora();
  char copy[kVlmPathRoom];
  copyString(copy, name ? name : "", sizeof copy);  // name may lie in the shared buffer itself
  const char* n = copy;

  // A device-style path into the data directory ("\velmora\x", "/velmora/x") is mapped to it.
  if ((n[0] == '\\' || n[0] == '/') && strncasecmp(n + 1, "velmora", 7) == 0 &&
      (n[8] == '\\' || n[8] == '/' || n[8] == 0)) {
    n += 8;
  } else if (n[0] == '/') {
    // An absolute path of this system ("/tmp/x.wav": more than one component, the first of which
    // exists in the root directory) is taken as it stands.
    const char* slash = std::strchr(n + 1, '/');
    if (slash != nullptr && slash > n + 1) {
      char first[kVlmPathRoom];
      copyString(first, n, static_cast<int>(slash - n) + 1);
      struct stat st;
      if (stat(first, &st) == 0) {
        // Kept apart from the path buffer, whose data-directory prefix must stay.
        static char absolute[kVlmPathRoom];
        copyString(absolute, n, sizeof absolute);
        return absolute;
      }
    }
  }
  if (n[0] == '/' || n[0] == '\\') n++;
  char* p = vlmPath + prefixLength;
  char* last = vlmPath + kVlmPathRoom - 1;
  for (; *n != 0 && p < last; n++) *p++ = *n == '\\' ? '/' : *n;
  *p = 0;
  return vlmPath;
}

void resetVelmoraSearchForTest() {
  searched = false;
  copyString(vlmPath, "./", kVlmPathRoom);
  prefixLength = 2;
}

void setMediaRootsForTest(const char* roots) {
  mediaRootsOverridden = roots != nullptr;
  copyString(mediaRootsForTest, roots ? roots : "", sizeof mediaRootsForTest);
}

// ---------------------------------------------------------------------------------------------
// FindFilePath

namespace {

struct Listing {
  struct dirent** entries = nullptr;
  int count = 0;
  int index = 0;
};

void closeListing(void*& handle) {
  Listing* listing = static_cast<Listing*>(handle);
  if (listing == nullptr) return;
  for (int i = 0; i < listing->count; i++) std::free(listing->entries[i]);
  std::free(listing->entries);
  delete listing;
  handle = nullptr;
}

}  // namespace

FindFilePath::FindFilePath(const char* pattern_, const char* dirList_, int flags_) : flags(flags_) {
  if (pattern_ == nullptr || *pattern_ == 0) pattern_ = "*.*";
  pattern = copyString(pattern_);
  for (char* p = pattern; *p != 0; p++)
    if (*p == '\\') *p = '/';
  char* slash = std::strrchr(pattern, '/');
  patternName = slash ? slash + 1 : pattern;
  if (slash != nullptr) {
    patternDir = copyString(pattern);
    patternDir[slash - pattern + 1] = 0;
  }
  matchAll = std::strcmp(patternName, "*.*") == 0 || std::strcmp(patternName, "*") == 0;

  if (dirList_ == nullptr || *dirList_ == 0) dirList_ = "./";
  // NUL-separated entries, empty entries dropped, ending with an empty entry.
  dirList = new char[std::strlen(dirList_) + 2];
  char* out = dirList;
  for (const char* in = dirList_; *in != 0; in++) {
    if (*in == ';') {
      if (out > dirList && out[-1] != 0) *out++ = 0;
    } else {
      *out++ = *in == '\\' ? '/' : *in;
    }
  }
  if (out > dirList && out[-1] != 0) *out++ = 0;
  *out = 0;
  dirPos = dirList;
}

FindFilePath::~FindFilePath() {
  closeListing(handle);
  delete[] dirList;
  delete[] pattern;
  delete[] patternDir;
}

int FindFilePath::findFirst() {
  closeListing(handle);
  dirPos = dirList;
  foundName[0] = 0;
  return startSearch();
}

int FindFilePath::findNext() {
  if (handle != nullptr && nextInCurrent()) return 1;
  return startSearch();
}

// Starts the search in the next directories of the list until one has a match.
int FindFilePath::startSearch() {
  closeListing(handle);
  foundName[0] = 0;
  while (*dirPos != 0) {
    const char* directory = dirPos;
    dirPos += std::strlen(dirPos) + 1;
    char* end = dirPart + sizeof dirPart;
    char* p = copyString(dirPart, directory, 259);  // the directory is kept to 258 characters
    if (p > dirPart && p[-1] != '/') p = copyString(p, "/", static_cast<int>(end - p));
    if (patternDir != nullptr) copyString(p, patternDir, static_cast<int>(end - p));
    Listing* listing = new Listing;
    listing->count = scandir(dirPart, &listing->entries, nullptr, byName);
    if (listing->count < 0) {
      listing->count = 0;
      listing->entries = nullptr;
    }
    handle = listing;
    if (nextInCurrent()) return 1;
    closeListing(handle);
  }
  dirPart[0] = 0;  // no current match
  foundIsDir = false;
  return 0;
}

int FindFilePath::nextInCurrent() {
  Listing* listing = static_cast<Listing*>(handle);
  if (listing == nullptr) return 0;
  while (listing->index < listing->count) {
    const struct dirent* entry = listing->entries[listing->index++];
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!matchAll && fnmatch(patternName, name, FNM_CASEFOLD) != 0) continue;
    bool directory;
    if (entry->d_type == DT_DIR) {
      directory = true;
    } else if (entry->d_type == DT_REG) {
      directory = false;
    } else {
      char path[sizeof dirPart + sizeof foundName];
      sPrint(path, sizeof path, "%s%s", dirPart, name);
      directory = vlm::isDirectory(path);
    }
    if (!(flags & (directory ? eFindDirectories : eFindFiles))) continue;
    copyString(foundName, name, sizeof foundName);
    foundIsDir = directory;
    return 1;
  }
  return 0;
}

char* FindFilePath::absoluteFilename(char* target, int room) const {
  if (target == nullptr || room == 0) return target;
  char* p = copyString(target, dirPart, room);
  int used = static_cast<int>(p - target);
  p = copyString(p, foundName, room < 0 ? -1 : room - used);
  used = static_cast<int>(p - target);
  if (foundIsDir && foundName[0] != 0 && (room < 0 || room - used >= 3)) p = copyString(p, "/", 2);
  return p;
}

const char* FindFilePath::name() const { return foundName; }

bool FindFilePath::isDirectory() const { return foundIsDir; }

const char* FindFilePath::basename(const char* path) {
  if (path == nullptr) return nullptr;
  const char* start = path;
  for (const char* p = path; *p != 0; p++)
    if ((*p == ':' || *p == '\\' || *p == '/') && p[1] != 0) start = p + 1;
  return start;
}

// ---------------------------------------------------------------------------------------------
// FilenamePattern

void FilenamePattern::resetName(const char* pattern) {
  copyString(name, pattern ? pattern : "", sizeof name);
  int length = static_cast<int>(std::strlen(name));
  int lastDot = -1;
  namePos = 0;
  for (int i = 0; i < length; i++) {
    if (name[i] == '.') lastDot = i;
    if (name[i] == '/' || name[i] == '\\') namePos = i + 1;
  }
  if (lastDot >= namePos) {
    dotPos = lastDot;
    copyString(extension, name + lastDot, sizeof extension);  // "." and up to three characters
  } else {
    dotPos = length;
    extension[0] = 0;
  }
  sequence = 0;
}

const char* FilenamePattern::nextName(const char* digits) {
  char number[24];
  if (digits == nullptr) {
    longToAscii(sequence, number, sizeof number);
    digits = number;
  }
  sequence++;
  int dlen = static_cast<int>(std::strlen(digits));
  VLM_ASSERT(dlen < 8, "dlen < 8");
  if (dlen > 7) dlen = 7;  // an ignored assertion keeps the first seven characters
  int baseLength = dotPos - namePos;
  int keep = baseLength < 8 - dlen ? baseLength : 8 - dlen;
  char* end = result + sizeof result;
  char* p = copyString(result, name, namePos + keep + 1);
  p = copyString(p, digits, dlen + 1);
  copyString(p, extension, static_cast<int>(end - p));
  return result;
}

}  // namespace vlm
