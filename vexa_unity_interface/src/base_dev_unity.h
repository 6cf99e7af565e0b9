// The device object the exported interface creates: it traces every
// callback of the device loop to the log and forwards it to the host.
#ifndef VEXA_UNITY_BASE_DEV_UNITY_H_
#define VEXA_UNITY_BASE_DEV_UNITY_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vexa/io.h"
#include "vexa/signals_dev.h"

namespace Vexa {

namespace Unity {
class Recording;
class SampleRing;
}  // namespace Unity

class BaseDevUnity : public SignalsDev {
 public:
  // Feeding a ring and a recording of its session's, which outlive it; io
  // is a transport opened by the caller (the built-in simulated device).
  BaseDevUnity(const std::string& path, Unity::SampleRing& ring, Unity::Recording& recording);
  BaseDevUnity(const std::string& path, std::unique_ptr<IO> io, Unity::SampleRing& ring,
               Unity::Recording& recording);
  // Finishes a recording of this device's acquisition.
  ~BaseDevUnity() override;

  bool onEvent(const Event& ev) override;
  bool onTimeout() override;
  bool onInterrupt(void* param) override;
  bool onRawFrame(int nSeq, const int data[]) override;

  using BaseDev::impl;

  // Called by each start export once channelPorts is final, with the
  // sources the acquisition was started with: finishes a recording of the
  // earlier acquisition, keeps the layout for the next recording and
  // prepares the sample ring for the new acquisition at baseFreq hertz.
  void acquisitionStarted(int baseFreq, std::vector<Source> sources);
  // Finishes a recording of the acquisition, then stops the acquisition.
  void stopAcquisition();

  // Whether the calling thread runs this device's loop.
  virtual bool onOwnLoopThread() const;
  // A failure the host learns of on the loop's thread (the recording could
  // not be written): the host's exception handler gets code and text.
  virtual void reportFailure(int code, const char* text) const;

  Unity::SampleRing& ring() const { return ring_; }
  Unity::Recording& recording() const { return recording_; }

  // The base frequency and sources of the last successful start.
  int startedFrequency() const { return startedFrequency_; }
  const std::vector<Source>& startedSources() const { return startedSources_; }

  // The port of each acquired channel, in delivery order; its size is the
  // channel count handed to the host with every frame.
  std::vector<int32_t> channelPorts;
  // Raised by the start exports, lowered by an interrupt; read from any
  // thread by GetCommunicationFlag.
  std::atomic<bool> communicationFlag{false};
  // The 64-bit tick of the instant the raw-data handler is handed (after
  // it, the last one delivered); kNoInstant before the acquisition's first.
  static constexpr int64_t kNoInstant = INT64_MIN;
  std::atomic<int64_t> instantTick{kNoInstant};

 protected:
  // Keeps one instant in the ring and the recording; returns its tick
  // counted in 64 bits from the acquisition's first.
  int64_t takeInstant(int nSeq, const int data[]);
  // The ring dropped instants (count so far in this acquisition); first is
  // true for the acquisition's first drop.
  virtual void ringOverflowed(int64_t count, bool first);

 private:
  Unity::SampleRing& ring_;
  Unity::Recording& recording_;
  int startedFrequency_ = 0;
  std::vector<Source> startedSources_;
};

}  // namespace Vexa

#endif  // VEXA_UNITY_BASE_DEV_UNITY_H_
