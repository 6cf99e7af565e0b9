// What the recorder's writer thread hands a file format: consecutive ticks,
// filled gaps and annotations, in time order.
#ifndef VEXA_RECORD_SINK_H_
#define VEXA_RECORD_SINK_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "vexa/recorder.h"
#include "vexa/tick_time_fit.h"

namespace Vexa {
namespace record {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file for writing, or throws Error::InvalidParameter.
FilePtr createFile(const std::string& path);

// Moves to a byte of the file, counted from its start: a file may outgrow
// what std::fseek's long reaches.
bool seekTo(std::FILE* file, uint64_t offset);

// Who a note comes from; each kind has its own bound on the notes waiting.
enum class NoteKind { kSystem, kMarker, kInput };

// Notes accepted but not yet in the file, per kind: the recorder counts
// them in, the sink counts them out once they are written (or summarised).
struct NoteCounts {
  std::atomic<int64_t> waiting[3] = {};
  // What the markers waiting take in the file, at most (markerCost each).
  std::atomic<int64_t> markerBytes{0};
  std::atomic<int64_t>& operator[](NoteKind kind) { return waiting[static_cast<int>(kind)]; }
  // An upper bound of the bytes a marker's text takes in a record's notes
  // area: its onset, duration, separators and the slack for a new base.
  static int64_t markerCost(const std::string& text) { return static_cast<int64_t>(text.size()) + 24; }
};

// The acquisition's fitted clock and the wall clock's reading of the host's
// clock, paired once when the recording starts.
struct Clock {
  const TickTimeFit* fit = nullptr;
  double wallMinusHost = 0;  // seconds since the epoch minus hostTime()
  // NaN without a fit or before its first arrival.
  double hostTimeOf(int64_t tick) const;
  double wallTimeOf(int64_t tick) const { return hostTimeOf(tick) + wallMinusHost; }
};

class Sink {
 public:
  Sink(FilePtr file, std::string path, NoteCounts& notes)
      : file_(std::move(file)), path_(std::move(path)), notes_(notes) {}
  virtual ~Sink() = default;
  // Sets the tick of time zero; called once, before anything else.
  virtual void start(int64_t firstTick) {}
  // The next tick, one after the previous.
  virtual void instant(int64_t tick, const int32_t* samples) = 0;
  // count ticks from tick on that have no samples: lost or dropped.
  virtual void gap(int64_t tick, int64_t count) = 0;
  // A note at a tick, lasting durationTicks (0: an instant); text holds no
  // control characters. A summary of folded notes goes before the notes
  // still waiting for room.
  virtual void annotation(int64_t tick, int64_t durationTicks, const std::string& text,
                          NoteKind kind = NoteKind::kSystem, bool summary = false) = 0;
  // Before finish(): the note `before` at tick, wherever it is by now (in
  // the file or waiting), reads `after` instead, of the same length, so
  // that nothing else in the file moves. Left as it is when not found.
  virtual void restate(int64_t tick, const std::string& before, const std::string& after) = 0;
  // A time as the file's notes name it, in seconds ("12.5").
  virtual std::string secondsAt(int64_t tick) const = 0;
  // Pushes what is buffered to the file.
  virtual void flush() = 0;
  // Completes and closes the file.
  virtual void finish() = 0;
  // After a failed write: closes the file and cuts it back to its last
  // complete unit (data record, row), so that what it holds stays readable.
  // Never throws; a file that cannot be repaired is left as it is.
  void abandon() noexcept;
  uint64_t bytesWritten() const { return bytes_; }
  // The system's cause of the first failed write, empty before.
  const std::string& cause() const { return cause_; }

 protected:
  // Each throws NotifException with the system's cause when the file does
  // not take the bytes.
  void write(const void* data, size_t n);
  void write(const std::string& s) { write(s.data(), s.size()); }
  void flushFile();
  void closeFile();
  [[noreturn]] void fail();
  // One note of the kind is now in the file.
  void noted(NoteKind kind, const std::string& text) {
    --notes_[kind];
    if (kind == NoteKind::kMarker) notes_.markerBytes -= NoteCounts::markerCost(text);
  }

  // The length of the readable part of a file of `size` bytes whose writing
  // failed, and the header repair that goes with it (on the file reopened).
  virtual uint64_t completeLength(uint64_t size) const = 0;
  virtual void repairHeader(std::FILE* file, uint64_t length) const {}

  FilePtr file_;
  const std::string path_;

 private:
  NoteCounts& notes_;
  uint64_t bytes_ = 0;
  std::string cause_;
};

std::unique_ptr<Sink> makeBdfSink(FilePtr file, const std::string& path, const RecordingInfo& info,
                                  NoteCounts& notes, const Clock& clock);
std::unique_ptr<Sink> makeCsvSink(FilePtr file, const std::string& path, const RecordingInfo& info,
                                  NoteCounts& notes, const Clock& clock);

}  // namespace record
}  // namespace Vexa

#endif  // VEXA_RECORD_SINK_H_
