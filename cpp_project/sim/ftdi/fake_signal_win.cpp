// On Windows the host hands over an event handle, whose state holds the
// signal until a wait takes it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "fake_wire.h"

namespace fake_ftdi {

void signalHostEvent(void* param, bool /*setFlag*/) { SetEvent(static_cast<HANDLE>(param)); }

}  // namespace fake_ftdi
