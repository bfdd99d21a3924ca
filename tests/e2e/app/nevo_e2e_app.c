/* The application that the end-to-end tests look at and switch between: GTK 3 windows at
 * fixed places with known controls, steered by line commands on standard input.
 *
 *   nevo_e2e_app --scene full            the main window with every kind of control, a
 *                                        second window, two windows with the same title
 *                                        and frame, a minimized window and a window that
 *                                        stays above the main window's covered button
 *   nevo_e2e_app --scene pair --prefix P two plain windows, "P One" and "P Two"
 *   nevo_e2e_app --scene hidden          one window, "NEVO E2E Hidden", whose first child is
 *                                        a hidden box of kHiddenButtons buttons (more than
 *                                        the observation visits), before its visible
 *                                        controls
 *
 * When every window is mapped where it belongs (and the minimized one is iconified), the
 * first window is raised and the application writes "ready <pid>". Each command is one line
 * and is answered with one line, "ok ..." once its effect is visible on the X server, or
 * "error <what>":
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
 * Nothing here is clever: every wait has a bound (kWaitMs), after which the command answers
 * "error" rather than hanging the test. */
#define _POSIX_C_SOURCE 200809L

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xlib.h>

#include "nevo_e2e_gtk.h"
#include "nevo_e2e_x11.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kWaitMs = 5000, kDeepLevels = 32, kHiddenButtons = 720 };

/* The password's text: the tests look for it in every output of the tool. */
static const char kPasswordText[] = "hunter2-e2e";

typedef struct {
  const char* name;
  GtkWidget* window;
  int x, y; /* where it was put */
} NamedWindow;

static NamedWindow windows[8];
static int windowCount;
static NamedWidget widgets[16];
static int widgetCount;

/* The command being carried out: what it waits for and until when. */
typedef enum { kNone, kMoved, kIconified, kActive, kFocused } Wait;
static struct {
  Wait what;
  GtkWidget* window;
  GtkWidget* widget;
  int x, y;
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

static GtkWidget* findWindow(const char* name) {
  for (int i = 0; i < windowCount; ++i) {
    if (windows[i].window != NULL && strcmp(windows[i].name, name) == 0) return windows[i].window;
  }
  return NULL;
}

static GtkWidget* findWidget(const char* name) {
  for (int i = 0; i < widgetCount; ++i) {
    if (strcmp(widgets[i].name, name) == 0) return widgets[i].widget;
  }
  return NULL;
}

static GtkWidget* named(const char* name, GtkWidget* widget) {
  widgets[widgetCount].name = name;
  widgets[widgetCount].widget = widget;
  ++widgetCount;
  return widget;
}

static void forgetWindow(GtkWidget* window, gpointer unused) {
  (void)unused;
  for (int i = 0; i < windowCount; ++i) {
    if (windows[i].window == window) windows[i].window = NULL;
  }
}

static GtkWidget* newWindow(const char* name, const char* title, int x, int y, int width,
                            int height) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_widget_set_size_request(window, width, height);
  /* Set before mapping, this is a user-specified position, which the window manager keeps. */
  gtk_window_move(GTK_WINDOW(window), x, y);
  g_signal_connect(window, "destroy", G_CALLBACK(forgetWindow), NULL);
  windows[windowCount].name = name;
  windows[windowCount].window = window;
  windows[windowCount].x = x;
  windows[windowCount].y = y;
  ++windowCount;
  return window;
}

static gboolean windowAt(GtkWidget* window, int x, int y) {
  int wx = 0, wy = 0;
  gtk_window_get_position(GTK_WINDOW(window), &wx, &wy);
  return wx == x && wy == y;
}

static gboolean iconified(GtkWidget* window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  return gdkWindow != NULL && (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_ICONIFIED) != 0;
}

/* Asks the window manager to activate the window as a pager would (source 2), which
 * openbox carries out whatever the timestamps say; an application's own request (source 1)
 * may be turned into a mere attention hint. */
static void activate(GtkWidget* window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  Display* display = GDK_DISPLAY_XDISPLAY(gdk_window_get_display(gdkWindow));
  XEvent event;
  memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = GDK_WINDOW_XID(gdkWindow);
  event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;
  event.xclient.data.l[1] = (long)gdk_x11_get_server_time(gdkWindow);
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display);
}

/* Whether the window manager shows the whole window: while openbox animates a window's
 * restoring from its icon, the window is already active, but its frame (and the window in
 * it) is still growing back into place. */
static gboolean shownInFull(GtkWidget* window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  if (gdkWindow == NULL) return FALSE;
  GdkDisplay* display = gdk_window_get_display(gdkWindow);
  gdk_x11_display_error_trap_push(display);
  const gboolean whole =
      nevoX11FrameHoldsClient(GDK_DISPLAY_XDISPLAY(display), GDK_WINDOW_XID(gdkWindow));
  gdk_x11_display_error_trap_pop_ignored(display);
  return whole;
}

static gboolean pendingDone(void) {
  switch (pending.what) {
    case kNone:
      return TRUE;
    case kMoved:
      return windowAt(pending.window, pending.x, pending.y);
    case kIconified:
      return iconified(pending.window);
    case kActive:
      return gtk_window_is_active(GTK_WINDOW(pending.window)) && shownInFull(pending.window);
    case kFocused:
      return gtk_window_is_active(GTK_WINDOW(pending.window)) &&
             gtk_widget_has_focus(pending.widget) && shownInFull(pending.window);
  }
  return TRUE;
}

/* Polled every few milliseconds while a command waits: the state that GTK keeps follows
 * the X events, so this sees the change as soon as the server has reported it. */
static gboolean checkPending(gpointer unused) {
  (void)unused;
  if (pending.what == kNone) return G_SOURCE_REMOVE;
  if (pendingDone()) {
    gdk_display_sync(gdk_display_get_default());
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
    gtk_main_quit();
    return;
  }
  if (strcmp(verb, "focused") == 0) {
    reply("ok %s", nevoFocusedName(widgets, widgetCount));
    return;
  }
  if (strcmp(verb, "where") == 0) {
    const char* name = strtok_r(NULL, " ", &save);
    GtkWidget* widget = name != NULL ? findWidget(name) : NULL;
    if (widget == NULL || gtk_widget_get_window(widget) == NULL) {
      reply("error no widget %s", name != NULL ? name : "");
      return;
    }
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    int originX = 0, originY = 0, x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(gtk_widget_get_toplevel(widget)), &originX,
                          &originY);
    gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), 0, 0, &x, &y);
    reply("ok %d %d %d %d", originX + x, originY + y, allocation.width, allocation.height);
    return;
  }

  const char* windowName = strtok_r(NULL, " ", &save);
  GtkWidget* window = windowName != NULL ? findWindow(windowName) : NULL;
  if (window == NULL) {
    reply("error no window %s", windowName != NULL ? windowName : "");
    return;
  }
  if (strcmp(verb, "frame") == 0) {
    GdkRectangle frame;
    gdk_window_get_frame_extents(gtk_widget_get_window(window), &frame);
    reply("ok %d %d %d %d", frame.x, frame.y, frame.width, frame.height);
  } else if (strcmp(verb, "title") == 0) {
    const char* text = strtok_r(NULL, "", &save);
    gtk_window_set_title(GTK_WINDOW(window), text != NULL ? text : "");
    gdk_display_sync(gdk_display_get_default());
    reply("ok");
  } else if (strcmp(verb, "move") == 0) {
    const char *x = strtok_r(NULL, " ", &save), *y = strtok_r(NULL, " ", &save);
    if (x == NULL || y == NULL) {
      reply("error move needs x and y");
      return;
    }
    pending.x = atoi(x);
    pending.y = atoi(y);
    gtk_window_move(GTK_WINDOW(window), pending.x, pending.y);
    waitFor(kMoved, window, NULL);
  } else if (strcmp(verb, "minimize") == 0) {
    gtk_window_iconify(GTK_WINDOW(window));
    waitFor(kIconified, window, NULL);
  } else if (strcmp(verb, "raise") == 0) {
    activate(window);
    waitFor(kActive, window, NULL);
  } else if (strcmp(verb, "focus") == 0) {
    const char* name = strtok_r(NULL, " ", &save);
    GtkWidget* widget = name != NULL ? findWidget(name) : NULL;
    if (widget == NULL || gtk_widget_get_toplevel(widget) != window) {
      reply("error no widget %s in %s", name != NULL ? name : "", windowName);
      return;
    }
    activate(window);
    gtk_widget_grab_focus(widget);
    waitFor(kFocused, window, widget);
  } else if (strcmp(verb, "close") == 0) {
    gtk_widget_destroy(window);
    gdk_display_sync(gdk_display_get_default());
    reply("ok");
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
    gtk_main_quit(); /* the test has gone: so does the application */
    return G_SOURCE_REMOVE;
  }
  if (line != NULL) {
    line[terminator] = '\0';
    runCommand(line);
    g_free(line);
  }
  return G_SOURCE_CONTINUE;
}

static GtkWidget* button(const char* name, const char* label) {
  return named(name, gtk_button_new_with_label(label));
}

/* The main window: one control of each kind the observation reports, a disabled button,
 * a button that another window covers, and a branch nested deeper than the walk goes,
 * followed by a button that the walk must still reach. */
static GtkWidget* mainWindow(const char* title) {
  GtkWidget* window = newWindow("main", title, 40, 40, 560, 640);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(column), 8);
  gtk_container_add(GTK_CONTAINER(window), column);

  gtk_box_pack_start(GTK_BOX(column), named("label", gtk_label_new("Plain label")), FALSE, FALSE,
                     0);
  gtk_box_pack_start(GTK_BOX(column), button("apply", "Apply"), FALSE, FALSE, 0);

  /* Covered within the window: an overlay draws its overlay child over its main child. */
  GtkWidget* overlay = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(overlay), button("underneath", "Underneath"));
  GtkWidget* top = button("ontop", "On top");
  gtk_widget_set_halign(top, GTK_ALIGN_FILL);
  gtk_widget_set_valign(top, GTK_ALIGN_FILL);
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), top);
  gtk_box_pack_start(GTK_BOX(column), overlay, FALSE, FALSE, 0);

  GtkWidget* disabled = button("disabled", "Disabled");
  gtk_widget_set_sensitive(disabled, FALSE);
  gtk_box_pack_start(GTK_BOX(column), disabled, FALSE, FALSE, 0);

  GtkWidget* entry = named("entry", gtk_entry_new());
  gtk_entry_set_text(GTK_ENTRY(entry), "typed-entry-text");
  atk_object_set_name(gtk_widget_get_accessible(entry), "Plain entry");
  gtk_box_pack_start(GTK_BOX(column), entry, FALSE, FALSE, 0);

  GtkWidget* password = named("password", gtk_entry_new());
  gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
  gtk_entry_set_text(GTK_ENTRY(password), kPasswordText);
  atk_object_set_name(gtk_widget_get_accessible(password), "Password");
  gtk_box_pack_start(GTK_BOX(column), password, FALSE, FALSE, 0);

  GtkWidget* check = named("check", gtk_check_button_new_with_label("Remember me"));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), TRUE);
  gtk_box_pack_start(GTK_BOX(column), check, FALSE, FALSE, 0);

  GtkWidget* slider =
      named("slider", gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 100, 1));
  gtk_range_set_value(GTK_RANGE(slider), 42);
  atk_object_set_name(gtk_widget_get_accessible(slider), "Volume");
  gtk_box_pack_start(GTK_BOX(column), slider, FALSE, FALSE, 0);

  /* Covered by the "cover" window, which stays above this one. */
  gtk_box_pack_start(GTK_BOX(column), button("covered", "Covered"), FALSE, FALSE, 0);


  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* inner = outer;
  for (int level = 1; level < kDeepLevels; ++level) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(inner), box, FALSE, FALSE, 0);
    inner = box;
  }
  gtk_box_pack_start(GTK_BOX(inner), button("deep", "Deep button"), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), outer, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), button("after", "After deep"), FALSE, FALSE, 0);
  return window;
}

/* Hundreds of elements that are not on the screen before the ones that are: a box that stays
 * hidden (its buttons are shown, but it is not), as an office suite's closed menus are. */
static GtkWidget* hiddenWindow(const char* title) {
  GtkWidget* window = newWindow("hidden", title, 40, 40, 480, 320);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(column), 8);
  gtk_container_add(GTK_CONTAINER(window), column);
  GtkWidget* hidden = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_no_show_all(hidden, TRUE);
  for (int i = 0; i < kHiddenButtons; ++i) {
    char label[32];
    snprintf(label, sizeof label, "Hidden %d", i);
    GtkWidget* b = gtk_button_new_with_label(label);
    gtk_widget_show(b);
    gtk_box_pack_start(GTK_BOX(hidden), b, FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(column), hidden, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), named("label", gtk_label_new("Visible label")), FALSE, FALSE,
                     0);
  gtk_box_pack_start(GTK_BOX(column), button("apply", "Apply"), FALSE, FALSE, 0);
  GtkWidget* entry = named("entry", gtk_entry_new());
  gtk_entry_set_text(GTK_ENTRY(entry), "typed-entry-text");
  atk_object_set_name(gtk_widget_get_accessible(entry), "Plain entry");
  gtk_box_pack_start(GTK_BOX(column), entry, FALSE, FALSE, 0);
  GtkWidget* check = named("check", gtk_check_button_new_with_label("Remember me"));
  gtk_box_pack_start(GTK_BOX(column), check, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), button("last", "Last visible"), FALSE, FALSE, 0);
  return window;
}

static GtkWidget* plainWindow(const char* name, const char* title, int x, int y) {
  GtkWidget* window = newWindow(name, title, x, y, 320, 200);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_add(GTK_CONTAINER(window), column);
  gtk_box_pack_start(GTK_BOX(column), gtk_label_new(title), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), gtk_button_new_with_label("OK"), FALSE, FALSE, 0);
  return window;
}

/* Start-up: the windows are shown, then the application waits (polling, bounded) until the
 * window manager has put each where it was asked, places the cover over the covered
 * button, raises the first window and says it is ready. */
static struct {
  int phase;
  gint64 until;
} startup;

static gboolean allPlaced(void) {
  for (int i = 0; i < windowCount; ++i) {
    GtkWidget* window = windows[i].window;
    if (strcmp(windows[i].name, "mini") == 0) {
      if (!iconified(window)) return FALSE;
    } else if (strcmp(windows[i].name, "cover") == 0) {
      if (!gtk_widget_get_mapped(window)) return FALSE;
    } else if (!gtk_widget_get_mapped(window) || !windowAt(window, windows[i].x, windows[i].y)) {
      return FALSE;
    }
  }
  return TRUE;
}

/* Where the cover's frame goes: over the covered button's centre, as the main window is laid
 * out now. */
static void coverPosition(GtkWidget* first, int* coverX, int* coverY) {
  GtkWidget* covered = findWidget("covered");
  int originX = 0, originY = 0, x = 0, y = 0;
  gdk_window_get_origin(gtk_widget_get_window(first), &originX, &originY);
  gtk_widget_translate_coordinates(covered, first, 0, 0, &x, &y);
  *coverX = originX + x + gtk_widget_get_allocated_width(covered) / 2 - 60;
  *coverY = originY + y + gtk_widget_get_allocated_height(covered) / 2 - 30;
}

static gboolean advanceStartup(gpointer unused) {
  (void)unused;
  if (g_get_monotonic_time() > startup.until) {
    static const char* const waitedFor[] = {
        "the window manager to place every window where it was asked",
        "the cover window to be placed over the covered button",
        "the first window to become active",
    };
    reply("error start-up timed out in phase %d, waiting for %s", startup.phase,
          waitedFor[startup.phase < 2 ? startup.phase : 2]);
    exit(1);
  }
  GtkWidget* cover = findWindow("cover");
  GtkWidget* first = windows[0].window;
  switch (startup.phase) {
    case 0:
      if (!allPlaced()) return G_SOURCE_CONTINUE;
      startup.phase = 1;
      return G_SOURCE_CONTINUE;
    case 1:
      if (cover != NULL) {
        /* Until the cover is where the layout, as it stands now, wants it. */
        int x = 0, y = 0;
        coverPosition(first, &x, &y);
        if (!windowAt(cover, x, y)) {
          if (x != pending.x || y != pending.y) {
            pending.x = x;
            pending.y = y;
            gtk_window_move(GTK_WINDOW(cover), x, y);
          }
          return G_SOURCE_CONTINUE;
        }
      }
      activate(first);
      startup.phase = 2;
      return G_SOURCE_CONTINUE;
    default:
      if (!gtk_window_is_active(GTK_WINDOW(first))) return G_SOURCE_CONTINUE;
      gdk_display_sync(gdk_display_get_default());
      reply("ready %d", (int)getpid());
      GIOChannel* input = g_io_channel_unix_new(STDIN_FILENO);
      g_io_add_watch(input, G_IO_IN | G_IO_HUP | G_IO_ERR, readCommand, NULL);
      g_io_channel_unref(input);
      return G_SOURCE_REMOVE;
  }
}

int main(int argc, char** argv) {
  g_set_prgname("nevo-e2e-app");
  gtk_init(&argc, &argv);
  const char *scene = "full", *prefix = "NEVO E2E";
  /* The bound of the start-up; longer for a first start of GTK on a fresh machine. */
  double startupSeconds = kWaitMs / 1000.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--scene") == 0)
      scene = argv[i + 1];
    else if (strcmp(argv[i], "--prefix") == 0)
      prefix = argv[i + 1];
    else if (strcmp(argv[i], "--startup-seconds") == 0)
      startupSeconds = atof(argv[i + 1]) > 0 ? atof(argv[i + 1]) : startupSeconds;
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
    gtk_window_iconify(GTK_WINDOW(plainWindow("mini", title, 1000, 40)));
    GtkWidget* cover = newWindow("cover", "NEVO E2E Cover", 1000, 600, 120, 60);
    gtk_window_set_keep_above(GTK_WINDOW(cover), TRUE);
    gtk_window_set_accept_focus(GTK_WINDOW(cover), FALSE);
    gtk_container_add(GTK_CONTAINER(cover), gtk_label_new("Cover"));
  } else if (strcmp(scene, "pair") == 0) {
    snprintf(title, sizeof title, "%s One", prefix);
    plainWindow("one", title, 1000, 300);
    snprintf(title, sizeof title, "%s Two", prefix);
    plainWindow("two", title, 1000, 560);
  } else if (strcmp(scene, "hidden") == 0) {
    snprintf(title, sizeof title, "%s Hidden", prefix);
    hiddenWindow(title);
  } else {
    fprintf(stderr, "unknown scene %s\n", scene);
    return 2;
  }
  /* Shown in reverse, so that the first window is mapped last. */
  for (int i = windowCount - 1; i >= 0; --i) gtk_widget_show_all(windows[i].window);
  startup.until = g_get_monotonic_time() + (gint64)(startupSeconds * 1e6);
  g_timeout_add(5, advanceStartup, NULL);
  gtk_main();
  return 0;
}
