// Cancelling a connect or a scan that runs on another host thread.
#include <algorithm>
#include <mutex>
#include <vector>

#include "cancellable_call.h"
#include "vexa/exceptions.h"
#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {
namespace {

// The flags of the calls running now; a cancel reaches these and no other.
std::mutex runningGuard;
std::vector<CancelFlag*>& running() {
  static std::vector<CancelFlag*> flags;
  return flags;
}

}  // namespace

CancellableCall::CancellableCall() : scope_(flag_) {
  std::lock_guard<std::mutex> lock(runningGuard);
  running().push_back(&flag_);
}

CancellableCall::~CancellableCall() {
  std::lock_guard<std::mutex> lock(runningGuard);
  auto& flags = running();
  flags.erase(std::find(flags.begin(), flags.end(), &flag_));
}

void CancellableCall::throwIfCancelled() const {
  if (flag_.raised()) VEXA_THROW(Error::Cancelled);
}

void cancelRunningCalls() {
  std::lock_guard<std::mutex> lock(runningGuard);
  for (CancelFlag* flag : running()) flag->raise();
}

}  // namespace Unity
}  // namespace Vexa

extern "C" VEXA_UNITY_API void VexaExtCancel(void) { Vexa::Unity::cancelRunningCalls(); }
