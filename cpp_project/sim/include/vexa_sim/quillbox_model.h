// The compact board: single command bytes (rate (r << 6) | 3, start
// (mask << 2) | 1, stop 0x00, version request 0x07, state request 0x0B),
// one frame per tick at 1, 10, 100 or 1000 Hz. Boards of major version
// below 5 need 1000 ms between the rate byte and the start byte and
// between the stop and the version request: a byte that comes sooner is
// ignored and recorded. Value k of frame n is
// samplePattern(n, 0, k, quillboxValueBits(k)).
#ifndef VEXA_SIM_QUILLBOX_MODEL_H_
#define VEXA_SIM_QUILLBOX_MODEL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vexa_sim/paced_frame_model.h"
#include "vexa_sim/quillbox_frame.h"

namespace vexa_sim {

struct QuillboxConfig {
  std::string versionLine = "Quillbox_v5.1\n";  // sent exactly as given
  // Unset: as the host decides, from the version line's major number.
  std::optional<bool> needsSettling;
  // Frame n carries digitalInputs[n % size] (bit 3 = input 0); empty: 0.
  std::vector<uint8_t> digitalInputs;
  QuillboxState state;
};

class QuillboxModel : public PacedFrameModel {
 public:
  explicit QuillboxModel(QuillboxConfig config = {});

  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;

  QuillboxConfig& config() { return config_; }
  bool needsSettling() const;
  // Every byte the host sent, in order.
  const std::vector<uint8_t>& receivedBytes() const { return received_; }
  // Set by the last rate byte; 1000 until one comes.
  int rate() const { return rate_; }
  // Channel mask of the last start obeyed.
  std::optional<int> lastStartMask() const { return lastMask_; }
  // Start bytes and version requests ignored for coming too soon.
  const std::vector<uint8_t>& tooEarly() const { return tooEarly_; }
  // Why the last start byte was ignored; empty when none was.
  const std::string& lastRefusal() const { return lastRefusal_; }

 private:
  std::vector<uint8_t> buildFrame(int64_t index) override;
  void corruptCrc(std::vector<uint8_t>& frame) override { frame.back() ^= 0x0F; }
  void handleByte(uint8_t byte, TimePoint now);
  void handleStart(uint8_t byte, TimePoint now);
  bool tooSoonAfter(const std::optional<TimePoint>& event, TimePoint now) const;

  QuillboxConfig config_;
  std::vector<uint8_t> received_;
  int rate_ = 1000;
  std::optional<TimePoint> rateAt_;
  std::optional<TimePoint> stopAt_;
  std::optional<int> lastMask_;
  std::vector<uint8_t> tooEarly_;
  std::string lastRefusal_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_QUILLBOX_MODEL_H_
