// The exports that may wait long (a connect, a scan) run as cancellable
// calls, which VexaExtCancel ends early from any other thread.
#ifndef VEXA_UNITY_CANCELLABLE_CALL_H_
#define VEXA_UNITY_CANCELLABLE_CALL_H_

#include "vexa/cancel.h"

namespace Vexa {
namespace Unity {

// The detail a cancelled call leaves as its thread's last failure.
constexpr char kCancelledDetail[] = "cancelled";

// One call that VexaExtCancel can end, for as long as the object lives on
// the calling thread: its waits observe a flag of their own, which a cancel
// raises only while the call runs.
class CancellableCall {
 public:
  CancellableCall() noexcept;
  ~CancellableCall();
  CancellableCall(const CancellableCall&) = delete;
  CancellableCall& operator=(const CancellableCall&) = delete;

  // Throws Error::Cancelled once the call has been cancelled: for the last
  // step before a call's result takes effect.
  void throwIfCancelled() const;

 private:
  friend void cancelRunningCalls() noexcept;

  CancelFlag flag_;
  CancelScope scope_;
  // The running calls form a list through their own objects, so that
  // joining it takes no memory and cannot fail.
  CancellableCall* previous_ = nullptr;
  CancellableCall* next_ = nullptr;
};

// Raises the flag of every cancellable call running now.
void cancelRunningCalls() noexcept;

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_CANCELLABLE_CALL_H_
