// The event that the FTDI library signals when bytes arrive, in the form
// the platform's library expects.
#ifndef VEXA_SRC_IO_USB_RX_EVENT_H_
#define VEXA_SRC_IO_USB_RX_EVENT_H_

#include <cstdint>
#include <memory>

namespace Vexa {

class RxEvent {
 public:
  enum class Wait { kSignalled, kTimedOut, kFailed };
  using Mark = uint64_t;

  // Not signalled. Throws Notification::InitializingPort ("USB::USB").
  RxEvent();
  ~RxEvent();
  RxEvent(const RxEvent&) = delete;
  RxEvent& operator=(const RxEvent&) = delete;

  // What the library's event notification takes.
  void* param();
  // Taken before the bytes waiting are counted: a signal that comes after
  // it, even before the wait begins, ends waitSince at once.
  Mark mark();
  // Waits at most ms milliseconds (0 polls) for a signal since the mark.
  Wait waitSince(Mark mark, int ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_USB_RX_EVENT_H_
