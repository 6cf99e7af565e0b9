#include "vexa_sim/in_process_simulator.h"

#include "vexa_sim/packet_transport.h"
#include "vexa_sim/pipe_transport.h"

namespace vexa_sim {

InProcessSimulator::InProcessSimulator(std::unique_ptr<DeviceModel> model, HostLink kind) {
  std::unique_ptr<Link> device;
  if (kind == HostLink::kPackets) {
    auto [host, link] = makePacketPipe();
    hostIo_ = std::move(host);
    device = std::move(link);
  } else {
    auto [host, link] = makePipe();
    hostIo_ = std::move(host);
    device = std::move(link);
  }
  engine_ = std::make_unique<Engine>(std::move(device), std::move(model));
}

}  // namespace vexa_sim
