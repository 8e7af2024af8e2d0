// The data directory, the directory search and numbered file names.
#define VLM_UNIT "filepath"
#include "foundation/filepath.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
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

// ---- The installed data --------------------------------------------------------------------
// `cmake --install` puts the shipped data into <prefix>/share/velmora. It is found beside the
// program or library that holds this code: <dir>/../share/velmora, or <dir>/../../share/velmora
// for a library in lib/<multiarch>/. A path fixed when building would not survive an install
// with --prefix into another folder.

bool installedDataBeside(const char* file, std::string* found) {
  char real[PATH_MAX];
  if (file == nullptr || realpath(file, real) == nullptr) return false;
  std::string dir(real);
  dir.erase(dir.rfind('/'));
  for (const char* up : {"/../share/velmora", "/../../share/velmora"}) {
    const std::string candidate = dir + up;
    char resolved[PATH_MAX];
    if (realpath(candidate.c_str(), resolved) != nullptr && isDirectory(resolved) &&
        access((std::string(resolved) + "/newuser.usr").c_str(), R_OK) == 0) {
      *found = resolved;
      return true;
    }
  }
  return false;
}

bool findInstalledData(std::string* found) {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&findVelmora), &info) != 0 && info.dli_fname != nullptr &&
      std::strstr(info.dli_fname, ".so") != nullptr && installedDataBeside(info.dli_fname, found))
    return true;
  return installedDataBeside("/proc/self/exe", found);
}

// The files of the installed data a user changes (contact lists and their vocabularies, the
// programs' settings, command lists) are copied into their own data directory; the large files
// no program writes (recordings, speaker models, the letter-to-sound model, the reference
// dictionary) are linked to the installed ones.
bool copiedOnFirstStart(const std::string& name, off_t size) {
  auto endsWith = [&](const char* tail) {
    const size_t n = std::strlen(tail);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, tail) == 0;
  };
  if (endsWith(".wav") || endsWith(".usr") || endsWith(".bin")) return false;
  return size <= (1 << 20);
}

bool copyFile(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  bool ok = out >= 0;
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) ok = false;
      else done += w;
    }
  }
  if (out >= 0 && close(out) != 0) ok = false;
  close(in);
  if (!ok) unlink(to.c_str());
  return ok;
}

// A first start on an installed system: the user's data directory "~/velmora" is made from the
// installed data (see copiedOnFirstStart) in a folder beside it and renamed into place when
// complete, so an interrupted first start leaves no half-made data directory. False (nothing
// made) on failure.
bool makeUserDataDirectory(const std::string& installed, const std::string& target) {
  const std::string building = target + ".new-" + std::to_string(getpid());
  if (mkdir(building.c_str(), 0755) != 0) return false;
  bool ok = true;
  DIR* dir = opendir(installed.c_str());
  if (dir == nullptr) ok = false;
  while (ok) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      ok = errno == 0;
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string from = installed + "/" + name, to = building + "/" + name;
    struct stat st;
    if (stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    ok = copiedOnFirstStart(name, st.st_size) ? copyFile(from, to) : symlink(from.c_str(), to.c_str()) == 0;
  }
  if (dir != nullptr) closedir(dir);
  if (ok && rename(building.c_str(), target.c_str()) == 0) return true;
  // Undo: the folder holds only what was made above.
  if (DIR* made = opendir(building.c_str())) {
    while (struct dirent* entry = readdir(made))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        unlink((building + "/" + entry->d_name).c_str());
    closedir(made);
  }
  rmdir(building.c_str());
  return false;
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
  // No data directory of the user's: on an installed system the first start makes ~/velmora from
  // the installed data; when it cannot, the installed data serves as it is (read only).
  std::string installed;
  if (findInstalledData(&installed)) {
    if (home != nullptr && *home != 0 && home[0] == '/') {
      const std::string own = std::string(home) + "/velmora";
      if (makeUserDataDirectory(installed, own) && setPrefix(own.c_str())) return vlmPath + prefixLength;
    }
    if (setPrefix(installed.c_str())) return vlmPath + prefixLength;
  }
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
