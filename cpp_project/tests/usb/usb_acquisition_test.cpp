// Whole connections over USB: the device library on the USB transport, the
// fake FTDI libraries, and a simulated device behind the adapter.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "io/usb/ftdi_libraries.h"
#include "io/usb/usb.h"
#include "signals/signals_x.h"
#include "support/pattern_check.h"
#include "usb/fake_ftdi_control.h"

namespace vexa_test {
namespace {

class CheckedDev : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;
  using BaseDev::impl;

  void begin(float freq, std::vector<Vexa::Source> sources) {
    checker = PatternChecker(sources);
    start(freq, sources);
  }
  bool onRawFrame(int nSeq, const int data[]) override {
    checker.check(nSeq, data, impl()->sigX->totalChannels);
    ticks = checker.ticks();
    return stopAtTick >= 0 && nSeq >= stopAtTick;
  }
  bool onInterrupt(void*) override { return true; }
  bool onTimeout() override { return true; }

  PatternChecker checker{{}};
  std::atomic<int> ticks{0};
  int stopAtTick = -1;
};

class UsbAcquisition : public ::testing::Test {
 protected:
  std::unique_ptr<CheckedDev> connect(const char* model) {
    fake.addAdapter(model);
    return std::make_unique<CheckedDev>("USB0", std::make_unique<Vexa::USB>("USB0", libraries));
  }
  FakeFtdi fake;
  Vexa::FtdiLibraries libraries{fakeFiles()};
};

TEST_F(UsbAcquisition, EveryFamilyIsIdentified) {
  struct Case {
    const char* model;
    int family;
  } const cases[] = {{"current", 1}, {"cadrium", 0}, {"quillbox", 3}};
  for (const Case& c : cases) {
    FakeFtdi fresh;
    auto dev = connect(c.model);
    EXPECT_EQ(dev->impl()->family, c.family) << c.model;
  }
}

TEST_F(UsbAcquisition, CurrentDeviceStreamsASecondWithoutLoss) {
  auto dev = connect("current");
  EXPECT_EQ(dev->getProperties()["description"].asString(), "tessarimodular");
  dev->setTimeout(2000);
  dev->begin(1000.0f, {{1, 1, 16, 0x03}, {2, 2, 8, 0x01}});
  dev->stopAtTick = 999;
  dev->loop();
  EXPECT_GE(dev->checker.ticks(), 1000);
  EXPECT_EQ(dev->checker.firstTick(), 0);
  EXPECT_EQ(dev->checker.lost(), 0);
  EXPECT_EQ(dev->checker.badTicks(), 0) << dev->checker.firstError();
  dev->stop();
}

TEST_F(UsbAcquisition, InterruptFromAnotherThreadWhileReceiving) {
  auto dev = connect("current");
  dev->setTimeout(-1);
  dev->begin(500.0f, {{1, 1, 16, 0x01}});
  auto loop = std::async(std::launch::async, [&dev] { dev->loop(); });
  // Ticks have no notification of their own: poll, up to 5 s.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (dev->ticks < 20 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GE(dev->ticks, 20);
  while (dev->impl()->state != Vexa::kReceiving && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  dev->interrupt(nullptr);
  ASSERT_EQ(loop.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  loop.get();
  EXPECT_EQ(dev->checker.badTicks(), 0) << dev->checker.firstError();
  dev->stop();
}

}  // namespace
}  // namespace vexa_test
