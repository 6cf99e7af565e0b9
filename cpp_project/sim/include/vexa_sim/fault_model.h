// Link faults laid over any device model: a device that never answers, or
// stray bytes that are not part of any message or frame.
#ifndef VEXA_SIM_FAULT_MODEL_H_
#define VEXA_SIM_FAULT_MODEL_H_

#include <memory>

#include "vexa_sim/device_model.h"

namespace vexa_sim {

struct LinkFaults {
  // Everything the device would send is dropped: it takes commands and
  // never answers.
  bool silent = false;
  // This many bytes that belong to nothing are sent once, just before the
  // first output of the device's own timing (its first data frame).
  int strayBytes = 0;
};

class FaultModel : public DeviceModel {
 public:
  FaultModel(std::unique_ptr<DeviceModel> inner, LinkFaults faults);

  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;
  std::optional<TimePoint> nextWake() const override { return inner_->nextWake(); }
  void onWake(TimePoint now) override;

 private:
  void pass();

  std::unique_ptr<DeviceModel> inner_;
  LinkFaults faults_;
  bool strayDone_ = false;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_FAULT_MODEL_H_
