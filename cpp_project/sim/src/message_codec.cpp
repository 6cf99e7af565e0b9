#include "vexa_sim/message_codec.h"

#include <stdexcept>
#include <string>

#include "vexa/crc.h"

namespace vexa_sim {

bool isValidMessageCode(uint16_t code) { return code < 0x80 || code >= 0x8000; }

std::vector<uint8_t> encodeMessage(uint16_t code, const uint8_t* payload, size_t len) {
  if (!isValidMessageCode(code)) {
    throw std::invalid_argument("message code " + std::to_string(code) +
                                " is neither 0..0x7F nor 0x8000..0xFFFF");
  }
  if (len > kMaxMessagePayload) {
    throw std::invalid_argument("message payload of " + std::to_string(len) +
                                " bytes exceeds 65535");
  }
  std::vector<uint8_t> msg;
  msg.reserve(len + 6);
  if (code >= 0x8000) msg.push_back(static_cast<uint8_t>(code >> 8));
  msg.push_back(static_cast<uint8_t>(code & 0xFF));
  if (len < 0xFF) {
    msg.push_back(static_cast<uint8_t>(len));
  } else {  // FF announces the 16-bit length
    msg.push_back(0xFF);
    msg.push_back(static_cast<uint8_t>(len & 0xFF));
    msg.push_back(static_cast<uint8_t>(len >> 8));
  }
  msg.insert(msg.end(), payload, payload + len);
  msg.push_back(Vexa::crc8(msg.data(), msg.size()));
  return msg;
}

}  // namespace vexa_sim
