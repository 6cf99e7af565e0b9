// The vexa-sim tool: its options, then (POSIX) the tool run as a user would.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "vexa_sim/cli_options.h"
#include "vexa_sim/current_device_model.h"

#ifndef _WIN32
#include <sys/wait.h>

#include <cstdio>
#endif

namespace vexa_sim::test {
namespace {

TEST(CliOptionsTest, RefusesBadInputWithAReason) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--product", "0x10000"}, "--product"},
      {{"--product", "65536"}, "at most 65535"},
      {{"--product", "99999999999999999999999"}, "at most"},
      {{"--product", "12a"}, "--product"},
      {{"--product", ""}, "--product"},
      {{"--color", "256"}, "--color"},
      {{"--product"}, "needs a value"},
      {{"--product", "1", "--product", "2"}, "twice"},
      {{"--family", "nova"}, "--family"},
      {{"--family", "quillbox", "--ticks-per-frame", "5"}, "applies only to --family current"},
      {{"--family", "cadrium", "--battery", "5"}, "applies only to --family current or quillbox"},
      {{"--version-line", "Cadrium 2 v.3.1"}, "--version-line"},
      {{"--verbose", "1"}, "unknown option '--verbose'"},
      {{"stray"}, "stray"},
      {{"--family", "cadrium", "--digital-inputs", "0,,1"}, "--digital-inputs"},
      {{"--family", "quillbox", "--digital-inputs", "16"}, "at most 15"},
  };
  for (const auto& [args, mentions] : cases) {
    try {
      parseCliOptions(args);
      ADD_FAILURE() << "accepted: " << ::testing::PrintToString(args);
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(mentions), std::string::npos) << e.what();
    }
  }
}

#ifndef _WIN32
TEST(VexaSimCliTest, PrintsItsPortAndEndsWithItsInput) {
  // Killed, and so failing, if it does not end within 20 s.
  FILE* tool = popen("timeout -s KILL 20 '" VEXA_SIM_CLI "' --family quillbox < /dev/null", "r");
  ASSERT_NE(tool, nullptr);
  char line[64] = {};
  EXPECT_NE(fgets(line, sizeof line, tool), nullptr);
  EXPECT_EQ(std::string(line).rfind("COM/dev/pts/", 0), 0u) << line;
  int status = pclose(tool);  // waits for it to end
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

}  // namespace
}  // namespace vexa_sim::test
