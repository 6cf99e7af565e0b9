// Splits the host's byte stream into framed commands (AA n payload crc8,
// the CRC over the payload only) and the bare single bytes around them.
#ifndef VEXA_SIM_COMMAND_PARSER_H_
#define VEXA_SIM_COMMAND_PARSER_H_

#include <chrono>
#include <cstdint>
#include <vector>

namespace vexa_sim {

constexpr uint8_t kCommandStart = 0xAA;

class CommandParser {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  struct Input {
    enum class Kind {
      kNone,      // byte taken into an unfinished frame
      kRawByte,   // a byte outside any frame: rawByte
      kCommand,   // a complete frame with a good CRC: payload
      kBadFrame,  // a complete frame whose CRC did not match; dropped
    };
    Kind kind = Kind::kNone;
    uint8_t rawByte = 0;
    std::vector<uint8_t> payload;
  };

  // A frame left unfinished for longer than maxGap is dropped, so one lost
  // byte cannot swallow the host's next command.
  explicit CommandParser(std::chrono::milliseconds maxGap = std::chrono::milliseconds(1000))
      : maxGap_(maxGap) {}

  Input push(uint8_t byte, TimePoint now);
  // Frames dropped unfinished because the host went quiet mid-frame.
  size_t abandonedFrames() const { return abandoned_; }

 private:
  enum class State { kIdle, kLength, kPayload, kCrc };

  std::chrono::milliseconds maxGap_;
  State state_ = State::kIdle;
  size_t expected_ = 0;
  std::vector<uint8_t> payload_;
  TimePoint lastByte_{};
  size_t abandoned_ = 0;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_COMMAND_PARSER_H_
