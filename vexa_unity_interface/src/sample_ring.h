// A bounded ring of sample instants that the loop thread fills and any one
// other thread drains, so that a host can pull the data in batches instead
// of taking one call per instant.
#ifndef VEXA_UNITY_SAMPLE_RING_H_
#define VEXA_UNITY_SAMPLE_RING_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tick_count.h"
#include "vexa/recorder.h"
#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {

class SampleRing {
 public:
  // Seconds of data the default capacity holds at the acquisition's rate.
  static constexpr int64_t kDefaultSeconds = 10;
  // The most bytes the storage may take, ticks and samples: a larger
  // capacity is cut to fit, with a warning, rather than risk the host's
  // memory.
  static constexpr int64_t kMaxBytes = int64_t{1} << 30;

  // Turns the ring on. capacityInstants <= 0 asks for the default, sized at
  // each start from the base frequency. A ring that was off gets storage at
  // once for the acquisition last started, so it can be turned on while one
  // runs; a ring already on keeps its waiting instants and takes the new
  // capacity from the next start.
  void enable(int capacityInstants);
  // Turns the ring off and frees its storage; waiting instants are dropped.
  void disable();
  // A new acquisition of the channels in layout, one sample each per
  // instant: forgets waiting instants and the overflow count, numbers the
  // acquisition (1 for the first in the process) and counts its ticks from
  // its first. Allocates only here (and in enable), never per instant.
  void start(int baseFreq, std::vector<RecordedChannel> layout);

  // The outcome of offering one instant.
  enum class Push { kStored, kOff, kDropped, kFirstDrop };
  // Producer side (the loop thread): keeps the instant when there is room,
  // else drops it and counts it; kFirstDrop marks the first drop of the
  // acquisition. data holds channels() samples. The tick is followed in 64
  // bits also while the ring is off, so a ring turned on later counts from
  // the acquisition's first tick too; count gets the tick's 64-bit count,
  // the one the times and the recording go by.
  Push push(int tick, const int* data, int64_t& count);

  // Reader side (one thread): copies the oldest waiting instants, at most
  // maxInstants of them and at most maxSamples / channels(); ticks[i] (the
  // low 32 bits of the count, as the loop gave them) and
  // samples[i * channels() + c]. Returns how many, or -1 for a null buffer
  // or a negative size.
  int read(int* ticks, int maxInstants, int* samples, int maxSamples);

  // What readBlock() found.
  enum class Outcome { kRead, kOff, kTooSmall };
  struct Block {
    Outcome outcome = Outcome::kRead;
    int instants = 0;
    // Of the acquisition the instants belong to, read with them.
    int channels = 0;
    int acquisition = 0;
  };
  // As read(), with 64-bit ticks, for buffers the caller has checked (not
  // null, sizes not negative). A ring that is off, or room for less than one
  // instant (maxInstants < 1, maxSamples < channels), reads nothing; the
  // block still names the acquisition.
  Block readBlock(long long* ticks, int maxInstants, int* samples, int maxSamples);

  // The last started acquisition: its number (0 before any start) and
  // channels, in the order of an instant's samples.
  struct Acquisition {
    int number = 0;
    std::vector<RecordedChannel> channels;
  };
  Acquisition acquisition();

  int channels() const { return channels_.load(std::memory_order_acquire); }
  // Instants dropped since the last start.
  int64_t overflow() const { return overflow_.load(std::memory_order_acquire); }

 private:
  struct FreeMemory {
    void operator()(void* p) const;
  };
  // Left uninitialised: taking even a large ring costs nothing at the start
  // (while the device already streams); the loop touches its pages as it
  // fills them.
  template <class T>
  using Buffer = std::unique_ptr<T[], FreeMemory>;
  struct Storage {
    int64_t capacity = 0;
    Buffer<int64_t> ticks;
    Buffer<int> samples;
  };
  // Storage for an acquisition; empty (capacity 0, every instant dropped
  // and counted) when the memory cannot be had. What went wrong lands in
  // warning, for the caller to log once it holds no lock: the host's log
  // handler may call back into the ring.
  static Storage makeStorage(int requested, int baseFreq, int channels, std::string& warning);
  // Puts storage in place and forgets every waiting instant; under both
  // locks. The old storage goes back to the caller, to be freed unlocked.
  void install(Storage& storage);
  // Copies what a read may take; under readerLock_.
  template <class Tick, class Convert>
  int copyOldest(Tick* ticks, Convert convert, int maxInstants, int* samples, int maxSamples);

  // The reader and the producer never share a lock: they meet through
  // head_ and tail_ alone. Changing the storage takes readerLock_ then
  // producerLock_, so it waits for a read or an instant in progress.
  std::mutex readerLock_;
  std::mutex producerLock_;

  std::atomic<bool> on_{false};
  int requested_ = 0;  // the host's capacity; <= 0 for the default
  int baseFreq_ = 0;   // of the last start
  std::atomic<int> channels_{0};
  // Written under both locks, so either one reads them with the data.
  int acquisition_ = 0;
  std::vector<RecordedChannel> layout_;
  TickCount tickCount_;  // under producerLock_
  Storage storage_;
  // Instants ever written and ever read since the last reset; head_ -
  // tail_ are waiting. Each side writes only its own.
  std::atomic<uint64_t> head_{0};
  std::atomic<uint64_t> tail_{0};
  std::atomic<int64_t> overflow_{0};
  bool overflowReported_ = false;  // under producerLock_
};

constexpr int kSampleRingOverflowCode = VEXA_EXT_SAMPLE_RING_OVERFLOW;
extern const char kSampleRingOverflowText[];

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_SAMPLE_RING_H_
