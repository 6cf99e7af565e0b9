// CSV writer (RFC 4180): one header row of column names, then one row per
// tick: the tick, its time in seconds (tick / rate), with a clock its
// fitted host time in seconds (host_time, empty until the fit has an
// arrival), every channel's sample and the notes at that tick, joined by
// " | ". Ticks without samples (lost or dropped) keep their rows with empty
// sample fields, so the tick column stays complete. Lines end in CRLF;
// fields are quoted where they need it.
//
// Rows are held back for a second of ticks (fewer when a second of rows
// would take more than kMaxHeldBytes) before they are written, so that a
// note for an instant up to that old (a marker placed by an earlier host
// time) still joins its own row. A note for a row already written joins
// the newest row and names its own tick: "(tick N)". close() writes every
// row held; a failed write loses them with the rest of the file's end. A
// note can be restated in as many characters while its row is held, or in
// the file in the first row written with notes (the first host-time note).
#include <algorithm>
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

// Where a whole note starts among a row's notes joined by " | ".
size_t findNote(const std::string& notes, const std::string& note) {
  for (size_t at = notes.find(note); at != std::string::npos; at = notes.find(note, at + 1)) {
    const size_t end = at + note.size();
    if ((at == 0 || (at >= 3 && notes.compare(at - 3, 3, " | ") == 0)) &&
        (end == notes.size() || notes.compare(end, 3, " | ") == 0)) {
      return at;
    }
  }
  return std::string::npos;
}

struct RowNote {
  int64_t tick;
  std::string text;
};

// Bounds the memory of the rows held back.
constexpr size_t kMaxHeldBytes = 16 << 20;

struct HeldRow {
  int64_t tick = 0;
  std::string fields;  // the tick, the times and the samples
  std::string notes;
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
    const size_t rowBytes = 12 * channels_ + 64;  // the tick, the times and every sample at their longest
    holdRows_ = static_cast<size_t>(std::clamp<double>(std::round(frequency_), 1, kMaxHeldBytes / rowBytes));
    samples_.resize(12 * channels_ + 1);
  }

  void instant(int64_t tick, const int32_t* samples) override {
    HeldRow& row = beginRow(tick);
    char* p = samples_.data();
    char* end = samples_.data() + samples_.size();
    for (size_t i = 0; i < channels_; ++i) {
      *p++ = ',';
      p = std::to_chars(p, end, samples[i]).ptr;
    }
    row.fields.append(samples_.data(), p);
  }

  void gap(int64_t tick, int64_t count) override {
    for (int64_t t = tick; t < tick + count; ++t) beginRow(t).fields.append(channels_, ',');
  }

  void annotation(int64_t tick, int64_t durationTicks, const std::string& text, NoteKind kind,
                  bool) override {
    // A note joins its tick's row while that row is held; one for a row
    // already written joins the newest row and names its own tick.
    if (count_ > 0 && tick <= newest().tick) {
      const int64_t oldest = row(0).tick;
      std::string& notes = (tick >= oldest ? row(static_cast<size_t>(tick - oldest)) : newest()).notes;
      notes += (notes.empty() ? "" : " | ") + text;
      if (tick < oldest) notes += " (tick " + std::to_string(tick) + ")";
    } else {
      ahead_.push_back({tick, text});
    }
    noted(kind, text);
  }

  void restate(int64_t tick, const std::string& before, const std::string& after) override {
    std::string* notes = nullptr;
    if (count_ > 0 && tick >= row(0).tick && tick <= newest().tick) {
      notes = &row(static_cast<size_t>(tick - row(0).tick)).notes;
    } else if (firstNoted_.offset > 0 && tick == firstNoted_.tick) {
      notes = &firstNoted_.notes;
    }
    const size_t at = notes ? findNote(*notes, before) : std::string::npos;
    if (at == std::string::npos) return;
    notes->replace(at, before.size(), after);
    if (notes != &firstNoted_.notes) return;
    // Written already: the field as it went to the file, quoted where it
    // needed it, is written again over itself.
    const std::string field = csvField(*notes);
    if (!seekTo(file_.get(), firstNoted_.offset) ||
        std::fwrite(field.data(), 1, field.size(), file_.get()) != field.size() ||
        std::fseek(file_.get(), 0, SEEK_END) != 0) {
      fail();
    }
  }

  std::string secondsAt(int64_t tick) const override {
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, static_cast<double>(tick) / frequency_,
                                           std::chars_format::fixed).ptr);
  }

  // The rows held stay back: notes for them may still come.
  void flush() override { flushFile(); }

  void finish() override {
    while (count_ > 0) writeOldest();
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
  HeldRow& row(size_t i) { return held_[(oldest_ + i) % held_.size()]; }
  HeldRow& newest() { return row(count_ - 1); }

  // Holds a new row, writing the oldest one when the hold is full, and
  // fills in its tick, its times and the notes that waited for it; its
  // sample fields follow.
  HeldRow& beginRow(int64_t tick) {
    if (count_ == holdRows_) writeOldest();
    // The ring grows to its size before it first wraps (oldest_ is 0 until then).
    if (count_ == held_.size()) held_.emplace_back();
    ++count_;
    HeldRow& r = newest();
    r.tick = tick;
    r.notes.clear();
    size_t kept = 0;
    for (RowNote& n : ahead_) {
      if (n.tick <= tick) {
        r.notes += (r.notes.empty() ? "" : " | ") + n.text;
      } else {
        ahead_[kept++] = std::move(n);
      }
    }
    ahead_.resize(kept);
    char text[24];
    r.fields.assign(text, std::to_chars(text, text + sizeof text, tick).ptr);
    r.fields += ',';
    r.fields += timesAt(tick);
    return r;
  }

  void writeOldest() {
    HeldRow& r = row(0);
    write(r.fields);
    if (firstNoted_.offset == 0 && !r.notes.empty()) firstNoted_ = {r.tick, bytesWritten() + 1, r.notes};
    write("," + csvField(r.notes) + "\r\n");
    oldest_ = (oldest_ + 1) % held_.size();
    --count_;
  }

  // The seconds field, and the host_time one after it with a clock.
  std::string timesAt(int64_t tick) const {
    if (!clock_.fit) return secondsAt(tick);
    const double host = clock_.hostTimeOf(tick);
    char text[64] = "";
    if (std::isfinite(host)) std::snprintf(text, sizeof text, "%.6f", host);
    return secondsAt(tick) + "," + text;
  }

  size_t channels_;
  double frequency_;
  const Clock clock_;
  std::vector<char> samples_;  // one row's sample fields as text
  size_t holdRows_ = 1;
  std::vector<HeldRow> held_;  // a ring of rows not yet written, by tick
  size_t oldest_ = 0, count_ = 0;
  std::vector<RowNote> ahead_;  // notes for rows not yet begun
  // The first row written with notes, and where its notes field starts in
  // the file (0: none yet), so that a note there can still be restated.
  struct {
    int64_t tick = 0;
    uint64_t offset = 0;
    std::string notes;
  } firstNoted_;
};

}  // namespace

std::unique_ptr<Sink> makeCsvSink(FilePtr file, const std::string& path, const RecordingInfo& info,
                                  NoteCounts& notes, const Clock& clock) {
  return std::make_unique<CsvSink>(std::move(file), path, info, notes, clock);
}

}  // namespace record
}  // namespace Vexa
