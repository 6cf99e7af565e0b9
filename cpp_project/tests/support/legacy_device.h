// Connects a RecordingDev (or another device class) to a scripted legacy
// device: the oldest family answers 'V' with its version line, the compact
// board answers 0x07.
#ifndef VEXA_TESTS_SUPPORT_LEGACY_DEVICE_H_
#define VEXA_TESTS_SUPPORT_LEGACY_DEVICE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/fake_io.h"
#include "support/messages.h"
#include "support/recording_dev.h"
#include "vexa/crc.h"
#include "vexa_sim/quillbox_frame.h"

namespace vexa_test {

template <class Dev = RecordingDev>
std::unique_ptr<Dev> connectLegacy(const std::string& versionLine, FakeIO** ioOut, const std::string& path = "COM1") {
  auto io = std::make_unique<FakeIO>();
  const bool compactBoard = versionLine.rfind("Quillbox", 0) == 0;
  const Bytes line(versionLine.begin(), versionLine.end());
  io->onSend = [compactBoard, line](const Bytes& chunk, FakeIO& self) {
    if (chunk == Bytes{static_cast<uint8_t>(compactBoard ? 0x07 : 'V')}) self.feed(line);
  };
  FakeIO* raw = io.get();
  auto dev = std::make_unique<Dev>(path, std::move(io));
  raw->onSend = nullptr;
  raw->forget();
  *ioOut = raw;
  return dev;
}

// A test that connects a legacy device by its version line.
class LegacyDeviceTest : public ::testing::Test {
 protected:
  void connect(const char* line, const std::string& path = "COM1") {
    dev = connectLegacy(line, &io, path);
    dev->setTimeout(100);
  }
  Vexa::SignalsX& sig() { return *dev->impl()->sigX; }

  FakeIO* io = nullptr;
  std::unique_ptr<RecordingDev> dev;
};

// A compact-board frame for values 0..n-1, four inputs (bit 3 = input 0)
// and a sequence number, with its CRC-4.
inline Bytes bitFrame(const std::vector<int>& values, int inputs, int seq) {
  return vexa_sim::encodeQuillboxFrame(static_cast<uint8_t>(seq), static_cast<uint8_t>(inputs),
                                       std::vector<int32_t>(values.begin(), values.end()));
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
