// The device object of "vexa record": every sample instant and event goes
// to the recorder, on the loop's thread, with the acquisition's 64-bit
// ticks, the ones its fitted clock counts.
#ifndef VEXA_TOOLS_VEXA_RECORDING_DEV_H_
#define VEXA_TOOLS_VEXA_RECORDING_DEV_H_

#include <atomic>
#include <cstdint>
#include <optional>

#include "vexa/recorder.h"
#include "vexa/signals_dev.h"

namespace vexa_cli {

class RecordingDev : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;

  // Before the loop: where instants go, and how many ticks from the first
  // one to keep (0: until stopped).
  void begin(Vexa::Recorder& recorder, int64_t tickLimit) {
    recorder_ = &recorder;
    limit_ = tickLimit;
    channels_ = channelCount();
  }

  bool onRawFrame(int nSeq, const int data[]) override {
    if (done_) return true;  // the rest of the frame that reached the limit
    tick_ = deliveredTick();
    if (!started_) first_ = tick_;
    started_ = true;
    if (limit_ > 0 && tick_ - first_ >= limit_) return done_ = true;
    recorder_->addInstant(tick_, data, channels_);
    instants.fetch_add(1, std::memory_order_relaxed);
    if (limit_ > 0 && tick_ - first_ + 1 >= limit_) return done_ = true;
    return stopRequested.load(std::memory_order_relaxed);
  }

  bool onEvent(const Vexa::Event& ev) override {
    if (ev.type == Vexa::Event::kDigitalInput && started_ &&
        static_cast<const Vexa::Events::DigitalInput&>(ev).clockSource == kTickClock) {
      // Stamped with the tick counter's low 32 bits: noted at that tick,
      // the one nearest the instant delivered last.
      const uint32_t low = static_cast<const Vexa::Events::DigitalInput&>(ev).clockValue;
      recorder_->addEvent(ev, tick_ + static_cast<int32_t>(low - static_cast<uint32_t>(tick_)));
    } else {
      recorder_->addEvent(ev);
    }
    if (ev.type != Vexa::Event::kDisconnect) return false;
    disconnectReason = static_cast<const Vexa::Events::Disconnect&>(ev).reason;
    return true;  // the acquisition is over
  }
  bool onTimeout() override { return timedOut = true; }
  bool onInterrupt(void*) override { return true; }

  std::atomic<bool> stopRequested{false};  // set by another thread
  std::atomic<int64_t> instants{0};        // read by another thread
  // Read once the loop has returned.
  bool timedOut = false;
  std::optional<int> disconnectReason;

 private:
  Vexa::Recorder* recorder_ = nullptr;
  int64_t limit_ = 0;
  int channels_ = 0;
  bool started_ = false, done_ = false;
  int64_t first_ = 0, tick_ = 0;
  static constexpr int32_t kTickClock = 2;  // a digital input's clock source: the tick counter
};

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_RECORDING_DEV_H_
