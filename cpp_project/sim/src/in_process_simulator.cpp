#include "vexa_sim/in_process_simulator.h"

#include "vexa_sim/pipe_transport.h"

namespace vexa_sim {

InProcessSimulator::InProcessSimulator(std::unique_ptr<DeviceModel> model) {
  auto [host, device] = makePipe();
  hostIo_ = std::move(host);
  engine_ = std::make_unique<Engine>(std::move(device), std::move(model));
}

}  // namespace vexa_sim
