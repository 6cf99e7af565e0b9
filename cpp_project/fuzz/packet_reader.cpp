// The packet message reader of BLE links: packets of 1 to 20 bytes, one-
// and two-byte codes, and commands waiting for their reply among them.
#include "fuzz_io.h"

using namespace vexa_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  FuzzIO* io = nullptr;
  std::unique_ptr<FuzzDev> dev;
  guarded([&] { dev = connectCurrent(in, true, {}, &io); });
  if (!dev) return 0;
  io->onSend = nullptr;  // replies to commands come from the input too
  Vexa::BaseDev::X& x = *dev->impl();
  for (int i = 0; i < 64 && in.left() > 0; ++i) {
    guarded([&] {
      const uint8_t op = in.back();
      if (op % 4 == 3) {
        x.sendCommand({0x03, 0x00});
        return;
      }
      uint16_t len = 0;
      const uint16_t code = x.recvMsg(len, 100, false);
      if (code != Vexa::kNoMessage && len > 19) std::abort();
      if (code != Vexa::kNoMessage) x.dispatchMsg(code, x.rxBuf.data(), len);
    });
  }
  guarded([&] { x.dispatchPending(); });
  return 0;
}
