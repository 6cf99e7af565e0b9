#include <algorithm>

#include "base/x.h"
#include "vexa/host_clock.h"
#include "vexa/crc.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr uint8_t kFrameStart = 0xAA;
constexpr uint16_t kMaxPayload = 255;
constexpr int kReplyTimeoutMs = 5000;
constexpr uint16_t kReplyOk = 0x00;
constexpr uint16_t kReplyError = 0x01;

}  // namespace

uint16_t BaseDev::X::sendCommand(const uint8_t* payload, uint16_t n, bool noWait) {
  if (n > kMaxPayload) VEXA_THROW(Error::InvalidParameter);
  uint8_t frame[kMaxPayload + 3];
  frame[0] = kFrameStart;
  frame[1] = static_cast<uint8_t>(n);
  std::copy_n(payload, n, frame + 2);
  frame[2 + n] = crc8(payload, n);
  io->send(frame, n + 3);
  if (noWait) return 0;

  for (;;) {
    uint16_t len = 0;
    uint16_t code = recvMsg(len, kReplyTimeoutMs, false);
    if (code == kReplyOk) return len;
    if (code == kReplyError) {
      // An error reply without payload still refuses the command; its code
      // then reads as 0 instead of a stale byte.
      int32_t deviceCode = len > 0 ? rxBuf[0] : 0;
      VEXA_THROW(Error::InvalidOperation, deviceCode);
    }
    if (code == kNoMessage) VEXA_THROW(Notification::ContactingDevice);
    queueMsg(code, len);
  }
}

uint16_t BaseDev::X::sendCommand(std::initializer_list<uint8_t> payload, bool noWait) {
  return sendCommand(payload.begin(), static_cast<uint16_t>(payload.size()), noWait);
}

void BaseDev::X::queueMsg(uint16_t code, uint16_t length) {
  pending.push_back(PendingMsg{code, std::vector<uint8_t>(rxBuf.begin(), rxBuf.begin() + length), hostTime()});
}

}  // namespace Vexa
