// The transcript of a GUI program run by a script or without a display: one event a line on
// standard output, so that a test or a user's script can follow what the dialogs show and do.
// Lines (docs/namefind.md):
//   dialog NAME shown | dialog NAME closed
//   text DIALOG.CONTROL "caption or text"
//   list DIALOG.CONTROL N "item 1" ... "item N"        (selected item: select DIALOG.CONTROL I)
//   enabled DIALOG.CONTROL 0|1
//   check DIALOG.CONTROL 0|1
//   box "caption" "text" -> Answer
//   action NAME ARG...                                 (each argument quoted)
//   script LINE-NUMBER COMMAND... | error LINE-NUMBER "reason" | exit STATUS
// Strings are in double quotes with \n, \t, \" and \\ escaped.
#pragma once
#include <string>
#include <vector>

namespace vlm {

void setTranscriptEnabled(bool on);
bool transcriptEnabled();
// The text in double quotes with C escapes.
std::string quoted(const std::string& text);
// Writes one line (and flushes) when the transcript is on.
void transcriptLine(const std::string& line);
// "action NAME "arg1" "arg2"".
void transcriptAction(const std::string& name, const std::vector<std::string>& args = {});

// "list NAME N "item"..." and, when selected >= 0, "select NAME selected+1".
void transcriptList(const std::string& name, const std::vector<std::string>& items, int selected);

// Installs a message box handler that answers every box as the console handler does (from
// $VLM_BOX_ANSWERS, else the box's default, both reported on standard error) and writes a "box"
// line to the transcript.
void installTranscriptBoxHandler();
// The label of a box answer ("OK", "Yes", ...).
const char* boxAnswerLabel(int answer);

}  // namespace vlm
