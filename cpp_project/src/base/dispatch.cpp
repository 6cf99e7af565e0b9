#include "base/x.h"
#include "signals/signals_x.h"
#include "vexa/event.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr uint16_t kFrameBit = 0x8000;
constexpr uint8_t kFirstApplicationCode = 112;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

[[noreturn]] void malformed() {
  VEXA_THROW(Notification::ContactingDevice);
}

void requireLength(bool ok) {
  if (!ok) malformed();
}

template <class Record>
Record makeRecord(int32_t type) {
  Record r{};
  r.type = type;
  return r;
}

}  // namespace

bool BaseDev::X::dispatchPending() {
  while (!pending.empty()) {
    // The entry leaves the queue before it is dispatched, so whatever the
    // callbacks do to the queue (a frame put back at its front, commands
    // queueing replies) cannot move the bytes being decoded.
    PendingMsg msg = std::move(pending.front());
    pending.pop_front();
    bool stop;
    try {
      stop = dispatchMsg(msg.code, msg.data.data(), static_cast<uint16_t>(msg.data.size()), msg.arrival);
    } catch (...) {
      pending.clear();
      throw;
    }
    if (stop) return true;
  }
  return false;
}

bool BaseDev::X::dispatchMsg(uint16_t code, const uint8_t* data, uint16_t len, double arrival) {
  if (code < kFrameBit) return dispatchEvent(static_cast<uint8_t>(code), data, len);
  if (!sigX) VEXA_THROW(Notification::ContactingDevice);
  return sigX->dispatchFrames(code & 0x7FFF, data, len, arrival);
}

bool BaseDev::X::dispatchEvent(uint8_t code, const uint8_t* data, uint16_t len) {
  switch (code) {
    case Event::kDigitalInput: {
      requireLength(len == 6);
      auto ev = makeRecord<Events::DigitalInput>(code);
      ev.clockSource = data[0];
      ev.clockValue = le32(data + 1);
      ev.input = 0;
      ev.state = data[5] != 0;
      return dev->onEvent(ev);
    }
    case Event::kClockStamp: {
      requireLength(len == 5);
      auto ev = makeRecord<Events::ClockStamp>(code);
      ev.clockSource = data[0];
      ev.clockValue = le32(data + 1);
      return dev->onEvent(ev);
    }
    case Event::kClockStampList: {
      requireLength(len >= 10 && len % 5 == 0);
      auto ev = makeRecord<Events::ClockStampList>(code);
      for (uint16_t k = 0; k < len; k += 5) ev.stamps.emplace_back(data[k], le32(data + k + 1));
      return dev->onEvent(ev);
    }
    case Event::kCounters: {
      requireLength(len == 14);
      auto ev = makeRecord<Events::Counters>(code);
      ev.value = le32(data);
      for (int i = 0; i < 5; ++i) ev.values16[i] = le16(data + 4 + 2 * i);
      return dev->onEvent(ev);
    }
    case Event::kDisconnect: {
      // The device has ended any acquisition; so does the host, without
      // sending a stop.
      if (acquiring()) sigX->release();
      requireLength(len == 1);
      auto ev = makeRecord<Events::Disconnect>(code);
      ev.reason = data[0];
      return dev->onEvent(ev);
    }
    case Event::kFlag: {
      requireLength(len == 1);
      auto ev = makeRecord<Events::Flag>(code);
      ev.length = 1;
      ev.flag = data[0] != 0;
      return dev->onEvent(ev);
    }
    case Event::kBattery: {
      requireLength(len == 2);
      auto ev = makeRecord<Events::Battery>(code);
      ev.voltage = batteryVoltage(le16(data));
      ev.percentage = batteryPercent(ev.voltage);
      return dev->onEvent(ev);
    }
    case Event::kValueFlag: {
      requireLength(len == 1 || len == 2);
      auto ev = makeRecord<Events::ValueFlag>(code);
      ev.value = data[0];
      ev.hasFlag = len == 2;
      ev.flag = len == 2 && data[1] != 0;
      return dev->onEvent(ev);
    }
    case 12:
    case 14: {
      auto ev = makeRecord<Events::RawData>(code);
      ev.length = len;
      ev.data = data;
      return dev->onEvent(ev);
    }
    case Event::kValue: {
      requireLength(len == 1);
      auto ev = makeRecord<Events::Value>(code);
      ev.value = data[0];
      return dev->onEvent(ev);
    }
    default:
      break;
  }
  // Replies (0, 1) where an event belongs, and codes that are no event.
  if (code < kFirstApplicationCode || code >= 0x80) malformed();
  auto ev = makeRecord<Events::Application>(Event::kApplication);
  ev.code = code;
  ev.length = len;
  ev.data = data;
  return dev->onEvent(ev);
}

}  // namespace Vexa
