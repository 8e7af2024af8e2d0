// The speech log ("velmora.log") and the assertion handler.
#pragma once

namespace vlm {

// Appends "\n", text and second (when given) to the speech log (see speechLogPath). Every process
// appends; a log grown past 1 MiB is renamed to "<log>.1" when a process first writes to it. The
// log is closed again after every call; when it cannot be opened the message is lost silently. A
// console program (see setConsoleProgram) also writes text, second and "\n" to standard output,
// and an installed observer (setLogObserver) is called with both texts.
void logError(const char* text, const char* second = nullptr);

// Where the speech log goes: $VELMORA_LOG when set (as given; relative to the current
// directory); else "velmora.log" in the data directory when one is found (filepath.h); else
// "$XDG_STATE_HOME/velmora/velmora.log" ("~/.local/state/velmora/velmora.log" without it), the
// folders made when missing. Null when there is no such place. Resolved once per process.
const char* speechLogPath();
// 1 when this process has written to the speech log (so a message may point the user there).
int speechLogWrittenByThisProcess();

// Called with the texts of every logged message; returns the observer it replaced. Tools use it
// to show a reader's messages to the user as they happen.
using LogObserver = void (*)(const char* text, const char* second, void* context);
LogObserver setLogObserver(LogObserver observer, void* context);

// Lets the next logError append as the first message of a new process does (tests only).
void startSpeechLogAsNewProcessForTest();
// Forgets where the log goes, so that the next message resolves it again (tests only).
void resetSpeechLogLocationForTest();

// Console programs echo logged messages to standard output.
void setConsoleProgram(bool console);

// Resets the "already written" flag and makes the next logError start the log anew (tests only).
void resetSpeechLogForTest();

// The assertion handler: shows expression, "\nFile=", file, "\nLine=", line, "\nExit?" (512
// characters at most) in an Abort/Retry/Ignore box captioned "Assertion Error!". Abort writes the
// message to the speech log and ends the process with status 1 (without static destructors);
// Retry stops in an attached debugger (SIGTRAP) and otherwise returns like Ignore. Without a
// display the box is answered by the platform's console handler (see platform/msgbox.h), whose
// default is Abort.
void __assert(const char* expression, const char* file, int line);

}  // namespace vlm

// VLM_ASSERT(condition, "text"): on failure calls vlm::__assert with the given text, the source
// unit name VLM_UNIT (each .cpp defines it before including engine headers, e.g. "arrcoll") and
// the line. Execution continues after an ignored assertion, so callers still handle the failure.
#ifndef VLM_UNIT
#define VLM_UNIT __FILE__
#endif
#define VLM_ASSERT(cond, text) \
  ((cond) ? (void)0 : ::vlm::__assert((text), VLM_UNIT, __LINE__))
