// The FT_* calls of one copy of D2XX: the fake D2XX library's, and on Linux
// also those of each fake LibFT4222 build, which carries its own.
#include "fake_hub.h"

using fake_ftdi::Dword;
using fake_ftdi::Handle;
using fake_ftdi::kThisLibrary;
using fake_ftdi::Status;

extern "C" {

FAKE_FTDI_EXPORT Status FT_CreateDeviceInfoList(Dword* count) {
  return FakeFtdi_Hub()->createDeviceInfoList(kThisLibrary, count);
}

FAKE_FTDI_EXPORT Status FT_GetDeviceInfoDetail(Dword index, Dword* flags, Dword* type, Dword* id, Dword* location,
                                               char* serial, char* description, Handle* handle) {
  return FakeFtdi_Hub()->getDeviceInfoDetail(kThisLibrary, index, flags, type, id, location, serial, description,
                                             handle);
}

FAKE_FTDI_EXPORT Status FT_Open(int index, Handle* handle) { return FakeFtdi_Hub()->open(kThisLibrary, index, handle); }

FAKE_FTDI_EXPORT Status FT_SetLatencyTimer(Handle h, uint8_t ms) {
  return FakeFtdi_Hub()->setLatencyTimer(kThisLibrary, h, ms);
}

FAKE_FTDI_EXPORT Status FT_GetStatus(Handle h, Dword* rx, Dword* tx, Dword* events) {
  return FakeFtdi_Hub()->getStatus(kThisLibrary, h, rx, tx, events);
}

FAKE_FTDI_EXPORT Status FT_SetUSBParameters(Handle h, uint32_t in, uint32_t out) {
  return FakeFtdi_Hub()->setUsbParameters(kThisLibrary, h, in, out);
}

FAKE_FTDI_EXPORT Status FT_Close(Handle h) { return FakeFtdi_Hub()->close(kThisLibrary, h); }

}  // extern "C"
