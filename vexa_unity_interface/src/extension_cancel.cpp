// Cancelling a connect or a scan that runs on another host thread.
#include <mutex>

#include "cancellable_call.h"
#include "vexa/exceptions.h"
#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {
namespace {

// The calls running now, newest first; a cancel reaches these and no other.
std::mutex runningGuard;
CancellableCall* newestRunning = nullptr;

}  // namespace

CancellableCall::CancellableCall() noexcept : scope_(flag_) {
  std::lock_guard<std::mutex> lock(runningGuard);
  next_ = newestRunning;
  if (next_ != nullptr) next_->previous_ = this;
  newestRunning = this;
}

CancellableCall::~CancellableCall() {
  std::lock_guard<std::mutex> lock(runningGuard);
  if (previous_ != nullptr) {
    previous_->next_ = next_;
  } else {
    newestRunning = next_;
  }
  if (next_ != nullptr) next_->previous_ = previous_;
}

void CancellableCall::throwIfCancelled() const {
  if (flag_.raised()) VEXA_THROW(Error::Cancelled);
}

void cancelRunningCalls() noexcept {
  std::lock_guard<std::mutex> lock(runningGuard);
  for (CancellableCall* call = newestRunning; call != nullptr; call = call->next_) call->flag_.raise();
}

}  // namespace Unity
}  // namespace Vexa

extern "C" VEXA_UNITY_API void VexaExtCancel(void) { Vexa::Unity::cancelRunningCalls(); }
