// The single-instance guard shared by the device programs (namefind, enroll): an advisory lock on
// the file "vlmMutex" stands for the named mutex, and a Unix-domain socket stands for the hidden
// window that receives the activation message. The file "vlmHwnd" holds the socket's path, so a
// second copy of either program can find the running one, send it a message and exit.
//
// The files live in $XDG_RUNTIME_DIR, or when that is unset in /tmp/velmora-<uid> (made with mode
// 0700). The lock is flock(2): the kernel drops it when its holder dies, so a killed program never
// blocks the next start; the socket and "vlmHwnd" it leaves behind are replaced.
#pragma once
#include <string>
#include <vector>

namespace vlm {

// Message numbers one instance sends another (the values of the handheld's window messages).
constexpr int kMsgActivate = 2026;
constexpr int kMsgStart = 2027;

class SingleInstance {
 public:
  // runtimeDir: the folder for the three files; null or empty: $XDG_RUNTIME_DIR or /tmp/velmora-<uid>.
  explicit SingleInstance(const char* runtimeDir = nullptr);
  ~SingleInstance();  // release()
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  enum Outcome { eFirst = 1, eRunning = 0, eFailed = -1 };
  // Takes the guard. eFirst: this process holds the lock, listens on its socket and has written
  // "vlmHwnd". eRunning: another process holds the lock. eFailed: the folder or the lock file
  // cannot be made (the reason is in the speech log); the caller runs without a guard.
  int acquire();
  // Second instance: reads the running one's address from "vlmHwnd" and sends it the message.
  // Retries for up to waitMs (the first instance may still be starting). 1 when sent, 0 when the
  // address cannot be read or nobody answers at it.
  int sendToRunning(int message, int waitMs = 1000);
  // The listening socket (-1 when not the first instance); readable when a message waits.
  int listenFd() const { return listenSocket; }
  // Accepts the waiting connections and appends the message numbers they carry; returns how many.
  int poll(std::vector<int>* messages);
  // Closes the socket, deletes it and "vlmHwnd" (when they are still ours) and drops the lock.
  void release();

  const std::string& folder() const { return dir; }
  std::string lockPath() const { return dir + "/vlmMutex"; }
  std::string addressPath() const { return dir + "/vlmHwnd"; }
  const std::string& socketPath() const { return sockPath; }

 private:
  std::string dir;
  std::string sockPath;
  int lockFd = -1;
  int listenSocket = -1;
};

}  // namespace vlm
