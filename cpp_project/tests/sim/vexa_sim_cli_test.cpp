// Runs the vexa-sim tool as a user would: a child process on pipes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "sim_test_util.h"
#include "vexa_sim/unique_fd.h"

extern char** environ;

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kPatience{5000};

// Bytes from fd up to (not including) stop, or until the patience ran out.
std::string readUntil(int fd, char stop, size_t max = 256) {
  std::string out;
  auto deadline = Clock::now() + kPatience;
  while (out.size() < max && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1 || c == stop) break;
    out += c;
  }
  return out;
}

// The tool with stdin and stdout on pipes; stderr is left to the test log.
class Tool {
 public:
  explicit Tool(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe(in) != 0) return;
    UniqueFd inRead(in[0]);
    stdin_ = UniqueFd(in[1]);
    if (pipe(out) != 0) return;
    UniqueFd outWrite(out[1]);
    stdout_ = UniqueFd(out[0]);
    fcntl(in[1], F_SETFD, FD_CLOEXEC);
    fcntl(out[0], F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    args.insert(args.begin(), VEXA_SIM_CLI);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, VEXA_SIM_CLI, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Tool() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }
  int out() const { return stdout_.get(); }
  void closeStdin() { stdin_.reset(); }
  void signal(int sig) { kill(pid_, sig); }

  // The exit code, polling until the child ends or the patience runs out.
  std::optional<int> waitExit() {
    auto deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      poll(nullptr, 0, 10);
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  UniqueFd stdin_, stdout_;
};

TEST(VexaSimCliTest, BadOptionExitsWithCode2) {
  Tool tool({"--product", "70000"});
  ASSERT_TRUE(tool.started());
  EXPECT_EQ(tool.waitExit(), 2);
  EXPECT_EQ(readUntil(tool.out(), '\n'), "");  // no port was made
}

TEST(VexaSimCliTest, ServesOnThePrintedPortUntilStdinEnds) {
  Tool tool({"--family", "quillbox", "--version-line", "Quillbox_v4.2"});
  ASSERT_TRUE(tool.started());
  std::string com = readUntil(tool.out(), '\n');
  ASSERT_EQ(com.rfind("COM/dev/pts/", 0), 0u) << com;
  {
    UniqueFd port(open(com.c_str() + 3, O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(port.valid());
    uint8_t probe = 0x07;
    ASSERT_EQ(write(port.get(), &probe, 1), 1);
    EXPECT_EQ(readUntil(port.get(), '\n'), "Quillbox_v4.2");
  }
  tool.closeStdin();
  EXPECT_EQ(tool.waitExit(), 0);
}

TEST(VexaSimCliTest, StopSignalsEndItCleanly) {
  for (int sig : {SIGTERM, SIGINT}) {
    Tool tool({});
    ASSERT_TRUE(tool.started());
    ASSERT_EQ(readUntil(tool.out(), '\n').rfind("COM/dev/pts/", 0), 0u);
    tool.signal(sig);
    EXPECT_EQ(tool.waitExit(), 0) << "signal " << sig;
  }
}

}  // namespace
}  // namespace vexa_sim
