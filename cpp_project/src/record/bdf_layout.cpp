#include "record/bdf_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "vexa/exceptions.h"

namespace Vexa {
namespace record {

std::string formatSeconds(int64_t units) {
  const bool negative = units < 0;
  const uint64_t u = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  std::string text = (negative ? "-" : "") + std::to_string(u / kUnitsPerSecond);
  uint64_t frac = u % kUnitsPerSecond;
  if (frac != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%07llu", static_cast<unsigned long long>(frac));
    std::string f(digits);
    f.erase(f.find_last_not_of('0') + 1);
    text += "." + f;
  }
  return text;
}

bool parseSeconds(const std::string& text, int64_t& units) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t whole = 0, frac = 0, scale = kUnitsPerSecond;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    if (whole > (INT64_MAX / kUnitsPerSecond - 9) / 10) return false;
    whole = whole * 10 + (text[i] - '0');
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      scale /= 10;
      frac += (text[i] - '0') * scale;  // digits past 100 ns add nothing
    }
  }
  if (digits == 0 || i != text.size()) return false;
  units = whole * kUnitsPerSecond + frac;
  if (negative) units = -units;
  return true;
}

namespace {

int64_t recordBytes(int64_t ticks, const std::vector<RecordedChannel>& channels) {
  int64_t bytes = kAnnotationBytes;
  for (const RecordedChannel& c : channels) bytes += 3 * (ticks / c.freqDivisor);
  return bytes;
}

// The duration that a record of `ticks` ticks takes, if it is exact in
// 100 ns units, short enough for the header, below the size bound and
// gives whole sample counts.
bool tryDuration(double ticks, double f, const std::vector<RecordedChannel>& channels, RecordPlan& plan) {
  const double seconds = ticks / f;
  const double units = std::round(seconds * kUnitsPerSecond);
  if (units < 1 || formatSeconds(static_cast<int64_t>(units)).size() > 8) return false;
  if (std::fabs(units / kUnitsPerSecond * f - ticks) > 1e-6 * ticks) return false;
  const int64_t whole = static_cast<int64_t>(std::llround(ticks));
  if (recordBytes(whole, channels) >= kMaxRecordBytes) return false;
  plan.durationUnits = static_cast<int64_t>(units);
  plan.ticksPerRecord = whole;
  plan.samplesPerRecord.clear();
  for (const RecordedChannel& c : channels) {
    plan.samplesPerRecord.push_back(static_cast<int32_t>(plan.ticksPerRecord / c.freqDivisor));
  }
  return true;
}

}  // namespace

RecordPlan planRecords(double f, const std::vector<RecordedChannel>& channels) {
  int64_t lcm = 1;
  for (const RecordedChannel& c : channels) {
    lcm = std::lcm(lcm, static_cast<int64_t>(c.freqDivisor));
    if (lcm > (int64_t{1} << 24)) VEXA_THROW(Error::InvalidParameter);
  }
  RecordPlan plan;
  const bool whole = f == std::floor(f) && static_cast<int64_t>(f) % lcm == 0;
  // Whole rates: one-second records, or round fractions of a second when
  // one second of every channel is too large for a record.
  if (whole && tryDuration(f, f, channels, plan)) return plan;
  if (whole) {
    for (double part : {0.5, 0.25, 0.2, 0.1, 0.05, 0.04, 0.025, 0.02, 0.01, 0.005, 0.004, 0.0025, 0.002, 0.001}) {
      const double ticks = f * part;
      if (ticks == std::floor(ticks) && static_cast<int64_t>(ticks) % lcm == 0 &&
          tryDuration(ticks, f, channels, plan)) {
        return plan;
      }
    }
  }
  const int64_t first = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(0.1 * f / lcm)));
  for (int64_t k = first; k < first + 1000000 && recordBytes(k * lcm, channels) < kMaxRecordBytes; ++k) {
    if (tryDuration(static_cast<double>(k * lcm), f, channels, plan)) return plan;
  }
  // Too large at the shortest: the longest record below the bound.
  int64_t bytesPerStep = 0;  // a record's sample bytes per lcm ticks
  for (const RecordedChannel& c : channels) bytesPerStep += 3 * (lcm / c.freqDivisor);
  const int64_t longest = (kMaxRecordBytes - kAnnotationBytes - 1) / bytesPerStep;
  const int64_t start = std::min(first - 1, longest);
  for (int64_t k = start; k >= 1 && k > start - 1000000; --k) {
    if (tryDuration(static_cast<double>(k * lcm), f, channels, plan)) return plan;
  }
  VEXA_THROW(Error::InvalidParameter);
}

void digitalRange(int nBits, int32_t& min, int32_t& max) {
  if (nBits == 24) {
    min = -8388608;
    max = 8388607;
  } else {
    min = 0;
    max = static_cast<int32_t>((int64_t{1} << nBits) - 1);
  }
}

std::string channelLabel(const RecordedChannel& c) {
  return "Port " + std::to_string(c.port) + " Ch " + std::to_string(c.channel);
}

std::string channelTransducer(const RecordedChannel& c) {
  return channelLabel(c) + " divisor " + std::to_string(c.freqDivisor) + " bits " + std::to_string(c.nBits);
}

bool parseChannel(const std::string& label, const std::string& transducer, RecordedChannel& c) {
  char end;
  if (std::sscanf(transducer.c_str(), "Port %d Ch %d divisor %d bits %d%c", &c.port, &c.channel, &c.freqDivisor,
                  &c.nBits, &end) == 4) {
    return true;
  }
  return std::sscanf(label.c_str(), "Port %d Ch %d%c", &c.port, &c.channel, &end) == 2 &&
         std::sscanf(transducer.c_str(), "divisor %d bits %d%c", &c.freqDivisor, &c.nBits, &end) == 2;
}

std::string physicalText(double value) {
  if (!std::isfinite(value)) return {};
  // Fixed notation (readers do not all take exponents), as many decimals
  // as the 8 characters leave.
  for (int decimals = 7; decimals >= 0; --decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s(text);
    if (s.find('.') != std::string::npos) {
      s.erase(s.find_last_not_of('0') + 1);
      if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    if (s.size() <= kNumberWidth) return s;
  }
  return {};
}

std::string subfield(const std::string& text) {
  std::string out;
  for (unsigned char ch : text) out += (ch > ' ' && ch < 127) ? static_cast<char>(ch) : '_';
  return out.empty() ? "X" : out;
}

const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                               "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

std::string recordingField(const RecordingInfo& info) {
  const RecordingStart& s = info.start;
  char startdate[40];
  std::snprintf(startdate, sizeof startdate, "Startdate %02d-%s-%04d", s.day, kMonths[s.month - 1], s.year);
  std::string text = std::string(startdate) + " X X " + subfield(info.deviceType) + " " +
                     std::to_string(info.productId) + " " + subfield(info.firmware) + " " + subfield(info.path);
  return info.note.empty() ? text : text + " " + info.note;
}

}  // namespace record
}  // namespace Vexa
