#include "vexa_sim/start_request.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>

#include "start_command.h"

namespace vexa_sim {

// Found by argument lookup, so they must not hide in the unnamed namespace.
bool operator==(const StreamSource& a, const StreamSource& b) {
  return a.port == b.port && a.nBits == b.nBits && a.divisor == b.divisor && a.chMask == b.chMask;
}

void PrintTo(const StreamSource& s, std::ostream* os) {
  *os << "{port " << s.port << ", " << s.nBits << " bits, /" << s.divisor << ", mask " << s.chMask
      << "}";
}

namespace {

using vexa_sim_test::Bytes;
using vexa_sim_test::startPayload;

TEST(StartRequestTest, ReadsTheLibrarysTwoSourceExample) {
  const Bytes payload = {0x07, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7A, 0x44,
                         0x02, 0x81, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x02,
                         0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
  StartRequest req = parseStartCommand(payload);
  EXPECT_EQ(req.format, 1);
  EXPECT_EQ(req.baseRate, 1000.0f);
  EXPECT_EQ(req.sources, (std::vector<StreamSource>{{1, 16, 1, 0x03}, {2, 8, 10, 0x01}}));
  EXPECT_EQ(req.sources[0].nChannels(), 2);
}

TEST(StartRequestTest, WidthsMasksAndDivisors) {
  struct Case {
    const char* name;
    Bytes payload;
    StreamSource want;
  };
  const Case cases[] = {
      {"24-bit", startPayload(500, {{0x40 | 63, 1, 0x01}}), {63, 24, 1, 0x01}},
      {"both width bits: 16-bit", startPayload(500, {{0xC0 | 7, 1, 0x01}}), {7, 16, 1, 0x01}},
      {"format 2, mask 0x0100", startPayload(500, {{0x81, 1, 0x0100}}, 2), {1, 16, 1, 0x0100}},
  };
  for (const auto& c : cases) {
    StartRequest req = parseStartCommand(c.payload);
    ASSERT_EQ(req.sources.size(), 1u) << c.name;
    EXPECT_EQ(req.sources[0], c.want) << c.name;
  }
  EXPECT_EQ(parseStartCommand(startPayload(500, {{0x01, 1, 0xFFFF}}, 2)).sources[0].nChannels(),
            16);
}

TEST(StartRequestTest, RefusesMalformedStartsWithAReason) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Bytes shortByOne = startPayload(500, {{0x01, 1, 1}});
  shortByOne.pop_back();
  Bytes format3 = startPayload(500, {{0x01, 1, 1}});
  format3[1] = 3;
  Bytes format2Entries = startPayload(500, {{0x01, 1, 1}}, 2);
  format2Entries[1] = 1;  // 9-byte entries announced as format 1
  struct Case {
    const char* name;
    Bytes payload;
    const char* mentions;
  };
  const Case cases[] = {
      {"bare 07 01", {0x07, 0x01}, "22 bytes"},
      {"unknown format", format3, "format 3"},
      {"no source", startPayload(500, {}), "no source"},
      {"one byte short", shortByOne, "29 bytes for 1 sources"},
      {"entry size of the other format", format2Entries, "31 bytes for 1 sources of format 1"},
      {"rate 0", startPayload(0, {{0x01, 1, 1}}), "rate"},
      {"NaN rate", startPayload(nan, {{0x01, 1, 1}}), "rate"},
      {"rate above the maximum", startPayload(kMaxBaseRate * 2, {{0x01, 1, 1}}), "rate"},
      {"divisor 0", startPayload(500, {{0x01, 1, 1}, {0x02, 0, 1}}),
       "source 1: frequency divisor 0"},
      {"no channel", startPayload(500, {{0x01, 1, 0}}), "source 0: no channel"},
      {"port twice, other width", startPayload(500, {{0x01, 1, 1}, {0x81, 1, 2}}),
       "port 1 given twice"},
  };
  for (const auto& c : cases) {
    try {
      parseStartCommand(c.payload);
      ADD_FAILURE() << "accepted: " << c.name;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  EXPECT_NO_THROW(parseStartCommand(startPayload(kMaxBaseRate, {{0x01, 1, 1}})));
}

}  // namespace
}  // namespace vexa_sim
