/* What the test applications ask the X server directly: where a window and its frame are,
 * whether the window manager has it iconified or active, and the requests a pager would
 * send. The toolkits of the GTK 4 and Qt applications keep no position of their own (GTK 4)
 * or one that can differ from the server's (Qt), and the tests compare the tool's figures
 * with the server's: so those applications read them here, never from the toolkit.
 *
 * Plain C, usable from C and C++. Errors of Xlib are the caller's to handle: an application
 * whose toolkit has its own handler traps them (GTK), one that opens a connection of its own
 * may ignore them (nevoX11IgnoreErrors). */
#ifndef NEVO_E2E_X11_H
#define NEVO_E2E_X11_H

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string.h>

/* A window that has gone (closed while a command looked at it) makes Xlib report BadWindow;
 * the default handler would end the application. Errors are ignored here: each query
 * checks its own status instead. */
static inline int nevoIgnoreXError(Display* display, XErrorEvent* event) {
  (void)display;
  (void)event;
  return 0;
}

static inline void nevoX11IgnoreErrors(void) {
  XSetErrorHandler(nevoIgnoreXError);
}

/* The window manager's frame around a client window: its ancestor that is a child of the
 * root (the window itself when it is not reparented). 0 when the window is gone. */
static inline Window nevoX11Frame(Display* display, Window window) {
  Window root = 0, parent = 0, *children = NULL;
  unsigned int count = 0;
  for (;;) {
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    if (children != NULL) XFree(children);
    if (parent == root || parent == 0) return window;
    window = parent;
  }
}

/* A window's rectangle in root coordinates, border included. 1 when it was read. */
static inline int nevoX11Rectangle(Display* display, Window window, int* x, int* y, int* width,
                                   int* height) {
  XWindowAttributes attributes;
  Window child = 0;
  if (window == 0 || !XGetWindowAttributes(display, window, &attributes)) return 0;
  if (!XTranslateCoordinates(display, window, attributes.root, -attributes.border_width,
                             -attributes.border_width, x, y, &child))
    return 0;
  *width = attributes.width + 2 * attributes.border_width;
  *height = attributes.height + 2 * attributes.border_width;
  return 1;
}

/* The frame of a client window on the screen, decorations included. */
static inline int nevoX11FrameRectangle(Display* display, Window window, int* x, int* y, int* width,
                                        int* height) {
  return nevoX11Rectangle(display, nevoX11Frame(display, window), x, y, width, height);
}

/* A point of a window in root coordinates. */
static inline int nevoX11ToRoot(Display* display, Window window, int x, int y, int* rootX,
                                int* rootY) {
  Window child = 0;
  return XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, rootX, rootY,
                               &child);
}

/* Whether the window manager's frame holds the whole client window: not so while openbox
 * animates a window's iconifying or restoring, when the frame shrinks or grows. */
static inline int nevoX11FrameHoldsClient(Display* display, Window window) {
  int x = 0, y = 0, width = 0, height = 0, frameX = 0, frameY = 0, frameWidth = 0, frameHeight = 0;
  return nevoX11Rectangle(display, window, &x, &y, &width, &height) &&
         nevoX11FrameRectangle(display, window, &frameX, &frameY, &frameWidth, &frameHeight) &&
         frameX <= x && frameY <= y && x + width <= frameX + frameWidth &&
         y + height <= frameY + frameHeight;
}

/* Whether the window is viewable: mapped, and every ancestor too. */
static inline int nevoX11Viewable(Display* display, Window window) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

/* The ICCCM state the window manager gives the window (WM_STATE): NormalState,
 * IconicState, or WithdrawnState when there is none. */
static inline long nevoX11WmState(Display* display, Window window) {
  Atom wmState = XInternAtom(display, "WM_STATE", False), type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = NULL;
  long state = WithdrawnState;
  if (XGetWindowProperty(display, window, wmState, 0, 2, False, wmState, &type, &format, &count,
                         &after, &data) == Success &&
      data != NULL) {
    if (format == 32 && count >= 1) state = ((long*)(void*)data)[0];
    XFree(data);
  }
  return state;
}

/* A list of windows on the root (_NET_ACTIVE_WINDOW, _NET_CLIENT_LIST): whether `window`
 * is in it (for the active window: is it). */
static inline int nevoX11RootListHas(Display* display, const char* name, Window window) {
  Atom type = 0;
  int format = 0, found = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = NULL;
  if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, name, False), 0,
                         4096, False, XA_WINDOW, &type, &format, &count, &after,
                         &data) == Success &&
      data != NULL) {
    for (unsigned long i = 0; format == 32 && i < count; ++i) {
      if ((Window)((unsigned long*)(void*)data)[i] == window) found = 1;
    }
    XFree(data);
  }
  return found;
}

static inline int nevoX11Active(Display* display, Window window) {
  return nevoX11RootListHas(display, "_NET_ACTIVE_WINDOW", window);
}

/* Whether the window manager still manages the window. */
static inline int nevoX11Managed(Display* display, Window window) {
  return nevoX11RootListHas(display, "_NET_CLIENT_LIST", window);
}

/* Whether the window's _NET_WM_NAME is `title`. */
static inline int nevoX11TitleIs(Display* display, Window window, const char* title) {
  Atom type = 0;
  int format = 0, same = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = NULL;
  if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024,
                         False, XInternAtom(display, "UTF8_STRING", False), &type, &format, &count,
                         &after, &data) == Success &&
      data != NULL) {
    same = format == 8 && after == 0 && count == strlen(title) && memcmp(data, title, count) == 0;
    XFree(data);
  }
  return same;
}

static inline void nevoX11SendToRoot(Display* display, Window window, const char* message, long l0,
                                     long l1, long l2) {
  XEvent event;
  memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, message, False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = l0;
  event.xclient.data.l[1] = l1;
  event.xclient.data.l[2] = l2;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display);
}

/* Asks the window manager to activate the window as a pager would (source 2), which
 * openbox carries out whatever the timestamps say; an application's own request (source 1)
 * may be turned into a mere attention hint. */
static inline void nevoX11Activate(Display* display, Window window) {
  nevoX11SendToRoot(display, window, "_NET_ACTIVE_WINDOW", 2, CurrentTime, 0);
}

/* Asks the window manager to keep the window above the others (_NET_WM_STATE_ABOVE). */
static inline void nevoX11KeepAbove(Display* display, Window window) {
  nevoX11SendToRoot(display, window, "_NET_WM_STATE", 1 /* add */,
                    (long)XInternAtom(display, "_NET_WM_STATE_ABOVE", False), 0);
}

/* Tells the window manager that the window takes no input focus (WM_HINTS input). */
static inline void nevoX11RefuseFocus(Display* display, Window window) {
  XWMHints* hints = XGetWMHints(display, window);
  XWMHints fresh;
  memset(&fresh, 0, sizeof fresh);
  XWMHints* use = hints != NULL ? hints : &fresh;
  use->flags |= InputHint;
  use->input = False;
  XSetWMHints(display, window, use);
  if (hints != NULL) XFree(hints);
  XFlush(display);
}

/* Asks the window manager to put the frame's top-left corner at x, y: a configure request
 * of a client with north-west gravity, whose reference point is the frame's corner. */
static inline void nevoX11Move(Display* display, Window window, int x, int y) {
  XMoveWindow(display, window, x, y);
  XFlush(display);
}

#endif
