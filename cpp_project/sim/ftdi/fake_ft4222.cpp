// A fake LibFT4222 build: forwards every call to the fake D2XX library,
// which holds the adapters. FAKE_FT4222_BUILD tags the calls ("" or "AB");
// FAKE_FT4222_OWN_D2XX gives it its own copy of D2XX (fake_d2xx.cpp), as on
// Linux; FAKE_FT4222_WITHOUT_UNINITIALIZE leaves the last entry point out.
#include "fake_hub.h"

using fake_ftdi::Handle;
using fake_ftdi::kThisLibrary;
using fake_ftdi::Status;

extern "C" {

FAKE_FTDI_EXPORT Status FT4222_GetVersion(Handle h, Vexa::ftdi::Version* version) {
  return FakeFtdi_Hub()->getVersion(kThisLibrary, h, version);
}

FAKE_FTDI_EXPORT Status FT4222_SPISlave_Init(Handle h) { return FakeFtdi_Hub()->spiSlaveInit(kThisLibrary, h); }

FAKE_FTDI_EXPORT Status FT4222_SetClock(Handle h, int clock) { return FakeFtdi_Hub()->setClock(kThisLibrary, h, clock); }

FAKE_FTDI_EXPORT Status FT4222_SetEventNotification(Handle h, uint32_t mask, void* param) {
  return FakeFtdi_Hub()->setEventNotification(kThisLibrary, h, mask, param);
}

FAKE_FTDI_EXPORT Status FT4222_SPISlave_GetRxStatus(Handle h, uint16_t* waiting) {
  return FakeFtdi_Hub()->getRxStatus(kThisLibrary, h, waiting);
}

FAKE_FTDI_EXPORT Status FT4222_SPISlave_Read(Handle h, uint8_t* buf, uint16_t len, uint16_t* got) {
  return FakeFtdi_Hub()->read(kThisLibrary, h, buf, len, got);
}

FAKE_FTDI_EXPORT Status FT4222_SPISlave_Write(Handle h, const uint8_t* buf, uint16_t len, uint16_t* written) {
  return FakeFtdi_Hub()->write(kThisLibrary, h, buf, len, written);
}

#ifndef FAKE_FT4222_WITHOUT_UNINITIALIZE
FAKE_FTDI_EXPORT Status FT4222_UnInitialize(Handle h) { return FakeFtdi_Hub()->unInitialize(kThisLibrary, h); }
#endif

}  // extern "C"
