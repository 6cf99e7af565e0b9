// The vexa tool as a user runs it: exit statuses and messages, recordings
// from the in-process simulated device read back, a clean end on SIGINT and
// the replay of a recording.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "record/read_back.h"
#include "vexa_sim/sample_pattern.h"

extern char** environ;

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

std::string tempFile(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("vexa_cli_" + std::to_string(getpid()) + "_" + name)).string();
}

// Runs vexa with args; onErr sees the standard error text gathered so far
// after each read (the child's pid with it, e.g. to signal it).
Result vexa(std::vector<std::string> args, const std::function<void(pid_t, const std::string&)>& onErr = {}) {
  args.insert(args.begin(), VEXA_CLI);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string outFile = tempFile("stdout.txt");
  int err[2];
  EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, VEXA_CLI, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(err[1]);
  Result r;
  pollfd fd = {err[0], POLLIN, 0};
  char buf[4096];
  for (ssize_t n; (n = poll(&fd, 1, 30000) > 0 ? read(err[0], buf, sizeof buf) : -1) > 0;) {
    r.err.append(buf, static_cast<size_t>(n));
    if (onErr) onErr(pid, r.err);
  }
  if (poll(&fd, 1, 0) == 0) {
    ADD_FAILURE() << "vexa hangs; stderr so far: " << r.err;
    kill(pid, SIGKILL);
  }
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ifstream out(outFile);
  r.out.assign(std::istreambuf_iterator<char>(out), {});
  std::remove(outFile.c_str());
  return r;
}

// The instant count of the final summary line.
long long instantsOf(const std::string& err) {
  const size_t at = err.find("vexa record: ");
  const size_t summary = err.find(" instants, ", at);
  if (summary == std::string::npos) return -1;
  return std::stoll(err.substr(err.rfind(' ', summary - 1) + 1));
}

// The first n samples of every signal follow the simulator's pattern for
// 16-bit sources in start order, from tick 0.
void expectPattern(const vexa_test::ReadBack& r, size_t signals, long long n) {
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.samples.size(), signals);
  for (size_t s = 0; s < signals; ++s) {
    ASSERT_GE(static_cast<long long>(r.samples[s].size()), n);
    for (long long t = 0; t < n; ++t) {
      ASSERT_EQ(r.samples[s][t], vexa_sim::samplePattern(t, static_cast<int>(s), 0, 16)) << "signal " << s << " tick " << t;
    }
  }
}

TEST(VexaCli, ExitStatusAndMessage) {
  const std::string bdf = tempFile("refused.bdf");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;  // part of standard error
    const char* out;  // part of standard output
  } cases[] = {
      {{}, 2, "A subcommand is required", ""},
      {{"frobnicate"}, 2, "A subcommand is required", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "11"}, 2, "--output is required", ""},
      {{"record", "SIM", "--rate", "0", "--channels", "1", "-o", bdf}, 2, "--rate", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "0x0", "-o", bdf}, 2, "selects no port", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "-o", "out.txt"}, 2, ".bdf or .csv", ""},
      {{"scan", "--domain", "WIFI"}, 2, "WIFI", ""},
      {{"sim", "--family", "cadrium", "--replay", "a.bdf"}, 2, "--replay applies only to --family current", ""},
      {{"sim", "--replay", "/nonexistent/a.bdf"}, 1, "cannot replay /nonexistent/a.bdf", ""},
      {{"sim", "--help"}, 0, "", "--replay FILE.bdf"},
      {{"info", "COM/dev/vexa-none"}, 1,
       "vexa info: The communication port does not exist or it is already being used. (open /dev/vexa-none", ""},
      {{"info", "SIM:nowhere.bdf"}, 1, "cannot replay nowhere.bdf", ""},
      {{"info", "SIM:solar"}, 1, "(simulated device: --family must be current, cadrium or quillbox, got 'solar')", ""},
      {{"info", "SIMx"}, 1, "vexa info: Invalid parameter.", ""},  // a Bluetooth address, not the simulator
      {{"info", "sim:current --description FernlitVexa --product 0x0502 --battery 1600"}, 0, "",
       "type: FernlitVexa\nproduct: 1282 (0x0502)\nfirmware: 3.4\n"},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "--bits", "12", "-o", bdf}, 1,
       "vexa record: Invalid parameter.", ""},
  };
  for (const Case& c : cases) {
    const Result r = vexa(c.args);
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    EXPECT_EQ(r.status, c.status) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << line << "\n" << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << line << "\n" << r.out;
  }
  EXPECT_FALSE(std::filesystem::exists(bdf)) << "a refused start leaves no file";
}

TEST(VexaCli, SigintFinishesTheFile) {
  const std::string file = tempFile("interrupted.bdf");
  bool signalled = false;
  const Result r = vexa({"record", "SIM", "--rate", "2000", "--channels", "11", "-o", file},
                        [&](pid_t pid, const std::string& err) {
                          // A progress line with instants in it: data is flowing.
                          const size_t line = err.find("recording ");
                          const size_t instants = err.find(" instants", line);
                          if (signalled || instants == std::string::npos) return;
                          if (std::stoll(err.substr(err.rfind(' ', instants - 1) + 1)) > 0) {
                            signalled = kill(pid, SIGINT) == 0;
                          }
                        });
  ASSERT_TRUE(signalled) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  const long long n = instantsOf(r.err);
  ASSERT_GT(n, 0) << r.err;
  const vexa_test::ReadBack back = vexa_test::readOwn(file);
  expectPattern(back, 2, n);
  EXPECT_EQ(back.records, (n + 1999) / 2000) << "1 s records, the last one completed";
  if (n % 2000 != 0) {
    ASSERT_FALSE(back.annotations.empty()) << r.err;
    EXPECT_EQ(back.annotations.back(), (vexa_test::Annotation{n * 5000, -1, "Recording ends"}));
  }
  std::remove(file.c_str());
}

TEST(VexaCli, ReplayedRecordingRecordsTheSameSamples) {
  const std::string first = tempFile("first.bdf"), second = tempFile("second.bdf");
  const std::vector<std::string> setUp = {"--rate", "1000", "--channels", "11000011", "--bits", "16"};
  auto record = [&](const std::string& path, const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"record", path};
    args.insert(args.end(), setUp.begin(), setUp.end());
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-o", out});
    return vexa(args);
  };
  // 1.2 s: two records, the second one padded.
  Result r = record("SIM:current --description FernlitVexa --product 0x0502 --fw 0x0309", first, {"--seconds", "1.2"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Standard error is no terminal: at most one progress line a second (the
  // k-th shows k s or more), then the final one.
  std::istringstream lines(r.err);
  int shown = 0;
  for (std::string line; std::getline(lines, line);) {
    double seconds = 0;
    if (std::sscanf(line.c_str(), "recording %lf s", &seconds) == 1) EXPECT_GE(seconds, shown++) << r.err;
  }
  // Played back until the recording ends, with nothing asked for its length.
  r = record("SIM:" + first, second, {});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the device ended the acquisition (disconnect, reason 0)"), std::string::npos) << r.err;
  EXPECT_EQ(instantsOf(r.err), 1200) << r.err;
  const vexa_test::ReadBack a = vexa_test::readOwn(first), b = vexa_test::readOwn(second);
  expectPattern(b, 4, 1200);
  EXPECT_EQ(b.samples, a.samples);
  EXPECT_EQ(b.labels, (std::vector<std::string>{"Port 1 Ch 0", "Port 2 Ch 0", "Port 7 Ch 0", "Port 8 Ch 0"}));
  EXPECT_NE(vexa({"info", "SIM:" + first}).out.find("\ntype: FernlitVexa\nproduct: 1282 (0x0502)\nfirmware: 3.9\n"), std::string::npos)
      << "named as recorded";
  // A start the recording cannot serve gets the device's refusal.
  for (const std::vector<std::string>& refused : {std::vector<std::string>{"--rate", "2000", "--channels", "1"},
                                                 {"--rate", "1000", "--channels", "001"},
                                                 {"--rate", "1000", "--channels", "1", "--bits", "8"}}) {
    std::vector<std::string> args = {"record", "SIM:" + first};
    args.insert(args.end(), refused.begin(), refused.end());
    args.insert(args.end(), {"-o", second});
    r = vexa(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Invalid operation on current device state (code 3)."), std::string::npos) << r.err;
  }
  std::remove(first.c_str());
  std::remove(second.c_str());
}

}  // namespace
