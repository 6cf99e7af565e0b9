// A bounded single-producer single-consumer ring of sample instants. The
// producer (the acquisition loop) never waits and never allocates: a full
// ring refuses the instant.
#ifndef VEXA_RECORD_INSTANT_RING_H_
#define VEXA_RECORD_INSTANT_RING_H_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace Vexa {
namespace record {

struct InstantMeta {
  int64_t tick;
  // What happened between the previous instant in the ring and this one.
  int64_t lost;      // ticks the device's sequence skipped
  int64_t dropped;   // instants refused by a full ring
  int64_t jumpFrom;  // first skip: the tick before it and the tick after it
  int64_t jumpTo;
};

class InstantRing {
 public:
  InstantRing(size_t capacity, size_t channels)
      : capacity_(capacity), channels_(channels), meta_(capacity), samples_(capacity * channels) {}

  // Producer side.
  bool push(const InstantMeta& meta, const int32_t* samples) {
    const size_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) == capacity_) return false;
    const size_t i = head % capacity_;
    meta_[i] = meta;
    std::copy(samples, samples + channels_, &samples_[i * channels_]);
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

  // Consumer side: the number of instants ready, then each one in order.
  size_t available() const {
    return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed);
  }
  const InstantMeta& frontMeta() const { return meta_[tail_.load(std::memory_order_relaxed) % capacity_]; }
  const int32_t* frontSamples() const {
    return &samples_[(tail_.load(std::memory_order_relaxed) % capacity_) * channels_];
  }
  void pop() { tail_.store(tail_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

 private:
  const size_t capacity_;
  const size_t channels_;
  std::vector<InstantMeta> meta_;
  std::vector<int32_t> samples_;
  alignas(64) std::atomic<size_t> head_{0};
  alignas(64) std::atomic<size_t> tail_{0};
};

}  // namespace record
}  // namespace Vexa

#endif  // VEXA_RECORD_INSTANT_RING_H_
