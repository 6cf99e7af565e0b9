// The simulator's device models and their encoders. Messages, start
// commands and frames are built field by field here, independently of the
// simulator's own code. The current generation: the start command and the
// data frames built from the sample pattern against hand-computed bytes,
// the model driven with explicit times (its replies, faults and events byte
// for byte, and the pacing of its frames). The two legacy families: their
// frame encoders against hand-computed bytes, then their models, whose
// frames are checked against those (pinned) encoders. Then the ways a model
// is run: the in-process pipe and engine, and the vexa-sim tool.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <tuple>
#include <typeinfo>

#include "hand_built.h"
#include "vexa/exceptions.h"
#include "vexa/io.h"
#include "vexa_sim/cadrium_frame.h"
#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/cli_options.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/device_model.h"
#include "vexa_sim/engine.h"
#include "vexa_sim/frame_stream.h"
#include "vexa_sim/in_process_simulator.h"
#include "vexa_sim/pipe_transport.h"
#include "vexa_sim/quillbox_frame.h"
#include "vexa_sim/quillbox_model.h"
#include "vexa_sim/sample_pattern.h"
#include "vexa_sim/start_request.h"

#ifndef _WIN32
#include <sys/wait.h>

#include <cstdio>
#endif

namespace vexa_sim::test {

using std::chrono::milliseconds;
constexpr milliseconds kPatience{5000};

// A model driven with explicit times, in ms after kT0: what it answers to
// the host's bytes, and what it writes when woken.
inline const DeviceModel::TimePoint kT0 = DeviceModel::Clock::now();
inline Bytes talk(DeviceModel& m, const Bytes& in, int ms = 0) {
  m.onHostBytes(in.data(), in.size(), kT0 + milliseconds(ms));
  return m.takeOutput();
}
inline Bytes wake(DeviceModel& m, int ms) {
  m.onWake(kT0 + milliseconds(ms));
  return m.takeOutput();
}

// Exactly n bytes from the host's transport, under its receive time-out.
inline Bytes recvN(Vexa::IO& io, size_t n) {
  Bytes b(n);
  Vexa::IO::recvAll(io, b.data(), static_cast<int>(n));
  return b;
}

namespace {

TEST(StartRequestTest, RefusesMalformedStartsWithAReason) {
  EXPECT_EQ(parseStartCommand(startPayload(kMaxBaseRate, {{1, 1, 1}})).baseRate, kMaxBaseRate);  // the limit is taken
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Bytes one = startPayload(500, {{0x01, 1, 1}});
  const Bytes shortByOne(one.begin(), one.end() - 1);
  Bytes format3 = one, format2Entries = startPayload(500, {{0x01, 1, 1}}, 2);
  format3[1] = 3;
  format2Entries[1] = 1;  // 9-byte entries announced as format 1
  expectRefusals<Bytes>({
      {{0x07, 0x01}, "22 bytes"},
      {format3, "format 3"},
      {startPayload(500, {}), "no source"},
      {shortByOne, "29 bytes for 1 sources"},
      {format2Entries, "31 bytes for 1 sources of format 1"},
      {startPayload(0, {{0x01, 1, 1}}), "rate"},
      {startPayload(nan, {{0x01, 1, 1}}), "rate"},
      {startPayload(kMaxBaseRate * 2, {{0x01, 1, 1}}), "rate"},
      {startPayload(500, {{0x01, 1, 1}, {0x02, 0, 1}}), "source 1: frequency divisor 0"},
      {startPayload(500, {{0x01, 1, 0}}), "source 0: no channel"},
      {startPayload(500, {{0x01, 1, 1}, {0x81, 1, 2}}), "port 1 given twice"},  // other width
  }, parseStartCommand);
}

const TickClock::TimePoint kStreamStart{};

FrameStream stream(float rate, std::vector<StreamSource> sources, int ticksPerFrame) {
  StartRequest r;
  r.baseRate = rate;
  r.sources = std::move(sources);
  return FrameStream(r, ticksPerFrame, kStreamStart);
}

// The next n frames of a 1000 Hz stream, after skipping some ticks.
using Frames = std::vector<std::tuple<int64_t, int, Bytes>>;  // first tick, sequence, payload
Frames take(std::vector<StreamSource> sources, int ticksPerFrame, size_t n, int64_t skip = 0) {
  FrameStream s = stream(1000, std::move(sources), ticksPerFrame);
  s.skipTicks(skip);
  Frames out;
  while (out.size() < n) {
    DataFrame f = s.takeFrame();
    out.emplace_back(f.firstTick, f.seq, f.payload);
  }
  return out;
}

TEST(SamplePatternTest, SignedAt24BitsAndNoOtherWidthAbove16) {
  EXPECT_EQ(samplePattern(1, 0, 1, 24), -8260082);
  for (int nBits : {0, 17, 23, 32}) {
    EXPECT_THROW(samplePattern(0, 0, 0, nBits), std::invalid_argument) << nBits;
  }
}

// Values from samplePattern, written little-endian: pinned here so that
// recorded streams and hand-computed frames elsewhere stay valid.
TEST(FrameStreamTest, HandComputedFrames) {
  // 8-bit: the channel number picks the value.
  EXPECT_EQ(take({{1, 8, 1, 0x02}}, 1, 2), (Frames{{0, 0, {0xF9}}, {1, 1, {0x0E}}}));
  // Divisor 4 over 3-tick frames: idle ticks take no bytes, never start a frame.
  EXPECT_EQ(take({{1, 8, 4, 0x01}}, 3, 3), (Frames{{0, 0, {0}}, {4, 4, {84}}, {8, 8, {168}}}));
  // The sequence wraps from 32767 to 0 while the ticks go on.
  EXPECT_EQ(take({{1, 16, 1, 0x01}}, 1, 4, 32766), (Frames{{32766, 0x7FFE, {0xD6, 0x87}},
                                                           {32767, 0x7FFF, {0xEB, 0x03}},
                                                           {32768, 0, {0x00, 0x80}},
                                                           {32769, 1, {0x15, 0xFC}}}));
}

TEST(FrameStreamTest, TicksPerFrameKeepPayloadsShort) {
  auto ticks = [](float rate, std::vector<StreamSource> sources, int configured) {
    return stream(rate, std::move(sources), configured).ticksPerFrame();
  };
  EXPECT_EQ(ticks(1000, {{1, 16, 1, 0x01}}, 0), 10);           // about 10 ms
  EXPECT_EQ(ticks(10000, {{1, 16, 1, 0xFF}}, 0), 15);          // 15 ticks of 16 bytes fit 254
  EXPECT_EQ(ticks(10000, {{1, 16, 10, 0xFF}}, 0), 100);        // divisor 10: a sample per 10 ticks
  EXPECT_EQ(ticks(1000, {{1, 16, 1, 0xFFFF}}, 100000), 1562);  // lowered to fit one message
  // One tick of 288 bytes: still one tick per frame, in the long-length form.
  EXPECT_EQ(ticks(1000, std::vector<StreamSource>(6, {1, 24, 1, 0xFFFF}), 0), 1);
  EXPECT_THROW(ticks(1000, {{1, 8, 1, 1}}, -1), std::invalid_argument);
}

const Bytes kVersionCmd = {0xAA, 0x02, 0x03, 0x00, 0xE8};
const Bytes kBatteryCmd = {0xAA, 0x02, 0x04, 0x00, 0x83};
const Bytes kStopCmd = {0xAA, 0x02, 0x09, 0x00, 0x6A};
const Bytes kEmptyOk = {0x00, 0x00, 0xD7};
const Bytes kUnknownError = {0x01, 0x01, 0x02, 0x5B};
const Bytes kDescriptionReply = cat({{0x00, 0x0E}, text("tessarimodular"), {0x48}});
const Bytes kVersionReply = {0x00, 0x06, 0x02, 0x01, 0x03, 0x04, 0x01, 0x02, 0xAD};
const Bytes kBatteryReply = {0x00, 0x02, 0xA4, 0x06, 0x59};
// 1000 Hz, one 16-bit channel: with 4 ticks per frame, one frame per 4 ms.
const Bytes kStart = command(startPayload(1000, {{0x81, 1, 0x01}}));

CurrentDeviceModel streaming() {
  CurrentDeviceConfig config;
  config.ticksPerFrame = 4;
  return CurrentDeviceModel(config);
}

// Ticks first .. first + 3 of kStart's channel, and their data frame.
Bytes payload(int64_t first) {
  Bytes p;
  for (int64_t t = first; t < first + 4; ++t) {
    int32_t v = samplePattern(t, 0, 0, 16);
    p.push_back(static_cast<uint8_t>(v));
    p.push_back(static_cast<uint8_t>(v >> 8));
  }
  return p;
}
Bytes frame(int64_t first) { return message(0x8000 | (first & 0x7FFF), payload(first)); }

TEST(CurrentDeviceModelTest, AnswersEachRequestByteForByte) {
  const std::tuple<const char*, Bytes, Bytes> cases[] = {
      // what, sent, answered
      {"0x07 probe: silence", {0x07}, {}},
      {"set parameter, AA in its data",
       {0xAA, 0x06, 0x01, 0x05, 0x01, 0x02, 0xAA, 0xBB, 0x19},
       kEmptyOk},
      {"stop while idle", kStopCmd, kEmptyOk},
      {"unknown command", {0xAA, 0x02, 0x05, 0x00, 0x96}, kUnknownError},
      {"version with an extra byte", {0xAA, 0x03, 0x03, 0x00, 0x00, 0x96}, kUnknownError},
      {"bad CRC ignored, not swallowing the next command",
       cat({{0xAA, 0x02, 0x03, 0x00, 0xE9}, kVersionCmd}), kVersionReply},
  };
  for (const auto& [what, in, out] : cases) {
    CurrentDeviceModel model;
    EXPECT_EQ(talk(model, in), out) << what;
  }
}

TEST(CurrentDeviceModelTest, LongPayloadsTakeTheExtendedLength) {
  const std::tuple<size_t, Bytes, uint8_t> cases[] = {
      // size, header, CRC
      {254, {0x00, 0xFE}, 0x23},
      {255, {0x00, 0xFF, 0xFF, 0x00}, 0x03},  // FF announces the 16-bit form, low byte first
  };
  for (const auto& [size, header, crc] : cases) {
    CurrentDeviceConfig config;
    config.description = std::string(size, 'A');
    CurrentDeviceModel model(config);
    EXPECT_EQ(talk(model, {0x56}), cat({header, Bytes(size, 'A'), {crc}})) << size;
  }
  CurrentDeviceConfig tooLong;
  tooLong.description = std::string(65536, 'A');
  EXPECT_THROW(CurrentDeviceModel{tooLong}, std::invalid_argument);
}

TEST(CurrentDeviceModelTest, JoinsSplitCommandsDropsStaleOnesAndRecordsWhatCame) {
  CurrentDeviceModel model;
  EXPECT_EQ(talk(model, {0x07, 0xAA, 0x02}), Bytes{});
  EXPECT_EQ(talk(model, {0x03}), Bytes{});
  EXPECT_EQ(talk(model, {0x00, 0xE8, 0x56}, 900), cat({kVersionReply, kDescriptionReply}));
  // The rest of this frame was lost; after a second of quiet the fragment
  // is dropped instead of eating the next command.
  EXPECT_EQ(talk(model, {0xAA, 0x02, 0x03}, 1000), Bytes{});
  EXPECT_EQ(talk(model, kBatteryCmd, 2001), kBatteryReply);
  talk(model, {0xAA, 0x02, 0x03, 0x00, 0xE9}, 2001);  // bad CRC
  EXPECT_EQ(model.rawBytes(), (Bytes{0x07, 0x56}));
  EXPECT_EQ(model.receivedCommands(), (std::vector<Bytes>{{0x03, 0x00}, {0x04, 0x00}}));
  EXPECT_EQ(model.rejectedFrames(), 2u);
}

TEST(CurrentDeviceModelTest, FaultsApplyOnceToTheMessageTheyAimAt) {
  CurrentDeviceModel model;
  model.injectStrayBytes({0x05});
  model.injectStrayBytes({0x06});
  EXPECT_EQ(model.takeOutput(), Bytes{});  // held until a message goes out
  EXPECT_EQ(talk(model, kVersionCmd), cat({{0x05, 0x06}, kVersionReply}));
  EXPECT_EQ(talk(model, kVersionCmd), kVersionReply);

  model.failNextCommand(0x07);
  EXPECT_EQ(talk(model, {0x56}), kDescriptionReply);                // a probe is no command
  EXPECT_EQ(talk(model, {0xAA, 0x02, 0x04, 0x00, 0x84}), Bytes{});  // nor a bad frame
  EXPECT_EQ(talk(model, kBatteryCmd), (Bytes{0x01, 0x01, 0x07, 0x40}));
  EXPECT_EQ(talk(model, kBatteryCmd), kBatteryReply);

  // Aimed past the 'V' reply, at the reply to the first command.
  model.injectStrayBytes({0x05}, 1);
  model.corruptNextCrc(2);
  EXPECT_EQ(talk(model, {0x56}), kDescriptionReply);
  EXPECT_EQ(talk(model, kVersionCmd), cat({{0x05}, kVersionReply}));
  EXPECT_EQ(talk(model, kBatteryCmd), withBadCrc(kBatteryReply));
  EXPECT_EQ(talk(model, kBatteryCmd), kBatteryReply);
}

TEST(CurrentStreamingTest, FramesGoWhenTheirLastTickIsDueFromAnAcknowledgedStartToTheStop) {
  CurrentDeviceModel m = streaming();
  EXPECT_EQ(talk(m, command(startPayload(1000, {{0x01, 0, 0x01}}))),
            message(0x01, {kBadStartError}));
  m.failNextCommand(0x09);
  EXPECT_EQ(talk(m, kStart), message(0x01, {0x09}));
  EXPECT_EQ(m.nextWake(), std::nullopt);  // refused starts stream nothing
  EXPECT_EQ(talk(m, kStart), kEmptyOk);
  EXPECT_EQ(m.nextWake(), kT0 + milliseconds(3));
  EXPECT_EQ(wake(m, 2), Bytes{});
  EXPECT_EQ(wake(m, 3),  // ticks 0 to 3, little-endian
            message(0x8000, {0x00, 0x00, 0x15, 0x7C, 0x2A, 0xF8, 0x3F, 0x74}));
  // Frames already due go before any reply; a second start changes nothing.
  EXPECT_EQ(talk(m, command(startPayload(500, {{0x02, 1, 0x01}})), 11),
            cat({frame(4), frame(8), message(0x01, {kAlreadyAcquiringError})}));
  EXPECT_EQ(talk(m, kStopCmd, 17), cat({frame(12), kEmptyOk}));
  EXPECT_EQ(m.nextWake(), std::nullopt);
  EXPECT_EQ(wake(m, 1000), Bytes{});
  talk(m, kStart, 2000);  // counts from tick 0 and from its own start
  EXPECT_EQ(wake(m, 2003), frame(0));
}

// Each fault hits the next frame only; frames of ticks skipped or falling
// due while silent are never sent, and the stream goes on in real time.
TEST(CurrentStreamingTest, StreamFaults) {
  CurrentDeviceModel m = streaming();
  m.skipTicks(40);  // asked for before the start
  talk(m, kStart);
  EXPECT_EQ(wake(m, 43), frame(40));
  m.cutNextFrame();  // inside its last tick
  Bytes cut = payload(44);
  cut.pop_back();
  EXPECT_EQ(wake(m, 47), message(0x8000 | 44, cut));
  m.corruptNextCrc();
  EXPECT_EQ(wake(m, 55), cat({withBadCrc(frame(48)), frame(52)}));
  m.skipTicks(100);
  EXPECT_EQ(wake(m, 159), frame(156));
  m.setSilent(true);
  EXPECT_EQ(talk(m, kBatteryCmd, 160), Bytes{});
  EXPECT_EQ(wake(m, 200), Bytes{});
  m.setSilent(false);
  EXPECT_EQ(wake(m, 207), cat({frame(200), frame(204)}));
  m.disconnect(0x02);  // nothing streams after it
  EXPECT_EQ(cat({m.takeOutput(), wake(m, 1000)}), message(0x08, {0x02}));
}

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

TEST(PipeTransportTest, DeviceEndGoneBreaksTheHostEndAfterItsLastBytes) {
  auto [host, device] = makePipe();
  host->setRcvTimeout(-1);
  device->write(reinterpret_cast<const uint8_t*>("last"), 4);
  device.reset();
  EXPECT_EQ(recvN(*host, 4), text("last"));  // sent before the end: not lost
  uint8_t byte;
  EXPECT_THROW(host->recv(&byte, 1), Vexa::Notification::ContactingDevice);
  EXPECT_THROW(host->send("x", 1), Vexa::Notification::ContactingDevice);
}

TEST(EngineTest, WithAndWaitUntilReachTheModelUntilTheLinkCloses) {
  InProcessSimulator sim(std::make_unique<CurrentDeviceModel>());
  std::unique_ptr<Vexa::IO> io = sim.takeHostIo();
  io->setRcvTimeout(static_cast<int>(kPatience.count()));
  Engine& engine = sim.engine();
  engine.with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.sendEvent(0x08, {0x02}); });
  EXPECT_EQ(recvN(*io, 4), message(0x08, {0x02}));  // flushed without a host byte
  EXPECT_THROW(engine.with<CadriumModel>([](CadriumModel&) {}), std::bad_cast);

  auto gotCommand = [](CurrentDeviceModel& m) { return !m.receivedCommands().empty(); };
  EXPECT_FALSE(engine.waitUntil<CurrentDeviceModel>(gotCommand, milliseconds(20)));
  io->send(kBatteryCmd.data(), static_cast<int>(kBatteryCmd.size()));
  EXPECT_TRUE(engine.waitUntil<CurrentDeviceModel>(gotCommand, kPatience));
  EXPECT_EQ(recvN(*io, 5), message(0x00, {0xA4, 0x06}));

  io.reset();
  EXPECT_TRUE(engine.waitForLinkClosed(kPatience));
  // The model stays reachable; what it emits now is dropped.
  engine.with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.sendEvent(8, {1}); });
}

TEST(CliOptionsTest, RefusesBadInputWithAReason) {
  expectRefusals<std::vector<std::string>>({
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
  }, [](const std::vector<std::string>& args) { parseCliOptions(args); });
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
