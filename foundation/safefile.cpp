// Safe replacement of files: an exclusive temporary file beside the target, synced and renamed.
#define VLM_UNIT "safefile"
#include "foundation/safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/copystr.h"
#include "foundation/stdiox.h"

namespace vlm {

namespace {

char* duplicate(const char* text, size_t extra) {
  size_t length = std::strlen(text);
  char* copy = new (std::nothrow) char[length + extra + 1];
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

// Syncs the folder holding path, so that a rename in it survives a power loss. Best effort.
void syncFolderOf(const char* path) {
  char folder[PATH_MAX];
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    copyString(folder, ".", sizeof folder);
  } else if (slash == path) {
    copyString(folder, "/", sizeof folder);
  } else {
    size_t length = static_cast<size_t>(slash - path);
    if (length >= sizeof folder) return;
    std::memcpy(folder, path, length);
    folder[length] = 0;
  }
  int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

const char* openFailureText(int error) {
  if (error == EISDIR) return "is a directory";
  if (error == EINVAL) return "is not a regular file";
  return std::strerror(error);
}

bool readRegularFile(const std::string& path, std::string* data, std::string* error, bool* missing) {
  data->clear();
  if (missing) *missing = false;
  const int fd = openRegularFile(path.c_str());
  if (fd < 0) {
    if (missing && errno == ENOENT) {
      *missing = true;
      return true;
    }
    *error = "cannot open " + path + ": " + openFailureText(errno);
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = "cannot read " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    data->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

int openRegularFile(const char* path) {
  if (path == nullptr) {
    errno = ENOENT;
    return -1;
  }
  // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

int countFileLines(const char* path) {
  const int fd = openRegularFile(path);
  if (fd < 0) return 0;
  int lines = 0;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    for (ssize_t i = 0; i < n; i++) lines += buffer[i] == '\n';
  close(fd);
  return lines;
}

// ---- SafeFile ---------------------------------------------------------------------------------

SafeFile::~SafeFile() {
  abandon();
  delete[] targetPath;
  delete[] tempPath;
}

int SafeFile::fail(const char* verb, const char* path, int error) {
  if (failure == 0) {
    failure = error != 0 ? error : EIO;
    sPrint(message, sizeof message, "cannot %s %s: %s", verb, path, openFailureText(failure));
  }
  errno = failure;  // callers that report only 0 can still say why
  return 0;
}

int SafeFile::open(const char* target, int mode) {
  abandon();
  delete[] targetPath;
  delete[] tempPath;
  targetPath = tempPath = nullptr;
  failure = 0;
  message[0] = 0;
  if (target == nullptr || *target == 0) return fail("write", "\"\"", ENOENT);

  struct stat info;
  bool exists = false;
  if (::lstat(target, &info) == 0) {
    exists = true;
    if (S_ISLNK(info.st_mode)) {
      // A link: the file it names is replaced, the link itself stays.
      char* resolved = ::realpath(target, nullptr);
      if (resolved == nullptr || ::stat(resolved, &info) != 0) {
        std::free(resolved);
        return fail("replace", target, errno != 0 ? errno : ENOENT);
      }
      targetPath = duplicate(resolved, 48);
      std::free(resolved);
    }
    if (S_ISDIR(info.st_mode)) return fail("replace", target, EISDIR);
    if (!S_ISREG(info.st_mode)) return fail("replace", target, EINVAL);
  } else if (errno != ENOENT) {
    return fail("replace", target, errno);
  }
  if (targetPath == nullptr) targetPath = duplicate(target, 48);
  tempPath = targetPath != nullptr ? new (std::nothrow) char[std::strlen(targetPath) + 48] : nullptr;
  if (tempPath == nullptr) return fail("write", target, ENOMEM);

  // The name is new for this process; O_EXCL and O_NOFOLLOW refuse whatever is already there
  // (a link planted at the name is never followed), and then the next number is tried.
  static std::atomic<unsigned> sequence{0};
  for (int attempt = 0; attempt < 64; attempt++) {
    char number[24];
    char* p = copyString(tempPath, targetPath, static_cast<int>(std::strlen(targetPath) + 1));
    p = copyString(p, ".", 2);
    longToAscii(static_cast<long>(getpid()), number, sizeof number);
    p = copyString(p, number, sizeof number);
    p = copyString(p, "-", 2);
    longToAscii(static_cast<long>(sequence.fetch_add(1)), number, sizeof number);
    p = copyString(p, number, sizeof number);
    copyString(p, ".tmp", 5);
    fd = ::open(tempPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) break;
    if (errno != EEXIST) return fail("create", tempPath, errno);
  }
  if (fd < 0) return fail("create", tempPath, EEXIST);
  // The new file keeps the permissions of the one it replaces.
  if (exists) ::fchmod(fd, info.st_mode & 07777);
  return 1;
}

void SafeFile::noteWriteFailure(int error) { fail("write", targetPath != nullptr ? targetPath : "", error); }

int SafeFile::write(const void* data, size_t bytes) {
  if (fd < 0 || failure != 0) return 0;
  const char* p = static_cast<const char*>(data);
  while (bytes > 0) {
    ssize_t n = ::write(fd, p, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("write", targetPath, n < 0 ? errno : ENOSPC);
    p += n;
    bytes -= static_cast<size_t>(n);
  }
  return 1;
}

int SafeFile::write(const char* text) { return text != nullptr ? write(text, std::strlen(text)) : 1; }

int SafeFile::finish() {
  if (fd < 0) return failure == 0 && tempPath != nullptr ? 1 : 0;
  if (failure == 0 && ::fsync(fd) != 0) fail("write", targetPath, errno);
  if (::close(fd) != 0) fail("write", targetPath, errno);
  fd = -1;
  return failure == 0;
}

int SafeFile::commit() {
  if (tempPath == nullptr) return 0;
  if (!finish() || ::rename(tempPath, targetPath) != 0) {
    if (failure == 0) fail("replace", targetPath, errno);
    abandon();
    errno = failure;
    return 0;
  }
  syncFolderOf(targetPath);
  delete[] tempPath;
  tempPath = nullptr;
  return 1;
}

void SafeFile::abandon() {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  if (tempPath != nullptr) {
    ::unlink(tempPath);
    delete[] tempPath;
    tempPath = nullptr;
  }
}

// ---- SafeFileSet ------------------------------------------------------------------------------

SafeFileSet::~SafeFileSet() { abandon(); }

void SafeFileSet::abandon() {
  for (int i = 0; i < count; i++) files[i].abandon();
}

SafeFile* SafeFileSet::add(const char* target, int mode) {
  if (count == kMaxFiles) {
    sPrint(message, sizeof message, "cannot replace %s: too many files at once", target != nullptr ? target : "");
    return nullptr;
  }
  SafeFile* file = &files[count];
  if (!file->open(target, mode)) {
    copyString(message, file->reason(), sizeof message);
    file->abandon();
    return nullptr;
  }
  count++;
  return file;
}

int SafeFileSet::commit() {
  message[0] = 0;
  for (int i = 0; i < count; i++) {
    if (!files[i].finish()) {
      copyString(message, files[i].reason(), sizeof message);
      abandon();
      return 0;
    }
  }
  // Hard links of the old files, to put them back should a later rename fail.
  char* backups[kMaxFiles] = {};
  bool existed[kMaxFiles] = {};
  for (int i = 0; i < count; i++) {
    struct stat info;
    existed[i] = ::lstat(files[i].targetPath, &info) == 0;
    backups[i] = new (std::nothrow) char[std::strlen(files[i].tempPath) + 5];
    if (backups[i] == nullptr) continue;
    char* p = copyString(backups[i], files[i].tempPath, static_cast<int>(std::strlen(files[i].tempPath) + 1));
    copyString(p, ".old", 5);
    ::unlink(backups[i]);
    if (::link(files[i].targetPath, backups[i]) != 0) {
      delete[] backups[i];
      backups[i] = nullptr;  // no old file (or no hard links here): removed on a roll-back
    }
  }
  int failedAt = -1;
  int error = 0;
  for (int i = 0; i < count && failedAt < 0; i++) {
    if (::rename(files[i].tempPath, files[i].targetPath) != 0) {
      failedAt = i;
      error = errno;
    }
  }
  if (failedAt >= 0) {
    for (int j = 0; j < failedAt; j++) {
      if (backups[j] != nullptr) ::rename(backups[j], files[j].targetPath);
      else if (!existed[j]) ::unlink(files[j].targetPath);  // else no way back: the new file stays
    }
    files[failedAt].fail("replace", files[failedAt].targetPath, error);
    copyString(message, files[failedAt].reason(), sizeof message);
    for (int j = failedAt; j < count; j++) ::unlink(files[j].tempPath);
  } else if (count > 0) {
    syncFolderOf(files[0].targetPath);
  }
  for (int i = 0; i < count; i++) {
    if (backups[i] != nullptr) ::unlink(backups[i]);
    delete[] backups[i];
    delete[] files[i].tempPath;
    files[i].tempPath = nullptr;
  }
  return failedAt < 0;
}

}  // namespace vlm
