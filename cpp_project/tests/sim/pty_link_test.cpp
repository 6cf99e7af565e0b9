#include "vexa_sim/pty_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <future>
#include <string>

#include "sim_test_util.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"
#include "vexa_sim/unique_fd.h"

namespace vexa_sim {
namespace {

using std::chrono::milliseconds;
using vexa_sim_test::Bytes;
using vexa_sim_test::concat;
using vexa_sim_test::msSince;
using vexa_sim_test::text;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kPatience{5000};

// A client of the slave side, opened as the serial transport opens it.
UniqueFd openClient(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  EXPECT_TRUE(fd.valid()) << path;
  return fd;
}

void clientWrite(const UniqueFd& fd, const Bytes& bytes) {
  ASSERT_EQ(write(fd.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Reads until n bytes came, the line broke, or the patience ran out.
Bytes clientRead(const UniqueFd& fd, size_t n) {
  Bytes out;
  auto deadline = Clock::now() + kPatience;
  while (out.size() < n && Clock::now() < deadline) {
    pollfd p{fd.get(), POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    uint8_t buf[256];
    ssize_t got = read(fd.get(), buf, sizeof buf);
    if (got <= 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

TEST(PtyLinkTest, EachClientInTurnGetsTheDeviceReply) {
  PtySimulator sim(std::make_unique<CurrentDeviceModel>());
  EXPECT_EQ(sim.devicePath().rfind("/dev/pts/", 0), 0u) << sim.devicePath();
  EXPECT_EQ(sim.comPath(), "COM" + sim.devicePath());
  const Bytes reply = concat(concat({0x00, 0x0E}, text("tessarimodular")), {0x48});
  for (int round = 0; round < 2; ++round) {  // the line survives a client leaving
    UniqueFd client = openClient(sim.devicePath());
    clientWrite(client, {0x56});
    EXPECT_EQ(clientRead(client, reply.size()), reply) << "round " << round;
  }
}

TEST(PtyLinkTest, HangUpBreaksTheClientsLine) {
  PtySimulator sim(std::make_unique<CurrentDeviceModel>());
  UniqueFd client = openClient(sim.devicePath());
  sim.hangUp();
  pollfd p{client.get(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, static_cast<int>(kPatience.count())), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
  uint8_t byte;
  EXPECT_LE(read(client.get(), &byte, 1), 0);
}

TEST(PtyLinkTest, BytesPassUnchangedBothWays) {
  PtyLink link;
  UniqueFd client = openClient(link.devicePath());
  // CR, ^C, XON, XOFF, DEL, LF, ^D: a cooked line would act on each.
  const Bytes special = {0x0D, 0x03, 0x11, 0x13, 0x7F, 0x0A, 0x04};
  clientWrite(client, special);
  Bytes got;
  auto deadline = Clock::now() + kPatience;
  while (got.size() < special.size() && Clock::now() < deadline) {
    uint8_t buf[16];
    int n = link.read(buf, sizeof buf, milliseconds(100));
    ASSERT_GE(n, 0);
    got.insert(got.end(), buf, buf + n);
  }
  EXPECT_EQ(got, special);
  link.write(special.data(), special.size());
  EXPECT_EQ(clientRead(client, special.size()), special);
}

TEST(PtyLinkTest, ReadTimesOutWakesAndEnds) {
  PtyLink link;
  uint8_t buf[8];
  auto start = Clock::now();
  EXPECT_EQ(link.read(buf, sizeof buf, milliseconds(40)), 0);
  EXPECT_GE(msSince(start), 40);

  auto reader = std::async(std::launch::async,
                           [&] { return link.read(buf, sizeof buf, milliseconds(20000)); });
  link.wakeReader();
  EXPECT_EQ(reader.get(), 0);

  link.hangUp();
  EXPECT_EQ(link.read(buf, sizeof buf, milliseconds(0)), -1);
  link.write(buf, 1);  // into a dead line: dropped
}

TEST(PtyLinkTest, WriteNobodyReadsDoesNotBlock) {
  PtyLink link;
  const Bytes big(1 << 20, 0x55);
  auto start = Clock::now();
  link.write(big.data(), big.size());
  EXPECT_LT(msSince(start), 3000);
}

}  // namespace
}  // namespace vexa_sim
