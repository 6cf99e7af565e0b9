// BDF+ (24-bit, continuous) writer: one signal per channel at its own rate
// and a "BDF Annotations" signal. Every data record is written and flushed
// as soon as it is complete, and the header's record count follows it, so a
// copy of the file taken at any moment between records is a valid file.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

#include "record/bdf_layout.h"
#include "record/sink.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace record {
namespace {

const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                               "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr long kRecordCountOffset = 236;

void field(std::string& out, const std::string& text, size_t width) {
  std::string f = text.substr(0, width);
  f.resize(width, ' ');
  out += f;
}

class BdfSink : public Sink {
 public:
  BdfSink(FilePtr file, const RecordingInfo& info)
      : Sink(std::move(file)), plan_(planRecords(info.baseFrequency, info.channels)),
        frequency_(info.baseFrequency) {
    const size_t n = info.channels.size();
    size_t offset = 0;
    for (size_t i = 0; i < n; ++i) {
      divisors_.push_back(info.channels[i].freqDivisor);
      offsets_.push_back(offset);
      offset += 3 * static_cast<size_t>(plan_.samplesPerRecord[i]);
    }
    annotationOffset_ = offset;
    record_.assign(offset + kAnnotationBytes, 0);
    last_.assign(n, 0);
    writeHeader(info);
  }

  void start(int64_t firstTick) override { t0_ = firstTick; }

  void instant(int64_t tick, const int32_t* samples) override {
    std::copy(samples, samples + last_.size(), last_.begin());
    put(samples);
  }

  void gap(int64_t tick, int64_t count) override {
    for (int64_t i = 0; i < count; ++i) put(last_.data());
  }

  void annotation(int64_t tick, int64_t durationTicks, const std::string& text) override {
    std::string tal = "+" + formatSeconds(unitsAt(tick));
    if (durationTicks > 0) tal += "\x15" + formatSeconds(unitsFor(durationTicks));
    tal += '\x14';
    // Control characters would break the list; long texts are cut on a
    // character boundary.
    std::string clean;
    for (unsigned char ch : text) clean += ch < ' ' ? ' ' : static_cast<char>(ch);
    if (clean.size() > kMaxAnnotationText) {
      size_t cut = kMaxAnnotationText;
      while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80) --cut;
      clean.resize(cut);
    }
    tal += clean + "\x14";
    tal += '\0';
    annotations_.push_back(std::move(tal));
  }

  void flush() override {}

  void finish() override {
    if (position_ > 0 || !annotations_.empty()) {
      annotation(t0_ + written_, 0, "Recording ends");
      while (position_ > 0 || !annotations_.empty()) put(last_.data());
    }
    writeCount();
    closeFile();
  }

 private:
  int64_t unitsFor(int64_t ticks) const {
    return static_cast<int64_t>(std::llround(static_cast<double>(ticks) * kUnitsPerSecond / frequency_));
  }
  int64_t unitsAt(int64_t tick) const { return unitsFor(tick - t0_); }

  void put(const int32_t* samples) {
    for (size_t i = 0; i < divisors_.size(); ++i) {
      if (position_ % divisors_[i] != 0) continue;
      const int32_t v = std::clamp<int32_t>(samples[i], -8388608, 8388607);
      uint8_t* p = &record_[offsets_[i] + 3 * static_cast<size_t>(position_ / divisors_[i])];
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v >> 16);
    }
    ++written_;
    if (++position_ == plan_.ticksPerRecord) writeRecord();
  }

  void writeRecord() {
    // The record's own time-keeping TAL, then as many waiting annotations
    // as fit; the rest go into the next records.
    uint8_t* area = &record_[annotationOffset_];
    std::memset(area, 0, kAnnotationBytes);
    std::string list = "+" + formatSeconds(records_ * plan_.durationUnits) + "\x14\x14";
    list += '\0';
    while (!annotations_.empty() && list.size() + annotations_.front().size() < kAnnotationBytes) {
      list += annotations_.front();
      annotations_.pop_front();
    }
    std::memcpy(area, list.data(), list.size());
    write(record_.data(), record_.size());
    ++records_;
    position_ = 0;
    writeCount();
  }

  void writeCount() {
    std::string count;
    field(count, std::to_string(records_), 8);
    if (std::fseek(file_.get(), kRecordCountOffset, SEEK_SET) != 0 ||
        std::fwrite(count.data(), 1, count.size(), file_.get()) != count.size() ||
        std::fseek(file_.get(), 0, SEEK_END) != 0 || std::fflush(file_.get()) != 0) {
      fail();
    }
  }

  void writeHeader(const RecordingInfo& info) {
    const RecordingStart& s = info.start;
    const size_t ns = info.channels.size() + 1;
    char date[32], time[32];
    std::snprintf(date, sizeof date, "%02d.%02d.%02d", s.day, s.month, s.year % 100);
    std::snprintf(time, sizeof time, "%02d.%02d.%02d", s.hour, s.minute, s.second);
    char startdate[40];
    std::snprintf(startdate, sizeof startdate, "Startdate %02d-%s-%04d", s.day, kMonths[s.month - 1], s.year);
    std::string h = "\xff" "BIOSEMI";
    field(h, "X X X X", 80);
    field(h, std::string(startdate) + " X X " + subfield(info.deviceType) + " " +
                 std::to_string(info.productId) + " " + subfield(info.firmware) + " " + subfield(info.path),
          80);
    field(h, date, 8);
    field(h, time, 8);
    field(h, std::to_string(256 * (ns + 1)), 8);
    field(h, "BDF+C", 44);
    field(h, "-1", 8);
    field(h, formatSeconds(plan_.durationUnits), 8);
    field(h, std::to_string(ns), 4);
    auto each = [&](auto text, size_t width) {
      for (const RecordedChannel& c : info.channels) field(h, text(&c), width);
      field(h, text(nullptr), width);
    };
    int32_t lo, hi;
    each([](const RecordedChannel* c) { return c ? channelLabel(*c) : "BDF Annotations"; }, 16);
    each([](const RecordedChannel* c) { return c ? channelTransducer(*c) : ""; }, 80);
    each([](const RecordedChannel*) { return ""; }, 8);
    for (int k = 0; k < 4; ++k) {  // physical then digital minimum and maximum
      each([&](const RecordedChannel* c) {
        c ? digitalRange(c->nBits, lo, hi) : digitalRange(24, lo, hi);
        if (!c && k < 2) return std::string(k == 0 ? "-1" : "1");
        return std::to_string(k % 2 == 0 ? lo : hi);
      }, 8);
    }
    each([](const RecordedChannel*) { return ""; }, 80);
    size_t i = 0;
    each([&](const RecordedChannel* c) {
      return std::to_string(c ? plan_.samplesPerRecord[i++] : kAnnotationBytes / 3);
    }, 8);
    each([](const RecordedChannel*) { return ""; }, 32);
    write(h.data(), h.size());
    flushFile();
  }

  RecordPlan plan_;
  double frequency_;
  std::vector<int32_t> divisors_;
  std::vector<size_t> offsets_;
  size_t annotationOffset_ = 0;
  std::vector<uint8_t> record_;
  std::vector<int32_t> last_;
  std::deque<std::string> annotations_;
  int64_t t0_ = 0;
  int64_t written_ = 0;   // ticks put into records so far
  int64_t position_ = 0;  // tick within the current record
  int64_t records_ = 0;
};

}  // namespace

std::unique_ptr<Sink> makeBdfSink(FilePtr file, const RecordingInfo& info) {
  return std::make_unique<BdfSink>(std::move(file), info);
}

}  // namespace record
}  // namespace Vexa
