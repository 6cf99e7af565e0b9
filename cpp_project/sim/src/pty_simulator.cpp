#include "vexa_sim/pty_simulator.h"

#include "vexa_sim/pty_link.h"

namespace vexa_sim {

PtySimulator::PtySimulator(std::unique_ptr<DeviceModel> model) {
  auto link = std::make_unique<PtyLink>();
  devicePath_ = link->devicePath();
  link_ = link.get();
  engine_ = std::make_unique<Engine>(std::move(link), std::move(model));
}

PtySimulator::~PtySimulator() = default;

void PtySimulator::hangUp() {
  engine_->stop();  // no read or write may be running while the fds close
  link_->hangUp();
}

}  // namespace vexa_sim
