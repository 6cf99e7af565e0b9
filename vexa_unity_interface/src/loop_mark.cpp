#include "loop_mark.h"

#include <atomic>
#include <thread>

namespace Vexa {
namespace Unity {
namespace {

// The claiming thread; no thread while no loop runs.
std::atomic<std::thread::id> loopThread{};

}  // namespace

bool loopRunning() { return loopThread.load() != std::thread::id(); }
bool onLoopThread() { return loopThread.load() == std::this_thread::get_id(); }

LoopMark::LoopMark() {
  std::thread::id none;
  owner_ = loopThread.compare_exchange_strong(none, std::this_thread::get_id());
}

LoopMark::~LoopMark() {
  if (owner_) loopThread = std::thread::id();
}

}  // namespace Unity
}  // namespace Vexa
