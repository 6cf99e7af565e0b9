// USB transport: an FTDI FT4222H adapter in SPI slave mode (the device is
// the SPI master), driven through FTDI's libraries loaded at run time.
#ifndef VEXA_SRC_IO_USB_USB_H_
#define VEXA_SRC_IO_USB_USB_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/link_claim.h"
#include "vexa/dev_info.h"
#include "vexa/io.h"

namespace Vexa {

class FtdiLibraries;

class USB : public IO {
 public:
  // The entry points of one LibFT4222 build (ftdi_libraries.h).
  struct FT4222Dll;

  // Opens the adapter whose D2XX index follows "USB" in the path ("USB2";
  // no digits: 0), through the system's FTDI libraries.
  explicit USB(const std::string& path);
  // The same through the given libraries (tests load fakes by path).
  USB(const std::string& path, FtdiLibraries& libraries);
  // Leaves SPI slave mode and closes the adapter; never throws.
  ~USB() override;

  // Adapters that can be opened, in D2XX index order.
  static std::vector<DevInfo> findDevices();
  static std::vector<DevInfo> findDevices(FtdiLibraries& libraries);

  void setRcvTimeout(int timeout) override;
  const char* linkKind() const override { return "usb"; }

 protected:
  int doRecv(void* buf, int len) override;
  void doSend(const void* buf, int len) override;

 private:
  struct Adapter;
  // Bytes the library holds for us; throws when it cannot say.
  int bytesWaiting();
  // Reads at most len of them; throws when the library fails.
  int read(uint8_t* buf, uint16_t len);
  // Checks that the adapter is still there.
  void probe();

  LinkClaim claim_;  // released after the adapter has closed
  std::unique_ptr<Adapter> adapter_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_USB_USB_H_
