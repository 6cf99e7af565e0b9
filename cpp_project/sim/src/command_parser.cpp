#include "vexa_sim/command_parser.h"

#include "vexa/crc.h"

namespace vexa_sim {

CommandParser::Input CommandParser::push(uint8_t byte, TimePoint now) {
  if (state_ != State::kIdle && now - lastByte_ > maxGap_) {
    state_ = State::kIdle;
    ++abandoned_;
  }
  lastByte_ = now;
  Input in;
  switch (state_) {
    case State::kIdle:
      if (byte == kCommandStart) {
        state_ = State::kLength;
      } else {
        in.kind = Input::Kind::kRawByte;
        in.rawByte = byte;
      }
      break;
    case State::kLength:
      expected_ = byte;
      payload_.clear();
      state_ = expected_ == 0 ? State::kCrc : State::kPayload;
      break;
    case State::kPayload:
      payload_.push_back(byte);
      if (payload_.size() == expected_) state_ = State::kCrc;
      break;
    case State::kCrc:
      state_ = State::kIdle;
      if (Vexa::crc8(payload_.data(), payload_.size()) == byte) {
        in.kind = Input::Kind::kCommand;
        in.payload.swap(payload_);
      } else {
        in.kind = Input::Kind::kBadFrame;
      }
      break;
  }
  return in;
}

}  // namespace vexa_sim
