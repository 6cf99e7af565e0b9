#include "current_device.h"

#include <condition_variable>
#include <memory>
#include <mutex>

#include "link_delay.h"

extern "C" {
VEXA_UNITY_API Vexa::BaseDevUnity* vexaDev = nullptr;
}

namespace Vexa {
namespace Unity {
namespace {

std::mutex guard;  // vexaDev's changes and the borrowers' count
std::condition_variable allReturned;
int borrowers = 0;

}  // namespace

void replaceCurrentDevice(BaseDevUnity* next) {
  if (next != nullptr) next->setLinkDelay(linkDelay());
  std::unique_ptr<BaseDevUnity> earlier;
  std::unique_lock<std::mutex> lock(guard);
  earlier.reset(vexaDev);
  vexaDev = next;
  // A borrower holds the device only for one short call, never while it
  // waits for this thread.
  allReturned.wait(lock, [] { return borrowers == 0; });
  lock.unlock();
  // earlier is destroyed here, outside the lock: its destructor may talk to
  // the device for a while.
}

BorrowedDevice::BorrowedDevice() {
  std::lock_guard<std::mutex> lock(guard);
  dev_ = vexaDev;
  if (dev_ != nullptr) ++borrowers;
}

BorrowedDevice::~BorrowedDevice() {
  if (dev_ == nullptr) return;
  std::lock_guard<std::mutex> lock(guard);
  if (--borrowers == 0) allReturned.notify_all();
}

}  // namespace Unity
}  // namespace Vexa
