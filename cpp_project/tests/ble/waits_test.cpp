// The dongle link's waits: what ends them and their deadlines, against a
// raw pseudo-terminal peer.
#include <gtest/gtest.h>

#include <chrono>

#include "ble_test_support.h"
#include "io/ble/bgapi.h"
#include "io/ble/com_ble.h"
#include "vexa/exceptions.h"
#include "vexa_sim/pty_link.h"

namespace vexa_test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLimitMs = 300;
constexpr int kReadMs = 100;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class Waits : public ::testing::Test {
 protected:
  static Vexa::BleTimings timings() {
    Vexa::BleTimings t = fastTimings();
    t.linkTimeoutMs = kReadMs;
    t.responseMs = t.procedureMs = t.connectMs = kLimitMs;
    return t;
  }
  void say(const Bytes& bytes) { peer.write(bytes.data(), bytes.size()); }
  // A wait that fails must have waited its limit, and not much more than
  // one further read.
  template <class Exception, class F>
  void expectGivesUpInTime(F&& wait) {
    const auto start = Clock::now();
    EXPECT_THROW(wait(), Exception);
    EXPECT_GE(msSince(start), kLimitMs);
    EXPECT_LT(msSince(start), kLimitMs + kReadMs + 400);
  }

  vexa_sim::PtyLink peer;
  DonglePorts ports{std::vector<std::string>{peer.comPath()}};
  Vexa::COM_BLE link{timings()};
};

const Bytes kValueAbc = event(4, 5, {0x00, 0x09, 0x00, 0x01, 0x03, 'a', 'b', 'c'});
const Bytes kCompleted = event(4, 1, {0x00, 0x00, 0x00, 0x06, 0x00});

TEST_F(Waits, OnlyAResponseWithResultZeroIsAccepted) {
  // An attribute value and a group-found event also give 0 to the reader;
  // a refusal is never accepted.
  say(cat(cat(kValueAbc, event(4, 2, Bytes(22, 0))), response(4, 5, {0x00, 0x81, 0x01})));
  expectGivesUpInTime<Vexa::Notification::ContactingDevice>([this] { link.wait_response(); });
  say(response(4, 5, {0x00, 0x00, 0x00}));
  EXPECT_NO_THROW(link.wait_response());
}

TEST_F(Waits, FailedProcedureRunsIntoTheDeadlineAndKeepsTheData) {
  link.command(Vexa::bgapi::endProcedure());
  say(cat(cat(response(4, 5, {0x00, 0x00, 0x00}), kValueAbc), event(4, 1, {0x00, 0x01, 0x04, 0x06, 0x00})));
  expectGivesUpInTime<Vexa::Notification::ContactingDevice>([this] { link.wait_prccomplete(true); });

  link.command(Vexa::bgapi::endProcedure());
  say(cat(event(4, 5, {0x00, 0x09, 0x00, 0x01, 0x02, 'd', 'e'}), kCompleted));
  link.wait_prccomplete(true);
  // What arrived during the writes comes out in order, one value per call.
  uint8_t buf[20];
  ASSERT_EQ(link.receiveValue(buf, sizeof buf), 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{'a', 'b', 'c'}));
  ASSERT_EQ(link.receiveValue(buf, 1), 1);
  EXPECT_EQ(buf[0], 'd');
  link.setRcvTimeout(0);
  EXPECT_EQ(link.receiveValue(buf, sizeof buf), 0) << "the rest of a value is dropped";
}

TEST_F(Waits, CompletionBeforeTheWaitBeganStillCounts) {
  link.command(Vexa::bgapi::endProcedure());
  say(kCompleted);
  // Someone else (a loop's receive) reads the completion first.
  uint8_t buf[20];
  EXPECT_EQ(link.receiveValue(buf, sizeof buf), 0);
  const auto start = Clock::now();
  link.wait_prccomplete(false);
  EXPECT_LT(msSince(start), kLimitMs);
}

TEST_F(Waits, NoConnectionStatusMeansDeviceNotFound) {
  expectGivesUpInTime<Vexa::Notification::DeviceNotFound>([this] { link.wait_connected(); });
  say(cat(response(6, 3, {0x00, 0x00, 0x00}), event(3, 0, Bytes(16, 0x02))));
  link.wait_connected();
  EXPECT_EQ(link.handles().connection, 2);
}

TEST_F(Waits, ReceiveSkipsOtherMessagesUntilItsTimeOut) {
  link.setRcvTimeout(kLimitMs);
  say(cat(cat(response(6, 4, {0x00, 0x00}), event(0, 0, Bytes(12, 0))), kValueAbc));
  uint8_t buf[20];
  EXPECT_EQ(link.receiveValue(buf, sizeof buf), 3);
  say(response(6, 4, {0x00, 0x00}));
  const auto start = Clock::now();
  EXPECT_EQ(link.receiveValue(buf, sizeof buf), 0);
  EXPECT_GE(msSince(start), kLimitMs - 5);
}

}  // namespace
}  // namespace vexa_test
