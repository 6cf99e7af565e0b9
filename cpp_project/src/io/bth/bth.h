// Bluetooth classic transport: an RFCOMM stream to channel 1 of a device,
// pairing with a fixed PIN when the device asks for one. The platform's
// socket sits behind bth::Link; what is decided here holds on every system.
#ifndef VEXA_SRC_IO_BTH_BTH_H_
#define VEXA_SRC_IO_BTH_BTH_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/bth/bth_platform.h"
#include "io/link_claim.h"
#include "vexa/dev_info.h"
#include "vexa/io.h"

namespace Vexa {

class BTH : public IO {
 public:
  using LinkOpener = std::function<std::unique_ptr<bth::Link>(uint64_t address)>;

  // Connects to the device a path names: "BTH" (any case) followed by its
  // address, or the bare address.
  explicit BTH(const std::string& path);
  // The same through links that openLink makes (tests pass a fake).
  BTH(const std::string& path, const LinkOpener& openLink);
  ~BTH() override;

  // Devices of this family in range of the first local radio, by address.
  static std::vector<DevInfo> findDevices();

  void setRcvTimeout(int timeout) override;
  const char* linkKind() const override { return "bluetooth"; }

 protected:
  int doRecv(void* buf, int len) override;
  void doSend(const void* buf, int len) override;

 private:
  // Sends all len bytes, however many socket sends that takes; false when
  // the link fails first.
  bool sendWhole(const uint8_t* data, int len);
  void sendPaced(const uint8_t* data, int len);

  LinkClaim claim_;  // released after the link has closed
  std::unique_ptr<bth::Link> link_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_BTH_BTH_H_
