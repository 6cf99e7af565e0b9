// Both ends of an in-process packet link, the way a BLE link carries a
// device's output: every write of the device is cut into packets of at
// most kPacketSize bytes, and each host recv returns at most one packet.
// Lets the library's packet paths run against a simulated device.
#ifndef VEXA_SIM_PACKET_TRANSPORT_H_
#define VEXA_SIM_PACKET_TRANSPORT_H_

#include <memory>
#include <utility>

#include "vexa/io.h"
#include "vexa_sim/byte_channel.h"
#include "vexa_sim/link.h"
#include "vexa_sim/packet_channel.h"

namespace vexa_sim {

constexpr int kPacketSize = 20;

// The wires of one packet link, shared by its two ends.
struct PacketWires {
  std::shared_ptr<ByteChannel> hostToDevice = std::make_shared<ByteChannel>();
  std::shared_ptr<PacketChannel> deviceToHost = std::make_shared<PacketChannel>();

  void close() const {
    hostToDevice->close();
    deviceToHost->close();
  }
};

// The host end. recv and send may run on two threads at once. Destroying
// it breaks the link for the device end.
class PacketTransport : public Vexa::IO {
 public:
  explicit PacketTransport(PacketWires wires);
  ~PacketTransport() override;

  // Stored unchanged: > 0 waits at most ms, 0 polls, < 0 waits without limit.
  void setRcvTimeout(int ms) override;
  // The next packet, or as much of it as fits in len (the rest comes with
  // the next call); 0 when the time-out passed. Throws
  // Notification::ContactingDevice once the device end is gone.
  int doRecv(void* buf, int len) override;
  // All len bytes, or Notification::ContactingDevice when the link is broken.
  void doSend(const void* buf, int len) override;

 private:
  PacketWires wires_;
};

// The device end. Destroying it breaks the link for the host end.
class PacketLink : public Link {
 public:
  explicit PacketLink(PacketWires wires);
  ~PacketLink() override;

  int read(uint8_t* buf, int len, std::chrono::milliseconds timeout) override;
  // Cuts the bytes into packets of kPacketSize, the last one shorter.
  void write(const uint8_t* data, size_t len) override;
  void wakeReader() override;
  void breakLink() override { wires_.close(); }

 private:
  PacketWires wires_;
};

// A fresh link: first the host end, then the device end.
std::pair<std::unique_ptr<PacketTransport>, std::unique_ptr<PacketLink>> makePacketPipe();

}  // namespace vexa_sim

#endif  // VEXA_SIM_PACKET_TRANSPORT_H_
