// The Unity device's callbacks, run by StartLoop on a worker thread as a
// Unity script would, against a simulated device.
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

// Events on a running acquisition: a digital input and an event of no
// interest keep the loop going, a disconnect ends it; each is traced to the
// log and handed to its handler with the device's values.
TEST_F(Callbacks, EventsReachTheirHandlersInOrder) {
  std::string log = logOf([&] {
    StartAcquisition(100, "1", 16);
    startLoop();
    event(13, {9});
    event(3, {2, 0x10, 0, 0, 0, 1});
    event(8, {5});
    loop.join();
  });
  EXPECT_NE(log.find("New Event raised: 13\nOther Event: 13\nNew Event raised: 3\nDigital input event - Clock "
                     "source: 2  Clock value: 16  New input state: 1\nNew Event raised: 8\nDisconnect event - "
                     "Reason: 5\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(seen().digIns, (std::vector<DigIn>{{2, 16, 0, true}}));
  EXPECT_EQ(seen().disconnects, std::vector<int>{5});
  EXPECT_TRUE(GetCommunicationFlag());
  EXPECT_EQ(GetNbrChannels(), 0);  // the device ended the acquisition
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
  EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace vexa_unity_test
