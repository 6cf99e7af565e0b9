#include <gtest/gtest.h>

#include <tuple>

#include "support/scripted_device.h"

namespace vexa_test {
namespace {

using Vexa::Event;
namespace Events = Vexa::Events;

class Dispatch : public ScriptedDeviceTest {
 protected:
  void SetUp() override {
    ScriptedDeviceTest::SetUp();
    dev->stopOnEvent = [this](const Event& ev) {
      check(ev);
      return false;
    };
  }
  bool dispatch(uint8_t code, Bytes payload) {
    return x().dispatchEvent(code, payload.data(), static_cast<uint16_t>(payload.size()));
  }

  std::function<void(const Event&)> check = [](const Event&) {};
};

// Each length taken is one event delivered; a length refused, or a code
// that is no event, delivers nothing.
TEST_F(Dispatch, LengthRules) {
  // code, lengths taken, lengths refused
  const std::tuple<uint8_t, std::vector<size_t>, std::vector<size_t>> rows[] = {
      {3, {6}, {0, 5, 7}},     {4, {5}, {4, 6}},   {5, {10, 15}, {0, 5, 9, 11}}, {7, {14}, {13, 15}},
      {8, {1}, {0, 2}},        {9, {1}, {0, 2}},   {10, {2}, {1, 3}},            {11, {1, 2}, {0, 3}},
      {12, {0}, {}},           {13, {1}, {0, 2}},  {14, {3, 300}, {}},           {0, {}, {1}},
      {1, {}, {1}},            {2, {}, {1}},       {6, {}, {1}},                 {15, {}, {1}},
      {64, {}, {1}},           {111, {}, {1}},
  };
  for (const auto& [code, taken, refused] : rows) {
    SCOPED_TRACE(static_cast<int>(code));
    dev->eventTypes.clear();
    for (size_t good : taken) EXPECT_FALSE(dispatch(code, Bytes(good, 1)));
    for (size_t bad : refused) EXPECT_THROW(dispatch(code, Bytes(bad, 1)), Vexa::Notification::ContactingDevice);
    EXPECT_EQ(dev->eventTypes.size(), taken.size());
  }
}

TEST_F(Dispatch, RecordFields) {
  std::string valueFlags;  // value, f when the flag came, the flag as + or -
  check = [&valueFlags](const Event& ev) {
    switch (ev.type) {
      case Event::kClockStampList: {
        auto& e = static_cast<const Events::ClockStampList&>(ev);
        ASSERT_EQ(e.stamps.size(), 2u);
        EXPECT_EQ(e.stamps[1], (std::pair<int32_t, uint32_t>{7, 0x0100}));
        break;
      }
      case Event::kCounters: {
        auto& e = static_cast<const Events::Counters&>(ev);
        EXPECT_EQ(e.value, 0x04030201u);
        EXPECT_EQ(e.values16[0], 0xFFFEu);
        EXPECT_EQ(e.values16[4], 0x0201u);
        break;
      }
      case Event::kBattery: {
        auto& e = static_cast<const Events::Battery&>(ev);
        EXPECT_NEAR(e.voltage, 4.1504f, 1e-4);
        EXPECT_NEAR(e.percentage, 96.9f, 0.05);
        break;
      }
      case Event::kValueFlag: {
        auto& e = static_cast<const Events::ValueFlag&>(ev);
        valueFlags += std::to_string(e.value) + (e.hasFlag ? "f" : "") + (e.flag ? "+ " : "- ");
        break;
      }
    }
  };
  dispatch(3, {2, 1, 2, 3, 0xF4, 9});
  dispatch(4, {1, 0xFF, 0xFF, 0xFF, 0xFF});
  dispatch(5, {1, 0, 0, 0, 0, 7, 0, 1, 0, 0});
  dispatch(7, {1, 2, 3, 4, 0xFE, 0xFF, 0, 0, 0, 0, 0, 0, 1, 2});
  dispatch(9, {0x80});
  dispatch(10, {0xA4, 0x06});  // 1700
  for (const Bytes& payload : {Bytes{7}, Bytes{9, 1}, Bytes{6, 0}}) dispatch(11, payload);
  dispatch(14, {0x11, 0x22, 0x33});
  dispatch(127, {0});
  EXPECT_EQ(dev->eventTypes, (std::vector<int>{3, 4, 5, 7, 9, 10, 11, 11, 11, 14, 112}));
  EXPECT_EQ(valueFlags, "7- 9f+ 6f- ");
  EXPECT_EQ(dev->inputs, std::vector<std::string>{"0=1@2:4093837825"});
}

TEST_F(Dispatch, DisconnectEndsTheAcquisitionEvenWhenMalformed) {
  sig().setUp({{1, 16, 2}});
  EXPECT_THROW(dispatch(8, {}), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(sig().nSources, 0);
  EXPECT_EQ(sig().totalChannels, 0);
  EXPECT_TRUE(sig().samples.empty());

  sig().setUp({{1, 16, 2}});
  check = [](const Event& ev) { EXPECT_EQ(static_cast<const Events::Disconnect&>(ev).reason, 5); };
  dispatch(8, {5});
  EXPECT_EQ(sig().nSources, 0);
  EXPECT_TRUE(io->sent.empty());
}

TEST_F(Dispatch, PendingInOrderAndClearedOnFailure) {
  x().pending = {{9, {1}}, {13, {4}}};
  dev->stopOnEvent = [](const Event& ev) { return ev.type == 9; };
  EXPECT_TRUE(x().dispatchPending());
  EXPECT_EQ(x().pending.size(), 1u);
  EXPECT_FALSE(x().dispatchPending());
  EXPECT_EQ(dev->eventTypes, (std::vector<int>{9, 13}));

  x().pending = {{9, {1, 2}}, {13, {4}}};  // the first malformed
  EXPECT_THROW(x().dispatchPending(), Vexa::Notification::ContactingDevice);
  EXPECT_TRUE(x().pending.empty());
}

TEST_F(Dispatch, FramesWithoutAcquisitionState) {
  const uint8_t frame[] = {1, 2};
  EXPECT_FALSE(x().dispatchMsg(0x8000, frame, 2));  // no acquisition: dropped
  x().sigX.reset();
  EXPECT_THROW(x().dispatchMsg(0x8000, frame, 2), Vexa::Notification::ContactingDevice);
}

}  // namespace
}  // namespace vexa_test
