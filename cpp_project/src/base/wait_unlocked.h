// Releases the device's mutex for the length of a receive and takes it back
// on the way out, exceptions included: the loop thread then holds the mutex
// exactly when it is outside its wait, whatever interrupt() did meanwhile.
#ifndef VEXA_SRC_BASE_WAIT_UNLOCKED_H_
#define VEXA_SRC_BASE_WAIT_UNLOCKED_H_

#include <mutex>

namespace Vexa {

class WaitUnlocked {
 public:
  explicit WaitUnlocked(std::recursive_mutex& mutex) : mutex_(mutex) { mutex_.unlock(); }
  ~WaitUnlocked() { mutex_.lock(); }
  WaitUnlocked(const WaitUnlocked&) = delete;
  WaitUnlocked& operator=(const WaitUnlocked&) = delete;

 private:
  std::recursive_mutex& mutex_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_BASE_WAIT_UNLOCKED_H_
