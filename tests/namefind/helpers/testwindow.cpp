// A tiny X client for the "switch to" tests: one top-level window of class "VlmTerm" (instance
// "vlmterm"). It starts without the input focus and, each time the focus comes to it, appends
// "focused" to the file named by $VLM_FOCUS_FILE. It ends when the X server goes or after
// $VLM_WINDOW_SECONDS (20 by default).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

int main() {
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return 1;
  const char* seconds = getenv("VLM_WINDOW_SECONDS");
  const time_t end = time(nullptr) + (seconds ? atoi(seconds) : 20);
  const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 400, 500, 120, 80, 1, 0, 0xffffff);
  XClassHint hint;
  char name[] = "vlmterm", cls[] = "VlmTerm";
  hint.res_name = name;
  hint.res_class = cls;
  XSetClassHint(d, w, &hint);
  XStoreName(d, w, "test terminal");
  XSelectInput(d, w, FocusChangeMask | StructureNotifyMask);
  XMapWindow(d, w);
  XSync(d, False);
  // Nobody has the focus until someone gives it to the window.
  XSetInputFocus(d, None, RevertToNone, CurrentTime);
  XSync(d, False);
  const int fd = ConnectionNumber(d);
  while (time(nullptr) < end) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type != FocusIn) continue;
      Window focus;
      int revert;
      XGetInputFocus(d, &focus, &revert);
      if (focus != w) continue;
      if (const char* file = getenv("VLM_FOCUS_FILE")) {
        if (FILE* f = fopen(file, "a")) {
          fputs("focused\n", f);
          fclose(f);
        }
      }
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval tv{0, 100000};
    select(fd + 1, &set, nullptr, nullptr, &tv);
  }
  XCloseDisplay(d);
  return 0;
}
