// The serial transport on real pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "io/com.h"
#include "support/deadline.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"
#include "vexa_sim/pty_link.h"

namespace Vexa {
namespace {

using Bytes = std::vector<uint8_t>;

// A serial port opened on a pseudo-terminal whose other side the test plays.
class SerialPort : public ::testing::Test {
 protected:
  // Exactly n bytes from the device's side, waiting at most 5 s for each.
  Bytes readPeer(size_t n) {
    Bytes out(n);
    size_t got = 0;
    while (got < n) {
      const int r = peer.read(out.data() + got, static_cast<int>(n - got), std::chrono::seconds(5));
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
  }
  // Exactly n bytes through the transport.
  Bytes recvBytes(size_t n) {
    Bytes out(n);
    IO::recvAll(com, out.data(), static_cast<int>(n));
    return out;
  }
  vexa_sim::PtyLink peer;
  COM com{peer.comPath()};
};

// Line-discipline bytes pass untouched both ways, and a send does not wait
// for a receive that another thread has blocked without limit.
TEST_F(SerialPort, RawBytesBothWaysWhileAReceiveWaits) {
  com.setRcvTimeout(-1);
  // CR, LF, ^C, XON, XOFF, DEL, ^D, 0xFF, NUL.
  const Bytes control = {0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F, 0x04, 0xFF, 0x00};
  auto reader = std::async(std::launch::async, [&] { return recvBytes(control.size()); });
  com.send(control.data(), static_cast<int>(control.size()));
  EXPECT_EQ(readPeer(control.size()), control);
  const Bytes answer(control.rbegin(), control.rend());
  peer.write(answer.data(), answer.size());
  EXPECT_EQ(reader.get(), answer);
  // Nothing was echoed back to the device side.
  com.setRcvTimeout(0);
  uint8_t b;
  EXPECT_EQ(com.recv(&b, 1), 0);
}

TEST(SerialPortNames, UnusableNamesAreRefused) {
  const std::string names[] = {
      "COM", "COMx", "COM12a", "COM0", "COM/dev/nonexistent-port", "COM/dev/null", "COM/tmp",
      "COM/" + std::string(300, 'a'), std::string("COM/dev/pts/0\0x", 15),
  };
  for (const std::string& name : names) EXPECT_THROW(COM com(name), Notification::OpeningPort) << name;
}

TEST_F(SerialPort, TimeoutsReturnNothingWithoutThrowing) {
  uint8_t buf[4];
  for (int ms : {0, 30}) {
    com.setRcvTimeout(ms);
    EXPECT_EQ(com.recv(buf, sizeof buf), 0);
  }
}

TEST_F(SerialPort, HangUpIsALostDevice) {
  com.setRcvTimeout(-1);
  auto reader = std::async(std::launch::async, [this] {
    uint8_t b;
    return com.recv(&b, 1);
  });
  peer.hangUp();
  EXPECT_THROW(reader.get(), Notification::ContactingDevice);
}

// True while the thread tid is blocked in poll (which the receive waits in).
bool blockedInPoll(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  return (in >> number) && (number == SYS_poll || number == SYS_ppoll);
}

// A receive without limit, inside a cancellable call, ends once the call's
// flag is raised while it waits; it would wait for ever on this silent line.
TEST_F(SerialPort, ACancelEndsAReceiveWaitingWithoutLimit) {
  com.setRcvTimeout(-1);
  CancelFlag flag;
  std::atomic<long> tid{0};
  auto reader = std::async(std::launch::async, [&] {
    const CancelScope scope(flag);
    tid = syscall(SYS_gettid);
    uint8_t b;
    return com.recv(&b, 1);
  });
  vexa_test::awaitWithin("the receive's wait", [&] { return tid != 0 && blockedInPoll(tid); }, [] {});
  flag.raise();
  if (reader.wait_for(vexa_test::kDeadline) != std::future_status::ready) vexa_test::hung("the cancelled receive");
  EXPECT_THROW(reader.get(), Error::Cancelled);
}

}  // namespace
}  // namespace Vexa
