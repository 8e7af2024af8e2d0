// Message boxes: the installed handler, or the console handler that prints the box to standard
// error and answers it from $VLM_BOX_ANSWERS or with its default. The console handler allocates
// nothing (the pool allocator reports its own failures through it): fixed buffers and write(2).
#include "platform/msgbox.h"

#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "foundation/stdiox.h"

namespace vlm {

namespace {

MessageBoxHandler installedHandler = nullptr;

// The answer script: a copy of $VLM_BOX_ANSWERS taken at the first box, consumed word by word.
char script[1024];
int scriptPos = 0;
bool scriptRead = false;

struct AnswerWord {
  const char* word;
  int answer;
  const char* label;
};
const AnswerWord answerWords[] = {
    {"ok", eAnswerOk, "OK"},          {"cancel", eAnswerCancel, "Cancel"}, {"abort", eAnswerAbort, "Abort"},
    {"retry", eAnswerRetry, "Retry"}, {"ignore", eAnswerIgnore, "Ignore"}, {"yes", eAnswerYes, "Yes"},
    {"no", eAnswerNo, "No"},
};

const char* labelOf(int answer) {
  for (const AnswerWord& w : answerWords)
    if (w.answer == answer) return w.label;
  return "?";
}

// The buttons of a box, in the order the box shows them; returns their number.
int buttonsOf(BoxButtons buttons, int* answers) {
  switch (buttons) {
    case eBoxOk: answers[0] = eAnswerOk; return 1;
    case eBoxOkCancel: answers[0] = eAnswerOk; answers[1] = eAnswerCancel; return 2;
    case eBoxYesNo: answers[0] = eAnswerYes; answers[1] = eAnswerNo; return 2;
    case eBoxYesNoCancel: answers[0] = eAnswerYes; answers[1] = eAnswerNo; answers[2] = eAnswerCancel; return 3;
    case eBoxAbortRetryIgnore:
      answers[0] = eAnswerAbort; answers[1] = eAnswerRetry; answers[2] = eAnswerIgnore; return 3;
    case eBoxRetryCancel: answers[0] = eAnswerRetry; answers[1] = eAnswerCancel; return 2;
  }
  answers[0] = eAnswerOk;
  return 1;
}

void put(const char* text) {
  int fd = stdErrHandle();
  size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t n = write(fd, text, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

// Takes the next word of the script into word (lower case, blanks trimmed); false when the script
// is used up.
bool nextScriptWord(char* word, int room) {
  if (!scriptRead) {
    scriptRead = true;
    scriptPos = 0;
    script[0] = 0;
    const char* env = std::getenv("VLM_BOX_ANSWERS");
    if (env != nullptr) {
      std::strncpy(script, env, sizeof script - 1);
      script[sizeof script - 1] = 0;
    }
  }
  while (script[scriptPos] == ' ' || script[scriptPos] == '\t') scriptPos++;
  if (script[scriptPos] == 0) return false;
  int length = 0;
  while (script[scriptPos] != 0 && script[scriptPos] != ',') {
    char c = script[scriptPos++];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (length < room - 1) word[length++] = c;
  }
  if (script[scriptPos] == ',') scriptPos++;
  while (length > 0 && (word[length - 1] == ' ' || word[length - 1] == '\t')) length--;
  word[length] = 0;
  return true;
}

int consoleBox(const char* text, const char* caption, BoxButtons buttons, BoxIcon icon, int defaultAnswer) {
  put(caption ? caption : "");
  put(": ");
  put(text ? text : "");
  put("\n");

  int answers[3];
  int count = buttonsOf(buttons, answers);
  bool defaultValid = false;
  for (int i = 0; i < count; i++) defaultValid = defaultValid || answers[i] == defaultAnswer;
  if (!defaultValid) defaultAnswer = answers[0];

  char word[32];
  if (nextScriptWord(word, sizeof word)) {
    int scripted = 0;
    for (const AnswerWord& w : answerWords)
      if (std::strcmp(w.word, word) == 0) scripted = w.answer;
    for (int i = 0; i < count; i++) {
      if (answers[i] == scripted) {
        put("  -> ");
        put(labelOf(scripted));
        put(" (VLM_BOX_ANSWERS)\n");
        return scripted;
      }
    }
    put("  VLM_BOX_ANSWERS: \"");
    put(word);
    put("\" does not answer this box\n");
  }
  put("  -> ");
  put(labelOf(defaultAnswer));
  put(" (default)\n");
  return defaultAnswer;
}

}  // namespace

int messageBox(const char* text, const char* caption, BoxButtons buttons, BoxIcon icon, int defaultAnswer) {
  if (installedHandler != nullptr) return installedHandler(text, caption, buttons, icon, defaultAnswer);
  return consoleBox(text, caption, buttons, icon, defaultAnswer);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = installedHandler;
  installedHandler = handler;
  return previous;
}

void resetBoxScriptForTest() { scriptRead = false; }

}  // namespace vlm
