// The real binary as the host runs it: a child process with pipes for its standard
// streams. The child gets no display and no session or accessibility bus, so the
// accessibility interface is not available to it and every command is answered by its
// permission-denied reply (the end-to-end tests run it on a real desktop).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#ifdef __linux__
#include "../linux/scripted_x_server.h"
#endif

extern char** environ;

namespace {

struct ProcessRun {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, or -1 when the process did not exit normally
};

void readAll(int fd, std::string& into) {
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) into.append(buffer, n);
}

// This process's environment without what would lead the child to a desktop, and with
// `added` ("NAME=value").
std::vector<char*> environmentWithoutDesktop(std::vector<std::string>& added) {
  std::vector<char*> kept;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const bool desktop = variable.starts_with("DISPLAY=") ||
                         variable.starts_with("WAYLAND_DISPLAY=") ||
                         variable.starts_with("DBUS_SESSION_BUS_ADDRESS=") ||
                         variable.starts_with("AT_SPI_BUS_ADDRESS=");
    if (!desktop) kept.push_back(*entry);
  }
  for (std::string& entry : added) kept.push_back(entry.data());
  kept.push_back(nullptr);
  return kept;
}

// Runs the binary with `arguments`. The input is written to its standard input, which is
// then closed, unless `keepInputOpen`: then the pipe stays open until the process ends,
// as with a host that never closes it. `environment` is added to the child's.
ProcessRun runBinary(const std::vector<std::string>& arguments, const std::string& input = "",
                     bool keepInputOpen = false, std::vector<std::string> environment = {}) {
  int in[2], out[2], err[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  std::vector<std::string> argv = {NEVO_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (auto& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  std::vector<char*> childEnvironment = environmentWithoutDesktop(environment);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, NEVO_BINARY, &actions, nullptr, pointers.data(),
                                  childEnvironment.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // The tool may answer and exit without reading its input (the permission gate comes
  // first), so the write may find no reader: that is EPIPE here (SIGPIPE is ignored by
  // this test process), not a failure of the tool.
  for (std::size_t written = 0; written < input.size();) {
    const ssize_t n = write(in[1], input.data() + written, input.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  if (!keepInputOpen) close(in[1]);

  ProcessRun run;
  readAll(out[0], run.out);
  readAll(err[0], run.err);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (keepInputOpen) close(in[1]);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

// Writing to a child that has already exited must give EPIPE, not kill the test process.
[[maybe_unused]] const bool kSigpipeIgnored = [] {
  signal(SIGPIPE, SIG_IGN);
  return true;
}();

const std::string kUnsupported =
    "{\"reason\":\"不支持的原生窗口命令。\",\"status\":\"unavailable\"}\n";

TEST(Binary, AnswersUnsupportedArgumentListsWithOneLine) {
  const std::vector<std::vector<std::string>> lists = {
      {"--bogus"}, {"--windows", "x"}, {"--focus", "--windows"}, {""}, {"--Windows"}, {"windows"},
  };
  for (const auto& arguments : lists) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const ProcessRun run = runBinary(arguments);
    EXPECT_EQ(run.out, kUnsupported);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

struct DeniedCase {
  std::vector<std::string> arguments;
  std::string out;
};
const DeniedCase kDenied[] = {
    {{}, "{\"elements\":[],\"reason\":\"需要为 NEVO 开启辅助功能权限。\",\"status\":\"denied\"}\n"},
    {{"--windows"},
     "{\"reason\":\"需要为 NEVO 开启辅助功能权限。\",\"status\":\"denied\",\"windows\":[]}\n"},
    {{"--focus"}, "{\"reason\":\"需要为 NEVO 开启辅助功能权限。\",\"status\":\"denied\"}\n"},
};

TEST(Binary, AnswersEachCommandWithItsPermissionDeniedReply) {
  for (const DeniedCase& c : kDenied) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const ProcessRun run = runBinary(c.arguments);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

#ifdef __linux__
// A display that refuses the connection: xcb writes the reason to standard error, which
// stays empty all the same; every command is denied.
TEST(Binary, ARefusingDisplayLeavesStandardErrorEmpty) {
  nevo::test::ScriptedXServer server(nevo::test::Script::refuses);
  ASSERT_FALSE(server.display().empty()) << "no free display number";
  for (const DeniedCase& c : kDenied) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const ProcessRun run = runBinary(c.arguments, "", false,
                                     {"DISPLAY=" + server.display(), "XAUTHORITY=/nonexistent"});
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}
#endif

TEST(Binary, FocusAnswersWithoutWaitingForStandardInputToClose) {
  // If the tool read its input before the gate, this run would never end.
  const ProcessRun run = runBinary({"--focus"}, R"({"id":"1:0")", /*keepInputOpen=*/true);
  EXPECT_EQ(run.out, "{\"reason\":\"需要为 NEVO 开启辅助功能权限。\",\"status\":\"denied\"}\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

TEST(Binary, SurvivesAHostThatStopsReading) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);  // nobody will read the reply
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    std::vector<std::string> nothingAdded;
    std::vector<char*> environment = environmentWithoutDesktop(nothingAdded);
    char* const arguments[] = {const_cast<char*>(NEVO_BINARY), const_cast<char*>("--windows"),
                               nullptr};
    execve(NEVO_BINARY, arguments, environment.data());
    _exit(127);
  }
  close(out[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
