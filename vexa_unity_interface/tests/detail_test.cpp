// The log file, a failed connection's report as the interface always gave
// it, and the extension export that names the cause the system gave for it.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "host.h"

namespace vexa_unity_test {
namespace {

const char kOpeningPort[] =
    "VEXA Notification Exception at line number 384 in file vexa_unity_interface.cpp (v20220517): "
    "The communication port does not exist or it is already being used.\n";

std::string readFile(const char* path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// WelcomeFunction takes over standard output, so body runs in a child
// process inside a fresh directory; the child exits 0 when every check held.
template <class Body>
void inChild(Body body) {
  EXPECT_EXIT(
      {
        char dir[] = "/tmp/vexa-log-XXXXXX";
        if (mkdtemp(dir) == nullptr || chdir(dir) != 0) _exit(3);
        _exit(body() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// The log starts empty, takes each report at once (unbuffered), and a
// second WelcomeFunction empties it again.
TEST(LogFile, WelcomeOpensAnEmptyLogAndReportsLandInIt) {
  inChild([] {
    int value = WelcomeFunction();
    if (value < 0 || value > 99 || readFile("vexa_logs_file.txt") != "") return false;
    VexaDevUnity("COM/dev/nonexistent");
    if (readFile("vexa_logs_file.txt") != kOpeningPort) return false;
    WelcomeFunction();
    return readFile("vexa_logs_file.txt").empty();
  });
}

class Detail : public HostTest {
 protected:
  // Connects to path and expects the port failure with a detail that
  // contains cause.
  void expectOpenFailure(const std::string& path, const std::string& cause) {
    VexaDevUnity(path.c_str());
    ASSERT_EQ(reports().size(), 1u) << path;
    EXPECT_EQ(reports()[0].code, 1);
    EXPECT_EQ(reports()[0].message, kOpeningPort);
    EXPECT_NE(std::string(VexaExtGetLastErrorDetail()).find(cause), std::string::npos)
        << path << ": " << VexaExtGetLastErrorDetail();
    seen().reports.clear();
  }
};

TEST_F(Detail, PortFailuresNameTheirCause) {
  expectOpenFailure("COM/dev/vexa-no-such-port", "open /dev/vexa-no-such-port: No such file or directory (errno 2)");
  expectOpenFailure("COMx", "\"COMx\" names no serial port");

  // A terminal that another program holds.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  const int holder = open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  expectOpenFailure("COM" + slave, slave + " is held by another program (flock: ");
  close(holder);
  close(master);

  // A file that the user may not open: the detail names the permission and
  // what mends it.
  char file[] = "/tmp/vexa-detail-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  chmod(file, 0);
  // Root opens anything: the check runs as an ordinary user in a child.
  inChild([&file] {
    if (geteuid() == 0 && setuid(65534) != 0) return false;
    VexaDevUnity((std::string("COM") + file).c_str());
    const std::string detail = VexaExtGetLastErrorDetail();
    return detail.find("Permission denied (errno 13)") != std::string::npos &&
           detail.find("dialout") != std::string::npos;
  });
  unlink(file);
}

TEST_F(Detail, ExtensionVersionAndLog) {
  EXPECT_STREQ(VexaExtGetVersion(), VEXA_TEST_VERSION);
  static std::vector<std::pair<int, std::string>> lines;
  VexaExtSetLogHandler([](int level, const char* line) { lines.emplace_back(level, line); }, VEXA_EXT_LOG_ERROR);
  VexaDevUnity("COM/dev/vexa-no-such-port");
  VexaExtSetLogHandler(nullptr, VEXA_EXT_LOG_DEBUG);
  VexaDevUnity("COM/dev/vexa-no-such-port");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, VEXA_EXT_LOG_ERROR);
  EXPECT_EQ(lines[0].second, std::string(kOpeningPort, sizeof kOpeningPort - 2) +
                                 " Cause: open /dev/vexa-no-such-port: No such file or directory (errno 2)");
}

}  // namespace
}  // namespace vexa_unity_test
