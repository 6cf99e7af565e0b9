// A BLE USB dongle as the host sees it on its serial port: BGAPI commands
// in, responses and events out. It scans (playing the configured
// advertisements), connects to one remote device, serves that device's GATT
// discovery and carries attribute writes and values to and from the device's
// firmware. Faults on demand. Run it on a PtySimulator; use it through
// Engine::with.
#ifndef VEXA_SIM_DONGLE_MODEL_H_
#define VEXA_SIM_DONGLE_MODEL_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "vexa_sim/ble_firmware.h"
#include "vexa_sim/device_model.h"
#include "vexa_sim/dongle_config.h"

namespace vexa_sim {

// Attribute handles of the remote device's database.
constexpr uint16_t kCommandValueHandle = 6;
constexpr uint16_t kCommandConfigHandle = 7;
constexpr uint16_t kDataValueHandle = 9;
constexpr uint16_t kDataConfigHandle = 10;

// BGAPI results the dongle gives.
constexpr uint16_t kWrongState = 0x0181;
constexpr uint16_t kNotConnected = 0x0186;
constexpr uint16_t kInvalidHandle = 0x0401;

class DongleModel : public DeviceModel {
 public:
  // Throws std::invalid_argument for a null device.
  DongleModel(DongleConfig config, std::unique_ptr<BleFirmware> device);

  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;
  std::optional<TimePoint> nextWake() const override;
  void onWake(TimePoint now) override;

  DongleConfig& config() { return config_; }
  BleFirmware& device() { return *device_; }
  template <class M>
  M& deviceModel() {
    return dynamic_cast<M&>(device_->model());
  }

  // Every command the host sent, whole (header and payload), in order.
  const std::vector<std::vector<uint8_t>>& commands() const { return commands_; }
  int resets() const { return resets_; }
  bool scanning() const { return scanning_; }
  bool connected() const { return connected_; }
  // Values written to the command characteristic, one entry per write.
  const std::vector<std::vector<uint8_t>>& deviceWrites() const { return deviceWrites_; }
  // Values notified to the host.
  size_t valuesSent() const { return valuesSent_; }

  // Notifies at once what the device emitted outside the host's writes and
  // wakes, e.g. after a test made it speak.
  void forwardDeviceOutput();

  // Faults. The connection drops now (disconnected event with the reason).
  void dropConnection(uint16_t reason = 0x0208);
  // The next procedure completes with this result instead of 0.
  void failNextProcedure(uint16_t result) { failProcedure_ = result; }
  // The next response carries this result instead of 0.
  void failNextResponse(uint16_t result) { failResponse_ = result; }
  // While the next scan runs, a response with this result comes among the
  // advertisements, as from a dongle that answers a command twice.
  void strayResponseWhileScanning(uint16_t result) { strayResponse_ = result; }
  // A silent dongle still records commands but sends nothing at all.
  void setSilent(bool silent) { silent_ = silent; }

 private:
  void handle(const std::vector<uint8_t>& command, TimePoint now);
  void handleGap(uint8_t id, const std::vector<uint8_t>& p, TimePoint now);
  void handleAttClient(uint8_t id, const std::vector<uint8_t>& p, TimePoint now);
  void handleWrite(const std::vector<uint8_t>& p, TimePoint now);
  void reset();
  void connect(const std::vector<uint8_t>& p);
  void readGroups(uint8_t connection, uint16_t start, uint16_t end);
  void findInformation(uint8_t connection, uint16_t start, uint16_t end);
  void emitDueAdvertisements(TimePoint now);

  void response(uint8_t cls, uint8_t id, std::vector<uint8_t> payload);
  void event(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload);
  std::vector<uint8_t> result(uint16_t code);  // applies failNextResponse
  void procedureCompleted(uint8_t connection, uint16_t handle);

  DongleConfig config_;
  std::unique_ptr<BleFirmware> device_;
  std::vector<uint8_t> input_;
  std::vector<std::vector<uint8_t>> commands_;
  std::vector<std::vector<uint8_t>> deviceWrites_;
  int resets_ = 0;
  bool silent_ = false;
  bool scanning_ = false;
  bool connecting_ = false;
  bool connected_ = false;
  bool notificationsOn_ = false;
  TimePoint nextAdvertisement_{};
  size_t advertisementIndex_ = 0;
  size_t valuesSent_ = 0;
  std::optional<uint16_t> failProcedure_;
  std::optional<uint16_t> failResponse_;
  std::optional<uint16_t> strayResponse_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_DONGLE_MODEL_H_
