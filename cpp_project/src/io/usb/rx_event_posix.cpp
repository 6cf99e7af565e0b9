// The condition variable, mutex and flag that FTDI's Linux libraries
// signal. A condition signalled while nobody waits on it is gone, and the
// library may signal without setting the flag, so a receive that counted
// no bytes and then began to wait would miss bytes that arrived in between.
// A watcher thread therefore waits on the condition at all times: it holds
// the library's mutex whenever it is not waiting, so no signal passes it
// unseen, and counts each one for the receive.
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "io/usb/ftdi_event_posix.h"
#include "io/usb/rx_event.h"
#include "vexa/exceptions.h"

namespace Vexa {

struct RxEvent::Impl {
  // Throws Notification::InitializingPort, leaving nothing made.
  Impl() {
    if (pthread_cond_init(&handle.condition, nullptr) != 0) VEXA_THROW_AT(Notification::InitializingPort, "USB::USB");
    if (pthread_mutex_init(&handle.mutex, nullptr) != 0) {
      pthread_cond_destroy(&handle.condition);
      VEXA_THROW_AT(Notification::InitializingPort, "USB::USB");
    }
    handle.signalled = 0;
  }
  ~Impl() {
    pthread_mutex_destroy(&handle.mutex);
    pthread_cond_destroy(&handle.condition);
  }
  void watch();

  ftdi::EventHandle handle;
  bool stopping = false;  // guarded by handle.mutex
  std::mutex mutex;
  std::condition_variable signalled;
  Mark signals = 0;  // guarded by mutex
  std::thread watcher;
};

void RxEvent::Impl::watch() {
  pthread_mutex_lock(&handle.mutex);
  while (!stopping) {
    if (!handle.signalled) pthread_cond_wait(&handle.condition, &handle.mutex);
    if (stopping) break;
    handle.signalled = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      --signals;
    }
    signalled.notify_all();
  }
  pthread_mutex_unlock(&handle.mutex);
}

RxEvent::RxEvent() {
  auto impl = std::make_unique<Impl>();
  try {
    impl->watcher = std::thread(&Impl::watch, impl.get());
  } catch (const std::system_error& e) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, e.what());
  }
  impl_ = std::move(impl);
}

RxEvent::~RxEvent() {
  pthread_mutex_lock(&impl_->handle.mutex);
  impl_->stopping = true;
  pthread_cond_broadcast(&impl_->handle.condition);
  pthread_mutex_unlock(&impl_->handle.mutex);
  impl_->watcher.join();
}

void* RxEvent::param() { return &impl_->handle; }

RxEvent::Mark RxEvent::mark() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->signals;
}

RxEvent::Wait RxEvent::waitSince(Mark mark, int ms) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  const auto arrived = [&] { return impl_->signals != mark; };
  if (ms <= 0) return arrived() ? Wait::kSignalled : Wait::kTimedOut;
  return impl_->signalled.wait_for(lock, std::chrono::milliseconds(ms), arrived) ? Wait::kSignalled
                                                                                  : Wait::kTimedOut;
}

}  // namespace Vexa
