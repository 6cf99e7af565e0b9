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

namespace vexa_sim::test {
namespace {

// A client of the slave side, opened as the serial transport opens it.
UniqueFd openClient(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  EXPECT_TRUE(fd.valid()) << path;
  return fd;
}

// What the client reads until n bytes came, the line broke, or it stayed
// quiet for the patience.
Bytes clientRead(int fd, size_t n) {
  Bytes out(n);
  size_t have = 0;
  for (pollfd p{fd, POLLIN, 0};
       have < n && poll(&p, 1, static_cast<int>(kPatience.count())) == 1;) {
    ssize_t got = read(fd, out.data() + have, n - have);
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  out.resize(have);
  return out;
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
  const Bytes controls = {0x0D, 0x03, 0x11, 0x13, 0x7F, 0x0A, 0x04};
  ASSERT_EQ(write(client.get(), controls.data(), controls.size()), 7);
  Bytes got;
  for (auto deadline = Clock::now() + kPatience; got.size() < 7 && Clock::now() < deadline;) {
    uint8_t buf[16];
    int n = link.read(buf, sizeof buf, milliseconds(100));
    ASSERT_GE(n, 0);
    got.insert(got.end(), buf, buf + n);
  }
  EXPECT_EQ(got, controls);
  link.write(controls.data(), controls.size());
  EXPECT_EQ(clientRead(client.get(), controls.size()), controls);
}

TEST(PtyLinkTest, ReadTimesOutWakesAndEndsAndWritesNeverBlock) {
  PtyLink link;
  uint8_t buf[8];
  auto start = Clock::now();
  EXPECT_EQ(link.read(buf, sizeof buf, milliseconds(40)), 0);
  EXPECT_GE(msSince(start), 40);
  auto reader =
      std::async(std::launch::async, [&] { return link.read(buf, sizeof buf, 4 * kPatience); });
  link.wakeReader();
  EXPECT_EQ(reader.get(), 0);

  const Bytes big(1 << 20, 0x55);  // far more than the line holds, and nobody reads
  start = Clock::now();
  link.write(big.data(), big.size());
  EXPECT_LT(msSince(start), 3000);

  link.hangUp();
  EXPECT_EQ(link.read(buf, sizeof buf, milliseconds(0)), -1);
  link.write(buf, 1);  // into a dead line: dropped
}

}  // namespace
}  // namespace vexa_sim::test
