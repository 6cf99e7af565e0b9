#include "vexa_sim/pty_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

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

}  // namespace
}  // namespace vexa_sim::test
