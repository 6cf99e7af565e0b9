// WelcomeFunction takes over standard output, so each case runs in a child
// process of its own and the test runner's output stays where it was.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "host.h"

namespace vexa_unity_test {
namespace {

std::string readFile(const char* path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs body in a child inside a fresh directory; the child exits 0 when
// every check held.
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
    if (readFile("vexa_logs_file.txt") !=
        "VEXA Notification Exception at line number 384 in file vexa_unity_interface.cpp (v20220517): The "
        "communication port does not exist or it is already being used.\n") {
      return false;
    }
    WelcomeFunction();
    return readFile("vexa_logs_file.txt").empty();
  });
}

}  // namespace
}  // namespace vexa_unity_test
