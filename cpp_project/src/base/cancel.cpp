#include "vexa/cancel.h"

#include <algorithm>
#include <thread>

#include "vexa/exceptions.h"

namespace Vexa {
namespace {

thread_local const CancelFlag* currentFlag = nullptr;

}  // namespace

CancelScope::CancelScope(const CancelFlag& flag) noexcept : outer_(currentFlag) { currentFlag = &flag; }

CancelScope::~CancelScope() { currentFlag = outer_; }

bool cancellable() noexcept { return currentFlag != nullptr; }

bool cancelRequested() noexcept { return currentFlag != nullptr && currentFlag->raised(); }

void throwIfCancelled(const char* function) {
  if (cancelRequested()) VEXA_THROW_AT(Error::Cancelled, function);
}

int cancelSlice(int ms) noexcept {
  if (currentFlag == nullptr) return ms;
  return ms < 0 ? kCancelSliceMs : std::min(ms, kCancelSliceMs);
}

void cancellableSleep(std::chrono::milliseconds time, const char* function) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + time;
  for (;;) {
    throwIfCancelled(function);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(cancelSlice(static_cast<int>(left))));
  }
}

}  // namespace Vexa
