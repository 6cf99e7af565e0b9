#include "vexa_sim/cadrium_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "sim_test_util.h"
#include "vexa/crc.h"
#include "vexa_sim/cadrium_frame.h"
#include "vexa_sim/legacy_version.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::text;

const DeviceModel::TimePoint kT0 = DeviceModel::Clock::now();
const std::string kNewLine = "Cadrium 2 v.3.1\n";
const std::string kOldLine = "Cadrium EMG v.1.5\n";

Bytes talk(CadriumModel& m, const Bytes& in, milliseconds at) {
  m.onHostBytes(in.data(), in.size(), kT0 + at);
  return m.takeOutput();
}

Bytes wake(CadriumModel& m, milliseconds at) {
  m.onWake(kT0 + at);
  return m.takeOutput();
}

CadriumModel withLine(const std::string& line) {
  CadriumConfig config;
  config.versionLine = line;
  return CadriumModel(config);
}

// Splits a stream of frames of the given sizes; checks each one's CRC.
std::vector<Bytes> splitFrames(const Bytes& bytes, const std::function<size_t(size_t)>& sizeOf) {
  std::vector<Bytes> frames;
  for (size_t pos = 0; pos < bytes.size();) {
    size_t size = sizeOf(frames.size());
    if (bytes.size() - pos < size) {
      ADD_FAILURE() << "frame cut short";
      break;
    }
    frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                        bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
    EXPECT_EQ(Vexa::crc8(frames.back().data(), size - 1, 0), frames.back().back())
        << "frame " << frames.size() - 1;
    pos += size;
  }
  return frames;
}

// 12-bit values as the host unpacks them.
std::vector<int32_t> unpack12(const Bytes& frame, size_t n) {
  std::vector<int32_t> values;
  for (size_t i = 0, p = 1; i < n; i += 2, p += 3) {
    values.push_back((frame[p + 1] & 0x0F) << 8 | frame[p]);
    if (i + 1 < n) values.push_back(frame[p + 2] << 4 | frame[p + 1] >> 4);
  }
  return values;
}

TEST(CadriumFrameTest, HandComputedFrames) {
  struct Case {
    const char* name;
    uint8_t seq;
    bool input;
    std::vector<int32_t> values;
    int nBits;
    Bytes want;
  };
  const Case cases[] = {
      {"12-bit pair", 5, false, {0x234, 0xAB1}, 12, {0x05, 0x34, 0x12, 0xAB, 0x21}},
      {"odd channel alone in two bytes",
       5,
       false,
       {0x234, 0xAB1, 0xFED},
       12,
       {0x05, 0x34, 0x12, 0xAB, 0xED, 0x0F, 0x3C}},
      {"8-bit with the input high", 5, true, {1, 2}, 8, {0x85, 0x01, 0x02, 0xD0}},
      {"sequence and values masked to their bits",
       0x85,
       true,
       {0x101, 0x202},
       8,
       {0x85, 0x01, 0x02, 0xD0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encodeCadriumFrame(c.seq, c.input, c.values, c.nBits), c.want) << c.name;
    EXPECT_EQ(cadriumFrameSize(c.values.size(), c.nBits), c.want.size()) << c.name;
  }
  EXPECT_EQ(cadriumFrameSize(8, 12), 14u);
  EXPECT_EQ(cadriumFrameSize(6, 12), 11u);
  EXPECT_THROW(encodeCadriumFrame(0, false, {1}, 16), std::invalid_argument);
}

TEST(CadriumStartTest, ParsesOnlyTheExactLayout) {
  CadriumStart s = parseCadriumStart("@START,1000,0F,12;");
  EXPECT_EQ(s.rate, 1000);
  EXPECT_EQ(s.mask, 0x0F);
  EXPECT_EQ(s.nBits, 12);
  EXPECT_EQ(parseCadriumStart("@START,0036,ff,08;").mask, 0xFF);
  for (const char* bad : {"@START,0035,0F,12;", "@START,8001,0F,12;", "@START,1000,00,12;",
                          "@START,1000,0F,16;", "@START,100,0F,12;", "@start,1000,0F,12;",
                          "@START,1000,0G,12;", "@START,1000,0F,12:", "@START,+100,0F,12;"}) {
    EXPECT_THROW(parseCadriumStart(bad), std::invalid_argument) << bad;
  }
}

TEST(CadriumModelTest, FirmwareIsReadAsTheHostReadsIt) {
  EXPECT_EQ(cadriumFirmware(kNewLine), 0x0301);
  EXPECT_EQ(cadriumFirmware(kOldLine), 0x0105);
  EXPECT_EQ(cadriumFirmware("Cadrium 2 1.5\n"), 0);
  CadriumConfig config;
  config.firmware = 0x0199;
  EXPECT_EQ(CadriumModel(config).firmware(), 0x0199);  // the configured value wins
}

TEST(CadriumModelTest, AsciiStartStreamsPacedFramesOfThePattern) {
  CadriumModel m = withLine(kNewLine);
  EXPECT_EQ(talk(m, text("@START,1000,0F,12;"), milliseconds(0)), Bytes{});  // nothing acknowledged
  ASSERT_TRUE(m.acquiring());
  EXPECT_EQ(m.nextWake(), kT0);
  auto frames = splitFrames(wake(m, milliseconds(2)), [](size_t) { return size_t{8}; });
  ASSERT_EQ(frames.size(), 3u);
  for (size_t k = 0; k < frames.size(); ++k) {
    EXPECT_EQ(frames[k][0], k) << k;  // input low, sequence k
    std::vector<int32_t> want;
    for (int ch = 0; ch < 4; ++ch)
      want.push_back(samplePattern(static_cast<int64_t>(k), 0, ch, 12));
    EXPECT_EQ(unpack12(frames[k], 4), want) << k;
  }
  EXPECT_EQ(m.nextWake(), kT0 + milliseconds(3));
  // Channels are the mask's bit numbers; 8-bit samples one byte each.
  CadriumModel eight = withLine(kNewLine);
  talk(eight, text("@START,0500,82,08;"), milliseconds(0));
  Bytes frame = {0x00, static_cast<uint8_t>(samplePattern(0, 0, 1, 8)),
                 static_cast<uint8_t>(samplePattern(0, 0, 7, 8))};
  frame.push_back(Vexa::crc8(frame.data(), frame.size(), 0));
  EXPECT_EQ(wake(eight, milliseconds(0)), frame);
  EXPECT_EQ(eight.nextWake(), kT0 + milliseconds(2));
}

TEST(CadriumModelTest, OldFirmwareStartsOnZWithEightAndSixChannelFrames) {
  CadriumModel m = withLine(kOldLine);
  talk(m, text("@START,1000,FF,12;"), milliseconds(0));
  EXPECT_FALSE(m.acquiring());
  EXPECT_NE(m.lastRefusal().find("'Z'"), std::string::npos);
  talk(m, {'Z'}, milliseconds(0));
  ASSERT_TRUE(m.acquiring());
  EXPECT_TRUE(m.lastStart()->zStart);
  auto sizeOf = [](size_t k) { return k % 8 == 0 ? size_t{14} : size_t{11}; };
  auto frames = splitFrames(wake(m, milliseconds(16)), sizeOf);
  ASSERT_EQ(frames.size(), 17u);
  EXPECT_EQ(unpack12(frames[8], 8)[7], samplePattern(8, 0, 7, 12));
  EXPECT_EQ(unpack12(frames[9], 6)[5], samplePattern(9, 0, 5, 12));

  CadriumModel modern = withLine(kNewLine);
  talk(modern, {'Z'}, milliseconds(0));
  EXPECT_FALSE(modern.acquiring());
  EXPECT_NE(modern.lastRefusal().find("@START"), std::string::npos);
}

TEST(CadriumModelTest, RVStopsAndAnswersWithTheBannerButVAloneStopsNothing) {
  CadriumModel m = withLine(kNewLine);
  EXPECT_EQ(talk(m, {'V'}, milliseconds(0)), text(kNewLine));  // idle
  talk(m, text("@START,1000,03,08;"), milliseconds(0));
  Bytes out = talk(m, {'V'}, milliseconds(1));
  EXPECT_EQ(out.size(), 2 * 4 + kNewLine.size());  // frames 0 and 1, then the line
  EXPECT_EQ(Bytes(out.end() - static_cast<std::ptrdiff_t>(kNewLine.size()), out.end()),
            text(kNewLine));
  EXPECT_TRUE(m.acquiring());
  out = talk(m, {'R', 'V'}, milliseconds(3));
  EXPECT_EQ(out.size(), 2 * 4 + kNewLine.size());  // frames 2 and 3 first
  EXPECT_FALSE(m.acquiring());
  EXPECT_EQ(m.stopFrame(), 4);
  EXPECT_EQ(m.nextWake(), std::nullopt);
  EXPECT_EQ(wake(m, milliseconds(100)), Bytes{});
  // 'R' followed by anything else is no stop.
  talk(m, text("@START,1000,03,08;"), milliseconds(200));
  talk(m, {'R', 'x', 'V'}, milliseconds(200));
  EXPECT_TRUE(m.acquiring());
  talk(m, text("@START,2000,01,08;"), milliseconds(201));
  EXPECT_EQ(m.lastRefusal(), "already acquiring");
  EXPECT_EQ(m.lastStart()->rate, 1000);
}

TEST(CadriumModelTest, DigitalInputPatternAndSequenceWrap) {
  CadriumConfig config;
  config.digitalInputs = {0, 1, 1};
  CadriumModel m(config);
  m.skipFrames(125);
  talk(m, text("@START,1000,01,08;"), milliseconds(0));
  auto frames = splitFrames(wake(m, milliseconds(130)), [](size_t) { return size_t{3}; });
  ASSERT_EQ(frames.size(), 6u);  // frames 125 to 130
  const uint8_t want[] = {0x80 | 125, 126, 0x80 | 127, 0x80 | 0, 1, 0x80 | 2};
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i][0], want[i]) << i;
}

TEST(CadriumModelTest, FaultsOnTheNextFrame) {
  CadriumModel m = withLine(kNewLine);
  talk(m, text("@START,1000,01,08;"), milliseconds(0));  // 3-byte frames
  wake(m, milliseconds(0));
  m.injectStrayBytes({0xEE, 0xEF});
  m.corruptNextCrc();
  Bytes out = wake(m, milliseconds(2));
  ASSERT_EQ(out.size(), 2 + 2 * 3u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{0xEE, 0xEF, 0x01}));
  EXPECT_NE(Vexa::crc8(out.data() + 2, 2, 0), out[4]);
  EXPECT_EQ(Vexa::crc8(out.data() + 5, 2, 0), out[7]);
  m.skipFrames(3);  // frames 3 to 5 are lost
  EXPECT_EQ(wake(m, milliseconds(5)), Bytes{});
  EXPECT_EQ(wake(m, milliseconds(6)).at(0), 6);
  EXPECT_THROW(m.skipFrames(-1), std::invalid_argument);
}

}  // namespace
}  // namespace vexa_sim
