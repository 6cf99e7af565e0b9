// Links open in this process. Every transport claims its link before it
// opens it and holds the claim until it has closed it, so a second open of
// the same port, Bluetooth device or USB adapter under any spelling of its
// path is refused at once instead of fighting the first over the link.
// Keys are the links' normalised names (the transports make them); this
// file knows nothing of any platform's spellings.
#ifndef VEXA_SRC_IO_LINK_CLAIM_H_
#define VEXA_SRC_IO_LINK_CLAIM_H_

#include <mutex>
#include <set>
#include <string>

namespace Vexa {

class LinkRegistry;

// One held link; releases it when destroyed. Empty when default-made or
// moved from.
class LinkClaim {
 public:
  LinkClaim() = default;
  ~LinkClaim();
  LinkClaim(LinkClaim&& other) noexcept;
  LinkClaim& operator=(LinkClaim&& other) noexcept;
  LinkClaim(const LinkClaim&) = delete;
  LinkClaim& operator=(const LinkClaim&) = delete;

  bool held() const { return registry_ != nullptr; }
  // The normalised name of the link, "" when empty.
  const std::string& key() const { return key_; }

 private:
  friend class LinkRegistry;
  LinkClaim(LinkRegistry* registry, std::string key) : registry_(registry), key_(std::move(key)) {}
  void release() noexcept;

  LinkRegistry* registry_ = nullptr;
  std::string key_;
};

class LinkRegistry {
 public:
  LinkRegistry() = default;
  LinkRegistry(const LinkRegistry&) = delete;
  LinkRegistry& operator=(const LinkRegistry&) = delete;

  // The registry of this process; it outlives every transport.
  static LinkRegistry& process();

  // Claims key, a readable name of the link ("serial port /dev/ttyUSB0").
  // @throws Notification::LinkInUse naming it when it is held already.
  LinkClaim claim(const std::string& key);
  // The same, but an empty claim instead of the exception.
  LinkClaim tryClaim(const std::string& key);
  bool held(const std::string& key) const;

 private:
  friend class LinkClaim;
  void release(const std::string& key) noexcept;

  mutable std::mutex mutex_;
  std::set<std::string> held_;
};

// The key of the serial port a connection path ("COM7", "COM/dev/ttyUSB0")
// names, in the platform's spelling made unique (com_posix.cpp,
// com_win.cpp); the path itself when it names no port.
std::string serialLinkKey(const std::string& portName);
// The keys of the other links, from their connection paths: a Bluetooth
// classic or BLE device by its address whatever the spelling (bth.cpp,
// ble.cpp), a USB adapter by its index (usb.cpp). "" for a path that names
// no such link.
std::string bluetoothLinkKey(const std::string& path);
std::string bleLinkKey(const std::string& path);
std::string usbLinkKey(const std::string& path);

}  // namespace Vexa

#endif  // VEXA_SRC_IO_LINK_CLAIM_H_
