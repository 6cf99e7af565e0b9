/// @file
/// Device events handed to BaseDev::onEvent. Every record starts with its
/// type; the callback casts to the record of that type. Records and the
/// pointers inside them are valid only during the callback.
#ifndef VEXA_EVENT_H_
#define VEXA_EVENT_H_

#include <cstdint>
#include <utility>
#include <vector>

namespace Vexa {

/// The common start of every event record.
struct Event {
  /// Which record follows; the values are the device's message codes.
  enum Type : int32_t {
    kDigitalInput = 3,    ///< Events::DigitalInput
    kClockStamp = 4,      ///< Events::ClockStamp
    kClockStampList = 5,  ///< Events::ClockStampList
    kCounters = 7,        ///< Events::Counters
    kDisconnect = 8,      ///< Events::Disconnect
    kFlag = 9,            ///< Events::Flag
    kBattery = 10,        ///< Events::Battery
    kValueFlag = 11,      ///< Events::ValueFlag
    kRawData = 12,        ///< Events::RawData; also 14: the record keeps the message code as its type
    kValue = 13,          ///< Events::Value
    kApplication = 112,   ///< Events::Application, for message codes 112 to 127
  };
  int32_t type;  ///< one of Type, or 14 for the second kind of raw data
};

/// The event records, one per Event::Type.
namespace Events {

/// A digital input changed.
struct DigitalInput : Event {
  int32_t clockSource;  ///< the device's clock; 2 (the tick counter) on the legacy families
  uint32_t clockValue;  ///< that clock at the change
  int32_t input;        ///< which input changed: 0 for message-protocol devices, 0 to 3 on the legacy families
  bool state;           ///< the input's new state
};

/// A reading of one of the device's clocks.
struct ClockStamp : Event {
  int32_t clockSource;  ///< which clock
  uint64_t clockValue;  ///< its 32-bit reading, zero-extended
};

/// Several clock readings at once.
struct ClockStampList : Event {
  std::vector<std::pair<int32_t, uint32_t>> stamps;  ///< (clockSource, clockValue), at least two
};

/// The device's counters.
struct Counters : Event {
  uint32_t value;        ///< the 32-bit counter
  uint32_t values16[5];  ///< five 16-bit counters, widened
};

/// The device announced a disconnect. A running acquisition ends with it:
/// the library releases its acquisition state without sending a stop.
struct Disconnect : Event {
  int32_t reason;  ///< the device's reason code
};

/// A flag the device raised or lowered.
struct Flag : Event {
  int32_t length;  ///< always 1
  bool flag;       ///< the flag's state
};

/// A battery report the device sent by itself.
struct Battery : Event {
  float voltage;     ///< volts
  float percentage;  ///< charge, 0 to 100
};

/// A one-byte value, with an optional flag.
struct ValueFlag : Event {
  int32_t value;  ///< 0 to 255
  bool hasFlag;   ///< whether the device sent the flag
  bool flag;      ///< the flag; false when hasFlag is false
};

/// Bytes the library does not interpret.
struct RawData : Event {
  int32_t length;       ///< number of bytes at data
  const uint8_t* data;  ///< valid only during the callback
};

/// A one-byte value.
struct Value : Event {
  int32_t value;  ///< 0 to 255
};

/// A message of an application code (112 to 127), passed on unread.
struct Application : Event {
  int32_t code;         ///< the message code
  int32_t length;       ///< number of bytes at data
  const uint8_t* data;  ///< valid only during the callback
};

}  // namespace Events
}  // namespace Vexa

#endif  // VEXA_EVENT_H_
