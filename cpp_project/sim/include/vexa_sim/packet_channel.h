// A thread-safe one-way queue of packets: the device-to-host wire of an
// in-process packet link. Packet boundaries are kept as written.
#ifndef VEXA_SIM_PACKET_CHANNEL_H_
#define VEXA_SIM_PACKET_CHANNEL_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace vexa_sim {

class PacketChannel {
 public:
  // Queues one packet; returns false (and drops it) once closed.
  bool write(std::vector<uint8_t> packet);
  // Copies up to len bytes of the front packet, waiting at most timeout
  // (nullopt: no limit, zero or less: poll). What does not fit stays at the
  // front for the next read. Returns 0 on time-out, -1 once closed and
  // drained.
  int read(uint8_t* buf, int len, std::optional<std::chrono::milliseconds> timeout);
  // Ends the channel; wakes a blocked reader.
  void close();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::vector<uint8_t>> packets_;
  size_t frontTaken_ = 0;  // bytes of the front packet already read
  bool closed_ = false;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_PACKET_CHANNEL_H_
