// The fake D2XX library's exports beside its FT_* calls (fake_d2xx.cpp):
// the hub that the fake LibFT4222 builds use, and the test controls.
#include <cstring>

#include "fake_adapters.h"

using fake_ftdi::Adapters;

extern "C" {

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

FAKE_FTDI_EXPORT void FakeFtdi_HoldNextCall(const char* function, int ms) {
  Adapters::instance().holdNextCall(function, ms);
}

FAKE_FTDI_EXPORT int FakeFtdi_AwaitHeld(int ms) { return Adapters::instance().awaitHeld(ms) ? 1 : 0; }

FAKE_FTDI_EXPORT void FakeFtdi_ArriveAfterNextCount(const uint8_t* data, size_t len) {
  Adapters::instance().arriveAfterNextCount(data, len);
}

FAKE_FTDI_EXPORT size_t FakeFtdi_TakeWritten(int index, uint8_t* out, size_t size) {
  return Adapters::instance().takeWritten(index, out, size);
}

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
