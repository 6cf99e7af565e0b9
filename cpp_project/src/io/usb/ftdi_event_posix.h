// The event object that FTDI's libraries signal on Linux: a condition
// variable with its mutex and a flag, set and signalled under the mutex.
#ifndef VEXA_SRC_IO_USB_FTDI_EVENT_POSIX_H_
#define VEXA_SRC_IO_USB_FTDI_EVENT_POSIX_H_

#include <pthread.h>

namespace Vexa {
namespace ftdi {

struct EventHandle {
  pthread_cond_t condition;
  pthread_mutex_t mutex;
  int signalled;
};

}  // namespace ftdi
}  // namespace Vexa

#endif  // VEXA_SRC_IO_USB_FTDI_EVENT_POSIX_H_
