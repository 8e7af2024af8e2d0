// The link between the PC and a handheld that the installer copies files over and starts device
// programs through. The installer names device files with device paths: a leading "\" and "\"
// between the parts ("\velmora\abc.voc", "\Storage Card\velmora"); the link turns them into
// whatever reaches the device.
//
// DirectoryDeviceLink is the back end for a device reached as a folder of this system: a mounted
// device, a device image, or a test folder. The folder is the device's root "\" (on a Linux
// handheld, the user's home folder, where the data directory "velmora" lives):
// - "\a\b" is ROOT/a/b; a part that does not exist as written is matched without regard to case
//   (the handheld's file system ignores case). A path with a "." or ".." part, or a "/" inside a
//   part, is refused, so no device path reaches outside the folder.
// - Storage cards are the folders directly under ROOT whose names begin with "Storage Card" (any
//   case) and that are mounted cards: a mount point (another file system than ROOT's), or a
//   folder holding the marker file ".storage-card" (a card in a device image or a test folder).
// - Copies go through SafeFile in 1024-byte blocks: the target is replaced only by a whole copy,
//   a failed copy leaves the target as it was and no partial file. The copy keeps the source's
//   permission bits (programs stay executable). The temporary file an earlier, killed copy left
//   beside the target (TARGET.PID-N.tmp of a process that is gone) is removed first.
// - Device programs run with the folder as their view of the device: VELMORA_DEVICE_ROOT is ROOT,
//   VELMORA_DIR the device's data directory (ROOT/velmora, else "velmora" on the first mounted
//   card that has it, else the program's own folder), the working folder is ROOT, and their
//   standard output goes to the installer's standard error.
// - The start-menu programs folder is "\.local\share\applications" (the desktop's programs menu
//   of the device's user), made when missing; a shortcut is a symbolic link with a relative target.
// docs/installer.md describes it.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace vlm {

class DeviceLink {
 public:
  virtual ~DeviceLink() = default;

  // Connects (1) or fails (0).
  virtual int connect() = 0;
  virtual void disconnect() = 0;
  // The names of the mounted storage cards, in name order ("Storage Card", "Storage Card2").
  virtual std::vector<std::string> storageCards() = 0;
  // 0 when the path does not exist, 1 for a file, 2 for a directory.
  virtual int pathKind(const std::string& devicePath) = 0;
  // Creates a directory (1; also when it is there already), or fails (0).
  virtual int makeDirectory(const std::string& devicePath) = 0;
  // Deletes a file when it exists (1 when it is gone afterwards, 0 when it cannot be deleted).
  virtual int deleteFile(const std::string& devicePath) = 0;
  // Copies a PC file to the device and back. 1, or 0 with the target left as it was.
  virtual int copyToDevice(const std::string& pcPath, const std::string& devicePath) = 0;
  virtual int copyFromDevice(const std::string& devicePath, const std::string& pcPath) = 0;
  // Starts a device program with a command line (blank-separated words; may be empty); does not
  // wait for it. 1 when started.
  virtual int startProgram(const std::string& devicePath, const std::string& commandLine) = 0;
  // The program started last: -1 while it runs (or when none was started), else its exit status
  // (128 + the signal when a signal ended it).
  virtual int lastProgramStatus() = 0;
  // Creates a shortcut at devicePath that starts targetDevicePath. 1 or 0.
  virtual int makeShortcut(const std::string& devicePath, const std::string& targetDevicePath) = 0;
  // The device path of the start-menu programs folder (no trailing "\").
  virtual std::string programsFolder() = 0;

  // Why the last operation failed (empty after a success).
  const std::string& reason() const { return failure; }

 protected:
  std::string failure;
};

class DirectoryDeviceLink : public DeviceLink {
 public:
  explicit DirectoryDeviceLink(const std::string& root);
  ~DirectoryDeviceLink() override;

  int connect() override;
  void disconnect() override {}
  std::vector<std::string> storageCards() override;
  int pathKind(const std::string& devicePath) override;
  int makeDirectory(const std::string& devicePath) override;
  int deleteFile(const std::string& devicePath) override;
  int copyToDevice(const std::string& pcPath, const std::string& devicePath) override;
  int copyFromDevice(const std::string& devicePath, const std::string& pcPath) override;
  int startProgram(const std::string& devicePath, const std::string& commandLine) override;
  int lastProgramStatus() override;
  int makeShortcut(const std::string& devicePath, const std::string& targetDevicePath) override;
  // Made (with its parents) when missing: every real device has it, a test folder may not.
  std::string programsFolder() override;

  // The folder of this system that devicePath stands for; false (with reason()) for a path that
  // does not begin with "\" or has a ".", ".." or "/" in a part.
  bool hostPath(const std::string& devicePath, std::string* path);
  // The device's data directory as its programs find it (see above), a folder of this system.
  std::string dataDirectory(const std::string& programFolder);
  static constexpr const char* kCardMarker = ".storage-card";

 private:
  bool isCard(const std::string& name);
  std::string root;
  pid_t child = -1;
  int childStatus = -1;
};

// Copies a regular file through SafeFile in 1024-byte blocks, keeping its permission bits. 1, or
// 0 with *reason and the target as it was.
int copyFileSafely(const std::string& from, const std::string& to, std::string* reason);

}  // namespace vlm
