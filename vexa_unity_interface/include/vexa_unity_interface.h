/* The plug-in's C interface, as a Unity script (or any C or C++ host) calls
 * it. One device at a time; handlers are called on the thread of the export
 * in progress (StartLoop's for frames and events). */
#ifndef VEXA_UNITY_INTERFACE_H_
#define VEXA_UNITY_INTERFACE_H_

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(VEXA_UNITY_BUILDING)
#define VEXA_UNITY_API __declspec(dllexport)
#else
#define VEXA_UNITY_API __declspec(dllimport)
#endif
#else
#define VEXA_UNITY_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#include <vector>
extern "C" {
#endif

/* One channel source: 16 bytes, four little-endian 32-bit integers. */
typedef struct VexaSource {
  int32_t port;        /* 1-based port number */
  int32_t freqDivisor; /* sampled on every freqDivisor-th tick */
  int32_t nBits;       /* 8, 16 or 24 */
  int32_t chMask;      /* bit i: channel i of the port */
} VexaSource;

typedef void (*VexaNewDeviceFoundHandler)(const char* path);
/* samples is valid only during the call: copy what you keep. */
typedef void (*VexaRawDataHandler)(int nSeq, const int* samples, int nChannels);
typedef void (*VexaExceptionRaisedHandler)(int code, const char* message);
typedef void (*VexaDisconnectEventHandler)(int reason);
typedef void (*VexaDigInEventHandler)(int clockSource, int clockValue, int input, bool state);

VEXA_UNITY_API int WelcomeFunction(void);
VEXA_UNITY_API void VexaDevUnity(const char* path);
VEXA_UNITY_API void DisconnectVexaDevUnity(void);

VEXA_UNITY_API void SetNewDeviceFoundHandler(VexaNewDeviceFoundHandler handler);
VEXA_UNITY_API void SetOnRawDataHandler(VexaRawDataHandler handler);
VEXA_UNITY_API void SetOnExceptionRaisedHandler(VexaExceptionRaisedHandler handler);
VEXA_UNITY_API void SetOnEventDetectedHandlers(VexaDisconnectEventHandler disconnect, VexaDigInEventHandler digIn);

VEXA_UNITY_API void OnNewDeviceFound(const char* path);
VEXA_UNITY_API void OnExceptionRaised(int code, const char* message);
VEXA_UNITY_API void OnDisconnectEventDetected(int reason);
VEXA_UNITY_API void OnDigInEventDetected(int clockSource, int clockValue, int input, bool state);
#ifdef __cplusplus
/* Takes a C++ list by value, so only C++ hosts built with the same
 * compiler can call it. */
VEXA_UNITY_API void OnDataReceived(int nSeq, const int* samples, std::vector<int> channels);
#endif

VEXA_UNITY_API void StartAcquisition(int baseFreq, const char* channels, int nBits);
VEXA_UNITY_API void StartAcquisitionByNbr(int baseFreq, int channelMask, int nBits);
VEXA_UNITY_API void StartAcquisitionBySources(int baseFreq, const VexaSource* sources, int nSources);
VEXA_UNITY_API void StartAcquisitionStrandelo(int baseFreq, int ignored, int nBits, int channelFreq);
VEXA_UNITY_API void StartLoop(void);
VEXA_UNITY_API void InterruptAcquisition(void);
VEXA_UNITY_API void StopAcquisition(void);

VEXA_UNITY_API void GetDetectableDevices(const char* domain);
VEXA_UNITY_API void GetAllDetectableDevices(void);
VEXA_UNITY_API int GetProductId(void);
VEXA_UNITY_API const char* GetDeviceType(void);
VEXA_UNITY_API int GetBattery(void);
VEXA_UNITY_API int GetNbrChannels(void);
VEXA_UNITY_API bool GetCommunicationFlag(void);
VEXA_UNITY_API void SetParameter(int port, int index, const int* data, int dataType);

#ifndef VEXA_UNITY_BUILDING
/* The current device object (opaque to hosts); null when none. */
extern VEXA_UNITY_API void* vexaDev;
#endif

#ifdef __cplusplus
}
#endif

#endif /* VEXA_UNITY_INTERFACE_H_ */
