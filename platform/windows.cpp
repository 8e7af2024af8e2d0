// Top-level windows through libX11, programs through posix_spawn, documents through the desktop's
// MIME associations.
#include "platform/windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace vlm {

namespace {

// Windows may vanish while they are looked at: X errors are ignored rather than ending the program.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

class XConnection {
 public:
  XConnection() {
    const char* name = getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return;
    display = XOpenDisplay(nullptr);
    if (display) previous = XSetErrorHandler(ignoreXError);
  }
  ~XConnection() {
    if (!display) return;
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
  }
  Display* display = nullptr;
  XErrorHandler previous = nullptr;
};

bool noDisplay(std::string* error) {
  *error = "no X display is reachable";
  return false;
}

std::vector<Window> windowProperty(Display* d, Window w, const char* name) {
  std::vector<Window> out;
  Atom atom = XInternAtom(d, name, True);
  if (atom == None) return out;
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, atom, 0, 65536, False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32) {
    const long* values = reinterpret_cast<const long*>(data);
    for (unsigned long i = 0; i < count; i++) out.push_back(static_cast<Window>(values[i]));
  }
  if (data) XFree(data);
  return out;
}

std::string windowTitle(Display* d, Window w) {
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && count > 0)
    title.assign(reinterpret_cast<char*>(data), count);
  if (data) XFree(data);
  if (title.empty()) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) title = name;
    if (name) XFree(name);
  }
  return title;
}

bool wmAnswersEwmh(Display* d) {
  const std::vector<Window> check = windowProperty(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK");
  return !check.empty() && check[0] != 0;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> envDirs(const char* variable, const char* fallback) {
  const char* v = getenv(variable);
  std::string list = v && *v ? v : fallback;
  std::vector<std::string> out;
  std::stringstream s(list);
  std::string item;
  while (std::getline(s, item, ':'))
    if (!item.empty()) out.push_back(item);
  return out;
}

std::string homeDir(const char* variable, const char* below) {
  const char* v = getenv(variable);
  if (v && *v) return v;
  const char* home = getenv("HOME");
  return std::string(home ? home : "") + below;
}

// Data folders in the order of preference: the user's, then the system's.
std::vector<std::string> dataDirs() {
  std::vector<std::string> dirs{homeDir("XDG_DATA_HOME", "/.local/share")};
  for (const std::string& d : envDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) dirs.push_back(d);
  return dirs;
}

// The values of key in section of an ini-style file ("a;b;" lists split).
std::vector<std::string> iniList(const std::string& path, const std::string& section, const std::string& key) {
  std::ifstream in(path);
  std::string line, current;
  std::vector<std::string> out;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      current = line;
      continue;
    }
    if (current != "[" + section + "]") continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || line.substr(0, eq) != key) continue;
    std::stringstream s(line.substr(eq + 1));
    std::string item;
    while (std::getline(s, item, ';'))
      if (!item.empty()) out.push_back(item);
  }
  return out;
}

std::string findDesktopFile(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  for (const std::string& d : dataDirs()) {
    const std::string path = d + "/applications/" + name;
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return std::string();
}

// An Exec line split into arguments (double quotes group, a backslash escapes inside them).
std::vector<std::string> splitExec(const std::string& exec) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false, any = false;
  for (size_t i = 0; i < exec.size(); i++) {
    const char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) current += exec[++i];
      else if (c == '"') quoted = false;
      else current += c;
    } else if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ' ' || c == '\t') {
      if (any || !current.empty()) out.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
    }
  }
  if (any || !current.empty()) out.push_back(current);
  return out;
}

}  // namespace

int displayReachable() {
  XConnection x;
  return x.display != nullptr;
}

bool listTopWindows(std::vector<TopWindow>* windows, std::string* error) {
  windows->clear();
  XConnection x;
  if (!x.display) return noDisplay(error);
  Display* d = x.display;
  std::vector<Window> candidates = windowProperty(d, DefaultRootWindow(d), "_NET_CLIENT_LIST");
  if (candidates.empty()) {
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
      for (unsigned int i = 0; i < count; i++) candidates.push_back(children[i]);
      if (children) XFree(children);
    }
  }
  for (Window w : candidates) {
    XClassHint hint{};
    if (!XGetClassHint(d, w, &hint)) continue;
    TopWindow t;
    t.id = w;
    t.instanceName = hint.res_name ? hint.res_name : "";
    t.className = hint.res_class ? hint.res_class : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    t.title = windowTitle(d, w);
    windows->push_back(t);
  }
  return true;
}

bool findWindowByClass(const std::string& wmClass, TopWindow* window, std::string* error) {
  std::vector<TopWindow> all;
  if (!listTopWindows(&all, error)) return false;
  const std::string wanted = lower(wmClass);
  for (const TopWindow& w : all) {
    if (lower(w.className) == wanted || lower(w.instanceName) == wanted) {
      *window = w;
      return true;
    }
  }
  *error = "no window of class " + wmClass;
  return false;
}

bool activateTopWindow(unsigned long id, std::string* error) {
  XConnection x;
  if (!x.display) return noDisplay(error);
  Display* d = x.display;
  const Window w = static_cast<Window>(id);
  if (wmAnswersEwmh(d)) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 1;   // a request from an application
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  } else {
    // Nobody manages the windows: raise it and give it the focus ourselves.
    XMapRaised(d, w);
    XSync(d, False);
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
  }
  XSync(d, False);
  return true;
}

bool sendWindowMessage(unsigned long id, long message, long wParam, long lParam, std::string* error) {
  XConnection x;
  if (!x.display) return noDisplay(error);
  Display* d = x.display;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = static_cast<Window>(id);
  e.xclient.message_type = XInternAtom(d, "VLM_WINDOW_MESSAGE", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = message;
  e.xclient.data.l[1] = wParam;
  e.xclient.data.l[2] = lParam;
  XSendEvent(d, static_cast<Window>(id), False, NoEventMask, &e);
  XSync(d, False);
  return true;
}

long startProcess(const std::vector<std::string>& argv, std::string* error) {
  if (argv.empty() || argv[0].empty()) {
    *error = "no program";
    return -1;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The child starts a session of its own, so it outlives this program and its terminal.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  const int failure = posix_spawnp(&pid, argv[0].c_str(), nullptr, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (failure != 0) {
    *error = "cannot start " + argv[0] + ": " + std::strerror(failure);
    return -1;
  }
  return pid;
}

int runProcess(const std::vector<std::string>& argv, int timeoutMs, std::string* error) {
  const long pid = startProcess(argv, error);
  if (pid < 0) return -1;
  for (int waited = 0;; waited += 10) {
    int status = 0;
    const pid_t r = waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
    if (r == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      *error = argv[0] + " was ended by a signal";
      return -1;
    }
    if (r < 0 && errno != EINTR) {
      *error = std::string("cannot wait for ") + argv[0] + ": " + std::strerror(errno);
      return -1;
    }
    if (waited >= timeoutMs) {
      kill(static_cast<pid_t>(pid), SIGKILL);
      waitpid(static_cast<pid_t>(pid), &status, 0);
      *error = argv[0] + " did not end in time";
      return -1;
    }
    usleep(10000);
  }
}

std::string mimeTypeOfName(const std::string& name) {
  const std::string base = lower(name.substr(name.rfind('/') + 1));
  std::string best;
  int bestWeight = -1;
  size_t bestLength = 0;
  for (const std::string& d : dataDirs()) {
    std::ifstream in(d + "/mime/globs2");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      const size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
      if (b == std::string::npos) continue;
      const int weight = std::atoi(line.substr(0, a).c_str());
      const std::string type = line.substr(a + 1, b - a - 1);
      std::string glob = line.substr(b + 1);
      const size_t flags = glob.find(':');
      if (flags != std::string::npos) glob.resize(flags);
      // Only the common "*.ext" form is matched (case-insensitively).
      if (glob.size() < 3 || glob.compare(0, 2, "*.") != 0 || glob.find_first_of("*?[", 1) != std::string::npos) continue;
      const std::string suffix = lower(glob.substr(1));
      if (base.size() <= suffix.size() || base.compare(base.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
      if (weight > bestWeight || (weight == bestWeight && suffix.size() > bestLength)) {
        best = type;
        bestWeight = weight;
        bestLength = suffix.size();
      }
    }
    if (!best.empty()) break;
  }
  return best;
}

std::string defaultApplicationFor(const std::string& mimeType) {
  if (mimeType.empty()) return std::string();
  std::vector<std::string> lists{homeDir("XDG_CONFIG_HOME", "/.config") + "/mimeapps.list"};
  for (const std::string& d : envDirs("XDG_CONFIG_DIRS", "/etc/xdg")) lists.push_back(d + "/mimeapps.list");
  for (const std::string& d : dataDirs()) lists.push_back(d + "/applications/mimeapps.list");
  for (const char* section : {"Default Applications", "Added Associations"})
    for (const std::string& list : lists)
      for (const std::string& app : iniList(list, section, mimeType))
        if (!findDesktopFile(app).empty()) return app;
  for (const std::string& d : dataDirs())
    for (const std::string& app : iniList(d + "/applications/mimeinfo.cache", "MIME Cache", mimeType))
      if (!findDesktopFile(app).empty()) return app;
  return std::string();
}

std::vector<std::string> desktopEntryCommand(const std::string& desktopFile, const std::string& document) {
  const std::string path = findDesktopFile(desktopFile);
  if (path.empty()) return {};
  const std::vector<std::string> exec = iniList(path, "Desktop Entry", "Exec");
  if (exec.empty()) return {};
  // iniList splits at ";": an Exec line may hold one; put it back together.
  std::string line = exec[0];
  for (size_t i = 1; i < exec.size(); i++) line += ";" + exec[i];
  const std::vector<std::string> names = iniList(path, "Desktop Entry", "Name");
  std::vector<std::string> out;
  bool placed = false;
  for (const std::string& arg : splitExec(line)) {
    if (arg == "%f" || arg == "%F" || arg == "%u" || arg == "%U") {
      out.push_back(document);
      placed = true;
      continue;
    }
    if (arg == "%i" || arg == "%k" || arg == "%d" || arg == "%D" || arg == "%n" || arg == "%N" || arg == "%v" ||
        arg == "%m")
      continue;
    std::string a;
    for (size_t i = 0; i < arg.size(); i++) {
      if (arg[i] == '%' && i + 1 < arg.size()) {
        const char code = arg[++i];
        if (code == '%') a += '%';
        else if (code == 'c' && !names.empty()) a += names[0];
        else if (code == 'f' || code == 'u') {
          a += document;
          placed = true;
        }
        continue;
      }
      a += arg[i];
    }
    out.push_back(a);
  }
  if (!placed && !out.empty()) out.push_back(document);
  return out;
}

std::vector<std::string> openDocumentCommand(const std::string& document, std::string* error) {
  const std::string type = mimeTypeOfName(document);
  if (type.empty()) {
    *error = "no MIME type is known for " + document;
    return {};
  }
  const std::string app = defaultApplicationFor(type);
  if (app.empty()) {
    *error = "no program is associated with " + type;
    return {};
  }
  std::vector<std::string> command = desktopEntryCommand(app, document);
  if (command.empty()) *error = "cannot read the desktop entry " + app;
  return command;
}

}  // namespace vlm
