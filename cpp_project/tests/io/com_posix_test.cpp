// The serial transport on real pseudo-terminals.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "io/com.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

using Bytes = std::vector<uint8_t>;

// The far end of a pseudo-terminal, as a device would hold it.
class PtyPeer {
 public:
  PtyPeer() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    grantpt(master_);
    unlockpt(master_);
    path_ = ptsname(master_);
  }
  ~PtyPeer() { hangUp(); }
  std::string comPath() const { return "COM" + path_; }
  void write(const Bytes& b) { ASSERT_EQ(::write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  // Reads exactly n bytes, waiting at most 5 s for each.
  Bytes read(size_t n) {
    Bytes out;
    while (out.size() < n) {
      pollfd pfd{master_, POLLIN, 0};
      if (poll(&pfd, 1, 5000) <= 0) break;
      uint8_t buf[256];
      ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
      if (got <= 0) break;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }
  void hangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

// Receives exactly n bytes through the transport.
Bytes recvBytes(IO& io, size_t n) {
  Bytes out(n);
  IO::recvAll(io, out.data(), static_cast<int>(n));
  return out;
}

TEST(SerialPort, RawBytesBothWays) {
  PtyPeer peer;
  COM com(peer.comPath());
  com.setRcvTimeout(5000);
  // Line-discipline bytes: CR, LF, ^C, XON, XOFF, DEL, ^D, 0xFF.
  const Bytes control = {0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F, 0x04, 0xFF, 0x00};
  com.send(control.data(), static_cast<int>(control.size()));
  EXPECT_EQ(peer.read(control.size()), control);
  peer.write(control);
  EXPECT_EQ(recvBytes(com, control.size()), control);
  // Nothing was echoed back to the device side.
  com.setRcvTimeout(0);
  uint8_t b;
  EXPECT_EQ(com.recv(&b, 1), 0);
}

TEST(SerialPort, OpenIsExclusiveAndReleasedOnClose) {
  PtyPeer peer;
  {
    COM first(peer.comPath());
    EXPECT_THROW(COM second(peer.comPath()), Notification::OpeningPort);
  }
  EXPECT_NO_THROW(COM again(peer.comPath()));
}

TEST(SerialPort, UnusableNamesAreRefused) {
  const std::string names[] = {
      "COM", "COMx", "COM12a", "COM0", "COM/dev/nonexistent-port", "COM/dev/null", "COM/tmp",
      "COM/" + std::string(300, 'a'), std::string("COM/dev/pts/0\0x", 15),
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_THROW(COM com(name), Notification::OpeningPort);
  }
}

TEST(SerialPort, TimeoutsReturnNothingWithoutThrowing) {
  PtyPeer peer;
  COM com(peer.comPath());
  uint8_t buf[4];
  for (int ms : {0, 30}) {
    com.setRcvTimeout(ms);
    EXPECT_EQ(com.recv(buf, sizeof buf), 0);
  }
  EXPECT_EQ(com.rcvTimeout, 30);
  com.setRcvTimeout(0);
  EXPECT_EQ(com.rcvTimeout, 1);
  com.setRcvTimeout(-1);
  EXPECT_EQ(com.rcvTimeout, 0);
  com.setRcvTimeout(-7);
  EXPECT_EQ(com.rcvTimeout, 0);
}

TEST(SerialPort, SendWhileAnotherThreadWaitsWithoutLimit) {
  PtyPeer peer;
  COM com(peer.comPath());
  com.setRcvTimeout(-1);
  auto reader = std::async(std::launch::async, [&com] { return recvBytes(com, 4); });
  const Bytes ping = {'p', 'i', 'n', 'g'};
  com.send(ping.data(), 4);  // must not wait for the blocked receive
  ASSERT_EQ(peer.read(4), ping);
  peer.write({'p', 'o', 'n', 'g'});
  EXPECT_EQ(reader.get(), (Bytes{'p', 'o', 'n', 'g'}));
}

TEST(SerialPort, HangUpIsALostDevice) {
  PtyPeer peer;
  COM com(peer.comPath());
  com.setRcvTimeout(-1);
  auto reader = std::async(std::launch::async, [&com] {
    uint8_t b;
    return com.recv(&b, 1);
  });
  peer.hangUp();
  EXPECT_THROW(reader.get(), Notification::ContactingDevice);
}

}  // namespace
}  // namespace Vexa
