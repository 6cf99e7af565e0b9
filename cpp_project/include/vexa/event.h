// Device events handed to BaseDev::onEvent. Every record starts with its
// type; the callback casts to the record of that type. Pointers inside a
// record are valid only during the callback.
#ifndef VEXA_EVENT_H_
#define VEXA_EVENT_H_

#include <cstdint>
#include <utility>
#include <vector>

namespace Vexa {

struct Event {
  enum Type : int32_t {
    kDigitalInput = 3,
    kClockStamp = 4,
    kClockStampList = 5,
    kCounters = 7,
    kDisconnect = 8,
    kFlag = 9,
    kBattery = 10,
    kValueFlag = 11,
    kRawData = 12,  // also 14: the record keeps the message code as its type
    kValue = 13,
    kApplication = 112,  // message codes 112 to 127
  };
  int32_t type;
};

namespace Events {

struct DigitalInput : Event {
  int32_t clockSource;
  uint32_t clockValue;
  int32_t input;  // which input changed: 0 for message-protocol devices
  bool state;
};

struct ClockStamp : Event {
  int32_t clockSource;
  uint64_t clockValue;
};

struct ClockStampList : Event {
  std::vector<std::pair<int32_t, uint32_t>> stamps;  // (clockSource, clockValue)
};

struct Counters : Event {
  uint32_t value;
  uint32_t values16[5];
};

struct Disconnect : Event {
  int32_t reason;
};

struct Flag : Event {
  int32_t length;
  bool flag;
};

struct Battery : Event {
  float voltage;
  float percentage;
};

struct ValueFlag : Event {
  int32_t value;
  bool hasFlag;
  bool flag;
};

struct RawData : Event {
  int32_t length;
  const uint8_t* data;
};

struct Value : Event {
  int32_t value;
};

struct Application : Event {
  int32_t code;
  int32_t length;
  const uint8_t* data;
};

}  // namespace Events
}  // namespace Vexa

#endif  // VEXA_EVENT_H_
