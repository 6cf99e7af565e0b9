#include "vexa_sim/packet_channel.h"

#include <algorithm>
#include <utility>

namespace vexa_sim {

bool PacketChannel::write(std::vector<uint8_t> packet) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    if (packet.empty()) return true;  // no air time, nothing to deliver
    packets_.push_back(std::move(packet));
  }
  ready_.notify_all();
  return true;
}

int PacketChannel::read(uint8_t* buf, int len, std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [this] { return !packets_.empty() || closed_; };
  if (!timeout) {
    ready_.wait(lock, ready);
  } else if (timeout->count() > 0) {
    ready_.wait_for(lock, *timeout, ready);
  }
  if (packets_.empty()) return closed_ ? -1 : 0;
  if (len <= 0) return 0;
  const std::vector<uint8_t>& front = packets_.front();
  size_t n = std::min(front.size() - frontTaken_, static_cast<size_t>(len));
  std::copy_n(front.begin() + static_cast<std::ptrdiff_t>(frontTaken_), n, buf);
  frontTaken_ += n;
  if (frontTaken_ == front.size()) {
    packets_.pop_front();
    frontTaken_ = 0;
  }
  return static_cast<int>(n);
}

void PacketChannel::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

}  // namespace vexa_sim
