// The handshake on whatever a device answers: the compact board's and the
// oldest family's version lines, the description and version records of
// current devices, on byte streams and on BLE packets.
#include "fuzz_io.h"

using namespace vexa_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const bool packets = in.front() & 1;
  auto io = std::make_unique<FuzzIO>(in, packets ? 20 : 0);
  io->live = true;
  guarded([&] {
    FuzzDev dev(packets ? "BLEfuzz" : "COMfuzz", std::move(io), in);
    const Vexa::Properties props = dev.getProperties();
    if (props.count("description") == 0 || props.count("productID") == 0) std::abort();
  });
  return 0;
}
