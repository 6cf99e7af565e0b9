// On Windows the host hands over an event handle.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "fake_wire.h"

namespace fake_ftdi {

void signalHostEvent(void* param) { SetEvent(static_cast<HANDLE>(param)); }

}  // namespace fake_ftdi
