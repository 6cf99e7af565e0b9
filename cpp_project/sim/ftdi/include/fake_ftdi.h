// Test controls of the fake FTDI libraries. The fake D2XX library exports
// them beside the FT_* calls; tests link it, or look them up by name.
//
// A fresh process has no adapters. Each adapter added is listed by
// FT_CreateDeviceInfoList / FT_GetDeviceInfoDetail with the given flags,
// type, identifier and chip version, and, once opened, plays the named
// simulated device behind its SPI slave interface: "current", "quillbox",
// "cadrium", or "" for a device that never answers.
//
// A handle is known only to the copy of D2XX that opened it: on Linux each
// fake libft4222.so carries its own (both builds share one), as FTDI's
// does; on Windows LibFT4222 uses FTD2XX.dll's. A call made while another
// caller is inside the libraries on the same handle fails (status 1009).
#ifndef VEXA_SIM_FTDI_FAKE_FTDI_H_
#define VEXA_SIM_FTDI_FAKE_FTDI_H_

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#define FAKE_FTDI_EXPORT __declspec(dllexport)
#else
#define FAKE_FTDI_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Closes every adapter, forgets them, and clears faults and the call log.
FAKE_FTDI_EXPORT void FakeFtdi_Reset(void);
// Returns the new adapter's D2XX index.
FAKE_FTDI_EXPORT int FakeFtdi_AddAdapter(uint32_t flags, uint32_t type, uint32_t id, uint32_t chipVersion,
                                         const char* model);
// The next `times` calls of the named function (e.g. "FT_GetStatus") return
// status without doing anything; times < 0: every call from now on.
FAKE_FTDI_EXPORT void FakeFtdi_FailCall(const char* function, uint32_t status, int times);
// The next SPI slave write takes `missing` bytes fewer than asked, and says so.
FAKE_FTDI_EXPORT void FakeFtdi_ShortenNextWrite(uint16_t missing);
// The next call of the named function that is alone on its handle waits
// inside, up to ms milliseconds, for a second caller on that handle.
FAKE_FTDI_EXPORT void FakeFtdi_HoldNextCall(const char* function, int ms);
// Waits up to ms milliseconds for that held call to be waiting: 1 if it is.
FAKE_FTDI_EXPORT int FakeFtdi_AwaitHeld(int ms);
// Right after the next FT4222_SPISlave_GetRxStatus has counted the bytes
// waiting, these bytes arrive, and the library signals them as it may on
// Linux: the condition only, without setting the flag beside it.
FAKE_FTDI_EXPORT void FakeFtdi_ArriveAfterNextCount(const uint8_t* data, size_t len);
// Takes up to size bytes that the host wrote to the silent adapter at index
// (added with model ""), in order; returns how many.
FAKE_FTDI_EXPORT size_t FakeFtdi_TakeWritten(int index, uint8_t* out, size_t size);
// The call log, one call per line ("FT_Open 0", "AB:FT4222_SPISlave_Init"):
// copies at most size - 1 characters and a terminator into out, and returns
// the log's full length.
FAKE_FTDI_EXPORT size_t FakeFtdi_Log(char* out, size_t size);
// Adapters open now.
FAKE_FTDI_EXPORT int FakeFtdi_OpenCount(void);

#ifdef __cplusplus
}
#endif

#endif  // VEXA_SIM_FTDI_FAKE_FTDI_H_
