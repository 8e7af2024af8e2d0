// The device link's directory back end: a folder of this system stands for the device's root.
#include "platform/devicelink.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/log.h"
#include "foundation/safefile.h"

extern char** environ;

namespace vlm {

namespace {

std::string systemText(int error) { return std::strerror(error); }

// The parts of a device path between its backslashes (empty parts dropped).
std::vector<std::string> deviceParts(const std::string& devicePath) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 1; i <= devicePath.size(); i++) {
    if (i == devicePath.size() || devicePath[i] == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += devicePath[i];
    }
  }
  return parts;
}

// The entry of folder named name, matched as written, else without regard to case; name itself
// when there is none.
std::string matchEntry(const std::string& folder, const std::string& name) {
  struct stat info;
  if (lstat((folder + "/" + name).c_str(), &info) == 0) return name;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return name;
  std::string found = name;
  std::vector<std::string> matches;
  while (dirent* e = readdir(dir))
    if (strcasecmp(e->d_name, name.c_str()) == 0) matches.push_back(e->d_name);
  closedir(dir);
  if (!matches.empty()) {
    std::sort(matches.begin(), matches.end());
    found = matches.front();
  }
  return found;
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// Whether pid names a running process. A killed process whose parent has not reaped it yet (a
// zombie, common when the installer was started in the background) counts as gone.
bool processAlive(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return true;
  char line[512];
  const bool read = std::fgets(line, sizeof line, f) != nullptr;
  std::fclose(f);
  if (!read) return true;
  const char* close = std::strrchr(line, ')');   // the command name may hold blanks and brackets
  return close == nullptr || close[1] != ' ' || close[2] != 'Z';
}

// Removes the temporary files of earlier copies to path that a killed installer left beside it
// (path.<pid>-<n>.tmp, the names SafeFile makes) when their process is gone.
void removeStaleTemporaries(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string base = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= base.size() + 4 || name.compare(0, base.size(), base) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
      continue;
    const std::string middle = name.substr(base.size(), name.size() - base.size() - 4);
    const size_t dash = middle.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == middle.size() ||
        middle.find_first_not_of("0123456789-") != std::string::npos || middle.find('-', dash + 1) != std::string::npos)
      continue;
    const long pid = std::atol(middle.substr(0, dash).c_str());
    if (pid > 0 && processAlive(static_cast<pid_t>(pid))) continue;
    stale.push_back(folder + "/" + name);
  }
  closedir(dir);
  for (const std::string& f : stale) unlink(f.c_str());
}

}  // namespace

int copyFileSafely(const std::string& from, const std::string& to, std::string* reason) {
  const int in = openRegularFile(from.c_str());
  if (in < 0) {
    *reason = "cannot read " + from + ": " + openFailureText(errno);
    return 0;
  }
  struct stat info;
  const int mode = fstat(in, &info) == 0 ? static_cast<int>(info.st_mode & 0777) : 0666;
  removeStaleTemporaries(to);
  SafeFile out;
  if (!out.open(to.c_str(), mode)) {
    *reason = out.reason();
    close(in);
    return 0;
  }
  char block[1024];
  bool readFailed = false;
  for (;;) {
    const ssize_t n = read(in, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *reason = "cannot read " + from + ": " + systemText(errno);
      readFailed = true;
      break;
    }
    if (n == 0) break;
    if (!out.write(block, static_cast<size_t>(n))) break;
  }
  close(in);
  if (readFailed) {
    out.abandon();
    return 0;
  }
  if (out.failed() || !out.commit()) {
    *reason = out.reason();
    return 0;
  }
  // A new file takes the source's bits; SafeFile keeps an old file's own bits, so set them.
  chmod(to.c_str(), static_cast<mode_t>(mode));
  return 1;
}

DirectoryDeviceLink::DirectoryDeviceLink(const std::string& folder) : root(folder) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
}

DirectoryDeviceLink::~DirectoryDeviceLink() {
  // A device program still running is left to finish; its status is collected when it ends.
  if (child > 0) waitpid(child, nullptr, WNOHANG);
}

int DirectoryDeviceLink::connect() {
  failure.clear();
  struct stat info;
  if (root.empty() || stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    failure = root.empty() ? std::string("no device folder given") : "the device folder " + root + " is not there";
    return 0;
  }
  return 1;
}

bool DirectoryDeviceLink::hostPath(const std::string& devicePath, std::string* path) {
  if (devicePath.empty() || devicePath[0] != '\\') {
    failure = "not a device path: " + devicePath;
    return false;
  }
  std::string host = root;
  for (const std::string& part : deviceParts(devicePath)) {
    if (part == "." || part == ".." || part.find('/') != std::string::npos) {
      failure = "refused device path: " + devicePath;
      return false;
    }
    host += "/" + matchEntry(host, part);
  }
  *path = host;
  return true;
}

bool DirectoryDeviceLink::isCard(const std::string& name) {
  if (strncasecmp(name.c_str(), "Storage Card", 12) != 0) return false;
  const std::string path = root + "/" + name;
  struct stat card, top;
  if (lstat(path.c_str(), &card) != 0 || !S_ISDIR(card.st_mode)) return false;
  if (stat(root.c_str(), &top) == 0 && top.st_dev != card.st_dev) return true;  // a mount point
  return access((path + "/" + kCardMarker).c_str(), F_OK) == 0;
}

std::vector<std::string> DirectoryDeviceLink::storageCards() {
  std::vector<std::string> cards;
  DIR* dir = opendir(root.c_str());
  if (dir == nullptr) return cards;
  while (dirent* e = readdir(dir))
    if (isCard(e->d_name)) cards.push_back(e->d_name);
  closedir(dir);
  std::sort(cards.begin(), cards.end());
  return cards;
}

int DirectoryDeviceLink::pathKind(const std::string& devicePath) {
  std::string path;
  if (!hostPath(devicePath, &path)) return 0;
  failure.clear();
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return 0;
  return S_ISDIR(info.st_mode) ? 2 : 1;
}

int DirectoryDeviceLink::makeDirectory(const std::string& devicePath) {
  std::string path;
  if (!hostPath(devicePath, &path)) return 0;
  failure.clear();
  if (mkdir(path.c_str(), 0755) == 0) return 1;
  const int error = errno;
  struct stat info;
  if (error == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return 1;
  failure = "cannot make the directory " + path + ": " + systemText(error);
  return 0;
}

int DirectoryDeviceLink::deleteFile(const std::string& devicePath) {
  std::string path;
  if (!hostPath(devicePath, &path)) return 0;
  failure.clear();
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return 1;
  failure = "cannot delete " + path + ": " + systemText(errno);
  return 0;
}

int DirectoryDeviceLink::copyToDevice(const std::string& pcPath, const std::string& devicePath) {
  std::string path;
  if (!hostPath(devicePath, &path)) return 0;
  failure.clear();
  return copyFileSafely(pcPath, path, &failure);
}

int DirectoryDeviceLink::copyFromDevice(const std::string& devicePath, const std::string& pcPath) {
  std::string path;
  if (!hostPath(devicePath, &path)) return 0;
  failure.clear();
  return copyFileSafely(path, pcPath, &failure);
}

std::string DirectoryDeviceLink::dataDirectory(const std::string& programFolder) {
  struct stat info;
  const std::string main = root + "/" + matchEntry(root, "velmora");
  if (stat(main.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return main;
  for (const std::string& card : storageCards()) {
    const std::string onCard = root + "/" + card + "/" + matchEntry(root + "/" + card, "velmora");
    if (stat(onCard.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return onCard;
  }
  return programFolder;
}

int DirectoryDeviceLink::startProgram(const std::string& devicePath, const std::string& commandLine) {
  std::string path;
  if (!hostPath(devicePath, &path)) return 0;
  failure.clear();
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(path.c_str(), X_OK) != 0) {
    failure = "cannot start " + path + ": " + (errno != 0 ? systemText(errno) : "not a program");
    return 0;
  }
  const std::string folder = path.substr(0, path.rfind('/'));

  // The device's view: its root, its data directory; everything else of our environment.
  std::vector<std::string> env;
  for (char** e = environ; *e; e++)
    if (std::strncmp(*e, "VELMORA_DIR=", 12) != 0 && std::strncmp(*e, "VELMORA_DEVICE_ROOT=", 20) != 0)
      env.push_back(*e);
  env.push_back("VELMORA_DIR=" + dataDirectory(folder));
  env.push_back("VELMORA_DEVICE_ROOT=" + root);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> words = splitWords(commandLine);
  words.insert(words.begin(), path);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, root.c_str());
  posix_spawn_file_actions_adddup2(&actions, 2, 1);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    failure = "cannot start " + path + ": " + systemText(rc);
    logError("cannot start the device program ", failure.c_str());
    return 0;
  }
  if (child > 0) waitpid(child, nullptr, WNOHANG);
  child = pid;
  childStatus = -1;
  return 1;
}

int DirectoryDeviceLink::lastProgramStatus() {
  if (child <= 0) return childStatus;
  int status = 0;
  const pid_t done = waitpid(child, &status, WNOHANG);
  if (done == child) {
    childStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    child = -1;
  } else if (done < 0) {
    child = -1;
    childStatus = 0;
  }
  return childStatus;
}

std::string DirectoryDeviceLink::programsFolder() {
  const char* const folder = "\\.local\\share\\applications";
  std::string path;
  if (hostPath(folder, &path)) {
    for (size_t slash = root.size() + 1; slash != std::string::npos; slash = path.find('/', slash + 1))
      mkdir(path.substr(0, path.find('/', slash + 1)).c_str(), 0755);
  }
  return folder;
}

int DirectoryDeviceLink::makeShortcut(const std::string& devicePath, const std::string& targetDevicePath) {
  std::string path, target;
  if (!hostPath(devicePath, &path) || !hostPath(targetDevicePath, &target)) return 0;
  failure.clear();
  // A relative link, so that it still names the target when the device is used on its own.
  std::vector<std::string> linkParts, targetParts;
  for (size_t i = root.size() + 1, start = i; i <= path.size(); i++)
    if (i == path.size() || path[i] == '/') {
      linkParts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  for (size_t i = root.size() + 1, start = i; i <= target.size(); i++)
    if (i == target.size() || target[i] == '/') {
      targetParts.push_back(target.substr(start, i - start));
      start = i + 1;
    }
  size_t common = 0;
  while (common + 1 < linkParts.size() && common < targetParts.size() && linkParts[common] == targetParts[common])
    common++;
  std::string relative;
  for (size_t i = common; i + 1 < linkParts.size(); i++) relative += "../";
  for (size_t i = common; i < targetParts.size(); i++) relative += targetParts[i] + (i + 1 < targetParts.size() ? "/" : "");
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    failure = "cannot replace " + path + ": " + systemText(errno);
    return 0;
  }
  if (symlink(relative.c_str(), path.c_str()) != 0) {
    failure = "cannot make the shortcut " + path + ": " + systemText(errno);
    return 0;
  }
  return 1;
}

}  // namespace vlm
