/* The end-to-end tests' application in GTK 4: the scene and the line commands of the GTK 3
 * application (nevo_e2e_app.c), on the X11 backend of GDK (GDK_BACKEND=x11).
 *
 *   nevo_e2e_app_gtk4 --scene full            the main window, a second window, two windows
 *                                             with the same title and frame, a minimized
 *                                             window and a window that stays above the main
 *                                             window's covered button
 *   nevo_e2e_app_gtk4 --scene pair --prefix P two plain windows, "P One" and "P Two"
 *
 * "ready <pid>" once every window is mapped where it belongs (the minimized one iconified)
 * and the first is active; then one line per command, answered "ok ..." once its effect is
 * visible on the X server, or "error <what>", each wait bounded (kWaitMs):
 *
 *   title <window> <text>       retitle
 *   move <window> <x> <y>       move the frame's top-left corner to x, y
 *   minimize <window>           iconify
 *   raise <window>              activate through the window manager
 *   focus <window> <widget>     give a control the input focus
 *   focused                     the control that holds the keyboard focus (or the named
 *                               control that contains it): "ok <widget>", or "ok none"
 *   where <widget>              the control's frame on the screen: "ok x y width height"
 *   frame <window>              the window's frame, decorations included, likewise
 *   close <window>              destroy
 *   quit
 *
 * Where it differs from the GTK 3 scene, because GTK 4 cannot do it itself:
 * - GTK 4 places no window: once mapped, each is moved by a configure request on its
 *   surface's X window (GDK's X11 backend is required), and every position (frame, where, the waits) is
 *   read from the X server, not from GTK, which keeps none.
 * - The cover's "keep above" and "takes no focus" are set through X (_NET_WM_STATE_ABOVE,
 *   WM_HINTS) once it is mapped: GTK 4 has neither.
 * - "where" gives a control's content box (inside its padding and border), the box GTK 4's
 *   accessibility describes, where GTK 3's gives the allocation.
 * - The password entry is a GtkPasswordEntry, GTK 4's own; its text is the same.
 * - The deep branch nests GtkBoxes as the GTK 3 scene does; GTK 4 exposes each as a "panel"
 *   (GTK 3 as a "filler").
 * The tests start it with GSK_RENDERER=cairo, which draws without GL: Xvfb has no GPU, and
 * GTK 4's GL renderer there is at the mercy of a software rasterizer. */
#define _POSIX_C_SOURCE 200809L

#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include "nevo_e2e_gtk.h"
#include "nevo_e2e_x11.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kWaitMs = 5000, kDeepLevels = 32, kMoveAgainMs = 500 };

/* The password's text: the tests look for it in every output of the tool. */
static const char kPasswordText[] = "hunter2-e2e";

typedef struct {
  const char* name;
  GtkWidget* window;
  int x, y;       /* where it belongs */
  gint64 movedAt; /* when it was last asked to go there (start-up) */
} NamedWindow;

static NamedWindow windows[8];
static int windowCount;
static NamedWidget widgets[16];
static int widgetCount;
static gboolean running = TRUE;

/* The command being carried out: what it waits for and until when. */
typedef enum { kNone, kMoved, kIconified, kActive, kFocused, kTitled, kClosed } Wait;
static struct {
  Wait what;
  GtkWidget* window;
  Window xid; /* for a window being closed, which GTK forgets at once */
  GtkWidget* widget;
  int x, y;
  char title[512];
  gint64 until;
} pending;

static void reply(const char* format, ...) G_GNUC_PRINTF(1, 2);
static void reply(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vprintf(format, arguments);
  va_end(arguments);
  putchar('\n');
  fflush(stdout);
}

static Display* xdisplay(void) {
  return gdk_x11_display_get_xdisplay(gdk_display_get_default());
}

/* X requests on windows that may be going: errors are trapped, not fatal. */
static void trap(void) {
  gdk_x11_display_error_trap_push(gdk_display_get_default());
}
static void untrap(void) {
  gdk_x11_display_error_trap_pop_ignored(gdk_display_get_default());
}

static Window xidOf(GtkWidget* window) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  return surface != NULL ? gdk_x11_surface_get_xid(surface) : 0;
}

static NamedWindow* findNamedWindow(const char* name) {
  for (int i = 0; i < windowCount; ++i) {
    if (windows[i].window != NULL && strcmp(windows[i].name, name) == 0) return &windows[i];
  }
  return NULL;
}

static GtkWidget* findWindow(const char* name) {
  NamedWindow* found = findNamedWindow(name);
  return found != NULL ? found->window : NULL;
}

static GtkWidget* findWidget(const char* name) {
  for (int i = 0; i < widgetCount; ++i) {
    if (widgets[i].widget != NULL && strcmp(widgets[i].name, name) == 0) return widgets[i].widget;
  }
  return NULL;
}

static GtkWidget* named(const char* name, GtkWidget* widget) {
  widgets[widgetCount].name = name;
  widgets[widgetCount].widget = widget;
  ++widgetCount;
  return widget;
}

static void label(GtkWidget* widget, const char* text) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, text, -1);
}

static void forgetWindow(GtkWidget* window, gpointer unused) {
  (void)unused;
  for (int i = 0; i < windowCount; ++i) {
    if (windows[i].window == window) windows[i].window = NULL;
  }
}

/* Before a window is destroyed: its controls are forgotten (by "destroy" they are gone). */
static void forgetWidgetsOf(GtkWidget* window) {
  for (int i = 0; i < widgetCount; ++i) {
    if (widgets[i].widget != NULL && gtk_widget_get_root(widgets[i].widget) == GTK_ROOT(window))
      widgets[i].widget = NULL;
  }
}

static GtkWidget* newWindow(const char* name, const char* title, int x, int y, int width,
                            int height) {
  GtkWidget* window = gtk_window_new();
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_widget_set_size_request(window, width, height);
  g_signal_connect(window, "destroy", G_CALLBACK(forgetWindow), NULL);
  windows[windowCount].name = name;
  windows[windowCount].window = window;
  windows[windowCount].x = x;
  windows[windowCount].y = y;
  ++windowCount;
  return window;
}

static gboolean frameAt(GtkWidget* window, int x, int y) {
  int fx = 0, fy = 0, width = 0, height = 0;
  return nevoX11FrameRectangle(xdisplay(), xidOf(window), &fx, &fy, &width, &height) && fx == x &&
         fy == y;
}

static gboolean mappedNormally(GtkWidget* window) {
  Window xid = xidOf(window);
  return xid != 0 && nevoX11Viewable(xdisplay(), xid) &&
         nevoX11WmState(xdisplay(), xid) == NormalState;
}

static gboolean iconified(GtkWidget* window) {
  Window xid = xidOf(window);
  return xid != 0 && nevoX11WmState(xdisplay(), xid) == IconicState;
}

/* Active, and shown in full: a window restored from its icon is active before openbox has
 * finished drawing its frame grow back. */
static gboolean active(GtkWidget* window) {
  return nevoX11Active(xdisplay(), xidOf(window)) && gtk_window_is_active(GTK_WINDOW(window)) &&
         mappedNormally(window) && nevoX11FrameHoldsClient(xdisplay(), xidOf(window));
}

static void moveTo(GtkWidget* window, int x, int y) {
  nevoX11Move(xdisplay(), xidOf(window), x, y);
}

/* The widget's frame in root coordinates: the box that GTK 4's accessibility describes (the
 * widget's content box, its own coordinates' origin and its width and height), moved to the
 * window's surface and then through the X server to the root. */
static gboolean screenRectangle(GtkWidget* widget, int* x, int* y, int* width, int* height) {
  GtkNative* native = gtk_widget_get_native(widget);
  double left = 0, top = 0;
  if (native == NULL || !gtk_widget_get_mapped(widget) ||
      !gtk_widget_translate_coordinates(widget, GTK_WIDGET(native), 0, 0, &left, &top))
    return FALSE;
  double surfaceX = 0, surfaceY = 0;
  gtk_native_get_surface_transform(native, &surfaceX, &surfaceY);
  if (!nevoX11ToRoot(xdisplay(), xidOf(GTK_WIDGET(native)), (int)(left + surfaceX + 0.5),
                     (int)(top + surfaceY + 0.5), x, y))
    return FALSE;
  *width = gtk_widget_get_width(widget);
  *height = gtk_widget_get_height(widget);
  return TRUE;
}

static gboolean focusIn(GtkWidget* window, GtkWidget* widget) {
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
  return focus != NULL && (focus == widget || gtk_widget_is_ancestor(focus, widget));
}

static gboolean pendingDone(void) {
  switch (pending.what) {
    case kNone:
      return TRUE;
    case kMoved:
      return frameAt(pending.window, pending.x, pending.y);
    case kIconified:
      return iconified(pending.window);
    case kActive:
      return active(pending.window);
    case kFocused:
      return active(pending.window) && focusIn(pending.window, pending.widget);
    case kTitled:
      return nevoX11TitleIs(xdisplay(), xidOf(pending.window), pending.title);
    case kClosed:
      return !nevoX11Managed(xdisplay(), pending.xid);
  }
  return TRUE;
}

/* Polled every few milliseconds while a command waits: each poll asks the X server. */
static gboolean checkPending(gpointer unused) {
  (void)unused;
  if (pending.what == kNone) return G_SOURCE_REMOVE;
  trap();
  gboolean done = pendingDone();
  untrap();
  if (done) {
    pending.what = kNone;
    reply("ok");
    return G_SOURCE_REMOVE;
  }
  if (g_get_monotonic_time() > pending.until) {
    pending.what = kNone;
    reply("error timed out");
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

static void waitFor(Wait what, GtkWidget* window, GtkWidget* widget) {
  pending.what = what;
  pending.window = window;
  pending.widget = widget;
  pending.until = g_get_monotonic_time() + (gint64)kWaitMs * 1000;
  g_timeout_add(5, checkPending, NULL);
}

static void runCommand(char* line) {
  char* save = NULL;
  const char* verb = strtok_r(line, " ", &save);
  if (verb == NULL) {
    reply("error empty command");
    return;
  }
  if (strcmp(verb, "quit") == 0) {
    reply("ok");
    running = FALSE;
    g_main_context_wakeup(NULL);
    return;
  }
  if (strcmp(verb, "focused") == 0) {
    reply("ok %s", nevoFocusedName(widgets, widgetCount));
    return;
  }
  if (strcmp(verb, "where") == 0) {
    const char* name = strtok_r(NULL, " ", &save);
    GtkWidget* widget = name != NULL ? findWidget(name) : NULL;
    int x = 0, y = 0, width = 0, height = 0;
    if (widget == NULL || !screenRectangle(widget, &x, &y, &width, &height)) {
      reply("error no widget %s", name != NULL ? name : "");
      return;
    }
    reply("ok %d %d %d %d", x, y, width, height);
    return;
  }

  const char* windowName = strtok_r(NULL, " ", &save);
  GtkWidget* window = windowName != NULL ? findWindow(windowName) : NULL;
  if (window == NULL) {
    reply("error no window %s", windowName != NULL ? windowName : "");
    return;
  }
  if (strcmp(verb, "frame") == 0) {
    int x = 0, y = 0, width = 0, height = 0;
    if (!nevoX11FrameRectangle(xdisplay(), xidOf(window), &x, &y, &width, &height)) {
      reply("error no frame for %s", windowName);
      return;
    }
    reply("ok %d %d %d %d", x, y, width, height);
  } else if (strcmp(verb, "title") == 0) {
    const char* text = strtok_r(NULL, "", &save);
    g_strlcpy(pending.title, text != NULL ? text : "", sizeof pending.title);
    gtk_window_set_title(GTK_WINDOW(window), pending.title);
    waitFor(kTitled, window, NULL);
  } else if (strcmp(verb, "move") == 0) {
    const char *x = strtok_r(NULL, " ", &save), *y = strtok_r(NULL, " ", &save);
    if (x == NULL || y == NULL) {
      reply("error move needs x and y");
      return;
    }
    pending.x = atoi(x);
    pending.y = atoi(y);
    moveTo(window, pending.x, pending.y);
    waitFor(kMoved, window, NULL);
  } else if (strcmp(verb, "minimize") == 0) {
    gtk_window_minimize(GTK_WINDOW(window));
    waitFor(kIconified, window, NULL);
  } else if (strcmp(verb, "raise") == 0) {
    nevoX11Activate(xdisplay(), xidOf(window));
    waitFor(kActive, window, NULL);
  } else if (strcmp(verb, "focus") == 0) {
    const char* name = strtok_r(NULL, " ", &save);
    GtkWidget* widget = name != NULL ? findWidget(name) : NULL;
    if (widget == NULL || gtk_widget_get_root(widget) != GTK_ROOT(window)) {
      reply("error no widget %s in %s", name != NULL ? name : "", windowName);
      return;
    }
    nevoX11Activate(xdisplay(), xidOf(window));
    gtk_widget_grab_focus(widget);
    waitFor(kFocused, window, widget);
  } else if (strcmp(verb, "close") == 0) {
    pending.xid = xidOf(window);
    forgetWidgetsOf(window);
    gtk_window_destroy(GTK_WINDOW(window));
    waitFor(kClosed, NULL, NULL);
  } else {
    reply("error unknown command %s", verb);
  }
}

static gboolean readCommand(GIOChannel* channel, GIOCondition condition, gpointer unused) {
  (void)condition;
  (void)unused;
  if (pending.what != kNone) return G_SOURCE_CONTINUE; /* one command at a time */
  gchar* line = NULL;
  gsize terminator = 0;
  const GIOStatus status = g_io_channel_read_line(channel, &line, NULL, &terminator, NULL);
  if (status == G_IO_STATUS_EOF || status == G_IO_STATUS_ERROR) {
    running = FALSE; /* the test has gone: so does the application */
    return G_SOURCE_REMOVE;
  }
  if (line != NULL) {
    line[terminator] = '\0';
    runCommand(line);
    g_free(line);
  }
  return G_SOURCE_CONTINUE;
}

static GtkWidget* button(const char* name, const char* text) {
  return named(name, gtk_button_new_with_label(text));
}

/* The main window: one control of each kind the observation reports, a disabled button,
 * a button that another window covers, and a branch nested deeper than the walk goes,
 * followed by a button that the walk must still reach. */
static GtkWidget* mainWindow(const char* title) {
  GtkWidget* window = newWindow("main", title, 40, 40, 560, 640);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_widget_set_margin_start(column, 8);
  gtk_widget_set_margin_end(column, 8);
  gtk_widget_set_margin_top(column, 8);
  gtk_widget_set_margin_bottom(column, 8);
  gtk_window_set_child(GTK_WINDOW(window), column);

  gtk_box_append(GTK_BOX(column), named("label", gtk_label_new("Plain label")));
  gtk_box_append(GTK_BOX(column), button("apply", "Apply"));

  /* Covered within the window: an overlay draws its overlay child over its main child. */
  GtkWidget* overlay = gtk_overlay_new();
  gtk_overlay_set_child(GTK_OVERLAY(overlay), button("underneath", "Underneath"));
  GtkWidget* top = button("ontop", "On top");
  gtk_widget_set_halign(top, GTK_ALIGN_FILL);
  gtk_widget_set_valign(top, GTK_ALIGN_FILL);
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), top);
  gtk_box_append(GTK_BOX(column), overlay);

  GtkWidget* disabled = button("disabled", "Disabled");
  gtk_widget_set_sensitive(disabled, FALSE);
  gtk_box_append(GTK_BOX(column), disabled);

  GtkWidget* entry = named("entry", gtk_entry_new());
  gtk_editable_set_text(GTK_EDITABLE(entry), "typed-entry-text");
  label(entry, "Plain entry");
  gtk_box_append(GTK_BOX(column), entry);

  GtkWidget* password = named("password", gtk_password_entry_new());
  gtk_editable_set_text(GTK_EDITABLE(password), kPasswordText);
  label(password, "Password");
  gtk_box_append(GTK_BOX(column), password);

  GtkWidget* check = named("check", gtk_check_button_new_with_label("Remember me"));
  gtk_check_button_set_active(GTK_CHECK_BUTTON(check), TRUE);
  gtk_box_append(GTK_BOX(column), check);

  GtkWidget* slider =
      named("slider", gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 100, 1));
  gtk_range_set_value(GTK_RANGE(slider), 42);
  label(slider, "Volume");
  gtk_box_append(GTK_BOX(column), slider);

  /* Covered by the "cover" window, which stays above this one. */
  gtk_box_append(GTK_BOX(column), button("covered", "Covered"));

  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* inner = outer;
  for (int level = 1; level < kDeepLevels; ++level) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(inner), box);
    inner = box;
  }
  gtk_box_append(GTK_BOX(inner), button("deep", "Deep button"));
  gtk_box_append(GTK_BOX(column), outer);
  gtk_box_append(GTK_BOX(column), button("after", "After deep"));
  return window;
}

static GtkWidget* plainWindow(const char* name, const char* title, int x, int y) {
  GtkWidget* window = newWindow(name, title, x, y, 320, 200);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_window_set_child(GTK_WINDOW(window), column);
  gtk_box_append(GTK_BOX(column), gtk_label_new(title));
  gtk_box_append(GTK_BOX(column), gtk_button_new_with_label("OK"));
  return window;
}

/* Start-up: the windows are shown, then the application waits (polling, bounded) until
 * each is mapped and, asked again now and then, the window manager has put it where it
 * belongs; then it places the cover over the covered button, raises the first window and
 * says it is ready. */
static struct {
  int phase;
  gint64 until;
} startup;

static gboolean placed(NamedWindow* named) {
  GtkWidget* window = named->window;
  if (strcmp(named->name, "mini") == 0) {
    if (iconified(window)) return TRUE;
    if (mappedNormally(window) && named->movedAt == 0) {
      gtk_window_minimize(GTK_WINDOW(window));
      named->movedAt = g_get_monotonic_time();
    }
    return FALSE;
  }
  if (!mappedNormally(window)) return FALSE;
  if (strcmp(named->name, "cover") == 0) return TRUE;
  if (frameAt(window, named->x, named->y)) return TRUE;
  const gint64 now = g_get_monotonic_time();
  if (now - named->movedAt > (gint64)kMoveAgainMs * 1000) {
    moveTo(window, named->x, named->y);
    named->movedAt = now;
  }
  return FALSE;
}

static gboolean allPlaced(void) {
  gboolean all = TRUE;
  for (int i = 0; i < windowCount; ++i) {
    if (!placed(&windows[i])) all = FALSE;
  }
  return all;
}

/* Where the cover's frame goes: over the covered button's centre, as the main window is laid
 * out now; FALSE while it has no layout yet (a mapped window may not have one). */
static gboolean coverPosition(int* coverX, int* coverY) {
  int x = 0, y = 0, width = 0, height = 0;
  if (!screenRectangle(findWidget("covered"), &x, &y, &width, &height) || width <= 0 || height <= 0)
    return FALSE;
  *coverX = x + width / 2 - 60;
  *coverY = y + height / 2 - 30;
  return TRUE;
}

static gboolean advanceStartupTrapped(void) {
  if (g_get_monotonic_time() > startup.until) {
    reply("error start-up timed out in phase %d", startup.phase);
    exit(1);
  }
  NamedWindow* cover = findNamedWindow("cover");
  GtkWidget* first = windows[0].window;
  switch (startup.phase) {
    case 0:
      if (!allPlaced()) return G_SOURCE_CONTINUE;
      if (cover != NULL) {
        nevoX11KeepAbove(xdisplay(), xidOf(cover->window));
        nevoX11RefuseFocus(xdisplay(), xidOf(cover->window));
        cover->movedAt = 0;
      }
      startup.phase = 1;
      return G_SOURCE_CONTINUE;
    case 1:
      if (cover != NULL) {
        /* Until the cover is where the layout, as it stands now, wants it. */
        int x = 0, y = 0;
        if (!coverPosition(&x, &y)) return G_SOURCE_CONTINUE;
        if (!frameAt(cover->window, x, y)) {
          const gint64 now = g_get_monotonic_time();
          if (x != cover->x || y != cover->y ||
              now - cover->movedAt > (gint64)kMoveAgainMs * 1000) {
            cover->x = x;
            cover->y = y;
            cover->movedAt = now;
            moveTo(cover->window, x, y);
          }
          return G_SOURCE_CONTINUE;
        }
      }
      nevoX11Activate(xdisplay(), xidOf(first));
      startup.phase = 2;
      return G_SOURCE_CONTINUE;
    default:
      if (!active(first)) return G_SOURCE_CONTINUE;
      if (cover != NULL) {
        /* The layout may have changed since the cover was put over it. */
        int x = 0, y = 0;
        if (!coverPosition(&x, &y) || !frameAt(cover->window, x, y)) {
          startup.phase = 1;
          return G_SOURCE_CONTINUE;
        }
      }
      reply("ready %d", (int)getpid());
      GIOChannel* input = g_io_channel_unix_new(STDIN_FILENO);
      g_io_add_watch(input, G_IO_IN | G_IO_HUP | G_IO_ERR, readCommand, NULL);
      g_io_channel_unref(input);
      return G_SOURCE_REMOVE;
  }
}

static gboolean advanceStartup(gpointer unused) {
  (void)unused;
  trap();
  gboolean again = advanceStartupTrapped();
  untrap();
  return again;
}

int main(int argc, char** argv) {
  g_set_prgname("nevo-e2e-app-gtk4");
  gtk_init();
  if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
    fprintf(stderr, "nevo_e2e_app_gtk4 needs GDK's X11 backend (GDK_BACKEND=x11)\n");
    return 2;
  }
  const char *scene = "full", *prefix = "NEVO E2E";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--scene") == 0)
      scene = argv[i + 1];
    else if (strcmp(argv[i], "--prefix") == 0)
      prefix = argv[i + 1];
  }
  char title[256];
  if (strcmp(scene, "full") == 0) {
    snprintf(title, sizeof title, "%s Main", prefix);
    mainWindow(title);
    snprintf(title, sizeof title, "%s Second", prefix);
    plainWindow("second", title, 640, 40);
    snprintf(title, sizeof title, "%s Twin", prefix);
    plainWindow("twin1", title, 640, 300);
    plainWindow("twin2", title, 640, 300);
    snprintf(title, sizeof title, "%s Minimized", prefix);
    plainWindow("mini", title, 1000, 40);
    GtkWidget* cover = newWindow("cover", "NEVO E2E Cover", 1000, 600, 120, 60);
    gtk_window_set_child(GTK_WINDOW(cover), gtk_label_new("Cover"));
  } else if (strcmp(scene, "pair") == 0) {
    snprintf(title, sizeof title, "%s One", prefix);
    plainWindow("one", title, 1000, 300);
    snprintf(title, sizeof title, "%s Two", prefix);
    plainWindow("two", title, 1000, 560);
  } else {
    fprintf(stderr, "unknown scene %s\n", scene);
    return 2;
  }
  /* Shown in reverse, so that the first window is mapped last. */
  for (int i = windowCount - 1; i >= 0; --i) gtk_window_present(GTK_WINDOW(windows[i].window));
  startup.until = g_get_monotonic_time() + (gint64)kWaitMs * 2 * 1000;
  g_timeout_add(5, advanceStartup, NULL);
  while (running) g_main_context_iteration(NULL, TRUE);
  return 0;
}
