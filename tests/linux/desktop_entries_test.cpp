// Application names from desktop entries, over folders made for the test: which entry names
// a window, which entries count, how folders hide one another, and that no file can make
// the look-up read outside its folders, wait, or read without bound.
#include "platform/linux/desktop_entries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace nevo::lin {
namespace {

namespace fs = std::filesystem;

class DesktopEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "nevo-entries-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "home/applications");
    fs::create_directories(root_ / "system/applications");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Writes a file under the test's root.
  void write(const std::string& path, const std::string& text) {
    std::ofstream(root_ / path, std::ios::binary) << text;
  }
  std::vector<std::string> folders() const {
    return {(root_ / "home/applications").string(), (root_ / "system/applications").string()};
  }
  std::optional<std::string> name(const std::string& id, const std::string& windowClass,
                                  const std::string& instance, const std::string& locale = "") {
    DesktopEntries entries(folders(), locale);
    return entries.nameFor(id, windowClass, instance);
  }

  fs::path root_;
};

std::string entry(const std::string& name, const std::string& more = "") {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\n" + more;
}

// The office suite's writer names its window class after itself; the process is "soffice"
// and the accessible application name too. A terminal's entry has another file name and
// claims its class. A GTK application has its application id.
TEST_F(DesktopEntriesTest, AWindowIsNamedByTheEntryThatClaimsItOrIsNamedAfterIt) {
  write("system/applications/libreoffice-writer.desktop",
        entry("LibreOffice Writer", "StartupWMClass=libreoffice-writer\n"));
  write("system/applications/libreoffice-startcenter.desktop",
        entry("LibreOffice", "StartupWMClass=libreoffice-startcenter\n"));
  write("system/applications/debian-xterm.desktop", entry("XTerm", "StartupWMClass=XTerm\n"));
  write("system/applications/org.example.Notes.desktop", entry("Notes"));
  write("system/applications/gtk3-widget-factory.desktop", entry("Widget Factory"));
  write("system/applications/google-chrome.desktop", entry("Google Chrome"));
  write("system/applications/chrome-abc-Default.desktop",
        entry("Calendar", "StartupWMClass=crx_abc\n"));

  struct Case {
    const char* id;
    const char* windowClass;
    const char* instance;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"", "libreoffice-writer", "libreoffice", "LibreOffice Writer"},
      {"", "libreoffice-startcenter", "libreoffice", "LibreOffice"},
      {"", "XTerm", "xterm", "XTerm"},
      {"org.example.Notes", "Notes", "notes", "Notes"},
      // the application id wins over the class
      {"org.example.Notes", "XTerm", "xterm", "Notes"},
      // an application id without an entry: the class decides
      {"org.example.Missing", "XTerm", "xterm", "XTerm"},
      // the class in lower case as a file name
      {"", "Gtk3-widget-factory", "gtk3-widget-factory", "Widget Factory"},
      // an entry's claim on the instance comes before a file named after the class
      {"", "Google-chrome", "crx_abc", "Calendar"},
      {"", "Google-chrome", "google-chrome", "Google Chrome"},
      {"", "Wish", "wish", std::nullopt},
      {"", "", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.id) + " / " + c.windowClass + " / " + c.instance);
    EXPECT_EQ(name(c.id, c.windowClass, c.instance), c.expected);
  }
}

TEST_F(DesktopEntriesTest, OnlyApplicationsThatAreNotHiddenAndHaveANameCount) {
  write("system/applications/link.desktop",
        "[Desktop Entry]\nType=Link\nName=A link\nURL=https://example.org\n");
  write("system/applications/gone.desktop", entry("Gone", "Hidden=true\n"));
  write("system/applications/nameless.desktop", "[Desktop Entry]\nType=Application\nExec=true\n");
  write("system/applications/other-group.desktop", "[Other]\nType=Application\nName=Other\n");
  write("system/applications/action.desktop",
        "[Desktop Entry]\nType=Application\nExec=true\n[Desktop Action new]\nName=New window\n");
  for (const char* id : {"link", "gone", "nameless", "other-group", "action"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(name(id, "", ""), std::nullopt);
  }
}

// The user's folder comes first: its entry replaces the system's, and its hidden entry
// removes it (also from the StartupWMClass scan).
TEST_F(DesktopEntriesTest, AnEarlierFolderHidesTheSameIdInLaterOnes) {
  write("home/applications/editor.desktop", entry("My Editor"));
  write("system/applications/editor.desktop", entry("Editor"));
  write("home/applications/viewer.desktop", entry("Viewer", "Hidden=true\n"));
  write("system/applications/viewer.desktop", entry("Viewer", "StartupWMClass=Viewer\n"));
  EXPECT_EQ(name("editor", "", ""), "My Editor");
  EXPECT_EQ(name("viewer", "", ""), std::nullopt);
  EXPECT_EQ(name("", "Viewer", "viewer"), std::nullopt);
}

TEST_F(DesktopEntriesTest, TheNameFollowsTheMessagesLocale) {
  write("system/applications/notes.desktop",
        entry("Notes",
              "Name[zh_CN]=笔记\nName[zh]=笔记本\nName[sr@latin]=Beleške\nName[sr]=Белешке\n"
              "Name[de_DE]=\n"));
  struct Case {
    const char* locale;
    const char* expected;
  };
  const Case cases[] = {
      {"", "Notes"},
      {"C", "Notes"},
      {"zh_CN.UTF-8", "笔记"},
      {"zh_TW.UTF-8", "笔记本"},
      {"sr_RS@latin", "Beleške"},
      {"sr_RS.UTF-8", "Белешке"},
      // an empty translation does not replace the name
      {"de_DE.UTF-8", "Notes"},
      {"fr_FR.UTF-8", "Notes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    EXPECT_EQ(name("notes", "", "", c.locale), c.expected);
  }
}

TEST_F(DesktopEntriesTest, ParsingKeepsToTheFirstGroupAndItsEscapes) {
  const std::optional<DesktopEntry> parsed = parseDesktopEntry(
      "# comment\r\n\r\n[Desktop Entry]\r\nName = Two\\sWords\\\\ \r\nType=Application\r\n"
      "StartupWMClass=Two\r\nHidden=false\r\n[Desktop Action x]\r\nName=Action\r\nHidden=true\r\n",
      "");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->name, "Two Words\\");
  EXPECT_EQ(parsed->startupWmClass, "Two");
  EXPECT_TRUE(parsed->application);
  EXPECT_FALSE(parsed->hidden);
  // Invalid UTF-8 in a name is replaced, so that the reply can be written.
  EXPECT_EQ(parseDesktopEntry("[Desktop Entry]\nName=A\xff\n", "")->name, "A\xEF\xBF\xBD");
}

// Window properties are any client's to set: an application id or class that would lead
// out of the folders is not looked up.
TEST_F(DesktopEntriesTest, IdsThatLeaveTheFolderAreNotLookedUp) {
  write("secret.desktop", entry("Secret"));
  write("home/applications/.hidden.desktop", entry("Hidden file"));
  for (const char* id : {"../../secret", "../secret", ".hidden", "/etc/passwd"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(name(id, id, id), std::nullopt);
  }
}

// A file over the size cap is left out; a FIFO or a directory named like an entry is not
// read (opening a FIFO for reading would wait for a writer).
TEST_F(DesktopEntriesTest, FilesThatAreTooLongOrNotRegularAreLeftOut) {
  write("system/applications/big.desktop",
        entry("Big",
              "StartupWMClass=Big\nComment=" + std::string(kDesktopEntryByteLimit, 'x') + "\n"));
  write("system/applications/fits.desktop",
        entry("Fits", "Comment=" + std::string(kDesktopEntryByteLimit - 200, 'x') + "\n"));
  ASSERT_EQ(::mkfifo((root_ / "system/applications/fifo.desktop").c_str(), 0600), 0);
  fs::create_directories(root_ / "system/applications/dir.desktop");
  EXPECT_EQ(name("big", "", ""), std::nullopt);
  EXPECT_EQ(name("", "Big", "big"), std::nullopt);
  EXPECT_EQ(name("fits", "", ""), "Fits");
  EXPECT_EQ(name("fifo", "Fifo", "fifo"), std::nullopt);
  EXPECT_EQ(name("dir", "Dir", "dir"), std::nullopt);
}

// Folders of any size: the scan for StartupWMClass reads a bounded number of files, once per
// run however many windows ask.
TEST_F(DesktopEntriesTest, TheScanIsBoundedAndMadeOncePerRun) {
  for (std::size_t i = 0; i < kDesktopEntryScanLimit + 100; ++i) {
    write("system/applications/app" + std::to_string(10000 + i) + ".desktop",
          entry("App " + std::to_string(i), "StartupWMClass=Class" + std::to_string(i) + "\n"));
  }
  DesktopEntries entries(folders(), "");
  // The scan, and the entry that claims the class read whole.
  EXPECT_EQ(entries.nameFor("", "Class0", "class0"), "App 0");
  const std::size_t afterFirst = entries.filesRead();
  EXPECT_LE(afterFirst, kDesktopEntryScanLimit + 1);
  EXPECT_EQ(entries.nameFor("", "Class7", "class7"), "App 7");
  EXPECT_EQ(entries.filesRead(), afterFirst + 1) << "the folders are read once";
  // Files are read in the order of their names: those past the limit are not.
  EXPECT_EQ(entries.nameFor("", "Class1050", "class1050"), std::nullopt);
  EXPECT_EQ(entries.nameFor("", "Unknown", "unknown"), std::nullopt);
  EXPECT_EQ(entries.filesRead(), afterFirst + 1);
}

// A StartupWMClass line counts only in the [Desktop Entry] group, as the key itself.
TEST_F(DesktopEntriesTest, OnlyAnEntrysOwnClaimCounts) {
  write("system/applications/action-claim.desktop",
        entry("Action claim", "[Desktop Action x]\nStartupWMClass=Claimed\n"));
  write("system/applications/longer-key.desktop", entry("Longer key", "StartupWMClassX=Claimed\n"));
  write("system/applications/spaced.desktop", entry("Spaced", "StartupWMClass = Spaced Class\n"));
  EXPECT_EQ(name("", "Claimed", "claimed"), std::nullopt);
  EXPECT_EQ(name("", "Spaced Class", "spaced class"), "Spaced");
}

TEST(ApplicationFolders, FollowTheXdgBaseDirectoryRules) {
  struct Case {
    const char* home;
    const char* dataHome;
    const char* dataDirs;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"/home/u",
       nullptr,
       nullptr,
       {"/home/u/.local/share/applications", "/usr/local/share/applications",
        "/usr/share/applications"}},
      {"/home/u",
       "/data",
       "/opt/share:relative/share:/usr/share/",
       {"/data/applications", "/opt/share/applications", "/usr/share/applications"}},
      {nullptr, "relative", "/usr/share:/usr/share", {"/usr/share/applications"}},
  };
  const auto saved = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  };
  const std::optional<std::string> home = saved("HOME"), dataHome = saved("XDG_DATA_HOME"),
                                   dataDirs = saved("XDG_DATA_DIRS");
  const auto set = [](const char* name, const char* value) {
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  };
  for (const Case& c : cases) {
    set("HOME", c.home);
    set("XDG_DATA_HOME", c.dataHome);
    set("XDG_DATA_DIRS", c.dataDirs);
    EXPECT_EQ(applicationFolders(), c.expected);
  }
  set("HOME", home ? home->c_str() : nullptr);
  set("XDG_DATA_HOME", dataHome ? dataHome->c_str() : nullptr);
  set("XDG_DATA_DIRS", dataDirs ? dataDirs->c_str() : nullptr);
}

}  // namespace
}  // namespace nevo::lin
