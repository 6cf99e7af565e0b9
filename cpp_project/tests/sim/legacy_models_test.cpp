// The two legacy families: their frame encoders against hand-computed
// bytes, then their models driven with explicit times, whose frames are
// checked against those (pinned) encoders.
#include <gtest/gtest.h>

#include <stdexcept>

#include "sim_test_util.h"
#include "vexa/crc.h"
#include "vexa_sim/cadrium_frame.h"
#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/quillbox_frame.h"
#include "vexa_sim/quillbox_model.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim::test {
namespace {

const Bytes kCadriumLine = text("Cadrium 2 v.3.1\n");
const Bytes kQuillboxLine = text("Quillbox_v5.1\n");

// Cadrium frames from .. to of the given channels (mask bit numbers), input low.
Bytes cadriumFrames(int64_t from, int64_t to, const std::vector<int>& channels, int nBits) {
  Bytes out;
  for (int64_t k = from; k <= to; ++k) {
    std::vector<int32_t> values;
    for (int ch : channels) values.push_back(samplePattern(k, 0, ch, nBits));
    out = cat({out, encodeCadriumFrame(static_cast<uint8_t>(k % 128), false, values, nBits)});
  }
  return out;
}

// Quillbox frames from .. to with n values, inputs low.
Bytes quillboxFrames(int64_t from, int64_t to, size_t n) {
  Bytes out;
  for (int64_t k = from; k <= to; ++k) {
    std::vector<int32_t> values;
    for (size_t j = 0; j < n; ++j)
      values.push_back(samplePattern(k, 0, static_cast<int>(j), quillboxValueBits(j)));
    out = cat({out, encodeQuillboxFrame(static_cast<uint8_t>(k % 16), 0, values)});
  }
  return out;
}

TEST(CadriumFrameTest, HandComputedFrames) {
  EXPECT_EQ(encodeCadriumFrame(5, false, {0x234, 0xAB1}, 12), (Bytes{5, 0x34, 0x12, 0xAB, 0x21}));
  EXPECT_EQ(encodeCadriumFrame(5, false, {0x234, 0xAB1, 0xFED}, 12),  // the odd one alone
            (Bytes{5, 0x34, 0x12, 0xAB, 0xED, 0x0F, 0x3C}));
  EXPECT_EQ(encodeCadriumFrame(5, true, {1, 2}, 8), (Bytes{0x85, 0x01, 0x02, 0xD0}));  // input high
  // The sequence and the values are masked to their bits.
  EXPECT_EQ(encodeCadriumFrame(0x85, true, {0x101, 0x202}, 8), (Bytes{0x85, 0x01, 0x02, 0xD0}));
}

TEST(CadriumStartTest, ParsesOnlyTheExactLayout) {
  CadriumStart s = parseCadriumStart("@START,1000,0F,12;");
  EXPECT_EQ((std::vector<int>{s.rate, s.mask, s.nBits}), (std::vector<int>{1000, 0x0F, 12}));
  EXPECT_EQ(parseCadriumStart("@START,0036,ff,08;").mask, 0xFF);
  for (const char* bad : {"@START,0035,0F,12;", "@START,8001,0F,12;", "@START,1000,00,12;",
                          "@START,1000,0F,16;", "@START,100,0F,12;", "@start,1000,0F,12;",
                          "@START,1000,0G,12;", "@START,1000,0F,12:", "@START,+100,0F,12;"}) {
    EXPECT_THROW(parseCadriumStart(bad), std::invalid_argument) << bad;
  }
}

TEST(CadriumModelTest, StartsOnTheTextStopsOnRVAndAnswersVAlways) {
  CadriumModel m;
  EXPECT_EQ(talk(m, {0x07, 'V'}), kCadriumLine);            // not the other family's probe
  EXPECT_EQ(talk(m, text("@START,1000,0F,12;")), Bytes{});  // nothing acknowledged
  EXPECT_EQ(m.nextWake(), kT0);
  EXPECT_EQ(wake(m, 2), cadriumFrames(0, 2, {0, 1, 2, 3}, 12));
  EXPECT_EQ(m.nextWake(), kT0 + milliseconds(3));
  // 'V' alone stops nothing, nor 'R' then anything else; a start while
  // acquiring is ignored.
  EXPECT_EQ(talk(m, {'V', 'R', 'x', 'V'}, 3),
            cat({cadriumFrames(3, 3, {0, 1, 2, 3}, 12), kCadriumLine, kCadriumLine}));
  talk(m, text("@START,2000,01,08;"), 3);
  EXPECT_EQ(talk(m, {'R', 'V'}, 4), cat({cadriumFrames(4, 4, {0, 1, 2, 3}, 12), kCadriumLine}));
  EXPECT_EQ(m.nextWake(), std::nullopt);
  EXPECT_EQ(wake(m, 100), Bytes{});
  // Channels are the mask's bit numbers; a new start counts from frame 0.
  talk(m, text("@START,0500,82,08;"), 200);
  EXPECT_EQ(wake(m, 202), cadriumFrames(0, 1, {1, 7}, 8));
}

TEST(CadriumModelTest, OldFirmwareStartsOnZWithEightAndSixChannelFrames) {
  CadriumConfig config;
  config.versionLine = "Cadrium EMG v.1.5\n";
  CadriumModel m(config);
  talk(m, cat({text("@START,1000,FF,12;"), {'Z'}}));  // the text means nothing to it
  const std::vector<int> all = {0, 1, 2, 3, 4, 5, 6, 7}, six = {0, 1, 2, 3, 4, 5};
  EXPECT_EQ(wake(m, 8), cat({cadriumFrames(0, 0, all, 12), cadriumFrames(1, 7, six, 12),
                             cadriumFrames(8, 8, all, 12)}));
  CadriumModel modern;
  talk(modern, {'Z'});
  EXPECT_FALSE(modern.acquiring());
}

TEST(CadriumModelTest, FaultsOnTheNextFrame) {
  CadriumModel m;
  m.skipFrames(2);  // asked for before the start: frames 0 and 1 are lost
  talk(m, text("@START,1000,01,08;"));
  EXPECT_EQ(wake(m, 2), cadriumFrames(2, 2, {0}, 8));
  m.injectStrayBytes({0xEE, 0xEF});
  m.corruptNextCrc();
  EXPECT_EQ(
      wake(m, 4),
      cat({{0xEE, 0xEF}, withBadCrc(cadriumFrames(3, 3, {0}, 8)), cadriumFrames(4, 4, {0}, 8)}));
  m.skipFrames(3);  // frames 5 to 7 are lost
  EXPECT_EQ(wake(m, 7), Bytes{});
  EXPECT_EQ(wake(m, 8), cadriumFrames(8, 8, {0}, 8));
}

TEST(QuillboxModelTest, ProbeAndStateReplyBytes) {
  QuillboxConfig config;
  config.state.analog = {0x0102, 0, 0, 0, 0, 0xFFFF};
  config.state.battery = 800;
  config.state.aux = 0x42;
  config.state.digital = 0xA;  // inputs 1 0 1 0
  QuillboxModel m(config);
  EXPECT_EQ(talk(m, {'V', 0x07}), kQuillboxLine);  // not the other family's probe
  EXPECT_EQ(talk(m, {0x0B}),
            (Bytes{0x02, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x20, 0x03, 0x42, 0xA0}));
}

TEST(QuillboxModelTest, RateAndStartBytesStreamPacedFramesUntilTheStop) {
  QuillboxModel m;
  talk(m, {0xC3, (0x05 << 2) | 1});  // channels 0 and 2: two values
  EXPECT_EQ(wake(m, 1), quillboxFrames(0, 1, 2));
  m.corruptNextCrc();
  Bytes bad = wake(m, 2);
  ASSERT_EQ(bad.size(), 4u);
  EXPECT_FALSE(Vexa::checkCrc4(bad.data(), 4));
  // The stop, then the version request: frames already due, then the line.
  EXPECT_EQ(talk(m, {0x00, 0x07}, 3), cat({quillboxFrames(3, 3, 2), kQuillboxLine}));
  EXPECT_FALSE(m.acquiring());
  talk(m, {0x01}, 4);  // a start without channels
  EXPECT_FALSE(m.acquiring());
}

// Boards before 5.0 need 1000 ms between the rate and the start byte, and
// between the stop and the version request; what comes sooner is ignored.
TEST(QuillboxModelTest, OldBoardIgnoresBytesThatComeTooSoon) {
  QuillboxConfig config;
  config.versionLine = "Quillbox_v4.2\n";
  QuillboxModel m(config);
  talk(m, {0xC3});
  talk(m, {0xFD}, 999);
  EXPECT_FALSE(m.acquiring());
  talk(m, {0xFD}, 1000);
  EXPECT_TRUE(m.acquiring());
  talk(m, {0x00}, 1500);
  EXPECT_EQ(talk(m, {0x07}, 2499), Bytes{});
  EXPECT_EQ(talk(m, {0x07}, 2500), text(config.versionLine));
}

}  // namespace
}  // namespace vexa_sim::test
