// A simulated device on a pseudo-terminal, ready for the device library to
// open by comPath(). POSIX only.
#ifndef VEXA_SIM_PTY_SIMULATOR_H_
#define VEXA_SIM_PTY_SIMULATOR_H_

#include <memory>
#include <string>

#include "vexa_sim/device_model.h"
#include "vexa_sim/engine.h"

namespace vexa_sim {

class PtyLink;

class PtySimulator {
 public:
  // Throws std::system_error if no pseudo-terminal can be had.
  explicit PtySimulator(std::unique_ptr<DeviceModel> model);
  ~PtySimulator();

  const std::string& devicePath() const { return devicePath_; }
  std::string comPath() const { return "COM" + devicePath_; }
  Engine& engine() { return *engine_; }
  // Stops serving and closes the line: the connected client sees it break.
  void hangUp();

 private:
  std::string devicePath_;
  PtyLink* link_;  // owned by engine_
  std::unique_ptr<Engine> engine_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_PTY_SIMULATOR_H_
