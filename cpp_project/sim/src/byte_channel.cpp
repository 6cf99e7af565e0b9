#include "vexa_sim/byte_channel.h"

#include <algorithm>

namespace vexa_sim {

bool ByteChannel::write(const uint8_t* data, size_t len) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    bytes_.insert(bytes_.end(), data, data + len);
  }
  ready_.notify_all();
  return true;
}

int ByteChannel::read(uint8_t* buf, int len, std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [this] { return !bytes_.empty() || closed_ || woken_; };
  if (!timeout) {
    ready_.wait(lock, ready);
  } else if (timeout->count() > 0) {
    ready_.wait_for(lock, *timeout, ready);
  }
  woken_ = false;
  if (!bytes_.empty() && len > 0) {
    size_t n = std::min(bytes_.size(), static_cast<size_t>(len));
    std::copy_n(bytes_.begin(), n, buf);
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int>(n);
  }
  // Bytes written before a close stay readable; only then is it the end.
  return closed_ && bytes_.empty() ? -1 : 0;
}

void ByteChannel::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

void ByteChannel::wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  ready_.notify_all();
}

bool ByteChannel::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

}  // namespace vexa_sim
