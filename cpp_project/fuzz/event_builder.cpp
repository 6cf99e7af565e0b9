// The event builder: any code with any payload, straight or through the
// queue, with or without a running acquisition, callbacks ending the loop
// at will.
#include "fuzz_io.h"

using namespace vexa_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.front();
  auto dev = connectCurrent(in, false);
  Vexa::BaseDev::X& x = *dev->impl();
  if (mode & 1) guarded([&] { dev->start(1000.0f, {Vexa::Source{1, 1, 16, 3}}); });
  while (in.left() > 0) {
    const uint8_t head = in.front();
    const uint16_t code = (head & 0x80) ? static_cast<uint16_t>(head << 8 | in.front()) : head;
    // An exactly sized copy, so that a read past the payload is caught.
    const Bytes payload = in.frontBytes(in.front() % 40);
    guarded([&] {
      if (in.back() & 1) {
        x.pending.push_back(Vexa::PendingMsg{code, payload});
        x.dispatchPending();
      } else {
        x.dispatchMsg(code, payload.data(), static_cast<uint16_t>(payload.size()));
      }
    });
  }
  return 0;
}
