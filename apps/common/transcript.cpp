// The transcript on standard output, and the message box handler that reports to it.
#include "apps/common/transcript.h"

#include <cstdio>

#include "platform/msgbox.h"

namespace vlm {

namespace {

bool enabled = false;

int transcriptBox(const char* text, const char* caption, BoxButtons buttons, BoxIcon icon, int defaultAnswer) {
  // The console handler answers (from $VLM_BOX_ANSWERS or the default); it runs while no handler
  // is installed.
  setMessageBoxHandler(nullptr);
  const int answer = messageBox(text, caption, buttons, icon, defaultAnswer);
  setMessageBoxHandler(transcriptBox);
  transcriptLine("box " + quoted(caption ? caption : "") + " " + quoted(text ? text : "") + " -> " +
                 boxAnswerLabel(answer));
  return answer;
}

}  // namespace

void setTranscriptEnabled(bool on) { enabled = on; }
bool transcriptEnabled() { return enabled; }

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void transcriptLine(const std::string& line) {
  if (!enabled) return;
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void transcriptAction(const std::string& name, const std::vector<std::string>& args) {
  std::string line = "action " + name;
  for (const std::string& a : args) line += " " + quoted(a);
  transcriptLine(line);
}

void installTranscriptBoxHandler() { setMessageBoxHandler(transcriptBox); }

const char* boxAnswerLabel(int answer) {
  switch (answer) {
    case eAnswerOk: return "OK";
    case eAnswerCancel: return "Cancel";
    case eAnswerAbort: return "Abort";
    case eAnswerRetry: return "Retry";
    case eAnswerIgnore: return "Ignore";
    case eAnswerYes: return "Yes";
    case eAnswerNo: return "No";
  }
  return "?";
}

void transcriptList(const std::string& name, const std::vector<std::string>& items, int selected) {
  std::string line = "list " + name + " " + std::to_string(items.size());
  for (const std::string& item : items) line += " " + quoted(item);
  transcriptLine(line);
  if (selected >= 0) transcriptLine("select " + name + " " + std::to_string(selected + 1));
}

}  // namespace vlm
