// The event that the FTDI library signals when bytes arrive, in the form
// the platform's library expects.
#ifndef VEXA_SRC_IO_USB_RX_EVENT_H_
#define VEXA_SRC_IO_USB_RX_EVENT_H_

#include <memory>

namespace Vexa {

class RxEvent {
 public:
  enum class Wait { kSignalled, kTimedOut, kFailed };

  // Not signalled. Throws Notification::InitializingPort ("USB::USB").
  RxEvent();
  ~RxEvent();
  RxEvent(const RxEvent&) = delete;
  RxEvent& operator=(const RxEvent&) = delete;

  // What the library's event notification takes.
  void* param();
  // Waits at most ms milliseconds (0 polls); a signal is consumed.
  Wait wait(int ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_USB_RX_EVENT_H_
