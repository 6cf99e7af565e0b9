// A simulated device joined to the host by in-process byte channels: no
// operating-system port, so it runs anywhere, Windows included.
#ifndef VEXA_SIM_IN_PROCESS_SIMULATOR_H_
#define VEXA_SIM_IN_PROCESS_SIMULATOR_H_

#include <memory>

#include "vexa/io.h"
#include "vexa_sim/device_model.h"
#include "vexa_sim/engine.h"

namespace vexa_sim {

// How the host's transport carries the device's output: as a byte stream
// (serial-like) or cut into packets of up to 20 bytes (BLE-like).
enum class HostLink { kStream, kPackets };

class InProcessSimulator {
 public:
  explicit InProcessSimulator(std::unique_ptr<DeviceModel> model,
                              HostLink kind = HostLink::kStream);

  // The host's transport, to hand to the device library; null after the
  // first call. Destroying it closes the link and ends the engine's thread.
  std::unique_ptr<Vexa::IO> takeHostIo() { return std::move(hostIo_); }
  Engine& engine() { return *engine_; }

 private:
  std::unique_ptr<Vexa::IO> hostIo_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_IN_PROCESS_SIMULATOR_H_
