// A failed connection keeps the report the interface always gave, and the
// extension export names the cause the system gave for it.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host.h"

namespace vexa_unity_test {
namespace {

const char kOpeningPort[] =
    "VEXA Notification Exception at line number 384 in file vexa_unity_interface.cpp (v20220517): "
    "The communication port does not exist or it is already being used.\n";

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
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(2);
    VexaDevUnity((std::string("COM") + file).c_str());
    const std::string detail = VexaExtGetLastErrorDetail();
    const bool named = detail.find("Permission denied (errno 13)") != std::string::npos &&
                       detail.find("dialout") != std::string::npos;
    _exit(named ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  unlink(file);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
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
