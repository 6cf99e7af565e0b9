// Serial-port transport. The platform part (handle, waits) lives in
// com_posix.cpp or com_win.cpp; the time-out bookkeeping is shared.
#ifndef VEXA_SRC_IO_COM_H_
#define VEXA_SRC_IO_COM_H_

#include <memory>
#include <string>

#include "io/link_claim.h"
#include "vexa/io.h"

namespace Vexa {

class COM : public IO {
 public:
  // portName is the whole connection path, e.g. "COM7" or "COM/dev/ttyUSB0".
  // Claims the port first: LinkInUse when this process has it open already.
  explicit COM(const std::string& portName);
  // Opens a port whose claim the caller took already (the BLE dongle's,
  // reserved before it was probed); the claim goes with the port.
  COM(const std::string& portName, LinkClaim claim);
  ~COM() override;

  // Stores timeout > 0 unchanged, 0 as 1 (a 1 ms poll) and any negative
  // value as 0 (no limit); an unchanged value is skipped.
  void setRcvTimeout(int timeout) override;
  const char* linkKind() const override { return "serial"; }

 protected:
  int doRecv(void* buf, int len) override;
  void doSend(const void* buf, int len) override;

 private:
  struct Port;  // platform handles
  // Programs the port with a stored time-out (see setRcvTimeout).
  void applyReadTimeout(int stored);
  // Declared first: released only after the port has closed.
  LinkClaim claim_;
  std::unique_ptr<Port> port_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_COM_H_
