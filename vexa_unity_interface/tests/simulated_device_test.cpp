// The built-in simulated device behind "SIM": every family through the
// exports, with no port at all, as on Windows.
#include <thread>

#include "host.h"
#include "support/eventually.h"
#include "support/pattern_check.h"

namespace vexa_unity_test {
namespace {

using SimulatedDevice = HostTest;

TEST_F(SimulatedDevice, PathsNameTheFamilyAndItsOptions) {
  const std::pair<const char*, const char*> rows[] = {
      {"SIM", "tessarimodular"},
      {"sim:cadrium", "Cadrium"},
      {"SIM:quillbox", "Quillbox"},
      {"SIM:current --description FernlitVexa", "FernlitVexa"},
  };
  for (const auto& row : rows) {
    VexaDevUnity(row.first);
    EXPECT_STREQ(GetDeviceType(), row.second) << row.first;
  }
  EXPECT_TRUE(reports().empty());
  DisconnectVexaDevUnity();

  // Options the simulator cannot take are a port that cannot open, with the
  // reason as the detail; "SIMx" keeps its old meaning, a Bluetooth address
  // that does not parse.
  VexaDevUnity("SIM:solar");
  ASSERT_EQ(reports().size(), 1u);
  EXPECT_EQ(reports()[0].code, 1);
  EXPECT_NE(std::string(VexaExtGetLastErrorDetail()).find("--family must be"), std::string::npos);
  VexaDevUnity("SIMx");
  ASSERT_EQ(reports().size(), 2u);
  EXPECT_EQ(reports()[1].code, 2);
  EXPECT_EQ(vexaDev, nullptr);
}

TEST_F(SimulatedDevice, StreamsThePattern) {
  VexaDevUnity("SIM");
  StartAcquisitionByNbr(1000, 0b101, 16);
  std::thread loop([] { StartLoop(); });
  EXPECT_TRUE(vexa_test::eventually([] {
    std::lock_guard<std::mutex> l(seen().lock);
    return seen().frames.size() >= 300;
  }));
  InterruptAcquisition();
  loop.join();
  vexa_test::PatternChecker checker({{1, 1, 16, 1}, {3, 1, 16, 1}});
  for (const auto& frame : seen().frames) checker.check(frame.first, frame.second.data(), frame.second.size());
  EXPECT_EQ(checker.firstTick(), 0);
  EXPECT_EQ(checker.badTicks(), 0) << checker.firstError();
  EXPECT_EQ(checker.lost(), 0);
  EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace vexa_unity_test
