#include "sample_ring.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "vexa/log.h"

namespace Vexa {
namespace Unity {

const char kSampleRingOverflowText[] = "The sample ring overflowed: sample instants were dropped.";

void SampleRing::FreeMemory::operator()(void* p) const { std::free(p); }

SampleRing::Storage SampleRing::makeStorage(int requested, int baseFreq, int channels, std::string& warning) {
  Storage s;
  const int64_t bytesPerInstant = static_cast<int64_t>(channels * sizeof(int) + sizeof(int64_t));
  int64_t capacity = requested > 0 ? requested : std::max<int64_t>(int64_t{baseFreq} * kDefaultSeconds, 1);
  if (capacity * bytesPerInstant > kMaxBytes) {
    const int64_t cut = kMaxBytes / bytesPerInstant;
    warning = "The sample ring holds " + std::to_string(cut) + " instants of " + std::to_string(channels) +
              " channels, not the " + std::to_string(capacity) + " asked for: that would take more than 1 GiB.";
    capacity = cut;
  }
  const auto bytes = [](int64_t count, size_t size) { return static_cast<size_t>(std::max<int64_t>(count, 1)) * size; };
  s.ticks.reset(static_cast<int64_t*>(std::malloc(bytes(capacity, sizeof(int64_t)))));
  s.samples.reset(static_cast<int*>(std::malloc(bytes(capacity * channels, sizeof(int)))));
  if (!s.ticks || !s.samples) {
    warning = "The sample ring could not get memory for " + std::to_string(capacity) + " instants of " +
              std::to_string(channels) + " channels: every instant will be dropped.";
    return Storage();
  }
  s.capacity = capacity;
  return s;
}

void SampleRing::install(Storage& storage) {
  std::swap(storage_, storage);
  head_.store(0, std::memory_order_relaxed);
  tail_.store(0, std::memory_order_relaxed);
}

void SampleRing::enable(int capacityInstants) {
  std::string warning;
  {
    std::lock_guard<std::mutex> r(readerLock_);
    Storage fresh;
    const bool wasOn = on_.load();
    if (!wasOn && baseFreq_ > 0) fresh = makeStorage(capacityInstants, baseFreq_, channels_.load(), warning);
    std::lock_guard<std::mutex> p(producerLock_);
    requested_ = capacityInstants;
    if (!wasOn) {
      install(fresh);
      on_ = true;
    }
  }  // the old storage goes with fresh, once the loop may go on
  if (!warning.empty()) logMessage(LogLevel::kWarning, warning);
}

void SampleRing::disable() {
  Storage old;  // freed last, with no lock held
  std::lock_guard<std::mutex> r(readerLock_);
  std::lock_guard<std::mutex> p(producerLock_);
  on_ = false;
  install(old);
}

void SampleRing::start(int baseFreq, std::vector<RecordedChannel> layout) {
  std::string warning;
  const int channels = static_cast<int>(layout.size());
  {
    std::lock_guard<std::mutex> r(readerLock_);
    // Allocated before the producer's lock is taken: the loop never waits
    // for memory.
    Storage fresh;
    if (on_) fresh = makeStorage(requested_, baseFreq, channels, warning);
    std::lock_guard<std::mutex> p(producerLock_);
    baseFreq_ = baseFreq;
    channels_ = channels;
    ++acquisition_;
    layout_.swap(layout);
    tickCount_.reset();
    overflow_ = 0;
    overflowReported_ = false;
    // Instants of the earlier acquisition go with its storage: a read never
    // mixes two acquisitions.
    install(fresh);
  }
  if (!warning.empty()) logMessage(LogLevel::kWarning, warning);
}

SampleRing::Push SampleRing::push(int tick, const int* data, int64_t& count) {
  std::lock_guard<std::mutex> p(producerLock_);
  count = tickCount_.next(tick);
  if (!on_.load(std::memory_order_relaxed)) return Push::kOff;
  const uint64_t head = head_.load(std::memory_order_relaxed);
  const uint64_t tail = tail_.load(std::memory_order_acquire);
  const auto capacity = static_cast<uint64_t>(storage_.capacity);
  if (head - tail >= capacity) {
    // Full: the oldest instants stay, this one goes, and the loss is counted.
    overflow_.fetch_add(1, std::memory_order_acq_rel);
    if (overflowReported_) return Push::kDropped;
    overflowReported_ = true;
    return Push::kFirstDrop;
  }
  const size_t slot = static_cast<size_t>(head % capacity);
  const size_t n = static_cast<size_t>(channels_.load(std::memory_order_relaxed));
  storage_.ticks[slot] = count;
  if (n > 0) std::copy(data, data + n, storage_.samples.get() + slot * n);
  head_.store(head + 1, std::memory_order_release);
  return Push::kStored;
}

template <class Tick, class Convert>
int SampleRing::copyOldest(Tick* ticks, Convert convert, int maxInstants, int* samples, int maxSamples) {
  const auto capacity = static_cast<uint64_t>(storage_.capacity);
  if (capacity == 0) return 0;
  const uint64_t tail = tail_.load(std::memory_order_relaxed);
  const uint64_t head = head_.load(std::memory_order_acquire);
  const size_t n = static_cast<size_t>(channels_.load(std::memory_order_relaxed));
  uint64_t count = std::min<uint64_t>(head - tail, static_cast<uint64_t>(maxInstants));
  // An acquisition without channels has ticks only.
  if (n > 0) count = std::min<uint64_t>(count, static_cast<uint64_t>(maxSamples) / n);
  // At most two stretches: up to the end of the storage, then from its start.
  uint64_t done = 0;
  while (done < count) {
    const size_t slot = static_cast<size_t>((tail + done) % capacity);
    const size_t run = static_cast<size_t>(std::min<uint64_t>(count - done, capacity - slot));
    std::transform(storage_.ticks.get() + slot, storage_.ticks.get() + slot + run, ticks + done, convert);
    std::copy_n(storage_.samples.get() + slot * n, run * n, samples + done * n);
    done += run;
  }
  tail_.store(tail + count, std::memory_order_release);
  return static_cast<int>(count);
}

int SampleRing::read(int* ticks, int maxInstants, int* samples, int maxSamples) {
  if (ticks == nullptr || samples == nullptr || maxInstants < 0 || maxSamples < 0) return -1;
  std::lock_guard<std::mutex> r(readerLock_);
  const auto low32 = [](int64_t tick) { return static_cast<int>(static_cast<uint32_t>(tick)); };
  return copyOldest(ticks, low32, maxInstants, samples, maxSamples);
}

SampleRing::Block SampleRing::readBlock(long long* ticks, int maxInstants, int* samples, int maxSamples) {
  std::lock_guard<std::mutex> r(readerLock_);
  Block block;
  block.channels = channels_.load(std::memory_order_relaxed);
  block.acquisition = acquisition_;
  if (!on_.load(std::memory_order_relaxed)) {
    block.outcome = Outcome::kOff;
  } else if (maxInstants < 1 || maxSamples < block.channels) {
    block.outcome = Outcome::kTooSmall;
  } else {
    const auto whole = [](int64_t tick) { return static_cast<long long>(tick); };
    block.instants = copyOldest(ticks, whole, maxInstants, samples, maxSamples);
  }
  return block;
}

SampleRing::Acquisition SampleRing::acquisition() {
  std::lock_guard<std::mutex> r(readerLock_);
  return Acquisition{acquisition_, layout_};
}

}  // namespace Unity
}  // namespace Vexa
