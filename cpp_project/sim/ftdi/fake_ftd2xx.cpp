// The fake D2XX library's exports: the FT_* calls, the hub that the fake
// LibFT4222 builds use, and the test controls.
#include <cstring>

#include "fake_adapters.h"

using fake_ftdi::Adapters;
using fake_ftdi::Handle;
using fake_ftdi::Status;
using Vexa::ftdi::Dword;

extern "C" {

FAKE_FTDI_EXPORT Status FT_CreateDeviceInfoList(Dword* count) { return Adapters::instance().createDeviceInfoList(count); }

FAKE_FTDI_EXPORT Status FT_GetDeviceInfoDetail(Dword index, Dword* flags, Dword* type, Dword* id, Dword* location,
                                               char* serial, char* description, Handle* handle) {
  return Adapters::instance().getDeviceInfoDetail(index, flags, type, id, location, serial, description, handle);
}

FAKE_FTDI_EXPORT Status FT_Open(int index, Handle* handle) { return Adapters::instance().open(index, handle); }

FAKE_FTDI_EXPORT Status FT_SetLatencyTimer(Handle h, uint8_t ms) { return Adapters::instance().setLatencyTimer(h, ms); }

FAKE_FTDI_EXPORT Status FT_GetStatus(Handle h, Dword* rx, Dword* tx, Dword* events) {
  return Adapters::instance().getStatus(h, rx, tx, events);
}

FAKE_FTDI_EXPORT Status FT_SetUSBParameters(Handle h, uint32_t in, uint32_t out) {
  return Adapters::instance().setUsbParameters(h, in, out);
}

FAKE_FTDI_EXPORT Status FT_Close(Handle h) { return Adapters::instance().close(h); }

FAKE_FTDI_EXPORT fake_ftdi::Hub* FakeFtdi_Hub(void) { return &Adapters::instance(); }

FAKE_FTDI_EXPORT void FakeFtdi_Reset(void) { Adapters::instance().reset(); }

FAKE_FTDI_EXPORT int FakeFtdi_AddAdapter(uint32_t flags, uint32_t type, uint32_t id, uint32_t chipVersion,
                                         const char* model) {
  return Adapters::instance().add(flags, type, id, chipVersion, model != nullptr ? model : "");
}

FAKE_FTDI_EXPORT void FakeFtdi_FailCall(const char* function, uint32_t status, int times) {
  Adapters::instance().failCall(function, status, times);
}

FAKE_FTDI_EXPORT void FakeFtdi_ShortenNextWrite(uint16_t missing) { Adapters::instance().shortenNextWrite(missing); }

FAKE_FTDI_EXPORT size_t FakeFtdi_Log(char* out, size_t size) {
  const std::string log = Adapters::instance().log();
  if (out != nullptr && size > 0) {
    const size_t n = log.size() < size - 1 ? log.size() : size - 1;
    std::memcpy(out, log.data(), n);
    out[n] = '\0';
  }
  return log.size();
}

FAKE_FTDI_EXPORT int FakeFtdi_OpenCount(void) { return Adapters::instance().openCount(); }

}  // extern "C"
