#include "vexa_sim/packet_transport.h"

#include <gtest/gtest.h>

#include "sim_test_util.h"
#include "vexa/crc.h"
#include "vexa/exceptions.h"
#include "vexa_sim/in_process_simulator.h"
#include "vexa_sim/quillbox_model.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::text;

constexpr milliseconds kPatience{5000};

Bytes recvOnce(Vexa::IO& io, int len = 64) {
  Bytes buf(static_cast<size_t>(len));
  buf.resize(static_cast<size_t>(io.recv(buf.data(), len)));
  return buf;
}

TEST(PacketTransportTest, EachRecvReturnsAtMostOnePacketOfTwentyBytes) {
  auto [host, device] = makePacketPipe();
  host->setRcvTimeout(0);
  Bytes big(45);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
  device->write(big.data(), big.size());
  const Bytes small = {0xA1, 0xA2, 0xA3};
  device->write(small.data(), small.size());
  device->write(small.data(), small.size());  // not merged with the one before
  EXPECT_EQ(recvOnce(*host), Bytes(big.begin(), big.begin() + 20));
  EXPECT_EQ(recvOnce(*host), Bytes(big.begin() + 20, big.begin() + 40));
  EXPECT_EQ(recvOnce(*host), Bytes(big.begin() + 40, big.end()));
  EXPECT_EQ(recvOnce(*host), small);
  // A buffer smaller than the packet gets its front; the rest comes next.
  EXPECT_EQ(recvOnce(*host, 2), (Bytes{0xA1, 0xA2}));
  EXPECT_EQ(recvOnce(*host, 2), Bytes{0xA3});
  EXPECT_EQ(recvOnce(*host), Bytes{});  // a poll with nothing waiting
}

TEST(PacketTransportTest, HostBytesReachTheDeviceAndAClosedEndBreaksTheLink) {
  auto [host, device] = makePacketPipe();
  const Bytes cmd = {0xC3, 0xFD};
  host->send(cmd.data(), 2);
  uint8_t got[4];
  ASSERT_EQ(device->read(got, 4, kPatience), 2);
  EXPECT_EQ(Bytes(got, got + 2), cmd);

  device->write(cmd.data(), 2);
  device.reset();
  host->setRcvTimeout(-1);
  EXPECT_EQ(recvOnce(*host), cmd);  // written before the close: still delivered
  EXPECT_THROW(recvOnce(*host), Vexa::Notification::ContactingDevice);
  EXPECT_THROW(host->send(cmd.data(), 2), Vexa::Notification::ContactingDevice);
}

TEST(PacketTransportTest, CompactBoardAnswersAndStreamsInPackets) {
  InProcessSimulator sim(std::make_unique<QuillboxModel>(), HostLink::kPackets);
  std::unique_ptr<Vexa::IO> io = sim.takeHostIo();
  io->setRcvTimeout(static_cast<int>(kPatience.count()));
  const uint8_t probe = 0x07;
  io->send(&probe, 1);
  EXPECT_EQ(recvOnce(*io), text("Quillbox_v5.1\n"));

  const Bytes start = {0xC3, 0xFD};  // 1000 Hz, six channels: 8-byte frames
  io->send(start.data(), 2);
  Bytes stream;
  while (stream.size() < 8 * 30) {
    Bytes packet = recvOnce(*io);
    ASSERT_GT(packet.size(), 0u);
    ASSERT_LE(packet.size(), static_cast<size_t>(kPacketSize));
    stream.insert(stream.end(), packet.begin(), packet.end());
  }
  for (size_t k = 0; k < 30; ++k) {
    ASSERT_TRUE(Vexa::checkCrc4(stream.data() + 8 * k, 8)) << k;
    EXPECT_EQ(stream[8 * k + 7] >> 4, static_cast<int>(k % 16)) << k;
  }
}

}  // namespace
}  // namespace vexa_sim
