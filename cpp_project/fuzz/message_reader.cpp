// The stream message reader: messages cut at any point, failed CRCs and the
// one-byte resynchronisation, commands waiting for their reply while other
// messages arrive, and the queue those leave behind.
#include "fuzz_io.h"

using namespace vexa_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  FuzzIO* io = nullptr;
  auto dev = connectCurrent(in, false, {}, &io);
  io->onSend = nullptr;  // replies to commands come from the input too
  Vexa::BaseDev::X& x = *dev->impl();
  for (int i = 0; i < 64 && in.left() > 0; ++i) {
    guarded([&] {
      const uint8_t op = in.back();
      if (op % 5 == 4) {
        x.sendCommand({0x04, 0x00});
        return;
      }
      uint16_t len = 0;
      const uint16_t code = x.recvMsg(len, 100, op % 5 == 3);
      if (code != Vexa::kNoMessage && x.rxBuf.size() < static_cast<size_t>(len) + 1) std::abort();
      if (code != Vexa::kNoMessage && op % 5 == 2) x.queueMsg(code, len);
    });
  }
  // Whatever was queued reaches the dispatcher as the loop would hand it on.
  guarded([&] { x.dispatchPending(); });
  return 0;
}
