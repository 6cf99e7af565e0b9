// Connects a RecordingDev to a scripted legacy device: the oldest family
// answers 'V' with its version line, the compact board answers 0x07.
#ifndef VEXA_TESTS_SUPPORT_LEGACY_DEVICE_H_
#define VEXA_TESTS_SUPPORT_LEGACY_DEVICE_H_

#include <memory>
#include <string>

#include "support/fake_io.h"
#include "support/messages.h"
#include "support/recording_dev.h"
#include "vexa/crc.h"

namespace vexa_test {

inline std::unique_ptr<RecordingDev> connectLegacy(const std::string& versionLine, FakeIO** ioOut,
                                                   const std::string& path = "COM1") {
  auto io = std::make_unique<FakeIO>();
  const bool compactBoard = versionLine.rfind("Quillbox", 0) == 0;
  const Bytes line(versionLine.begin(), versionLine.end());
  io->onSend = [compactBoard, line](const Bytes& chunk, FakeIO& self) {
    if (chunk == Bytes{static_cast<uint8_t>(compactBoard ? 0x07 : 'V')}) self.feed(line);
  };
  FakeIO* raw = io.get();
  auto dev = std::make_unique<RecordingDev>(path, std::move(io));
  raw->onSend = nullptr;
  raw->sent.clear();
  raw->sends.clear();
  raw->recvCalls = 0;
  raw->timeouts.clear();
  *ioOut = raw;
  return dev;
}

// A compact-board frame for values 0..n-1, four inputs (bit 3 = input 0)
// and a sequence number, with its CRC-4.
inline Bytes bitFrame(const std::vector<int>& v, int inputs, int seq) {
  const int n = static_cast<int>(v.size());
  const int size = n + 2 + (n >= 3 && n <= 5 ? 1 : 0);
  Bytes f(size, 0);
  auto at = [&f, size](int fromEnd) -> uint8_t& { return f[size - fromEnd]; };
  auto val = [&v, n](int k) { return k < n ? v[k] : 0; };
  at(2) = static_cast<uint8_t>(inputs << 4 | (val(0) >> 6 & 0x0F));
  at(3) = static_cast<uint8_t>((val(0) & 0x3F) << 2 | (n > 1 ? val(1) >> 8 & 0x03 : 0));
  if (n > 1) at(4) = static_cast<uint8_t>(val(1));
  if (n > 2) at(5) = static_cast<uint8_t>(val(2) >> 2);
  if (n > 2) at(6) = static_cast<uint8_t>((val(2) & 0x03) << 6 | (n > 3 ? val(3) >> 4 & 0x3F : 0));
  if (n > 3) at(7) = static_cast<uint8_t>((val(3) & 0x0F) << 4 | (n > 4 ? val(4) >> 2 & 0x0F : 0));
  if (n > 4) at(8) = static_cast<uint8_t>((val(4) & 0x03) << 6 | val(5));
  for (int crc = 0; crc < 16; ++crc) {
    at(1) = static_cast<uint8_t>(seq << 4 | crc);
    if (Vexa::checkCrc4(f.data(), size)) break;
  }
  return f;
}

// An oldest-family frame: input bit, 7-bit sequence, packed samples, CRC-8.
inline Bytes oldFrame(int input, int seq, const Bytes& packed) {
  Bytes f = {static_cast<uint8_t>(input << 7 | (seq & 0x7F))};
  f.insert(f.end(), packed.begin(), packed.end());
  f.push_back(Vexa::crc8(f.data(), f.size(), 0));
  return f;
}

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_LEGACY_DEVICE_H_
