// The speech log ("velmora.log") and the assertion handler.
#pragma once

namespace vlm {

// Appends "\n", text and second (when given) to the speech log "velmora.log" in the current
// directory. The first call of a process creates the log anew; later calls append. The log is
// closed again after every call; when it cannot be opened the message is lost silently. A console
// program (see setConsoleProgram) also writes text, second and "\n" to standard output.
void logError(const char* text, const char* second = nullptr);

// Console programs echo logged messages to standard output.
void setConsoleProgram(bool console);

// Resets the "already written" flag so the next logError truncates the log (tests only).
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
