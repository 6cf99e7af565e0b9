// FTDI's Linux libraries signal a condition variable under its mutex,
// normally after setting the flag beside it.
#include "fake_wire.h"
#include "io/usb/ftdi_event_posix.h"

namespace fake_ftdi {

void signalHostEvent(void* param, bool setFlag) {
  auto* event = static_cast<Vexa::ftdi::EventHandle*>(param);
  pthread_mutex_lock(&event->mutex);
  if (setFlag) event->signalled = 1;
  pthread_cond_signal(&event->condition);
  pthread_mutex_unlock(&event->mutex);
}

}  // namespace fake_ftdi
