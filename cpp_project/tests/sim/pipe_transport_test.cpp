#include "vexa_sim/pipe_transport.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "sim_test_util.h"
#include "vexa/exceptions.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::msSince;
using Clock = std::chrono::steady_clock;

TEST(PipeTransportTest, RecvHonoursEachTimeOutMeaning) {
  auto [host, device] = makePipe();
  Vexa::IO& io = *host;
  EXPECT_EQ(io.rcvTimeout, -2);
  uint8_t buf[4];
  io.setRcvTimeout(0);
  EXPECT_EQ(io.rcvTimeout, 0);
  auto start = Clock::now();
  EXPECT_EQ(io.recv(buf, 4), 0);
  EXPECT_LT(msSince(start), 500);  // a poll does not wait

  io.setRcvTimeout(40);
  start = Clock::now();
  EXPECT_EQ(io.recv(buf, 4), 0);
  EXPECT_GE(msSince(start), 40);

  io.setRcvTimeout(-1);  // no limit: returns only when bytes arrive
  auto reader = std::async(std::launch::async, [&] { return io.recv(buf, 4); });
  const Bytes data = {1, 2, 3, 4, 5};
  device->write(data.data(), data.size());
  ASSERT_EQ(reader.get(), 4);  // at most len, in order
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(io.recv(buf, 4), 1);
  EXPECT_EQ(buf[0], 5);
}

TEST(PipeTransportTest, SendWhileAnotherThreadIsBlockedInRecv) {
  auto [host, device] = makePipe();
  Vexa::IO& io = *host;
  io.setRcvTimeout(-1);
  uint8_t buf[8] = {};
  auto reader = std::async(std::launch::async, [&] { return io.recv(buf, 8); });
  const Bytes wake = {0xAA, 0x02, 0x03, 0x00, 0xE8};
  io.send(wake.data(), static_cast<int>(wake.size()));
  Bytes got(wake.size());
  for (size_t have = 0; have < got.size();) {
    int n =
        device->read(got.data() + have, static_cast<int>(got.size() - have), milliseconds(5000));
    ASSERT_GT(n, 0);
    have += static_cast<size_t>(n);
  }
  EXPECT_EQ(got, wake);
  const Bytes reply = {0x00, 0x00, 0xD7};
  device->write(reply.data(), reply.size());
  ASSERT_EQ(reader.get(), 3);
  EXPECT_EQ(Bytes(buf, buf + 3), reply);
}

TEST(PipeTransportTest, DeviceEndGoneBreaksTheHostEndAfterItsLastBytes) {
  auto [host, device] = makePipe();
  Vexa::IO& io = *host;
  io.setRcvTimeout(-1);
  const Bytes last = {0x08, 0x01, 0x02, 0x61};
  device->write(last.data(), last.size());
  uint8_t buf[8];
  auto reader = std::async(std::launch::async, [&] {
    Bytes got(4);
    Vexa::IO::recvAll(io, got.data(), 4);  // sent before the end: not lost
    EXPECT_EQ(got, last);
    return io.recv(buf, 8);
  });
  device.reset();
  try {
    reader.get();
    ADD_FAILURE() << "recv returned on a broken link";
  } catch (const Vexa::Notification::ContactingDevice& e) {
    EXPECT_NE(e.location().find("PipeTransport::recv"), std::string::npos) << e.location();
  }
  try {
    io.send(last.data(), 1);
    ADD_FAILURE() << "send succeeded on a broken link";
  } catch (const Vexa::Notification::ContactingDevice& e) {
    EXPECT_NE(e.location().find("PipeTransport::send"), std::string::npos) << e.location();
  }
}

TEST(PipeTransportTest, DeviceEndReadsEndOnHostCloseAndOnWake) {
  auto [host, device] = makePipe();
  PipeLink& link = *device;
  uint8_t buf[4];
  auto woken =
      std::async(std::launch::async, [&] { return link.read(buf, 4, milliseconds(20000)); });
  link.wakeReader();
  EXPECT_EQ(woken.get(), 0);

  auto ended =
      std::async(std::launch::async, [&] { return link.read(buf, 4, milliseconds(20000)); });
  host.reset();
  EXPECT_EQ(ended.get(), -1);
  link.write(buf, 1);  // into a dead link: dropped, no failure
}

}  // namespace
}  // namespace vexa_sim
