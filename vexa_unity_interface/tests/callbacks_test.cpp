// The Unity device's callbacks, run by StartLoop on a worker thread as a
// Unity script would, against a simulated device.
#include <chrono>
#include <thread>

#include "host.h"
#include "support/eventually.h"
#include "signals/signals_x.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"

namespace vexa_unity_test {
namespace {

using vexa_sim::CurrentDeviceModel;

using vexa_test::eventually;

class Callbacks : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    sim = std::make_unique<vexa_sim::PtySimulator>(std::make_unique<CurrentDeviceModel>());
    VexaDevUnity(sim->comPath().c_str());
    ASSERT_NE(vexaDev, nullptr);
  }
  void startLoop() {
    loop = std::thread([] { StartLoop(); });
    ASSERT_TRUE(waiting());
  }
  bool waiting() {
    return eventually([] { return vexaDev->impl()->state == Vexa::kReceiving; });
  }
  void event(uint8_t code, std::vector<uint8_t> payload) {
    sim->engine().with<CurrentDeviceModel>([&](CurrentDeviceModel& m) { m.sendEvent(code, payload); });
  }
  void TearDown() override {
    if (loop.joinable()) loop.join();
    HostTest::TearDown();
  }

  std::unique_ptr<vexa_sim::PtySimulator> sim;
  std::thread loop;
};

TEST_F(Callbacks, DisconnectEndsTheLoopAndKeepsTheFlag) {
  std::string log = logOf([&] {
    StartAcquisition(100, "1", 16);
    startLoop();
    event(8, {5});
    loop.join();
  });
  EXPECT_NE(log.find("New Event raised: 8\nDisconnect event - Reason: 5\n"), std::string::npos);
  EXPECT_EQ(seen().disconnects, std::vector<int>{5});
  EXPECT_TRUE(GetCommunicationFlag());
  EXPECT_EQ(GetNbrChannels(), 0);  // the device ended the acquisition
}

TEST_F(Callbacks, DigitalInputAndOtherEventsKeepTheLoopGoing) {
  std::string log = logOf([&] {
    startLoop();
    event(13, {9});
    event(3, {2, 0x10, 0, 0, 0, 1});
    ASSERT_TRUE(eventually([] {
      std::lock_guard<std::mutex> l(seen().lock);
      return !seen().digIns.empty();
    }));
    ASSERT_TRUE(waiting());
    InterruptAcquisition();
    loop.join();
  });
  EXPECT_NE(log.find("New Event raised: 13\nOther Event: 13\nNew Event raised: 3\nDigital input event - Clock "
                     "source: 2  Clock value: 16  New input state: 1\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(seen().digIns, (std::vector<DigIn>{{2, 16, 0, true}}));
  EXPECT_NE(log.find("onInterrupt\n"), std::string::npos);
}

TEST_F(Callbacks, TimeoutTracesWithoutALineBreak) {
  vexaDev->setTimeout(20);
  std::string log = logOf([] { StartLoop(); });
  EXPECT_EQ(log, "Timeout");
  EXPECT_EQ(seen().disconnects, std::vector<int>{1});
}

TEST_F(Callbacks, InterruptWhileIdleLowersTheFlag) {
  vexaDev->communicationFlag = true;
  std::string log = logOf([&] {
    startLoop();
    InterruptAcquisition();
    loop.join();
  });
  EXPECT_EQ(log, "onInterrupt\n");
  EXPECT_FALSE(GetCommunicationFlag());
  EXPECT_EQ(vexaDev->impl()->state, Vexa::kIdle);
  // A loop that ended can run again.
  startLoop();
  InterruptAcquisition();
  loop.join();
  EXPECT_TRUE(reports().empty());
}

TEST_F(Callbacks, DisconnectingEndsTheLoopBeforeReleasingTheDevice) {
  StartAcquisition(1000, "11", 16);
  startLoop();
  logOf([] { DisconnectVexaDevUnity(); });
  loop.join();
  EXPECT_EQ(vexaDev, nullptr);
}

TEST_F(Callbacks, LoopFailuresReportTheBareDescription) {
  std::string log = logOf([&] {
    startLoop();
    sim->engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.sendMessage(2, {}); });
    loop.join();
  });
  EXPECT_EQ(log, "");
  ASSERT_EQ(reports().size(), 1u);
  EXPECT_EQ(reports()[0].code, 21);
  EXPECT_EQ(reports()[0].message, "The communication with the device was lost.");
}

}  // namespace
}  // namespace vexa_unity_test
