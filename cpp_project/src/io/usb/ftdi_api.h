// The few entry points of FTDI's D2XX and LibFT4222 libraries that the USB
// transport calls, with the values it passes. Every call reports success as
// status 0. Widths follow the libraries' Windows interface (32-bit DWORD
// and ULONG, 16-bit SPI lengths).
#ifndef VEXA_SRC_IO_USB_FTDI_API_H_
#define VEXA_SRC_IO_USB_FTDI_API_H_

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VEXA_FTDI_CALL __stdcall
#else
#define VEXA_FTDI_CALL
#endif

namespace Vexa {
namespace ftdi {

using Handle = void*;
using Status = uint32_t;
using Dword = uint32_t;

constexpr Status kOk = 0;

struct Version {
  Dword chipVersion;
  Dword dllVersion;
};

// D2XX, in the order they are looked up.
using CreateDeviceInfoListFn = Status(VEXA_FTDI_CALL*)(Dword* count);
using GetDeviceInfoDetailFn = Status(VEXA_FTDI_CALL*)(Dword index, Dword* flags, Dword* type, Dword* id,
                                                      Dword* location, char* serial, char* description,
                                                      Handle* handle);
using OpenFn = Status(VEXA_FTDI_CALL*)(int index, Handle* handle);
using SetLatencyTimerFn = Status(VEXA_FTDI_CALL*)(Handle handle, uint8_t milliseconds);
using GetStatusFn = Status(VEXA_FTDI_CALL*)(Handle handle, Dword* rxBytes, Dword* txBytes, Dword* events);
using SetUsbParametersFn = Status(VEXA_FTDI_CALL*)(Handle handle, uint32_t inSize, uint32_t outSize);
using CloseFn = Status(VEXA_FTDI_CALL*)(Handle handle);

// LibFT4222, in the order they are looked up.
using GetVersionFn = Status(VEXA_FTDI_CALL*)(Handle handle, Version* version);
using SpiSlaveInitFn = Status(VEXA_FTDI_CALL*)(Handle handle);
using SetClockFn = Status(VEXA_FTDI_CALL*)(Handle handle, int clock);
using SetEventNotificationFn = Status(VEXA_FTDI_CALL*)(Handle handle, uint32_t mask, void* param);
using GetRxStatusFn = Status(VEXA_FTDI_CALL*)(Handle handle, uint16_t* waiting);
using SpiSlaveReadFn = Status(VEXA_FTDI_CALL*)(Handle handle, uint8_t* buf, uint16_t len, uint16_t* read);
using SpiSlaveWriteFn = Status(VEXA_FTDI_CALL*)(Handle handle, const uint8_t* buf, uint16_t len,
                                                uint16_t* written);
using UnInitializeFn = Status(VEXA_FTDI_CALL*)(Handle handle);

// Adapter list: flag bits, the FT4222H's device type, vendor and product.
constexpr Dword kFlagOpened = 1;
constexpr Dword kFlagHighSpeed = 2;
constexpr Dword kTypeFt4222H = 12;
constexpr Dword kAdapterId = 0x0403601C;

constexpr uint32_t kUsbInTransferSize = 65536;
constexpr uint8_t kLatencyMs = 1;
constexpr int kClock80MHz = 3;
constexpr uint32_t kEventRxChar = 8;
// Chips before this revision are driven by the "AB" build of LibFT4222.
constexpr Dword kFirstRevCChip = 0x42220300;
constexpr uint32_t kMaxSpiTransfer = 0xFFFF;

}  // namespace ftdi
}  // namespace Vexa

#endif  // VEXA_SRC_IO_USB_FTDI_API_H_
