// CSV writer: a comment block describing the recording, a line of column
// names, one row per tick (the tick, then the samples) and every event as a
// comment line at its tick. Ticks without samples (lost or dropped) get rows
// with empty sample fields, so the tick column stays complete.
#include <charconv>
#include <vector>

#include "record/sink.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace record {
namespace {

class CsvSink : public Sink {
 public:
  CsvSink(FilePtr file, const RecordingInfo& info) : Sink(std::move(file)), channels_(info.channels.size()) {
    const RecordingStart& s = info.start;
    char start[64], frequency[64];
    std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d:%02d", s.year, s.month, s.day, s.hour, s.minute,
                  s.second);
    std::snprintf(frequency, sizeof frequency, "%.9g", info.baseFrequency);
    std::string h = "# Vexa recording\n# device type: " + oneLine(info.deviceType) +
                    "\n# product identifier: " + std::to_string(info.productId) +
                    "\n# firmware: " + oneLine(info.firmware) + "\n# path: " + oneLine(info.path) +
                    "\n# start: " + start + "\n# base frequency: " + frequency + " Hz\n";
    std::string names = "tick";
    for (const RecordedChannel& c : info.channels) {
      h += "# channel port " + std::to_string(c.port) + " ch " + std::to_string(c.channel) + ": freqDivisor " +
           std::to_string(c.freqDivisor) + ", nBits " + std::to_string(c.nBits) + "\n";
      names += ",port " + std::to_string(c.port) + " ch " + std::to_string(c.channel);
    }
    write(h + names + "\n");
    row_.resize(24 * (channels_ + 1) + 2);
  }

  void instant(int64_t tick, const int32_t* samples) override {
    char* p = row_.data();
    char* end = row_.data() + row_.size();
    p = std::to_chars(p, end, tick).ptr;
    for (size_t i = 0; i < channels_; ++i) {
      *p++ = ',';
      p = std::to_chars(p, end, samples[i]).ptr;
    }
    *p++ = '\n';
    write(row_.data(), static_cast<size_t>(p - row_.data()));
  }

  void gap(int64_t tick, int64_t count) override {
    const std::string commas(channels_, ',');
    for (int64_t t = tick; t < tick + count; ++t) write(std::to_string(t) + commas + "\n");
  }

  void annotation(int64_t tick, int64_t durationTicks, const std::string& text) override {
    std::string line = "# tick " + std::to_string(tick);
    if (durationTicks > 0) line += " for " + std::to_string(durationTicks) + " ticks";
    write(line + ": " + oneLine(text) + "\n");
  }

  void flush() override { flushFile(); }

  void finish() override {
    flushFile();
    closeFile();
  }

 private:
  static std::string oneLine(const std::string& text) {
    std::string out;
    for (unsigned char ch : text) out += ch < ' ' ? ' ' : static_cast<char>(ch);
    return out;
  }

  size_t channels_;
  std::vector<char> row_;
};

}  // namespace

std::unique_ptr<Sink> makeCsvSink(FilePtr file, const RecordingInfo& info) {
  return std::make_unique<CsvSink>(std::move(file), info);
}

}  // namespace record
}  // namespace Vexa
