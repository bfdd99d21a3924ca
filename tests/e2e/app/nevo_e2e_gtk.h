/* What the GTK 3 and GTK 4 test applications share, written against the part of GTK's API
 * that both versions have: the table of named controls, and which of them has the focus. */
#ifndef NEVO_E2E_GTK_H
#define NEVO_E2E_GTK_H

#include <gtk/gtk.h>

typedef struct {
  const char* name;
  GtkWidget* widget;
} NamedWidget;

/* The name of `widget`, or of the nearest named widget that contains it; NULL where none
 * does. */
static inline const char* nevoNameOf(GtkWidget* widget, const NamedWidget* widgets, int count) {
  for (; widget != NULL; widget = gtk_widget_get_parent(widget)) {
    for (int i = 0; i < count; ++i) {
      if (widgets[i].widget == widget) return widgets[i].name;
    }
  }
  return NULL;
}

/* The name of the control that holds the keyboard focus of the active window, or of the
 * named control that contains it (GTK 4 gives an entry's focus to the text inside it);
 * "none" where there is none. */
static inline const char* nevoFocusedName(const NamedWidget* widgets, int count) {
  const char* found = NULL;
  GList* windows = gtk_window_list_toplevels();
  for (GList* each = windows; each != NULL && found == NULL; each = each->next) {
    GtkWindow* window = GTK_WINDOW(each->data);
    if (gtk_window_is_active(window)) {
      found = nevoNameOf(gtk_window_get_focus(window), widgets, count);
    }
  }
  g_list_free(windows);
  return found != NULL ? found : "none";
}

#endif
