/* The end-to-end tests' application in Qt Widgets, built twice (against Qt 5 and Qt 6): the
 * scene and the line commands of the GTK 3 application (nevo_e2e_app.c), on Qt's xcb
 * platform (QT_QPA_PLATFORM=xcb).
 *
 *   nevo_e2e_app_qt5 --scene full            the main window, a second window, two windows
 *                                            with the same title and frame, a minimized
 *                                            window and a window that stays above the main
 *                                            window's covered button
 *   nevo_e2e_app_qt5 --scene pair --prefix P two plain windows, "P One" and "P Two"
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
 * Where it differs from the GTK 3 scene:
 * - Every position (frame, where, the waits) is read from the X server on a connection of
 *   the application's own, not from Qt, whose idea of a window's place follows the server's
 *   configure events and may lag behind them.
 * - The main window is a QMainWindow (accessible role "frame", as most applications' main
 *   windows); the others are plain top-level QWidgets, whose role is "filler".
 * - Qt has no overlay container: "On top" is a sibling of "Underneath" with the same
 *   geometry, raised above it.
 * - The deep branch nests plain QWidgets, each with a layout, as GTK nests boxes.
 * - Qt lays the controls out closer together, so the cover is shorter and lower: it covers
 *   the covered button's centre and neither the slider before it nor the button after it.
 * - Qt exposes its accessibility only while the desktop's accessibility switch
 *   (org.a11y.Status IsEnabled) is on, and Qt 6.4 not at all when AT_SPI_BUS_ADDRESS is set
 *   in its environment: it is started as a user starts it, from the session bus. */
#include <QApplication>
#include <QByteArray>
#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMainWindow>
#include <QPushButton>
#include <QResizeEvent>
#include <QSlider>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

// Last: Xlib's macros (None, Status, FocusIn, ...) would clash with Qt's names.
#include "nevo_e2e_x11.h"

namespace {

constexpr int kWaitMs = 5000;
constexpr int kDeepLevels = 32;
constexpr qint64 kMoveAgainMs = 500;

// The password's text: the tests look for it in every output of the tool.
constexpr char kPasswordText[] = "hunter2-e2e";

struct NamedWindow {
  const char* name;
  QWidget* window;
  int x, y;             // where it belongs
  qint64 movedAt = -1;  // when it was last asked to go there (start-up), -1 never
};

struct NamedWidget {
  const char* name;
  QWidget* widget;
};

std::vector<NamedWindow> windows;
std::vector<NamedWidget> widgets;
Display* display = nullptr;
QElapsedTimer uptime;

// The command being carried out: what it waits for and until when.
enum class Wait { kNone, kMoved, kIconified, kActive, kFocused, kTitled, kClosed };
struct {
  Wait what = Wait::kNone;
  QWidget* window = nullptr;
  Window xid = 0;
  QWidget* widget = nullptr;
  int x = 0, y = 0;
  std::string title;
  qint64 until = 0;
} pending;

std::string input;  // what standard input gave that is not a whole line yet
QList<std::string> lines;

void reply(const char* format, ...) __attribute__((format(printf, 1, 2)));
void reply(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::putchar('\n');
  std::fflush(stdout);
}

Window xidOf(QWidget* window) {
  return static_cast<Window>(window->winId());
}

NamedWindow* findNamedWindow(const char* name) {
  for (NamedWindow& named : windows) {
    if (named.window != nullptr && std::strcmp(named.name, name) == 0) return &named;
  }
  return nullptr;
}

QWidget* findWindow(const char* name) {
  NamedWindow* found = findNamedWindow(name);
  return found != nullptr ? found->window : nullptr;
}

QWidget* findWidget(const char* name) {
  for (const NamedWidget& named : widgets) {
    if (named.widget != nullptr && std::strcmp(named.name, name) == 0) return named.widget;
  }
  return nullptr;
}

// The name of the widget that holds the keyboard focus, or of the nearest named widget that
// contains it; "none" where there is none.
const char* focusedName() {
  for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
    for (const NamedWidget& named : widgets) {
      if (named.widget == w) return named.name;
    }
  }
  return "none";
}

template <typename T>
T* named(const char* name, T* widget) {
  widgets.push_back({name, widget});
  return widget;
}

QWidget* newWindow(const char* name, const QString& title, int x, int y, int width, int height,
                   QWidget* window = new QWidget) {
  window->setWindowTitle(title);
  window->setFixedSize(width, height);
  window->move(x, y);  // before mapping: a position the window manager keeps
  windows.push_back({name, window, x, y});
  return window;
}

bool frameAt(QWidget* window, int x, int y) {
  int fx = 0, fy = 0, width = 0, height = 0;
  return nevoX11FrameRectangle(display, xidOf(window), &fx, &fy, &width, &height) && fx == x &&
         fy == y;
}

bool mappedNormally(QWidget* window) {
  const Window xid = xidOf(window);
  return nevoX11Viewable(display, xid) && nevoX11WmState(display, xid) == NormalState;
}

bool iconified(QWidget* window) {
  return nevoX11WmState(display, xidOf(window)) == IconicState;
}

// Active, and shown in full: a window restored from its icon is active before openbox has
// finished drawing its frame grow back.
bool active(QWidget* window) {
  return nevoX11Active(display, xidOf(window)) && QApplication::activeWindow() == window &&
         mappedNormally(window) && nevoX11FrameHoldsClient(display, xidOf(window));
}

// The widget's frame in root coordinates: the rectangle Qt's accessibility describes (the
// widget's own), its top-left corner taken into its window and then through the X server
// to the root.
bool screenRectangle(QWidget* widget, int* x, int* y, int* width, int* height) {
  QWidget* window = widget->window();
  if (!widget->isVisible() || window->isMinimized()) return false;
  const QPoint corner = widget->mapTo(window, QPoint(0, 0));
  if (!nevoX11ToRoot(display, xidOf(window), corner.x(), corner.y(), x, y)) return false;
  *width = widget->width();
  *height = widget->height();
  return true;
}

bool pendingDone() {
  switch (pending.what) {
    case Wait::kNone:
      return true;
    case Wait::kMoved:
      return frameAt(pending.window, pending.x, pending.y);
    case Wait::kIconified:
      return iconified(pending.window);
    case Wait::kActive:
      return active(pending.window);
    case Wait::kFocused:
      return active(pending.window) && QApplication::focusWidget() == pending.widget;
    case Wait::kTitled:
      return nevoX11TitleIs(display, xidOf(pending.window), pending.title.c_str());
    case Wait::kClosed:
      return !nevoX11Managed(display, pending.xid);
  }
  return true;
}

void runLines();

// Polled every few milliseconds while a command waits: each poll asks the X server.
void checkPending() {
  if (pending.what == Wait::kNone) return;
  if (pendingDone()) {
    pending.what = Wait::kNone;
    reply("ok");
  } else if (uptime.elapsed() > pending.until) {
    pending.what = Wait::kNone;
    reply("error timed out");
  } else {
    QTimer::singleShot(5, checkPending);
    return;
  }
  runLines();
}

void waitFor(Wait what, QWidget* window, QWidget* widget) {
  pending.what = what;
  pending.window = window;
  pending.widget = widget;
  pending.until = uptime.elapsed() + kWaitMs;
  QTimer::singleShot(5, checkPending);
}

// A window closed: it and its controls are forgotten, and it goes once the event loop
// has finished with it.
void forget(QWidget* window) {
  for (NamedWidget& named : widgets) {
    if (named.widget != nullptr && named.widget->window() == window) named.widget = nullptr;
  }
  for (NamedWindow& named : windows) {
    if (named.window == window) named.window = nullptr;
  }
  window->close();
  window->deleteLater();
}

void runCommand(std::string text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  char* save = nullptr;
  const char* verb = strtok_r(buffer.data(), " ", &save);
  if (verb == nullptr) {
    reply("error empty command");
    return;
  }
  if (std::strcmp(verb, "quit") == 0) {
    reply("ok");
    QApplication::quit();
    return;
  }
  if (std::strcmp(verb, "focused") == 0) {
    reply("ok %s", focusedName());
    return;
  }
  if (std::strcmp(verb, "where") == 0) {
    const char* name = strtok_r(nullptr, " ", &save);
    QWidget* widget = name != nullptr ? findWidget(name) : nullptr;
    int x = 0, y = 0, width = 0, height = 0;
    if (widget == nullptr || !screenRectangle(widget, &x, &y, &width, &height)) {
      reply("error no widget %s", name != nullptr ? name : "");
      return;
    }
    reply("ok %d %d %d %d", x, y, width, height);
    return;
  }

  const char* windowName = strtok_r(nullptr, " ", &save);
  QWidget* window = windowName != nullptr ? findWindow(windowName) : nullptr;
  if (window == nullptr) {
    reply("error no window %s", windowName != nullptr ? windowName : "");
    return;
  }
  if (std::strcmp(verb, "frame") == 0) {
    int x = 0, y = 0, width = 0, height = 0;
    if (!nevoX11FrameRectangle(display, xidOf(window), &x, &y, &width, &height)) {
      reply("error no frame for %s", windowName);
      return;
    }
    reply("ok %d %d %d %d", x, y, width, height);
  } else if (std::strcmp(verb, "title") == 0) {
    const char* rest = strtok_r(nullptr, "", &save);
    pending.title = rest != nullptr ? rest : "";
    window->setWindowTitle(QString::fromStdString(pending.title));
    waitFor(Wait::kTitled, window, nullptr);
  } else if (std::strcmp(verb, "move") == 0) {
    const char* x = strtok_r(nullptr, " ", &save);
    const char* y = strtok_r(nullptr, " ", &save);
    if (x == nullptr || y == nullptr) {
      reply("error move needs x and y");
      return;
    }
    pending.x = std::atoi(x);
    pending.y = std::atoi(y);
    window->move(pending.x, pending.y);
    waitFor(Wait::kMoved, window, nullptr);
  } else if (std::strcmp(verb, "minimize") == 0) {
    window->showMinimized();
    waitFor(Wait::kIconified, window, nullptr);
  } else if (std::strcmp(verb, "raise") == 0) {
    nevoX11Activate(display, xidOf(window));
    waitFor(Wait::kActive, window, nullptr);
  } else if (std::strcmp(verb, "focus") == 0) {
    const char* name = strtok_r(nullptr, " ", &save);
    QWidget* widget = name != nullptr ? findWidget(name) : nullptr;
    if (widget == nullptr || widget->window() != window) {
      reply("error no widget %s in %s", name != nullptr ? name : "", windowName);
      return;
    }
    nevoX11Activate(display, xidOf(window));
    widget->setFocus(Qt::OtherFocusReason);
    waitFor(Wait::kFocused, window, widget);
  } else if (std::strcmp(verb, "close") == 0) {
    pending.xid = xidOf(window);
    forget(window);
    waitFor(Wait::kClosed, nullptr, nullptr);
  } else {
    reply("error unknown command %s", verb);
  }
}

// One command at a time: the next line waits until the one before has been answered.
void runLines() {
  while (pending.what == Wait::kNone && !lines.isEmpty()) runCommand(lines.takeFirst());
}

void readInput() {
  char chunk[4096];
  const ssize_t count = read(STDIN_FILENO, chunk, sizeof chunk);
  if (count <= 0) {
    QApplication::quit();  // the test has gone: so does the application
    return;
  }
  input.append(chunk, static_cast<size_t>(count));
  for (size_t end; (end = input.find('\n')) != std::string::npos;) {
    lines.append(input.substr(0, end));
    input.erase(0, end + 1);
  }
  runLines();
}

// Two buttons in one place, the second raised above the first: a control covered within
// its own window.
class Overlay : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void resizeEvent(QResizeEvent* event) override {
    for (QObject* child : children()) {
      if (auto* widget = qobject_cast<QWidget*>(child))
        widget->setGeometry(QRect(QPoint(), event->size()));
    }
  }
};

QPushButton* button(const char* name, const char* text, QWidget* parent = nullptr) {
  return named(name, new QPushButton(QString::fromUtf8(text), parent));
}

// The main window: one control of each kind the observation reports, a disabled button,
// a button that another window covers, and a branch nested deeper than the walk goes,
// followed by a button that the walk must still reach.
QWidget* mainWindow(const QString& title) {
  auto* window = new QMainWindow;
  newWindow("main", title, 40, 40, 560, 640, window);
  auto* content = new QWidget;
  window->setCentralWidget(content);
  auto* column = new QVBoxLayout(content);
  column->setContentsMargins(8, 8, 8, 8);
  column->setSpacing(4);

  column->addWidget(named("label", new QLabel(QStringLiteral("Plain label"))));
  column->addWidget(button("apply", "Apply"));

  auto* overlay = new Overlay;
  QPushButton* underneath = button("underneath", "Underneath", overlay);
  QPushButton* top = button("ontop", "On top", overlay);
  top->raise();
  overlay->setMinimumHeight(underneath->sizeHint().height());
  column->addWidget(overlay);

  QPushButton* disabled = button("disabled", "Disabled");
  disabled->setEnabled(false);
  column->addWidget(disabled);

  auto* entry = named("entry", new QLineEdit(QStringLiteral("typed-entry-text")));
  entry->setAccessibleName(QStringLiteral("Plain entry"));
  column->addWidget(entry);

  auto* password = named("password", new QLineEdit(QString::fromUtf8(kPasswordText)));
  password->setEchoMode(QLineEdit::Password);
  password->setAccessibleName(QStringLiteral("Password"));
  column->addWidget(password);

  auto* check = named("check", new QCheckBox(QStringLiteral("Remember me")));
  check->setChecked(true);
  column->addWidget(check);

  auto* slider = named("slider", new QSlider(Qt::Horizontal));
  slider->setRange(0, 100);
  slider->setValue(42);
  slider->setAccessibleName(QStringLiteral("Volume"));
  column->addWidget(slider);

  // Covered by the "cover" window, which stays above this one.
  column->addWidget(button("covered", "Covered"));

  auto* outer = new QWidget;
  QWidget* inner = outer;
  for (int level = 1; level < kDeepLevels; ++level) {
    auto* layout = new QVBoxLayout(inner);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* box = new QWidget;
    layout->addWidget(box);
    inner = box;
  }
  auto* last = new QVBoxLayout(inner);
  last->setContentsMargins(0, 0, 0, 0);
  last->addWidget(button("deep", "Deep button"));
  column->addWidget(outer);
  column->addWidget(button("after", "After deep"));
  column->addStretch(1);
  return window;
}

QWidget* plainWindow(const char* name, const QString& title, int x, int y) {
  QWidget* window = newWindow(name, title, x, y, 320, 200);
  auto* column = new QVBoxLayout(window);
  column->addWidget(new QLabel(title));
  column->addWidget(new QPushButton(QStringLiteral("OK")));
  column->addStretch(1);
  return window;
}

// Start-up: the windows are shown, then the application waits (polling, bounded) until
// each is mapped and, asked again now and then, the window manager has put it where it
// belongs; then it places the cover over the covered button, raises the first window and
// says it is ready.
struct {
  int phase = 0;
  qint64 until = 0;
} startup;

bool placed(NamedWindow& named) {
  QWidget* window = named.window;
  if (std::strcmp(named.name, "mini") == 0) return iconified(window);
  if (!mappedNormally(window)) return false;
  if (std::strcmp(named.name, "cover") == 0) return true;
  if (frameAt(window, named.x, named.y)) return true;
  const qint64 now = uptime.elapsed();
  if (named.movedAt < 0) {
    named.movedAt = now;  // asked before mapping: the window manager's first answer is awaited
  } else if (now - named.movedAt > kMoveAgainMs) {
    nevoX11Move(display, xidOf(window), named.x, named.y);
    named.movedAt = now;
  }
  return false;
}

bool allPlaced() {
  bool all = true;
  for (NamedWindow& named : windows) {
    if (!placed(named)) all = false;
  }
  return all;
}

// Where the cover's frame goes: over the covered button's centre, as the main window is laid
// out now; false while it has no layout yet. Qt lays the main window's controls out closer
// than GTK, so the cover is lower and shorter than GTK's: its frame starts just above the
// covered button's centre, below the slider before it, and ends above the button after it.
bool coverPosition(int* coverX, int* coverY) {
  int x = 0, y = 0, width = 0, height = 0;
  if (!screenRectangle(findWidget("covered"), &x, &y, &width, &height) || width <= 0 || height <= 0)
    return false;
  *coverX = x + width / 2 - 60;
  *coverY = y + height / 2 - 6;
  return true;
}

void advanceStartup() {
  if (uptime.elapsed() > startup.until) {
    reply("error start-up timed out in phase %d", startup.phase);
    std::exit(1);
  }
  NamedWindow* cover = findNamedWindow("cover");
  QWidget* first = windows.front().window;
  switch (startup.phase) {
    case 0:
      if (allPlaced()) startup.phase = 1;
      break;
    case 1:
      if (cover != nullptr) {
        // Until the cover is where the layout, as it stands now, wants it.
        int x = 0, y = 0;
        if (!coverPosition(&x, &y)) break;
        if (!frameAt(cover->window, x, y)) {
          const qint64 now = uptime.elapsed();
          if (x != cover->x || y != cover->y || now - cover->movedAt > kMoveAgainMs) {
            cover->x = x;
            cover->y = y;
            cover->movedAt = now;
            cover->window->move(x, y);
          }
          break;
        }
      }
      nevoX11Activate(display, xidOf(first));
      startup.phase = 2;
      break;
    default:
      if (!active(first)) break;
      if (cover != nullptr) {
        // The layout may have changed since the cover was put over it.
        int x = 0, y = 0;
        if (!coverPosition(&x, &y) || !frameAt(cover->window, x, y)) {
          startup.phase = 1;
          break;
        }
      }
      reply("ready %d", static_cast<int>(getpid()));
      auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, qApp);
      QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] { readInput(); });
      return;
  }
  QTimer::singleShot(5, advanceStartup);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication::setApplicationName(QStringLiteral("nevo-e2e-app-qt%1").arg(QT_VERSION_MAJOR));
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // it ends on "quit" or when its input ends
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    std::fprintf(stderr, "nevo_e2e_app_qt needs Qt's xcb platform (QT_QPA_PLATFORM=xcb)\n");
    return 2;
  }
  display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "nevo_e2e_app_qt cannot open the X display\n");
    return 2;
  }
  nevoX11IgnoreErrors();
  uptime.start();
  const char* scene = "full";
  QString prefix = QStringLiteral("NEVO E2E");
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--scene") == 0)
      scene = argv[i + 1];
    else if (std::strcmp(argv[i], "--prefix") == 0)
      prefix = QString::fromUtf8(argv[i + 1]);
  }
  if (std::strcmp(scene, "full") == 0) {
    mainWindow(prefix + QStringLiteral(" Main"));
    plainWindow("second", prefix + QStringLiteral(" Second"), 640, 40);
    plainWindow("twin1", prefix + QStringLiteral(" Twin"), 640, 300);
    plainWindow("twin2", prefix + QStringLiteral(" Twin"), 640, 300);
    plainWindow("mini", prefix + QStringLiteral(" Minimized"), 1000, 40);
    QWidget* cover = newWindow(
        "cover", QStringLiteral("NEVO E2E Cover"), 1000, 600, 120, 30,
        new QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus));
    cover->setAttribute(Qt::WA_ShowWithoutActivating);
    auto* coverLayout = new QVBoxLayout(cover);
    coverLayout->setContentsMargins(0, 0, 0, 0);
    coverLayout->addWidget(new QLabel(QStringLiteral("Cover")));
  } else if (std::strcmp(scene, "pair") == 0) {
    plainWindow("one", prefix + QStringLiteral(" One"), 1000, 300);
    plainWindow("two", prefix + QStringLiteral(" Two"), 1000, 560);
  } else {
    std::fprintf(stderr, "unknown scene %s\n", scene);
    return 2;
  }
  // Shown in reverse, so that the first window is mapped last.
  for (auto named = windows.rbegin(); named != windows.rend(); ++named) {
    if (std::strcmp(named->name, "mini") == 0)
      named->window->showMinimized();
    else
      named->window->show();
  }
  startup.until = kWaitMs * 2;
  QTimer::singleShot(5, advanceStartup);
  const int status = QApplication::exec();
  XCloseDisplay(display);
  return status;
}
