// How failures reach the host: the catch-and-report wrapper's codes, log
// lines and buffer, the log file, and the cause the system gave, which the
// extension exports hand out.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "host.h"
#include "record/read_back.h"
#include "report.h"

namespace vexa_unity_test {
namespace {

// Which failure the injector raises inside every wrapped export.
enum Kind { kNotification, kError, kStandard, kOther, kRoot };
Kind injected;
// Longer than the report buffer, with a percent sign that must reach the
// log as it is.
const std::string kLongText = "50% off " + std::string(300, 'x');

void raiseInjected() {
  switch (injected) {
    case kNotification:
      VEXA_THROW(Vexa::Notification::ContactingDevice);
    case kError:
      VEXA_THROW(Vexa::Error::InvalidOperation, -5);
    case kStandard:
      throw std::runtime_error(kLongText);
    case kOther:
      throw 42;
    case kRoot:
      VEXA_THROW(Vexa::Exception);  // of neither branch
  }
}

// Every kind of failure through every wrapped export: the code and the
// whole text of the export's own row of the report table, cut to the
// buffer's 199 characters.
TEST_F(HostTest, EveryWrappedExportReportsEveryKindOfFailure) {
  const int data[] = {1};
  const VexaSource source = {1, 1, 16, 1};
  struct Row {
    const char* name;
    std::function<void()> call;
    int notification, error, standard;
    int lines[4];  // notification, error, standard, other; 0: bare description, no log
  } rows[] = {
      {"VexaDevUnity", [] { VexaDevUnity("COM/dev/nonexistent"); }, 1, 2, 3, {384, 390, 396, 408}},
      {"StartAcquisitionByNbr", [] { StartAcquisitionByNbr(1000, 1, 16); }, 5, 6, 7, {437, 443, 449, 461}},
      {"StartAcquisitionBySources", [&] { StartAcquisitionBySources(1000, &source, 1); }, 9, 10, 11,
       {480, 486, 492, 504}},
      {"StartAcquisition", [] { StartAcquisition(1000, "1", 16); }, 13, 14, 15, {542, 548, 554, 566}},
      {"StartAcquisitionStrandelo", [] { StartAcquisitionStrandelo(1000, 0, 16, 100); }, 17, 18, 19,
       {590, 596, 602, 614}},
      {"StartLoop", [] { StartLoop(); }, 21, 21, 24, {0, 0, 644, 656}},
      {"GetDetectableDevices", [] { GetDetectableDevices("BLE"); }, 26, 27, 28, {692, 698, 704, 716}},
      {"GetProductId", [] { EXPECT_EQ(GetProductId(), 0); }, 30, 31, 32, {791, 797, 803, 815}},
      {"GetDeviceType", [] { EXPECT_STREQ(GetDeviceType(), ""); }, 34, 35, 36, {862, 868, 874, 886}},
      {"SetParameter", [&] { SetParameter(1, 1, data, 1); }, 38, 39, 40, {928, 934, 940, 952}},
  };
  const auto at = [](int line) {
    return " at line number " + std::to_string(line) + " in file vexa_unity_interface.cpp (v20220517)";
  };
  Vexa::Unity::failureInjector = raiseInjected;
  const struct Reset {
    ~Reset() { Vexa::Unity::failureInjector = nullptr; }
  } reset;
  for (const Row& row : rows) {
    // StartLoop hands the library's own failures over bare, without a log line.
    const bool bare = row.lines[0] == 0;
    const std::string other = "Not recognized exception" + at(row.lines[3]) + ".\n";
    const struct {
      Kind kind;
      int code;
      std::string message;
      bool logged;
    } kinds[] = {
        {kNotification, row.notification,
         bare ? "The communication with the device was lost."
              : "VEXA Notification Exception" + at(row.lines[0]) + ": The communication with the device was lost.\n",
         !bare},
        {kError, row.error,
         bare ? "Invalid operation on current device state (code -5)."
              : "VEXA Error Exception" + at(row.lines[1]) + ": Invalid operation on current device state (code -5).\n",
         !bare},
        {kStandard, row.standard, ("C++ Exception" + at(row.lines[2]) + ": " + kLongText).substr(0, 199), true},
        {kOther, -1, other, true},
        {kRoot, bare ? row.notification : -1, bare ? "Generic VEXA exception." : other, !bare},
    };
    for (const auto& k : kinds) {
      SCOPED_TRACE(std::string(row.name) + " " + k.message);
      seen().reports.clear();
      injected = k.kind;
      const std::string log = logOf(row.call);
      ASSERT_EQ(codes(), std::vector<int>{k.code});
      EXPECT_EQ(reports()[0].message, k.message);
      EXPECT_EQ(log, k.logged ? k.message : "");
    }
  }
}

TEST(BaseName, AfterTheLastSeparator) {
  EXPECT_STREQ(Vexa::Unity::baseName("C:\\src/vexa\\vexa_unity_interface.cpp"), "vexa_unity_interface.cpp");
  EXPECT_STREQ(Vexa::Unity::baseName("plain.cpp"), "plain.cpp");
}

const char kOpeningPort[] =
    "VEXA Notification Exception at line number 384 in file vexa_unity_interface.cpp (v20220517): "
    "The communication port does not exist or it is already being used.\n";

// WelcomeFunction takes over standard output, and the permission check
// needs an ordinary user: body runs in a child process inside a fresh
// directory; the child exits 0 when every check held.
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
    if (value < 0 || value > 99 || vexa_test::slurp("vexa_logs_file.txt") != "") return false;
    VexaDevUnity("COM/dev/nonexistent");
    if (vexa_test::slurp("vexa_logs_file.txt") != kOpeningPort) return false;
    WelcomeFunction();
    return vexa_test::slurp("vexa_logs_file.txt").empty();
  });
}

// A port that cannot be opened is reported as it always was; the detail
// says why.
TEST_F(HostTest, PortFailuresNameTheirCause) {
  const auto expectOpenFailure = [this](const std::string& path, const std::string& cause) {
    seen().reports.clear();
    VexaDevUnity(path.c_str());
    ASSERT_EQ(codes(), std::vector<int>{1}) << path;
    EXPECT_EQ(reports()[0].message, kOpeningPort);
    EXPECT_NE(std::string(VexaExtGetLastErrorDetail()).find(cause), std::string::npos)
        << path << ": " << VexaExtGetLastErrorDetail();
  };
  expectOpenFailure("COMx", "\"COMx\" names no serial port");

  // A terminal that another program holds.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const std::string slave = ptsname(master);
  const int holder = open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  expectOpenFailure("COM" + slave, slave + " is held by another program (flock: ");
  close(holder);
  close(master);

  // A file that the user may not open: the detail names the permission and
  // what mends it. Root opens anything: the check runs as nobody.
  char file[] = "/tmp/vexa-detail-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  chmod(file, 0);
  inChild([&file] {
    if (geteuid() == 0 && setuid(65534) != 0) return false;
    VexaDevUnity((std::string("COM") + file).c_str());
    const std::string detail = VexaExtGetLastErrorDetail();
    return detail.find("Permission denied (errno 13)") != std::string::npos &&
           detail.find("dialout") != std::string::npos;
  });
  unlink(file);
}

TEST_F(HostTest, ExtensionVersionAndLog) {
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
