#include "io/link_claim.h"

#include <utility>

#include "vexa/exceptions.h"

namespace Vexa {

LinkClaim::~LinkClaim() { release(); }

LinkClaim::LinkClaim(LinkClaim&& other) noexcept
    : registry_(std::exchange(other.registry_, nullptr)), key_(std::move(other.key_)) {}

LinkClaim& LinkClaim::operator=(LinkClaim&& other) noexcept {
  if (this != &other) {
    release();
    registry_ = std::exchange(other.registry_, nullptr);
    key_ = std::move(other.key_);
  }
  return *this;
}

void LinkClaim::release() noexcept {
  if (registry_ != nullptr) std::exchange(registry_, nullptr)->release(key_);
  key_.clear();
}

LinkRegistry& LinkRegistry::process() {
  // Never destroyed: a transport destroyed late in the process's exit still
  // finds it.
  static LinkRegistry* const instance = new LinkRegistry;
  return *instance;
}

LinkClaim LinkRegistry::claim(const std::string& key) {
  LinkClaim claimed = tryClaim(key);
  if (!claimed.held()) VEXA_THROW_DETAIL(Notification::LinkInUse, key + " is already open in this process");
  return claimed;
}

LinkClaim LinkRegistry::tryClaim(const std::string& key) {
  std::string name = key;  // copied first: nothing below can throw once it is held
  std::lock_guard<std::mutex> lock(mutex_);
  if (!held_.insert(name).second) return LinkClaim();
  return LinkClaim(this, std::move(name));
}

bool LinkRegistry::held(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_.count(key) != 0;
}

void LinkRegistry::release(const std::string& key) noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  held_.erase(key);
}

}  // namespace Vexa
