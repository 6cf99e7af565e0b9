#include "io/os_error.h"

#include <cstring>
#include <mutex>

namespace Vexa {

std::string errnoText(int err) {
  // strerror may share one buffer between callers: copy it under a lock.
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  return std::string(std::strerror(err)) + " (errno " + std::to_string(err) + ")";
}

}  // namespace Vexa
