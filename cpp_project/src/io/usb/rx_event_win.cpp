// An automatic-reset Windows event: a signal stays until one wait takes it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "io/usb/rx_event.h"
#include "vexa/exceptions.h"

namespace Vexa {

struct RxEvent::Impl {
  HANDLE event;
};

RxEvent::RxEvent() {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) VEXA_THROW(Notification::InitializingPort);
  try {
    impl_ = std::make_unique<Impl>(Impl{event});
  } catch (...) {
    CloseHandle(event);
    throw;
  }
}

RxEvent::~RxEvent() { CloseHandle(impl_->event); }

void* RxEvent::param() { return impl_->event; }

// A signal that found no waiter is kept by the event itself.
RxEvent::Mark RxEvent::mark() { return 0; }

RxEvent::Wait RxEvent::waitSince(Mark /*mark*/, int ms) {
  switch (WaitForSingleObject(impl_->event, static_cast<DWORD>(ms < 0 ? 0 : ms))) {
    case WAIT_OBJECT_0:
      return Wait::kSignalled;
    case WAIT_TIMEOUT:
      return Wait::kTimedOut;
    default:
      return Wait::kFailed;
  }
}

}  // namespace Vexa
