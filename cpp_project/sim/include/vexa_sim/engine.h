// Runs one device model on one link: a thread reads the host's bytes, feeds
// the model, wakes it when it asked to be, and writes what it emitted.
#ifndef VEXA_SIM_ENGINE_H_
#define VEXA_SIM_ENGINE_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "vexa_sim/device_model.h"
#include "vexa_sim/link.h"

namespace vexa_sim {

class Engine {
 public:
  // Starts serving at once. Throws std::invalid_argument on a null argument.
  Engine(std::unique_ptr<Link> link, std::unique_ptr<DeviceModel> model);
  // Stops and joins the thread.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Ends serving and joins the thread; idempotent. with() still works after
  // it, so a test can inspect the model.
  void stop();
  // True once the host end closed the link for good (the thread then ends).
  bool linkClosed() const;
  // Waits until linkClosed(); false if it is still open after timeout.
  bool waitForLinkClosed(std::chrono::milliseconds timeout);

  // The model's failure, empty while it plays. Once it failed the engine
  // serves no more and has broken the link.
  std::string failure() const;
  // Called once, on the engine's thread, when the model fails; at once if it
  // has failed already. Must not call back into the engine.
  void onFailure(std::function<void()> handler);

  // Runs f(model) under the engine's lock, then writes what f emitted.
  // M is the model's concrete type (std::bad_cast if it is another).
  template <class M, class F>
  decltype(auto) with(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    M& model = dynamic_cast<M&>(*model_);
    if constexpr (std::is_void_v<std::invoke_result_t<F, M&>>) {
      std::forward<F>(f)(model);
      afterExternalChange();
    } else {
      decltype(auto) result = std::forward<F>(f)(model);
      afterExternalChange();
      return result;
    }
  }

  // Waits until pred(model) holds, re-checking after every step of the
  // engine (host bytes handled, wake served, link closed) and every with().
  // Returns false if it still does not hold after timeout.
  template <class M, class P>
  bool waitUntil(P&& pred, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    M& model = dynamic_cast<M&>(*model_);
    return progress_.wait_for(lock, timeout, [&] { return pred(model); });
  }

 private:
  void run();
  // Both need mutex_ held.
  void flushLocked();
  void afterExternalChange();

  std::unique_ptr<Link> link_;
  std::unique_ptr<DeviceModel> model_;
  mutable std::mutex mutex_;
  std::condition_variable progress_;
  std::atomic<bool> stopping_{false};
  bool linkClosed_ = false;  // guarded by mutex_
  std::function<void()> failureHandler_;  // guarded by mutex_
  std::mutex joinMutex_;     // serialises stop()
  std::thread thread_;       // last: starts once everything above exists
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_ENGINE_H_
