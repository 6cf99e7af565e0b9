// The rules the host's calls follow whichever device they address, the
// interface's current device or a session's: how a path connects, how a
// mask or a list of sources starts, how a parameter's data is read, and
// the name a device's description gives.
#ifndef VEXA_UNITY_HOST_CALLS_H_
#define VEXA_UNITY_HOST_CALLS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base_dev_unity.h"
#include "vexa_sim/simulated_device.h"
#include "vexa_unity_interface.h"

namespace Vexa {
namespace Unity {

// The loop's wait for data before it calls the link lost.
constexpr int kLoopTimeoutMs = 2000;

// Connects to path ("SIM" names the built-in simulated device, every
// other path a link) and sets the loop's time-out; outputs are the extra
// constructor arguments of Dev.
template <class Dev, class... Outputs>
std::unique_ptr<Dev> connectDevice(const std::string& path, Outputs&... outputs) {
  auto dev = vexa_sim::isSimulatedDevicePath(path)
                 ? std::make_unique<Dev>(path, vexa_sim::openSimulatedDevice(path), outputs...)
                 : std::make_unique<Dev>(path, outputs...);
  dev->setTimeout(kLoopTimeoutMs);
  return dev;
}

// Throws Error::InvalidParameter, naming function, unless ok.
void requireArgument(bool ok, const char* function);

// Starts the ports whose bits are set in channelMask (bit 0: port 1), one
// channel each, on any family, and records the start on dev.
void startByMask(BaseDevUnity& dev, int baseFreq, int channelMask, int nBits);
// Starts nSources explicit sources (null only when there are none); a
// source of port 9 with all four channels first gets its sensor's gain.
void startBySources(BaseDevUnity& dev, int baseFreq, const VexaSource* sources, int nSources,
                    const char* function);

// The bytes a parameter write sends: dataType 1 the low byte of data[0]
// for index 1 to 3, dataType 2 those of data[0] and data[1] for index 3.
// Throws std::invalid_argument for any other combination, and
// Error::InvalidParameter for a null data.
struct ParameterBytes {
  uint8_t bytes[2];
  int length;
};
ParameterBytes parameterBytes(int index, const int* data, int dataType, const char* function);

// The name of a device whose description is this: one of the known
// families, or "Not supported device". Static text.
const char* deviceTypeName(const std::string& description);

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_HOST_CALLS_H_
