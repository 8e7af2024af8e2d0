// Top-level windows of the desktop (X11 through libX11) and the start of programs and documents.
//
// Windows are found by their WM_CLASS (class or instance name, without regard to case) among the
// window manager's client list (_NET_CLIENT_LIST), or among the root window's children when no
// window manager keeps one. A window is brought forward with an EWMH _NET_ACTIVE_WINDOW request;
// without a window manager that answers EWMH the window is raised and given the input focus
// directly. Without a reachable X display every call reports that and does nothing.
//
// Documents are opened with the program the desktop associates with their MIME type: the type
// from the extension (the shared MIME database's globs2 files), the program from mimeapps.list
// (default applications, then added associations) or the mimeinfo.cache of the applications
// folders, and the command from that desktop entry's Exec line.
#pragma once
#include <string>
#include <vector>

namespace vlm {

struct TopWindow {
  unsigned long id = 0;
  std::string instanceName;   // WM_CLASS, first string
  std::string className;      // WM_CLASS, second string
  std::string title;
};

// 1 when an X display can be opened (from $DISPLAY).
int displayReachable();
// The top-level windows; false (with the reason) when no display is reachable.
bool listTopWindows(std::vector<TopWindow>* windows, std::string* error);
// The first window whose class or instance name is wmClass.
bool findWindowByClass(const std::string& wmClass, TopWindow* window, std::string* error);
// Brings the window forward. False with the reason.
bool activateTopWindow(unsigned long id, std::string* error);
// Sends a client message (type, two numbers) to the window: the desktop's stand-in for posting a
// window message.
bool sendWindowMessage(unsigned long id, long message, long wParam, long lParam, std::string* error);

// Starts a program with arguments (searched in PATH when it has no "/"), without waiting. The
// child's process id, or -1 with the reason.
long startProcess(const std::vector<std::string>& argv, std::string* error);

// The MIME type of a file name by its extension ("" when the database does not know it).
std::string mimeTypeOfName(const std::string& name);
// The desktop entry (file name such as "org.gnome.Evince.desktop") associated with a MIME type,
// or "".
std::string defaultApplicationFor(const std::string& mimeType);
// The command line that opens document with the desktop entry: its Exec line split into
// arguments, field codes replaced (%f %F %u %U by the document, %c by the entry's name, others
// dropped). Empty when the entry cannot be read.
std::vector<std::string> desktopEntryCommand(const std::string& desktopFile, const std::string& document);
// The command that opens a document with its associated program, or empty (with the reason).
std::vector<std::string> openDocumentCommand(const std::string& document, std::string* error);

}  // namespace vlm

namespace vlm {
// Runs a program with arguments and waits for it up to timeoutMs. Its exit status (0 success), or
// -1 with the reason when it could not be started, was killed or did not end in time (it is then
// killed).
int runProcess(const std::vector<std::string>& argv, int timeoutMs, std::string* error);
}  // namespace vlm
