#include "vexa_sim/engine.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace vexa_sim {
namespace {

// The longest single wait on the link; every wait also ends on wakeReader(),
// so this only bounds the cost of a lost wake-up.
constexpr std::chrono::milliseconds kMaxWait{1000};
constexpr int kReadChunk = 4096;

}  // namespace

Engine::Engine(std::unique_ptr<Link> link, std::unique_ptr<DeviceModel> model)
    : link_(std::move(link)), model_(std::move(model)) {
  if (!link_ || !model_) throw std::invalid_argument("Engine needs a link and a model");
  thread_ = std::thread(&Engine::run, this);
}

Engine::~Engine() { stop(); }

void Engine::stop() {
  std::lock_guard<std::mutex> join(joinMutex_);
  stopping_ = true;
  link_->wakeReader();
  if (thread_.joinable()) thread_.join();
}

bool Engine::linkClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return linkClosed_;
}

bool Engine::waitForLinkClosed(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return progress_.wait_for(lock, timeout, [this] { return linkClosed_; });
}

void Engine::run() {
  std::vector<uint8_t> buf(kReadChunk);
  while (!stopping_) {
    std::chrono::milliseconds wait = kMaxWait;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (auto wake = model_->nextWake()) {
        // Rounded up: waking a little early would spin until the wake is due.
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - DeviceModel::Clock::now());
        wait = std::clamp(left, std::chrono::milliseconds(0), kMaxWait);
      }
    }
    // The lock is free while waiting, so with() never waits for the host.
    int n = link_->read(buf.data(), kReadChunk, wait);
    std::lock_guard<std::mutex> lock(mutex_);
    if (n < 0) {
      linkClosed_ = true;
      progress_.notify_all();
      return;
    }
    auto now = DeviceModel::Clock::now();
    if (n > 0) model_->onHostBytes(buf.data(), static_cast<size_t>(n), now);
    if (auto wake = model_->nextWake(); wake && *wake <= now) model_->onWake(now);
    flushLocked();
    if (!model_->failure().empty()) {
      link_->breakLink();
      if (failureHandler_) failureHandler_();
      progress_.notify_all();
      return;
    }
    progress_.notify_all();
  }
}

std::string Engine::failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->failure();
}

void Engine::onFailure(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  failureHandler_ = std::move(handler);
  if (!model_->failure().empty() && failureHandler_) failureHandler_();
}

void Engine::flushLocked() {
  std::vector<uint8_t> out = model_->takeOutput();
  if (!out.empty()) link_->write(out.data(), out.size());
}

void Engine::afterExternalChange() {
  flushLocked();
  progress_.notify_all();
  link_->wakeReader();  // the model's next wake may have moved
}

}  // namespace vexa_sim
