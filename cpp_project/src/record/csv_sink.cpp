// CSV writer (RFC 4180): one header row of column names, then one row per
// tick: the tick, its time in seconds (tick / rate), with a clock its
// fitted host time in seconds (host_time, empty until the fit has an
// arrival), every channel's sample
// and the notes at that tick, joined by " | ". Ticks without samples (lost
// or dropped) keep their rows with empty sample fields, so the tick column
// stays complete. Lines end in CRLF; fields are quoted where they need it.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "io/utf8_path.h"
#include "record/bdf_layout.h"
#include "record/sink.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace record {
namespace {

// A field as RFC 4180 wants it: quoted, with doubled quotes, when it holds
// a comma, a quote or a line break.
std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char ch : text) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

struct RowNote {
  int64_t tick;
  std::string text;
};

class CsvSink : public Sink {
 public:
  CsvSink(FilePtr file, const std::string& path, const RecordingInfo& info, NoteCounts& notes, const Clock& clock)
      : Sink(std::move(file), path, notes), channels_(info.channels.size()), frequency_(info.baseFrequency),
        clock_(clock) {
    std::string names = clock_.fit ? "tick,seconds,host_time" : "tick,seconds";
    for (size_t i = 0; i < channels_; ++i) {
      const ChannelDescription d = info.descriptions.empty() ? ChannelDescription() : info.descriptions[i];
      std::string name = d.label.empty() ? channelLabel(info.channels[i]) : d.label;
      if (!d.unit.empty()) name += " [" + d.unit + "]";
      names += "," + csvField(name);
    }
    write(names + ",marker\r\n");
    row_.resize(12 * channels_ + 160);  // the tick, the times and every sample
  }

  void instant(int64_t tick, const int32_t* samples) override {
    char* p = beginRow(tick);
    char* end = row_.data() + row_.size();
    for (size_t i = 0; i < channels_; ++i) {
      *p++ = ',';
      p = std::to_chars(p, end, samples[i]).ptr;
    }
    rowLength_ = static_cast<size_t>(p - row_.data());
  }

  void gap(int64_t tick, int64_t count) override {
    for (int64_t t = tick; t < tick + count; ++t) {
      char* p = beginRow(t);
      std::fill(p, p + channels_, ',');
      rowLength_ = static_cast<size_t>(p - row_.data()) + channels_;
    }
  }

  void annotation(int64_t tick, int64_t durationTicks, const std::string& text, NoteKind kind,
                  bool) override {
    // A note joins its tick's row while that row is open; one for a tick
    // whose row is past (a marker placed by an earlier host time) joins the
    // open row and names its own tick.
    if (pending_ && tick <= tick_) {
      marker_ += (marker_.empty() ? "" : " | ") + text;
      if (tick < tick_) marker_ += " (tick " + std::to_string(tick) + ")";
    } else {
      ahead_.push_back({tick, text});
    }
    noted(kind);
  }

  std::string secondsAt(int64_t tick) const override {
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, static_cast<double>(tick) / frequency_,
                                           std::chars_format::fixed).ptr);
  }

  // The open row stays back: notes at its tick may still come.
  void flush() override { flushFile(); }

  void finish() override {
    endRow();
    if (!ahead_.empty()) {
      // Notes after the last row (a recording without instants) get rows
      // of their own.
      for (const RowNote& n : ahead_) write(std::to_string(n.tick) + "," + timesAt(n.tick) +
                                            std::string(channels_, ',') + "," + csvField(n.text) + "\r\n");
      ahead_.clear();
    }
    flushFile();
    closeFile();
  }

 protected:
  // Cut after the last complete line.
  uint64_t completeLength(uint64_t size) const override {
    FilePtr file{openFile(path_, "rb")};
    if (!file) return size;
    char chunk[4096];
    for (uint64_t end = size; end > 0;) {
      const uint64_t from = end > sizeof chunk ? end - sizeof chunk : 0;
      // Counted from the end: an offset from the start may not fit a long.
      if (std::fseek(file.get(), -static_cast<long>(size - from), SEEK_END) != 0) return size;
      const size_t n = std::fread(chunk, 1, static_cast<size_t>(end - from), file.get());
      if (n != end - from) return size;
      for (size_t i = n; i > 0; --i) {
        if (chunk[i - 1] == '\n') return from + i;
      }
      end = from;
    }
    return 0;
  }

 private:
  // Writes the open row, opens the next one and fills in its tick and
  // seconds; returns where its sample fields go.
  char* beginRow(int64_t tick) {
    endRow();
    pending_ = true;
    tick_ = tick;
    size_t kept = 0;
    for (RowNote& n : ahead_) {
      if (n.tick <= tick) {
        marker_ += (marker_.empty() ? "" : " | ") + n.text;
      } else {
        ahead_[kept++] = std::move(n);
      }
    }
    ahead_.resize(kept);
    char* p = row_.data();
    char* end = row_.data() + row_.size();
    p = std::to_chars(p, end, tick).ptr;
    *p++ = ',';
    const std::string seconds = timesAt(tick);
    return std::copy(seconds.begin(), seconds.end(), p);
  }

  // The seconds field, and the host_time one after it with a clock.
  std::string timesAt(int64_t tick) const {
    if (!clock_.fit) return secondsAt(tick);
    const double host = clock_.hostTimeOf(tick);
    char text[64] = "";
    if (std::isfinite(host)) std::snprintf(text, sizeof text, "%.6f", host);
    return secondsAt(tick) + "," + text;
  }

  void endRow() {
    if (!pending_) return;
    pending_ = false;
    write(row_.data(), rowLength_);
    write("," + csvField(marker_) + "\r\n");
    marker_.clear();
  }

  size_t channels_;
  double frequency_;
  const Clock clock_;
  std::vector<char> row_;
  size_t rowLength_ = 0;
  bool pending_ = false;  // row_ holds the open row of tick_
  int64_t tick_ = 0;
  std::string marker_;          // the open row's notes
  std::vector<RowNote> ahead_;  // notes for rows not yet open
};

}  // namespace

std::unique_ptr<Sink> makeCsvSink(FilePtr file, const std::string& path, const RecordingInfo& info,
                                  NoteCounts& notes, const Clock& clock) {
  return std::make_unique<CsvSink>(std::move(file), path, info, notes, clock);
}

}  // namespace record
}  // namespace Vexa
