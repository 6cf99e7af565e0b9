// Reads device-to-host messages in the tests: code (one byte, or two when
// the first has its top bit set), length (FF: 16-bit little-endian length
// follows), payload, CRC-8 over all of it from 0xFF.
#ifndef VEXA_TESTS_SIM_MESSAGE_READER_H_
#define VEXA_TESTS_SIM_MESSAGE_READER_H_

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "sim_test_util.h"
#include "vexa/crc.h"
#include "vexa/io.h"

namespace vexa_sim_test {

struct Message {
  uint16_t code = 0;
  Bytes payload;
  bool crcOk = true;
};

inline bool operator==(const Message& a, const Message& b) {
  return a.code == b.code && a.payload == b.payload && a.crcOk == b.crcOk;
}

inline void PrintTo(const Message& m, std::ostream* os) {
  *os << "{code 0x" << std::hex << m.code << std::dec << ", " << m.payload.size() << " bytes"
      << (m.crcOk ? "" : ", bad CRC") << "}";
}

// Reads one message through `next(buf, n)`, which fills exactly n bytes.
template <class Next>
Message readMessageWith(Next&& next) {
  Bytes header(1);
  next(header.data(), 1);
  if (header[0] & 0x80) {
    header.resize(2);
    next(&header[1], 1);
  }
  header.push_back(0);
  next(&header.back(), 1);
  size_t len = header.back();
  if (len == 0xFF) {
    header.resize(header.size() + 2);
    next(&header[header.size() - 2], 2);
    len = header[header.size() - 2] | header[header.size() - 1] << 8;
  }
  Message m;
  m.code = header[0] & 0x80 ? static_cast<uint16_t>(header[0] << 8 | header[1]) : header[0];
  m.payload.resize(len);
  if (len > 0) next(m.payload.data(), len);
  uint8_t crc = 0;
  next(&crc, 1);
  m.crcOk = crc == Vexa::crc8(m.payload.data(), len, Vexa::crc8(header.data(), header.size()));
  return m;
}

// Splits bytes into whole messages; fails the test on a truncated one.
inline std::vector<Message> parseMessages(const Bytes& bytes) {
  std::vector<Message> out;
  size_t pos = 0;
  auto next = [&](uint8_t* dst, size_t n) {
    if (bytes.size() - pos < n) throw std::out_of_range("message cut short");
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), n, dst);
    pos += n;
  };
  while (pos < bytes.size()) out.push_back(readMessageWith(next));
  return out;
}

// One message from the host's transport, under its receive time-out.
inline Message readMessage(Vexa::IO& io) {
  return readMessageWith(
      [&](uint8_t* dst, size_t n) { Vexa::IO::recvAll(io, dst, static_cast<int>(n)); });
}

}  // namespace vexa_sim_test

#endif  // VEXA_TESTS_SIM_MESSAGE_READER_H_
