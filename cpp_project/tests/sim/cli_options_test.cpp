#include "vexa_sim/cli_options.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "vexa_sim/current_device_model.h"

namespace vexa_sim {
namespace {

using Args = std::vector<std::string>;

TEST(CliOptionsTest, ParsesCurrentDeviceSettings) {
  CliOptions o = parseCliOptions({"--product", "0x020A", "--fw=1029", "--hw", "0xffff", "--battery",
                                  "0", "--color", "255", "--description", "abcd"});
  EXPECT_EQ(o.family, Family::kCurrent);
  EXPECT_EQ(o.current.productId, 0x020A);
  EXPECT_EQ(o.current.fwVersion, 1029);
  EXPECT_EQ(o.current.hwVersion, kNoHwVersion);
  EXPECT_EQ(o.current.batteryRaw, 0);
  EXPECT_EQ(o.current.color, 255);
  EXPECT_EQ(o.current.description, "abcd");
  EXPECT_FALSE(o.help);
  EXPECT_TRUE(parseCliOptions({"--help"}).help);
}

TEST(CliOptionsTest, VersionLineEndsInExactlyOneLineFeed) {
  EXPECT_EQ(
      parseCliOptions({"--family", "cadrium", "--version-line", "Cadrium EMG v.1.5"}).versionLine,
      "Cadrium EMG v.1.5\n");
  EXPECT_EQ(parseCliOptions({"--family=quillbox", "--version-line=Quillbox_v4.2\n"}).versionLine,
            "Quillbox_v4.2\n");
}

TEST(CliOptionsTest, StreamingAndLegacySettingsReachTheModels) {
  CliOptions current = parseCliOptions({"--ticks-per-frame", "25"});
  EXPECT_EQ(current.current.ticksPerFrame, 25);
  EXPECT_EQ(dynamic_cast<CurrentDeviceModel&>(*makeModel(current)).config().ticksPerFrame, 25);

  CliOptions cadrium =
      parseCliOptions({"--family", "cadrium", "--firmware", "0x0105", "--digital-inputs", "0,1,1",
                       "--version-line", "Cadrium EMG v.1.5"});
  auto cadriumModel = makeModel(cadrium);
  auto& c = dynamic_cast<CadriumModel&>(*cadriumModel);
  EXPECT_EQ(c.firmware(), 0x0105);
  EXPECT_EQ(c.config().digitalInputs, (std::vector<uint8_t>{0, 1, 1}));
  EXPECT_EQ(c.config().versionLine, "Cadrium EMG v.1.5\n");

  auto quillboxModel =
      makeModel(parseCliOptions({"--family=quillbox", "--battery=900", "--digital-inputs=15"}));
  auto& q = dynamic_cast<QuillboxModel&>(*quillboxModel);
  EXPECT_EQ(q.config().state.battery, 900);
  EXPECT_EQ(q.config().digitalInputs, std::vector<uint8_t>{15});
}

TEST(CliOptionsTest, RefusesBadInputWithAReason) {
  struct Case {
    Args args;
    const char* mentions;
  };
  const Case cases[] = {
      {{"--product", "0x10000"}, "--product"},
      {{"--product", "65536"}, "at most 65535"},
      {{"--product", "-1"}, "--product"},
      {{"--product", "12a"}, "--product"},
      {{"--product", "0x"}, "--product"},
      {{"--product", ""}, "--product"},
      {{"--product", "99999999999999999999999"}, "at most"},
      {{"--color", "256"}, "--color"},
      {{"--product"}, "needs a value"},
      {{"--product", "1", "--product", "2"}, "twice"},
      {{"--family", "nova"}, "--family"},
      {{"--family", "cadrium", "--battery", "5"}, "--battery"},
      {{"--family", "quillbox", "--description", "x"}, "--description"},
      {{"--version-line", "Cadrium 2 v.3.1"}, "--version-line"},
      {{"--family", "cadrium", "--version-line", ""}, "--version-line"},
      {{"--verbose"}, "unknown option '--verbose'"},
      {{"--verbose", "1"}, "unknown option '--verbose'"},
      {{"stray"}, "stray"},
      {{"--ticks-per-frame", "-1"}, "--ticks-per-frame"},
      {{"--family", "quillbox", "--ticks-per-frame", "5"}, "applies only to --family current"},
      {{"--firmware", "0x0105"}, "applies only to --family cadrium"},
      {{"--family", "cadrium", "--battery", "5"}, "applies only to --family current or quillbox"},
      {{"--family", "cadrium", "--digital-inputs", "0,,1"}, "--digital-inputs"},
      {{"--family", "quillbox", "--digital-inputs", "16"}, "at most 15"},
      {{"--family", "quillbox", "--digital-inputs", "1,"}, "--digital-inputs"},
      {{"--firmware"}, "--firmware needs a value"},
  };
  for (const auto& c : cases) {
    try {
      parseCliOptions(c.args);
      ADD_FAILURE() << "accepted: " << ::testing::PrintToString(c.args);
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos)
          << e.what() << " for " << ::testing::PrintToString(c.args);
    }
  }
}

}  // namespace
}  // namespace vexa_sim
