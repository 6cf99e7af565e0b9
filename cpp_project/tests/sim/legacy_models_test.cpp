#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "sim_test_util.h"
#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/quillbox_model.h"

namespace vexa_sim {
namespace {

using vexa_sim_test::Bytes;
using vexa_sim_test::text;

Bytes talk(DeviceModel& model, const Bytes& in) {
  model.onHostBytes(in.data(), in.size(), DeviceModel::Clock::now());
  return model.takeOutput();
}

TEST(LegacyModelsTest, AnswerOnlyTheirOwnProbeWithTheirLine) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<DeviceModel>()> make;
    uint8_t probe;    // answered with the version line
    uint8_t ignored;  // the other family's probe
    std::string line;
  };
  const Case cases[] = {
      {"cadrium", [] { return std::make_unique<CadriumModel>(); }, 'V', 0x07, "Cadrium 2 v.3.1\n"},
      {"cadrium configured",
       [] {
         CadriumConfig config;
         config.versionLine = "Cadrium EMG v.1.5\n";
         return std::make_unique<CadriumModel>(config);
       },
       'V', 0x07, "Cadrium EMG v.1.5\n"},
      {"quillbox", [] { return std::make_unique<QuillboxModel>(); }, 0x07, 'V', "Quillbox_v5.1\n"},
  };
  for (const auto& c : cases) {
    auto model = c.make();
    EXPECT_EQ(talk(*model, {c.ignored}), Bytes{}) << c.name;
    EXPECT_EQ(talk(*model, {c.probe, c.ignored, c.probe}), text(c.line + c.line)) << c.name;
  }
}

TEST(LegacyModelsTest, RecordEveryReceivedByte) {
  CadriumModel cadrium;
  talk(cadrium, {0x07, 'V', 'R', 'V'});
  EXPECT_EQ(cadrium.receivedBytes(), (Bytes{0x07, 'V', 'R', 'V'}));
  QuillboxModel quillbox;
  talk(quillbox, {0x07, 0xC3, 0xFD, 0x00});
  EXPECT_EQ(quillbox.receivedBytes(), (Bytes{0x07, 0xC3, 0xFD, 0x00}));
}

}  // namespace
}  // namespace vexa_sim
