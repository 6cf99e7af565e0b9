// The fake D2XX library holds every adapter; the fake LibFT4222 builds
// reach them through this interface, tagging each call with their build and
// with the copy of D2XX whose handles they know.
#ifndef VEXA_SIM_FTDI_FAKE_HUB_H_
#define VEXA_SIM_FTDI_FAKE_HUB_H_

#include <cstdint>

#include "fake_ftdi.h"
#include "io/usb/ftdi_api.h"

namespace fake_ftdi {

using Vexa::ftdi::Dword;
using Vexa::ftdi::Handle;
using Vexa::ftdi::Status;

// The copies of D2XX: the D2XX library itself, and the one that Linux's
// LibFT4222 carries inside. A handle is known only to the copy that opened
// it. The two Linux LibFT4222 fakes stand for one library and share a copy.
constexpr char kD2xxLibrary[] = "d2xx";
constexpr char kD2xxInFt4222[] = "ft4222";

// Who makes a call: the LibFT4222 build ("", "AB"; "" for the D2XX
// library) and the copy of D2XX it goes through.
struct Caller {
  const char* build;
  const char* d2xx;
};

class Hub {
 public:
  virtual Status createDeviceInfoList(const Caller& c, Dword* count) = 0;
  virtual Status getDeviceInfoDetail(const Caller& c, Dword index, Dword* flags, Dword* type, Dword* id,
                                     Dword* location, char* serial, char* description, Handle* handle) = 0;
  virtual Status open(const Caller& c, int index, Handle* handle) = 0;
  virtual Status setLatencyTimer(const Caller& c, Handle h, uint8_t ms) = 0;
  virtual Status getStatus(const Caller& c, Handle h, Dword* rx, Dword* tx, Dword* events) = 0;
  virtual Status setUsbParameters(const Caller& c, Handle h, uint32_t in, uint32_t out) = 0;
  virtual Status close(const Caller& c, Handle h) = 0;

  virtual Status getVersion(const Caller& c, Handle h, Vexa::ftdi::Version* version) = 0;
  virtual Status spiSlaveInit(const Caller& c, Handle h) = 0;
  virtual Status setClock(const Caller& c, Handle h, int clock) = 0;
  virtual Status setEventNotification(const Caller& c, Handle h, uint32_t mask, void* param) = 0;
  virtual Status getRxStatus(const Caller& c, Handle h, uint16_t* waiting) = 0;
  virtual Status read(const Caller& c, Handle h, uint8_t* buf, uint16_t len, uint16_t* got) = 0;
  virtual Status write(const Caller& c, Handle h, const uint8_t* buf, uint16_t len, uint16_t* written) = 0;
  virtual Status unInitialize(const Caller& c, Handle h) = 0;

 protected:
  ~Hub() = default;
};

#ifndef FAKE_FT4222_BUILD
#define FAKE_FT4222_BUILD ""
#endif

// The library being built: the D2XX library, or a LibFT4222 build that on
// Linux carries its own D2XX (FAKE_FT4222_OWN_D2XX).
#ifdef FAKE_FT4222_OWN_D2XX
constexpr Caller kThisLibrary{FAKE_FT4222_BUILD, kD2xxInFt4222};
#else
constexpr Caller kThisLibrary{FAKE_FT4222_BUILD, kD2xxLibrary};
#endif

}  // namespace fake_ftdi

extern "C" FAKE_FTDI_EXPORT fake_ftdi::Hub* FakeFtdi_Hub(void);

#endif  // VEXA_SIM_FTDI_FAKE_HUB_H_
