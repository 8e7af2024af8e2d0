// The single-instance guard: flock(2) on "vlmMutex", a listening Unix-domain socket, and the file
// "vlmHwnd" that names the socket.
#include "platform/instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/log.h"

namespace vlm {

namespace {

std::string defaultFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] != 0) return xdg;
  return "/tmp/velmora-" + std::to_string(static_cast<unsigned long>(getuid()));
}

// Makes the folder when it is missing; a folder of our own under /tmp must belong to us and be
// closed to others, or another user could plant a socket for us to talk to.
bool ensureFolder(const std::string& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != getuid()) return false;
  return true;
}

bool fillAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size());
  return true;
}

// The socket path stored in "vlmHwnd" (its first line), or empty.
std::string readAddress(const std::string& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  char buffer[sizeof(sockaddr_un::sun_path) + 2];
  ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) return std::string();
  buffer[n] = 0;
  char* end = std::strchr(buffer, '\n');
  if (end == nullptr) return std::string();  // a file cut short is not an address
  *end = 0;
  return buffer;
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

SingleInstance::SingleInstance(const char* runtimeDir)
    : dir(runtimeDir != nullptr && runtimeDir[0] != 0 ? runtimeDir : defaultFolder()) {}

SingleInstance::~SingleInstance() { release(); }

int SingleInstance::acquire() {
  if (lockFd >= 0) return eFirst;
  if (!ensureFolder(dir)) {
    logError("single instance: cannot use the folder ", dir.c_str());
    return eFailed;
  }
  const std::string lock = lockPath();
  lockFd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) {
    logError("single instance: cannot open ", lock.c_str());
    return eFailed;
  }
  if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(lockFd);
    lockFd = -1;
    if (error == EWOULDBLOCK) return eRunning;
    logError("single instance: cannot lock ", lock.c_str());
    return eFailed;
  }

  // A socket and address left by a program that was killed are ours to replace.
  const std::string stale = readAddress(addressPath());
  if (!stale.empty() && stale.compare(0, dir.size() + 1, dir + "/") == 0) unlink(stale.c_str());

  sockPath = dir + "/vlm-" + std::to_string(static_cast<long>(getpid())) + ".sock";
  sockaddr_un address;
  listenSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenSocket < 0 || !fillAddress(sockPath, &address)) {
    logError("single instance: cannot make a socket for ", sockPath.c_str());
    release();
    return eFailed;
  }
  unlink(sockPath.c_str());
  if (bind(listenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listenSocket, 8) != 0) {
    logError("single instance: cannot listen on ", sockPath.c_str());
    release();
    return eFailed;
  }

  // "vlmHwnd" is replaced whole, so a second instance never reads half an address.
  const std::string file = addressPath();
  const std::string temporary = file + ".tmp";
  const std::string line = sockPath + "\n";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool written = fd >= 0 && writeAll(fd, line.data(), line.size());
  if (fd >= 0) close(fd);
  if (!written || rename(temporary.c_str(), file.c_str()) != 0) {
    unlink(temporary.c_str());
    logError("single instance: cannot write ", file.c_str());
    release();
    return eFailed;
  }
  return eFirst;
}

int SingleInstance::sendToRunning(int message, int waitMs) {
  const std::string text = std::to_string(message) + "\n";
  for (int waited = 0;; waited += 50) {
    const std::string target = readAddress(addressPath());
    sockaddr_un address;
    if (fillAddress(target, &address)) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd >= 0) {
        const bool sent = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                          writeAll(fd, text.data(), text.size());
        close(fd);
        if (sent) return 1;
      }
    }
    if (waited >= waitMs) return 0;
    usleep(50000);
  }
}

int SingleInstance::poll(std::vector<int>* messages) {
  if (listenSocket < 0) return 0;
  int count = 0;
  for (;;) {
    const int fd = accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: nothing more waits
    }
    // A sender writes one short line and closes; a silent peer is given a tenth of a second.
    timeval limit{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char buffer[64];
    size_t used = 0;
    while (used < sizeof buffer - 1) {
      const ssize_t n = read(fd, buffer + used, sizeof buffer - 1 - used);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      used += static_cast<size_t>(n);
    }
    close(fd);
    buffer[used] = 0;
    char* line = buffer;
    while (char* end = std::strchr(line, '\n')) {
      *end = 0;
      char* after = nullptr;
      const long value = std::strtol(line, &after, 10);
      if (after != line && *after == 0 && value > 0 && value < 65536) {
        if (messages) messages->push_back(static_cast<int>(value));
        count++;
      }
      line = end + 1;
    }
  }
  return count;
}

void SingleInstance::release() {
  if (listenSocket >= 0) {
    close(listenSocket);
    listenSocket = -1;
  }
  if (lockFd >= 0) {
    // Only the holder removes the files, and only when they still name its own socket.
    if (!sockPath.empty()) {
      if (readAddress(addressPath()) == sockPath) unlink(addressPath().c_str());
      unlink(sockPath.c_str());
    }
    flock(lockFd, LOCK_UN);
    close(lockFd);
    lockFd = -1;
  }
  sockPath.clear();
}

}  // namespace vlm
