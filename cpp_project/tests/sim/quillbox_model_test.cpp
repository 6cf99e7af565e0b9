#include "vexa_sim/quillbox_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "sim_test_util.h"
#include "vexa/crc.h"
#include "vexa_sim/legacy_version.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::text;

const DeviceModel::TimePoint kT0 = DeviceModel::Clock::now();
const std::string kOldBoard = "Quillbox_v4.2\n";  // needs 1000 ms to settle

Bytes talk(QuillboxModel& m, const Bytes& in, milliseconds at) {
  m.onHostBytes(in.data(), in.size(), kT0 + at);
  return m.takeOutput();
}

Bytes wake(QuillboxModel& m, milliseconds at) {
  m.onWake(kT0 + at);
  return m.takeOutput();
}

QuillboxModel withLine(const std::string& line) {
  QuillboxConfig config;
  config.versionLine = line;
  return QuillboxModel(config);
}

// The values of a frame as the host reads them, fields counted from its end.
std::vector<int32_t> unpack(const Bytes& f, size_t n) {
  auto at = [&](size_t fromEnd) -> int32_t {
    return fromEnd < f.size() ? f[f.size() - 1 - fromEnd] : 0;
  };
  const int32_t all[6] = {
      (at(1) & 0x0F) << 6 | at(2) >> 2, (at(2) & 0x03) << 8 | at(3),      at(4) << 2 | at(5) >> 6,
      (at(5) & 0x3F) << 4 | at(6) >> 4, (at(6) & 0x0F) << 2 | at(7) >> 6, at(7) & 0x3F,
  };
  return std::vector<int32_t>(all, all + n);
}

TEST(QuillboxFrameTest, HandComputedFrames) {
  struct Case {
    const char* name;
    uint8_t seq, inputs;
    std::vector<int32_t> values;
    Bytes want;
  };
  const Case cases[] = {
      {"one channel: 1005, inputs 0 1 0 1, seq 7", 7, 0x5, {1005}, {0xB4, 0x5F, 0x7E}},
      {"six channels",
       0xA,
       0x9,
       {0x3FF, 0x155, 0x2AA, 0x0F0, 0x2A, 0x15},
       {0x95, 0x0A, 0x8F, 0xAA, 0x55, 0xFD, 0x9F, 0xA5}},
  };
  for (const auto& c : cases) {
    Bytes f = encodeQuillboxFrame(c.seq, c.inputs, c.values);
    EXPECT_EQ(f, c.want) << c.name;
    EXPECT_TRUE(Vexa::checkCrc4(f.data(), static_cast<int>(f.size()))) << c.name;
  }
  Bytes bad = {0xB4, 0x5F, 0x7F};
  EXPECT_FALSE(Vexa::checkCrc4(bad.data(), 3));
}

TEST(QuillboxFrameTest, EveryChannelCountHasItsSizeAndReadsBack) {
  const size_t sizes[] = {3, 4, 6, 7, 8, 8};
  const std::vector<int32_t> values = {1023, 0x2B7, 0x1C9, 0x35A, 63, 0x25};
  for (size_t n = 1; n <= 6; ++n) {
    std::vector<int32_t> some(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
    Bytes f = encodeQuillboxFrame(static_cast<uint8_t>(n), 0xF, some);
    ASSERT_EQ(f.size(), sizes[n - 1]) << n;
    EXPECT_EQ(quillboxFrameSize(n), sizes[n - 1]) << n;
    EXPECT_EQ(unpack(f, n), some) << n;
    EXPECT_EQ(f.back() >> 4, static_cast<int>(n)) << n;
    EXPECT_EQ(f[f.size() - 2] >> 4, 0xF) << n;
    EXPECT_TRUE(Vexa::checkCrc4(f.data(), static_cast<int>(f.size()))) << n;
  }
  EXPECT_THROW(quillboxFrameSize(0), std::invalid_argument);
  EXPECT_THROW(encodeQuillboxFrame(0, 0, std::vector<int32_t>(7)), std::invalid_argument);
}

TEST(QuillboxModelTest, StateReplyBytes) {
  QuillboxConfig config;
  config.state.analog = {0x0102, 0, 0, 0, 0, 0xFFFF};
  config.state.battery = 800;
  config.state.aux = 0x42;
  config.state.digital = 0xA;  // inputs 1 0 1 0
  QuillboxModel m(config);
  EXPECT_EQ(talk(m, {0x0B}, milliseconds(0)),
            (Bytes{0x02, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x20, 0x03, 0x42, 0xA0}));
}

TEST(QuillboxModelTest, RateByteThenStartByteStreamsPacedFrames) {
  struct Case {
    uint8_t rateByte;
    int hz;
  };
  for (const Case& c : {Case{0x03, 1}, Case{0x43, 10}, Case{0x83, 100}, Case{0xC3, 1000}}) {
    QuillboxModel m;
    talk(m, {c.rateByte}, milliseconds(0));
    EXPECT_EQ(m.rate(), c.hz);
    talk(m, {0xFD}, milliseconds(0));  // all six channels
    ASSERT_TRUE(m.acquiring()) << c.hz;
    EXPECT_EQ(wake(m, milliseconds(0)).size(), 8u) << c.hz;
    EXPECT_EQ(m.nextWake(), kT0 + milliseconds(1000 / c.hz)) << c.hz;
  }
  QuillboxModel m;
  talk(m, {0xC3, (0x15 << 2) | 1}, milliseconds(0));  // channels 0, 2 and 4: three values
  Bytes out = wake(m, milliseconds(17));
  ASSERT_EQ(out.size(), 18u * 6);
  for (size_t k = 0; k < 18; ++k) {
    Bytes f(out.begin() + static_cast<std::ptrdiff_t>(6 * k),
            out.begin() + static_cast<std::ptrdiff_t>(6 * k + 6));
    EXPECT_EQ(f.back() >> 4, static_cast<int>(k % 16)) << k;
    EXPECT_EQ(unpack(f, 3),
              (std::vector<int32_t>{samplePattern(static_cast<int64_t>(k), 0, 0, 10),
                                    samplePattern(static_cast<int64_t>(k), 0, 1, 10),
                                    samplePattern(static_cast<int64_t>(k), 0, 2, 10)}))
        << k;
  }
}

TEST(QuillboxModelTest, StopThenVersionRequestEndsWithTheLine) {
  QuillboxConfig config;
  config.digitalInputs = {0x5, 0xA};
  QuillboxModel m(config);
  talk(m, {0xC3, 0x05}, milliseconds(0));
  Bytes out = talk(m, {0x00, 0x07}, milliseconds(1));
  ASSERT_EQ(out.size(), 2 * 3 + 14u);  // frames 0 and 1, then the line
  EXPECT_EQ(out[1] >> 4, 0x5);
  EXPECT_EQ(out[4] >> 4, 0xA);
  EXPECT_EQ(Bytes(out.begin() + 6, out.end()), text("Quillbox_v5.1\n"));
  EXPECT_FALSE(m.acquiring());
  EXPECT_EQ(m.stopFrame(), 2);
  EXPECT_TRUE(m.tooEarly().empty());
  talk(m, {0x01}, milliseconds(2));  // a start without channels
  EXPECT_FALSE(m.acquiring());
  EXPECT_EQ(m.lastRefusal(), "no channel");
}

TEST(QuillboxModelTest, OldBoardIgnoresBytesThatComeTooSoon) {
  EXPECT_EQ(quillboxMajor(kOldBoard), 4);
  EXPECT_EQ(quillboxMajor("Quillbox rev\n"), 0);  // 'v' without numbers
  QuillboxModel m = withLine(kOldBoard);
  ASSERT_TRUE(m.needsSettling());
  talk(m, {0xC3}, milliseconds(0));
  talk(m, {0xFD}, milliseconds(999));
  EXPECT_FALSE(m.acquiring());
  talk(m, {0xFD}, milliseconds(1000));
  EXPECT_TRUE(m.acquiring());
  talk(m, {0x00}, milliseconds(1500));
  EXPECT_EQ(talk(m, {0x07}, milliseconds(1510)), Bytes{});
  EXPECT_EQ(talk(m, {0x07}, milliseconds(2500)), text(kOldBoard));
  EXPECT_EQ(m.tooEarly(), (Bytes{0xFD, 0x07}));

  QuillboxModel newer;  // 5.1: no pause needed
  talk(newer, {0xC3, 0xFD}, milliseconds(0));
  EXPECT_TRUE(newer.acquiring());
  QuillboxConfig forced;
  forced.needsSettling = false;
  forced.versionLine = kOldBoard;
  EXPECT_FALSE(QuillboxModel(forced).needsSettling());
}

TEST(QuillboxModelTest, FaultsOnTheNextFrame) {
  QuillboxModel m;
  talk(m, {0xC3, 0x05}, milliseconds(0));
  wake(m, milliseconds(0));
  m.injectStrayBytes({0x99});
  m.corruptNextCrc();
  Bytes out = wake(m, milliseconds(2));
  ASSERT_EQ(out.size(), 1 + 2 * 3u);
  EXPECT_EQ(out[0], 0x99);
  EXPECT_FALSE(Vexa::checkCrc4(out.data() + 1, 3));
  EXPECT_TRUE(Vexa::checkCrc4(out.data() + 4, 3));
  m.skipFrames(2);  // frames 3 and 4 are lost
  out = wake(m, milliseconds(5));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2] >> 4, 5);
}

}  // namespace
}  // namespace vexa_sim
