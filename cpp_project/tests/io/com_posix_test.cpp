// The serial transport on real pseudo-terminals.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "io/com.h"
#include "vexa/exceptions.h"
#include "vexa_sim/pty_link.h"

namespace Vexa {
namespace {

using Bytes = std::vector<uint8_t>;

using vexa_sim::PtyLink;

// Reads exactly n bytes from the device's side, waiting at most 5 s for each.
Bytes readPeer(PtyLink& peer, size_t n) {
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
void writePeer(PtyLink& peer, const Bytes& b) { peer.write(b.data(), b.size()); }

// Receives exactly n bytes through the transport.
Bytes recvBytes(IO& io, size_t n) {
  Bytes out(n);
  IO::recvAll(io, out.data(), static_cast<int>(n));
  return out;
}

TEST(SerialPort, RawBytesBothWays) {
  PtyLink peer;
  COM com(peer.comPath());
  com.setRcvTimeout(5000);
  // Line-discipline bytes: CR, LF, ^C, XON, XOFF, DEL, ^D, 0xFF.
  const Bytes control = {0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F, 0x04, 0xFF, 0x00};
  com.send(control.data(), static_cast<int>(control.size()));
  EXPECT_EQ(readPeer(peer, control.size()), control);
  writePeer(peer, control);
  EXPECT_EQ(recvBytes(com, control.size()), control);
  // Nothing was echoed back to the device side.
  com.setRcvTimeout(0);
  uint8_t b;
  EXPECT_EQ(com.recv(&b, 1), 0);
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
  PtyLink peer;
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
  PtyLink peer;
  COM com(peer.comPath());
  com.setRcvTimeout(-1);
  auto reader = std::async(std::launch::async, [&com] { return recvBytes(com, 4); });
  const Bytes ping = {'p', 'i', 'n', 'g'};
  com.send(ping.data(), 4);  // must not wait for the blocked receive
  ASSERT_EQ(readPeer(peer, 4), ping);
  writePeer(peer, {'p', 'o', 'n', 'g'});
  EXPECT_EQ(reader.get(), (Bytes{'p', 'o', 'n', 'g'}));
}

TEST(SerialPort, HangUpIsALostDevice) {
  PtyLink peer;
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
