// The wire trace as a transport feeds it: header, one line per read or
// write, put-back bytes once, the byte limit, a handshake that never ended.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/fake_io.h"
#include "vexa/log.h"
#include "vexa/version.h"
#include "vexa/wire_trace.h"

namespace vexa_test {
namespace {

std::string logged;
void keepLog(Vexa::LogLevel, const char* message) { logged += message; }

std::string tracePath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("vexa_wire_") + name)).string();
}

std::vector<std::string> lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> all;
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

// "0.000123 out 56" as "out 56", after checking the time's form and order.
std::vector<std::string> chunks(const std::vector<std::string>& all, size_t from) {
  static const std::regex chunk(R"((\d+\.\d{6}) ((out|in) [0-9a-f]+))");
  std::vector<std::string> out;
  double last = 0;
  for (size_t i = from; i < all.size() && all[i][0] != '#'; ++i) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(all[i], m, chunk)) << all[i];
    EXPECT_GE(std::stod(m[1]), last) << all[i];
    last = std::stod(m[1]);
    out.push_back(m[2]);
  }
  return out;
}

TEST(WireTrace, TapsEachCallOnceUntilTheLimit) {
  const std::string path = tracePath("tap.txt");
  FakeIO io;
  const std::time_t began = std::time(nullptr);
  auto trace = std::make_shared<Vexa::WireTrace>(path, io.linkKind(), 13);
  io.attachTrace(trace);
  Vexa::setLogHandler(keepLog, Vexa::LogLevel::kWarning);

  const Bytes probe{0x56}, command{0xaa, 0x02, 0x03, 0x00, 0xe8, 0x10, 0x7f, 0xc1};
  io.send(probe.data(), 1);
  io.feed({0x00, 0x0e, 0xa4, 0x06});
  io.maxChunk = 2;
  uint8_t buf[8];
  ASSERT_EQ(io.recv(buf, 8), 2);
  io.putBack.push_front(0x0e);  // the reader resynchronises
  Vexa::IO::recvAll(io, buf, 3);
  EXPECT_EQ(io.recv(buf, 8), 0);  // a time-out: no line
  trace->setFamily(Vexa::DeviceFamily::kCompactBoard);
  io.send(command.data(), 8);  // 13 bytes: the limit, not beyond it
  io.send(probe.data(), 1);
  io.send(command.data(), 8);
  trace->stop();
  Vexa::setLogHandler(nullptr, Vexa::LogLevel::kOff);

  const std::vector<std::string> all = lines(path);
  ASSERT_GE(all.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 4),
            (std::vector<std::string>{"# vexa wire trace 1", "# link: sim", "# family: compact-board",
                                      "# library: " VEXA_VERSION_STRING}));
  EXPECT_TRUE(std::regex_match(all[4], std::regex(R"(# start: \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)"))) << all[4];
  // The start's date and time, UTC, as the C library tells them: within a
  // few seconds of when the trace was made, even on a loaded machine.
  const std::string start = all[4].substr(9, 19);
  bool known = false;
  for (std::time_t t = began; t < began + 5; ++t) {
    char when[24];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", std::gmtime(&t));
    known = known || start == when;
  }
  EXPECT_TRUE(known) << all[4];
  EXPECT_EQ(chunks(all, 5), (std::vector<std::string>{"out 56", "in 000e", "in a406", "out aa020300e8107fc1"}));
  EXPECT_EQ(all.back(), "# limit reached: 13 bytes; nothing more is traced");
  EXPECT_EQ(all.size(), 10u);
  EXPECT_NE(logged.find("limit of 13 bytes"), std::string::npos) << logged;
  std::filesystem::remove(path);
}

TEST(WireTrace, StoppedBeforeTheFamilyIsKnown) {
  const std::string path = tracePath("unknown.txt");
  {
    Vexa::WireTrace trace(path, "serial");
    const Bytes probe{0x07, 0xfe};
    trace.record(Vexa::WireDirection::kOut, probe.data(), 2);
  }  // the destructor stops it
  const std::vector<std::string> all = lines(path);
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[1] + "|" + all[2], "# link: serial|# family: unknown");
  EXPECT_EQ(chunks(all, 5), std::vector<std::string>{"out 07fe"});
  std::filesystem::remove(path);

  EXPECT_THROW(Vexa::WireTrace(tracePath("no/such/dir/x.txt"), "serial"), Vexa::Error::InvalidParameter);
  if (std::filesystem::exists("/dev/full")) {  // a disk that takes nothing: stop() says so
    Vexa::WireTrace full("/dev/full", "usb");
    const Bytes reply{0x5a, 0x01};
    full.record(Vexa::WireDirection::kIn, reply.data(), 2);
    EXPECT_THROW(full.stop(), Vexa::NotifException);
  }
}

}  // namespace
}  // namespace vexa_test
