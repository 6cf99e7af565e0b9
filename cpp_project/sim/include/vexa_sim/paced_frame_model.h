// Base of the legacy families' models: one fixed-size frame per tick of the
// acquisition's rate, written in real time, and the faults that hit them.
#ifndef VEXA_SIM_PACED_FRAME_MODEL_H_
#define VEXA_SIM_PACED_FRAME_MODEL_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "vexa_sim/device_model.h"
#include "vexa_sim/tick_clock.h"

namespace vexa_sim {

class PacedFrameModel : public DeviceModel {
 public:
  std::optional<TimePoint> nextWake() const override;
  // Writes every frame due by now, at most a bounded batch per call.
  void onWake(TimePoint now) override;

  bool acquiring() const { return clock_.has_value(); }
  // Of the running or last acquisition.
  uint64_t framesSent() const { return framesSent_; }
  // Once the last acquisition ended: the index of the first frame not sent.
  std::optional<int64_t> stopFrame() const { return stopFrame_; }

  // Faults on the next frame (of the next acquisition if none runs).
  void injectStrayBytes(const std::vector<uint8_t>& bytes);  // written before it
  void skipFrames(int64_t n);  // it comes n frames later: those are lost
  void corruptNextCrc();
  // Writes bytes as they are, at once.
  void sendRaw(const std::vector<uint8_t>& bytes) { emit(bytes); }

 protected:
  PacedFrameModel() = default;

  // Frame 0 is due at once, frame k at now + k / rate.
  void startFrames(double rate, TimePoint now);
  void stopFrames();
  void emitDueFrames(TimePoint now);

  virtual std::vector<uint8_t> buildFrame(int64_t index) = 0;
  // Spoils the frame's check value.
  virtual void corruptCrc(std::vector<uint8_t>& frame) = 0;

 private:
  std::optional<TickClock> clock_;
  int64_t next_ = 0;
  uint64_t framesSent_ = 0;
  std::optional<int64_t> stopFrame_;
  std::vector<uint8_t> stray_;
  int64_t pendingSkip_ = 0;
  bool corruptNext_ = false;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_PACED_FRAME_MODEL_H_
