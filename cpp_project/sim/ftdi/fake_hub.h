// The fake D2XX library holds every adapter; the fake LibFT4222 builds
// reach them through this interface, tagging each call with their build.
#ifndef VEXA_SIM_FTDI_FAKE_HUB_H_
#define VEXA_SIM_FTDI_FAKE_HUB_H_

#include <cstdint>

#include "fake_ftdi.h"
#include "io/usb/ftdi_api.h"

namespace fake_ftdi {

using Vexa::ftdi::Handle;
using Vexa::ftdi::Status;

class Hub {
 public:
  virtual Status getVersion(const char* build, Handle h, Vexa::ftdi::Version* version) = 0;
  virtual Status spiSlaveInit(const char* build, Handle h) = 0;
  virtual Status setClock(const char* build, Handle h, int clock) = 0;
  virtual Status setEventNotification(const char* build, Handle h, uint32_t mask, void* param) = 0;
  virtual Status getRxStatus(const char* build, Handle h, uint16_t* waiting) = 0;
  virtual Status read(const char* build, Handle h, uint8_t* buf, uint16_t len, uint16_t* got) = 0;
  virtual Status write(const char* build, Handle h, const uint8_t* buf, uint16_t len, uint16_t* written) = 0;
  virtual Status unInitialize(const char* build, Handle h) = 0;

 protected:
  ~Hub() = default;
};

}  // namespace fake_ftdi

extern "C" FAKE_FTDI_EXPORT fake_ftdi::Hub* FakeFtdi_Hub(void);

#endif  // VEXA_SIM_FTDI_FAKE_HUB_H_
