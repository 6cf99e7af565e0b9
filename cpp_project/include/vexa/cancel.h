/// @file
/// Ending a long call early from another thread. The caller of a connect or
/// a search opens a CancelScope around it on its own thread; every wait of
/// that call that may last long (a handshake's reads, a dongle's restart, a
/// scan) looks at the scope's flag at least every kCancelSliceMs and throws
/// Error::Cancelled once it is raised. Waits outside any scope behave as
/// they always did. The flag belongs to one call, so a cancel never reaches
/// a later one.
#ifndef VEXA_CANCEL_H_
#define VEXA_CANCEL_H_

#include <atomic>
#include <chrono>

namespace Vexa {

/// The longest a cancellable wait goes without looking at its flag.
constexpr int kCancelSliceMs = 40;

/// The request to end one call, raised from any thread.
class CancelFlag {
 public:
  CancelFlag() = default;
  CancelFlag(const CancelFlag&) = delete;
  CancelFlag& operator=(const CancelFlag&) = delete;

  /// Asks the call to end; any thread.
  void raise() noexcept { raised_.store(true); }
  /// True once raise() was called.
  bool raised() const noexcept { return raised_.load(); }

 private:
  std::atomic<bool> raised_{false};
};

/// Makes flag the one the calling thread's waits observe, for as long as
/// the scope lives; the scope it encloses (if any) comes back after it.
class CancelScope {
 public:
  /// Observes flag on the calling thread until the scope ends.
  explicit CancelScope(const CancelFlag& flag) noexcept;
  ~CancelScope();
  CancelScope(const CancelScope&) = delete;
  CancelScope& operator=(const CancelScope&) = delete;

 private:
  const CancelFlag* outer_;
};

/// True when the calling thread runs inside a CancelScope.
bool cancellable() noexcept;
/// True when the calling thread's scope has been cancelled.
bool cancelRequested() noexcept;
/// Throws Error::Cancelled, located at function, when cancelRequested().
void throwIfCancelled(const char* function);
/// How much of a wait of ms milliseconds (negative: without limit) to spend
/// before looking at the flag again: ms itself outside a scope.
int cancelSlice(int ms) noexcept;
/// Sleeps for time; inside a scope it ends early with Error::Cancelled.
void cancellableSleep(std::chrono::milliseconds time, const char* function);

}  // namespace Vexa

#endif  // VEXA_CANCEL_H_
