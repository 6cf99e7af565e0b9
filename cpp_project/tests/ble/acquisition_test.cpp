// Whole acquisitions over BLE through the simulated dongle: a
// current-generation device and a compact board, with the device loop on
// one thread and an interrupt from another.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "ble_test_support.h"
#include "io/ble/ble.h"
#include "signals/signals_x.h"
#include "support/pattern_check.h"
#include "vexa/quillbox_dev.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/quillbox_frame.h"
#include "vexa_sim/quillbox_model.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_test {
namespace {

std::unique_ptr<Vexa::IO> bleTo(const std::string& path) {
  return std::make_unique<Vexa::BLE>(path, fastTimings());
}

// A current device that checks every tick against the simulator's pattern.
class CheckedDev : public Vexa::SignalsDev {
 public:
  CheckedDev() : SignalsDev(kDevicePath, bleTo(kDevicePath)) {}
  using BaseDev::impl;

  bool onRawFrame(int nSeq, const int data[]) override {
    checker.check(nSeq, data, impl()->sigX->totalChannels);
    return nSeq >= stopAtTick;
  }
  bool onInterrupt(void*) override {
    ++interrupts;
    return true;
  }
  bool onTimeout() override { return true; }

  PatternChecker checker{{}};
  int stopAtTick = 0;
  int interrupts = 0;
};

// Polls a state that has no notification of its own, up to 5 s.
template <class Pred>
bool eventually(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(BleAcquisition, CurrentDeviceStreamsEveryTick) {
  vexa_sim::CurrentDeviceConfig config;
  config.description = "Strandelo QZ Vexa";
  config.ticksPerFrame = 4;  // 16 payload bytes: one value per frame
  DongleSim dongle(
      std::make_unique<vexa_sim::MessageFirmware>(std::make_unique<vexa_sim::CurrentDeviceModel>(config)));
  CheckedDev dev;
  Vexa::Properties props = dev.getProperties();
  EXPECT_EQ(props["description"].asString(), "Strandelo QZ Vexa");
  EXPECT_EQ(props["productID"].asInt(), 0x0201);
  EXPECT_EQ(props["uid"].asString(), "0012ABFF");
  EXPECT_EQ(dev.impl()->family, 1);

  const std::vector<Vexa::Source> sources = {{1, 1, 16, 0x03}};
  dev.checker = PatternChecker(sources);
  dev.setTimeout(2000);
  dev.start(500.0f, sources);
  dev.stopAtTick = 499;
  dev.loop();
  dev.stop();
  EXPECT_GE(dev.checker.ticks(), 500);
  EXPECT_EQ(dev.checker.lost(), 0);
  EXPECT_EQ(dev.checker.badTicks(), 0) << dev.checker.firstError();
  dongle.with([](vexa_sim::DongleModel& d) {
    EXPECT_EQ(dynamic_cast<vexa_sim::MessageFirmware&>(d.device()).oversizeMessages(), 0u);
  });
}

TEST(BleAcquisition, InterruptFromAnotherThreadWhileTheLoopWaits) {
  DongleSim dongle(
      std::make_unique<vexa_sim::MessageFirmware>(std::make_unique<vexa_sim::CurrentDeviceModel>()));
  CheckedDev dev;
  dev.setTimeout(-1);
  auto loop = std::async(std::launch::async, [&dev] { dev.loop(); });
  ASSERT_TRUE(eventually([&dev] { return dev.impl()->state == Vexa::kReceiving; }));
  // The interrupt writes its command while the loop thread reads the link.
  dev.interrupt(nullptr);
  ASSERT_EQ(loop.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  loop.get();
  EXPECT_EQ(dev.interrupts, 1);
}

class CheckedBoard : public Vexa::QuillboxDev {
 public:
  CheckedBoard() : QuillboxDev(kDevicePath, bleTo(kDevicePath)) {}
  using BaseDev::impl;

  bool onRawFrame(int nSeq, const int data[]) override {
    frames.push_back({nSeq, std::vector<int>(data, data + impl()->sigX->totalChannels)});
    return frames.size() >= 50;
  }
  bool onTimeout() override { return true; }

  std::vector<std::pair<int, std::vector<int>>> frames;
};

TEST(BleAcquisition, CompactBoardAnswersAndStreams) {
  DongleSim dongle(
      std::make_unique<vexa_sim::ByteStreamFirmware>(std::make_unique<vexa_sim::QuillboxModel>()));
  CheckedBoard board;
  EXPECT_EQ(board.impl()->family, 3);
  EXPECT_EQ(board.getProperties()["productID"].asInt(), 1538);
  const Vexa::QuillboxDev::State state = board.getState();
  EXPECT_EQ(state.analog[5], 600u);
  EXPECT_EQ(state.battery, 800);

  board.setTimeout(2000);
  board.start(100.0f, std::vector<int>{1, 2, 3}, 10);
  board.loop();
  board.stop();
  ASSERT_EQ(board.frames.size(), 50u);
  for (const auto& [tick, values] : board.frames) {
    std::vector<int> want;
    for (int k = 0; k < 3; ++k)
      want.push_back(vexa_sim::samplePattern(tick, 0, k, vexa_sim::quillboxValueBits(k)));
    ASSERT_EQ(values, want) << "tick " << tick;
  }
  EXPECT_EQ(board.frames.back().first - board.frames.front().first, 49) << "frames were lost";
}

}  // namespace
}  // namespace vexa_test
