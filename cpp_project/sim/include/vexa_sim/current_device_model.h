// A current-generation device: answers the 'V' probe with its description
// and framed commands with messages; lets tests send events and inject
// faults. Use it through Engine::with, which serialises access.
#ifndef VEXA_SIM_CURRENT_DEVICE_MODEL_H_
#define VEXA_SIM_CURRENT_DEVICE_MODEL_H_

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "vexa_sim/command_parser.h"
#include "vexa_sim/current_device_config.h"
#include "vexa_sim/device_model.h"

namespace vexa_sim {

// Error byte of the reply to a command the device does not know.
constexpr uint8_t kUnknownCommandError = 0x02;

class CurrentDeviceModel : public DeviceModel {
 public:
  // Throws std::invalid_argument if the description or the identifier does
  // not fit in one message.
  explicit CurrentDeviceModel(CurrentDeviceConfig config = {});

  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;

  const CurrentDeviceConfig& config() const { return config_; }
  void setConfig(CurrentDeviceConfig config);  // same checks as construction

  // Payloads of the well-formed commands, in arrival order, answered or not.
  const std::vector<std::vector<uint8_t>>& receivedCommands() const { return commands_; }
  // Bytes that arrived outside any command frame ('V', 0x07, noise).
  const std::vector<uint8_t>& rawBytes() const { return rawBytes_; }
  // Frames dropped for a bad CRC or left unfinished.
  size_t rejectedFrames() const { return badFrames_ + parser_.abandonedFrames(); }
  // Between an acknowledged start and stop.
  bool acquiring() const { return acquiring_; }

  // An event (codes 0x02..0x7F); std::invalid_argument otherwise.
  void sendEvent(uint8_t code, std::vector<uint8_t> payload);
  // Any message the protocol can carry, two-byte codes included.
  void sendMessage(uint16_t code, std::vector<uint8_t> payload);

  // Faults on one message the device writes: the next one, or the one after
  // `skip` further messages (skip 1 passes the 'V' reply and hits the reply
  // to the first command).
  void injectStrayBytes(std::vector<uint8_t> bytes, size_t skip = 0);  // before it
  void corruptNextCrc(size_t skip = 0);                                // its CRC
  // The next well-formed command is answered 01 01 errorCode.
  void failNextCommand(uint8_t errorCode);
  // A silent device still records what it receives but answers nothing.
  void setSilent(bool silent) { silent_ = silent; }

 private:
  void handleRawByte(uint8_t byte);
  void handleCommand(const std::vector<uint8_t>& payload);
  void handleStart(const std::vector<uint8_t>& payload);
  void reply(std::vector<uint8_t> payload);
  void replyError(uint8_t errorCode);
  // Every message leaves through here so that the faults apply to all.
  void emitMessage(uint16_t code, const std::vector<uint8_t>& payload);

  CurrentDeviceConfig config_;
  CommandParser parser_;
  std::vector<std::vector<uint8_t>> commands_;
  std::vector<uint8_t> rawBytes_;
  size_t badFrames_ = 0;
  bool acquiring_ = false;
  bool silent_ = false;
  struct Fault {
    std::vector<uint8_t> strayBytes;
    bool corruptCrc = false;
  };
  std::map<uint64_t, Fault> faults_;  // by the index of the message they hit
  uint64_t messagesSent_ = 0;
  std::optional<uint8_t> failNextCommand_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_CURRENT_DEVICE_MODEL_H_
