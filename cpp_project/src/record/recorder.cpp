// The recorder: the loop thread copies instants into a ring, a writer
// thread of the recorder's own drains it into the file's format, filling
// the ticks that are missing so that time in the file stays true.
#include "vexa/recorder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "record/bdf_layout.h"
#include "record/instant_ring.h"
#include "record/sink.h"
#include "vexa/exceptions.h"

namespace Vexa {

namespace {

constexpr int64_t kNoTick = std::numeric_limits<int64_t>::min();
constexpr int64_t kMaxJump = int64_t{1} << 20;
constexpr const char* kWhere = "Vexa::Recorder::Recorder";

RecordingFormat formatOf(const std::string& path) {
  std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".bdf") return RecordingFormat::kBdf;
  if (ext == ".csv") return RecordingFormat::kCsv;
  VEXA_THROW_AT(Error::InvalidParameter, kWhere);
}

void validate(const RecordingInfo& info) {
  const RecordingStart& s = info.start;
  bool ok = std::isfinite(info.baseFrequency) && info.baseFrequency > 0 && info.baseFrequency <= 1e7 &&
            !info.channels.empty() && info.channels.size() <= 512 && s.year >= 1985 && s.year <= 2084 &&
            s.month >= 1 && s.month <= 12 && s.day >= 1 && s.day <= 31 && s.hour >= 0 && s.hour <= 23 &&
            s.minute >= 0 && s.minute <= 59 && s.second >= 0 && s.second <= 59;
  for (const RecordedChannel& c : info.channels) {
    ok = ok && c.freqDivisor >= 1 && ((c.nBits >= 1 && c.nBits <= 16) || c.nBits == 24);
  }
  if (!ok) VEXA_THROW_AT(Error::InvalidParameter, kWhere);
}

struct PendingEvent {
  int64_t tick;  // the current instant when it was added, kNoTick before any
  std::string text;
};

}  // namespace

RecordingStart RecordingStart::now() {
  static std::mutex mutex;  // std::localtime shares one buffer
  std::lock_guard<std::mutex> lock(mutex);
  const std::time_t t = std::time(nullptr);
  const std::tm* tm = std::localtime(&t);
  if (!tm) return {2000, 1, 1, 0, 0, 0};
  return {tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, std::min(tm->tm_sec, 59)};
}

class Recorder::Impl {
 public:
  Impl(const std::string& path, RecordingFormat format, const RecordingInfo& info, size_t capacity)
      : channels_(static_cast<int>(info.channels.size())),
        ring_(capacity ? capacity
                       : std::max<size_t>(1024, static_cast<size_t>(std::ceil(10 * info.baseFrequency))),
              info.channels.size()) {
    if (format == RecordingFormat::kBdf) record::planRecords(info.baseFrequency, info.channels);  // checks first
    record::FilePtr file = record::createFile(path);
    sink_ = format == RecordingFormat::kBdf ? record::makeBdfSink(std::move(file), info)
                                             : record::makeCsvSink(std::move(file), info);
    bytes_ = sink_->bytesWritten();
    writer_ = std::thread([this] { run(); });
  }

  ~Impl() {
    try {
      close();
    } catch (...) {
      // A destructor cannot report, whatever the writer met (the disk, or
      // memory); counters().writeFailed tells.
    }
  }

  void addInstant(int64_t tick, const int32_t* samples, int n) {
    if (n != channels_ || !samples) VEXA_THROW(Error::InvalidParameter);
    busy_.store(true);
    struct Idle {
      std::atomic<bool>& busy;
      ~Idle() { busy.store(false); }
    } idle{busy_};
    if (closing_.load()) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    if (lastTick_ != kNoTick && (tick <= lastTick_ || tick - lastTick_ - 1 > kMaxJump)) {
      VEXA_THROW(Error::InvalidParameter);
    }
    if (lastTick_ != kNoTick && tick != lastTick_ + 1) {
      const int64_t skipped = tick - lastTick_ - 1;
      if (pending_.lost == 0) {
        pending_.jumpFrom = lastTick_;
        pending_.jumpTo = tick;
      }
      pending_.lost += skipped;
      lost_.fetch_add(static_cast<uint64_t>(skipped), std::memory_order_relaxed);
    }
    lastTick_ = tick;
    currentTick_.store(tick, std::memory_order_relaxed);
    pending_.tick = tick;
    if (ring_.push(pending_, samples)) {
      pending_ = {};
    } else {
      ++pending_.dropped;
      dropped_.fetch_add(1, std::memory_order_relaxed);
    }
  }

  void addText(std::string text) {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    events_.push_back({currentTick_.load(std::memory_order_relaxed), std::move(text)});
  }

  RecorderCounters counters() const {
    RecorderCounters c;
    c.instantsWritten = written_.load();
    c.lostTicks = lost_.load();
    c.droppedInstants = dropped_.load();
    c.bytesWritten = bytes_.load();
    c.writeFailed = failed_.load();
    return c;
  }

  std::string failure() const {
    if (!failed_.load()) return {};
    try {
      std::rethrow_exception(failure_);
    } catch (const std::exception& e) {
      return e.what();
    } catch (...) {
      return "unknown failure";
    }
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    // From here on addInstant returns at once; wait for one in progress.
    closing_.store(true);
    while (busy_.load()) std::this_thread::yield();
    {
      std::lock_guard<std::mutex> lock(wakeMutex_);
      stop_ = true;
    }
    wake_.notify_one();
    writer_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void run() {
    for (;;) {
      bool stop;
      {
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stop_; });
        stop = stop_;
      }
      try {
        if (failed_) {
          while (ring_.available()) ring_.pop();
        } else {
          drain();
          if (stop) {
            finishTail();
            sink_->finish();
          } else {
            sink_->flush();
          }
          bytes_.store(sink_->bytesWritten());
        }
      } catch (...) {
        failure_ = std::current_exception();
        failed_.store(true);
      }
      if (stop) return;
    }
  }

  void drain() {
    size_t ready = ring_.available();
    // Events stamped at the instants just seen were queued before them.
    {
      std::lock_guard<std::mutex> lock(eventsMutex_);
      for (PendingEvent& e : events_) waiting_.push_back(std::move(e));
      events_.clear();
    }
    for (; ready > 0; --ready) {
      const record::InstantMeta& m = ring_.frontMeta();
      if (last_ == kNoTick) {
        sink_->start(m.tick);
        last_ = m.tick - 1;
        first_ = m.tick;
      }
      fillGap(m);
      writeEvents(m.tick - 1);
      sink_->instant(m.tick, ring_.frontSamples());
      ring_.pop();
      last_ = m.tick;
      written_.fetch_add(1, std::memory_order_relaxed);
    }
    if (last_ != kNoTick) writeEvents(last_);
  }

  void fillGap(const record::InstantMeta& m) {
    const int64_t missing = m.tick - last_ - 1;
    if (missing <= 0) return;
    writeEvents(last_);
    if (m.lost > 0) {
      sink_->annotation(m.jumpFrom + 1, m.lost,
                        "Lost " + std::to_string(m.lost) + " ticks: sequence jumped from " +
                            std::to_string(m.jumpFrom) + " to " + std::to_string(m.jumpTo));
    }
    if (m.dropped > 0) {
      sink_->annotation(last_ + 1, missing,
                        "Recorder overflow: " + std::to_string(m.dropped) + " instants dropped");
    }
    sink_->gap(last_ + 1, missing);
  }

  // Instants the ring refused at the very end still count: their ticks are
  // filled and the overflow is noted.
  void finishTail() {
    if (last_ == kNoTick) {
      sink_->start(0);
      first_ = last_ = 0;
    }
    if (pending_.dropped > 0 && lastTick_ > last_) {
      pending_.tick = lastTick_ + 1;
      fillGap(pending_);
      last_ = lastTick_;
    }
    writeEvents(std::numeric_limits<int64_t>::max());
  }

  void writeEvents(int64_t upTo) {
    size_t done = 0;
    for (; done < waiting_.size() && waiting_[done].tick <= upTo; ++done) {
      sink_->annotation(std::max(waiting_[done].tick, first_), 0, waiting_[done].text);
    }
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(done));
  }

  const int channels_;
  record::InstantRing ring_;
  std::unique_ptr<record::Sink> sink_;

  // Producer side (the loop thread).
  int64_t lastTick_ = kNoTick;
  record::InstantMeta pending_{};
  std::atomic<int64_t> currentTick_{kNoTick};
  std::atomic<bool> busy_{false};
  std::atomic<bool> closing_{false};

  std::mutex eventsMutex_;
  std::vector<PendingEvent> events_;

  // Writer thread side.
  std::vector<PendingEvent> waiting_;
  int64_t last_ = kNoTick;  // last tick handed to the sink
  int64_t first_ = 0;
  std::exception_ptr failure_;

  std::atomic<uint64_t> written_{0}, lost_{0}, dropped_{0}, bytes_{0};
  std::atomic<bool> failed_{false};

  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool closed_ = false;
  std::thread writer_;
};

Recorder::Recorder(const std::string& filePath, const RecordingInfo& info, size_t ringCapacity)
    : Recorder(filePath, formatOf(filePath), info, ringCapacity) {}

Recorder::Recorder(const std::string& filePath, RecordingFormat format, const RecordingInfo& info,
                   size_t ringCapacity) {
  validate(info);
  impl_ = std::make_unique<Impl>(filePath, format, info, ringCapacity);
}

Recorder::~Recorder() = default;

void Recorder::addInstant(int64_t tick, const int32_t* samples, int n) { impl_->addInstant(tick, samples, n); }

void Recorder::addEvent(const Event& event) {
  if (event.type == Event::kDigitalInput) {
    const auto& e = static_cast<const Events::DigitalInput&>(event);
    impl_->addText("Digital input " + std::to_string(e.input) + ": " + (e.state ? "1" : "0") +
                   " (clock source " + std::to_string(e.clockSource) + ", clock value " +
                   std::to_string(e.clockValue) + ")");
  } else if (event.type == Event::kDisconnect) {
    impl_->addText("Disconnect (reason " + std::to_string(static_cast<const Events::Disconnect&>(event).reason) +
                   ")");
  }
}

bool Recorder::addMarker(const std::string& text) {
  impl_->addText("Marker: " + text);
  return true;
}

RecorderCounters Recorder::counters() const { return impl_->counters(); }

std::string Recorder::failure() const { return impl_->failure(); }

void Recorder::close() { impl_->close(); }

}  // namespace Vexa
