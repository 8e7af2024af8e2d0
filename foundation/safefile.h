// Safe replacement of files on disk, and opening files for reading that must be regular files.
//
// A replaced file is written through a temporary file created exclusively (O_EXCL, O_NOFOLLOW)
// beside its target, under a name no other process uses (target.<pid>-<n>.tmp), then synced and
// renamed over the target. The target must be a regular file or missing: a device node, a FIFO,
// a directory or anything else is refused before anything is written. A symbolic link at the
// target is followed once: the file it names is replaced and the link stays. A failed or
// interrupted write leaves the old file whole; the temporary file is removed on every failure
// the process sees.
//
// SafeFileSet replaces several files together: every temporary file is written and synced first,
// and the targets are renamed only when all of them are complete. Should a rename fail, the
// targets already replaced are put back from hard links made of the old files just before, so
// the set is replaced whole or not at all for every failure the process sees. (Only a process
// killed between the renames, a few system calls, can leave some targets new and some old; each
// of them is still whole.)
//
// See docs/foundation-text.md, "Replacing files".
#pragma once

#include <string>
#include <cstddef>

namespace vlm {

class SafeFile {
 public:
  SafeFile() = default;
  ~SafeFile();  // abandons an uncommitted temporary file
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  // Checks the target and creates the temporary file. 1 when ready to write; 0 with reason().
  int open(const char* target, int mode = 0666);
  // Appends bytes; once a write has failed every later one is refused. 1 or 0 (see reason()).
  int write(const void* data, size_t bytes);
  int write(const char* text);
  // The temporary file's descriptor while it is open (-1 otherwise), for writers of their own;
  // they call noteWriteFailure(errno) when one of their writes fails.
  int handle() const { return fd; }
  void noteWriteFailure(int error);
  // Syncs and closes the temporary file and renames it over the target. 1 on success; on
  // failure 0 with reason(), the temporary file removed and the target as it was.
  int commit();
  // Removes the temporary file; the target is left as it was.
  void abandon();

  int failed() const { return failure != 0; }
  // What failed, as "cannot VERB PATH: system reason" (empty when nothing failed). Every failure
  // also leaves its error number in errno (EINVAL: not a regular file; see openFailureText).
  const char* reason() const { return message; }
  const char* target() const { return targetPath; }

 private:
  friend class SafeFileSet;
  int finish();                   // sync and close (1 or 0)
  int fail(const char* verb, const char* path, int error);

  char* targetPath = nullptr;     // the file replaced (a link's destination when the target is a link)
  char* tempPath = nullptr;
  int fd = -1;
  int failure = 0;
  char message[512] = "";
};

// Up to kMaxFiles files replaced all together or not at all.
class SafeFileSet {
 public:
  static constexpr int kMaxFiles = 8;
  SafeFileSet() = default;
  ~SafeFileSet();
  SafeFileSet(const SafeFileSet&) = delete;
  SafeFileSet& operator=(const SafeFileSet&) = delete;

  // Opens one more member (see SafeFile::open); null with reason() when the target is refused or
  // the temporary file cannot be made.
  SafeFile* add(const char* target, int mode = 0666);
  // Replaces every member's target, or none. 1 on success; 0 with reason() naming the file that
  // failed; every temporary file is then removed and every target is as it was.
  int commit();
  void abandon();
  const char* reason() const { return message; }

 private:
  SafeFile files[kMaxFiles];
  int count = 0;
  char message[512] = "";
};

// Opens path for reading when it is a regular file (never blocking on a FIFO or a device).
// Returns the descriptor, or -1 with errno set (EISDIR for a directory, EINVAL for any other
// kind of file that is not regular).
int openRegularFile(const char* path);
// The number of lines ('\n' bytes) of a regular file; 0 when it cannot be opened (a FIFO or a
// device is never waited on). Tables are sized from it before a file is loaded.
int countFileLines(const char* path);
// A short text for openRegularFile's failures: "is a directory", "is not a regular file", or the
// system's text for errno.
const char* openFailureText(int error);
// Reads the whole of a regular file into data (replacing what it held). False with a message
// ("cannot open PATH: ...", "cannot read PATH: ...") in error. With missing given, a file that
// does not exist is no failure: true, data empty and *missing set.
bool readRegularFile(const std::string& path, std::string* data, std::string* error, bool* missing = nullptr);

}  // namespace vlm
