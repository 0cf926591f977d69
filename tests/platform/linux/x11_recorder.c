/* A test window: covers the screen, takes the keyboard focus and prints one line per input event
 * it receives, as an application sees it (keysym after the keymap, modifier state, root position).
 * A line on standard input is answered with "mark" once every event the server sent before it has
 * been printed. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static void printKey(XKeyEvent* e, const char* what) {
  char text[32];
  KeySym sym = NoSymbol;
  XLookupString(e, text, sizeof text, &sym, NULL);
  const char* name = XKeysymToString(sym);
  printf("key %s %s state=0x%x\n", what, name ? name : "NoSymbol", e->state);
}

static void drain(Display* d) {
  while (XPending(d)) {
    XEvent ev;
    XNextEvent(d, &ev);
    switch (ev.type) {
      case KeyPress:
      case KeyRelease:
        printKey(&ev.xkey, ev.type == KeyPress ? "press" : "release");
        break;
      case ButtonPress:
      case ButtonRelease:
        printf("button %s %u at %d,%d state=0x%x\n", ev.type == ButtonPress ? "press" : "release",
               ev.xbutton.button, ev.xbutton.x_root, ev.xbutton.y_root, ev.xbutton.state);
        break;
      case MotionNotify:
        printf("motion %d,%d state=0x%x\n", ev.xmotion.x_root, ev.xmotion.y_root, ev.xmotion.state);
        break;
      case MappingNotify:
        XRefreshKeyboardMapping(&ev.xmapping);
        break;
      default:
        break;
    }
  }
  fflush(stdout);
}

int main(void) {
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "recorder: no display\n");
    return 1;
  }
  int screen = DefaultScreen(d);
  XSetWindowAttributes attrs;
  memset(&attrs, 0, sizeof attrs);
  attrs.override_redirect = True;
  attrs.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                     StructureNotifyMask;
  Window w = XCreateWindow(d, RootWindow(d, screen), 0, 0, (unsigned)DisplayWidth(d, screen),
                           (unsigned)DisplayHeight(d, screen), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWEventMask, &attrs);
  XMapRaised(d, w);
  for (;;) {
    XEvent ev;
    XNextEvent(d, &ev);
    if (ev.type == MapNotify) break;
  }
  XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
  XSync(d, False);
  drain(d);
  printf("ready\n");
  fflush(stdout);

  char in[256];
  struct pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {0, POLLIN, 0}};
  for (;;) {
    drain(d);
    if (poll(fds, 2, -1) < 0 || (fds[0].revents & (POLLERR | POLLHUP))) return 1;
    if (!fds[1].revents) continue;
    ssize_t n = read(0, in, sizeof in);
    if (n <= 0) return 0;
    /* Each line asks for a mark: only the line ends matter. */
    for (ssize_t i = 0; i < n; ++i) {
      if (in[i] != '\n') continue;
      XSync(d, False);
      drain(d);
      printf("mark\n");
      fflush(stdout);
    }
  }
}
