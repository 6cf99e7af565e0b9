// A current-generation device: answers the 'V' probe with its description
// and framed commands with messages, streams data frames in real time
// between an acknowledged start and stop, and lets tests send events and
// inject faults. Use it through Engine::with, which serialises access.
// Sample values are samplePattern(tick, source index, channel number, nBits)
// unless the configuration asks for the clock signal. The configuration may
// also make the device's clock drift and its messages late.
#ifndef VEXA_SIM_CURRENT_DEVICE_MODEL_H_
#define VEXA_SIM_CURRENT_DEVICE_MODEL_H_

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "vexa_sim/command_parser.h"
#include "vexa_sim/current_device_config.h"
#include "vexa_sim/device_model.h"
#include "vexa_sim/frame_stream.h"
#include "vexa_sim/start_request.h"

namespace vexa_sim {

// Error bytes of refused commands.
constexpr uint8_t kUnknownCommandError = 0x02;
constexpr uint8_t kBadStartError = 0x03;          // malformed start command
constexpr uint8_t kAlreadyAcquiringError = 0x04;  // start while streaming
// Reason of the disconnect event sent when the signal to play runs out.
constexpr uint8_t kEndOfSignalReason = 0x00;

class CurrentDeviceModel : public DeviceModel {
 public:
  // Throws std::invalid_argument if the description or the identifier does
  // not fit in one message.
  explicit CurrentDeviceModel(CurrentDeviceConfig config = {});

  // Frames that fell due before the host's bytes are written first.
  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;
  // While acquiring: when the next data frame is complete; and when the
  // first message held back by the configured jitter is to go.
  std::optional<TimePoint> nextWake() const override;
  // Writes every frame due by now (at most a bounded batch per call, so a
  // host that cannot keep up still gets its commands answered), then every
  // held message whose time has come.
  void onWake(TimePoint now) override;

  const CurrentDeviceConfig& config() const { return config_; }
  // Same checks as construction; takes effect from the next start (the
  // jitter's draws at once, from a new seed).
  void setConfig(CurrentDeviceConfig config);

  // Payloads of the well-formed commands, in arrival order, answered or not.
  const std::vector<std::vector<uint8_t>>& receivedCommands() const { return commands_; }
  // Bytes that arrived outside any command frame ('V', 0x07, noise).
  const std::vector<uint8_t>& rawBytes() const { return rawBytes_; }
  // Frames dropped for a bad CRC or left unfinished.
  size_t rejectedFrames() const { return badFrames_ + parser_.abandonedFrames(); }
  // Between an acknowledged start and its stop or a disconnect.
  bool acquiring() const { return stream_.has_value(); }
  // The last accepted start, kept after its acquisition ended.
  const std::optional<StartRequest>& lastStart() const { return lastStart_; }
  // Why the last refused start was refused; empty when none was.
  const std::string& lastStartRefusal() const { return lastStartRefusal_; }
  // Of the running or last acquisition: ticks per frame in force, data
  // frames written and the ticks they covered (idle ones included).
  int ticksPerFrame() const { return ticksPerFrame_; }
  uint64_t framesSent() const { return framesSent_; }
  int64_t ticksSent() const { return ticksSent_; }
  // Once the last acquisition ended: the first tick it did not send.
  std::optional<int64_t> stopTick() const { return stopTick_; }

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
  // A silent device still records what it receives but answers nothing and
  // writes no frames; frames falling due meanwhile are lost for good.
  void setSilent(bool silent) { silent_ = silent; }
  // Faults on the data stream, for the next frame (of the next acquisition
  // if none runs). The frame starts n ticks later than it would: those
  // ticks are never sent.
  void skipTicks(int64_t n);
  // The frame's payload loses its last byte, so it ends inside its last
  // tick whenever that tick takes two bytes or more.
  void cutNextFrame() { cutNextFrame_ = true; }
  // Event 8 with the reason byte; a device streams nothing after it.
  void disconnect(uint8_t reason);

 protected:
  // Hooks for devices that play other signals. Why a well-formed start is
  // refused (answered with kBadStartError); empty accepts it.
  virtual std::string refuseStart(const StartRequest& request) const { return {}; }
  // Where an accepted start's samples come from; empty: samplePattern.
  virtual FrameStream::SampleFn samplesFor(const StartRequest& request) { return {}; }
  // The tick at which every acquisition ends with a disconnect event
  // (kEndOfSignalReason); nullopt streams until stopped.
  virtual std::optional<int64_t> endTick() const { return std::nullopt; }

 private:
  void handleRawByte(uint8_t byte);
  void handleCommand(const std::vector<uint8_t>& payload, TimePoint now);
  void handleStart(const std::vector<uint8_t>& payload, TimePoint now);
  void handleStop();
  void endAcquisition();
  void emitDueFrames(TimePoint now);
  void reply(std::vector<uint8_t> payload);
  void replyError(uint8_t errorCode);
  // Every message leaves through here so that the faults apply to all.
  // readyAt: when the device had it ready (a frame: when its last tick was
  // due); the jitter holds it back from then. Default: now.
  void emitMessage(uint16_t code, const std::vector<uint8_t>& payload,
                   std::optional<TimePoint> readyAt = std::nullopt);
  // Writes the message at once or, with jitter, queues it for later.
  void deliver(std::vector<uint8_t> bytes, TimePoint readyAt);
  void releaseHeld(TimePoint now);
  // The first moment from t on that is outside the acquisition's stalls.
  TimePoint afterStall(TimePoint t) const;

  CurrentDeviceConfig config_;
  CommandParser parser_;
  std::vector<std::vector<uint8_t>> commands_;
  std::vector<uint8_t> rawBytes_;
  size_t badFrames_ = 0;
  bool silent_ = false;
  std::optional<FrameStream> stream_;
  std::optional<StartRequest> lastStart_;
  std::string lastStartRefusal_;
  int ticksPerFrame_ = 0;
  uint64_t framesSent_ = 0;
  int64_t ticksSent_ = 0;
  std::optional<int64_t> stopTick_;
  int64_t pendingSkip_ = 0;
  bool cutNextFrame_ = false;
  struct Fault {
    std::vector<uint8_t> strayBytes;
    bool corruptCrc = false;
  };
  std::map<uint64_t, Fault> faults_;  // by the index of the message they hit
  uint64_t messagesSent_ = 0;
  std::optional<uint8_t> failNextCommand_;
  struct Held {
    TimePoint release;
    std::vector<uint8_t> bytes;
  };
  std::deque<Held> held_;  // release times never decrease
  std::mt19937_64 random_;
  std::optional<TimePoint> stallsFrom_;  // the running acquisition's start
  std::optional<TimePoint> handlingAt_;  // while the host's bytes are handled
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_CURRENT_DEVICE_MODEL_H_
