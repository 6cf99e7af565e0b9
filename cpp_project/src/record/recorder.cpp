// The recorder: the loop thread copies instants into a ring, a writer
// thread of the recorder's own drains it into the file's format, filling
// the ticks that are missing so that time in the file stays true.
#include "vexa/recorder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "record/bdf_layout.h"
#include "record/instant_ring.h"
#include "record/sink.h"
#include "vexa/exceptions.h"
#include "vexa/host_clock.h"
#include "vexa/tick_time_fit.h"

namespace Vexa {

namespace {

constexpr int64_t kNoTick = std::numeric_limits<int64_t>::min();
constexpr int64_t kMaxJump = int64_t{1} << 20;
constexpr const char* kWhere = "Vexa::Recorder::Recorder";

RecordingFormat formatOf(const std::string& path) {
  std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".bdf") return RecordingFormat::kBdf;
  if (ext == ".csv") return RecordingFormat::kCsv;
  VEXA_THROW_AT(Error::InvalidParameter, kWhere);
}

[[noreturn]] void refuse(const std::string& detail) {
  throw withDetail(Error::InvalidParameter(formatLocation(__FILE__, __LINE__, kWhere)), detail);
}

// Printable ASCII only, and at most width characters where a BDF+ header
// field has to hold it.
void checkText(const std::string& what, const std::string& text, size_t width, bool bdf) {
  for (unsigned char ch : text) {
    if (ch < ' ' || ch > '~') refuse(what + " holds a character that is not printable ASCII");
  }
  if (bdf && text.size() > width) {
    refuse(what + " has " + std::to_string(text.size()) + " characters; a BDF+ file holds " +
           std::to_string(width));
  }
}

void validateDescriptions(const RecordingInfo& info, bool bdf) {
  if (!info.descriptions.empty() && info.descriptions.size() != info.channels.size()) {
    refuse(std::to_string(info.descriptions.size()) + " channel descriptions for " +
           std::to_string(info.channels.size()) + " channels");
  }
  for (size_t i = 0; i < info.descriptions.size(); ++i) {
    const ChannelDescription& d = info.descriptions[i];
    const std::string channel = "channel " + std::to_string(i);
    checkText(channel + " label", d.label, record::kLabelWidth, bdf);
    checkText(channel + " unit", d.unit, record::kUnitWidth, bdf);
    if (d.physicalMin == 0 && d.physicalMax == 0) continue;
    for (double end : {d.physicalMin, d.physicalMax}) {
      if (!std::isfinite(end) || (bdf && record::physicalText(end).empty())) {
        refuse(channel + " physical range: " + std::to_string(end) + " does not fit 8 characters");
      }
    }
    if (bdf ? record::physicalText(d.physicalMin) == record::physicalText(d.physicalMax)
            : d.physicalMin == d.physicalMax) {
      refuse(channel + " physical range: both ends are " + std::to_string(d.physicalMin));
    }
  }
  checkText("subject", info.subject, record::kIdentificationWidth - 6, bdf);  // after "X X X "
  checkText("note", info.note, record::kIdentificationWidth, bdf);
  const size_t used = record::recordingField(info).size();
  if (bdf && !info.note.empty() && used > record::kIdentificationWidth) {
    // The device's own subfields come first; the note takes what is left.
    const int64_t room = static_cast<int64_t>(record::kIdentificationWidth + info.note.size()) -
                         static_cast<int64_t>(used);
    refuse("note has " + std::to_string(info.note.size()) + " characters; this recording's header has room for " +
           std::to_string(std::max<int64_t>(room, 0)));
  }
}

void validate(const RecordingInfo& info, RecordingFormat format) {
  const RecordingStart& s = info.start;
  bool ok = std::isfinite(info.baseFrequency) && info.baseFrequency > 0 && info.baseFrequency <= 1e7 &&
            !info.channels.empty() && info.channels.size() <= 512 && s.year >= 1985 && s.year <= 2084 &&
            s.month >= 1 && s.month <= 12 && s.day >= 1 && s.day <= 31 && s.hour >= 0 && s.hour <= 23 &&
            s.minute >= 0 && s.minute <= 59 && s.second >= 0 && s.second <= 59;
  for (const RecordedChannel& c : info.channels) {
    ok = ok && c.freqDivisor >= 1 && ((c.nBits >= 1 && c.nBits <= 16) || c.nBits == 24);
  }
  if (!ok) VEXA_THROW_AT(Error::InvalidParameter, kWhere);
  validateDescriptions(info, format == RecordingFormat::kBdf);
}

// Notes waiting for the file, per kind, before markers are refused and
// digital-input changes (or the recorder's own notes of gaps) are folded
// into summaries.
constexpr int64_t kMaxWaitingMarkers = 1000;
constexpr int64_t kMaxWaitingInputs = 256;
constexpr int64_t kMaxWaitingGapNotes = 256;
// The bytes of a BDF+ record's notes area that markers waiting may take:
// what the last record has room for beside the recorder's own notes.
constexpr int64_t kBdfMarkerBytes = 1100;

struct PendingNote {
  int64_t tick;  // the current instant when it was added, kNoTick before any
  std::string text;
  record::NoteKind kind;
  int64_t from;  // where a summary's span starts; tick otherwise
  bool summary = false;
  double hostTime = std::numeric_limits<double>::quiet_NaN();  // finite: tick is still to be found
};

// Inserts a note among notes in tick order, after those at the same tick.
template <typename Notes>
void insertInOrder(Notes& notes, PendingNote note) {
  auto at = std::upper_bound(notes.begin(), notes.end(), note.tick,
                             [](int64_t t, const PendingNote& n) { return t < n.tick; });
  notes.insert(at, std::move(note));
}

// Pairs the wall clock with the host's: the reading of the system clock
// taken between two of hostTime() that lie closest together.
double wallMinusHost() {
  double best = std::numeric_limits<double>::infinity(), offset = 0;
  for (int i = 0; i < 5; ++i) {
    const double before = hostTime();
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    const double after = hostTime();
    if (after - before < best) {
      best = after - before;
      offset = std::chrono::duration<double>(wall).count() - (before + after) / 2;
    }
  }
  return offset;
}

constexpr double kHostNoteSeconds = 10;

// "host time S" in exactly `width` characters (S with as many decimals as
// that leaves, at most 9), or "" when no precision gives that width.
std::string hostTimeText(double host, size_t width) {
  char text[64];
  for (int decimals = 6, tries = 0; tries < 3 && decimals >= 0 && decimals <= 9; ++tries) {
    const int n = std::snprintf(text, sizeof text, "host time %.*f", decimals, host);
    if (n < 0 || static_cast<size_t>(n) >= sizeof text) return "";
    if (static_cast<size_t>(n) == width) return text;
    decimals += static_cast<int>(width) - n;  // one more digit before the point takes one after it
  }
  return "";
}

// Notes folded into one: how many, and the span they cover.
struct Fold {
  uint64_t count = 0, parts = 0;
  int64_t first = 0, last = 0;
  void add(int64_t from, int64_t to, uint64_t n = 1) {
    if (parts++ == 0) first = from;
    last = to;
    count += n;
  }
};

}  // namespace

RecordingStart RecordingStart::now() {
  static std::mutex mutex;  // std::localtime shares one buffer
  std::lock_guard<std::mutex> lock(mutex);
  const std::time_t t = std::time(nullptr);
  const std::tm* tm = std::localtime(&t);
  if (!tm) return {2000, 1, 1, 0, 0, 0};
  return {tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, std::min(tm->tm_sec, 59)};
}

class Recorder::Impl {
 public:
  Impl(const std::string& path, RecordingFormat format, const RecordingInfo& info, const RecorderOptions& options)
      : channels_(static_cast<int>(info.channels.size())),
        ring_(options.ringCapacity
                  ? options.ringCapacity
                  : std::max<size_t>(1024, static_cast<size_t>(std::ceil(10 * info.baseFrequency))),
              info.channels.size()),
        hostNoteTicks_(std::max<int64_t>(1, std::llround(kHostNoteSeconds * info.baseFrequency))) {
    if (format == RecordingFormat::kBdf) {
      record::planRecords(info.baseFrequency, info.channels);  // checks first
      markerBudget_ = kBdfMarkerBytes;
    }
    clock_.fit = options.clock;
    if (clock_.fit) clock_.wallMinusHost = wallMinusHost();
    record::FilePtr file = record::createFile(path);
    sink_ = format == RecordingFormat::kBdf ? record::makeBdfSink(std::move(file), path, info, notes_, clock_)
                                             : record::makeCsvSink(std::move(file), path, info, notes_, clock_);
    bytes_ = sink_->bytesWritten();
    writer_ = std::thread([this] { run(); });
  }

  ~Impl() {
    try {
      close();
    } catch (...) {
      // A destructor cannot report, whatever the writer met (the disk, or
      // memory); counters().writeFailed tells.
    }
  }

  void addInstant(int64_t tick, const int32_t* samples, int n) {
    if (n != channels_ || !samples) VEXA_THROW(Error::InvalidParameter);
    busy_.store(true);
    struct Idle {
      std::atomic<bool>& busy;
      ~Idle() { busy.store(false); }
    } idle{busy_};
    if (closing_.load() || failed_.load()) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    if (lastTick_ != kNoTick && (tick <= lastTick_ || tick - lastTick_ - 1 > kMaxJump)) {
      VEXA_THROW(Error::InvalidParameter);
    }
    if (lastTick_ != kNoTick && tick != lastTick_ + 1) {
      const int64_t skipped = tick - lastTick_ - 1;
      if (pending_.lost == 0) {
        pending_.jumpFrom = lastTick_;
        pending_.jumpTo = tick;
      }
      pending_.lost += skipped;
      lost_.fetch_add(static_cast<uint64_t>(skipped), std::memory_order_relaxed);
    }
    lastTick_ = tick;
    currentTick_.store(tick, std::memory_order_relaxed);
    pending_.tick = tick;
    if (ring_.push(pending_, samples)) {
      pending_ = {};
    } else {
      ++pending_.dropped;
      dropped_.fetch_add(1, std::memory_order_relaxed);
    }
  }

  // Queues a note at the current instant, or at `at` when given, or at the
  // instant nearest hostTime when that is finite; false when it is a marker
  // and the markers waiting have reached their bound or the recording is
  // closing.
  bool addNote(std::string text, record::NoteKind kind, int64_t at = kNoTick,
               double hostTime = std::numeric_limits<double>::quiet_NaN()) {
    for (char& ch : text) {
      if (static_cast<unsigned char>(ch) < ' ' || ch == 0x7F) ch = ' ';
    }
    std::lock_guard<std::mutex> lock(eventsMutex_);
    const int64_t tick = at != kNoTick ? at : currentTick_.load(std::memory_order_relaxed);
    if (kind == record::NoteKind::kMarker) {
      // A BDF+ record's notes area is small: markers are refused while those
      // waiting could not all be written, even by the last record.
      const int64_t cost = record::NoteCounts::markerCost(text);
      if (notes_[kind] >= kMaxWaitingMarkers || closing_.load() ||
          (markerBudget_ > 0 && notes_.markerBytes + cost > markerBudget_)) {
        return false;
      }
      notes_.markerBytes += cost;
    }
    if (kind == record::NoteKind::kInput && notes_[kind] >= kMaxWaitingInputs) {
      inputFold_.add(tick, tick);
      summarised_.fetch_add(1, std::memory_order_relaxed);
      return true;
    }
    ++notes_[kind];
    PendingNote note{tick, std::move(text), kind, tick};
    if (clock_.fit) note.hostTime = hostTime;
    events_.push_back(std::move(note));
    return true;
  }

  RecorderCounters counters() const {
    RecorderCounters c;
    c.instantsWritten = written_.load();
    c.lostTicks = lost_.load();
    c.droppedInstants = dropped_.load();
    c.bytesWritten = bytes_.load();
    c.writeFailed = failed_.load();
    c.notesSummarised = summarised_.load();
    return c;
  }

  std::string failure() const { return failed_.load() ? cause_ : std::string(); }

  void close() {
    if (closed_) return;
    closed_ = true;
    // From here on addInstant returns at once; wait for one in progress.
    closing_.store(true);
    while (busy_.load()) std::this_thread::yield();
    {
      std::lock_guard<std::mutex> lock(wakeMutex_);
      stop_ = true;
    }
    wake_.notify_one();
    writer_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void run() {
    for (;;) {
      bool stop;
      {
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stop_; });
        stop = stop_;
      }
      if (failed_) {
        while (ring_.available()) ring_.pop();
      } else {
        try {
          drain();
          if (stop) {
            finishTail();
            restateFirstHostTime();
            sink_->finish();
          } else {
            sink_->flush();
          }
          bytes_.store(sink_->bytesWritten());
        } catch (...) {
          fail();
        }
      }
      if (stop) return;
    }
  }

  // The file stops at once: it is cut back to what is complete and the
  // recording takes no more instants.
  void fail() {
    failure_ = std::current_exception();
    cause_ = sink_->cause();
    if (cause_.empty()) {
      try {
        throw;
      } catch (const std::exception& e) {
        cause_ = e.what();
      } catch (...) {
        cause_ = "unknown failure";
      }
    }
    sink_->abandon();
    failed_.store(true);
  }

  void drain() {
    size_t ready = ring_.available();
    // Notes stamped at the instants just seen were queued before them.
    {
      std::lock_guard<std::mutex> lock(eventsMutex_);
      takeEvents(false);
      if (last_ != kNoTick) takeInputFold(false);
    }
    for (; ready > 0; --ready) {
      const record::InstantMeta& m = ring_.frontMeta();
      if (last_ == kNoTick) {
        sink_->start(m.tick);
        last_ = m.tick - 1;
        first_ = nextHostNote_ = m.tick;
      }
      fillGap(m);
      writeNotes(m.tick - 1);
      sink_->instant(m.tick, ring_.frontSamples());
      ring_.pop();
      last_ = m.tick;
      if (clock_.fit && m.tick >= nextHostNote_) noteHostTime(m.tick);
      written_.fetch_add(1, std::memory_order_relaxed);
    }
    if (last_ != kNoTick) writeNotes(last_);
  }

  // Moves the notes added since into those waiting for their instant; one
  // placed by host time goes to the instant nearest it once the fit has an
  // arrival (at the end: the last instant without one). Called with
  // eventsMutex_ held.
  void takeEvents(bool atEnd) {
    size_t kept = 0;
    for (size_t i = 0; i < events_.size(); ++i) {
      PendingNote& e = events_[i];
      if (std::isfinite(e.hostTime)) {
        const double tick = clock_.fit->tickAt(e.hostTime);
        if (std::isfinite(tick)) {
          e.tick = e.from = static_cast<int64_t>(std::clamp<double>(std::round(tick), -9e18, 9e18));
        } else if (!atEnd) {
          if (kept != i) events_[kept] = std::move(e);  // not onto itself: that would empty the text
          ++kept;
          continue;
        } else {
          e.tick = e.from = last_;
        }
      }
      insertInOrder(waiting_, std::move(e));
    }
    events_.resize(kept);
  }

  // Every kHostNoteSeconds, the fitted host time of an instant, so that the
  // file can be aligned with other streams offline.
  void noteHostTime(int64_t tick) {
    const double host = clock_.hostTimeOf(tick);
    if (!std::isfinite(host)) return;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "host time %.6f", host);
    const std::string text = buffer;
    if (firstHostNote_.empty()) {
      firstHostNote_ = text;
      firstHostTick_ = tick;
    }
    ++notes_[record::NoteKind::kSystem];
    sink_->annotation(tick, 0, text);
    while (nextHostNote_ <= tick) nextHostNote_ += hostNoteTicks_;
  }

  // The first host-time note was written with the fit's early estimate: at
  // the end it takes the settled one, in as many characters, in its place.
  void restateFirstHostTime() {
    if (firstHostNote_.empty()) return;
    const std::string settled = hostTimeText(clock_.hostTimeOf(firstHostTick_), firstHostNote_.size());
    if (!settled.empty() && settled != firstHostNote_) sink_->restate(firstHostTick_, firstHostNote_, settled);
  }

  // Turns the folded digital-input changes into one note once there is
  // room for it (or at the end). Called with eventsMutex_ held.
  void takeInputFold(bool atEnd) {
    if (inputFold_.count == 0 || (!atEnd && notes_[record::NoteKind::kInput] >= kMaxWaitingInputs)) return;
    const int64_t from = std::max(inputFold_.first, first_), to = std::max(inputFold_.last, first_);
    PendingNote note{to,
                     std::to_string(inputFold_.count) + " digital-input changes between " + sink_->secondsAt(from) +
                         " and " + sink_->secondsAt(to),
                     record::NoteKind::kInput, from, true};
    ++notes_[record::NoteKind::kInput];
    inputFold_ = {};
    insertInOrder(waiting_, std::move(note));
  }

  void fillGap(const record::InstantMeta& m) {
    const int64_t missing = m.tick - last_ - 1;
    if (missing <= 0) return;
    writeNotes(last_);
    if (m.lost > 0) {
      noteGap(m.jumpFrom + 1, m.lost,
              "BAD_lost " + std::to_string(m.lost) + " ticks: sequence jumped from " + std::to_string(m.jumpFrom) +
                  " to " + std::to_string(m.jumpTo));
    }
    if (m.dropped > 0) {
      noteGap(last_ + 1, missing,
              "BAD_overflow " + std::to_string(m.dropped) + " instants dropped: the recorder fell behind");
    }
    sink_->gap(last_ + 1, missing);
  }

  // A filled span gets its note while the notes of gaps waiting stay
  // within their bound; beyond it, spans are folded into one note.
  void noteGap(int64_t from, int64_t count, const std::string& text) {
    const bool room = notes_[record::NoteKind::kSystem] < kMaxWaitingGapNotes;
    if (room) takeGapFold();
    if (!room) {
      gapFold_.add(from, from + count, static_cast<uint64_t>(count));
      return;
    }
    ++notes_[record::NoteKind::kSystem];
    sink_->annotation(from, count, text);
  }

  void takeGapFold() {
    if (gapFold_.parts == 0) return;
    ++notes_[record::NoteKind::kSystem];
    sink_->annotation(gapFold_.first, gapFold_.last - gapFold_.first,
                      "BAD_gaps " + std::to_string(gapFold_.count) + " ticks without data in " +
                          std::to_string(gapFold_.parts) + " gaps",
                      record::NoteKind::kSystem, true);
    gapFold_ = {};
  }

  // Instants the ring refused at the very end still count: their ticks are
  // filled and the overflow is noted.
  void finishTail() {
    if (last_ == kNoTick) {
      sink_->start(0);
      first_ = last_ = 0;
    }
    if (pending_.dropped > 0 && lastTick_ > last_) {
      pending_.tick = lastTick_ + 1;
      fillGap(pending_);
      last_ = lastTick_;
    }
    takeGapFold();
    {
      std::lock_guard<std::mutex> lock(eventsMutex_);
      takeEvents(true);
      takeInputFold(true);
    }
    writeNotes(std::numeric_limits<int64_t>::max());
  }

  void writeNotes(int64_t upTo) {
    size_t done = 0;
    for (; done < waiting_.size() && waiting_[done].tick <= upTo; ++done) {
      // Notes for instants the recording never reached go at its last one.
      const PendingNote& n = waiting_[done];
      const int64_t tick = std::clamp(n.tick, first_, std::max(last_, first_));
      const int64_t from = std::clamp(n.from, first_, tick);
      sink_->annotation(from, tick - from, n.text, n.kind, n.summary);
    }
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(done));
  }

  const int channels_;
  record::InstantRing ring_;
  record::Clock clock_;
  const int64_t hostNoteTicks_;
  int64_t nextHostNote_ = 0;  // writer thread
  std::string firstHostNote_;  // as written, to be restated at the end
  int64_t firstHostTick_ = 0;
  std::unique_ptr<record::Sink> sink_;

  // Producer side (the loop thread).
  int64_t lastTick_ = kNoTick;
  record::InstantMeta pending_{};
  std::atomic<int64_t> currentTick_{kNoTick};
  std::atomic<bool> busy_{false};
  std::atomic<bool> closing_{false};

  std::mutex eventsMutex_;
  std::vector<PendingNote> events_;
  Fold inputFold_;  // digital-input changes beyond the bound
  record::NoteCounts notes_;
  // 0: no bound but kMaxWaitingMarkers (CSV).
  int64_t markerBudget_ = 0;

  // Writer thread side.
  std::deque<PendingNote> waiting_;
  Fold gapFold_;  // filled spans beyond the bound of gap notes
  int64_t last_ = kNoTick;  // last tick handed to the sink
  int64_t first_ = 0;
  std::exception_ptr failure_;
  std::string cause_;  // set before failed_

  std::atomic<uint64_t> written_{0}, lost_{0}, dropped_{0}, bytes_{0}, summarised_{0};
  std::atomic<bool> failed_{false};

  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool closed_ = false;
  std::thread writer_;
};

Recorder::Recorder(const std::string& filePath, const RecordingInfo& info, size_t ringCapacity)
    : Recorder(filePath, formatOf(filePath), info, ringCapacity) {}

Recorder::Recorder(const std::string& filePath, RecordingFormat format, const RecordingInfo& info,
                   size_t ringCapacity)
    : Recorder(filePath, format, info, RecorderOptions{ringCapacity, nullptr}) {}

Recorder::Recorder(const std::string& filePath, const RecordingInfo& info, const RecorderOptions& options)
    : Recorder(filePath, formatOf(filePath), info, options) {}

Recorder::Recorder(const std::string& filePath, RecordingFormat format, const RecordingInfo& info,
                   const RecorderOptions& options) {
  validate(info, format);
  impl_ = std::make_unique<Impl>(filePath, format, info, options);
}

Recorder::~Recorder() = default;

void Recorder::addInstant(int64_t tick, const int32_t* samples, int n) { impl_->addInstant(tick, samples, n); }

void Recorder::addEvent(const Event& event) { addEvent(event, kNoTick); }

void Recorder::addEvent(const Event& event, int64_t tick) {
  if (event.type == Event::kDigitalInput) {
    const auto& e = static_cast<const Events::DigitalInput&>(event);
    impl_->addNote("Digital input " + std::to_string(e.input) + ": " + (e.state ? "1" : "0") +
                   " (clock source " + std::to_string(e.clockSource) + ", clock value " +
                   std::to_string(e.clockValue) + ")",
                   record::NoteKind::kInput, tick);
  } else if (event.type == Event::kDisconnect) {
    impl_->addNote("Disconnect (reason " + std::to_string(static_cast<const Events::Disconnect&>(event).reason) +
                   ")", record::NoteKind::kSystem, tick);
  }
}

bool Recorder::addMarker(const std::string& text) { return impl_->addNote("Marker: " + text, record::NoteKind::kMarker); }

bool Recorder::addMarkerAt(const std::string& text, double hostTime) {
  if (!std::isfinite(hostTime)) return false;
  return impl_->addNote("Marker: " + text, record::NoteKind::kMarker, kNoTick, hostTime);
}

RecorderCounters Recorder::counters() const { return impl_->counters(); }

std::string Recorder::failure() const { return impl_->failure(); }

void Recorder::close() { impl_->close(); }

}  // namespace Vexa
