// The oldest device family: answers 'V' with its version line at any time,
// starts on "@START,…;" (firmware 0x0200 on) or the single byte 'Z' (older
// firmware: 1000 Hz, 12 bits, 8 channels on every eighth frame and 6 on the
// others), streams one frame per tick in real time and stops on "RV", which
// it answers with the version line. The value of channel c (the bit number
// in the mask) in frame k is samplePattern(k, 0, c, nBits).
#ifndef VEXA_SIM_CADRIUM_MODEL_H_
#define VEXA_SIM_CADRIUM_MODEL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vexa_sim/cadrium_start.h"
#include "vexa_sim/paced_frame_model.h"

namespace vexa_sim {

struct CadriumConfig {
  std::string versionLine = "Cadrium 2 v.3.1\n";  // sent exactly as given
  // Unset: read from the version line as the host reads it.
  std::optional<uint16_t> firmware;
  // Frame k carries digitalInputs[k % size] != 0; empty: always 0.
  std::vector<uint8_t> digitalInputs;
};

class CadriumModel : public PacedFrameModel {
 public:
  explicit CadriumModel(CadriumConfig config = {});

  void onHostBytes(const uint8_t* data, size_t len, TimePoint now) override;

  CadriumConfig& config() { return config_; }
  uint16_t firmware() const;
  // Every byte the host sent, in order.
  const std::vector<uint8_t>& receivedBytes() const { return received_; }
  // The last start obeyed, kept after its acquisition ended.
  const std::optional<CadriumStart>& lastStart() const { return lastStart_; }
  // Why the last start text or 'Z' was ignored; empty when none was.
  const std::string& lastRefusal() const { return lastRefusal_; }

 private:
  std::vector<uint8_t> buildFrame(int64_t index) override;
  void corruptCrc(std::vector<uint8_t>& frame) override { frame.back() ^= 0xFF; }
  void handleByte(uint8_t byte, TimePoint now);
  void start(const CadriumStart& start, TimePoint now);
  void refuse(const std::string& why) { lastRefusal_ = why; }
  void sendVersionLine();

  CadriumConfig config_;
  std::vector<uint8_t> received_;
  std::optional<std::string> command_;  // an "@…" text being received
  bool afterR_ = false;
  std::optional<CadriumStart> lastStart_;
  std::string lastRefusal_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_CADRIUM_MODEL_H_
