// Plays a current-generation device on a FakeIO: enough of the command set
// to get through the handshake, and a hook for whatever a test adds.
#ifndef VEXA_TESTS_SUPPORT_SCRIPTED_DEVICE_H_
#define VEXA_TESTS_SUPPORT_SCRIPTED_DEVICE_H_

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "support/fake_io.h"
#include "support/messages.h"
#include "support/recording_dev.h"

namespace vexa_test {

struct DeviceScript {
  std::string description = "tessarimodular";
  uint16_t productId = 0x0201;
  uint16_t fwVersion = 0x0300;
  uint16_t hwVersion = 0xFFFF;
  Bytes uid = Bytes(2, 0x01);
  uint8_t color = 4;
  uint16_t batteryRaw = 1700;
  // Answers a framed command (payload) with the bytes to feed, or returns
  // false to let the default answers run.
  std::function<bool(const Bytes& payload, FakeIO& io)> extra;
  // Every framed command's payload, kept beyond the device's life.
  std::shared_ptr<std::vector<Bytes>> commands = std::make_shared<std::vector<Bytes>>();
};

// Connects a RecordingDev (or another device class) through a FakeIO that
// plays `script`.
template <class Dev = RecordingDev>
std::unique_ptr<Dev> connectScripted(const DeviceScript& script, FakeIO** ioOut, const std::string& path = "COMtest") {
  auto io = std::make_unique<FakeIO>();
  io->onSend = [script](const Bytes& chunk, FakeIO& self) {
    if (chunk == Bytes{'V'}) {
      self.feed(reply(Bytes(script.description.begin(), script.description.end())));
      return;
    }
    if (chunk.size() < 3 || chunk[0] != 0xAA) return;
    Bytes payload(chunk.begin() + 2, chunk.end() - 1);
    script.commands->push_back(payload);
    if (script.extra && script.extra(payload, self)) return;
    auto high = [](uint16_t v) { return Bytes{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; };
    const std::map<Bytes, Bytes> answers = {
        {{0x03, 0x00}, high(script.productId) + high(script.fwVersion) + high(script.hwVersion)},
        {{0x03, 0x03}, script.uid},
        {{0x03, 0x04}, {script.color}},
        {{0x04, 0x00}, {static_cast<uint8_t>(script.batteryRaw), static_cast<uint8_t>(script.batteryRaw >> 8)}}};
    const auto answer = answers.find(payload);
    self.feed(reply(answer == answers.end() ? Bytes{} : answer->second));
  };
  FakeIO* raw = io.get();
  auto dev = std::make_unique<Dev>(path, std::move(io));
  if (ioOut) *ioOut = raw;
  raw->forget();
  return dev;
}

// Every property as key=value, in key order; texts quoted, so that the kind
// shows.
inline std::string describe(const Vexa::Properties& properties) {
  std::string out;
  for (const auto& [key, value] : properties) {
    const bool isText = value.kind() == Vexa::PropertyValue::kString;
    out += (out.empty() ? "" : " ") + key + "=" + (isText ? "'" + value.asString() + "'" : std::to_string(value.asInt()));
  }
  return out;
}

// A test with a device of the default script connected.
class ScriptedDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { dev = connectScripted({}, &io); }
  Vexa::BaseDev::X& x() { return *dev->impl(); }
  Vexa::SignalsX& sig() { return *dev->impl()->sigX; }

  FakeIO* io = nullptr;
  std::unique_ptr<RecordingDev> dev;
};

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_SCRIPTED_DEVICE_H_
