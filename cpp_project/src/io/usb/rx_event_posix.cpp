// The condition variable, mutex and flag that FTDI's Linux libraries
// signal. A library that signals without setting the flag still wakes the
// wait; the caller looks at the bytes waiting either way.
#include <errno.h>
#include <time.h>

#include "io/usb/ftdi_event_posix.h"
#include "io/usb/rx_event.h"
#include "vexa/exceptions.h"

namespace Vexa {

struct RxEvent::Impl {
  ftdi::EventHandle handle;
};

RxEvent::RxEvent() : impl_(std::make_unique<Impl>()) {
  pthread_condattr_t attributes;
  if (pthread_condattr_init(&attributes) != 0) VEXA_THROW(Notification::InitializingPort);
  // Deadlines on the monotonic clock: a change of the wall clock must not
  // stretch or cut a wait.
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  const int made = pthread_cond_init(&impl_->handle.condition, &attributes);
  pthread_condattr_destroy(&attributes);
  if (made != 0) VEXA_THROW(Notification::InitializingPort);
  if (pthread_mutex_init(&impl_->handle.mutex, nullptr) != 0) {
    pthread_cond_destroy(&impl_->handle.condition);
    VEXA_THROW(Notification::InitializingPort);
  }
  impl_->handle.signalled = 0;
}

RxEvent::~RxEvent() {
  pthread_mutex_destroy(&impl_->handle.mutex);
  pthread_cond_destroy(&impl_->handle.condition);
}

void* RxEvent::param() { return &impl_->handle; }

RxEvent::Wait RxEvent::wait(int ms) {
  ftdi::EventHandle& h = impl_->handle;
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  if (pthread_mutex_lock(&h.mutex) != 0) return Wait::kFailed;
  int result = 0;
  if (!h.signalled && ms > 0) result = pthread_cond_timedwait(&h.condition, &h.mutex, &deadline);
  const bool signalled = h.signalled != 0 || (ms > 0 && result == 0);
  h.signalled = 0;
  pthread_mutex_unlock(&h.mutex);
  if (signalled) return Wait::kSignalled;
  return result == 0 || result == ETIMEDOUT ? Wait::kTimedOut : Wait::kFailed;
}

}  // namespace Vexa
