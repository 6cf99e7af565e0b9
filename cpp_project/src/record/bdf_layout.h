// The parts of the BDF+ layout that the writer and the reader share: time
// texts, the choice of the data-record duration and the per-channel ranges
// and names.
#ifndef VEXA_RECORD_BDF_LAYOUT_H_
#define VEXA_RECORD_BDF_LAYOUT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/recorder.h"

namespace Vexa {
namespace record {

// Times are kept in 100 ns units, the finest step a TAL onset needs here.
constexpr int64_t kUnitsPerSecond = 10000000;
constexpr int kAnnotationBytes = 1536;  // annotation area of every record
constexpr int kMaxAnnotationText = 400;  // longer texts are cut
// A data record stays below this, so that every reader takes it (some
// refuse records above 15 MB).
constexpr int64_t kMaxRecordBytes = 10000000;
// Header field widths the descriptions must fit.
constexpr size_t kLabelWidth = 16, kUnitWidth = 8, kNumberWidth = 8, kIdentificationWidth = 80;

// "12.5", "0.0001", "3": seconds without trailing zeros.
std::string formatSeconds(int64_t units);
// Parses an optionally signed decimal seconds text; false when malformed.
bool parseSeconds(const std::string& text, int64_t& units);

struct RecordPlan {
  int64_t durationUnits = 0;
  int64_t ticksPerRecord = 0;
  std::vector<int32_t> samplesPerRecord;  // per channel
};

// 1 s when every channel's rate is a whole number and such a record stays
// below kMaxRecordBytes; a record too large takes the longest of 0.5 s,
// 0.25 s, 0.2 s, 0.1 s ... that fits. Otherwise the shortest duration of at
// least 0.1 s (or the longest below, when that is too large) that gives
// every channel a whole number of samples and fits the header's 8
// characters. Throws Error::InvalidParameter when there is none.
RecordPlan planRecords(double baseFrequency, const std::vector<RecordedChannel>& channels);

// Digital (and physical) range of a channel of nBits: unsigned 0 .. 2^n - 1
// for 1 to 16 bits, signed 24-bit for 24.
void digitalRange(int nBits, int32_t& min, int32_t& max);

std::string channelLabel(const RecordedChannel& c);  // "Port 1 Ch 0"
// "Port 1 Ch 0 divisor 2 bits 16": all a replay needs, in a field no user
// text fills.
std::string channelTransducer(const RecordedChannel& c);
// Reads the transducer above, or the older pair of label "Port 1 Ch 0" and
// transducer "divisor 2 bits 16".
bool parseChannel(const std::string& label, const std::string& transducer, RecordedChannel& c);

// A physical range end as the header's 8 characters ("-3.25", "1000"), or
// "" when the value needs more.
std::string physicalText(double value);

// A header subfield: printable ASCII, blanks as '_', "X" when empty.
std::string subfield(const std::string& text);

// The header's recording field: "Startdate 17-MAY-2024 X X", the device
// type, product, firmware and path as subfields, then the note as it is.
// Longer than 80 characters when the note does not fit.
std::string recordingField(const RecordingInfo& info);

}  // namespace record
}  // namespace Vexa

#endif  // VEXA_RECORD_BDF_LAYOUT_H_
