// The vexa tool as a user runs it: exit statuses and messages, recordings
// from the in-process simulated device read back, existing files kept,
// markers from standard input, a failed write, a clean end on SIGINT and
// the replay of a recording, the check of a device.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "record/read_back.h"
#include "vexa/bdf_reader.h"
#include "vexa_sim/sample_pattern.h"

extern char** environ;

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

using vexa_test::tempPath;

// How the child runs: its standard input (/dev/null when -1) and the
// largest file it may write; SIGXFSZ is ignored, so a longer write fails
// with EFBIG instead of killing it.
struct Child {
  int input = -1;
  rlim_t maxFileSize = RLIM_INFINITY;
};

// Runs vexa with args; onErr sees the standard error text gathered so far
// after each read (the child's pid with it, e.g. to signal it).
Result vexa(std::vector<std::string> args, const std::function<void(pid_t, const std::string&)>& onErr = {},
            const Child& child = {}) {
  args.insert(args.begin(), VEXA_CLI);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string outFile = tempPath("stdout.txt");
  int err[2];
  EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
  const char* outPath = outFile.c_str();
  const rlimit fileSize = {child.maxFileSize, child.maxFileSize};
  const pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls until exec
    dup2(child.input >= 0 ? child.input : open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
    dup2(open(outPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    setrlimit(RLIMIT_FSIZE, &fileSize);
    signal(SIGXFSZ, SIG_IGN);
    execve(VEXA_CLI, argv.data(), environ);
    _exit(127);
  }
  EXPECT_GT(pid, 0);
  close(err[1]);
  Result r;
  // 30 s for the whole run: a hung recording may still print progress.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  pollfd fd = {err[0], POLLIN, 0};
  char buf[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      ADD_FAILURE() << "vexa hangs; stderr so far: " << r.err;
      kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = read(err[0], buf, sizeof buf);
    if (n <= 0) break;
    r.err.append(buf, static_cast<size_t>(n));
    if (onErr) onErr(pid, r.err);
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
  const std::string bdf = tempPath("refused.bdf"), trace = tempPath("wire.txt");
  // arguments, exit status, part of standard error, part of standard output
  const std::tuple<std::vector<std::string>, int, const char*, const char*> cases[] = {
      {{}, 2, "A subcommand is required", ""},
      {{"frobnicate"}, 2, "A subcommand is required", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "11"}, 2, "--output is required", ""},
      {{"record", "SIM", "--rate", "0", "--channels", "1", "-o", bdf}, 2, "--rate", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "0x0", "-o", bdf}, 2, "selects no port", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "-o", "out.txt"}, 2, ".bdf or .csv", ""},
      {{"record", "SIM", "--rate", "1000", "-o", bdf}, 2, "--channels or --source is required", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "--source", "1:1", "-o", bdf}, 2, "excludes", ""},
      {{"record", "SIM", "--rate", "1000", "--source", "1:0x10000", "-o", bdf}, 2, "not PORT:MASK[:DIVISOR]", ""},
      {{"record", "SIM", "--rate", "1000", "--source", "2:3:0", "-o", bdf}, 2, "not PORT:MASK[:DIVISOR]", ""},
      {{"record", "SIM", "--rate", "1000", "--source", "1x2:3", "-o", bdf}, 2, "not PORT:MASK[:DIVISOR]", ""},
      {{"record", "SIM", "--rate", "1000", "--source", "1:0x8001", "--label", "3=x", "-o", bdf}, 2,
       "--label: channel 3 is not recorded: 2 channels are, from 1", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "--unit", "0=uV", "-o", bdf}, 2, "not N=TEXT", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "--physical", "*=-1:-1", "-o", bdf}, 2,
       "two different numbers", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "--physical", "1=:5", "-o", bdf}, 2, "not MIN:MAX", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "--label", "1=ABCDEFGHIJKLMNOPQ", "-o", bdf}, 2,
       "not 16 printable ASCII characters at most", ""},
      {{"record", "SIM", "--rate", "10000000", "--channels", "1", "-o", bdf}, 1,
       "vexa record: tessarimodular cannot sample at 10000000 Hz: its family takes at most 100000 Hz", ""},
      {{"record", "SIM:quillbox", "--rate", "5000", "--channels", "1", "-o", bdf}, 1,
       "Quillbox cannot sample at 5000 Hz: it takes 1, 10, 100 or 1000 Hz", ""},
      {{"record", "SIM:cadrium", "--rate", "1000", "--channels", "1", "-o", bdf}, 1,
       "Invalid parameter. (the samples must have 8 or 12 bits)", ""},
      {{"record", "SIM", "--rate", "1000", "--channels", "1", "-o", "/nonexistent/a.bdf"}, 1,
       "vexa record: cannot create /nonexistent/a.bdf: No such file or directory", ""},
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
      {{"info", "SIM", "--trace", "/nonexistent/t.txt"}, 1, "vexa info: Invalid parameter. (create /nonexistent/t.txt", ""},
      {{"record", "SIM", "SIM", "--rate", "1000", "--channels", "1", "--trace", trace, "-o", bdf}, 2, "takes one PATH", ""},
      {{"info", "SIM:quillbox", "--trace", trace}, 0, "", "type: Quillbox"},
  };
  for (const auto& [args, status, err, out] : cases) {
    const Result r = vexa(args);
    SCOPED_TRACE(::testing::PrintToString(args) + "\n" + r.err + r.out);
    EXPECT_EQ(r.status, status);
    EXPECT_NE(r.err.find(err), std::string::npos);
    EXPECT_NE(r.out.find(out), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(bdf)) << "a refused start leaves no file";
  const std::string traced = vexa_test::slurp(trace);
  EXPECT_NE(traced.find("# link: sim\n# family: compact-board\n"), std::string::npos) << traced;
  EXPECT_NE(traced.find(" out 07\n"), std::string::npos) << traced;
  std::filesystem::remove(trace);
}

TEST(VexaCli, ExistingFileIsKeptUnlessForced) {
  const std::string file = tempPath("existing.bdf");
  std::string before;
  for (int i = 0; i < 3000; ++i) before += static_cast<char>(i * 7 + i / 251);
  // further arguments, exit status, part of standard error, file replaced
  const std::tuple<std::vector<std::string>, int, std::string, bool> cases[] = {
      {{"--bits", "12", "--force"}, 1, "vexa record: Invalid parameter.", false},  // the device refuses the start
      {{}, 1, "vexa record: " + file + " exists; --force replaces it", false},
      {{"--force"}, 0, "vexa record: 100 instants", true},
  };
  for (const auto& [extra, status, err, replaced] : cases) {
    std::ofstream(file, std::ios::binary) << before;
    std::vector<std::string> args = {"record", "SIM", "--rate", "1000", "--channels", "1", "--seconds", "0.1", "-o", file};
    args.insert(args.end(), extra.begin(), extra.end());
    const Result r = vexa(args);
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
    EXPECT_EQ(vexa_test::slurp(file) != before, replaced) << r.err;
  }
  expectPattern(vexa_test::readOwn(file), 1, 100);
  std::remove(file.c_str());
}

// Every channel of whole ports (64 in all, one port at half rate); the
// compact board's values of 10 and 6 bits. The end of standard input does
// not end a recording.
TEST(VexaCli, RecordsTheChannelsAsked) {
  std::vector<std::array<int, 4>> wide, compact;  // source, channel, bits, divisor of each signal
  for (int s = 0; s < 4; ++s) {
    for (int ch = 0; ch < 16; ++ch) wide.push_back({s, ch, 16, s == 2 ? 2 : 1});
  }
  for (int k = 0; k < 6; ++k) compact.push_back({0, k, k < 4 ? 10 : 6, 1});
  const std::pair<std::vector<std::string>, std::vector<std::array<int, 4>>> cases[] = {
      {{"SIM:current --product 517", "--source", "0:0xFFFF", "--source", "1:65535", "--source", "2:0xFFFF:2",
        "--source", "63:0xffff"},
       wide},
      {{"SIM:quillbox", "--channels", "111111", "--label", "6=ABCDEFGHIJKLMNOP"}, compact},
  };
  const std::string file = tempPath("channels.bdf");
  for (const auto& [given, signals] : cases) {
    SCOPED_TRACE(given[0]);
    std::vector<std::string> args = {"record"};
    args.insert(args.end(), given.begin(), given.end());
    args.insert(args.end(), {"--rate", "1000", "--seconds", "0.3", "-o", file});
    const Result r = vexa(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(instantsOf(r.err), 300) << r.err;
    const vexa_test::ReadBack back = vexa_test::readOwn(file);
    ASSERT_TRUE(back.ok);
    ASSERT_EQ(back.samples.size(), signals.size());
    for (size_t i = 0; i < signals.size(); ++i) {
      const auto [source, channel, bits, divisor] = signals[i];
      EXPECT_EQ(std::make_pair(back.digitalMin[i], back.digitalMax[i]), std::make_pair(0, (1 << bits) - 1)) << i;
      for (int t = 0; t < 300 / divisor; ++t) {
        ASSERT_EQ(back.samples[i][t], vexa_sim::samplePattern(t * divisor, source, channel, bits))
            << " signal " << i << " sample " << t;
      }
    }
    std::remove(file.c_str());
  }
}

TEST(VexaCli, WriteFailureEndsTheRecording) {
  const std::string file = tempPath("full.bdf");
  // 60 kB a second against 16 KiB: the first record fails. Without a
  // length the recording ends only by noticing.
  const Result r = vexa({"record", "SIM", "--rate", "10000", "--channels", "11", "-o", file}, {}, Child{-1, 16384});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("vexa record: writing " + file + " failed: write: File too large"), std::string::npos) << r.err;
  std::remove(file.c_str());
}

// Markers typed before and while it records, the last ones just before
// the signal, all land in the file.
TEST(VexaCli, SigintFinishesTheFileWithTheMarkersTyped) {
  const std::string file = tempPath("interrupted.bdf");
  int input[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  auto type = [&](const std::string& text) {
    EXPECT_EQ(write(input[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  type("alpha\n\n \t\n");
  bool signalled = false;
  const Result r = vexa({"record", "SIM", "--rate", "2000", "--channels", "11", "-o", file},
                        [&](pid_t pid, const std::string& err) {
                          // A progress line with instants in it: data is flowing.
                          const size_t line = err.find("recording ");
                          const size_t instants = err.find(" instants", line);
                          if (signalled || instants == std::string::npos) return;
                          if (std::stoll(err.substr(err.rfind(' ', instants - 1) + 1)) > 0) {
                            type("beta gamma\r\nlast");
                            signalled = kill(pid, SIGINT) == 0;
                          }
                        },
                        Child{input[0]});
  close(input[0]);
  close(input[1]);
  ASSERT_TRUE(signalled) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  const long long n = instantsOf(r.err);
  ASSERT_GT(n, 0) << r.err;
  const vexa_test::ReadBack back = vexa_test::readOwn(file);
  expectPattern(back, 2, n);
  EXPECT_EQ(back.records, (n + 1999) / 2000) << "1 s records, the last one completed";
  std::vector<std::string> markers;
  for (const vexa_test::Annotation& a : back.annotations) {
    if (a.text.rfind("Marker", 0) == 0) markers.push_back(a.text);
  }
  EXPECT_EQ(markers, (std::vector<std::string>{"Marker: alpha", "Marker: beta gamma", "Marker: last"}));
  std::remove(file.c_str());
}

TEST(VexaCli, ReplayedRecordingRecordsTheSameSamples) {
  const std::string first = tempPath("first.bdf"), second = tempPath("second.bdf");
  const std::vector<std::string> setUp = {"--rate", "1000", "--channels", "11000011", "--bits", "16"};
  auto record = [&](const std::string& path, const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"record", path};
    args.insert(args.end(), setUp.begin(), setUp.end());
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-o", out});
    return vexa(args);
  };
  // 1.2 s: two records, the second one padded.
  Result r = record("SIM:current --description FernlitVexa --product 0x0502 --fw 0x0309", first,
                    {"--seconds", "1.2", "--label", "1=EEG Fz", "--unit", "*=uV", "--physical", "2=-3.5:3.5",
                     "--subject", "S01"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Standard error is no terminal: at most one progress line a second (the
  // k-th shows k s or more), then the final one.
  std::istringstream lines(r.err);
  int shown = 0;
  for (std::string line; std::getline(lines, line);) {
    double seconds = 0;
    if (std::sscanf(line.c_str(), "recording %lf s", &seconds) == 1) {
      EXPECT_GE(seconds, shown++) << r.err;
    }
  }
  // Played back until the recording ends, with nothing asked for its length;
  // its descriptions kept where not given again.
  r = record("SIM:" + first, second, {"--unit", "4=mV", "--label", "2=EMG"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the device ended the acquisition (disconnect, reason 0)"), std::string::npos) << r.err;
  EXPECT_EQ(instantsOf(r.err), 1200) << r.err;
  const vexa_test::ReadBack a = vexa_test::readOwn(first), b = vexa_test::readOwn(second);
  expectPattern(b, 4, 1200);
  EXPECT_EQ(b.samples, a.samples);
  const Vexa::BdfReader kept(second);
  std::vector<std::string> units;
  for (const Vexa::BdfSignal& g : kept.header().signals) units.push_back(g.physicalDimension);
  EXPECT_EQ(b.labels, (std::vector<std::string>{"EEG Fz", "EMG", "Port 7 Ch 0", "Port 8 Ch 0"}));
  EXPECT_EQ(units, (std::vector<std::string>{"uV", "uV", "uV", "mV"}));
  EXPECT_EQ(kept.header().signals[1].physicalMin, -3.5);
  EXPECT_EQ(kept.header().signals[1].physicalMax, 3.5);
  EXPECT_EQ(kept.recordingInfo().subject, "S01");
  EXPECT_NE(vexa({"info", "SIM:" + first}).out.find("\ntype: FernlitVexa\nproduct: 1282 (0x0502)\nfirmware: 3.9\n"), std::string::npos)
      << "named as recorded";
  // A start the recording cannot serve gets the device's refusal and what
  // the recording holds.
  const std::string third = tempPath("third.bdf");
  const std::pair<std::vector<std::string>, std::string> refusals[] = {
      {{"--rate", "2000", "--channels", "1"}, "recorded at 1000 Hz; asked 2000 Hz"},
      {{"--rate", "1000", "--channels", "001"}, "recorded port:channel 1:0, 2:0, 7:0, 8:0; asked port 3 channel 0"},
      {{"--rate", "1000", "--source", "2:1", "--source", "1:1", "--bits", "8"},
       "port 2 channel 0 recorded with 16 bits; asked 8"},
      {{"--rate", "1000", "--source", "7:1:3", "--source", "1:1:2", "--source", "8:1"}, "no refusal"}};
  for (const auto& [args, why] : refusals) {
    std::vector<std::string> all = {"record", "SIM:" + first, "--seconds", "0.01", "-o", third};
    all.insert(all.end(), args.begin(), args.end());
    r = vexa(all);
    if (why == "no refusal") {
      EXPECT_EQ(r.status, 0) << r.err << "a divisor that is a multiple of the recorded one";
      continue;
    }
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("vexa record: Invalid operation on current device state (code 3).\n"
                         "vexa record: the replayed recording cannot serve this start: " + why + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(third)) << r.err;
  }
  std::remove(third.c_str());
  std::remove(first.c_str());
  std::remove(second.c_str());
}

// Several devices recorded together until SIGINT stops them all: one file
// each, named after its path, every tick in each, and the marker typed in
// every one.
TEST(VexaCli, SeveralDevicesRecordTogetherIntoOneFolder) {
  const std::string folder = tempPath("together");
  EXPECT_EQ(vexa({"record", "SIM", "sim", "--rate", "1000", "--channels", "11", "-o", folder + ".bdf"}).status, 2)
      << "several devices need a folder";
  int input[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  ASSERT_EQ(write(input[1], "both\n", 5), 5);
  close(input[1]);
  bool signalled = false;
  const Result r = vexa({"record", "SIM", "sim", "sim:current", "--rate", "1000", "--channels", "101", "-o",
                         folder + "/"},
                        [&signalled](pid_t pid, const std::string& err) {
                          // A whole progress line in which every device has instants.
                          const size_t line = err.rfind("recording ");
                          const size_t end = err.find('\n', line);
                          if (signalled || line == std::string::npos || end == std::string::npos) return;
                          if (err.find(" 0 instants", line) > end) signalled = kill(pid, SIGINT) == 0;
                        },
                        Child{input[0]});
  close(input[0]);
  ASSERT_TRUE(signalled) << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"SIM.bdf", "sim-2.bdf", "sim_current.bdf"}) {
    const std::string file = folder + "/" + name;
    const size_t summary = r.err.find(" bytes in " + file + "\n");
    ASSERT_NE(summary, std::string::npos) << r.err;
    const long long n = instantsOf(r.err.substr(r.err.rfind('\n', summary) + 1));
    ASSERT_GT(n, 0) << r.err;
#ifdef VEXA_HAVE_EDFLIB
    const vexa_test::ReadBack back = vexa_test::readEdflib(file);
#else
    const vexa_test::ReadBack back = vexa_test::readOwn(file);
#endif
    ASSERT_TRUE(back.ok) << file;
    ASSERT_EQ(back.samples.size(), 2u) << file;
    ASSERT_GE(static_cast<long long>(back.samples[1].size()), n) << file;
    for (int t = 0; t < n; ++t) {
      ASSERT_EQ(back.samples[0][t], vexa_sim::samplePattern(t, 0, 0, 16)) << file << " tick " << t;
      ASSERT_EQ(back.samples[1][t], vexa_sim::samplePattern(t, 1, 0, 16)) << file << " tick " << t;
    }
    int markers = 0;
    for (const vexa_test::Annotation& a : back.annotations) markers += a.text == "Marker: both";
    EXPECT_EQ(markers, 1) << file;
  }
  std::filesystem::remove_all(folder);
}

// The recording's CSV without its host times, which differ run to run, as
// a 64-bit FNV-1a in hex: ticks, samples and digital-input events.
std::string samplesChecksum(const std::string& csv) {
  std::ifstream in(csv);
  uint64_t hash = 14695981039346656037ull;
  for (std::string line; std::getline(in, line);) {
    const size_t second = line.find(',', line.find(',') + 1);
    line.erase(second, line.find(',', second + 1) - second);  // the host_time column
    const size_t note = line.find("host time ");
    if (note != std::string::npos) line.erase(note + 9, line.find_first_not_of("0123456789.", note + 10) - note - 9);
    line += "\n";
    for (char c : line) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  }
  std::ostringstream hex;
  hex << std::hex << std::setw(16) << std::setfill('0') << hash;
  return hex.str();
}

// vexa sim --play-trace on a pseudo-terminal while host(port) runs; its
// exit status and what it printed after the port.
Result playOnPty(const std::string& trace, const std::function<void(const std::string&)>& host) {
  const std::string fifo = tempPath("sim.out");
  EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Its standard input is ours to close: it serves until then or a mismatch.
  FILE* sim = popen(("exec '" VEXA_CLI "' sim --play-trace '" + trace + "' > '" + fifo + "' 2>&1").c_str(), "w");
  std::ifstream out(fifo);  // opens once the simulator opened it
  std::string port;
  std::getline(out, port);
  host(port);
  Result r;
  const int status = pclose(sim);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err.assign(std::istreambuf_iterator<char>(out), {});
  std::remove(fifo.c_str());
  return r;
}

TEST(VexaCli, KeptTracesReplayAsExpected) {
  const std::string csv = tempPath("replayed.csv");
  int cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VEXA_TRACES)) {
    if (entry.path().extension() != ".expect") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ++cases;
    std::map<std::string, std::string> expect;
    std::ifstream file(entry.path());
    for (std::string line; std::getline(file, line);) {
      const size_t colon = line.find(": ");
      if (line.rfind('#', 0) != 0 && colon != std::string::npos) expect[line.substr(0, colon)] = line.substr(colon + 2);
    }
    const auto trace = entry.path().parent_path() /
                       (expect.count("trace") ? expect["trace"] : entry.path().stem().string() + ".trace");
    const bool departs = expect["outcome"] == "mismatch";
    const auto replay = [&](const std::string& path) {
      std::vector<std::string> args = {"record", path, "-o", csv, "--force"};
      std::istringstream words(expect["args"]);
      for (std::string word; words >> word;) args.push_back(word);
      const Result r = vexa(args);
      EXPECT_EQ(r.status, departs ? 1 : 0) << r.err;
      if (!departs) {
        EXPECT_EQ(std::to_string(instantsOf(r.err)) + " " + samplesChecksum(csv),
                  expect["instants"] + " " + expect["samples"]) << r.err;
      }
      return r.err;
    };
    // In-process the host tells the mismatch; over the pseudo-terminal the simulator does.
    const std::string mismatch = "trace mismatch at line";
    EXPECT_EQ(replay("SIM:trace:" + trace.string()).find(mismatch) != std::string::npos, departs);
    const Result sim = playOnPty(trace.string(), replay);
    EXPECT_EQ(sim.status, departs ? 1 : 0) << sim.err;
    EXPECT_EQ(sim.err.find(mismatch) != std::string::npos, departs) << sim.err;
  }
  EXPECT_GE(cases, 4);
  std::remove(csv.c_str());
}


// vexa sim serving on a pseudo-terminal until its standard input closes.
struct PtySim {
  pid_t pid = -1;
  int input = -1;
  std::string path;  // the port path it printed
  ~PtySim() {
    if (pid <= 0) return;  // never started: waitpid(-1) would wait for any child
    close(input);
    waitpid(pid, nullptr, 0);
  }
};

void startSim(PtySim& sim, const char* family) {
  int in[2], out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  sim.pid = fork();
  if (sim.pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    execl(VEXA_CLI, VEXA_CLI, "sim", "--family", family, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  sim.input = in[1];
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') sim.path += c;
  close(out[0]);
}

// Every simulated family passes; a fault fails the step it shows in, with
// its figure; a device that never answers cannot be used. Each case:
// arguments ("{pty}", "{bdf}" and "{trace}" stand for a simulator on a
// pseudo-terminal, a recording and a trace file), exit status, parts of
// standard output (standard error for an unusable device). One ctest case
// each: a check takes seconds, and they run side by side.
struct CheckCase {
  std::vector<std::string> args;
  int status;
  std::vector<std::string> parts;
  friend void PrintTo(const CheckCase& c, std::ostream* os) {
    for (const std::string& arg : c.args) *os << (&arg == &c.args.front() ? "" : " ") << arg;
  }
};

class VexaCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(VexaCheck, ReportsEveryStep) {
  const std::string bdf = tempPath("checked.bdf"), trace = tempPath("checked.trace");
  PtySim pty;
  std::vector<std::string> args = GetParam().args;
  for (std::string& arg : args) {
    if (arg == "{pty}") {
      startSim(pty, "quillbox");
      ASSERT_EQ(pty.path.rfind("COM/dev/", 0), 0u) << pty.path;
      arg = pty.path;
    } else if (arg == "SIM:{bdf}") {
      ASSERT_EQ(vexa({"record", "SIM", "--rate", "500", "--source", "2:0x5", "--seconds", "1", "-o", bdf}).status, 0);
      arg = "SIM:" + bdf;
    } else if (arg == "{trace}") {
      arg = trace;
    }
  }
  const Result r = vexa(args);
  SCOPED_TRACE(::testing::PrintToString(args) + "\n" + r.out + r.err);
  EXPECT_EQ(r.status, GetParam().status);
  // The text's columns, two blanks apart whatever the names' widths.
  std::string text = r.out + r.err;
  for (size_t at; (at = text.find("   ")) != std::string::npos;) text.erase(at, 1);
  for (const std::string& part : GetParam().parts) EXPECT_NE(text.find(part), std::string::npos) << part;
  std::remove(bdf.c_str());
  if (std::find(args.begin(), args.end(), trace) == args.end()) return;
  // One file for the check's links, the reconnect's included.
  const std::string lines = vexa_test::slurp(trace);
  std::remove(trace.c_str());
  EXPECT_EQ(lines.rfind("# vexa wire trace 1\n# link: sim\n# family: oldest\n", 0), 0u) << lines.substr(0, 200);
  int handshakes = 0;  // the first byte each connection sends
  for (size_t at = 0; (at = lines.find(" out 07\n", at)) != std::string::npos; ++at) ++handshakes;
  EXPECT_EQ(handshakes, 2);
}

INSTANTIATE_TEST_SUITE_P(
    VexaCli, VexaCheck,
    ::testing::Values(
        CheckCase{{"check", "SIM"}, 0, {"battery  pass  97 %", "drift ", "interrupt while acquiring  pass", "reconnect  pass"}},
        CheckCase{{"check", "SIM:cadrium", "--trace", "{trace}"}, 0,
                  {"battery  not applicable", "acquire 250 Hz ports 1,2 (8 bits)  pass  0 ticks"}},
        CheckCase{{"check", "{pty}", "--json"}, 0,
                  {"\"link\":\"serial port /dev/", "{\"name\":\"acquire 100 Hz ports 1,2 (16 bits)\",\"result\":\"pass\"",
                   "\"passed\":true,\"exit\":0}\n"}},
        CheckCase{{"check", "SIM:{bdf}"}, 0,
                  {"acquire 1000 Hz 1:0x1 (16 bits)  not applicable", "acquire 500 Hz 2:0x5 (16 bits)  pass  0 ticks lost"}},
        CheckCase{{"check", "SIM:current --clock-ppm -9000"}, 3,
                  {"acquire 2000 Hz 1:0x3 2:0x1/2 (16/8 bits)  fail  0 ticks lost, 198", "the rate is off by -0.9"}},
        CheckCase{{"check", "SIM:current --stray-bytes 300"}, 3, {"fail  0 ticks lost", "instants came up to "}},
        CheckCase{{"check", "SIM:quillbox --silent"}, 1, {"vexa check: cannot use the device at SIM:quillbox --silent: "}},
        CheckCase{{"check"}, 2, {"PATH is required"}}, CheckCase{{"--version"}, 0, {"vexa 1.", " (built with "}}));

}  // namespace
