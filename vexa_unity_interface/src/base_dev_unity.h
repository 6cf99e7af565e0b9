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

class BaseDevUnity : public SignalsDev {
 public:
  explicit BaseDevUnity(const std::string& path);
  // On a transport opened by the caller (the built-in simulated device).
  BaseDevUnity(const std::string& path, std::unique_ptr<IO> io);
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

 private:
  int startedFrequency_ = 0;
  std::vector<Source> startedSources_;
};

}  // namespace Vexa

#endif  // VEXA_UNITY_BASE_DEV_UNITY_H_
