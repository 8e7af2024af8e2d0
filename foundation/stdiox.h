// The engine's small formatted output and line input on system file handles (file descriptors),
// and the process's standard streams.
#pragma once
#include <cstdarg>

namespace vlm {

// Copies format to target (at most room - 1 characters, then a NUL). "\" makes the next
// character literal; "%" is followed by one of c d f s x (no flags, widths or precisions); any
// other letter writes "fPrint Err". Returns the end, or 0 when format is null.
char* formatMessage(char* target, int room, const char* format, va_list args);
char* sPrint(char* target, int room, const char* format, ...);
// Formats into a 1024-byte buffer and writes it with one write; bytes written, 0 on failure.
int fPrint(int fd, const char* format, ...);
// Reads one line (CR, LF or CR LF ends it; the end is not kept) into buffer; null at the end of
// the file. size must be at least 2. A longer line comes back in pieces. The descriptor is left
// just after the line's end (lseek); a pipe is read byte by byte.
char* fGets(int fd, char* buffer, int size);
// fGets for readers that must not take a long line in pieces: a line longer than size - 1
// characters comes back cut to its first size - 1 characters with *cut set to 1, and the rest of
// it is skipped; *cut is 0 otherwise.
char* fGetLine(int fd, char* buffer, int size, int* cut);

// The process's standard output and error handles, set before main by InitStdIo: the real
// streams, or "stdOut.log"/"stdErr.log" in the current directory when a stream is closed (those
// files are deleted at exit when empty).
int stdOutHandle();
int stdErrHandle();

}  // namespace vlm
