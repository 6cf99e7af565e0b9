// BDF+ (24-bit, continuous) writer: one signal per channel at its own rate
// and a "BDF Annotations" signal. A complete data record is written and
// flushed once the tick after it comes (or at the end), and the header's
// record count follows it, so a copy of the file taken at any moment between
// records is a valid file. Holding the newest record back keeps it open to
// the notes of its own last tick: the record that ends the data is always
// written as the last one, with the room the markers accepted are sure of.
//
// The file holds exactly the ticks it was given, rounded up to whole
// records. Notes wait for room in the annotation areas of the records that
// follow; the last record's area summarises what never found room.
//
// With a clock, the file starts at the first instant's fitted time on the
// wall clock: the header holds its whole seconds, and every onset (the
// records' time-keeping ones first) counts from the header's time, so the
// first record's onset is the start's fraction of a second. The fit keeps
// learning for the whole recording (an early arrival lowers it at any
// time), so the start taken when the first record is written is only
// provisional: at the end the start is taken again from the fit and, when
// it moved, the header and every record's annotation area are written
// again on the new base, as the record count is. Holding records back
// until the fit settles would not spare that rewrite and would leave a file
// copied early without data. Every note is kept (as ticks, not text) for
// it, and each area keeps room for its onsets to grow on another base.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>
#include <deque>
#include <limits>
#include <vector>

#include "record/bdf_layout.h"
#include "record/sink.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace record {
namespace {

constexpr long kRecordCountOffset = 236;
// Room kept in the last record for the note that summarises the notes left,
// and kept free in every record before it: a margin, beyond the onsets'
// slack, for an area written again on another base.
constexpr size_t kSummaryRoom = 160;
constexpr size_t kReserve = 480;
// What a TAL's onset may grow by on another base: a fraction of a second
// where there was none (".1234567") and a carry into one more digit.
constexpr size_t kOnsetSlack = 9;

void field(std::string& out, const std::string& text, size_t width) {
  std::string f = text.substr(0, width);
  f.resize(width, ' ');
  out += f;
}

std::string countField(int64_t records) {
  std::string count;
  field(count, std::to_string(records), 8);
  return count;
}

// Formatted when it goes into a record, on the start's base of the time.
struct QueuedNote {
  int64_t tick;
  int64_t durationTicks;
  std::string text;
  NoteKind kind;
};

// A note in a record's annotation area, kept to write the area again.
struct PlacedNote {
  int64_t record;
  int64_t tick;
  int64_t durationTicks;
  std::string text;
};

// The local calendar time of a time_t; false when the system cannot tell
// or the year is outside what a BDF+ header holds.
bool localStart(std::time_t t, RecordingStart& out) {
  static std::mutex mutex;  // std::localtime shares one buffer
  std::lock_guard<std::mutex> lock(mutex);
  const std::tm* tm = std::localtime(&t);
  if (!tm || tm->tm_year + 1900 < 1985 || tm->tm_year + 1900 > 2084) return false;
  out = {tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, std::min(tm->tm_sec, 59)};
  return true;
}

class BdfSink : public Sink {
 public:
  BdfSink(FilePtr file, const std::string& path, const RecordingInfo& info, NoteCounts& notes, const Clock& clock)
      : Sink(std::move(file), path, notes), plan_(planRecords(info.baseFrequency, info.channels)),
        frequency_(info.baseFrequency), headerBytes_(256 * (info.channels.size() + 2)), info_(info),
        clock_(clock) {
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
    write(headerText());
    flushFile();
  }

  void start(int64_t firstTick) override { t0_ = firstTick; }

  void instant(int64_t tick, const int32_t* samples) override {
    std::copy(samples, samples + last_.size(), last_.begin());
    put(samples);
  }

  void gap(int64_t tick, int64_t count) override {
    for (int64_t i = 0; i < count; ++i) put(last_.data());
  }

  void annotation(int64_t tick, int64_t durationTicks, const std::string& text, NoteKind kind,
                  bool summary) override {
    QueuedNote note{tick, durationTicks, text, kind};
    summary ? queue_.push_front(std::move(note)) : queue_.push_back(std::move(note));
  }

  void restate(int64_t tick, const std::string& before, const std::string& after) override {
    for (QueuedNote& n : queue_) {
      if (n.tick == tick && n.text == before) {
        n.text = after;
        return;
      }
    }
    for (PlacedNote& n : placed_) {
      if (n.tick == tick && n.text == before) {
        n.text = after;
        restated_ = n.record;  // its area is written again
        return;
      }
    }
  }

  // Counted from the first instant, as readers show onsets, so that a text
  // written before the start settles stays true.
  std::string secondsAt(int64_t tick) const override { return formatSeconds(unitsFor(tick - t0_)); }

  void flush() override {}

  void finish() override {
    const bool moved = settleStart();
    if (position_ > 0 || (records_ == 0 && !queue_.empty())) {
      // The record held back or the one begun is the last: one begun is
      // completed with the last values (zeros when there were none), the
      // span marked as no data.
      final_ = true;
      end_ = t0_ + written_;
      padding_ = plan_.ticksPerRecord - position_;
      while (position_ < plan_.ticksPerRecord) put(last_.data());
      writeRecord();
    }
    if (moved) {
      rewriteAreas(0, records_);
    } else if (restated_ < records_) {
      rewriteAreas(restated_, restated_ + 1);
    }
    writeCount();
    closeFile();
  }

 protected:
  uint64_t completeLength(uint64_t size) const override {
    if (size < headerBytes_) return size;
    return headerBytes_ + (size - headerBytes_) / record_.size() * record_.size();
  }

  void repairHeader(std::FILE* file, uint64_t length) const override {
    if (length < headerBytes_) return;
    const std::string count = countField(static_cast<int64_t>((length - headerBytes_) / record_.size()));
    if (std::fseek(file, kRecordCountOffset, SEEK_SET) == 0) std::fwrite(count.data(), 1, count.size(), file);
  }

 private:
  int64_t unitsFor(int64_t ticks) const {
    // long double keeps every 100 ns unit of a recording of many hours.
    return static_cast<int64_t>(std::llround(static_cast<long double>(ticks) * kUnitsPerSecond / frequency_));
  }
  int64_t unitsAt(int64_t tick) const { return startUnits_ + unitsFor(tick - t0_); }

  // Takes the start from the clock's fit of the first tick as it stands:
  // the header's date and time its whole seconds, the onsets its fraction.
  // True when the start moved (the header is then written anew); false,
  // the start left as it was, while the fit cannot tell.
  bool settleStart() {
    const double wall = clock_.wallTimeOf(t0_);
    RecordingStart start;
    if (!std::isfinite(wall)) return false;
    const double whole = std::floor(wall);
    if (!localStart(static_cast<std::time_t>(whole), start)) return false;
    const int64_t units =
        std::min<int64_t>(static_cast<int64_t>(std::llround((wall - whole) * kUnitsPerSecond)), kUnitsPerSecond - 1);
    if (startSettled_ && whole == startWhole_ && units == startUnits_) return false;
    startSettled_ = true;
    startWhole_ = whole;
    startUnits_ = units;
    info_.start = start;
    const std::string h = headerText();
    if (!seekTo(file_.get(), 0) || std::fwrite(h.data(), 1, h.size(), file_.get()) != h.size() ||
        std::fseek(file_.get(), 0, SEEK_END) != 0) {
      fail();
    }
    writeCount();
    return true;
  }

  // Writes the annotation areas of the records from `first` to before `end`
  // again, on the start's base as it is now.
  void rewriteAreas(int64_t first, int64_t end) {
    const uint64_t recordBytes = record_.size();
    size_t cursor = 0;
    while (cursor < placed_.size() && placed_[cursor].record < first) ++cursor;
    for (int64_t r = first; r < end; ++r) {
      std::string list = listOf(r, cursor);
      // Covers what the area held before; the rest of it is zeros already.
      list.resize(std::max<size_t>(list.size(), listBytes_[static_cast<size_t>(r)]), '\0');
      listBytes_[static_cast<size_t>(r)] = static_cast<uint16_t>(list.size());
      const uint64_t at = headerBytes_ + static_cast<uint64_t>(r) * recordBytes + annotationOffset_;
      if (!seekTo(file_.get(), at) || std::fwrite(list.data(), 1, list.size(), file_.get()) != list.size()) fail();
    }
    if (std::fseek(file_.get(), 0, SEEK_END) != 0) fail();
  }

  // A record's annotation list: its time-keeping TAL, then the notes placed
  // in it from placed_[cursor] on; moves cursor past them.
  std::string listOf(int64_t record, size_t& cursor) const {
    std::string list = timeKeeping(record);
    for (; cursor < placed_.size() && placed_[cursor].record == record; ++cursor) {
      const PlacedNote& n = placed_[cursor];
      list += tal(n.tick, n.durationTicks, n.text);
    }
    return list;
  }

  std::string timeKeeping(int64_t record) const {
    std::string tal = "+" + formatSeconds(startUnits_ + record * plan_.durationUnits) + "\x14\x14";
    return tal + '\0';
  }

  // One TAL: "+onset[\x15duration]\x14text\x14\0". Long texts are cut on a
  // character boundary.
  std::string tal(int64_t tick, int64_t durationTicks, const std::string& text) const {
    std::string out = "+" + formatSeconds(unitsAt(tick));
    if (durationTicks > 0) out += "\x15" + formatSeconds(unitsFor(durationTicks));
    out += '\x14';
    size_t cut = text.size();
    if (cut > kMaxAnnotationText) {
      cut = kMaxAnnotationText;
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    }
    out.append(text, 0, cut);
    out += "\x14";
    out += '\0';
    return out;
  }

  void put(const int32_t* samples) {
    if (position_ == plan_.ticksPerRecord) writeRecord();  // the record held back
    for (size_t i = 0; i < divisors_.size(); ++i) {
      if (position_ % divisors_[i] != 0) continue;
      const int32_t v = std::clamp<int32_t>(samples[i], -8388608, 8388607);
      uint8_t* p = &record_[offsets_[i] + 3 * static_cast<size_t>(position_ / divisors_[i])];
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v >> 16);
    }
    ++written_;
    ++position_;
  }

  // Places the waiting notes that fit, in order, in the record whose list
  // takes `used` bytes so far, each counted with the room its onset may
  // need on another base. In the last record, the rest becomes one summary
  // note and the closing notes follow.
  void fillList(int64_t record, size_t used) {
    auto place = [&](int64_t tick, int64_t duration, std::string text) {
      used += tal(tick, duration, text).size() + kOnsetSlack;
      placed_.push_back({record, tick, duration, std::move(text)});
    };
    const size_t tail = padding_ > 0 ? 2 * kOnsetSlack + tal(end_, padding_, "BAD_padding").size() +
                                           tal(end_, 0, "Recording ends").size()
                                     : 0;
    const size_t room = kAnnotationBytes - 1 - (final_ ? tail + kSummaryRoom : kReserve);
    // When the last record cannot take every note, the host's markers
    // (which the recorder takes only while they fit it) go first; what has
    // no room left is summarised.
    if (final_) {
      size_t need = used;
      for (const QueuedNote& n : queue_) need += tal(n.tick, n.durationTicks, n.text).size() + kOnsetSlack;
      if (need > room) {
        std::stable_partition(queue_.begin(), queue_.end(),
                              [](const QueuedNote& n) { return n.kind == NoteKind::kMarker; });
      }
    }
    while (!queue_.empty()) {
      QueuedNote& n = queue_.front();
      if (used + tal(n.tick, n.durationTicks, n.text).size() + kOnsetSlack > room) break;
      noted(n.kind, n.text);
      place(n.tick, n.durationTicks, std::move(n.text));
      queue_.pop_front();
    }
    if (final_ && !queue_.empty()) {
      int64_t first = queue_.front().tick, last = first;
      for (const QueuedNote& n : queue_) {
        first = std::min(first, n.tick);
        last = std::max(last, n.tick);
        noted(n.kind, n.text);
      }
      place(first, last - first,
            std::to_string(queue_.size()) + " notes between " + secondsAt(first) + " and " + secondsAt(last) +
                " not written: no room left");
      queue_.clear();
    }
    if (padding_ > 0) {
      place(end_, padding_, "BAD_padding");
      place(end_, 0, "Recording ends");
    }
  }

  void writeRecord() {
    if (records_ == 0) settleStart();
    size_t cursor = placed_.size();
    fillList(records_, timeKeeping(records_).size() + kOnsetSlack);
    const std::string list = listOf(records_, cursor);
    uint8_t* area = &record_[annotationOffset_];
    std::memset(area, 0, kAnnotationBytes);
    std::memcpy(area, list.data(), list.size());
    write(record_.data(), record_.size());
    listBytes_.push_back(static_cast<uint16_t>(list.size()));
    ++records_;
    position_ = 0;
    writeCount();
  }

  void writeCount() {
    const std::string count = countField(records_);
    if (std::fseek(file_.get(), kRecordCountOffset, SEEK_SET) != 0 ||
        std::fwrite(count.data(), 1, count.size(), file_.get()) != count.size() ||
        std::fseek(file_.get(), 0, SEEK_END) != 0 || std::fflush(file_.get()) != 0) {
      fail();
    }
  }

  std::string headerText() const {
    const RecordingInfo& info = info_;
    const RecordingStart& s = info.start;
    const size_t ns = info.channels.size() + 1;
    char date[32], time[32];
    std::snprintf(date, sizeof date, "%02d.%02d.%02d", s.day, s.month, s.year % 100);
    std::snprintf(time, sizeof time, "%02d.%02d.%02d", s.hour, s.minute, s.second);
    std::string h = "\xff" "BIOSEMI";
    field(h, "X X X " + subfield(info.subject), 80);
    field(h, recordingField(info), 80);
    field(h, date, 8);
    field(h, time, 8);
    field(h, std::to_string(headerBytes_), 8);
    field(h, "BDF+C", 44);
    field(h, "-1", 8);
    field(h, formatSeconds(plan_.durationUnits), 8);
    field(h, std::to_string(ns), 4);
    // Per signal: the channels in order, then the annotation signal (c null).
    auto each = [&](auto text, size_t width) {
      for (size_t i = 0; i < info.channels.size(); ++i) {
        const ChannelDescription none;
        field(h, text(&info.channels[i], info.descriptions.empty() ? none : info.descriptions[i], i), width);
      }
      field(h, text(nullptr, ChannelDescription(), ns), width);
    };
    using D = const ChannelDescription&;
    each([](const RecordedChannel* c, D d, size_t) {
      return !c ? "BDF Annotations" : d.label.empty() ? channelLabel(*c) : d.label;
    }, 16);
    each([](const RecordedChannel* c, D, size_t) { return c ? channelTransducer(*c) : ""; }, 80);
    each([](const RecordedChannel*, D d, size_t) { return d.unit; }, 8);
    for (int k = 0; k < 4; ++k) {  // physical then digital minimum and maximum
      each([&](const RecordedChannel* c, D d, size_t) {
        if (!c && k < 2) return std::string(k == 0 ? "-1" : "1");
        if (c && k < 2 && (d.physicalMin != 0 || d.physicalMax != 0)) {
          return physicalText(k == 0 ? d.physicalMin : d.physicalMax);
        }
        int32_t lo, hi;
        digitalRange(c ? c->nBits : 24, lo, hi);
        return std::to_string(k % 2 == 0 ? lo : hi);
      }, 8);
    }
    each([](const RecordedChannel*, D, size_t) { return ""; }, 80);
    each([&](const RecordedChannel* c, D, size_t i) {
      return std::to_string(c ? plan_.samplesPerRecord[i] : kAnnotationBytes / 3);
    }, 8);
    each([](const RecordedChannel*, D, size_t) { return ""; }, 32);
    return h;
  }

  RecordPlan plan_;
  double frequency_;
  const uint64_t headerBytes_;
  std::vector<int32_t> divisors_;
  std::vector<size_t> offsets_;
  size_t annotationOffset_ = 0;
  std::vector<uint8_t> record_;
  std::vector<int32_t> last_;
  std::deque<QueuedNote> queue_;
  std::vector<PlacedNote> placed_;     // every note in the records, in record order
  std::vector<uint16_t> listBytes_;    // per record: the bytes its list took when last written
  bool final_ = false;   // the next record written is the last
  int64_t end_ = 0;      // the tick after the data, once final_
  int64_t padding_ = 0;  // ticks that complete the last record, once final_
  int64_t t0_ = 0;
  int64_t written_ = 0;   // ticks put into records so far
  int64_t position_ = 0;  // tick within the current record; a full one is held back
  int64_t records_ = 0;
  int64_t restated_ = std::numeric_limits<int64_t>::max();  // the written record whose note was restated
  RecordingInfo info_;
  const Clock clock_;
  bool startSettled_ = false;
  double startWhole_ = 0;   // the header's start, seconds since the epoch
  int64_t startUnits_ = 0;  // its fraction of a second: every onset's offset
};

}  // namespace

std::unique_ptr<Sink> makeBdfSink(FilePtr file, const std::string& path, const RecordingInfo& info,
                                  NoteCounts& notes, const Clock& clock) {
  return std::make_unique<BdfSink>(std::move(file), path, info, notes, clock);
}

}  // namespace record
}  // namespace Vexa
