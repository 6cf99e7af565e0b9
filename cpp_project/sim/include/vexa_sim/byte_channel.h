// A thread-safe one-way byte queue: the wire of an in-process link.
#ifndef VEXA_SIM_BYTE_CHANNEL_H_
#define VEXA_SIM_BYTE_CHANNEL_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace vexa_sim {

class ByteChannel {
 public:
  // Queues the bytes for the reader; returns false (and drops them) once the
  // channel is closed.
  bool write(const uint8_t* data, size_t len);
  // Takes 1..len queued bytes, waiting at most timeout (nullopt: no limit,
  // zero or less: poll). Returns 0 on time-out or wake(), and -1 when the
  // channel is closed and everything written before the close was read.
  int read(uint8_t* buf, int len, std::optional<std::chrono::milliseconds> timeout);
  // Ends the channel for both sides; wakes a blocked reader.
  void close();
  // Makes a blocked read, or else the next one, return 0 at once.
  void wake();
  bool closed() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<uint8_t> bytes_;
  bool closed_ = false;
  bool woken_ = false;
};

// The two directions of one in-process link, shared by its two ends.
struct ChannelPair {
  std::shared_ptr<ByteChannel> hostToDevice = std::make_shared<ByteChannel>();
  std::shared_ptr<ByteChannel> deviceToHost = std::make_shared<ByteChannel>();

  // Breaks the link in both directions.
  void close() const {
    hostToDevice->close();
    deviceToHost->close();
  }
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_BYTE_CHANNEL_H_
