// The wire trace exports: a trace of the current device's link, and the
// codes of each misuse, none of which calls the exception handler.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host.h"

namespace vexa_unity_test {
namespace {

using WireTraceExports = HostTest;

TEST_F(WireTraceExports, TracesTheCurrentDeviceAndRefusesMisuse) {
  const std::string path = (std::filesystem::temp_directory_path() / "vexa_unity_wire.txt").string();
  EXPECT_EQ(VexaExtStartTrace(path.c_str()), VEXA_EXT_ERR_STATE);  // no device
  EXPECT_EQ(VexaExtStopTrace(), VEXA_EXT_ERR_STATE);
  VexaDevUnity("SIM");
  ASSERT_NE(vexaDev, nullptr);
  EXPECT_EQ(VexaExtStartTrace(nullptr), VEXA_EXT_ERR_ARGUMENT);
  EXPECT_EQ(VexaExtStartTrace("/nonexistent/t.txt"), VEXA_EXT_ERR_ARGUMENT);
  ASSERT_EQ(VexaExtStartTrace(path.c_str()), 0);
  EXPECT_EQ(VexaExtStartTrace(path.c_str()), VEXA_EXT_ERR_STATE);
  EXPECT_STREQ(VexaExtGetLastErrorDetail(), "A wire trace runs already.");
  EXPECT_GE(GetBattery(), 0);
  EXPECT_EQ(VexaExtStopTrace(), 0);
  EXPECT_EQ(VexaExtStopTrace(), VEXA_EXT_ERR_STATE);
  GetBattery();  // not traced any more

  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  const std::string traced = text.str();
  EXPECT_EQ(traced.rfind("# vexa wire trace 1\n# link: sim\n# family: current\n", 0), 0u) << traced;
  // The battery's command and its reply, once.
  const size_t out = traced.find(" out aa02");
  EXPECT_NE(out, std::string::npos) << traced;
  EXPECT_EQ(traced.find(" out ", out + 1), std::string::npos) << traced;
  EXPECT_NE(traced.find(" in ", out), std::string::npos) << traced;
  EXPECT_TRUE(reports().empty());
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace vexa_unity_test
