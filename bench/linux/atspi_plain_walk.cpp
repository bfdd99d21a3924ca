// The plain walk the benchmark compares the tool with: the observation's reads of the
// focused window, made the way AT-SPI clients usually make them, through libatspi with
// one synchronous request per attribute (role, states, position, size, identifier, name,
// description, text or value, child count, each child, and a hit test that descends one
// level at a time, then climbs the parents). It prints what it visited and how many
// requests it made as one JSON line. Run it only where an accessibility bus is up:
// libatspi aborts without one.
#include <atspi/atspi.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

constexpr long kVisitBudget = 500;
constexpr long kRecordBudget = 160;
constexpr int kDepthLimit = 25;
constexpr int kHitTestCandidates = 8;
constexpr int kHitTestDescent = 64;

struct Walk {
  long visited = 0;
  long records = 0;
  long requests = 0;
  long hitTests = 0;
  long hitTestRequests = 0;
  // GTK 4 sets `showing` on its windows alone and `visible` on what they show: like the
  // tool, the walk takes `visible` for `showing` there.
  bool visibleIsShowing = false;
};

bool roleInTable(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_SPIN_BUTTON:
    case ATSPI_ROLE_COMBO_BOX:
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_PAGE_TAB:
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
    case ATSPI_ROLE_SCROLL_PANE:
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE:
    case ATSPI_ROLE_TABLE_ROW:
    case ATSPI_ROLE_TREE_ITEM:
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_LINK:
    case ATSPI_ROLE_SLIDER:
    case ATSPI_ROLE_PAGE_TAB_LIST:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
      return true;
    default:
      return false;
  }
}

bool textRole(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_HEADING:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
      return true;
    default:
      return false;
  }
}

bool valueRole(AtspiRole role) {
  return role == ATSPI_ROLE_SLIDER || role == ATSPI_ROLE_SPIN_BUTTON ||
         role == ATSPI_ROLE_PROGRESS_BAR || role == ATSPI_ROLE_SCROLL_BAR ||
         role == ATSPI_ROLE_LEVEL_BAR;
}

// The element the application reports at the point, descending from its window.
AtspiAccessible* hitTest(Walk& walk, AtspiAccessible* window, int x, int y) {
  AtspiAccessible* current = ATSPI_ACCESSIBLE(g_object_ref(window));
  for (int depth = 0; depth < kHitTestDescent; ++depth) {
    AtspiComponent* component = atspi_accessible_get_component_iface(current);
    if (component == nullptr) break;
    ++walk.requests;
    AtspiAccessible* next =
        atspi_component_get_accessible_at_point(component, x, y, ATSPI_COORD_TYPE_SCREEN, nullptr);
    g_object_unref(component);
    if (next == nullptr || next == current) {
      if (next != nullptr) g_object_unref(next);
      break;
    }
    g_object_unref(current);
    current = next;
  }
  return current;
}

bool exposed(Walk& walk, AtspiAccessible* window, AtspiAccessible* element, int x, int y) {
  ++walk.hitTests;
  const long before = walk.requests;
  AtspiAccessible* candidate = hitTest(walk, window, x, y);
  bool found = false;
  for (int compared = 1; candidate != nullptr; ++compared) {
    if (candidate == element) {
      found = true;
      break;
    }
    if (compared == kHitTestCandidates) break;
    ++walk.requests;
    AtspiAccessible* parent = atspi_accessible_get_parent(candidate, nullptr);
    g_object_unref(candidate);
    candidate = parent;
  }
  if (candidate != nullptr) g_object_unref(candidate);
  walk.hitTestRequests += walk.requests - before;
  return found;
}

void visit(Walk& walk, AtspiAccessible* window, AtspiAccessible* element, int depth) {
  if (walk.visited >= kVisitBudget || walk.records >= kRecordBudget || depth >= kDepthLimit) return;
  // What is not showing is not on the screen, nor anything below it: like the tool, the walk
  // does not go there (the window itself is where it starts).
  ++walk.requests;
  AtspiStateSet* states = atspi_accessible_get_state_set(element);
  const bool enabled = atspi_state_set_contains(states, ATSPI_STATE_ENABLED);
  const bool showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING) ||
                       (walk.visibleIsShowing && atspi_state_set_contains(states, ATSPI_STATE_VISIBLE));
  g_object_unref(states);
  if (depth > 0 && !showing) return;
  ++walk.visited;
  walk.requests += 4;
  const AtspiRole role = atspi_accessible_get_role(element, nullptr);
  AtspiComponent* component = atspi_accessible_get_component_iface(element);
  AtspiPoint* position = nullptr;
  AtspiPoint* size = nullptr;
  if (component != nullptr) {
    position = atspi_component_get_position(component, ATSPI_COORD_TYPE_SCREEN, nullptr);
    size = atspi_component_get_size(component, nullptr);
    g_object_unref(component);
  }
  g_free(atspi_accessible_get_accessible_id(element, nullptr));
  const bool isProtected = role == ATSPI_ROLE_PASSWORD_TEXT;
  // What GTK does not draw it places at the most negative coordinates, Firefox at a negative
  // size: no frame, as the tool reads it.
  const bool nowhere = position != nullptr && (position->x == std::numeric_limits<int>::min() ||
                                               position->y == std::numeric_limits<int>::min());
  const bool visible =
      position != nullptr && size != nullptr && !nowhere && size->x > 0 && size->y > 0;
  if (visible) {
    std::string name;
    if (!isProtected) {
      walk.requests += 2;
      gchar* title = atspi_accessible_get_name(element, nullptr);
      gchar* description = atspi_accessible_get_description(element, nullptr);
      name = title != nullptr && *title ? title : description != nullptr ? description : "";
      g_free(title);
      g_free(description);
      if (textRole(role)) {
        if (AtspiText* text = atspi_accessible_get_text_iface(element)) {
          ++walk.requests;
          g_free(atspi_text_get_text(text, 0, -1, nullptr));
          g_object_unref(text);
        }
      } else if (valueRole(role)) {
        if (AtspiValue* value = atspi_accessible_get_value_iface(element)) {
          ++walk.requests;
          atspi_value_get_current_value(value, nullptr);
          g_object_unref(value);
        }
      }
    }
    if (roleInTable(role) || !name.empty()) {
      ++walk.records;
      if (enabled && !isProtected) {
        exposed(walk, window, element, position->x + size->x / 2, position->y + size->y / 2);
      }
    }
  }
  g_free(position);
  g_free(size);
  if (isProtected) return;
  ++walk.requests;
  const int count = atspi_accessible_get_child_count(element, nullptr);
  for (int i = 0; i < count && walk.visited < kVisitBudget && walk.records < kRecordBudget; ++i) {
    ++walk.requests;
    AtspiAccessible* child = atspi_accessible_get_child_at_index(element, i, nullptr);
    if (child == nullptr) continue;
    visit(walk, window, child, depth + 1);
    g_object_unref(child);
  }
}

// The active window of the application of process `pid`.
AtspiAccessible* activeWindow(Walk& walk, guint pid) {
  AtspiAccessible* desktop = atspi_get_desktop(0);
  AtspiAccessible* found = nullptr;
  const int apps = atspi_accessible_get_child_count(desktop, nullptr);
  for (int a = 0; a < apps && found == nullptr; ++a) {
    AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, a, nullptr);
    walk.requests += 2;
    if (app == nullptr) continue;
    if (atspi_accessible_get_process_id(app, nullptr) == pid) {
      walk.requests += 2;
      gchar* toolkit = atspi_accessible_get_toolkit_name(app, nullptr);
      gchar* version = atspi_accessible_get_toolkit_version(app, nullptr);
      walk.visibleIsShowing = toolkit != nullptr && version != nullptr &&
                              std::string(toolkit) == "GTK" && std::atoi(version) >= 4;
      g_free(toolkit);
      g_free(version);
      const int windows = atspi_accessible_get_child_count(app, nullptr);
      for (int w = 0; w < windows && found == nullptr; ++w) {
        walk.requests += 2;
        AtspiAccessible* window = atspi_accessible_get_child_at_index(app, w, nullptr);
        if (window == nullptr) continue;
        AtspiStateSet* states = atspi_accessible_get_state_set(window);
        if (atspi_state_set_contains(states, ATSPI_STATE_ACTIVE))
          found = window;
        else
          g_object_unref(window);
        g_object_unref(states);
      }
    }
    g_object_unref(app);
  }
  g_object_unref(desktop);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PID\n", argv[0]);
    return 2;
  }
  if (atspi_init() < 0) return 1;
  Walk walk;
  AtspiAccessible* window = activeWindow(walk, static_cast<guint>(std::stoul(argv[1])));
  if (window == nullptr) {
    std::printf("{\"status\":\"no window\"}\n");
    return 1;
  }
  visit(walk, window, window, 0);
  g_object_unref(window);
  std::printf(
      "{\"visited\":%ld,\"records\":%ld,\"requests\":%ld,\"hitTests\":%ld,"
      "\"hitTestRequests\":%ld}\n",
      walk.visited, walk.records, walk.requests, walk.hitTests, walk.hitTestRequests);
  return 0;
}
