// The exported pointer to the current device, as the plug-in's own code and
// its tests see it, and how it changes while other host threads may use it.
#ifndef VEXA_UNITY_CURRENT_DEVICE_H_
#define VEXA_UNITY_CURRENT_DEVICE_H_

#include "base_dev_unity.h"
#include "vexa_unity_interface.h"

extern "C" {
extern VEXA_UNITY_API Vexa::BaseDevUnity* vexaDev;
}

namespace Vexa {
namespace Unity {

// Makes next the current device and destroys the earlier one, once no
// borrower still uses it.
void replaceCurrentDevice(BaseDevUnity* next);

// The current device, kept alive for as long as this object lives, for the
// exports that any host thread may call at any time (InterruptAcquisition,
// GetCommunicationFlag). Null when there is none.
class BorrowedDevice {
 public:
  BorrowedDevice();
  ~BorrowedDevice();
  BorrowedDevice(const BorrowedDevice&) = delete;
  BorrowedDevice& operator=(const BorrowedDevice&) = delete;
  BaseDevUnity* get() const { return dev_; }

 private:
  BaseDevUnity* dev_;
};

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_CURRENT_DEVICE_H_
