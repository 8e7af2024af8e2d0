// Message boxes. The engine and the console programs call messageBox(); GUI programs install a
// handler that shows a real dialog. The default handler is for consoles and headless runs: it
// prints the box to standard error and answers it from the script in $VLM_BOX_ANSWERS (a comma-
// separated list such as "ignore,yes,ok", consumed one box at a time), or with the box's default
// answer when the script is empty.
#pragma once

namespace vlm {

enum BoxButtons { eBoxOk, eBoxOkCancel, eBoxYesNo, eBoxYesNoCancel, eBoxAbortRetryIgnore, eBoxRetryCancel };
enum BoxIcon { eIconNone, eIconInformation, eIconWarning, eIconError, eIconQuestion };
// Answers carry the classic dialog result codes.
enum BoxAnswer { eAnswerOk = 1, eAnswerCancel = 2, eAnswerAbort = 3, eAnswerRetry = 4, eAnswerIgnore = 5,
                 eAnswerYes = 6, eAnswerNo = 7 };

using MessageBoxHandler = int (*)(const char* text, const char* caption, BoxButtons buttons, BoxIcon icon,
                                  int defaultAnswer);

// Shows a box and returns the answer. Must not allocate from the global pool in the console
// handler, since the allocator reports its own failures through it.
int messageBox(const char* text, const char* caption, BoxButtons buttons, BoxIcon icon, int defaultAnswer);

// Installs a handler (null restores the console handler); returns the previous one.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// Makes the console handler read $VLM_BOX_ANSWERS again at its next box (tests only; the script
// is otherwise read once, at the first box).
void resetBoxScriptForTest();

}  // namespace vlm
